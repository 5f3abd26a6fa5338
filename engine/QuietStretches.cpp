#include "engine/QuietStretches.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CADENZO_QS_SSE2 1
#endif
#if defined(__GNUC__) && defined(__x86_64__) && CADENZO_QS_SSE2
#include <immintrin.h>
#define CADENZO_QS_AVX2 1
#endif

#define CADENZO_QS_INLINE __attribute__((always_inline)) inline

namespace {

int64_t SamplesOf(double fSeconds, int32_t nRate)
{
    const double f = fSeconds * (nRate > 0 ? nRate : 0) * 2.0;
    return f > 0 ? static_cast<int64_t>(f) : 0;
}

// The largest 16-bit magnitude that is not loud at a threshold: a sample v is loud when
// |v| lies above the threshold, that is when v > limit or v < -limit. -1 when every
// sample is loud (a negative threshold, or one that is not a number); 32768 when none is.
int32_t QuietLimit16(float fThreshold)
{
    if (!(fThreshold >= 0)) return -1;
    if (fThreshold >= 32768.0f) return 32768;
    return static_cast<int32_t>(std::floor(fThreshold));
}

// The smallest and largest of n 16-bit samples, which the splitter's buffers give by the
// ten thousand for every minute: judged a register at a time.
void MinMax16Sse2(const unsigned char* p, int64_t n, int16_t* pnMin, int16_t* pnMax)
{
    int16_t nMin = 0, nMax = 0;
    int64_t k = 0;
#if CADENZO_QS_SSE2
    if (n >= 16) {
        __m128i lo0 = _mm_setzero_si128(), hi0 = lo0, lo1 = lo0, hi1 = lo0;
        for (; k + 16 <= n; k += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k + 16));
            lo0 = _mm_min_epi16(lo0, a);
            hi0 = _mm_max_epi16(hi0, a);
            lo1 = _mm_min_epi16(lo1, b);
            hi1 = _mm_max_epi16(hi1, b);
        }
        int16_t lo[8], hi[8];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lo), _mm_min_epi16(lo0, lo1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hi), _mm_max_epi16(hi0, hi1));
        for (int j = 0; j < 8; ++j) {
            nMin = std::min(nMin, lo[j]);
            nMax = std::max(nMax, hi[j]);
        }
    }
#endif
    for (; k < n; ++k) {
        int16_t v;
        std::memcpy(&v, p + 2 * k, sizeof v);
        nMin = std::min(nMin, v);
        nMax = std::max(nMax, v);
    }
    *pnMin = nMin;
    *pnMax = nMax;
}

#if CADENZO_QS_AVX2
__attribute__((target("avx2"))) void MinMax16Avx2(const unsigned char* p, int64_t n, int16_t* pnMin, int16_t* pnMax)
{
    if (n < 32) {
        MinMax16Sse2(p, n, pnMin, pnMax);
        return;
    }
    __m256i lo0 = _mm256_setzero_si256(), hi0 = lo0, lo1 = lo0, hi1 = lo0;
    int64_t k = 0;
    for (; k + 32 <= n; k += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * k + 32));
        lo0 = _mm256_min_epi16(lo0, a);
        hi0 = _mm256_max_epi16(hi0, a);
        lo1 = _mm256_min_epi16(lo1, b);
        hi1 = _mm256_max_epi16(hi1, b);
    }
    int16_t nMin = 0, nMax = 0;
    MinMax16Sse2(p + 2 * k, n - k, &nMin, &nMax);
    int16_t lo[16], hi[16];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lo), _mm256_min_epi16(lo0, lo1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(hi), _mm256_max_epi16(hi0, hi1));
    for (int j = 0; j < 16; ++j) {
        nMin = std::min(nMin, lo[j]);
        nMax = std::max(nMax, hi[j]);
    }
    *pnMin = nMin;
    *pnMax = nMax;
}
#endif

using MinMax16Fn = void (*)(const unsigned char*, int64_t, int16_t*, int16_t*);

MinMax16Fn PickMinMax16()
{
#if CADENZO_QS_AVX2
    if (__builtin_cpu_supports("avx2")) return MinMax16Avx2;
#endif
    return MinMax16Sse2;
}

const MinMax16Fn g_pfnMinMax16 = PickMinMax16();

