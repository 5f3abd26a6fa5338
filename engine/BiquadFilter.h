#pragma once

#include <cmath>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CADENZO_BIQUAD_PAIR_SSE2 1
#endif

#if defined(CADENZO_BIQUAD_PAIR_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CADENZO_BIQUAD_PAIR_FUSED 1
// c - a * b and c + a * b, each rounded once, by the processor's fused multiply-add. Only
// for code that runs where the processor has it. Written as instructions because the
// compiler offers the operation only to functions built for such processors as a whole.
inline __m128d FusedMinusProduct(__m128d c, __m128d a, __m128d b)
{
    asm("vfnmadd231pd %2, %1, %0" : "+x"(c) : "x"(a), "x"(b));
    return c;
}
inline __m128d FusedPlusProduct(__m128d c, __m128d a, __m128d b)
{
    asm("vfmadd231pd %2, %1, %0" : "+x"(c) : "x"(a), "x"(b));
    return c;
}
#endif

/**
 * A second-order Butterworth filter in direct form II, used by the song splitter as
 * the click filter ("Smart Gap"): a 2900 Hz low-pass that keeps short clicks from
 * counting as loud samples when the gap detector looks for silence.
 * Call Design() once, then Process() once per sample of one channel.
 * Never throws: Design() reports an unknown filter type through HasError()/GetErrorText().
 * Not thread-safe: owned and driven by one thread (the recording worker, through the splitter).
 */
class CBiquadFilter
{
public:
    CBiquadFilter();
    virtual ~CBiquadFilter();

    // Designs a "LP" (low-pass) or "HP" (high-pass) filter with its -3 dB corner at
    // cutoffHz for sampleRate and clears the state. Any other type leaves all
    // coefficients at 0 and sets the error.
    void Design(const char* type, int32_t cutoffHz, int32_t sampleRate);

    // One input sample in, one filtered sample out.
    float Process(float x);

    int HasError() const { return m_bError; }
    const char* GetErrorText() const { return m_szError; }

private:
    friend class CBiquadPair;
    void DesignLowPass();

    float m_b0, m_b1, m_b2;  // numerator coefficients
    float m_a0, m_a1, m_a2;  // denominator coefficients; m_a0 is not normalised to 1
    float m_w0, m_w1, m_w2;  // last three values of the recursion variable, newest first
    int32_t m_nCutoff;       // corner frequency in Hz, as designed (mirrored for "HP")
    int32_t m_nSampleRate;   // sample rate in Hz the design was made for
    int32_t m_bError;        // 1 after a design of an unknown type
    char m_szError[1024];    // text of that error
};

/**
 * Two click filters, left and right, run side by side on interleaved samples: Step() gives
 * the same results as Process() on each filter, with both recursions computed at once and
 * their state held in registers for the length of a loop. Construct it from the two
 * filters before the loop, call Store() after it; the filters must not be used between.
 * Inline, because the splitter's loop calls it once per frame.
 *
 * Every operation is the one Process() does, in the same order and precision, except the
 * division by a0, which is a multiplication by 1/a0 wherever that gives the same float:
 * 1/a0 is within half a unit of the last place, so the product lies within three units
 * of the correctly rounded double quotient, and both round to the same float unless a
 * float rounding boundary lies within four units of the product. There (about one
 * sample in ten million) and for results near the smallest normal float, Step() divides.
 */
class CBiquadPair
{
public:
    CBiquadPair(CBiquadFilter& left, CBiquadFilter& right) : m_left(left), m_right(right)
    {
        const double inverse[2] = {1.0 / left.m_a0, 1.0 / right.m_a0};
        m_bMultiply = true;  // 1/a0 must be an ordinary number for the bound above
        for (const double v : inverse) m_bMultiply = m_bMultiply && std::isnormal(v) && std::isnormal(1.0 / v);
#if CADENZO_BIQUAD_PAIR_SSE2
        m_b0 = _mm_set_pd(right.m_b0, left.m_b0);
        m_b1 = _mm_set_pd(right.m_b1, left.m_b1);
        m_b2 = _mm_set_pd(right.m_b2, left.m_b2);
        m_a0 = _mm_set_pd(right.m_a0, left.m_a0);
        m_a1 = _mm_set_pd(right.m_a1, left.m_a1);
        m_a2 = _mm_set_pd(right.m_a2, left.m_a2);
        m_inv = _mm_set_pd(inverse[1], inverse[0]);
        m_w0 = _mm_set_pd(right.m_w0, left.m_w0);
        m_w1 = _mm_set_pd(right.m_w1, left.m_w1);
        m_w2 = _mm_set_pd(right.m_w2, left.m_w2);
#endif
    }

