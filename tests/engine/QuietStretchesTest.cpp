// Quiet stretches of synthetic streams: exact positions whatever the buffer sizes, the
// order of convincingness, cut placement, and clicks passed over only where they are
// clicks, never across quiet music.
#include "engine/QuietStretches.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const int32_t kRate = 8000;
const float kThreshold = 583.0f;  // -35 dB in 16-bit units

// An interleaved 16-bit stream built piece by piece.
struct Stream {
    std::vector<int16_t> s;
    int64_t Frames() const { return static_cast<int64_t>(s.size() / 2); }
    Stream& Loud(int64_t frames)  // a square wave far above the threshold
    {
        for (int64_t f = 0; f < frames; ++f) s.insert(s.end(), 2, static_cast<int16_t>(f % 8 < 4 ? 9000 : -9000));
        return *this;
    }
    Stream& Quiet(int64_t frames, int16_t level)  // alternating +-level on both channels
    {
        for (int64_t f = 0; f < frames; ++f) s.insert(s.end(), 2, static_cast<int16_t>(f % 2 ? level : -level));
        return *this;
    }
    Stream& Click(int64_t frames, int ch)  // full scale on one channel
    {
        for (int64_t f = 0; f < frames; ++f) {
            s.push_back(ch == 0 ? 32767 : 0);
            s.push_back(ch == 1 ? -32768 : 0);
        }
        return *this;
    }
    Stream& Sine(int64_t frames, double freq, double amp)
    {
        for (int64_t f = 0; f < frames; ++f)
            s.insert(s.end(), 2, static_cast<int16_t>(std::lround(amp * std::sin(2 * M_PI * freq * f / kRate))));
        return *this;
    }
};

// A gap of dense crackle: a click every 50 ms, on one channel and then the other.
Stream Crackle()
{
    Stream st;
    st.Quiet(3000, 0);
    for (int i = 0; i < 10; ++i) st.Click(2, 0).Click(1, 1).Quiet(400, 30);
    return st.Quiet(3000, 0);
}

CQuietStretches Analyse(const Stream& st, bool bPassBursts, size_t nChunkSamples)
{
    CQuietStretches::Config c;
    c.nRate = kRate;
    c.fThreshold = kThreshold;
    c.bPassBursts = bPassBursts;
    CQuietStretches q(c);
    for (size_t i = 0; i < st.s.size(); i += nChunkSamples) {
        size_t n = std::min(nChunkSamples, st.s.size() - i);
        q.Feed(st.s.data() + i, static_cast<int32_t>(n * 2));
    }
    q.Finish();
    return q;
}

}  // namespace