// The first of 16-bit samples [k, n) that is loud (beyond +-limit, see QuietLimit16()), or n.
int64_t FirstLoud16(const unsigned char* p, int64_t k, int64_t n, int32_t nLimit)
{
#if CADENZO_QS_SSE2
    const __m128i hi = _mm_set1_epi16(static_cast<int16_t>(std::min(nLimit, 32767)));
    const __m128i lo = _mm_set1_epi16(static_cast<int16_t>(std::max(-nLimit, -32768)));
    for (; k + 8 <= n; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
        const int nMask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpgt_epi16(v, hi), _mm_cmplt_epi16(v, lo)));
        if (nMask != 0) return k + __builtin_ctz(static_cast<unsigned>(nMask)) / 2;
    }
#endif
    for (; k < n; ++k) {
        int16_t v;
        std::memcpy(&v, p + 2 * k, sizeof v);
        if (v > nLimit || v < -nLimit) return k;
    }
    return n;
}

// The last of 16-bit samples [from, k] that is loud, or from - 1.
int64_t LastLoud16(const unsigned char* p, int64_t from, int64_t k, int32_t nLimit)
{
#if CADENZO_QS_SSE2
    const __m128i hi = _mm_set1_epi16(static_cast<int16_t>(std::min(nLimit, 32767)));
    const __m128i lo = _mm_set1_epi16(static_cast<int16_t>(std::max(-nLimit, -32768)));
    for (; k - 7 >= from; k -= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * (k - 7)));
        const int nMask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpgt_epi16(v, hi), _mm_cmplt_epi16(v, lo)));
        if (nMask != 0) return k - 7 + (31 - __builtin_clz(static_cast<unsigned>(nMask))) / 2;
    }
#endif
    for (; k >= from; --k) {
        int16_t v;
        std::memcpy(&v, p + 2 * k, sizeof v);
        if (v > nLimit || v < -nLimit) return k;
    }
    return from - 1;
}

}  // namespace

CQuietStretches::CQuietStretches(const Config& config)
    : m_config(config), m_nMinSamples(SamplesOf(config.fMinSeconds, config.nRate)),
      m_nMaxBurst(SamplesOf(kMaxBurstSeconds, config.nRate)),
      m_nGuard(SamplesOf(kBurstGuardSeconds, config.nRate)),
      m_nEdge(std::max<int64_t>(SamplesOf(kEdgeSeconds, config.nRate), 1)),
      m_fFullScale(config.nBitsPerSample == 16 ? 32768.0f : 1.0f), m_nQuietLimit16(QuietLimit16(config.fThreshold))
{
    // The longest block (up to 1024 samples) no longer than the shortest stretch kept nor
    // the quiet a burst needs before it; none below 32: sample by sample then.
    const int64_t nLimit = std::min<int64_t>(std::min(m_nMinSamples, m_nGuard), 1024);
    for (int64_t n = 1024; n >= 32 && m_nBlockSamples == 0; n /= 2)
        if (n <= nLimit) m_nBlockSamples = n;
}

void CQuietStretches::Reset()
{
    m_nPos = 0;
    m_nLastLoud = m_nLastLoudAny = m_nFirstLoud = -1;
    m_nBurstFirst = m_nBurstLast = -1;
    m_fLoudest = m_fLoudestAfter = 0;
    m_nBursts = 0;
    m_nBlock = 0;
    m_fBlockMax = m_fPrevBlockMax = m_fInside = 0;
    m_stretches.clear();
}

// Lists the stretch from the sample after m_nLastLoud up to (not including) nEndSample
// when it is long enough.
void CQuietStretches::EndStretch(int64_t nEndSample, bool bTrailing)
{
    const int64_t nFirst = m_nLastLoud + 1;
    const int64_t nSamples = nEndSample - nFirst;
    if (nSamples <= 0 || nSamples < m_nMinSamples) return;
    QuietStretch s;
    s.nFirstSample = nFirst;
    s.nSamples = nSamples;
    s.nStart = (nFirst + 1) / 2;  // the first frame whose both samples are quiet
    s.nLength = std::max<int64_t>(nEndSample / 2 - s.nStart, 0);
    s.fLoudest = m_fLoudest / m_fFullScale;
    s.fLoudestInside = m_fInside / m_fFullScale;
    s.nBursts = m_nBursts;
    s.bLeading = m_nLastLoud < 0;
    s.bTrailing = bTrailing;
    m_stretches.push_back(s);
}

