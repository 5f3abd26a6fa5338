#pragma once
// Judges a recording made through PipeWire against the music the server played, cycle by
// cycle of the server's graph. No test framework: the capture tests and the window tests
// share it.
//
// The graph runs in cycles of a fixed number of frames (2048 at the periods our streams
// ask for; the profile read below shows it). Under heavy load the server damages record
// streams in whole cycles, at multiples of the cycle from the stream's start, because its
// per-stream conversion runs late: a cycle of silence in place of the music, one channel
// silent, or one or both channels taken from the cycle before or after. Every stream
// suffers it, the server's own recorder (parec) as much as ours, each stream in its own
// cycles. More load drops a whole cycle of the sink's monitor (missing from every stream
// at the same place of the music), or a cycle or two of one stream alone. When
// the record player falls behind, the sink plays silence and the music resumes later:
// whole cycles of silence put into every stream that records the sink, at the same place
// of the music. None of this is the recorder's doing.
//
// What the recorder can do wrong is different: skip frames (a ring overrun, a callback
// lost) or repeat them, after which the music goes on at another offset, in its periods
// of 50 ms or any number of frames but whole cycles, in its stream alone.
//
// So a capture is walked cycle by cycle (from its first sound) against the source:
//  - a cycle equal to the source at the current offset is exact;
//  - a cycle that equals the source at another offset moves the timeline: source frames
//    are missing (it moved on) or frames were put in (it moved back; "silence" when what
//    was put in is whole silence); the source's cycle before or after does so only where
//    the next cycle is the source's there too;
//  - a cycle each of whose channels is the source's, silence, or the source's of the cycle
//    before or after, is damaged in place; so is one that is so where the music goes on
//    at another offset a few cycles on, which moves the timeline there;
//  - any other cycle is unexplained.
// Judge() then holds the recorder's walk against the server's own recorder's walk.

#include "capture/RecordSession.h"
#include "capture/WaveIn.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace servercycles {

constexpr int64_t kCycleFrames = 2048;
constexpr int64_t kRecorderPeriod = 2400;  // frames the recorder's stream brings per callback (50 ms)

// Songs of noise (every stretch unlike any other, so any piece of a capture can be found
// in it) between gaps of digital silence: 48 kHz 16-bit stereo, interleaved.
inline std::vector<int16_t> NoiseAlbum(unsigned nSeed, int nSongs, double fSong, double fGap)
{
    std::mt19937 rng(nSeed);
    std::uniform_int_distribution<int> noise(-8000, 8000);
    std::vector<int16_t> samples;
    for (int s = 0; s < nSongs; ++s) {
        for (int64_t i = 0; i < static_cast<int64_t>(fSong * 48000) * 2; ++i)
            samples.push_back(static_cast<int16_t>(noise(rng)));
        samples.insert(samples.end(), static_cast<size_t>(fGap * 48000) * 2, 0);
    }
    return samples;
}

inline std::vector<int16_t> ReadSamples(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary | std::ios::ate);
    std::vector<int16_t> samples(static_cast<size_t>(std::max<std::streamoff>(0, in.tellg())) / 4 * 2);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    return samples;
}

// The recorder's stream as its song files hold it: each file's samples where the file
// began in the stream (16-bit files).
inline std::vector<int16_t> StreamOfSongFiles(const std::vector<RecordSongFile>& files)
{
    std::vector<int16_t> samples;
    for (const RecordSongFile& file : files) {
        if (file.bDeleted) continue;
        samples.resize(static_cast<size_t>(file.nStartByte / 2 + file.nDataBytes / 2));
        std::ifstream in(file.strPath, std::ios::binary);
        in.seekg(44);
        in.read(reinterpret_cast<char*>(samples.data() + file.nStartByte / 2),
                static_cast<std::streamsize>(file.nDataBytes));
    }
    return samples;
}

struct Shift {
    int64_t nSourceFrame = 0;  // where in the source the timeline moved
    int64_t nFrames = 0;       // > 0: that many source frames are missing; < 0: put in
    bool bSilence = false;     // what was put in is silence, whole cycles of it
};

struct CycleWalk {
    int64_t nCycles = 0;       // cycles compared
    int64_t nExact = 0;
    int64_t nDamaged = 0;      // damaged in place
    int64_t nUnexplained = 0;
    int64_t nFirstUnexplained = -1;  // capture frame
    std::vector<Shift> shifts;
    std::string strError;      // the capture could not be placed in the source at all

