// Snap and the export's trim on gaps made of real music: the end of one track, a gap of
// record hiss with clicks and crackle (or digital silence), the start of another; and the
// declicker on minutes of real music. The tracks come decoded from scripts/real-music.sh.

#include "AlbumTestSupport.h"
#include "ClickTestSupport.h"

#include "album/Export.h"
#include "engine/Declicker.h"

#include <algorithm>
#include <cmath>

using namespace albumtest;

namespace {

const int kRate = 44100;

int64_t Frames(double fSeconds) { return static_cast<int64_t>(std::lround(fSeconds * kRate)); }

// Stereo frames of a decoded track: fSeconds from fFrom seconds (negative: before its end).
std::vector<float> Excerpt(int nTrack, double fFrom, double fSeconds)
{
    char szName[32];
    std::snprintf(szName, sizeof szName, "/track%02d.wav", nTrack);
    const std::string strPath = std::string(CADENZO_REAL_MUSIC_DIR) + szName;
    SF_INFO info{};
    SNDFILE* p = sf_open(strPath.c_str(), SFM_READ, &info);
    EXPECT_NE(p, nullptr) << strPath << ": run scripts/real-music.sh";
    if (p == nullptr || info.channels != 2) return {};
    const int64_t nFirst = fFrom < 0 ? info.frames + Frames(fFrom) : Frames(fFrom);
    std::vector<float> samples(static_cast<size_t>(Frames(fSeconds) * 2));
    sf_seek(p, nFirst, SEEK_SET);
    EXPECT_EQ(sf_readf_float(p, samples.data(), Frames(fSeconds)), Frames(fSeconds));
    sf_close(p);
    return samples;
}

std::vector<float> Zeros(double fSeconds) { return std::vector<float>(static_cast<size_t>(Frames(fSeconds) * 2)); }

void Append(std::vector<float>& to, const std::vector<float>& from) { to.insert(to.end(), from.begin(), from.end()); }

// Record surface under a whole side: hiss of the given RMS level and clicks (a 1-ms
// decaying spike on both channels) at random times and peaks; nothing when fHissDb is 0.
std::vector<float> Surface(size_t nSamples, double fHissDb, double fClicksPerSecond, double fClickDb,
                           uint32_t nSeed)
{
    std::vector<float> noise(nSamples);
    if (fHissDb == 0) return noise;
    std::mt19937 rng(nSeed);
    std::normal_distribution<float> hiss(0.0f, static_cast<float>(std::pow(10.0, fHissDb / 20.0)));
    for (float& v : noise) v = hiss(rng);
    std::exponential_distribution<double> wait(fClicksPerSecond > 0 ? fClicksPerSecond : 1.0);
    std::uniform_real_distribution<double> peak(fClickDb, fClickDb + 6.0);
    for (double t = wait(rng); fClicksPerSecond > 0 && t < static_cast<double>(nSamples / 2) / kRate; t += wait(rng)) {
        const float fPeak = static_cast<float>(std::pow(10.0, peak(rng) / 20.0) * (rng() % 2 ? 1 : -1));
        const size_t nAt = static_cast<size_t>(Frames(t)) * 2;
        for (size_t k = 0; k < 44 && nAt + 2 * k + 1 < nSamples; ++k)
            for (size_t c = 0; c < 2; ++c) noise[nAt + 2 * k + c] += fPeak * std::exp(-0.15f * k);
    }
    return noise;
}

// Music and surface together as a one-song album of 16-bit samples.
void WriteSide(const std::string& strPath, const std::vector<float>& music, const std::vector<float>& surface)
{
    std::vector<uint8_t> bytes(music.size() * 2);
    for (size_t i = 0; i < music.size(); ++i) {
        const int16_t v = static_cast<int16_t>(std::clamp(std::lround((music[i] + surface[i]) * 32768.0f), -32768L, 32767L));
        std::memcpy(&bytes[2 * i], &v, 2);
    }
    WriteSong(strPath, bytes, 16);
}

// RMS level in dB of frames [nFirst, nEnd) of a signal, clamped to the signal.
double Level(const std::vector<float>& s, int64_t nFirst, int64_t nEnd)
{
    nFirst = std::max<int64_t>(0, nFirst);
    nEnd = std::min<int64_t>(static_cast<int64_t>(s.size() / 2), nEnd);
    double fSum = 0;
    for (int64_t i = nFirst * 2; i < nEnd * 2; ++i) fSum += static_cast<double>(s[static_cast<size_t>(i)]) * s[static_cast<size_t>(i)];
    return nEnd > nFirst ? 10.0 * std::log10(fSum / static_cast<double>(2 * (nEnd - nFirst)) + 1e-20) : -200.0;
}

}  // namespace

