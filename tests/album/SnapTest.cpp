// Snap: a cut goes to the middle of the most convincing silence near it, within the
// bounds the window gives, and stays put where there is none.

#include "AlbumTestSupport.h"

using namespace albumtest;

TEST(AlbumSnap, ACut_GoesToTheMostConvincingSilenceNearIt)
{
    const int64_t nRate = 44100;
    auto at = [&](double f) { return static_cast<int64_t>(f * nRate); };
    std::mt19937 rng(41);
    // Ten seconds of loud noise with a hissy gap at 2.0-2.3 s (-30 dB), a silent one at
    // 4.0-4.5 s and a shorter silent one at 6.0-6.1 s.
    std::uniform_int_distribution<int> loud(8000, 30000), hiss(-1000, 1000);
    std::vector<int16_t> samples(static_cast<size_t>(10 * nRate * 2));
    for (size_t i = 0; i < samples.size(); ++i) {
        int64_t f = static_cast<int64_t>(i / 2);
        if ((f >= at(4.0) && f < at(4.5)) || (f >= at(6.0) && f < at(6.1))) samples[i] = 0;
        else if (f >= at(2.0) && f < at(2.3)) samples[i] = static_cast<int16_t>(hiss(rng));
        else samples[i] = static_cast<int16_t>(loud(rng) * (rng() % 2 ? 1 : -1));
    }
    TempFolder dir;
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    WriteSong(dir / "N1.wav", bytes, 16);
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "N.wav"));

    struct Case {
        const char* szWhat;
        double fFrom, fReach, fLow, fHigh;  // seconds; -1 = no bound
        double fExpected;
    };
    const Case cases[] = {
        {"longer silence wins", 5.0, 3.0, -1, -1, 4.25},
        {"lower bound leaves the shorter one", 5.0, 3.0, 4.6, -1, 6.05},
        {"no silence in reach", 8.5, 1.0, -1, -1, 8.5},
        {"a gap with hiss", 1.0, 1.5, -1, 2.9, 2.15},
    };
    for (const Case& c : cases) {
        int64_t nGot = album.FindSnap(at(c.fFrom), c.fReach, c.fLow < 0 ? -1 : at(c.fLow),
                                      c.fHigh < 0 ? -1 : at(c.fHigh));
        EXPECT_NEAR(static_cast<double>(nGot), static_cast<double>(at(c.fExpected)), 3.0) << c.szWhat;
    }
}
