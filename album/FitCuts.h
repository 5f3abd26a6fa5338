#pragma once
// Cuts placed where a track list's durations say the songs end: each at the most
// convincing quiet stretch near the predicted end, one undoable edit per side.

#include "album/Album.h"
#include "album/TrackList.h"

#include <string>
#include <vector>

class CRecord;

namespace FitCuts {

// How far either side of a predicted end a quiet stretch is looked for.
constexpr double kWindowSeconds = 5.0;

// The songs of one side fitted to its tracks: song k ends where the durations of tracks
// 1..k, counted from the side's first sound, predict, moved to the middle of the most
// convincing quiet stretch (longest, then quietest, then earliest) that reaches within
// kWindowSeconds of it, as cadenzo-split --lengths chooses, at least a second after the
// cut before. A predicted end with no quiet within kWindowSeconds is not placed:
// when the side has as many songs as tracks its cut stays where it is, otherwise the side
// cannot be fitted (bComplete false).
struct SidePlan {
    std::vector<int64_t> starts;      // the side's songs, from frame 0 of the side
    std::vector<std::string> titles;  // the tracks' titles
    // What the plan, applied, moves, and the cuts it leaves where they are, one a line.
    std::vector<std::string> notes;
    // The predicted ends no cut could be placed at, one a line.
    std::vector<std::string> unplaced;
    bool bComplete = true;            // every cut has a place
};
SidePlan Plan(const CAlbumLayout& side, const std::vector<CTrackLine>& tracks, const std::string& strSide);

// Fits every side of the record to the list (its side letters, or one list for a record of
// one side) and gives the songs the list's titles. A side is changed only when it can be
// fitted whole; the others are left as they are. *pReport lists, side by side, what moved
// on a side that was changed (first its new number of songs when that changed), and for a side left as it was says so first ("Nothing on
// side A was changed: it has 4 songs, the track list 5, and 1 of the 4 cuts the track list
// asks for could not be placed.") and then the ends that could not be placed. False with
// *pError when nothing can be fitted at all (no durations, sides not named) or an edit
// failed; true when every side was fitted. With nOnlySide, the whole list is for that side
// alone and the other sides are left as they are.
bool Fit(CRecord& record, const CTrackList& list, std::vector<std::string>* pReport, std::string* pError,
         int32_t nOnlySide = -1);

}  // namespace FitCuts
