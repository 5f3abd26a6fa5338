// The capture device's calls, states and messages, and the blocks it hands out, driven by
// the file-fed source so that no sound card is needed.

#include "CaptureTestUtil.h"

#include "capture/WaveIn.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <thread>

using namespace capturetest;

namespace {

const char kQuery[] = "Sorry, sound card does not support this RECORD WAV format.\n";
const char kOpen[] =
    "Error with sound card driver (cannot open RECORD device).\nPlease close program, reboot "
    "windows, and try again.\nIf the problem persists please contact the manufacturer!\n";
const char kMemory[] = "Not enough memory to create input data buffer.\nClose some programs and try again.\n";
const char kPrepare[] = "Error with sound card driver (cannot prepare RECORD header).\n";
const char kUnprepare[] = "Error with sound card driver (cannot un-prepare RECORD header).\n";
const char kStop[] = "Error with sound card driver (cannot stop RECORD device).\n";
const char kClose[] = "Error with sound card driver (cannot close RECORD device).\n";

class WaveInTest : public ::testing::Test {
protected:
    void SetUp() override { m_strDir = MakeTempDir(); }
    void TearDown() override { RemoveTree(m_strDir); }

    // A stereo 16-bit recording of nBytes random sample bytes at nRate.
    std::string MakeRecording(const std::string& strName, size_t nBytes, int nRate = 44100)
    {
        m_input = RandomBytes(nBytes, 1234);
        return WriteSoundFile(m_strDir + "/" + strName, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, As<int16_t>(m_input),
                              nRate);
    }

    // Such a recording as the source of m_waveIn, paced like a sound card or as fast as read.
    void UseRecording(const std::string& strName, size_t nBytes, bool bPaced = false, int nRate = 44100)
    {
        m_waveIn.UseFileSource(MakeRecording(strName, nBytes, nRate).c_str(), bPaced);
        EXPECT_FALSE(m_waveIn.HasError()) << m_waveIn.GetErrorText();
    }

