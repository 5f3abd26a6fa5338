// cadenzo-declick run as a program: the repaired copy keeps the format and every sample
// away from a click, and bad arguments and files end with their status and text.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int nStatus = -1;
    std::string strOutput;  // standard output and error
};

ToolRun RunTool(const std::string& strArgs)
{
    ToolRun run;
    FILE* p = ::popen((std::string(CADENZO_DECLICK_PATH) + " " + strArgs + " 2>&1").c_str(), "r");
    char sz[4096];
    for (size_t n; (n = std::fread(sz, 1, sizeof sz, p)) > 0;) run.strOutput.append(sz, n);
    const int nStatus = ::pclose(p);
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return run;
}

std::vector<int> ReadInts(const std::string& strPath, SF_INFO& info)
{
    info = SF_INFO{};
    SNDFILE* f = sf_open(strPath.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int> v(static_cast<size_t>(info.frames * info.channels));
    sf_readf_int(f, v.data(), info.frames);
    sf_close(f);
    return v;
}

}  // namespace

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
    for (int c : clicks)
        for (int i = 0; i < 6; ++i) x[2 * (c + i)] += (i % 2 ? -0.3 : 0.5) * std::exp(-i / 3.0);
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
        const ToolRun run = RunTool(in + " " + dir + "/out.wav --level normal");
        EXPECT_EQ(0, run.nStatus);
        EXPECT_NE(std::string::npos, run.strOutput.find(" clicks repaired, ")) << run.strOutput;
        SF_INFO a{}, b{};
        const std::vector<int> vIn = ReadInts(in, a), vOut = ReadInts(dir + "/out.wav", b);
        ASSERT_EQ(vIn.size(), vOut.size());
        EXPECT_EQ(SF_FORMAT_WAV, b.format & SF_FORMAT_TYPEMASK);
        EXPECT_EQ(format & SF_FORMAT_SUBMASK, b.format & SF_FORMAT_SUBMASK);
        for (size_t i = 0; i < vIn.size(); ++i) {
            const int frame = static_cast<int>(i / 2);
            bool near = false;
            for (int c : clicks) near = near || (i % 2 == 0 && frame >= c - 40 && frame < c + 40);
            if (!near) {
                ASSERT_EQ(vIn[i], vOut[i]) << "frame " << frame;
            } else {
                EXPECT_LT(std::fabs(vOut[i] / 2147483648.0 - clean[i]), 0.01) << "frame " << frame;
            }
        }
    }
    std::system(("rm -rf " + dir).c_str());
}

TEST(DeclickTool, BadArgumentsAndFiles_EndWithTheirStatusAndText)
{
    ToolRun run = RunTool("in.wav out.wav --level loud");
    EXPECT_EQ(2, run.nStatus);
    EXPECT_EQ(0u, run.strOutput.find("cadenzo-declick: unknown level \"loud\" (light, normal or strong)\nUsage:"));
    run = RunTool("only.wav");
    EXPECT_EQ(2, run.nStatus);
    EXPECT_EQ(0u, run.strOutput.find("cadenzo-declick: give one input and one output file\nUsage:"));
    run = RunTool("/nonexistent/in.wav /tmp/x.wav");
    EXPECT_EQ(1, run.nStatus);
    EXPECT_EQ(0u, run.strOutput.find("cadenzo-declick: cannot read /nonexistent/in.wav: "));
}
