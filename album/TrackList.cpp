#include "album/TrackList.h"

#include "album/Record.h"

#include "album/Album.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Spaces, and the dashes, dots and colons that stand between a position, a title and a
// duration: "-", the en and em dashes, "." and ":".
size_t SkipSeparators(const std::string& s, size_t i, bool bDots)
{
    for (;;) {
        if (i < s.size() && (IsSpace(s[i]) || s[i] == '-' || (bDots && (s[i] == '.' || s[i] == ')' || s[i] == ':'))))
            ++i;
        else if (s.compare(i, 3, "\xE2\x80\x93") == 0 || s.compare(i, 3, "\xE2\x80\x94") == 0)
            i += 3;
        else if (s.compare(i, 2, "\xC2\xA0") == 0)  // no-break space, common in web pages
            i += 2;
        else
            return i;
    }
}

std::string TrimEnd(std::string s)
{
    for (;;) {
        if (!s.empty() && (IsSpace(s.back()) || s.back() == '-'))
            s.pop_back();
        else if (s.size() >= 3 && (s.compare(s.size() - 3, 3, "\xE2\x80\x93") == 0 ||
                                   s.compare(s.size() - 3, 3, "\xE2\x80\x94") == 0))
            s.resize(s.size() - 3);
        else if (s.size() >= 2 && s.compare(s.size() - 2, 2, "\xC2\xA0") == 0)
            s.resize(s.size() - 2);
        else
            return s;
    }
}

// A leading position: "A1", "b12", "1", "01"; then a dot, bracket or dash or space must
// follow. Returns the index after the position, or 0 when the line has none.
size_t Position(const std::string& s, std::string* pSide, int32_t* pNumber)
{
    size_t i = 0;
    std::string strSide;
    if (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])) && i + 1 < s.size() && IsDigit(s[i + 1]))
        strSide = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i++])));
    size_t nDigits = 0;
    int32_t n = 0;
    while (i < s.size() && IsDigit(s[i]) && nDigits < 4) {
        n = n * 10 + (s[i++] - '0');
        ++nDigits;
    }
    if (nDigits == 0 || nDigits > 3 || i >= s.size()) return 0;
    if (!(IsSpace(s[i]) || s[i] == '.' || s[i] == ')' || s[i] == '-' || static_cast<unsigned char>(s[i]) == 0xE2 ||
          static_cast<unsigned char>(s[i]) == 0xC2))
        return 0;
    if (s[i] == '.' && i + 1 < s.size() && IsDigit(s[i + 1])) return 0;  // "1.5 Degrees"
    *pSide = strSide;
    *pNumber = n;
    return i;
}

// "A1", "12", "3." alone on a line: a position whose title is missing.
bool IsBarePosition(const std::string& s)
{
    size_t i = 0;
    if (!s.empty() && std::isalpha(static_cast<unsigned char>(s[0]))) ++i;
    size_t nDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++nDigits;
    if (i < s.size() && (s[i] == '.' || s[i] == ')')) ++i;
    return nDigits > 0 && nDigits <= 3 && i == s.size();
}

// A trailing duration, bare or in brackets: returns where it starts, or npos.
size_t Duration(const std::string& s, int64_t* pSeconds)
{
    size_t nEnd = s.size();
    bool bBracket = false;
    if (nEnd > 0 && (s[nEnd - 1] == ')' || s[nEnd - 1] == ']')) {
        bBracket = true;
        --nEnd;
    }
    size_t nStart = nEnd;
    while (nStart > 0 && (IsDigit(s[nStart - 1]) || s[nStart - 1] == ':')) --nStart;
    if (bBracket) {
        if (nStart == 0 || (s[nStart - 1] != '(' && s[nStart - 1] != '[')) return std::string::npos;
    }
    const int64_t nSeconds = TrackList::ParseDuration(s.substr(nStart, nEnd - nStart));
    if (nSeconds < 0) return std::string::npos;
    if (bBracket) --nStart;
    // The duration stands apart from the title.
    if (nStart > 0 && !IsSpace(s[nStart - 1]) && s[nStart - 1] != '-' &&
        static_cast<unsigned char>(s[nStart - 1]) < 0x80)
        return std::string::npos;
    *pSeconds = nSeconds;
    return nStart;
}

