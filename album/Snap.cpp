#include "album/Snap.h"

#include "engine/QuietStretches.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Snap {

int64_t Find(const CAlbumLayout& layout, int64_t nFrame, double fSeconds, int64_t nLow,
             int64_t nHigh, double fLevelDb)
{
    const int64_t nTotal = layout.TotalFrames();
    const int64_t nRate = layout.format.nRate;
    const int64_t nChannels = layout.format.nChannels;
    if (nTotal <= 0 || nRate <= 0 || nChannels <= 0 || !(fSeconds > 0.0)) return nFrame;
    const int64_t nReach = static_cast<int64_t>(std::min(fSeconds, 600.0) * static_cast<double>(nRate));
    int64_t nFrom = std::max<int64_t>(0, nFrame - nReach);
    int64_t nTo = std::min(nTotal, nFrame + nReach);
    if (nLow >= 0) nFrom = std::max(nFrom, nLow);
    if (nHigh >= 0) nTo = std::min(nTo, nHigh + 1);
    if (nTo - nFrom < 2) return nFrame;

    // The window as two channels of floats, as the quiet-stretch finder takes them. A
    // recording of one or of more than two channels gives each frame's loudest sample to
    // both: any channel that is loud makes the frame loud.
    const int64_t nFrames = nTo - nFrom;
    std::vector<float> samples(static_cast<size_t>(nFrames * nChannels));
    CAlbumReader reader(layout);
    const int64_t nGot = reader.ReadFloat(nFrom, nFrames, samples.data());
    if (nGot <= 1) return nFrame;
    std::vector<float> stereo(static_cast<size_t>(nGot * 2));
    for (int64_t f = 0; f < nGot; ++f) {
        float fLoudest = 0.0f;
        for (int64_t c = 0; c < nChannels; ++c) {
            float v = samples[static_cast<size_t>(f * nChannels + c)];
            if (std::fabs(v) > std::fabs(fLoudest) || std::isnan(v)) fLoudest = v;
        }
        stereo[static_cast<size_t>(2 * f)] = nChannels == 2 ? samples[static_cast<size_t>(2 * f)] : fLoudest;
        stereo[static_cast<size_t>(2 * f + 1)] =
            nChannels == 2 ? samples[static_cast<size_t>(2 * f + 1)] : fLoudest;
    }

    // A silence at the level asked for; failing that, the quietest stretch that stands out
    // at a level up to -20 dB (a gap with hiss or crackle).
    for (double fDb = fLevelDb; fDb <= -20.0 + 1e-9; fDb += 5.0) {
        QuietStretchesConfig config;
        config.nRate = static_cast<int32_t>(nRate);
        config.nBitsPerSample = 32;
        config.fThreshold = static_cast<float>(std::pow(10.0, fDb / 20.0));
        config.fMinSeconds = 0.02;
        config.bPassBursts = true;
        CQuietStretches finder(config);
        const int32_t nBytesMax = 1 << 20;
        const int64_t nBytes = static_cast<int64_t>(stereo.size() * sizeof(float));
        for (int64_t n = 0; n < nBytes; n += nBytesMax)
            finder.Feed(reinterpret_cast<const unsigned char*>(stereo.data()) + n,
                        static_cast<int32_t>(std::min<int64_t>(nBytesMax, nBytes - n)));
        finder.Finish();
        QuietStretch best;
        if (finder.MostConvincingWithin(0, nGot, &best)) {
            int64_t nCut = nFrom + CQuietStretches::CutFrame(best, 0);
            if (nLow >= 0) nCut = std::max(nCut, nLow);
            if (nHigh >= 0) nCut = std::min(nCut, nHigh);
            return nCut;
        }
    }
    return nFrame;
}

}  // namespace Snap
