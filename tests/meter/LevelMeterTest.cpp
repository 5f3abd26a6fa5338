// The meter's tick arithmetic (driven tick by tick through Tick with a scripted
// level callback) and its thread: pause, resume and destruction.

#include "controls/LevelMeter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Generous bound for waits on the meter thread; reaching it means a hang, not slowness.
constexpr auto kHang = 60s;

// Records the LED states a bar is given (SetLed may come from the meter thread).
class CRecordingBar : public ILedSink {
public:
    explicit CRecordingBar(int nCells = 21) : m_on(nCells, false) {}
    void SetLed(int nIndex, bool bOn) override {
        std::lock_guard<std::mutex> lock(m_mx);
        if (nIndex >= 0 && nIndex < static_cast<int>(m_on.size())) m_on[nIndex] = bOn;
        ++m_nCalls;
    }
    // Indices of the lit level LEDs (the clip LED, the last cell, left out).
    std::set<int> Lit() const {
        std::lock_guard<std::mutex> lock(m_mx);
        std::set<int> lit;
        for (int j = 0; j + 1 < static_cast<int>(m_on.size()); ++j)
            if (m_on[j]) lit.insert(j);
        return lit;
    }
    bool Clip() const {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_on.back();
    }
    int Calls() const {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_nCalls;
    }

private:
    mutable std::mutex m_mx;
    std::vector<bool> m_on;
    int m_nCalls = 0;
};

// A level callback that plays a script of levels per channel; the last entry repeats.
class CScript {
public:
    void Push(int nChannel, int nRms, int nPeak, int nClips) {
        std::lock_guard<std::mutex> lock(m_mx);
        m_steps[nChannel].push_back({nRms, nPeak, nClips});
    }
    LevelCallback Callback() {
        return [this](int nChannel, LedLevels* pLevels, const std::atomic<bool>&) {
            std::lock_guard<std::mutex> lock(m_mx);
            auto& steps = m_steps[nChannel];
            if (!steps.empty()) {
                *pLevels = steps.front();
                if (steps.size() > 1) steps.pop_front();
            }
            return true;
        };
    }

private:
    std::mutex m_mx;
    std::deque<LedLevels> m_steps[2];
};

std::set<int> Range(int nFirst, int nLast) {
    std::set<int> s;
    for (int j = nFirst; j <= nLast; ++j) s.insert(j);
    return s;
}

// A meter with one bar set up the way the main window sets up its meter, not running.
struct MainWindowMeter {
    CRecordingBar bar;
    CScript script;
    CLevelMeter meter;
    explicit MainWindowMeter(int nPeakHoldMs = 1) {
        meter.AddBar(&bar);
        meter.Start(script.Callback(), 20, 40, 150, 300, nPeakHoldMs);
    }
};

// Ticks the meter n times and returns the lit level LEDs and the clip LED after each tick.
struct Ticks {
    std::vector<std::set<int>> lit;
    std::vector<bool> clip;
};
Ticks TickTimes(MainWindowMeter& m, int nTicks) {
    Ticks t;
    for (int j = 0; j < nTicks; ++j) {
        m.meter.Tick();
        t.lit.push_back(m.bar.Lit());
        t.clip.push_back(m.bar.Clip());
    }
    return t;
}

// ---- tick arithmetic ----

struct RmsCase {
    int nRmsDb;
    int nTopLed;  // highest lit LED, -1 for none
};

class MeterRms : public ::testing::TestWithParam<RmsCase> {};

TEST_P(MeterRms, ColumnReachesItsLedForSeveralTicks) {
    MainWindowMeter m;
    m.script.Push(0, GetParam().nRmsDb, -100, 0);
    const std::set<int> expected = GetParam().nTopLed < 0 ? std::set<int>{} : Range(0, GetParam().nTopLed);
    const Ticks t = TickTimes(m, 3);
    EXPECT_EQ(t.lit, std::vector<std::set<int>>(3, expected));
    EXPECT_EQ(t.clip, std::vector<bool>(3, false));
}

// -100 dB is the idle level: nothing lights.
INSTANTIATE_TEST_SUITE_P(TwoDbPerLed, MeterRms,
                         ::testing::Values(RmsCase{0, 19}, RmsCase{-3, 19}, RmsCase{-4, 18},
                                           RmsCase{-21, 10}, RmsCase{-22, 9}, RmsCase{-41, 0},
                                           RmsCase{-42, -1}, RmsCase{5, 19}, RmsCase{-100, -1}));

