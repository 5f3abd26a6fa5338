#pragma once
// The recording session: the Record command, the recording worker that splits the
// captured stream into numbered song files, the progress and completion handlers and
// the Stop command, all without a window. The main window talks to it through
// IRecordWindow (what the session needs of the window) and IPrompt (message boxes).

#include "capture/AutoResetEvent.h"
#include "capture/LevelRecord.h"
#include "capture/Prompt.h"
#include "engine/EndGapListener.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CSongSplitter;
class CWaveFile;
class CWaveIn;

// The four status fields of the main window that the session fills.
enum class RecordStatusField {
    CurFile,    // control 1015: "Cur File: Song1.wav"
    SongTime,   // control 1016: "Song Time  00:12"
    TotalTime,  // control 1017: "Total Time  03:45"
    Clipped     // control 1020: "Clipped Pts: 0"
};

/**
 * What the recording session needs of the main window.
 *
 * The three Post... functions are called on the recording worker thread, sometimes
 * while the worker holds the session lock: they must only queue an event for the
 * window thread and return at once, never block and never call back into the session.
 * The window thread then calls CRecordSession::OnRecordProgress / OnRecordDone, or
 * shows the box. Events posted in this order must be handled in this order.
 *
 * Every other function is called on the window thread only, by the session's On...
 * handlers, and may touch widgets directly.
 */
class IRecordWindow {
public:
    virtual ~IRecordWindow() = default;

    // --- worker thread, must not block ---
    // One per processed buffer: bytes captured in it and whether a new file began in it.
    // The window answers with CRecordSession::OnRecordProgress(bytes, cut).
    virtual void PostRecordProgress(int64_t nBytes, bool bCut) = 0;
    // Once, when the worker ends. The window answers with CRecordSession::OnRecordDone().
    virtual void PostRecordDone() = 0;
    // An error the worker met (a capture device failure, a write error): the window
    // shows it on its own thread with CRecordSession::ShowWorkerError(text, caption).
    virtual void PostErrorBox(const std::string& strText, const std::string& strCaption) = 0;

    // --- window thread ---
    // Idle (bRecording false): Base File Name combo, New, Record, Presets combo and
    // Customize... enabled, Stop disabled. Recording: the reverse.
    virtual void EnableRecordingControls(bool bRecording) = 0;
    virtual void SetStatusText(RecordStatusField field, const std::string& strText) = 0;
    // The status picture (control 1033): the active or the idle picture.
    virtual void SetStatusPicture(bool bActive) = 0;
    virtual bool IsMinimised() const = 0;
    virtual void SetWindowTitle(const std::string& strTitle) = 0;
    // Wait cursor on (true) or back to normal (false), around Stop.
    virtual void SetWaitCursor(bool bWait) = 0;
    // Keyboard focus to the Base File Name combo box (control 1002).
    virtual void FocusBaseFileName() = 0;
    // Runs the window's New command (choose a base file).
    virtual void RunNewCommand() = 0;
    // The Base File Name combo box: its current text (a file title such as "Song.wav")
    // and the full path held by its selected item (empty when nothing is selected).
    virtual std::string GetBaseFileText() const = 0;
    virtual std::string GetBaseFilePath() const = 0;
};

class CRecordSession;

// Parameter block handed to the recording worker: what it works on and shares with
// the window thread.
struct RecordThreadParams {
    IRecordWindow* pWindow = nullptr;     // recipient of the posted events and error boxes
    CSongSplitter* pSplitter = nullptr;
    CWaveFile* pWaveFile = nullptr;
    CWaveIn* pWaveIn = nullptr;
    uint8_t* pTransferBuffer = nullptr;   // m_nBufferSize bytes
    const int32_t* pnBufferSize = nullptr;
    std::string* pstrCurFile = nullptr;   // rewritten by the worker under the lock
    std::string* pstrCurPath = nullptr;
    CAutoResetEvent* pevBufferReady = nullptr;
    std::mutex* pcsSession = nullptr;
    std::atomic<int32_t>* pbStopRequested = nullptr;
    CRecordSession* pSession = nullptr;   // file limit, file list, write-error report
};

