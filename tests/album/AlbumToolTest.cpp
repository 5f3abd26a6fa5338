// cadenzo-album run as a program: one run per command, its output and exit status.

#include "AlbumTestSupport.h"

#include <sys/wait.h>

#include <cstdio>

using namespace albumtest;

namespace {

struct ToolRun {
    int nStatus = -1;
    std::string strOutput;  // standard output and error
};

ToolRun RunTool(const std::string& strArgs)
{
    ToolRun run;
    std::string strCommand = std::string(CADENZO_ALBUM_PATH) + " " + strArgs + " 2>&1";
    FILE* p = ::popen(strCommand.c_str(), "r");
    char sz[4096];
    for (size_t n; (n = std::fread(sz, 1, sizeof sz, p)) > 0;) run.strOutput.append(sz, n);
    int nStatus = ::pclose(p);
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return run;
}

}  // namespace

TEST(AlbumTool, EachCommand_EditsListsAndExportsWithItsStatus)
{
    std::mt19937 rng(21);
    TempFolder dir;
    // Three songs of 1, 2 and 3 seconds.
    std::vector<uint8_t> all = MakeAlbum(dir / "Side A.wav", {44100, 88200, 132300}, 16, rng);
    const std::string strBase = "'" + (dir / "Side A.wav") + "'";
    struct Step {
        std::string strArgs;
        int nStatus;
        std::string strOutput;  // expected start of the output
    };
    const Step steps[] = {
        {"title " + strBase + " 2 'Second Song'", 0, ""},
        {"move " + strBase + " 1 -0.5", 0, "Cut 1 is at 00:00.50.\n"},
        {"move " + strBase + " 1 +3", 1, "cadenzo-album: Cut 1 can only move inside songs 1 and 2.\n"},
        {"split " + strBase + " 3 1.25", 0, "Song 4 starts at 00:04.25; the album has 4 songs.\n"},
        {"join " + strBase + " 1", 0, "Songs 1 and 2 are song 1; the album has 3 songs.\n"},
        {"join " + strBase + " 3", 1, "cadenzo-album: Cannot join song 3 with the next: the album has 3 songs.\n"},
        {"list " + strBase, 0,
         "Song  Start     Length    Title\n"
         "   1  00:00.00  00:03.00  Second Song\n"
         "   2  00:03.00  00:01.25  \n"
         "   3  00:04.25  00:01.75  \n"},
        {"export " + strBase + " '" + (dir / "out") + "' --wav --artist A --album 'B: C' --year 1979", 0,
         dir / "out/01 Second Song.wav\n"},
        {"split " + strBase + " x 1", 2, "cadenzo-album: K must be a song or cut number from 1: x.\n"},
        {"rename " + strBase, 2, "cadenzo-album: Unknown command rename.\nUsage:"},
        {"list '" + (dir / "None.wav") + "'", 1,
         "cadenzo-album: There are no songs of " + (dir / "None.wav") + ": " + (dir / "None1.wav") +
             " does not exist.\n"},
    };
    for (const Step& step : steps) {
        ToolRun run = RunTool(step.strArgs);
        EXPECT_EQ(run.nStatus, step.nStatus) << step.strArgs << "\n" << run.strOutput;
        EXPECT_EQ(run.strOutput.substr(0, step.strOutput.size()), step.strOutput) << step.strArgs;
    }
    // The joined song took song 2's title, song 1 having none; the recording is whole.
    std::vector<uint8_t> after;
    for (int k = 1; k <= 3; ++k) {
        std::string strName = k == 1 ? "01 Second Song" : "0" + std::to_string(k) + " Side A" + std::to_string(k);
        std::vector<uint8_t> bytes = SampleBytes(dir / ("out/" + strName + ".wav"));
        after.insert(after.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(after == all);
}
