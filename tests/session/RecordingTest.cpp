// Whole recordings through the file-fed capture source: where the songs are cut, what
// the song files hold, how they are numbered and which last file is removed.

#include "SessionTestSupport.h"

#include <cmath>

using namespace sessiontest;

namespace {

// The gap rules of these tests, as slider positions: Gap Size 1.0 s, Min Song 1.0034 s,
// End Gap 2.0011 s. Short songs keep the inputs small.
const int32_t kGapPos = -1764;
const int32_t kMinSongPos = -177;
const int32_t kEndGapPos = -353;

// Interleaved samples of a silence that makes a cut, as the splitter derives it from the
// stored Gap Size (seconds x rate x 2, truncated).
int64_t GapSamples(int nRate)
{
    float fGap = static_cast<float>(1764.0 * static_cast<double>(0.00056689343f));
    return static_cast<int64_t>(static_cast<double>(nRate) * fGap * 2.0);
}

// Frame at which the next song starts when a loud passage ends at frame nLoudEnd (the
// first silent frame): the cut falls where the silent run first reaches Gap Size,
// counted from the last loud sample (the right channel of the last loud frame).
int64_t CutFrame(int64_t nLoudEnd, int nRate)
{
    int64_t nLastLoud = 2 * nLoudEnd - 1;
    return (nLastLoud + GapSamples(nRate)) / 2;
}

// Frames where loud passages end, for the segment list.
std::vector<int64_t> LoudEnds(const std::vector<Segment>& segments, int nRate)
{
    std::vector<int64_t> ends;
    int64_t nFrame = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        nFrame += static_cast<int64_t>(segments[i].fSeconds * nRate + 0.5);
        if (segments[i].bLoud && i + 1 < segments.size()) ends.push_back(nFrame);
    }
    return ends;
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override { SetGapRules(rig.splitter, kGapPos, kMinSongPos, kEndGapPos); }

    // Records the album at 44100 Hz 16-bit into base strBase; returns the input's samples.
    std::vector<int16_t> Record(const std::vector<Segment>& album, const std::string& strBase)
    {
        std::vector<int16_t> input = WriteAlbum<int16_t>(dir / "album.wav", 44100, album);
        rig.ChooseBase(strBase);
        rig.RecordFile(dir / "album.wav");
        return input;
    }

    SessionRig rig;
    CTempDir dir;
};

}  // namespace

TEST(FileNaming, NumberGoesBeforeTheLastDotOfTheFileName)
{
    EXPECT_EQ(CRecordSession::NumberedName("/rec/Song.wav", 1), "/rec/Song1.wav");
    EXPECT_EQ(CRecordSession::NumberedName("/rec/Song.wav", 10), "/rec/Song10.wav");
    EXPECT_EQ(CRecordSession::NumberedName("/my.music/Song.wav", 2), "/my.music/Song2.wav");
    EXPECT_EQ(CRecordSession::NumberedName("/my.music/Take", 3), "/my.music/Take3");
    EXPECT_EQ(CRecordSession::NumberedName("Live.2026.wav", 4), "Live.20264.wav");
    EXPECT_EQ(CRecordSession::NumberedName("Song.wav", 12), "Song12.wav");
}

TEST_F(RecordingTest, SongFilesTogetherHoldTheInputExactly_LastSilenceRemoved)
{
    // Three songs; the input ends 1.8 s into a silence: a cut after 1.0 s, then the end
    // of the input leaves 0.8 s of silence in a fourth file, which is removed.
    std::vector<Segment> album = {{1.5, true}, {1.5, false}, {2.0, true}, {1.2, false},
                                  {1.7, true}, {1.8, false}};
    std::vector<int16_t> input = Record(album, dir / "Song.wav");
    EXPECT_TRUE(rig.prompt.m_boxes.empty()) << rig.prompt.m_boxes[0].strText;

    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "Song.wav", true);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_FALSE(Exists(dir / "Song4.wav"));

    std::vector<int64_t> loudEnds = LoudEnds(album, 44100);
    int64_t nStart = 0;
    for (size_t k = 0; k < songs.size(); ++k) {
        int64_t nEnd = CutFrame(loudEnds[k], 44100);
        ASSERT_EQ(static_cast<int64_t>(songs[k].size()), 2 * (nEnd - nStart)) << "song " << k + 1;
        EXPECT_TRUE(std::equal(songs[k].begin(), songs[k].end(), input.begin() + 2 * nStart))
            << "song " << k + 1;
        nStart = nEnd;
    }
    // What the removed file held was silence only.
    for (size_t i = static_cast<size_t>(2 * nStart); i < input.size(); ++i) ASSERT_EQ(input[i], 0);

    std::vector<RecordSongFile> files = rig.session.GetSongFiles();
    ASSERT_EQ(files.size(), 4u);
    EXPECT_TRUE(files[3].bDeleted);
    EXPECT_EQ(files[3].strFile, "Song4.wav");
    EXPECT_EQ(files[1].nStartByte, 4 * CutFrame(loudEnds[0], 44100));

    // One progress message per buffer, a cut flag for each new file, idle at the end.
    int nCuts = 0;
    int64_t nBytes = 0;
    for (auto& p : rig.window.m_progress) {
        nCuts += p.second;
        nBytes += p.first;
    }
    EXPECT_EQ(nCuts, 3);
    EXPECT_EQ(nBytes, static_cast<int64_t>(input.size()) * 2);
    EXPECT_EQ(rig.window.m_controls, (std::vector<bool>{true, false}));
    EXPECT_EQ(rig.window.m_pictures.back(), false);
    // The field names the last file kept, not the removed closing silence.
    EXPECT_EQ(rig.window.m_status[RecordStatusField::CurFile], "Cur File: Song3.wav");
    EXPECT_EQ(rig.session.GetCurFileText(), "Cur File: Song3.wav");
    EXPECT_FALSE(rig.waveFile.IsOpen());
}

