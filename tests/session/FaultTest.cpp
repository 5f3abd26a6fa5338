// Faults during a recording: Stop at any moment, a full disk, a vanished folder, a worker
// that does not end in time, and the program killed outright.

#include "SessionTestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <csignal>
#include <future>
#include <thread>

using namespace sessiontest;

namespace {

// Lets the worker past one buffer at a time (the worker calls Pass() after each buffer).
class CGate {
public:
    void Pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_nWaiting;
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return m_nPermits > 0 || m_bOpen; });
        if (!m_bOpen) --m_nPermits;
        --m_nWaiting;
    }
    void Grant(int n = 1)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nPermits += n;
        m_cv.notify_all();
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = true;
        m_cv.notify_all();
    }
    // Waits until the worker stands at the gate.
    void AwaitWorker()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_nWaiting > 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_nPermits = 0;
    int m_nWaiting = 0;
    bool m_bOpen = false;
};

const int32_t kGapPos = -1764;     // 1.0 s
const int32_t kMinSongPos = -177;  // 1.0034 s

// The samples of the song files base1, base2, ... put end to end.
std::vector<int16_t> ReadJoined16(const std::string& strBase, int* pnFiles = nullptr)
{
    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(strBase);
    if (pnFiles) *pnFiles = static_cast<int>(songs.size());
    return Joined(songs);
}

// What the window says of a file in the way of a new song file.
std::string InTheWay(const std::string& strPath)
{
    return "Cannot create output file " + strPath +
           ".\nAnother file of that name is in the way (it appeared after Record was pressed, or another program "
           "is recording into it); it was left as it is.\n";
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override { SetGapRules(rig.splitter, kGapPos, kMinSongPos, -5292 /* 30 s */); }

    std::string WriteInput(const std::vector<Segment>& album)
    {
        input = WriteAlbum<int16_t>(dir / "album.wav", 44100, album);
        return dir / "album.wav";
    }

    // Starts recording into Song.wav in strFolder with the worker held at gate after each buffer.
    bool StartGated(const std::string& strInput, CGate& gate, const std::string& strFolder = "")
    {
        rig.session.SetWorkerStallHook([&gate] { gate.Pass(); });
        rig.ChooseBase(dir / (strFolder + "Song.wav"));
        return rig.Start(strInput);
    }

    SessionRig rig;
    CTempDir dir;
    std::vector<int16_t> input;
};

}  // namespace

TEST_F(FaultTest, StopKeepsAShortLastFileAndEverythingCaptured)
{
    // Stop in the silence just after a cut. The files hold every byte the device
    // delivered, the silence that was still in the capture cut again at each gap; the last
    // file holds nothing but silence and is shorter than the end gap, yet it stays.
    std::string strInput = WriteInput({{1.5, true}, {9.5, false}});
    CGate gate;
    ASSERT_TRUE(StartGated(strInput, gate));

    bool bStopped = false;
    gate.Grant();
    rig.window.Pump(rig.session, rig.prompt, [&](const CFakeWindow::Event& ev) {
        if (ev.kind != CFakeWindow::Event::Progress) return;
        if (ev.bCut && !bStopped) {
            bStopped = true;
            rig.session.OnStop();
            gate.Open();
        } else {
            gate.Grant();
        }
    });
    ASSERT_TRUE(bStopped);

    std::vector<int16_t> joined = ReadJoined16(dir / "Song.wav");
    EXPECT_TRUE(IsPrefix(joined, input));
    EXPECT_EQ(static_cast<int64_t>(joined.size()) * 2, rig.waveIn.GetDeliveredBytes());
    EXPECT_EQ(static_cast<int64_t>(joined.size()) * 2, rig.session.GetTotalBytes());
    const std::vector<RecordSongFile> files = rig.session.GetSongFiles();
    ASSERT_GE(files.size(), 2u);
    ASSERT_TRUE(Exists(files.back().strPath)) << files.back().strPath;
    ReadBack last = ReadSound(files.back().strPath);
    EXPECT_TRUE(rig.splitter.IsShorterThanEndGap(last.nFrames * 4));
    EXPECT_TRUE(std::all_of(last.samples16.begin(), last.samples16.end(), [](int16_t v) { return v == 0; }));
    EXPECT_EQ(rig.window.m_waitCursor, (std::vector<bool>{true, false}));
    EXPECT_TRUE(rig.prompt.m_boxes.empty());
}

