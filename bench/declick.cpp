// Material and measures for bench/declick.sh: cuts an excerpt of real music, adds clicks
// and crackle to it, compares a repaired file with the clean one, and times the
// declicker on its own.
//
//   bench_declick make SRC START SECONDS SEED CLEAN.wav CLICKY.wav [KINDS]
//   bench_declick compare CLEAN.wav TEST.wav INPUT.wav  -> SNR dB, changed %, worst error dBFS
//   bench_declick time IN.wav LEVEL REPS                 -> median processor seconds
//   bench_declick cpu PROGRAM ARGS...                    -> processor seconds of the run
#include "engine/Declicker.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

struct Audio {
    int rate = 44100;
    int channels = 2;
    std::vector<int32_t> s;  // interleaved, 16-bit values
    int64_t Frames() const { return static_cast<int64_t>(s.size()) / channels; }
};

bool Read(const char* path, Audio& a, int64_t start = 0, int64_t frames = -1)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    a.rate = info.samplerate;
    a.channels = info.channels;
    if (frames < 0) frames = info.frames - start;
    frames = std::max<int64_t>(0, std::min<int64_t>(frames, info.frames - start));
    sf_seek(f, start, SEEK_SET);
    std::vector<short> buf(static_cast<size_t>(frames * a.channels));
    sf_readf_short(f, buf.data(), frames);
    sf_close(f);
    a.s.assign(buf.begin(), buf.end());
    return true;
}

bool Write(const char* path, const Audio& a)
{
    SF_INFO info{};
    info.samplerate = a.rate;
    info.channels = a.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (!f) return false;
    std::vector<short> buf(a.s.size());
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<short>(std::clamp(a.s[i], -32768, 32767));
    sf_writef_short(f, buf.data(), a.Frames());
    sf_close(f);
    return true;
}

