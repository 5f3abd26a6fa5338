#include "capture/PortAudioSource.h"

#include "capture/SampleMend.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

// What the callback reaches its source through. It lives as long as the stream, which
// may outlive the source when a stop had to be given up (see Stop()).
struct CPortAudioSource::Link {
    std::mutex mtx;                       // held by the callback while it delivers
    CPortAudioSource* pOwner = nullptr;   // null: the callback delivers nothing more
};

namespace {

// Each period brings a twentieth of a second, so the meters follow the music closely.
// Behind the periods the sound server keeps up to three seconds of input for the stream
// (the stream's buffer, which ALSA's pulse device makes of the latency asked for): a
// machine busy with other work for a second or two then delays the audio but loses none
// of it. With a buffer of two short periods, any stall of the capture thread longer than
// those lost audio on a loaded desktop.
constexpr double kPeriodSeconds = 0.05;
constexpr double kBufferSeconds = 3.0;
// A device that grants less than this is used all the same (the clock check reports what
// its stalls lose), but the user is told once why audio may go missing.
constexpr double kShortBufferSeconds = 1.0;
// How long Stop() waits for PortAudio before it leaves the stream to stop by itself.
constexpr auto kStopWait = std::chrono::seconds(1);

// One Pa_StopStream running on a thread of its own.
struct StreamStopper {
    std::mutex mtx;
    std::condition_variable cv;
    bool bDone = false;
    PaError err = paNoError;
    PaStream* pStream = nullptr;
    CPortAudioSource::Link* pLink = nullptr;
};

// Stops whose wait was given up, with their streams and links. They are never closed or
// freed: closing a stream, or ending PortAudio, while its stop may still run on another
// thread is not safe, and a hung server may never let go. A few kilobytes per stall.
std::mutex g_mtxAbandoned;
std::vector<std::shared_ptr<StreamStopper>> g_abandoned;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

// Done once per process, before the first initialisation: devices that are absent make
// ALSA and JACK print a screenful, which is no news to the user of a recorder.
void SilenceAudioLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 0);
        snd_lib_error_set_handler(QuietAlsa);
        using SetFn = void (*)(void (*)(const char*));
        if (auto pSetError = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, "jack_set_error_function")))
            pSetError(QuietJack);
        if (auto pSetInfo = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, "jack_set_info_function")))
            pSetInfo(QuietJack);
    });
}

double NowSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CPortAudioSource::~CPortAudioSource() { Close(); }

bool CPortAudioSource::Initialize()
{
    SilenceAudioLibraries();
    return Pa_Initialize() == paNoError;
}

void CPortAudioSource::Terminate() { Pa_Terminate(); }

std::vector<int> CPortAudioSource::InputDevices()
{
    std::vector<int> devices;
    const int nCount = Pa_GetDeviceCount();
    for (int i = 0; i < nCount; ++i) {
        const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
        if (pInfo && pInfo->maxInputChannels > 0) devices.push_back(i);
    }
    return devices;
}

int CPortAudioSource::ResolveDevice(int32_t nDevice)
{
    if (nDevice == -1) {
        const PaDeviceIndex nDefault = Pa_GetDefaultInputDevice();
        return nDefault == paNoDevice ? -1 : nDefault;
    }
    const std::vector<int> devices = InputDevices();
    if (nDevice < 0 || nDevice >= static_cast<int32_t>(devices.size())) return -1;
    return devices[static_cast<size_t>(nDevice)];
}

bool CPortAudioSource::MakeParameters(int nIndex, const WaveFormat& format, void* pParams,
                                      bool* pbMono)
{
    const PaDeviceInfo* pInfo = nIndex >= 0 ? Pa_GetDeviceInfo(nIndex) : nullptr;
    if (!pInfo || pInfo->maxInputChannels <= 0) return false;
    PaSampleFormat sampleFormat;
    if (format.tag == 1 && format.bitsPerSample == 16) sampleFormat = paInt16;
    else if (format.tag == 3 && format.bitsPerSample == 32) sampleFormat = paFloat32;
    else return false;
    if (format.channels < 1 || format.channels > 2 || format.samplesPerSec == 0) return false;

    int nChannels = format.channels;
    *pbMono = false;
    if (nChannels == 2 && pInfo->maxInputChannels == 1) {
        nChannels = 1;
        *pbMono = true;
    }
    PaStreamParameters& params = *static_cast<PaStreamParameters*>(pParams);
    std::memset(&params, 0, sizeof params);
    params.device = nIndex;
    params.channelCount = nChannels;
    params.sampleFormat = sampleFormat;
    params.suggestedLatency = std::max(pInfo->defaultHighInputLatency, kBufferSeconds);
    params.hostApiSpecificStreamInfo = nullptr;
    return true;
}

