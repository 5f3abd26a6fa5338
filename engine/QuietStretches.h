#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One quiet stretch of a stream: a run of samples none of which is loud, between two
// loud samples (or the start or end of the stream).
struct QuietStretch {
    int64_t nStart = 0;        // first frame of the stretch, from the start of the stream
    int64_t nLength = 0;       // frames in it (only whole quiet frames count)
    float fLoudest = 0;        // largest magnitude in it, 1.0 = full scale (bursts passed over excluded)
    float fLoudestInside = 0;  // the same leaving out kEdgeSeconds to twice that at either end,
                               // where sound fades in and out: the level a gap must allow
    int32_t nBursts = 0;       // short loud bursts (clicks) passed over inside it
    int64_t nFirstSample = 0;  // first quiet interleaved sample (two per frame)
    int64_t nSamples = 0;      // quiet interleaved samples: the silence the splitter counts
    bool bLeading = false;     // runs from the start of the stream: before the first sound
    bool bTrailing = false;    // runs to the end of the stream: after the last sound
};

// What CQuietStretches judges: the stream's format, the level and the shortest stretch kept.
struct QuietStretchesConfig {
    int32_t nRate = 44100;         // frames per second
    int16_t nBitsPerSample = 16;   // 16 = 16-bit integer, anything else = 32-bit float
    float fThreshold = 583.0f;     // magnitude in sample units (32768 = full scale for
                                   // 16-bit, 1.0 for float) above which a sample is loud;
                                   // CSongSplitter::GetGapThreshold() gives the splitter's
    double fMinSeconds = 0.05;     // shorter stretches are not kept
    bool bPassBursts = false;      // pass over short isolated loud bursts (Smart Gap)
};

/**
 * Finds the quiet stretches of a recording and answers which of them is the most
 * convincing gap between songs.
 *
 * Fed the same buffers as the song splitter (two interleaved channels, left first;
 * 16-bit signed integers when bits is 16, otherwise 32-bit floats with full scale
 * +-1.0; after DC Block when that is on, as the splitter leaves them), it judges every
 * sample as the splitter does: a sample whose magnitude lies above the threshold is
 * loud, on either channel, and a stretch is the run of samples between two loud ones.
 * A sample that is not a number counts as loud. Stretches shorter than the minimum
 * length are not kept.
 *
 * With bursts passed over (Smart Gap), a loud burst no longer than kMaxBurstSeconds
 * with at least kBurstGuardSeconds of quiet before and after it (a click in a gap, or
 * crackle) does not end the stretch; it is counted in nBursts. Quiet music (a bass note
 * whose magnitude dips below the threshold near each zero crossing, a soft passage)
 * never becomes a long stretch this way: its loud parts are either longer or closer
 * together than that.
 *
 * "More convincing" means longer, then quieter (lower loudest level), then earlier.
 * Only stretches between sounds (neither leading nor trailing) are offered as gaps.
 *
 * Usage: construct (or Reset()), Feed() each buffer in stream order, Finish() at the
 * end of the stream, then ask. Stretches() is complete only after Finish(); before it,
 * the stretch running at the end of what was fed is not listed yet. Feed() allocates
 * (the list grows), so it belongs in analysis, not in the recording worker.
 * Not thread-safe; never throws.
 */
class CQuietStretches
{
public:
    // Longest loud burst passed over, and the quiet needed on both sides of it.
    static constexpr double kMaxBurstSeconds = 0.004;
    static constexpr double kBurstGuardSeconds = 0.020;
    // Block of the edges left out of fLoudestInside.
    static constexpr double kEdgeSeconds = 0.005;

    using Config = QuietStretchesConfig;

    CQuietStretches() : CQuietStretches(Config()) {}
    explicit CQuietStretches(const Config& config);

    // Forgets everything fed; keeps the configuration.
    void Reset();
    // Judges one buffer of byteCount bytes (whole samples; a trailing part sample is
    // ignored). The buffer is not changed.
    void Feed(const void* samples, int32_t byteCount);
    // Ends the stream: lists the stretch running at its end. Feeding after it continues
    // the stream as if Finish() had not been called, except that this stretch stays listed.
    void Finish();

    // Every kept stretch in stream order.
    const std::vector<QuietStretch>& Stretches() const { return m_stretches; }
    // Frames fed so far; the first and last frame holding a loud sample (-1 when none).
    int64_t FramesFed() const { return m_nPos / 2; }
    int64_t FirstLoudFrame() const { return m_nFirstLoud < 0 ? -1 : m_nFirstLoud / 2; }
    int64_t LastLoudFrame() const { return m_nLastLoudAny < 0 ? -1 : m_nLastLoudAny / 2; }

