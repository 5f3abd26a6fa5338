#include "engine/SongSplitter.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// The block loop is built twice on x86: for any SSE2 processor, and with the same
// operations in AVX's three-operand encoding, which needs fewer register copies and
// spills, for processors that also have fused multiply-add. Each operation gives the same
// IEEE result in either encoding, and the engine is built with -ffp-contract=off, so the
// compiler fuses nothing; the click filter fuses a multiplication and an addition only
// where the product is exact, where one rounding is the same as two (CBiquadPair). So the
// bits out do not depend on which loop runs. The helpers of the loop are inlined into both.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && (defined(__SSE2__) || defined(_M_X64))
#define CADENZO_LOOP_AVX 1
#define CADENZO_LOOP_INLINE __attribute__((always_inline)) inline
#else
#define CADENZO_LOOP_INLINE inline
#endif

namespace {

// Stored form of the gap rules: slider positions in steps of 1/1764 s (Gap Size),
// 1/176.4 s (Min Song, End Gap) and 1/32768 of full scale (Gap Level).
const float kGapSizePerStep = 0x1.293726p-11f;   // 0.00056689343, float32 of 1/1764
const float kSongPerStep = 0x1.7384f0p-8f;       // 0.0056689344, float32 of 1/176.4
const float kSongStepsPerSecond = -176.4f;       // -176.39999389648438
const double kGapSizeStepsPerSecond = 1764.0;
const double kSongStepsPerSecondExact = 176.4;
const float kDbToLog = 0.05f;                    // 0.05000000074505806

const float kDcCoeff = 0x1.fba906p-1f;           // 0.99152392: 60 Hz corner at 44100 Hz
const float kStatisticsFloor = 0x1.197998p-40f;  // 1.0e-12
const float kMeanSquareCal = 0x1.47c76cp-6f;     // 0.020006042: full-scale square wave reads this
const float kMeanSquareCal16 = 0x1.47c76cp-36f;  // the same over 32768^2 for 16-bit samples
const float kPeakScale16 = 1.0f / 32768.0f;
const float kClipLevel16 = 32767.0f;
const float kClipLevelFloat = 1.0f;

const char kGapSizeError[] = "Gap size is not between 0.01 and 5 seconds.\n";
const char kGapLevelError[] = "Gap level is not between -6 and -144 dB.\n";
const char kMinSongError[] = "Minimum song size is not between 1 and 200 seconds.\n";
const char kEndGapError[] = "End gap is not between 1 and 30 seconds.\n";

// Truncation toward zero that cannot overflow: out-of-range settings give any value,
// including infinities and NaN (a NaN reads as 0).
int64_t TruncToInt64(double v)
{
    const double kLimit = 4611686018427387904.0;  // 2^62, far beyond any real count
    if (!(v == v)) return 0;
    if (v >= kLimit) return static_cast<int64_t>(kLimit);
    if (v <= -kLimit) return -static_cast<int64_t>(kLimit);
    return static_cast<int64_t>(v);
}

int32_t TruncToInt32(double v)
{
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Fails when v is not >= lo or when v > hi, so NaN fails too.
bool InRange(double v, double lo, double hi) { return v >= lo && !(v > hi); }

}  // namespace

CSongSplitter::CSongSplitter()
    : m_fGapSize(1.0f), m_fGapLevel(-35.0f), m_fMinSong(30.01f), m_fEndGap(7.01f), m_bDcBlock(1),
      m_bIgnoreClicks(1), m_nBitsPerSample(16), m_nChannels(2), m_nSamplesPerSec(44100),
      m_fDcCoeff(kDcCoeff), m_fDcOut{0, 0}, m_fDcPrevIn{0, 0}, m_fSample(0), m_fMagnitude(0),
      m_nLastLoud(0), m_nLastCut(0), m_nGapSamples(0), m_nMinSongSamples(0), m_nEndGapSamples(0),
      m_fGapThreshold(0), m_fPeak{0, 0}, m_fMeanSquare{0, 0}, m_nClipped{0, 0},
      m_fClipLevel(kClipLevel16), m_bError(0)
{
    // The left filter is designed for 44100 Hz, the right one for the rate in force at
    // construction (also 44100 Hz). Neither follows later rate changes, so the corner
    // moves with the rate.
    m_clickFilter[0].Design("LP", 2900, 44100);
    m_clickFilter[1].Design("LP", 2900, m_nSamplesPerSec);
    PrepareForRecording();
    std::strcpy(m_szError, "No error");
}

void CSongSplitter::SetError(const char* text)
{
    m_bError = 1;
    std::strncpy(m_szError, text, sizeof m_szError - 1);
    m_szError[sizeof m_szError - 1] = '\0';
}

// The ranges of the seconds-valued rules are judged on the time the slider position
// stands for (position / 1764 or / 176.4 exactly), not on its float32 rendering: the
// float32 step makes the End Gap slider's own top position, 30 s, come out a hair
// above 30 and would reject it.
void CSongSplitter::SetGapSize(int32_t position)
{
    ClearError();
    m_fGapSize = static_cast<float>(-static_cast<double>(position) * kGapSizePerStep);
    if (!InRange(-static_cast<double>(position) / kGapSizeStepsPerSecond, 0.01, 5.0))
        SetError(kGapSizeError);
}

void CSongSplitter::SetGapLevel(int32_t position)
{
    ClearError();
    const double v = 20.0 * std::log10(-static_cast<double>(position) * (1.0 / 32768.0));
    m_fGapLevel = static_cast<float>(v);
    if (!InRange(m_fGapLevel, -144.0, -6.0)) SetError(kGapLevelError);
}

void CSongSplitter::SetMinSong(int32_t position)
{
    ClearError();
    m_fMinSong = static_cast<float>(-static_cast<double>(position) * kSongPerStep);
    if (!InRange(-static_cast<double>(position) / kSongStepsPerSecondExact, 1.0, 200.0))
        SetError(kMinSongError);
}

void CSongSplitter::SetEndGap(int32_t position)
{
    ClearError();
    m_fEndGap = static_cast<float>(-static_cast<double>(position) * kSongPerStep);
    if (!InRange(-static_cast<double>(position) / kSongStepsPerSecondExact, 1.0, 30.0))
        SetError(kEndGapError);
}

int32_t CSongSplitter::GetGapSize() const
{
    ClearError();
    return TruncToInt32(static_cast<double>(m_fGapSize) * -kGapSizeStepsPerSecond);
}

int32_t CSongSplitter::GetGapLevel() const
{
    ClearError();
    return TruncToInt32(std::pow(10.0, static_cast<double>(m_fGapLevel) * kDbToLog) * -32768.0);
}

int32_t CSongSplitter::GetMinSong() const
{
    ClearError();
    return TruncToInt32(static_cast<double>(m_fMinSong) * kSongStepsPerSecond);
}

int32_t CSongSplitter::GetEndGap() const
{
    ClearError();
    return TruncToInt32(static_cast<double>(m_fEndGap) * kSongStepsPerSecond);
}

void CSongSplitter::SetDcBlock(int32_t on)
{
    ClearError();
    m_bDcBlock = on != 0;
}

void CSongSplitter::SetIgnoreClicks(int32_t on)
{
    ClearError();
    m_bIgnoreClicks = on != 0;
}

void CSongSplitter::SetSamplesPerSec(int32_t rate)
{
    ClearError();
    m_nSamplesPerSec = rate;
}

void CSongSplitter::SetBitsPerSample(int16_t bits)
{
    ClearError();
    m_nBitsPerSample = bits;
}

void CSongSplitter::SetChannels(int16_t channels)
{
    ClearError();
    m_nChannels = channels;
}

int32_t CSongSplitter::GetDcBlock() const
{
    ClearError();
    return m_bDcBlock;
}

int32_t CSongSplitter::GetIgnoreClicks() const
{
    ClearError();
    return m_bIgnoreClicks;
}

int32_t CSongSplitter::GetSamplesPerSec() const
{
    ClearError();
    return m_nSamplesPerSec;
}

int16_t CSongSplitter::GetBitsPerSample() const
{
    ClearError();
    return m_nBitsPerSample;
}

int16_t CSongSplitter::GetChannels() const
{
    ClearError();
    return m_nChannels;
}

void CSongSplitter::PrepareForRecording()
{
    ClearError();
    const double rate = m_nSamplesPerSec;
    m_nGapSamples = TruncToInt64(rate * m_fGapSize * 2.0);
    m_nMinSongSamples = TruncToInt64(rate * m_fMinSong * 2.0);
    m_nEndGapSamples = TruncToInt64(rate * m_fEndGap * 2.0);
    const double level = std::pow(10.0, static_cast<double>(m_fGapLevel) * kDbToLog);
    m_fGapThreshold = static_cast<float>(m_nBitsPerSample == 16 ? level * 32768.0 : level);

    m_nLastLoud = 0;
    m_nLastCut = 0;
    m_clickGate.Prepare(m_nSamplesPerSec, m_nGapSamples, m_nEndGapSamples, m_fGapThreshold);
    m_fDcOut[0] = m_fDcOut[1] = 0;
    m_fDcPrevIn[0] = m_fDcPrevIn[1] = 0;
    m_fMeanSquare[0] = m_fMeanSquare[1] = 0;
}

bool CSongSplitter::IsShorterThanEndGap(int64_t byteCount) const
{
    const double bytesPerFrame = m_nBitsPerSample == 16 ? 4.0 : 8.0;
    return byteCount < TruncToInt64(static_cast<double>(m_nSamplesPerSec) * m_fEndGap * bytesPerFrame);
}

float CSongSplitter::GetPeak(int ch) const { return ch == 0 || ch == 1 ? m_fPeak[ch] : 0.0f; }

float CSongSplitter::GetMeanSquare(int ch) const
{
    return ch == 0 || ch == 1 ? m_fMeanSquare[ch] : 0.0f;
}

int32_t CSongSplitter::GetClipped(int ch) const { return ch == 0 || ch == 1 ? m_nClipped[ch] : 0; }

namespace {

// While it lives, floating-point results too small for a normal float (below 1.2e-38 of
// full scale, about -758 dB) become 0 and such inputs count as 0. After a loud passage
// ends in digital silence the DC-block and click filters' states decay into that range
// and stay there, and arithmetic on them is many times slower than on ordinary numbers.
// Nothing audible or stored in 16 bits depends on values that small: 16-bit samples are
// written truncated to whole units, and peaks, mean squares and the gap threshold all
// lie far above it. A float recording with DC Block on stores 0 where it would otherwise
// store such a value in its silences. The caller's mode is restored on the way out.
class FlushTinyToZero
{
public:
#if defined(__SSE2__) || defined(_M_X64)
    FlushTinyToZero() : m_saved(_mm_getcsr()) { _mm_setcsr(m_saved | kFlushToZero | kDenormalsAreZero); }
    ~FlushTinyToZero() { _mm_setcsr(m_saved); }

private:
    static const unsigned kFlushToZero = 0x8000;
    static const unsigned kDenormalsAreZero = 0x0040;
    unsigned m_saved;
#else
    FlushTinyToZero() {}  // other processors: the mode stays as the caller set it
#endif
};

// Everything the loop reads and writes, copied in from the splitter before a buffer and
// back after it. Each step of the loop below loads what it needs into locals and stores
// it back once per block, so the compiler can keep the state in registers: it could not
// if the state were written through memory between writes to the sample bytes, which may
// alias anything.
struct LoopState {
    float fDcCoeff;
    float fDcOut[2];
    float fDcPrevIn[2];
    float fClip;
    float fThreshold;
    float fMeanStep;
    float fPeak[2];
    float fMeanSquare[2];
    int32_t nClipped[2];
    int64_t nLastLoud;
    int64_t nLastCut;
    int64_t nGapSamples;
    int64_t nMinSongSamples;
    int64_t nEndGapSamples;
    float fSample;
    float fMagnitude;
    int32_t bCut;
    int32_t nCutOffset;
    int32_t bEnd;
    CClickGate gate;  // Smart Gap's click gate, copied in and out like the rest
};

// Interleaved samples the loop takes at a time; even, so a block starts with a left sample.
const int32_t kBlock = 512;

template <typename Sample>
CADENZO_LOOP_INLINE void ReadBlock(const unsigned char* bytes, float* x, int32_t m)
{
    int32_t j = 0;
#if defined(__SSE2__) || defined(_M_X64)
    if (sizeof(Sample) == 2) {  // eight 16-bit samples at a time, sign-extended and converted
        for (; j + 8 <= m; j += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + static_cast<size_t>(j) * 2));
            _mm_storeu_ps(x + j, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16)));
            _mm_storeu_ps(x + j + 4, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16)));
        }
    }
