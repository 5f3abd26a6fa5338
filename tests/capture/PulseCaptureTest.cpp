// Capture in real time: PortAudio -> ALSA -> a private PulseAudio server's null sink, with
// the samples taken from a raw file so every byte can be checked. The server's clock sets
// the pace, as a sound card's would.

#include "CaptureTestUtil.h"
#include "PulseServer.h"

#include "capture/WaveIn.h"

#include <gtest/gtest.h>

using namespace capturetest;

namespace {

CPulseServer* g_pServer = nullptr;
std::string g_strStartError;

class PulseEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_pServer = new CPulseServer;
        std::string strLog;
        if (!g_pServer->Start(&strLog)) g_strStartError = "PulseAudio did not start:\n" + strLog;
    }
    void TearDown() override
    {
        delete g_pServer;
        g_pServer = nullptr;
    }
};
::testing::Environment* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new PulseEnvironment);

class PulseCapture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(g_strStartError, ""); }

    // Random samples for a little longer than the capture (the device repeats stale data
    // past the end of its file).
    std::vector<uint8_t> WriteInput(double fSeconds)
    {
        const size_t nBytes = static_cast<size_t>(fSeconds * m_format.avgBytesPerSec) / 4 * 4;
        std::vector<uint8_t> input = RandomBytes(nBytes, 4242);
        WriteBytes(g_pServer->RawPath(), input);
        return input;
    }
    int64_t Bytes(double fSeconds) const
    {
        return static_cast<int64_t>(fSeconds * m_format.avgBytesPerSec) / 4 * 4;
    }

    const WaveFormat m_format = MakeFormat(48000, 16);
};

TEST_F(PulseCapture, SixtySecondsWhileBothCoresAreBusyLoseNothing)
{
    const std::vector<uint8_t> input = WriteInput(66);
    CWaveIn waveIn;
    CaptureOptions options;
    options.nStopAfter = Bytes(60);
    Capture capture;
    {
        CBusyCores busy(2);
        capture = RunCapture(waveIn, m_format, options);
    }
    ASSERT_EQ(capture.strError, "");
    ASSERT_GE(static_cast<int64_t>(capture.data.size()), Bytes(60));
    // Nothing lost, doubled or shifted, and nothing reported lost.
    EXPECT_EQ(CompareWithGaps(capture.data, input, {}, 4), "");
    EXPECT_EQ(capture.nDropped, 0);
    EXPECT_EQ(capture.nMissing, 0);
    EXPECT_TRUE(capture.losses.empty());
}

TEST_F(PulseCapture, AConsumerStalledForTwoSecondsLosesNothing)
{
    const std::vector<uint8_t> input = WriteInput(14);
    CWaveIn waveIn;
    CaptureOptions options;
    options.nStopAfter = Bytes(9);
    options.onBlock = [](int nBlock) {
        if (nBlock == 5) std::this_thread::sleep_for(std::chrono::seconds(2));
    };
    const Capture capture = RunCapture(waveIn, m_format, options);
    ASSERT_EQ(capture.strError, "");
    EXPECT_EQ(CompareWithGaps(capture.data, input, {}, 4), "");
    EXPECT_EQ(capture.nDropped, 0);
    EXPECT_EQ(capture.nMissing, 0);
    EXPECT_TRUE(capture.losses.empty());
}

TEST_F(PulseCapture, AStallLongerThanTheRingIsReportedNeverSilent)
{
    const std::vector<uint8_t> input = WriteInput(18);
    CWaveIn waveIn;  // the usual ring of 5 s
    CaptureOptions options;
    options.nStopAfter = Bytes(6);
    options.onBlock = [](int nBlock) {
        if (nBlock == 2) std::this_thread::sleep_for(std::chrono::seconds(7));
    };
    const Capture capture = RunCapture(waveIn, m_format, options);
    ASSERT_EQ(capture.strError, "");
    const int64_t nDropped = FramesOf(capture.losses, WaveInLossKind::RingOverrun);
    // About 7 s late against a ring of 5 s and two blocks: a second and more went missing.
    EXPECT_GT(nDropped, 48000);
    EXPECT_EQ(nDropped, capture.nDropped);
    EXPECT_EQ(CompareWithGaps(capture.data, input, GapsOf(capture.losses, WaveInLossKind::RingOverrun), 4), "");
    EXPECT_EQ(FramesOf(capture.losses, WaveInLossKind::ClockGap), 0);
}

TEST_F(PulseCapture, FramesLostBeforeTheyReachUsAreFoundByTheClock)
{
    // The test hook throws away one second after three, as a sound server that gave up on
    // us would: no flag, no error, only the clock can tell.
    const std::vector<uint8_t> input = WriteInput(12);
    CWaveIn waveIn;
    waveIn.SetTestDiscard(3 * 48000, 48000);
    CaptureOptions options;
    options.nStopAfter = Bytes(7);
    const Capture capture = RunCapture(waveIn, m_format, options);
    ASSERT_EQ(capture.strError, "");
    EXPECT_EQ(CompareWithGaps(capture.data, input, {Gap{Bytes(3), 48000}}, 4), "");
    const std::vector<Gap> reported = GapsOf(capture.losses, WaveInLossKind::ClockGap);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NEAR(static_cast<double>(reported[0].nFrames), 48000, 4800);
    EXPECT_NEAR(static_cast<double>(reported[0].nStreamBytes), static_cast<double>(Bytes(3)), Bytes(0.1));
    EXPECT_EQ(capture.nMissing, reported[0].nFrames);
    EXPECT_EQ(capture.nDropped, 0);
}

}  // namespace
