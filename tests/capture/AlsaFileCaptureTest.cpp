// The real PortAudio path without a sound card: ALSA's default device reads a raw file
// (an ALSA "file" PCM over a null PCM), as fast as the capture asks for it. Every byte the
// capture hands out can be checked against the file.

#include "CaptureTestUtil.h"

#include "capture/WaveIn.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace capturetest;

namespace {

std::string g_strDir;   // holds asound.conf and in.raw for the whole run
std::string g_strRaw;

// Points ALSA at a configuration whose default PCM reads in.raw. ALSA reads its
// configuration once per process, so this is done before any test runs.
class AlsaFileEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_strDir = MakeTempDir();
        g_strRaw = g_strDir + "/in.raw";
        std::ofstream conf(g_strDir + "/asound.conf");
        conf << "pcm.!default {\n"
                "    type file\n"
                "    slave.pcm { type null }\n"
                "    file \"/dev/null\"\n"
                "    infile \"" << g_strRaw << "\"\n"
                "    format \"raw\"\n"
                "}\n";
        conf.close();
        WriteBytes(g_strRaw, std::vector<uint8_t>(4096));
        setenv("ALSA_CONFIG_PATH", (g_strDir + "/asound.conf").c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
    }
    void TearDown() override { RemoveTree(g_strDir); }
};
::testing::Environment* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new AlsaFileEnvironment);

TEST(AlsaFileCapture, TheFourRatesAndTwoDepthsQueryAsSupported)
{
    CWaveIn waveIn;
    for (uint32_t nRate : {11025u, 22050u, 44100u, 48000u}) {
        for (uint16_t nBits : {uint16_t(16), uint16_t(32)}) {
            waveIn.QueryFormat(MakeFormat(nRate, nBits));
            EXPECT_FALSE(waveIn.HasError()) << nRate << " " << nBits << ": " << waveIn.GetErrorText();
        }
    }
    // The first input device by its id is the same device here.
    waveIn.SetDevice(0);
    waveIn.QueryFormat(MakeFormat(48000, 32));
    EXPECT_FALSE(waveIn.HasError()) << waveIn.GetErrorText();
    // A device id past the list: no format is supported and nothing opens.
    CAutoResetEvent event;
    waveIn.SetDevice(99);
    waveIn.QueryFormat(MakeFormat(44100, 16));
    EXPECT_STREQ(waveIn.GetErrorText(), "Sorry, sound card does not support this RECORD WAV format.\n");
    waveIn.Open(MakeFormat(44100, 16), WaveInNotify, &event, CALLBACK_FUNCTION);
    EXPECT_STREQ(waveIn.GetErrorText(),
                 "Error with sound card driver (cannot open RECORD device).\nPlease close program, "
                 "reboot windows, and try again.\nIf the problem persists please contact the manufacturer!\n");
    waveIn.Close();
    EXPECT_STREQ(waveIn.GetErrorText(), "Error with sound card driver (cannot close RECORD device).\n");
}

TEST(AlsaFileCapture, TheDeviceListNamesTheInputDevicesAndGrowsOnEachCall)
{
    ClearDevices();
    ASSERT_EQ(EnumerateDevices(), 1);
    const int32_t nCount = GetDeviceCount();
    ASSERT_GE(nCount, 1);
    bool bFoundDefault = false;
    for (int32_t i = 0; i < nCount; ++i) {
        const CWaveInCaps* pCaps = GetDeviceAt(i);
        ASSERT_NE(pCaps, nullptr);
        EXPECT_LT(std::strlen(pCaps->m_szName), sizeof pCaps->m_szName);
        if (std::string(pCaps->m_szName) == "default") {
            bFoundDefault = true;
            EXPECT_EQ(pCaps->m_nChannels, 2);  // the file device offers 128; at most 2 count
            EXPECT_EQ(pCaps->m_nFormats & 0x8888u, 0x8888u);  // 16-bit stereo at the four rates
        }
    }
    EXPECT_TRUE(bFoundDefault);
    ASSERT_EQ(EnumerateDevices(), 1);  // not emptied first: every device twice
    EXPECT_EQ(GetDeviceCount(), 2 * nCount);
    EXPECT_STREQ(GetDeviceAt(nCount)->m_szName, GetDeviceAt(0)->m_szName);
    EXPECT_EQ(GetDeviceAt(2 * nCount), nullptr);
    ClearDevices();
    EXPECT_EQ(GetDeviceCount(), 0);
}

// The file device runs hundreds of times faster than real time; a ring that holds the
// whole input guarantees that none of it is dropped, whatever the consumer's pace.
void ExpectExactCapture(uint32_t nRate, uint16_t nBits, int32_t nDevice)
{
    const WaveFormat format = MakeFormat(nRate, nBits);
    const std::vector<uint8_t> input =
        nBits == 32 ? RandomFloatBytes(3 << 20, nRate) : RandomBytes(3 << 20, nRate);
    WriteBytes(g_strRaw, input);
    CWaveIn waveIn;
    waveIn.SetDevice(nDevice);
    waveIn.SetRingSeconds(2.0 * input.size() / format.avgBytesPerSec + 1);
    CaptureOptions options;
    options.nStopAfter = static_cast<int64_t>(input.size());
    const Capture capture = RunCapture(waveIn, format, options);
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

}  // namespace

// --- a whole recording through the session ---

#include "SessionCaptureSupport.h"

namespace {

TEST(AlsaFileCapture, ARecordingThroughTheSessionHoldsExactlyTheInput)
{
    using sessiontest::Segment;
    // Two songs and a silence longer than the end gap; past the album's end the device
    // only repeats silence, which the end gap never lets into a kept file.
    const std::vector<uint8_t> album =
        AlbumBytes(44100, {{2, true}, {1.2, false}, {3, true}, {8, false}, {10, false}});
    WriteBytes(g_strRaw, album);

    sessiontest::CTempDir dir;
    sessiontest::SessionRig rig;
    rig.splitter.SetSamplesPerSec(44100);
    rig.splitter.SetBitsPerSample(16);
    rig.splitter.SetChannels(2);
    sessiontest::SetGapRules(rig.splitter, -1764, -177, -265);  // 1 s, 1 s, 1.5 s
    // The file device runs hundreds of times faster than the worker writes: a ring that
    // holds the whole album keeps every byte of it.
    rig.waveIn.SetRingSeconds(100);
    rig.ChooseBase(dir / "Song.wav");
    rig.session.OnRecord();
    ASSERT_TRUE(rig.session.IsRecording()) << (rig.prompt.m_boxes.empty() ? "" : rig.prompt.m_boxes.back().strText);
    rig.window.Pump(rig.session, rig.prompt);

    int nKept = 0;
    const std::vector<uint8_t> recorded = KeptSongBytes(rig.session.GetSongFiles(), &nKept);
    // The device runs on past the end of the recording until the worker stops it; what it
    // drops there is no loss of the recording.
    for (const WaveInLoss& loss : rig.waveIn.GetLosses())
        EXPECT_GE(loss.nStreamBytes, static_cast<int64_t>(recorded.size()));
    for (const sessiontest::ShownBox& box : rig.prompt.m_boxes)
        if (box.strCaption != "Audio Lost") ADD_FAILURE() << box.strCaption << ": " << box.strText;
    EXPECT_EQ(nKept, 2);
    ASSERT_GE(recorded.size(), static_cast<size_t>(6.2 * 176400));  // both songs and the gap
    EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), album.begin()))
        << CompareWithGaps(recorded, album, {}, 4);
}

}  // namespace