#endif
    for (; j < m; ++j) {
        Sample raw;
        std::memcpy(&raw, bytes + static_cast<size_t>(j) * sizeof(Sample), sizeof raw);
        x[j] = static_cast<float>(raw);
    }
}

// 16-bit: truncated toward zero; the values are already within +-32767.
template <typename Sample>
CADENZO_LOOP_INLINE void WriteBlock(unsigned char* bytes, const float* x, int32_t m)
{
    int32_t j = 0;
#if defined(__SSE2__) || defined(_M_X64)
    if (sizeof(Sample) == 2) {  // eight at a time; in range, so packing never saturates
        for (; j + 8 <= m; j += 8) {
            const __m128i lo = _mm_cvttps_epi32(_mm_loadu_ps(x + j));
            const __m128i hi = _mm_cvttps_epi32(_mm_loadu_ps(x + j + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + static_cast<size_t>(j) * 2), _mm_packs_epi32(lo, hi));
        }
    }
#endif
    for (; j < m; ++j) {
        const Sample out = static_cast<Sample>(x[j]);
        std::memcpy(bytes + static_cast<size_t>(j) * sizeof(Sample), &out, sizeof out);
    }
}

// Clamps to +-clip and counts a clamped sample.
CADENZO_LOOP_INLINE float Clamp(float y, float clip, int32_t& clipped)
{
    clipped += (y > clip) | (y < -clip);
    const float low = y < -clip ? -clip : y;
    return low > clip ? clip : low;
}

