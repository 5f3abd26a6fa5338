// The real PortAudio path without a sound card: ALSA's default device reads a raw file
// (an ALSA "file" PCM over a null PCM), as fast as the capture asks for it. Every byte the
// capture hands out can be checked against the file.

#include "AlsaFileEnvironment.h"
#include "CaptureTestUtil.h"

#include "capture/WaveIn.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <limits>
#include <tuple>

using namespace capturetest;

namespace {

// Captures the whole of input through the file device, which runs hundreds of times
// faster than real time; a ring that holds all of it guarantees that none of it is
// dropped, whatever the consumer's pace.
Capture CaptureAll(CWaveIn& waveIn, const WaveFormat& format, const std::vector<uint8_t>& input)
{
    WriteBytes(g_strRaw, input);
    waveIn.SetRingSeconds(2.0 * input.size() / format.avgBytesPerSec + 1);
    CaptureOptions options;
    options.nStopAfter = static_cast<int64_t>(input.size());
    return RunCapture(waveIn, format, options);
}

void ExpectExactCapture(uint32_t nRate, uint16_t nBits, int32_t nDevice)
{
    const WaveFormat format = MakeFormat(nRate, nBits);
    const std::vector<uint8_t> input = RandomBytes(3 << 20, nRate, nBits == 32);
    CWaveIn waveIn;
    waveIn.SetDevice(nDevice);
    const Capture capture = CaptureAll(waveIn, format, input);
    ASSERT_EQ(capture.strError, "");
    ASSERT_GE(capture.data.size(), input.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), capture.data.begin()))
        << CompareWithGaps(capture.data, input, {}, format.blockAlign);
    for (const WaveInLoss& loss : capture.losses)
        EXPECT_GE(loss.nStreamBytes, static_cast<int64_t>(input.size()));  // only past the file's end
    for (size_t i = 0; i + 2 < capture.blockSizes.size(); ++i) EXPECT_EQ(capture.blockSizes[i], 65536);
}

TEST(AlsaFileCapture, DeliversTheInputByteForByte16Bit48k) { ExpectExactCapture(48000, 16, -1); }
TEST(AlsaFileCapture, DeliversTheInputByteForByteFloat44k) { ExpectExactCapture(44100, 32, 0); }
TEST(AlsaFileCapture, DeliversTheInputByteForByte16Bit11k) { ExpectExactCapture(11025, 16, -1); }

TEST(AlsaFileCapture, FloatSamplesThatAreNotNumbersArriveReplacedAndCounted)
{
    const WaveFormat format = MakeFormat(44100, 32);
    std::vector<uint8_t> input = RandomBytes(1 << 20, 7, true);
    std::vector<uint8_t> expected = input;
    const float fNan = std::numeric_limits<float>::quiet_NaN(), fInf = std::numeric_limits<float>::infinity();
    // Sample 1001 (frame 500, right), 90000 and 90001 (frame 45000, both channels).
    for (auto [nSample, fIn, fOut] : {std::tuple<size_t, float, float>{1001, fNan, 0.0f}, {90000, fInf, 1.0f},
                                      {90001, -fInf, -1.0f}}) {
        std::memcpy(&input[4 * nSample], &fIn, 4);
        std::memcpy(&expected[4 * nSample], &fOut, 4);
    }
    // The device reads ahead of the capture by up to its buffer (seconds): past the end of
    // the file it would deliver stale bytes, so the file goes on with sound for longer.
    std::vector<uint8_t> file = input;
    const std::vector<uint8_t> more = RandomBytes(5 * format.avgBytesPerSec, 8, true);
    file.insert(file.end(), more.begin(), more.end());
    WriteBytes(g_strRaw, file);
    CWaveIn waveIn;
    waveIn.SetRingSeconds(20);
    CaptureOptions options;
    options.nStopAfter = static_cast<int64_t>(input.size());
    const Capture capture = RunCapture(waveIn, format, options);
    ASSERT_EQ(capture.strError, "");
    ASSERT_GE(capture.data.size(), input.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), capture.data.begin()))
        << CompareWithGaps(capture.data, expected, {}, format.blockAlign);
    EXPECT_EQ(waveIn.GetMendedSamples(), 3);
    EXPECT_EQ(waveIn.GetFirstMendedByte(), 4 * 1001);
}

