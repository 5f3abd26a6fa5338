#pragma once
// Capture from one sound-card input (PortAudio) or from a recording on disk
// (libsndfile), handed out as blocks of a fixed size through two alternating buffers.

#include "capture/AutoResetEvent.h"
#include "capture/CaptureRing.h"
#include "capture/WaveFile.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Messages passed to the notification function.
enum : uint32_t {
    WIM_OPEN = 0x3BE,   // the device was opened
    WIM_CLOSE = 0x3BF,  // the device was closed
    WIM_DATA = 0x3C0    // a buffer is filled and waits for GetNextBuffer()
};

// Open() flag: the notification is a function (the only kind there is; kept so callers
// state what they pass).
constexpr uint32_t CALLBACK_FUNCTION = 0x00030000;

// Notification function: (device, message, context, param1, param2). It runs on the
// capture thread (PortAudio's callback thread, or the file reader's thread) and on the
// thread that calls Open() and Close(); it must return at once and never call back
// into the CWaveIn.
using WaveInNotifyProc = void (*)(void* pDevice, uint32_t nMessage, void* pContext,
                                  uintptr_t nParam1, uintptr_t nParam2);

// Sets the CAutoResetEvent that pContext points to, whatever the message is.
void WaveInNotify(void* pDevice, uint32_t nMessage, void* pContext, uintptr_t nParam1,
                  uintptr_t nParam2);

// Why audio went missing from the delivered stream.
enum class WaveInLossKind {
    RingOverrun,  // the capture ring was full (the consumer fell behind by more than the ring)
    ClockGap,     // the sound card delivered fewer frames than the clock says it should have
    NotCollected, // captured but still held when the device was closed (see Drain())
    Overflow      // the sound card said its input overflowed; the clock measures how much
};

// One place where audio is missing.
struct WaveInLoss {
    WaveInLossKind kind = WaveInLossKind::RingOverrun;
    int64_t nStreamBytes = 0;  // position in the delivered stream (bytes handed out since
                               // Start()) at which the missing audio belongs
    int64_t nFrames = 0;       // frames missing there
};

// Facts about a recording on disk, for choosing the session's format.
struct WaveInFileInfo {
    int32_t nRate = 0;       // frames per second
    int32_t nChannels = 0;   // 1 or 2 can be captured; more are refused
    int64_t nFrames = 0;     // length, when the format knows it (0 otherwise)
    int32_t nSourceBits = 0; // bits per sample of the source (0 when not a PCM width)
    bool bWide = false;      // samples wider than 16 bits (24/32-bit PCM, float, lossy codecs)
};

class IWaveInSource;
class CWaveInSink;
class CLossQueue;

/**
 * One capture device: the sound card's input (PortAudio) or, after UseFileSource(), a
 * recording on disk read with libsndfile and converted to the format Open() is given.
 *
 * Order of calls: SetDevice, QueryFormat, Open, AllocateBuffers, Start, GetNextBuffer
 * once per WIM_DATA notification, Stop (then Drain until it returns 0), Close. Every
 * operation first clears the error flag; a failure sets it and the text; read
 * HasError()/GetErrorText() after each call. Nothing is ever shown and nothing throws.
 *
 * The capture thread copies what it receives into a ring of several seconds
 * (GetRingBytes()), so a consumer that is late by a few seconds loses nothing. Blocks of
 * exactly the buffer size are then completed in capture order, alternately in buffer 0
 * and buffer 1, with one WIM_DATA notification each; GetNextBuffer() copies out the
 * completed buffer (0, 1, 0, 1, ...) and queues it again. A buffer is not completed
 * again until it has been handed out, so at most two blocks wait to be collected.
 * Notifications can merge in an auto-reset event (or be wiped by a Reset() of it), so the
 * notification is repeated where that is safe: when a buffer is handed out and the other
 * one is already complete, while both wait to be collected, and while the last block of a
 * file waits. A consumer that waits on an auto-reset event thus never sleeps while a block
 * is waiting, and never wakes to find none. Best practice all the same: reset the event
 * after Open() and before Start(); blocks can complete as soon as Start() begins.
 *
 * Audio is never lost silently: what the ring must drop when it is full, and what the
 * sound card failed to deliver by the monotonic clock (frames received against elapsed
 * time x rate since the first callback, allowing 200 ppm of clock drift and a start-up
 * margin), are counted and listed with their position in the delivered stream.
 *
 * The file source delivers the same blocks and notifications, either as fast as the
 * consumer takes them (nothing is ever dropped then) or paced like a sound card. The end
 * of the file completes one short block (possibly of 0 bytes), after which nothing more
 * comes.
 *
 * Threads: the notification function runs on the capture thread. Every other operation
 * is called by one thread at a time (the window thread before and after a recording,
 * the recording worker during one, under the session lock). The loss counters may be
 * read from any thread. The device list (g_waveInDevices and its functions) is used on
 * the window thread only.
 */
