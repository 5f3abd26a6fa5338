#pragma once
// Float samples that are not numbers, or too large to be sound, mended where they enter the
// recorder.

#include <cstdint>

// Samples beyond this many times full scale (60 dB above it) are no sound a recording
// holds, and the filters' state could overflow on them as on an infinity.
constexpr float kMaxFloatSample = 1000.0f;

/**
 * Where and how many samples a block had mended.
 */
struct SampleMendResult {
    int64_t nReplaced = 0;  // samples replaced
    int64_t nFirst = -1;    // index of the first one replaced, -1 when none
};

// Replaces every sample of the block that is not a number or lies beyond kMaxFloatSample:
// NaN by 0 (silence), the others (infinities included) by +1 or -1 (full scale) of their
// sign. Such a sample would otherwise overflow the filters' state, which then poisons every
// later sample of its channel. Finite samples up to the bound, beyond full scale included,
// are left alone. Wait-free: the capture callback calls it.
SampleMendResult MendFloatSamples(float* pSamples, int64_t nSamples);

// Index of the first sample of the block that MendFloatSamples would replace, or -1.
int64_t FirstToMend(const float* pSamples, int64_t nSamples);