bool CPortAudioSource::Query(int32_t nDevice, const WaveFormat& format)
{
    if (!Initialize()) return false;
    PaStreamParameters params;
    bool bMono = false;
    bool bSupported = false;
    if (MakeParameters(ResolveDevice(nDevice), format, &params, &bMono))
        bSupported = Pa_IsFormatSupported(&params, nullptr, format.samplesPerSec) == paFormatIsSupported;
    Terminate();
    return bSupported;
}

bool CPortAudioSource::Open(int32_t nDevice, const WaveFormat& format, CWaveInSink* pSink,
                            std::string*)
{
    Close();
    if (!Initialize()) return false;
    m_bInitialized = true;
    PaStreamParameters params;
    if (!MakeParameters(ResolveDevice(nDevice), format, &params, &m_bMono)) {
        Close();
        return false;
    }
    m_pSink = pSink;
    m_nRate = static_cast<int32_t>(format.samplesPerSec);
    m_nSampleBytes = format.bitsPerSample / 8;
    m_nFrameBytes = m_nSampleBytes * format.channels;
    const unsigned long nPeriod =
        std::max(64ul, static_cast<unsigned long>(format.samplesPerSec * kPeriodSeconds));
    // Everything the callback needs is sized here from the frames it is given: PortAudio
    // hands the callback exactly nPeriod frames, and a longer call would be taken in pieces
    // of that size, so the callback never allocates.
    m_nPieceFrames = static_cast<int64_t>(nPeriod);
    const int64_t nInChannels = m_bMono ? 1 : 2;
    try {
        if (format.tag == 3) m_mended.assign(static_cast<size_t>(m_nPieceFrames * nInChannels), 0.0f);
    } catch (const std::bad_alloc&) {
        Close();
        return false;
    }
    if (m_bMono) {
        m_pScratch.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_nPieceFrames * m_nFrameBytes)]);
        if (!m_pScratch) {
            Close();
            return false;
        }
    }
    m_pLink = new (std::nothrow) Link;
    if (!m_pLink) {
        Close();
        return false;
    }
    m_pLink->pOwner = this;
    // PortAudio's ALSA layer splits the buffer into this many periods: as many as make
    // periods of the length asked for (it uses four, a quarter of the buffer, otherwise).
    PaAlsa_SetNumPeriods(static_cast<int>(std::lround(kBufferSeconds / kPeriodSeconds)));
    PaStream* pStream = nullptr;
    const PaError err = Pa_OpenStream(&pStream, &params, nullptr, format.samplesPerSec, nPeriod,
                                      paNoFlag, reinterpret_cast<PaStreamCallback*>(&StreamCallback),
                                      m_pLink);
    if (err != paNoError) {
        Close();
        return false;
    }
    m_pStream = pStream;
    const PaStreamInfo* pStreamInfo = Pa_GetStreamInfo(pStream);
    m_fBufferSeconds = pStreamInfo ? pStreamInfo->inputLatency : 0.0;
    static std::once_flag toldShort;
    if (m_fBufferSeconds < kShortBufferSeconds) {
        std::call_once(toldShort, [this] {
            std::fprintf(stderr,
                         "cadenzo: the sound card keeps only %.2f s of input for the recorder (%.0f s asked): "
                         "if this machine is busy for longer, audio is lost (and reported).\n",
                         m_fBufferSeconds, kBufferSeconds);
        });
    }
    return true;
}

