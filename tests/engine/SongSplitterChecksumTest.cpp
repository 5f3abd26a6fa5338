// Everything the song splitter produces for a seeded, music-like album, reduced to one
// checksum per format and filter setting: cut flags and offsets, end flags, peaks, mean
// squares, clip counts and the samples it writes back. The album is fed in buffers of
// three sizes (the capture size, an odd number of samples, three samples). A faster
// splitter must give the same bits, so a changed checksum means changed files or cuts.
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The album in 24-bit integer units (2^23 = full scale), built with integer arithmetic
// only, so the same bytes come out with any compiler, flags and maths library.
class ChecksumAlbum
{
public:
    explicit ChecksumAlbum(int32_t rate) : m_rate(rate)
    {
        Song(4.0, 9000, 1, 240000);     // DC offset, ends loud, then digital silence
        Silence(1.0);
        Song(3.5, 14000, 2, 0);         // driven beyond full scale: clipped
        Hiss(0.8, true);                // hiss with two short clicks
        Song(5.0, 1500, 3, 0);          // quiet song that fades out
        Hiss(0.5, false);
        Song(2.5, 6000, 4, -120000);
        Silence(0.2);                   // shorter than Gap Size: no cut
        Song(3.0, 7000, 5, 0);
        Silence(5.0);                   // longer than End Gap
        Song(3.0, 8000, 6, 60000);
        Silence(1.0);
    }

    // Interleaved samples, left first.
    const std::vector<int32_t>& Samples() const { return m_samples; }

private:
    uint32_t Random()
    {
        m_seed ^= m_seed << 13;
        m_seed ^= m_seed >> 17;
        m_seed ^= m_seed << 5;
        return m_seed;
    }

    int64_t Frames(double seconds) const { return static_cast<int64_t>(seconds * m_rate); }

    void Push(int64_t left, int64_t right)
    {
        const int64_t limit = 3 * (int64_t(1) << 22);  // 1.5 x full scale
        for (int64_t v : {left, right}) {
            v = v > limit ? limit : v < -limit ? -limit : v;
            m_samples.push_back(static_cast<int32_t>(v));
        }
    }

    // Three triangle-wave voices whose notes change every quarter second and decay,
    // with a little noise; `loudness` scales the mix, `dc` is added to both channels.
    // The last second fades out when the song is quiet.
    void Song(double seconds, int32_t loudness, uint32_t seed, int32_t dc)
    {
        m_seed = 0x9E3779B9u * seed + 1;
        const int64_t frames = Frames(seconds);
        const int64_t noteFrames = m_rate / 4;
        uint32_t phase[3] = {0, 0, 0}, step[3] = {0, 0, 0};
        int64_t envelope = 0;
        for (int64_t f = 0; f < frames; ++f) {
            if (f % noteFrames == 0) {
                for (uint32_t& s : step) s = (Random() % 4000000u + 400000u) / static_cast<uint32_t>(m_rate / 1000);
                envelope = 1 << 16;
            }
            envelope -= envelope >> 12;
            int64_t mix = 0;
            for (int v = 0; v < 3; ++v) {
                phase[v] += step[v] * 1000;
                const int64_t tri = phase[v] < 0x80000000u ? int64_t(phase[v]) - 0x40000000 : 0xC0000000ll - phase[v];
                mix += tri >> (8 + v);  // up to about 2^22 for the first voice
            }
            int64_t level = int64_t(loudness) * envelope >> 16;
            if (loudness < 3000 && f > frames - m_rate) level = level * (frames - f) / m_rate;
            const int64_t noise = int64_t(Random() % 65536) - 32768;
            const int64_t left = mix * level / 8192 + noise * 4 + dc;
            const int64_t right = (mix >> 1) * level / 8192 - noise * 3 + dc;
            Push(left, right);
        }
    }

    void Silence(double seconds)
    {
        for (int64_t f = Frames(seconds); f > 0; --f) Push(0, 0);
    }

    // Noise below -40 dB; with clicks, two bursts of three samples at about -12 dB.
    void Hiss(double seconds, bool clicks)
    {
        m_seed = 77;
        const int64_t frames = Frames(seconds);
        for (int64_t f = 0; f < frames; ++f) {
            int64_t l = int64_t(Random() % 131072) - 65536;
            int64_t r = int64_t(Random() % 131072) - 65536;
            if (clicks && (f / 3 == frames / 9 || f / 3 == frames / 5)) l = r = 2100000;
            Push(l, r);
        }
    }

    int32_t m_rate;
    uint32_t m_seed = 1;
    std::vector<int32_t> m_samples;
};

