// The declicker: clicks found and restored, music left alone bit for bit, and the output
// independent of how the stream is cut into blocks.
#include "engine/Declicker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

struct Result {
    std::vector<float> y;
    std::vector<uint8_t> marks;
};

Result Declick(const std::vector<float>& x, int channels, size_t block,
           CDeclickLevel level = CDeclickLevel::Normal)
{
    CDeclicker d(channels, 44100, level);
    Result r;
    r.y.resize(x.size());
    r.marks.resize(x.size());
    const size_t frames = x.size() / static_cast<size_t>(channels);
    size_t done = 0;
    for (size_t i = 0; i < frames; i += block) {
        const size_t n = std::min(block, frames - i);
        done += d.Process(&x[i * channels], n, &r.y[done * channels], &r.marks[done * channels]);
    }
    done += d.Finish(&r.y[done * channels], &r.marks[done * channels]);
    EXPECT_EQ(frames, done);
    return r;
}

// Two tones and a little noise, mono.
std::vector<float> Music(size_t n, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.0005f);
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(0.3 * std::sin(2 * kPi * 440 * i / 44100.0) +
                                  0.15 * std::sin(2 * kPi * 1234.5 * i / 44100.0)) + noise(rng);
    return x;
}

// White noise through a two-pole resonance: rough playing, brushes, breath.
struct Resonance {
    double a1, a2;
    double s1 = 0, s2 = 0;
    double operator()(double v)
    {
        const double s = a1 * s1 + a2 * s2 + v;
        s2 = s1, s1 = s;
        return s;
    }
};

}  // namespace

// A click of 1 to 30 samples inside the music, also across the edges of the
// declicker's analysis steps and at the very start and end of the stream: every click
// sample is marked, nothing far from it is, and the repaired samples lie within -40 dBFS
// of the clean ones (the noise in the music is at -66 dBFS).
TEST(Declicker, Click_IsFoundAndRestored_WhereverItFalls)
{
    const size_t n = 44100;
    const std::vector<float> clean = Music(n);
    const int64_t step = CDeclicker::kStep;
    struct Case { int64_t pos; int len; float amp; };
    const Case cases[] = {
        {20000, 1, 0.1f},  {20000, 30, 0.5f},  {10 * step - 1, 1, 0.3f}, {10 * step, 4, -0.3f},
        {10 * step - 12, 25, 0.7f}, {11 * step - 3, 6, -0.06f}, {300, 3, 0.4f},
        {static_cast<int64_t>(n) - 200, 8, 0.4f},
        // Faint ticks (-40 dBFS) whose prediction error peaks after them one way round and
        // before them the other way, as in closely predicted music, and fainter ones (-46
        // dBFS, ten times the noise) whose error stays below the level that starts a click.
        {10000, 1, 0.01f}, {15001, 1, 0.01f}, {10000, 1, 0.005f}, {20002, 1, 0.005f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "click at " << c.pos << ", " << c.len << " samples");
        std::vector<float> x = clean;
        for (int i = 0; i < c.len; ++i)
            x[c.pos + i] += c.amp * static_cast<float>(std::exp(-i / 8.0) * (i % 2 ? -0.7 : 1.0));
        const Result r = Declick(x, 1, 4096);
        double worst = 0;
        for (size_t i = 0; i < n; ++i) {
            const bool inClick = static_cast<int64_t>(i) >= c.pos && static_cast<int64_t>(i) < c.pos + c.len;
            const bool nearClick = static_cast<int64_t>(i) >= c.pos - 16 && static_cast<int64_t>(i) < c.pos + c.len + 32;
            if (inClick) {
                EXPECT_TRUE(r.marks[i]) << i;
            }
            if (!nearClick) {
                EXPECT_FALSE(r.marks[i]) << i;
            }
            if (r.marks[i]) {
                worst = std::max(worst, std::fabs(static_cast<double>(r.y[i]) - clean[i]));
            } else {
                ASSERT_EQ(x[i], r.y[i]) << i;
            }
        }
        EXPECT_LT(20 * std::log10(worst + 1e-12), -40.0);
    }
}

