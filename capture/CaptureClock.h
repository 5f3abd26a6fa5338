#pragma once
// Notices audio that a sound card failed to deliver, by comparing the frames received
// with the time that has passed.

#include <cstdint>

/**
 * Judges from the callback times whether frames went missing before they reached us.
 * Sound servers drop input without raising any flag when a client falls far behind, so
 * the only witness is the clock: after the first callback, elapsed time x rate should
 * match the frames received. The difference (the deficit) wobbles by a period or two and
 * jumps while a late callback catches up; frames that never come leave it raised for
 * good. A raise is taken as a loss when it lasts a whole confirmation window, by more
 * than a small slack plus 200 ppm of clock drift, over the lowest deficit seen once the
 * stream has settled.
 *
 * Start() before the stream starts, then Update() once per callback, on the capture
 * thread only. Times are seconds of a monotonic clock.
 */
class CCaptureClock
{
public:
    // fSlack: seconds of wobble tolerated; fConfirm: seconds a raise must last; fSettle:
    // seconds after the first callback during which the stream finds its pace.
    void Start(int32_t nRate, double fSlack = 0.05, double fConfirm = 1.0, double fSettle = 1.0,
               double fDriftPpm = 200.0);

    // fNow: when this callback runs; nFrames: frames it brings; nStreamBytes: position of
    // those frames in the delivered stream. Returns the frames newly judged missing (mostly
    // 0) and sets *pnPosition to the stream position where they belong.
    // bOverflow: the sound system says input was lost just before these frames. That needs
    // no confirming: what the deficit stands above the settled low is taken as lost at once,
    // and at least one frame is returned.
    int64_t Update(double fNow, int64_t nFrames, int64_t nStreamBytes, int64_t* pnPosition,
                   bool bOverflow = false);

    // Frames judged missing since Start().
    int64_t GetMissing() const { return m_nReported; }

private:
    double m_fRate = 0;
    double m_fSlack = 0, m_fConfirm = 0, m_fSettle = 0, m_fDrift = 0;
    bool m_bStarted = false;
    double m_fStart = 0;         // time of the first callback
    int64_t m_nReceived = 0;     // frames after the first callback
    bool m_bHaveBase = false;
    double m_fBase = 0;          // lowest deficit since the stream settled, frames
    int64_t m_nLargestPeriod = 0;  // most frames one callback brought
    bool m_bExcursion = false;   // the deficit is above the allowance
    double m_fExcursionStart = 0;
    double m_fExcursionMin = 0;  // lowest deficit during the excursion
    int64_t m_nExcursionPos = 0; // stream position where the excursion began
    bool m_bContinuing = false;  // the deficit has stayed raised since the last report
    int64_t m_nReported = 0;
};
