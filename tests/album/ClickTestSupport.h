#pragma once
// Clicks planted in a clean sound, and the check that a repaired copy of it mended them and
// changed nothing else: for the click repair of the export and of cadenzo-declick.

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace clicktest {

// A click as a scratch on a record makes one: a burst of 6 frames, 0.5 of full scale at
// first, decaying and changing sign, added to one channel of interleaved stereo samples.
inline void PlantClick(std::vector<double>& samples, int64_t nFrame, int nChannel)
{
    for (int i = 0; i < 6; ++i)
        samples[static_cast<size_t>(2 * (nFrame + i) + nChannel)] += (i % 2 ? -0.3 : 0.5) * std::exp(-i / 3.0);
}

// A sound file's samples, interleaved, full scale +-1.0 (integer samples scaled exactly).
inline std::vector<double> Decode(const std::string& strPath, SF_INFO* pInfo = nullptr)
{
    SF_INFO info{};
    SNDFILE* p = sf_open(strPath.c_str(), SFM_READ, &info);
    EXPECT_NE(p, nullptr) << strPath << ": " << sf_strerror(nullptr);
    if (pInfo != nullptr) *pInfo = info;
    if (p == nullptr) return {};
    std::vector<double> v(static_cast<size_t>(info.frames * info.channels));
    sf_readf_double(p, v.data(), info.frames);
    sf_close(p);
    return v;
}

// Compares a repaired copy of stereo sound with what it was made from: a sample that
// fnNearClick(frame, channel) puts away from every click must be the original's to the bit,
// one near a click within fTolerance of the clean sound (before the clicks were planted).
// Frames are counted from nFirst, the copy's first frame in `clean`. Adds to *pChanged the
// samples near the clicks that the repair changed. Stops at the first sample away from the
// clicks that differs (a fatal failure).
inline void ExpectMendedOnlyAtClicks(const std::vector<double>& original, const std::vector<double>& repaired,
                                     const std::vector<double>& clean, int64_t nFirst,
                                     const std::function<bool(int64_t, int)>& fnNearClick, double fTolerance,
                                     int64_t* pChanged = nullptr)
{
    ASSERT_EQ(original.size(), repaired.size());
    for (size_t i = 0; i < repaired.size(); ++i) {
        const int64_t nFrame = nFirst + static_cast<int64_t>(i / 2);
        const int nChannel = static_cast<int>(i % 2);
        if (!fnNearClick(nFrame, nChannel)) {
            ASSERT_EQ(original[i], repaired[i]) << "frame " << nFrame << " channel " << nChannel;
        } else {
            if (pChanged != nullptr) *pChanged += original[i] != repaired[i];
            EXPECT_NEAR(repaired[i], clean[static_cast<size_t>(2 * nFirst) + i], fTolerance) << "frame " << nFrame;
        }
    }
}

}  // namespace clicktest