// Decaying bursts of random-sign samples (a peak, then a tail falling to a twentieth), of
// 5 to 21 samples: the repair leaves at least 30 dB less error than the burst brought, and
// the music beside the burst comes out bit for bit (interpolating clean samples along with
// the burst smears the music there). So too where a one-sample click follows the burst
// within the reach of the predictor that restores a long run (60 samples after a burst of 7,
// 150 after one of 12): that run is restored all the same, and the click too.
TEST(Declicker, DecayingBurst_IsRestoredWithoutTheMusicBesideIt)
{
    const size_t n = 44100;
    const std::vector<float> clean = Music(n);
    struct Case { int64_t pos; int len; double amp; unsigned seed; int64_t click; };  // click: after the burst, 0 none
    const Case cases[] = {{10000, 5, 0.38, 1, 0},   {12345, 12, 0.19, 2, 0},  {20000, 17, 0.12, 3, 0},
                          {30001, 21, 0.23, 4, 0},  {24000, 7, 0.3, 5, 60},   {35000, 12, 0.19, 2, 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "burst at " << c.pos << ", " << c.len << " samples");
        std::mt19937 rng(c.seed);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::vector<float> x = clean;
        for (int i = 0; i < c.len; ++i)
            x[c.pos + i] += static_cast<float>(c.amp * (i == 0 ? 1.0 : u(rng)) * std::exp(-3.0 * i / c.len));
        const int64_t click = c.pos + c.len - 1 + c.click;
        if (c.click) x[click] += 0.3f;
        const Result r = Declick(x, 1, 4096);
        double in = 0, out = 0;
        for (size_t i = 0; i < n; ++i) {
            in += (x[i] - clean[i]) * (x[i] - clean[i]);
            out += (r.y[i] - clean[i]) * (r.y[i] - clean[i]);
            const bool inBurst = static_cast<int64_t>(i) >= c.pos && static_cast<int64_t>(i) < c.pos + c.len;
            const bool nearClick = c.click && static_cast<int64_t>(i) >= click - 1 && static_cast<int64_t>(i) <= click + 2;
            if (!inBurst && !nearClick) {
                ASSERT_EQ(x[i], r.y[i]) << i;
            }
        }
        EXPECT_GT(10 * std::log10(in / out), 30.0);
    }
}

namespace {

// A chord of four notes with ten harmonics each (more lines than a short predictor
// follows) over noise, and a bass of fifteen harmonics at 82.4 Hz under it when bBass.
std::vector<float> ChordMusic(size_t n, unsigned seed, double noise, bool bBass)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, noise);
    std::vector<float> music(n);
    for (size_t i = 0; i < n; ++i) {
        double v = g(rng);
        for (double f0 : {196.0, 246.9, 293.7, 392.0})
            for (int h = 1; h <= 10; ++h) v += 0.03 / h * std::sin(2 * kPi * f0 * h * i / 44100.0 + h);
        if (bBass)
            for (int h = 1; h <= 15; ++h) v += 0.25 / h * std::sin(2 * kPi * 82.4 * h * i / 44100.0 + 0.7 * h);
        music[i] = static_cast<float>(v);
    }
    return music;
}

// The music with a decaying burst of random-sign samples at pos, at 0.2 to start with.
std::vector<float> WithBurst(std::vector<float> x, size_t pos, int len)
{
    std::mt19937 rng(static_cast<unsigned>(len * 10 + 1));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < len; ++i) x[pos + i] += static_cast<float>(0.2 * (i == 0 ? 1.0 : u(rng)) * std::exp(-3.0 * i / len));
    return x;
}

}  // namespace

// Bursts of 18 and 20 samples in a chord: the repair leaves at least 12 dB less error than
// the burst brought.
TEST(Declicker, LongBurstInAChord_IsRestored)
{
    const size_t n = 44100, pos = 20000;
    const std::vector<float> chord = ChordMusic(n, 5, 0.0005, false);
    for (int len : {18, 20}) {
        const std::vector<float> x = WithBurst(chord, pos, len);
        const Result r = Declick(x, 1, 4096);
        double in = 0, out = 0;
        for (size_t i = 0; i < n; ++i) {
            in += (x[i] - chord[i]) * (x[i] - chord[i]);
            out += (r.y[i] - chord[i]) * (r.y[i] - chord[i]);
        }
        EXPECT_GT(10 * std::log10(in / out), 12.0) << len << " samples";
    }
}

// Bursts of 14, 18 and 22 samples over a bass (82.4 Hz, fifteen harmonics) under the same
// chord: the restored run must follow the bass's swing, not miss it by a smooth one-signed
// error along the run; together the repairs leave at least 14 dB less error than the
// bursts brought (a predictor of too short a reach leaves about 10).
TEST(Declicker, LongBurstOverABass_FollowsItsSwing)
{
    const size_t n = 44100, pos = 20000;
    const std::vector<float> music = ChordMusic(n, 7, 0.002, true);
    double in = 0, out = 0;
    for (int len : {14, 18, 22}) {
        const std::vector<float> x = WithBurst(music, pos, len);
        const Result r = Declick(x, 1, 4096);
        for (size_t i = 0; i < n; ++i) {
            in += (x[i] - music[i]) * (x[i] - music[i]);
            out += (r.y[i] - music[i]) * (r.y[i] - music[i]);
        }
    }
    EXPECT_GT(10 * std::log10(in / out), 14.0);
}

