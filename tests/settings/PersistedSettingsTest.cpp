// The persisted settings against a real QSettings store in an INI file.

#include "settings/PersistedSettings.h"

#include "engine/SongSplitter.h"
#include "settings/Presets.h"

#include "TestSupport.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The Base File Name box: new entries go to the top, selected.
class FakeBaseNames : public IBaseNameList {
public:
    std::vector<std::string> paths;
    int selected = -1;

    void AddBaseName(const std::string& path) override
    {
        paths.insert(paths.begin(), path);
        selected = 0;
    }
    int GetBaseNameCount() const override { return static_cast<int>(paths.size()); }
    int GetSelectedBaseName() const override { return selected; }
    std::string GetBaseNamePath(int index) const override { return paths.at(index); }
    void RemoveBaseName(int index) override
    {
        paths.erase(paths.begin() + index);
        selected = -1;
    }
};

class FakePlacement : public IWindowPlacement {
public:
    CWindowPlacement current;
    std::vector<CWindowPlacement> applied;
    int32_t screenWidth = 1024, screenHeight = 768, iconWidth = 32, iconHeight = 32;

    FakePlacement()
    {
        current.m_nLeft = 100;
        current.m_nTop = 50;
        current.m_nRight = 100 + 400;
        current.m_nBottom = 50 + 300;
    }
    CWindowPlacement GetWindowPlacement() const override { return current; }
    void SetWindowPlacement(const CWindowPlacement& p) override
    {
        applied.push_back(p);
        current = p;
    }
    int32_t GetScreenWidth() const override { return screenWidth; }
    int32_t GetScreenHeight() const override { return screenHeight; }
    int32_t GetIconWidth() const override { return iconWidth; }
    int32_t GetIconHeight() const override { return iconHeight; }
};

// Everything LoadSettings and SaveSettings touch of one main window.
struct Window {
    CSettingsValues values;
    CSongSplitter splitter;
    std::vector<int32_t> devices;  // ids given to the capture device
    FakeBaseNames baseNames;
    FakePlacement placement;
    char presetName[kPresetNameSize + 16];
    int32_t background = -7;

    Window() { std::memset(presetName, 'Z', sizeof presetName); }

    CSettingsHost Host()
    {
        CSettingsHost h;
        h.m_pValues = &values;
        h.m_pSplitter = &splitter;
        h.m_setDevice = [this](int32_t id) { devices.push_back(id); };
        h.m_pBaseNames = &baseNames;
        h.m_pPlacement = &placement;
        h.m_szPresetName = presetName;
        h.m_pbBackground = &background;
        return h;
    }
};

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_tmp.isValid()); }

    std::unique_ptr<QSettings> Store()
    {
        return std::make_unique<QSettings>(m_tmp.filePath("Cadenzio.ini"), QSettings::IniFormat);
    }
    void Put(const char* key, const QVariant& value)
    {
        auto s = Store();
        s->beginGroup("Version 1");
        s->setValue(key, value);
    }
    QVariant Get(const char* key)
    {
        auto s = Store();
        s->beginGroup("Version 1");
        return s->value(key);
    }
    void Load(Window& w) { LoadSettings(*Store(), w.Host()); }
    void Save(Window& w) { SaveSettings(*Store(), w.Host()); }

    QTemporaryDir m_tmp;
};

}  // namespace

TEST_F(SettingsStore, EmptyStore_GivesEveryDefault)
{
    Window w;
    Load(w);
    EXPECT_EQ(w.values, MakeValues(-1764, -582, -5293, -1236, 1, 1, 16, 44100, 2, -1));
    EXPECT_EQ(w.devices, std::vector<int32_t>{-1});
    EXPECT_STREQ(w.presetName, "Album/Tape");
    EXPECT_EQ(w.background, 1);
    EXPECT_TRUE(w.baseNames.paths.empty());
    EXPECT_TRUE(w.placement.applied.empty());  // the window stays where the platform put it
    EXPECT_FALSE(w.splitter.HasError());
}

TEST_F(SettingsStore, MissingKeys_DefaultToTheSplittersCurrentValues)
{
    Window w;
    w.splitter.SetGapSize(-3000);
    w.splitter.SetMinSong(-10000);
    w.splitter.SetBitsPerSample(32);
    const int32_t gapSize = w.splitter.GetGapSize();
    const int32_t minSong = w.splitter.GetMinSong();
    Put("Gap Level", -700);
    Load(w);
    EXPECT_EQ(w.values.m_nGapSize, gapSize);
    EXPECT_EQ(w.values.m_nMinSong, minSong);
    EXPECT_EQ(w.values.m_nBitsPerSample, 32);
    EXPECT_EQ(w.values.m_nGapLevel, -700);
}

