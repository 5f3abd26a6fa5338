// The song splitter on whole synthetic albums and on single buffers: exact cut offsets
// and end, clipping, statistics and the click-tolerant detection.
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int32_t kBufferBytes = 65536;

// What a segment of an album holds. Loud samples are all above the gap threshold;
// silent ones at or below it.
enum class Kind {
    Noise,      // random sign, magnitude 0.3 .. 0.9 of full scale
    Tone,       // square wave, 0.5 of full scale
    Quiet,      // random sign, magnitude 0.03 .. 0.05 (-30 dB and up): quiet, not a gap
    Silence,    // digital zero
    Hiss,       // random, magnitude up to 0.017 (below -35 dB): counts as silence
};

struct Segment {
    Kind kind;
    int64_t frames;
};

bool IsLoud(Kind k) { return k == Kind::Noise || k == Kind::Tone || k == Kind::Quiet; }

// A deterministic album, generated frame by frame so that long albums need no memory.
class Album
{
public:
    Album(std::vector<Segment> segments, bool sixteenBit)
        : m_segments(std::move(segments)), m_b16(sixteenBit)
    {
    }

    int64_t Frames() const
    {
        int64_t n = 0;
        for (const Segment& s : m_segments) n += s.frames;
        return n;
    }

    int BytesPerFrame() const { return m_b16 ? 4 : 8; }

    // Fills buf with bytes [offset, offset + count) of the album's sample data.
    void Fill(std::vector<uint8_t>& buf, int64_t firstFrame, int32_t frames)
    {
        buf.resize(static_cast<size_t>(frames) * BytesPerFrame());
        size_t seg = 0;
        int64_t segStart = 0;
        for (int32_t f = 0; f < frames; ++f) {
            const int64_t frame = firstFrame + f;
            while (seg < m_segments.size() && frame >= segStart + m_segments[seg].frames) {
                segStart += m_segments[seg].frames;
                ++seg;
            }
            const Kind kind = seg < m_segments.size() ? m_segments[seg].kind : Kind::Silence;
            for (int ch = 0; ch < 2; ++ch) {
                const double v = Value(kind, frame, ch);
                uint8_t* p = buf.data() + static_cast<size_t>(f) * BytesPerFrame();
                if (m_b16) {
                    const int16_t s = static_cast<int16_t>(std::lround(v * 32767.0));
                    std::memcpy(p + 2 * ch, &s, 2);
                } else {
                    const float s = static_cast<float>(v);
                    std::memcpy(p + 4 * ch, &s, 4);
                }
            }
        }
    }

private:
    static double Random(int64_t frame, int ch)
    {
        uint64_t x = static_cast<uint64_t>(frame) * 2 + static_cast<uint64_t>(ch) + 0x9E3779B97F4A7C15ull;
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        x *= 0xc4ceb9fe1a85ec53ull;
        x ^= x >> 33;
        return static_cast<double>(x >> 11) / 9007199254740992.0;  // 0 .. 1
    }

    static double Value(Kind kind, int64_t frame, int ch)
    {
        const double r = Random(frame, ch);
        const double sign = Random(frame, ch + 7) < 0.5 ? -1.0 : 1.0;
        switch (kind) {
        case Kind::Noise: return sign * (0.3 + 0.6 * r);
        case Kind::Tone: return (frame / 20) % 2 ? 0.5 : -0.5;
        case Kind::Quiet: return sign * (0.03 + 0.02 * r);
        case Kind::Silence: return 0.0;
        case Kind::Hiss: return sign * 0.017 * r;
        }
        return 0.0;
    }

    std::vector<Segment> m_segments;
    bool m_b16;
};

// A cut or the end, in interleaved samples from the start of the recording.
struct Event {
    int64_t buffer;
    int32_t offset;  // bytes within the buffer; -1 for "no cut"
    bool end;
    bool operator==(const Event& o) const { return buffer == o.buffer && offset == o.offset && end == o.end; }
};