// One channel's DC block, clamp, clip count and statistics for one sample; returns the
// sample as the file and the meters see it. DC block: y = (x - previous x + previous y)
// * R; the filter keeps the unclamped output. Without DC Block a sample at or beyond
// +-clip counts as clipped and stays as it is.
template <bool kDcBlock>
struct Channel {
    float dcIn, dcOut, peak, sum;
    int32_t clipped;

    CADENZO_LOOP_INLINE float Step(float x, float r, float clip, float k, float& magnitude)
    {
        if (kDcBlock) {
            dcOut = (x - dcIn + dcOut) * r;
            dcIn = x;
            x = Clamp(dcOut, clip, clipped);
        } else {
            clipped += (x >= clip) | (x <= -clip);
        }
        const float a = std::fabs(x);
        magnitude = a;
        if (a > peak) peak = a;
        sum += k * a * a;
        return x;
    }
};

// The per-sample work of a block before gap detection, the two channels side by side
// with their state in locals: DC block and clamp (or the clip count), statistics and,
// with Smart Gap, the click filters. x holds the samples and gets them as the file and
// the meters see them; mag gets the magnitudes the gap detector judges. kFinite: the
// samples are whole 16-bit values, so the DC block's output is always a finite number.
template <bool kDcBlock, bool kSmartGap, bool kFused, bool kFinite>
CADENZO_LOOP_INLINE void Filter(float* x, float* mag, float* recent, int32_t m, CBiquadFilter* clickFilter, LoopState& st)
{
    float loudest = st.gate.Recent();  // Smart Gap: the click gate's decaying loudest magnitude
    const float r = st.fDcCoeff, clip = st.fClip, k = st.fMeanStep;
    Channel<kDcBlock> left{st.fDcPrevIn[0], st.fDcOut[0], st.fPeak[0], st.fMeanSquare[0], 0};
    Channel<kDcBlock> right{st.fDcPrevIn[1], st.fDcOut[1], st.fPeak[1], st.fMeanSquare[1], 0};
    CBiquadPair clicks(clickFilter[0], clickFilter[1]);
    int32_t j = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // The same steps on the left (lane 0) and right (lane 1) samples of a frame at once;
    // lanes 2 and 3 hold zeros.
    const __m128 rr = _mm_set1_ps(r), high = _mm_set1_ps(clip), low = _mm_set1_ps(-clip), kk = _mm_set1_ps(k);
    const __m128 signBit = _mm_set1_ps(-0.0f);
    __m128 dcIn = _mm_setr_ps(left.dcIn, right.dcIn, 0, 0), dcOut = _mm_setr_ps(left.dcOut, right.dcOut, 0, 0);
    __m128 peak = _mm_setr_ps(left.peak, right.peak, 0, 0), sum = _mm_setr_ps(left.sum, right.sum, 0, 0);
    __m128i clipped = _mm_setzero_si128();
    const CBiquadPair::Saved clickStart = clicks.Begin();
    for (; j + 1 < m; j += 2) {
        __m128 v = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(x + j)));
        if (kDcBlock) {
            dcOut = _mm_mul_ps(_mm_add_ps(_mm_sub_ps(v, dcIn), dcOut), rr);
            dcIn = v;
            v = _mm_min_ps(high, _mm_max_ps(low, dcOut));  // NaN stays NaN, as in Clamp()
            // Clipped where the clamp changed the sample; a not-a-number would count there,
            // so with samples that can hold one the two limits are compared instead.
            const __m128 over = kFinite ? _mm_cmpneq_ps(v, dcOut)
                                        : _mm_or_ps(_mm_cmpgt_ps(dcOut, high), _mm_cmplt_ps(dcOut, low));
            clipped = _mm_sub_epi32(clipped, _mm_castps_si128(over));
            _mm_storel_pi(reinterpret_cast<__m64*>(x + j), v);
        } else {
            const __m128 over = _mm_or_ps(_mm_cmpge_ps(v, high), _mm_cmple_ps(v, low));
            clipped = _mm_sub_epi32(clipped, _mm_castps_si128(over));
        }
        const __m128 a = _mm_andnot_ps(signBit, v);
        if (kSmartGap) {  // a serial chain of its own, run here where the click filter's latency hides it
            loudest = CClickGate::NextRecent(loudest, _mm_cvtss_f32(a));
            recent[j] = loudest;
            loudest = CClickGate::NextRecent(loudest, _mm_cvtss_f32(_mm_shuffle_ps(a, a, 1)));
            recent[j + 1] = loudest;
        }
        peak = _mm_max_ps(a, peak);  // a > peak ? a : peak
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_mul_ps(kk, a), a));
        if (kSmartGap) clicks.StepUnchecked<kFused>(v, mag + j);  // Smart Gap: the detector judges the click-filtered signal
        else _mm_storel_pi(reinterpret_cast<__m64*>(mag + j), a);
    }
    if (kSmartGap && !clicks.Exact()) {  // rare: run the click filters again, dividing where needed
        clicks.Restore(clickStart);
        for (int32_t i = 0; i + 1 < m; i += 2)
            clicks.Step(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(x + i))), mag + i);
    }
    auto unpack = [](__m128 v, float& l, float& r) {  // lanes 0 and 1 back to the channels
        float lanes[4];
        _mm_storeu_ps(lanes, v);
        l = lanes[0];
        r = lanes[1];
    };
    unpack(dcIn, left.dcIn, right.dcIn);
    unpack(dcOut, left.dcOut, right.dcOut);
    unpack(peak, left.peak, right.peak);
    unpack(sum, left.sum, right.sum);
    int32_t counts[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(counts), clipped);
    left.clipped = counts[0];
    right.clipped = counts[1];
