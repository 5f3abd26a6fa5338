// A whole recording through the real PortAudio path without a sound card: ALSA's default
// input reads a raw file, and the song files must hold exactly its bytes.

#include "SessionTestSupport.h"

using namespace sessiontest;

namespace {

std::string g_strDir;  // holds asound.conf and in.raw for the whole run
std::string g_strRaw;

// Points ALSA at a configuration whose default input reads in.raw. ALSA reads its
// configuration once per process, so this happens before any test runs.
class AlsaFileEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string strTemplate = (fs::temp_directory_path() / "cadenzo-alsa-XXXXXX").string();
        std::vector<char> sz(strTemplate.begin(), strTemplate.end());
        sz.push_back('\0');
        g_strDir = ::mkdtemp(sz.data());
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
        std::ofstream(g_strRaw) << std::string(4096, '\0');
        ::setenv("ALSA_CONFIG_PATH", (g_strDir + "/asound.conf").c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(g_strDir, ec);
    }
};
::testing::Environment* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new AlsaFileEnvironment);

template <typename T>
void WriteRaw(const std::vector<T>& samples)
{
    std::ofstream out(g_strRaw, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(T)));
}

// Two songs and a silence longer than the end gap, then more silence so the recording
// ends by itself well before the device runs past the end of the file. The file device
// delivers hundreds of times faster than real time, so the capture ring is made to hold
// the whole input: the worker may fall behind by any amount without a loss.
const std::vector<Segment> kAlbum = {{1.5, true}, {1.5, false}, {2.0, true}, {4.0, false}, {3.0, false}};

}  // namespace

TEST(AlsaSession, SixteenBitRecordingHoldsTheCapturedBytes)
{
    SessionRig rig;
    SetGapRules(rig.splitter, -1764, -177, -353);  // 1.0 s, 1.0034 s, 2.0011 s
    rig.waveIn.SetRingSeconds(30);
    std::vector<int16_t> input = MakeAlbum16(44100, kAlbum);
    WriteRaw(input);
    CTempDir dir;
    rig.ChooseBase(dir / "Song.wav");
    rig.session.OnRecord();
    ASSERT_TRUE(rig.session.IsRecording()) << (rig.prompt.m_boxes.empty() ? "" : rig.prompt.m_boxes[0].strText);
    rig.window.Pump(rig.session, rig.prompt);

    std::vector<int16_t> joined;
    for (int n = 1; n <= 2; ++n) {
        ReadBack rb = ReadSound(dir / ("Song" + std::to_string(n) + ".wav"));
        ASSERT_TRUE(rb.bOk) << n;
        joined.insert(joined.end(), rb.samples16.begin(), rb.samples16.end());
    }
    EXPECT_FALSE(Exists(dir / "Song3.wav"));
    ASSERT_LE(joined.size(), input.size());
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), input.begin()));
    // The first song ends 1.0 s into the first silence.
    EXPECT_EQ(ReadSound(dir / "Song1.wav").nFrames, (2 * 66150 - 1 + 88200) / 2);
    EXPECT_TRUE(rig.prompt.m_boxes.empty()) << rig.prompt.m_boxes[0].strText;
}

TEST(AlsaSession, FloatRecordingAt48kHzHoldsTheCapturedSamples)
{
    SessionRig rig;
    SetGapRules(rig.splitter, -1764, -177, -353);
    rig.waveIn.SetRingSeconds(30);
    rig.splitter.SetSamplesPerSec(48000);
    rig.splitter.SetBitsPerSample(32);
    std::vector<float> input = MakeAlbumFloat(48000, kAlbum);
    WriteRaw(input);
    CTempDir dir;
    rig.ChooseBase(dir / "Song.wav");
    rig.session.OnRecord();
    ASSERT_TRUE(rig.session.IsRecording()) << (rig.prompt.m_boxes.empty() ? "" : rig.prompt.m_boxes[0].strText);
    rig.window.Pump(rig.session, rig.prompt);

    std::vector<float> joined;
    for (int n = 1; n <= 2; ++n) {
        ReadBack rb = ReadSound(dir / ("Song" + std::to_string(n) + ".wav"), true);
        ASSERT_TRUE(rb.bOk) << n;
        EXPECT_EQ(rb.nFormat, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        joined.insert(joined.end(), rb.samplesFloat.begin(), rb.samplesFloat.end());
    }
    EXPECT_FALSE(Exists(dir / "Song3.wav"));
    ASSERT_LE(joined.size(), input.size());
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), input.begin()));
    EXPECT_TRUE(rig.prompt.m_boxes.empty()) << rig.prompt.m_boxes[0].strText;
}
