#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How readily the declicker calls a sample a click. Normal leaves clean music alone;
// Strong also takes fainter clicks, at the price of touching a little more music.
enum class CDeclickLevel { Light, Normal, Strong };

// "light", "normal", "strong".
const char* DeclickLevelName(CDeclickLevel level);
// Reads one of the names above (any case). False, level untouched, for anything else.
bool ParseDeclickLevel(const std::string& strName, CDeclickLevel& level);

/**
 * Takes clicks, pops and crackle out of a stream of interleaved float samples (full
 * scale +-1.0), each channel on its own.
 *
 * Every channel is modelled as an autoregressive process (a linear predictor of order
 * kOrder fitted to the last kModelWindow repaired samples). A sample whose prediction
 * error stands far above the local level of that error (the larger of the medians of
 * short-stretch error levels just before and just after it, so a click does not raise
 * its own yardstick and the onset of a note does) starts a click; a burst of such
 * samples longer than a click can be (a drum, a plucked attack) is music and left alone.
 * Each click is widened while the error stays above a lower threshold (a burst's span is
 * then fitted to the samples whose restoring gains more than music would), and its
 * samples are restored by least-squares autoregressive interpolation from the samples
 * around it. A click is taken only when restoring it changes the samples by no more than
 * the prediction error it caused (a click adds an impulse to the music; a short one's may
 * be a little smaller, where the music's own error had the other sign) or lowers the
 * prediction error around it many times over; a drum hit or a sharp attack that the
 * predictor did not foresee fails that test and is left alone. So, unless it gains far
 * more, is a change that builds up smoothly before its peak (a click stands at full size
 * from its first sample or rings from sample to sample; a note's attack does neither), and
 * a short burst across which the music steps, restoring taking away first a dip against
 * the step and then an overshoot with it (a band-limited attack, not a click).
 *
 * Where the predictor follows the music closely, a lone click's forward and backward
 * errors peak a sample or two apart: the errors correlated with the prediction error
 * filter (the filter matched to an impulse) find it, and find faint ticks below the
 * level that starts a click where nothing loud is near. Wide scratch pops (18 to 32
 * samples of a smooth pulse, which the predictor largely follows) are looked for where
 * the error summed over 16 samples stands far above its level, and taken when
 * interpolating the span gains many times over, what it removes is smooth, of one sign
 * and fades out at both ends, and, where that gain is doubtful, a predictor of order
 * 96 (which follows a bass line the short one cannot) still gains from it. A loud pop
 * in loud, rough music, whose error the music's own hides, is looked for in the pop band
 * (800 to 3000 Hz, the upper part of a pop's spectrum), where it stands far above
 * anything the music holds for 46 ms either side. A run of six
 * samples or more (a burst, a pop) is restored by that finer predictor, which keeps more
 * of the music's lines over so many samples.
 * Samples not marked leave exactly as they came.
 *
 * The output runs Latency() frames behind the input: Process() gives back as many
 * frames as it takes once that many are held, and Finish() gives the rest. How the
 * input is cut into blocks makes no difference to the output. Optionally each output
 * sample comes with a mark, 1 where it was restored.
 *
 * Not thread-safe; allocates only when constructed and while a stream's first seconds
 * fill its buffers. Never throws.
 */
class CDeclicker
{
public:
    static constexpr int kOrder = 24;           // predictor order
    static constexpr int kStep = 512;           // frames analysed per step
    static constexpr int kModelWindow = 2048;   // frames the predictor is fitted to
    static constexpr int kStretch = 32;         // frames per error level
    static constexpr int kStretchesAside = 8;   // levels in each median, beside the own one

    CDeclicker(int32_t nChannels, int32_t nRate, CDeclickLevel level = CDeclickLevel::Normal);
    ~CDeclicker();
    CDeclicker(const CDeclicker&) = delete;
    CDeclicker& operator=(const CDeclicker&) = delete;

    // Frames by which the output trails the input (about 73 ms at 44.1 kHz).
    int64_t Latency() const { return m_nLatency; }

    // Takes nFrames interleaved frames; writes up to nFrames repaired frames to pOut
    // (and one mark per sample to pMarks when given) and returns how many.
    size_t Process(const float* pIn, size_t nFrames, float* pOut, uint8_t* pMarks = nullptr);
    // The end of the stream: writes the frames still held (at most Latency()) and
    // returns how many. The declicker is then ready for a new stream.
    size_t Finish(float* pOut, uint8_t* pMarks = nullptr);

    int64_t Clicks() const;           // clicks repaired so far, counted per channel
    int64_t RepairedSamples() const;  // samples restored so far, all channels

private:
    struct Channel;
    size_t Emit(int64_t nUpTo, float* pOut, uint8_t* pMarks);

    int32_t m_nChannels;
    int32_t m_nRate;
    CDeclickLevel m_level;
    std::vector<std::unique_ptr<Channel>> m_channels;
    int64_t m_nLatency = 0;
    int64_t m_nIn = 0;    // frames taken
    int64_t m_nOut = 0;   // frames given back
};