TEST(QuietStretchesTest, StretchesAreExactAndRankedLongestThenQuietest)
{
    Stream st;
    st.Quiet(900, 0).Loud(4000).Quiet(9600, 100).Loud(4000).Quiet(5600, 0).Loud(4000).Quiet(5600, 400).Loud(4000)
        .Quiet(200, 0).Loud(3000).Quiet(3000, 0);
    // Buffers of odd sample counts split frames between buffers; the result is the same.
    for (size_t nChunk : {size_t(3), size_t(4096), st.s.size()}) {
        SCOPED_TRACE(nChunk);
        CQuietStretches q = Analyse(st, false, nChunk);
        const std::vector<QuietStretch>& all = q.Stretches();
        ASSERT_EQ(all.size(), 5u);  // the 200-frame pause is too short to keep
        EXPECT_TRUE(all[0].bLeading);
        EXPECT_EQ(all[0].nLength, 900);
        EXPECT_TRUE(all[4].bTrailing);
        EXPECT_EQ(all[1].nStart, 4900);
        EXPECT_EQ(all[1].nLength, 9600);
        EXPECT_EQ(all[1].nSamples, 19200);
        EXPECT_FLOAT_EQ(all[1].fLoudest, 100.0f / 32768.0f);
        EXPECT_EQ(q.FirstLoudFrame(), 900);
        EXPECT_EQ(q.LastLoudFrame(), st.Frames() - 3001);

        std::vector<QuietStretch> best = q.MostConvincing(5);
        ASSERT_EQ(best.size(), 3u);  // the leading and trailing silences are not gaps
        EXPECT_EQ(best[0].nStart, all[1].nStart);
        EXPECT_EQ(best[1].nStart, all[2].nStart);  // as long as the next one, but quieter
        EXPECT_EQ(best[2].nStart, all[3].nStart);

        QuietStretch found;
        EXPECT_TRUE(q.MostConvincingWithin(all[3].nStart - 100, all[3].nStart + 1, &found));
        EXPECT_EQ(found.nStart, all[3].nStart);
        EXPECT_FALSE(q.MostConvincingWithin(0, 800, &found));  // only the leading silence is there
    }

    // Cuts: Gap Size after the last loud sample, or the middle of a shorter stretch; a
    // stretch too close to a chosen cut or to an end is passed over.
    CQuietStretches q = Analyse(st, false, 4096);
    const QuietStretch& gap = q.Stretches()[1];
    EXPECT_EQ(CQuietStretches::CutFrame(gap, 2 * 8000), 4900 + 7999);
    EXPECT_EQ(CQuietStretches::CutFrame(gap, 2 * 20000), 4900 + 9600 / 2);
    EXPECT_EQ(q.ChooseCuts(3, 4000, 2 * 6000), (std::vector<int64_t>{4900 + 5999, 18500 + 5600 / 2, 28100 + 5600 / 2}));
    EXPECT_EQ(q.ChooseCuts(3, 10000, 2 * 6000).size(), 2u);

    // A stretch of exactly the shortest length kept (50 ms) is kept; one frame less is not.
    Stream edge;
    edge.Loud(1000).Quiet(400, 0).Loud(1000).Quiet(399, 0).Loud(1000);
    const std::vector<QuietStretch> kept = Analyse(edge, false, 4096).Stretches();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].nStart, 1000);
    EXPECT_EQ(kept[0].nLength, 400);

    // The level inside a stretch leaves out where sound fades in and out.
    Stream faded;
    faded.Loud(2000).Quiet(40, 500).Quiet(4000, 20).Quiet(40, 500).Loud(2000);
    const QuietStretch inside = Analyse(faded, false, 4096).MostConvincing(1).at(0);
    EXPECT_FLOAT_EQ(inside.fLoudest, 500.0f / 32768.0f);
    EXPECT_FLOAT_EQ(inside.fLoudestInside, 20.0f / 32768.0f);
}

