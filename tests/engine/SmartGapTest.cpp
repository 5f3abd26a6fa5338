// Smart Gap on record noise and on quiet music: clicks and crackle inside a gap count as
// silence, quiet music never does, and where nothing is a click every cut is where the
// gap rule puts it.
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979;
const double kLevel = 0.017783;                      // -35 dB, the default Gap Level
const int64_t kLate = static_cast<int64_t>(0.043 * kRate);  // longest burst of clicks and its hold, frames

using Stereo = std::vector<float>;  // interleaved, full scale 1

void Loud(Stereo& s, double seconds, std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    for (int64_t n = 0; n < static_cast<int64_t>(seconds * kRate); ++n) {
        s.push_back(static_cast<float>(u(rng)));
        s.push_back(static_cast<float>(u(rng)));
    }
}

void Hiss(Stereo& s, double seconds, std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(-0.002, 0.002);  // about -60 dB
    for (int64_t n = 0; n < static_cast<int64_t>(seconds * kRate); ++n) {
        s.push_back(static_cast<float>(u(rng)));
        s.push_back(static_cast<float>(u(rng)));
    }
}

// Appends `seconds` of f(t, channel).
template <typename F>
void Add(Stereo& s, double seconds, F f)
{
    for (int64_t n = 0; n < static_cast<int64_t>(seconds * kRate); ++n) {
        const double t = static_cast<double>(n) / kRate;
        s.push_back(static_cast<float>(f(t, 0)));
        s.push_back(static_cast<float>(f(t, 1)));
    }
}

// A click at `seconds`: `len` samples at `db` dBFS on channel 0, 1, or both (2), its sign
// changing every `period` samples.
void Click(Stereo& s, double seconds, double db, int len, int channel, int period = 1)
{
    const double peak = std::pow(10.0, db / 20);
    const int64_t at = static_cast<int64_t>(seconds * kRate);
    for (int n = 0; n < len; ++n)
        for (int ch = 0; ch < 2; ++ch)
            if (channel == 2 || channel == ch) s[2 * (at + n) + ch] = static_cast<float>((n / period) % 2 ? -peak : peak);
}

// The frame of the first cut the splitter (default settings but Min Song 10 s) reports,
// or -1.
int64_t FirstCut(const Stereo& signal, int32_t smartGap)
{
    CSongSplitter splitter;
    splitter.SetBitsPerSample(32);
    splitter.SetIgnoreClicks(smartGap);
    splitter.SetMinSong(-1764);
    splitter.PrepareForRecording();
    Stereo buf;
    const size_t perBuffer = 8192;
    for (size_t at = 0; at < signal.size(); at += perBuffer) {
        buf.assign(signal.begin() + at, signal.begin() + std::min(signal.size(), at + perBuffer));
        int32_t cut = 0, offset = 0, end = 0;
        splitter.ProcessBuffer(buf.data(), static_cast<int32_t>(buf.size() * 4), &cut, &offset, &end);
        if (cut) return static_cast<int64_t>(at / 2) + offset / 8;
    }
    return -1;
}

struct Case {
    std::string name;
    Stereo clean;       // without clicks
    Stereo withClicks;  // the same with the clicks put in (a copy of clean when there are none)
    bool cutExpected;
};

