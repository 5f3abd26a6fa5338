// cadenzo-album's track list and its export options for formats, cover and ReplayGain.

#include "AlbumTestSupport.h"
#include "ToolTestSupport.h"

using namespace albumtest;
using namespace tooltest;

TEST(RecordTool, TrackListAndExportOptions)
{
    std::mt19937 rng(31);
    TempFolder dir;
    MakeAlbum(dir / "LP.wav", {44100, 44100}, 16, rng);
    const std::string strBase = "'" + (dir / "LP.wav") + "'";
    std::ofstream(dir / "three.txt") << "A1 One 0:01\nA2 Two 0:01\nA3 Three\n";
    std::ofstream(dir / "two.txt") << "1. One (0:01)\n\n2. Two (0:01)\n3:00\n";
    std::ofstream(dir / "cover.jpg") << "not a jpeg";
    RunSteps(CADENZO_ALBUM_PATH, {
        {"tracklist " + strBase + " '" + (dir / "three.txt") + "'", 1,
         "cadenzo-album: Side A has 2 songs, the track list 3: split a song, or fit the cuts.\n"},
        {"tracklist " + strBase + " '" + (dir / "two.txt") + "'", 0,
         "cadenzo-album: Line 4 has no title: 3:00\n   1  One\n   2  Two\n"},
        {"export " + strBase + " '" + (dir / "out") + "' --opus --cover '" + (dir / "cover.jpg") + "'", 1,
         "cadenzo-album: " + (dir / "cover.jpg") + " is not a JPEG or PNG image.\n"},
        {"export " + strBase + " '" + (dir / "out") + "' --subfolder artist", 2,
         "cadenzo-album: --subfolder takes artist/album or artist-album.\n"},
        {"export " + strBase + " '" + (dir / "out") + "' --mp3 320 --no-replaygain --artist X --album Y --subfolder artist-album",
         0, dir / "out/X - Y/01 One.mp3\n" + dir / "out/X - Y/02 Two.mp3\n"},
    });
}
