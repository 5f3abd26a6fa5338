// cadenzo-split's preset options, run as the user runs them, in a folder of their own.

#include "settings/PresetFile.h"

#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sys/wait.h>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;  // standard output and standard error together
};

// Runs cadenzo-split with the arguments in folder.
ToolRun SplitTool(const std::string& folder, const std::string& args)
{
    const std::string command =
        "cd '" + folder + "' && '" CADENZO_SPLIT_PATH "' " + args + " 2>&1";
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// A 16-bit stereo WAV of a 440 Hz tone.
void WriteTone(const std::string& path, int seconds)
{
    const uint32_t frames = 44100u * static_cast<uint32_t>(seconds);
    std::vector<uint8_t> f;
    AppendText(f, "RIFF");
    Append32(f, 36 + frames * 4);
    AppendText(f, "WAVEfmt ");
    Append32(f, 16);
    Append16(f, 1);
    Append16(f, 2);
    Append32(f, 44100);
    Append32(f, 44100 * 4);
    Append16(f, 4);
    Append16(f, 16);
    AppendText(f, "data");
    Append32(f, frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const int16_t s = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
        Append16(f, static_cast<uint16_t>(s));
        Append16(f, static_cast<uint16_t>(s));
    }
    WriteAll(path, f);
}

void WritePresets(const std::string& folder)
{
    CPresetList list;
    CSettingsValues good;
    good.m_nBitsPerSample = 32;
    list.Add("Float", good);
    CSettingsValues bad;
    bad.m_nGapSize = -8821;
    bad.m_nMinSong = -176;
    list.Add("Broken", bad);
    WriteAll(folder + "/Tunex1.pre", CPresetFile::WriteArchive(list));
}

}  // namespace

TEST(SplitToolPresets, ListPresets_PrintsOneLinePerPresetAndNeedsAFile)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    ToolRun none = SplitTool(dir, "--list-presets");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "cadenzo-split: there is no preset file: " + dir + "/Tunex1.pre does not exist.\n");

    WritePresets(dir);
    ToolRun list = SplitTool(dir, "--list-presets");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.substr(0, 41), "\"Float\": gap size 1.000 s, gap level -35.");
    EXPECT_NE(list.out.find("\n\"Broken\": gap size 5.001 s,"), std::string::npos);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2);

    std::vector<uint8_t> damaged = ReadAll(dir + "/Tunex1.pre");
    damaged[4] = 9;
    WriteAll(dir + "/Tunex1.pre", damaged);
    ToolRun broken = SplitTool(dir, "--list-presets");
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out, "cadenzo-split: the presets in " + dir +
                              "/Tunex1.pre could not be read: a preset has an unknown version "
                              "(schema 9).\n");
    EXPECT_EQ(ReadAll(dir + "/Tunex1.pre"), damaged);
}

TEST(SplitToolPresets, Preset_TakesTheBitDepthAndReportsOutOfRangeValues)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    WritePresets(dir);
    WriteTone(dir + "/in.wav", 10);

    ToolRun unknown = SplitTool(dir, "--preset float in.wav out.wav");  // names are case-sensitive
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, "cadenzo-split: there is no preset named 'float' (see --list-presets).\n");

    ToolRun broken = SplitTool(dir, "--preset Broken in.wav out.wav");
    EXPECT_EQ(broken.status, 2);
    EXPECT_EQ(broken.out,
              "cadenzo-split: Gap size is not between 0.01 and 5 seconds.\n"
              "Minimum song size is not between 1 and 200 seconds.\n");

    ToolRun ok = SplitTool(dir, "--quiet --preset Float in.wav out.wav");
    ASSERT_EQ(ok.status, 0) << ok.out;
    const std::vector<uint8_t> head = ReadAll(dir + "/out1.wav");
    ASSERT_GE(head.size(), 44u);
    EXPECT_EQ(head[20], 3);   // IEEE float
    EXPECT_EQ(head[34], 32);  // 32 bits

    // An option given as well wins over the preset.
    ToolRun both = SplitTool(dir, "--quiet --overwrite --preset Float --bits 16 in.wav out.wav");
    ASSERT_EQ(both.status, 0) << both.out;
    const std::vector<uint8_t> head16 = ReadAll(dir + "/out1.wav");
    ASSERT_GE(head16.size(), 44u);
    EXPECT_EQ(head16[20], 1);
    EXPECT_EQ(head16[34], 16);
}
