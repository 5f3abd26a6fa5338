// cadenzo-split end to end: a generated album split into song files, and every kind of
// bad input refused with a message and a status, leaving what exists untouched.

#include "SessionTestSupport.h"
#include "tools/SplitOptions.h"

#include <libcue.h>

#include <fcntl.h>
#include <sys/wait.h>

#include <limits>

using namespace sessiontest;

namespace {

struct ToolRun {
    int nStatus = -1;
    std::string strOut, strErr;
};

ToolRun RunTool(const std::vector<std::string>& args, const CTempDir& dir)
{
    ToolRun run;
    std::string strOut = dir / ".out", strErr = dir / ".err";
    pid_t pid = ::fork();
    if (pid == 0) {
        int fdOut = ::open(strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fdErr = ::open(strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fdOut, 1);
        ::dup2(fdErr, 2);
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
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    run.strOut = ReadAll(strOut);
    run.strErr = ReadAll(strErr);
    fs::remove(strOut);
    fs::remove(strErr);
    return run;
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

    run = RunTool(With(kExact, {"--overwrite", dir / "album.wav", dir / "Song.wav"}), dir);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_TRUE(ReadSound(dir / "Song3.wav").bOk);
    EXPECT_EQ(ReadAll(dir / "Song7.wav"), "seven");  // never reached

    // The input itself among the numbered files is never overwritten.
    fs::copy_file(dir / "album.wav", dir / "Take2.wav");
    run = RunTool(With(kExact, {"--overwrite", dir / "Take2.wav", dir / "Take.wav"}), dir);
    EXPECT_EQ(run.nStatus, 1);
    EXPECT_EQ(run.strErr, "cadenzo-split: the input " + (dir / "Take2.wav") +
                              " would be overwritten by the song files.\n");
    EXPECT_EQ(ReadSound(dir / "Take2.wav").samples16, input);
}

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

TEST(SplitOptions, UserUnitsGiveTheSlidersStoredForms)
{
    // The engine's defaults, typed in the user's units, land on the default positions.
    EXPECT_EQ(GapSizePosition(1.0), -1764);
    EXPECT_EQ(GapLevelPosition(-35.0), -582);
    EXPECT_EQ(SongSecondsPosition(30.01), -5293);
    EXPECT_EQ(SongSecondsPosition(7.01), -1236);
    // The ends of the sliders.
    EXPECT_EQ(GapSizePosition(2.2), -3880);
    EXPECT_EQ(SongSecondsPosition(120.0), -21167);  // 120 x 176.39999 = 21167.9993
    // Far out of range stays a 32-bit position the splitter can refuse.
    EXPECT_EQ(GapSizePosition(1e30), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(GapLevelPosition(-1e30), 0);

    CSplitOptions options;
    const char* argv[] = {"cadenzo-split", "--gap-size=0.5", "--end-gap", "30", "--smart-gap", "off", "in.wav", "out.wav"};
    ASSERT_EQ(options.Parse(8, argv), CSplitOptions::Outcome::Run);
    CSongSplitter splitter;
    std::string strError;
    ASSERT_TRUE(options.ApplyTo(splitter, &strError)) << strError;
    EXPECT_EQ(splitter.GetGapSize(), -882);
    EXPECT_EQ(*options.m_nEndGap, -5291);  // 29.994 s: 30 s truncated to the slider's step
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
    WriteAlbum<int16_t>(dir / "sides.wav", 44100, {{2.0, true}, {2.5, false}, {2.0, true}});
    run = RunTool(With(kExact, {dir / "sides.wav", dir / "Side.wav"}), dir);
    ASSERT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strOut.find("The end gap ended the split in 2.50 s of silence at 00:02.00, but sound follows: "
                              "--end-gap 3 would split on past it.\n"),
              std::string::npos) << run.strOut;
}
