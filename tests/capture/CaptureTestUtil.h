#pragma once
// Helpers shared by the capture tests: temporary folders, sample data, a consumer that
// drives CWaveIn the way the recording worker does, and the check that what came out
// is the input with exactly the reported pieces missing.

#include "capture/AutoResetEvent.h"
#include "capture/WaveIn.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace capturetest {

inline std::string MakeTempDir()
{
    char sz[] = "/tmp/cadenzo-capture-XXXXXX";
    const char* p = mkdtemp(sz);
    EXPECT_NE(p, nullptr);
    return p ? p : "/tmp";
}

inline void RemoveTree(const std::string& strDir)
{
    if (strDir.rfind("/tmp/cadenzo-capture-", 0) == 0)
        std::system(("rm -rf '" + strDir + "'").c_str());
}

inline WaveFormat MakeFormat(uint32_t nRate, uint16_t nBits, uint16_t nChannels = 2)
{
    WaveFormat f;
    f.tag = nBits == 32 ? 3 : 1;
    f.channels = nChannels;
    f.samplesPerSec = nRate;
    f.blockAlign = static_cast<uint16_t>(nChannels * nBits / 8);
    f.avgBytesPerSec = nRate * f.blockAlign;
    f.bitsPerSample = nBits;
    f.extraSize = 0;
    return f;
}

