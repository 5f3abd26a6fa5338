// cadenzo-album run as a program: one run per command, its output and exit status.

#include "AlbumTestSupport.h"
#include "ToolTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace albumtest;
using namespace tooltest;

TEST(AlbumTool, EachCommand_EditsListsAndExportsWithItsStatus)
{
    std::mt19937 rng(21);
    TempFolder dir;
    // Three songs of 1, 2 and 3 seconds.
    std::vector<uint8_t> all = MakeAlbum(dir / "Side A.wav", {44100, 88200, 132300}, 16, rng);
    const std::string strBase = "'" + (dir / "Side A.wav") + "'";
    RunSteps(CADENZO_ALBUM_PATH, {
        {"title " + strBase + " 2 'Second Song'", 0, ""},
        {"move " + strBase + " 1 -0.5", 0, "Cut 1 is at 00:00.50.\n"},
        {"move " + strBase + " 1 +3", 1, "cadenzo-album: Cut 1 can only move inside songs 1 and 2.\n"},
        {"split " + strBase + " 3 1.25", 0, "Song 4 starts at 00:04.25; the album has 4 songs.\n"},
        {"join " + strBase + " 1", 0, "Songs 1 and 2 are song 1; the album has 3 songs.\n"},
        {"join " + strBase + " 3", 1, "cadenzo-album: Cannot join song 3 with the next: the album has 3 songs.\n"},
        {"list " + strBase, 0,
         "Song  Start     Length    Title\n"
         "   1  00:00.00  00:03.00  Second Song\n"
         "   2  00:03.00  00:01.25  \n"
         "   3  00:04.25  00:01.75  \n"},
        {"export " + strBase + " '" + (dir / "out") + "' --wav --artist A --album 'B: C' --year 1979", 0,
         dir / "out/01 Second Song.wav\n"},
        {"export " + strBase + " '" + (dir / "out") + "' --wav", 1,
         "cadenzo-album: " + dir / "out/01 Second Song.wav" +
             " exists already (--overwrite replaces it). Nothing was exported.\n"},
        {"export " + strBase + " '" + (dir / "out") + "' --wav --overwrite", 0, dir / "out/01 Second Song.wav\n"},
        {"export " + strBase + " '" + (dir / "out2") + "' --declick=loud", 2,
         "cadenzo-album: --declick takes light, normal or strong: loud.\nUsage:"},
        // Noise has no clicks: nothing repaired, the files decode to the songs (below).
        {"export " + strBase + " '" + (dir / "out2") + "' --wav --declick=Strong", 0,
         dir / "out2/01 Second Song.wav\n" + dir / "out2/02 Side A2.wav\n" + dir / "out2/03 Side A3.wav\n" +
             "Song 1: 0 clicks repaired.\nSong 2: 0 clicks repaired.\nSong 3: 0 clicks repaired.\n"},
        {"split " + strBase + " x 1", 2, "cadenzo-album: K must be a song or cut number from 1: x.\n"},
        {"rename " + strBase, 2, "cadenzo-album: Unknown command rename.\nUsage:"},
        {"list '" + (dir / "None.wav") + "'", 1,
         "cadenzo-album: There are no songs of " + (dir / "None.wav") + ": " + (dir / "None1.wav") +
             " does not exist.\n"},
        {"--help", 0, "Usage: cadenzo-album list BASE.wav...\n"},
        {"list ''", 2, "cadenzo-album: BASE.wav is empty: name the base file of a recording.\nUsage:"},
        {"move " + strBase + " 0 1", 1, "cadenzo-album: There is no cut 0: the album has 3 songs.\n"},
        {"move " + strBase + " 7 1", 1, "cadenzo-album: There is no cut 7: the album has 3 songs.\n"},
        {"move " + strBase + " 2 0x10", 2, "cadenzo-album: SECONDS must be a decimal number of seconds: 0x10.\n"},
        {"split " + strBase + " 1 1e-1", 2, "cadenzo-album: SECONDS must be a decimal number of seconds: 1e-1.\n"},
        {"join " + strBase + " 1", 0, "Songs 1 and 2 are song 1; the album has 2 songs.\n"},
        {"join " + strBase + " 1", 0, "Songs 1 and 2 are song 1; the album has 1 song.\n"},
    });
    // The joined song took song 2's title, song 1 having none; the recording is whole.
    for (const std::string strOut : {"out/", "out2/"}) {
        std::vector<uint8_t> after;
        for (int k = 1; k <= 3; ++k) {
            std::string strName = k == 1 ? "01 Second Song" : "0" + std::to_string(k) + " Side A" + std::to_string(k);
            std::vector<uint8_t> bytes = SampleBytes(dir / (strOut + strName + ".wav"));
            after.insert(after.end(), bytes.begin(), bytes.end());
        }
        EXPECT_TRUE(after == all) << strOut;
    }
}