std::ostream& operator<<(std::ostream& os, const Event& e)
{
    return os << "{buffer " << e.buffer << ", cut at " << e.offset << (e.end ? ", end" : "") << "}";
}

// The cuts and the end the rules give for an album of loud segments and silences, worked
// out segment by segment: a silence that follows the last loud sample L cuts at
// max(L + Gap, lastCut + MinSong) if that comes before both the silence's end and the
// end gap; the end comes at L + EndGap. A buffer reports its last cut.
std::vector<Event> ExpectedEvents(const std::vector<Segment>& segments, int64_t gap, int64_t minSong,
                                  int64_t endGap, int64_t samplesPerBuffer, int bytesPerFrame,
                                  int64_t totalSamples)
{
    std::vector<Event> events;
    auto addCut = [&](int64_t i) {
        const int64_t buffer = i / samplesPerBuffer;
        const int32_t offset = static_cast<int32_t>(((i % samplesPerBuffer) / 2) * bytesPerFrame);
        if (!events.empty() && events.back().buffer == buffer && !events.back().end)
            events.back().offset = offset;  // the later cut wins
        else
            events.push_back({buffer, offset, false});
    };
    int64_t lastLoud = 0, lastCut = 0, start = 0;
    for (const Segment& s : segments) {
        const int64_t begin = start * 2, stop = (start + s.frames) * 2;
        start += s.frames;
        if (IsLoud(s.kind)) {
            lastLoud = stop - 1;
            continue;
        }
        // Silent samples begin .. stop-1, the run counted from lastLoud.
        int64_t i = std::max(begin, std::max(lastLoud + gap, lastCut + minSong));
        const int64_t endAt = std::max(begin, lastLoud + endGap);
        while (i < stop && i < endAt) {
            addCut(i);
            lastCut = i;
            i = std::max(i + 1, lastCut + minSong);
        }
        if (endAt < stop && endAt < totalSamples) {
            const int64_t buffer = endAt / samplesPerBuffer;
            events.push_back({buffer, -1, true});
            return events;
        }
    }
    return events;
}

void Configure(CSongSplitter& splitter, int32_t rate, int16_t bits, int32_t dcBlock, int32_t smartGap)
{
    splitter.SetSamplesPerSec(rate);
    splitter.SetBitsPerSample(bits);
    splitter.SetDcBlock(dcBlock);
    splitter.SetIgnoreClicks(smartGap);
}

// What one ProcessBuffer call reports.
struct Reported {
    int32_t cut = 0, offset = -1, end = 0;
};

template <typename Sample>
Reported Process(CSongSplitter& splitter, Sample* samples, size_t count)
{
    Reported r;
    splitter.ProcessBuffer(samples, static_cast<int32_t>(count * sizeof(Sample)), &r.cut, &r.offset, &r.end);
    return r;
}

struct SplitRun {
    std::vector<Event> events;
    int64_t buffers = 0;
};

// Feeds the album to the splitter in 65536-byte buffers (the last one short) until the
// end is reported, and collects what it reports.
SplitRun Split(CSongSplitter& splitter, Album& album)
{
    SplitRun run;
    const int bpf = album.BytesPerFrame();
    const int32_t framesPerBuffer = kBufferBytes / bpf;
    std::vector<uint8_t> buf;
    for (int64_t frame = 0; frame < album.Frames(); frame += framesPerBuffer) {
        const int32_t frames = static_cast<int32_t>(std::min<int64_t>(framesPerBuffer, album.Frames() - frame));
        album.Fill(buf, frame, frames);
        int32_t cut = 0, offset = -1, end = 0;
        splitter.ProcessBuffer(buf.data(), static_cast<int32_t>(buf.size()), &cut, &offset, &end);
        if (cut) {
            EXPECT_EQ(0, offset % bpf) << "cut inside a frame";
            EXPECT_GE(offset, 0);
            EXPECT_LE(offset, static_cast<int32_t>(buf.size()));
            run.events.push_back({run.buffers, offset, false});
        } else {
            EXPECT_EQ(-1, offset) << "offset written without a cut";
        }
        if (end) run.events.push_back({run.buffers, -1, true});
        ++run.buffers;
        if (end) break;
    }
    return run;
}