class CWaveIn
{
public:
    CWaveIn();
    virtual ~CWaveIn();
    CWaveIn(const CWaveIn&) = delete;
    CWaveIn& operator=(const CWaveIn&) = delete;

    // Input device: an index into the input-capable devices (as EnumerateDevices lists
    // them), or -1 for the default input device. Takes effect at the next QueryFormat/Open.
    void SetDevice(int32_t nDevice);
    int32_t GetDevice() const { return m_nDevice; }

    // Selects the recording at szPath as the source of the following QueryFormat, Open and
    // Start, instead of the sound card. bPaced: deliver at the rate of a sound card rather
    // than as fast as the consumer takes the blocks. Fails (with a message naming the file)
    // when the file is missing, unreadable, in a format libsndfile cannot read, or has more
    // than two channels. Only while closed.
    void UseFileSource(const char* szPath, bool bPaced);
    // Back to the sound card. Only while closed.
    void UseSoundCard();
    bool IsFileSource() const { return !m_strFilePath.empty(); }

    // Reads the facts of a recording on disk without selecting it. Returns false and sets
    // *pstrError (one line ending in "\n") when it cannot be captured from.
    static bool ProbeFile(const char* szPath, WaveInFileInfo* pInfo, std::string* pstrError);

    // Whether the device can record this format; opens nothing.
    void QueryFormat(const WaveFormat& format);

    // Opens the device for this format; starts nothing. The notification function is
    // called with WIM_OPEN before Open returns (the caller resets its event after Open).
    void Open(const WaveFormat& format, WaveInNotifyProc pNotify, void* pContext,
              uint32_t nFlags = CALLBACK_FUNCTION);

    // Makes the two hand-out buffers at least nBytes large (existing ones are reused and
    // kept until the object is destroyed) and the ring behind them. Call after Open.
    void AllocateBuffers(int32_t nBytes);

    // Queues both buffers and starts capturing.
    void Start();

    // Copies the completed buffer to pDest (buffer size bytes) and queues it again.
    // Returns the bytes copied: the buffer size, less for the last block of a file, 0 on
    // failure (also when no block has been notified yet).
    int32_t GetNextBuffer(void* pDest);

    // Stops capturing and copies the partly filled block to pDest. Returns its length
    // (0 if nothing was left). Audio captured before Stop that still waits beyond that
    // block comes from Drain().
    int32_t Stop(void* pDest);

    // After Stop: copies up to one buffer of the audio still held to pDest and returns
    // its length, 0 when everything has been handed out. Whatever is still held at Close
    // is listed as a NotCollected loss.
    int32_t Drain(void* pDest);

    // Stops if running and closes the device. The buffers survive for the next recording.
    void Close();

    int HasError() const { return m_bError; }
    const char* GetErrorText() const { return m_szError; }

    // --- losses of the current (or last) recording; cleared by Start() ---
    // Frames dropped because the ring was full.
    int64_t GetDroppedFrames() const { return m_nDroppedFrames.load(std::memory_order_relaxed); }
    // Frames the sound card failed to deliver, by the clock (overflows included).
    int64_t GetMissingFrames() const { return m_nMissingFrames.load(std::memory_order_relaxed); }
    // Every loss so far in stream order (adjacent losses of one kind merged). Called by the
    // thread that drives the device.
    const std::vector<WaveInLoss>& GetLosses();

