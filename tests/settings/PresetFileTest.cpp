// The preset archive: exact bytes written, what is read back, and damaged input.

#include "settings/PresetFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>


namespace {

CSettingsValues SomeValues(int32_t seed)
{
    CSettingsValues v;
    v.m_nGapSize = -1764 - seed;
    v.m_nGapLevel = -582 + seed;
    v.m_nMinSong = -5293 - 3 * seed;
    v.m_nEndGap = -1236 - 7 * seed;
    v.m_bDCBlock = seed & 1;
    v.m_bIgnoreClicks = (seed >> 1) & 1;
    v.m_nSamplesPerSec = seed % 2 ? 48000 : 22050;
    v.m_nBitsPerSample = seed % 3 ? 16 : 32;
    v.m_nChannels = 2;
    v.m_nWaveInID = seed - 1;
    return v;
}

CPresetReadResult Read(const std::vector<uint8_t>& bytes, CPresetList& list)
{
    return CPresetFile::ReadArchive(bytes.data(), bytes.size(), list);
}

// Two schema-11 records, as this program writes them.
std::vector<uint8_t> TwoRecords()
{
    std::vector<uint8_t> f = Bytes({0x02, 0x00});
    Append(f, ClassHeader());
    Append(f, Body11("Album", -1764, -582, -5293, -1236, 1, 1, 16, 44100, 2, -1));
    Append(f, Bytes({0x01, 0x80}));
    Append(f, Body11("Tape", -2000, -600, -6000, -1500, 0, 1, 32, 48000, 2, 3));
    return f;
}

}  // namespace

TEST(PresetArchive, EmptyList_IsTwoZeroBytesBothWays)
{
    CPresetList empty;
    EXPECT_EQ(CPresetFile::WriteArchive(empty), Bytes({0x00, 0x00}));

    CPresetList list;
    const CPresetReadResult r = Read(Bytes({0x00, 0x00}), list);
    EXPECT_TRUE(r.m_bComplete);
    EXPECT_TRUE(list.IsEmpty());
}

TEST(PresetArchive, OnePreset_Is56BytesWithBitDepthBeforeRate)
{
    CPresetList list;
    const CSettingsValues v = MakeValues(-1764, -582, -5293, -1236, 1, 0, 32, 48000, 2, -1);
    list.Add("abc", v);

    const std::vector<uint8_t> expected = Bytes({
        0x01, 0x00,                                                  // count
        0xFF, 0xFF, 0x0B, 0x00, 0x08, 0x00,                          // new class, schema 11
        0x43, 0x50, 0x72, 0x65, 0x73, 0x65, 0x74, 0x73,              // "CPresets"
        0x03, 0x61, 0x62, 0x63,                                      // "abc"
        0x1C, 0xF9, 0xFF, 0xFF,                                      // -1764
        0xBA, 0xFD, 0xFF, 0xFF,                                      // -582
        0x53, 0xEB, 0xFF, 0xFF,                                      // -5293
        0x2C, 0xFB, 0xFF, 0xFF,                                      // -1236
        0x01, 0x00, 0x00, 0x00,                                      // DC Block
        0x00, 0x00, 0x00, 0x00,                                      // Smart Gap
        0x20, 0x00,                                                  // 32 bits
        0x80, 0xBB, 0x00, 0x00,                                      // 48000 Hz
        0x02, 0x00,                                                  // 2 channels
        0xFF, 0xFF, 0xFF, 0xFF,                                      // device -1
    });
    const std::vector<uint8_t> written = CPresetFile::WriteArchive(list);
    EXPECT_EQ(written.size(), 56u);
    EXPECT_EQ(written, expected);

    CPresetList back;
    ASSERT_TRUE(Read(written, back).m_bComplete);
    ASSERT_EQ(back.GetSize(), 1u);
    EXPECT_EQ(back.GetAt(0)->GetName(), "abc");
    EXPECT_EQ(back.GetAt(0)->GetValues(), v);
}

TEST(PresetArchive, SecondPreset_AddsReferenceTagNameAndBody)
{
    CPresetList list;
    list.Add("abc", SomeValues(1));
    const std::vector<uint8_t> one = CPresetFile::WriteArchive(list);
    list.Add("de", SomeValues(2));
    list.Add("f", SomeValues(3));
    const std::vector<uint8_t> three = CPresetFile::WriteArchive(list);

    ASSERT_EQ(three.size(), 56u + (2 + 3 + 36) + (2 + 2 + 36));
    EXPECT_EQ(three[0], 0x03);
    EXPECT_TRUE(std::equal(one.begin() + 2, one.end(), three.begin() + 2));
    EXPECT_EQ(three[56], 0x01);
    EXPECT_EQ(three[57], 0x80);
    EXPECT_EQ(three[58], 0x02);
    EXPECT_EQ(three[59], 'd');
    EXPECT_EQ(three[56 + 41], 0x01);
    EXPECT_EQ(three[56 + 42], 0x80);
}

