// Listening after End Gap, through the file-fed capture: a silence longer than End Gap
// that sound follows within the listening time leaves the recording whole, cut exactly as
// a longer End Gap would cut it; one that stays quiet, or a Stop while listening, leaves
// exactly the files a recording without listening leaves.

#include "SessionTestSupport.h"

using namespace sessiontest;

namespace {

const int32_t kGapPos = -1764;       // 1.0 s
const int32_t kEndGapPos = -353;     // 2.0 s
const int32_t kLongEndGapPos = -1764;  // 10.0 s
const double kListenSeconds = 3.0;   // End Gap + listening: 5 s

struct Outcome {
    std::vector<std::vector<int16_t>> songs;
    std::vector<RecordResume> resumes;
};

Outcome RecordWith(const std::string& strInput, const std::string& strBase, int32_t nMinSongPos, int32_t nEndGapPos,
            double fListen, bool bStopWhileListening = false)
{
    SessionRig rig;
    SetGapRules(rig.splitter, kGapPos, nMinSongPos, nEndGapPos);
    rig.session.SetListenSeconds(fListen);
    if (bStopWhileListening)
        rig.session.SetWorkerStallHook([&rig] {
            if (rig.session.IsListening()) rig.session.OnStop();
        });
    rig.ChooseBase(strBase);
    rig.RecordFile(strInput);
    for (const ShownBox& box : rig.prompt.m_boxes) ADD_FAILURE() << box.strCaption << ": " << box.strText;
    return {ReadSongs<int16_t>(strBase, true), rig.session.GetResumes()};
}

struct ListenCase {
    const char* szName;
    std::vector<Segment> album;
    int32_t nMinSongPos;
    bool bStopWhileListening;
    bool bGoesOn;       // the recording goes on past the first silence
    size_t nSongs;      // song files kept
};

}  // namespace

TEST(EndGapListen, SoundThatComesBackKeepsTheRecordingWhole_OtherwiseFilesAsWithoutListening)
{
    const std::vector<ListenCase> cases = {
        // 3.5 s of silence: End Gap is reached 2 s in, the song after it 1.5 s later.
        // (Min Song 3 s: a longer End Gap would also let a shorter Min Song cut the silence again.)
        {"comes back", {{1.5, true}, {3.5, false}, {1.5, true}, {11, false}}, -530, false, true, 2},
        // Min Song 3 s is first met 0.5 s into the listening: the cut falls in the held audio.
        {"cut in the held audio", {{0.5, true}, {4.0, false}, {1.5, true}, {11, false}}, -530, false, true, 2},
        // 6 s of silence, longer than End Gap and the listening together.
        {"stays quiet", {{1.5, true}, {1.5, false}, {1.5, true}, {6.0, false}, {1.0, true}, {3, false}}, -177,
         false, false, 2},
        // Stop while listening ends the recording where End Gap ended it.
        {"stop while listening", {{1.5, true}, {3.5, false}, {1.5, true}, {11, false}}, -530, true, false, 1},
    };
    for (const ListenCase& c : cases) {
        SCOPED_TRACE(c.szName);
        CTempDir dir;
        const std::vector<int16_t> input = WriteAlbum<int16_t>(dir / "album.wav", 44100, c.album);
        const Outcome listened =
            RecordWith(dir / "album.wav", dir / "Listen.wav", c.nMinSongPos, kEndGapPos, kListenSeconds, c.bStopWhileListening);
        // Going on: the songs a long End Gap gives. Not: the files of no listening, to the byte.
        const Outcome expected = RecordWith(dir / "album.wav", dir / "Expected.wav", c.nMinSongPos,
                                     c.bGoesOn ? kLongEndGapPos : kEndGapPos, 0);
        ASSERT_EQ(listened.songs.size(), c.nSongs);
        // (The long End Gap also cuts the closing silence into more files: the songs are compared.)
        ASSERT_GE(expected.songs.size(), c.nSongs);
        EXPECT_TRUE(std::equal(listened.songs.begin(), listened.songs.end(), expected.songs.begin()));
        if (!c.bGoesOn) {
            EXPECT_EQ(listened.songs.size(), expected.songs.size());
        }
        EXPECT_EQ(listened.resumes.size(), c.bGoesOn ? 1u : 0u);
        EXPECT_TRUE(IsPrefix(Joined(listened.songs), input));
        if (c.bGoesOn) {
            // Every sample up to the end of the last song, once.
            EXPECT_GE(Joined(listened.songs).size(), 2 * static_cast<size_t>(44100 * (c.album[0].fSeconds +
                                                                                       c.album[1].fSeconds + 1.5)));
            const RecordResume& r = listened.resumes[0];
            EXPECT_EQ(r.strFile, "Listen2.wav");
            EXPECT_GE(r.fSilenceSeconds, c.album[1].fSeconds);
            EXPECT_LT(r.fSilenceSeconds, c.album[1].fSeconds + 0.4);  // within a buffer of 0.37 s
        }
    }
}
