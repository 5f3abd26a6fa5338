// The track list parser on lines as people copy them from sleeves and web pages, and its
// titles given to the sides of a record.

#include "AlbumTestSupport.h"

#include "album/Record.h"
#include "album/TrackList.h"

TEST(TrackList, RealWorldLines)
{
    struct Case {
        const char* szText;
        const char* szSide;
        int nPosition;
        const char* szTitle;  // nullptr: the line is refused
        int64_t nSeconds;
    };
    const Case cases[] = {
        {"A1 Speak to Me 1:13", "A", 1, "Speak to Me", 73},
        {"b12\tOn the Run\t3:36", "B", 12, "On the Run", 216},
        {"1. Time (6:53)", "", 1, "Time", 413},
        {"01 - The Great Gig - 4:36", "", 1, "The Great Gig", 276},
        {"3) Money [6:22]", "", 3, "Money", 382},
        {"07 \xE2\x80\x93 Us and Them \xE2\x80\x93 7:49", "", 7, "Us and Them", 469},
        {"  02  \t Brain Damage   1:03:49  ", "", 2, "Brain Damage", 3829},
        {"4. 1.5 Degrees 2:00", "", 4, "1.5 Degrees", 120},
        {"5 Eclipse", "", 5, "Eclipse", -1},
        {"6. Hour 3:75", "", 6, "Hour 3:75", -1},         // seconds past 59: part of the title
        {"8. Clock 1:5:00", "", 8, "Clock 1:5:00", -1},     // minutes need two digits after hours
        {"9. Train to 10:15", "", 9, "Train to", 615},     // a time at the end reads as a duration
        {"10. Ratio2:30", "", 10, "Ratio2:30", -1},        // not apart from the title
        {"A2", "", 0, nullptr, -1},                        // a position alone
        {"11. 3:45", "", 0, nullptr, -1},                  // a duration alone
        {"Side Effects 4:00", "", 0, "Side Effects", 240}, // a title, not a side
        {"Any Colour You Like 3:26", "", 0, "Any Colour You Like", 206},
        {"Any Colour You Like", "", 0, "Any Colour You Like", -1},
        {"99 Balloons 3:52", "", 0, "99 Balloons", 232},   // after an unnumbered first line
    };
    // Each case after a first line that sets whether the list is numbered, as real lists are.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szText);
        const bool bNumbered = c.nPosition > 0 || (c.szTitle == nullptr);
        const std::string strText = std::string(bNumbered ? "1 First\n" : "First\n") + c.szText + "\n";
        CTrackList list = TrackList::Parse(strText);
        ASSERT_EQ(list.tracks.size(), c.szTitle ? 2u : 1u);
        if (c.szTitle == nullptr) {
            ASSERT_EQ(list.refused.size(), 1u);
            EXPECT_EQ(list.refused[0], std::string("Line 2 has no title: ") + c.szText);
            continue;
        }
        const CTrackLine& track = list.tracks[1];
        EXPECT_EQ(track.nLine, 2);
        EXPECT_EQ(track.strSide, c.szSide);
        EXPECT_EQ(track.nPosition, c.nPosition);
        EXPECT_EQ(track.strTitle, c.szTitle);
        EXPECT_EQ(track.nSeconds, c.nSeconds);
    }
}

TEST(TrackList, SideHeadingsBlankLinesAndCounts)
{
    CTrackList list = TrackList::Parse("\xEF\xBB\xBFSide A\r\nOne 1:00\r\n\r\nTwo 2:00\r\nSIDE B:\r\nThree\r\n");
    ASSERT_EQ(list.tracks.size(), 3u);
    EXPECT_EQ(list.tracks[0].strSide, "A");
    EXPECT_EQ(list.tracks[1].strTitle, "Two");
    EXPECT_EQ(list.tracks[1].nLine, 4);
    EXPECT_EQ(list.tracks[2].strSide, "B");
    EXPECT_FALSE(list.HasDurations());
    EXPECT_TRUE(TrackList::Parse("One 1:00\nTwo 2:00").HasDurations());
    EXPECT_EQ(TrackList::CountMismatch("A", 4, 5), "Side A has 4 songs, the track list 5: split a song, or fit the cuts.");
    EXPECT_EQ(TrackList::CountMismatch("", 1, 0), "The album has 1 song, the track list 0: join songs, or fit the cuts.");
}

TEST(TrackList, TitlesForARecord_CheckEverySideToTheLast)
{
    std::mt19937 rng(12);
    albumtest::TempFolder dir;
    albumtest::MakeAlbum(dir / "A.wav", {100, 100}, 16, rng);
    albumtest::MakeAlbum(dir / "B.wav", {100, 100, 100}, 16, rng);
    CRecord record;
    ASSERT_TRUE(record.OpenSides({dir / "A.wav", dir / "B.wav"})) << record.GetErrorText();
    struct {
        const char* szList;
        const char* szError;  // empty: the titles are given
    } const cases[] = {
        {"A1 a\nA2 b\nB1 c\nB2 d\n", "Side B has 3 songs, the track list 2: join songs, or fit the cuts."},
        {"A1 a\nA2 b\nB1 c\nB2 d\nB3 e\nB4 f\n", "Side B has 3 songs, the track list 4: split a song, or fit the cuts."},
        {"A1 a\nB1 c\nB2 d\nB3 e\n", "Side A has 2 songs, the track list 1: join songs, or fit the cuts."},
        {"A1 a\nA2 b\nB1 c\nB2 d\nB3 e\nC1 f\n", "The record has 2 sides, the track list 3."},
        {"a\nb\nc\nd\n", "The album has 5 songs, the track list 4: join songs, or fit the cuts."},
        {"A1 a\nA2 b\nB1 c\nB2 d\nB3 e\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.szList);
        std::string strError;
        EXPECT_EQ(TrackList::SetTitles(record, TrackList::Parse(c.szList), &strError), *c.szError == 0);
        EXPECT_EQ(strError, c.szError);
        EXPECT_EQ(record.GetSongs()[4].strTitle, *c.szError ? "" : "e");
    }
}