// Crackle in noisy playing: a one-sample tick every 997 samples (41 of them) at 6 times
// the playing's white part (faint, below the level that starts a click) or at 14 times
// (over it, yet gaining less over the errors around it than a longer click must): at
// least 8 or 30 are found. Ticks of two samples, the second half the first, at 30 times
// are all found whole, though the second sample hides the first one's backward error and
// the playing's own error adds to what restoring changes. Nothing but the ticks and the
// samples beside them changes, and few of those beside them are restored along (restoring
// bright playing costs more than a faint tick).
TEST(Declicker, CrackleInNoisyPlaying_IsFound)
{
    const size_t n = 44100;
    struct Row { double size; unsigned minFound; double second; };
    for (auto [size, minFound, second] : {Row{6.0, 8u, 0.0}, Row{14.0, 30u, 0.0}, Row{30.0, 82u, 0.5}}) {
        std::mt19937 rng(12);
        std::normal_distribution<double> g(0.0, 1.0);
        std::vector<float> x(n);
        Resonance playing{1.6, -0.9};
        for (size_t i = 0; i < n; ++i) {
            const double s = playing(g(rng));
            x[i] = static_cast<float>(0.005 * s + 0.015 * g(rng));
        }
        std::vector<float> y = x;
        for (size_t p = 2000; p + 2000 < n; p += 997) {
            y[p] += static_cast<float>((p % 2 ? -1 : 1) * size * 0.015);
            if (second > 0) y[p + 1] += static_cast<float>((p % 2 ? -1 : 1) * second * size * 0.015);
        }
        const Result r = Declick(y, 1, 4096);
        size_t found = 0, marked = 0;
        for (size_t i = 0; i < n; ++i) {
            found += r.marks[i] && y[i] != x[i];
            marked += r.marks[i];
            const bool nearTick = i % 997 >= 2000 % 997 - 1 && i % 997 <= 2000 % 997 + 2;
            if (!nearTick) {
                ASSERT_EQ(y[i], r.y[i]) << i;
            }
        }
        EXPECT_GE(found, minFound) << "ticks at " << size << " times the white part";
        EXPECT_LE(2 * marked, 3 * found) << "ticks at " << size << " times the white part";
    }
}

// A wide scratch pop (a smooth pulse of 20 samples at -8 dBFS, no single sample of it
// standing out from the music's own prediction error) in music with a noise floor at -50
// dBFS, inside a step and across a step's edge, and in soft playing 10 samples before a
// low thump (a smooth swing of 120 samples at -6 dBFS: the music swings far wider just
// beyond the pop than under it): every pop sample is marked and the repaired samples lie
// within -40 dBFS of the clean ones (-28 dBFS where the thump follows so closely).
TEST(Declicker, WidePop_IsFoundAndRestored)
{
    const size_t n = 44100;
    struct Case { int64_t pos; double noise, tones, thump, limit; };
    for (const Case& c : {Case{20000, 0.003, 1, 0, -40}, Case{30 * CDeclicker::kStep - 9, 0.002, 1, 0, -40},
                          Case{20000, 0.002, 0.08, -0.5, -28}}) {
        SCOPED_TRACE(testing::Message() << "pop at " << c.pos);
        std::mt19937 rng(5);
        std::normal_distribution<double> g(0.0, c.noise);
        std::vector<float> clean(n);
        for (size_t i = 0; i < n; ++i)
            clean[i] = static_cast<float>(c.tones * (0.3 * std::sin(2 * kPi * 440 * i / 44100.0) +
                                                     0.15 * std::sin(2 * kPi * 1234.5 * i / 44100.0)) +
                                          (i >= 20030 && i < 20150 ? c.thump * std::sin(kPi * (i - 20030) / 120.0) : 0) +
                                          g(rng));
        std::vector<float> x = clean;
        for (int i = 0; i < 20; ++i) x[c.pos + i] += static_cast<float>(0.4 * std::sin(kPi * (i + 0.5) / 20));
        const Result r = Declick(x, 1, 4096);
        double worst = 0;
        for (size_t i = 0; i < n; ++i) {
            if (static_cast<int64_t>(i) >= c.pos && static_cast<int64_t>(i) < c.pos + 20) {
                EXPECT_TRUE(r.marks[i]) << i;
            }
            worst = std::max(worst, std::fabs(static_cast<double>(r.y[i]) - clean[i]));
        }
        EXPECT_LT(20 * std::log10(worst), c.limit);
    }
}

