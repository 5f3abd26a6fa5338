// The album beside other programs: an edit waiting for another, a recorder starting a file
// while an edit commits, an export beside an edit. Each is held at its critical step by
// the folder's lock or the fault hook, never by waiting a while.

#include "AlbumTestSupport.h"

#include "album/Export.h"
#include "capture/TakeMark.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace albumtest;

namespace {

// Returns once a thread of this process waits for a flock ("->" in /proc/locks).
void AwaitLockWaiter()
{
    const std::string strPid = " " + std::to_string(::getpid()) + " ";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        std::ifstream in("/proc/locks");
        for (std::string strLine; std::getline(in, strLine);)
            if (strLine.find("-> FLOCK") != std::string::npos && strLine.find(strPid) != std::string::npos)
                return;
        std::this_thread::yield();
    }
    ADD_FAILURE() << "no thread came to wait for the folder's lock";
}

std::vector<uint8_t> AlbumBytes(const CAlbum& album)
{
    std::vector<uint8_t> all;
    for (const CAlbumSong& song : album.GetSongs()) {
        std::vector<uint8_t> bytes = SampleBytes(song.strPath);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

}  // namespace

TEST(AlbumSharing, AnEditWaitingForAnother_IsRefusedOnceTheSongsChanged)
{
    std::mt19937 rng(31);
    TempFolder dir;
    const std::string strBase = dir / "A.wav";
    const std::vector<uint8_t> recording = MakeAlbum(strBase, {1000, 2000, 3000}, 16, rng);
    CAlbum late;  // read before the other edit
    ASSERT_TRUE(late.Open(strBase));
    bool bMoved = true;
    {
        CAlbum first;
        ASSERT_TRUE(first.Open(strBase, true));  // holds the folder from here
        std::thread other([&] { bMoved = late.MoveCut(2, 2500); });
        AwaitLockWaiter();
        EXPECT_TRUE(first.Join(2)) << first.GetErrorText();
        first.Open(dir / "None.wav");  // lets go of the folder
        other.join();
    }
    EXPECT_FALSE(bMoved);
    EXPECT_EQ(late.GetErrorText(), dir / "A2.wav" + " has changed since the album was opened: open it again.");
    CAlbum after;
    ASSERT_TRUE(after.Open(strBase));
    EXPECT_EQ(after.GetSongCount(), 2);
    EXPECT_TRUE(AlbumBytes(after) == recording) << "samples lost or mixed";
}

TEST(AlbumSharing, AFileAppearingOrLockedWhileAnEditCommits_IsNeverTouched)
{
    // The recorder starts the next song (or locks one) at a step of a split of the last song.
    struct Case {
        const char* szStep;  // the step before which it happens
        const char* szFile;  // the file it creates or locks
        bool bCreate;
        const char* szText;  // with @ for the folder
    };
    const Case cases[] = {
        {"write @/R3.wav", "R3.wav", true,
         "@/R3.wav has appeared since the album was opened: open it again. Every file was left as it was."},
        {"put the new @/R3.wav in place", "R3.wav", true,
         "@/R3.wav has appeared since the album was opened: open it again. Every file was left as it was."},
        {"write @/R2.wav", "R2.wav", false,
         "@/R2.wav is being recorded: its songs cannot be edited until the recording stops. Every file "
         "was left as it was."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szStep);
        std::mt19937 rng(32);
        TempFolder dir;
        auto at = [&](std::string str) {
            for (size_t n; (n = str.find('@')) != std::string::npos;) str.replace(n, 1, dir.path.string());
            return str;
        };
        const std::string strBase = dir / "R.wav";
        const std::vector<uint8_t> recording = MakeAlbum(strBase, {1000, 2000}, 16, rng);
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase));
        CWaveFile recorder;
        int fdLock = -1;
        album.SetFaultHook([&](const std::string& strStep) {
            if (strStep != at(c.szStep)) return true;
            if (c.bCreate) {
                recorder.SetFileName((dir / c.szFile).c_str());
                recorder.Create();
                recorder.WriteHeader(16, 44100, 2, 0);
                recorder.Write("abcd", 4);
            } else {
                fdLock = ::open((dir / c.szFile).c_str(), O_RDONLY);
                ::flock(fdLock, LOCK_EX);
            }
            return true;
        });
        const auto before = FolderBytes(dir.path);
        EXPECT_FALSE(album.Split(2, 2500));
        EXPECT_EQ(album.GetErrorText(), at(c.szText));
        if (c.bCreate) {
            recorder.Close();
            EXPECT_EQ(SampleBytes(dir / c.szFile), std::vector<uint8_t>({'a', 'b', 'c', 'd'}));
            fs::remove(dir / c.szFile);
        }
        if (fdLock >= 0) ::close(fdLock);
        EXPECT_EQ(FolderBytes(dir.path), before);
    }
}