TEST(PresetArchive, NameLengthPrefixes_ByteThenFFPlus16Bit)
{
    struct Case {
        std::size_t length;
        std::vector<uint8_t> prefix;
        std::size_t written;  // characters written after the prefix
    };
    const Case cases[] = {
        {0, Bytes({0x00}), 0},
        {254, Bytes({0xFE}), 254},
        {255, Bytes({0xFF, 0xFF, 0x00}), 255},
        {259, Bytes({0xFF, 0x03, 0x01}), 259},
        {300, Bytes({0xFF, 0x2C, 0x01}), 300},  // kept whole, past the window's 259-byte buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        CPresetList list;
        list.Add(std::string(c.length, 'n'), SomeValues(4));
        const std::vector<uint8_t> bytes = CPresetFile::WriteArchive(list);
        ASSERT_EQ(bytes.size(), 16 + c.prefix.size() + c.written + 36);
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), bytes.begin() + 16));

        CPresetList back;
        ASSERT_TRUE(Read(bytes, back).m_bComplete);
        EXPECT_EQ(back.GetAt(0)->GetName(), std::string(c.written, 'n'));
    }
}

TEST(PresetArchive, LongNamesInAFile_AreReadWhole)
{
    // A 300-character name in the 16-bit form, and one in the 32-bit form.
    for (bool wide : {false, true}) {
        std::vector<uint8_t> f = Bytes({0x01, 0x00});
        Append(f, ClassHeader());
        f.push_back(0xFF);
        if (wide) {
            Append16(f, 0xFFFF);
            Append32(f, 300);
        } else {
            Append16(f, 300);
        }
        AppendText(f, std::string(300, 'x'));
        std::vector<uint8_t> body = Body11("", -1, -2, -3, -4, 1, 0, 16, 44100, 2, 7);
        f.insert(f.end(), body.begin() + 1, body.end());

        CPresetList list;
        ASSERT_TRUE(Read(f, list).m_bComplete) << wide;
        ASSERT_EQ(list.GetSize(), 1u);
        EXPECT_EQ(list.GetAt(0)->GetName(), std::string(300, 'x'));
        EXPECT_EQ(list.GetAt(0)->m_nWaveInID, 7);
    }
}

TEST(PresetArchive, CountsFromFFFF_UseThe32BitForm)
{
    CPresetList list;
    for (int i = 0; i < 0xFFFE; ++i)
        list.Add("p", SomeValues(i));
    std::vector<uint8_t> bytes = CPresetFile::WriteArchive(list);
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0xFF);  // the class tag follows directly

    list.Add("last", SomeValues(9));
    bytes = CPresetFile::WriteArchive(list);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));

    CPresetList back;
    const CPresetReadResult r = Read(bytes, back);
    ASSERT_TRUE(r.m_bComplete) << r.m_strReason;
    ASSERT_EQ(back.GetSize(), 0xFFFFu);
    EXPECT_EQ(back.GetAt(0xFFFE)->GetName(), "last");
    EXPECT_EQ(back.GetAt(1234)->GetValues(), SomeValues(1234));
}

TEST(PresetArchive, SmallCountInThe32BitForm_ReadsAndAppendsToTheList)
{
    std::vector<uint8_t> f = Bytes({0xFF, 0xFF});
    Append32(f, 2);
    std::vector<uint8_t> two = TwoRecords();
    f.insert(f.end(), two.begin() + 2, two.end());
    CPresetList list;
    list.Add("first", SomeValues(1));
    ASSERT_TRUE(Read(f, list).m_bComplete);
    ASSERT_EQ(list.GetSize(), 3u);
    EXPECT_EQ(list.GetAt(0)->GetName(), "first");
    EXPECT_EQ(list.GetAt(2)->GetName(), "Tape");
}

