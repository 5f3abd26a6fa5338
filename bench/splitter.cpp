// Throughput of the song splitter on 65536-byte capture buffers: interleaved samples per
// second and the multiple of real time, for 44100 Hz 16-bit and 48000 Hz float, with DC
// Block and Smart Gap each on and off.
#include "engine/SongSplitter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const int32_t kBufferBytes = 65536;

// Music-like content: two tones and a little noise, with a pause now and then so the
// detector takes its silent branch too.
std::vector<uint8_t> MakeBuffer(bool sixteenBit, int rate)
{
    const int frames = kBufferBytes / (sixteenBit ? 4 : 8);
    std::vector<uint8_t> buf(kBufferBytes);
    uint32_t noise = 12345;
    for (int f = 0; f < frames; ++f) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(f) / rate;
        double v = 0.4 * std::sin(2 * 3.14159265 * 440 * t) + 0.2 * std::sin(2 * 3.14159265 * 5000 * t) +
                   0.05 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5);
        if ((f / 2048) % 4 == 3) v *= 0.001;
        for (int ch = 0; ch < 2; ++ch) {
            if (sixteenBit) {
                const int16_t s = static_cast<int16_t>(v * 32767);
                std::memcpy(&buf[f * 4 + ch * 2], &s, 2);
            } else {
                const float s = static_cast<float>(v);
                std::memcpy(&buf[f * 8 + ch * 4], &s, 4);
            }
        }
    }
    return buf;
}

// Arguments: sample rate, bits (16 or 32), DC Block, Smart Gap.
void BM_ProcessBuffer(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    const bool sixteenBit = state.range(1) == 16;
    CSongSplitter splitter;
    splitter.SetSamplesPerSec(rate);
    splitter.SetBitsPerSample(static_cast<int16_t>(state.range(1)));
    splitter.SetDcBlock(static_cast<int32_t>(state.range(2)));
    splitter.SetIgnoreClicks(static_cast<int32_t>(state.range(3)));
    splitter.PrepareForRecording();
    std::vector<uint8_t> buf = MakeBuffer(sixteenBit, rate);
    const int64_t samplesPerBuffer = kBufferBytes / (sixteenBit ? 2 : 4);

    for (auto _ : state) {
        int32_t cut = 0, offset = 0, end = 0;
        splitter.ProcessBuffer(buf.data(), kBufferBytes, &cut, &offset, &end);
        benchmark::DoNotOptimize(buf.data());
        benchmark::DoNotOptimize(cut);
        benchmark::ClobberMemory();
    }
    const double samples = static_cast<double>(state.iterations()) * samplesPerBuffer;
    state.counters["samples_per_s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(samples / (2.0 * rate), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ProcessBuffer)
    ->ArgNames({"rate", "bits", "dcblock", "smartgap"})
    ->Args({44100, 16, 0, 0})
    ->Args({44100, 16, 1, 0})
    ->Args({44100, 16, 0, 1})
    ->Args({44100, 16, 1, 1})
    ->Args({48000, 32, 0, 0})
    ->Args({48000, 32, 1, 0})
    ->Args({48000, 32, 0, 1})
    ->Args({48000, 32, 1, 1});

}  // namespace

BENCHMARK_MAIN();
