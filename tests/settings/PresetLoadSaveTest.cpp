// Loading and saving the preset file in a folder: migration of the older file,
// recovery of an interrupted save, damaged files, failed saves, and the preset box.

#include "settings/PresetFile.h"

#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_bFailFsync{false};

}  // namespace

// fsync as the code under test sees it in this program: the real one, or a disk that
// fails to flush.
extern "C" int fsync(int fd)
{
    if (g_bFailFsync) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

const char kMigrationText[] =
    "Do you want to add your old presets to the new ones?\n\n"
    "If you have not changed your presets, we recommend choosing No.\n\n"
    "If you have changed or added presets, we recommend choosing Yes,\n"
    "and your old presets will be saved with the word '[Beta]' after them.\n\n";

CSettingsValues Values(int32_t gapSize)
{
    CSettingsValues v;
    v.m_nGapSize = gapSize;
    return v;
}

std::vector<uint8_t> Archive(std::initializer_list<const char*> names)
{
    CPresetList list;
    int32_t gap = -1000;
    for (const char* name : names)
        list.Add(name, Values(gap--));
    return CPresetFile::WriteArchive(list);
}

std::vector<std::string> Names(const CPresetList& list)
{
    std::vector<std::string> out;
    for (const auto& p : list)
        out.push_back(p->GetName());
    return out;
}

class PresetFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_tmp.isValid()); }

    std::string Path(const char* name) const { return m_tmp.path().toStdString() + "/" + name; }
    std::string Dir() const { return m_tmp.path().toStdString(); }

    // Loads the folder's presets into a fresh list with a fresh CPresetFile.
    void Load(const char* presetName = "Album/Tape")
    {
        m_presets.RemoveAll();
        m_file = CPresetFile();
        m_file.LoadPresets(m_presets, presetName, m_box, m_prompt, Dir());
    }

    // The one message shown so far, exactly.
    void ExpectOneBox(const std::string& text, const char* caption, PromptButtons buttons, PromptIcon icon)
    {
        ASSERT_EQ(m_prompt.shown.size(), 1u);
        EXPECT_EQ(m_prompt.shown[0].text, text);
        EXPECT_EQ(m_prompt.shown[0].caption, caption);
        EXPECT_EQ(m_prompt.shown[0].buttons, buttons);
        EXPECT_EQ(m_prompt.shown[0].icon, icon);
    }

    QTemporaryDir m_tmp;
    CPresetList m_presets;
    CPresetFile m_file;
    FakePresetBox m_box;
    ScriptedPrompt m_prompt;
};

}  // namespace

TEST_F(PresetFolder, NoFiles_EmptyListNoMessageAndTheFirstSaveCreatesTheFile)
{
    Load();
    EXPECT_TRUE(m_presets.IsEmpty());
    EXPECT_TRUE(m_prompt.shown.empty());
    EXPECT_EQ(m_box.selected, -1);
    EXPECT_EQ(m_box.focusCount, 1);
    EXPECT_EQ(m_file.GetPresetPath(), Path("Tunex1.pre"));

    m_presets.Add("Album/Tape", Values(-1764));
    ASSERT_TRUE(m_file.SavePresets(m_presets, m_prompt));
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), CPresetFile::WriteArchive(m_presets));
    EXPECT_FALSE(fs::exists(Path("Temp.pre")));
}

TEST_F(PresetFolder, SaveThenLoad_GivesTheSameListAndSelectsTheNameIgnoringCase)
{
    WriteAll(Path("Tunex1.pre"), Archive({"Vinyl", "album/tape", "Broadcast"}));
    Load("Album/Tape");
    ASSERT_EQ(Names(m_presets), (std::vector<std::string>{"Vinyl", "album/tape", "Broadcast"}));
    EXPECT_EQ(m_box.entries, (std::vector<std::string>{"album/tape", "Broadcast", "Vinyl"}));
    EXPECT_EQ(m_box.SelectedText(), "album/tape");

    m_presets.RemoveAt(0);
    m_presets.Add("Cassette", Values(-4000));
    ASSERT_TRUE(m_file.SavePresets(m_presets, m_prompt));

    Load("Album");  // a prefix selects nothing
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"album/tape", "Broadcast", "Cassette"}));
    EXPECT_EQ(m_presets.GetAt(2)->m_nGapSize, -4000);
    EXPECT_EQ(m_box.selected, -1);
    EXPECT_TRUE(m_prompt.shown.empty());
}

