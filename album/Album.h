#pragma once
// The song files of one recording (BASE1.wav ... BASEn.wav) as one continuous stream:
// its songs, cuts, titles and album data, and the edits that move, join and split songs.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The sample format shared by every song file of an album.
struct CAlbumFormat {
    int32_t nRate = 0;      // frames per second
    int32_t nChannels = 0;  // samples per frame
    int32_t nBits = 0;      // 8, 16, 24 or 32 (integer), 32 or 64 (float)
    bool bFloat = false;    // IEEE float samples
    int32_t BytesPerFrame() const { return nChannels * (nBits / 8); }
    bool operator==(const CAlbumFormat& o) const
    {
        return nRate == o.nRate && nChannels == o.nChannels && nBits == o.nBits &&
               bFloat == o.bFloat;
    }
    bool operator!=(const CAlbumFormat& o) const { return !(*this == o); }
};

// One song: one file.
struct CAlbumSong {
    std::string strPath;   // full path of the song file, "Music/Side A3.wav"
    int64_t nFrames = 0;   // length in frames
    std::string strTitle;  // from BASE.cue; empty when it has none
    // Set for the songs of a record of several sides (CRecord): the disc the song's side
    // belongs to (0: none set) and its place on the sleeve ("A1", "B3") when the record
    // names its files that way; empty otherwise.
    int32_t nDisc = 0;
    std::string strPlace;
};

// What BASE.cue says of the whole album. Every field may be empty.
struct CAlbumInfo {
    std::string strAlbum;   // the cue sheet's TITLE
    std::string strArtist;  // the cue sheet's PERFORMER
    std::string strYear;    // the cue sheet's REM DATE
};

// A copy of an album's state at one moment, for work done on another thread (overview,
// playback, export). It stays valid while the album is edited, but its files may then be
// renamed or rewritten: throw it away and take a new one after every edit.
struct CAlbumLayout {
    std::string strBasePath;         // "Music/Side A.wav"
    CAlbumFormat format;
    std::vector<CAlbumSong> songs;   // songs[i] is song i + 1
    CAlbumInfo info;
    // stamps[i]: song i + 1's file as it was read (AlbumFiles::Stamp); a reader refuses a
    // file whose stamp differs (another program changed it). Unchecked when missing.
    std::vector<std::string> stamps;
    // The take the songs are of (TakeMark); empty for recordings made without a mark.
    std::string strTake;
    // Files numbered after the last song that an earlier take under the same base name
    // left ("Music/Side A5.wav"): not songs of this album, never edited, exported or
    // deleted by it.
    std::vector<std::string> leftovers;
    int32_t nDiscs = 0;  // the discs a record's sides make; 0 when none is set
    // A record of several sides: the first song (1-based) of each side, in order; empty for
    // one recording.
    std::vector<int32_t> sideFirsts;
    int64_t TotalFrames() const;
    // First frame of song k (1-based) in the recording; TotalFrames() for k = count + 1.
    int64_t SongStart(int32_t k) const;
    // The song (1-based) holding frame nFrame; 0 when nFrame is outside the recording.
    int32_t SongAt(int64_t nFrame) const;
};

/**
 * The album of one base file. Songs and cuts are numbered from 1 as the files are: cut k
 * lies between song k and song k + 1, at frame SongStart(k + 1). Positions are whole
 * frames counted from the start of the recording (song 1's first frame is frame 0).
 *
 * Every edit is bit-exact: the samples of all song files, one after another, are the
 * same before and after it; only where the files begin and end changes, and later files
 * are renumbered. Each edit is atomic: the new files are written beside the old ones,
 * synced, and only then renamed into place, with BASE.cue rewritten in the same step; if
 * any step fails (disk full, folder removed, a file in use) every file is left as it was
 * and the edit returns false with a text that says what failed. An edit rewrites only the
 * songs whose start or end changes; the others are at most renamed.
 *
 * Edits are refused while a recording writes to the album: the recorder's WAV writer
 * holds an exclusive lock (flock) on the file it is writing, and an edit checks every song
 * file for it, from this process or any other. Each edit takes the folder's lock first
 * (see AlbumFiles::FolderLock) and only then checks that the song files are those it read
 * (an edit of another program in between refuses it: "open it again"); it reads them with
 * the same check and never replaces a file that appears meanwhile. A window that knows more (a recording to
 * this base that is between files) says so through SetRecordingCheck().
 *
 * Undo and Redo step through every edit since Open(). Titles and album data are not part
 * of that history (the window's text fields have their own), but they follow their songs
 * through edits: a join keeps song k's title (song k + 1's when song k has none), a split
 * gives the new second half an empty title, and undoing a join gives both songs their
 * titles back.
 *
 * Never throws. Every call that can fail returns false and sets GetErrorText(); texts name
 * the file they concern. Not thread-safe: one thread (the window thread, or the tool's
 * main thread) calls it; other threads work on a CAlbumLayout copy.
 */
class CAlbum
{
public:
    CAlbum();
    ~CAlbum();
    CAlbum(const CAlbum&) = delete;
    CAlbum& operator=(const CAlbum&) = delete;