namespace {

template <typename Sample>
CADENZO_QS_INLINE Sample SampleAt(const unsigned char* pBytes, int64_t k)
{
    Sample raw;
    std::memcpy(&raw, pBytes + static_cast<size_t>(k) * sizeof(Sample), sizeof raw);
    return raw;
}

// A sample is loud when its magnitude lies above the threshold, or when it is not a number.
template <typename Sample>
CADENZO_QS_INLINE bool IsLoud(Sample raw, float fThreshold)
{
    return !(std::fabs(static_cast<float>(raw)) <= fThreshold);
}

// Whether any of n samples is loud, and the largest magnitude of them when none is.
// 16-bit: the largest and smallest value, which the compiler runs many samples at a time.
CADENZO_QS_INLINE bool AnyLoud(const unsigned char* pBytes, int64_t n, float fThreshold, float* pfMax, int16_t)
{
    int16_t nMax = 0, nMin = 0;
    g_pfnMinMax16(pBytes, n, &nMin, &nMax);
    // fabs of the float of each sample, as a sample is judged one at a time.
    *pfMax = std::max(static_cast<float>(nMax), -static_cast<float>(nMin));
    return *pfMax > fThreshold;
}

CADENZO_QS_INLINE bool AnyLoud(const unsigned char* pBytes, int64_t n, float fThreshold, float* pfMax, float)
{
    float fMax = 0;
    bool bLoud = false;
    for (int64_t k = 0; k < n; ++k) {
        const float a = std::fabs(SampleAt<float>(pBytes, k));
        bLoud |= !(a <= fThreshold);
        fMax = std::max(fMax, a);
    }
    *pfMax = fMax;
    return bLoud;
}

}  // namespace

// The block of the edges that sample holds has changed to nBlock: the block before the
// one just left is no longer among the last two.
void CQuietStretches::NextBlock(int64_t nBlock)
{
    if (m_nBlock >= 2) m_fInside = std::max(m_fInside, m_fPrevBlockMax);
    if (nBlock == m_nBlock + 1) {
        m_fPrevBlockMax = m_fBlockMax;
    } else {  // skipped over a burst: the block just left is inside too
        if (m_nBlock >= 1) m_fInside = std::max(m_fInside, m_fBlockMax);
        m_fPrevBlockMax = 0;
    }
    m_fBlockMax = 0;
    m_nBlock = nBlock;
}

// A loud sample (or one that is not a number) at stream sample i.
void CQuietStretches::Loud(int64_t i)
{
    if (m_nFirstLoud < 0) m_nFirstLoud = i;
    m_nLastLoudAny = i;
    if (m_nBurstFirst >= 0) {
        if (i - m_nBurstFirst < m_nMaxBurst) {
            m_nBurstLast = i;  // the same burst goes on
            return;
        }
        // Too long for a click: the stretch ended where the burst began.
        EndStretch(m_nBurstFirst, false);
        m_nBurstFirst = -1;
    } else if (m_config.bPassBursts && i - m_nLastLoud - 1 >= m_nGuard && m_nLastLoud + 1 < i) {
        // Possibly a click: judged once it has ended and the quiet after it has lasted.
        m_nBurstFirst = m_nBurstLast = i;
        m_fLoudestAfter = 0;
        return;
    } else {
        EndStretch(i, false);
    }
    m_nLastLoud = i;
    m_fLoudest = 0;
    m_nBursts = 0;
    m_nBlock = 0;
    m_fBlockMax = m_fPrevBlockMax = m_fInside = 0;
}

// Samples [kFrom, kTo) of the buffer, one at a time.
template <typename Sample>
void CQuietStretches::RunPlain(const unsigned char* pBytes, int64_t kFrom, int64_t kTo)
{
    const float fThreshold = m_config.fThreshold;
    for (int64_t k = kFrom; k < kTo; ++k) {
        const Sample raw = SampleAt<Sample>(pBytes, k);
        const int64_t i = m_nPos + k;
        if (IsLoud(raw, fThreshold)) {
            Loud(i);
            continue;
        }
        const float a = std::fabs(static_cast<float>(raw));
        const int64_t nBlock = (i - m_nLastLoud - 1) / m_nEdge;
        if (nBlock != m_nBlock) NextBlock(nBlock);
        m_fBlockMax = std::max(m_fBlockMax, a);
        if (m_nBurstFirst < 0) {
            m_fLoudest = std::max(m_fLoudest, a);
        } else {
            m_fLoudestAfter = std::max(m_fLoudestAfter, a);
            if (i - m_nBurstLast >= m_nGuard) {
                // Quiet again long enough: the burst was a click inside the stretch.
                m_fLoudest = std::max(m_fLoudest, m_fLoudestAfter);
                ++m_nBursts;
                m_nBurstFirst = -1;
            }
        }
    }
}