#else
    for (; j + 1 < m; j += 2) {
        const float xl = left.Step(x[j], r, clip, k, mag[j]);
        const float xr = right.Step(x[j + 1], r, clip, k, mag[j + 1]);
        x[j] = xl;
        x[j + 1] = xr;
        if (kSmartGap) {
            loudest = CClickGate::NextRecent(loudest, std::fabs(xl));
            recent[j] = loudest;
            loudest = CClickGate::NextRecent(loudest, std::fabs(xr));
            recent[j + 1] = loudest;
        }
        // Smart Gap: the detector judges the click-filtered signal instead.
        if (kSmartGap) clicks.Step(xl, xr, mag + j);
    }
#endif
    if (kSmartGap) clicks.Store();
    if (j < m) {  // an odd count ends with a left sample
        x[j] = left.Step(x[j], r, clip, k, mag[j]);
        if (kSmartGap) {
            recent[j] = CClickGate::NextRecent(loudest, std::fabs(x[j]));
            mag[j] = std::fabs(clickFilter[0].Process(x[j]));
        }
    }
    st.fDcPrevIn[0] = left.dcIn;
    st.fDcPrevIn[1] = right.dcIn;
    st.fDcOut[0] = left.dcOut;
    st.fDcOut[1] = right.dcOut;
    st.fPeak[0] = left.peak;
    st.fPeak[1] = right.peak;
    st.fMeanSquare[0] = left.sum;
    st.fMeanSquare[1] = right.sum;
    st.nClipped[0] += left.clipped;
    st.nClipped[1] += right.clipped;
}

