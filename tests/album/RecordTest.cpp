// A record of several sides through the album library: numbering across the sides, edits
// that stay inside their side, a side removed, and the record file as players read it and
// as the record reads it back.

#include "AlbumTestSupport.h"

#include "album/Export.h"
#include "album/FitCuts.h"
#include "album/Record.h"

#include <libcue.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

using namespace albumtest;

namespace {

std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What a player sees in a cue sheet: each track's file name and title, in order.
std::vector<std::string> CueTracks(const std::string& strPath, std::string* pPerformer = nullptr)
{
    std::vector<std::string> tracks;
    Cd* pCd = cue_parse_string(ReadFile(strPath).c_str());
    EXPECT_NE(pCd, nullptr) << strPath;
    if (pCd == nullptr) return tracks;
    for (int t = 1; t <= cd_get_ntrack(pCd); ++t) {
        Track* pTrack = cd_get_track(pCd, t);
        const char* szTitle = cdtext_get(PTI_TITLE, track_get_cdtext(pTrack));
        tracks.push_back(fs::path(track_get_filename(pTrack)).filename().string() + "|" + (szTitle ? szTitle : ""));
        const char* szPerformer = cdtext_get(PTI_PERFORMER, track_get_cdtext(pTrack));
        if (pPerformer) *pPerformer = szPerformer ? szPerformer : "";
    }
    cd_delete(pCd);
    return tracks;
}

std::vector<std::string> Files(const CRecord& record)
{
    std::vector<std::string> files;
    for (const CAlbumSong& song : record.GetSongs())
        files.push_back(fs::path(song.strPath).filename().string() + "|" + song.strTitle);
    return files;
}

}  // namespace