// A scratch pop that rings as it fades (a smooth pulse with a ripple that grows towards
// its end, at -16.5 dBFS in soft playing) is taken whole, though the span that gains most
// stops a sample or two short of its ringing tail: every pop sample is marked and the
// repaired samples lie within -30 dBFS of the clean ones.
TEST(Declicker, RingingPop_IsTakenWhole)
{
    const size_t n = 44100, pos = 20000;
    for (int width : {20, 26, 30}) {
        SCOPED_TRACE(testing::Message() << "pop of " << width << " samples");
        std::mt19937 rng(1);
        std::normal_distribution<double> g(0.0, 0.003);
        std::vector<float> clean(n);
        for (size_t i = 0; i < n; ++i)
            clean[i] = static_cast<float>(0.09 * std::sin(2 * kPi * 440 * i / 44100.0) +
                                          0.045 * std::sin(2 * kPi * 1234.5 * i / 44100.0) + g(rng));
        std::vector<float> x = clean;
        for (int i = 0; i < width; ++i) {
            const double t = (i + 0.5) / width;
            x[pos + i] += static_cast<float>(0.15 * std::sin(kPi * t) * (1 - 0.6 * std::sin(6 * kPi * t) * t));
        }
        const Result r = Declick(x, 1, 4096);
        double worst = 0;
        for (size_t i = pos - 64; i < pos + width + 64; ++i) {
            if (i >= pos && i < pos + width) {
                EXPECT_TRUE(r.marks[i]) << i;
            }
            worst = std::max(worst, std::fabs(static_cast<double>(r.y[i]) - clean[i]));
        }
        EXPECT_LT(20 * std::log10(worst), -30.0);
    }
}

// Under loud bass-heavy playing (a bass line rich in harmonics over a rumbling low
// noise) the short predictor follows a smooth pulse almost as well as the music: pops of
// 24 to 30 samples at -8 to -6 dBFS are still found and restored within -30 dBFS of the
// clean music, while a low note that swells in over 26 samples comes out bit for bit, and so
// does a single cycle of an 800 Hz tone: taking its middle as a pop found in the pop band
// would sag to nothing between the loud half-cycles beside it.
TEST(Declicker, PopUnderLoudBass_IsRestored_AndABassNoteOfItsWidthIsLeftAlone)
{
    const size_t n = 44100, pos = 20000;
    // The 30-sample pop's error summed over a window stays below the level that starts a
    // pop search elsewhere: the bass holds the short predictor's error level up.
    // The 24-sample pop at -8 dBFS gains little more from interpolation over the whole
    // search than music can: it is held to the finer predictor.
    struct Case { double bass; bool pop; int width; double peak; double cycle = 0; };  // cycle: the tone's Hz, 0 a bass note
    for (const Case& c : {Case{55, true, 26, 0.5}, Case{110, true, 26, 0.5}, Case{110, true, 30, 0.5},
                          Case{110, true, 24, 0.4}, Case{55, false, 26, 0}, Case{110, false, 26, 0},
                          Case{70, false, 55, 0.4, 800}}) {
        const int width = c.width;
        SCOPED_TRACE(testing::Message() << (c.pop ? "pop" : c.cycle > 0 ? "tone cycle" : "bass note") << " of " << width
                                        << " samples over a bass at " << c.bass << " Hz");
        std::mt19937 rng(3);
        std::normal_distribution<double> g(0.0, 1.0);
        std::vector<float> clean(n);
        double rumble = 0;
        for (size_t i = 0; i < n; ++i) {
            double v = 0.05 * std::sin(2 * kPi * 660 * i / 44100.0);
            for (int h = 1; h <= 8; ++h) v += 0.4 / h * std::sin(2 * kPi * c.bass * h * i / 44100.0 + h);
            rumble = 0.995 * rumble + 0.02 * g(rng);
            clean[i] = static_cast<float>(0.3 * (v + rumble) + 0.002 * g(rng));
        }
        std::vector<float> x = clean;
        for (size_t i = pos; i < (c.pop || c.cycle > 0 ? pos + width : n); ++i) {
            const double t = (i - pos + 0.5) / width, s = (i - pos) / 44100.0;
            x[i] += static_cast<float>(c.pop         ? c.peak * std::sin(kPi * t) * (1 - 0.5 * std::sin(4 * kPi * t) * t)
                                       : c.cycle > 0 ? c.peak * std::sin(2 * kPi * c.cycle * s)
                                                     : 0.4 * (1 - std::exp(-3.0 * (i - pos) / width)) * std::exp(-8 * s) *
                                                           std::sin(2 * kPi * 41 * s));
        }
        const Result r = Declick(x, 1, 4096);
        if (!c.pop) {
            EXPECT_TRUE(x == r.y);
            continue;
        }
        double worst = 0;
        for (size_t i = pos; i < pos + width; ++i) {
            EXPECT_TRUE(r.marks[i]) << i;
            worst = std::max(worst, std::fabs(static_cast<double>(r.y[i]) - clean[i]));
        }
        EXPECT_LT(20 * std::log10(worst), -30.0);
    }
}

