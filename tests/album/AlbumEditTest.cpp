// The album's edits: samples never lost, duplicated or altered; every failure leaves the
// files as they were; titles follow their songs into BASE.cue and back.

#include "AlbumTestSupport.h"
#include "album/AlbumFiles.h"
#include "album/CueSheet.h"

#include "album/Album.h"
#include "capture/WaveFile.h"

#include <libcue.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace albumtest;

namespace {

std::vector<int64_t> Lengths(const CAlbum& album)
{
    std::vector<int64_t> v;
    for (const CAlbumSong& song : album.GetSongs()) v.push_back(song.nFrames);
    return v;
}

// The song files on disk, one after another, are the recording; nothing else but the cue
// sheet is left in the folder; the album reads back the same from the disk.
void ExpectAlbumOnDisk(const CAlbum& album, const TempFolder& dir,
                       const std::vector<uint8_t>& recording)
{
    std::vector<uint8_t> all;
    for (const CAlbumSong& song : album.GetSongs()) {
        std::vector<uint8_t> bytes = SampleBytes(song.strPath);
        EXPECT_EQ(static_cast<int64_t>(bytes.size()), song.nFrames * album.GetFormat().BytesPerFrame())
            << song.strPath;
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(all == recording) << "the songs no longer hold the recording";
    EXPECT_EQ(FolderBytes(dir.path).size(), album.GetSongs().size() + 1) << "stray files";

    CAlbum again;
    ASSERT_TRUE(again.Open(album.GetBasePath())) << again.GetErrorText();
    EXPECT_EQ(Lengths(again), Lengths(album));
    for (int32_t k = 1; k <= album.GetSongCount(); ++k)
        EXPECT_EQ(again.GetSongs()[k - 1].strTitle, album.GetSongs()[k - 1].strTitle) << k;
    EXPECT_EQ(again.GetInfo().strArtist, album.GetInfo().strArtist);
}

}  // namespace

TEST(AlbumEdits, RandomEditsUndosAndRedos_KeepEverySampleInOrder)
{
    for (int nBits : {16, 24, 32}) {
        SCOPED_TRACE("bits " + std::to_string(nBits));
        std::mt19937 rng(static_cast<unsigned>(nBits));
        TempFolder dir;
        const std::string strBase = dir / "Side A.wav";
        std::vector<uint8_t> recording = MakeAlbum(strBase, {700, 1500, 40, 2300}, nBits, rng);
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase)) << album.GetErrorText();
        ASSERT_TRUE(album.SetInfo({"Album \"One\"", "Artist", "1979"}));
        // Nothing undone yet: a redo is refused, not reported as done.
        EXPECT_FALSE(album.Redo());
        EXPECT_EQ(album.GetErrorText(), "There is nothing to redo.");