    std::string m_strDir;
    std::vector<uint8_t> m_input;
    CWaveIn m_waveIn;
};

TEST_F(WaveInTest, CallsOutOfOrderFailWithTheDeviceMessages)
{
    CWaveIn waveIn;
    std::vector<uint8_t> buffer(65536);

    // A format no recording uses is refused by the query and by the open.
    waveIn.QueryFormat(MakeFormat(44100, 24));
    EXPECT_TRUE(waveIn.HasError());
    EXPECT_STREQ(waveIn.GetErrorText(), kQuery);
    CAutoResetEvent event;
    waveIn.Open(MakeFormat(44100, 8), WaveInNotify, &event, CALLBACK_FUNCTION);
    EXPECT_STREQ(waveIn.GetErrorText(), kOpen);

    // Closed: nothing to start, take, stop or close.
    waveIn.Start();
    EXPECT_STREQ(waveIn.GetErrorText(), kPrepare);
    EXPECT_EQ(waveIn.GetNextBuffer(buffer.data()), 0);
    EXPECT_STREQ(waveIn.GetErrorText(), kUnprepare);
    EXPECT_EQ(waveIn.Stop(buffer.data()), 0);
    EXPECT_STREQ(waveIn.GetErrorText(), kStop);
    // Close after a query alone: the reset and the close both fail; the close is said.
    waveIn.QueryFormat(MakeFormat(44100, 24));
    waveIn.Close();
    EXPECT_TRUE(waveIn.HasError());
    EXPECT_STREQ(waveIn.GetErrorText(), kClose);

    // Every call clears the flag of the one before.
    waveIn.SetDevice(-1);
    EXPECT_FALSE(waveIn.HasError());

    waveIn.AllocateBuffers(0);
    EXPECT_STREQ(waveIn.GetErrorText(), kMemory);
}

TEST_F(WaveInTest, OpenStartsNothingAndTheOrderOfCallsIsKept)
{
    UseRecording("in.wav", 200000);
    const WaveFormat format = MakeFormat(44100, 16);
    m_waveIn.QueryFormat(format);
    EXPECT_FALSE(m_waveIn.HasError()) << m_waveIn.GetErrorText();

    std::atomic<int> nOpens{0}, nBlocks{0}, nCloses{0};
    struct Counts { std::atomic<int>* pOpen; std::atomic<int>* pData; std::atomic<int>* pClose; };
    Counts counts{&nOpens, &nBlocks, &nCloses};
    auto notify = [](void*, uint32_t nMessage, void* pContext, uintptr_t, uintptr_t) {
        Counts* p = static_cast<Counts*>(pContext);
        if (nMessage == WIM_OPEN) ++*p->pOpen;
        if (nMessage == WIM_DATA) ++*p->pData;
        if (nMessage == WIM_CLOSE) ++*p->pClose;
    };
    m_waveIn.Open(format, notify, &counts, CALLBACK_FUNCTION);
    ASSERT_FALSE(m_waveIn.HasError()) << m_waveIn.GetErrorText();
    EXPECT_EQ(nOpens, 1);
    m_waveIn.Open(format, notify, &counts, CALLBACK_FUNCTION);  // already open
    EXPECT_STREQ(m_waveIn.GetErrorText(), kOpen);

    m_waveIn.Start();  // no buffers yet
    EXPECT_STREQ(m_waveIn.GetErrorText(), kPrepare);
    m_waveIn.AllocateBuffers(65536);
    ASSERT_FALSE(m_waveIn.HasError());
    EXPECT_GE(m_waveIn.GetRingBytes(), 5 * 176400);
    EXPECT_EQ(nBlocks, 0);  // opened and given buffers, but not started

    std::vector<uint8_t> buffer(65536);
    EXPECT_EQ(m_waveIn.Stop(buffer.data()), 0);  // never started: nothing recorded, no error
    EXPECT_FALSE(m_waveIn.HasError());
    m_waveIn.Close();
    EXPECT_FALSE(m_waveIn.HasError());
    EXPECT_EQ(nCloses, 1);
    EXPECT_EQ(nBlocks, 0);
}

TEST_F(WaveInTest, GetNextBufferBeforeANotificationFailsAndRecordingGoesOn)
{
    // 11025 Hz paced like a card with 1 MiB blocks: the first block takes 24 s to fill,
    // so it cannot be complete right after Start.
    UseRecording("slow.wav", 4096, true, 11025);
    CAutoResetEvent event;
    const WaveFormat format = MakeFormat(11025, 16);
    m_waveIn.Open(format, WaveInNotify, &event, CALLBACK_FUNCTION);
    m_waveIn.AllocateBuffers(1 << 20);
    m_waveIn.Start();
    ASSERT_FALSE(m_waveIn.HasError()) << m_waveIn.GetErrorText();
    event.Reset();  // the open message's signal
    std::vector<uint8_t> buffer(1 << 20);
    EXPECT_EQ(m_waveIn.GetNextBuffer(buffer.data()), 0);
    EXPECT_STREQ(m_waveIn.GetErrorText(), kUnprepare);
    // The file is short: its only block ends the stream and is still handed out.
    ASSERT_TRUE(event.WaitFor(std::chrono::seconds(60)));
    EXPECT_EQ(m_waveIn.GetNextBuffer(buffer.data()), 4096);
    EXPECT_FALSE(m_waveIn.HasError());
    EXPECT_TRUE(std::equal(m_input.begin(), m_input.end(), buffer.begin()));
    m_waveIn.Close();
}

TEST_F(WaveInTest, BlocksComeInCaptureOrderFromBuffersZeroOneZero)
{
    const int32_t nBlock = 65536;
    UseRecording("album.wav", 10 * nBlock + 1000);
    const Capture capture = RunCapture(m_waveIn, MakeFormat(44100, 16), CaptureOptions{});
    ASSERT_EQ(capture.strError, "");
    ASSERT_FALSE(capture.bTimedOut);
    ASSERT_EQ(capture.indices.size(), 11u);
    for (size_t i = 0; i < capture.indices.size(); ++i) EXPECT_EQ(capture.indices[i], static_cast<int>(i % 2));
    // Ten full blocks, the short one at the end of the file, and nothing left for Stop.
    const std::vector<int32_t> sizes = {nBlock, nBlock, nBlock, nBlock, nBlock, nBlock, nBlock,
                                        nBlock, nBlock, nBlock, 1000, 0};
    EXPECT_EQ(capture.blockSizes, sizes);
    EXPECT_EQ(capture.data, m_input);
    EXPECT_TRUE(capture.losses.empty());
}

TEST_F(WaveInTest, AFileOfWholeBlocksEndsWithAnEmptyBlock)
{
    UseRecording("exact.wav", 3 * 4096);
    CaptureOptions options;
    options.nBufferSize = 4096;
    const Capture capture = RunCapture(m_waveIn, MakeFormat(44100, 16), options);
    ASSERT_EQ(capture.strError, "");
    const std::vector<int32_t> sizes = {4096, 4096, 4096, 0, 0};
    EXPECT_EQ(capture.blockSizes, sizes);
    EXPECT_EQ(capture.data, m_input);
}

TEST_F(WaveInTest, AnEventResetAfterStartMissesNoBlock)
{
    // The file is read before the consumer's event is reset: both buffers are complete and
    // their notifications wiped. The repeated notification still wakes the consumer.
    for (size_t nBytes : {size_t(1000), size_t(2 * 65536), size_t(40 * 65536)}) {
        const std::string strPath = MakeRecording("reset.wav", nBytes);
        CWaveIn waveIn;
        waveIn.UseFileSource(strPath.c_str(), false);
        CaptureOptions options;
        options.hangGuard = std::chrono::seconds(60);
        bool bFirst = true;
        options.onBlock = [&](int) {
            if (bFirst) std::this_thread::sleep_for(std::chrono::milliseconds(300));
            bFirst = false;
        };
        const Capture capture = RunCapture(waveIn, MakeFormat(44100, 16), options);
        EXPECT_FALSE(capture.bTimedOut) << nBytes;
        EXPECT_EQ(capture.strError, "");
        EXPECT_EQ(capture.data, m_input) << nBytes;
    }
}

TEST_F(WaveInTest, StopHandsOverEverythingCapturedBeforeIt)
{
    UseRecording("long.wav", 50 * 65536);
    CaptureOptions options;
    options.nStopAfter = 3 * 65536;
    const Capture capture = RunCapture(m_waveIn, MakeFormat(44100, 16), options);
    ASSERT_EQ(capture.strError, "");
    // Whatever the reader had stored is handed out by Stop and Drain, in order.
    ASSERT_GE(capture.data.size(), 3u * 65536);
    EXPECT_TRUE(std::equal(capture.data.begin(), capture.data.end(), m_input.begin()));
    EXPECT_TRUE(capture.losses.empty());
    for (size_t i = 4; i < capture.blockSizes.size(); ++i) EXPECT_LE(capture.blockSizes[i], 65536);
}

TEST_F(WaveInTest, AudioLeftUncollectedAtCloseIsReportedWhereItBelongs)
{
    UseRecording("left.wav", 20 * 65536);
    CAutoResetEvent event;
    m_waveIn.Open(MakeFormat(44100, 16), WaveInNotify, &event, CALLBACK_FUNCTION);
    m_waveIn.AllocateBuffers(65536);
    event.Reset();  // the open message's signal
    m_waveIn.Start();
    std::vector<uint8_t> buffer(65536);
    ASSERT_TRUE(event.WaitFor(std::chrono::seconds(60)));
    EXPECT_EQ(m_waveIn.GetNextBuffer(buffer.data()), 65536);
    // Let the reader get well ahead: the next block and more wait in the device.
    for (int i = 0; i < 6000 && m_waveIn.GetHeldBytes() < 3 * 65536; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(m_waveIn.GetHeldBytes(), 3 * 65536);
    // Stop without draining; everything the reader had already stored is then lost.
    const int32_t nStop = m_waveIn.Stop(buffer.data());
    EXPECT_EQ(nStop, 65536);
    m_waveIn.Close();
    EXPECT_FALSE(m_waveIn.HasError());
    const std::vector<WaveInLoss>& losses = m_waveIn.GetLosses();
    ASSERT_EQ(losses.size(), 1u);
    EXPECT_EQ(losses[0].kind, WaveInLossKind::NotCollected);
    EXPECT_EQ(losses[0].nStreamBytes, 2 * 65536);
    EXPECT_GT(losses[0].nFrames, 0);
    EXPECT_EQ(m_waveIn.GetDeliveredBytes(), 2 * 65536);
}

TEST_F(WaveInTest, TheBuffersSurviveCloseAndServeTheNextRecording)
{
    UseRecording("twice.wav", 5 * 65536 + 8);
    for (int i = 0; i < 2; ++i) {
        const Capture capture = RunCapture(m_waveIn, MakeFormat(44100, 16), CaptureOptions{});
        EXPECT_EQ(capture.strError, "");
        EXPECT_EQ(capture.data, m_input);
    }
}

TEST_F(WaveInTest, APacedSourceLosesNothingToAConsumerLateByLessThanTheRing)
{
    // 0.3 s late after the first block, with 10 s of ring.
    UseRecording("paced.wav", 64 * 4096, true);  // 1.5 s
    m_waveIn.SetRingSeconds(10);
    CaptureOptions options;
    options.nBufferSize = 4096;
    options.onBlock = [](int nBlock) {
        if (nBlock == 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    const Capture capture = RunCapture(m_waveIn, MakeFormat(44100, 16), options);
    ASSERT_EQ(capture.strError, "");
    EXPECT_EQ(capture.data, m_input);
    EXPECT_EQ(capture.nDropped, 0);
    EXPECT_TRUE(capture.losses.empty());
}

TEST_F(WaveInTest, AConsumerLateByMoreThanTheRingLosesOnlyWhatIsReported)
{
    // A ring of four 4 KiB blocks (0.09 s at 44100 Hz) and a consumer 1 s late: the paced
    // source drops like a sound card; every dropped frame is listed where it was dropped.
    UseRecording("overrun.wav", 100 * 4096, true);  // 2.3 s
    m_waveIn.SetRingSeconds(0);
    CaptureOptions options;
    options.nBufferSize = 4096;
    options.onBlock = [](int nBlock) {
        if (nBlock == 2) std::this_thread::sleep_for(std::chrono::seconds(1));
    };
    const Capture capture = RunCapture(m_waveIn, MakeFormat(44100, 16), options);
    ASSERT_EQ(capture.strError, "");
    const int64_t nDropped = FramesOf(capture.losses, WaveInLossKind::RingOverrun);
    EXPECT_GT(nDropped, 0);
    EXPECT_EQ(nDropped, capture.nDropped);
    EXPECT_EQ(static_cast<int64_t>(capture.data.size()) + 4 * nDropped, static_cast<int64_t>(m_input.size()));
    EXPECT_EQ(CompareWithGaps(capture.data, m_input, GapsOf(capture.losses, WaveInLossKind::RingOverrun), 4), "");

    // The next recording on the same device is clean, and nothing of the last one's losses
    // is told with it.
    m_waveIn.SetRingSeconds(10);
    options.onBlock = nullptr;
    const Capture clean = RunCapture(m_waveIn, MakeFormat(44100, 16), options);
    ASSERT_EQ(clean.strError, "");
    EXPECT_EQ(clean.data, m_input);
    EXPECT_EQ(clean.nDropped, 0);
    EXPECT_TRUE(clean.losses.empty());
}

}  // namespace