TEST(MeterTick, PeakFallsOneLedEveryTwoTicksAfterItsHold) {
    {
        MainWindowMeter m;
        m.script.Push(0, -100, -10, 0);
        m.script.Push(0, -100, -100, 0);
        const std::vector<std::set<int>> expected = {{15}, {15}, {14}, {14}, {13}, {13}, {12}};
        EXPECT_EQ(TickTimes(m, 7).lit, expected);
    }
    {
        MainWindowMeter m(300);  // two ticks of peak hold: -10, held, held, then -11, -12, -13 dB
        m.script.Push(0, -100, -10, 0);
        m.script.Push(0, -100, -100, 0);
        const std::vector<std::set<int>> expected = {{15}, {15}, {15}, {15}, {14}, {14}};
        EXPECT_EQ(TickTimes(m, 6).lit, expected);
    }
}

TEST(MeterTick, PeakAboveColumnShowsBoth) {
    MainWindowMeter m;
    m.script.Push(0, -30, -4, 0);
    std::set<int> lit = Range(0, 5);
    lit.insert(18);
    EXPECT_EQ(TickTimes(m, 1).lit.back(), lit);
}

TEST(MeterTick, ClipHeldForTwoMoreTicks) {
    MainWindowMeter m;
    m.script.Push(0, -100, -100, 5);
    m.script.Push(0, -100, -100, 0);
    EXPECT_EQ(TickTimes(m, 5).clip, (std::vector<bool>{true, true, true, false, false}));
}

TEST(MeterTick, EachBarShowsItsOwnChannel) {
    CRecordingBar left, right;
    CScript script;
    CLevelMeter meter;
    meter.AddBar(&left);
    meter.AddBar(&right);
    meter.Start(script.Callback(), 20, 40, 150, 300, 1);
    script.Push(0, 0, -100, 3);
    script.Push(1, -41, -100, 0);
    meter.Tick();
    EXPECT_EQ(left.Lit(), Range(0, 19));
    EXPECT_TRUE(left.Clip());
    EXPECT_EQ(right.Lit(), std::set<int>{0});
    EXPECT_FALSE(right.Clip());
}

TEST(MeterTick, AbsurdLevelsDoNotOverflow) {
    MainWindowMeter low;  // the peak LED lies far above the bar
    low.script.Push(0, INT32_MIN, INT32_MAX, 0);
    EXPECT_EQ(TickTimes(low, 2).lit.back(), std::set<int>{});
    MainWindowMeter high;
    high.script.Push(0, INT32_MAX, INT32_MIN, 0);
    EXPECT_EQ(TickTimes(high, 2).lit.back(), Range(0, 19));
}

TEST(MeterTick, CallbackThatGivesUpLeavesTheLedsAlone) {
    CRecordingBar bar;
    CLevelMeter meter;
    meter.AddBar(&bar);
    meter.Start([](int, LedLevels*, const std::atomic<bool>&) { return false; }, 20, 40, 150, 300, 1);
    meter.Tick();
    EXPECT_EQ(bar.Calls(), 0);
}

// ---- the thread ----

TEST(MeterThread, SetRunningBeforeStartDoesNothing) {
    CLevelMeter meter;
    meter.SetRunning(true);
    EXPECT_FALSE(meter.IsRunning());
}

TEST(MeterThread, StartsPausedThenTicksPausesAndResumes) {
    CRecordingBar bar;
    CScript script;
    CLevelMeter meter;
    meter.AddBar(&bar);
    script.Push(0, 0, 0, 0);
    meter.Start(script.Callback(), 20, 40, 1, 300, 1);
    ASSERT_TRUE(meter.WaitUntilPaused(kHang));
    EXPECT_EQ(meter.GetTickCount(), 0u);
    EXPECT_EQ(bar.Calls(), 0);

    meter.SetRunning(true);
    ASSERT_TRUE(meter.WaitForTicks(3, kHang));
    EXPECT_EQ(bar.Lit(), Range(0, 19));

    meter.SetRunning(false);
    ASSERT_TRUE(meter.WaitUntilPaused(kHang));
    const uint64_t nPaused = meter.GetTickCount();
    const int nCalls = bar.Calls();
    // Paused: the LEDs keep their last states and the thread waits until resumed.
    EXPECT_EQ(bar.Lit(), Range(0, 19));
    EXPECT_EQ(bar.Calls(), nCalls);

    script.Push(0, -100, -100, 0);
    meter.SetRunning(true);
    ASSERT_TRUE(meter.WaitForTicks(nPaused + 3, kHang));
    // The column is gone; only the falling peak LED may still be lit, wherever the ticks
    // that ran meanwhile have brought it.
    EXPECT_LE(bar.Lit().size(), 1u);
}