    // Float samples of the current (or last) recording that were not numbers or lay beyond
    // 1000 times full scale: replaced where they entered (NaN by silence, the others by full
    // scale). Any thread.
    int64_t GetMendedSamples() const { return m_nMendedSamples.load(std::memory_order_relaxed); }
    // Stream position (bytes since Start()) of the first replaced sample: its frame plus its
    // channel's offset in the frame; -1 when none. Any thread.
    int64_t GetFirstMendedByte() const { return m_nFirstMendedByte.load(std::memory_order_relaxed); }
    // Why the file source stopped before the end of its input (a damaged or cut-off file),
    // naming the file and the position; empty when it read to the end. Cleared by Start().
    std::string GetReadError() const;

    // Bytes handed out since Start() (GetNextBuffer, Stop and Drain together).
    int64_t GetDeliveredBytes() const { return m_nDelivered; }
    // Bytes captured and not yet handed out: in the ring and in completed buffers. Tells how
    // far the consumer is behind. Any thread.
    int64_t GetHeldBytes();
    // Capacity of the ring in bytes (set by AllocateBuffers; 0 before).
    int64_t GetRingBytes() const;
    // Seconds of audio the ring holds; at least 5 by default. Takes effect at the next
    // AllocateBuffers.
    void SetRingSeconds(double fSeconds) { m_fRingSeconds = fSeconds; }
    // The buffer that the next GetNextBuffer hands out (0 or 1).
    int32_t GetCurrentIndex() const { return m_nCurrent; }

    // Seconds since the source last delivered anything (since Start() when nothing came
    // yet); 0 while not running and for a file source. A sound card delivers every period (a tenth of a second
    // or so), so seconds without anything mean the input has stalled: a device unplugged,
    // a sound server that stopped calling back. Called by the thread that drives the device.
    double GetInputIdleSeconds() const;

    // Whether the capture thread (PortAudio's callback thread, the file reader's thread)
    // raises its own scheduling priority when it starts; a refusal is not an error.
    // Default on. Takes effect at the next Start().
    void SetRaisePriority(bool bRaise) { m_bRaisePriority = bRaise; }

    // Test hook: the sound card source throws away nFrames once it has received nAfter
    // frames, as a sound server that fell behind would, telling nobody; only the clock
    // check can notice. 0 frames for none. Set before Start().
    // bFlagged: the source also hears of it from the sound system, as PortAudio reports
    // an input overflow in the next callback.
    void SetTestDiscard(int64_t nAfter, int64_t nFrames, bool bFlagged = false)
    {
        m_nTestDiscardAfter = nAfter;
        m_nTestDiscardFrames = nFrames;
        m_bTestDiscardFlagged = bFlagged;
    }

private:
    friend class CWaveInSink;
    void ClearError() { m_bError = 0; }
    void SetError(const char* szText);
    // Moves the capture thread's loss reports into m_losses, merging neighbours.
    void CollectLosses();
    void AddLoss(const WaveInLoss& loss);
    // Capture thread: reports a loss, adding it to the pending one when it continues it.
    void QueueLoss(WaveInLossKind kind, int64_t nStreamBytes, int64_t nFrames);
    // Hands the pending loss over once the capture thread has stopped.
    void FlushPendingLoss();
    // Completes the buffers that the ring can fill, in order, notifying once per block.
    // Called with m_mtxHandout held.
    void CompleteLocked();
    // Repeats the notification where that is safe (see the class comment). Called with
    // m_mtxHandout held.
    void RemindLocked();
    // Hands out the next piece of the stream after Stop. Called with m_mtxHandout held.
    int32_t TakeStoppedLocked(void* pDest);
    void Notify(uint32_t nMessage);

    enum class State { Closed, Open, Running, Stopped };
    enum class BufferState { Idle, Queued, Done };