TEST_F(FaultTest, StopDuringAPacedRecordingAppendsThePartialBlock)
{
    std::string strInput = WriteInput({{1.5, true}, {3.0, false}});
    rig.ChooseBase(dir / "Song.wav");
    ASSERT_TRUE(rig.Start(strInput, true));
    int nSeen = 0;
    rig.window.Pump(rig.session, rig.prompt, [&](const CFakeWindow::Event& ev) {
        if (ev.kind == CFakeWindow::Event::Progress && ++nSeen == 2) rig.session.OnStop();
    });
    std::vector<int16_t> joined = ReadJoined16(dir / "Song.wav");
    EXPECT_TRUE(IsPrefix(joined, input));
    EXPECT_GE(joined.size() * 2, 2u * 65536u);
    EXPECT_EQ(static_cast<int64_t>(joined.size()) * 2, rig.waveIn.GetDeliveredBytes());
    EXPECT_TRUE(Exists(dir / "Song1.wav"));
}

TEST_F(FaultTest, DiskFullMidSongIsToldAtOnceAndLeavesValidFiles)
{
    CTmpfs disk(dir / "small", "size=256k");
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    std::string strInput = WriteInput({{1.5, true}, {1.5, false}, {6.0, true}});
    rig.ChooseBase(dir / "small/Song.wav");
    rig.RecordFile(strInput);

    ASSERT_EQ(rig.prompt.m_boxes.size(), 1u);
    const ShownBox& box = rig.prompt.m_boxes[0];
    EXPECT_EQ(box.strCaption, "ERROR");
    EXPECT_EQ(box.icon, PromptIcon::Stop);
    EXPECT_TRUE(box.bWhileRecording) << "the user must hear of it while the recording runs";
    EXPECT_EQ(box.strText.rfind("Cannot write to " + (dir / "small/Song"), 0), 0u) << box.strText;

    // The files on the full disk are valid WAVs of what reached it, and nothing follows.
    std::vector<int16_t> joined = ReadJoined16(dir / "small/Song.wav");
    EXPECT_GT(joined.size(), 0u);
    EXPECT_TRUE(IsPrefix(joined, input));
    EXPECT_FALSE(rig.session.IsRecording());
    EXPECT_EQ(rig.window.m_controls, (std::vector<bool>{true, false}));
}

TEST_F(FaultTest, UnwritableNextFileStopsTheRecordingAndKeepsTheFirst)
{
    // The disk fills up in Song2.wav (no file may grow past the first song's): the first
    // song is complete, then the user is told. An earlier Song2.wav (a link to a device) is
    // removed, never written through.
    ASSERT_EQ(::symlink("/dev/full", (dir / "Song2.wav").c_str()), 0);
    std::string strInput = WriteInput({{1.5, true}, {1.5, false}, {4.0, true}});
    rig.ChooseBase(dir / "Song.wav");
    rig.prompt.m_answers = {PromptAnswer::Yes};
    {
        CFileSizeLimit limit(44 + 4 * (2 * 66150 - 1 + 88200) / 2);
        rig.RecordFile(strInput);
    }

    ASSERT_EQ(rig.prompt.m_boxes.size(), 2u);
    EXPECT_EQ(rig.prompt.m_boxes[0].strCaption, "File Exists");
    EXPECT_EQ(rig.prompt.m_boxes[1].strText, "Cannot write to " + (dir / "Song2.wav") + ".\n");
    EXPECT_EQ(rig.prompt.m_boxes[1].strCaption, "ERROR");
    EXPECT_TRUE(rig.prompt.m_boxes[1].bWhileRecording);
    ReadBack song1 = ReadSound(dir / "Song1.wav");
    ASSERT_TRUE(song1.bOk);
    EXPECT_TRUE(IsPrefix(song1.samples16, input));
    EXPECT_EQ(song1.nFrames, (2 * 66150 - 1 + 88200) / 2);  // up to the cut
    EXPECT_FALSE(rig.session.IsRecording());
}

