#include "controls/LevelMeter.h"

#include <pthread.h>

#include <algorithm>

namespace {
// A held peak never falls below this (a new bar starts here); far below the
// lowest LED, so the display is the same, and the arithmetic cannot overflow
// however long the meter stays idle.
constexpr int kLowestHeldPeakDb = -9999;
}  // namespace

CLevelMeter::~CLevelMeter() {
    // Stop the thread wherever it is: waiting paused, sleeping between ticks or
    // inside the level callback, which sees m_bStopping and gives up its lock wait.
    m_bStopping.store(true, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(m_mxState);
        m_bRunning = false;
    }
    m_cvState.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CLevelMeter::AddBar(ILedSink* pBar) {
    std::lock_guard<std::mutex> lock(m_mxTick);
    m_bars.push_back(pBar);
    m_clipHold.push_back(0);
    m_peakHold.push_back(0);
    m_heldPeak.push_back(static_cast<unsigned int>(-kLowestHeldPeakDb));
}

void CLevelMeter::Start(LevelCallback pfnLevelCallback, int nLeds, int nRangeDb, int nIntervalMs,
                        int nClipHoldMs, int nPeakHoldMs) {
    {
        std::lock_guard<std::mutex> lock(m_mxTick);
        m_pfnLevelCallback = std::move(pfnLevelCallback);
        m_nLeds = std::max(0, nLeds);
        m_nRangeDb = nRangeDb;
        const int nInterval = std::max(1, nIntervalMs);
        m_nIntervalMs.store(nInterval);
        m_nClipHoldTicks = std::max(0, nClipHoldMs) / nInterval;
        m_nPeakHoldTicks = std::max(0, nPeakHoldMs) / nInterval;
    }
    if (!m_thread.joinable()) m_thread = std::thread(&CLevelMeter::Run, this);
}

void CLevelMeter::SetRunning(bool bOn) {
    {
        std::lock_guard<std::mutex> lock(m_mxState);
        if (!m_thread.joinable() || bOn == m_bRunning) return;
        m_bRunning = bOn;
    }
    m_cvState.notify_all();
}

bool CLevelMeter::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_mxState);
    return m_bRunning;
}

void CLevelMeter::Run() {
    pthread_setname_np(pthread_self(), "cadenzo-meter");
    std::unique_lock<std::mutex> lock(m_mxState);
    for (;;) {
        // Paused: wait without ending until resumed or destroyed.
        if (!m_bRunning && !m_bStopping.load(std::memory_order_acquire)) {
            m_bPausedWait = true;
            m_cvState.notify_all();
            m_cvState.wait(lock, [this] {
                return m_bRunning || m_bStopping.load(std::memory_order_acquire);
            });
            m_bPausedWait = false;
        }
        if (m_bStopping.load(std::memory_order_acquire)) return;

        lock.unlock();
        Tick();
        lock.lock();
        ++m_nTicks;
        m_cvState.notify_all();

        // Sleep the interval; destruction or a pause wakes it early.
        const auto interval = std::chrono::milliseconds(m_nIntervalMs.load());
        m_cvState.wait_for(lock, interval, [this] {
            return !m_bRunning || m_bStopping.load(std::memory_order_acquire);
        });
    }
}

void CLevelMeter::Tick() {
    std::lock_guard<std::mutex> lock(m_mxTick);
    if (!m_pfnLevelCallback) return;
    for (size_t i = 0; i < m_bars.size(); ++i) {
        LedLevels levels;
        if (!m_pfnLevelCallback(static_cast<int>(i), &levels, m_bStopping)) return;
        if (m_bStopping.load(std::memory_order_acquire)) return;
        // Levels beyond +-9999 dB show the same as those ends; clamping keeps the
        // negation of the held peak and the LED arithmetic from overflowing.
        levels.nRmsDb = std::clamp(levels.nRmsDb, kLowestHeldPeakDb, -kLowestHeldPeakDb);
        levels.nPeakDb = std::clamp(levels.nPeakDb, kLowestHeldPeakDb, -kLowestHeldPeakDb);

        // Clip LED: lit on a clip and for the hold ticks after it.
        bool bClip = false;
        if (levels.nClips != 0) {
            bClip = true;
            m_clipHold[i] = static_cast<unsigned int>(m_nClipHoldTicks);
        } else if (m_clipHold[i] > 0) {
            bClip = true;
            --m_clipHold[i];
        }

        // Held peak: rises at once, stays for the hold ticks, then falls 1 dB per tick.
        int nHeld = -static_cast<int>(m_heldPeak[i]);
        if (levels.nPeakDb > nHeld) {
            nHeld = levels.nPeakDb;
            m_peakHold[i] = static_cast<unsigned int>(m_nPeakHoldTicks);
        } else if (m_peakHold[i] == 0) {
            if (nHeld > kLowestHeldPeakDb) --nHeld;
        } else {
            --m_peakHold[i];
        }
        m_heldPeak[i] = static_cast<unsigned int>(-nHeld);

        ILedSink* pBar = m_bars[i];
        if (!pBar) continue;
        pBar->SetLed(m_nLeds, bClip);

        // LED j stands for (j - nLeds) * range / nLeds dB; division truncates toward zero.
        const int64_t nRange = m_nRangeDb > 0 ? m_nRangeDb : 1;
        const int64_t nRms = static_cast<int64_t>(levels.nRmsDb) * m_nLeds / nRange + m_nLeds;
        const int64_t nPeak = static_cast<int64_t>(nHeld) * m_nLeds / nRange + m_nLeds;
        for (int j = 0; j < m_nLeds; ++j) pBar->SetLed(j, j <= nRms || j == nPeak);
    }
}

void CLevelMeter::Clear() {
    std::lock_guard<std::mutex> lock(m_mxTick);
    for (size_t i = 0; i < m_bars.size(); ++i) {
        m_clipHold[i] = 0;
        m_peakHold[i] = 0;
        m_heldPeak[i] = static_cast<unsigned int>(-kLowestHeldPeakDb);
        if (m_bars[i])
            for (int j = 0; j <= m_nLeds; ++j) m_bars[i]->SetLed(j, false);
    }
}

uint64_t CLevelMeter::GetTickCount() const {
    std::lock_guard<std::mutex> lock(m_mxState);
    return m_nTicks;
}

bool CLevelMeter::WaitForTicks(uint64_t nTicks, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mxState);
    return m_cvState.wait_for(lock, timeout, [&] { return m_nTicks >= nTicks; });
}

bool CLevelMeter::WaitUntilPaused(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mxState);
    return m_cvState.wait_for(lock, timeout, [&] { return m_bPausedWait; });
}
