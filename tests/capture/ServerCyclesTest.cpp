// The judgement of a recording through the sound server, on captures made here: what the
// server may do to a stream (damage cycles in place, drop a cycle of every stream under
// load) passes; what only the recorder can do (skip frames of its own, lose audio without
// telling the user) fails; a report of lost audio where nothing went missing is noted.

#include "ServerCycles.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Samples = std::vector<int16_t>;
constexpr int64_t kC = servercycles::kCycleFrames;

Samples Music() { return servercycles::NoiseAlbum(7, 1, 40.0 * kC / 48000, 0); }

Samples Drop(Samples s, int64_t nAt, int64_t nFrames)
{
    s.erase(s.begin() + 2 * nAt, s.begin() + 2 * (nAt + nFrames));
    return s;
}

Samples Repeat(Samples s, int64_t nAt, int64_t nFrames)
{
    const Samples again(s.begin() + 2 * nAt, s.begin() + 2 * (nAt + nFrames));
    s.insert(s.begin() + 2 * (nAt + nFrames), again.begin(), again.end());
    return s;
}

// Cycle c of s (both channels, or channel ch) becomes cycle c + nFrom of the music, or silence.
Samples Damage(Samples s, int64_t c, int64_t nFrom, int ch = -1, bool bSilence = false)
{
    const Samples music = Music();
    for (int64_t i = 0; i < kC; ++i)
        for (int k = 0; k < 2; ++k)
            if (ch < 0 || ch == k)
                s[static_cast<size_t>(2 * (c * kC + i) + k)] =
                    bSilence ? 0 : music[static_cast<size_t>(2 * ((c + nFrom) * kC + i) + k)];
    return s;
}

TEST(ServerCycles, WhatTheServerDoesToAStreamPasses_WhatOnlyTheRecorderCanDoFails)
{
    const Samples music = Music();
    struct Case {
        const char* name;
        Samples recorder, reference;
        int64_t nTold;        // frames the recorder told the user it lost
        const char* pFault;   // in the verdict's why; nullptr: passes
    };
    const Samples lost = Drop(music, 10 * kC, 2 * kC);
    const Case cases[] = {
        {"whole", music, music, 0, nullptr},
        {"a cycle the graph dropped for every stream, told", Drop(music, 10 * kC, kC), Drop(music, 10 * kC, kC), 2400,
         nullptr},
        {"two cycles the server dropped from the recorder's stream alone, too short to tell", lost, music, 0,
         nullptr},
        {"four cycles, not told", Drop(music, 10 * kC, 4 * kC), music, 2400,
         "told of 2400 frames lost where 8192 went missing"},
        {"two cycles repeated", Repeat(music, 10 * kC, 2 * kC), music, 0, "moved by -4096 frames"},
        {"a period of the recorder's own lost", Drop(music, 10 * kC, 2400), music, 6000, "moved by 2400 frames"},
        {"frames lost inside a cycle", Drop(music, 10 * kC + 1000, kC), music, 6000,
         "neither the music nor the server's damage"},
        {"both channels of the cycle after, then one channel silent in each of the next two",
         Damage(Damage(Damage(Damage(music, 12, 1), 13, 1, 0, true), 13, 1, 1), 14, 0, 1, true),
         Damage(music, 30, 0, 0, true), 0, nullptr},
        {"a cycle dropped, the next two damaged in place", Damage(Damage(Damage(lost, 10, 2, 0, true), 10, 3, 1), 11, 2, 1, true),
         music, 0, nullptr},
        {"the cycle after a drop damaged too", Damage(Drop(music, 10 * kC, kC), 10, 1, 1, true),
         Drop(music, 10 * kC, kC), 0, nullptr},
        {"told of a loss that did not happen: noted, not judged (the graph's clock)", music, music, 2400, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const servercycles::CycleWalk ours = servercycles::WalkCycles(c.recorder, music);
        const servercycles::CycleWalk theirs = servercycles::WalkCycles(c.reference, music);
        std::vector<WaveInLoss> losses;
        if (c.nTold > 0) losses.push_back(WaveInLoss{WaveInLossKind::RingOverrun, 0, c.nTold});
        const servercycles::Verdict v = servercycles::JudgeRun(ours, theirs, 0, losses.size(), losses);
        EXPECT_EQ(v.strNote.empty(), c.nTold == 0 || !ours.shifts.empty()) << v.strNote;
        if (c.pFault)
            EXPECT_NE(v.strWhy.find(c.pFault), std::string::npos) << v.strWhy << "\n" << ours.Summary();
        else
            EXPECT_EQ(v.strWhy, "") << ours.Summary();
    }
}

}  // namespace