// A loud scratch pop over a bass under rough playing: the predictor follows its body and
// the playing's error hides the rest, but in the pop band it stands far above the music.
// It is restored, also where its error is loud enough for the error-led pop search to look
// at it and refuse it (0.8) and where a tick rides on it (whose error stands out of the
// pop's); without it the music comes out bit for bit.
TEST(Declicker, LoudPopInRoughPlaying_IsFoundInThePopBand)
{
    const size_t n = 44100, pos = 22000;
    const int width = 28;
    for (auto [noise, peak, tick] :
         {std::array{0.015, 0.5, 0.0}, {0.02, 0.6, 0.0}, {0.02, 0.8, 0.0}, {0.015, 0.6, 0.15}, {0.02, 0.0, 0.0}}) {
        SCOPED_TRACE(testing::Message() << "pop of " << peak << " with a tick of " << tick << " in playing at " << noise);
        std::mt19937 rng(5);
        std::normal_distribution<double> g(0.0, 1.0);
        std::vector<float> clean(n);
        Resonance playing{1.2, -0.5};
        for (size_t i = 0; i < n; ++i) {
            const double s = playing(g(rng));
            clean[i] = static_cast<float>(0.3 * std::sin(2 * kPi * 82.4 * i / 44100.0) +
                                          0.15 * std::sin(2 * kPi * 164.8 * i / 44100.0 + 1) + noise * s);
        }
        std::vector<float> x = clean;
        for (int i = 0; i < width; ++i) {
            const double t = (i + 0.5) / width;
            x[pos + i] -= static_cast<float>(peak * std::sin(kPi * t) * (1.0 - 0.6 * std::sin(6 * kPi * t) * t));
        }
        x[pos + 20] += static_cast<float>(tick);
        const Result r = Declick(x, 1, 4096);
        if (peak == 0) {
            EXPECT_TRUE(x == r.y);
            continue;
        }
        double before = 0, after = 0;
        for (size_t i = pos; i < pos + width; ++i) {
            EXPECT_TRUE(r.marks[i]) << i;
            before += (x[i] - clean[i]) * (x[i] - clean[i]);
            after += (r.y[i] - clean[i]) * (r.y[i] - clean[i]);
        }
        EXPECT_GT(10 * std::log10(before / after), 20.0);
    }
}

// Loud onsets are music: a drum hit (noise with a sharp start and a fast decay), a
// plucked string (harmonics with an instant attack) and a kick (a low thump swelling
// within a few samples, its beater a short sharp spike on top) after quiet playing, and a
// kick that sets in at once and falls in pitch from 90 Hz, over a bass and noisy playing,
// come out bit for bit at the light and the normal level.
TEST(Declicker, DrumHitAndPluckedAttack_AreLeftAlone)
{
    const size_t n = 44100;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> drum = Music(n, 3), pluck = Music(n, 4), kick = Music(n, 9), band(n);
    for (auto* v : {&drum, &pluck, &kick})
        for (float& s : *v) s *= 0.05f;
    std::mt19937 rngBand(11);
    std::normal_distribution<double> g(0.0, 1.0);
    double hum = 0;
    for (size_t i = 0; i < n; ++i) {
        hum = 0.98 * hum + 0.0006 * g(rngBand);
        band[i] = static_cast<float>(hum + 0.25 * std::sin(2 * kPi * 55 * i / 44100.0) +
                                     0.1 * std::sin(2 * kPi * 330 * i / 44100.0));
    }
    for (size_t start : {size_t(8000), size_t(20000 - 7), size_t(31000)}) {
        for (size_t i = 0; i < 6000; ++i) {
            const double env = std::exp(-static_cast<double>(i) / 1200.0);
            drum[start + i] += static_cast<float>(0.8 * env * u(rng));
            double p = 0;
            for (int h = 1; h <= 8; ++h)
                p += std::sin(2 * kPi * 196.0 * h * i / 44100.0) / h * std::exp(-static_cast<double>(i) * h / 9000.0);
            pluck[start + i] += static_cast<float>(0.5 * p);
            const double t = i / 44100.0;
            const double thump = (1 - std::exp(-static_cast<double>(i) / 8.0)) * std::exp(-t * 12);
            const double beater = i < 8 ? 0.2 * std::sin(kPi * i / 8.0) * (i % 2 ? 0.6 : 1.0) : 0.0;
            kick[start + i] += static_cast<float>(0.5 * thump * std::sin(2 * kPi * 70 * t + 0.3) + beater);
            const double sweep = 2 * kPi * (50 * t + 40 * (1 - std::exp(-t * 30)) / 30);
            band[start + i] += static_cast<float>(0.8 * (1 - std::exp(-2.0 * i)) * std::exp(-t * 12) * std::sin(sweep) -
                                                  (i < 3 ? 0.05 * std::sin(kPi * i / 3.0) : 0.0));
        }
    }
    for (CDeclickLevel level : {CDeclickLevel::Light, CDeclickLevel::Normal}) {
        for (const auto* x : {&drum, &pluck, &kick, &band}) {
            SCOPED_TRACE(testing::Message() << DeclickLevelName(level)
                                            << (x == &drum ? " drum" : x == &pluck ? " pluck" : x == &kick ? " kick" : " band kick"));
            const Result r = Declick(*x, 1, 1000, level);
            size_t marked = 0;
            for (size_t i = 0; i < n; ++i) marked += r.marks[i];
            EXPECT_EQ(0u, marked);
            EXPECT_TRUE(*x == r.y);
        }
    }
}