TEST(QuietStretchesTest, ClicksArePassedOverOnlyWhenAskedAndNeverQuietMusic)
{
    struct Case {
        const char* szWhat;
        Stream middle;           // between two loud passages
        bool bPass;
        int64_t nLongest;        // frames of the longest stretch between sounds; 0 = none
    };
    const std::vector<Case> cases = {
        {"gap with two clicks, Smart Gap", Stream().Quiet(4000, 50).Click(3, 0).Quiet(3000, 50).Click(2, 1).Click(1, 0)
                                               .Quiet(2000, 50), true, 9006},
        {"same gap, Smart Gap off", Stream().Quiet(4000, 50).Click(3, 0).Quiet(3000, 50).Click(2, 1).Click(1, 0)
                                        .Quiet(2000, 50), false, 4000},
        {"a burst too long for a click", Stream().Quiet(4000, 0).Click(40, 0).Quiet(4000, 0), true, 4000},
        {"crackle on both channels", Crackle(), true, 10030},
        {"a bass note just above the level", Stream().Sine(16000, 40, kThreshold * 1.02), true, 0},
        {"a soft passage", Stream().Sine(16000, 440, kThreshold * 3), true, 0},
        {"a drum hit after a pause", Stream().Quiet(4000, 0).Sine(400, 120, 20000).Sine(4000, 120, 2000), true, 4001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        Stream st;
        st.Loud(2000);
        st.s.insert(st.s.end(), c.middle.s.begin(), c.middle.s.end());
        st.Loud(2000);
        std::vector<QuietStretch> best = Analyse(st, c.bPass, 1000).MostConvincing(1);
        EXPECT_EQ(best.empty() ? 0 : best[0].nLength, c.nLongest);
    }
}

// Judging a short block at a time finds what judging every sample finds: random streams of
// sound, pauses, faint hiss, clicks and (float) samples that are not numbers, fed
// in random buffer sizes, at both bit depths, with clicks passed over or not.
TEST(QuietStretchesTest, BlockwiseJudgingMatchesSampleBySample)
{
    uint64_t nSeed = 0x2545F4914F6CDD1DULL;
    auto random = [&nSeed](int64_t n) {  // 0 .. n-1
        nSeed ^= nSeed << 13;
        nSeed ^= nSeed >> 7;
        nSeed ^= nSeed << 17;
        return static_cast<int64_t>(nSeed % static_cast<uint64_t>(n));
    };
    for (int nRound = 0; nRound < 24; ++nRound) {
        const bool bFloat = nRound % 2 == 1;
        const bool bPass = nRound % 4 >= 2;
        SCOPED_TRACE(testing::Message() << "round " << nRound);
        // Pieces of random kinds and lengths around the block, the burst and the edge sizes.
        std::vector<float> v;  // in 16-bit units
        while (v.size() < 60000) {
            const int64_t nKind = random(7);
            const int64_t nLength = nKind == 3 ? 800 + random(6000) : 1 + random(nKind >= 4 ? 200 : 6000);
            for (int64_t k = 0; k < nLength; ++k) {
                float f = 0;
                if (nKind == 0) f = static_cast<float>(random(2 * 583 + 1) - 583);  // quiet, up to the level
                else if (nKind <= 2) f = static_cast<float>(random(61) - 30);       // hiss
                else if (nKind == 3) f = k >= 400 && k <= 400 + nLength % 3 ? 30000.0f : static_cast<float>(random(9));  // a click in hiss
                else if (nKind == 4) f = static_cast<float>(random(20000) - 10000);  // sound
                else if (nKind == 5) {  // about the level, and the loudest negative sample
                    const float edges[] = {584.0f, -584.0f, 583.0f, -583.0f, 582.0f, -32768.0f};
                    f = edges[random(6)];
                }
                else f = static_cast<float>(k % 3 == 0 ? random(4000) : random(400));  // quiet music
                v.push_back(f);
            }
            if (bFloat && random(40) == 0) v.push_back(std::nanf(""));
        }
        std::vector<int16_t> s16;
        std::vector<float> sf;
        for (float f : v) {
            s16.push_back(static_cast<int16_t>(std::isnan(f) ? 0 : f));
            sf.push_back(f / 32768.0f);
        }
        CQuietStretches::Config c;
        c.nRate = kRate;
        c.nBitsPerSample = bFloat ? 32 : 16;
        const float fThreshold = nRound % 3 == 2 ? 582.5f : kThreshold;  // between two sample values, or on one
        c.fThreshold = bFloat ? fThreshold / 32768.0f : fThreshold;
        c.bPassBursts = bPass;
        CQuietStretches fast(c), plain(c);
        plain.UsePlainLoop(true);
        const unsigned char* pBytes = bFloat ? reinterpret_cast<const unsigned char*>(sf.data())
                                             : reinterpret_cast<const unsigned char*>(s16.data());
        const size_t nSampleBytes = bFloat ? 4 : 2;
        const size_t nBytes = v.size() * nSampleBytes;
        for (size_t i = 0; i < nBytes;) {
            const size_t n = std::min(nBytes - i, nSampleBytes * static_cast<size_t>(1 + random(4000)));
            fast.Feed(pBytes + i, static_cast<int32_t>(n));
            plain.Feed(pBytes + i, static_cast<int32_t>(n));
            i += n;
        }
        fast.Finish();
        plain.Finish();
        ASSERT_EQ(fast.Stretches().size(), plain.Stretches().size());
        EXPECT_GT(plain.Stretches().size(), 2u);
        int nBursts = 0;
        for (const QuietStretch& st : plain.Stretches()) nBursts += st.nBursts;
        EXPECT_EQ(nBursts > 0, bPass);
        for (size_t k = 0; k < plain.Stretches().size(); ++k) {
            const QuietStretch &a = fast.Stretches()[k], &b = plain.Stretches()[k];
            SCOPED_TRACE(k);
            EXPECT_EQ(a.nFirstSample, b.nFirstSample);
            EXPECT_EQ(a.nSamples, b.nSamples);
            EXPECT_EQ(a.nStart, b.nStart);
            EXPECT_EQ(a.nLength, b.nLength);
            EXPECT_EQ(a.fLoudest, b.fLoudest);
            EXPECT_EQ(a.fLoudestInside, b.fLoudestInside);
            EXPECT_EQ(a.nBursts, b.nBursts);
            EXPECT_EQ(a.bLeading, b.bLeading);
            EXPECT_EQ(a.bTrailing, b.bTrailing);
        }
        EXPECT_EQ(fast.FirstLoudFrame(), plain.FirstLoudFrame());
        EXPECT_EQ(fast.LastLoudFrame(), plain.LastLoudFrame());
    }
}