TEST_F(PresetFolder, MigrationAnsweredYes_AppendsOldPresetsAndAsksOnlyOnce)
{
    WriteAll(Path("Tunex1.pre"), Archive({"Current"}));
    std::vector<uint8_t> old = Bytes({0x01, 0x00});
    Append(old, ClassHeader(1));
    Append(old, Body1("Rock", -2500, -700, -8000, -3000, 1, 3));
    WriteAll(Path("Tunex.pre"), old);

    m_prompt.answers = {PromptAnswer::Yes};
    Load();
    ExpectOneBox(kMigrationText, "Save Old Presets?", PromptButtons::YesNo, PromptIcon::Question);

    ASSERT_EQ(Names(m_presets), (std::vector<std::string>{"Current", "Rock [Beta]"}));
    EXPECT_EQ(m_presets.GetAt(1)->GetValues(), MakeValues(-2500, -700, -8000, -3000, 1, 0, 16, 44100, 2, 3));
    EXPECT_FALSE(fs::exists(Path("Tunex.pre")));
    EXPECT_EQ(ReadAll(Path("TunexOld.pre")), old);

    ASSERT_TRUE(m_file.SavePresets(m_presets, m_prompt));
    m_prompt.shown.clear();
    Load();
    EXPECT_TRUE(m_prompt.shown.empty());
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"Current", "Rock [Beta]"}));
}

TEST_F(PresetFolder, MigrationOfANewerRecord_KeepsItsNameAndValues)
{
    WriteAll(Path("Tunex.pre"), Archive({"Jazz"}));
    m_prompt.answers = {PromptAnswer::Yes};
    Load();
    ASSERT_EQ(Names(m_presets), (std::vector<std::string>{"Jazz"}));
    EXPECT_EQ(m_presets.GetAt(0)->m_nGapSize, -1000);
}

TEST_F(PresetFolder, MigrationAnsweredNo_AddsNothingMovesTheFileAndAsksOnlyOnce)
{
    WriteAll(Path("Tunex1.pre"), Archive({"Current"}));
    WriteAll(Path("Tunex.pre"), Archive({"Old"}));
    m_prompt.answers = {PromptAnswer::No};
    Load();
    ExpectOneBox(kMigrationText, "Save Old Presets?", PromptButtons::YesNo, PromptIcon::Question);
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"Current"}));
    EXPECT_FALSE(fs::exists(Path("Tunex.pre")));
    EXPECT_TRUE(fs::exists(Path("TunexOld.pre")));

    Load();
    EXPECT_EQ(m_prompt.shown.size(), 1u);
}

TEST_F(PresetFolder, TempFileAlone_IsRecoveredAsThePresetFile)
{
    const std::vector<uint8_t> bytes = Archive({"Saved", "Before"});
    WriteAll(Path("Temp.pre"), bytes);
    Load();
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"Saved", "Before"}));
    EXPECT_FALSE(fs::exists(Path("Temp.pre")));
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), bytes);
    EXPECT_TRUE(m_file.IsSaveAllowed());
}

TEST_F(PresetFolder, BothFilesPresent_LoadsThePresetFileAndTheNextSaveReplacesTemp)
{
    WriteAll(Path("Tunex1.pre"), Archive({"Complete"}));
    WriteAll(Path("Temp.pre"), Archive({"Leftover"}));
    Load();
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"Complete"}));
    ASSERT_TRUE(m_file.SavePresets(m_presets, m_prompt));
    EXPECT_FALSE(fs::exists(Path("Temp.pre")));
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), Archive({"Complete"}));
}

