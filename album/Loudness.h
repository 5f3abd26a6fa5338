#pragma once
// ReplayGain 2.0 from EBU R128 loudness: how far each song and the whole album lie from the
// reference loudness of -18 LUFS, and their highest sample.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CAlbumReader;
enum class CDeclickLevel;

// One song's or the album's gain.
struct CGain {
    bool bMeasured = false;  // false for digital silence or very quiet audio (nothing gates in)
    double fLoudness = 0.0;  // integrated loudness, LUFS
    double fGainDb = 0.0;    // -18 LUFS minus fLoudness
    double fPeak = 0.0;      // highest absolute sample, 1.0 full scale
};

struct CReplayGain {
    std::vector<CGain> tracks;  // [i] is song i + 1
    CGain album;                // over every song together
};

// Integrated loudness and sample peak of a stream of interleaved float frames.
class CLoudnessMeter
{
public:
    CLoudnessMeter(int32_t nChannels, int32_t nRate);
    ~CLoudnessMeter();
    CLoudnessMeter(const CLoudnessMeter&) = delete;
    CLoudnessMeter& operator=(const CLoudnessMeter&) = delete;

    bool IsValid() const;  // false when the channel count or rate cannot be measured
    void Add(const float* pFrames, int64_t nFrames);
    CGain GetGain() const;
    // The album's gain: the loudness of all meters' audio gated as one, the highest peak.
    static CGain AlbumGain(const std::vector<const CLoudnessMeter*>& meters);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

namespace Loudness {

const double kReferenceLufs = -18.0;

// Measures the songs [ranges[i].first, ranges[i].second) of a reader's album, each repaired
// by a declicker of level *pRepair first when given (as the export writes them). Returns
// false with a text when the audio cannot be read; false without text when bCancel was set.
// fnFrames is called with each count of frames measured.
bool Measure(CAlbumReader& reader, const std::vector<std::pair<int64_t, int64_t>>& ranges,
             const CDeclickLevel* pRepair, const std::atomic<bool>& bCancel, const std::function<void(int64_t)>& fnFrames,
             CReplayGain* pGain, std::string* pError);

// Tag values as ReplayGain readers expect them: "-7.89 dB", "0.988525".
std::string GainText(double fGainDb);
std::string PeakText(double fPeak);
// The Q7.8 gain relative to -23 LUFS that Opus players read from R128_TRACK_GAIN.
std::string R128Text(double fGainDb);

}  // namespace Loudness