    bool Troubled() const { return nDamaged > 0 || !shifts.empty() || nUnexplained > 0; }
    std::string Summary() const
    {
        if (!strError.empty()) return strError;
        std::ostringstream s;
        s << nCycles << " cycles: " << nExact << " exact, " << nDamaged << " damaged in place, " << nUnexplained
          << " unexplained";
        for (const Shift& shift : shifts)
            s << "; at " << static_cast<double>(shift.nSourceFrame) / 48000 << " s of the music "
              << (shift.nFrames > 0 ? std::to_string(shift.nFrames) + " frames missing"
                                    : std::to_string(-shift.nFrames) + " frames put in")
              << (shift.bSilence ? " (silence)" : "");
        return s.str();
    }
};

namespace detail {

inline bool Same(const int16_t* a, const int16_t* b, int64_t nFrames)
{
    return std::memcmp(a, b, static_cast<size_t>(nFrames) * 4) == 0;
}

// Channel ch of a equals channel ch of b (or silence when b is null).
inline bool SameChannel(const int16_t* a, const int16_t* b, int64_t nFrames, int ch)
{
    for (int64_t i = 0; i < nFrames; ++i)
        if (a[2 * i + ch] != (b ? b[2 * i + ch] : 0)) return false;
    return true;
}

// The offset (source frame minus capture frame) at which a stretch of sound in the
// capture cycle at nAt is found in the source frames [nLow, nHigh); false if none.
inline bool Locate(const std::vector<int16_t>& cap, const std::vector<int16_t>& src, int64_t nAt, int64_t nFrames,
                   int64_t nLow, int64_t nHigh, int64_t* pnOffset)
{
    constexpr int64_t kKey = 64;
    nLow = std::max<int64_t>(0, nLow);
    nHigh = std::min<int64_t>(static_cast<int64_t>(src.size() / 2), nHigh);
    for (int64_t k = nAt; k + kKey <= nAt + nFrames; k += kKey) {
        const int16_t* pKey = cap.data() + 2 * k;
        if (std::all_of(pKey, pKey + 2 * kKey, [](int16_t v) { return v == 0; })) continue;
        auto from = src.begin() + 2 * nLow;
        const auto to = src.begin() + 2 * nHigh;
        for (;;) {
            const auto it = std::search(from, to, pKey, pKey + 2 * kKey);
            if (it == to) break;
            const int64_t nSample = it - src.begin();
            if (nSample % 2 == 0) {
                *pnOffset = nSample / 2 - k;
                return true;
            }
            from = it + 1;
        }
        return false;  // sound that the source does not hold here
    }
    return false;
}

}  // namespace detail

