#include "capture/RecordSession.h"

#include "capture/LevelRecord.h"
#include "capture/TakeMark.h"
#include "capture/WaveFile.h"
#include "capture/WaveIn.h"
#include "engine/SongSplitter.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

const char* const kCaptionError = "ERROR";
const char* const kCaptionInputStopped = "Input Stopped";

// The worker waits for each block in slices of this length, to notice an input that has
// stalled: after a Stop when nothing has come for a second (a sound card delivers every
// tenth of a second or so), and while recording when nothing has come for several seconds.
const auto kWaitSlice = std::chrono::milliseconds(250);
const double kStopIdleSeconds = 1.0;
const double kStallSeconds = 5.0;
const char* const kTitleSuffix = ": Novu Cadenzo";
const char* const kTitleDone = "DONE: Novu Cadenzo";

// Lowest and highest sample rates the session records. A rate outside (0 from a damaged
// preset, say) would divide by zero or overflow the header's byte rate.
const int32_t kMinRate = 1000;
const int32_t kMaxRate = 768000;

void SleepMs(int nMs)
{
    if (nMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

std::string Format(const char* szFormat, long long n)
{
    char sz[64];
    std::snprintf(sz, sizeof sz, szFormat, n);
    return sz;
}

using FileId = std::pair<uint64_t, uint64_t>;  // device, inode

// Device and inode of every entry of the base's folder named as one of its song files
// (the base name with a number, without leading zeros, before the extension).
std::vector<FileId> NumberedFiles(const std::string& strBase)
{
    const size_t nSlash = strBase.find_last_of('/');
    const std::string strFolder = nSlash == std::string::npos ? "." : strBase.substr(0, nSlash + 1);
    const std::string strName = nSlash == std::string::npos ? strBase : strBase.substr(nSlash + 1);
    const size_t nDot = strName.find_last_of('.');
    const std::string strStem = nDot == std::string::npos ? strName : strName.substr(0, nDot);
    const std::string strExt = nDot == std::string::npos ? "" : strName.substr(nDot);
    std::vector<FileId> ids;
    DIR* pDir = ::opendir(strFolder.c_str());
    if (pDir == nullptr) return ids;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string strEntry = pEntry->d_name;
        if (strEntry.size() <= strStem.size() + strExt.size() || strEntry.compare(0, strStem.size(), strStem) != 0 ||
            strEntry.compare(strEntry.size() - strExt.size(), strExt.size(), strExt) != 0)
            continue;
        const std::string strDigits = strEntry.substr(strStem.size(), strEntry.size() - strStem.size() - strExt.size());
        if (strDigits[0] == '0' || strDigits.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat st;
        if (::fstatat(::dirfd(pDir), pEntry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            ids.emplace_back(st.st_dev, st.st_ino);
    }
    ::closedir(pDir);
    return ids;
}

// Whether another recording is writing the file at strPath: it holds the writer's lock.
bool IsBeingRecorded(const std::string& strPath)
{
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool bLocked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return bLocked;
}

}  // namespace

CRecordSession::CRecordSession(IRecordWindow& window, IPrompt& prompt, CSongSplitter& splitter,
                               CWaveFile& waveFile, CWaveIn& waveIn)
    : m_window(window), m_prompt(prompt), m_splitter(splitter), m_waveFile(waveFile),
      m_waveIn(waveIn), m_nFileDataLimit(std::numeric_limits<int64_t>::max())
{
}

CRecordSession::~CRecordSession()
{
    if (!m_hRecordThread.joinable()) return;
    // The window is going away with a worker still running (it did not end within the
    // wait of OnRecordDone). Ask it to leave at once, wake it if it waits for a buffer,
    // and complete the files quietly: no window is left to tell.
    m_bShutdown = 1;
    m_bStopRequested = 1;
    m_evBufferReady.Set();
    m_hRecordThread.join();
    if (m_bRecording) {
        m_bRecording = 0;
        m_waveIn.Close();
        m_waveFile.Close();
    }
}

void CRecordSession::SetBufferSize(int32_t nBytes)
{
    // Whole frames of every format (8 bytes for float stereo), at least one.
    nBytes -= nBytes % 8;
    m_nBufferSize = std::max<int32_t>(nBytes, 8);
}

bool CRecordSession::IsRecording() const { return m_bRecording != 0; }

std::string CRecordSession::NumberedName(const std::string& strBase, int nNumber)
{
    size_t nNameStart = strBase.find_last_of('/');
    nNameStart = (nNameStart == std::string::npos) ? 0 : nNameStart + 1;
    size_t nDot = strBase.find_last_of('.');
    std::string strNumber = std::to_string(nNumber);
    if (nDot == std::string::npos || nDot < nNameStart) return strBase + strNumber;
    return strBase.substr(0, nDot) + strNumber + strBase.substr(nDot);
}

void CRecordSession::ShowError(const std::string& strText)
{
    m_prompt.MessageBox(strText, kCaptionError, PromptButtons::Ok, PromptIcon::Stop);
}

// ---------------------------------------------------------------------------------------
// Record

void CRecordSession::OnRecord()
{
    // Record is disabled while a recording runs, and while a worker that did not end in
    // time is still finishing.
    if (m_bRecording || m_hRecordThread.joinable()) return;

    // A base file must be chosen: the writer holds its path, the combo box its entry.
    std::string strBasePath = m_waveFile.GetFileName();
    std::string strSelPath = m_window.GetBaseFilePath();
    std::string strSelText = m_window.GetBaseFileText();
    if (strBasePath.empty() || strSelPath.empty() || strSelText.empty()) {
        m_prompt.MessageBox("You need to enter a Base File Name.", "Missing Destination",
                            PromptButtons::Ok, PromptIcon::Exclamation);
        m_window.RunNewCommand();
        return;
    }

    // A format the session cannot describe (a rate or depth of 0 from damaged settings)
    // is refused before anything is created.
    const int32_t nRate = m_splitter.GetSamplesPerSec();
    const int32_t nBits = m_splitter.GetBitsPerSample();
    const int32_t nChannels = m_splitter.GetChannels();
    if (nRate < kMinRate || nRate > kMaxRate || (nBits != 16 && nBits != 32) || nChannels != 2) {
        char sz[512];
        std::snprintf(sz, sizeof sz,
                      "The recording format is not valid: %d Hz, %d bits per sample, %d "
                      "channels.\nPlease choose the sample rate and the bit depth again in the "
                      "Customize settings window.\n",
                      static_cast<int>(nRate), static_cast<int>(nBits), static_cast<int>(nChannels));
        ShowError(sz);
        return;
    }

    m_pTransferBuffer.reset(new uint8_t[static_cast<size_t>(m_nBufferSize)]);
    m_strFileBase = strSelText;
    m_strPathBase = strSelPath;
    {
        std::lock_guard<std::mutex> lock(m_csSession);
        m_strCurFile = NumberedName(m_strFileBase, 1);
    }

    // Protect numbered files 1 to 9: ask once, at the first one that exists. The numbered
    // files there now are an earlier take's: going on lets this recording replace them (the
    // window never asked about numbers above 9), but nothing that appears later.
    m_replaceable = NumberedFiles(m_strPathBase);
    for (int n = 1; n <= 9; ++n) {
        std::string strPath = NumberedName(m_strPathBase, n);
        struct stat st;
        if (::stat(strPath.c_str(), &st) != 0) continue;
        char sz[2048];
        std::snprintf(sz, sizeof sz,
                      "The file, %s, exists.\nIf you will be recording %d song(s),\nthis file "
                      "and possibly any sequentially \nnumbered files will be overwritten.\n\nDo "
                      "you want to overwrite the file(s)?",
                      strPath.c_str(), n);
        PromptAnswer answer =
            m_prompt.MessageBox(sz, "File Exists", PromptButtons::YesNo, PromptIcon::Question);
        SleepMs(m_nOverwriteWaitMs);
        if (answer != PromptAnswer::Yes) {
            m_pTransferBuffer.reset();
            return;
        }
        break;
    }

    // A new take under this base name: files of an earlier one left beyond the songs of
    // this one are then told apart (the album lists them as leftovers).
    TakeMark::Write(m_strPathBase);

    // The first numbered file and its header.
    std::string strFirstPath = NumberedName(m_strPathBase, 1);
    {
        std::lock_guard<std::mutex> lock(m_csSession);
        m_strCurPath = strFirstPath;
    }
    if (!CreateSongFile(strFirstPath)) {
        ShowError(m_waveFile.GetErrorText());
        m_window.FocusBaseFileName();
        m_pTransferBuffer.reset();
        return;
    }
    m_waveFile.WriteHeader(static_cast<int16_t>(nBits), nRate, static_cast<int16_t>(nChannels),
                           m_nBufferSize);
    if (m_waveFile.HasError()) {
        ShowError(m_waveFile.GetErrorText());
        m_pTransferBuffer.reset();
        return;
    }

    // Can the sound card record what the file declares?
    const WaveFormat format = m_waveFile.GetFormat();
    // The window gives the device id to the capture device whenever the user picks one.
    m_waveIn.QueryFormat(format);
    if (m_waveIn.HasError()) {
        std::string strText;
        if (nRate == 48000 && nBits == 32)
            strText = "Your sound card does not support 48 kHz and/or 24 bit recording.\nPlease "
                      "change one or both of these features in the \nCustomize settings window.\n";
        else if (nRate == 48000)
            strText = "Your sound card does not support 48 kHz recording.\nPlease change this "
                      "feature in the Customize settings window.\n";
        else if (nBits == 32)
            strText = "Your sound card does not support 24 bit recording.\nPlease change this "
                      "feature in the Customize settings window.\n";
        else
            strText = m_waveIn.GetErrorText();
        ShowError(strText);
        m_window.FocusBaseFileName();
        m_waveFile.Close();
        m_waveIn.Close();
        m_pTransferBuffer.reset();
        return;
    }

    m_waveIn.Open(format, WaveInNotify, &m_evBufferReady, CALLBACK_FUNCTION);
    if (m_waveIn.HasError()) {
        ShowError(m_waveIn.GetErrorText());
        m_window.FocusBaseFileName();
        m_waveIn.Close();
        m_waveFile.Close();
        m_pTransferBuffer.reset();
        return;
    }

    m_waveIn.AllocateBuffers(m_nBufferSize);
    if (m_waveIn.HasError()) {
        ShowError(m_waveIn.GetErrorText());
        m_waveIn.Close();
        m_waveFile.Close();
        m_pTransferBuffer.reset();
        return;
    }

    m_threadParams.pWindow = &m_window;
    m_threadParams.pSplitter = &m_splitter;
    m_threadParams.pWaveFile = &m_waveFile;
    m_threadParams.pWaveIn = &m_waveIn;
    m_threadParams.pTransferBuffer = m_pTransferBuffer.get();
    m_threadParams.pnBufferSize = &m_nBufferSize;
    m_threadParams.pstrCurFile = &m_strCurFile;
    m_threadParams.pstrCurPath = &m_strCurPath;
    m_threadParams.pevBufferReady = &m_evBufferReady;
    m_threadParams.pcsSession = &m_csSession;
    m_threadParams.pbStopRequested = &m_bStopRequested;
    m_threadParams.pSession = this;
    m_splitter.PrepareForRecording();
    m_listener.Start(&m_splitter, m_bPlannedCuts ? 0.0 : m_fListenSeconds);

    m_waveIn.SetRaisePriority(m_bRaisePriority);
    m_waveIn.Start();
    if (m_waveIn.HasError()) {
        ShowError(m_waveIn.GetErrorText());
        m_waveIn.Close();
        m_waveFile.Close();
        m_pTransferBuffer.reset();
        return;
    }

    {
        std::lock_guard<std::mutex> lock(m_csSession);
        m_bStopRequested = 0;
        m_bRecording = 1;
        m_bShutdown = 0;
        m_nTotalBytes = 0;
        m_nSongBytes = 0;
        m_nClippedPoints = 0;
        m_nRate = nRate;
        m_nBits = nBits;
        m_nChannels = nChannels;
        m_nNumber = 1;
        m_bWriteFailed = 0;
        m_bEndReached = 0;
        m_bEndedListening = 0;
        m_bLastFileContinued = 0;
        m_bLastFileLoud = 0;
        m_strWriteError.clear();
        m_strDeviceError.clear();
        m_bInputStalled = 0;
        m_bStallTold = 0;
        m_strStallWhere.clear();
        m_nStreamBytes = 0;
        m_nNextPlannedCut = 0;
        m_songFiles.clear();
        RecordSongFile first;
        first.strFile = m_strCurFile;
        first.strPath = m_strCurPath;
        m_songFiles.push_back(first);
    }
    m_evBufferReady.Reset();

    m_bWorkerEnded = 0;
    m_evWorkerEnded.Reset();
    m_hRecordThread = std::thread(&CRecordSession::RecordThreadProc, &m_threadParams);

    m_window.EnableRecordingControls(true);
}

// ---------------------------------------------------------------------------------------
// The worker

// Writes sample bytes to the current song file; before a file's data would pass the
// limit of the WAV size fields (or the injected limit) it continues in the next numbered
// file, as at a cut. Returns false on a write error (the writer holds the text).
// Called by the worker with the session lock held.
bool CRecordSession::WriteSamples(const uint8_t* pData, int64_t nBytes, bool* pbNewFile)
{
    const int64_t nFrame = std::max<int64_t>(m_waveFile.GetFormat().blockAlign, 1);
    while (nBytes > 0) {
        int64_t nLimit = std::min(m_nFileDataLimit, m_waveFile.GetMaxDataBytes());
        nLimit = std::max(nLimit - nLimit % nFrame, nFrame);
        int64_t nRoom = nLimit - m_waveFile.GetDataBytes();
        nRoom -= nRoom % nFrame;
        if (nRoom <= 0) {
            if (!NextFile(true)) return false;
            if (pbNewFile) *pbNewFile = true;
            continue;
        }
        int32_t nChunk = static_cast<int32_t>(std::min<int64_t>(nBytes, nRoom));
        m_waveFile.Write(pData, nChunk);
        m_songFiles.back().nDataBytes = m_waveFile.GetDataBytes();
        if (m_waveFile.HasError()) return false;
        pData += nChunk;
        nBytes -= nChunk;
        m_nStreamBytes += nChunk;
    }
    return true;
}

// Closes the current file and opens the next numbered one with the same format.
// bContinued: the song goes on (file size limit) rather than a new song beginning.
// Called by the worker with the session lock held.
bool CRecordSession::NextFile(bool bContinued)
{
    m_waveFile.Close();
    m_songFiles.back().bClosed = true;
    if (m_waveFile.HasError()) return false;

    ++m_nNumber;
    m_strCurPath = NumberedName(m_strPathBase, m_nNumber);
    m_strCurFile = NumberedName(m_strFileBase, m_nNumber);
    RecordSongFile file;
    file.strFile = m_strCurFile;
    file.strPath = m_strCurPath;
    file.nStartByte = m_nStreamBytes;
    file.bContinued = bContinued;
    m_songFiles.push_back(file);
    m_bLastFileContinued = bContinued ? 1 : 0;

    const WaveFormat format = m_waveFile.GetFormat();
    if (!CreateSongFile(m_strCurPath)) return false;
    m_waveFile.WriteHeader(static_cast<int16_t>(format.bitsPerSample),
                           static_cast<int32_t>(format.samplesPerSec),
                           static_cast<int16_t>(format.channels), m_nBufferSize);
    return !m_waveFile.HasError();
}

// Creates a song file as a new file, never opening one that exists: a file of an earlier
// take that this recording may replace is removed first, unless another recording is
// writing it. A named pipe put there before Record (to hand the song to another program)
// holds nothing to lose: it is written into. False when the writer failed (it holds the text).
bool CRecordSession::CreateSongFile(const std::string& strPath)
{
    m_waveFile.SetFileName(strPath.c_str());
    struct stat st;
    if (::lstat(strPath.c_str(), &st) == 0 &&
        std::find(m_replaceable.begin(), m_replaceable.end(), FileId(st.st_dev, st.st_ino)) != m_replaceable.end()) {
        if (S_ISFIFO(st.st_mode)) {
            m_waveFile.Create();
            return !m_waveFile.HasError();
        }
        if (!IsBeingRecorded(strPath)) ::unlink(strPath.c_str());
    }
    m_waveFile.CreateNew();
    return !m_waveFile.HasError();
}

// Whether any sample lies above the gap level (the splitter's threshold: the stored
// Gap Level is the magnitude in 16-bit units). Called by the worker.
bool CRecordSession::HasLoudSample(const uint8_t* pData, int32_t nBytes) const
{
    const double fLevel16 = -static_cast<double>(m_splitter.GetGapLevel());
    if (m_nBits == 16) {
        const int16_t* p = reinterpret_cast<const int16_t*>(pData);
        for (int32_t i = 0, n = nBytes / 2; i < n; ++i)
            if (std::abs(static_cast<double>(p[i])) > fLevel16) return true;
    } else {
        const float* p = reinterpret_cast<const float*>(pData);
        const double fLevel = fLevel16 / 32768.0;
        for (int32_t i = 0, n = nBytes / 4; i < n; ++i)
            if (!(std::abs(static_cast<double>(p[i])) <= fLevel)) return true;
    }
    return false;
}

// Splits one buffer and writes it: the part before a cut to the current file, the rest to
// the next one. Posts its progress. After End Gap the buffer may be held back while the
// recording listens (progress of 0 bytes keeps the meters going), and when sound comes
// back the held buffers are written here all at once. Returns false on a write error.
// Called by the worker with the session lock held.
bool CRecordSession::ProcessOne(int32_t nLen, bool bPost, int32_t* pbEnd)
{
    if (pbEnd) *pbEnd = 0;
    const bool bOk = m_listener.Feed(m_pTransferBuffer.get(), nLen, [&](const CEndGapListener::Piece& piece) {
        return WriteProcessed(piece, bPost, pbEnd);
    });
    if (bOk && m_listener.IsListening() && bPost && !m_bShutdown) m_window.PostRecordProgress(0, false);
    return bOk;
}

bool CRecordSession::FinishListening()
{
    if (!m_listener.IsListening()) return true;
    m_bEndedListening = 1;
    m_bEndReached = 1;
    return m_listener.Finish([&](const CEndGapListener::Piece& piece) { return WriteProcessed(piece, true, nullptr); });
}

bool CRecordSession::WriteProcessed(const CEndGapListener::Piece& piece, bool bPost, int32_t* pbEnd)
{
    if (m_bufferObserver) m_bufferObserver(piece.pData, piece.nBytes, piece.bCut, piece.nCutOffset, piece.bEnd);
    // Audio past the end of the recording is not part of it.
    if (piece.bPastEnd) return true;
    if (m_listener.EndedAfterListening()) m_bEndedListening = 1;
    uint8_t* pBuffer = piece.pData;
    const int32_t nLen = piece.nBytes;
    int32_t bCut = piece.bCut, nCutOffset = piece.nCutOffset, bEnd = piece.bEnd;
    if (m_bPlannedCuts) {
        bCut = bEnd = 0;
        if (m_nNextPlannedCut < m_plannedCuts.size() && m_plannedCuts[m_nNextPlannedCut] < m_nStreamBytes + nLen) {
            bCut = 1;
            nCutOffset = static_cast<int32_t>(std::max<int64_t>(m_plannedCuts[m_nNextPlannedCut++] - m_nStreamBytes, 0));
        }
    }
    if (pbEnd && bEnd) *pbEnd = 1;

    // Does the current file hold anything above the gap level? A file that does is a
    // song, never a trailing silence, however short.
    if (bCut) m_bLastFileLoud = 0;
    if (!m_bLastFileLoud) {
        int32_t nFrom = bCut ? std::min(std::max(nCutOffset, 0), nLen) : 0;
        m_bLastFileLoud = HasLoudSample(pBuffer + nFrom, nLen - nFrom) ? 1 : 0;
    }

    bool bNewFile = false;
    bool bOk;
    if (!bCut) {
        bOk = WriteSamples(pBuffer, nLen, &bNewFile);
    } else {
        nCutOffset = std::min(std::max(nCutOffset, 0), nLen);
        bOk = WriteSamples(pBuffer, nCutOffset, &bNewFile) && NextFile(false);
        bNewFile = true;
        if (bOk) bOk = WriteSamples(pBuffer + nCutOffset, nLen - nCutOffset, &bNewFile);
    }
    if (bPost && !m_bShutdown) m_window.PostRecordProgress(nLen, bNewFile);
    if (!bOk && !m_bWriteFailed) {
        // Tell the user now, while the recording runs, and end it in order.
        m_bWriteFailed = 1;
        m_strWriteError = m_waveFile.GetErrorText();
        if (!m_bShutdown) m_window.PostErrorBox(m_strWriteError, kCaptionError);
    }
    return bOk;
}

int CRecordSession::RecordThreadProc(RecordThreadParams* pParams)
{
    CRecordSession& s = *pParams->pSession;
    pthread_setname_np(pthread_self(), "cadenzo-record");
    if (s.m_bRaisePriority) {
        // On Linux a nice value belongs to one thread. Raised here: the window thread (its
        // thread id is the process id) and this worker. The capture thread raises itself
        // (CWaveIn::SetRaisePriority). A refusal is not an error.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()), -10);
        ::setpriority(PRIO_PROCESS, 0, -10);
    }
    {
        std::lock_guard<std::mutex> lock(*pParams->pcsSession);
    }

    const int32_t nBufferSize = *pParams->pnBufferSize;
    bool bLeftByEnd = false;
    bool bFailed = false;
    for (;;) {
        // Wait for the next block, watching for an input that has stopped delivering.
        bool bStalled = false;
        while (!pParams->pevBufferReady->WaitFor(kWaitSlice)) {
            const double fIdle = pParams->pWaveIn->GetInputIdleSeconds();
            if (*pParams->pbStopRequested && fIdle >= kStopIdleSeconds) {
                bStalled = true;
                break;
            }
            if (fIdle >= kStallSeconds && !s.m_bStallTold) {
                std::lock_guard<std::mutex> lock(*pParams->pcsSession);
                s.m_bStallTold = 1;
                s.m_strStallWhere = s.InputPositionText();
                char sz[1024];
                std::snprintf(sz, sizeof sz,
                              "The sound card has delivered no audio for %d seconds, since %s.\n"
                              "The device may have been unplugged, or the sound system has stopped.\n"
                              "Press Stop to end the recording: the files keep everything recorded "
                              "up to there.\n",
                              static_cast<int>(fIdle), s.m_strStallWhere.c_str());
                if (!s.m_bShutdown) pParams->pWindow->PostErrorBox(sz, kCaptionInputStopped);
            }
        }
        std::unique_lock<std::mutex> lock(*pParams->pcsSession);
        if (bStalled) {
            // Stop was pressed and nothing comes: end now with what has been captured.
            s.m_bInputStalled = 1;
            if (s.m_strStallWhere.empty()) s.m_strStallWhere = s.InputPositionText();
            break;
        }
        if (s.m_bShutdown) break;
        // Audio flows again: a later stall is a new one.
        s.m_bStallTold = 0;
        s.m_strStallWhere.clear();

        int32_t nLen = pParams->pWaveIn->GetNextBuffer(pParams->pTransferBuffer);
        if (pParams->pWaveIn->HasError()) {
            s.m_strDeviceError = pParams->pWaveIn->GetErrorText();
            nLen = 0;
        }
        int32_t bEnd = 0;
        bool bOk = s.ProcessOne(nLen, true, &bEnd);
        if (!bOk) {
            bFailed = true;
            break;
        }
        if (*pParams->pbStopRequested || bEnd) {
            // An end found by listening stays the end, even with a Stop at the same time.
            bLeftByEnd = bEnd != 0 && (!*pParams->pbStopRequested || s.m_bEndedListening);
            if (bEnd) s.m_bEndReached = 1;
            break;
        }
        lock.unlock();
        if (s.m_pStallHook) s.m_pStallHook();
        std::this_thread::yield();
        if (nLen != nBufferSize) break;
    }

    // Stop, the end of the input or a failure of the device while listening after End Gap:
    // nothing came back, so the recording ends at End Gap, as it would have without listening.
    if (!bFailed) {
        std::lock_guard<std::mutex> lock(*pParams->pcsSession);
        if (s.m_listener.IsListening()) {
            if (s.FinishListening()) bLeftByEnd = true;
            else bFailed = true;
        }
        s.m_listener.StopListening();
    }

    std::string strStopError;
    CWaveIn& waveIn = *pParams->pWaveIn;
    int32_t nLen = 0;
    {
        std::lock_guard<std::mutex> lock(*pParams->pcsSession);
        nLen = waveIn.Stop(pParams->pTransferBuffer);
        if (waveIn.HasError()) {
            strStopError = waveIn.GetErrorText();
            nLen = 0;
        }
    }
    // Stopping loses no audio: the partly filled block and whatever the capture still
    // holds go to the last file. After the end gap the rest is not part of the
    // recording, and after a failure there is nowhere sound to put it. That can be
    // seconds of audio for a slow disk: each piece is written under the lock like a
    // buffer of the recording, and the lock is free between pieces, so the window and
    // the meters go on meanwhile.
    if (!bLeftByEnd && !bFailed && !s.m_bShutdown) {
        while (nLen > 0) {
            {
                std::lock_guard<std::mutex> lock(*pParams->pcsSession);
                if (!s.ProcessOne(nLen, true, nullptr)) break;
                nLen = waveIn.Drain(pParams->pTransferBuffer);
                if (waveIn.HasError()) break;
            }
            if (s.m_pStallHook) s.m_pStallHook();
            std::this_thread::yield();
        }
    }

    if (!s.m_bShutdown) {
        if (!s.m_strDeviceError.empty())
            pParams->pWindow->PostErrorBox(s.m_strDeviceError, kCaptionError);
        if (!strStopError.empty() && strStopError != s.m_strDeviceError)
            pParams->pWindow->PostErrorBox(strStopError, kCaptionError);
        pParams->pWindow->PostRecordDone();
    }
    s.m_bWorkerEnded = 1;
    s.m_evWorkerEnded.Set();
    return 0;
}

std::string CRecordSession::InputPositionText()
{
    if (m_songFiles.empty()) return "the recording";
    const RecordSongFile& file = m_songFiles.back();
    const int64_t nBytes = m_nStreamBytes - file.nStartByte + m_waveIn.GetHeldBytes();
    return FormatTime("%02lld:%02lld in ", nBytes) + file.strFile;
}

// ---------------------------------------------------------------------------------------
// Progress, completion, Stop

std::string CRecordSession::FormatTime(const char* szFormat, int64_t nBytes) const
{
    // Bytes per second of the settings' format; a damaged rate or depth of 0 shows 00:00
    // instead of dividing by zero.
    int64_t nBytesPerSec = static_cast<int64_t>(m_splitter.GetSamplesPerSec()) *
                           ((static_cast<int64_t>(m_splitter.GetChannels()) *
                             m_splitter.GetBitsPerSample()) / 8);
    int64_t nMinutes = 0, nSeconds = 0;
    if (nBytesPerSec > 0) {
        nMinutes = nBytes / (60 * nBytesPerSec);
        nSeconds = nBytes / nBytesPerSec - 60 * nMinutes;
    }
    char sz[96];
    std::snprintf(sz, sizeof sz, szFormat, static_cast<long long>(nMinutes),
                  static_cast<long long>(nSeconds));
    return sz;
}

void CRecordSession::OnRecordProgress(int64_t nBytes, bool bCut)
{
    // The picture alternates on every message, active first, for the program's life.
    m_window.SetStatusPicture(m_nPictureCounter++ % 2 == 0);

    std::string strCurFile;
    int64_t nClips = 0;
    {
        std::lock_guard<std::mutex> lock(m_csSession);
        nClips = StoreSplitterLevels(m_splitter, m_levels);
        strCurFile = m_strCurFile;

        // After End Gap, while the recording listens for sound to come back: how much longer.
        if (m_listener.IsListening())
            m_strCurFileText = Format("Listening for sound: %lld s",
                                      static_cast<long long>(std::ceil(m_listener.ListenSecondsLeft())));
        else
            m_strCurFileText = "Cur File: " + strCurFile;
        m_nClippedPoints += nClips;
        m_strClipped = Format("Clipped Pts: %lld", static_cast<long long>(m_nClippedPoints));
        if (bCut) m_nSongBytes = 0;
        m_nSongBytes += nBytes;
        m_nTotalBytes += nBytes;
        m_strSongTime = FormatTime("Song Time  %02lld:%02lld", m_nSongBytes);
        m_strTotalTime = FormatTime("Total Time  %02lld:%02lld", m_nTotalBytes);
    }
    m_window.SetStatusText(RecordStatusField::CurFile, m_strCurFileText);
    m_window.SetStatusText(RecordStatusField::Clipped, m_strClipped);
    m_window.SetStatusText(RecordStatusField::SongTime, m_strSongTime);
    m_window.SetStatusText(RecordStatusField::TotalTime, m_strTotalTime);
    if (m_window.IsMinimised()) m_window.SetWindowTitle(strCurFile + kTitleSuffix);
}

void CRecordSession::ResetLevels()
{
    for (RecordLevelChannel& level : m_levels) level = RecordLevelChannel();
}

void CRecordSession::ShowWorkerError(const std::string& strText, const std::string& strCaption)
{
    // A box posted while another is open waits its turn behind it.
    m_pendingErrors.emplace_back(strText, strCaption);
    if (m_bErrorBoxOpen) return;
    m_bErrorBoxOpen = true;
    while (!m_pendingErrors.empty()) {
        const std::pair<std::string, std::string> box = m_pendingErrors.front();
        m_pendingErrors.pop_front();
        m_prompt.MessageBox(box.first, box.second, PromptButtons::Ok, PromptIcon::Stop);
    }
    m_bErrorBoxOpen = false;
    if (m_bDoneWaiting) {
        m_bDoneWaiting = false;
        OnRecordDone();
    }
}

void CRecordSession::OnRecordDone()
{
    // The worker's error box comes first: the recording ends (files closed, losses told)
    // once the user has dismissed it, not from inside its event loop.
    if (m_bErrorBoxOpen) {
        m_bDoneWaiting = true;
        return;
    }
    // Wait a while for the worker. If it has not ended, nothing it may still touch (the
    // device, the writer, the transfer buffer) is closed or freed: the session stays in
    // the recording state, and the worker's own completion event finishes the job later
    // (or the destructor, when the window closes).
    if (m_hRecordThread.joinable()) {
        if (!m_bWorkerEnded) m_evWorkerEnded.WaitFor(std::chrono::milliseconds(std::max(m_nDoneWaitMs, 0)));
        if (!m_bWorkerEnded) return;
        m_hRecordThread.join();
    }

    {
        std::lock_guard<std::mutex> lock(m_csSession);
        if (!m_bRecording) return;
        m_bRecording = 0;
    }
    m_window.SetStatusPicture(false);
    m_window.EnableRecordingControls(false);
    if (m_window.IsMinimised()) m_window.SetWindowTitle(kTitleDone);
    {
        std::lock_guard<std::mutex> lock(m_csSession);
        ResetLevels();
    }

    // Every file is completed (or removed) before the user is told anything: a box waits
    // for the user, and the files must not wait with it.
    m_waveIn.Close();
    const std::string strDeviceError = m_waveIn.HasError() ? m_waveIn.GetErrorText() : "";

    // After a failed create or close at a cut no file is open: that failure has been
    // told, and there is nothing to complete.
    bool bCloseFailed = false;
    std::string strCloseError;
    if (m_waveFile.IsOpen()) {
        m_waveFile.Close();
        bCloseFailed = m_waveFile.HasError() != 0;
        if (bCloseFailed) {
            // A write error the worker already reported is not shown twice.
            std::string strText = m_waveFile.GetErrorText();
            if (strText != m_strWriteError) strCloseError = strText;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_csSession);
        if (!m_songFiles.empty()) {
            m_songFiles.back().bClosed = true;
            m_songFiles.back().nDataBytes = m_waveFile.GetDataBytes();
        }
    }

    // A recording that ended by itself leaves a last file holding only the trailing
    // silence: remove it. At the end gap a file shorter than the gap is silence by
    // construction; when the input simply ran out, only a file without a loud sample is.
    // A file that merely continues a song past the size limit stays.
    if (!bCloseFailed && !m_bWriteFailed && (!m_bStopRequested || m_bEndedListening) && !m_bLastFileContinued &&
        !m_bPlannedCuts &&
        (m_bEndReached || !m_bLastFileLoud) && m_splitter.IsShorterThanEndGap(m_nSongBytes)) {
        std::string strPath;
        {
            std::lock_guard<std::mutex> lock(m_csSession);
            strPath = m_strCurPath;
            if (!m_songFiles.empty()) m_songFiles.back().bDeleted = true;
        }
        std::remove(strPath.c_str());
        // The Cur File field names a file on disk: the last song kept, not the removed one.
        std::string strText = "Cur File: none";
        {
            std::lock_guard<std::mutex> lock(m_csSession);
            for (const RecordSongFile& file : m_songFiles)
                if (!file.bDeleted) strText = "Cur File: " + file.strFile;
            m_strCurFileText = strText;
        }
        m_window.SetStatusText(RecordStatusField::CurFile, strText);
    }

    m_pTransferBuffer.reset();

    if (!strDeviceError.empty()) ShowError(strDeviceError);
    if (!strCloseError.empty()) ShowError(strCloseError);
    if (m_bInputStalled && !m_bStallTold) {
        char sz[1024];
        std::snprintf(sz, sizeof sz,
                      "The sound card stopped delivering audio at %s.\nThe device may have been "
                      "unplugged, or the sound system has stopped.\nThe recording ends there; "
                      "every file up to that point is complete.\n",
                      m_strStallWhere.c_str());
        m_prompt.MessageBox(sz, kCaptionInputStopped, PromptButtons::Ok, PromptIcon::Exclamation);
    }
    ReportLostAudio();
}

// Tells the user where audio went missing: which file, at what time in it, how much.
void CRecordSession::ReportLostAudio()
{
    const std::vector<WaveInLoss>& losses = m_waveIn.GetLosses();
    if (losses.empty()) return;
    std::vector<RecordSongFile> files = GetSongFiles();
    int64_t nBytesPerFrame = (static_cast<int64_t>(m_nChannels) * m_nBits) / 8;
    if (m_nRate <= 0 || nBytesPerFrame <= 0) return;

    std::string strText;
    int nShown = 0;
    int64_t nTotalFrames = 0;   // frames known to be missing
    bool bOnlyPauses = true;    // every place is a pause of the sound card's clock
    for (const WaveInLoss& loss : losses) {
        // When the recording ended by itself (the end gap) or on a failure the user has
        // been told of, whatever went missing after its last byte, and whatever still
        // waited in the capture, lies past the end of the recording.
        const bool bEndedEarly = m_bEndReached || m_bWriteFailed || !m_strDeviceError.empty();
        if (bEndedEarly && (loss.kind == WaveInLossKind::NotCollected || loss.nStreamBytes >= m_nStreamBytes))
            continue;
        // A sound card that fell behind the clock may have paused (its own clock stalled,
        // nothing lost) or dropped audio: how much is missing, nobody can tell.
        const bool bPause = loss.kind == WaveInLossKind::ClockGap;
        if (!bPause) {
            nTotalFrames += loss.nFrames;
            bOnlyPauses = false;
        }
        if (++nShown > 10) continue;
        const RecordSongFile* pFile = files.empty() ? nullptr : &files.front();
        for (const RecordSongFile& file : files)
            if (file.nStartByte <= loss.nStreamBytes) pFile = &file;
        int64_t nAt = pFile ? (loss.nStreamBytes - pFile->nStartByte) / nBytesPerFrame / m_nRate : 0;
        const char* szFile = pFile ? pFile->strFile.c_str() : "the recording";
        char sz[1024];
        if (bPause) {
            std::snprintf(sz, sizeof sz,
                          "%s at %02lld:%02lld: the sound card fell %.2f s behind the clock "
                          "(audio may be missing there)\n",
                          szFile, static_cast<long long>(nAt / 60), static_cast<long long>(nAt % 60),
                          static_cast<double>(loss.nFrames) / m_nRate);
        } else {
            const char* szWhy = loss.kind == WaveInLossKind::RingOverrun ? "the recorder fell behind"
                                : loss.kind == WaveInLossKind::Overflow
                                    ? "the sound card reported an overflow"
                                    : "still in the capture buffer at the end";
            std::snprintf(sz, sizeof sz, "%.2f s in %s at %02lld:%02lld (%s)\n",
                          static_cast<double>(loss.nFrames) / m_nRate, szFile,
                          static_cast<long long>(nAt / 60), static_cast<long long>(nAt % 60), szWhy);
        }
        strText += sz;
    }
    if (nShown == 0) return;
    strText.insert(0, bOnlyPauses ? "Some audio may not have been recorded:\n"
                                  : "Some audio could not be recorded:\n");
    if (nShown > 10) strText += Format("... and %lld more places.\n", nShown - 10);
    if (nTotalFrames > 0) {
        char sz[128];
        std::snprintf(sz, sizeof sz, "In all %.2f seconds are missing.\n",
                      static_cast<double>(nTotalFrames) / m_nRate);
        strText += sz;
    }
    m_prompt.MessageBox(strText, "Audio Lost", PromptButtons::Ok, PromptIcon::Exclamation);
}

void CRecordSession::OnStop()
{
    m_window.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(m_csSession);
        m_bStopRequested = 1;
    }
    SleepMs(m_nStopWaitMs);
    m_window.SetWaitCursor(false);
}

// ---------------------------------------------------------------------------------------
// Readers

void CRecordSession::GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips)
{
    std::lock_guard<std::mutex> lock(m_csSession);
    CopyChannelLevels(nChannel, pnRms, pnPeak, pnClips);
}

bool CRecordSession::GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips,
                                      const std::atomic<bool>& bStopping)
{
    // A plain mutex has no timed wait: try, then sleep a millisecond, until had or told to stop.
    for (;;) {
        if (bStopping.load(std::memory_order_acquire)) return false;
        if (m_csSession.try_lock()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard<std::mutex> lock(m_csSession, std::adopt_lock);
    CopyChannelLevels(nChannel, pnRms, pnPeak, pnClips);
    return true;
}

// Caller holds the session lock.
void CRecordSession::CopyChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips)
{
    RecordLevelChannel& level = m_levels[nChannel == 1 ? 1 : 0];
    if (pnRms) *pnRms = level.nHeldRms;
    if (pnPeak) *pnPeak = level.nHeldPeak;
    if (pnClips) *pnClips = level.nClips;
    level.bRead = 1;
}

std::string CRecordSession::GetCurFileText() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_strCurFileText;
}
std::string CRecordSession::GetSongTimeText() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_strSongTime;
}
std::string CRecordSession::GetTotalTimeText() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_strTotalTime;
}
std::string CRecordSession::GetClippedText() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_strClipped;
}
int64_t CRecordSession::GetTotalBytes() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_nTotalBytes;
}
int64_t CRecordSession::GetSongBytes() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_nSongBytes;
}
std::vector<RecordSongFile> CRecordSession::GetSongFiles() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    return m_songFiles;
}