        // The lengths after each edit, to see that undo and redo go back exactly.
        std::vector<std::vector<int64_t>> states{Lengths(album)};
        size_t nState = 0;
        for (int nStep = 0; nStep < 40; ++nStep) {
            const int32_t nSongs = album.GetSongCount();
            const int64_t nTotal = album.GetTotalFrames();
            auto pick = [&](int64_t a, int64_t b) {  // in [a, b]
                return std::uniform_int_distribution<int64_t>(a, b)(rng);
            };
            int nOp = static_cast<int>(pick(0, 5));
            bool bEdit = false;
            if (nOp == 0 && nSongs > 1) {
                int32_t k = static_cast<int32_t>(pick(1, nSongs - 1));
                int64_t nFrame = pick(album.GetSongStart(k) + 1, album.GetSongStart(k + 2) - 1);
                bEdit = nFrame != album.GetSongStart(k + 1);
                ASSERT_TRUE(album.MoveCut(k, nFrame)) << album.GetErrorText();
            } else if (nOp == 1 && nSongs > 1) {
                ASSERT_TRUE(album.Join(static_cast<int32_t>(pick(1, nSongs - 1)))) << album.GetErrorText();
                bEdit = true;
            } else if (nOp == 2) {
                int64_t nFrame = pick(1, nTotal - 1);
                int32_t k = 0;
                for (int32_t i = 1; i <= nSongs; ++i)
                    if (album.GetSongStart(i) < nFrame) k = i;
                if (nFrame < album.GetSongStart(k + 1) && nFrame > album.GetSongStart(k)) {
                    ASSERT_TRUE(album.Split(k, nFrame)) << album.GetErrorText();
                    bEdit = true;
                }
            } else if (nOp == 3 && album.CanUndo()) {
                ASSERT_TRUE(album.Undo()) << album.GetErrorText();
                EXPECT_EQ(Lengths(album), states[--nState]);
            } else if (nOp == 4 && album.CanRedo()) {
                ASSERT_TRUE(album.Redo()) << album.GetErrorText();
                EXPECT_EQ(Lengths(album), states[++nState]);
            } else if (nOp == 5) {
                int32_t k = static_cast<int32_t>(pick(1, nSongs));
                ASSERT_TRUE(album.SetTitle(k, "Song \"" + std::to_string(nStep) + "\" / é"));
            }
            if (bEdit) {
                states.resize(++nState);
                states.push_back(Lengths(album));
                EXPECT_FALSE(album.CanRedo());
            }
            ExpectAlbumOnDisk(album, dir, recording);
            if (HasFatalFailure() || HasFailure()) return;
        }
        while (album.CanUndo()) ASSERT_TRUE(album.Undo()) << album.GetErrorText();
        EXPECT_EQ(Lengths(album), (std::vector<int64_t>{700, 1500, 40, 2300}));
        ExpectAlbumOnDisk(album, dir, recording);
    }
}

