// The preset options of the command-line splitter.

#include "settings/PresetCommands.h"

#include "engine/SongSplitter.h"
#include "settings/PresetFile.h"

#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

CPresetCommandLine Extracted(std::vector<const char*> args, bool expectOk = true)
{
    CPresetCommandLine line;
    EXPECT_EQ(line.Extract(static_cast<int>(args.size()), args.data()), expectOk);
    return line;
}

}  // namespace

TEST(PresetCommandLine, TakesOutThePresetOptionsAndLeavesTheRest)
{
    CPresetCommandLine a = Extracted({"cadenzo-split", "--gap-size", "2", "--preset", "Album/Tape",
                                      "in.wav", "--list-presets", "out.wav"});
    EXPECT_TRUE(a.m_bListPresets);
    ASSERT_TRUE(a.m_strPreset.has_value());
    EXPECT_EQ(*a.m_strPreset, "Album/Tape");
    EXPECT_EQ(a.m_args, (std::vector<std::string>{"cadenzo-split", "--gap-size", "2", "in.wav", "out.wav"}));
    EXPECT_EQ(a.Argc(), 5);
    EXPECT_STREQ(a.Argv()[3], "in.wav");
    EXPECT_EQ(a.Argv()[5], nullptr);

    CPresetCommandLine b = Extracted({"x", "--preset=-odd name", "--", "--preset", "file"});
    EXPECT_EQ(*b.m_strPreset, "-odd name");
    EXPECT_FALSE(b.m_bListPresets);
    EXPECT_EQ(b.m_args, (std::vector<std::string>{"x", "--", "--preset", "file"}));
}

TEST(PresetCommandLine, BadUse_IsRefusedWithAReason)
{
    EXPECT_EQ(Extracted({"x", "--preset"}, false).m_strError, "--preset needs a value: NAME.");
    EXPECT_EQ(Extracted({"x", "--preset", "a", "--preset=b"}, false).m_strError,
              "--preset is given more than once.");
    EXPECT_EQ(Extracted({"x", "--list-presets=yes"}, false).m_strError,
              "--list-presets takes no value.");
}

TEST(PresetCommandFile, MissingDamagedAndTempOnlyFiles)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    CPresetList list;
    std::string error;
    EXPECT_FALSE(LoadPresetsForCommand(list, &error, dir));
    EXPECT_EQ(error, "there is no preset file: " + dir + "/Tunex1.pre does not exist.");

    CPresetList saved;
    saved.Add("Only", CSettingsValues());
    WriteAll(dir + "/Temp.pre", CPresetFile::WriteArchive(saved));
    EXPECT_TRUE(LoadPresetsForCommand(list, &error, dir));
    EXPECT_EQ(list.GetSize(), 1u);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "/Temp.pre")));  // nothing renamed

    std::vector<uint8_t> damaged = CPresetFile::WriteArchive(saved);
    damaged.pop_back();
    WriteAll(dir + "/Tunex1.pre", damaged);
    list.RemoveAll();
    EXPECT_FALSE(LoadPresetsForCommand(list, &error, dir));
    EXPECT_EQ(error, "the presets in " + dir + "/Tunex1.pre could not be read: the file ends early.");
    EXPECT_EQ(ReadAll(dir + "/Tunex1.pre"), damaged);
}

TEST(PresetCommandList, OneLinePerPresetInFileOrderWithTheStoredValuesInUnits)
{
    CPresetList list;
    list.Add("Zed", CSettingsValues());
    list.Add(std::string("Tab\there \"q\""), MakeValues(-3528, -1, -1764, -5292, 0, 0, 32, 48000, 2, 2));
    EXPECT_EQ(FormatPresetList(list),
              "\"Zed\": gap size 1.000 s, gap level -35.0 dB, min song 30.01 s, end gap 7.01 s, "
              "DC block on, Smart Gap on, 44100 Hz, 16 bits, 2 channels, device -1 (default)\n"
              "\"Tab\\x09here \\x22q\\x22\": gap size 2.000 s, gap level -90.3 dB, min song 10.00 s, "
              "end gap 30.00 s, DC block off, Smart Gap off, 48000 Hz, 32 bits, 2 channels, device 2\n");
    EXPECT_EQ(FormatPresetList(CPresetList()), "");
}

TEST(PresetCommandApply, GivesTheSettingsToTheSplitterAndNamesEachOutOfRangeValue)
{
    CPresets good("Good");
    good.SetValues(CSettingsValues());
    good.m_nGapSize = -3528;
    good.m_bDCBlock = 0;
    good.m_bIgnoreClicks = 0;
    good.m_nBitsPerSample = 32;
    CSongSplitter splitter;
    std::string errors;
    EXPECT_TRUE(ApplyPresetToSplitter(good, splitter, &errors));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(splitter.GetGapSize(), -3528);  // 2 s
    EXPECT_EQ(splitter.GetDcBlock(), 0);
    EXPECT_EQ(splitter.GetIgnoreClicks(), 0);
    EXPECT_EQ(splitter.GetBitsPerSample(), 32);
    EXPECT_EQ(splitter.GetSamplesPerSec(), 44100);  // the rate comes from the input

    CPresets bad("Bad");
    bad.SetValues(CSettingsValues());
    bad.m_nGapSize = -8821;   // 5.0006 s
    bad.m_nEndGap = -6000;    // 34 s
    bad.m_nBitsPerSample = 24;
    errors.clear();
    EXPECT_FALSE(ApplyPresetToSplitter(bad, splitter, &errors));
    EXPECT_EQ(errors,
              "Gap size is not between 0.01 and 5 seconds.\n"
              "End gap is not between 1 and 30 seconds.\n"
              "The preset's bit depth 24 is neither 16 nor 32.\n");
}