// The attack of a struck note (a swing of about 10 samples that rises over two samples and
// swings back the other way, as sharp notes in recorded music often show), on both
// channels over busy playing, is music: no sample changes by more than -30 dBFS. A burst
// of clicks of the same size (as bipolar, but ringing from sample to sample and at its
// peak at once) in the same playing is still restored, and so is a lone one-sample click
// of the same height on one channel, whose restoring moves the sample a little more than
// the error it causes (the playing's own error adds to it).
TEST(Declicker, SharpAttackOnBothChannels_IsLeftAlone_ABurstOfItsSizeIsNot)
{
    const size_t n = 44100;
    std::vector<float> music(2 * n);
    for (int ch = 0; ch < 2; ++ch) {
        std::mt19937 rng(21 + static_cast<unsigned>(ch));
        std::normal_distribution<double> g(0.0, 1.0);
        Resonance rs{1.6, -0.9}, rt{-1.2, -0.8};
        for (size_t i = 0; i < n; ++i) {
            const double v = g(rng);
            const double s = rs(v), t = rt(v);
            music[2 * i + static_cast<size_t>(ch)] =
                static_cast<float>(0.3 * std::sin(2 * kPi * (440 + 110 * ch) * i / 44100.0) +
                                   0.15 * std::sin(2 * kPi * 1234.5 * i / 44100.0) + 0.02 * (0.1 * s + 0.2 * t + 0.3 * g(rng)));
        }
    }
    const size_t first = 5000, apart = 3791, count = 10;
    enum Kind { kAttack, kBurst, kSpike };
    for (Kind kind : {kAttack, kBurst, kSpike}) {
        SCOPED_TRACE(kind == kAttack ? "attack" : kind == kBurst ? "burst" : "spike");
        const bool attack = kind == kAttack;
        std::vector<float> x = music;
        for (size_t pos = first; pos < first + count * apart; pos += apart) {
            if (kind == kSpike) {
                x[2 * pos] += (pos / apart) % 2 ? 0.3f : -0.3f;
                continue;
            }
            for (int k = 0; k < 60; ++k) {
                const double v = attack ? 0.3 * std::sin(kPi * k / 5.0) * std::exp(-k / 6.0)
                                        : (k < 10 ? 0.3 * std::exp(-k / 3.0) * (k % 2 ? -1 : 1) : 0.0);
                x[2 * (pos + static_cast<size_t>(k))] += static_cast<float>(v);
                x[2 * (pos + static_cast<size_t>(k)) + 1] += static_cast<float>(1.4 * v);
            }
        }
        const Result r = Declick(x, 2, 4096);
        double changed = 0;
        size_t restored = 0;
        for (size_t pos = first; pos < first + count * apart; pos += apart) {
            float left[2] = {0, 0};  // the most of the burst left on either channel
            for (size_t k = 2 * (pos - 100); k < 2 * (pos + 100); ++k) {
                changed = std::max(changed, static_cast<double>(std::fabs(r.y[k] - x[k])));
                if (k >= 2 * pos && k < 2 * (pos + 10)) left[k % 2] = std::max(left[k % 2], std::fabs(r.y[k] - music[k]));
            }
            restored += (left[0] < 0.1f) + (left[1] < 0.1f);
        }
        if (attack)
            EXPECT_LT(changed, 0.0316);
        else
            EXPECT_EQ(2 * count, restored);
    }
}