TEST(AlbumEdits, TitlesFollowTheirSongs_ThroughJoinSplitAndUndo)
{
    std::mt19937 rng(7);
    TempFolder dir;
    const std::string strBase = dir / "Side B.wav";
    MakeAlbum(strBase, {100, 200, 300}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    for (int32_t k = 1; k <= 3; ++k) ASSERT_TRUE(album.SetTitle(k, "T" + std::to_string(k)));
    auto titles = [&] {
        std::string s;
        for (const CAlbumSong& song : album.GetSongs()) s += "[" + song.strTitle + "]";
        return s;
    };
    ASSERT_TRUE(album.Join(1));
    EXPECT_EQ(titles(), "[T1][T3]");
    ASSERT_TRUE(album.Split(2, 350));
    ASSERT_TRUE(album.SetTitle(3, "Half"));
    EXPECT_EQ(titles(), "[T1][T3][Half]");
    ASSERT_TRUE(album.Undo());
    EXPECT_EQ(titles(), "[T1][T3]");
    ASSERT_TRUE(album.Redo());
    EXPECT_EQ(titles(), "[T1][T3][Half]");
    ASSERT_TRUE(album.Undo());
    ASSERT_TRUE(album.Undo());
    EXPECT_EQ(titles(), "[T1][T2][T3]");
    ASSERT_TRUE(album.SetTitle(1, ""));
    ASSERT_TRUE(album.Join(1));
    EXPECT_EQ(titles(), "[T2][T3]");
    ASSERT_TRUE(album.Undo());
    EXPECT_EQ(titles(), "[][T2][T3]");
    // Songs set at once (a fit), undone, a title given, redone and undone: the title given
    // in between comes back, not the one before the fit.
    ASSERT_TRUE(album.SetSongs({0, 150, 450}, {"F1", "F2", "F3"}));
    ASSERT_TRUE(album.Undo());
    ASSERT_TRUE(album.SetTitle(1, "Given"));
    ASSERT_TRUE(album.Redo());
    EXPECT_EQ(titles(), "[F1][F2][F3]");
    ASSERT_TRUE(album.Undo());
    EXPECT_EQ(titles(), "[Given][T2][T3]");

    // What another player reads from BASE.cue.
    std::ifstream in(dir / "Side B.cue");
    std::string strCue((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(strCue.find("FILE \"Side B2.wav\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"T2\"\n"),
              std::string::npos) << strCue;

    // A new recording under the same name does not inherit the old titles.
    WriteSong(dir / "Side B2.wav", RandomFrames(rng, 250, 16, 2), 16);
    CAlbum again;
    ASSERT_TRUE(again.Open(strBase));
    EXPECT_EQ(again.GetSongs()[1].strTitle, "");
    EXPECT_EQ(again.GetSongs()[2].strTitle, "T3");
}

TEST(AlbumEdits, TitlesPastTrack99AndEndingInABackslash_ReadBackTheSame)
{
    std::mt19937 rng(10);
    TempFolder dir;
    MakeAlbum(dir / "Long.wav", std::vector<int64_t>(101, 10), 16, rng);
    const std::map<int32_t, std::string> titles = {
        {2, "Ends in \\"}, {3, "\\"}, {99, "Last track"}, {100, "Hundred % 100"}, {101, "Caf\xc3\xa9 A B"}};
    {
        CAlbum album;
        ASSERT_TRUE(album.Open(dir / "Long.wav"));
        for (const auto& title : titles) ASSERT_TRUE(album.SetTitle(title.first, title.second));
        ASSERT_TRUE(album.Join(1));  // titles follow their songs, numbers move down
    }
    CAlbum again;
    ASSERT_TRUE(again.Open(dir / "Long.wav"));
    ASSERT_EQ(again.GetSongCount(), 100);
    for (const auto& title : titles)
        EXPECT_EQ(again.GetSongs()[static_cast<size_t>(title.first - 2)].strTitle, title.second) << title.first;
    // Other players get a cue sheet of at most 99 tracks.
    std::ifstream in(dir / "Long.cue");
    std::string strCue((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(strCue.find("TRACK 99 AUDIO"), std::string::npos);
    EXPECT_EQ(strCue.find("TRACK 100"), std::string::npos);
}

// Every FILE line names the real song file beside the cue sheet, as libcue reads it back;
// a name no FILE line can hold leaves the sheet without tracks (saying why), and the titles
// and album data still come back.
TEST(AlbumEdits, SongFileNamesWithQuotes_AreNamedAsTheyAreOrKeptInRemarks)
{
    std::mt19937 rng(12);
    const std::pair<std::string, bool> bases[] = {
        {"it\"s.wav", true}, {"\"q\".wav", true}, {"'q'.wav", true}, {"a \"b\".wav", false}, {"line\nbreak.wav", false}};
    for (const auto& [strName, bTracks] : bases) {
        SCOPED_TRACE(strName);
        TempFolder dir;
        MakeAlbum(dir / strName, {10, 20}, 16, rng);
        {
            CAlbum album;
            ASSERT_TRUE(album.Open(dir / strName)) << album.GetErrorText();
            ASSERT_TRUE(album.SetTitle(1, "One"));
            ASSERT_TRUE(album.SetTitle(2, "Two \\"));
            ASSERT_TRUE(album.SetInfo({"LP", "Me\\", "1999"}));
        }
        CAlbum again;
        ASSERT_TRUE(again.Open(dir / strName));
        EXPECT_EQ(again.GetSongs()[0].strTitle, "One");
        EXPECT_EQ(again.GetSongs()[1].strTitle, "Two \\");
        EXPECT_EQ(again.GetLayout().info.strAlbum, "LP");
        EXPECT_EQ(again.GetLayout().info.strArtist, "Me");
        EXPECT_EQ(again.GetLayout().info.strYear, "1999");

        std::ifstream in(CueSheet::PathFor(dir / strName));
        const std::string strCue((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A sheet without tracks is not handed to libcue: it fails on it and leaks what it
        // parsed so far; the album reads such a sheet itself.
        if (!bTracks) {
            EXPECT_EQ(strCue.find("FILE"), std::string::npos) << strCue;
            EXPECT_NE(strCue.find("REM COMMENT \"No tracks: the song files' names hold a double quote beside white "
                                  "space, or a line break, which a cue sheet cannot name."),
                      std::string::npos) << strCue;
            continue;
        }
        Cd* pCd = cue_parse_string(strCue.c_str());
        ASSERT_NE(pCd, nullptr) << strCue;
        ASSERT_EQ(cd_get_ntrack(pCd), 2);
        for (int t = 1; t <= 2; ++t) {
            const std::string strFile = track_get_filename(cd_get_track(pCd, t));
            EXPECT_TRUE(fs::equivalent(dir.path / strFile, AlbumFiles::SongPath(dir / strName, t))) << strFile;
        }
        cd_delete(pCd);
    }
}

TEST(AlbumEdits, AFailureAtAnyStep_LeavesEveryFileAsItWas)
{
    // Each edit is failed at each of its steps in turn, then done for real.
    const char* const kEdits[] = {"move", "join", "split", "undo split", "title"};
    for (const char* szEdit : kEdits) {
        for (int nFailAt = 0;; ++nFailAt) {
            SCOPED_TRACE(std::string(szEdit) + " failing at step " + std::to_string(nFailAt));
            std::mt19937 rng(3);
            TempFolder dir;
            const std::string strBase = dir / "Side A.wav";
            MakeAlbum(strBase, {1000, 2000, 3000}, 16, rng);
            CAlbum album;
            ASSERT_TRUE(album.Open(strBase));
            ASSERT_TRUE(album.SetTitle(2, "Two"));
            if (std::string(szEdit) == "undo split") {
                ASSERT_TRUE(album.Split(3, 4000));
            }
            const auto before = FolderBytes(dir.path);
            const auto lengths = Lengths(album);
            int nStep = 0;
            std::string strFailed;
            album.SetFaultHook([&](const std::string& strStep) {
                if (nStep++ != nFailAt) return true;
                strFailed = strStep;
                return false;
            });
            const std::string strEdit = szEdit;
            auto edit = [&] {
                return strEdit == "move"    ? album.MoveCut(1, 1500)
                       : strEdit == "join"  ? album.Join(1)
                       : strEdit == "split" ? album.Split(2, 1200)
                       : strEdit == "title" ? album.SetTitle(1, "One")
                                            : album.Undo();
            };
            if (edit()) {
                EXPECT_GT(nFailAt, 2) << "an edit has more steps than that";
                break;
            }
            EXPECT_EQ(FolderBytes(dir.path), before) << "after failing at: " << strFailed;
            EXPECT_EQ(Lengths(album), lengths);
            EXPECT_NE(album.GetErrorText().find("Cannot"), std::string::npos) << album.GetErrorText();
            if (strEdit != "title") {
                EXPECT_NE(album.GetErrorText().find("Every file was left as it was."), std::string::npos)
                    << album.GetErrorText();
            }
            // The album still works after the failure.
            album.SetFaultHook({});
            EXPECT_TRUE(edit()) << album.GetErrorText();
        }
    }
}

TEST(AlbumEdits, ACrashAtAnyStep_IsUndoneWhenTheAlbumIsOpenedAgain)
{
    for (int nCrashAt = 0;; ++nCrashAt) {
        SCOPED_TRACE("crash at step " + std::to_string(nCrashAt));
        std::mt19937 rng(3);
        TempFolder dir;
        const std::string strBase = dir / "Side A.wav";
        MakeAlbum(strBase, {1000, 2000, 3000}, 16, rng);
        {
            CAlbum album;
            ASSERT_TRUE(album.Open(strBase));
            ASSERT_TRUE(album.SetTitle(3, "Three"));
        }
        const auto before = FolderBytes(dir.path);
        pid_t pid = ::fork();
        if (pid == 0) {  // the program that dies in the middle of a join
            CAlbum album;
            if (!album.Open(strBase)) ::_exit(3);
            int nStep = 0;
            album.SetFaultHook([&](const std::string&) {
                if (nStep++ == nCrashAt) ::_exit(0);
                return true;
            });
            ::_exit(album.Join(1) ? 1 : 2);
        }
        int nStatus = 0;
        ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
        ASSERT_TRUE(WIFEXITED(nStatus));
        const int nExit = WEXITSTATUS(nStatus);
        ASSERT_TRUE(nExit == 0 || nExit == 1) << nExit;
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase)) << album.GetErrorText();
        if (nExit == 1) {  // past the last step: the join is complete
            EXPECT_EQ(Lengths(album), (std::vector<int64_t>{3000, 3000}));
            EXPECT_EQ(album.GetSongs()[1].strTitle, "Three");
            EXPECT_GT(nCrashAt, 5);
            break;
        }
        EXPECT_EQ(FolderBytes(dir.path), before);
    }
}

TEST(AlbumEdits, FullDiskAndRemovedFolder_FailSayingWhy)
{
    std::mt19937 rng(5);
    {
        TempFolder dir;
        if (::mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=256k") != 0)
            GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        struct Unmount {
            std::string s;
            ~Unmount() { ::umount(s.c_str()); }
        } unmount{dir.path.string()};
        const std::string strBase = dir / "Full.wav";
        MakeAlbum(strBase, {25000, 25000}, 16, rng);  // 200 kB of 256 kB
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase));
        const auto before = FolderBytes(dir.path);
        EXPECT_FALSE(album.MoveCut(1, 30000));
        EXPECT_EQ(album.GetErrorText(), "Cannot write the new " + (dir / "Full1.wav") +
                                            ": No space left on device. Every file was left as it was.");
        EXPECT_EQ(FolderBytes(dir.path), before);
    }
    {
        TempFolder dir;
        const std::string strBase = dir / "Gone.wav";
        MakeAlbum(strBase, {100, 100}, 16, rng);
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase));
        fs::remove_all(dir.path);
        EXPECT_FALSE(album.Join(1));
        EXPECT_EQ(album.GetErrorText(), "Cannot find " + (dir / "Gone1.wav") +
                                            ": it was moved or deleted since the album was opened.");
        EXPECT_EQ(album.GetSongCount(), 2);
    }
}

TEST(AlbumEdits, ARecordingOrAnotherProgramChangingTheSongs_RefusesEdits)
{
    std::mt19937 rng(9);
    TempFolder dir;
    const std::string strBase = dir / "Live.wav";
    MakeAlbum(strBase, {100, 100}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    const auto before = FolderBytes(dir.path);
    {
        CWaveFile recorder;  // the recorder goes on with the next song
        recorder.SetFileName((dir / "Live3.wav").c_str());
        recorder.Create();
        recorder.WriteHeader(16, 44100, 2, 0);
        EXPECT_FALSE(album.Split(1, 20));
        EXPECT_EQ(album.GetErrorText(), dir / "Live3.wav" + " has appeared since the album was opened: open it again.");
        CAlbum during;
        ASSERT_TRUE(during.Open(strBase));
        EXPECT_FALSE(during.Join(1));
        EXPECT_EQ(during.GetErrorText(), dir / "Live3.wav" +
                                             " is being recorded: its songs cannot be edited until the recording stops.");
        EXPECT_FALSE(during.SetTitle(1, "Not now"));
        EXPECT_EQ(during.GetErrorText(), dir / "Live3.wav" +
                                             " is being recorded: its songs cannot be edited until the recording stops.");
        recorder.Close();
    }
    std::filesystem::remove(dir / "Live3.wav");
    EXPECT_EQ(FolderBytes(dir.path), before);

    bool bRecording = true;  // what the window knows from the session
    album.SetRecordingCheck([&] { return bRecording; });
    EXPECT_FALSE(album.Split(1, 50));
    EXPECT_EQ(album.GetErrorText(), strBase + " is being recorded: its songs cannot be edited until the recording stops.");
    bRecording = false;
    EXPECT_TRUE(album.Split(1, 50)) << album.GetErrorText();

    // cadenzo-album changed the files meanwhile.
    CAlbum other;
    ASSERT_TRUE(other.Open(strBase));
    ASSERT_TRUE(other.Join(2));
    EXPECT_FALSE(album.SetTitle(1, "One"));
    EXPECT_EQ(album.GetErrorText(), dir / "Live2.wav" + " has changed since the album was opened: open it again.");
}

TEST(AlbumEdits, CutsAndSplitsOutsideTheirSongs_AreRefusedToTheLastFrame)
{
    std::mt19937 rng(8);
    TempFolder dir;
    MakeAlbum(dir / "E.wav", {100, 200, 300}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "E.wav"));
    // Cut 2 lies at 300 between songs 2 (100..300) and 3 (300..600).
    struct Case {
        bool bSplit;
        int64_t nFrame;
        bool bOk;
    } const cases[] = {{false, 100, false}, {false, 101, true}, {false, 599, true},
                       {false, 600, false}, {true, 100, false}, {true, 101, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nFrame));
        CAlbum edit;
        ASSERT_TRUE(edit.Open(dir / "E.wav"));
        EXPECT_EQ(c.bSplit ? edit.Split(2, c.nFrame) : edit.MoveCut(2, c.nFrame), c.bOk);
        if (!c.bOk) {
            EXPECT_EQ(edit.GetErrorText(), c.bSplit ? "Song 2 can only be split inside it."
                                                    : "Cut 2 can only move inside songs 2 and 3.");
        } else {
            EXPECT_TRUE(edit.Undo()) << edit.GetErrorText();
        }
    }
}

TEST(AlbumEdits, AJoinPastWhatAWavFileHolds_IsRefusedBeforeWriting)
{
    TempFolder dir;
    // Two songs of 2.3 GB each, sparse: a header that says so and a file that long.
    for (int k = 1; k <= 2; ++k) {
        const std::string strPath = dir / ("H" + std::to_string(k) + ".wav");
        WriteSong(strPath, std::vector<uint8_t>(4, 0), 16);
        const uint32_t nData = 2300000000u;
        std::fstream file(strPath, std::ios::in | std::ios::out | std::ios::binary);
        const uint32_t nRiff = nData + 36;
        file.seekp(4);
        file.write(reinterpret_cast<const char*>(&nRiff), 4);
        file.seekp(40);
        file.write(reinterpret_cast<const char*>(&nData), 4);
        file.close();
        fs::resize_file(strPath, 44 + nData);
    }
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "H.wav")) << album.GetErrorText();
    ASSERT_EQ(album.GetSongs()[0].nFrames, 575000000);
    EXPECT_FALSE(album.Join(1));
    EXPECT_EQ(album.GetErrorText(), "The new " + (dir / "H1.wav") +
                                        " would be 4.3 GiB, but a WAV file holds at most 4 GiB: join fewer "
                                        "songs, or export them instead. Every file was left as it was.");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"H1.wav", "H2.wav"}));
}