    // Filters a left and a right sample and writes the magnitudes of the two outputs to
    // magnitude[0] and magnitude[1].
    void Step(float left, float right, float* magnitude)
    {
#if CADENZO_BIQUAD_PAIR_SSE2
        Step(_mm_unpacklo_ps(_mm_set_ss(left), _mm_set_ss(right)), magnitude);
#else
        magnitude[0] = std::fabs(m_left.Process(left));
        magnitude[1] = std::fabs(m_right.Process(right));
#endif
    }

#if CADENZO_BIQUAD_PAIR_SSE2
    // The same with the left sample in lane 0 of in, the right one in lane 1.
    void Step(__m128 in, float* magnitude)
    {
        m_w2 = m_w1;
        m_w1 = m_w0;
        const __m128d x = _mm_cvtps_pd(in);
        const __m128d num = _mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(m_a1, m_w1)), _mm_mul_pd(m_a2, m_w2));
        __m128d q;
        if (m_bMultiply) {
            q = _mm_mul_pd(num, m_inv);
            if (NearFloatRounding(q)) q = _mm_div_pd(num, m_a0);
        } else {
            q = _mm_div_pd(num, m_a0);
        }
        m_w0 = _mm_cvtps_pd(_mm_cvtpd_ps(q));
        const __m128d y =
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(m_b0, m_w0), _mm_mul_pd(m_b1, m_w1)), _mm_mul_pd(m_b2, m_w2));
        const __m128 magnitudes = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_cvtpd_ps(y));
        _mm_storel_pi(reinterpret_cast<__m64*>(magnitude), magnitudes);
    }
#endif

#if CADENZO_BIQUAD_PAIR_SSE2
    // The recursion's state at a point of a loop, to run a stretch again from there.
    struct Saved {
        __m128d w0, w1, w2;
    };

    // Saves the state and starts a stretch of StepUnchecked().
    Saved Begin()
    {
        m_halfway = _mm_setzero_si128();
        m_smallest = _mm_set1_pd(1.0);
        m_largest = _mm_setzero_pd();
        return Saved{m_w0, m_w1, m_w2};
    }

    // Step() without its test and branch per frame: always multiplies by 1/a0 and only
    // remembers whether any product lay near a float rounding boundary.
    //
    // kFused: on a processor with fused multiply-add, which the caller has checked, a
    // product of a coefficient and a state value is added or subtracted in one operation
    // instead of two where the sum waits for that state value. The sums come out the
    // same: a coefficient and a state value have at most 24 significant bits each, so
    // their product is exact in double (48 bits) and the separate multiplication rounds
    // nothing. That holds for every state value here
    // while the products stay in the range Exact() accepts (state values in a stretch it
    // rejects may lie outside the float range, and the stretch is run again).
    template <bool kFused = false>
    void StepUnchecked(__m128 in, float* magnitude)
    {
        m_w2 = m_w1;
        m_w1 = m_w0;
        const __m128d x = _mm_cvtps_pd(in);
        __m128d num;
#if CADENZO_BIQUAD_PAIR_FUSED
        if constexpr (kFused)
            // The older state's product is ready a frame early and exact: subtracting it
            // with a plain subtraction gives the fused result one step sooner.
            num = _mm_sub_pd(FusedMinusProduct(x, m_a1, m_w1), _mm_mul_pd(m_a2, m_w2));
        else
#endif
            num = _mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(m_a1, m_w1)), _mm_mul_pd(m_a2, m_w2));
        const __m128d q = _mm_mul_pd(num, m_inv);
        // As NearFloatRounding(), with the masks gathered until Exact().
        const __m128i offset = _mm_and_si128(_mm_sub_epi32(_mm_castpd_si128(q), _mm_set1_epi32(0x10000000 - 4)),
                                             _mm_set1_epi32(0x1FFFFFFF));
        m_halfway = _mm_or_si128(m_halfway, _mm_cmplt_epi32(offset, _mm_set1_epi32(9)));
        // The smallest nonzero and the largest magnitude of the products, judged in Exact():
        // one below a magnitude's bits is the next smaller double, and for zero it is all
        // ones, not a number, which the minimum passes over.
        const __m128d size = _mm_andnot_pd(_mm_set1_pd(-0.0), q);
        m_smallest = _mm_min_pd(_mm_castsi128_pd(_mm_sub_epi64(_mm_castpd_si128(size), _mm_set1_epi64x(1))), m_smallest);
        m_largest = _mm_max_pd(size, m_largest);
        // q rounded to float, in two integer operations on its bits instead of the two
        // conversions, whose latency dominates the recursion: half of the last kept place
        // added to the 29 dropped bits, then the dropped bits cleared. A carry runs on into
        // the exponent as rounding needs. This rounds a tie away from zero where the
        // conversion rounds it to even, but ties are among the products marked above, and
        // so are results that are subnormal or infinite as floats. A product that is not a
        // number comes out as the same not-a-number as through the conversions: its low 29
        // bits are zero, as in every such double made from floats here.
        m_w0 = _mm_and_pd(_mm_castsi128_pd(_mm_add_epi64(_mm_castpd_si128(q), _mm_set1_epi64x(0x10000000))),
                          _mm_castsi128_pd(_mm_set1_epi64x(~static_cast<long long>(0x1FFFFFFF))));
        __m128d y;
