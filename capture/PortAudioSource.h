#pragma once
// Capture from a sound card's input through PortAudio.

#include "capture/CaptureClock.h"
#include "capture/WaveInSource.h"

#include <cstdint>
#include <memory>
#include <vector>

/**
 * The sound card as a capture source: a PortAudio callback stream that hands every frame
 * to the sink and watches the frames against the clock for losses upstream.
 *
 * Device ids count the input-capable PortAudio devices from 0; -1 is PortAudio's default
 * input device. A device with a single input channel is opened in mono and each frame is
 * doubled to two channels.
 *
 * The stream asks for periods of a twentieth of a second and a buffer of seconds: the
 * server holds the input while the machine is busy elsewhere, and the ring behind the
 * callback holds seconds more, so nothing is gained by short periods, and a sound server
 * that runs every stream at the shortest period any of them asks for cannot keep up with
 * a few milliseconds on a loaded machine (it then replaces blocks with zeros, in every
 * stream). What the server grants is kept (GetBufferSeconds); a short one is told once on
 * the standard error.
 *
 * Stop() never waits long: a sound server that has stopped calling back can hold
 * PortAudio's stop for a minute or for ever. The callback is cut off from the sink first;
 * if the stream has not stopped within a second it is left to a thread of its own that
 * closes it whenever PortAudio lets go, and the source carries on as stopped.
 *
 * Query/Open/Start/Stop/Close on the thread that drives the capture device; the callback
 * runs on PortAudio's thread.
 */
class CPortAudioSource : public IWaveInSource
{
public:
    CPortAudioSource() = default;
    ~CPortAudioSource() override;

    bool Query(int32_t nDevice, const WaveFormat& format) override;
    bool Open(int32_t nDevice, const WaveFormat& format, CWaveInSink* pSink,
              std::string* pstrError) override;
    bool Start() override;
    bool Stop() override;
    bool Close() override;

    // Initialises PortAudio, keeping ALSA's and JACK's complaints about absent devices out
    // of the terminal and never starting a JACK server. Pair each success with Terminate().
    static bool Initialize();
    static void Terminate();
    // PortAudio indices of the input-capable devices, in device-id order (initialised only).
    static std::vector<int> InputDevices();
    // PortAudio index for a device id, or -1 when there is no such device.
    static int ResolveDevice(int32_t nDevice);

    // Seconds of input the open stream's buffer holds, as the sound server granted them.
    double GetBufferSeconds() const { return m_fBufferSeconds; }

    // What the callback reaches its source through (defined with the source's code).
    struct Link;

private:
    static int StreamCallback(const void* pInput, void* pOutput, unsigned long nFrames,
                              const void* pTimeInfo, unsigned long nStatus, void* pUser);
    void OnCapture(const void* pInput, unsigned long nFrames, bool bOverflow);
    // Float input (at most m_nPieceFrames frames) holding samples that are not numbers or
    // lie beyond 1000 times full scale: a copy with them replaced (NaN by silence, the others
    // by full scale), reported to the sink. Otherwise pIn itself.
    const uint8_t* MendedInput(const uint8_t* pIn, int64_t nFrames);
    // Hands frames as the device delivers them (mono or stereo) to the sink as stereo,
    // mended, in pieces of at most m_nPieceFrames.
    void PushFrames(const uint8_t* pIn, int64_t nFrames);
    // Fills the stream parameters for this device and format; false when impossible.
    static bool MakeParameters(int nIndex, const WaveFormat& format, void* pParams,
                               bool* pbMono);

    void* m_pStream = nullptr;       // PaStream
    Link* m_pLink = nullptr;         // the callback's way to this source, shared with the stream
    bool m_bInitialized = false;     // holds one PortAudio initialisation while open
    bool m_bRunning = false;
    bool m_bAbandoned = false;       // the stream was left to stop by itself (see Stop())
    CWaveInSink* m_pSink = nullptr;
    CCaptureClock m_clock;
    int32_t m_nRate = 0;
    double m_fBufferSeconds = 0;     // granted by the sound server for the open stream
    int32_t m_nFrameBytes = 0;       // bytes of one two-channel frame as delivered
    int32_t m_nSampleBytes = 0;
    bool m_bMono = false;            // the device is opened with one channel
    int64_t m_nPieceFrames = 0;      // frames PortAudio hands each callback; the buffers below hold as many
    std::unique_ptr<uint8_t[]> m_pScratch;  // mono frames doubled
    std::vector<float> m_mended;     // float input mended; empty for 16-bit input
    int64_t m_nReceived = 0;         // frames the callback has been given
    int64_t m_nDiscarded = 0;        // frames thrown away by the test hook
    bool m_bFlagPending = false;     // test hook: the next callback reports an overflow
    bool m_bPriorityDone = false;    // the callback thread has raised its priority
};
