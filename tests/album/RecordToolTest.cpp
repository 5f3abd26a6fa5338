// cadenzo-album's track list and its export options for formats, cover and ReplayGain.

#include "AlbumTestSupport.h"

#include <sys/wait.h>

#include <cstdio>

using namespace albumtest;

namespace {

std::pair<int, std::string> RunAlbumTool(const std::string& strArgs)
{
    FILE* p = ::popen((std::string(CADENZO_ALBUM_PATH) + " " + strArgs + " 2>&1").c_str(), "r");
    std::string strOutput;
    char sz[4096];
    for (size_t n; (n = std::fread(sz, 1, sizeof sz, p)) > 0;) strOutput.append(sz, n);
    const int nStatus = ::pclose(p);
    return {WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, strOutput};
}

}  // namespace

TEST(RecordTool, TrackListAndExportOptions)
{
    std::mt19937 rng(31);
    TempFolder dir;
    MakeAlbum(dir / "LP.wav", {44100, 44100}, 16, rng);
    const std::string strBase = "'" + (dir / "LP.wav") + "'";
    std::ofstream(dir / "three.txt") << "A1 One 0:01\nA2 Two 0:01\nA3 Three\n";
    std::ofstream(dir / "two.txt") << "1. One (0:01)\n\n2. Two (0:01)\n3:00\n";
    std::ofstream(dir / "cover.jpg") << "not a jpeg";
    const std::pair<std::string, std::pair<int, std::string>> steps[] = {
        {"tracklist " + strBase + " '" + (dir / "three.txt") + "'",
         {1, "cadenzo-album: Side A has 2 songs, the track list 3: split a song, or fit the cuts.\n"}},
        {"tracklist " + strBase + " '" + (dir / "two.txt") + "'",
         {0, "cadenzo-album: Line 4 has no title: 3:00\n   1  One\n   2  Two\n"}},
        {"export " + strBase + " '" + (dir / "out") + "' --opus --cover '" + (dir / "cover.jpg") + "'",
         {1, "cadenzo-album: " + (dir / "cover.jpg") + " is not a JPEG or PNG image.\n"}},
        {"export " + strBase + " '" + (dir / "out") + "' --subfolder artist", {2, "cadenzo-album: --subfolder takes artist/album or artist-album.\n"}},
        {"export " + strBase + " '" + (dir / "out") + "' --mp3 320 --no-replaygain --artist X --album Y --subfolder artist-album",
         {0, dir / "out/X - Y/01 One.mp3\n" + dir / "out/X - Y/02 Two.mp3\n"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.first);
        const auto result = RunAlbumTool(step.first);
        EXPECT_EQ(result.first, step.second.first);
        EXPECT_EQ(result.second.substr(0, step.second.second.size()), step.second.second);
    }
}
