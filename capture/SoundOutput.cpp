#include "capture/SoundOutput.h"

#include "capture/PortAudioSource.h"

#include <portaudio.h>

#include <algorithm>
#include <cstring>

CSoundOutput::~CSoundOutput() { Stop(); }

int CSoundOutput::Callback(const void*, void* pOutput, unsigned long nFrames, const void*, unsigned long,
                           void* pUser)
{
    auto* pThis = static_cast<CSoundOutput*>(pUser);
    auto* pOut = static_cast<float*>(pOutput);
    const int64_t nPos = pThis->m_nPosition.load(std::memory_order_relaxed);
    const int64_t nTake = std::min<int64_t>(static_cast<int64_t>(nFrames), pThis->m_nFrames - nPos);
    const size_t nCh = static_cast<size_t>(pThis->m_nChannels);
    if (nTake > 0) std::memcpy(pOut, pThis->m_samples.data() + nPos * nCh, static_cast<size_t>(nTake) * nCh * sizeof(float));
    const int64_t nRest = static_cast<int64_t>(nFrames) - std::max<int64_t>(0, nTake);
    if (nRest > 0) std::memset(pOut + std::max<int64_t>(0, nTake) * nCh, 0, static_cast<size_t>(nRest) * nCh * sizeof(float));
    const int64_t nNew = nPos + std::max<int64_t>(0, nTake);
    pThis->m_nPosition.store(nNew, std::memory_order_release);
    if (nNew >= pThis->m_nFrames) {
        pThis->m_bDone.store(true, std::memory_order_release);
        return paComplete;
    }
    return paContinue;
}

bool CSoundOutput::Play(std::vector<float> samples, int nChannels, int nRate)
{
    Stop();
    m_strError.clear();
    if (nChannels <= 0 || nRate <= 0) {
        m_strError = "There is nothing to play.";
        return false;
    }
    // PortAudio stays initialised from the first Play to the end of the process: each
    // initialisation loads the sound system's plugins again, which is slow, and some of
    // them never free what they allocate when they are loaded.
    static const bool s_bInitialized = CPortAudioSource::Initialize();
    if (!s_bInitialized) {
        m_strError = "No sound output device is available.";
        return false;
    }
    const PaDeviceIndex nIndex = m_nDevice == -1 ? Pa_GetDefaultOutputDevice() : m_nDevice;
    const PaDeviceInfo* pInfo = (nIndex >= 0 && nIndex < Pa_GetDeviceCount()) ? Pa_GetDeviceInfo(nIndex) : nullptr;
    if (!pInfo || pInfo->maxOutputChannels < nChannels) {
        m_strError = "No sound output device is available.";
        Stop();
        return false;
    }
    m_samples = std::move(samples);
    m_nChannels = nChannels;
    m_nFrames = static_cast<int64_t>(m_samples.size()) / nChannels;
    m_nPosition.store(0, std::memory_order_release);
    m_bDone.store(false, std::memory_order_release);

    PaStreamParameters params{};
    params.device = nIndex;
    params.channelCount = nChannels;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = pInfo->defaultHighOutputLatency;
    PaStream* pStream = nullptr;
    PaError err = Pa_OpenStream(&pStream, nullptr, &params, nRate, paFramesPerBufferUnspecified, paClipOff,
                                reinterpret_cast<PaStreamCallback*>(&CSoundOutput::Callback), this);
    if (err == paNoError) {
        m_pStream = pStream;
        err = Pa_StartStream(pStream);
    }
    if (err != paNoError) {
        // A device listed but not there (no card behind the default, a server that is not
        // running) is no device to the user; other refusals say what the system said.
        const bool bAbsent = err == paUnanticipatedHostError || err == paDeviceUnavailable || err == paInvalidDevice;
        m_strError = bAbsent ? std::string("No sound output device is available.")
                             : std::string("The sound output device could not be opened: ") + Pa_GetErrorText(err) + ".";
        Stop();
        return false;
    }
    return true;
}

void CSoundOutput::Stop()
{
    if (m_pStream) {
        auto* pStream = static_cast<PaStream*>(m_pStream);
        Pa_AbortStream(pStream);
        Pa_CloseStream(pStream);
        m_pStream = nullptr;
    }
    m_bDone.store(true, std::memory_order_release);
}

bool CSoundOutput::IsPlaying() const
{
    return m_pStream && !m_bDone.load(std::memory_order_acquire);
}
