// The journal of an edit: synced before the first rename, read back from any folder and for
// any name, never applied to another album, and never overwritten while it cannot be applied.

#include "AlbumTestSupport.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace albumtest;

// The album library's fsync and renames, logged while g_bLogDisk is set (the test binary is
// linked with --wrap for them).
namespace {
bool g_bLogDisk = false;
std::vector<std::string> g_diskLog;
std::string PathOf(int fd)
{
    char sz[4096];
    ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), sz, sizeof sz - 1);
    return n > 0 ? std::string(sz, static_cast<size_t>(n)) : std::string();
}
}  // namespace

extern "C" {
int __real_fsync(int fd);
int __real_rename(const char* szFrom, const char* szTo);
int __real_renameat2(int nFrom, const char* szFrom, int nTo, const char* szTo, unsigned nFlags);
int __wrap_fsync(int fd)
{
    if (g_bLogDisk) g_diskLog.push_back("fsync " + PathOf(fd));
    return __real_fsync(fd);
}
int __wrap_rename(const char* szFrom, const char* szTo)
{
    if (g_bLogDisk) g_diskLog.push_back("rename " + std::string(szFrom) + " > " + szTo);
    return __real_rename(szFrom, szTo);
}
int __wrap_renameat2(int nFrom, const char* szFrom, int nTo, const char* szTo, unsigned nFlags)
{
    if (g_bLogDisk) g_diskLog.push_back("rename " + std::string(szFrom) + " > " + szTo);
    return __real_renameat2(nFrom, szFrom, nTo, szTo, nFlags);
}
}

namespace {

// Runs fnEdit in a child that dies at the nth step of the edit (counted from 0).
void CrashAt(int nStep, const std::function<void(CAlbum&)>& fnEdit, const std::string& strBase)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        CAlbum album;
        if (!album.Open(strBase)) ::_exit(3);
        int n = 0;
        album.SetFaultHook([&](const std::string&) {
            if (n++ == nStep) ::_exit(0);
            return true;
        });
        fnEdit(album);
        ::_exit(1);
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << "the edit did not die";
}

}  // namespace

TEST(AlbumJournal, IsSyncedBeforeTheFirstRenameAndTheFolderWithIt)
{
    std::mt19937 rng(41);
    TempFolder dir;
    MakeAlbum(dir / "J.wav", {100, 200}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "J.wav"));
    g_diskLog.clear();
    g_bLogDisk = true;
    const bool bJoined = album.Join(1);
    g_bLogDisk = false;
    ASSERT_TRUE(bJoined) << album.GetErrorText();
    const std::string strJournal = dir / ".J.wav.cadenzo-journal";
    auto find = [&](const std::string& strEntry) {
        return std::find(g_diskLog.begin(), g_diskLog.end(), strEntry) - g_diskLog.begin();
    };
    const std::string strNext = dir / "..J.wav.cadenzo-journal.cadenzo-new";
    const auto nSyncJournal = find("fsync " + strNext);
    const auto nPlaceJournal = find("rename " + strNext + " > " + strJournal);
    const auto nSyncFolder = std::find(g_diskLog.begin() + nPlaceJournal, g_diskLog.end(),
                                       "fsync " + dir.path.string()) - g_diskLog.begin();
    const auto nFirstSongRename = find("rename " + (dir / "J1.wav") + " > " + (dir / ".J1.wav.cadenzo-old"));
    EXPECT_LT(nSyncJournal, nPlaceJournal);
    EXPECT_LT(nPlaceJournal, nSyncFolder);
    EXPECT_LT(nSyncFolder, nFirstSongRename);
    EXPECT_LT(nFirstSongRename, static_cast<long>(g_diskLog.size()));
}

TEST(AlbumJournal, ACrashIsUndoneFromAnyFolderWhateverBytesTheNameHolds)
{
    const std::string strName = "Side\tA\n\\ \"x\".wav";
    for (int nCrashAt = 0; nCrashAt < 12; ++nCrashAt) {
        SCOPED_TRACE("crash at step " + std::to_string(nCrashAt));
        std::mt19937 rng(42);
        TempFolder dir;
        fs::create_directory(dir.path / "w");
        MakeAlbum(dir / ("w/" + strName), {1000, 2000, 3000}, 16, rng);
        const auto before = FolderBytes(dir.path / "w");
        // The edit runs with a path relative to the folder it was started from.
        const fs::path cwd = fs::current_path();
        fs::current_path(dir.path);
        CrashAt(nCrashAt, [](CAlbum& album) { album.Join(1); }, "w/" + strName);
        fs::current_path(cwd);
        CAlbum album;
        ASSERT_TRUE(album.Open(dir / ("w/" + strName))) << album.GetErrorText();
        EXPECT_EQ(FolderBytes(dir.path / "w"), before);
    }
}

TEST(AlbumJournal, AnotherAlbumsLeftovers_AreLeftAndAJournalThatCannotBeApplied_StopsEverything)
{
    std::mt19937 rng(43);
    TempFolder dir;
    // "Take1" song 1 is Take11.wav, a name song 11 of "Take" would have.
    MakeAlbum(dir / "Take1.wav", {1000, 2000}, 16, rng);
    const auto before = FolderBytes(dir.path);
    CrashAt(10, [](CAlbum& album) { album.MoveCut(1, 1500); }, dir / "Take1.wav");
    const auto crashed = FolderBytes(dir.path);
    ASSERT_NE(crashed, before);
    CAlbum other;
    EXPECT_FALSE(other.Open(dir / "Take.wav"));
    EXPECT_EQ(FolderBytes(dir.path), crashed) << "another album's files were touched";
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "Take1.wav")) << album.GetErrorText();
    EXPECT_EQ(FolderBytes(dir.path), before);

    // A title change dies with the old cue sheet set aside; then someone writes a new one.
    ASSERT_TRUE(album.SetTitle(1, "One"));
    CrashAt(5, [](CAlbum& a) { a.SetTitle(1, "Uno"); }, dir / "Take1.wav");
    ASSERT_TRUE(fs::exists(dir / ".Take1.cue.cadenzo-old"));
    std::ofstream(dir / "Take1.cue") << "TITLE \"by hand\"\n";
    const auto stuck = FolderBytes(dir.path);
    const std::string strText =
        dir / ".Take1.wav.cadenzo-journal" + " holds an edit that was cut short, but its files (" +
        dir / ".Take1.cue.cadenzo-new" + ", " + dir / ".Take1.cue.cadenzo-old" + ", " + dir / "Take1.cue" +
        ") have changed since. Nothing was changed; the album cannot be opened or edited until the "
        "journal and the files it names are put right by hand.";
    CAlbum again;
    EXPECT_FALSE(again.Open(dir / "Take1.wav"));
    EXPECT_EQ(again.GetErrorText(), strText);
    EXPECT_FALSE(album.Join(1));  // opened before the crash
    EXPECT_EQ(album.GetErrorText(), strText);
    EXPECT_EQ(FolderBytes(dir.path), stuck);
}
