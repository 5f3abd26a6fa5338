// The Record command's checks: every way it can fail, what the user is told, what stays
// on disk, and that the window is idle afterwards.

#include "SessionTestSupport.h"

using namespace sessiontest;

// One case asks for more memory than any machine has and expects a refusal, not a
// sanitizer's abort. (Read by the sanitizers at start-up; options given in the
// environment still override these.)
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// The sound-card cases run on a machine with one silent ALSA input and no sound-server
// plugins, set before anything starts PortAudio.
class SilentAlsaEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ::setenv("ALSA_CONFIG_PATH", CADENZO_ALSA_NULL_CONF, 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
    }
};
::testing::Environment* const g_pSilentAlsa = ::testing::AddGlobalTestEnvironment(new SilentAlsaEnvironment);

class RecordCommandTest : public ::testing::Test {
protected:
    // Nothing about the session may have changed the window into the recording state.
    void ExpectIdle()
    {
        EXPECT_FALSE(rig.session.IsRecording());
        EXPECT_TRUE(rig.window.m_controls.empty());
        EXPECT_FALSE(rig.waveFile.IsOpen());
    }

    void ExpectOneBox(const std::string& strText, const std::string& strCaption = "ERROR",
                      PromptButtons buttons = PromptButtons::Ok, PromptIcon icon = PromptIcon::Stop)
    {
        ASSERT_EQ(rig.prompt.m_boxes.size(), 1u);
        EXPECT_EQ(rig.prompt.m_boxes[0].strText, strText);
        EXPECT_EQ(rig.prompt.m_boxes[0].strCaption, strCaption);
        EXPECT_EQ(rig.prompt.m_boxes[0].buttons, buttons);
        EXPECT_EQ(rig.prompt.m_boxes[0].icon, icon);
    }

    SessionRig rig;
    CTempDir dir;
};

// An empty WAV file as the first numbered file must remain after a failed start: the
// header alone, with no samples.
void ExpectHeaderOnly(const std::string& strPath, int64_t nBytes)
{
    EXPECT_EQ(FileSize(strPath), nBytes) << strPath;
    ReadBack rb = ReadSound(strPath);
    EXPECT_TRUE(rb.bOk) << strPath;
    EXPECT_EQ(rb.nFrames, 0);
}

}  // namespace

TEST_F(RecordCommandTest, NoBaseFileAsksForOneAndRunsNew)
{
    // Nothing chosen, then a name left in the writer without a selected entry: both count
    // as no base file.
    for (int i = 0; i < 2; ++i) {
        if (i == 1) rig.waveFile.SetFileName((dir / "Song.wav").c_str());
        rig.prompt.m_boxes.clear();
        rig.session.OnRecord();
        ExpectOneBox("You need to enter a Base File Name.", "Missing Destination", PromptButtons::Ok,
                     PromptIcon::Exclamation);
        EXPECT_EQ(rig.window.m_nNewCommands, i + 1);
        ExpectIdle();
    }
    EXPECT_FALSE(Exists(dir / "Song1.wav"));
}

TEST_F(RecordCommandTest, ExistingNumberedFileAnsweredNoChangesNothing)
{
    // A number in the middle, and the last one checked.
    rig.ChooseBase(dir / "Song.wav");
    for (int n : {3, 9}) {
        SCOPED_TRACE(n);
        const std::string strSong = dir / ("Song" + std::to_string(n) + ".wav");
        std::ofstream(strSong) << "keep me";
        rig.prompt.m_boxes.clear();
        rig.prompt.m_answers = {PromptAnswer::No};
        rig.session.OnRecord();

        ExpectOneBox("The file, " + strSong + ", exists.\nIf you will be recording " + std::to_string(n) +
                         " song(s),\nthis file and possibly any sequentially \nnumbered files will be "
                         "overwritten.\n\nDo you want to overwrite the file(s)?",
                     "File Exists", PromptButtons::YesNo, PromptIcon::Question);
        EXPECT_FALSE(Exists(dir / "Song1.wav"));
        EXPECT_EQ(ReadAll(strSong), "keep me");
        EXPECT_EQ(rig.window.m_nFocusMoves, 0);
        ExpectIdle();
        fs::remove(strSong);
    }
}

