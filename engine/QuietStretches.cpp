#include "engine/QuietStretches.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

template <typename Sample>
void CQuietStretches::Run(const unsigned char* pBytes, int32_t n)
{
    const float fThreshold = m_config.fThreshold;
    const bool bPass = m_config.bPassBursts;
    for (int32_t k = 0; k < n; ++k) {
        Sample raw;
        std::memcpy(&raw, pBytes + static_cast<size_t>(k) * sizeof(Sample), sizeof raw);
        const float a = std::fabs(static_cast<float>(raw));
        const int64_t i = m_nPos + k;

        if (a <= fThreshold) {
            const int64_t nBlock = (i - m_nLastLoud - 1) / m_nEdge;
            if (nBlock != m_nBlock) {
                // The block before the one just left is no longer among the last two.
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
            continue;
        }

        // Loud (or not a number).
        if (m_nFirstLoud < 0) m_nFirstLoud = i;
        m_nLastLoudAny = i;
        if (m_nBurstFirst >= 0) {
            if (i - m_nBurstFirst < m_nMaxBurst) {
                m_nBurstLast = i;  // the same burst goes on
                continue;
            }
            // Too long for a click: the stretch ended where the burst began.
            EndStretch(m_nBurstFirst, false);
            m_nBurstFirst = -1;
        } else if (bPass && i - m_nLastLoud - 1 >= m_nGuard && m_nLastLoud + 1 < i) {
            // Possibly a click: judged once it has ended and the quiet after it has lasted.
            m_nBurstFirst = m_nBurstLast = i;
            m_fLoudestAfter = 0;
            continue;
        } else {
            EndStretch(i, false);
        }
        m_nLastLoud = i;
        m_fLoudest = 0;
        m_nBursts = 0;
        m_nBlock = 0;
        m_fBlockMax = m_fPrevBlockMax = m_fInside = 0;
    }
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
