#include "capture/SampleMend.h"

#include <cmath>

namespace {

// False for NaN too.
bool IsSound(float f) { return std::fabs(f) <= kMaxFloatSample; }

}  // namespace

int64_t FirstToMend(const float* pSamples, int64_t nSamples)
{
    for (int64_t i = 0; i < nSamples; ++i)
        if (!IsSound(pSamples[i])) return i;
    return -1;
}

SampleMendResult MendFloatSamples(float* pSamples, int64_t nSamples)
{
    SampleMendResult result;
    for (int64_t i = FirstToMend(pSamples, nSamples); i >= 0 && i < nSamples; ++i) {
        const float f = pSamples[i];
        if (IsSound(f)) continue;
        pSamples[i] = std::isnan(f) ? 0.0f : (f > 0 ? 1.0f : -1.0f);
        if (result.nFirst < 0) result.nFirst = i;
        ++result.nReplaced;
    }
    return result;
}
