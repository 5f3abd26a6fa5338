#include "album/FitCuts.h"

#include "album/Levels.h"
#include "album/Record.h"
#include "album/Snap.h"
#include "engine/QuietStretches.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace FitCuts {

namespace {

// Sound stands this far above the quietest level of a side's opening before it counts as
// the first sound (the lead-in groove, or digital silence, lies below).
constexpr float kFirstSoundDb = 10.0f;
constexpr double kLeadInSeconds = 30.0;  // how much of a side's opening is looked at

// "m:ss.d" of a frame count.
std::string Clock(int64_t nFrames, int64_t nRate)
{
    const int64_t nTenths = nRate > 0 ? (nFrames * 10 + nRate / 2) / nRate : 0;
    char sz[48];
    std::snprintf(sz, sizeof sz, "%lld:%02lld.%lld", static_cast<long long>(nTenths / 600),
                  static_cast<long long>(nTenths / 10 % 60), static_cast<long long>(nTenths % 10));
    return sz;
}

// The first frame of sound of a layout: the first block clearly above the quietest level
// of its opening; 0 when it opens with sound or cannot be read.
int64_t FirstSound(const CAlbumLayout& layout)
{
    const int64_t nRate = layout.format.nRate, nChannels = layout.format.nChannels;
    const int64_t nCount = std::min<int64_t>(layout.TotalFrames(), static_cast<int64_t>(kLeadInSeconds * nRate));
    if (nCount <= 0 || nChannels <= 0) return 0;
    std::vector<float> samples(static_cast<size_t>(nCount * nChannels));
    CAlbumReader reader(layout);
    if (reader.ReadFloat(0, nCount, samples.data()) != nCount) return 0;
    const int64_t nBlock = Levels::BlockFrames(nRate);
    const std::vector<float> levels = Levels::Of(samples.data(), nCount, nChannels, nBlock);
    if (levels.empty()) return 0;
    const float fFloor = Snap::Floor(levels);
    for (size_t i = 0; i < levels.size(); ++i)
        if (levels[i] > fFloor + kFirstSoundDb) return static_cast<int64_t>(i) * nBlock;
    return 0;
}

// The quiet stretches of a side round frame nAt, in frames of the side: the side is read
// nReach either side of it and as far again, so that a stretch reaching into the nearer
// range is seen whole or for at least nReach. A sample is loud when it stands out of the
// quietest level read as sound does (Snap::QuietPeak); there are none where nothing stands
// clearly above that level. Only the side's own start and end make a stretch leading or
// trailing, not the ends of what was read.
std::vector<QuietStretch> QuietNear(const CAlbumLayout& side, int64_t nAt, int64_t nReach)
{
    const int64_t nTotal = side.TotalFrames(), nChannels = side.format.nChannels;
    const int64_t nFrom = std::clamp<int64_t>(nAt - 2 * nReach, 0, nTotal);
    const int64_t nTo = std::clamp<int64_t>(nAt + 2 * nReach, nFrom, nTotal);
    const int64_t nCount = nTo - nFrom;
    if (nCount <= 0 || nChannels <= 0) return {};
    std::vector<float> samples(static_cast<size_t>(nCount * nChannels));
    CAlbumReader reader(side);
    if (reader.ReadFloat(nFrom, nCount, samples.data()) != nCount) return {};
    const float fPeak = Snap::QuietPeak(Levels::Of(samples.data(), nCount, nChannels,
                                                   Levels::BlockFrames(side.format.nRate)));
    if (!(fPeak > 0.0f)) return {};
    // The stretches judge two channels: each frame's loudest sample (or one that is not a
    // number) on both.
    std::vector<float> pair(static_cast<size_t>(2 * nCount));
    for (int64_t f = 0; f < nCount; ++f) {
        float v = 0.0f;
        for (int64_t c = 0; c < nChannels && !std::isnan(v); ++c) {
            const float x = samples[static_cast<size_t>(f * nChannels + c)];
            if (!(std::fabs(x) <= std::fabs(v))) v = x;
        }
        pair[static_cast<size_t>(2 * f)] = pair[static_cast<size_t>(2 * f + 1)] = v;
    }
    QuietStretchesConfig config;
    config.nRate = side.format.nRate;
    config.nBitsPerSample = 32;
    config.fThreshold = fPeak;
    config.bPassBursts = true;  // record clicks do not end a silence
    CQuietStretches quiet(config);
    const size_t nChunk = size_t{1} << 18;  // floats fed at a time
    for (size_t i = 0; i < pair.size(); i += nChunk)
        quiet.Feed(pair.data() + i, static_cast<int32_t>(std::min(nChunk, pair.size() - i) * sizeof(float)));
    quiet.Finish();
    std::vector<QuietStretch> stretches = quiet.Stretches();
    for (QuietStretch& st : stretches) {
        st.nStart += nFrom;
        st.nFirstSample += 2 * nFrom;
        st.bLeading = st.bLeading && nFrom == 0;
        st.bTrailing = st.bTrailing && nTo == nTotal;
    }
    return stretches;
}

}  // namespace