    int32_t m_nDevice;
    std::string m_strFilePath;   // empty: the sound card
    bool m_bFilePaced;
    std::unique_ptr<uint8_t[]> m_pBuffer[2];
    int32_t m_nBufferBytes[2];   // allocated size of each buffer
    int32_t m_nCurrent;          // the buffer handed out next (0 or 1)
    int32_t m_nBufferSize;       // bytes per block, as last given to AllocateBuffers
    int32_t m_nLastBytes;        // bytes delivered by the last GetNextBuffer/Stop/Drain
    int32_t m_bError;            // 1 if the last operation failed
    char m_szError[1024];        // message of the last failure

    State m_state;
    WaveFormat m_format;         // format of the open device
    WaveInNotifyProc m_pNotify;
    void* m_pContext;
    std::unique_ptr<IWaveInSource> m_pSource;
    std::unique_ptr<CWaveInSink> m_pSink;

    // Shared with the capture thread. m_mtxHandout guards the buffer states, the fill
    // target and the ring's reading side; the ring's writing side is the capture thread's.
    std::mutex m_mtxHandout;
    std::condition_variable m_cvSpace;   // the ring has been read from, or a stop is asked
    int64_t m_nSpaceWanted = 0;          // free ring bytes a waiting PushWait() asks for before it is woken
    CCaptureRing m_ring;
    BufferState m_bufferState[2];
    int32_t m_nRecorded[2];              // bytes in each completed buffer
    int32_t m_nFillTarget;               // the buffer the ring completes next
    bool m_bEndBlockDone;                // the short block after the end of the stream is made
    std::atomic<bool> m_bSourceEnded;    // the source will push nothing more
    std::atomic<bool> m_bStopping;       // Stop/Close under way: waiting pushes give up
    std::unique_ptr<CLossQueue> m_pLossQueue;
    WaveInLoss m_pendingLoss;            // capture thread: the loss still growing (0 frames: none)
    std::atomic<int64_t> m_nTestDiscardAfter;
    std::atomic<int64_t> m_nTestDiscardFrames;
    std::atomic<bool> m_bTestDiscardFlagged{false};
    std::atomic<int64_t> m_nLastInputNs{0};  // steady clock of the last push (or Start)
    std::atomic<bool> m_bRaisePriority{true};

    int64_t m_nDelivered;        // bytes handed out since Start
    double m_fRingSeconds;
    std::atomic<int64_t> m_nDroppedFrames;
    std::atomic<int64_t> m_nMissingFrames;
    std::atomic<int64_t> m_nMendedSamples;
    std::atomic<int64_t> m_nFirstMendedByte;
    mutable std::mutex m_mtxReadError;
    std::string m_strReadError;
    std::vector<WaveInLoss> m_losses;
};

/**
 * Capabilities of one input device, as the settings window lists them. A record's
 * position in g_waveInDevices is its device id.
 */
class CWaveInCaps
{
public:
    virtual ~CWaveInCaps() = default;

    uint16_t m_nManufacturerId = 0;
    uint16_t m_nProductId = 0;
    uint32_t m_nDriverVersion = 0;
    char m_szName[32] = {};      // the device name, cut to 31 characters
    uint32_t m_nFormats = 0;     // standard 16-bit formats the device accepts (1M16 0x4,
                                 // 1S16 0x8, 2M16 0x40, 2S16 0x80, 4M16 0x400, 4S16 0x800,
                                 // 48M16 0x4000, 48S16 0x8000)
    uint16_t m_nChannels = 0;    // input channels, at most 2
};

// The input devices; filled only while the settings window is open. Window thread only.
extern std::vector<CWaveInCaps*> g_waveInDevices;

// Appends one record per input-capable device (it does not empty the list first).
// Returns 1, or 0 if a record could not be made (the ones made so far stay).
int EnumerateDevices();
// Destroys every record and empties the list.
void ClearDevices();
int32_t GetDeviceCount();
CWaveInCaps* GetDeviceAt(int32_t nIndex);
