// The click filter's design and recursion, and the DC-block step as the splitter
// applies it to the recorded samples.
#include "engine/BiquadFilter.h"
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

// Steady-state amplitude of a sine of freq Hz through the filter.
double SineGain(CBiquadFilter& filter, double freq, int rate)
{
    double peak = 0;
    const int settle = rate / 10;
    for (int i = 0; i < settle + rate / 10; ++i) {
        const float y = filter.Process(static_cast<float>(std::sin(2 * kPi * freq * i / rate)));
        if (i >= settle) peak = std::max(peak, std::fabs(static_cast<double>(y)));
    }
    return peak;
}

// The stored coefficients are unnormalised; the recursion's division by a0 must give the
// textbook Butterworth response: b = (0.0327713, 0.0655425, 0.0327713),
// a = (1, -1.4266441, 0.5577293) for 2900 Hz at 44100 Hz.
TEST(ClickFilter, LowPass_ImpulseResponseMatchesTheButterworthDesign)
{
    const double K = std::tan(kPi * 2900 / 44100);
    const double n = 1 / (1 + std::sqrt(2.0) * K + K * K);
    const double b0 = K * K * n, b1 = 2 * b0, b2 = b0;
    const double a1 = 2 * (K * K - 1) * n, a2 = (1 - std::sqrt(2.0) * K + K * K) * n;
    EXPECT_NEAR(0.0327713, b0, 1e-7);
    EXPECT_NEAR(-1.4266441, a1, 1e-7);

    CBiquadFilter filter;
    filter.Design("LP", 2900, 44100);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int i = 0; i < 64; ++i) {
        const double x = i == 0 ? 1.0 : 0.0;
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        EXPECT_NEAR(y, filter.Process(static_cast<float>(x)), 2e-4) << "sample " << i;
    }
}

TEST(ClickFilter, LowPass_HasUnityGainAtZeroHertzIsThreeDecibelsDownAtTheCornerAndStopsClicks)
{
    CBiquadFilter filter;
    filter.Design("LP", 2900, 44100);
    ASSERT_EQ(0, filter.HasError());
    float y = 0;
    for (int i = 0; i < 2000; ++i) y = filter.Process(1.0f);
    EXPECT_NEAR(1.0, y, 1e-4);
    filter.Design("LP", 2900, 44100);
    EXPECT_NEAR(std::sqrt(0.5), SineGain(filter, 2900, 44100), 0.01);
    filter.Design("LP", 2900, 44100);
    EXPECT_LT(SineGain(filter, 15000, 44100), 0.02);
    filter.Design("LP", 2900, 44100);
    EXPECT_NEAR(1.0, SineGain(filter, 100, 44100), 0.01);
}

TEST(ClickFilter, HighPass_MirrorsTheLowPassAtHalfTheRateMinusTheCorner)
{
    CBiquadFilter filter;
    filter.Design("HP", 1000, 8000);
    ASSERT_EQ(0, filter.HasError());
    float y = 1;
    for (int i = 0; i < 2000; ++i) y = filter.Process(1.0f);
    EXPECT_NEAR(0.0, y, 1e-4);
    // Nyquist passes; the -3 dB point sits at 4000 - 3000 = 1000 Hz.
    filter.Design("HP", 1000, 8000);
    for (int i = 0; i < 2000; ++i) y = filter.Process(i % 2 ? -1.0f : 1.0f);
    EXPECT_NEAR(1.0, std::fabs(y), 1e-3);
    filter.Design("HP", 1000, 8000);
    EXPECT_NEAR(std::sqrt(0.5), SineGain(filter, 1000, 8000), 0.01);
}

TEST(ClickFilter, UnknownType_SetsTheErrorAndLeavesAFilterThatPassesNothingUseful)
{
    CBiquadFilter filter;
    EXPECT_STREQ("No error", filter.GetErrorText());
    filter.Design("BP", 2900, 44100);
    EXPECT_EQ(1, filter.HasError());
    EXPECT_STREQ("You asked for the filter type, BP, and it does not exist.", filter.GetErrorText());
    filter.Design("lp", 2900, 44100);  // the comparison is case-sensitive
    EXPECT_EQ(1, filter.HasError());
    EXPECT_STREQ("You asked for the filter type, lp, and it does not exist.", filter.GetErrorText());
    filter.Design(nullptr, 2900, 44100);
    EXPECT_EQ(1, filter.HasError());
    filter.Design("LP", 2900, 44100);
    EXPECT_EQ(0, filter.HasError());
    // Nonsense rates and corners design nothing harmful.
    filter.Design("LP", 2900, 0);
    filter.Process(1.0f);
    filter.Design("HP", INT32_MIN, INT32_MAX);
    filter.Process(1.0f);
    filter.Design("HP", INT32_MAX, -8000);
    filter.Process(1.0f);
}