struct AlbumCase {
    int32_t rate;
    int16_t bits;
};

std::string CaseName(const ::testing::TestParamInfo<AlbumCase>& info)
{
    return std::to_string(info.param.rate) + (info.param.bits == 16 ? "Hz_16bit" : "Hz_float");
}

class AlbumSplit : public ::testing::TestWithParam<AlbumCase>
{
protected:
    void SetUp() override
    {
        Configure(m_splitter, GetParam().rate, GetParam().bits, 0, 0);
        m_splitter.SetGapSize(-353);   // 0.2 s
        m_splitter.SetMinSong(-1764);  // 10 s
        m_splitter.SetEndGap(-882);    // 5 s
        m_splitter.SetGapLevel(-582);  // -35 dB
        m_splitter.PrepareForRecording();
        m_gap = m_splitter.GetGapSamples();
        m_min = m_splitter.GetMinSongSamples();
        m_end = m_splitter.GetEndGapSamples();
        m_bpf = GetParam().bits == 16 ? 4 : 8;
        m_spb = kBufferBytes / (m_bpf / 2);  // interleaved samples per buffer
    }

    // Frames of a song that starts at frame `at` so that its gap's cut falls on
    // interleaved sample `target` (the song's last loud sample is its last right sample).
    int64_t SongFramesForCutAt(int64_t at, int64_t target) const
    {
        // cut = 2 * (at + frames) - 1 + gap; choose frames so cut / 2 == target / 2.
        const int64_t wantHalf = target / 2;
        for (int64_t frames = 1;; ++frames) {
            const int64_t cut = 2 * (at + frames) - 1 + m_gap;
            if (cut / 2 == wantHalf) return frames;
            if (cut / 2 > wantHalf) return -1;
            if (frames < (target - m_gap) / 2 - at - 4) frames = (target - m_gap) / 2 - at - 4;
        }
    }

    CSongSplitter m_splitter;
    int64_t m_gap = 0, m_min = 0, m_end = 0;
    int m_bpf = 0;
    int64_t m_spb = 0;
};

