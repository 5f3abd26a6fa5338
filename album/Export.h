#pragma once
// Copies of an album's songs in a chosen folder as tagged FLAC, MP3, Ogg Vorbis or Opus files,
// or as WAV files.

#include "album/Album.h"
#include "album/Loudness.h"
#include "engine/Declicker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class CExportFormat {
    Flac,
    Wav,
    Mp3,        // LAME VBR V0
    Mp3Cbr320,  // 320 kbit/s
    Ogg,        // Vorbis, quality 6
    Opus,       // 160 kbit/s, 48 kHz
};

// Where under the chosen folder the files go.
enum class CExportSubfolder {
    None,
    ArtistAlbum,      // "Artist/Album"
    ArtistDashAlbum,  // "Artist - Album"
};

struct CExportOptions {
    std::string strFolder;                // created when missing
    CExportFormat format = CExportFormat::Flac;
    CAlbumInfo info;                      // album, artist, year for the tags
    bool bOverwrite = false;  // replace files of the same names (never a song of a recording)
    // Shorten the quiet before the first song's sound and after the last song's to half a
    // second, on each side of a record of several sides. Quiet is what stays within a few dB of the noise floor measured in that
    // lead-in or lead-out itself, clicks left out: record hiss and crackle, or digital
    // silence; anything clearly above that floor is kept, however soft.
    bool bTrim = false;
    bool bReplayGain = true;     // measure the songs and the album, tag their gains and peaks
    std::string strCover;        // a JPEG or PNG to embed and to copy beside the songs
    CExportSubfolder subfolder = CExportSubfolder::None;
    // Repair clicks, pops and crackle in the exported files (each song on its own, each
    // channel on its own); the song files stay as they are. ReplayGain then measures the
    // repaired sound.
    bool bDeclick = false;
    CDeclickLevel declickLevel = CDeclickLevel::Normal;
};

// What an export did.
struct CExportReport {
    std::vector<std::string> files;  // full paths of the files written, in song order
    int64_t nClamped = 0;    // float samples beyond full scale, clamped to 24-bit full scale
    int64_t nTrimmedFrames = 0;  // frames left out by the trim option, every end
    int64_t nTrimmedLead = 0;    // of them before the first song's sound
    int64_t nTrimmedTrail = 0;   // and after the last song's
    // Per side (one entry for one recording): the frames trimmed before its first song's
    // sound and after its last song's.
    std::vector<int64_t> sideLeads, sideTrails;
    int32_t nLatin1Tags = 0;  // FLAC tags whose text was not UTF-8, converted as Latin-1
    bool bCancelled = false;
    std::string strError;    // empty on success; names the file that failed
    std::string strFolder;   // where the files went, the subfolder included
    bool bReplayGain = false;  // the gains below were measured and tagged
    CReplayGain gain;
    // With bDeclick: the clicks repaired in each file written, [i] for files[i] (stretches
    // of frames with a restored sample; a click on both channels at once counts once).
    std::vector<int64_t> clicks;
};

/**
 * Writes one file per song of an album layout into a folder, named "NN Title.flac" (or
 * .wav): NN the two-digit song number, Title the song's title with characters that file
 * systems refuse replaced ("01 Side A1.flac" for a song without a title). FLAC, MP3, Ogg and
 * Opus files carry TITLE, ARTIST, ALBUMARTIST, ALBUM, DATE, TRACKNUMBER and TRACKTOTAL in
 * their format's own tags, with ReplayGain track and album gains and peaks (measured on a
 * second thread while the songs are encoded; a file is tagged and gets its name once every
 * song is measured, so every file is complete when it gets its name) and the cover
 * as front picture when chosen; the cover is also copied beside them as cover.jpg or
 * cover.png. 8, 16 and 24-bit recordings keep their width and their exact samples in FLAC;
 * float recordings become 24-bit, samples beyond full scale clamped and counted. WAV copies
 * keep the recording's format and bytes.
 *
 * Runs on a thread of its own ("cadenzo-gain" beside it while it measures). It holds the
 * album folder's lock shared while it reads (an edit waits until it is done) and checks that every song file is the one the
 * layout was read from and that none is being recorded; otherwise it writes nothing. Each
 * file is written under a hidden temporary name, synced, and renamed to its final name
 * only when complete, so a cancel or a failure never leaves a half-written file under a
 * final name (files finished before stay); hidden parts an earlier, killed export of these
 * songs left are removed. A file that exists under a name the export gives is replaced
 * only with bOverwrite, and a song file of any recording in the folder (BASEn.wav beside
 * BASE1.wav) never is: the export then writes nothing.
 *
 * Start() and Wait() belong to the owning thread; Cancel() and the getters may be called
 * from any thread, the progress function included. fnProgress is called on the export's
 * thread about every percent and at the end; it must return quickly.
 */
class CExportJob
{
public:
    CExportJob();
    ~CExportJob();  // cancels and waits
    CExportJob(const CExportJob&) = delete;
    CExportJob& operator=(const CExportJob&) = delete;

    bool Start(const CAlbumLayout& layout, const CExportOptions& options,
               std::function<void()> fnProgress = {});
    void Cancel();
    void Wait();

    bool IsRunning() const;
    double GetProgress() const;  // 0.0 .. 1.0 over all songs
    CExportReport GetReport() const;  // complete once IsRunning() is false

    // The files an export of the layout with these options would write that exist already
    // (for asking before replacing them).
    static std::vector<std::string> ExistingFiles(const CAlbumLayout& layout,
                                                  const CExportOptions& options);

    // The file name a song gets: "NN Title.ext" with unsafe characters replaced.
    static std::string FileName(int32_t nNumber, const std::string& strTitle,
                                const std::string& strFallback, CExportFormat format);
    static const char* Extension(CExportFormat format);  // "flac", "mp3", ...
    // The folder the files go to: the chosen one, or its "Artist/Album" subfolder.
    static std::string TargetFolder(const CExportOptions& options);
    // What the trim left out, in seconds: "Trimmed 2.5 s before the first song and 1.0 s
    // after the last." for one recording, a line per side for a record of several.
    static std::string TrimText(const CExportReport& report, int32_t nRate);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
