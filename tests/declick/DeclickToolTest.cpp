// cadenzo-declick run as a program: the repaired copy keeps the format and every sample
// away from a click, and bad arguments and files end with their status and text.
#include "ClickTestSupport.h"
#include "ToolTestSupport.h"

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace clicktest;
using namespace tooltest;

// 16-bit WAV and 24-bit FLAC in: a WAV of the same width out, the clicks (left channel
// only) repaired, and every sample more than 40 frames from a click, and all of the
// right channel, exactly as it was.
TEST(DeclickTool, RepairedCopy_DiffersOnlyAtTheClicks)
{
    char szDir[] = "/tmp/declick-test-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(szDir));
    const std::string dir = szDir;
    const int frames = 3 * 44100;
    const int clicks[] = {20000, 60001, 100500};
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.001);
    std::vector<double> x(2 * frames), clean(2 * frames);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < 2; ++ch)
            clean[2 * i + ch] = 0.3 * std::sin(2 * M_PI * (330 + 110 * ch) * i / 44100.0) + noise(rng);
    x = clean;
    for (int c : clicks) PlantClick(x, c, 0);
    auto nearClick = [&clicks](int64_t nFrame, int nChannel) {
        for (int c : clicks)
            if (nChannel == 0 && nFrame >= c - 40 && nFrame < c + 40) return true;
        return false;
    };
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24}) {
        SCOPED_TRACE(format);
        const std::string in = dir + ((format & SF_FORMAT_FLAC) ? "/in.flac" : "/in.wav");
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = format;
        SNDFILE* f = sf_open(in.c_str(), SFM_WRITE, &info);
        ASSERT_NE(nullptr, f);
        sf_writef_double(f, x.data(), frames);
        sf_close(f);
        const ToolRun run = RunProgram(CADENZO_DECLICK_PATH, in + " " + dir + "/out.wav --level normal");
        EXPECT_EQ(0, run.nStatus);
        EXPECT_NE(std::string::npos, run.strOutput.find(" clicks repaired, ")) << run.strOutput;
        SF_INFO out{};
        const std::vector<double> vOut = Decode(dir + "/out.wav", &out);
        EXPECT_EQ(SF_FORMAT_WAV, out.format & SF_FORMAT_TYPEMASK);
        EXPECT_EQ(format & SF_FORMAT_SUBMASK, out.format & SF_FORMAT_SUBMASK);
        ASSERT_NO_FATAL_FAILURE(ExpectMendedOnlyAtClicks(Decode(in), vOut, clean, 0, nearClick, 0.01));
    }
    std::system(("rm -rf " + dir).c_str());
}

TEST(DeclickTool, BadArgumentsAndFiles_EndWithTheirStatusAndText)
{
    // An output naming the input by another spelling would replace the recording.
    char szIn[] = "/tmp/declick-same-XXXXXX";
    const int fd = ::mkstemp(szIn);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string in = szIn, other = "/tmp/./" + in.substr(5);
    RunSteps(CADENZO_DECLICK_PATH, {
        {in + " " + other, 2, "cadenzo-declick: " + other + " is the input file: give the repaired copy a name of its own\nUsage:"},
        {"in.wav out.wav --level loud", 2, "cadenzo-declick: unknown level \"loud\" (light, normal or strong)\nUsage:"},
        {"only.wav", 2, "cadenzo-declick: give one input and one output file\nUsage:"},
        {"/nonexistent/in.wav /tmp/x.wav", 1, "cadenzo-declick: cannot read /nonexistent/in.wav: "},
    });
    EXPECT_EQ(0, ::unlink(szIn));
}
