#pragma once
// The loudness of a recording in short blocks, with record clicks left out: what Snap and
// the export's trim judge quiet stretches and the noise floor by.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Levels {

// A block is a hundredth of a second. Its level is the median magnitude of its samples,
// so clicks and crackle that fill less than half of it do not raise it; a block's
// click-free level is the median of its own and its neighbours' levels, so a burst that
// fills one block does not either. A change of level that lasts two blocks or more (a
// 20-ms burst of sound, a fade, a song's first note) moves the level where it happens.
// That passes over what the Smart Gap rule passes over: clicks of up to about 16 ms.
constexpr double kBlockSeconds = 0.01;
constexpr int kMedianBlocks = 3;
// The level of digital silence: lower levels are raised to it.
constexpr float kSilentDb = -120.0f;
// One step of 16-bit sound. A floor is never taken below it: dithered digital silence
// (steps of one either way, its click-free level that of silence) is floor, not sound.
constexpr float kStepDb = -90.3f;
// How far above the noise floor sound must stand to be sound rather than floor: hiss
// wavers by a decibel or two, music that is heard stands clearly above it.
constexpr float kAboveFloorDb = 6.0f;

// Frames in one block at nRate Hz (at least 1).
int64_t BlockFrames(int64_t nRate);

// The level in dB re full scale of one block: the median magnitude of the samples of all
// channels of nFrames frames of nChannels interleaved floats (full scale +-1.0). A sample
// that is not a number counts as full scale. Noise has an RMS level 3.4 dB above it, a
// sine wave the same.
float BlockLevel(const float* pSamples, int64_t nFrames, int64_t nChannels);

// The level of block i of raw block levels, clicks left out: the median of the blocks
// round it, fewer at the ends of the list.
float ClickFree(const std::vector<float>& raw, size_t i);

// Click-free levels of consecutive blocks of nBlockFrames frames (the last one may be
// shorter) of nFrames interleaved frames.
std::vector<float> Of(const float* pSamples, int64_t nFrames, int64_t nChannels, int64_t nBlockFrames);

}  // namespace Levels