// Walks the capture (interleaved stereo, frame 0 = the stream's first frame, so that the
// graph's cycles begin at multiples of nCycle) against the source.
inline CycleWalk WalkCycles(const std::vector<int16_t>& cap, const std::vector<int16_t>& src,
                            int64_t nCycle = kCycleFrames)
{
    CycleWalk w;
    const int64_t nCap = static_cast<int64_t>(cap.size() / 2), nSrc = static_cast<int64_t>(src.size() / 2);
    int64_t nFirst = 0;
    while (nFirst < nCap && cap[2 * nFirst] == 0 && cap[2 * nFirst + 1] == 0) ++nFirst;
    int64_t b = nFirst / nCycle * nCycle, nOffset = 0;
    while (b < nCap && !detail::Locate(cap, src, b, std::min(nCycle, nCap - b), 0, nSrc, &nOffset)) b += nCycle;
    if (b >= nCap) {
        w.strError = "no sound of the source in the capture";
        return w;
    }
    const int64_t nRange = 10 * 48000;
    // The capture cycle at c is the source at offset nAt: whole, or (InPlace) each channel
    // the source's, silence, or the source's of the cycle before or after.
    auto Exact = [&](int64_t c, int64_t nAt) {
        const int64_t n = std::min(nCycle, nCap - c);
        return c + nAt >= 0 && c + nAt + n <= nSrc && detail::Same(cap.data() + 2 * c, src.data() + 2 * (c + nAt), n);
    };
    auto InPlace = [&](int64_t c, int64_t nAt) {
        const int64_t n = std::min(nCycle, nCap - c);
        if (c + nAt < 0 || c + nAt + n > nSrc) return false;
        const int16_t* pCap = cap.data() + 2 * c;
        const int16_t* pSrc = src.data() + 2 * (c + nAt);
        for (int ch = 0; ch < 2; ++ch) {
            if (!(detail::SameChannel(pCap, pSrc, n, ch) || detail::SameChannel(pCap, nullptr, n, ch) ||
                  (c + nAt >= nCycle && detail::SameChannel(pCap, pSrc - 2 * nCycle, n, ch)) ||
                  (c + nAt + nCycle + n <= nSrc && detail::SameChannel(pCap, pSrc + 2 * nCycle, n, ch))))
                return false;
        }
        return true;
    };
    // The offset at which the capture cycle at c is whole elsewhere in the source; nOffset if none.
    auto Found = [&](int64_t c) {
        int64_t nAt = 0;
        const int64_t n = std::min(nCycle, nCap - c);
        return detail::Locate(cap, src, c, n, c + nOffset - nRange, c + nOffset + nRange, &nAt) && Exact(c, nAt) ? nAt
                                                                                                                : nOffset;
    };
    std::vector<int64_t> damagedAt;  // capture frames of the cycles damaged in place
    for (; b < nCap; b += nCycle) {
        const int64_t n = std::min(nCycle, nCap - b);
        if (b + nOffset + n > nSrc) break;  // past the end of the music
        ++w.nCycles;
        if (Exact(b, nOffset)) {
            ++w.nExact;
            continue;
        }
        // Where the music goes on: at another offset in this cycle, or, for a cycle that is
        // not the music here, from a later cycle on. The source's whole cycle before or
        // after moves the timeline only where the next cycle goes on from there; else the
        // server took both channels from there, as it takes one.
        const bool bHere = InPlace(b, nOffset);
        auto Onward = [&](int64_t nAt) { return Exact(b, nAt) && b + nCycle < nCap && Exact(b + nCycle, nAt); };
        int64_t nMoved = !bHere                     ? Found(b)
                         : Onward(nOffset + nCycle) ? nOffset + nCycle
                         : Onward(nOffset - nCycle) ? nOffset - nCycle
                                                    : nOffset;
        const bool bWhole = nMoved != nOffset;
        // Not the music here: it goes on where the first of the next few cycles that is
        // whole finds it (the cycles between, damaged in place there as well).
        if (!bWhole && !bHere)
            for (int64_t c = b + nCycle; c < std::min(nCap, b + 4 * nCycle) && !Exact(c, nOffset); c += nCycle)
                if ((nMoved = Found(c)) != nOffset) break;
        if (nMoved == nOffset) {
            if (bHere) {
                ++w.nDamaged;
                damagedAt.push_back(b);
            } else {
                ++w.nUnexplained;
                if (w.nFirstUnexplained < 0) w.nFirstUnexplained = b;
            }
            continue;
        }
        Shift shift;
        shift.nSourceFrame = b + nOffset;
        shift.nFrames = nMoved - nOffset;
        if (bWhole && shift.nFrames < 0 && -shift.nFrames % nCycle == 0 && b + shift.nFrames >= 0) {
            // Put in: the frames just before this cycle. Whole cycles of silence there were
            // counted as damaged in place; they are the insertion instead.
            shift.bSilence = std::all_of(cap.begin() + 2 * (b + shift.nFrames), cap.begin() + 2 * b,
                                         [](int16_t v) { return v == 0; });
            if (shift.bSilence)
                while (!damagedAt.empty() && damagedAt.back() >= b + shift.nFrames) {
                    damagedAt.pop_back();
                    --w.nDamaged;
                    ++w.nExact;
                }
        }
        w.shifts.push_back(shift);
        nOffset = nMoved;
        if (bWhole) {
            ++w.nExact;
        } else if (InPlace(b, nOffset)) {
            ++w.nDamaged;  // the first cycle at the new place, damaged as well
            damagedAt.push_back(b);
        } else {
            ++w.nUnexplained;  // frames went missing inside it
            if (w.nFirstUnexplained < 0) w.nFirstUnexplained = b;
        }
    }
    return w;
}

// At most this many cycles of the recorder's stream may be damaged in place in a run
// where the server's own recorder came through whole (runs under load showed a cycle or
// two per stream, and such damage does not always strike both streams of one run).
constexpr int64_t kDamageWithoutWitness = 2;

// The server's own recorder shows the same move at the same place of the music: the
// music itself moved (the player fell behind), in every stream.
inline bool Witnessed(const Shift& shift, const CycleWalk& reference, int64_t nCycle = kCycleFrames)
{
    return std::any_of(reference.shifts.begin(), reference.shifts.end(), [&](const Shift& s) {
        return s.nFrames == shift.nFrames && std::llabs(s.nSourceFrame - shift.nSourceFrame) <= 2 * nCycle;
    });
}

// Whole cycles missing from one stream alone: under load the sound server's side of a
// stream (the server, or its client library in our process) drops a cycle or two of it,
// now and then of ours and not of its own recorder's, which asks for fragments of a second
// where ours asks for 50 ms. The recorder's own code moves in its periods
// (kRecorderPeriod, and a ring overrun in bytes of them), never by whole cycles alone.
inline bool ServersDrop(const Shift& shift, int64_t nCycle = kCycleFrames)
{
    return shift.nFrames > 0 && shift.nFrames % nCycle == 0;
}