TEST_F(FaultTest, ANewTakeRemovesTheEarlierTakesFiles_AndNeverTouchesOneThatAppeared)
{
    // An earlier take's Song1.wav (its data also reachable as Keep.wav); while the overwrite
    // question is open, another program creates Song2.wav.
    std::string strInput = WriteInput({{1.5, true}, {1.5, false}, {2.0, true}});
    std::ofstream(dir / "Song1.wav") << "earlier take";
    ASSERT_EQ(::link((dir / "Song1.wav").c_str(), (dir / "Keep.wav").c_str()), 0);
    rig.ChooseBase(dir / "Song.wav");
    rig.prompt.m_answers = {PromptAnswer::Yes};
    rig.prompt.m_onBox = [&] {
        rig.prompt.m_onBox = nullptr;
        std::ofstream(dir / "Song2.wav") << "another program's";
    };
    rig.RecordFile(strInput);

    ASSERT_EQ(rig.prompt.m_boxes.size(), 2u);
    EXPECT_EQ(rig.prompt.m_boxes[1].strText, InTheWay(dir / "Song2.wav"));
    EXPECT_EQ(rig.prompt.m_boxes[1].strCaption, "ERROR");
    EXPECT_TRUE(rig.prompt.m_boxes[1].bWhileRecording);
    EXPECT_EQ(ReadAll(dir / "Song2.wav"), "another program's");
    EXPECT_EQ(ReadAll(dir / "Keep.wav"), "earlier take") << "the earlier Song1.wav was written over";
    ReadBack song1 = ReadSound(dir / "Song1.wav");
    EXPECT_EQ(song1.nFrames, (2 * 66150 - 1 + 88200) / 2);
    EXPECT_TRUE(IsPrefix(song1.samples16, input));
}

