// Gaps found and false cuts of the song splitter (default settings: Smart Gap and DC
// Block on, 44100 Hz, 16-bit) on albums whose gaps hold record clicks and crackle and
// whose songs hold the quiet passages that must never be cut: a low bass note just above
// Gap Level, a soft passage, a long fade, a solo instrument with short pauses, a song
// that starts again with a single drum hit after a pause.
//
//   bench_click_albums                      synthetic albums, seeded, one line each
//   bench_click_albums SONG.raw SONG.raw …  real songs (raw 44100 Hz 16-bit stereo)
//                                           joined by noisy gaps with clicks
//
// A gap is the stretch between the last sample of a song above Gap Level and the first
// one of the next song; a cut inside it finds the gap, any other cut is false.
#include "engine/SongSplitter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979;
const double kThreshold = std::pow(10.0, -35.0 / 20.0);  // default Gap Level, full scale 1

struct Album {
    std::vector<float> samples;  // interleaved stereo, full scale 1
    std::vector<int64_t> songStart;  // frame where each song's audio starts
    std::vector<int64_t> songEnd;    // frame after its last one (the gap follows)
};

class Gen
{
public:
    explicit Gen(uint32_t seed) : m_rng(seed) {}
    double Uniform(double lo, double hi) { return lo + (hi - lo) * (m_rng() / 4294967296.0); }
    double Gauss()
    {
        const double u = Uniform(1e-12, 1.0), v = Uniform(0.0, 1.0);
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2 * kPi * v);
    }

    // Appends `seconds` of a tune: chords with a bass line and a drum every half second.
    void Music(std::vector<float>& out, double seconds, double gain)
    {
        const int64_t frames = static_cast<int64_t>(seconds * kRate);
        double f[4] = {Uniform(110, 220), 0, 0, Uniform(45, 70)};
        f[1] = f[0] * 1.26;
        f[2] = f[0] * 1.5;
        double drum = 0, drumPhase = 0;
        for (int64_t n = 0; n < frames; ++n) {
            if (n % (kRate * 2) == 0) f[0] = Uniform(110, 220), f[1] = f[0] * 1.26, f[2] = f[0] * 1.5;
            if (n % (kRate / 2) == 0) drum = 0.5, drumPhase = 0;
            const double t = static_cast<double>(m_t++) / kRate;
            double v = 0.15 * (std::sin(2 * kPi * f[0] * t) + std::sin(2 * kPi * f[1] * t) +
                               std::sin(2 * kPi * f[2] * t)) +
                       0.2 * std::sin(2 * kPi * f[3] * t);
            drumPhase += 2 * kPi * 60 / kRate;
            v += drum * (std::sin(drumPhase) + 0.3 * Gauss());
            drum *= 0.9996;
            for (int ch = 0; ch < 2; ++ch) out.push_back(static_cast<float>(gain * v * (ch ? 0.9 : 1.0)));
        }
    }

    // Room noise: white noise at the given RMS.
    void Noise(std::vector<float>& out, double seconds, double rms)
    {
        const int64_t frames = static_cast<int64_t>(seconds * kRate);
        for (int64_t n = 0; n < 2 * frames; ++n) out.push_back(static_cast<float>(rms * Gauss()));
    }

    // A low note (E2) whose peaks stand `over` times above Gap Level (about 0.8 times that
    // after DC Block, which thins it): it dips below the level
    // near every zero crossing.
    void Bass(std::vector<float>& out, double seconds, double over)
    {
        const int64_t frames = static_cast<int64_t>(seconds * kRate);
        for (int64_t n = 0; n < frames; ++n) {
            const double v = over * kThreshold * std::sin(2 * kPi * 82.4 * n / kRate);
            out.push_back(static_cast<float>(v));
            out.push_back(static_cast<float>(v));
        }
    }

    // Plucked notes, each a decaying tone, with short pauses between them.
    void Solo(std::vector<float>& out, double seconds)
    {
        const int64_t end = out.size() / 2 + static_cast<int64_t>(seconds * kRate);
        while (static_cast<int64_t>(out.size() / 2) < end) {
            const double f = Uniform(200, 800), gap = Uniform(0.6, 1.05);
            const int64_t frames = static_cast<int64_t>(gap * kRate);
            for (int64_t n = 0; n < frames; ++n) {
                const double t = static_cast<double>(n) / kRate;
                const double v = 0.12 * std::exp(-t / 0.12) * (std::sin(2 * kPi * f * t) + 0.3 * std::sin(4 * kPi * f * t)) +
                                 0.001 * Gauss();
                out.push_back(static_cast<float>(v));
                out.push_back(static_cast<float>(v * 0.8));
            }
        }
    }

    // One drum hit: a falling low tone and a burst of noise.
    void Drum(std::vector<float>& out, double peak)
    {
        double phase = 0;
        for (int64_t n = 0; n < kRate / 2; ++n) {
            const double t = static_cast<double>(n) / kRate;
            phase += 2 * kPi * (50 + 100 * std::exp(-t / 0.03)) / kRate;
            const double v = peak * (std::exp(-t / 0.06) * std::sin(phase) + 0.3 * std::exp(-t / 0.01) * Gauss());
            out.push_back(static_cast<float>(v));
            out.push_back(static_cast<float>(v));
        }
    }

    // Scatters clicks over frames [from, to): `perSecond` on average, peaks from loDb to
    // hiDb dBFS, 0.05 to 3 ms long, on the left, the right or both channels.
    void Clicks(std::vector<float>& s, int64_t from, int64_t to, double perSecond, double loDb, double hiDb)
    {
        const int count = static_cast<int>(std::lround(perSecond * (to - from) / kRate));
        for (int c = 0; c < count; ++c) {
            const int64_t at = from + static_cast<int64_t>(Uniform(0, 1) * (to - from - 200));
            const double peak = std::pow(10.0, Uniform(loDb, hiDb) / 20) * (Uniform(0, 1) < 0.5 ? -1 : 1);
            const int64_t len = std::max<int64_t>(2, static_cast<int64_t>(Uniform(0.00005, 0.003) * kRate));
            const int which = static_cast<int>(Uniform(0, 3));  // 0 left, 1 right, 2 both
            const bool spike = Uniform(0, 1) < 0.4;
            const double f = Uniform(2000, 8000);
            for (int64_t n = 0; n < len; ++n) {
                const double v = spike ? (n < 4 ? peak : 0.0)
                                       : peak * std::exp(-3.0 * n / len) * std::cos(2 * kPi * f * n / kRate);
                for (int ch = 0; ch < 2; ++ch)
                    if (which == 2 || which == ch) {
                        float& x = s[2 * (at + n) + ch];
                        x = static_cast<float>(std::clamp(x + v, -1.0, 1.0));
                    }
            }
        }
    }