bool CPortAudioSource::Start()
{
    if (!m_pStream) return false;
    m_clock.Start(m_nRate);
    m_nReceived = 0;
    m_nDiscarded = 0;
    m_bFlagPending = false;
    m_bPriorityDone = false;
    {
        std::lock_guard<std::mutex> lock(m_pLink->mtx);
        m_pLink->pOwner = this;
    }
    if (Pa_StartStream(static_cast<PaStream*>(m_pStream)) != paNoError) return false;
    m_bRunning = true;
    return true;
}

bool CPortAudioSource::Stop()
{
    if (m_bAbandoned) return true;
    if (!m_pStream) return false;
    if (!m_bRunning) return true;
    // Cut the callback off first (waiting for one that is delivering): nothing is pushed
    // after this, whatever PortAudio does next.
    {
        std::lock_guard<std::mutex> lock(m_pLink->mtx);
        m_pLink->pOwner = nullptr;
    }
    auto pStopper = std::make_shared<StreamStopper>();
    pStopper->pStream = static_cast<PaStream*>(m_pStream);
    pStopper->pLink = m_pLink;
    try {
        std::thread([pStopper] {
            const PaError err = Pa_StopStream(pStopper->pStream);
            std::lock_guard<std::mutex> lock(pStopper->mtx);
            pStopper->err = err;
            pStopper->bDone = true;
            pStopper->cv.notify_all();
        }).detach();
    } catch (...) {
        pStopper->err = Pa_StopStream(pStopper->pStream);
        pStopper->bDone = true;
    }
    std::unique_lock<std::mutex> lock(pStopper->mtx);
    if (!pStopper->cv.wait_for(lock, kStopWait, [&] { return pStopper->bDone; })) {
        // The sound system does not let go. Leave the stream, its link and this source's
        // PortAudio initialisation to the stopper, and carry on as stopped.
        lock.unlock();
        {
            std::lock_guard<std::mutex> guard(g_mtxAbandoned);
            g_abandoned.push_back(pStopper);
        }
        m_pStream = nullptr;
        m_pLink = nullptr;
        m_bInitialized = false;
        m_bRunning = false;
        m_bAbandoned = true;
        return true;
    }
    if (pStopper->err != paNoError && pStopper->err != paStreamIsStopped) return false;
    m_bRunning = false;
    return true;
}

bool CPortAudioSource::Close()
{
    if (m_bAbandoned) {
        // Stop() left the stream behind; there is nothing more to close here.
        m_bAbandoned = false;
        m_pScratch.reset();
        m_pSink = nullptr;
        return true;
    }
    bool bOk = true;
    if (m_pStream) {
        PaStream* pStream = static_cast<PaStream*>(m_pStream);
        if (m_bRunning && Pa_AbortStream(pStream) != paNoError) bOk = false;
        m_bRunning = false;
        if (Pa_CloseStream(pStream) != paNoError) bOk = false;
        m_pStream = nullptr;
    } else {
        bOk = false;
    }
    delete m_pLink;
    m_pLink = nullptr;
    if (m_bInitialized) {
        Terminate();
        m_bInitialized = false;
    }
    m_pScratch.reset();
    m_mended.clear();
    m_pSink = nullptr;
    return bOk;
}

int CPortAudioSource::StreamCallback(const void* pInput, void*, unsigned long nFrames,
                                     const void*, unsigned long nStatus, void* pUser)
{
    Link* pLink = static_cast<Link*>(pUser);
    std::lock_guard<std::mutex> lock(pLink->mtx);
    CPortAudioSource* pSource = pLink->pOwner;
    if (!pSource) return paComplete;
    // Test hook: frames thrown away by the previous call are reported as PortAudio reports
    // an overrun, with the flag in the status.
    if (pSource->m_bFlagPending) {
        pSource->m_bFlagPending = false;
        nStatus |= paInputOverflow;
    }
    pSource->OnCapture(pInput, nFrames, (nStatus & paInputOverflow) != 0);
    return paContinue;
}