// "Side A", "SIDE B:", "Side 2 -" name a side; returns it, or an empty text.
std::string SideHeading(const std::string& s)
{
    if (s.size() < 6) return {};
    std::string strLower;
    for (char c : s.substr(0, 5)) strLower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (strLower != "side ") return {};
    size_t i = 5;
    while (i < s.size() && IsSpace(s[i])) ++i;
    std::string strSide;
    while (i < s.size() && std::isalnum(static_cast<unsigned char>(s[i]))) strSide += static_cast<char>(std::toupper(static_cast<unsigned char>(s[i++])));
    if (strSide.empty() || strSide.size() > 2) return {};
    if (SkipSeparators(s, i, true) != s.size()) return {};  // "Side Effects" is a title
    return strSide;
}

}  // namespace

bool CTrackList::HasDurations() const
{
    if (tracks.empty()) return false;
    for (const CTrackLine& track : tracks)
        if (track.nSeconds < 0) return false;
    return true;
}

namespace TrackList {

int64_t ParseDuration(const std::string& str)
{
    std::vector<int64_t> parts;
    std::vector<size_t> widths;
    size_t i = 0;
    while (i <= str.size()) {
        size_t j = i;
        int64_t n = 0;
        while (j < str.size() && IsDigit(str[j]) && j - i < 4) n = n * 10 + (str[j++] - '0');
        if (j == i || (j < str.size() && str[j] != ':')) return -1;
        parts.push_back(n);
        widths.push_back(j - i);
        i = j + 1;
        if (j == str.size()) break;
    }
    if (parts.size() < 2 || parts.size() > 3) return -1;
    // Every part after the first has two digits and stays below 60.
    for (size_t k = 1; k < parts.size(); ++k)
        if (widths[k] != 2 || parts[k] > 59) return -1;
    if (parts.size() == 3 && (widths[0] > 2)) return -1;
    if (parts.size() == 2 && widths[0] > 3) return -1;
    int64_t nSeconds = 0;
    for (int64_t n : parts) nSeconds = nSeconds * 60 + n;
    return nSeconds;
}

CTrackList Parse(const std::string& strText)
{
    CTrackList list;
    std::istringstream in(strText);
    std::string strLine, strSide;
    int32_t nLine = 0;
    bool bFirst = true, bPositions = false;
    while (std::getline(in, strLine)) {
        ++nLine;
        if (nLine == 1 && strLine.compare(0, 3, "\xEF\xBB\xBF") == 0) strLine.erase(0, 3);
        const std::string strRaw = TrimEnd(strLine.substr(SkipSeparators(strLine, 0, false)));
        if (strRaw.empty()) continue;
        const std::string strHeading = SideHeading(strRaw);
        if (!strHeading.empty()) {
            strSide = strHeading;
            continue;
        }
        CTrackLine track;
        track.nLine = nLine;
        track.strSide = strSide;
        std::string s = strRaw;
        std::string strPositionSide;
        int32_t nPosition = 0;
        const size_t nAfter = Position(s, &strPositionSide, &nPosition);
        // A list numbers all its lines or none: a title that starts with a number ("99
        // Balloons") is a title in a list whose first line has no number.
        if (bFirst) bPositions = nAfter > 0 || IsBarePosition(s);
        if (bPositions && IsBarePosition(s)) s.clear();
        if (nAfter > 0 && bPositions) {
            track.nPosition = nPosition;
            if (!strPositionSide.empty()) track.strSide = strPositionSide;
            s = s.substr(SkipSeparators(s, nAfter, true));
        }
        bFirst = false;
        int64_t nSeconds = -1;
        const size_t nDuration = Duration(s, &nSeconds);
        if (nDuration != std::string::npos) {
            track.nSeconds = nSeconds;
            s = TrimEnd(s.substr(0, nDuration));
        }
        if (s.empty()) {
            list.refused.push_back("Line " + std::to_string(nLine) + " has no title: " + strRaw);
            continue;
        }
        track.strTitle = s;
        list.tracks.push_back(track);
    }
    return list;
}

std::string CountMismatch(const std::string& strSide, int32_t nSongs, int32_t nTracks)
{
    return (strSide.empty() ? std::string("The album") : "Side " + strSide) + " has " + std::to_string(nSongs) +
           (nSongs == 1 ? " song" : " songs") + ", the track list " + std::to_string(nTracks) +
           (nSongs < nTracks ? ": split a song, or fit the cuts." : ": join songs, or fit the cuts.");
}

bool SetTitles(CAlbum& album, const CTrackList& list, std::string* pError)
{
    if (list.tracks.empty()) {
        *pError = "The track list has no titles.";
        return false;
    }
    // Name the side when the whole list is one.
    std::string strSide = list.tracks.front().strSide;
    for (const CTrackLine& track : list.tracks)
        if (track.strSide != strSide) strSide.clear();
    const int32_t nTracks = static_cast<int32_t>(list.tracks.size());
    if (nTracks != album.GetSongCount()) {
        *pError = CountMismatch(strSide, album.GetSongCount(), nTracks);
        return false;
    }
    for (int32_t k = 1; k <= nTracks; ++k)
        if (!album.SetTitle(k, list.tracks[static_cast<size_t>(k - 1)].strTitle)) {
            *pError = album.GetErrorText();
            return false;
        }
    return true;
}

bool SetTitles(CRecord& record, const CTrackList& list, std::string* pError)
{
    if (list.tracks.empty()) {
        *pError = "The track list has no titles.";
        return false;
    }
    // The list's sides in the order it names them; one group when it names none.
    std::vector<std::string> letters;
    std::vector<std::vector<std::string>> groups;
    for (const CTrackLine& track : list.tracks) {
        const std::string strSide = record.GetSideCount() > 1 ? track.strSide : std::string();
        if (letters.empty() || letters.back() != strSide) {
            auto it = std::find(letters.begin(), letters.end(), strSide);
            if (it == letters.end()) {
                letters.push_back(strSide);
                groups.emplace_back();
                it = letters.end() - 1;
            }
            groups[static_cast<size_t>(it - letters.begin())].push_back(track.strTitle);
        } else {
            groups.back().push_back(track.strTitle);
        }
    }
    std::vector<std::string> titles;
    const bool bBySide = record.GetSideCount() > 1 && !(letters.size() == 1 && letters[0].empty());
    if (bBySide) {
        if (static_cast<int32_t>(groups.size()) != record.GetSideCount()) {
            *pError = "The record has " + std::to_string(record.GetSideCount()) + " sides, the track list " +
                      std::to_string(groups.size()) + ".";
            return false;
        }
        for (int32_t s = 0; s < record.GetSideCount(); ++s) {
            const int32_t nSongs = record.GetSide(s).GetSongCount();
            const auto& group = groups[static_cast<size_t>(s)];
            if (static_cast<int32_t>(group.size()) != nSongs) {
                *pError = CountMismatch(CRecord::SideName(s), nSongs, static_cast<int32_t>(group.size()));
                return false;
            }
            titles.insert(titles.end(), group.begin(), group.end());
        }
    } else {
        for (const auto& group : groups) titles.insert(titles.end(), group.begin(), group.end());
        if (static_cast<int32_t>(titles.size()) != record.GetSongCount()) {
            // Name the side when the whole list is one.
            std::string strSide = list.tracks.front().strSide;
            for (const CTrackLine& track : list.tracks)
                if (track.strSide != strSide) strSide.clear();
            *pError = CountMismatch(strSide, record.GetSongCount(), static_cast<int32_t>(titles.size()));
            return false;
        }
    }
    for (int32_t k = 1; k <= static_cast<int32_t>(titles.size()); ++k)
        if (!record.SetTitle(k, titles[static_cast<size_t>(k - 1)])) {
            *pError = record.GetErrorText();
            return false;
        }
    return true;
}

}  // namespace TrackList
