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

TEST_F(PulseCapture, AnOverflowTheSoundCardReportsIsToldEvenWhenTheClockCannotSeeIt)
{
    // 20 ms lost, well inside the clock's allowance for wobble, but flagged as PortAudio
    // flags an input overflow.
    const std::vector<uint8_t> input = WriteInput(9);
    CWaveIn waveIn;
    waveIn.SetTestDiscard(3 * 48000, 960, true);
    CaptureOptions options;
    options.nStopAfter = Bytes(5);
    const Capture capture = RunCapture(waveIn, m_format, options);
    ASSERT_EQ(capture.strError, "");
    EXPECT_EQ(CompareWithGaps(capture.data, input, {Gap{Bytes(3), 960}}, 4), "");
    const std::vector<Gap> reported = GapsOf(capture.losses, WaveInLossKind::Overflow);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_GE(reported[0].nFrames, 1);
    // Placed at the callback after the loss: within a period (a tenth of a second).
    EXPECT_NEAR(static_cast<double>(reported[0].nStreamBytes), static_cast<double>(Bytes(3)), Bytes(0.15));
    EXPECT_EQ(FramesOf(capture.losses, WaveInLossKind::ClockGap), 0);
}

}  // namespace

// --- whole recordings through the session, in real time ---

#include "SessionCaptureSupport.h"

namespace {

using sessiontest::Segment;

class PulseSession : public PulseCapture {
protected:
    // Records the album until nStopBytes have been captured, then presses Stop (-1: never;
    // onEvent decides). Notes whether the writer still held a file open at any box.
    void Record(const std::vector<uint8_t>& album, int64_t nStopBytes,
                const std::function<void(const sessiontest::CFakeWindow::Event&)>& onEvent = nullptr)
    {
        m_rig.prompt.m_onBox = [this] {
            if (m_rig.waveFile.IsOpen()) m_bFileOpenAtBox = true;
        };
        WriteBytes(g_pServer->RawPath(), album);
        m_rig.splitter.SetSamplesPerSec(48000);
        m_rig.splitter.SetBitsPerSample(16);
        m_rig.splitter.SetChannels(2);
        sessiontest::SetGapRules(m_rig.splitter, -1764, -177, -5292);  // 1 s, 1 s, 30 s
        m_rig.ChooseBase(m_dir / "Take.wav");
        m_rig.session.OnRecord();
        ASSERT_TRUE(m_rig.session.IsRecording());
        bool bStopped = false;
        m_rig.window.Pump(m_rig.session, m_rig.prompt, [&](const sessiontest::CFakeWindow::Event& ev) {
            if (!bStopped && nStopBytes >= 0 && m_rig.session.GetTotalBytes() >= nStopBytes) {
                bStopped = true;
                m_rig.session.OnStop();
            }
            if (onEvent) onEvent(ev);
        });
        m_recorded = KeptSongBytes(m_rig.session.GetSongFiles(), &m_nKept);
    }

