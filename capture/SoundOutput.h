#pragma once
// Plays a short stretch of samples through a sound output device, for listening to a
// cut before moving it. PortAudio, no Qt.
//
//   CSoundOutput out;
//   if (!out.Play(std::move(samples), 2, 44100)) show(out.GetErrorText());
//   ... poll GetPosition() for a play head until IsPlaying() turns false, then Stop().
//
// Without an output device Play fails with a text and nothing else changes, so a
// window that plays can go on without sound.
// Window thread: every member. The PortAudio callback only reads the samples and
// advances the position.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CSoundOutput {
public:
    CSoundOutput() = default;
    ~CSoundOutput();
    CSoundOutput(const CSoundOutput&) = delete;
    CSoundOutput& operator=(const CSoundOutput&) = delete;

    // PortAudio's device index to play through; -1 (the default) is the system's
    // default output device.
    void SetDevice(int nDevice) { m_nDevice = nDevice; }

    // Stops what is playing and starts `samples` (interleaved floats, -1..1).
    // False, with GetErrorText(), when there is no output device or it cannot be opened.
    bool Play(std::vector<float> samples, int nChannels, int nRate);
    // Stops and closes the device; playing nothing is fine.
    void Stop();
    // True from a successful Play until the last sample has gone out or Stop.
    bool IsPlaying() const;
    // Frames handed to the device since Play.
    int64_t GetPosition() const { return m_nPosition.load(std::memory_order_acquire); }
    const std::string& GetErrorText() const { return m_strError; }

    static int Callback(const void* pInput, void* pOutput, unsigned long nFrames, const void* pTime,
                        unsigned long nStatus, void* pUser);

private:
    int m_nDevice = -1;
    void* m_pStream = nullptr;          // PaStream*
    std::vector<float> m_samples;
    int m_nChannels = 2;
    int64_t m_nFrames = 0;
    std::atomic<int64_t> m_nPosition{0};
    std::atomic<bool> m_bDone{true};
    std::string m_strError;
};
