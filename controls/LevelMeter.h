#pragma once
// The LED level meter's driver: a thread that every interval asks the level
// callback for each bar's levels, applies clip hold and peak hold and switches
// the bars' LEDs. Plain C++17 (no Qt), so the thread runs under ThreadSanitizer too.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

/**
 * What the meter drives: one bar of LEDs. CLedBar implements it.
 * SetLed is called on the meter thread; it may only store the state and ask
 * the window thread to repaint.
 */
class ILedSink {
public:
    virtual ~ILedSink() = default;
    // Index 0 is the lowest level LED; the index after the last level LED is the clip LED.
    virtual void SetLed(int nIndex, bool bOn) = 0;
};

// One channel's levels as the level callback hands them over.
struct LedLevels {
    int nRmsDb = -100;   // held RMS, whole dB relative to full scale, -100 when idle
    int nPeakDb = -100;  // held peak, whole dB relative to full scale, -100 when idle
    int nClips = 0;      // clipped samples in the latest buffer
};

/**
 * Supplies the levels of channel nChannel (0 left, 1 right). Called on the meter
 * thread. bStopping turns true when the meter is being destroyed: a callback that
 * waits for a lock must give up then (see LockUnlessStopping) and return false,
 * so destruction never waits on it forever. Returning false ends the tick
 * without touching the LEDs.
 */
using LevelCallback =
    std::function<bool(int nChannel, LedLevels* pLevels, const std::atomic<bool>& bStopping)>;

// Takes a timed lock in short slices until it is had (true) or the meter stops (false).
template <class TimedLockable>
bool LockUnlessStopping(TimedLockable& lock, const std::atomic<bool>& bStopping,
                        std::chrono::milliseconds slice = std::chrono::milliseconds(10)) {
    while (!bStopping.load(std::memory_order_acquire)) {
        if (lock.try_lock_for(slice)) return true;
    }
    return false;
}

// The same for a plain mutex, which has no timed try: try, then sleep a millisecond.
inline bool LockUnlessStopping(std::mutex& lock, const std::atomic<bool>& bStopping) {
    while (!bStopping.load(std::memory_order_acquire)) {
        if (lock.try_lock()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

/**
 * Drives the LED bars from the level callback.
 * Window thread: AddBar for each bar (bar i shows channel i), Start once, then
 * SetRunning(true/false) to tick or pause; destroy it before the bars.
 * The meter thread runs Tick every interval while running; a pause takes effect
 * between ticks and the LEDs keep their last states. Tick may also be called
 * directly (tests drive the arithmetic that way without starting the thread).
 */
class CLevelMeter {
public:
    CLevelMeter() = default;
    ~CLevelMeter();
    CLevelMeter(const CLevelMeter&) = delete;
    CLevelMeter& operator=(const CLevelMeter&) = delete;

    // Appends a bar (not owned); its clip and peak holds start at 0, its held peak at -9999 dB.
    void AddBar(ILedSink* pBar);

    // Stores the callback and the geometry (level LEDs, dB range they cover), the
    // interval between ticks and the hold times in ms (turned into whole ticks),
    // and creates the meter thread paused. A second call only changes the values.
    void Start(LevelCallback pfnLevelCallback, int nLeds, int nRangeDb, int nIntervalMs,
               int nClipHoldMs, int nPeakHoldMs);

    // Lets the thread tick (true) or pauses it after the tick in progress (false).
    // Does nothing before Start or when the state does not change. Never waits.
    void SetRunning(bool bOn);
    bool IsRunning() const;

    // One tick for every bar: read the levels, apply the holds, switch the LEDs.
    void Tick();
    // Forgets the held peaks and clips and darkens every LED at once, as when the
    // levels shown belong to an input no longer watched. Any thread.
    void Clear();

    // Test hooks: ticks the thread has completed, and a wait (bounded) until the
    // thread has completed at least nTicks or sits paused; true when reached.
    uint64_t GetTickCount() const;
    bool WaitForTicks(uint64_t nTicks, std::chrono::milliseconds timeout) const;
    bool WaitUntilPaused(std::chrono::milliseconds timeout) const;

private:
    void Run();

    LevelCallback m_pfnLevelCallback;
    std::vector<ILedSink*> m_bars;
    std::vector<unsigned int> m_clipHold;  // ticks the clip LED stays lit after the last clip
    std::vector<unsigned int> m_peakHold;  // ticks the held peak stays before it falls
    std::vector<unsigned int> m_heldPeak;  // held peak in dB, negated (9999 = -9999 dB)
    int m_nLeds = 21;                      // level LEDs per bar
    int m_nRangeDb = 63;                   // dB range the level LEDs cover
    bool m_bRunning = false;               // the thread ticks while true (guarded by m_mxState)
    std::atomic<int> m_nIntervalMs{20};    // pause between ticks, ms
    int m_nClipHoldTicks = 20;
    int m_nPeakHoldTicks = 10;
    std::thread m_thread;

    std::mutex m_mxTick;                   // one tick at a time; guards the bars and hold arrays
    mutable std::mutex m_mxState;          // guards m_bRunning, m_bPausedWait, m_nTicks
    mutable std::condition_variable m_cvState;
    std::atomic<bool> m_bStopping{false};  // set once by the destructor
    bool m_bPausedWait = false;            // the thread waits paused
    uint64_t m_nTicks = 0;                 // ticks completed by the thread
};