// Samples [kFrom, kTo) of the buffer, none of them loud: a piece at a time, each piece
// within one edge block and ending where a burst being judged becomes a click at the latest.
template <typename Sample>
void CQuietStretches::RunQuiet(const unsigned char* pBytes, int64_t kFrom, int64_t kTo)
{
    int64_t i = m_nPos + kFrom;
    const int64_t nEnd = m_nPos + kTo;
    while (i < nEnd) {
        const int64_t nBlock = (i - m_nLastLoud - 1) / m_nEdge;
        if (nBlock != m_nBlock) NextBlock(nBlock);
        int64_t nTo = std::min(m_nLastLoud + 1 + (nBlock + 1) * m_nEdge, nEnd);
        if (m_nBurstFirst >= 0) nTo = std::min(nTo, std::max(m_nBurstLast + m_nGuard + 1, i + 1));
        float a = 0;
        AnyLoud(pBytes + static_cast<size_t>(i - m_nPos) * sizeof(Sample), nTo - i, 0, &a, Sample());
        m_fBlockMax = std::max(m_fBlockMax, a);
        if (m_nBurstFirst < 0) {
            m_fLoudest = std::max(m_fLoudest, a);
        } else {
            m_fLoudestAfter = std::max(m_fLoudestAfter, a);
            if (nTo - 1 - m_nBurstLast >= m_nGuard) {
                m_fLoudest = std::max(m_fLoudest, m_fLoudestAfter);
                ++m_nBursts;
                m_nBurstFirst = -1;
            }
        }
        i = nTo;
    }
}

// The first loud sample from k on, and the last one up to k; the block holds one.
template <>
int64_t CQuietStretches::FirstLoud<int16_t>(const unsigned char* pBytes, int64_t k, float) const
{
    return FirstLoud16(pBytes, k, k + m_nBlockSamples, m_nQuietLimit16);
}

template <>
int64_t CQuietStretches::LastLoud<int16_t>(const unsigned char* pBytes, int64_t k, float) const
{
    return LastLoud16(pBytes, k - m_nBlockSamples + 1, k, m_nQuietLimit16);
}

template <>
int64_t CQuietStretches::FirstLoud<float>(const unsigned char* pBytes, int64_t k, float fThreshold) const
{
    while (!IsLoud(SampleAt<float>(pBytes, k), fThreshold)) ++k;
    return k;
}

template <>
int64_t CQuietStretches::LastLoud<float>(const unsigned char* pBytes, int64_t k, float fThreshold) const
{
    while (!IsLoud(SampleAt<float>(pBytes, k), fThreshold)) --k;
    return k;
}

// Judges the buffer a short block at a time. A block with no loud sample is judged in
// closed form. In a block with loud samples, the stretches between its first and last
// loud sample are shorter than the block, so shorter than any stretch kept, and none of
// those loud samples can begin a burst (they follow another loud sample within less than
// the quiet a burst needs before it): only the quiet before the first and after the last
// is judged. A block where a burst is being judged, or whose first loud sample may begin
// one, is judged sample by sample.
template <typename Sample>
void CQuietStretches::Run(const unsigned char* pBytes, int32_t n)
{
    const float fThreshold = m_config.fThreshold;
    const int64_t kBlock = m_nBlockSamples;
    int64_t k = 0;
    if (!m_bPlain && kBlock > 0) {
        for (; k + kBlock <= n; k += kBlock) {
            const unsigned char* p = pBytes + static_cast<size_t>(k) * sizeof(Sample);
            float fMax = 0;
            if (!AnyLoud(p, kBlock, fThreshold, &fMax, Sample())) {
                RunQuiet<Sample>(pBytes, k, k + kBlock);
                continue;
            }
            const int64_t kFirst = FirstLoud<Sample>(pBytes, k, fThreshold);
            const int64_t i = m_nPos + kFirst;
            if (m_nBurstFirst >= 0 || (m_config.bPassBursts && i - m_nLastLoud - 1 >= m_nGuard && m_nLastLoud + 1 < i)) {
                RunPlain<Sample>(pBytes, k, k + kBlock);
                continue;
            }
            const int64_t kLast = LastLoud<Sample>(pBytes, k + kBlock - 1, fThreshold);
            RunQuiet<Sample>(pBytes, k, kFirst);
            Loud(i);
            if (kLast > kFirst) Loud(m_nPos + kLast);
            RunQuiet<Sample>(pBytes, kLast + 1, k + kBlock);
        }
    }
    RunPlain<Sample>(pBytes, k, n);
    m_nPos += n;
}