TEST(Record, SidesNumberedAcrossEditedInsideRemovedAndReadBack)
{
    std::mt19937 rng(18);
    TempFolder dir;
    const int64_t s = 44100;
    MakeAlbum(dir / "Side A.wav", {s, 2 * s, s}, 16, rng);
    MakeAlbum(dir / "Side B.wav", {2 * s, s}, 16, rng);
    MakeAlbum(dir / "Side C.wav", {s}, 16, rng);
    const std::string strRecord = dir / "LP record.cue";
    CRecord record;
    ASSERT_TRUE(record.OpenSides({dir / "Side A.wav", dir / "Side B.wav", dir / "Side C.wav"}, strRecord))
        << record.GetErrorText();
    ASSERT_EQ(record.GetSongCount(), 6);
    EXPECT_EQ(record.GetSongStart(4), 4 * s);  // side B's first song follows side A's last
    EXPECT_EQ(record.GetSideOf(3), 0);
    EXPECT_EQ(record.GetSideOf(4), 1);
    EXPECT_EQ(record.GetSideOf(6), 2);

    ASSERT_TRUE(record.SetInfo({"Album", "Band", "1979"}));
    ASSERT_TRUE(record.SetTitle(4, "B one")) << record.GetErrorText();
    // The side keeps its own title in its own cue sheet, the record file has it as track 4.
    EXPECT_EQ(CueTracks(dir / "Side B.cue")[0], "Side B1.wav|B one");
    std::string strPerformer;
    EXPECT_EQ(CueTracks(strRecord, &strPerformer),
              (std::vector<std::string>{"Side A1.wav|", "Side A2.wav|", "Side A3.wav|", "Side B1.wav|B one",
                                        "Side B2.wav|", "Side C1.wav|"}));
    EXPECT_EQ(strPerformer, "Band");

    // Edits stay inside their side; the cut and the join across a side's end are refused
    // and change nothing.
    const std::map<std::string, std::string> before = FolderBytes(dir.path);
    struct Refused {
        std::function<bool()> fnEdit;
        std::string strText;
    } const refused[] = {
        {[&] { return record.Join(3); },
         "Song 3 ends side A and song 4 begins side B: songs of two sides are never joined."},
        {[&] { return record.MoveCut(3, 4 * s - 10); }, "Song 3 ends side A: a cut never moves past the end of a side."},
        {[&] { return record.MoveCut(4, 4 * s - 10); }, "Cut 4 can only move inside songs 4 and 5."},
        {[&] { return record.Split(6, 7 * s); }, "Song 6 can only be split inside it."},
        {[&] { return record.Join(6); }, "Cannot join song 6 with the next: the record has 6 songs."},
    };
    for (const Refused& r : refused) {
        EXPECT_FALSE(r.fnEdit());
        EXPECT_EQ(record.GetErrorText(), r.strText);
    }
    EXPECT_EQ(FolderBytes(dir.path), before);

    ASSERT_TRUE(record.MoveCut(4, 5 * s)) << record.GetErrorText();  // side B: 2 s + 1 s -> 1 s + 2 s
    ASSERT_TRUE(record.Split(1, s / 2)) << record.GetErrorText();    // side A gets a fourth song
    EXPECT_EQ(record.GetSongCount(), 7);
    EXPECT_EQ(record.GetFirstSong(1), 5);
    EXPECT_EQ(record.GetSongStart(6), 5 * s);
    EXPECT_EQ(CueTracks(strRecord)[4], "Side B1.wav|B one");
    EXPECT_EQ(CueTracks(strRecord).size(), 7u);
    // Undo goes back through the sides in the order of the edits.
    ASSERT_TRUE(record.Undo());
    EXPECT_EQ(record.GetSongCount(), 6);
    EXPECT_EQ(record.GetSongStart(5), 5 * s);
    ASSERT_TRUE(record.Undo());
    EXPECT_EQ(record.GetSongStart(5), 6 * s);
    ASSERT_TRUE(record.Redo());
    EXPECT_EQ(record.GetSongStart(5), 5 * s);

    // An edit that fails leaves the record file as it was: it is written in the edit's step.
    const std::string strFileBefore = ReadFile(strRecord);
    record.SetFaultHook([](const std::string& strStep) { return strStep.find("rename") == std::string::npos; });
    EXPECT_FALSE(record.Split(2, s + s / 2));
    record.SetFaultHook({});
    EXPECT_EQ(ReadFile(strRecord), strFileBefore);

    // Discs, vinyl numbering, and side B removed: its files stay as they are.
    ASSERT_TRUE(record.SetDisc(0, 1) && record.SetDisc(1, 1) && record.SetDisc(2, 2));
    ASSERT_TRUE(record.SetVinyl(true));
    const std::map<std::string, std::string> all = FolderBytes(dir.path);
    ASSERT_TRUE(record.RemoveSide(1)) << record.GetErrorText();
    for (const auto& file : FolderBytes(dir.path)) {
        if (file.first.compare(0, 6, "Side B") == 0) {
            EXPECT_EQ(file.second, all.at(file.first)) << file.first;
        }
    }
    EXPECT_TRUE(fs::exists(dir / "Side B1.wav") && fs::exists(dir / "Side B2.wav"));
    EXPECT_EQ(CueTracks(strRecord).size(), 4u);
    ASSERT_TRUE(record.MoveSide(1, 0));  // side C first
    // Side B's move left the history with side B; the split of side A comes back.
    EXPECT_FALSE(record.CanUndo());
    ASSERT_TRUE(record.Redo()) << record.GetErrorText();

    // Read back: the record file names the sides, discs, numbering and data.
    EXPECT_EQ(CRecord::FindFor(dir / "Side A.wav"), strRecord);
    EXPECT_EQ(CRecord::FindFor(dir / "Side B.wav"), "");
    CRecord again;
    ASSERT_TRUE(again.Open(strRecord)) << again.GetErrorText();
    EXPECT_EQ(Files(again), (std::vector<std::string>{"Side C1.wav|", "Side A1.wav|", "Side A2.wav|", "Side A3.wav|",
                                        "Side A4.wav|"}));
    EXPECT_EQ(again.GetInfo().strArtist, "Band");
    EXPECT_EQ(again.GetInfo().strYear, "1979");
    ASSERT_EQ(again.GetSideCount(), 2);
    EXPECT_EQ(again.GetDisc(0), 2);
    EXPECT_EQ(again.GetDisc(1), 1);
    EXPECT_EQ(again.GetLayout().songs[1].strPlace, "B1");
    EXPECT_EQ(again.GetLayout().nDiscs, 2);

    // Exported: numbered 1..N across the sides, named by their place on the sleeve.
    CExportOptions options;
    options.strFolder = dir / "out";
    options.bReplayGain = false;
    CExportJob job;
    ASSERT_TRUE(job.Start(again.GetLayout(), options));
    job.Wait();
    const CExportReport report = job.GetReport();
    ASSERT_EQ(report.files.size(), 5u) << report.strError;
    EXPECT_EQ(fs::path(report.files[0]).filename(), "A1 Side C1.flac");
    EXPECT_EQ(fs::path(report.files[4]).filename(), "B4 Side A4.flac");
    TagLib::FileRef file(report.files[4].c_str());
    const TagLib::PropertyMap tags = file.file()->properties();
    EXPECT_EQ(tags["TRACKNUMBER"].toString().to8Bit(), "5");
    EXPECT_EQ(tags["TRACKTOTAL"].toString().to8Bit(), "5");
    EXPECT_EQ(tags["DISCNUMBER"].toString().to8Bit(), "1");
    EXPECT_EQ(tags["DISCTOTAL"].toString().to8Bit(), "2");
}