// One song file of the current (or last) recording.
struct RecordSongFile {
    std::string strFile;      // display name, "Song3.wav"
    std::string strPath;      // full path
    int64_t nStartByte = 0;   // position in the captured stream where the file begins (bytes)
    int64_t nDataBytes = 0;   // sample bytes written to it so far
    bool bClosed = false;     // the session has moved on to the next file (or completed this one)
    bool bContinued = false;  // begun because the previous file reached the WAV size limit,
                              // not by a cut: the same song goes on
    bool bDeleted = false;    // removed at the end as nothing but the trailing silence
};

// Where a recording went on past End Gap because sound came back while it listened.
struct RecordResume {
    std::string strFile;        // the song file that holds the sound that came back
    int64_t nFileSeconds = 0;   // where in that file, whole seconds
    double fSilenceSeconds = 0; // how long the silence before it lasted
};

/**
 * One recording at a time, from Record to the last file.
 *
 * The main window owns the splitter, the writer and the capture device and gives
 * them to the session at construction; the session must be destroyed before them.
 * The session owns the session lock, the buffer-ready event, the level record, the
 * transfer buffer, the counters and the current file names.
 *
 * Window thread: OnRecord (Record button), OnStop (Stop button), OnRecordProgress and
 * OnRecordDone (in answer to the window's posted events; OnRecordDone is also called
 * directly when the window closes during a recording, after OnStop).
 * Recording worker: started by OnRecord, ends by itself after a stop request, the end
 * gap, a short buffer, a device error or a write error.
 * Meter thread: GetChannelLevels, under the session lock.
 */
class CRecordSession {
public:
    CRecordSession(IRecordWindow& window, IPrompt& prompt, CSongSplitter& splitter,
                   CWaveFile& waveFile, CWaveIn& waveIn);
    // Ends a worker that still runs (asks it to stop, wakes it and waits for it).
    ~CRecordSession();
    CRecordSession(const CRecordSession&) = delete;
    CRecordSession& operator=(const CRecordSession&) = delete;

    // Capture buffer size in bytes (65536); set once by the window at initialisation.
    void SetBufferSize(int32_t nBytes);
    int32_t GetBufferSize() const { return m_nBufferSize; }

    // Record button: checks the destination and the format, opens the first file and the
    // device and starts the worker; on any failure shows why and stays idle.
    void OnRecord();
    // Stop button: asks the worker to stop after the buffer it is on.
    void OnStop();
    // Posted progress of one buffer.
    void OnRecordProgress(int64_t nBytes, bool bCut);
    // Posted end of the worker (or the window closing): waits up to 3000 ms for the
    // worker, then closes the device, completes the last file, removes a trailing-silence
    // file and returns to idle. If the worker has not ended by then it changes nothing
    // (the session stays in the recording state) and the worker's own done event, or the
    // destructor, finishes later.
    void OnRecordDone();

    // An error box the worker posted (PostErrorBox), shown by the window thread. While it
    // is open, a posted end of the recording waits: OnRecordDone runs when the box is
    // dismissed. A further box posted meanwhile is shown after it.
    void ShowWorkerError(const std::string& strText, const std::string& strCaption);

    bool IsRecording() const;