TEST(AlbumSharing, AnExport_ReadsOneAlbumWhateverEditsRunBeside)
{
    std::mt19937 rng(33);
    TempFolder dir;
    const std::string strBase = dir / "X.wav";
    const std::vector<uint8_t> recording = MakeAlbum(strBase, {70000, 70000, 70000}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    CExportOptions options;
    options.format = CExportFormat::Wav;

    // An edit in the middle of an export waits for it; the export holds the songs as read.
    options.strFolder = dir / "during";
    bool bJoined = false;
    std::thread edit;
    CExportJob job;
    ASSERT_TRUE(job.Start(album.GetLayout(), options, [&] {
        if (edit.joinable()) return;
        edit = std::thread([&] {
            CAlbum other;
            bJoined = other.Open(strBase) && other.Join(1);
        });
        AwaitLockWaiter();
    }));
    job.Wait();
    edit.join();
    EXPECT_TRUE(bJoined);
    EXPECT_EQ(job.GetReport().strError, "");
    std::vector<uint8_t> exported;
    for (const std::string& strFile : job.GetReport().files) {
        std::vector<uint8_t> bytes = SampleBytes(strFile);
        exported.insert(exported.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(job.GetReport().files.size(), 3u);
    EXPECT_TRUE(exported == recording);

    // An export of what the album read before an edit refuses, leaving no file.
    options.strFolder = dir / "after";
    CExportJob stale;
    ASSERT_TRUE(stale.Start(album.GetLayout(), options));
    stale.Wait();
    EXPECT_EQ(stale.GetReport().strError, dir / "X1.wav" + " has changed since the album was opened: open it again.");
    EXPECT_TRUE(FolderBytes(dir.path / "after").empty());

    // A song being recorded is not exported.
    CWaveFile recorder;
    recorder.SetFileName((dir / "X3.wav").c_str());
    recorder.Create();
    recorder.WriteHeader(16, 44100, 2, 0);
    ASSERT_TRUE(album.Open(strBase));
    CExportJob live;
    ASSERT_TRUE(live.Start(album.GetLayout(), options));
    live.Wait();
    EXPECT_EQ(live.GetReport().strError, dir / "X3.wav" + " is being recorded: it cannot be exported until the recording stops.");
    EXPECT_TRUE(FolderBytes(dir.path / "after").empty());
    recorder.Close();
}

TEST(AlbumSharing, ANewTakeUnderTheSameName_LeavesTheEarlierTakesFilesAndTitlesApart)
{
    std::mt19937 rng(34);
    TempFolder dir;
    const std::string strBase = dir / "Side A.wav";
    MakeAlbum(strBase, {1000, 2000, 3000, 4000}, 16, rng);
    {
        CAlbum old;
        ASSERT_TRUE(old.Open(strBase));
        for (int32_t k = 1; k <= 4; ++k) ASSERT_TRUE(old.SetTitle(k, "Old " + std::to_string(k)));
    }
    // The recorder starts a new take of one song: the mark, then its first file. The mark
    // is written again until the file system's clock has moved past the old files.
    struct stat st, mark;
    ASSERT_EQ(::stat((dir / "Side A4.wav").c_str(), &st), 0);
    do {
        ASSERT_TRUE(TakeMark::Write(strBase));
        ASSERT_EQ(::stat(TakeMark::PathFor(strBase).c_str(), &mark), 0);
    } while (mark.st_mtim.tv_sec == st.st_ctim.tv_sec && mark.st_mtim.tv_nsec <= st.st_ctim.tv_nsec);
    const std::vector<uint8_t> take = RandomFrames(rng, 500, 16, 2);
    WriteSong(dir / "Side A1.wav", take, 16);

    CAlbum album;
    ASSERT_TRUE(album.Open(strBase)) << album.GetErrorText();
    ASSERT_EQ(album.GetSongCount(), 1);
    EXPECT_EQ(album.GetSongs()[0].strTitle, "");
    EXPECT_EQ(album.GetLayout().leftovers,
              (std::vector<std::string>{dir / "Side A2.wav", dir / "Side A3.wav", dir / "Side A4.wav"}));
    const auto before = FolderBytes(dir.path);
    EXPECT_FALSE(album.Split(1, 250));
    EXPECT_EQ(album.GetErrorText(), "Song 2 would take the name " + (dir / "Side A2.wav") +
                                        ", which holds a song of an earlier recording under this name: move "
                                        "that file away first. Every file was left as it was.");
    EXPECT_EQ(FolderBytes(dir.path), before);

    // Titles given now belong to this take; the export holds this take only.
    ASSERT_TRUE(album.SetTitle(1, "New"));
    CAlbum again;
    ASSERT_TRUE(again.Open(strBase));
    EXPECT_EQ(again.GetSongs()[0].strTitle, "New");
    CExportOptions options;
    options.strFolder = dir / "out";
    options.format = CExportFormat::Wav;
    CExportJob job;
    ASSERT_TRUE(job.Start(again.GetLayout(), options));
    job.Wait();
    EXPECT_EQ(job.GetReport().files, std::vector<std::string>{dir / "out/01 New.wav"});
    EXPECT_TRUE(SampleBytes(dir / "out/01 New.wav") == take);
}