// The first position in [j, m) whose magnitude is above the threshold, or m.
CADENZO_LOOP_INLINE int32_t FirstLoud(const float* mag, int32_t j, int32_t m, float threshold)
{
#if defined(__SSE2__) || defined(_M_X64)
    const __m128 t = _mm_set1_ps(threshold);
    for (; j + 4 <= m; j += 4)  // four at a time; the loop below finds which one
        if (_mm_movemask_ps(_mm_cmpgt_ps(_mm_loadu_ps(mag + j), t)) != 0) break;
#endif
    while (j < m && !(mag[j] > threshold)) ++j;
    return j;
}

// The last position in [first, m) whose magnitude is above the threshold, or first - 1.
CADENZO_LOOP_INLINE int32_t LastLoud(const float* mag, int32_t first, int32_t m, float threshold)
{
    int32_t j = m;  // positions j and on are quiet
#if defined(__SSE2__) || defined(_M_X64)
    const __m128 t = _mm_set1_ps(threshold);
    for (; j - 4 >= first; j -= 4)
        if (_mm_movemask_ps(_mm_cmpgt_ps(_mm_loadu_ps(mag + j - 4), t)) != 0) break;
#endif
    while (j > first && !(mag[j - 1] > threshold)) --j;
    return j - 1;
}

