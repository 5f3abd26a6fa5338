// Recording through the sound server most Debian 12 desktops run: PipeWire with its
// PulseAudio service. A record player plays into a null sink; the recorder reads the
// sink's monitor through ALSA's pulse device, as a desktop recorder does.

#include "CaptureTestUtil.h"
#include "PulseServer.h"
#include "SessionCaptureSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

using namespace capturetest;

namespace {

class PipeWireSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strDir = MakeTempDir();
        ASSERT_EQ(Script("start"), 0) << Log("pipewire.log") << Log("wireplumber.log") << Log("pipewire-pulse.log");
        std::ofstream(m_strDir + "/asound.conf") << "pcm.!default { type pulse device \"ci.monitor\" }\n";
        setenv("ALSA_CONFIG_PATH", (m_strDir + "/asound.conf").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + m_strDir + "/run/pulse/native").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_strDir + "/run").c_str(), 1);
    }
    void TearDown() override
    {
        Script("stop");
        RemoveTree(m_strDir);
    }

    int Script(const std::string& strCommand, const std::string& strArg = "")
    {
        return std::system(("bash '" CADENZO_PRIVATE_PIPEWIRE "' " + strCommand + " '" + m_strDir + "' " + strArg).c_str());
    }
    std::string Log(const std::string& strName)
    {
        std::ifstream in(m_strDir + "/" + strName);
        std::stringstream ss;
        ss << strName << ":\n" << in.rdbuf();
        return ss.str();
    }

    std::string m_strDir;
};

// Songs of noise (every stretch of it unlike any other, so the recording can be found in
// the album) between gaps of digital silence.
std::vector<uint8_t> NoiseAlbum(int nSongs, double fSong, double fGap)
{
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> noise(-8000, 8000);
    std::vector<int16_t> samples;
    for (int s = 0; s < nSongs; ++s) {
        for (int64_t i = 0; i < static_cast<int64_t>(fSong * 48000) * 2; ++i)
            samples.push_back(static_cast<int16_t>(noise(rng)));
        samples.insert(samples.end(), static_cast<size_t>(fGap * 48000) * 2, 0);
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(samples.data());
    return std::vector<uint8_t>(p, p + samples.size() * 2);
}

TEST_F(PipeWireSession, ThreeMinutesWhileBothCoresAreBusyAreExactAndReportNothing)
{
    const std::vector<uint8_t> album = NoiseAlbum(7, 28, 2);  // 210 s
    WriteBytes(m_strDir + "/album.raw", album);
    ASSERT_EQ(Script("play", "'" + m_strDir + "/album.raw'"), 0);
    // The server's own recorder beside ours: under load the server may put silence into
    // every stream (the player falls behind), which is not the recorder's loss.
    ASSERT_EQ(Script("record", "'" + m_strDir + "/server.raw'"), 0);
    ASSERT_EQ(Script("profile"), 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the record is playing

    sessiontest::CTempDir dir;
    sessiontest::SessionRig rig;
    rig.splitter.SetSamplesPerSec(48000);
    rig.splitter.SetBitsPerSample(16);
    rig.splitter.SetChannels(2);
    sessiontest::SetGapRules(rig.splitter, -1764, -177, -5292);  // 1 s, 1 s, 30 s
    rig.ChooseBase(dir / "Take.wav");
    const int64_t nStopBytes = 180LL * 48000 * 4;
    {
        CBusyCores busy(2);
        rig.session.OnRecord();
        ASSERT_TRUE(rig.session.IsRecording()) << Log("paplay.log");
        bool bStopped = false;
        rig.window.Pump(rig.session, rig.prompt, [&](const sessiontest::CFakeWindow::Event&) {
            if (!bStopped && rig.session.GetTotalBytes() >= nStopBytes) {
                bStopped = true;
                rig.session.OnStop();
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // the server's recorder writes its last second
    Script("stop");

    // Nothing told, nothing lost.
    for (const sessiontest::ShownBox& box : rig.prompt.m_boxes) ADD_FAILURE() << box.strCaption << ": " << box.strText;
    EXPECT_TRUE(rig.waveIn.GetLosses().empty());

    // The files, end to end, are one stretch of what the server delivered: find where it
    // begins by the first sound in it (the recording may begin in a gap).
    int nKept = 0;
    const std::vector<uint8_t> recorded = KeptSongBytes(rig.session.GetSongFiles(), &nKept);
    ASSERT_GE(static_cast<int64_t>(recorded.size()), nStopBytes);
    size_t nSound = 0;
    while (nSound + 4096 <= recorded.size() && recorded[nSound] == 0 && recorded[nSound + 1] == 0) nSound += 2;
    ASSERT_LT(nSound + 4096, recorded.size());
    nSound -= nSound % 4;
    std::ifstream serverFile(m_strDir + "/server.raw", std::ios::binary);
    const std::vector<uint8_t> server{std::istreambuf_iterator<char>(serverFile), std::istreambuf_iterator<char>()};
    const auto it = std::search(server.begin(), server.end(), recorded.begin() + nSound, recorded.begin() + nSound + 4096);
    ASSERT_NE(it, server.end()) << "the recording's first sound is not in the server's capture";
    const size_t nAt = static_cast<size_t>(it - server.begin());
    const std::vector<uint8_t> rest(recorded.begin() + nSound, recorded.end());
    const std::vector<uint8_t> delivered(server.begin() + nAt, server.end());
    ASSERT_GE(delivered.size(), rest.size());
    EXPECT_EQ(CompareWithGaps(rest, delivered, {}, 4), "");
    // What the server delivered is the album, but for silence it may have put in.
    EXPECT_NE(std::search(album.begin(), album.end(), recorded.begin() + nSound, recorded.begin() + nSound + 4096),
              album.end());

    // The server ran the whole graph at a large period (1024 frames and more: 21.3 ms and
    // more per cycle; the profiler's fourth column is the cycle's length in microseconds).
    std::ifstream profile(m_strDir + "/profiler.log");
    std::string strLine;
    int nCycles = 0, nShort = 0;
    while (std::getline(profile, strLine)) {
        std::istringstream fields(strLine);
        long long n[4] = {};
        if (!(fields >> n[0] >> n[1] >> n[2] >> n[3])) continue;
        ++nCycles;
        if (n[3] < 21333) ++nShort;
    }
    EXPECT_GT(nCycles, 1000);
    EXPECT_EQ(nShort, 0);
}

}  // namespace
