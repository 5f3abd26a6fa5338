// What cadenzo-split's explanation costs beside its splitting: reads a 16-bit stereo WAV
// file in the split's 65536-byte buffers, runs the song splitter with its defaults over
// each and feeds the buffer as the splitter left it to the analysis that gathers the
// quiet stretches (as cadenzo-split does while it splits), and prints the processor time
// of each, in seconds per hour of audio:
//
//   bench_explain FILE.wav
//
// One line: "splitter S finder F hours H" (processor seconds per hour of audio, the best
// of three passes; H: the file's length in hours).
#include "engine/SongSplitter.h"
#include "tools/SplitPlan.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_explain FILE.wav (16-bit stereo)\n");
        return 2;
    }
    double fBestSplit = 1e30, fBestFind = 1e30, fHours = 0;
    for (int nPass = 0; nPass < 3; ++nPass) {
        SF_INFO info{};
        SNDFILE* pFile = sf_open(argv[1], SFM_READ, &info);
        if (pFile == nullptr || info.channels != 2 || (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
            std::fprintf(stderr, "bench_explain: %s is not a 16-bit stereo file libsndfile reads\n", argv[1]);
            return 1;
        }
        CSongSplitter splitter;
        splitter.SetSamplesPerSec(info.samplerate);
        splitter.SetBitsPerSample(16);
        SplitAnalysis analysis;
        BeginAnalysis(splitter, &analysis);
        splitter.PrepareForRecording();
        std::vector<int16_t> buffer(65536 / 2);
        double fSplit = 0, fFind = 0;
        int64_t nFrames = 0;
        for (;;) {
            const sf_count_t nRead = sf_readf_short(pFile, buffer.data(), static_cast<sf_count_t>(buffer.size() / 2));
            if (nRead <= 0) break;
            const int32_t nBytes = static_cast<int32_t>(nRead * 4);
            int32_t bCut = 0, nOffset = 0, bEnd = 0;
            const double t0 = ThreadSeconds();
            splitter.ProcessBuffer(buffer.data(), nBytes, &bCut, &nOffset, &bEnd);
            const double t1 = ThreadSeconds();
            AnalyseBuffer(reinterpret_cast<const uint8_t*>(buffer.data()), nBytes, bCut, nOffset, bEnd, &analysis);
            fFind += ThreadSeconds() - t1;
            fSplit += t1 - t0;
            nFrames += nRead;
        }
        sf_close(pFile);
        fHours = static_cast<double>(nFrames) / info.samplerate / 3600.0;
        if (fHours <= 0) return 1;
        fBestSplit = std::min(fBestSplit, fSplit / fHours);
        fBestFind = std::min(fBestFind, fFind / fHours);
    }
    std::printf("splitter %.3f finder %.3f hours %.4f\n", fBestSplit, fBestFind, fHours);
    return 0;
}