    // Level callback of the LED meter (meter thread): copies the channel's held RMS,
    // held peak and clip count under the session lock and marks the channel read.
    void GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips);
    // The same, but gives up (returns false, copies and marks nothing) once bStopping is
    // set, so a meter being destroyed never waits forever on a lock the worker holds.
    bool GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips,
                          const std::atomic<bool>& bStopping);

    // The session lock. The window takes it around pausing and resuming the meter.
    std::mutex& GetLock() { return m_csSession; }

    // Status texts as last shown.
    std::string GetCurFileText() const;
    std::string GetSongTimeText() const;
    std::string GetTotalTimeText() const;
    std::string GetClippedText() const;
    int64_t GetTotalBytes() const;
    int64_t GetSongBytes() const;
    // The files of the current or last recording so far, in order.
    std::vector<RecordSongFile> GetSongFiles() const;

    // Waits, adjustable for tests and for the command-line splitter: after the overwrite
    // question (750 ms), in Stop (500 ms), and for the worker in OnRecordDone (3000 ms).
    void SetOverwriteWaitMs(int nMs) { m_nOverwriteWaitMs = nMs; }
    void SetStopWaitMs(int nMs) { m_nStopWaitMs = nMs; }
    void SetDoneWaitMs(int nMs) { m_nDoneWaitMs = nMs; }
    // Largest number of sample bytes one file may hold before the session continues in
    // the next numbered file, as at a cut. Default: what the WAV size fields can describe.
    void SetFileDataLimit(int64_t nBytes) { m_nFileDataLimit = nBytes; }
    // Whether the recording raises the priority of the threads it runs on: the worker, the
    // capture thread and the window thread (default on; a refusal is ignored).
    void SetRaisePriority(bool bRaise) { m_bRaisePriority = bRaise; }
    // Cuts chosen beforehand (the command-line splitter's --songs and --lengths): stream
    // byte positions, ascending frame boundaries, where new songs begin. While they are
    // set, the splitter's own cuts and its end gap are not used, the whole input is
    // recorded and the last file is never removed (no cuts: one file of it all).
    // ClearPlannedCuts() returns to the splitter's cuts. Only while idle; one cut per
    // buffer at most.
    // How long the recording listens on after End Gap (seconds, 0: not at all) before it
    // ends; sound above Gap Level in that time and it goes on as if End Gap had been
    // longer. Only while idle; the planned cuts above never end at End Gap.
    void SetListenSeconds(double fSeconds) { m_fListenSeconds = fSeconds > 0 ? fSeconds : 0; }
    double GetListenSeconds() const { return m_fListenSeconds; }
    // The places where the current or last recording went on past End Gap, in order.
    std::vector<RecordResume> GetResumes() const;
    // Whether the worker is listening after End Gap now, and how long it still will.
    bool IsListening(double* pfSecondsLeft = nullptr) const;

    void SetPlannedCuts(std::vector<int64_t> cuts) { m_plannedCuts = std::move(cuts); m_bPlannedCuts = true; }
    void ClearPlannedCuts() { m_plannedCuts.clear(); m_bPlannedCuts = false; }

    // Test hook: called by the worker after each full buffer it has written and before
    // it waits for the next one, and after each piece it writes once stopped, without the
    // session lock. Set only while idle.
    void SetWorkerStallHook(std::function<void()> hook) { m_pStallHook = std::move(hook); }

    // Called by the worker with every buffer the splitter has judged, as the splitter left
    // it (after DC Block), and the splitter's own verdict on it (planned cuts aside),
    // before it is written; under the session lock. Set only while idle.
    using BufferObserver =
        std::function<void(const uint8_t* pData, int32_t nLen, int32_t bCut, int32_t nCutOffset, int32_t bEnd)>;
    void SetBufferObserver(BufferObserver observer) { m_bufferObserver = std::move(observer); }

    // The file naming rule: inserts the running number before the extension, which
    // begins at the last "." of the file name (never one in a folder name); a name
    // without an extension gets the number at its end.
    static std::string NumberedName(const std::string& strBase, int nNumber);

