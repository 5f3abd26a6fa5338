// The splitter's settings: stored-form conversions, range checks with their messages,
// the error flag, and the values derived for detection.
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <string>

namespace {

const char kGapSizeError[] = "Gap size is not between 0.01 and 5 seconds.\n";
const char kGapLevelError[] = "Gap level is not between -6 and -144 dB.\n";
const char kMinSongError[] = "Minimum song size is not between 1 and 200 seconds.\n";
const char kEndGapError[] = "End gap is not between 1 and 30 seconds.\n";

using Setter = void (CSongSplitter::*)(int32_t);
using Getter = int32_t (CSongSplitter::*)() const;

struct RangeCase {
    const char* name;
    Setter set;
    int32_t position;
    const char* error;  // nullptr when the value passes
};

class RangeCheck : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeCheck, Setter_ReportsExactlyTheValuesOutsideItsRange)
{
    const RangeCase& c = GetParam();
    CSongSplitter splitter;
    (splitter.*c.set)(c.position);
    if (c.error == nullptr) {
        EXPECT_EQ(0, splitter.HasError()) << c.name << " " << c.position;
        EXPECT_STREQ("No error", splitter.GetErrorText());
    } else {
        EXPECT_EQ(1, splitter.HasError()) << c.name << " " << c.position;
        EXPECT_STREQ(c.error, splitter.GetErrorText());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, RangeCheck,
    ::testing::Values(RangeCase{"gap size 1 s", &CSongSplitter::SetGapSize, -1764, nullptr},
                      RangeCase{"gap size 5.0006 s", &CSongSplitter::SetGapSize, -8821, kGapSizeError},
                      RangeCase{"gap size 0.0102 s", &CSongSplitter::SetGapSize, -18, nullptr},
                      RangeCase{"gap size 0.0096 s", &CSongSplitter::SetGapSize, -17, kGapSizeError},
                      RangeCase{"gap size negative", &CSongSplitter::SetGapSize, 1764, kGapSizeError},
                      RangeCase{"gap level -35 dB", &CSongSplitter::SetGapLevel, -582, nullptr},
                      RangeCase{"gap level -6.02 dB", &CSongSplitter::SetGapLevel, -16384, nullptr},
                      RangeCase{"gap level 0 dB", &CSongSplitter::SetGapLevel, -32768, kGapLevelError},
                      RangeCase{"gap level -inf", &CSongSplitter::SetGapLevel, 0, kGapLevelError},
                      RangeCase{"gap level NaN", &CSongSplitter::SetGapLevel, 5, kGapLevelError},
                      RangeCase{"min song 0.998 s", &CSongSplitter::SetMinSong, -176, kMinSongError},
                      RangeCase{"min song 1.004 s", &CSongSplitter::SetMinSong, -177, nullptr},
                      RangeCase{"min song 200 s", &CSongSplitter::SetMinSong, -35280, nullptr},
                      RangeCase{"min song 200.006 s", &CSongSplitter::SetMinSong, -35281, kMinSongError},
                      RangeCase{"end gap 5 s", &CSongSplitter::SetEndGap, -882, nullptr},
                      RangeCase{"end gap 30 s", &CSongSplitter::SetEndGap, -5292, nullptr},
                      RangeCase{"end gap 30.006 s", &CSongSplitter::SetEndGap, -5293, kEndGapError},
                      RangeCase{"end gap 0.998 s", &CSongSplitter::SetEndGap, -176, kEndGapError}));

TEST(SplitterSettings, EverySliderPosition_PassesItsRangeCheck)
{
    struct Slider {
        Setter set;
        int32_t min, max;
    };
    const Slider sliders[] = {
        {&CSongSplitter::SetGapSize, CSongSplitter::GetGapSizeSliderMin(), CSongSplitter::GetGapSizeSliderMax()},
        {&CSongSplitter::SetGapLevel, CSongSplitter::GetGapLevelSliderMin(), CSongSplitter::GetGapLevelSliderMax()},
        {&CSongSplitter::SetMinSong, CSongSplitter::GetMinSongSliderMin(), CSongSplitter::GetMinSongSliderMax()},
        {&CSongSplitter::SetEndGap, CSongSplitter::GetEndGapSliderMin(), CSongSplitter::GetEndGapSliderMax()},
    };
    CSongSplitter splitter;
    for (const Slider& s : sliders) {
        ASSERT_LT(s.min, s.max);
        for (int32_t p = s.min; p <= s.max; ++p) {
            (splitter.*s.set)(p);
            ASSERT_EQ(0, splitter.HasError()) << p << ": " << splitter.GetErrorText();
        }
    }
}

// Positions travel through presets and the settings file; each must come back as set
// (or, where truncation of the float32 value loses a step, one step short, never more).
TEST(SplitterSettings, SliderEndsAndDefaults_SurviveTheRoundTrip)
{
    struct Rule {
        Setter set;
        Getter get;
        int32_t positions[3];  // slider ends, then the default
        int32_t exact;         // one that must come back without loss; 0 for none
    };
    const Rule rules[] = {
        {&CSongSplitter::SetGapSize, &CSongSplitter::GetGapSize, {-3880, -353, -1764}, -1764},
        {&CSongSplitter::SetGapLevel, &CSongSplitter::GetGapLevel, {-3276, -1, -582}, 0},
        {&CSongSplitter::SetMinSong, &CSongSplitter::GetMinSong, {-21168, -1764, -5293}, -21168},
        {&CSongSplitter::SetEndGap, &CSongSplitter::GetEndGap, {-5292, -882, -1236}, -5292},
    };
    const CSongSplitter fresh;
    CSongSplitter splitter;
    for (const Rule& r : rules) {
        EXPECT_EQ(r.positions[2], (fresh.*r.get)()) << "default";
        for (int32_t p : r.positions) {
            (splitter.*r.set)(p);
            const int32_t back = (splitter.*r.get)();
            EXPECT_TRUE(back == p || back == p + 1) << p << " read back as " << back;
        }
        if (r.exact != 0) {
            (splitter.*r.set)(r.exact);
            EXPECT_EQ(r.exact, (splitter.*r.get)());
        }
    }
}

TEST(SplitterSettings, StoredValues_AreThePhysicalUnitsOfThePosition)
{
    CSongSplitter splitter;
    splitter.SetSamplesPerSec(44100);
    splitter.SetGapSize(-8821);  // 5.0006 s, out of range but stored
    splitter.SetMinSong(-176);   // 0.998 s
    splitter.SetEndGap(-882);    // 5.0000002 s
    splitter.SetGapLevel(-16384);  // -6.02 dB: half of full scale
    splitter.PrepareForRecording();
    EXPECT_EQ(441050, splitter.GetGapSamples());      // 44100 * 5.0005665 * 2
    EXPECT_EQ(88000, splitter.GetMinSongSamples());   // 44100 * 0.997732 * 2 = 88000.0
    EXPECT_EQ(441000, splitter.GetEndGapSamples());   // 44100 * 5.0000002 * 2
    EXPECT_NEAR(16384.0, splitter.GetGapThreshold(), 0.01);
    EXPECT_TRUE(splitter.IsShorterThanEndGap(881999));
    EXPECT_FALSE(splitter.IsShorterThanEndGap(882000));

    splitter.SetGapLevel(-32768);  // 0 dB
    splitter.PrepareForRecording();
    EXPECT_FLOAT_EQ(32768.0f, splitter.GetGapThreshold());
    splitter.SetGapLevel(0);  // minus infinity: every sample is loud
    splitter.PrepareForRecording();
    EXPECT_EQ(0.0f, splitter.GetGapThreshold());
}

TEST(SplitterSettings, DefaultsAt44100_DeriveTheDocumentedCounts)
{
    CSongSplitter splitter;
    EXPECT_EQ(1, splitter.GetDcBlock());
    EXPECT_EQ(1, splitter.GetIgnoreClicks());
    EXPECT_EQ(2, splitter.GetChannels());
    splitter.PrepareForRecording();
    EXPECT_EQ(88200, splitter.GetGapSamples());
    EXPECT_EQ(2646882, splitter.GetMinSongSamples());
    EXPECT_EQ(618282, splitter.GetEndGapSamples());
    EXPECT_NEAR(582.7, splitter.GetGapThreshold(), 0.05);
    // trunc(44100 * 7.01 * 4) = 1236564 bytes of 16-bit stereo
    EXPECT_TRUE(splitter.IsShorterThanEndGap(1236563));
    EXPECT_FALSE(splitter.IsShorterThanEndGap(1236564));

    splitter.SetBitsPerSample(32);
    splitter.PrepareForRecording();
    EXPECT_NEAR(0.017783, splitter.GetGapThreshold(), 1e-6);
    EXPECT_TRUE(splitter.IsShorterThanEndGap(2473128 - 1));
    EXPECT_FALSE(splitter.IsShorterThanEndGap(2473128));
}

TEST(SplitterSettings, ErrorFlag_IsClearedByTheNextOperationButTheTextStays)
{
    CSongSplitter splitter;
    splitter.SetMinSong(-176);
    ASSERT_EQ(1, splitter.HasError());
    EXPECT_NEAR(-176, splitter.GetMinSong(), 1);  // the out-of-range value is in effect
    EXPECT_EQ(0, splitter.HasError());
    EXPECT_STREQ(kMinSongError, splitter.GetErrorText());

    const std::function<void(CSongSplitter&)> operations[] = {
        [](CSongSplitter& s) { s.SetDcBlock(0); },
        [](CSongSplitter& s) { s.SetSamplesPerSec(22050); },
        [](CSongSplitter& s) { s.SetChannels(2); },
        [](CSongSplitter& s) { s.GetEndGap(); },
        [](CSongSplitter& s) { s.PrepareForRecording(); },
        [](CSongSplitter& s) {
            int16_t samples[4] = {};
            int32_t cut = 0, offset = 0, end = 0;
            s.ProcessBuffer(samples, sizeof samples, &cut, &offset, &end);
        },
    };
    for (const auto& op : operations) {
        splitter.SetEndGap(-10);
        ASSERT_EQ(1, splitter.HasError());
        op(splitter);
        EXPECT_EQ(0, splitter.HasError());
        EXPECT_STREQ(kEndGapError, splitter.GetErrorText());
    }
    // A successful setter leaves the text of the last failure.
    splitter.SetGapLevel(-32768);
    splitter.SetGapSize(-1764);
    EXPECT_EQ(0, splitter.HasError());
    EXPECT_STREQ(kGapLevelError, splitter.GetErrorText());
}

// No value reaching the setters may crash or overflow: presets and the settings file
// can hold anything.
TEST(SplitterSettings, ExtremeValues_NeitherCrashNorOverflow)
{
    const int32_t positions[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX};
    const int32_t rates[] = {INT_MIN, -1, 0, 1, INT_MAX};
    const int16_t bits[] = {SHRT_MIN, -16, 0, 8, 16, 24, 32, SHRT_MAX};
    for (int32_t p : positions) {
        for (int32_t rate : rates) {
            for (int16_t b : bits) {
                CSongSplitter s;
                s.SetGapSize(p);
                s.SetGapLevel(p);
                s.SetMinSong(p);
                s.SetEndGap(p);
                s.SetSamplesPerSec(rate);
                s.SetBitsPerSample(b);
                s.SetChannels(b);
                s.GetGapSize();
                s.GetGapLevel();
                s.GetMinSong();
                s.GetEndGap();
                s.PrepareForRecording();
                s.IsShorterThanEndGap(INT64_MAX);
                s.IsShorterThanEndGap(INT64_MIN);
                float samples[8] = {0.5f, -0.5f, 0, 0, 1e30f, -1e30f, 0, 0};
                int32_t cut = 0, offset = -1, end = 0;
                s.ProcessBuffer(samples, sizeof samples, &cut, &offset, &end);
                if (cut) {
                    EXPECT_GE(offset, 0);
                    EXPECT_LT(offset, static_cast<int32_t>(sizeof samples));
                }
            }
        }
    }
    // The huge ones saturate rather than wrap.
    CSongSplitter s;
    s.SetSamplesPerSec(INT_MAX);
    s.SetMinSong(INT_MIN);
    s.PrepareForRecording();
    EXPECT_GT(s.GetMinSongSamples(), 0);
    s.SetGapSize(INT_MIN);
    EXPECT_LE(s.GetGapSize(), -2147000000);
    s.SetGapSize(INT_MAX);
    EXPECT_GE(s.GetGapSize(), 2147000000);
}

}  // namespace