TEST(AlbumRealGaps, Snap_PutsTheCutInTheQuietAndNeverWhereItIsLouder)
{
    struct Case {
        const char* szWhat;
        int nBefore, nAfter;     // the track that fades out, the one that comes in
        double fHissDb;          // 0: digital silence
        double fClicks, fClickDb;  // clicks a second, their lowest peak
        double fGap;             // seconds between the two
        double fStart;           // where the cut is, seconds from the start of the gap
    };
    const Case cases[] = {
        {"cut mid-gap in hiss and clicks stays in the gap", 3, 6, -60, 3, -12, 2.5, 1.25},
        {"cut in a long fade goes to the gap after it", 7, 2, -60, 3, -12, 2.5, -1.0},
        {"cut in a soft intro goes back to the gap", 6, 12, -60, 3, -12, 2.5, 2.8},
        {"cut at the gap's start, dense crackle", 10, 4, -50, 40, -30, 2.5, 0.2},
        {"cut near a fade's end, faint hiss", 9, 11, -66, 3, -12, 2.0, -0.4},
        {"digital silence between a fade and a loud start", 13, 8, 0, 0, 0, 1.0, 0.5},
        {"cut already in the middle of a digital gap", 11, 5, 0, 0, 0, 2.0, 1.0},
    };
    TempFolder dir;
    const double fTail = 5.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        std::vector<float> music = Excerpt(c.nBefore, -fTail, fTail);
        Append(music, Zeros(c.fGap));
        Append(music, Excerpt(c.nAfter, 0, 4.0));
        ASSERT_EQ(music.size(), static_cast<size_t>(Frames(fTail) + Frames(c.fGap) + Frames(4.0)) * 2);
        const std::vector<float> surface = Surface(music.size(), c.fHissDb, c.fClicks, c.fClickDb, 7);
        const std::string strBase = dir / (std::string("S") + std::to_string(&c - cases));
        WriteSide(strBase + "1.wav", music, surface);
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase + ".wav"));

        const int64_t nGapStart = Frames(fTail), nGapEnd = Frames(fTail + c.fGap);
        const int64_t nStart = Frames(fTail + c.fStart);
        const int64_t nGot = album.FindSnap(nStart, 3.0);
        // In the gap, where the music is not heard above the surface (or is silent)...
        EXPECT_GE(nGot, nGapStart - Frames(0.5)) << "cut at " << static_cast<double>(nGot) / kRate;
        EXPECT_LT(nGot, nGapEnd);
        const int64_t nNear = Frames(0.1);
        const double fFloor = c.fHissDb != 0 ? c.fHissDb : -90.0;
        EXPECT_LE(Level(music, nGot - nNear, nGot + nNear), fFloor) << "cut at " << static_cast<double>(nGot) / kRate;
        // ...and never louder than where the cut was (the hiss without its clicks counts;
        // below -90 dB all is silence).
        std::vector<float> heard = music;
        const std::vector<float> hiss = Surface(music.size(), c.fHissDb, 0, 0, 7);
        for (size_t i = 0; i < heard.size(); ++i) heard[i] += hiss[i];
        EXPECT_LE(Level(heard, nGot - nNear, nGot + nNear),
                  std::max(-90.0, Level(heard, nStart - nNear, nStart + nNear) + 1.0));
    }
}