TEST_P(AlbumSplit, Album_IsCutAtTheExactSamplesTheRulesGive)
{
    const int64_t rate = GetParam().rate;
    const int64_t fps = rate;  // frames per second

    // Song 1: noise whose cut lands exactly on the first sample of a buffer (offset 0).
    const int64_t firstCutBuffer = 12 * fps * 2 / m_spb + 1;
    const int64_t song1 = SongFramesForCutAt(0, firstCutBuffer * m_spb);
    ASSERT_GT(song1, 10 * fps + m_gap);
    std::vector<Segment> album = {{Kind::Noise, song1}, {Kind::Silence, fps * 2}};
    int64_t at = song1 + fps * 2;

    // Song 2: a tone with a quiet passage and pauses shorter than the gap; its cut lands
    // on the last frame of a buffer.
    const int64_t target2 = ((at * 2 + 12 * fps * 2) / m_spb + 1) * m_spb - 2;
    album.push_back({Kind::Tone, 3 * fps});
    album.push_back({Kind::Silence, m_gap / 2 - 10});  // a pause just under Gap Size
    album.push_back({Kind::Quiet, 3 * fps});
    album.push_back({Kind::Hiss, m_gap / 4});
    const int64_t used = 3 * fps + (m_gap / 2 - 10) + 3 * fps + m_gap / 4;
    const int64_t rest2 = SongFramesForCutAt(at + used, target2);
    ASSERT_GT(rest2, 0);
    album.push_back({Kind::Tone, rest2});
    album.push_back({Kind::Hiss, fps * 3});  // a gap of hiss, 3 s

    // Song 3 is shorter than Min Song: its gap makes no cut, so it joins song 4.
    album.push_back({Kind::Noise, 4 * fps});
    album.push_back({Kind::Silence, fps});
    // Song 4, then a gap at exactly Gap Size + 1 frame and one at Gap Size - 1 frame.
    album.push_back({Kind::Noise, 8 * fps});
    album.push_back({Kind::Silence, m_gap / 2 - 1});
    album.push_back({Kind::Noise, fps});
    album.push_back({Kind::Silence, m_gap / 2 + 1});
    // Song 5 and the end of the recording after End Gap of silence.
    album.push_back({Kind::Noise, 11 * fps});
    album.push_back({Kind::Silence, 6 * fps});

    Album a(album, GetParam().bits == 16);
    const SplitRun run = Split(m_splitter, a);
    const std::vector<Event> expected =
        ExpectedEvents(album, m_gap, m_min, m_end, m_spb, m_bpf, a.Frames() * 2);

    EXPECT_EQ(expected, run.events);
    // The hand-placed cuts are where they were meant to be.
    ASSERT_GE(run.events.size(), 4u);
    EXPECT_EQ((Event{firstCutBuffer, 0, false}), run.events[0]);
    EXPECT_EQ((Event{target2 / m_spb, kBufferBytes - m_bpf, false}), run.events[1]);
    EXPECT_TRUE(run.events.back().end);
    // Four songs, four files: three cuts, then the end.
    EXPECT_EQ(5u, run.events.size());
}

INSTANTIATE_TEST_SUITE_P(AllRatesAndFormats, AlbumSplit,
                         ::testing::Values(AlbumCase{11025, 16}, AlbumCase{22050, 16}, AlbumCase{44100, 16},
                                           AlbumCase{48000, 16}, AlbumCase{11025, 32}, AlbumCase{22050, 32},
                                           AlbumCase{44100, 32}, AlbumCase{48000, 32}),
                         CaseName);

// Default rules, music that pauses for 4 s: one cut 1 s into the pause; the old song
// keeps 1 s of silence, the new one opens with 3 s.
TEST(SongSplitter, DefaultRules_CutOneSecondIntoAFourSecondPause)
{
    CSongSplitter splitter;
    Configure(splitter, 44100, 16, 0, 0);
    splitter.PrepareForRecording();
    const int64_t fps = 44100;
    const std::vector<Segment> album = {{Kind::Noise, 31 * fps}, {Kind::Silence, 4 * fps},
                                        {Kind::Noise, 31 * fps}, {Kind::Silence, 8 * fps}};
    Album a(album, true);
    const SplitRun run = Split(splitter, a);
    ASSERT_EQ(3u, run.events.size());
    // Last loud sample 2*31*fps - 1; cut 88200 samples later.
    const int64_t cut1 = 2 * 31 * fps - 1 + 88200;
    EXPECT_EQ((Event{cut1 / 32768, static_cast<int32_t>((cut1 % 32768) / 2 * 4), false}), run.events[0]);
    const int64_t lastLoud = 2 * (66 * fps) - 1;
    const int64_t cut2 = lastLoud + 88200;
    EXPECT_EQ((Event{cut2 / 32768, static_cast<int32_t>((cut2 % 32768) / 2 * 4), false}), run.events[1]);
    const int64_t end = lastLoud + 618282;
    EXPECT_EQ((Event{end / 32768, -1, true}), run.events.back());
    // The last file holds 6.01 s of silence: less than End Gap.
    const int64_t lastFileBytes = (end / 32768 + 1) * 65536 - (cut2 / 2) * 4;
    EXPECT_TRUE(splitter.IsShorterThanEndGap(lastFileBytes));
}

