#include "engine/SongSplitter.h"
#include <cstring>
CSongSplitter::CSongSplitter() { m_bError = 0; std::strcpy(m_szError, "No error"); }
void CSongSplitter::SetGapSize(int32_t) {}
void CSongSplitter::SetGapLevel(int32_t) {}
void CSongSplitter::SetMinSong(int32_t) {}
void CSongSplitter::SetEndGap(int32_t) {}
int32_t CSongSplitter::GetGapSize() const { return -1764; }
int32_t CSongSplitter::GetGapLevel() const { return -582; }
int32_t CSongSplitter::GetMinSong() const { return -5293; }
int32_t CSongSplitter::GetEndGap() const { return -1236; }
void CSongSplitter::SetDcBlock(int32_t) {}
void CSongSplitter::SetIgnoreClicks(int32_t) {}
void CSongSplitter::SetSamplesPerSec(int32_t) {}
void CSongSplitter::SetBitsPerSample(int16_t) {}
void CSongSplitter::SetChannels(int16_t) {}
int32_t CSongSplitter::GetDcBlock() const { return 1; }
int32_t CSongSplitter::GetIgnoreClicks() const { return 1; }
int32_t CSongSplitter::GetSamplesPerSec() const { return 44100; }
int16_t CSongSplitter::GetBitsPerSample() const { return 16; }
int16_t CSongSplitter::GetChannels() const { return 2; }
void CSongSplitter::PrepareForRecording() {}
void CSongSplitter::ProcessBuffer(void*, int32_t, int32_t*, int32_t*, int32_t*) {}
bool CSongSplitter::IsShorterThanEndGap(int64_t) const { return false; }
float CSongSplitter::GetPeak(int) const { return 0; }
float CSongSplitter::GetMeanSquare(int) const { return 0; }
int32_t CSongSplitter::GetClipped(int) const { return 0; }
void CSongSplitter::SetError(const char*) {}