TEST(Record, CutsFittedToATrackListSideBySide)
{
    // Each side: a second of lead-in, then music of 10, 8 and 6 s with 2 s of silence
    // between, and a second of run-out; side A cut once at 12 s, side B at 10 s and 20 s.
    const int64_t s = 44100;
    std::mt19937 rng(4);
    TempFolder dir;
    WriteTwoSides(dir, rng, s, {{1, false}, {10, true}, {2, false}, {8, true}, {2, false}, {6, true}, {1, false}});
    CRecord record;
    ASSERT_TRUE(record.OpenSides({dir / "A.wav", dir / "B.wav"}, dir / "LP.cue")) << record.GetErrorText();

    // Durations that put side A's first end in the middle of a song: its count differs and
    // that end has no quiet, so nothing on side A changes; side B is fitted.
    std::vector<std::string> report;
    std::string strError;
    EXPECT_FALSE(FitCuts::Fit(record, TrackList::Parse("A1 a 0:03\nA2 b 0:05\nA3 c 0:20\nB1 Uno 0:11\n"
                                                        "B2 Dos 0:10\nB3 Tres 0:07\n"),
                              &report, &strError));
    EXPECT_EQ(strError, "");
    // Side A's second end has a quiet to go to, but the side is left as it was: no move of
    // it is listed as if made.
    EXPECT_EQ(report, (std::vector<std::string>{
                          "Nothing on side A was changed: it has 2 songs, the track list 3, and 1 of the 2 cuts the "
                          "track list asks for could not be placed.",
                          "Side A: the end of song 1 (expected at 0:04.0) has no quiet within 5 s.",
                          "Side B: cut 1 moved from 0:10.0 to 0:12.0.", "Side B: cut 2 moved from 0:20.0 to 0:22.0."}));
    EXPECT_EQ(record.GetSide(0).GetSongCount(), 2);
    EXPECT_EQ(record.GetSongs()[3].strTitle, "Dos");

    report.clear();
    ASSERT_TRUE(FitCuts::Fit(record, TrackList::Parse("A1 One 0:11\nA2 Two 0:10\nA3 Three 0:07\nB1 Uno 0:11\n"
                                                       "B2 Dos 0:10\nB3 Tres 0:07\n"),
                             &report, &strError))
        << strError << ::testing::PrintToString(report);
    ASSERT_EQ(record.GetSongCount(), 6);
    for (int32_t k : {2, 3, 5, 6}) {
        // Each new start lies inside the silence the durations point at, not at its edge.
        const int64_t nInSide = record.GetSongStart(k) - record.GetSideStart(record.GetSideOf(k));
        const int64_t nGap = k % 3 == 2 ? 11 * s : 21 * s;
        EXPECT_GT(nInSide, nGap + s / 2) << k;
        EXPECT_LT(nInSide, nGap + 3 * s / 2) << k;
    }
    EXPECT_EQ(record.GetSongs()[4].strTitle, "Dos");
    // Side A's two new songs; side B was fitted already.
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0], "Side A had 2 songs; it has the track list's 3 now.");
    EXPECT_EQ(report[2].substr(0, 25), "Side A: song 3 begins at ");
    // One edit per side: two undos give both sides back.
    ASSERT_TRUE(record.Undo());
    EXPECT_EQ(record.GetSongCount(), 5);
    ASSERT_TRUE(record.Undo());
    EXPECT_EQ(record.GetSongStart(4), record.GetSideStart(1) + 10 * s);
    EXPECT_FALSE(record.CanUndo());
}