// Every case: 11 s of song, then what the case is about, then song again or a gap.
std::vector<Case> Cases()
{
    std::vector<Case> cases;
    std::mt19937 rng(10);
    auto gapWithClicks = [&](const std::string& name, auto clicks) {
        Case c{name, {}, {}, true};
        Loud(c.clean, 11, rng);
        Hiss(c.clean, 3, rng);
        Loud(c.clean, 1, rng);
        c.withClicks = c.clean;
        clicks(c.withClicks);
        cases.push_back(c);
    };
    gapWithClicks("TwoThreeSampleClicks", [](Stereo& s) { Click(s, 11.3, -12, 3, 2), Click(s, 12.2, -12, 3, 2); });
    gapWithClicks("FullScaleClickJustBeforeTheCut", [](Stereo& s) { Click(s, 11.995, 0, 2, 2); });
    gapWithClicks("LeftOnlyAndRightOnlyClicks", [](Stereo& s) {
        for (int k = 0; k < 12; ++k) Click(s, 11.1 + 0.23 * k, -3 - 2 * k, 1 + k % 5, k % 2);
    });
    gapWithClicks("FourMillisecondClickAtMinus24dB", [](Stereo& s) { Click(s, 11.6, -24, 176, 2, 7); });
    gapWithClicks("DenseCrackle", [&](Stereo& s) {
        std::uniform_real_distribution<double> when(11.05, 13.95), db(-24, -3);
        for (int k = 0; k < 25; ++k) Click(s, when(rng), db(rng), 1 + k % 8, k % 3);
    });

    auto quietMusic = [&](const std::string& name, auto music) {
        Case c{name, {}, {}, false};
        Loud(c.clean, 11, rng);
        music(c.clean);
        Loud(c.clean, 1, rng);
        c.withClicks = c.clean;
        cases.push_back(c);
    };
    // A low note dips below Gap Level near every zero crossing, its peaks 1.2 and 2.4
    // times the level once DC Block has thinned it.
    for (double over : {1.5, 3.0})
        quietMusic("LowNote" + std::to_string(static_cast<int>(over * 10)), [over](Stereo& s) {
            Add(s, 5, [over](double t, int) { return over * kLevel * std::sin(2 * kPi * 82.4 * t); });
        });
    quietMusic("SoftPassage", [&](Stereo& s) {
        std::uniform_real_distribution<double> u(-1, 1);
        Add(s, 5, [&](double t, int) { return 0.03 * std::sin(2 * kPi * 330 * t) + 0.01 * u(rng); });
    });
    quietMusic("LongFadeIntoTheNextSong", [](Stereo& s) {  // -8 dB to -33 dB over 8 s
        Add(s, 8, [](double t, int ch) { return 0.4 * std::pow(10.0, -25.0 / 20 * t / 8) * std::sin(2 * kPi * (200 + ch) * t); });
    });
    quietMusic("SoloWithShortPauses", [](Stereo& s) {
        Add(s, 6, [](double t, int) {
            const double since = std::fmod(t, 0.95);  // a plucked note every 0.95 s
            return 0.2 * std::exp(-since / 0.05) * std::sin(2 * kPi * 440 * since);
        });
    });
    quietMusic("BriefPeaksJustAboveTheLevel", [](Stereo& s) {  // 2 ms of each 0.4 s reach 1.8 x the level
        Add(s, 3, [](double t, int) {
            const bool peak = std::fmod(t, 0.4) < 0.002;
            return (0.5 * std::sin(2 * kPi * 200 * t) + (peak ? 1.3 : 0.0) * std::sin(2 * kPi * 1000 * t)) * kLevel;
        });
    });
    quietMusic("DrumHitBetweenPauses", [&](Stereo& s) {
        Hiss(s, 0.7, rng);
        Add(s, 0.3, [](double t, int) { return 0.5 * std::exp(-t / 0.02) * std::sin(2 * kPi * 90 * t); });
        Hiss(s, 0.7, rng);
    });
    return cases;
}

// With Smart Gap on, the cut in a gap with clicks is the cut of the same gap without
// them, late by at most the time it takes to tell a click; quiet music is never cut, and
// without clicks the cut is exactly where it was. With Smart Gap off, clicks end the
// silence as before.
TEST(SmartGap, ClicksAreSilenceAndQuietMusicIsNot)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const int64_t reference = FirstCut(c.clean, 1);
        const int64_t smart = FirstCut(c.withClicks, 1);
        const int64_t songEnd = 11 * kRate;
        if (!c.cutExpected) {
            EXPECT_EQ(-1, smart) << "quiet music was cut at frame " << smart;
            EXPECT_EQ(-1, reference);
            continue;
        }
        ASSERT_GT(reference, songEnd);
        EXPECT_GE(smart, reference);
        EXPECT_LE(smart, reference + kLate);
        EXPECT_LT(smart, 14 * kRate) << "the cut left the gap";
        if (c.withClicks == c.clean) {
            EXPECT_EQ(reference, smart);
        }
        const int64_t off = FirstCut(c.withClicks, 0);
        EXPECT_TRUE(off == -1 || off > reference + kLate) << "Smart Gap off ignored a click";
    }
}

}  // namespace