// The gap rule at a quiet sample i: End Gap or more after the last loud sample ends the
// recording; Gap Size or more, Min Song after the last cut, cuts at i's frame.
CADENZO_LOOP_INLINE void ApplyGapRule(int64_t i, int64_t lastLoud, int64_t& lastCut, int32_t bytesPerFrame,
                                      LoopState& st)
{
    const int64_t silent = i - lastLoud;
    if (silent >= st.nEndGapSamples) {
        st.bEnd = 1;
        return;
    }
    if (silent >= st.nGapSamples && i - lastCut >= st.nMinSongSamples) {
        st.bCut = 1;
        st.nCutOffset = static_cast<int32_t>((i / 2) * bytesPerFrame);
        lastCut = i;
    }
}

// Gap detection over samples i0 .. i0 + m - 1 none of which is loud, as Detect() would
// do it sample by sample: every sample End Gap or more after the last loud one ends the
// recording; before that, a sample Gap Size or more after it cuts when it lies Min Song
// after the last cut, so the cuts come Min Song apart.
CADENZO_LOOP_INLINE void QuietBlock(int64_t i0, int32_t m, int32_t bytesPerFrame, LoopState& st)
{
    const int64_t lastLoud = st.nLastLoud;
    const int64_t endAt = lastLoud + st.nEndGapSamples;  // the first sample that ends
    if (i0 + m - 1 >= endAt) st.bEnd = 1;
    int64_t i = i0;
    if (i < lastLoud + st.nGapSamples) i = lastLoud + st.nGapSamples;
    if (i < st.nLastCut + st.nMinSongSamples) i = st.nLastCut + st.nMinSongSamples;
    const int64_t stop = endAt < i0 + m ? endAt : i0 + m;
    const int64_t step = st.nMinSongSamples > 1 ? st.nMinSongSamples : 1;
    for (; i < stop; i += step) {
        st.bCut = 1;
        st.nCutOffset = static_cast<int32_t>((i / 2) * bytesPerFrame);
        st.nLastCut = i;
    }
}

// Gap detection over the magnitudes of samples i0 .. i0 + m - 1 (positions from the start
// of the buffer): a loud sample moves the last loud position; a quiet one that lies End
// Gap after it ends the recording, else one that lies Gap Size after it cuts when the
// song has reached Min Song.
CADENZO_LOOP_INLINE void Detect(const float* mag, int64_t i0, int32_t m, int32_t bytesPerFrame, LoopState& st)
{
    const float threshold = st.fThreshold;
    int64_t lastLoud = st.nLastLoud;
    // While the block ends less than both Gap Size and End Gap after the last loud
    // sample, no sample in it can cut or end: only the last loud position moves.
    const int64_t quiet = i0 + m - 1 - lastLoud;
    if (quiet < st.nGapSamples && quiet < st.nEndGapSamples) {
        const int32_t last = LastLoud(mag, 0, m, threshold);
        if (last >= 0) st.nLastLoud = i0 + last;
        return;
    }
    if (FirstLoud(mag, 0, m, threshold) == m) {  // no loud sample: the silence tests alone
        QuietBlock(i0, m, bytesPerFrame, st);
        return;
    }
    int64_t lastCut = st.nLastCut;
    for (int32_t j = 0; j < m; ++j) {
        const int64_t i = i0 + j;
        if (mag[j] > threshold) {
            lastLoud = i;
            continue;
        }
        ApplyGapRule(i, lastLoud, lastCut, bytesPerFrame, st);
    }
    st.nLastLoud = lastLoud;
    st.nLastCut = lastCut;
}