TEST(Record, TrimTakesEachSidesLeadInAndLeadOutDownToHalfASecond)
{
    // Each side: 2 s of needle drop, 26 s of music, 2 s of lift; side A cut at 12 s, side B
    // at 10 and 20 s.
    const int64_t s = 44100;
    std::mt19937 rng(9);
    TempFolder dir;
    WriteTwoSides(dir, rng, s, {{2, false}, {26, true}, {2, false}});
    CRecord record;
    ASSERT_TRUE(record.OpenSides({dir / "A.wav", dir / "B.wav"})) << record.GetErrorText();
    std::vector<std::vector<uint8_t>> songs;
    for (const CAlbumSong& song : record.GetSongs()) songs.push_back(SampleBytes(song.strPath));

    CExportOptions options;
    options.strFolder = dir / "out";
    options.format = CExportFormat::Wav;
    options.bTrim = true;
    CExportJob job;
    ASSERT_TRUE(job.Start(record.GetLayout(), options));
    job.Wait();
    const CExportReport report = job.GetReport();
    ASSERT_EQ(report.files.size(), 5u) << report.strError;
    const size_t nCut = static_cast<size_t>(3 * s / 2 * 4);  // 1.5 s of 16-bit stereo
    const std::vector<std::pair<size_t, size_t>> cuts = {{nCut, 0}, {0, nCut}, {nCut, 0}, {0, 0}, {0, nCut}};
    for (size_t i = 0; i < cuts.size(); ++i)
        EXPECT_TRUE(SampleBytes(report.files[i]) ==
                    std::vector<uint8_t>(songs[i].begin() + static_cast<long>(cuts[i].first),
                                         songs[i].end() - static_cast<long>(cuts[i].second)))
            << report.files[i];
    EXPECT_EQ(report.nTrimmedFrames, 4 * (3 * s / 2));
    EXPECT_EQ(CExportJob::TrimText(report, 44100),
              "Side A: trimmed 1.5 s before its first song and 1.5 s after its last.\n"
              "Side B: trimmed 1.5 s before its first song and 1.5 s after its last.");
}

TEST(Record, ARecordFileThatCannotBeWritten_LeavesTheRecordAsItWasAndSaysWhy)
{
    std::mt19937 rng(19);
    TempFolder dir;
    MakeAlbum(dir / "A.wav", {1000, 2000}, 16, rng);
    MakeAlbum(dir / "B.wav", {1500}, 16, rng);
    MakeAlbum(dir / "C.wav", {500}, 16, rng);
    const std::string strRecord = dir / "LP.cue";
    CRecord record;
    ASSERT_TRUE(record.OpenSides({dir / "A.wav", dir / "B.wav"}, strRecord)) << record.GetErrorText();
    ASSERT_TRUE(record.SetCover(dir / "old.jpg"));
    const std::string strText =
        "Cannot put the new " + strRecord + " in place: Input/output error. The record was left as it was.";
    // Every change of the record's own data fails as the new record file takes its name.
    const std::function<bool()> changes[] = {
        [&] { return record.SetCover(dir / "new.png"); },     [&] { return record.SetCover(""); },
        [&] { return record.SetDisc(1, 2); },                 [&] { return record.SetVinyl(true); },
        [&] { return record.SetInfo({"Album", "Band", "1979"}); }, [&] { return record.MoveSide(1, 0); },
        [&] { return record.RemoveSide(0); },                 [&] { return record.AddSide(dir / "C.wav"); },
    };
    const auto before = FolderBytes(dir.path);
    const std::string strState = record.FileText();
    for (size_t i = 0; i < std::size(changes); ++i) {
        SCOPED_TRACE("change " + std::to_string(i));
        record.SetFaultHook([](const std::string& strStep) {
            if (strStep.compare(0, 12, "put the new ") != 0) return true;
            errno = EIO;
            return false;
        });
        EXPECT_FALSE(changes[i]());
        record.SetFaultHook({});
        EXPECT_EQ(record.GetErrorText(), strText);
        EXPECT_EQ(FolderBytes(dir.path), before);
        EXPECT_EQ(record.FileText(), strState);
        EXPECT_EQ(record.GetCover(), dir / "old.jpg");
        EXPECT_EQ(record.GetSongCount(), 3);
    }
    // Written, the new cover is what the record reads back.
    ASSERT_TRUE(record.SetCover(dir / "new.png")) << record.GetErrorText();
    CRecord again;
    ASSERT_TRUE(again.Open(strRecord)) << again.GetErrorText();
    EXPECT_EQ(again.GetCover(), dir / "new.png");
}
