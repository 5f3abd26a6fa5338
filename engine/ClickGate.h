#pragma once

#include <cstdint>

/**
 * Keeps record clicks and crackle from ending a silence when Smart Gap is on.
 *
 * The gap detector calls Step() for every interleaved sample, telling it whether the
 * click-filtered sample is loud. A loud sample that follows real sound closely is sound
 * at once. A loud sample after a longer quiet opens a burst that is held back until its
 * nature is known:
 *  - when it has been loud for longer than the longest click, or spans more than a
 *    few clicks close together can, it is sound from then on;
 *  - when a quiet of the hold length follows it, it is over: a click when its loudest
 *    unfiltered sample stands well above Gap Level, so the silence around it goes on as
 *    if it were not there; otherwise sound, ending at its last loud sample, which is
 *    what the detector would have said without the gate.
 * While a burst is held back the detector makes no cut and no end; the first silence
 * test after a click is therefore late by at most the longest span plus the hold, and
 * falls inside the same silence. Where no burst turns out to be a click, every last loud
 * sample, cut and end is where the detector puts them without the gate, because the hold
 * is shorter than Gap Size and End Gap (Prepare() makes sure of it).
 *
 * Positions are interleaved samples from the start of the current buffer, as the
 * splitter's own; Shift() moves them on to the next buffer. No allocation. Not
 * thread-safe: driven by the recording worker through the splitter.
 */
class CClickGate
{
public:
    // The longest a burst of clicks may be loud (counted per channel, so a click on both
    // channels counts twice) and the longest it may span, first to last loud sample; the
    // quiet that ends it. Crackle whose clicks come closer than the hold makes one burst.
    // A click's loudest unfiltered sample must exceed clickFactor times the gap
    // threshold. The hold is cut below Gap Size and End Gap.
    static constexpr double kMaxLoudSeconds = 0.016;
    static constexpr double kMaxSpanSeconds = 0.030;
    static constexpr double kHoldSeconds = 0.012;
    static constexpr float kClickFactor = 2.0f;  // 6 dB above Gap Level
    // The click filter's output crosses Gap Level a few samples after a click has passed,
    // so the unfiltered peak is taken from a short memory that loses 3% a sample.
    static constexpr float kRecentDecay = 0.97f;

    // Sets the lengths for a recording at `rate` Hz and forgets any held burst.
    void Prepare(int32_t rate, int64_t gapSamples, int64_t endGapSamples, float threshold)
    {
        m_nMaxLoud = static_cast<int64_t>(kMaxLoudSeconds * rate);
        m_nMaxSpan = static_cast<int64_t>(kMaxSpanSeconds * rate * 2.0);
        m_nHold = static_cast<int64_t>(kHoldSeconds * rate * 2.0);
        if (m_nHold > gapSamples - 1) m_nHold = gapSamples - 1;
        if (m_nHold > endGapSamples - 1) m_nHold = endGapSamples - 1;
        if (m_nHold < 0) m_nHold = 0;
        if (m_nMaxLoud < 0) m_nMaxLoud = 0;
        if (m_nMaxSpan < 0) m_nMaxSpan = 0;
        m_fClickPeak = threshold * kClickFactor;
        m_bHeld = false;
        m_nStart = m_nLast = 0;
        m_nLoud = 0;
        m_fPeak = 0;
        m_fRecent = 0;
    }

    // One sample at position i: `loud` is the detector's verdict on the click-filtered
    // sample, `magnitude` the unfiltered one. Moves lastLoud as sound requires. Returns
    // true when the detector should run its silence tests (end, cut) at i, with the
    // silence counted from lastLoud.
    bool Step(int64_t i, bool loud, float magnitude, int64_t& lastLoud)
    {
        return StepAfter(i, loud, magnitude, NextRecent(m_fRecent, magnitude), lastLoud);
    }

    // The decaying loudest recent magnitude after one more sample of the given magnitude.
    static float NextRecent(float recent, float magnitude)
    {
        const float decayed = recent * kRecentDecay;
        return magnitude > decayed ? magnitude : decayed;
    }

    // Step() for a caller that has worked out the decaying loudest magnitude including
    // this sample itself, with NextRecent() from Recent() on.
    bool StepAfter(int64_t i, bool loud, float magnitude, float recent, int64_t& lastLoud)
    {
        m_fRecent = recent;
        if (!m_bHeld) {
            if (!loud) return true;
            if (i - lastLoud <= m_nHold) {
                lastLoud = i;  // sound goes on
                return false;
            }
            m_bHeld = true;  // a burst after a quiet: hold it back
            m_nStart = m_nLast = i;
            m_nLoud = 1;
            m_fPeak = m_fRecent;
            return false;
        }
        if (magnitude > m_fPeak) m_fPeak = magnitude;
        if (loud) {
            m_nLast = i;
            if (++m_nLoud > m_nMaxLoud || i - m_nStart > m_nMaxSpan) {  // too long for clicks
                m_bHeld = false;
                lastLoud = i;
            }
            return false;
        }
        if (i - m_nLast <= m_nHold) return false;  // not over yet
        m_bHeld = false;
        if (!(m_fPeak > m_fClickPeak)) lastLoud = m_nLast;  // too faint to be a click: sound
        return true;
    }

    float Recent() const { return m_fRecent; }
    void SetRecent(float recent) { m_fRecent = recent; }
    // No burst is held back.
    bool IsOpen() const { return !m_bHeld; }
    // The quiet, in interleaved samples, after which a loud sample opens a burst.
    int64_t HoldSamples() const { return m_nHold; }

    // Makes the held positions relative to the start of the next buffer, n samples on.
    void Shift(int64_t n)
    {
        m_nStart -= n;
        m_nLast -= n;
    }

private:
    int64_t m_nMaxLoud = 0;   // loud samples a burst of clicks may hold
    int64_t m_nMaxSpan = 0;   // longest burst of clicks, first to last loud sample, interleaved samples
    int64_t m_nHold = 0;      // quiet that ends a burst, interleaved samples
    float m_fClickPeak = 0;   // an unfiltered magnitude a click must exceed, sample units
    bool m_bHeld = false;     // a burst is held back
    int64_t m_nStart = 0;     // its first loud sample
    int64_t m_nLast = 0;      // its last loud sample so far
    int64_t m_nLoud = 0;      // its loud samples so far
    float m_fPeak = 0;        // its loudest unfiltered magnitude so far
    float m_fRecent = 0;      // loudest recent unfiltered magnitude, decaying
};