TEST_F(FaultTest, AnEarlierTakesFileThatAnotherRecordingHolds_IsNeverRemoved)
{
    // Another recording writes Song1.wav (it holds the writer's lock): Yes does not let this
    // one remove it.
    std::string strInput = WriteInput({{1.5, true}});
    std::ofstream(dir / "Song1.wav") << "being recorded";
    const int fd = ::open((dir / "Song1.wav").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    rig.ChooseBase(dir / "Song.wav");
    rig.prompt.m_answers = {PromptAnswer::Yes};
    rig.waveIn.UseFileSource(strInput.c_str(), false);
    rig.session.OnRecord();
    ::close(fd);

    ASSERT_EQ(rig.prompt.m_boxes.size(), 2u);
    EXPECT_EQ(rig.prompt.m_boxes[1].strText, InTheWay(dir / "Song1.wav"));
    EXPECT_EQ(ReadAll(dir / "Song1.wav"), "being recorded");
    EXPECT_FALSE(rig.session.IsRecording());
}

TEST_F(FaultTest, NextFileThatCannotBeCreatedIsToldOnceAndTheEndWaitsForTheBox)
{
    // Song2.wav taken by a folder, or the whole folder removed mid-recording: one box, the
    // right one, while the recording runs. Its event loop hands on the worker's posted end
    // of the recording, which waits until the box is dismissed.
    std::string strInput = WriteInput({{1.5, true}, {1.5, false}, {2.0, true}});
    for (bool bRemoveFolder : {false, true}) {
        SCOPED_TRACE(bRemoveFolder);
        SessionRig r;
        SetGapRules(r.splitter, kGapPos, kMinSongPos, -5292);
        const std::string strFolder = dir / (bRemoveFolder ? "gone" : "taken");
        fs::create_directories(strFolder + (bRemoveFolder ? "" : "/Song2.wav"));
        CGate gate;
        r.session.SetWorkerStallHook([&gate] { gate.Pass(); });
        r.ChooseBase(strFolder + "/Song.wav");
        r.prompt.m_answers = {PromptAnswer::Yes};  // "Song2.wav" exists
        ASSERT_TRUE(r.Start(strInput));
        r.prompt.m_boxes.clear();
        bool bEndedInsideBox = true;
        r.prompt.m_onBox = [&] {
            r.prompt.m_onBox = nullptr;
            CFakeWindow::Event ev;
            do {
                if (!r.window.Next(&ev)) break;
                if (ev.kind == CFakeWindow::Event::Done) r.session.OnRecordDone();
            } while (ev.kind != CFakeWindow::Event::Done);
            bEndedInsideBox = !r.session.IsRecording();
        };
        if (bRemoveFolder) {
            gate.AwaitWorker();
            fs::remove_all(strFolder);
        }
        gate.Open();
        r.window.Pump(r.session, r.prompt);

        ASSERT_EQ(r.prompt.m_boxes.size(), 1u);
        EXPECT_EQ(r.prompt.m_boxes[0].strText,
                  "Cannot create output file " + strFolder + "/Song2.wav.\nProbably in use by another program!\n");
        EXPECT_EQ(r.prompt.m_boxes[0].strCaption, "ERROR");
        EXPECT_TRUE(r.prompt.m_boxes[0].bWhileRecording);
        EXPECT_FALSE(bEndedInsideBox);
        EXPECT_FALSE(r.session.IsRecording());
        EXPECT_EQ(r.window.m_controls, (std::vector<bool>{true, false}));
    }
}

TEST_F(FaultTest, WritingOutTheCaptureAfterStopLeavesTheLockFreeBetweenBuffers)
{
    // Seconds of audio still wait in the capture when Stop comes. While they go to disk the
    // window and the meters must get the session lock between buffers.
    std::string strInput = WriteInput({{10.0, true}});
    CGate gate;
    std::atomic<bool> bStopped{false};
    int nAfterStop = 0, nLockFree = 0;
    rig.session.SetWorkerStallHook([&] {
        if (bStopped) {
            ++nAfterStop;
            std::mutex& lock = rig.session.GetLock();
            // The window's own progress handler may hold the lock for a moment: the lock
            // counts as free when another thread gets it within two seconds.
            nLockFree += std::async(std::launch::async, [&lock] {
                for (int i = 0; i < 2000; ++i) {
                    if (lock.try_lock()) {
                        lock.unlock();
                        return 1;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                return 0;
            }).get();
        }
        gate.Pass();
    });
    rig.ChooseBase(dir / "Song.wav");
    ASSERT_TRUE(rig.Start(strInput));
    gate.AwaitWorker();
    rig.session.OnStop();
    bStopped = true;
    for (int i = 0; i < 12000 && rig.waveIn.GetHeldBytes() < 4 * 65536; ++i)  // a hang guard
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(rig.waveIn.GetHeldBytes(), 4 * 65536);
    gate.Open();
    rig.window.Pump(rig.session, rig.prompt);

    EXPECT_GE(nAfterStop, 3);
    EXPECT_EQ(nLockFree, nAfterStop);
    std::vector<int16_t> joined = ReadJoined16(dir / "Song.wav");
    EXPECT_TRUE(IsPrefix(joined, input));
    EXPECT_EQ(static_cast<int64_t>(joined.size()) * 2, rig.waveIn.GetDeliveredBytes());
}

TEST_F(FaultTest, GivingUpOnTheWorkerFreesNothingItStillUses)
{
    std::string strInput = WriteInput({{1.5, true}, {4.0, false}});
    CGate gate;
    rig.session.SetDoneWaitMs(50);
    ASSERT_TRUE(StartGated(strInput, gate));
    gate.AwaitWorker();

    // The window closes: Stop, then completion called directly while the worker is stuck.
    rig.session.OnStop();
    rig.session.OnRecordDone();
    EXPECT_TRUE(rig.session.IsRecording());
    EXPECT_TRUE(rig.waveFile.IsOpen());
    EXPECT_EQ(rig.window.m_controls, (std::vector<bool>{true}));

    // The worker goes on, ends, and its own completion finishes the job.
    gate.Open();
    rig.window.Pump(rig.session, rig.prompt);
    EXPECT_FALSE(rig.waveFile.IsOpen());
    EXPECT_EQ(rig.window.m_controls, (std::vector<bool>{true, false}));
    std::vector<int16_t> joined = ReadJoined16(dir / "Song.wav");
    EXPECT_TRUE(IsPrefix(joined, input));
    EXPECT_EQ(static_cast<int64_t>(joined.size()) * 2, rig.session.GetTotalBytes());
}

TEST_F(FaultTest, SessionDestroyedWithAStuckWorkerCompletesTheFiles)
{
    std::string strInput = WriteInput({{1.5, true}, {4.0, false}});
    std::string strBase = dir / "Song.wav";
    {
        CGate gate;  // outlives the session, whose worker passes it until the session ends it
        SessionRig local;
        SetGapRules(local.splitter, kGapPos, kMinSongPos, -5292);
        local.session.SetWorkerStallHook([&] { gate.Pass(); });
        local.session.SetDoneWaitMs(0);
        local.ChooseBase(strBase);
        ASSERT_TRUE(local.Start(strInput));
        gate.AwaitWorker();
        local.session.OnStop();
        local.session.OnRecordDone();
        EXPECT_TRUE(local.session.IsRecording());
        gate.Open();
    }  // the window goes away: the session ends the worker and completes the file
    std::vector<int16_t> joined = ReadJoined16(strBase);
    EXPECT_GT(joined.size(), 0u);
    EXPECT_TRUE(IsPrefix(joined, input));
}

// The child half of the next test: records, and after a number of buffers tells the
// parent and waits to be killed.
TEST(SessionKilled, ChildRecordsUntilKilled)
{
    const char* szDir = std::getenv("CADENZO_KILL_DIR");
    if (!szDir) GTEST_SKIP() << "runs only as the child of KilledMidRecordingLeavesReadableFiles";
    std::string strDir = szDir;
    SessionRig rig;
    SetGapRules(rig.splitter, kGapPos, kMinSongPos, -5292);
    int nBuffers = 0;
    rig.session.SetWorkerStallHook([&] {
        if (++nBuffers == 12) {
            std::ofstream(strDir + "/ready") << nBuffers;
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    rig.ChooseBase(strDir + "/Song.wav");
    rig.waveIn.UseFileSource((strDir + "/album.wav").c_str(), false);
    rig.session.OnRecord();
    rig.window.Pump(rig.session, rig.prompt);
}

TEST_F(FaultTest, KilledMidRecordingLeavesReadableFiles)
{
    // Two songs; the kill comes in the second, after 12 buffers (4.46 s).
    std::string strInput = WriteInput({{1.5, true}, {1.5, false}, {8.0, true}});
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("CADENZO_KILL_DIR", dir.Path().c_str(), 1);
        const char* argv[] = {"session_tests", "--gtest_filter=SessionKilled.ChildRecordsUntilKilled", nullptr};
        ::execv("/proc/self/exe", const_cast<char* const*>(argv));
        ::_exit(127);
    }
    // Waits for the child to reach the point (a hang guard, not a timing check).
    for (int i = 0; i < 6000 && !Exists(dir / "ready"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bool bReady = Exists(dir / "ready");
    ::kill(pid, SIGKILL);
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    ASSERT_TRUE(bReady) << "the recording child never got going";
    ASSERT_TRUE(WIFSIGNALED(nStatus));

    int nFiles = 0;
    std::vector<int16_t> joined = ReadJoined16(dir / "Song.wav", &nFiles);
    EXPECT_EQ(nFiles, 2);
    EXPECT_TRUE(IsPrefix(joined, input));
    // All but the last second of the 12 buffers captured.
    EXPECT_GE(static_cast<int64_t>(joined.size()) * 2, 12LL * 65536 - 176400);
}

TEST_F(FaultTest, AudioLostBehindAStalledWorkerIsToldWithFileAndTime)
{
    // Paced like a sound card with the smallest ring; the worker stalls for 3 s after its
    // second buffer, longer than the ring holds.
    std::string strInput = WriteInput({{6.0, true}});
    rig.waveIn.SetRingSeconds(0.1);
    int nBuffers = 0;
    rig.session.SetWorkerStallHook([&] {
        if (++nBuffers == 2) std::this_thread::sleep_for(std::chrono::seconds(3));
    });
    rig.ChooseBase(dir / "Song.wav");
    rig.RecordFile(strInput, true);

    ASSERT_EQ(rig.prompt.m_boxes.size(), 1u);
    const ShownBox& box = rig.prompt.m_boxes[0];
    EXPECT_EQ(box.strCaption, "Audio Lost");
    EXPECT_EQ(box.icon, PromptIcon::Exclamation);
    EXPECT_EQ(box.strText.rfind("Some audio could not be recorded:\n", 0), 0u) << box.strText;
    EXPECT_NE(box.strText.find(" s in Song1.wav at 00:0"), std::string::npos) << box.strText;
    EXPECT_NE(box.strText.find("(the recorder fell behind)"), std::string::npos) << box.strText;
    EXPECT_NE(box.strText.find("In all "), std::string::npos) << box.strText;
    EXPECT_FALSE(box.bWhileRecording);
    EXPECT_GT(rig.waveIn.GetDroppedFrames(), 0);
}

TEST_F(FaultTest, MinimisedWindowTitleFollowsTheCurrentFile)
{
    std::string strInput = WriteInput({{1.5, true}, {1.5, false}, {2.5, true}});
    rig.window.m_bMinimised = true;
    // One buffer at a time, so each progress message finds the file it belongs to.
    CGate gate;
    ASSERT_TRUE(StartGated(strInput, gate));
    rig.window.Pump(rig.session, rig.prompt, [&](const CFakeWindow::Event&) { gate.Grant(); });
    ASSERT_GE(rig.window.m_titles.size(), 3u);
    EXPECT_EQ(rig.window.m_titles.front(), "Song1.wav: Novu Cadenzo");
    EXPECT_EQ(rig.window.m_titles[rig.window.m_titles.size() - 2], "Song2.wav: Novu Cadenzo");
    EXPECT_EQ(rig.window.m_titles.back(), "DONE: Novu Cadenzo");
}