    static bool IsMoreConvincing(const QuietStretch& a, const QuietStretch& b);

    // Judges every sample one by one instead of a short block at a time where the block
    // allows it: the same stretches, slower. For tests of the faster way.
    void UsePlainLoop(bool bPlain) { m_bPlain = bPlain; }

    // Up to nCount stretches between sounds, most convincing first.
    std::vector<QuietStretch> MostConvincing(size_t nCount) const;
    // The most convincing stretch between sounds that overlaps frames [nFrom, nTo).
    // Returns false, leaving *pFound alone, when there is none.
    bool MostConvincingWithin(int64_t nFrom, int64_t nTo, QuietStretch* pFound) const;

    // The frame where a cut goes in a stretch: where the splitter's rule puts it (Gap
    // Size after the last loud sample, nGapSamples counting interleaved samples as
    // CSongSplitter::GetGapSamples() does), or the middle of the stretch when it is
    // shorter than that.
    static int64_t CutFrame(const QuietStretch& s, int64_t nGapSamples);

    // Where a cut belongs near the frame a song is expected to end at: of the stretches
    // between sounds that overlap [nExpected - nWindow, nExpected + nWindow), the most
    // convincing whose cut (CutFrame) lies in [nEarliest, nLimit). The cut is where the
    // stretch has it, even beyond the window: a silence that begins near the window's
    // edge is cut inside it, not at that edge. False, leaving *pFound and *pnCut alone,
    // when there is none.
    static bool CutNear(const std::vector<QuietStretch>& stretches, int64_t nExpected, int64_t nWindow,
                        int64_t nEarliest, int64_t nLimit, int64_t nGapSamples, QuietStretch* pFound,
                        int64_t* pnCut);

    // Up to nCuts cut frames (ascending) for a stream of FramesFed() frames: the cuts
    // already chosen, then one in each of the most convincing stretches between sounds
    // taken in turn, skipping a stretch whose cut would come less than nMinSongFrames
    // after the start, before the end or from a cut already chosen. Fewer are returned
    // when no more fit.
    std::vector<int64_t> ChooseCuts(int nCuts, int64_t nMinSongFrames, int64_t nGapSamples,
                                    std::vector<int64_t> chosen = {}) const;

private:
    void EndStretch(int64_t nEndSample, bool bTrailing);
    template <typename Sample>
    void Run(const unsigned char* pBytes, int32_t n);
    template <typename Sample>
    void RunPlain(const unsigned char* pBytes, int64_t nFrom, int64_t nTo);
    template <typename Sample>
    void RunQuiet(const unsigned char* pBytes, int64_t kFrom, int64_t kTo);
    template <typename Sample>
    int64_t FirstLoud(const unsigned char* pBytes, int64_t k, float fThreshold) const;
    template <typename Sample>
    int64_t LastLoud(const unsigned char* pBytes, int64_t k, float fThreshold) const;
    void Loud(int64_t i);
    void NextBlock(int64_t nBlock);

    Config m_config;
    int64_t m_nMinSamples;    // shortest stretch kept, interleaved samples
    int64_t m_nMaxBurst;      // longest burst passed over, interleaved samples
    int64_t m_nGuard;         // quiet needed around a burst, interleaved samples
    int64_t m_nEdge;          // edge block of fLoudestInside, interleaved samples (at least 1)
    float m_fFullScale;       // 32768 or 1
    int32_t m_nQuietLimit16;  // 16-bit: the largest magnitude that is not loud
    int64_t m_nBlockSamples = 0;  // samples judged at a time (0: one by one)

    int64_t m_nPos = 0;           // interleaved samples fed
    int64_t m_nLastLoud = -1;     // loud sample before the current stretch; -1 at the stream start
    int64_t m_nLastLoudAny = -1;  // latest loud sample, bursts included
    int64_t m_nFirstLoud = -1;    // first loud sample of the stream
    int64_t m_nBurstFirst = -1;   // first sample of a burst not yet judged; -1 when none
    int64_t m_nBurstLast = -1;    // its latest loud sample
    float m_fLoudest = 0;         // loudest quiet magnitude of the current stretch, sample units
    float m_fLoudestAfter = 0;    // the same since the burst being judged began
    int32_t m_nBursts = 0;        // bursts passed over in the current stretch
    // Loudest quiet magnitude of the current stretch by edge blocks counted from its start:
    // blocks before the latest two (and after the first) are in m_fInside.
    int64_t m_nBlock = 0;
    float m_fBlockMax = 0, m_fPrevBlockMax = 0, m_fInside = 0;
    std::vector<QuietStretch> m_stretches;
    bool m_bPlain = false;
};