TEST_F(RecordCommandTest, NumbersAboveNineAreNeverAskedAbout)
{
    std::ofstream(dir / "Song12.wav") << "x";
    std::ofstream(dir / "Song10.wav") << "x";
    rig.ChooseBase(dir / "Song.wav");
    // The device cannot be found, so the command stops after the question would have come.
    rig.waveIn.SetDevice(9999);
    rig.session.OnRecord();
    for (const ShownBox& box : rig.prompt.m_boxes) EXPECT_NE(box.strCaption, "File Exists");
}

TEST_F(RecordCommandTest, FileThatCannotBeCreatedIsReportedWithItsPath)
{
    std::string strBase = dir / "missing-folder/Song.wav";
    rig.ChooseBase(strBase);
    rig.session.OnRecord();
    ExpectOneBox("Cannot create output file " + (dir / "missing-folder/Song1.wav") +
                   ".\nProbably in use by another program!\n");
    EXPECT_EQ(rig.window.m_nFocusMoves, 1);
    ExpectIdle();
}

TEST_F(RecordCommandTest, HeaderThatCannotBeWrittenIsReported)
{
    // The disk takes no more than 20 bytes of the new Song1.wav, which replaces an earlier
    // one (a link to a device, removed, never written through).
    ASSERT_EQ(::symlink("/dev/full", (dir / "Song1.wav").c_str()), 0);
    rig.ChooseBase(dir / "Song.wav");
    rig.prompt.m_answers = {PromptAnswer::Yes};
    {
        CFileSizeLimit limit(20);
        rig.session.OnRecord();
    }
    ASSERT_EQ(rig.prompt.m_boxes.size(), 2u);
    EXPECT_EQ(rig.prompt.m_boxes[0].strCaption, "File Exists");
    EXPECT_EQ(rig.prompt.m_boxes[1].strText, "Cannot write to " + (dir / "Song1.wav") + ".\n");
    EXPECT_EQ(rig.prompt.m_boxes[1].strCaption, "ERROR");
    EXPECT_EQ(rig.prompt.m_boxes[1].icon, PromptIcon::Stop);
    EXPECT_EQ(rig.window.m_nFocusMoves, 0);
    EXPECT_FALSE(rig.session.IsRecording());
    EXPECT_TRUE(rig.window.m_controls.empty());
}

// The device refuses the format: one of three texts by rate and depth, or the device's.
struct FormatCase {
    int32_t nRate;
    int16_t nBits;
    const char* szText;  // null: the device's own text
    int64_t nHeaderBytes;
};

void PrintTo(const FormatCase& c, std::ostream* pOut) { *pOut << c.nRate << " Hz " << c.nBits << " bits"; }

class UnsupportedFormatTest : public RecordCommandTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(UnsupportedFormatTest, MessageDependsOnRateAndDepthAndLeavesAnEmptyFirstFile)
{
    const FormatCase& c = GetParam();
    rig.splitter.SetSamplesPerSec(c.nRate);
    rig.splitter.SetBitsPerSample(c.nBits);
    rig.waveIn.SetDevice(9999);  // no such input device
    rig.ChooseBase(dir / "Song.wav");
    rig.session.OnRecord();