    sessiontest::CTempDir m_dir;
    sessiontest::SessionRig m_rig;
    std::vector<uint8_t> m_recorded;
    int m_nKept = 0;
    bool m_bFileOpenAtBox = false;
};

TEST_F(PulseSession, AMinuteRecordedWhileBothCoresAreBusyIsExact)
{
    std::vector<Segment> segments;
    for (int i = 0; i < 5; ++i) {
        segments.push_back({10, true});
        segments.push_back({2, false});
    }
    segments.push_back({12, true});
    const std::vector<uint8_t> album = AlbumBytes(48000, segments);
    {
        CBusyCores busy(2);
        Record(album, Bytes(60));
    }
    for (const sessiontest::ShownBox& box : m_rig.prompt.m_boxes) ADD_FAILURE() << box.strCaption << ": " << box.strText;
    EXPECT_EQ(m_nKept, 6);  // five songs cut at their gaps, the sixth stopped
    ASSERT_GE(static_cast<int64_t>(m_recorded.size()), Bytes(60));
    EXPECT_EQ(CompareWithGaps(m_recorded, album, {}, 4), "");
    EXPECT_TRUE(m_rig.waveIn.GetLosses().empty());
}

TEST_F(PulseSession, AWorkerStalledForTwoSecondsLosesNothing)
{
    const std::vector<uint8_t> album = AlbumBytes(48000, {{4, true}, {2, false}, {8, true}});
    int nBlocks = 0;
    m_rig.session.SetWorkerStallHook([&] {
        if (++nBlocks == 5) std::this_thread::sleep_for(std::chrono::seconds(2));
    });
    Record(album, Bytes(10));
    for (const sessiontest::ShownBox& box : m_rig.prompt.m_boxes) ADD_FAILURE() << box.strCaption << ": " << box.strText;
    EXPECT_EQ(m_nKept, 2);
    EXPECT_EQ(CompareWithGaps(m_recorded, album, {}, 4), "");
    EXPECT_TRUE(m_rig.waveIn.GetLosses().empty());
}

TEST_F(PulseSession, AStallLongerThanTheRingIsToldToTheUser)
{
    const std::vector<uint8_t> album = AlbumBytes(48000, {{20, true}});
    int nBlocks = 0;
    m_rig.session.SetWorkerStallHook([&] {
        if (++nBlocks == 3) std::this_thread::sleep_for(std::chrono::seconds(7));
    });
    Record(album, Bytes(6));
    // The files hold the input less exactly the stretches reported, and the user is told.
    const std::vector<WaveInLoss> losses = m_rig.waveIn.GetLosses();
    EXPECT_GT(FramesOf(losses, WaveInLossKind::RingOverrun), 48000);
    EXPECT_EQ(CompareWithGaps(m_recorded, album, GapsOf(losses, WaveInLossKind::RingOverrun), 4), "");
    ASSERT_TRUE(ShowedBox(m_rig.prompt, "Audio Lost"));
    const std::string strText = m_rig.prompt.m_boxes.back().strText;
    EXPECT_NE(strText.find("Take1.wav"), std::string::npos) << strText;
    EXPECT_FALSE(m_bFileOpenAtBox);
}

TEST_F(PulseSession, StopEndsARecordingWhoseServerHasFrozenAndTellsTheUser)
{
    // The sound server stops calling back (as a hung server or an unplugged device does).
    // Stop pressed before the recorder has said anything, then after it has.
    const std::vector<uint8_t> album = AlbumBytes(48000, {{40, true}});
    for (const bool bWaitForNotice : {false, true}) {
        SCOPED_TRACE(bWaitForNotice ? "Stop after the notice" : "Stop before the notice");
        m_rig.prompt.m_boxes.clear();
        std::filesystem::remove(m_dir / "Take1.wav");
        bool bFrozen = false, bStopped = false;
        Record(album, -1, [&](const sessiontest::CFakeWindow::Event& ev) {
            if (!bFrozen && m_rig.session.GetTotalBytes() >= Bytes(2)) {
                bFrozen = true;
                g_pServer->Freeze(true);
                if (!bWaitForNotice) {
                    // Whatever the server had handed over arrives first.
                    std::this_thread::sleep_for(std::chrono::seconds(2));
                    m_rig.session.OnStop();
                    bStopped = true;
                }
            }
            if (!bStopped && ev.kind == sessiontest::CFakeWindow::Event::ErrorBox) {
                m_rig.session.OnStop();
                bStopped = true;
            }
        });
        g_pServer->Freeze(false);
        ASSERT_TRUE(bStopped);
        // One box, telling it, after the last file was complete or while still recording.
        ASSERT_EQ(m_rig.prompt.m_boxes.size(), 1u);
        const sessiontest::ShownBox& box = m_rig.prompt.m_boxes[0];
        EXPECT_EQ(box.strCaption, "Input Stopped");
        EXPECT_EQ(box.bWhileRecording, bWaitForNotice);
        EXPECT_NE(box.strText.find("in Take1.wav."), std::string::npos) << box.strText;
        if (bWaitForNotice) {
            EXPECT_EQ(box.strText.rfind("The sound card has delivered no audio for 5 seconds, since 00:0", 0), 0u)
                << box.strText;
        } else {
            EXPECT_EQ(box.strText.rfind("The sound card stopped delivering audio at 00:0", 0), 0u) << box.strText;
            EXPECT_FALSE(m_bFileOpenAtBox);
        }
        // Everything captured up to the stall is in the file, which is complete.
        EXPECT_EQ(m_nKept, 1);
        EXPECT_GE(static_cast<int64_t>(m_recorded.size()), Bytes(2));
        EXPECT_EQ(CompareWithGaps(m_recorded, album, {}, 4), "");
    }
}

}  // namespace