#if CADENZO_BIQUAD_PAIR_FUSED
        if constexpr (kFused)
            y = FusedPlusProduct(FusedPlusProduct(_mm_mul_pd(m_b0, m_w0), m_b1, m_w1), m_b2, m_w2);
        else
#endif
            y = _mm_add_pd(_mm_add_pd(_mm_mul_pd(m_b0, m_w0), _mm_mul_pd(m_b1, m_w1)), _mm_mul_pd(m_b2, m_w2));
        const __m128 magnitudes = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_cvtpd_ps(y));
        _mm_storel_pi(reinterpret_cast<__m64*>(magnitude), magnitudes);
    }

    // True when every StepUnchecked() since Begin() gave what Step() gives. Otherwise the
    // caller restores the saved state and runs the stretch again with Step().
    bool Exact() const
    {
        const __m128d outside = _mm_or_pd(_mm_cmplt_pd(m_smallest, _mm_set1_pd(0x1p-125)),
                                          _mm_cmpnlt_pd(m_largest, _mm_set1_pd(0x1p127)));
        return m_bMultiply && ((_mm_movemask_ps(_mm_castsi128_ps(m_halfway)) & 0x5) | _mm_movemask_pd(outside)) == 0;
    }

    void Restore(const Saved& saved)
    {
        m_w0 = saved.w0;
        m_w1 = saved.w1;
        m_w2 = saved.w2;
    }
#endif

    // Puts the state back into the two filters.
    void Store()
    {
#if CADENZO_BIQUAD_PAIR_SSE2
        double state[3][2];
        _mm_storeu_pd(state[0], m_w0);
        _mm_storeu_pd(state[1], m_w1);
        _mm_storeu_pd(state[2], m_w2);
        m_left.m_w0 = static_cast<float>(state[0][0]);
        m_left.m_w1 = static_cast<float>(state[1][0]);
        m_left.m_w2 = static_cast<float>(state[2][0]);
        m_right.m_w0 = static_cast<float>(state[0][1]);
        m_right.m_w1 = static_cast<float>(state[1][1]);
        m_right.m_w2 = static_cast<float>(state[2][1]);
#endif
    }

private:
#if CADENZO_BIQUAD_PAIR_SSE2
    // True when q lies so close to a boundary of float rounding (a value halfway between
    // two floats, or the edge of the smallest normal float) that a double a few units in
    // its last place away may round to another float.
    static bool NearFloatRounding(__m128d q)
    {
        // The low 29 bits of a double's significand are what rounding to float drops; a
        // value halfway between two floats has exactly 0x10000000 there.
        const __m128i bits = _mm_castpd_si128(q);
        const __m128i dropped = _mm_and_si128(bits, _mm_set1_epi32(0x1FFFFFFF));
        const __m128i d = _mm_sub_epi32(dropped, _mm_set1_epi32(0x10000000 - 4));
        const __m128i halfway =
            _mm_and_si128(_mm_cmpgt_epi32(d, _mm_set1_epi32(-1)), _mm_cmplt_epi32(d, _mm_set1_epi32(9)));
        const __m128d size = _mm_andnot_pd(_mm_set1_pd(-0.0), q);
        const __m128d tiny =
            _mm_and_pd(_mm_cmplt_pd(size, _mm_set1_pd(0x1p-125)), _mm_cmpgt_pd(size, _mm_setzero_pd()));
        return ((_mm_movemask_ps(_mm_castsi128_ps(halfway)) & 0x5) | _mm_movemask_pd(tiny)) != 0;
    }

    // Lane 0 left, lane 1 right; the coefficients are the filters' floats held as doubles,
    // the state their float values.
    __m128d m_b0, m_b1, m_b2, m_a0, m_a1, m_a2, m_inv;
    __m128d m_w0, m_w1, m_w2;  // newest first
    __m128i m_halfway = _mm_setzero_si128();  // StepUnchecked(): a product near a halfway point (low words)
    __m128d m_smallest = _mm_set1_pd(1.0);    // StepUnchecked(): smallest nonzero product magnitude, a hair less
    __m128d m_largest = _mm_setzero_pd();     // StepUnchecked(): largest product magnitude
#endif
    CBiquadFilter& m_left;
    CBiquadFilter& m_right;
    bool m_bMultiply;  // the division may be replaced by a multiplication
};