TEST(PresetArchive, SchemaOneRecord_ArrivesMarkedBetaWithTheNewSettingsDefaulted)
{
    std::vector<uint8_t> f = Bytes({0x02, 0x00});
    Append(f, ClassHeader(1));
    Append(f, Body1("Rock", -2500, -700, -8000, -3000, 0, 4));
    Append(f, Bytes({0x01, 0x80}));
    Append(f, Body1("Talk", -1000, -300, -2000, -900, 1, -1));
    ASSERT_EQ(f.size(), 2u + 14 + 5 + 24 + 2 + 5 + 24);

    CPresetList list;
    const CPresetReadResult r = Read(f, list);
    ASSERT_TRUE(r.m_bComplete) << r.m_strReason;
    ASSERT_EQ(list.GetSize(), 2u);
    const CPresets& rock = *list.GetAt(0);
    EXPECT_EQ(rock.GetName(), "Rock [Beta]");
    EXPECT_EQ(rock.GetValues(), MakeValues(-2500, -700, -8000, -3000, 0, 0, 16, 44100, 2, 4));
    EXPECT_EQ(list.GetAt(1)->GetName(), "Talk [Beta]");
    EXPECT_EQ(list.GetAt(1)->m_nWaveInID, -1);

    // Written back, they are schema-11 records under their new names.
    CPresetList again;
    ASSERT_TRUE(Read(CPresetFile::WriteArchive(list), again).m_bComplete);
    EXPECT_EQ(again.GetAt(0)->GetName(), "Rock [Beta]");
    EXPECT_EQ(again.GetAt(0)->GetValues(), rock.GetValues());
}

TEST(PresetArchive, OtherTagFormsOfTheArchive_AreUnderstood)
{
    // A second class description (schema 1) later in the file gets index 3 (index 2 is
    // the first record); a 32-bit class tag refers to the first description.
    std::vector<uint8_t> f = Bytes({0x04, 0x00});
    Append(f, ClassHeader(11));
    Append(f, Body11("A", -1, -2, -3, -4, 1, 1, 16, 44100, 2, 0));
    Append(f, ClassHeader(1));
    Append(f, Body1("B", -5, -6, -7, -8, 1, 2));
    Append(f, Bytes({0x03, 0x80}));
    Append(f, Body1("C", -9, -10, -11, -12, 0, 3));
    Append(f, Bytes({0xFF, 0x7F}));
    Append32(f, 0x80000001u);
    Append(f, Body11("D", -13, -14, -15, -16, 0, 0, 32, 22050, 2, 5));

    CPresetList list;
    const CPresetReadResult r = Read(f, list);
    ASSERT_TRUE(r.m_bComplete) << r.m_strReason;
    ASSERT_EQ(list.GetSize(), 4u);
    EXPECT_EQ(list.GetAt(0)->GetName(), "A");
    EXPECT_EQ(list.GetAt(1)->GetName(), "B [Beta]");
    EXPECT_EQ(list.GetAt(2)->GetName(), "C [Beta]");
    EXPECT_EQ(list.GetAt(3)->GetName(), "D");
    EXPECT_EQ(list.GetAt(3)->m_nSamplesPerSec, 22050);
}

TEST(PresetArchive, RoundTrip_KeepsEveryRecordInOrder)
{
    CPresetList list;
    list.Add("Zebra", SomeValues(0));
    list.Add("album", SomeValues(5));
    list.Add("Album", SomeValues(6));  // names differing in case are distinct
    list.Add(std::string("Caf\xE9 \x01\x7F", 7), SomeValues(7));
    list.Add("", SomeValues(8));
    CSettingsValues extreme;
    extreme.m_nGapSize = INT32_MIN;
    extreme.m_nGapLevel = INT32_MAX;
    extreme.m_nBitsPerSample = -32768;
    extreme.m_nChannels = 32767;
    extreme.m_nWaveInID = INT32_MIN;
    list.Add("Extreme", extreme);

    CPresetList back;
    ASSERT_TRUE(Read(CPresetFile::WriteArchive(list), back).m_bComplete);
    ASSERT_EQ(back.GetSize(), list.GetSize());
    for (std::size_t i = 0; i < list.GetSize(); ++i) {
        EXPECT_EQ(back.GetAt(i)->GetName(), list.GetAt(i)->GetName()) << i;
        EXPECT_EQ(back.GetAt(i)->GetValues(), list.GetAt(i)->GetValues()) << i;
    }
    EXPECT_EQ(back.FindIndex("Album"), 2);
    EXPECT_EQ(back.FindIndex("album"), 1);
}

TEST(PresetArchive, EveryTruncation_KeepsOnlyCompleteRecords)
{
    const std::vector<uint8_t> f = TwoRecords();
    const std::size_t firstEnd = 2 + 14 + 6 + 36;
    for (std::size_t n = 0; n < f.size(); ++n) {
        SCOPED_TRACE(n);
        CPresetList list;
        const CPresetReadResult r = CPresetFile::ReadArchive(f.data(), n, list);
        EXPECT_FALSE(r.m_bComplete);
        EXPECT_FALSE(r.m_strReason.empty());
        const std::size_t expected = n >= firstEnd ? 1 : 0;
        EXPECT_EQ(list.GetSize(), expected);
        EXPECT_EQ(r.m_nRecords, expected);
        if (expected == 1) {
            EXPECT_EQ(list.GetAt(0)->GetName(), "Album");
        }
    }
}

