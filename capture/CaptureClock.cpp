#include "capture/CaptureClock.h"

#include <algorithm>

void CCaptureClock::Start(int32_t nRate, double fSlack, double fConfirm, double fSettle,
                          double fDriftPpm)
{
    *this = CCaptureClock();
    m_fRate = nRate;
    m_fSlack = fSlack * nRate;
    m_fConfirm = fConfirm;
    m_fSettle = fSettle;
    m_fDrift = fDriftPpm * 1e-6;
}

int64_t CCaptureClock::Update(double fNow, int64_t nFrames, int64_t nStreamBytes,
                              int64_t* pnPosition, bool bOverflow)
{
    if (!m_bStarted) {
        m_bStarted = true;
        m_fStart = fNow;
        if (!bOverflow) return 0;
        m_nReported += 1;
        if (pnPosition) *pnPosition = nStreamBytes;
        return 1;
    }
    m_nReceived += nFrames;
    m_nLargestPeriod = std::max(m_nLargestPeriod, nFrames);
    const double fElapsed = fNow - m_fStart;
    const double fExpected = fElapsed * m_fRate;
    const double fDeficit = fExpected - static_cast<double>(m_nReceived);
    if (bOverflow) {
        // Before the stream has settled there is no low to measure against: at least the
        // one frame that the flag vouches for.
        const double fOver = m_bHaveBase ? fDeficit - m_fBase - static_cast<double>(m_nReported) : 0.0;
        const int64_t nLost = std::max<int64_t>(1, static_cast<int64_t>(fOver + 0.5));
        m_nReported += nLost;
        m_bExcursion = false;
        m_bContinuing = false;
        if (pnPosition) *pnPosition = nStreamBytes;
        return nLost;
    }
    if (fElapsed < m_fSettle) return 0;

    if (!m_bHaveBase || fDeficit < m_fBase) {
        m_bHaveBase = true;
        m_fBase = fDeficit;
    }
    // What the deficit may be without anything lost: the settled low, the wobble (at least
    // two periods: frames come a period at a time), the drift the two clocks may have built
    // up, and what has been reported already.
    const double fWobble = std::max(m_fSlack, 2.0 * static_cast<double>(m_nLargestPeriod));
    const double fAllowed = m_fBase + fWobble + m_fDrift * fExpected + static_cast<double>(m_nReported);
    if (fDeficit <= fAllowed) {
        m_bExcursion = false;
        m_bContinuing = false;
        return 0;
    }
    if (!m_bExcursion) {
        m_bExcursion = true;
        m_fExcursionStart = fNow;
        m_fExcursionMin = fDeficit;
        // A deficit that went on growing after a report is the same gap, still widening.
        m_nExcursionPos = m_bContinuing ? m_nExcursionPos : nStreamBytes;
        return 0;
    }
    m_fExcursionMin = std::min(m_fExcursionMin, fDeficit);
    if (fNow - m_fExcursionStart < m_fConfirm) return 0;

    // Raised for a whole window: what it stayed above the settled low is gone for good.
    const int64_t nNew =
        static_cast<int64_t>(m_fExcursionMin - m_fBase - static_cast<double>(m_nReported) + 0.5);
    m_bExcursion = false;
    m_bContinuing = true;
    if (nNew <= 0) return 0;
    m_nReported += nNew;
    if (pnPosition) *pnPosition = m_nExcursionPos;
    return nNew;
}
