#include "album/Snap.h"

#include "album/Levels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Snap {

namespace {

// Sound must stand this far above the quietest level round a cut before there is a quiet
// stretch to look for at all: in a steady noise or a steady passage there is none.
constexpr float kContrastDb = 10.0f;
// A sample stands out from a stretch's level by its peak: hiss peaks about 16 dB above its
// median magnitude, so a sample louder than that belongs to the sound on either side.
constexpr float kPeakAboveDb = 16.0f;
// Where a cut would go is "louder" than where it is only when its level is higher by more
// than the waver of a steady hiss from one block to the next.
constexpr float kLouderDb = 1.0f;

struct Stretch {
    int64_t nStart, nEnd;  // frames of the analysed range, nEnd excluded
    double fLevel;         // mean click-free level, dB
};

}  // namespace

float Floor(const std::vector<float>& levels)
{
    if (levels.empty()) return Levels::kSilentDb;
    return std::max(Levels::kStepDb, *std::min_element(levels.begin(), levels.end()));
}

float QuietPeak(const std::vector<float>& levels)
{
    if (levels.empty()) return 0.0f;
    const float fFloor = Floor(levels);
    const float fLoudest = *std::max_element(levels.begin(), levels.end());
    if (fLoudest - fFloor < kContrastDb) return 0.0f;
    return static_cast<float>(std::pow(10.0, (fFloor + Levels::kAboveFloorDb + kPeakAboveDb) / 20.0));
}

int64_t Find(const CAlbumLayout& layout, int64_t nFrame, double fSeconds, int64_t nLow, int64_t nHigh)
{
    const int64_t nTotal = layout.TotalFrames();
    const int64_t nRate = layout.format.nRate;
    const int64_t nChannels = layout.format.nChannels;
    if (nTotal <= 0 || nRate <= 0 || nChannels <= 0 || !(fSeconds > 0.0)) return nFrame;
    const int64_t nReach = static_cast<int64_t>(std::min(fSeconds, 600.0) * static_cast<double>(nRate));
    // The cut may go anywhere in [nFrom, nTo); the stretches are measured over a range
    // twice as wide, so that one that begins or ends beyond the reach gets its own middle.
    int64_t nLowest = 0, nEnd = nTotal;
    if (nLow >= 0) nLowest = std::max(nLowest, nLow);
    if (nHigh >= 0) nEnd = std::min(nEnd, nHigh + 1);
    const int64_t nFrom = std::max(nLowest, nFrame - nReach);
    const int64_t nTo = std::min(nEnd, nFrame + nReach + 1);
    if (nTo - nFrom < 2 || nFrame < nFrom || nFrame >= nTo) return nFrame;
    const int64_t nFirst = std::max(nLowest, nFrom - nReach);
    const int64_t nLast = std::min(nEnd, nTo + nReach);

    std::vector<float> samples(static_cast<size_t>((nLast - nFirst) * nChannels));
    CAlbumReader reader(layout);
    const int64_t nGot = reader.ReadFloat(nFirst, nLast - nFirst, samples.data());
    if (nGot < nTo - nFirst) return nFrame;
    const int64_t nBlock = Levels::BlockFrames(nRate);
    const std::vector<float> levels = Levels::Of(samples.data(), nGot, nChannels, nBlock);
    if (levels.empty()) return nFrame;
    auto levelAt = [&](int64_t nAt) {  // nAt a frame of the album within the range read
        return levels[static_cast<size_t>(std::min<int64_t>((nAt - nFirst) / nBlock, levels.size() - 1))];
    };

    // The noise floor here is the quietest click-free level round the cut: hiss and
    // crackle where the record has them, digital silence where it has that.
    const float fPeak = QuietPeak(levels);
    if (!(fPeak > 0.0f)) return nFrame;
    const float fQuiet = Floor(levels) + Levels::kAboveFloorDb;

    // Whether frame f (of the range read) holds a sample that stands out of the stretch.
    auto isLoud = [&](int64_t f) {
        for (int64_t c = 0; c < nChannels; ++c) {
            const float v = samples[static_cast<size_t>(f * nChannels + c)];
            if (!(std::fabs(v) <= fPeak)) return true;
        }
        return false;
    };

    // The runs of blocks at the floor, their ends found to the frame in the blocks
    // either side of where the level rises.
    std::vector<Stretch> stretches;
    const int64_t nBlocks = static_cast<int64_t>(levels.size());
    for (int64_t b = 0; b < nBlocks;) {
        if (levels[static_cast<size_t>(b)] > fQuiet) {
            ++b;
            continue;
        }
        int64_t e = b;
        double fSum = 0.0;
        while (e < nBlocks && levels[static_cast<size_t>(e)] <= fQuiet) fSum += levels[static_cast<size_t>(e++)];
        Stretch s{b * nBlock, std::min(e * nBlock, nGot), fSum / static_cast<double>(e - b)};
        if (b > 0) {
            for (int64_t f = std::min(nGot, (b + 1) * nBlock) - 1; f >= (b - 1) * nBlock; --f)
                if (isLoud(f)) {
                    s.nStart = f + 1;
                    break;
                }
        }
        if (e < nBlocks) {
            for (int64_t f = (e - 1) * nBlock; f < std::min(nGot, (e + 1) * nBlock); ++f)
                if (isLoud(f)) {
                    s.nEnd = f;
                    break;
                }
        }
        if (s.nEnd > s.nStart) stretches.push_back(s);
        b = e;
    }

    // Longest first, then quietest, then nearest; the first whose middle (kept within
    // reach) is no louder than where the cut is now.
    const int64_t nAt = nFrame - nFirst;
    auto middle = [&](const Stretch& s) {
        return std::clamp(nFirst + (s.nStart + s.nEnd) / 2, nFrom, nTo - 1);
    };
    std::sort(stretches.begin(), stretches.end(), [&](const Stretch& a, const Stretch& b) {
        if (a.nEnd - a.nStart != b.nEnd - b.nStart) return a.nEnd - a.nStart > b.nEnd - b.nStart;
        if (a.fLevel != b.fLevel) return a.fLevel < b.fLevel;
        return std::llabs((a.nStart + a.nEnd) / 2 - nAt) < std::llabs((b.nStart + b.nEnd) / 2 - nAt);
    });
    const float fHere = levelAt(nFrame);
    for (const Stretch& s : stretches) {
        if (nFirst + s.nEnd <= nFrom || nFirst + s.nStart >= nTo) continue;  // out of reach
        const int64_t nCut = middle(s);
        if (levelAt(nCut) <= fHere + kLouderDb) return nCut;
    }
    return nFrame;
}

}  // namespace Snap