// Clicks of 1-30 samples, -24 to -3 dBFS peak, on one or both channels, 1-5 a second:
// single spikes, short decaying bursts and a few wide scratch pops; then crackle, 150 a
// second of 1-3 samples at -48 to -34 dBFS. Only the kinds named in strKinds ("spike",
// "burst", "pop", "crackle"; all when empty) are added, from the same draws, so that each
// kind's share of what is left after repair can be measured on its own.
void AddClicks(Audio& a, unsigned seed, const std::string& strKinds = "")
{
    auto Wanted = [&](const char* kind) { return strKinds.empty() || strKinds.find(kind) != std::string::npos; };
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int64_t n = a.Frames();
    const int ch = a.channels;
    auto Add = [&](int64_t pos, int c, double v) {
        if (pos >= 0 && pos < n) a.s[static_cast<size_t>(pos * ch + c)] += static_cast<int32_t>(std::lround(v));
    };
    const double perSecond = 1.0 + 4.0 * u(rng);
    int64_t pos = 0;
    for (;;) {
        pos += static_cast<int64_t>(-std::log(1.0 - u(rng)) * a.rate / perSecond) + 40;
        if (pos >= n - 64) break;
        const double peak = 32768.0 * std::pow(10.0, (-24.0 + 21.0 * u(rng)) / 20.0);
        const double kind = u(rng);
        const int which = static_cast<int>(u(rng) * 3);  // 0 left, 1 right, 2 both
        int len;
        std::vector<double> shape;
        if (kind < 0.4) {  // spike
            len = 1 + static_cast<int>(u(rng) * 3);
            const double sign = u(rng) < 0.5 ? -1 : 1;
            for (int i = 0; i < len; ++i) shape.push_back(sign * (i == 0 ? 1.0 : 0.3 + 0.5 * u(rng)));
        } else if (kind < 0.9) {  // decaying burst
            len = 4 + static_cast<int>(u(rng) * 20);
            const double tau = len / 3.0;
            for (int i = 0; i < len; ++i) shape.push_back((u(rng) * 2 - 1) * std::exp(-i / tau));
            shape[0] = u(rng) < 0.5 ? -1 : 1;
        } else {  // wide scratch pop: a smooth pulse with a little ringing
            len = 20 + static_cast<int>(u(rng) * 11);
            const double sign = u(rng) < 0.5 ? -1 : 1;
            for (int i = 0; i < len; ++i) {
                const double t = (i + 0.5) / len;
                shape.push_back(sign * std::sin(3.14159265 * t) * (1.0 - 0.6 * std::sin(6.2831853 * 3 * t) * t));
            }
        }
        double m = 0;
        for (double v : shape) m = std::max(m, std::fabs(v));
        const bool bWanted = Wanted(kind < 0.4 ? "spike" : kind < 0.9 ? "burst" : "pop");
        for (int c = 0; c < ch; ++c) {
            if (which != 2 && which != c) continue;
            const double g = (which == 2 && c == 1) ? 0.5 + 0.5 * u(rng) : 1.0;
            if (bWanted)
                for (int i = 0; i < len; ++i) Add(pos + i, c, shape[static_cast<size_t>(i)] / m * peak * g);
        }
    }
    // crackle
    pos = 0;
    for (;;) {
        pos += static_cast<int64_t>(-std::log(1.0 - u(rng)) * a.rate / 150.0) + 8;
        if (pos >= n - 8) break;
        const double peak = 32768.0 * std::pow(10.0, (-48.0 + 14.0 * u(rng)) / 20.0);
        const int len = 1 + static_cast<int>(u(rng) * 3);
        const int c = static_cast<int>(u(rng) * ch);
        const double sign = u(rng) < 0.5 ? -1 : 1;
        for (int i = 0; i < len; ++i) {
            const double v = sign * peak * (i == 0 ? 1.0 : -0.5 * u(rng));
            if (Wanted("crackle")) Add(pos + i, c, v);
        }
    }
    for (auto& v : a.s) v = std::clamp(v, -32768, 32767);
}

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && (argc == 8 || argc == 9)) {
        Audio src;
        const double start = std::atof(argv[3]), seconds = std::atof(argv[4]);
        SF_INFO info{};
        SNDFILE* f = sf_open(argv[2], SFM_READ, &info);
        if (!f) return 1;
        sf_close(f);
        if (!Read(argv[2], src, static_cast<int64_t>(start * info.samplerate),
                  static_cast<int64_t>(seconds * info.samplerate)))
            return 1;
        if (!Write(argv[6], src)) return 1;
        AddClicks(src, static_cast<unsigned>(std::atoi(argv[5])), argc == 9 ? argv[8] : "");
        return Write(argv[7], src) ? 0 : 1;
    }
    if (cmd == "compare" && argc == 5) {
        Audio clean, test, input;
        if (!Read(argv[2], clean) || !Read(argv[3], test) || !Read(argv[4], input)) return 1;
        if (clean.s.size() != test.s.size() || clean.s.size() != input.s.size()) {
            std::fprintf(stderr, "lengths differ: %zu %zu %zu\n", clean.s.size(), test.s.size(), input.s.size());
            return 1;
        }
        double sig = 0, err = 0, worst = 0;
        int64_t changed = 0;
        for (size_t i = 0; i < clean.s.size(); ++i) {
            const double d = static_cast<double>(test.s[i]) - clean.s[i];
            sig += static_cast<double>(clean.s[i]) * clean.s[i];
            err += d * d;
            if (test.s[i] != input.s[i]) {
                ++changed;
                worst = std::max(worst, std::fabs(d));
            }
        }
        const double snr = err > 0 ? 10 * std::log10(sig / err) : 999.0;
        std::printf("%.1f %.3f %.1f\n", snr, 100.0 * changed / static_cast<double>(clean.s.size()),
                    worst > 0 ? 20 * std::log10(worst / 32768.0) : -999.0);
        return 0;
    }
    if (cmd == "time" && argc == 5) {
        Audio in;
        if (!Read(argv[2], in)) return 1;
        CDeclickLevel level = CDeclickLevel::Normal;
        ParseDeclickLevel(argv[3], level);
        std::vector<float> x(in.s.size()), y(in.s.size() + (1 << 16));
        for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(in.s[i] / 32768.0);
        std::vector<double> times;
        const int reps = std::max(1, std::atoi(argv[4]));
        for (int r = 0; r < reps; ++r) {
            CDeclicker d(in.channels, in.rate, level);
            const double t0 = CpuSeconds();
            size_t done = 0;
            const size_t block = 4096;
            for (size_t i = 0; i < static_cast<size_t>(in.Frames()); i += block) {
                const size_t n = std::min(block, static_cast<size_t>(in.Frames()) - i);
                done += d.Process(&x[i * static_cast<size_t>(in.channels)], n,
                                  &y[done * static_cast<size_t>(in.channels)]);
            }
            done += d.Finish(&y[done * static_cast<size_t>(in.channels)]);
            times.push_back(CpuSeconds() - t0);
        }
        std::sort(times.begin(), times.end());
        std::printf("%.4f\n", times[times.size() / 2]);
        return 0;
    }
    if (cmd == "cpu" && argc > 2) {
        // User plus system time of the program alone, as the kernel accounts it to the
        // child: exact to the microsecond, and nothing of this process or the shell counted.
        const pid_t pid = fork();
        if (pid < 0) return 1;
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
            execvp(argv[2], argv + 2);
            _exit(127);
        }
        int status = 0;
        rusage use{};
        if (wait4(pid, &status, 0, &use) != pid) return 1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "%s failed\n", argv[2]);
            return 1;
        }
        std::printf("%.4f\n", static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                                   1e-6 * static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec));
        return 0;
    }
    std::fprintf(stderr, "usage: bench_declick make|compare|time|cpu ...\n");
    return 2;
}
