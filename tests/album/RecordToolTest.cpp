// cadenzo-album's track list (titles, and cuts fitted to its durations) and its export options for
// formats, cover and ReplayGain.

#include "AlbumTestSupport.h"
#include "ToolTestSupport.h"

#include <algorithm>
#include <sstream>

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

TEST(RecordTool, FitPutsTheCutsInTheSilencesTheDurationsPointAtOrChangesNothing)
{
    // Each side: 1.5 s of lead-in, music to 11 s, silence to 13 s, music to 21 s, silence to
    // 23 s, music to 29 s, a second of run-out. Side A is cut at 12 s, side B at 10 and 20 s.
    std::mt19937 rng(5);
    TempFolder dir;
    WriteTwoSides(dir, rng, 22050, {{3, false}, {19, true}, {4, false}, {16, true}, {4, false}, {12, true}, {2, false}});
    std::ofstream(dir / "counts.txt") << "A1 a 0:02\nA2 b 0:30\nA3 c 0:05\nB1 x 0:02\nB2 y 0:30\n";
    // B1 ends at 6.5 s by the list: the silence at 11 s begins half a second before the
    // edge of the 5 s looked at, and the cut still goes to its middle.
    std::ofstream(dir / "fit.txt") << "A1 One 0:10\nA2 Two 0:10\nA3 Three 0:07\nB1 Uno 0:05\nB2 Dos 0:10\nB3 Tres 0:07\n";
    const std::string strArgs = "tracklist '" + (dir / "A.wav") + "' '" + (dir / "B.wav") + "' '";
    auto fit = [&](const std::string& strList) {
        const ToolRun run = RunProgram(CADENZO_ALBUM_PATH, strArgs + (dir / strList) + "' --fit");
        return std::make_pair(run.nStatus, run.strOutput);
    };

    const auto before = FolderBytes(dir.path);
    EXPECT_EQ(fit("counts.txt"),
              std::make_pair(1, std::string("Nothing on side A was changed: it has 2 songs, the track list 3, and 2 "
                                            "of the 2 cuts the track list asks for could not be placed.\n"
                                            "Side A: the end of song 1 (expected at 0:03.5) has no quiet within 5 s.\n"
                                            "Side A: the end of song 2 (expected at 0:33.5) has no quiet within 5 s.\n"
                                            "Nothing on side B was changed: it has 3 songs, the track list 2, and the "
                                            "one cut the track list asks for could not be placed.\n"
                                            "Side B: the end of song 1 (expected at 0:03.5) has no quiet within 5 s.\n"
                                            "   1  00:00.00  \n   2  00:12.00  \n   3  00:30.00  \n"
                                            "   4  00:40.00  \n   5  00:50.00  \n")));
    EXPECT_EQ(FolderBytes(dir.path), before);

    EXPECT_EQ(fit("fit.txt"),
              std::make_pair(0, std::string("Side A had 2 songs; it has the track list's 3 now.\n"
                                            "Side A: song 2 begins at 0:12.0.\n"
                                            "Side A: song 3 begins at 0:22.0.\n"
                                            "Side B: cut 1 moved from 0:10.0 to 0:12.0.\n"
                                            "Side B: cut 2 moved from 0:20.0 to 0:22.0.\n"
                                            "   1  00:00.00  One\n   2  00:12.00  Two\n   3  00:22.00  Three\n"
                                            "   4  00:30.00  Uno\n   5  00:42.00  Dos\n   6  00:52.00  Tres\n")));
}