// Smart Gap's gap detection: as Detect(), with the click gate between the magnitudes and
// the rule. A short burst after a quiet is held back until it is known to be a click,
// which leaves the silence running, or sound (see CClickGate). x holds the samples as
// the meters see them, whose magnitudes tell a click from faint sound.
// recent holds the gate's decaying loudest magnitude after each sample.
CADENZO_LOOP_INLINE void DetectGated(const float* mag, const float* x, const float* recent, int64_t i0, int32_t m,
                        int32_t bytesPerFrame, LoopState& st)
{
    const float threshold = st.fThreshold;
    int64_t lastLoud = st.nLastLoud;
    int32_t first = 0;
    if (st.gate.IsOpen()) {
        first = FirstLoud(mag, 0, m, threshold);
        if (first == m) {  // no burst held back and no loud sample: the silence tests alone
            QuietBlock(i0, m, bytesPerFrame, st);
            st.gate.SetRecent(recent[m - 1]);
            return;
        }
    }
    // With no burst held back and a hold at least a block long (the hold is shorter than
    // Gap Size and End Gap), a block whose first loud sample comes within the hold of the
    // last loud one, and whose end lies less than Gap Size and End Gap after its last loud
    // sample, holds no burst, no cut and no end: only the last loud position and the
    // gate's loudest recent magnitude move.
    if (st.gate.IsOpen() && st.gate.HoldSamples() >= m) {
        const int32_t last = LastLoud(mag, first, m, threshold);
        const int64_t newLastLoud = i0 + last;
        const int64_t quiet = i0 + m - 1 - newLastLoud;
        if (i0 + first - lastLoud <= st.gate.HoldSamples() && quiet < st.nGapSamples &&
            quiet < st.nEndGapSamples) {
            st.nLastLoud = newLastLoud;
            st.gate.SetRecent(recent[m - 1]);
            return;
        }
    }
    int64_t lastCut = st.nLastCut;
    CClickGate gate = st.gate;
    for (int32_t j = 0; j < m; ++j) {
        const int64_t i = i0 + j;
        if (!gate.StepAfter(i, mag[j] > threshold, std::fabs(x[j]), recent[j], lastLoud)) continue;
        ApplyGapRule(i, lastLoud, lastCut, bytesPerFrame, st);
    }
    st.gate = gate;
    st.nLastLoud = lastLoud;
    st.nLastCut = lastCut;
}

// One pass over n interleaved samples, a block at a time: read, DC block and clamp and
// write back (or count clipping), statistics, Smart Gap, gap detection. Instantiated per
// format and switch setting so the loop carries no per-sample tests of the settings.
template <typename Sample, bool kDcBlock, bool kSmartGap, bool kFused>
CADENZO_LOOP_INLINE void RunBuffer(unsigned char* bytes, int32_t n, CBiquadFilter* clickFilter, LoopState& st)
{
    const int32_t bytesPerFrame = 2 * static_cast<int32_t>(sizeof(Sample));
    float x[kBlock];    // the samples, then as the file and the meters see them
    float mag[kBlock];  // the magnitudes the gap detector judges
    float recent[kBlock];  // Smart Gap: the click gate's decaying loudest magnitude after each sample
    for (int32_t i0 = 0; i0 < n; i0 += kBlock) {
        const int32_t m = n - i0 < kBlock ? n - i0 : kBlock;
        unsigned char* block = bytes + static_cast<size_t>(i0) * sizeof(Sample);
        ReadBlock<Sample>(block, x, m);
        Filter<kDcBlock, kSmartGap, kFused, sizeof(Sample) == 2>(x, mag, recent, m, clickFilter, st);
        if (kDcBlock) WriteBlock<Sample>(block, x, m);
        st.fSample = x[m - 1];
        st.fMagnitude = mag[m - 1];
        if (kSmartGap) DetectGated(mag, x, recent, i0, m, bytesPerFrame, st);
        else Detect(mag, i0, m, bytesPerFrame, st);
    }
}

template <typename Sample, bool kDcBlock, bool kSmartGap>
void RunBufferSse2(unsigned char* bytes, int32_t n, CBiquadFilter* clickFilter, LoopState& st)
{
    RunBuffer<Sample, kDcBlock, kSmartGap, false>(bytes, n, clickFilter, st);
}

#ifdef CADENZO_LOOP_AVX
template <typename Sample, bool kDcBlock, bool kSmartGap>
__attribute__((target("avx,fma"))) void RunBufferAvx(unsigned char* bytes, int32_t n, CBiquadFilter* clickFilter,
                                                     LoopState& st)
{
    RunBuffer<Sample, kDcBlock, kSmartGap, true>(bytes, n, clickFilter, st);
}

std::atomic<bool> g_bPlainLoop{false};  // CSongSplitter::UsePlainLoop()

// True when the processor and the operating system support AVX and fused multiply-add,
// and the plain loop is not asked for.
bool HasAvx()
{
    static const bool has = __builtin_cpu_supports("avx") && __builtin_cpu_supports("fma");
    return has && !g_bPlainLoop.load(std::memory_order_relaxed);
}
#endif

template <typename Sample, bool kDcBlock, bool kSmartGap>
void RunBufferFor(unsigned char* bytes, int32_t n, CBiquadFilter* clickFilter, LoopState& st)
{
#ifdef CADENZO_LOOP_AVX
    if (HasAvx()) {
        RunBufferAvx<Sample, kDcBlock, kSmartGap>(bytes, n, clickFilter, st);
        return;
    }
#endif
    RunBufferSse2<Sample, kDcBlock, kSmartGap>(bytes, n, clickFilter, st);
}