    // Opens the songs of strBasePath ("Music/Side A.wav" opens "Music/Side A1.wav",
    // "Music/Side A2.wav", ... up to the first number missing) and reads BASE.cue when
    // there is one. Refuses (false) when there is no BASE1.wav, when a higher-numbered
    // file exists past a missing number, when a file cannot be read, or when the files'
    // formats differ, or when an edit of it was cut short and cannot be undone (the text
    // names the journal and its files). Reads under the folder's lock, after finishing or
    // undoing an edit that a crash cut short. bHoldLock keeps the folder locked for edits
    // until the album goes, so that no other program changes the songs between this read
    // and the edits that follow (a command-line edit); it waits while another program
    // edits or exports from the folder. Clears the undo history.
    bool Open(const std::string& strBasePath, bool bHoldLock = false);
    // Opens the songs a running recording to strBasePath has finished so far: exactly the
    // files given, in order, without titles (a new take has none yet). For looking only:
    // the recording check (SetRecordingCheck) refuses every edit while the recording runs.
    bool OpenRecorded(const std::string& strBasePath, const std::vector<std::string>& paths);
    bool IsOpen() const;

    const std::string& GetBasePath() const;
    const CAlbumFormat& GetFormat() const;
    int32_t GetSongCount() const;
    const std::vector<CAlbumSong>& GetSongs() const;  // [i] is song i + 1
    const CAlbumInfo& GetInfo() const;
    int64_t GetTotalFrames() const;
    int64_t GetSongStart(int32_t k) const;  // see CAlbumLayout::SongStart
    CAlbumLayout GetLayout() const;
    // Incremented by every change of files, titles or album data; lets a window see
    // whether a layout it holds is still current.
    uint64_t GetGeneration() const;

    // Moves cut k (1 <= k < count) to frame nFrame, which must lie strictly inside songs k
    // and k + 1 together (SongStart(k) < nFrame < SongStart(k + 2)). Rewrites songs k and
    // k + 1 only. Moving a cut to where it already is does nothing and succeeds.
    bool MoveCut(int32_t k, int64_t nFrame);
    // Joins song k and song k + 1 (1 <= k < count) into song k; later songs move down one.
    bool Join(int32_t k);
    // Splits song k at frame nFrame (SongStart(k) < nFrame < SongStart(k + 1)); the second
    // part becomes song k + 1 and later songs move up one.
    bool Split(int32_t k, int64_t nFrame);

    // Gives the album new songs at once, one edit for Undo: song i + 1 starts at starts[i]
    // (starts[0] is 0, each later one above the one before and below the end) with
    // titles[i]. Songs whose start and end stay are at most renamed.
    bool SetSongs(const std::vector<int64_t>& starts, const std::vector<std::string>& titles);

    bool CanUndo() const;
    bool CanRedo() const;
    bool Undo();  // false with a text when there is nothing to undo or the files cannot be
    bool Redo();  // changed; a failed undo or redo leaves the history where it was

    // Title of song k (1-based) and the album data, saved to BASE.cue at once.
    bool SetTitle(int32_t k, const std::string& strTitle);
    bool SetInfo(const CAlbumInfo& info);

    // The frame to which Snap would move a cut at nFrame: the middle of the quietest
    // stretch within fSeconds either side, kept inside [nLow, nHigh] when those are given
    // (>= 0). Quiet is judged against the recording's own noise floor round the cut (the
    // quietest level there, clicks left out): a stretch whose level stays within a few dB
    // of it is quiet, so hiss and crackle count as silence and a fade above them as
    // music. The longest such stretch wins, then the quieter, then the nearer; a cut is
    // never moved to a place louder than where it is. Returns nFrame itself when there is
    // no quiet stretch. Reads at most 4 * fSeconds of audio: fast enough for the window
    // thread.
    int64_t FindSnap(int64_t nFrame, double fSeconds = 3.0, int64_t nLow = -1,
                     int64_t nHigh = -1);

    // Called before every edit; returning true refuses the edit because a recording to
    // this album is running ("<base> is being recorded..."). Empty by default.
    void SetRecordingCheck(std::function<bool()> fnIsRecording);

    const std::string& GetErrorText() const;

    // Another file written in the same step as every edit and title change, so that it
    // always names the songs as they are (the record file of a record of several sides,
    // in this album's folder): fnText gets the layout as it will be after the change and
    // returns the file's path and its new text. Empty by default.
    void SetCompanion(std::function<std::pair<std::string, std::string>(const CAlbumLayout&)> fnText);
    // The owner holds the folder's lock for as long as the album lives (several albums of
    // one folder edited together): Open() and the edits then take no lock of their own.
    void SetOwnerHoldsLock(bool bHolds);

    // For tests: called before each step of an edit that touches the disk with the step's
    // description ("write Side A3.wav", "rename ...", "sync folder"); returning false makes
    // that step fail as if the system had refused it.
    void SetFaultHook(std::function<bool(const std::string& strStep)> fnStep);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

/**
 * Reads frames of an album layout as one stream, across file boundaries, for drawing a
 * zoomed waveform and for playback. Opens files as it needs them and keeps them open.
 * Not thread-safe: one object per thread; any number of objects may read the same album.
 */
class CAlbumReader
{
public:
    explicit CAlbumReader(const CAlbumLayout& layout);
    ~CAlbumReader();
    CAlbumReader(const CAlbumReader&) = delete;
    CAlbumReader& operator=(const CAlbumReader&) = delete;

    // Reads nCount frames from frame nFirst into pOut (nCount * channels floats,
    // interleaved, full scale +-1.0). Frames past the end are not read. Returns the frames
    // read; less than asked (and GetErrorText() set) when a file cannot be read.
    int64_t ReadFloat(int64_t nFirst, int64_t nCount, float* pOut);
    // The same as the file's own sample bytes (the album's format), for exact copies.
    int64_t ReadRaw(int64_t nFirst, int64_t nCount, void* pOut);

    const CAlbumLayout& GetLayout() const;
    const std::string& GetErrorText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