TEST_F(RecordingTest, EndGapEndsTheRecordingAndRemovesTheTrailingSilence)
{
    // Four seconds of silence after the last song: the end gap (2.0 s) ends the
    // recording before the input does.
    std::vector<Segment> album = {{1.5, true}, {1.5, false}, {1.5, true}, {4.0, false}, {1.0, true}};
    std::vector<int16_t> input = Record(album, dir / "Song.wav");

    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "Song.wav", true);
    ASSERT_EQ(songs.size(), 2u);
    std::vector<int64_t> loudEnds = LoudEnds(album, 44100);
    int64_t nCut1 = CutFrame(loudEnds[0], 44100), nCut2 = CutFrame(loudEnds[1], 44100);
    ASSERT_EQ(static_cast<int64_t>(songs[0].size()), 2 * nCut1);
    ASSERT_EQ(static_cast<int64_t>(songs[1].size()), 2 * (nCut2 - nCut1));
    EXPECT_TRUE(std::equal(songs[0].begin(), songs[0].end(), input.begin()));
    EXPECT_TRUE(std::equal(songs[1].begin(), songs[1].end(), input.begin() + 2 * nCut1));
    // The final loud passage came after the end of the recording and was not taken.
    int64_t nTotal = rig.session.GetTotalBytes();
    EXPECT_LT(nTotal, static_cast<int64_t>(input.size()) * 2);
    EXPECT_TRUE(rig.prompt.m_boxes.empty());
}

TEST_F(RecordingTest, LastSongCutOffByTheEndOfTheInputIsKeptWhateverItsLength)
{
    // The input stops 2.5 s or 0.8 s into a last song: its file (3 s, or 1.3 s which is
    // shorter than the end gap) holds music, not a trailing silence, and stays.
    for (double fLast : {2.5, 0.8}) {
        SCOPED_TRACE(fLast);
        const std::string strBase = dir / (fLast > 1 ? "Long.wav" : "Short.wav");
        std::vector<int16_t> input = Record({{1.5, true}, {1.5, false}, {fLast, true}}, strBase);
        std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(strBase, true);
        ASSERT_EQ(songs.size(), 2u);
        EXPECT_EQ(rig.splitter.IsShorterThanEndGap(static_cast<int64_t>(songs[1].size()) * 2), fLast < 1);
        EXPECT_EQ(Joined(songs), input);
    }
}

TEST_F(RecordingTest, NumberingGoesPastNineInAFolderWithDots)
{
    std::vector<Segment> album;
    for (int i = 0; i < 11; ++i) {
        album.push_back({1.2, true});
        album.push_back({1.1, false});
    }
    fs::create_directory(dir.Path() / "my.music.d");
    std::vector<int16_t> input = Record(album, dir / "my.music.d/Song.wav");

    // Eleven songs and a twelfth file of 0.1 s of silence, removed.
    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "my.music.d/Song.wav", true);
    ASSERT_EQ(songs.size(), 11u);
    EXPECT_TRUE(Exists(dir / "my.music.d/Song11.wav"));
    EXPECT_FALSE(Exists(dir / "my.music.d/Song12.wav"));
    EXPECT_FALSE(Exists(dir / "my1.music.d"));
    std::vector<int16_t> joined = Joined(songs);
    ASSERT_TRUE(IsPrefix(joined, input));
    for (size_t i = joined.size(); i < input.size(); ++i) ASSERT_EQ(input[i], 0);
    EXPECT_EQ(rig.window.m_status[RecordStatusField::CurFile], "Cur File: Song11.wav");
}

TEST_F(RecordingTest, FloatRecordingAt48kHzHoldsTheInputSamples)
{
    rig.splitter.SetSamplesPerSec(48000);
    rig.splitter.SetBitsPerSample(32);
    std::vector<Segment> album = {{1.5, true}, {1.5, false}, {2.5, true}};
    std::vector<float> input = WriteAlbum<float>(dir / "album.wav", 48000, album);
    rig.ChooseBase(dir / "Song.wav");
    rig.RecordFile(dir / "album.wav");

    std::vector<std::vector<float>> songs = ReadSongs<float>(dir / "Song.wav", true);
    ASSERT_EQ(songs.size(), 2u);
    ReadBack first = ReadSound(dir / "Song1.wav", true);
    EXPECT_EQ(first.nFormat, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(first.nRate, 48000);
    EXPECT_EQ(first.nFrames, CutFrame(LoudEnds(album, 48000)[0], 48000));
    EXPECT_EQ(Joined(songs), input);
}

TEST_F(RecordingTest, FilesNeverPassTheSizeLimitAndLoseNothing)
{
    // One long song against a tiny limit: the song goes on in the next numbered files,
    // every file valid, nothing lost, and the short last piece is not taken for a
    // trailing silence.
    rig.session.SetFileDataLimit(100001);  // rounded down to whole frames: 100000
    std::vector<int16_t> input = Record({{1.5, true}}, dir / "Song.wav");

    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "Song.wav", true);
    ASSERT_EQ(songs.size(), 3u);  // 264600 bytes: 100000 + 100000 + 64600
    EXPECT_EQ(songs[0].size() * 2, 100000u);
    EXPECT_EQ(songs[1].size() * 2, 100000u);
    EXPECT_EQ(songs[2].size() * 2, 64600u);
    EXPECT_EQ(Joined(songs), input);
    std::vector<RecordSongFile> files = rig.session.GetSongFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_TRUE(files[1].bContinued);
    EXPECT_FALSE(files[2].bDeleted);
}