TEST(SongSplitter, SilenceFromTheStart_EndsTheRecordingAfterEndGap)
{
    CSongSplitter splitter;
    splitter.PrepareForRecording();
    std::vector<int16_t> buf(32768, 0);
    int64_t sample = 0;
    Reported r;
    while (!r.end && sample < 10000000) {
        r = Process(splitter, buf.data(), buf.size());
        EXPECT_EQ(0, r.cut);
        sample += 32768;
    }
    EXPECT_EQ((618282 / 32768 + 1) * 32768, sample);
}

// The end falls on the right sample of a buffer's last frame, End Gap after a loud right
// sample: it is reported in that buffer, not one sample (and one buffer) later.
TEST(SongSplitter, EndOnTheLastFrameOfABuffer_IsReportedInThatBuffer)
{
    CSongSplitter splitter;
    Configure(splitter, 44100, 16, 0, 0);
    splitter.PrepareForRecording();
    const int64_t endGap = splitter.GetEndGapSamples();
    const int64_t endBuffer = 19;
    const int64_t loud = (endBuffer + 1) * 32768 - 1 - endGap;  // the end lands on sample 32767
    ASSERT_EQ(1, loud % 2);
    std::vector<int16_t> buf(32768);
    for (int64_t b = 0; b <= endBuffer + 1; ++b) {
        std::fill(buf.begin(), buf.end(), 0);
        if (loud / 32768 == b) buf[loud % 32768] = 20000;
        const Reported r = Process(splitter, buf.data(), buf.size());
        ASSERT_EQ(b == endBuffer, r.end == 1) << "buffer " << b;
        if (r.end) break;
    }
}

TEST(SongSplitter, EndGapNotLongerThanGapSize_EndsWithoutACut)
{
    CSongSplitter splitter;
    Configure(splitter, 11025, 16, 0, 1);
    splitter.SetMinSong(-18);    // 0.1 s
    splitter.SetGapSize(-3880);  // 2.2 s
    splitter.SetEndGap(-353);    // 2.0 s
    splitter.PrepareForRecording();
    Album a({{Kind::Noise, 11025 * 3}, {Kind::Silence, 11025 * 5}}, true);
    const SplitRun run = Split(splitter, a);
    ASSERT_EQ(1u, run.events.size());
    EXPECT_TRUE(run.events[0].end);
}

// Min Song shorter than a buffer: two songs end inside one buffer and the later cut is
// the one reported.
TEST(SongSplitter, TwoCutsInOneBuffer_ReportTheLaterOne)
{
    CSongSplitter splitter;
    Configure(splitter, 11025, 16, 0, 0);
    splitter.SetGapSize(-18);  // 0.0102 s: 225 samples at 11025 Hz
    splitter.SetMinSong(-36);  // 0.204 s, out of range but in effect
    ASSERT_EQ(1, splitter.HasError());
    splitter.PrepareForRecording();
    const int64_t gap = splitter.GetGapSamples();
    ASSERT_EQ(224, gap);  // 11025 * 0.0102 * 2 = 224.99...
    // One buffer (16384 frames): song 3000 frames, gap 1000, song 3000, gap 1000, song.
    const std::vector<Segment> album = {{Kind::Noise, 3000}, {Kind::Silence, 1000}, {Kind::Noise, 3000},
                                        {Kind::Silence, 1000}, {Kind::Noise, 8384}};
    Album a(album, true);
    std::vector<uint8_t> buf;
    a.Fill(buf, 0, 16384);
    const Reported r = Process(splitter, buf.data(), buf.size());
    EXPECT_EQ(1, r.cut);
    EXPECT_EQ(0, r.end);
    const int64_t secondCut = 2 * 7000 - 1 + gap;
    EXPECT_EQ(secondCut / 2 * 4, r.offset);
}