TEST(PresetArchive, DamagedFiles_AreRefusedWithAReasonAndNoPartialRecord)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* reason;
        std::size_t records;
    };
    const auto patched = [](std::initializer_list<std::pair<std::size_t, uint8_t>> changes) {
        std::vector<uint8_t> f = TwoRecords();
        for (const auto& change : changes)
            f[change.first] = change.second;
        return f;
    };
    const std::size_t second = 2 + 14 + 6 + 36;  // the second record's tag
    const char kUndescribed[] = "it refers to a kind of record it does not describe";
    std::vector<Case> cases = {
        {"wrong class name", patched({{10, 'X'}}), "it holds a record of an unknown kind", 0},
        {"unknown schema", patched({{4, 12}}), "a preset has an unknown version (schema 12)", 0},
        {"back-reference", patched({{second, 0x02}, {second + 1, 0x00}}),
         "it refers back to an earlier record", 1},
        {"32-bit back-reference", patched({{second, 0xFF}, {second + 1, 0x7F}}),
         "it refers back to an earlier record", 1},
        {"null record", patched({{second, 0x00}, {second + 1, 0x00}}), "it holds an empty record", 1},
        {"class tag naming a record", patched({{second, 0x02}, {second + 1, 0x80}}), kUndescribed, 1},
        {"class tag past the table", patched({{second, 0x09}}), kUndescribed, 1},
        {"class name longer than the file", Bytes({0x01, 0x00, 0xFF, 0xFF, 0x0B, 0x00, 0xFF, 0xFF}),
         "the file ends early", 0},
    };
    {
        const std::vector<uint8_t> f = TwoRecords();
        std::vector<uint8_t> g = Bytes({0xFF, 0xFF});
        Append32(g, 0xFFFFFFFFu);
        g.insert(g.end(), f.begin() + 2, f.end());
        cases.push_back({"count larger than the file", g,
                         "it holds 2 presets, fewer than the 4294967295 it announces", 2});
    }
    {
        std::vector<uint8_t> f = Bytes({0x01, 0x00});
        Append(f, ClassHeader());
        Append(f, Bytes({0xFF, 0xFF, 0xFF}));
        Append32(f, 0xFFFFFFF0u);  // a name of about 4 GB
        Append(f, std::vector<uint8_t>(40, 0));
        cases.push_back({"name length past the end", f, "a preset name runs past the end of the file", 0});
    }
    {
        std::vector<uint8_t> f = Bytes({0x01, 0x00});
        Append(f, ClassHeader());
        Append(f, Bytes({0xFF, 0xFE, 0xFF, 0x02, 0x00, 'a', 0, 'b', 0}));
        Append(f, std::vector<uint8_t>(36, 0));
        cases.push_back({"wide-character name marker", f,
                         "a preset name has a length form this program does not know", 0});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPresetList list;
        const CPresetReadResult r = Read(c.bytes, list);
        EXPECT_FALSE(r.m_bComplete);
        EXPECT_EQ(r.m_strReason, c.reason);
        EXPECT_EQ(list.GetSize(), c.records);
        EXPECT_EQ(r.m_nRecords, c.records);
        for (const auto& p : list)
            EXPECT_EQ(p->m_nChannels, 2);  // both records of TwoRecords() have 2
    }
}

TEST(PresetList, LookupIsExactCaseSensitiveAndFirstMatchWins)
{
    CPresetList list;
    list.Add("Rock", SomeValues(1));
    list.Add("rock", SomeValues(2));
    list.Add("Rock", SomeValues(3));
    EXPECT_EQ(list.Find("Rock")->GetValues(), SomeValues(1));
    EXPECT_EQ(list.Find("rock")->GetValues(), SomeValues(2));
    EXPECT_EQ(list.Find("ROCK"), nullptr);
    EXPECT_EQ(list.Find("Roc"), nullptr);

    EXPECT_TRUE(list.Remove("Rock"));
    ASSERT_EQ(list.GetSize(), 2u);
    EXPECT_EQ(list.Find("Rock")->GetValues(), SomeValues(3));
    list.RemoveAt(7);  // out of range: nothing happens
    EXPECT_EQ(list.GetSize(), 2u);
    EXPECT_EQ(list.GetAt(2), nullptr);

    // Names alike in their first 259 bytes stay two presets.
    list.Add(std::string(259, 'q') + "A", SomeValues(4));
    list.Add(std::string(259, 'q') + "B", SomeValues(5));
    EXPECT_EQ(list.Find(std::string(259, 'q') + "B")->GetValues(), SomeValues(5));
}