    ExpectOneBox(c.szText ? c.szText : "Sorry, sound card does not support this RECORD WAV format.\n");
    EXPECT_EQ(rig.window.m_nFocusMoves, 1);
    ExpectHeaderOnly(dir / "Song1.wav", c.nHeaderBytes);
    ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(
    RecordCommand, UnsupportedFormatTest,
    ::testing::Values(
        FormatCase{48000, 32,
                   "Your sound card does not support 48 kHz and/or 24 bit recording.\nPlease change "
                   "one or both of these features in the \nCustomize settings window.\n",
                   46},
        FormatCase{48000, 16,
                   "Your sound card does not support 48 kHz recording.\nPlease change this feature "
                   "in the Customize settings window.\n",
                   44},
        FormatCase{44100, 32,
                   "Your sound card does not support 24 bit recording.\nPlease change this feature "
                   "in the Customize settings window.\n",
                   46},
        FormatCase{22050, 16, nullptr, 44}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
        return std::to_string(info.param.nRate) + "Hz" + std::to_string(info.param.nBits) + "bit";
    });

TEST_F(RecordCommandTest, FormatWithoutRateOrDepthIsRefusedBeforeAnythingIsWritten)
{
    rig.ChooseBase(dir / "Song.wav");
    for (auto [nRate, nBits] : {std::pair<int32_t, int16_t>{0, 16}, {44100, 0}}) {
        rig.splitter.SetSamplesPerSec(nRate);
        rig.splitter.SetBitsPerSample(nBits);
        rig.prompt.m_boxes.clear();
        rig.session.OnRecord();
        ExpectOneBox("The recording format is not valid: " + std::to_string(nRate) + " Hz, " +
                     std::to_string(nBits) + " bits per sample, 2 channels.\nPlease choose the sample "
                     "rate and the bit depth again in the Customize settings window.\n");
        EXPECT_FALSE(Exists(dir / "Song1.wav"));
        ExpectIdle();
    }
}

TEST_F(RecordCommandTest, DeviceThatCannotBeOpenedIsClosedAndLeavesAnEmptyFirstFile)
{
    // Someone else holds the capture device open.
    WriteAlbum<int16_t>(dir / "in.wav", 44100, {{1.0, true}});
    rig.waveIn.UseFileSource((dir / "in.wav").c_str(), false);
    WaveFormat format{1, 2, 44100, 176400, 4, 16, 0};
    CAutoResetEvent other;
    rig.waveIn.Open(format, WaveInNotify, &other);
    ASSERT_FALSE(rig.waveIn.HasError());

    rig.ChooseBase(dir / "Song.wav");
    rig.session.OnRecord();
    ExpectOneBox("Error with sound card driver (cannot open RECORD device).\nPlease close program, reboot "
                   "windows, and try again.\nIf the problem persists please contact the manufacturer!\n");
    EXPECT_EQ(rig.window.m_nFocusMoves, 1);
    ExpectHeaderOnly(dir / "Song1.wav", 44);
    ExpectIdle();
    // The device was closed: it opens again.
    rig.waveIn.Open(format, WaveInNotify, &other);
    EXPECT_FALSE(rig.waveIn.HasError());
    rig.waveIn.Close();
}

TEST_F(RecordCommandTest, BuffersThatCannotBeAllocatedCloseDeviceAndWriter)
{
    WriteAlbum<int16_t>(dir / "in.wav", 44100, {{1.0, true}});
    rig.waveIn.UseFileSource((dir / "in.wav").c_str(), false);
    rig.waveIn.SetRingSeconds(1e12);  // far more memory than any machine has
    rig.ChooseBase(dir / "Song.wav");
    rig.session.OnRecord();
    ExpectOneBox("Not enough memory to create input data buffer.\nClose some programs and try again.\n");
    EXPECT_EQ(rig.window.m_nFocusMoves, 0);
    ExpectHeaderOnly(dir / "Song1.wav", 44);
    ExpectIdle();

    // With a sensible ring the same session records.
    rig.waveIn.SetRingSeconds(5);
    rig.prompt.m_boxes.clear();
    rig.prompt.m_answers = {PromptAnswer::Yes};
    ASSERT_TRUE(rig.Start());
    rig.window.Pump(rig.session, rig.prompt);
    EXPECT_EQ(ReadSound(dir / "Song1.wav").nFrames, 44100);
}

TEST_F(RecordCommandTest, AnsweringYesRecordsOverTheNumberedFilesAskingOnce)
{
    std::ofstream(dir / "Song3.wav") << "old three";
    std::ofstream(dir / "Song5.wav") << "old five";
    SetGapRules(rig.splitter, -1764, -177, -353);  // 1.0 s, 1.0034 s, 2.0011 s
    WriteAlbum<int16_t>(dir / "in.wav", 44100, {{1.5, true}, {1.5, false}, {1.5, true}, {1.5, false}, {2.5, true}});
    rig.prompt.m_answers = {PromptAnswer::Yes};
    rig.ChooseBase(dir / "Song.wav");
    rig.RecordFile(dir / "in.wav");

    ASSERT_EQ(rig.prompt.m_boxes.size(), 1u);
    EXPECT_EQ(rig.prompt.m_boxes[0].strCaption, "File Exists");
    EXPECT_NE(rig.prompt.m_boxes[0].strText.find("Song3.wav, exists.\nIf you will be recording 3 song(s)"),
              std::string::npos);
    EXPECT_TRUE(ReadSound(dir / "Song3.wav").bOk);   // recorded over
    EXPECT_EQ(ReadAll(dir / "Song5.wav"), "old five");  // never reached
    EXPECT_EQ(rig.window.m_controls, (std::vector<bool>{true, false}));
}