// Level steps over a bass, up and down every 2000 samples, the first sample overshooting
// by a third of the step, are music: few step samples change in three such settings, nor
// in a fourth where the second sample before each step dips against it (a struck note's
// edge, which restoring would smooth into a ramp), nor in a fifth where the dip and an
// overshoot of half the step make such edges of just four samples (3 step samples marked;
// 6 were those edges taken); one-sample ticks of two thirds of a step between them are
// still found, and so are ticks of three steps in that dip's place.
TEST(Declicker, OvershootingLevelStep_IsLeftAlone_ATickBesideItIsNot)
{
    const size_t n = 44100, apart = 2000;
    size_t stepMarked = 0;
    for (auto [step, noise, over, tick, dip] : {std::array{0.03, 0.004, 1.3, 0.0, 0.0}, {0.028, 0.004, 1.35, 0.0, 0.0},
                                                {0.032, 0.0045, 1.35, 0.0, 0.0}, {0.07, 0.004, 1.25, 0.0, 0.6},
                                                {0.07, 0.004, 1.25, 0.0, 3.0}, {0.03, 0.004, 1.3, 0.02, 0.0},
                                                {0.05, 0.004, 1.5, 0.0, 0.6}}) {
        std::mt19937 rng(5);
        std::normal_distribution<double> g(0.0, 1.0);
        std::vector<float> x(n);
        double hum = 0, level = 0;
        for (size_t i = 0; i < n; ++i) {
            hum = 0.95 * hum + noise * g(rng);
            const auto Up = [&](size_t j) { return j >= 3000 && j % apart == 1000 ? (j / apart % 2 ? step : -step) : 0.0; };
            level += Up(i);
            x[i] = static_cast<float>(0.2 * std::sin(2 * kPi * 110 * i / 44100.0) + 0.1 * std::sin(2 * kPi * 237 * i / 44100.0) +
                                      hum + level + (over - 1) * Up(i) - dip * Up(i + 2) + (i >= 3000 && i % apart == 0 ? tick : 0.0));
        }
        const Result r = Declick(x, 1, 4096);
        const bool click = tick != 0 || dip > 1;
        size_t ticks = 0;
        for (size_t i = 3000; i < n; ++i)
            (click ? ticks : stepMarked) += r.marks[i] && (click ? i % apart == (tick != 0 ? 0 : 998) : i % apart - 998 < 8);
        if (click) {
            EXPECT_GE(ticks, tick != 0 ? 12u : 10u) << "ticks beside steps of " << step;
        }
    }
    EXPECT_LE(stepMarked, 14u);
}

// Noisy playing (white noise through two resonances, like brushes or breath) at three
// levels holds no tick, however faint, and neither do stick hits in it (noise at eight
// times its level, dying away within a millisecond or two, which interpolating over 30
// to 40 samples lowers the error of by 40 to 60 times): it comes out bit for bit.
TEST(Declicker, NoisyPlaying_IsLeftAlone)
{
    const size_t n = 44100;
    std::normal_distribution<double> g(0.0, 1.0);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    // Stick hits fading over 7 samples leave spans of just 12 samples that restoring
    // gains more than a short click's but less than a long span's least gain.
    // A swing growing over three samples to its peak (a rim shot's first swing) is no
    // tick, which is at its largest at its first sample.
    struct Row { double level, stick, fade; unsigned seed; double grow = 0; };
    for (Row row : {Row{0.01, 0, 30, 12}, {0.05, 0, 30, 12}, {0.2, 0, 30, 12}, {0.05, 0.4, 30, 12}, {0.05, 0.3, 7, 13}, {0.05, 0, 30, 14, 0.12}}) {
        const auto [level, stick, fade, seed, grow] = row;
        SCOPED_TRACE(testing::Message() << "level " << level << ", stick hits " << stick << " fading over " << fade << ", swings " << grow);
        std::mt19937 rng(seed);
        std::vector<float> x(n);
        Resonance rs{1.6, -0.9}, rt{-1.2, -0.8};
        for (size_t i = 0; i < n; ++i) {
            const double v = g(rng);
            const double s = rs(v), t = rt(v);
            const size_t hit = (i + 2917 - 3000) % 2917;
            x[i] = static_cast<float>(level * (0.1 * s + 0.2 * t + 0.3 * g(rng)) +
                                      (stick > 0 && i >= 3000 ? stick * u(rng) * std::exp(-static_cast<double>(hit) / fade) : 0.0) +
                                      (i >= 3000 && hit < 3 ? grow * std::array{-0.7, 0.3, 1.0}[hit] : 0.0));
        }
        const Result r = Declick(x, 1, 4096);
        EXPECT_TRUE(x == r.y);
    }
}

// A click 16 or 20 samples before a note sets in (the level rises within 10 samples): the
// click is restored (within -28 or -30 dBFS: the closer note leaves less music to fit),
// the onset of the note is not smoothed away with it.
TEST(Declicker, ClickJustBeforeANote_LeavesTheNoteAlone)
{
    const size_t n = 44100, pos = 20000;
    struct Case { size_t gap; float tolerance; };
    for (const Case& c : {Case{16, 0.04f}, Case{20, 0.03f}}) {
        const size_t gap = c.gap;
        SCOPED_TRACE(testing::Message() << "note " << gap << " samples after the click");
        std::vector<float> clean = Music(n, 8);
        for (size_t i = pos + gap; i < n; ++i) {
            const double rise = std::min(1.0, (i - pos - gap) / 10.0);
            clean[i] += static_cast<float>(rise * (0.3 + 0.4 * std::sin(2 * kPi * 300 * i / 44100.0)));
        }
        std::vector<float> x = clean;
        for (int i = 0; i < 5; ++i) x[pos + i] += 0.3f * (i % 2 ? -0.6f : 1.0f) * std::exp(-i / 3.0f);
        const Result r = Declick(x, 1, 4096);
        EXPECT_TRUE(r.marks[pos]);
        for (size_t i = pos + gap - 8; i < n; ++i) ASSERT_EQ(x[i], r.y[i]) << i;
        for (size_t i = pos; i < pos + 5; ++i) EXPECT_LT(std::fabs(r.y[i] - clean[i]), c.tolerance) << i;
    }
}