void CPortAudioSource::OnCapture(const void* pInput, unsigned long nFramesIn, bool bOverflow)
{
    const double fNow = NowSeconds();
    if (!m_bPriorityDone) {
        m_bPriorityDone = true;
        m_pSink->BeginCaptureThread();
    }
    const int64_t nFrames = static_cast<int64_t>(nFramesIn);
    const uint8_t* pIn = static_cast<const uint8_t*>(pInput);

    // Test hook: lose frames here as a sound server would, unseen by anyone but the clock,
    // or with the overflow flag on the next callback (see StreamCallback).
    int64_t nKeepFirst = nFrames, nSkip = 0;
    int64_t nAfter = 0, nDiscard = 0;
    bool bFlagged = false;
    m_pSink->GetTestDiscard(&nAfter, &nDiscard, &bFlagged);
    if (nDiscard > m_nDiscarded && m_nReceived + nFrames > nAfter) {
        nKeepFirst = std::max<int64_t>(0, nAfter - m_nReceived);
        nSkip = std::min(nFrames - nKeepFirst, nDiscard - m_nDiscarded);
        m_nDiscarded += nSkip;
        m_bFlagPending = bFlagged && m_nDiscarded >= nDiscard;
    }
    m_nReceived += nFrames;

    // An overflow belongs before this callback's frames; the clock says how much it took.
    int64_t nWhere = 0;
    const int64_t nMissing =
        m_clock.Update(fNow, nFrames - nSkip, m_pSink->StreamPosition(), &nWhere, bOverflow);
    if (nMissing > 0) m_pSink->ReportMissing(nMissing, nWhere, bOverflow);

    const int32_t nInFrameBytes = m_bMono ? m_nSampleBytes : m_nFrameBytes;
    PushFrames(pIn, nKeepFirst);
    PushFrames(pIn ? pIn + (nKeepFirst + nSkip) * nInFrameBytes : nullptr, nFrames - nKeepFirst - nSkip);
}

const uint8_t* CPortAudioSource::MendedInput(const uint8_t* pIn, int64_t nFrames)
{
    if (m_mended.empty()) return pIn;
    const int64_t nChannels = m_bMono ? 1 : 2;
    const int64_t nSamples = nFrames * nChannels;
    const float* pFloats = reinterpret_cast<const float*>(pIn);
    if (FirstToMend(pFloats, nSamples) < 0) return pIn;
    std::copy(pFloats, pFloats + nSamples, m_mended.begin());
    const SampleMendResult mended = MendFloatSamples(m_mended.data(), nSamples);
    m_pSink->ReportMended(mended.nReplaced, m_pSink->StreamPosition() +
                                                (mended.nFirst / nChannels) * m_nFrameBytes +
                                                (mended.nFirst % nChannels) * m_nSampleBytes);
    return reinterpret_cast<const uint8_t*>(m_mended.data());
}

void CPortAudioSource::PushFrames(const uint8_t* pIn, int64_t nFrames)
{
    if (nFrames <= 0) return;
    if (!pIn) {
        // No input for this period: keep the timeline with silence.
        static const uint8_t zeros[4096] = {};
        int64_t nBytes = nFrames * m_nFrameBytes;
        const int64_t nMax = static_cast<int64_t>(sizeof zeros) - static_cast<int64_t>(sizeof zeros) % m_nFrameBytes;
        while (nBytes > 0) {
            const int64_t nChunk = std::min(nBytes, nMax);
            m_pSink->Push(zeros, nChunk);
            nBytes -= nChunk;
        }
        return;
    }
    const int32_t nInFrameBytes = m_bMono ? m_nSampleBytes : m_nFrameBytes;
    while (nFrames > 0) {
        const int64_t nPiece = std::min(nFrames, m_nPieceFrames);
        const uint8_t* pFrom = MendedInput(pIn, nPiece);
        if (!m_bMono) {
            m_pSink->Push(pFrom, nPiece * m_nFrameBytes);
        } else {
            uint8_t* pOut = m_pScratch.get();
            for (int64_t i = 0; i < nPiece; ++i) {
                std::memcpy(pOut, pFrom, static_cast<size_t>(m_nSampleBytes));
                std::memcpy(pOut + m_nSampleBytes, pFrom, static_cast<size_t>(m_nSampleBytes));
                pOut += m_nFrameBytes;
                pFrom += m_nSampleBytes;
            }
            m_pSink->Push(m_pScratch.get(), nPiece * m_nFrameBytes);
        }
        pIn += nPiece * nInFrameBytes;
        nFrames -= nPiece;
    }
}