template <typename Sample>
void RunBufferFor(bool dcBlock, bool smartGap, unsigned char* bytes, int32_t n,
                  CBiquadFilter* clickFilter, LoopState& st)
{
    if (dcBlock) {
        if (smartGap) RunBufferFor<Sample, true, true>(bytes, n, clickFilter, st);
        else RunBufferFor<Sample, true, false>(bytes, n, clickFilter, st);
    } else {
        if (smartGap) RunBufferFor<Sample, false, true>(bytes, n, clickFilter, st);
        else RunBufferFor<Sample, false, false>(bytes, n, clickFilter, st);
    }
}

}  // namespace

void CSongSplitter::UsePlainLoop(bool plain)
{
#ifdef CADENZO_LOOP_AVX
    g_bPlainLoop.store(plain, std::memory_order_relaxed);
#else
    (void)plain;
#endif
}

void CSongSplitter::ProcessBuffer(void* samples, int32_t byteCount, int32_t* cutFound,
                                  int32_t* cutOffset, int32_t* endReached)
{
    ClearError();
    const FlushTinyToZero flushTiny;
    const bool b16 = m_nBitsPerSample == 16;

    LoopState st;
    st.fPeak[0] = st.fPeak[1] = kStatisticsFloor;
    st.fMeanSquare[0] = st.fMeanSquare[1] = kStatisticsFloor;
    st.nClipped[0] = st.nClipped[1] = 0;
    int32_t n = samples != nullptr && byteCount > 0 ? byteCount / (b16 ? 2 : 4) : 0;
    m_fClipLevel = b16 ? kClipLevel16 : kClipLevelFloat;

    if (n > 0) {
        st.fMeanStep = static_cast<float>((2.0 / n) * (b16 ? kMeanSquareCal16 : kMeanSquareCal));
        st.fDcCoeff = m_fDcCoeff;
        st.fDcOut[0] = m_fDcOut[0];
        st.fDcOut[1] = m_fDcOut[1];
        st.fDcPrevIn[0] = m_fDcPrevIn[0];
        st.fDcPrevIn[1] = m_fDcPrevIn[1];
        st.fClip = m_fClipLevel;
        st.fThreshold = m_fGapThreshold;
        st.nLastLoud = m_nLastLoud;
        st.nLastCut = m_nLastCut;
        st.nGapSamples = m_nGapSamples;
        st.nMinSongSamples = m_nMinSongSamples;
        st.nEndGapSamples = m_nEndGapSamples;
        st.fSample = m_fSample;
        st.fMagnitude = m_fMagnitude;
        st.bCut = 0;
        st.nCutOffset = 0;
        st.bEnd = 0;
        st.gate = m_clickGate;

        unsigned char* bytes = static_cast<unsigned char*>(samples);
        if (b16) RunBufferFor<int16_t>(m_bDcBlock != 0, m_bIgnoreClicks != 0, bytes, n, m_clickFilter, st);
        else RunBufferFor<float>(m_bDcBlock != 0, m_bIgnoreClicks != 0, bytes, n, m_clickFilter, st);

        m_fDcOut[0] = st.fDcOut[0];
        m_fDcOut[1] = st.fDcOut[1];
        m_fDcPrevIn[0] = st.fDcPrevIn[0];
        m_fDcPrevIn[1] = st.fDcPrevIn[1];
        m_fSample = st.fSample;
        m_fMagnitude = st.fMagnitude;
        m_nLastLoud = st.nLastLoud - n;
        m_nLastCut = st.nLastCut - n;
        m_clickGate = st.gate;
        m_clickGate.Shift(n);
        if (st.bCut) {
            if (cutFound != nullptr) *cutFound = 1;
            if (cutOffset != nullptr) *cutOffset = st.nCutOffset;
        }
        if (st.bEnd && endReached != nullptr) *endReached = 1;
    }

    m_fPeak[0] = st.fPeak[0];
    m_fPeak[1] = st.fPeak[1];
    m_fMeanSquare[0] = st.fMeanSquare[0];
    m_fMeanSquare[1] = st.fMeanSquare[1];
    m_nClipped[0] = st.nClipped[0];
    m_nClipped[1] = st.nClipped[1];
    if (b16) {
        m_fPeak[0] *= kPeakScale16;
        m_fPeak[1] *= kPeakScale16;
    }
}