// Empty when the recorder's capture holds what the server gave every stream, else why
// not. The recorder fails on any unexplained cycle, on any timeline move that the server's
// own recorder does not show at the same place of the music by the same number of frames
// (frames the recorder skipped or repeated) but whole cycles dropped (above), and on more
// cycles damaged in place than the bound above when the server's own recorder shows no
// damage of its own in the run.
inline std::string Judge(const CycleWalk& recorder, const CycleWalk& reference, int64_t nCycle = kCycleFrames)
{
    if (!recorder.strError.empty()) return "recorder: " + recorder.strError;
    if (!reference.strError.empty()) return "server's recorder: " + reference.strError;
    std::string strWhy;
    if (recorder.nUnexplained > 0)
        strWhy += std::to_string(recorder.nUnexplained) + " cycles of the recorder's capture are neither the music " +
                  "nor the server's damage, the first at frame " + std::to_string(recorder.nFirstUnexplained) + "; ";
    for (const Shift& shift : recorder.shifts) {
        if (Witnessed(shift, reference, nCycle) || ServersDrop(shift, nCycle)) continue;
        strWhy += "the recorder's timeline moved by " + std::to_string(shift.nFrames) + " frames at " +
                  std::to_string(static_cast<double>(shift.nSourceFrame) / 48000) +
                  " s of the music, the server's own recorder's did not; ";
    }
    if (recorder.nDamaged > kDamageWithoutWitness && !reference.Troubled())
        strWhy += std::to_string(recorder.nDamaged) +
                  " cycles of the recorder's capture are damaged, none of the server's own recorder's; ";
    return strWhy;
}

// What a run of the recorder beside the server's own recorder came to: why it lost what
// the server gave (empty: it lost nothing of its own doing), and whether the user was told
// of at least as many frames as went missing. Frames missing from the recorder's stream
// alone must be told once they are more than the clock can tell from its wobble (two
// periods).
// A report of lost audio where nothing went missing is noted, not judged: the null sink's
// graph keeps time by a timer, and on a busy machine it falls behind the system clock
// without a cycle counted late (here by 250 ms in three minutes, in steps, while 43 ms of
// music went missing), which the recorder's clock cannot tell from audio that never came.
// Whether the clock reports only what is lost is judged by its own tests and through the
// private PulseAudio.
struct Verdict {
    std::string strWhy;
    std::string strNote;  // reports of lost audio where nothing went missing
    bool bTold = false;
};
inline Verdict JudgeRun(const CycleWalk& recorder, const CycleWalk& reference, int64_t nGraphLate, size_t nBoxes,
                        const std::vector<WaveInLoss>& losses)
{
    Verdict v;
    v.strWhy = Judge(recorder, reference);
    int64_t nMissing = 0;
    int64_t nTold = 0;
    bool bLost = false;
    for (const Shift& shift : recorder.shifts) {
        if (!Witnessed(shift, reference)) nMissing += std::max<int64_t>(shift.nFrames, 0);
        bLost = bLost || shift.nFrames > 0;
    }
    for (const WaveInLoss& loss : losses) nTold += loss.nFrames;
    if (nMissing > 2 * kRecorderPeriod && nTold < nMissing)
        v.strWhy += "the user was told of " + std::to_string(nTold) + " frames lost where " +
                    std::to_string(nMissing) + " went missing; ";
    if (!bLost && nGraphLate == 0 && (nBoxes > 0 || !losses.empty()))
        v.strNote = "the user was told of " + std::to_string(nTold) +
                    " frames lost where none went missing (the graph fell behind the system clock)";
    v.bTold = recorder.nUnexplained == 0 && nBoxes > 0 && nTold >= nMissing;
    return v;
}

// What the graph did, from pw-profiler's log: one line per cycle, whose first column is
// the time since the cycle before (-1 when the cycle started late: more than 1.3 cycles
// after it) and whose fourth is the cycle's length, both in microseconds.
struct GraphProfile {
    int64_t nCycles = 0;
    int64_t nLate = 0;
    int64_t nMinFrames = 0, nMaxFrames = 0;  // shortest and longest cycle, frames at 48 kHz
};

inline GraphProfile ReadProfile(const std::string& strPath)
{
    GraphProfile p;
    std::ifstream in(strPath);
    std::string strLine;
    while (std::getline(in, strLine)) {
        long long n[4] = {};
        if (std::sscanf(strLine.c_str(), "%lld %lld %lld %lld", &n[0], &n[1], &n[2], &n[3]) != 4) continue;
        const int64_t nFrames = (n[3] * 48000 + 500000) / 1000000;
        p.nMinFrames = p.nCycles == 0 ? nFrames : std::min(p.nMinFrames, nFrames);
        p.nMaxFrames = std::max(p.nMaxFrames, nFrames);
        ++p.nCycles;
        if (n[0] < 0) ++p.nLate;
    }
    return p;
}

}  // namespace servercycles