// Stereo, a click on the left only: the right channel passes untouched, and the output
// is the same bit for bit whether the stream comes in single frames, odd blocks or at once.
TEST(Declicker, Output_DoesNotDependOnBlockSize_AndClicksStayInTheirChannel)
{
    const size_t n = 30000;
    const std::vector<float> left = Music(n, 5), right = Music(n, 6);
    std::vector<float> x(2 * n);
    for (size_t i = 0; i < n; ++i) {
        x[2 * i] = left[i];
        x[2 * i + 1] = right[i];
    }
    for (size_t pos : {size_t(5000), size_t(CDeclicker::kStep * 20 - 2), size_t(17777)})
        for (int i = 0; i < 5; ++i) x[2 * (pos + i)] += 0.4f * (i % 2 ? -1 : 1);
    const Result whole = Declick(x, 2, n);
    const Result single = Declick(x, 2, 1);
    const Result odd = Declick(x, 2, 777);
    EXPECT_TRUE(whole.y == single.y);
    EXPECT_TRUE(whole.y == odd.y);
    EXPECT_TRUE(whole.marks == odd.marks);
    size_t leftMarks = 0;
    for (size_t i = 0; i < n; ++i) {
        leftMarks += whole.marks[2 * i];
        EXPECT_EQ(0, whole.marks[2 * i + 1]);
        EXPECT_EQ(x[2 * i + 1], whole.y[2 * i + 1]);
    }
    EXPECT_GE(leftMarks, 15u);
    EXPECT_LE(leftMarks, 60u);
}

// Each channel is repaired as if it came alone, whatever the number of channels: spikes,
// a decaying burst (widened), a wide pop and two clicks close enough to be restored
// together, at other places in every channel.
TEST(Declicker, EveryChannel_IsRepairedAsIfAlone)
{
    const size_t n = 40000;
    auto Channel = [&](int ch) {
        std::vector<float> x = Music(n, 11 + static_cast<unsigned>(ch));
        const size_t shift = 997 * static_cast<size_t>(ch);
        for (int i = 0; i < 5; ++i) x[4000 + shift + i] += 0.4f * (i % 2 ? -1 : 1);
        for (int i = 0; i < 12; ++i) x[12000 + shift + i] += static_cast<float>(0.5 * std::exp(-i / 4.0) * (i % 2 ? -1 : 1));
        for (int i = 0; i < 24; ++i) x[21000 + shift + i] += static_cast<float>(0.4 * std::sin(kPi * (i + 0.5) / 24));
        x[30000 + shift] += 0.5f;
        x[30010 + shift] -= 0.5f;
        return x;
    };
    for (int channels : {1, 2, 3}) {
        SCOPED_TRACE(channels);
        std::vector<float> x(n * static_cast<size_t>(channels));
        for (int ch = 0; ch < channels; ++ch) {
            const std::vector<float> one = Channel(ch);
            for (size_t i = 0; i < n; ++i) x[i * static_cast<size_t>(channels) + static_cast<size_t>(ch)] = one[i];
        }
        const Result all = Declick(x, channels, 1000);
        for (int ch = 0; ch < channels; ++ch) {
            const Result alone = Declick(Channel(ch), 1, 1000);
            size_t marks = 0, same = 0;
            for (size_t i = 0; i < n; ++i) {
                const size_t k = i * static_cast<size_t>(channels) + static_cast<size_t>(ch);
                same += all.y[k] == alone.y[i] && all.marks[k] == alone.marks[i];
                marks += alone.marks[i];
            }
            EXPECT_EQ(n, same) << "channel " << ch;
            EXPECT_GE(marks, 20u) << "channel " << ch;
        }
    }
}

TEST(Declicker, LevelNames_RoundTrip)
{
    for (CDeclickLevel level : {CDeclickLevel::Light, CDeclickLevel::Normal, CDeclickLevel::Strong}) {
        CDeclickLevel back = CDeclickLevel::Light == level ? CDeclickLevel::Strong : CDeclickLevel::Light;
        EXPECT_TRUE(ParseDeclickLevel(DeclickLevelName(level), back));
        EXPECT_EQ(level, back);
    }
    CDeclickLevel level = CDeclickLevel::Strong;
    EXPECT_FALSE(ParseDeclickLevel("medium", level));
    EXPECT_EQ(CDeclickLevel::Strong, level);
}

