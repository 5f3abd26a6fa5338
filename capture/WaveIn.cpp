#include "capture/WaveIn.h"

#include "capture/FileSource.h"
#include "capture/LossQueue.h"
#include "capture/PortAudioSource.h"
#include "capture/WaveInSource.h"

#include <portaudio.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char kQueryError[] = "Sorry, sound card does not support this RECORD WAV format.\n";
const char kOpenError[] =
    "Error with sound card driver (cannot open RECORD device).\nPlease close program, reboot "
    "windows, and try again.\nIf the problem persists please contact the manufacturer!\n";
const char kMemoryError[] =
    "Not enough memory to create input data buffer.\nClose some programs and try again.\n";
const char kPrepareError[] = "Error with sound card driver (cannot prepare RECORD header).\n";
const char kStartError[] = "Error with sound card driver (cannot start RECORD device).\n";
const char kUnprepareError[] = "Error with sound card driver (cannot un-prepare RECORD header).\n";
const char kStopError[] = "Error with sound card driver (cannot stop RECORD device).\n";
const char kResetError[] = "Error with sound card driver (cannot reset RECORD device).\n";
const char kCloseError[] = "Error with sound card driver (cannot close RECORD device).\n";

// The formats a recording can be captured in: 16-bit integers or 32-bit floats, one or
// two channels, with a block align that matches.
bool IsCapturable(const WaveFormat& format)
{
    const bool bSample = (format.tag == 1 && format.bitsPerSample == 16) ||
                         (format.tag == 3 && format.bitsPerSample == 32);
    return bSample && (format.channels == 1 || format.channels == 2) && format.samplesPerSec > 0 &&
           format.blockAlign == format.channels * format.bitsPerSample / 8;
}

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::vector<CWaveInCaps*> g_waveInDevices;

void WaveInNotify(void*, uint32_t, void* pContext, uintptr_t, uintptr_t)
{
    if (pContext) static_cast<CAutoResetEvent*>(pContext)->Set();
}

// --- what the sources call, on the capture thread ---

int64_t CWaveInSink::Push(const void* pData, int64_t nBytes)
{
    CWaveIn& w = m_waveIn;
    w.m_nLastInputNs.store(NowNs(), std::memory_order_relaxed);
    const int64_t nPosition = w.m_ring.WritePosition();
    const int64_t nTaken = w.m_ring.Write(pData, nBytes);
    if (nTaken < nBytes) {
        const int64_t nFrames = (nBytes - nTaken) / std::max<int32_t>(1, w.m_format.blockAlign);
        w.m_nDroppedFrames.fetch_add(nFrames, std::memory_order_relaxed);
        w.QueueLoss(WaveInLossKind::RingOverrun, nPosition + nTaken, nFrames);
    } else if (w.m_pendingLoss.nFrames > 0) {
        // The stream has moved on: the loss pending at the old position is complete.
        w.QueueLoss(WaveInLossKind::RingOverrun, nPosition + nTaken, 0);
    }
    // Complete blocks now unless the consumer holds the lock: it completes them itself
    // before it lets go, and the next period tries again.
    std::unique_lock<std::mutex> lock(w.m_mtxHandout, std::try_to_lock);
    if (lock.owns_lock()) {
        w.CompleteLocked();
        w.RemindLocked();
    }
    return nTaken;
}

bool CWaveInSink::PushWait(const void* pData, int64_t nBytes)
{
    CWaveIn& w = m_waveIn;
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    std::unique_lock<std::mutex> lock(w.m_mtxHandout);
    while (nBytes > 0) {
        // A full ring is left to drain to half before the source goes on: woken for
        // every block taken, it would switch threads once a block. (The ring holds at
        // least four blocks, and the consumer takes whole blocks, so half always comes.)
        const int64_t nWanted = std::max<int64_t>(w.m_ring.Capacity() / 2, 1);
        if (w.m_ring.Free() <= 0) {
            w.m_nSpaceWanted = nWanted;
            while (!w.m_bStopping && w.m_ring.Free() < nWanted) {
                if (w.m_cvSpace.wait_for(lock, std::chrono::milliseconds(100)) == std::cv_status::timeout)
                    w.RemindLocked();
            }
            w.m_nSpaceWanted = 0;
        }
        if (w.m_bStopping) return false;
        w.m_nLastInputNs.store(NowNs(), std::memory_order_relaxed);
        const int64_t nTaken = w.m_ring.Write(p, nBytes);
        p += nTaken;
        nBytes -= nTaken;
        w.CompleteLocked();
    }
    return true;
}