TEST(SongSplitter, SampleAtTheThresholdExactly_IsSilent)
{
    CSongSplitter splitter;
    Configure(splitter, 11025, 32, 0, 0);
    splitter.SetGapSize(-18);  // 224 samples
    splitter.SetMinSong(-18);  // 2250 samples
    splitter.PrepareForRecording();
    const float t = splitter.GetGapThreshold();
    const int64_t gap = splitter.GetGapSamples();
    // 1500 frames loud, then frames at exactly +-t: the cut comes Gap Size after the
    // loud part. The same with t nudged up makes no cut.
    for (float level : {t, std::nextafter(t, 1.0f)}) {
        splitter.PrepareForRecording();
        std::vector<float> buf(5000, 0.5f);
        for (size_t i = 3000; i < buf.size(); ++i) buf[i] = i % 2 ? -level : level;
        const Reported r = Process(splitter, buf.data(), buf.size());
        EXPECT_EQ(level == t, r.cut == 1);
        if (level == t) {
            EXPECT_EQ((2999 + gap) / 2 * 8, r.offset);
        }
    }
}

TEST(SongSplitter, ShortOrMissingBuffers_ProcessNothingAndFlagsAreNeverCleared)
{
    CSongSplitter splitter;
    Configure(splitter, 11025, 16, 1, 1);
    splitter.SetGapSize(-18);
    splitter.SetMinSong(-18);
    splitter.SetEndGap(-180);
    splitter.PrepareForRecording();
    int16_t one[1] = {-32768};
    int32_t cut = 0, offset = -1, end = 0;
    for (int32_t bytes : {0, 1, -2, INT32_MIN}) {
        splitter.ProcessBuffer(one, bytes, &cut, &offset, &end);
        EXPECT_EQ(0, splitter.GetClipped(0));
        EXPECT_EQ(-32768, one[0]) << "a buffer too short was written";
        EXPECT_FLOAT_EQ(1.0e-12f / 32768, splitter.GetPeak(0));
    }
    splitter.ProcessBuffer(nullptr, 65536, &cut, &offset, &end);
    splitter.ProcessBuffer(one, 2, nullptr, nullptr, nullptr);
    EXPECT_EQ(0, cut);
    EXPECT_EQ(0, end);
    EXPECT_EQ(-1, offset);
    EXPECT_EQ(0.0f, splitter.GetPeak(2));
    EXPECT_EQ(0, splitter.GetClipped(-1));
    // Without output pointers the detection still moves on: the end comes on time.
    std::vector<int16_t> silence(20000, 0);
    splitter.ProcessBuffer(silence.data(), 40000, nullptr, nullptr, nullptr);
    EXPECT_EQ(0, end);
    splitter.ProcessBuffer(silence.data(), 40000, &cut, &offset, &end);
    EXPECT_EQ(1, end);

    // The caller's flags are only ever set, never cleared.
    splitter.PrepareForRecording();
    int16_t loud[4] = {10000, 10000, 10000, 10000};
    cut = 1;
    offset = 1234;
    end = 1;
    splitter.ProcessBuffer(loud, sizeof loud, &cut, &offset, &end);
    EXPECT_EQ(1, cut);
    EXPECT_EQ(1234, offset);
    EXPECT_EQ(1, end);
}

// Clipping: without DC Block the samples at or beyond full scale count and stay as they
// are; with it the filtered signal is clamped in the buffer and counted, while the
// filter itself goes on with the unclamped value.
TEST(SongSplitter, SixteenBitClipping_WithoutDcBlock_CountsFullScaleSamples)
{
    CSongSplitter splitter;
    splitter.SetDcBlock(0);
    splitter.PrepareForRecording();
    int16_t samples[] = {-32768, 32766, 32767, -32767, 0, -32766, 32767, 32767};
    const std::vector<int16_t> before(std::begin(samples), std::end(samples));
    Process(splitter, samples, 8);
    EXPECT_EQ(3, splitter.GetClipped(0));  // -32768, 32767, 32767
    EXPECT_EQ(2, splitter.GetClipped(1));  // -32767, 32767; not 32766 nor -32766
    EXPECT_EQ(before, std::vector<int16_t>(std::begin(samples), std::end(samples)));
    EXPECT_FLOAT_EQ(1.0f, splitter.GetPeak(0));
    EXPECT_FLOAT_EQ(32767.0f / 32768, splitter.GetPeak(1));
}