TEST(AlbumTool, SeveralBasesAndARecordFile_AreOneRecordNumberedAcrossItsSides)
{
    std::mt19937 rng(23);
    TempFolder dir;
    MakeAlbum(dir / "Side A.wav", {44100, 44100}, 16, rng);
    MakeAlbum(dir / "Side B.wav", {88200}, 16, rng);
    const std::string strSides = "'" + (dir / "Side A.wav") + "' '" + (dir / "Side B.wav") + "'";
    const std::string strRecord = dir / "LP.cue";
    // A record file as another program may have left it: side B first.
    std::ofstream(strRecord) << "REM CADENZO_RECORD 1\nTITLE \"LP\"\nREM CADENZO_SIDE 1 Side%20B.wav\n"
                                "REM CADENZO_SIDE 2 Side%20A.wav\nFILE \"Side B1.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                "    INDEX 01 00:00:00\n";
    const std::string strOut = dir / "out";
    RunSteps(CADENZO_ALBUM_PATH, {
        {"list " + strSides, 0,
         "Song  Side  Start     Length    Title\n"
         "   1  A1    00:00.00  00:01.00  \n"
         "   2  A2    00:01.00  00:01.00  \n"
         "   3  B1    00:02.00  00:02.00  \n"},
        {"join " + strSides + " 2", 1,
         "cadenzo-album: Song 2 ends side A and song 3 begins side B: songs of two sides are never joined.\n"},
        {"move " + strSides + " 2 -0.5", 1, "cadenzo-album: Song 2 ends side A: a cut never moves past the end of a side.\n"},
        {"title " + strSides + " 3 Flip", 0, ""},
        {"export " + strSides + " '" + strOut + "' --wav", 0,
         strOut + "/01 Side A1.wav\n" + strOut + "/02 Side A2.wav\n" + strOut + "/03 Flip.wav\n"},
        {"split '" + strRecord + "' 1 0.5", 0, "Song 2 starts at 00:00.50; the album has 4 songs.\n"},
        {"list '" + strRecord + "'", 0,
         "Album:  LP\n"
         "Song  Side  Start     Length    Title\n"
         "   1  A1    00:00.00  00:00.50  Flip\n"
         "   2  A2    00:00.50  00:01.50  \n"
         "   3  B1    00:02.00  00:01.00  \n"},
        {"list '" + strRecord + "' '" + (dir / "Side A.wav") + "'", 1, "cadenzo-album: "},
    });
    // The split rewrote the record file with the side's files as they now are.
    std::ifstream in(strRecord);
    const std::string strText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(strText.find("FILE \"Side B2.wav\" WAVE\n  TRACK 02 AUDIO\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("FILE \"Side A2.wav\" WAVE\n  TRACK 04 AUDIO\n"), std::string::npos) << strText;
}

TEST(AlbumTool, ASignalWhileWaitingForTheFolder_StopsCleanlyWithItsStatus)
{
    std::mt19937 rng(22);
    TempFolder dir;
    MakeAlbum(dir / "W.wav", {1000, 2000}, 16, rng);
    const auto before = FolderBytes(dir.path);
    // Another program edits in the folder: this test holds its lock.
    int fdFolder = ::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(fdFolder, LOCK_EX), 0);
    struct Case {
        const char* szVerb;
        int nSignal;
        int nStatus;
    } const cases[] = {{"join", SIGTERM, 143}, {"list", SIGINT, 130}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szVerb);
        const std::string strLog = dir.path.parent_path() / (dir.path.filename().string() + ".log");
        pid_t pid = ::fork();
        if (pid == 0) {
            int fd = ::open(strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, STDERR_FILENO);
            ::dup2(fd, STDOUT_FILENO);
            const std::string strBase = dir / "W.wav";
            const char* szK = std::string(c.szVerb) == "join" ? "1" : nullptr;
            ::execl(CADENZO_ALBUM_PATH, CADENZO_ALBUM_PATH, c.szVerb, strBase.c_str(), szK, nullptr);
            ::_exit(99);
        }
        // Until the tool waits for the folder.
        const std::string strPid = " " + std::to_string(pid) + " ";
        bool bWaiting = false;
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             !bWaiting && std::chrono::steady_clock::now() < until;) {
            std::ifstream in("/proc/locks");
            for (std::string strLine; std::getline(in, strLine);)
                bWaiting = bWaiting || (strLine.find("-> FLOCK") != std::string::npos &&
                                        strLine.find(strPid) != std::string::npos);
            std::this_thread::yield();
        }
        EXPECT_TRUE(bWaiting);
        ::kill(pid, c.nSignal);
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == c.nStatus) << nStatus;
        std::ifstream in(strLog);
        std::string strOutput((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(strOutput, "cadenzo-album: stopped by a signal; nothing was changed.\n");
        fs::remove(strLog);
    }
    ::close(fdFolder);
    EXPECT_EQ(FolderBytes(dir.path), before);
}