// The DC-block step as it reaches the file: float samples so the values are not
// truncated. Both channels run their own filter.
std::vector<float> DcBlocked(std::vector<float> samples)
{
    CSongSplitter splitter;
    splitter.SetBitsPerSample(32);
    splitter.SetDcBlock(1);
    splitter.SetIgnoreClicks(0);
    splitter.PrepareForRecording();
    int32_t cut = 0, offset = 0, end = 0;
    splitter.ProcessBuffer(samples.data(), static_cast<int32_t>(samples.size() * sizeof(float)), &cut,
                           &offset, &end);
    return samples;
}

// The splitter runs both click filters side by side with a faster division and rounding;
// every output and the state left behind must be the float Process() gives, for signals
// of every size from the smallest normal floats to beyond the float range (infinities,
// then not-a-numbers), at the rates whose designs the splitter uses. Both ways the
// splitter runs the pair: Step() per frame, and a block of StepUnchecked() (with separate
// or, where the processor has them, fused multiplications and additions) that is run
// again with Step() when Exact() says so, with subnormal results flushed to zero as the
// splitter has them.
TEST(ClickFilter, PairOfFilters_GivesTheSameFloatsAsProcess)
{
    uint64_t seed = 0x2545F4914F6CDD1Dull;
    auto random = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    auto bits = [](float v) {
        uint32_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    enum Way { kChecked, kUnchecked, kUncheckedFused };
#if CADENZO_BIQUAD_PAIR_SSE2
    const unsigned savedMode = _mm_getcsr();
    for (const Way way : {kChecked, kUnchecked, kUncheckedFused}) {
#if CADENZO_BIQUAD_PAIR_FUSED
        if (way == kUncheckedFused && !__builtin_cpu_supports("fma")) continue;
#else
        if (way == kUncheckedFused) continue;
#endif
        const bool unchecked = way != kChecked;
        _mm_setcsr(unchecked ? savedMode | 0x8040 : savedMode);  // flush to zero, denormals are zero
#else
    for (const Way way : {kChecked}) {
        const bool unchecked = false;
#endif
        for (const int rate : {44100, 11025, 48000}) {
            CBiquadFilter pairLeft, pairRight, left, right;
            pairLeft.Design("LP", 2900, 44100);
            left.Design("LP", 2900, 44100);
            pairRight.Design("LP", 2900, rate);
            right.Design("LP", 2900, rate);
            const int kBlocks = 60, kFrames = 6000;
            std::vector<float> in(2 * kFrames), out(2 * kFrames);
            for (int b = 0; b < kBlocks; ++b) {
                // Each block at another scale, the last ones far beyond the float range.
                const int exponent = b >= kBlocks - 3 ? 100 : static_cast<int>(random() % 160) - 130;
                auto scaled = [exponent](double v) { return static_cast<float>(std::ldexp(v, exponent)); };
                for (int f = 0; f < kFrames; ++f) {
                    in[2 * f] = scaled(static_cast<int32_t>(random() >> 40) - (1 << 23));
                    in[2 * f + 1] = f % 1000 < 500 ? 0.0f : scaled(static_cast<double>(random() >> 41));
                }
                CBiquadPair pair(pairLeft, pairRight);
                bool stepped = false;
#if CADENZO_BIQUAD_PAIR_SSE2
                if (unchecked) {
                    const CBiquadPair::Saved start = pair.Begin();
                    for (int f = 0; f < kFrames; ++f) {
                        const __m128 frame = _mm_setr_ps(in[2 * f], in[2 * f + 1], 0, 0);
#if CADENZO_BIQUAD_PAIR_FUSED
                        if (way == kUncheckedFused) {
                            pair.StepUnchecked<true>(frame, &out[2 * f]);
                            continue;
                        }
#endif
                        pair.StepUnchecked(frame, &out[2 * f]);
                    }
                    stepped = pair.Exact();
                    if (!stepped) pair.Restore(start);
                }
#endif
                for (int f = 0; !stepped && f < kFrames; ++f) pair.Step(in[2 * f], in[2 * f + 1], &out[2 * f]);
                pair.Store();
                for (int f = 0; f < kFrames; ++f) {
                    const float expected[2] = {std::fabs(left.Process(in[2 * f])), std::fabs(right.Process(in[2 * f + 1]))};
                    if (bits(out[2 * f]) != bits(expected[0]) || bits(out[2 * f + 1]) != bits(expected[1]))
                        FAIL() << "way " << way << ", rate " << rate << ", block " << b << ", frame "
                               << f << ": " << out[2 * f] << " " << out[2 * f + 1] << " instead of " << expected[0]
                               << " " << expected[1];
                }
            }
            // The state the pair stored carries on exactly.
            for (int i = 0; i < 100; ++i) {
                ASSERT_EQ(bits(left.Process(1000.0f)), bits(pairLeft.Process(1000.0f)));
                ASSERT_EQ(bits(right.Process(-3.0f)), bits(pairRight.Process(-3.0f)));
            }
        }
    }
#if CADENZO_BIQUAD_PAIR_SSE2
    _mm_setcsr(savedMode);
#endif
}

#if CADENZO_BIQUAD_PAIR_SSE2
// At frame 477 of this sequence the left filter's product by 1/a0 lies so close to a
// value halfway between two floats that it rounds to the other float than the quotient:
// the block must be found inexact and, run again, give Process()'s bits.
TEST(ClickFilter, PairOfFilters_NextToAHalfwayPoint_RunsTheBlockAgain)
{
    uint64_t seed = 2832;
    CBiquadFilter pairLeft, pairRight, left, right;
    for (CBiquadFilter* filter : {&pairLeft, &pairRight, &left, &right}) filter->Design("LP", 2900, 44100);
    const int kFrames = 512;
    std::vector<float> in(2 * kFrames), out(2 * kFrames);
    for (float& v : in) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        v = static_cast<float>(static_cast<int32_t>(seed >> 48) - 32768);
    }
    CBiquadPair pair(pairLeft, pairRight);
    const CBiquadPair::Saved start = pair.Begin();
    for (int f = 0; f < kFrames; ++f) pair.StepUnchecked(_mm_setr_ps(in[2 * f], in[2 * f + 1], 0, 0), &out[2 * f]);
    ASSERT_FALSE(pair.Exact());
    pair.Restore(start);
    for (int f = 0; f < kFrames; ++f) pair.Step(in[2 * f], in[2 * f + 1], &out[2 * f]);
    for (int f = 0; f < kFrames; ++f) {
        ASSERT_EQ(std::fabs(left.Process(in[2 * f])), out[2 * f]) << f;
        ASSERT_EQ(std::fabs(right.Process(in[2 * f + 1])), out[2 * f + 1]) << f;
    }
}
#endif

TEST(DcBlock, Impulse_GivesTheFirstOrderHighPassResponse)
{
    // Left: 1, 0, 0, 0. Right: 0 throughout.
    const std::vector<float> out = DcBlocked({1, 0, 0, 0, 0, 0, 0, 0});
    const float expected[] = {0.991524f, -0.0084042f, -0.0083330f, -0.0082624f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(expected[i], out[2 * i], 2e-7) << i;
        EXPECT_EQ(0.0f, out[2 * i + 1]);
    }
}

TEST(DcBlock, Step_DecaysByTheCoefficientPerSample)
{
    const float R = 0.99152392f;
    std::vector<float> in(2000, 0.5f);
    for (size_t i = 1; i < in.size(); i += 2) in[i] = -0.25f;
    const std::vector<float> out = DcBlocked(in);
    double left = 0.5, right = -0.25;
    for (size_t f = 0; f < in.size() / 2; ++f) {
        left *= R;
        right *= R;
        ASSERT_NEAR(left, out[2 * f], 1e-6) << f;
        ASSERT_NEAR(right, out[2 * f + 1], 1e-6) << f;
    }
}

TEST(DcBlock, SixteenBitStep_IsWrittenBackTruncatedTowardZero)
{
    CSongSplitter splitter;
    splitter.SetDcBlock(1);
    splitter.PrepareForRecording();
    int16_t samples[] = {1000, -1000, 1000, -1000, 1000, -1000, 0, 0};
    int32_t cut = 0, offset = 0, end = 0;
    splitter.ProcessBuffer(samples, sizeof samples, &cut, &offset, &end);
    // 991.524, 983.120, 974.787, then (0 - 1000 + 974.787) * R = -24.999
    const int16_t expected[] = {991, -991, 983, -983, 974, -974, -24, 24};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(expected[i], samples[i]) << i;
}

TEST(DcBlock, StateIsClearedForEachRecording)
{
    CSongSplitter splitter;
    splitter.SetBitsPerSample(32);
    splitter.PrepareForRecording();
    float a[] = {0.5f, 0.5f, 0.5f, 0.5f};
    int32_t cut = 0, offset = 0, end = 0;
    splitter.ProcessBuffer(a, sizeof a, &cut, &offset, &end);
    splitter.PrepareForRecording();
    float b[] = {0.5f, 0.5f};
    splitter.ProcessBuffer(b, sizeof b, &cut, &offset, &end);
    EXPECT_FLOAT_EQ(0.5f * 0.99152392f, b[0]);
    EXPECT_FLOAT_EQ(0.5f * 0.99152392f, b[1]);
}

}  // namespace