TEST(AlbumOpen, MissingUnreadableOrMismatchedSongs_AreRefusedNamingTheFile)
{
    struct Case {
        const char* szWhat;
        std::vector<int> bits;  // per song; 0 = not a sound file, -1 = no file, -2 = a named
                                // pipe, -3 = a symlink to nothing
        std::string strText;    // with @ for the folder
    };
    const Case cases[] = {
        {"no songs", {}, "There are no songs of @/S.wav: @/S1.wav does not exist."},
        {"gap", {16, 16, -1, 16},
         "@/S3.wav is missing, but @/S4.wav exists: the songs must be numbered from 1 without a gap."},
        {"formats", {16, 24},
         "@/S2.wav has another format (44100 Hz, 2 channels, 24-bit) than @/S1.wav (44100 Hz, 2 "
         "channels, 16-bit): the songs of one album share one format."},
        {"unreadable", {16, 0}, "Cannot read @/S2.wav: "},
        {"pipe", {16, -2}, "Cannot read @/S2.wav: it is not a regular file (a song is a WAV file)."},
        {"dangling", {16, -3, 16},
         "Cannot read @/S2.wav: it is a symbolic link to a file that does not exist."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        TempFolder dir;
        std::mt19937 rng(1);
        for (size_t i = 0; i < c.bits.size(); ++i) {
            std::string strPath = dir / ("S" + std::to_string(i + 1) + ".wav");
            if (c.bits[i] == 0) std::ofstream(strPath) << "not a sound file at all, not at all";
            if (c.bits[i] > 0) WriteSong(strPath, RandomFrames(rng, 10, c.bits[i], 2), c.bits[i]);
            if (c.bits[i] == -2) ::mkfifo(strPath.c_str(), 0600);
            if (c.bits[i] == -3) fs::create_symlink(dir / "gone.wav", strPath);
        }
        std::string strText = c.strText;
        for (size_t n; (n = strText.find('@')) != std::string::npos;)
            strText.replace(n, 1, dir.path.string());
        CAlbum album;
        EXPECT_FALSE(album.Open(dir / "S.wav"));
        EXPECT_EQ(album.GetErrorText().substr(0, strText.size()), strText);
    }
}