private:
    void CopyChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips);
    static int RecordThreadProc(RecordThreadParams* pParams);
    bool ProcessOne(int32_t nLen, bool bPost, int32_t* pbEnd);
    bool WriteProcessed(const CEndGapListener::Piece& piece, bool bPost, int32_t* pbEnd);
    // Worker, session lock held: listening ends with nothing heard; the end as it was.
    bool FinishListening();
    bool WriteSamples(const uint8_t* pData, int64_t nBytes, bool* pbNewFile);
    bool NextFile(bool bContinued);
    bool CreateSongFile(const std::string& strPath);
    bool HasLoudSample(const uint8_t* pData, int32_t nBytes) const;
    void ShowError(const std::string& strText);
    std::string FormatTime(const char* szFormat, int64_t nBytes) const;
    void ResetLevels();
    void ReportLostAudio();
    // Worker: where the input stands now, as "00:12 in Song1.wav". Session lock held.
    std::string InputPositionText();

    IRecordWindow& m_window;
    IPrompt& m_prompt;
    CSongSplitter& m_splitter;
    CWaveFile& m_waveFile;
    CWaveIn& m_waveIn;

    mutable std::mutex m_csSession;
    CAutoResetEvent m_evBufferReady;
    std::thread m_hRecordThread;
    RecordThreadParams m_threadParams;

    // Session state; m_bRecording and m_bStopRequested are read by the worker as well.
    std::atomic<int32_t> m_bRecording{0};
    std::atomic<int32_t> m_bStopRequested{0};
    std::atomic<int32_t> m_bShutdown{0};       // destructor: the worker leaves at once
    std::atomic<int32_t> m_bWorkerEnded{1};
    CAutoResetEvent m_evWorkerEnded;           // set by the worker as its last act
    // Written by the worker under the lock, read by OnRecordDone after the worker ended.
    int32_t m_bWriteFailed = 0;                // a write error ended the recording
    std::string m_strWriteError;               // its text, already shown
    std::string m_strDeviceError;              // a capture failure during the recording
    int32_t m_bInputStalled = 0;               // Stop found the input delivering nothing
    int32_t m_bStallTold = 0;                  // the user has been told of the current stall
    std::string m_strStallWhere;               // where the input stalled ("00:12 in Song1.wav")
    int32_t m_bEndReached = 0;                 // the splitter found the end gap
    int32_t m_bLastFileContinued = 0;          // the last file continues a song (size limit)
    int32_t m_bLastFileLoud = 0;               // the last file holds a sample above the gap level
    int64_t m_nStreamBytes = 0;                // captured bytes written so far
    int64_t m_nTotalBytes = 0;
    int64_t m_nSongBytes = 0;
    int64_t m_nClippedPoints = 0;
    std::string m_strCurFile;
    std::string m_strCurPath;
    std::string m_strCurFileText, m_strSongTime, m_strTotalTime, m_strClipped;
    std::unique_ptr<uint8_t[]> m_pTransferBuffer;
    int32_t m_nBufferSize = 65536;
    RecordLevelChannel m_levels[2];
    std::vector<RecordSongFile> m_songFiles;   // under the lock
    int m_nNumber = 1;                         // running number of the current file

    // Format of the current recording, fixed by OnRecord.
    int32_t m_nRate = 0;
    int32_t m_nBits = 0;
    int32_t m_nChannels = 0;
    std::string m_strPathBase;   // the selected base path, numbered per file
    std::string m_strFileBase;   // the combo text, numbered per file

    // Window thread: the worker's error boxes and an end of the recording waiting for them.
    bool m_bErrorBoxOpen = false;
    bool m_bDoneWaiting = false;
    std::deque<std::pair<std::string, std::string>> m_pendingErrors;  // text, caption

    unsigned m_nPictureCounter = 0;  // alternates the status picture, for the program's life

    int m_nOverwriteWaitMs = 750;
    int m_nStopWaitMs = 500;
    int m_nDoneWaitMs = 3000;
    int64_t m_nFileDataLimit;
    bool m_bRaisePriority = true;
    // Device and inode of the numbered files that existed when Record was pressed (an
    // earlier take's, which the overwrite question let this recording replace): such a file
    // is removed before the recording creates its own under that name. Any other file in
    // the way is left as it is and stops the recording.
    std::vector<std::pair<uint64_t, uint64_t>> m_replaceable;
    std::function<void()> m_pStallHook;
    BufferObserver m_bufferObserver;
    std::vector<int64_t> m_plannedCuts;  // stream bytes; see SetPlannedCuts()
    bool m_bPlannedCuts = false;
    size_t m_nNextPlannedCut = 0;        // the worker's place in m_plannedCuts
    double m_fListenSeconds = 0;         // see SetListenSeconds()
    CEndGapListener m_listener;          // the worker's, under the session lock
    int32_t m_bEndedListening = 0;       // the recording ended at End Gap after listening
};