// Destruction returns promptly whatever the thread is doing: never started,
// started but paused, paused after ticking, or asleep between hourly ticks.
TEST(MeterThread, DestructionReturnsInEveryState) {
    { CLevelMeter meter; }
    {
        CScript script;
        CLevelMeter meter;
        meter.Start(script.Callback(), 20, 40, 150, 300, 1);
    }
    for (int nIntervalMs : {1, 3600 * 1000}) {
        CRecordingBar bar;
        CScript script;
        CLevelMeter meter;
        meter.AddBar(&bar);
        meter.Start(script.Callback(), 20, 40, nIntervalMs, 300, 1);
        meter.SetRunning(true);
        ASSERT_TRUE(meter.WaitForTicks(1, kHang));
        if (nIntervalMs == 1) {
            meter.SetRunning(false);
            ASSERT_TRUE(meter.WaitUntilPaused(kHang));
        }
    }
}

// The level callback waits on a lock that the destroying thread holds (as the
// window does with the session lock): destruction must still return.
template <class Mutex>
void DestroyWhileCallbackBlocked() {
    Mutex session;
    CRecordingBar bar;
    std::mutex mxEntered;
    std::condition_variable cvEntered;
    bool bEntered = false;
    std::atomic<int> nGaveUp{0};

    auto meter = std::make_unique<CLevelMeter>();
    meter->AddBar(&bar);
    meter->Start(
        [&](int, LedLevels* pLevels, const std::atomic<bool>& bStopping) {
            {
                std::lock_guard<std::mutex> lock(mxEntered);
                bEntered = true;
            }
            cvEntered.notify_all();
            if (!LockUnlessStopping(session, bStopping)) {
                ++nGaveUp;
                return false;
            }
            pLevels->nRmsDb = 0;
            session.unlock();
            return true;
        },
        20, 40, 1, 300, 1);

    session.lock();
    meter->SetRunning(true);
    {
        std::unique_lock<std::mutex> lock(mxEntered);
        ASSERT_TRUE(cvEntered.wait_for(lock, kHang, [&] { return bEntered; }));
    }
    // Pausing under the lock never waits for the blocked tick.
    meter->SetRunning(false);
    meter.reset();
    session.unlock();
    EXPECT_EQ(nGaveUp.load(), 1);
    EXPECT_EQ(bar.Calls(), 0);
}

TEST(MeterThread, DestructionWhileCallbackBlockedOnALockReturns) {
    DestroyWhileCallbackBlocked<std::timed_mutex>();
    DestroyWhileCallbackBlocked<std::mutex>();
}

TEST(MeterThread, PauseRequestedDuringABlockedTickTakesEffectAfterIt) {
    std::mutex session;
    CRecordingBar bar;
    CLevelMeter meter;
    meter.AddBar(&bar);
    meter.Start(
        [&](int, LedLevels* pLevels, const std::atomic<bool>& bStopping) {
            if (!LockUnlessStopping(session, bStopping)) return false;
            pLevels->nRmsDb = -4;
            session.unlock();
            return true;
        },
        20, 40, 1, 300, 1);
    session.lock();
    meter.SetRunning(true);
    meter.SetRunning(false);  // may land before or during the first tick
    session.unlock();
    ASSERT_TRUE(meter.WaitUntilPaused(kHang));
    const uint64_t nTicks = meter.GetTickCount();
    EXPECT_LE(nTicks, 1u);
    if (nTicks == 1) {
        EXPECT_EQ(bar.Lit(), Range(0, 18));  // the tick in progress finished
    }
}

}  // namespace