private:
    std::mt19937 m_rng;
    int64_t m_t = 0;
};

struct ClickCase {
    const char* name;
    double perSecond, loDb, hiDb;
};

// Songs of every kind, each at least 35 s, joined by 2 s gaps of hiss holding clicks.
Album Synthetic(uint32_t seed, const ClickCase& clicks)
{
    Gen g(seed);
    Album a;
    std::vector<std::pair<int64_t, int64_t>> gaps;
    for (int song = 0; song < 12; ++song) {
        a.songStart.push_back(static_cast<int64_t>(a.samples.size() / 2));
        switch (song % 6) {
        case 0: g.Music(a.samples, 36, 0.5); break;
        case 1:  // a low bass note just above Gap Level for 12 s
            g.Music(a.samples, 12, 0.5), g.Bass(a.samples, 6, 1.45), g.Bass(a.samples, 6, 2.0),
                g.Music(a.samples, 12, 0.5);
            break;
        case 2:  // a soft passage, its peaks a few dB above Gap Level
            g.Music(a.samples, 12, 0.5), g.Music(a.samples, 12, 0.04), g.Music(a.samples, 12, 0.5);
            break;
        case 3: {  // a long fade by 35 dB over 12 s
            g.Music(a.samples, 20, 0.5);
            const size_t from = a.samples.size();
            g.Music(a.samples, 12, 0.5);
            for (size_t i = from; i < a.samples.size(); ++i)
                a.samples[i] *= static_cast<float>(std::pow(10.0, -35.0 / 20 * static_cast<double>((i - from) / 2) / kRate / 12));
            break;
        }
        case 4: g.Solo(a.samples, 36); break;
        case 5:  // music, a pause, one drum hit, a pause, music
            g.Music(a.samples, 14, 0.5), g.Noise(a.samples, 0.7, 0.0005), g.Drum(a.samples, 0.5),
                g.Noise(a.samples, 0.45, 0.0005), g.Drum(a.samples, 0.05), g.Noise(a.samples, 0.7, 0.0005),
                g.Music(a.samples, 20, 0.5);
            break;
        }
        const int64_t gapFrom = static_cast<int64_t>(a.samples.size() / 2);
        a.songEnd.push_back(gapFrom);
        g.Noise(a.samples, 2.0, 0.0008);  // -62 dB hiss
        gaps.push_back({gapFrom, static_cast<int64_t>(a.samples.size() / 2)});
    }
    for (const auto& gap : gaps) {
        if (clicks.perSecond < 0)  // the dusty record: two 3-sample clicks per gap
            for (int k = 0; k < 2; ++k) {
                const int64_t at = gap.first + static_cast<int64_t>(g.Uniform(0.1, 1.9) * kRate);
                for (int n = 0; n < 3; ++n) a.samples[2 * (at + n)] = a.samples[2 * (at + n) + 1] = 0.25f;
            }
        else
            g.Clicks(a.samples, gap.first, gap.second, clicks.perSecond, clicks.loDb, clicks.hiDb);
    }
    return a;
}