// Random bytes, so that any lost, doubled or shifted stretch shows; with bFloat, random
// but valid floats in [-1, 1) (raw random bits would include NaNs).
inline std::vector<uint8_t> RandomBytes(size_t nBytes, uint32_t nSeed, bool bFloat = false)
{
    std::vector<uint8_t> data(nBytes);
    std::mt19937 rng(nSeed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (size_t i = 0; i + 4 <= nBytes; i += 4) {
        if (bFloat) {
            const float v = dist(rng);
            std::memcpy(&data[i], &v, 4);
        } else {
            const uint32_t v = rng();
            std::memcpy(&data[i], &v, 4);
        }
    }
    return data;
}

// Writes interleaved samples (int16_t or float) as a sound file of the given format, with
// no clipping, so that values beyond full scale reach the file as they are.
template <typename T>
std::string WriteSoundFile(const std::string& strPath, int nFormat, int nChannels, const std::vector<T>& samples,
                           int nRate = 44100)
{
    SF_INFO info{};
    info.samplerate = nRate;
    info.channels = nChannels;
    info.format = nFormat;
    SNDFILE* f = sf_open(strPath.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (!f) return strPath;
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    if constexpr (std::is_same_v<T, float>)
        sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    else
        sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return strPath;
}

// Raw bytes seen as samples of type T.
template <typename T>
std::vector<T> As(const std::vector<uint8_t>& bytes)
{
    std::vector<T> v(bytes.size() / sizeof(T));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
    return v;
}

inline void WriteBytes(const std::string& strPath, const std::vector<uint8_t>& data)
{
    std::ofstream out(strPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// What one capture produced.
struct Capture {
    std::vector<uint8_t> data;        // every byte handed out, in order
    std::vector<int32_t> blockSizes;  // GetNextBuffer results, then Stop and Drain results
    std::vector<int32_t> indices;     // buffer index before each GetNextBuffer
    std::string strError;             // first error met, empty for none
    std::vector<WaveInLoss> losses;
    int64_t nDropped = 0;
    int64_t nMissing = 0;
    bool bTimedOut = false;
};

struct CaptureOptions {
    int32_t nBufferSize = 65536;
    int64_t nStopAfter = -1;     // stop once this many bytes came; -1: at the first short block
    std::function<void(int nBlock)> onBlock;  // after each block (a consumer stall, ...)
    bool bResetAfterStart = true;             // as the Record command does
    std::chrono::seconds hangGuard{300};      // a wait longer than this is a hang
};

// Drives the device exactly like the recording worker: Open, AllocateBuffers, Start, one
// GetNextBuffer per wake-up of an auto-reset event, Stop, Drain, Close.
inline Capture RunCapture(CWaveIn& waveIn, const WaveFormat& format, const CaptureOptions& options)
{
    Capture result;
    CAutoResetEvent event;
    auto fail = [&](const char* szStep) {
        if (result.strError.empty()) result.strError = std::string(szStep) + ": " + waveIn.GetErrorText();
    };
    waveIn.Open(format, WaveInNotify, &event, CALLBACK_FUNCTION);
    if (waveIn.HasError()) {
        fail("Open");
        waveIn.Close();
        return result;
    }
    waveIn.AllocateBuffers(options.nBufferSize);
    if (waveIn.HasError()) fail("AllocateBuffers");
    waveIn.Start();
    if (waveIn.HasError()) {
        fail("Start");
        waveIn.Close();
        return result;
    }
    if (options.bResetAfterStart) event.Reset();
    std::vector<uint8_t> buffer(static_cast<size_t>(options.nBufferSize));
    for (int nBlock = 0;; ++nBlock) {
        if (!event.WaitFor(options.hangGuard)) {
            result.bTimedOut = true;
            break;
        }
        result.indices.push_back(waveIn.GetCurrentIndex());
        const int32_t n = waveIn.GetNextBuffer(buffer.data());
        if (waveIn.HasError()) {
            fail("GetNextBuffer");
            break;
        }
        result.blockSizes.push_back(n);
        result.data.insert(result.data.end(), buffer.begin(), buffer.begin() + n);
        if (options.onBlock) options.onBlock(nBlock);
        if (n != options.nBufferSize) break;
        if (options.nStopAfter >= 0 && static_cast<int64_t>(result.data.size()) >= options.nStopAfter) break;
    }
    int32_t n = waveIn.Stop(buffer.data());
    if (waveIn.HasError()) fail("Stop");
    result.blockSizes.push_back(n);
    result.data.insert(result.data.end(), buffer.begin(), buffer.begin() + n);
    while ((n = waveIn.Drain(buffer.data())) > 0) {
        result.blockSizes.push_back(n);
        result.data.insert(result.data.end(), buffer.begin(), buffer.begin() + n);
    }
    result.nDropped = waveIn.GetDroppedFrames();
    result.nMissing = waveIn.GetMissingFrames();
    waveIn.Close();
    if (waveIn.HasError()) fail("Close");
    result.losses = waveIn.GetLosses();
    return result;
}

// Checks that captured is input with, at each listed gap (stream position, frames), that
// many input frames missing; compares up to the end of the input. Returns an empty string
// when it matches, else where it first differs.
struct Gap {
    int64_t nStreamBytes;
    int64_t nFrames;
};
inline std::string CompareWithGaps(const std::vector<uint8_t>& captured, const std::vector<uint8_t>& input,
                                   std::vector<Gap> gaps, int32_t nFrameBytes)
{
    int64_t nIn = 0, nOut = 0;
    gaps.push_back(Gap{static_cast<int64_t>(captured.size()), 0});
    for (const Gap& gap : gaps) {
        const int64_t nEnd = std::min<int64_t>(gap.nStreamBytes, static_cast<int64_t>(captured.size()));
        int64_t nLen = nEnd - nOut;
        nLen = std::min<int64_t>(nLen, static_cast<int64_t>(input.size()) - nIn);
        if (nLen < 0) return "gap positions out of order";
        if (nLen > 0 && std::memcmp(captured.data() + nOut, input.data() + nIn, static_cast<size_t>(nLen)) != 0) {
            int64_t i = 0;
            while (captured[static_cast<size_t>(nOut + i)] == input[static_cast<size_t>(nIn + i)]) ++i;
            return "captured byte " + std::to_string(nOut + i) + " differs from input byte " + std::to_string(nIn + i);
        }
        nIn += nLen + gap.nFrames * nFrameBytes;
        nOut = nEnd;
        if (nIn >= static_cast<int64_t>(input.size())) break;
    }
    return "";
}

inline std::vector<Gap> GapsOf(const std::vector<WaveInLoss>& losses, WaveInLossKind kind)
{
    std::vector<Gap> gaps;
    for (const WaveInLoss& loss : losses)
        if (loss.kind == kind) gaps.push_back(Gap{loss.nStreamBytes, loss.nFrames});
    return gaps;
}

inline int64_t FramesOf(const std::vector<WaveInLoss>& losses, WaveInLossKind kind)
{
    int64_t n = 0;
    for (const WaveInLoss& loss : losses)
        if (loss.kind == kind) n += loss.nFrames;
    return n;
}

}  // namespace capturetest
