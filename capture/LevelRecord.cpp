#include "capture/LevelRecord.h"

#include "engine/SongSplitter.h"

#include <algorithm>
#include <cmath>

namespace {

// Whole decibels of a linear magnitude, truncated toward zero. Kept inside +-1000 dB so
// a zero or a damaged statistic never becomes an undefined conversion.
int32_t WholeDb(double fLevel)
{
    if (!(fLevel > 0.0)) return -1000;
    double fDb = 20.0 * std::log10(fLevel);
    if (!(fDb > -1000.0)) return -1000;
    if (fDb > 1000.0) return 1000;
    return static_cast<int32_t>(fDb);
}

}  // namespace

int64_t StoreSplitterLevels(const CSongSplitter& splitter, RecordLevelChannel levels[2])
{
    int64_t nClips = 0;
    for (int ch = 0; ch < 2; ++ch) {
        const int32_t nPeak = WholeDb(splitter.GetPeak(ch));
        const int32_t nRms = WholeDb(std::sqrt(static_cast<double>(splitter.GetMeanSquare(ch))));
        RecordLevelChannel& level = levels[ch];
        level.nClips = splitter.GetClipped(ch);
        nClips += level.nClips;
        if (level.bRead) {
            level.nHeldPeak = nPeak;
            level.nHeldRms = nRms;
            level.bRead = 0;
        } else {
            level.nHeldPeak = std::max(level.nHeldPeak, nPeak);
            level.nHeldRms = std::max(level.nHeldRms, nRms);
        }
    }
    return nClips;
}