struct Score {
    int gaps = 0, found = 0, falseCuts = 0;
};

// Splits the album with the default settings and scores the cuts.
Score Split(const Album& a)
{
    const int64_t frames = static_cast<int64_t>(a.samples.size() / 2);
    std::vector<int16_t> pcm(a.samples.size());
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(std::lround(std::clamp(a.samples[i] * 32767.0, -32768.0, 32767.0)));

    // The audible span of each song: its first and last sample above Gap Level after DC
    // Block and the click filter, as the detector hears it without clicks.
    CSongSplitter splitter;
    splitter.PrepareForRecording();
    const float threshold = splitter.GetGapThreshold();
    std::vector<int64_t> first, last;
    for (size_t s = 0; s < a.songStart.size(); ++s) {
        CBiquadFilter lp[2];
        float dcIn[2] = {0, 0}, dcOut[2] = {0, 0};
        int64_t f = -1, l = -1;
        for (int64_t n = a.songStart[s]; n < a.songEnd[s]; ++n)
            for (int ch = 0; ch < 2; ++ch) {
                if (n == a.songStart[s]) lp[ch].Design("LP", 2900, kRate);
                const float x = pcm[2 * n + ch];
                dcOut[ch] = (x - dcIn[ch] + dcOut[ch]) * 0.99152392f;
                dcIn[ch] = x;
                if (std::fabs(lp[ch].Process(dcOut[ch])) > threshold) {
                    if (f < 0) f = n;
                    l = n;
                }
            }
        first.push_back(f);
        last.push_back(l);
    }
    Score score;
    score.gaps = static_cast<int>(a.songStart.size()) - 1;
    std::vector<int> cutsInGap(a.songStart.size(), 0);

    const int64_t perBuffer = 16384;
    for (int64_t f = 0; f < frames; f += perBuffer) {
        const int32_t n = static_cast<int32_t>(std::min(perBuffer, frames - f));
        std::vector<int16_t> buf(pcm.begin() + 2 * f, pcm.begin() + 2 * (f + n));
        int32_t cut = 0, offset = 0, end = 0;
        splitter.ProcessBuffer(buf.data(), n * 4, &cut, &offset, &end);
        if (cut) {
            const int64_t at = f + offset / 4;
            if (at > last.back()) continue;  // in the closing silence, after the last song
            int gap = -1;
            for (size_t s = 0; s + 1 < a.songStart.size(); ++s)
                if (at > last[s] && at <= first[s + 1]) gap = static_cast<int>(s);
            if (gap >= 0 && cutsInGap[gap]++ == 0) ++score.found;
            else ++score.falseCuts;
            if (std::getenv("CLICK_ALBUMS_VERBOSE"))
                std::printf("  cut at %.3f s%s\n", static_cast<double>(at) / kRate, gap >= 0 ? "" : " (false)");
        }
        if (end) {
            if (std::getenv("CLICK_ALBUMS_VERBOSE"))
                std::printf("  end at %.3f s of %.3f s\n", static_cast<double>(f + n) / kRate, static_cast<double>(frames) / kRate);
            break;
        }
    }
    return score;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {  // real songs, joined by 2 s gaps of hiss, without and with clicks
        for (double perSecond : {0.0, 3.0, 8.0}) {
            Gen g(7);
            Album a;
            for (int i = 1; i < argc; ++i) {
                FILE* f = std::fopen(argv[i], "rb");
                if (!f) {
                    std::fprintf(stderr, "cannot open %s\n", argv[i]);
                    return 1;
                }
                a.songStart.push_back(static_cast<int64_t>(a.samples.size() / 2));
                int16_t s[2];
                while (std::fread(s, 2, 2, f) == 2) {
                    a.samples.push_back(s[0] / 32768.0f);
                    a.samples.push_back(s[1] / 32768.0f);
                }
                std::fclose(f);
                const int64_t gapFrom = static_cast<int64_t>(a.samples.size() / 2);
                a.songEnd.push_back(gapFrom);
                g.Noise(a.samples, 2.0, 0.001);
                g.Clicks(a.samples, gapFrom, gapFrom + 2 * kRate, perSecond, perSecond > 5 ? -30 : -24, -3);
            }
            const Score s = Split(a);
            const std::string name = perSecond == 0 ? "real songs, no clicks (hiss only)"
                                                    : "real songs, clicks -" + std::string(perSecond > 5 ? "30" : "24") +
                                                          "..-3 dB " + std::to_string(static_cast<int>(perSecond)) + "/s";
            std::printf("%-34s %4d gaps  %4d found  %4d false cuts\n", name.c_str(), s.gaps, s.found, s.falseCuts);
        }
        return 0;
    }
    const ClickCase cases[] = {
        {"no clicks (hiss only)", 0, 0, 0},
        {"two 3-sample clicks at -12 dB", -1, 0, 0},
        {"clicks -24 dB, 2/s", 2, -24, -24},
        {"clicks -18 dB, 2/s", 2, -18, -18},
        {"clicks -12 dB, 2/s", 2, -12, -12},
        {"clicks -6 dB, 2/s", 2, -6, -6},
        {"clicks -3 dB, 2/s", 2, -3, -3},
        {"crackle -30..-3 dB, 8/s", 8, -30, -3},
    };
    uint32_t seed = 1;
    const char* only = std::getenv("CLICK_ALBUMS_ONLY");
    for (const ClickCase& album : cases) {
        if (only && std::string(album.name).find(only) == std::string::npos) {
            ++seed;
            continue;
        }
        const Score s = Split(Synthetic(seed++, album));
        std::printf("%-34s %4d gaps  %4d found  %4d false cuts\n", album.name, s.gaps, s.found, s.falseCuts);
    }
    return 0;
}