SidePlan Plan(const CAlbumLayout& side, const std::vector<CTrackLine>& tracks, const std::string& strSide)
{
    SidePlan plan;
    const int64_t nRate = side.format.nRate;
    const int64_t nTotal = side.TotalFrames();
    const int32_t nSongs = static_cast<int32_t>(side.songs.size());
    const int32_t nTracks = static_cast<int32_t>(tracks.size());
    const std::string strName = strSide.empty() ? std::string() : "Side " + strSide + ": ";
    const int64_t nFirst = FirstSound(side);
    const int64_t nWindow = static_cast<int64_t>(kWindowSeconds * static_cast<double>(nRate));
    plan.starts.push_back(0);
    int64_t nSum = 0;
    for (int32_t k = 1; k < nTracks; ++k) {
        nSum += tracks[static_cast<size_t>(k - 1)].nSeconds;
        const int64_t nExpected = nFirst + nSum * nRate;
        // At least a second after the cut before, and a second before the side's end.
        const int64_t nLow = plan.starts.back() + nRate, nHigh = nTotal - nRate;
        const bool bSame = nSongs == nTracks;
        const int64_t nNow = bSame ? side.SongStart(k + 1) : -1;
        // The most convincing silence near the predicted end, cut in its middle.
        int64_t nCut = -1;
        QuietStretch found;
        if (nLow <= nHigh)
            CQuietStretches::CutNear(QuietNear(side, nExpected, nWindow), nExpected, nWindow, nLow, nHigh + 1, 0,
                                     &found, &nCut);
        if (nCut < 0) {
            const std::string strWhere = "the end of song " + std::to_string(k) + " (expected at " +
                                         Clock(nExpected, nRate) + ") has no quiet within " +
                                         std::to_string(static_cast<int>(kWindowSeconds)) + " s";
            if (bSame && nNow > plan.starts.back()) {
                plan.notes.push_back(strName + strWhere + "; cut " + std::to_string(k) + " stays at " +
                                     Clock(nNow, nRate) + ".");
                plan.starts.push_back(nNow);
                continue;
            }
            plan.unplaced.push_back(strName + strWhere + ".");
            plan.bComplete = false;
            nCut = std::clamp(nExpected, nLow, std::max(nLow, nHigh));
        } else if (bSame && nCut != nNow) {
            plan.notes.push_back(strName + "cut " + std::to_string(k) + " moved from " + Clock(nNow, nRate) + " to " +
                                 Clock(nCut, nRate) + ".");
        } else if (!bSame) {
            plan.notes.push_back(strName + "song " + std::to_string(k + 1) + " begins at " + Clock(nCut, nRate) + ".");
        }
        plan.starts.push_back(nCut);
    }
    for (const CTrackLine& track : tracks) plan.titles.push_back(track.strTitle);
    // A plan that ran out of room has no place for every cut.
    for (size_t i = 1; i < plan.starts.size(); ++i)
        if (plan.starts[i] <= plan.starts[i - 1] || plan.starts[i] >= nTotal) plan.bComplete = false;
    return plan;
}