bool CRecordSession::IsListening(double* pfSecondsLeft) const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    if (pfSecondsLeft) *pfSecondsLeft = m_listener.ListenSecondsLeft();
    return m_bRecording && m_listener.IsListening();
}

std::vector<RecordResume> CRecordSession::GetResumes() const
{
    std::lock_guard<std::mutex> lock(m_csSession);
    std::vector<RecordResume> resumes;
    const int64_t nSampleBytes = m_nBits / 8;
    const int64_t nBytesPerSec = static_cast<int64_t>(m_nRate) * m_nChannels * nSampleBytes;
    if (nSampleBytes <= 0 || nBytesPerSec <= 0 || m_songFiles.empty()) return resumes;
    for (const CEndGapListener::Resume& r : m_listener.Resumes()) {
        const int64_t nAt = r.nSoundAt * nSampleBytes;
        const RecordSongFile* pFile = &m_songFiles.front();
        for (const RecordSongFile& file : m_songFiles)
            if (file.nStartByte <= nAt) pFile = &file;
        RecordResume resume;
        resume.strFile = pFile->strFile;
        resume.nFileSeconds = (nAt - pFile->nStartByte) / nBytesPerSec;
        resume.fSilenceSeconds = static_cast<double>(r.nSoundAt - r.nSilenceStart) * nSampleBytes / nBytesPerSec;
        resumes.push_back(resume);
    }
    return resumes;
}