TEST(SongSplitter, SixteenBitClipping_WithDcBlock_ClampsTheBufferAndKeepsTheFilterUnclamped)
{
    CSongSplitter splitter;
    splitter.SetDcBlock(1);
    splitter.PrepareForRecording();
    // Both channels: -30000 until the filter has settled, then +30000. The step of
    // 60000 overshoots full scale for a while.
    std::vector<int16_t> samples(8000, -30000);
    std::fill(samples.begin() + 4000, samples.end(), 30000);
    const std::vector<int16_t> input = samples;
    Process(splitter, samples.data(), samples.size());

    // A float model of the unclamped filter.
    const float R = 0.99152392f;
    float y = 0.0f, prev = 0.0f;
    int clipped = 0;
    for (size_t f = 0; f < samples.size() / 2; ++f) {
        const float x = input[2 * f];
        y = (x - prev + y) * R;
        prev = x;
        const bool clip = y > 32767.0f || y < -32767.0f;
        clipped += clip;
        const int16_t expected = y > 32767.0f ? 32767 : y < -32767.0f ? -32767 : static_cast<int16_t>(y);
        ASSERT_EQ(expected, samples[2 * f]) << f;
        ASSERT_EQ(expected, samples[2 * f + 1]) << f;
    }
    EXPECT_GT(clipped, 60);
    EXPECT_EQ(clipped, splitter.GetClipped(0));
    EXPECT_EQ(clipped, splitter.GetClipped(1));
    EXPECT_FLOAT_EQ(32767.0f / 32768, splitter.GetPeak(0));
}

TEST(SongSplitter, FloatClipping_WithAndWithoutDcBlock)
{
    CSongSplitter splitter;
    splitter.SetBitsPerSample(32);
    splitter.SetDcBlock(0);
    splitter.PrepareForRecording();
    float samples[] = {1.0f, 0.999f, -1.0f, 1.5f, -2.0f, 0.0f};
    Process(splitter, samples, 6);
    EXPECT_EQ(3, splitter.GetClipped(0));  // 1.0, -1.0, -2.0
    EXPECT_EQ(1, splitter.GetClipped(1));  // 1.5
    EXPECT_EQ(1.5f, samples[3]);
    EXPECT_FLOAT_EQ(2.0f, splitter.GetPeak(0));  // float peaks are not scaled

    splitter.SetDcBlock(1);
    splitter.PrepareForRecording();
    float steps[] = {-1.5f, -1.5f, 1.5f, 1.5f, 1.5f, 1.5f};
    Process(splitter, steps, 6);
    EXPECT_EQ(-1.0f, steps[0]);  // -1.487 clamped
    EXPECT_EQ(1.0f, steps[2]);   // (3 - 1.487) R = 1.500 clamped
    EXPECT_EQ(1.0f, steps[4]);   // 1.488: from the unclamped state; a clamped one gives 0.99
    EXPECT_EQ(3, splitter.GetClipped(0));
    EXPECT_EQ(3, splitter.GetClipped(1));
}