bool Fit(CRecord& record, const CTrackList& list, std::vector<std::string>* pReport, std::string* pError,
         int32_t nOnlySide)
{
    if (list.tracks.empty()) {
        *pError = "The track list has no titles.";
        return false;
    }
    if (!list.HasDurations()) {
        *pError = "The track list does not give every track's duration: the cuts cannot be fitted to it.";
        return false;
    }
    // The tracks of each side: by the list's side letters, in the order it names them.
    std::vector<std::vector<CTrackLine>> sides;
    std::vector<std::string> letters;
    const bool bWhole = nOnlySide < 0;
    for (const CTrackLine& track : list.tracks) {
        const std::string strSide = record.GetSideCount() > 1 && bWhole ? track.strSide : std::string();
        auto it = std::find(letters.begin(), letters.end(), strSide);
        if (it == letters.end()) {
            letters.push_back(strSide);
            sides.emplace_back();
            it = letters.end() - 1;
        }
        sides[static_cast<size_t>(it - letters.begin())].push_back(track);
    }
    if (bWhole && record.GetSideCount() > 1 && (letters.size() != static_cast<size_t>(record.GetSideCount()) || letters[0].empty())) {
        *pError = "The record has " + std::to_string(record.GetSideCount()) + " sides, the track list " +
                  (letters[0].empty() ? std::string("names none") : std::to_string(letters.size())) +
                  ": give each line its side (A1, A2, B1, ...) to fit the cuts side by side.";
        return false;
    }
    bool bAll = true;
    for (int32_t s = bWhole ? 0 : nOnlySide; s < (bWhole ? record.GetSideCount() : nOnlySide + 1); ++s) {
        const std::string strSide = CRecord::SideName(s);
        const CAlbumLayout layout = record.GetSide(s).GetLayout();
        const std::vector<CTrackLine>& tracks = sides[bWhole ? static_cast<size_t>(s) : 0];
        const SidePlan plan = Plan(layout, tracks, strSide);
        const int32_t nSongs = static_cast<int32_t>(layout.songs.size());
        const int32_t nTracks = static_cast<int32_t>(tracks.size());
        if (!plan.bComplete) {
            // A side left as it was: said first, then why, and none of the moves it would
            // have made.
            const std::string strCounts = nSongs == nTracks ? std::string()
                                          : "it has " + std::to_string(nSongs) + (nSongs == 1 ? " song" : " songs") +
                                                ", the track list " + std::to_string(nTracks) + ", and ";
            const std::string strCuts = nTracks == 2 ? std::string("the one cut")
                                        : std::to_string(std::max<size_t>(plan.unplaced.size(), 1)) + " of the " +
                                              std::to_string(nTracks - 1) + " cuts";
            pReport->push_back("Nothing on side " + strSide + " was changed: " + strCounts + strCuts +
                               " the track list asks for could not be placed.");
            pReport->insert(pReport->end(), plan.unplaced.begin(), plan.unplaced.end());
            bAll = false;
            continue;
        }
        if (!record.SetSideSongs(s, plan.starts, plan.titles)) {
            *pError = record.GetErrorText();
            return false;
        }
        if (nSongs != nTracks)
            pReport->push_back("Side " + strSide + " had " + std::to_string(nSongs) + (nSongs == 1 ? " song" : " songs") +
                               "; it has the track list's " + std::to_string(nTracks) + " now.");
        pReport->insert(pReport->end(), plan.notes.begin(), plan.notes.end());
    }
    return bAll;
}

}  // namespace FitCuts
