// A song longer than 2^31 interleaved samples (6.2 hours at 48000 Hz, 7 hours of a
// broadcast at 44100 Hz): the splitter's positions must not wrap, so the gap after it
// still cuts on time and nothing is reported during it. Takes a few seconds.
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(SongSplitterLong, SongLongerThanTwoToThe31Samples_StillCutsAtItsGap)
{
    CSongSplitter splitter;
    splitter.SetSamplesPerSec(48000);
    splitter.SetDcBlock(0);
    splitter.SetIgnoreClicks(0);
    splitter.PrepareForRecording();
    const int64_t gap = splitter.GetGapSamples();
    const int64_t endGap = splitter.GetEndGapSamples();

    const int32_t samplesPerBuffer = 32768;
    std::vector<int16_t> loud(samplesPerBuffer, 10000);
    std::vector<int16_t> silence(samplesPerBuffer, 0);
    const int64_t loudBuffers = (int64_t(1) << 31) / samplesPerBuffer + 5;

    int32_t cut = 0, offset = -1, end = 0;
    for (int64_t b = 0; b < loudBuffers; ++b) {
        splitter.ProcessBuffer(loud.data(), samplesPerBuffer * 2, &cut, &offset, &end);
        if (cut || end) FAIL() << "reported during the song, buffer " << b;
    }

    // The gap: a cut Gap Size after the last loud sample, then the end after End Gap.
    const int64_t lastLoud = loudBuffers * samplesPerBuffer - 1;
    int64_t cutAt = -1, endBuffer = -1;
    for (int64_t b = loudBuffers; endBuffer < 0 && b < loudBuffers + 1000; ++b) {
        cut = 0;
        offset = -1;
        splitter.ProcessBuffer(silence.data(), samplesPerBuffer * 2, &cut, &offset, &end);
        if (cut) {
            ASSERT_LT(cutAt, 0) << "a second cut in the same gap";
            cutAt = b * samplesPerBuffer + offset / 2;
        }
        if (end) endBuffer = b;
    }
    EXPECT_EQ((lastLoud + gap) / 2 * 2, cutAt);
    EXPECT_EQ((lastLoud + endGap) / samplesPerBuffer, endBuffer);
}

}  // namespace