TEST(AlbumRealGaps, Trim_TakesTheQuietDownToHalfASecondAndKeepsWhatStandsAboveTheFloor)
{
    struct Case {
        const char* szWhat;
        double fLead;            // quiet before the music, seconds
        int nFirst;              // track whose start follows
        double fIntroDb;         // its first 4 s brought down to this RMS level; 0: as it is
        int nLast;               // track whose end comes last
        double fTrail;           // quiet after the music
        double fHissDb;          // 0: digital silence
        double fClicks, fClickDb;
    };
    const Case cases[] = {
        {"hiss and clicks at both ends", 1.4, 8, 0, 7, 2.0, -60, 3, -12},
        {"a soft intro after digital silence is kept", 1.0, 2, -56, 3, 3.0, 0, 0, 0},
        {"music from the first frame, crackle on a fade", 0.0, 5, 0, 12, 1.5, -65, 40, -30},
        {"loud hiss, a soft intro after it", 2.0, 6, 0, 13, 2.5, -50, 3, -12},
        {"less quiet than is kept", 0.3, 4, 0, 9, 0.2, -60, 3, -12},
    };
    TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szWhat);
        std::vector<float> music = Zeros(c.fLead);
        std::vector<float> head = Excerpt(c.nFirst, 0, 6.0);
        if (c.fIntroDb != 0) {
            const int64_t nIntro = Frames(4.0);
            const double fGain = std::pow(10.0, (c.fIntroDb - Level(head, 0, nIntro)) / 20.0);
            for (size_t i = 0; i < static_cast<size_t>(nIntro * 2); ++i) head[i] = static_cast<float>(head[i] * fGain);
        }
        Append(music, head);
        Append(music, Excerpt(c.nLast, -5.0, 5.0));
        Append(music, Zeros(c.fTrail));
        const std::string strBase = dir / (std::string("T") + std::to_string(&c - cases));
        WriteSide(strBase + "1.wav", music, Surface(music.size(), c.fHissDb, c.fClicks, c.fClickDb, 9));
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase + ".wav"));
        CExportOptions options;
        options.strFolder = strBase + "-out";
        options.format = CExportFormat::Wav;
        options.bTrim = true;
        CExportJob job;
        ASSERT_TRUE(job.Start(album.GetLayout(), options));
        job.Wait();
        const CExportReport report = job.GetReport();
        ASSERT_EQ(report.strError, "");
        EXPECT_EQ(report.nTrimmedFrames, report.nTrimmedLead + report.nTrimmedTrail);

        // From each end, where the music first stands 3 dB and 9 dB above the floor (in
        // 10-ms blocks): everything quieter than the first goes but half a second,
        // nothing louder than the second goes.
        const double fFloor = c.fHissDb != 0 ? c.fHissDb : -90.0;
        const int64_t nBlock = kRate / 100, nFrames = static_cast<int64_t>(music.size() / 2);
        auto quietFrom = [&](bool bEnd, double fAbove) {
            for (int64_t n = 0; n < nFrames; n += nBlock) {
                const int64_t a = bEnd ? nFrames - n - nBlock : n;
                if (Level(music, a, a + nBlock) > fFloor + fAbove) return n;
            }
            return nFrames;
        };
        const int64_t nKeep = Frames(0.5), nSlack = Frames(0.02);
        for (bool bEnd : {false, true}) {
            SCOPED_TRACE(bEnd ? "trailing" : "leading");
            const int64_t nTrimmed = bEnd ? report.nTrimmedTrail : report.nTrimmedLead;
            EXPECT_GE(nTrimmed, std::max<int64_t>(0, quietFrom(bEnd, 3.0) - nKeep) - nSlack);
            EXPECT_LE(nTrimmed, std::max<int64_t>(0, quietFrom(bEnd, 9.0) - nKeep) + nSlack);
        }
    }
}