void CWaveInSink::ReportMissing(int64_t nFrames, int64_t nStreamBytes, bool bOverflow)
{
    m_waveIn.m_nMissingFrames.fetch_add(nFrames, std::memory_order_relaxed);
    m_waveIn.QueueLoss(bOverflow ? WaveInLossKind::Overflow : WaveInLossKind::ClockGap, nStreamBytes, nFrames);
}

void CWaveInSink::ReportMended(int64_t nSamples, int64_t nFirstByte)
{
    if (nSamples <= 0) return;
    if (m_waveIn.m_nMendedSamples.fetch_add(nSamples, std::memory_order_relaxed) == 0)
        m_waveIn.m_nFirstMendedByte.store(nFirstByte, std::memory_order_relaxed);
}

void CWaveInSink::ReportReadError(const std::string& strText)
{
    std::lock_guard<std::mutex> lock(m_waveIn.m_mtxReadError);
    if (m_waveIn.m_strReadError.empty()) m_waveIn.m_strReadError = strText;
}

void CWaveInSink::EndOfStream()
{
    CWaveIn& w = m_waveIn;
    w.m_bSourceEnded = true;
    std::unique_lock<std::mutex> lock(w.m_mtxHandout);
    w.CompleteLocked();
    // Stay until the last block has been collected (or the device stops), repeating the
    // notification in case the consumer's event was reset after it was given.
    while (!w.m_bStopping && (w.m_bufferState[0] == CWaveIn::BufferState::Done ||
                              w.m_bufferState[1] == CWaveIn::BufferState::Done || !w.m_bEndBlockDone)) {
        if (w.m_cvSpace.wait_for(lock, std::chrono::milliseconds(100)) == std::cv_status::timeout) {
            w.CompleteLocked();
            w.RemindLocked();
        }
    }
}

int64_t CWaveInSink::StreamPosition() const { return m_waveIn.m_ring.WritePosition(); }

void CWaveInSink::GetTestDiscard(int64_t* pnAfter, int64_t* pnFrames, bool* pbFlagged) const
{
    *pnAfter = m_waveIn.m_nTestDiscardAfter.load(std::memory_order_relaxed);
    *pnFrames = m_waveIn.m_nTestDiscardFrames.load(std::memory_order_relaxed);
    *pbFlagged = m_waveIn.m_bTestDiscardFlagged.load(std::memory_order_relaxed);
}

void CWaveInSink::BeginCaptureThread()
{
    pthread_setname_np(pthread_self(), "cadenzo-capture");
    // On Linux a nice value belongs to one thread: this raises the calling thread only.
    if (m_waveIn.m_bRaisePriority.load(std::memory_order_relaxed))
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -10);
}

// --- the capture device ---

CWaveIn::CWaveIn()
    : m_nDevice(-1), m_bFilePaced(false), m_nBufferBytes{0, 0}, m_nCurrent(0), m_nBufferSize(0),
      m_nLastBytes(0), m_bError(0), m_szError{}, m_state(State::Closed), m_pNotify(nullptr),
      m_pContext(nullptr), m_pSink(new CWaveInSink(*this)),
      m_bufferState{BufferState::Idle, BufferState::Idle}, m_nRecorded{0, 0}, m_nFillTarget(0),
      m_bEndBlockDone(false), m_bSourceEnded(false), m_bStopping(false),
      m_pLossQueue(new CLossQueue), m_nTestDiscardAfter(0), m_nTestDiscardFrames(0),
      m_nDelivered(0), m_fRingSeconds(5.0), m_nDroppedFrames(0), m_nMissingFrames(0),
      m_nMendedSamples(0), m_nFirstMendedByte(-1)
{
}

CWaveIn::~CWaveIn()
{
    if (m_pSource) {
        m_bStopping = true;
        {
            std::lock_guard<std::mutex> lock(m_mtxHandout);
            m_cvSpace.notify_all();
        }
        m_pSource->Stop();
        m_pSource->Close();
        m_pSource.reset();
    }
}