TEST_F(SettingsStore, SaveThenLoad_EveryValueSurvivesAndReachesTheSplitterAndDevice)
{
    Window a;
    a.values = MakeValues(-2646, -1000, -8820, -2000, 0, 0, 32, 48000, 2, 3);
    CopyPresetName(a.presetName, "Vinyl");
    a.background = 0;
    a.placement.current.m_nFlags = 2;
    a.placement.current.m_nShowCmd = 2;  // minimised at exit
    a.placement.current.m_nLeft = -200;
    a.placement.current.m_nTop = 40;
    Save(a);

    EXPECT_EQ(Get("showCmd").toInt(), 2);
    EXPECT_EQ(Get("Gap Size").toInt(), -2646);

    Window b;
    Load(b);
    EXPECT_EQ(b.values, a.values);
    EXPECT_STREQ(b.presetName, "Vinyl");
    EXPECT_EQ(b.background, 0);
    EXPECT_EQ(b.devices, std::vector<int32_t>{3});

    // 1.5 s, -30.3 dB, 50 s and 11.3 s reach the splitter: its getters give the stored
    // positions back, the song lengths one step short by their truncation toward zero.
    EXPECT_EQ(b.splitter.GetGapSize(), -2646);
    EXPECT_EQ(b.splitter.GetGapLevel(), -1000);
    EXPECT_EQ(b.splitter.GetMinSong(), -8819);
    EXPECT_EQ(b.splitter.GetEndGap(), -1999);
    EXPECT_EQ(b.splitter.GetDcBlock(), 0);
    EXPECT_EQ(b.splitter.GetIgnoreClicks(), 0);
    EXPECT_EQ(b.splitter.GetBitsPerSample(), 32);
    EXPECT_EQ(b.splitter.GetSamplesPerSec(), 48000);

    // The window opens shown normally at its stored place, whatever it was at exit.
    ASSERT_EQ(b.placement.applied.size(), 1u);
    const CWindowPlacement& p = b.placement.applied[0];
    EXPECT_EQ(p.m_nFlags, 2);
    EXPECT_EQ(p.m_nShowCmd, 5);
    EXPECT_EQ(p.m_nLeft, -200);  // no lower bound
    EXPECT_EQ(p.m_nTop, 40);
    EXPECT_EQ(p.m_nRight - p.m_nLeft, 400);
    EXPECT_EQ(p.m_nBottom - p.m_nTop, 300);
}

TEST_F(SettingsStore, StoredNumbers_ReadBackSignedAndOutOfRangeOnesUnchanged)
{
    Put("Min Song Size", -5293);
    Put("End Size", QVariant(qlonglong(4294967296LL - 1236)));  // stored as an unsigned 32-bit number
    Put("WaveInID", "-1");
    Put("Gap Size", -100000);  // 56.7 s, out of range: taken as it is
    Put("Samples Per Sec", "not a number");
    Put("Bits Per Sample", 65536 + 32);  // cut to 16 bits: 32
    Window w;
    Load(w);
    EXPECT_EQ(w.values.m_nMinSong, -5293);
    EXPECT_EQ(w.values.m_nEndGap, -1236);
    EXPECT_EQ(w.values.m_nWaveInID, -1);
    EXPECT_EQ(w.values.m_nGapSize, -100000);
    EXPECT_EQ(w.splitter.GetGapSize(), -100000);
    EXPECT_EQ(w.values.m_nSamplesPerSec, 44100);
    EXPECT_EQ(w.values.m_nBitsPerSample, 32);
}

// The selected base name is stored first, then up to three others in box order; the
// next start selects the first of them.
TEST_F(SettingsStore, BaseNames_SelectedFirstThenUpToThreeOthersInBoxOrder)
{
    struct Case {
        std::vector<std::string> box;
        int selected;
        std::vector<std::string> stored;  // OutfileName0 .. OutfileName3
        std::vector<std::string> loaded;
    };
    const Case cases[] = {
        {{"/P1", "/P2", "/P3", "/P4", "/P5"}, 0, {"/P1", "/P2", "/P3", "/P4"}, {"/P1", "/P2", "/P3", "/P4"}},
        {{"/a", "/b", "/c", "/d"}, -1, {"", "/a", "/b", "/c"}, {"/a", "/b", "/c"}},
        {{"/a", "/b", "/c", "/d", "/e"}, 2, {"/c", "/a", "/b", "/d"}, {"/c", "/a", "/b", "/d"}},
        {{"/only"}, 0, {"/only", "", "", ""}, {"/only"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box.size());
        Window a;
        a.baseNames.paths = c.box;
        a.baseNames.selected = c.selected;
        Save(a);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Get(("OutfileName" + std::to_string(i)).c_str()).toString().toStdString(), c.stored[i]);
        if (c.selected >= 0) {
            EXPECT_EQ(a.baseNames.paths.size(), c.box.size() - 1);  // the selected entry left the box
        }

        Window b;
        Load(b);
        EXPECT_EQ(b.baseNames.paths, c.loaded);
        EXPECT_EQ(b.baseNames.selected, 0);
    }
}

