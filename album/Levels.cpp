#include "album/Levels.h"

#include <algorithm>
#include <cmath>

namespace Levels {

int64_t BlockFrames(int64_t nRate)
{
    return std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(nRate) * kBlockSeconds));
}

float BlockLevel(const float* pSamples, int64_t nFrames, int64_t nChannels)
{
    const int64_t n = nFrames * nChannels;
    if (n <= 0) return kSilentDb;
    thread_local std::vector<float> magnitudes;
    magnitudes.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        magnitudes[static_cast<size_t>(i)] = std::isnan(pSamples[i]) ? 1.0f : std::fabs(pSamples[i]);
    std::nth_element(magnitudes.begin(), magnitudes.begin() + n / 2, magnitudes.end());
    const float fMedian = magnitudes[static_cast<size_t>(n / 2)];
    if (!(fMedian > 0.0f)) return kSilentDb;
    return std::max(kSilentDb, static_cast<float>(20.0 * std::log10(static_cast<double>(fMedian))));
}

float ClickFree(const std::vector<float>& raw, size_t i)
{
    const size_t nHalf = kMedianBlocks / 2;
    const size_t nFirst = i >= nHalf ? i - nHalf : 0;
    const size_t nEnd = std::min(raw.size(), i + nHalf + 1);
    float window[kMedianBlocks];
    size_t n = 0;
    for (size_t k = nFirst; k < nEnd; ++k) window[n++] = raw[k];
    if (n == 0) return kSilentDb;
    std::nth_element(window, window + n / 2, window + n);
    return window[n / 2];
}

std::vector<float> Of(const float* pSamples, int64_t nFrames, int64_t nChannels, int64_t nBlockFrames)
{
    std::vector<float> raw;
    for (int64_t f = 0; f < nFrames; f += nBlockFrames)
        raw.push_back(BlockLevel(pSamples + f * nChannels, std::min(nBlockFrames, nFrames - f), nChannels));
    std::vector<float> levels(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) levels[i] = ClickFree(raw, i);
    return levels;
}

}  // namespace Levels
