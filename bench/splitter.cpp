// Throughput of the song splitter on 65536-byte capture buffers: interleaved samples per
// second and the multiple of real time, for 44100 Hz 16-bit and 48000 Hz float, with DC
// Block and Smart Gap each on and off.
//
// Every iteration processes a fresh buffer: the splitter works on a recording of 24
// buffers in turn, and the recording is restored from a clean copy (outside the timing)
// when all of them have been processed, so DC Block never filters its own output. Two
// kinds of recording: music (notes of several voices, with short pauses) and a lead-out
// (two buffers of loud music, then digital silence, as at the end of a real recording).
#include "engine/SongSplitter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const int32_t kBufferBytes = 65536;
const int kBuffers = 24;

enum Content { kMusic = 0, kLeadOut = 1 };

std::vector<uint8_t> MakeRecording(bool sixteenBit, int rate, Content content)
{
    const int sampleBytes = sixteenBit ? 2 : 4;
    const int64_t frames = int64_t(kBuffers) * kBufferBytes / (2 * sampleBytes);
    const int64_t loudFrames = content == kLeadOut ? 2 * kBufferBytes / (2 * sampleBytes) : frames;
    std::vector<uint8_t> rec(static_cast<size_t>(kBuffers) * kBufferBytes);
    uint32_t noise = 12345;
    double freq[3] = {220, 330, 440};
    const double kTwoPi = 6.283185307179586;
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t note = f % (rate / 4);
        if (note == 0) {
            for (double& fr : freq) {
                noise = noise * 1664525u + 1013904223u;
                fr = 80.0 + (noise >> 8) % 1200;
            }
        }
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(f) / rate;
        const double env = std::exp(-8.0 * note / rate);
        double v = 0.0;
        for (int k = 0; k < 3; ++k) v += 0.3 / (k + 1) * std::sin(kTwoPi * freq[k] * t);
        v = v * env + 0.01 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) + 0.01;
        if (content == kMusic && (f / (rate / 2)) % 9 == 8) v *= 0.005;  // a short pause now and then
        if (f >= loudFrames) v = 0.0;
        for (int ch = 0; ch < 2; ++ch) {
            const double x = ch ? v : -0.8 * v;
            if (sixteenBit) {
                const int16_t s = static_cast<int16_t>(std::lround(x * 32767));
                std::memcpy(&rec[static_cast<size_t>(f * 4 + ch * 2)], &s, 2);
            } else {
                const float s = static_cast<float>(x);
                std::memcpy(&rec[static_cast<size_t>(f * 8 + ch * 4)], &s, 4);
            }
        }
    }
    return rec;
}

// Arguments: sample rate, bits (16 or 32), DC Block, Smart Gap, content.
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
    const std::vector<uint8_t> clean = MakeRecording(sixteenBit, rate, static_cast<Content>(state.range(4)));
    std::vector<uint8_t> rec = clean;
    const int64_t samplesPerBuffer = kBufferBytes / (sixteenBit ? 2 : 4);

    int next = 0;
    for (auto _ : state) {
        if (next == kBuffers) {
            state.PauseTiming();
            std::memcpy(rec.data(), clean.data(), rec.size());
            next = 0;
            state.ResumeTiming();
        }
        int32_t cut = 0, offset = 0, end = 0;
        uint8_t* buf = rec.data() + static_cast<size_t>(next++) * kBufferBytes;
        splitter.ProcessBuffer(buf, kBufferBytes, &cut, &offset, &end);
        benchmark::DoNotOptimize(buf);
        benchmark::DoNotOptimize(cut);
        benchmark::ClobberMemory();
    }
    const double samples = static_cast<double>(state.iterations()) * samplesPerBuffer;
    state.counters["samples_per_s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(samples / (2.0 * rate), benchmark::Counter::kIsRate);
}

void Cases(benchmark::internal::Benchmark* b)
{
    for (int content : {kMusic, kLeadOut})
        for (int bits : {16, 32})
            for (int dc : {0, 1})
                for (int smart : {0, 1}) b->Args({bits == 16 ? 44100 : 48000, bits, dc, smart, content});
}

BENCHMARK(BM_ProcessBuffer)->ArgNames({"rate", "bits", "dcblock", "smartgap", "leadout"})->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