TEST_F(SettingsStore, LongPresetName_IsCutTo259Characters)
{
    Put("Preset", QString(400, QChar('p')));
    Window w;
    Load(w);
    EXPECT_EQ(std::string(w.presetName), std::string(259, 'p'));
    EXPECT_EQ(w.presetName[kPresetNameSize], 'Z');  // nothing written past the buffer

    Save(w);
    EXPECT_EQ(Get("Preset").toString().size(), 259);
}

TEST_F(SettingsStore, NamesAndPathsNotInUtf8_ComeBackByteForByte)
{
    // A preset name in code page 1252 and paths with bytes that are no UTF-8; a path in
    // UTF-8 is still stored as text.
    const std::vector<std::string> paths = {"/music/Caf\xE9/Side A.wav", "/music/\xFF\xFE.wav",
                                            "/music/Caf\xC3\xA9.wav"};
    Window a;
    for (auto it = paths.rbegin(); it != paths.rend(); ++it)
        a.baseNames.AddBaseName(*it);
    CopyPresetName(a.presetName, "Caf\xE9");
    Save(a);
    EXPECT_EQ(Get("OutfileName2"), QVariant(QString::fromUtf8("/music/Caf\xC3\xA9.wav")));

    Window b;
    Load(b);
    EXPECT_EQ(b.baseNames.paths, paths);
    EXPECT_EQ(std::string(b.presetName), "Caf\xE9");
}

TEST_F(SettingsStore, PlacementPastTheScreen_IsClampedToTheScreenLessAnIcon)
{
    Put("flags", 0);
    Put("left", 5000);
    Put("top", 5000);
    Window w;
    Load(w);
    ASSERT_EQ(w.placement.applied.size(), 1u);
    const CWindowPlacement& p = w.placement.applied[0];
    EXPECT_EQ(p.m_nLeft, 992);
    EXPECT_EQ(p.m_nTop, 736);
    EXPECT_EQ(p.m_nRight, 992 + 400);
    EXPECT_EQ(p.m_nBottom, 736 + 300);

    // Exactly at the limit it is the limit; just below it is left alone.
    Put("left", 992);
    Put("top", 735);
    Window x;
    Load(x);
    ASSERT_EQ(x.placement.applied.size(), 1u);
    EXPECT_EQ(x.placement.applied[0].m_nLeft, 992);
    EXPECT_EQ(x.placement.applied[0].m_nTop, 735);
}

TEST_F(SettingsStore, StoredMinusOne_LeavesTheWindowWhereItIs)
{
    for (const char* missing : {"flags", "left", "top"}) {
        SCOPED_TRACE(missing);
        Put("flags", 0);
        Put("left", 10);
        Put("top", 20);
        Put(missing, -1);
        Window w;
        Load(w);
        EXPECT_TRUE(w.placement.applied.empty());
    }
    // A left of -2 is a real position.
    Put("left", -2);
    Put("top", -1000);
    Put("flags", 0);
    Window w;
    Load(w);
    ASSERT_EQ(w.placement.applied.size(), 1u);
    EXPECT_EQ(w.placement.applied[0].m_nLeft, -2);
    EXPECT_EQ(w.placement.applied[0].m_nTop, -1000);
}

TEST_F(SettingsStore, SaveWritesEveryKeyInTheVersionGroup)
{
    Window w;
    Save(w);
    auto s = Store();
    EXPECT_EQ(s->childGroups(), QStringList{"Version 1"});
    s->beginGroup("Version 1");
    QStringList keys = s->childKeys();
    keys.sort();
    QStringList expected = {"OutfileName0", "OutfileName1", "OutfileName2", "OutfileName3",
                            "Gap Size", "Gap Level", "Min Song Size", "End Size", "DC Block",
                            "Ignore Clicks", "Bits Per Sample", "Samples Per Sec", "Channels",
                            "WaveInID", "Preset", "Background", "flags", "showCmd", "left", "top"};
    expected.sort();
    EXPECT_EQ(keys, expected);
}