TEST_F(PresetFolder, DamagedPresetFile_IsNamedOnceKeepsCompleteRecordsAndIsNotOverwritten)
{
    std::vector<uint8_t> damaged = Archive({"One", "Two", "Three"});
    damaged.resize(damaged.size() - 10);
    WriteAll(Path("Tunex1.pre"), damaged);

    Load("Two");
    ExpectOneBox("The presets in \"" + Path("Tunex1.pre") +
                     "\" could not be read: the file ends early.\n\n"
                     "The 2 presets before the damaged part have been read. Cadenzo will not "
                     "save its presets into this file when it exits, so that a repaired or "
                     "older copy can still be put in its place.\n",
                 "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"One", "Two"}));
    EXPECT_EQ(m_box.SelectedText(), "Two");
    EXPECT_EQ(m_box.focusCount, 1);

    // At exit the file stays as it was, without a second message.
    m_presets.Add("New", Values(-1));
    EXPECT_FALSE(m_file.SavePresets(m_presets, m_prompt));
    EXPECT_EQ(m_prompt.shown.size(), 1u);
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), damaged);
    EXPECT_FALSE(fs::exists(Path("Temp.pre")));
}

TEST_F(PresetFolder, UnreadableAndEmptyPresetFiles_AreNotOverwritten)
{
    const std::string file = Path("Tunex1.pre");
    const auto unreadable = [&](const std::string& reason) {
        return "The presets in \"" + file + "\" could not be read: " + reason +
               "\n\nNo preset could be taken from it. Cadenzo will not save its presets into "
               "this file when it exits, so that a repaired or older copy can still be "
               "put in its place.\n";
    };
    // A folder in place of the file cannot be read; a pipe is refused without waiting
    // for a writer; an empty file ends at once.
    fs::create_directory(file);
    Load();
    ExpectOneBox(unreadable("it is not a file."), "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_FALSE(m_file.SavePresets(m_presets, m_prompt));
    EXPECT_TRUE(fs::is_directory(file));

    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    m_prompt.shown.clear();
    Load();
    ExpectOneBox(unreadable("it is not a file."), "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_FALSE(m_file.SavePresets(m_presets, m_prompt));
    EXPECT_TRUE(fs::is_fifo(file));

    fs::remove(file);
    WriteAll(file, {});
    m_prompt.shown.clear();
    Load();
    ExpectOneBox(unreadable("the file ends early."), "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_FALSE(m_file.SavePresets(m_presets, m_prompt));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(PresetFolder, DamagedOldFile_IsNamedAndKeptAsTunexOld)
{
    WriteAll(Path("Tunex1.pre"), Archive({"Current"}));
    std::vector<uint8_t> old = Archive({"Old"});
    old[4] = 7;  // schema 7
    WriteAll(Path("Tunex.pre"), old);
    m_prompt.answers = {PromptAnswer::Yes};
    Load();
    ASSERT_EQ(m_prompt.shown.size(), 2u);
    EXPECT_EQ(m_prompt.shown[1].text,
              "The presets in \"" + Path("Tunex.pre") +
                  "\" could not be read: a preset has an unknown version (schema 7).\n\n"
                  "No preset could be taken from it. The file has been kept as \"" +
                  Path("TunexOld.pre") + "\".\n");
    EXPECT_EQ(m_prompt.shown[1].caption, "Preset Error");
    EXPECT_EQ(Names(m_presets), (std::vector<std::string>{"Current"}));
    EXPECT_EQ(ReadAll(Path("TunexOld.pre")), old);
    // The preset file itself was fine, so it is saved as usual.
    EXPECT_TRUE(m_file.SavePresets(m_presets, m_prompt));
}

TEST_F(PresetFolder, SaveThatCannotReplaceTemp_TellsTheUserAndLeavesThePresetFile)
{
    const std::vector<uint8_t> before = Archive({"Keep"});
    WriteAll(Path("Tunex1.pre"), before);
    Load();
    // A folder in the way of "Temp.pre" (a read-only folder would do the same, but
    // the tests may run as root).
    fs::create_directory(Path("Temp.pre"));
    WriteAll(Path("Temp.pre") + "/x", Bytes({1}));

    m_presets.Add("Lost", Values(-2));
    EXPECT_FALSE(m_file.SavePresets(m_presets, m_prompt));
    ExpectOneBox("The presets could not be saved: \"" + Path("Temp.pre") +
                     "\" could not be deleted (Is a directory).\n\n\"" + Path("Tunex1.pre") +
                     "\" has not been changed.\n",
                 "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), before);
}

TEST_F(PresetFolder, SaveThatCannotCreateTemp_TellsTheUser)
{
    Load();
    const std::string gone = Dir() + "/gone";
    CPresetList list;
    list.Add("x", Values(-1));
    std::string error;
    EXPECT_FALSE(CPresetFile::WriteFileDurably(list, gone + "/Temp.pre", gone + "/Tunex1.pre", &error));
    EXPECT_EQ(error, "\"" + gone + "/Temp.pre\" could not be created (No such file or directory)");
}

TEST_F(PresetFolder, SaveOnAFullDisk_TellsTheUserRemovesTempAndLeavesThePresetFile)
{
    const std::vector<uint8_t> before = Archive({"Keep"});
    WriteAll(Path("Tunex1.pre"), before);
    Load();
    for (int i = 0; i < 50; ++i)
        m_presets.Add("Preset number " + std::to_string(i), Values(-i));

    // A file size limit makes the write fail the way a full disk does.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = m_file.SavePresets(m_presets, m_prompt);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved1);
    ExpectOneBox("The presets could not be saved: \"" + Path("Temp.pre") +
                     "\" could not be written (File too large).\n\n\"" + Path("Tunex1.pre") +
                     "\" has not been changed.\n",
                 "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), before);
    EXPECT_FALSE(fs::exists(Path("Temp.pre")));
}

TEST_F(PresetFolder, SaveWhoseFlushToDiskFails_TellsTheUserAndLeavesThePresetFile)
{
    // The new list must be on the disk before it replaces the old one.
    const std::vector<uint8_t> before = Archive({"Keep"});
    WriteAll(Path("Tunex1.pre"), before);
    Load();
    m_presets.Add("New", Values(-5));
    g_bFailFsync = true;
    const bool bSaved = m_file.SavePresets(m_presets, m_prompt);
    g_bFailFsync = false;

    EXPECT_FALSE(bSaved);
    ExpectOneBox("The presets could not be saved: \"" + Path("Temp.pre") +
                     "\" could not be written (Input/output error).\n\n\"" + Path("Tunex1.pre") +
                     "\" has not been changed.\n",
                 "Preset Error", PromptButtons::Ok, PromptIcon::Stop);
    EXPECT_EQ(ReadAll(Path("Tunex1.pre")), before);
    EXPECT_FALSE(fs::exists(Path("Temp.pre")));
}

TEST_F(PresetFolder, SaveBeforeLoad_WritesNothing)
{
    CPresetFile file;
    CPresetList list;
    list.Add("x", Values(-1));
    EXPECT_FALSE(file.SavePresets(list, m_prompt));
    EXPECT_TRUE(m_prompt.shown.empty());
}

TEST_F(PresetFolder, EmptyDirectory_MeansTheWorkingDirectory)
{
    WriteAll(Path("Tunex1.pre"), Archive({"Here"}));
    const fs::path before = fs::current_path();
    fs::current_path(Dir());
    CPresetFile file;
    CPresetList list;
    file.LoadPresets(list, "here", m_box, m_prompt);
    fs::current_path(before);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Here"}));
    EXPECT_EQ(m_box.SelectedText(), "Here");
    EXPECT_EQ(fs::path(file.GetPresetPath()), fs::path(Dir()) / "Tunex1.pre");
}

TEST(FillPresetList, RefillsTheBoxAndSelectsAnExactNameIgnoringCase)
{
    CPresetList list;
    list.Add("Rock", CSettingsValues());
    list.Add("Album/Tape", CSettingsValues());
    FakePresetBox box;
    box.entries = {"stale"};
    FillPresetList(list, "ALBUM/TAPE", box);
    EXPECT_EQ(box.entries, (std::vector<std::string>{"Album/Tape", "Rock"}));
    EXPECT_EQ(box.SelectedText(), "Album/Tape");

    FillPresetList(list, "Roc", box);
    EXPECT_EQ(box.selected, -1);

    // A name longer than the window's buffer is found by the part the buffer holds.
    const std::string longName = std::string(300, 'L');
    list.Add(longName, CSettingsValues());
    char szCurrent[kPresetNameSize];
    CopyPresetName(szCurrent, longName);
    FillPresetList(list, szCurrent, box);
    EXPECT_EQ(box.SelectedText(), longName);
    FillPresetList(list, nullptr, box);
    EXPECT_EQ(box.selected, -1);
}
