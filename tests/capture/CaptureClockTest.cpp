// The ring between the capture thread and the hand-out buffers, and the clock check that
// notices frames a sound server lost without saying so.

#include "capture/CaptureClock.h"
#include "capture/CaptureRing.h"
#include "capture/LossQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <vector>

namespace {

TEST(CaptureRing, KeepsByteOrderAcrossTheWrapAndDropsWholeFrames)
{
    CCaptureRing ring;
    ASSERT_TRUE(ring.Allocate(1003, 4));  // 250 frames
    EXPECT_EQ(ring.Capacity(), 1000);

    std::vector<uint8_t> in(10000);
    std::iota(in.begin(), in.end(), 0);
    std::vector<uint8_t> out;
    size_t nIn = 0;
    std::mt19937 rng(7);
    for (int round = 0; round < 200 && nIn < in.size(); ++round) {
        const int64_t nWant = std::min<int64_t>(4 * (rng() % 90), static_cast<int64_t>(in.size() - nIn));
        nIn += static_cast<size_t>(ring.Write(in.data() + nIn, nWant));
        std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(ring.Available(), rng() % 300)));
        ring.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    std::vector<uint8_t> rest(static_cast<size_t>(ring.Available()));
    ring.Read(rest.data(), static_cast<int64_t>(rest.size()));
    out.insert(out.end(), rest.begin(), rest.end());
    ASSERT_EQ(out.size(), nIn);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
    EXPECT_EQ(ring.WritePosition(), static_cast<int64_t>(nIn));

    // A full ring takes only the whole frames that fit.
    ring.Reset();
    EXPECT_EQ(ring.Write(in.data(), 998), 996);
    EXPECT_EQ(ring.Write(in.data(), 8), 4);
    EXPECT_EQ(ring.Write(in.data(), 8), 0);
}

TEST(LossQueue, AFullQueueStillAccountsForEveryFrame)
{
    CLossQueue queue;
    for (int i = 0; i < 300; ++i) queue.Push(WaveInLossKind::RingOverrun, 1000 + 4 * i, 10);
    queue.Push(WaveInLossKind::ClockGap, 5000, 7);
    WaveInLoss loss;
    int64_t nFrames = 0;
    std::vector<WaveInLoss> reports;
    while (queue.Pop(&loss)) reports.push_back(loss);
    for (const WaveInLoss& r : reports) nFrames += r.nFrames;
    EXPECT_EQ(nFrames, 300 * 10 + 7);
    ASSERT_EQ(reports.size(), 256u + 2u);
    EXPECT_EQ(reports[255].nStreamBytes, 1000 + 4 * 255);
    // What did not fit is one report per kind, at the first position that did not fit.
    EXPECT_EQ(reports[256].kind, WaveInLossKind::RingOverrun);
    EXPECT_EQ(reports[256].nStreamBytes, 1000 + 4 * 256);
    EXPECT_EQ(reports[256].nFrames, 44 * 10);
    EXPECT_EQ(reports[257].kind, WaveInLossKind::ClockGap);
    EXPECT_EQ(reports[257].nFrames, 7);
}

// A stream of callbacks as a sound server delivers them.
struct Timeline {
    CCaptureClock clock;
    double fNow = 100.0;      // monotonic seconds
    int64_t nStream = 0;      // bytes delivered so far
    int64_t nMissing = 0;
    std::vector<int64_t> positions;
    const int32_t nRate = 48000;

    Timeline() { clock.Start(nRate); }
    void Callback(double fAdvance, int64_t nFrames)
    {
        fNow += fAdvance;
        int64_t nWhere = -1;
        const int64_t n = clock.Update(fNow, nFrames, nStream, &nWhere);
        if (n > 0) {
            nMissing += n;
            positions.push_back(nWhere);
        }
        nStream += nFrames * 4;
    }
    // Regular periods of nPeriod frames for fSeconds, the card's clock running fPpm slow.
    void Run(double fSeconds, int64_t nPeriod = 480, double fPpm = 0, double fJitter = 0)
    {
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> jitter(-fJitter, fJitter);
        const double fPeriod = double(nPeriod) / nRate * (1.0 + fPpm * 1e-6);
        double fLate = 0;
        for (double t = 0; t < fSeconds; t += fPeriod) {
            const double fNewLate = fJitter > 0 ? jitter(rng) + fJitter : 0;
            Callback(fPeriod + fNewLate - fLate, nPeriod);
            fLate = fNewLate;
        }
    }
};

TEST(CaptureClock, RegularJitteryDriftingAndFastStreamsLoseNothing)
{
    Timeline steady;
    steady.Run(120);
    EXPECT_EQ(steady.nMissing, 0);

    Timeline jittery;
    jittery.Run(120, 1024, 0, 0.015);  // callbacks up to 30 ms late
    EXPECT_EQ(jittery.nMissing, 0);

    Timeline drifting;  // a card 150 ppm slower than the system clock, for an hour
    drifting.Run(3600, 4800, 150);
    EXPECT_EQ(drifting.nMissing, 0);

    Timeline bursty;  // periods of 0.1 s, one of them handed over 90 ms early, as servers do
    bursty.Run(2, 4800);
    bursty.Callback(0.01, 4800);
    bursty.Callback(0.19, 4800);
    bursty.Run(10, 4800);
    EXPECT_EQ(bursty.nMissing, 0);

    Timeline fast;  // a file-backed device hands frames over far faster than the clock runs
    for (int i = 0; i < 100000; ++i) fast.Callback(0.00001, 4096);
    EXPECT_EQ(fast.nMissing, 0);
}

TEST(CaptureClock, LateCallbacksThatCatchUpLoseNothing)
{
    Timeline t;
    t.Run(5);
    t.fNow += 4.0;  // the capture thread did not run for 4 s; the server kept everything
    for (int i = 0; i < 400; ++i) t.Callback(0.0001, 480);
    t.Run(10);
    EXPECT_EQ(t.nMissing, 0);
}

TEST(CaptureClock, FramesThatNeverComeAreReportedWhereTheyBelong)
{
    Timeline t;
    t.Run(10);
    const int64_t nGapAt = t.nStream;
    t.fNow += 1.5;  // 1.5 s that the server dropped: 72000 frames
    t.Run(5);
    ASSERT_EQ(t.positions.size(), 1u);
    EXPECT_EQ(t.positions[0], nGapAt);
    EXPECT_NEAR(t.nMissing, 72000, 480);

    const int64_t nSecondAt = t.nStream;
    t.fNow += 0.25;
    t.Run(5);
    ASSERT_EQ(t.positions.size(), 2u);
    EXPECT_EQ(t.positions[1], nSecondAt);
    EXPECT_NEAR(t.nMissing, 72000 + 12000, 2 * 480);
    EXPECT_EQ(t.clock.GetMissing(), t.nMissing);
}

TEST(CaptureClock, AGapThatWidensOverSecondsIsOneGap)
{
    // For three seconds only every other period arrives, then the stream is whole again.
    Timeline t;
    t.Run(10);
    const int64_t nGapAt = t.nStream;
    for (int i = 0; i < 300; ++i) {
        t.Callback(0.01, 480);
        t.fNow += 0.01;
    }
    t.Run(5);
    ASSERT_GE(t.positions.size(), 1u);
    // Placed where the widening was first noticed, within the wobble allowed (50 ms).
    for (int64_t nPosition : t.positions) EXPECT_NEAR(nPosition, nGapAt, 4 * 2400 + 4 * 480);
    EXPECT_NEAR(t.nMissing, 300 * 480, 2 * 480);
}

}  // namespace