TEST(SongSplitter, Statistics_FloorPeakAndCalibratedMeanSquare)
{
    CSongSplitter splitter;
    splitter.SetDcBlock(0);
    splitter.PrepareForRecording();
    std::vector<int16_t> silence(32768, 0);
    Process(splitter, silence.data(), silence.size());
    EXPECT_EQ(0, splitter.GetClipped(0));
    EXPECT_FLOAT_EQ(1.0e-12f / 32768, splitter.GetPeak(0));
    EXPECT_FLOAT_EQ(1.0e-12f, splitter.GetMeanSquare(1));

    // A half-scale square wave: mean square c / 4 in both formats.
    std::vector<int16_t> square(32768);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 64) % 2 ? 16384 : -16384;
    Process(splitter, square.data(), square.size());
    EXPECT_NEAR(0.020006042 / 4, splitter.GetMeanSquare(0), 1e-6);
    EXPECT_NEAR(0.020006042 / 4, splitter.GetMeanSquare(1), 1e-6);
    EXPECT_FLOAT_EQ(0.5f, splitter.GetPeak(0));

    splitter.SetBitsPerSample(32);
    splitter.PrepareForRecording();
    std::vector<float> fsquare(16384);
    for (size_t i = 0; i < fsquare.size(); ++i) fsquare[i] = (i / 64) % 2 ? 0.5f : -0.5f;
    fsquare[3] = -0.75f;
    Process(splitter, fsquare.data(), fsquare.size());
    EXPECT_NEAR(0.020006042 / 4, splitter.GetMeanSquare(0), 1e-6);
    EXPECT_FLOAT_EQ(0.5f, splitter.GetPeak(0));
    EXPECT_FLOAT_EQ(0.75f, splitter.GetPeak(1));
}

// Smart Gap: a short high click in a gap does not restart the silent run, so the cut
// stays where the song ended; without Smart Gap the click delays it.
TEST(SongSplitter, SmartGap_IgnoresAHighClickInTheGap)
{
    const int64_t fps = 44100;
    const int64_t clickFrame = 11 * fps + 4000;  // 0.09 s into the gap
    for (int smart : {0, 1}) {
        CSongSplitter splitter;
        Configure(splitter, 44100, 32, 0, smart);
        splitter.SetMinSong(-1764);
        splitter.PrepareForRecording();
        const int64_t gap = splitter.GetGapSamples();
        const float threshold = splitter.GetGapThreshold();
        const std::vector<Segment> album = {{Kind::Noise, 11 * fps}, {Kind::Silence, 4 * fps}};
        Album a(album, false);
        int64_t cutAt = -1;
        std::vector<uint8_t> buf;
        for (int64_t frame = 0; frame < a.Frames() && cutAt < 0; frame += 8192) {
            a.Fill(buf, frame, 8192);
            float* s = reinterpret_cast<float*>(buf.data());
            // Three frames alternating +-0.05 (-26 dB, well above the -35 dB threshold).
            for (int64_t f = clickFrame; f < clickFrame + 3; ++f) {
                if (f >= frame && f < frame + 8192) {
                    const float v = (f - clickFrame) % 2 ? -0.05f : 0.05f;
                    s[2 * (f - frame)] = v;
                    s[2 * (f - frame) + 1] = v;
                }
            }
            ASSERT_GT(0.05f, threshold);
            const Reported r = Process(splitter, buf.data(), buf.size());
            if (r.cut) cutAt = frame + r.offset / 8;
        }
        const int64_t songEnd = 11 * fps;  // first silent frame
        if (smart) {
            // The low-passed song rings on for a few samples past its end.
            EXPECT_GE(cutAt, songEnd + gap / 2 - 1);
            EXPECT_LT(cutAt, songEnd + gap / 2 + 50);
        } else {
            EXPECT_EQ(clickFrame + 2 + gap / 2, cutAt);  // from the click's right sample
        }
    }
}

// With Smart Gap on, level meters and clip counts still see the unfiltered signal.
TEST(SongSplitter, SmartGap_LeavesBufferAndStatisticsUnfiltered)
{
    CSongSplitter splitter;
    Configure(splitter, 44100, 32, 0, 1);
    splitter.PrepareForRecording();
    std::vector<float> buf(1000, 0.0f);
    buf[500] = 0.9f;
    const std::vector<float> before = buf;
    Process(splitter, buf.data(), buf.size());
    EXPECT_EQ(before, buf);
    EXPECT_FLOAT_EQ(0.9f, splitter.GetPeak(0));
}

}  // namespace