// The six minutes the click bench measures (tracks 1, 3, ... 11 from 90 s: loud, rough,
// soft and bass-heavy playing) come out of the declicker at its default level bit for bit,
// fed in blocks that do not divide its step. With a click of 1-3 samples added every
// second on one channel (-24 to -6 dBFS), nothing more than 40 frames from a click changes,
// and all but a few clicks are gone to within a tenth of their size: 29 of the 348 are
// left, where short clicks whose restoring changed a sample a little more than its
// prediction error (the music's own error had the other sign) had left 33.
TEST(AlbumRealClicks, CleanMinutesPassUntouched_ClicksInThemAreRepaired)
{
    // The declicker's output for interleaved stereo, and how many clicks it repaired.
    auto declick = [](const std::vector<float>& in, int64_t* pClicks) {
        CDeclicker declicker(2, kRate);
        std::vector<float> out(in.size());
        size_t nOut = 0;
        for (size_t n = 0; n < in.size() / 2; n += 1000)
            nOut += declicker.Process(in.data() + 2 * n, std::min<size_t>(1000, in.size() / 2 - n), out.data() + 2 * nOut);
        nOut += declicker.Finish(out.data() + 2 * nOut);
        EXPECT_EQ(nOut, in.size() / 2);
        *pClicks = declicker.Clicks();
        return out;
    };
    int nClicks = 0, nLeft = 0;
    for (int nTrack : {1, 3, 5, 7, 9, 11}) {
        SCOPED_TRACE("track " + std::to_string(nTrack));
        const std::vector<float> clean = Excerpt(nTrack, 90.0, 60.0);
        ASSERT_FALSE(clean.empty());
        int64_t nRepaired = 0;
        EXPECT_TRUE(declick(clean, &nRepaired) == clean) << "clean music changed";
        EXPECT_EQ(nRepaired, 0);

        std::vector<float> clicky = clean;
        std::vector<int64_t> clicks;  // sample index of each click's first sample
        std::vector<bool> nearClick(clean.size() / 2, false);  // per frame
        std::mt19937 rng(static_cast<uint32_t>(nTrack));
        for (int64_t nSecond = 1; nSecond < 59; ++nSecond) {
            const int64_t nAt = (Frames(static_cast<double>(nSecond)) + static_cast<int64_t>(rng() % 20000)) * 2 + nSecond % 2;
            const float fPeak = static_cast<float>(std::pow(10.0, (-24.0 + 18.0 * (rng() % 1000) / 1000.0) / 20.0)) *
                                (rng() % 2 ? 1.0f : -1.0f);
            for (int64_t k = 0; k < 1 + nSecond % 3; ++k) clicky[static_cast<size_t>(nAt + 2 * k)] += fPeak * (k == 0 ? 1.0f : 0.6f);
            clicks.push_back(nAt);
            std::fill(nearClick.begin() + nAt / 2 - 40, nearClick.begin() + nAt / 2 + 41, true);
        }
        const std::vector<float> out = declick(clicky, &nRepaired);
        for (int64_t nAt : clicks) {
            const size_t i = static_cast<size_t>(nAt);
            nLeft += !(std::fabs(out[i] - clean[i]) < 0.1f * std::fabs(clicky[i] - clean[i]));
            ++nClicks;
        }
        const std::vector<double> in(clicky.begin(), clicky.end()), repaired(out.begin(), out.end());
        clicktest::ExpectMendedOnlyAtClicks(in, repaired, std::vector<double>(clean.begin(), clean.end()), 0,
                                            [&](int64_t nFrame, int) { return nearClick[static_cast<size_t>(nFrame)]; }, 1.0);
    }
    EXPECT_EQ(nClicks, 348);
    EXPECT_LE(nLeft, 29);
}
