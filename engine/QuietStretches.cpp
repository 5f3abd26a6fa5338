#include "engine/QuietStretches.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#define CADENZO_QS_INLINE __attribute__((always_inline)) inline

namespace {

int64_t SamplesOf(double fSeconds, int32_t nRate)
{
    const double f = fSeconds * (nRate > 0 ? nRate : 0) * 2.0;
    return f > 0 ? static_cast<int64_t>(f) : 0;
}

}  // namespace

CQuietStretches::CQuietStretches(const Config& config)
    : m_config(config), m_nMinSamples(SamplesOf(config.fMinSeconds, config.nRate)),
      m_nMaxBurst(SamplesOf(kMaxBurstSeconds, config.nRate)),
      m_nGuard(SamplesOf(kBurstGuardSeconds, config.nRate)),
      m_nEdge(std::max<int64_t>(SamplesOf(kEdgeSeconds, config.nRate), 1)),
      m_fFullScale(config.nBitsPerSample == 16 ? 32768.0f : 1.0f)
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
    for (int64_t k = 0; k < n; ++k) {
        const int16_t v = SampleAt<int16_t>(pBytes, k);
        nMax = std::max(nMax, v);
        nMin = std::min(nMin, v);
    }
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
            int64_t kFirst = k;
            while (!IsLoud(SampleAt<Sample>(pBytes, kFirst), fThreshold)) ++kFirst;
            const int64_t i = m_nPos + kFirst;
            if (m_nBurstFirst >= 0 || (m_config.bPassBursts && i - m_nLastLoud - 1 >= m_nGuard && m_nLastLoud + 1 < i)) {
                RunPlain<Sample>(pBytes, k, k + kBlock);
                continue;
            }
            int64_t kLast = k + kBlock - 1;
            while (!IsLoud(SampleAt<Sample>(pBytes, kLast), fThreshold)) --kLast;
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