void CQuietStretches::Feed(const void* samples, int32_t byteCount)
{
    if (samples == nullptr || byteCount <= 0) return;
    const unsigned char* pBytes = static_cast<const unsigned char*>(samples);
    if (m_config.nBitsPerSample == 16) Run<int16_t>(pBytes, byteCount / 2);
    else Run<float>(pBytes, byteCount / 4);
}

void CQuietStretches::Finish()
{
    if (m_nBurstFirst >= 0) {
        // A burst at the very end has no quiet after it: a sound, not a click.
        EndStretch(m_nBurstFirst, false);
        m_nLastLoud = m_nBurstLast;
        m_fLoudest = m_fInside = m_fLoudestAfter;
        m_nBursts = 0;
        m_nBurstFirst = -1;
    }
    EndStretch(m_nPos, true);
}

bool CQuietStretches::IsMoreConvincing(const QuietStretch& a, const QuietStretch& b)
{
    if (a.nSamples != b.nSamples) return a.nSamples > b.nSamples;
    if (a.fLoudest != b.fLoudest) return a.fLoudest < b.fLoudest;
    return a.nFirstSample < b.nFirstSample;
}

std::vector<QuietStretch> CQuietStretches::MostConvincing(size_t nCount) const
{
    std::vector<QuietStretch> inner;
    for (const QuietStretch& s : m_stretches)
        if (!s.bLeading && !s.bTrailing) inner.push_back(s);
    std::sort(inner.begin(), inner.end(), IsMoreConvincing);
    if (inner.size() > nCount) inner.resize(nCount);
    return inner;
}

bool CQuietStretches::MostConvincingWithin(int64_t nFrom, int64_t nTo, QuietStretch* pFound) const
{
    const QuietStretch* pBest = nullptr;
    for (const QuietStretch& s : m_stretches) {
        if (s.bLeading || s.bTrailing || s.nStart >= nTo || s.nStart + s.nLength <= nFrom) continue;
        if (pBest == nullptr || IsMoreConvincing(s, *pBest)) pBest = &s;
    }
    if (pBest == nullptr) return false;
    if (pFound != nullptr) *pFound = *pBest;
    return true;
}

int64_t CQuietStretches::CutFrame(const QuietStretch& s, int64_t nGapSamples)
{
    if (nGapSamples > 0 && s.nSamples >= nGapSamples) return (s.nFirstSample + nGapSamples - 1) / 2;
    return s.nStart + s.nLength / 2;
}

bool CQuietStretches::CutNear(const std::vector<QuietStretch>& stretches, int64_t nExpected, int64_t nWindow,
                              int64_t nEarliest, int64_t nLimit, int64_t nGapSamples, QuietStretch* pFound,
                              int64_t* pnCut)
{
    const QuietStretch* pBest = nullptr;
    int64_t nBestCut = 0;
    for (const QuietStretch& s : stretches) {
        if (s.bLeading || s.bTrailing || s.nStart >= nExpected + nWindow || s.nStart + s.nLength <= nExpected - nWindow)
            continue;
        const int64_t nCut = CutFrame(s, nGapSamples);
        if (nCut < nEarliest || nCut >= nLimit) continue;
        if (pBest == nullptr || IsMoreConvincing(s, *pBest)) {
            pBest = &s;
            nBestCut = nCut;
        }
    }
    if (pBest == nullptr) return false;
    *pFound = *pBest;
    *pnCut = nBestCut;
    return true;
}

std::vector<int64_t> CQuietStretches::ChooseCuts(int nCuts, int64_t nMinSongFrames, int64_t nGapSamples,
                                                 std::vector<int64_t> chosen) const
{
    std::vector<int64_t> cuts = std::move(chosen);
    if (static_cast<int>(cuts.size()) >= nCuts) {
        std::sort(cuts.begin(), cuts.end());
        return cuts;
    }
    const int64_t nEnd = FramesFed();
    for (const QuietStretch& s : MostConvincing(m_stretches.size())) {
        const int64_t nCut = CutFrame(s, nGapSamples);
        if (nCut < nMinSongFrames || nEnd - nCut < nMinSongFrames) continue;
        bool bFits = true;
        for (int64_t nOther : cuts) bFits = bFits && std::llabs(nCut - nOther) >= nMinSongFrames;
        if (!bFits) continue;
        cuts.push_back(nCut);
        if (static_cast<int>(cuts.size()) == nCuts) break;
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}