TEST(AlsaFileCapture, AnOverwhelmedConsumerLosesOnlyWhatIsReportedAndWhere)
{
    // With the usual 5 s ring the device soon runs far ahead of a consumer that takes its
    // time: the ring drops, and each drop is listed at its exact stream position.
    const WaveFormat format = MakeFormat(22050, 16);
    const std::vector<uint8_t> input = RandomBytes(8 << 20, 99);  // 95 s of audio
    WriteBytes(g_strRaw, input);
    CWaveIn waveIn;
    CaptureOptions options;
    options.nStopAfter = 2 << 20;
    options.onBlock = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
    const Capture capture = RunCapture(waveIn, format, options);
    ASSERT_EQ(capture.strError, "");
    const std::vector<Gap> gaps = GapsOf(capture.losses, WaveInLossKind::RingOverrun);
    ASSERT_FALSE(gaps.empty());
    EXPECT_EQ(FramesOf(capture.losses, WaveInLossKind::RingOverrun), capture.nDropped);
    const std::string strDiff = CompareWithGaps(capture.data, input, gaps, format.blockAlign);
    EXPECT_EQ(strDiff, "");
    EXPECT_GE(gaps[0].nStreamBytes, waveIn.GetRingBytes());  // nothing dropped before the ring was full
}

TEST(AlsaFileCapture, AnOverflowTheSoundCardFlagsIsReportedWhereTheFramesWentMissing)
{
    // 960 frames thrown away after the first second, and PortAudio's overflow flag handed to
    // the next callback: one overflow loss, within a period after the missing frames.
    const WaveFormat format = MakeFormat(48000, 16);
    const std::vector<uint8_t> input = RandomBytes(6 * 192000, 5);
    WriteBytes(g_strRaw, input);
    CWaveIn waveIn;
    // A ring that holds the whole file: the device runs hundreds of times faster than real
    // time, and on a busy machine a consumer held up for a moment must not add a ring
    // overrun to the one loss this test looks for.
    waveIn.SetRingSeconds(20);
    waveIn.SetTestDiscard(48000, 960, true);
    CaptureOptions options;
    options.nStopAfter = 2 * 192000;
    const Capture capture = RunCapture(waveIn, format, options);
    ASSERT_EQ(capture.strError, "");
    EXPECT_EQ(CompareWithGaps(capture.data, input, {Gap{192000, 960}}, 4), "");
    const std::vector<Gap> reported = GapsOf(capture.losses, WaveInLossKind::Overflow);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_GE(reported[0].nFrames, 1);
    EXPECT_NEAR(static_cast<double>(reported[0].nStreamBytes), 192000.0, 0.05 * 192000);
}

}  // namespace

// --- a whole recording through the session ---

#include "SessionCaptureSupport.h"

namespace {

TEST(AlsaFileCapture, RecordingsThroughTheSessionHoldExactlyTheInput)
{
    using sessiontest::Segment;
    // Two songs and a silence longer than the end gap; past the album's end the device
    // only repeats silence, which the end gap never lets into a kept file.
    const std::vector<Segment> segments = {{2, true}, {1.2, false}, {3, true}, {8, false}, {10, false}};
    for (auto [nRate, nBits] : {std::pair<int, int16_t>{44100, 16}, {48000, 32}}) {
        SCOPED_TRACE(std::to_string(nRate) + " Hz " + std::to_string(nBits) + " bits");
        const bool bFloat = nBits == 32;
        const std::vector<uint8_t> album =
            bFloat ? AlbumBytes<float>(nRate, segments) : AlbumBytes<int16_t>(nRate, segments);
        WriteBytes(g_strRaw, album);

        sessiontest::CTempDir dir;
        sessiontest::SessionRig rig;
        rig.splitter.SetSamplesPerSec(nRate);
        rig.splitter.SetBitsPerSample(nBits);
        rig.splitter.SetChannels(2);
        sessiontest::SetGapRules(rig.splitter, -1764, -177, -265);  // 1 s, 1 s, 1.5 s
        // The file device runs hundreds of times faster than the worker writes: a ring that
        // holds the whole album keeps every byte of it.
        rig.waveIn.SetRingSeconds(100);
        rig.ChooseBase(dir / "Song.wav");
        ASSERT_TRUE(rig.Start());
        rig.window.Pump(rig.session, rig.prompt);

        int nKept = 0;
        const std::vector<uint8_t> recorded = KeptSongBytes(rig.session.GetSongFiles(), &nKept, bFloat);
        // The device runs on past the end of the recording until the worker stops it; what
        // it drops there is no loss of the recording.
        for (const WaveInLoss& loss : rig.waveIn.GetLosses())
            EXPECT_GE(loss.nStreamBytes, static_cast<int64_t>(recorded.size()));
        for (const sessiontest::ShownBox& box : rig.prompt.m_boxes)
            if (box.strCaption != "Audio Lost") ADD_FAILURE() << box.strCaption << ": " << box.strText;
        EXPECT_EQ(nKept, 2);
        // Both songs and the gap between them.
        ASSERT_GE(recorded.size(), static_cast<size_t>(6.2 * nRate * (bFloat ? 8 : 4)));
        EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), album.begin()))
            << CompareWithGaps(recorded, album, {}, bFloat ? 8 : 4);
    }
}

}  // namespace
