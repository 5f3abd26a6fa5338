#pragma once
// A track list as people copy it from a record sleeve or a web page, one track a line:
//   "A1 Title 3:45", "1. Title (3:45)", "01 - Title - 3:45", "Title 3:45", "Title"
// with tabs or spaces, side letters or plain numbers, durations optional (M:SS or H:MM:SS).
// "Side A" lines name the side of the lines after them; empty lines are skipped.

class CAlbum;
class CRecord;

#include <cstdint>
#include <string>
#include <vector>

struct CTrackLine {
    int32_t nLine = 0;        // 1-based line of the text
    std::string strSide;      // "A", "B", ... ; empty when the list names no sides
    int32_t nPosition = 0;    // the number printed before the title; 0 when none
    std::string strTitle;
    int64_t nSeconds = -1;    // the duration; -1 when the line has none
};

struct CTrackList {
    std::vector<CTrackLine> tracks;
    std::vector<std::string> refused;  // "Line 3 has no title: 3:45"

    bool HasDurations() const;  // every track has one
};

namespace TrackList {

CTrackList Parse(const std::string& strText);

// "M:SS" or "H:MM:SS" in seconds; -1 for anything else (seconds or minutes past 59 too).
int64_t ParseDuration(const std::string& str);

// What to tell the user when an album side and the list disagree:
// "Side A has 4 songs, the track list 5: split a song, or fit the cuts." ("join songs" when
// the side has more).
std::string CountMismatch(const std::string& strSide, int32_t nSongs, int32_t nTracks);

// Gives the album's songs the list's titles in order. Changes nothing and says why
// (CountMismatch, or the album's error) when it cannot give every song its title.
bool SetTitles(CAlbum& album, const CTrackList& list, std::string* pError);
// The same for a record: a list that names sides ("A1", "B1" or "Side B" lines) gives each
// side the titles of its letter, the list's first letter to the first side and so on; a
// list without sides runs across the record. Changes nothing when a side's count differs.
bool SetTitles(CRecord& record, const CTrackList& list, std::string* pError);

}  // namespace TrackList