// FNV-1a, 64 bits.
class Checksum
{
public:
    void Add(const void* data, size_t size)
    {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) m_hash = (m_hash ^ p[i]) * 0x100000001B3ull;
    }
    template <typename T>
    void Add(T value) { Add(&value, sizeof value); }
    uint64_t Value() const { return m_hash; }

private:
    uint64_t m_hash = 0xCBF29CE484222325ull;
};

std::vector<unsigned char> AlbumBytes(const ChecksumAlbum& album, bool sixteenBit)
{
    const std::vector<int32_t>& s = album.Samples();
    std::vector<unsigned char> bytes(s.size() * (sixteenBit ? 2 : 4));
    for (size_t i = 0; i < s.size(); ++i) {
        if (sixteenBit) {
            const int32_t v = s[i] >> 8;
            const int16_t x = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
            std::memcpy(&bytes[i * 2], &x, 2);
        } else {
            const float x = static_cast<float>(s[i]) / 8388608.0f;  // exact
            std::memcpy(&bytes[i * 4], &x, 4);
        }
    }
    return bytes;
}

// Runs the album through one splitter three times (one recording per buffer size; the
// click filters carry their state over, as they do between recordings) and sums up
// everything each buffer produced.
uint64_t RunAlbum(bool sixteenBit, int32_t dcBlock, int32_t smartGap)
{
    const int32_t rate = sixteenBit ? 44100 : 48000;
    const int32_t sampleBytes = sixteenBit ? 2 : 4;
    const std::vector<unsigned char> album = AlbumBytes(ChecksumAlbum(rate), sixteenBit);

    CSongSplitter splitter;
    splitter.SetSamplesPerSec(rate);
    splitter.SetBitsPerSample(sixteenBit ? 16 : 32);
    splitter.SetDcBlock(dcBlock);
    splitter.SetIgnoreClicks(smartGap);
    splitter.SetGapSize(-529);  // 0.3 s
    splitter.SetMinSong(-353);  // 2 s
    splitter.SetEndGap(-706);   // 4 s

    Checksum sum;
    for (const int32_t bufferBytes : {65536, 1001 * sampleBytes, 3 * sampleBytes}) {
        splitter.PrepareForRecording();
        std::vector<unsigned char> recording = album;  // processed in place, buffer by buffer
        for (size_t at = 0; at < recording.size(); at += bufferBytes) {
            const size_t size = std::min(recording.size() - at, static_cast<size_t>(bufferBytes));
            int32_t cut = 0, offset = -1, end = 0;
            splitter.ProcessBuffer(&recording[at], static_cast<int32_t>(size), &cut, &offset, &end);
            sum.Add(cut);
            sum.Add(offset);
            sum.Add(end);
            for (int ch = 0; ch < 2; ++ch) {
                sum.Add(splitter.GetPeak(ch));
                sum.Add(splitter.GetMeanSquare(ch));
                sum.Add(splitter.GetClipped(ch));
            }
        }
        sum.Add(recording.data(), recording.size());
    }
    return sum.Value();
}

TEST(SongSplitterChecksum, SameBitsAsRecorded_ForEveryFormatAndFilterSetting)
{
    struct Case {
        bool sixteenBit;
        int32_t dcBlock, smartGap;
        uint64_t expected;
    };
    // Recorded from the splitter as it was before its loop was made faster. A deliberate
    // change of what the splitter does updates only the values it changes.
    const Case cases[] = {
        {true, 0, 0, 0x264758106543BC05ull},
        {true, 1, 0, 0xF6228E22CA23F398ull},
        {true, 0, 1, 0xEA49FF647ED2A1C3ull},
        {true, 1, 1, 0x87D71CAF64E8F01Aull},
        {false, 0, 0, 0x3EE5D839EE69BD5Full},
        {false, 1, 0, 0xDB449BBDEF96D43Dull},
        {false, 0, 1, 0xEA37C7B29D3A1415ull},
        {false, 1, 1, 0x610A4B8B82447D67ull},
    };
    // Both the fastest loop this processor runs and the one every x86-64 processor runs.
    for (const bool plain : {false, true}) {
        CSongSplitter::UsePlainLoop(plain);
        for (const Case& c : cases) {
            char got[32];
            const uint64_t value = RunAlbum(c.sixteenBit, c.dcBlock, c.smartGap);
            std::snprintf(got, sizeof got, "0x%016" PRIX64, value);
            EXPECT_EQ(c.expected, value) << (plain ? "plain loop, " : "") << (c.sixteenBit ? "16-bit" : "float")
                                         << ", DC Block " << c.dcBlock << ", Smart Gap " << c.smartGap << ": got "
                                         << got;
        }
    }
    CSongSplitter::UsePlainLoop(false);
}

}  // namespace