void CWaveIn::SetError(const char* szText)
{
    m_bError = 1;
    std::snprintf(m_szError, sizeof m_szError, "%s", szText);
}

void CWaveIn::Notify(uint32_t nMessage)
{
    if (m_pNotify) m_pNotify(this, nMessage, m_pContext, 0, 0);
}

void CWaveIn::SetDevice(int32_t nDevice)
{
    ClearError();
    m_nDevice = nDevice;
}

void CWaveIn::UseFileSource(const char* szPath, bool bPaced)
{
    ClearError();
    if (m_state != State::Closed) {
        SetError(kOpenError);
        return;
    }
    std::string strError;
    if (!szPath || !*szPath) {
        SetError("No input file given.\n");
        return;
    }
    if (!ProbeFile(szPath, nullptr, &strError)) {
        SetError(strError.c_str());
        return;
    }
    m_strFilePath = szPath;
    m_bFilePaced = bPaced;
}

void CWaveIn::UseSoundCard()
{
    ClearError();
    if (m_state != State::Closed) {
        SetError(kOpenError);
        return;
    }
    m_strFilePath.clear();
}

bool CWaveIn::ProbeFile(const char* szPath, WaveInFileInfo* pInfo, std::string* pstrError)
{
    return CFileSource::Probe(szPath ? szPath : "", pInfo, pstrError);
}

void CWaveIn::QueryFormat(const WaveFormat& format)
{
    ClearError();
    bool bSupported = false;
    if (IsCapturable(format)) {
        if (IsFileSource()) bSupported = CFileSource(m_strFilePath, m_bFilePaced).Query(m_nDevice, format);
        else bSupported = CPortAudioSource().Query(m_nDevice, format);
    }
    if (!bSupported) SetError(kQueryError);
}

void CWaveIn::Open(const WaveFormat& format, WaveInNotifyProc pNotify, void* pContext, uint32_t)
{
    ClearError();
    if (m_state != State::Closed || !IsCapturable(format)) {
        SetError(kOpenError);
        return;
    }
    std::unique_ptr<IWaveInSource> pSource;
    if (IsFileSource()) pSource.reset(new (std::nothrow) CFileSource(m_strFilePath, m_bFilePaced));
    else pSource.reset(new (std::nothrow) CPortAudioSource);
    // The format must be in place before the source can push anything.
    m_format = format;
    std::string strError;
    if (!pSource || !pSource->Open(m_nDevice, format, m_pSink.get(), &strError)) {
        SetError(strError.empty() ? kOpenError : strError.c_str());
        return;
    }
    m_pSource = std::move(pSource);
    m_pNotify = pNotify;
    m_pContext = pContext;
    m_state = State::Open;
    Notify(WIM_OPEN);
}

void CWaveIn::AllocateBuffers(int32_t nBytes)
{
    ClearError();
    if (m_state == State::Running) {
        // The capture thread is filling them: they cannot change now.
        SetError(kMemoryError);
        return;
    }
    m_nCurrent = 1;
    m_nBufferSize = nBytes;
    if (nBytes <= 0) {
        SetError(kMemoryError);
        return;
    }
    for (int i = 0; i < 2; ++i) {
        if (m_pBuffer[i] && m_nBufferBytes[i] >= nBytes) continue;
        m_pBuffer[i].reset(new (std::nothrow) uint8_t[static_cast<size_t>(nBytes)]);
        m_nBufferBytes[i] = m_pBuffer[i] ? nBytes : 0;
        if (!m_pBuffer[i]) {
            SetError(kMemoryError);
            return;
        }
    }
    if (m_state != State::Closed) {
        // Seconds of audio between the capture thread and the two buffers, and never less
        // than a few blocks.
        const double fBytes = std::ceil(m_fRingSeconds * m_format.avgBytesPerSec);
        const int64_t nRing = std::max<int64_t>(static_cast<int64_t>(fBytes), 4LL * nBytes);
        if (!m_ring.Allocate(nRing + m_format.blockAlign - 1, m_format.blockAlign)) SetError(kMemoryError);
    }
}

int64_t CWaveIn::GetRingBytes() const { return m_ring.Capacity(); }

double CWaveIn::GetInputIdleSeconds() const
{
    // A file is read as fast as it comes; a slow disk or pipe is no stalled sound card.
    if (m_state != State::Running || IsFileSource()) return 0.0;
    return static_cast<double>(NowNs() - m_nLastInputNs.load(std::memory_order_relaxed)) * 1e-9;
}

