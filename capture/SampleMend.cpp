#include "capture/SampleMend.h"

#include <cmath>

int64_t FirstNonFinite(const float* pSamples, int64_t nSamples)
{
    for (int64_t i = 0; i < nSamples; ++i)
        if (!std::isfinite(pSamples[i])) return i;
    return -1;
}

SampleMendResult MendFloatSamples(float* pSamples, int64_t nSamples)
{
    SampleMendResult result;
    for (int64_t i = FirstNonFinite(pSamples, nSamples); i >= 0 && i < nSamples; ++i) {
        const float f = pSamples[i];
        if (std::isfinite(f)) continue;
        pSamples[i] = std::isnan(f) ? 0.0f : (f > 0 ? 1.0f : -1.0f);
        if (result.nFirst < 0) result.nFirst = i;
        ++result.nReplaced;
    }
    return result;
}
