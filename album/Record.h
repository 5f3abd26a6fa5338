#pragma once
// A record: the recordings of its sides (an LP's sides A and B, a double album's four)
// as one album, its songs numbered 1..N across the sides.

#include "album/Album.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

/**
 * The sides of a record, each the album of one recording (CAlbum), one after another.
 * Songs, cuts and frames are counted across the record as CAlbum counts them across one
 * recording: song 1 is the first song of the first side, frame 0 its first frame. Every
 * edit is an edit of one side and works as it does there; a cut never moves across the
 * end of a side and the last song of a side is never joined with the next side's first.
 *
 * The record file ("Music/Record.cue", in the folder of its sides) is a cue sheet that
 * other players read: every song file of every side in order, with TITLE and PERFORMER,
 * tracks numbered across the record; remarks of its own name the sides (base file and
 * disc), the cover and the vinyl numbering. A side's own BASE.cue stays as it is, with
 * that side's titles. The record file is written in the same step (the side's edit
 * transaction) as every edit and title of a side, and on its own when sides are added,
 * moved or removed or the record's data change. Removing a side never touches its files.
 *
 * Undo and Redo step through the edits of every side in the order they were made.
 * Never throws; texts as CAlbum's. Window thread (or the tool's main thread) only.
 */
class CRecord
{
public:
    CRecord();
    ~CRecord();
    CRecord(const CRecord&) = delete;
    CRecord& operator=(const CRecord&) = delete;

    // Opens a record file and the sides it names. bHoldLock as CAlbum::Open.
    bool Open(const std::string& strRecordPath, bool bHoldLock = false);
    // A record of the given recordings as its sides, in order. With strRecordPath the record
    // file is written (and rewritten with every change); without one nothing but the sides'
    // own files is ever written.
    bool OpenSides(const std::vector<std::string>& bases, const std::string& strRecordPath = {},
                   bool bHoldLock = false);
    // For looking at a running recording: one side, see CAlbum::OpenRecorded.
    bool OpenRecorded(const std::string& strBasePath, const std::vector<std::string>& paths);
    bool IsOpen() const;

    // The record file that names strBasePath as a side, in its folder; empty when none.
    static std::string FindFor(const std::string& strBasePath);
    // "Music/Side A.wav" -> "Music/Side A record.cue": where a record begun with that side
    // is kept.
    static std::string DefaultPath(const std::string& strFirstBase);
    // True when strPath is a record file (its first line says so).
    static bool IsRecordFile(const std::string& strPath);

    const std::string& GetPath() const;  // the record file; empty when there is none
    // Writes the record file under strPath from now on (a record of one side getting its
    // second); must be in the folder of the sides.
    bool SetPath(const std::string& strPath);

    // --- sides, counted from 0 ---
    int32_t GetSideCount() const;
    CAlbum& GetSide(int32_t nSide);
    static std::string SideName(int32_t nSide);  // "A", "B", ... "Z", "27", ...
    int32_t GetSideOf(int32_t nSong) const;       // the side of song nSong; -1 when none
    int32_t GetFirstSong(int32_t nSide) const;    // the record's number of the side's first song
    int64_t GetSideStart(int32_t nSide) const;    // its first frame in the record
    // Appends the recording of strBasePath as the last side. Refused when it is a side
    // already, lies in another folder, or has another sample format.
    bool AddSide(const std::string& strBasePath);
    bool RemoveSide(int32_t nSide);
    bool MoveSide(int32_t nSide, int32_t nTo);
    // The disc a side belongs to (sides 1-2 disc 1, 3-4 disc 2); 0: none. Exports tag
    // DISCNUMBER and DISCTOTAL when any side has one.
    int32_t GetDisc(int32_t nSide) const;
    bool SetDisc(int32_t nSide, int32_t nDisc);
    // Vinyl numbering: songs keep their place on the sleeve ("A1", "A2", "B1") as the
    // first part of their exported file names.
    bool GetVinyl() const;
    bool SetVinyl(bool bVinyl);
    const std::string& GetCover() const;  // a picture's path; empty when none
    bool SetCover(const std::string& strPath);

    // --- as CAlbum, across the sides ---
    const std::string& GetBasePath() const;  // the first side's
    const CAlbumFormat& GetFormat() const;
    int32_t GetSongCount() const;
    const std::vector<CAlbumSong>& GetSongs() const;  // with each song's disc and place
    const CAlbumInfo& GetInfo() const;
    int64_t GetTotalFrames() const;
    int64_t GetSongStart(int32_t k) const;
    // One layout of every song of every side, for export, overview and playback.
    const CAlbumLayout& GetLayout() const;
    uint64_t GetGeneration() const;

    bool MoveCut(int32_t k, int64_t nFrame);
    bool Join(int32_t k);
    bool Split(int32_t k, int64_t nFrame);
    // New songs for side nSide at once (CAlbum::SetSongs: starts from the side's own frame
    // 0), one edit for Undo.
    bool SetSideSongs(int32_t nSide, const std::vector<int64_t>& starts, const std::vector<std::string>& titles);
    bool CanUndo() const;
    bool CanRedo() const;
    bool Undo();
    bool Redo();
    bool SetTitle(int32_t k, const std::string& strTitle);
    bool SetInfo(const CAlbumInfo& info);
    // As CAlbum::FindSnap, never past the ends of the side of nFrame.
    int64_t FindSnap(int64_t nFrame, double fSeconds = 3.0, int64_t nLow = -1, int64_t nHigh = -1);

    void SetRecordingCheck(std::function<bool()> fnIsRecording);
    void SetFaultHook(std::function<bool(const std::string& strStep)> fnStep);
    const std::string& GetErrorText() const;

    // The record file's text for the sides as they are, side nSide's songs replaced by
    // `next` when nSide >= 0.
    std::string FileText(int32_t nSide = -1, const CAlbumLayout* pNext = nullptr) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