int64_t CWaveIn::GetHeldBytes()
{
    std::lock_guard<std::mutex> lock(m_mtxHandout);
    int64_t nHeld = m_ring.Available();
    for (int i = 0; i < 2; ++i)
        if (m_bufferState[i] == BufferState::Done) nHeld += m_nRecorded[i];
    return nHeld;
}

void CWaveIn::Start()
{
    ClearError();
    if (m_state != State::Open || m_nBufferSize <= 0 || m_nBufferBytes[0] < m_nBufferSize ||
        m_nBufferBytes[1] < m_nBufferSize) {
        SetError(kPrepareError);
        return;
    }
    if (m_ring.Capacity() < m_nBufferSize) {
        AllocateBuffers(m_nBufferSize);
        if (HasError()) {
            ClearError();
            SetError(kPrepareError);
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        m_ring.Reset();
        m_bufferState[0] = m_bufferState[1] = BufferState::Queued;
        m_nRecorded[0] = m_nRecorded[1] = 0;
        m_nFillTarget = 0;
        m_bEndBlockDone = false;
        m_bSourceEnded = false;
        m_bStopping = false;
    }
    m_nCurrent = 0;
    m_nDelivered = 0;
    m_nLastBytes = 0;
    m_pLossQueue->Clear();
    m_pendingLoss = WaveInLoss{};
    m_losses.clear();
    m_nDroppedFrames = 0;
    m_nMissingFrames = 0;
    m_nLastInputNs = NowNs();
    m_nMendedSamples = 0;
    m_nFirstMendedByte = -1;
    {
        std::lock_guard<std::mutex> lock(m_mtxReadError);
        m_strReadError.clear();
    }
    if (!m_pSource->Start()) {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        m_bufferState[0] = m_bufferState[1] = BufferState::Idle;
        SetError(kStartError);
        return;
    }
    m_state = State::Running;
}

void CWaveIn::CompleteLocked()
{
    for (;;) {
        const int32_t i = m_nFillTarget;
        if (m_bufferState[i] != BufferState::Queued) return;
        const int64_t nAvailable = m_ring.Available();
        if (nAvailable >= m_nBufferSize) {
            m_nRecorded[i] = m_nBufferSize;
        } else if (m_bSourceEnded.load() && !m_bEndBlockDone) {
            // The end of the stream: one short block, possibly empty, and nothing after it.
            m_nRecorded[i] = static_cast<int32_t>(nAvailable);
            m_bEndBlockDone = true;
        } else {
            return;
        }
        m_ring.Read(m_pBuffer[i].get(), m_nRecorded[i]);
        m_bufferState[i] = BufferState::Done;
        m_nFillTarget = i ^ 1;
        if (m_ring.Free() >= m_nSpaceWanted) m_cvSpace.notify_all();
        Notify(WIM_DATA);
    }
}

void CWaveIn::RemindLocked()
{
    // Safe only when the consumer, once it has taken the current buffer, either finds the
    // other one complete too or has reached the end of the stream: so no wake-up it gets
    // can ever find an empty buffer.
    const int32_t i = m_nCurrent;
    if (m_bufferState[i] == BufferState::Done &&
        (m_bufferState[i ^ 1] == BufferState::Done || m_bEndBlockDone))
        Notify(WIM_DATA);
}

int32_t CWaveIn::GetNextBuffer(void* pDest)
{
    ClearError();
    const int32_t i = m_nCurrent;
    int32_t nBytes = 0;
    {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        if ((m_state != State::Running && m_state != State::Stopped) ||
            m_bufferState[i] != BufferState::Done) {
            // Still queued (or never queued): it cannot be taken back from the device.
            SetError(kUnprepareError);
            m_nLastBytes = 0;
            return 0;
        }
        nBytes = m_nRecorded[i];
    }
    // A completed buffer is the consumer's until it is queued again.
    if (pDest && nBytes > 0) std::memcpy(pDest, m_pBuffer[i].get(), static_cast<size_t>(nBytes));
    {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        m_bufferState[i] = m_state == State::Running ? BufferState::Queued : BufferState::Idle;
        m_nCurrent = i ^ 1;
        m_nDelivered += nBytes;
        m_nLastBytes = nBytes;
        if (m_state == State::Running) CompleteLocked();
        // The other buffer may have been completed while this one was out; its notification
        // may have merged with the one that brought us here, so give it again.
        if (m_bufferState[m_nCurrent] == BufferState::Done) Notify(WIM_DATA);
    }
    CollectLosses();
    return nBytes;
}

int32_t CWaveIn::TakeStoppedLocked(void* pDest)
{
    const int32_t i = m_nCurrent;
    int32_t nBytes = 0;
    if (m_bufferState[i] == BufferState::Done) {
        nBytes = m_nRecorded[i];
        if (pDest && nBytes > 0) std::memcpy(pDest, m_pBuffer[i].get(), static_cast<size_t>(nBytes));
        m_bufferState[i] = BufferState::Idle;
        m_nCurrent = i ^ 1;
    } else {
        // Completed blocks come before anything still in the ring.
        nBytes = static_cast<int32_t>(std::min<int64_t>(m_nBufferSize, m_ring.Available()));
        if (nBytes > 0) {
            if (pDest) m_ring.Read(pDest, nBytes);
            else m_ring.Read(m_pBuffer[i].get(), nBytes);
        }
    }
    m_nDelivered += nBytes;
    m_nLastBytes = nBytes;
    return nBytes;
}

int32_t CWaveIn::Stop(void* pDest)
{
    ClearError();
    if (m_state == State::Closed) {
        SetError(kStopError);
        return 0;
    }
    if (m_state == State::Open) {
        // Never started: nothing was recorded.
        m_nLastBytes = 0;
        return 0;
    }
    if (m_state == State::Running) {
        m_bStopping = true;
        {
            std::lock_guard<std::mutex> lock(m_mtxHandout);
            m_cvSpace.notify_all();
        }
        if (!m_pSource->Stop()) {
            SetError(kStopError);
            m_nLastBytes = 0;
            return 0;
        }
        m_state = State::Stopped;
        FlushPendingLoss();  // the capture thread is done
    }
    int32_t nBytes;
    {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        nBytes = TakeStoppedLocked(pDest);
    }
    CollectLosses();
    return nBytes;
}

int32_t CWaveIn::Drain(void* pDest)
{
    ClearError();
    if (m_state != State::Stopped) return 0;
    int32_t nBytes;
    {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        nBytes = TakeStoppedLocked(pDest);
    }
    CollectLosses();
    return nBytes;
}

void CWaveIn::Close()
{
    ClearError();
    if (m_state == State::Closed || !m_pSource) {
        // Nothing is open: both the reset and the close fail, and the close is what is said.
        SetError(kResetError);
        SetError(kCloseError);
        m_state = State::Closed;
        return;
    }
    if (m_state == State::Running) {
        m_bStopping = true;
        {
            std::lock_guard<std::mutex> lock(m_mtxHandout);
            m_cvSpace.notify_all();
        }
        if (!m_pSource->Stop()) SetError(kResetError);
    }
    if (!m_pSource->Close()) SetError(kCloseError);
    FlushPendingLoss();  // the capture thread is done
    CollectLosses();
    {
        std::lock_guard<std::mutex> lock(m_mtxHandout);
        if (m_state == State::Running || m_state == State::Stopped) {
            int64_t nHeld = m_ring.Available();
            for (int i = 0; i < 2; ++i)
                if (m_bufferState[i] == BufferState::Done) nHeld += m_nRecorded[i];
            if (nHeld > 0)
                AddLoss(WaveInLoss{WaveInLossKind::NotCollected, m_nDelivered,
                                   nHeld / std::max<int32_t>(1, m_format.blockAlign)});
        }
        m_bufferState[0] = m_bufferState[1] = BufferState::Idle;
        m_ring.Reset();
    }
    m_pSource.reset();
    m_state = State::Closed;
    Notify(WIM_CLOSE);
}

void CWaveIn::AddLoss(const WaveInLoss& loss)
{
    if (loss.nFrames <= 0) return;
    for (auto it = m_losses.rbegin(); it != m_losses.rend(); ++it) {
        if (it->kind == loss.kind && it->nStreamBytes == loss.nStreamBytes) {
            it->nFrames += loss.nFrames;
            return;
        }
        if (it->nStreamBytes < loss.nStreamBytes) break;
    }
    // Keep stream order: reports of different kinds may arrive out of order.
    auto it = m_losses.end();
    while (it != m_losses.begin() && (it - 1)->nStreamBytes > loss.nStreamBytes) --it;
    m_losses.insert(it, loss);
}

void CWaveIn::QueueLoss(WaveInLossKind kind, int64_t nStreamBytes, int64_t nFrames)
{
    // A full ring drops period after period at one position: add them up here, so that
    // one report says it all and the queue never fills with pieces of one loss.
    if (m_pendingLoss.nFrames > 0 && m_pendingLoss.kind == kind && m_pendingLoss.nStreamBytes == nStreamBytes) {
        m_pendingLoss.nFrames += nFrames;
        return;
    }
    if (m_pendingLoss.nFrames > 0)
        m_pLossQueue->Push(m_pendingLoss.kind, m_pendingLoss.nStreamBytes, m_pendingLoss.nFrames);
    m_pendingLoss = WaveInLoss{kind, nStreamBytes, nFrames};
}

void CWaveIn::FlushPendingLoss()
{
    if (m_pendingLoss.nFrames > 0)
        m_pLossQueue->Push(m_pendingLoss.kind, m_pendingLoss.nStreamBytes, m_pendingLoss.nFrames);
    m_pendingLoss = WaveInLoss{};
}

void CWaveIn::CollectLosses()
{
    WaveInLoss loss;
    while (m_pLossQueue->Pop(&loss)) AddLoss(loss);
}

std::string CWaveIn::GetReadError() const
{
    std::lock_guard<std::mutex> lock(m_mtxReadError);
    return m_strReadError;
}

const std::vector<WaveInLoss>& CWaveIn::GetLosses()
{
    CollectLosses();
    return m_losses;
}

// --- the device list ---

int EnumerateDevices()
{
    const bool bInitialized = CPortAudioSource::Initialize();
    const std::vector<int> devices = bInitialized ? CPortAudioSource::InputDevices() : std::vector<int>();
    int nResult = 1;
    for (int nIndex : devices) {
        CWaveInCaps* pCaps = new (std::nothrow) CWaveInCaps;
        if (!pCaps) {
            nResult = 0;
            break;
        }
        const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(nIndex);
        if (pInfo) {
            pCaps->m_nManufacturerId = static_cast<uint16_t>(pInfo->hostApi);
            pCaps->m_nProductId = static_cast<uint16_t>(nIndex);
            pCaps->m_nDriverVersion = static_cast<uint32_t>(Pa_GetVersion());
            std::snprintf(pCaps->m_szName, sizeof pCaps->m_szName, "%s", pInfo->name ? pInfo->name : "");
            pCaps->m_nChannels = static_cast<uint16_t>(std::min(pInfo->maxInputChannels, 2));
            // The standard 16-bit formats, as the device answers for them.
            static const struct { double fRate; int nChannels; uint32_t nBit; } formats[] = {
                {11025, 1, 0x4},   {11025, 2, 0x8},   {22050, 1, 0x40},  {22050, 2, 0x80},
                {44100, 1, 0x400}, {44100, 2, 0x800}, {48000, 1, 0x4000}, {48000, 2, 0x8000}};
            for (const auto& f : formats) {
                if (f.nChannels > pInfo->maxInputChannels) continue;
                PaStreamParameters params{};
                params.device = nIndex;
                params.channelCount = f.nChannels;
                params.sampleFormat = paInt16;
                params.suggestedLatency = pInfo->defaultHighInputLatency;
                if (Pa_IsFormatSupported(&params, nullptr, f.fRate) == paFormatIsSupported)
                    pCaps->m_nFormats |= f.nBit;
            }
        }
        g_waveInDevices.push_back(pCaps);
    }
    if (bInitialized) CPortAudioSource::Terminate();
    return nResult;
}

void ClearDevices()
{
    for (CWaveInCaps* pCaps : g_waveInDevices) delete pCaps;
    g_waveInDevices.clear();
}

int32_t GetDeviceCount() { return static_cast<int32_t>(g_waveInDevices.size()); }

CWaveInCaps* GetDeviceAt(int32_t nIndex)
{
    if (nIndex < 0 || nIndex >= GetDeviceCount()) return nullptr;
    return g_waveInDevices[static_cast<size_t>(nIndex)];
}