// A cover given for several sides is kept in their record file (made for it) once it is
// known to be a picture, and later exports of the sides or of the record file use it.
TEST(RecordTool, TheCoverIsKeptWithTheRecord)
{
    std::mt19937 rng(8);
    TempFolder dir;
    MakeAlbum(dir / "A.wav", {22050}, 16, rng);
    MakeAlbum(dir / "B.wav", {22050}, 16, rng);
    std::ofstream(dir / "notes.png") << "not a picture";
    std::ofstream(dir / "front.png") << "\x89PNG\r\n\x1A\n" << std::string(64, 'x');
    const std::string strSides = "export '" + (dir / "A.wav") + "' '" + (dir / "B.wav") + "' '";
    const std::string strWav = " --wav --no-replaygain";
    RunSteps(CADENZO_ALBUM_PATH, {
        {strSides + (dir / "o1") + "' --cover '" + (dir / "notes.png") + "'" + strWav, 1,
         "cadenzo-album: " + (dir / "notes.png") + " is not a JPEG or PNG image.\n"},
        // One recording on its own has no record to keep it.
        {"export '" + (dir / "A.wav") + "' '" + (dir / "o0") + "' --cover '" + (dir / "front.png") + "'" + strWav, 0,
         dir / "o0/01 A1.wav\n"},
    });
    EXPECT_FALSE(fs::exists(dir / "A record.cue"));
    RunSteps(CADENZO_ALBUM_PATH, {
        {strSides + (dir / "o2") + "' --cover '" + (dir / "front.png") + "'" + strWav, 0, dir / "o2/01 A1.wav\n"},
        {strSides + (dir / "o3") + "'" + strWav, 0, dir / "o3/01 A1.wav\n"},
        {"export '" + (dir / "A record.cue") + "' '" + (dir / "o4") + "'" + strWav, 0, dir / "o4/01 A1.wav\n"},
        // Refused: the kept cover stays.
        {"export '" + (dir / "A record.cue") + "' '" + (dir / "o5") + "' --cover '" + (dir / "notes.png") + "'" + strWav, 1,
         "cadenzo-album: " + (dir / "notes.png") + " is not a JPEG or PNG image.\n"},
        {strSides + (dir / "o6") + "'" + strWav, 0, dir / "o6/01 A1.wav\n"},
    });
    for (const char* szOut : {"o3", "o4", "o6"}) EXPECT_TRUE(fs::exists(dir / (szOut + std::string("/cover.png")))) << szOut;

    // An edit of the sides, or of one of them, rewrites the record file that names them,
    // cover kept; the songs of one are numbered within it.
    RunSteps(CADENZO_ALBUM_PATH, {{"title '" + (dir / "A.wav") + "' '" + (dir / "B.wav") + "' 2 Flip", 0, ""},
                                  {"title '" + (dir / "B.wav") + "' 1 Flop", 0, ""},
                                  {"title '" + (dir / "B.wav") + "' 2 X", 1,
                                   "cadenzo-album: There is no song 2: the album has 1 song.\n"}});
    std::stringstream record;
    record << std::ifstream(dir / "A record.cue").rdbuf();
    EXPECT_EQ(record.str().find("    TITLE \"Flip\"\n"), std::string::npos) << record.str();
    EXPECT_NE(record.str().find("    TITLE \"Flop\"\n"), std::string::npos) << record.str();
    EXPECT_NE(record.str().find("front.png"), std::string::npos) << record.str();

    // So does a track list for one side, fitted or not; of a list naming sides, that side's lines.
    std::ofstream(dir / "b.txt") << "Flap\n";
    std::ofstream(dir / "ab.txt") << "A1 Flup 0:01\nB1 Ay 0:01\n";
    const std::string strB = "tracklist '" + (dir / "B.wav") + "' '";
    RunSteps(CADENZO_ALBUM_PATH, {{strB + (dir / "b.txt") + "'", 0, "   1  Flap\n"}});
    record.str("");
    record << std::ifstream(dir / "A record.cue").rdbuf();
    EXPECT_NE(record.str().find("    TITLE \"Flap\"\n"), std::string::npos) << record.str();
    RunSteps(CADENZO_ALBUM_PATH,
             {{"tracklist '" + (dir / "A.wav") + "' '" + (dir / "ab.txt") + "' --fit", 0, "   1  00:00.00  Flup\n"}});
    record.str("");
    record << std::ifstream(dir / "A record.cue").rdbuf();
    EXPECT_NE(record.str().find("    TITLE \"Flup\"\n"), std::string::npos) << record.str();
    EXPECT_EQ(record.str().find("Ay"), std::string::npos) << record.str();
}
