// The album on a one-hour recording (12 songs of 5 minutes, 44.1 kHz stereo 16-bit, about
// 635 MB): the overview of the whole recording at a window's width, a zoomed overview of
// a few seconds, and the edits. The album is made once in $CADENZO_BENCH_DIR (default
// /tmp/cadenzo-bench-album) and kept for the next run; its files sit in the page cache
// after the first pass, which is the "warm cache" the window opens.

#include "album/Album.h"
#include "album/Overview.h"
#include "capture/WaveFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

const int kSongs = 12;
const int64_t kSongFrames = 5 * 60 * 44100;

std::string AlbumBase()
{
    const char* sz = std::getenv("CADENZO_BENCH_DIR");
    std::string strDir = sz ? sz : "/tmp/cadenzo-bench-album";
    std::filesystem::create_directories(strDir);
    std::string strBase = strDir + "/Hour.wav";
    CAlbum album;
    if (album.Open(strBase) && album.GetTotalFrames() == kSongs * kSongFrames) return strBase;
    std::mt19937 rng(1);
    std::vector<int16_t> samples(static_cast<size_t>(kSongFrames * 2));
    for (int k = 1; k <= kSongs; ++k) {
        for (int16_t& s : samples) s = static_cast<int16_t>(rng() >> 20);
        CWaveFile writer;
        writer.SetFileName((strDir + "/Hour" + std::to_string(k) + ".wav").c_str());
        writer.Create();
        writer.WriteHeader(16, 44100, 2, 1 << 20);
        writer.Write(samples.data(), static_cast<int32_t>(samples.size() * 2));
        writer.Close();
    }
    std::filesystem::remove(strDir + "/Hour.cue");
    return strBase;
}

void BM_OverviewOfAnHour(benchmark::State& state)
{
    CAlbum album;
    if (!album.Open(AlbumBase())) state.SkipWithError(album.GetErrorText().c_str());
    for (auto _ : state) {
        COverview overview;
        overview.Start(album.GetLayout(), 0, album.GetTotalFrames(), 1600);
        overview.Wait();
        if (!overview.IsFinished()) state.SkipWithError("overview failed");
    }
    state.counters["x_real_time"] = benchmark::Counter(
        3600.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OverviewOfAnHour)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_OverviewAroundACut(benchmark::State& state)
{
    CAlbum album;
    if (!album.Open(AlbumBase())) state.SkipWithError(album.GetErrorText().c_str());
    for (auto _ : state) {
        COverview overview;
        overview.Start(album.GetLayout(), album.GetSongStart(7) - 3 * 44100, 6 * 44100, 1600);
        overview.Wait();
    }
}
BENCHMARK(BM_OverviewAroundACut)->Unit(benchmark::kMillisecond)->UseRealTime();

// Moving a cut by a second and back: each rewrites two 5-minute songs (53 MB each).
void BM_MoveCutAndBack(benchmark::State& state)
{
    CAlbum album;
    if (!album.Open(AlbumBase())) state.SkipWithError(album.GetErrorText().c_str());
    const int64_t nCut = album.GetSongStart(7);
    for (auto _ : state) {
        if (!album.MoveCut(6, nCut + 44100) || !album.MoveCut(6, nCut))
            state.SkipWithError(album.GetErrorText().c_str());
    }
    state.counters["edits"] = benchmark::Counter(2.0 * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MoveCutAndBack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Join and undo: the join writes one 10-minute song, the undo two 5-minute songs; the six
// later songs are only renamed.
void BM_JoinAndUndo(benchmark::State& state)
{
    CAlbum album;
    if (!album.Open(AlbumBase())) state.SkipWithError(album.GetErrorText().c_str());
    for (auto _ : state) {
        if (!album.Join(6) || !album.Undo()) state.SkipWithError(album.GetErrorText().c_str());
    }
}
BENCHMARK(BM_JoinAndUndo)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
