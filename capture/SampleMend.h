#pragma once
// Float samples that are not numbers, mended where they enter the recorder.

#include <cstdint>

/**
 * Where and how many non-finite samples a block held.
 */
struct SampleMendResult {
    int64_t nReplaced = 0;  // samples replaced
    int64_t nFirst = -1;    // index of the first one replaced, -1 when none
};

// Replaces every sample of the block that is not a finite number: NaN by 0 (silence),
// +Inf and -Inf by +1 and -1 (full scale). A NaN or an infinity would otherwise stay in
// the filters' state and poison every later sample of its channel. Finite samples,
// beyond full scale included, are left alone. Wait-free: the capture callback calls it.
SampleMendResult MendFloatSamples(float* pSamples, int64_t nSamples);

// Index of the first sample of the block that is not a finite number, or -1.
int64_t FirstNonFinite(const float* pSamples, int64_t nSamples);
