// cadenzo-split end to end: a generated album split into song files, and every kind of
// bad input refused with a message and a status, leaving what exists untouched.

#include "SessionTestSupport.h"
#include "tools/SplitOptions.h"

#include <libcue.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <limits>
#include <thread>

using namespace sessiontest;

namespace {

struct ToolRun {
    int nStatus = -1;
    std::string strOut, strErr;
};

// How the program's standard streams are set up; the default: both into files.
struct ToolIo {
    std::string strStdin;            // a file to read as standard input (empty: none)
    bool bStdinPipe = false;         // standard input is a pipe that Started::fdIn writes
    bool bStdoutClosedPipe = false;  // standard output is a pipe nobody reads
    long nFileSizeLimit = 0;         // bytes one file may grow to (ulimit -f), 0: none
};

struct Started {
    pid_t pid = -1;
    int fdIn = -1;  // the writing end of standard input's pipe
    std::string strOut, strErr;
};

Started StartTool(const std::vector<std::string>& args, const CTempDir& dir, const ToolIo& io = ToolIo())
{
    Started started;
    started.strOut = dir / ".out";
    started.strErr = dir / ".err";
    int fdsIn[2] = {-1, -1}, fdsOut[2] = {-1, -1};
    if (io.bStdinPipe) {
        EXPECT_EQ(::pipe(fdsIn), 0);
    }
    if (io.bStdoutClosedPipe) {
        EXPECT_EQ(::pipe(fdsOut), 0);
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        int fdOut = ::open(started.strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fdErr = ::open(started.strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(io.bStdoutClosedPipe ? fdsOut[1] : fdOut, 1);
        ::dup2(fdErr, 2);
        if (io.bStdinPipe) ::dup2(fdsIn[0], 0);
        if (!io.strStdin.empty()) ::dup2(::open(io.strStdin.c_str(), O_RDONLY), 0);
        for (int fd : {fdsIn[0], fdsIn[1], fdsOut[0], fdsOut[1]})
            if (fd >= 0) ::close(fd);
        if (io.nFileSizeLimit > 0) {
            struct rlimit limit = {static_cast<rlim_t>(io.nFileSizeLimit), static_cast<rlim_t>(io.nFileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        size_t nFirst = 0;
        if (!args.empty() && args[0] == "--setpriv") {
            // As an ordinary user, for the permission checks root would pass.
            for (const char* sz : {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"})
                argv.push_back(const_cast<char*>(sz));
            nFirst = 1;
        }
        argv.push_back(const_cast<char*>(CADENZO_SPLIT_PATH));
        for (size_t i = nFirst; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    started.pid = pid;
    if (io.bStdinPipe) {
        ::close(fdsIn[0]);
        started.fdIn = fdsIn[1];
    }
    if (io.bStdoutClosedPipe) {
        ::close(fdsOut[0]);  // nobody will read
        ::close(fdsOut[1]);
    }
    return started;
}

// Waits for the program; one that has not ended within two minutes is killed (status 137).
ToolRun WaitTool(const Started& started)
{
    ToolRun run;
    int nStatus = 0;
    for (int i = 0; i < 1200 && ::waitpid(started.pid, &nStatus, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (::waitpid(started.pid, &nStatus, WNOHANG) == 0) {
        ADD_FAILURE() << "the program did not end";
        ::kill(started.pid, SIGKILL);
        ::waitpid(started.pid, &nStatus, 0);
    }
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    run.strOut = ReadAll(started.strOut);
    run.strErr = ReadAll(started.strErr);
    fs::remove(started.strOut);
    fs::remove(started.strErr);
    return run;
}

ToolRun RunTool(const std::vector<std::string>& args, const CTempDir& dir, const ToolIo& io = ToolIo())
{
    return WaitTool(StartTool(args, dir, io));
}

// Settings that make exact cuts: no DC removal, no click filter, short songs.
const std::vector<std::string> kExact = {"--gap-size", "1", "--min-song", "1.1", "--end-gap", "2",
                                         "--dc-block", "off", "--smart-gap", "off"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

const std::vector<Segment> kAlbum = {{1.5, true}, {1.5, false}, {2.0, true}, {1.5, false},
                                     {2.5, true}, {1.6, false}};

class SplitToolTest : public ::testing::Test {
protected:
    CTempDir dir;
};

}  // namespace

TEST_F(SplitToolTest, WavAndFlacAlbumsAreSplitIntoSongsWithAListAndASummary)
{
    std::vector<int16_t> input = MakeAlbum<int16_t>(44100, kAlbum);
    for (const char* szInput : {"album.wav", "album.flac"}) {
        SCOPED_TRACE(szInput);
        const bool bFlac = std::string(szInput) == "album.flac";
        WriteSound(dir / szInput, 44100, 2, (bFlac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16, input);
        const std::string strBase = dir / (bFlac ? "Flac.wav" : "Song.wav");
        ToolRun run = RunTool(With(kExact, {dir / szInput, strBase}), dir);
        ASSERT_EQ(run.nStatus, 0) << run.strErr;
        EXPECT_EQ(run.strErr, "");

        std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(strBase, true);
        EXPECT_EQ(songs.size(), 3u);
        std::vector<int16_t> joined = Joined(songs);
        ASSERT_TRUE(IsPrefix(joined, input));
        for (size_t i = joined.size(); i < input.size(); ++i) ASSERT_EQ(input[i], 0);
        EXPECT_EQ(ReadSound(CRecordSession::NumberedName(strBase, 1)).nFormat, SF_FORMAT_WAV | SF_FORMAT_PCM_16);

        // The first song ends 1.0 s into the first silence: 2.5 s, less the last frame's
        // rounding, at 00:00.00; the second starts there.
        const std::string strName = bFlac ? "Flac" : "Song";
        EXPECT_NE(run.strOut.find(strName + "1.wav  00:02.49  starts at 00:00.00\n"), std::string::npos) << run.strOut;
        EXPECT_NE(run.strOut.find(strName + "2.wav  00:03.50  starts at 00:02.49\n"), std::string::npos) << run.strOut;
        EXPECT_NE(run.strOut.find(strName + "3.wav  "), std::string::npos);
        EXPECT_NE(run.strOut.find("3 song files from " + (dir / szInput)), std::string::npos) << run.strOut;
        EXPECT_NE(run.strOut.find(strName + "4.wav was removed: it held only the trailing silence.\n"),
                  std::string::npos);
    }
}

TEST_F(SplitToolTest, WideInputGivesFloatFilesUnlessSixteenBitsAreAsked)
{
    WriteSound(dir / "album24.wav", 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, MakeAlbum<float>(48000, kAlbum));
    ToolRun run = RunTool(With(kExact, {dir / "album24.wav", dir / "Wide.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    ReadBack rb = ReadSound(dir / "Wide1.wav", true);
    EXPECT_EQ(rb.nFormat, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(rb.nRate, 48000);

    run = RunTool(With(kExact, {"--bits", "16", dir / "album24.wav", dir / "Narrow.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_EQ(ReadSound(dir / "Narrow1.wav").nFormat, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

TEST_F(SplitToolTest, MonoInputIsRecordedAsTwoEqualChannels)
{
    std::vector<int16_t> stereo = MakeAlbum<int16_t>(22050, kAlbum);
    std::vector<int16_t> mono;
    for (size_t i = 0; i < stereo.size(); i += 2) mono.push_back(stereo[i]);
    WriteSound(dir / "mono.wav", 22050, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, mono);
    ToolRun run = RunTool(With(kExact, {dir / "mono.wav", dir / "Song.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    ReadBack rb = ReadSound(dir / "Song1.wav");
    ASSERT_EQ(rb.nChannels, 2);
    for (size_t i = 0; i + 1 < rb.samples16.size(); i += 2) {
        ASSERT_EQ(rb.samples16[i], rb.samples16[i + 1]);
        ASSERT_EQ(rb.samples16[i], mono[i / 2]);
    }
}

TEST_F(SplitToolTest, ExistingNumberedFileIsNamedAndNothingIsWritten)
{
    std::vector<int16_t> input = WriteAlbum<int16_t>(dir / "album.wav", 44100, kAlbum);
    std::ofstream(dir / "Song12.wav") << "twelve";
    std::ofstream(dir / "Song7.wav") << "seven";
    ToolRun run = RunTool(With(kExact, {dir / "album.wav", dir / "Song.wav"}), dir);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strErr, "cadenzo-split: " + (dir / "Song7.wav") +
                              " exists; use --overwrite to replace the numbered files.\n");
    EXPECT_FALSE(Exists(dir / "Song1.wav"));
    EXPECT_EQ(ReadAll(dir / "Song7.wav"), "seven");

    // Numbered files beyond the new ones are the user's: kept, and listed as not written now.
    for (const char* sz : {"Song5.wav", "Song6.wav"}) std::ofstream(dir / sz) << "old";
    run = RunTool(With(kExact, {"--overwrite", dir / "album.wav", dir / "Song.wav"}), dir);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_TRUE(ReadSound(dir / "Song3.wav").bOk);
    EXPECT_EQ(ReadAll(dir / "Song7.wav"), "seven");  // never reached
    EXPECT_NE(run.strOut.find("Song5.wav to Song7.wav (3 files), Song12.wav are left from an earlier split: "
                              "not written now, and kept.\n"),
              std::string::npos)
        << run.strOut;

    // The input itself among the numbered files is never overwritten.
    fs::copy_file(dir / "album.wav", dir / "Take2.wav");
    run = RunTool(With(kExact, {"--overwrite", dir / "Take2.wav", dir / "Take.wav"}), dir);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strErr, "cadenzo-split: the input " + (dir / "Take2.wav") +
                              " would be overwritten by the song files.\n");
    EXPECT_EQ(ReadSound(dir / "Take2.wav").samples16, input);
}

#ifdef CADENZO_ALBUM_PATH
// A split over an earlier one with fewer songs makes an album of its own songs only: the
// earlier split's later files and its titles are named as leftovers, not taken in.
TEST_F(SplitToolTest, AnOverwritingSplitWithFewerSongs_IsAnAlbumOfItsOwnSongs)
{
    WriteAlbum<int16_t>(dir / "album.wav", 44100, kAlbum);
    WriteAlbum<int16_t>(dir / "one.wav", 44100, {{2.0, true}});
    auto album = [&](const std::string& strArgs) {
        FILE* p = ::popen((std::string(CADENZO_ALBUM_PATH) + " " + strArgs + " '" + (dir / "Take.wav") + "'" +
                           (strArgs == "title" ? " 1 Old" : "") + " 2>&1").c_str(), "r");
        std::string strOut;
        char sz[4096];
        for (size_t n; (n = std::fread(sz, 1, sizeof sz, p)) > 0;) strOut.append(sz, n);
        EXPECT_EQ(::pclose(p), 0) << strOut;
        return strOut;
    };
    ASSERT_EQ(RunTool(With(kExact, {dir / "album.wav", dir / "Take.wav"}), dir).nStatus, 0);
    album("title");
    ToolRun run = RunTool(With(kExact, {"--overwrite", dir / "one.wav", dir / "Take.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    const std::string strList = album("list");
    EXPECT_EQ(strList.rfind("Song  Start     Length    Title\n   1  00:00.00  00:0", 0), 0u) << strList;
    EXPECT_EQ(strList.find("Old"), std::string::npos) << strList;
    const std::string strLeft = "\nLeft from an earlier recording under this name, not part of the album:\n      " +
                                (dir / "Take2.wav") + "\n      " + (dir / "Take3.wav") + "\n";
    EXPECT_EQ(strList.find("\n   2  "), std::string::npos) << strList;
    EXPECT_NE(strList.find(strLeft), std::string::npos) << strList;
}
#endif

TEST_F(SplitToolTest, BadInputsEndWithAMessageAndAStatus)
{
    WriteAlbum<int16_t>(dir / "album.wav", 44100, {{1.0, true}});
    std::ofstream(dir / "notes.txt") << "this is not audio at all, just some words\n";
    std::vector<int16_t> three(3 * 44100, 1000);
    WriteSound(dir / "three.wav", 44100, 3, SF_FORMAT_WAV | SF_FORMAT_PCM_16, three);
    fs::create_directory(dir.Path() / "folder.wav");

    struct Case {
        std::vector<std::string> args;
        int nStatus;
        std::string strErrStart;  // the message begins with this
    };
    const std::string out = dir / "Song.wav";
    const std::vector<Case> cases = {
        {{dir / "missing.wav", out}, 1, "cadenzo-split: Cannot find input file " + (dir / "missing.wav") + ".\n"},
        {{dir / "notes.txt", out}, 1,
         "cadenzo-split: Cannot read input file " + (dir / "notes.txt") + ": Format not recognised.\n"},
        {{dir / "folder.wav", out}, 1,
         "cadenzo-split: Cannot read input file " + (dir / "folder.wav") + ": it is a folder.\n"},
        {{dir / "three.wav", out}, 1,
         "cadenzo-split: Cannot record from " + (dir / "three.wav") +
             ": it has 3 channels; only mono and stereo can be read.\n"},
        {{dir / "album.wav", dir / "no/such/folder/Song.wav"}, 1,
         "cadenzo-split: the folder " + (dir / "no/such/folder") + " does not exist.\n"},
        {{"--gap-size", "9", dir / "album.wav", out}, 2,
         "cadenzo-split: Gap size is not between 0.01 and 5 seconds.\n"},
        {{"--gap-level", "-3", dir / "album.wav", out}, 2,
         "cadenzo-split: Gap level is not between -6 and -144 dB.\n"},
        {{"--min-song", "0.5", dir / "album.wav", out}, 2,
         "cadenzo-split: Minimum song size is not between 1 and 200 seconds.\n"},
        {{"--end-gap", "40", dir / "album.wav", out}, 2,
         "cadenzo-split: End gap is not between 1 and 30 seconds.\n"},
        {{"--gap-size", "1e30", dir / "album.wav", out}, 2,
         "cadenzo-split: Gap size is not between 0.01 and 5 seconds.\n"},
        {{"--gap-size", "soon", dir / "album.wav", out}, 2,
         "cadenzo-split: --gap-size needs a number of seconds, not 'soon'.\n"},
        {{"--gap-size", "nan", dir / "album.wav", out}, 2,
         "cadenzo-split: --gap-size needs a number of seconds, not 'nan'.\n"},
        {{"--bits", "24", dir / "album.wav", out}, 2, "cadenzo-split: --bits must be 16 or 32, not '24'.\n"},
        {{"--dc-block", "maybe", dir / "album.wav", out}, 2,
         "cadenzo-split: --dc-block must be on or off, not 'maybe'.\n"},
        {{"--loud", dir / "album.wav", out}, 2, "cadenzo-split: unknown option '--loud' (see --help).\n"},
        {{dir / "album.wav"}, 2, "cadenzo-split: give the input recording and the base name"},
        {{dir / "album.wav", out, "extra"}, 2, "cadenzo-split: too many file names"},
        {{dir / "album.wav", "--end-gap"}, 2, "cadenzo-split: --end-gap needs a value: SECONDS.\n"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.args, dir);
        std::string strArgs;
        for (auto& a : c.args) strArgs += a + " ";
        EXPECT_EQ(run.nStatus, c.nStatus) << strArgs << "\n" << run.strErr;
        EXPECT_EQ(run.strErr.rfind(c.strErrStart, 0), 0u) << strArgs << "\n" << run.strErr;
        EXPECT_GT(run.strErr.size(), std::string("cadenzo-split: \n").size()) << strArgs;
        EXPECT_EQ(run.strErr.find('\n'), run.strErr.size() - 1) << "one line: " << run.strErr;
        EXPECT_FALSE(Exists(dir / "Song1.wav")) << strArgs;
    }
}

TEST_F(SplitToolTest, UnreadableInputIsRefused)
{
    if (::geteuid() != 0 || !Exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root to run as another user";
    WriteAlbum<int16_t>(dir / "secret.wav", 44100, {{1.0, true}});
    ::chmod(dir.Path().c_str(), 0777);
    ::chmod((dir / "secret.wav").c_str(), 0);
    ToolRun run = RunTool({"--setpriv", dir / "secret.wav", dir / "Song.wav"}, dir);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strErr, "cadenzo-split: Cannot read input file " + (dir / "secret.wav") + ": permission denied.\n");
    EXPECT_FALSE(Exists(dir / "Song1.wav"));
}

TEST_F(SplitToolTest, ReadOnlyDestinationIsRefused)
{
    CTmpfs ro(dir / "ro", "size=64k", MS_RDONLY);
    if (!ro.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    WriteAlbum<int16_t>(dir / "album.wav", 44100, {{1.0, true}});
    ToolRun run = RunTool({dir / "album.wav", dir / "ro/Song.wav"}, dir);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strErr, "cadenzo-split: cannot write in the folder " + (dir / "ro") + ".\n");
}

TEST_F(SplitToolTest, HelpExplainsEveryOption)
{
    ToolRun run = RunTool({"--help"}, dir);
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_EQ(run.strOut.rfind("Usage: cadenzo-split [options] INPUT BASE.wav\n", 0), 0u);
    for (const char* sz : {"--gap-size SECONDS", "--gap-level DB", "--min-song SECONDS", "--end-gap SECONDS",
                           "--dc-block on|off", "--smart-gap on|off", "--bits 16|32", "--overwrite", "--songs N",
                           "--lengths M:SS,...", "--dry-run", "--cue FILE", "--labels FILE", "Exit status"})
        EXPECT_NE(run.strOut.find(sz), std::string::npos) << sz;
}

TEST(SplitOptions, UserUnitsLandOnTheNearestStoredStepInsideTheRange)
{
    // Every value inside the documented range is accepted, the ends and the values between
    // steps included, and lands on the nearest step; values outside are refused.
    struct Case {
        const char* szOption;
        const char* szValue;
        int32_t nPosition;  // 0: refused
    };
    const std::vector<Case> cases = {
        {"--gap-size", "1", -1764},      {"--gap-size", "2.2", -3881},     {"--gap-size", "0.01", -18},
        {"--gap-size", "5", -8820},      {"--gap-size", "5.0001", 0},      {"--gap-size", "0.0099", 0},
        {"--gap-level", "-35", -583},    {"--gap-level", "-6", -16422},    {"--gap-level", "-91", -1},
        {"--gap-level", "-144", -1},     {"--gap-level", "-5.9", 0},       {"--gap-level", "-145", 0},
        {"--min-song", "1", -177},       {"--min-song", "30.01", -5294},   {"--min-song", "200", -35280},
        {"--min-song", "0.999", 0},      {"--end-gap", "1", -177},         {"--end-gap", "30", -5292},
        {"--end-gap", "7.01", -1237},    {"--end-gap", "30.001", 0},       {"--gap-size", "1e30", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.szOption) + " " + c.szValue);
        CSplitOptions options;
        const char* argv[] = {"cadenzo-split", c.szOption, c.szValue, "in.wav", "out.wav"};
        ASSERT_EQ(options.Parse(5, argv), CSplitOptions::Outcome::Run);
        CSongSplitter splitter;
        std::string strError;
        EXPECT_EQ(options.ApplyTo(splitter, &strError), c.nPosition != 0) << strError;
        if (c.nPosition == 0) continue;
        const std::string strOption = c.szOption;
        const int32_t nStored = strOption == "--gap-size"    ? *options.m_nGapSize
                                : strOption == "--gap-level" ? *options.m_nGapLevel
                                : strOption == "--min-song"  ? *options.m_nMinSong
                                                             : *options.m_nEndGap;
        EXPECT_EQ(nStored, c.nPosition);
    }

    CSplitOptions options;
    const char* argv[] = {"cadenzo-split", "--gap-size=0.5", "--smart-gap", "off", "in.wav", "out.wav"};
    ASSERT_EQ(options.Parse(6, argv), CSplitOptions::Outcome::Run);
    CSongSplitter splitter;
    std::string strError;
    ASSERT_TRUE(options.ApplyTo(splitter, &strError)) << strError;
    EXPECT_EQ(splitter.GetGapSize(), -882);
    EXPECT_EQ(splitter.GetIgnoreClicks(), 0);
    EXPECT_EQ(splitter.GetDcBlock(), 1);     // untouched: the engine's default
    EXPECT_EQ(options.m_strInput, "in.wav");
    EXPECT_EQ(options.m_strBase, "out.wav");
}

namespace {

// Gaps of 1.5 s, 0.4 s, 0.8 s and 0.2 s between five loud passages: a 1 s gap size
// cuts only the first.
const std::vector<Segment> kFiveSongs = {{2.0, true}, {1.5, false}, {2.0, true}, {0.4, false}, {2.0, true},
                                         {0.8, false}, {2.0, true}, {0.2, false}, {2.0, true}};

// The song files' lines of a listing ("Song1.wav  00:02.49  starts at 00:00.00").
std::vector<std::string> ListedFiles(const std::string& strOut)
{
    std::vector<std::string> lines;
    std::istringstream in(strOut);
    for (std::string strLine; std::getline(in, strLine);)
        if (strLine.find("  starts at ") != std::string::npos) lines.push_back(strLine);
    return lines;
}

// An album whose songs are noise (every sample still well above the gap level), so that
// its compressed file is large and a damaged stretch cannot decode to the original.
std::vector<int16_t> NoisyAlbum(int nRate, const std::vector<Segment>& segments)
{
    std::vector<int16_t> samples = MakeAlbum<int16_t>(nRate, segments);
    uint32_t nSeed = 12345;
    for (int16_t& v : samples) {
        if (v == 0) continue;
        nSeed = nSeed * 1664525u + 1013904223u;
        v = static_cast<int16_t>((v > 0 ? 1 : -1) * (1000 + static_cast<int>(nSeed >> 16) % 7000));
    }
    return samples;
}

}  // namespace

TEST_F(SplitToolTest, SongCountCutsAtTheLongestSilencesAndTheFilesJoinToTheInput)
{
    std::vector<int16_t> input = WriteAlbum<int16_t>(dir / "album.wav", 44100, kFiveSongs);
    ToolRun plain = RunTool(With(kExact, {dir / "album.wav", dir / "Plain.wav"}), dir);
    ASSERT_EQ(plain.nStatus, 0) << plain.strErr;
    ToolRun run = RunTool(With(kExact, {"--songs", "3", dir / "album.wav", dir / "Song.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;

    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "Song.wav", true);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(Joined(songs), input);  // the whole input, sample for sample
    // The 1.5 s gap is cut where the gap rule cuts it; the 0.8 s gap, shorter than the gap
    // size, in its middle; the 0.4 s one is passed over.
    EXPECT_EQ(songs[0], ReadSongs<int16_t>(dir / "Plain.wav")[0]);
    EXPECT_EQ((songs[0].size() + songs[1].size()) / 2, static_cast<size_t>(44100 * (7.9 + 0.4)));
    EXPECT_NE(run.strOut.find("3 song files from "), std::string::npos) << run.strOut;

    // More songs than the recording can hold: said, and nothing written.
    run = RunTool(With(kExact, {"--songs", "12", dir / "album.wav", dir / "Many.wav"}), dir);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strErr, "cadenzo-split: the recording (00:12.90) cannot hold 12 songs of at least 1.10 s "
                          "(--min-song); nothing was written.\n");
    EXPECT_FALSE(Exists(dir / "Many1.wav"));
}

TEST_F(SplitToolTest, DryRunListsTheCutsOfARealRunAndDescribesThemInACueSheetAndLabels)
{
    WriteAlbum<int16_t>(dir / "album.wav", 44100, kFiveSongs);
    ToolRun real = RunTool(With(kExact, {"--gap-size", "0.3", dir / "album.wav", dir / "Real.wav"}), dir);
    ASSERT_EQ(real.nStatus, 0) << real.strErr;
    ToolRun dry = RunTool(With(kExact, {"--gap-size", "0.3", "--dry-run", "--cue", dir / "album.cue", "--labels",
                                        dir / "labels.txt", dir / "album.wav", dir / "Real.wav"}), dir);
    ASSERT_EQ(dry.nStatus, 0) << dry.strErr;
    EXPECT_EQ(ListedFiles(dry.strOut), ListedFiles(real.strOut));
    EXPECT_EQ(ListedFiles(dry.strOut).size(), 5u);
    EXPECT_NE(dry.strOut.find("5 song files would be written from "), std::string::npos) << dry.strOut;

    // Every song file of the real run starts where the cue sheet and the labels say.
    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "Real.wav");
    ASSERT_EQ(songs.size(), 5u);
    Cd* pCd = cue_parse_string(ReadAll(dir / "album.cue").c_str());
    ASSERT_NE(pCd, nullptr) << ReadAll(dir / "album.cue");
    ASSERT_EQ(cd_get_ntrack(pCd), 5);
    std::istringstream labels(ReadAll(dir / "labels.txt"));
    int64_t nStart = 0;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const int64_t nEnd = nStart + static_cast<int64_t>(songs[i].size() / 2);
        Track* pTrack = cd_get_track(pCd, i + 1);
        EXPECT_STREQ(track_get_filename(pTrack), "album.wav");
        EXPECT_EQ(track_get_start(pTrack), nStart * 75 / 44100);
        std::string strLine;
        ASSERT_TRUE(std::getline(labels, strLine));
        char szExpected[96];
        std::snprintf(szExpected, sizeof szExpected, "%.6f\t%.6f\tSong %d", nStart / 44100.0, nEnd / 44100.0, i + 1);
        EXPECT_EQ(strLine, szExpected);
        nStart = nEnd;
    }
    cd_delete(pCd);
}

TEST_F(SplitToolTest, CueSheetsAndLabelsNameTheRealInputAndNeverTakeItsPlace)
{
    WriteAlbum<int16_t>(dir / "album.wav", 44100, kAlbum);
    fs::create_directories(dir / "w");
    fs::create_directories(dir / "cueout");
    const std::string out = dir / "out.wav";
    // Refused before anything is written: the input, a song file, an empty name.
    struct Refused {
        std::vector<std::string> args;
        std::string strErr;
    };
    const std::vector<Refused> refused = {
        {{"--labels", dir / "album.wav", dir / "album.wav", out},
         "cadenzo-split: --labels names the input " + (dir / "album.wav") + ": the label file would overwrite it.\n"},
        {{"--cue", dir / "w/../out2.wav", dir / "album.wav", out},
         "cadenzo-split: --cue names the song file " + (dir / "out2.wav") + ": the cue sheet would overwrite it.\n"},
        {{"--cue", "", dir / "album.wav", out}, "cadenzo-split: --cue needs the name of the cue sheet to write.\n"},
    };
    for (const Refused& c : refused) {
        ToolRun run = RunTool(With(kExact, c.args), dir);
        EXPECT_EQ(run.nStatus, 2);
        EXPECT_EQ(run.strErr, c.strErr);
        EXPECT_FALSE(Exists(dir / "out1.wav"));
    }
    EXPECT_EQ(ReadSound(dir / "album.wav").samples16, MakeAlbum<int16_t>(44100, kAlbum));

    // FILE names the input as seen from the cue sheet's folder, whole and readable.
    const std::string strLong = dir / (std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(200, 'c'));
    fs::create_directories(strLong);
    fs::copy_file(dir / "album.wav", strLong + "/album.wav");
    fs::copy_file(dir / "album.wav", dir / "it\"s.wav");
    struct Named {
        std::string strInput, strCue, strFile;  // strFile: what the cue sheet's reader sees; "" refused
    };
    const std::vector<Named> named = {
        {dir / "album.wav", dir / "w/../cueout/c.cue", "../album.wav"},
        {strLong + "/album.wav", dir / "long.cue", strLong.substr(dir.Path().string().size() + 1) + "/album.wav"},
        {dir / "it\"s.wav", dir / "q.cue", ""},
    };
    for (const Named& c : named) {
        SCOPED_TRACE(c.strCue);
        ToolRun run = RunTool(With(kExact, {"--dry-run", "--cue", c.strCue, c.strInput, out}), dir);
        if (c.strFile.empty()) {
            EXPECT_EQ(run.nStatus, 1);
            EXPECT_EQ(run.strErr, "cadenzo-split: cannot write the cue sheet " + c.strCue +
                                      ": the input's name as seen from its folder (it\"s.wav) holds a double quote, "
                                      "which a cue sheet cannot hold.\n");
            continue;
        }
        ASSERT_EQ(run.nStatus, 0) << run.strErr;
        Cd* pCd = cue_parse_string(ReadAll(c.strCue).c_str());
        ASSERT_NE(pCd, nullptr) << ReadAll(c.strCue);
        EXPECT_EQ(track_get_filename(cd_get_track(pCd, 1)), c.strFile);
        cd_delete(pCd);
    }

    // A dry run reads the input once, so a pipe will do.
    ToolIo io;
    io.bStdinPipe = true;
    Started started = StartTool(With(kExact, {"--dry-run", "-", out}), dir, io);
    const std::string strBytes = ReadAll(dir / "album.wav");
    EXPECT_EQ(::write(started.fdIn, strBytes.data(), strBytes.size()), static_cast<ssize_t>(strBytes.size()));
    ::close(started.fdIn);
    ToolRun run = WaitTool(started);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strOut.find("3 song files would be written from -"), std::string::npos) << run.strOut;
}

TEST_F(SplitToolTest, ASplitThatCutTooLittleNamesTheStretchAndTheSettingThatCutsIt)
{
    WriteAlbum<int16_t>(dir / "album.wav", 44100, {{2.0, true}, {1.5, false}, {2.0, true}, {0.8, false}, {3.0, true}});
    ToolRun run = RunTool(With(kExact, {dir / "album.wav", dir / "Song.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strOut.find("The longest quiet stretch that did not become a cut was 0.80 s at 00:05.50, digital "
                              "silence: --gap-size 0.7 would cut there.\n"),
              std::string::npos) << run.strOut;

    // Taking the advice cuts there, and nothing more is said.
    run = RunTool(With(kExact, {"--gap-size", "0.7", dir / "album.wav", dir / "Advised.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_EQ(ReadSongs<int16_t>(dir / "Advised.wav").size(), 3u);
    EXPECT_EQ(run.strOut.find("quiet stretch"), std::string::npos) << run.strOut;

    // An end gap in the middle of the recording names the End Gap that goes on past it.
    const std::vector<int16_t> sides = WriteAlbum<int16_t>(dir / "sides.wav", 44100, {{2.0, true}, {2.5, false}, {2.0, true}});
    run = RunTool(With(kExact, {"--listen", "0", dir / "sides.wav", dir / "Side.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strOut.find("The end gap ended the split in 2.50 s of silence at 00:02.00, but sound follows: "
                              "--end-gap 3 would split on past it.\n"),
              std::string::npos) << run.strOut;
    // Listening after the end gap (30 s unless told) hears the second side and goes on:
    // both sides, every sample once, and nothing to explain.
    run = RunTool(With(kExact, {"--overwrite", dir / "sides.wav", dir / "Side.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_EQ(Joined(ReadSongs<int16_t>(dir / "Side.wav")), sides);
    EXPECT_EQ(run.strOut.find("end gap"), std::string::npos) << run.strOut;
    // A listening too short for the silence names the one that would do.
    run = RunTool(With(kExact, {"--listen", "0.2", "--dry-run", dir / "sides.wav", dir / "Side.wav"}), dir);
    EXPECT_NE(run.strOut.find("but sound follows: --listen 1 would split on past it.\n"), std::string::npos)
        << run.strOut;
}

// A split explains itself from the buffers as it judged them, reading on past an end gap:
// it says what the dry run, which reads the input on its own beforehand, says. Filters
// off and on, 16-bit and float, an undercut split and one ended by its end gap.
TEST_F(SplitToolTest, ASplitExplainsItselfAsTheDryRunDoes)
{
    auto explanation = [](const std::string& strOut) {
        std::istringstream in(strOut);
        std::string strText;
        for (std::string strLine; std::getline(in, strLine);)
            if (strLine.find("quiet stretch") != std::string::npos || strLine.rfind("Next:", 0) == 0 ||
                strLine.rfind("The end gap ended the split in", 0) == 0)
                strText += strLine + "\n";
        return strText;
    };
    WriteAlbum<int16_t>(dir / "undercut.wav", 44100, {{2.0, true}, {1.5, false}, {2.0, true}, {0.8, false}, {3.0, true}});
    // Hiss at -60 dB under it all, a click in the first pause, a second song cut too
    // little and an end gap that sound follows.
    std::vector<int16_t> hiss = MakeAlbum<int16_t>(44100, {{2.0, true}, {1.5, false}, {2.0, true}, {0.8, false},
                                                           {1.5, true}, {2.5, false}, {2.0, true}});
    uint32_t nNoise = 1;
    for (int16_t& v : hiss) {
        nNoise = nNoise * 1664525u + 1013904223u;
        v = static_cast<int16_t>(v + static_cast<int>(nNoise >> 26) - 32);
    }
    for (int i = 0; i < 6; ++i) hiss[2 * (2 * 44100 + 30000) + i] = 30000;
    WriteSound(dir / "hiss.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, hiss);
    const std::vector<std::string> filtersOn = {"--gap-size", "1", "--min-song", "1.1", "--end-gap", "2"};
    struct Case {
        const char* szWhat;
        std::vector<std::string> args;
        std::string strInput;
    };
    const std::vector<Case> cases = {
        {"undercut, filters off", kExact, dir / "undercut.wav"},
        {"undercut, filters on", filtersOn, dir / "undercut.wav"},
        {"hiss and a click, end gap, filters on", filtersOn, dir / "hiss.wav"},
        {"the same as float", With(filtersOn, {"--bits", "32"}), dir / "hiss.wav"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        const std::string strBase = dir / ("Case" + std::to_string(++n) + "-.wav");
        ToolRun real = RunTool(With(c.args, {c.strInput, strBase}), dir);
        ASSERT_EQ(real.nStatus, 0) << real.strErr;
        ToolRun dry = RunTool(With(c.args, {"--dry-run", c.strInput, strBase}), dir);
        ASSERT_EQ(dry.nStatus, 0) << dry.strErr;
        EXPECT_NE(explanation(real.strOut), "") << real.strOut;
        EXPECT_EQ(explanation(real.strOut), explanation(dry.strOut));
    }
}

TEST_F(SplitToolTest, SamplesThatAreNotNumbersAreReplacedAndReported)
{
    // Songs at 0-1.5 s, 3-5 s and 6.5-9 s; one sample that is not a number in each, and
    // finite ones too large for the filters: 1e36 (the click filter's state went NaN, the
    // split ended early) and a pair of +-3e38 (DC Block's state overflowed). Up to 1000 times
    // full scale passes.
    std::vector<float> input = MakeAlbum<float>(44100, kAlbum);
    const size_t nInf = 2 * 44100, nNan = 2 * (44100 * 7 / 2) + 1, nMinusInf = 2 * (44100 * 15 / 2);
    const size_t nHuge = 2 * 44100 * 4, nPair = 2 * 44100 * 7, nLoudest = 2 * 44100 * 8;
    input[nLoudest] = 1000.0f;
    std::vector<float> mended = input;
    input[nInf] = std::numeric_limits<float>::infinity();
    input[nInf + 3] = std::numeric_limits<float>::quiet_NaN();  // the first is still named
    input[nNan] = std::numeric_limits<float>::quiet_NaN();
    input[nMinusInf] = -std::numeric_limits<float>::infinity();
    input[nHuge] = 1e36f;
    input[nPair] = 3e38f;
    input[nPair + 2] = -3e38f;
    mended[nInf] = 1.0f;
    mended[nInf + 3] = 0.0f;
    mended[nNan] = 0.0f;
    mended[nMinusInf] = -1.0f;
    mended[nHuge] = 1.0f;
    mended[nPair] = 1.0f;
    mended[nPair + 2] = -1.0f;
    WriteSound(dir / "nan.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, input);
    // The exact settings at both depths, then DC Block and Smart Gap on (their state is
    // what the huge samples overflowed).
    for (const std::string strBits : {"32", "16", "filters"}) {
        SCOPED_TRACE(strBits);
        const std::string strBase = dir / ("Bits" + strBits + ".wav");
        const std::vector<std::string> settings =
            strBits == "filters" ? std::vector<std::string>(kExact.begin(), kExact.begin() + 6) : kExact;
        ToolRun run = RunTool(With(settings, {"--bits", strBits == "16" ? "16" : "32", dir / "nan.wav", strBase}), dir);
        EXPECT_EQ(run.nStatus, 0) << run.strErr;
        EXPECT_EQ(run.strErr, "cadenzo-split: warning: 7 samples of " + (dir / "nan.wav") +
                                  " were not numbers or lay beyond 1000 times full scale and were replaced "
                                  "(NaN by silence, the others by full scale); the first at 00:01.00 in the "
                                  "left channel.\n");
        if (strBits == "32") {
            std::vector<std::vector<float>> songs = ReadSongs<float>(strBase);
            EXPECT_EQ(songs.size(), 3u);
            EXPECT_TRUE(IsPrefix(Joined(songs), mended));
        } else if (strBits == "16") {
            EXPECT_EQ(ReadSongs<int16_t>(strBase).size(), 3u);
        } else {
            const std::vector<std::vector<float>> songs = ReadSongs<float>(strBase);
            EXPECT_EQ(songs.size(), 3u);
            const std::vector<float> joined = Joined(songs);
            EXPECT_GE(joined.size(), 2u * 44100 * 9);
            EXPECT_LT(std::count(joined.begin(), joined.end(), -1.0f), 10000);  // poisoned: every later one
        }
    }
}

TEST_F(SplitToolTest, DamagedOrCutOffCompressedInputFailsNamingThePlaceAndKeepsTheFilesSoFar)
{
    const std::vector<int16_t> input = NoisyAlbum(44100, kAlbum);
    WriteSound(dir / "album.flac", 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, input);
    const int64_t nSize = FileSize(dir / "album.flac");
    ASSERT_GT(nSize, 600000);
    fs::copy_file(dir / "album.flac", dir / "cut.flac");
    fs::resize_file(dir / "cut.flac", static_cast<uintmax_t>(nSize / 2));
    fs::copy_file(dir / "album.flac", dir / "zeroed.flac");
    {
        std::fstream f(dir / "zeroed.flac", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(nSize / 2 - 100000);
        const std::string zeros(200000, '\0');
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    for (const char* szInput : {"cut.flac", "zeroed.flac"}) {
        SCOPED_TRACE(szInput);
        const std::string strBase = dir / (std::string(szInput) + ".wav");
        ToolRun run = RunTool(With(kExact, {dir / szInput, strBase}), dir);
        EXPECT_EQ(run.nStatus, 1) << run.strOut;
        const std::string strStart = "cadenzo-split: Cannot read input file " + (dir / szInput) + " at 00:0";
        const std::string strEnd = " The song files before that point are complete.\n";
        EXPECT_EQ(run.strErr.rfind(strStart, 0), 0u) << run.strErr;
        ASSERT_GE(run.strErr.size(), strEnd.size());
        EXPECT_EQ(run.strErr.substr(run.strErr.size() - strEnd.size()), strEnd) << run.strErr;
        EXPECT_EQ(run.strOut.find("end gap"), std::string::npos) << run.strOut;
        const std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(strBase, true);
        ASSERT_FALSE(songs.empty());
        EXPECT_TRUE(IsPrefix(Joined(songs), input));
    }
}

TEST_F(SplitToolTest, FailuresAndWarningsAreToldInTheToolsOwnWordsWithTheSystemsReason)
{
    const std::vector<int16_t> album = WriteAlbum<int16_t>(dir / "album.wav", 44100, kAlbum);
    WriteSound(dir / "slow.wav", 500, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::vector<int16_t>(1000, 9000));
    WriteSound(dir / "empty.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::vector<int16_t>());
    WriteSound(dir / "silent.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::vector<int16_t>(88200, 3));
    WriteAlbum<int16_t>(dir / "high.wav", 96000, {{1.5, true}, {2.5, false}});
    fs::create_directory(dir.Path() / "Folder2.wav");
    fs::copy_file(dir / "album.wav", dir / "rate0.wav");
    {
        std::fstream f(dir / "rate0.wav", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(24);
        f.write("\0\0\0\0", 4);  // the sample rate of the "fmt " chunk
    }
    // Folders of 100-byte names: song paths far longer than 259 characters.
    const std::string strDeep = dir / (std::string(100, 'd') + "/" + std::string(100, 'e') + "/" +
                                       std::string(100, 'f'));
    fs::create_directories(strDeep);
    CTmpfs full(dir / "full", "size=64k");

    struct Case {
        std::vector<std::string> args;
        ToolIo io;
        int nStatus;
        std::string strErr;
    };
    const std::string strWarn96k = "cadenzo-split: warning: at 96000 Hz DC Block also cuts audible bass: 3 dB down "
                                   "at about 131 Hz and more below; give --dc-block off unless the recording has a "
                                   "constant offset.\n";
    std::vector<Case> cases = {
        {{dir / "slow.wav", dir / "Slow.wav"}, {}, 1,
         "cadenzo-split: cannot split " + (dir / "slow.wav") +
             ": its sample rate of 500 Hz is outside the 1000 to 768000 Hz that can be split.\n"},
        {{dir / "rate0.wav", dir / "Rate0.wav"}, {}, 1,
         "cadenzo-split: Cannot read input file " + (dir / "rate0.wav") +
             ": its header is damaged or incomplete (no sample rate or no channels).\n"},
        {{dir / "empty.wav", dir / "Empty.wav"}, {}, 1,
         "cadenzo-split: " + (dir / "empty.wav") + " holds no audio: no song file was written.\n"},
        {{dir / "silent.wav", dir / "Silent.wav"}, {}, 1,
         "cadenzo-split: " + (dir / "silent.wav") +
             " holds only silence (nothing above the gap level of -35.0 dB): no song file was written.\n"},
        {With(kExact, {"--overwrite", dir / "album.wav", dir / "Folder.wav"}), {}, 1,
         "cadenzo-split: cannot create the song file " + (dir / "Folder2.wav") + ": Is a directory.\n"},
        {With(kExact, {dir / "album.wav", dir / "Limit.wav"}), ToolIo{"", false, false, 100000}, 1,
         "cadenzo-split: cannot write to the song file " + (dir / "Limit1.wav") +
             ": File too large; it holds what reached the disk before.\n"},
        {With(kExact, {dir / "album.wav", strDeep + "/Deep.wav"}), {}, 0, ""},
        {{dir / "high.wav", dir / "High.wav"}, {}, 0, strWarn96k},
        {{"--dc-block", "off", dir / "high.wav", dir / "HighOff.wav"}, {}, 0, ""},
        {{"--list-presets", "--bogus"}, {}, 2, "cadenzo-split: unknown option '--bogus' (see --help).\n"},
    };
    if (full.Mounted())
        cases.push_back({With(kExact, {dir / "album.wav", dir / "full/Full.wav"}), {}, 1,
                         "cadenzo-split: cannot write to the song file " + (dir / "full/Full1.wav") +
                             ": No space left on device; it holds what reached the disk before.\n"});
    for (const Case& c : cases) {
        std::string strArgs;
        for (const std::string& a : c.args) strArgs += a + " ";
        SCOPED_TRACE(strArgs);
        ToolRun run = RunTool(c.args, dir, c.io);
        EXPECT_EQ(run.nStatus, c.nStatus) << run.strOut;
        EXPECT_EQ(run.strErr.substr(0, run.strErr.find('\n') + 1), c.strErr);
    }
    // The long paths were written and listed whole.
    const std::string strDeepBase = strDeep + "/Deep.wav";
    EXPECT_TRUE(IsPrefix(Joined(ReadSongs<int16_t>(strDeepBase, true)), album));
    EXPECT_EQ(ReadSongs<int16_t>(strDeepBase).size(), 3u);
    // A file cut by the size limit is a valid WAV of what reached the disk.
    EXPECT_TRUE(IsPrefix(ReadSound(dir / "Limit1.wav").samples16, album));
    EXPECT_GT(ReadSound(dir / "Limit1.wav").samples16.size(), 0u);
}

TEST_F(SplitToolTest, NamedPipesAndStandardInputAreReadOnce)
{
    ::signal(SIGPIPE, SIG_IGN);  // a tool that fails early must not take the test with it
    const std::vector<int16_t> album = WriteAlbum<int16_t>(dir / "album.wav", 44100, kAlbum);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    struct Case {
        std::string strInput;  // as given on the command line
        const char* szFile;
        bool bFifo;
    };
    const std::vector<Case> cases = {
        {dir / "fifo", "album.wav", true}, {"-", "album.wav", false}, {"/dev/stdin", "album.wav", false}};
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strInput + " " + c.szFile);
        const std::string strBase = dir / ("Piped" + std::to_string(++nCase) + ".wav");
        ToolIo io;
        io.bStdinPipe = !c.bFifo;
        Started started = StartTool(With(kExact, {c.strInput, strBase}), dir, io);
        // The writer comes, writes everything and goes, as "cat x.wav > fifo &" does.
        const std::string strBytes = ReadAll(dir / c.szFile);
        std::thread writer([&] {
            const int fd = c.bFifo ? ::open(c.strInput.c_str(), O_WRONLY) : started.fdIn;
            EXPECT_EQ(::write(fd, strBytes.data(), strBytes.size()), static_cast<ssize_t>(strBytes.size()));
            ::close(fd);
        });
        ToolRun run = WaitTool(started);
        writer.join();
        EXPECT_EQ(run.nStatus, 0) << run.strErr;
        EXPECT_EQ(ReadSongs<int16_t>(strBase, true).size(), 3u);
        EXPECT_TRUE(IsPrefix(Joined(ReadSongs<int16_t>(strBase)), album));
    }
}

TEST_F(SplitToolTest, AListingIntoAClosedPipeNeverStopsTheSplit)
{
    const std::vector<int16_t> album = WriteAlbum<int16_t>(dir / "album.wav", 44100, kAlbum);
    ToolIo io;
    io.bStdoutClosedPipe = true;
    ToolRun run = RunTool(With(kExact, {dir / "album.wav", dir / "Song.wav"}), dir, io);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_EQ(run.strErr, "");
    EXPECT_EQ(ReadSongs<int16_t>(dir / "Song.wav", true).size(), 3u);
    EXPECT_TRUE(IsPrefix(Joined(ReadSongs<int16_t>(dir / "Song.wav")), album));
}

TEST_F(SplitToolTest, SignalsWhileAWriteBlocksEndTheProgramWithItsStatus)
{
    // Song1.wav is a named pipe nobody reads: the first write that fills it never returns.
    WriteAlbum<int16_t>(dir / "album.wav", 44100, {{8.0, true}});
    struct Case {
        std::vector<int> signals;
        int nStatus;
        std::string strErr;
    };
    const std::vector<Case> cases = {
        {{SIGTERM}, 143,
         "cadenzo-split: the stop did not finish within 5 seconds (a write does not return); stopped at once: "
         "the song files listed as complete are intact, the one being written is cut short.\n"},
        {{SIGINT, SIGINT}, 130,
         "cadenzo-split: stopped at once by a second signal; the song files listed as complete are intact, "
         "the one being written is cut short.\n"},
        {{SIGINT, SIGTERM}, 143,
         "cadenzo-split: stopped at once by a second signal; the song files listed as complete are intact, "
         "the one being written is cut short.\n"},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nStatus);
        const std::string strBase = dir / ("Blocked" + std::to_string(++nCase) + ".wav");
        const std::string strFifo = CRecordSession::NumberedName(strBase, 1);
        ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
        const int fdPeek = ::open(strFifo.c_str(), O_RDONLY | O_NONBLOCK);
        Started started = StartTool({"--overwrite", dir / "album.wav", strBase}, dir);
        // Wait until the pipe is full: the program is then well inside its split.
        int nQueued = 0;
        for (int i = 0; i < 6000 && nQueued < 60000; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::ioctl(fdPeek, FIONREAD, &nQueued);
        }
        ASSERT_GE(nQueued, 60000);
        for (int nSignal : c.signals) {
            ::kill(started.pid, nSignal);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        ToolRun run = WaitTool(started);
        ::close(fdPeek);
        EXPECT_EQ(run.nStatus, c.nStatus);
        EXPECT_EQ(run.strErr, c.strErr);
    }
}

TEST_F(SplitToolTest, APipeInputThatPausesIsWaitedForAndAStopWhileItIsIdleSaysAReadHoldsIt)
{
    // A second of audio, then the pipe stays open and silent: no input stall is told (a pipe
    // may pause as long as it likes), and a stop held up by the read says so.
    WriteAlbum<int16_t>(dir / "album.wav", 44100, {{8.0, true}});
    const std::string strBytes = ReadAll(dir / "album.wav");
    ToolIo io;
    io.bStdinPipe = true;
    Started started = StartTool({"-", dir / "Idle.wav"}, dir, io);
    ASSERT_EQ(::write(started.fdIn, strBytes.data(), 44 + 176400), 44 + 176400);
    std::this_thread::sleep_for(std::chrono::seconds(6));
    ::kill(started.pid, SIGTERM);
    ToolRun run = WaitTool(started);
    ::close(started.fdIn);
    EXPECT_EQ(run.nStatus, 143);
    EXPECT_EQ(run.strErr,
              "cadenzo-split: the stop did not finish within 5 seconds (a read of the input or a write does not "
              "return); stopped at once: the song files listed as complete are intact, the one being written is "
              "cut short.\n");
}

TEST_F(SplitToolTest, LengthsAndSongCountsCutInTheSilenceNeitherInTheMusicNorInAFade)
{
    // --lengths 0:17 with the silence at 20-22 s: within the 5 s looked at either side of
    // the expected end, so the cut goes where the gap rule puts it, 1 s into the silence.
    WriteAlbum<int16_t>(dir / "late.wav", 44100, {{20.0, true}, {2.0, false}, {20.0, true}});
    ToolRun run = RunTool(With(kExact, {"--lengths", "0:17", dir / "late.wav", dir / "Len.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    std::vector<std::vector<int16_t>> songs = ReadSongs<int16_t>(dir / "Len.wav");
    ASSERT_EQ(songs.size(), 2u);
    EXPECT_NEAR(static_cast<double>(songs[0].size() / 2), 21.0 * 44100, 2);

    // --songs 3 --min-song 5: the two silences suffice; the fade at -30 dB before the first
    // (nearly quiet, and longer with the silence after it) gets no cut.
    std::vector<int16_t> album = MakeAlbum<int16_t>(44100, {{10.0, true}, {2.0, false}, {10.0, true}, {2.0, false},
                                                            {10.0, true}});
    for (size_t i = 2 * 44100 * 17 / 2; i < 2 * 44100 * 10; ++i) album[i] = static_cast<int16_t>(album[i] / 8);
    WriteSound(dir / "fade.wav", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, album);
    run = RunTool(With(kExact, {"--songs", "3", "--min-song", "5", dir / "fade.wav", dir / "Count.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    songs = ReadSongs<int16_t>(dir / "Count.wav");
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_NEAR(static_cast<double>(songs[0].size() / 2), 11.0 * 44100, 2);
    EXPECT_NEAR(static_cast<double>(songs[1].size() / 2), 12.0 * 44100, 2);
}
