#include "album/CueSheet.h"

#include "album/AlbumFiles.h"

#include <libcue.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <fstream>
#include <sstream>
#include <vector>

namespace CueSheet {

namespace {

// A text in double quotes. A reader takes a backslash before the closing quote as an
// escape and loses the whole sheet: a trailing backslash is left out.
std::string Quoted(const std::string& strText)
{
    std::string str = Clean(strText);
    while (!str.empty() && str.back() == '\\') str.pop_back();
    return "\"" + str + "\"";
}

// How a FILE line names a song file of the cue sheet's own folder so that a reader
// (libcue among them) takes the name whole: in double quotes; bare when the name holds a
// double quote or ends in a backslash (a reader takes no escape inside quotes) but no white
// space, with "./" ahead of a leading quote; empty when it can be neither.
std::string FileField(const std::string& strName)
{
    if (strName.find_first_of("\"\r\n") == std::string::npos && strName.back() != '\\')
        return "\"" + strName + "\"";
    for (unsigned char c : strName)
        if (std::isspace(c)) return {};
    return (strName[0] == '"' || strName[0] == '\'' ? "./" : "") + strName;
}

// The song file a FILE line names (its file name alone), as FileField() wrote it; empty
// for any other line.
std::string FileOfLine(const std::string& strLine)
{
    const size_t n = strLine.find_first_not_of(" \t");
    if (n == std::string::npos || strLine.compare(n, 5, "FILE ") != 0) return {};
    const size_t nStart = strLine.find_first_not_of(" \t", n + 5);
    if (nStart == std::string::npos) return {};
    if (strLine[nStart] == '"') {
        const size_t nEnd = strLine.find('"', nStart + 1);
        return nEnd == std::string::npos ? std::string() : strLine.substr(nStart + 1, nEnd - nStart - 1);
    }
    const size_t nEnd = strLine.find_first_of(" \t", nStart);
    return AlbumFiles::FileName(strLine.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
}

// The quoted value of an album line ("TITLE", "PERFORMER", "REM DATE") of a sheet
// without tracks; empty when there is none.
std::string AlbumValue(const std::string& strText, const std::string& strKey)
{
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);) {
        if (strLine.compare(0, strKey.size() + 2, strKey + " \"") != 0) continue;
        const size_t nEnd = strLine.rfind('"');
        if (nEnd > strKey.size() + 1) return strLine.substr(strKey.size() + 2, nEnd - strKey.size() - 2);
    }
    return {};
}

std::string Text(const char* sz) { return sz == nullptr ? std::string() : std::string(sz); }

// Each song's length in frames, kept in a remark players pass over, so that titles are
// not given to the songs of a later recording made under the same base name.
const char kFramesRem[] = "REM CADENZO_FRAMES";
// The take the titles were given to (TakeMark), so that a new take under the same base
// name starts without them.
const char kTakeRem[] = "REM CADENZO_TAKE";

// Exact titles and songs past the 99 tracks a cue sheet can hold, in remarks other
// players pass over: "REM CADENZO_TITLE <title>" under a track whose TITLE line cannot
// hold its title exactly (one ending in a backslash), and "REM CADENZO_SONG <number>
// <frames> <file> <title>" for each song past 99, every text percent-encoded.
const char kTitleRem[] = "REM CADENZO_TITLE";
const char kSongRem[] = "REM CADENZO_SONG";
const int kMaxTracks = 99;

// What the cue sheet's remarks say beyond libcue: per file name, the exact title; and
// the songs past 99 (file name, frames, title).
struct Remarks {
    std::map<std::string, std::string> titles;
    struct Song {
        std::string strFile;
        int64_t nFrames;
        std::string strTitle;
    };
    std::vector<Song> songs;
};

Remarks RemarksOf(const std::string& strText)
{
    Remarks remarks;
    std::istringstream in(strText);
    std::string strFile;
    for (std::string strLine; std::getline(in, strLine);) {
        size_t n = strLine.find_first_not_of(" \t");
        if (n == std::string::npos) continue;
        std::istringstream words(strLine.substr(n));
        std::string strRem, strKey;
        words >> strRem >> strKey;
        if (strRem == "FILE") {
            strFile = FileOfLine(strLine);
        } else if (strRem == "REM" && strKey == kTitleRem + 4 && !strFile.empty()) {
            std::string strTitle;
            words >> strTitle;
            remarks.titles[strFile] = Decode(strTitle);
        } else if (strRem == "REM" && strKey == kSongRem + 4) {
            Remarks::Song song;
            int nNumber = 0;
            std::string strName, strTitle;
            if (words >> nNumber >> song.nFrames >> strName >> strTitle) {
                song.strFile = Decode(strName);
                song.strTitle = Decode(strTitle);
                remarks.songs.push_back(song);
            }
        }
    }
    return remarks;
}

// The take a cue sheet's text names; empty when none.
std::string TakeOf(const std::string& strText)
{
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);) {
        if (strLine.compare(0, sizeof kTakeRem - 1, kTakeRem) != 0) continue;
        size_t nOpen = strLine.find('"'), nClose = strLine.rfind('"');
        if (nOpen != std::string::npos && nClose > nOpen) return strLine.substr(nOpen + 1, nClose - nOpen - 1);
    }
    return {};
}

// File name -> the length its remark gives, from the cue sheet's text.
std::map<std::string, int64_t> FramesOf(const std::string& strText)
{
    std::map<std::string, int64_t> frames;
    std::istringstream in(strText);
    std::string strFile;
    for (std::string strLine; std::getline(in, strLine);) {
        size_t n = strLine.find_first_not_of(" \t");
        if (n == std::string::npos) continue;
        if (strLine.compare(n, 5, "FILE ") == 0) {
            strFile = FileOfLine(strLine);
        } else if (strLine.compare(n, sizeof kFramesRem - 1, kFramesRem) == 0 && !strFile.empty()) {
            frames[strFile] = std::atoll(strLine.c_str() + n + sizeof kFramesRem - 1);
        }
    }
    return frames;
}

}  // namespace

std::string QuotedText(const std::string& strText) { return Quoted(strText); }
std::string FileLineName(const std::string& strName) { return FileField(strName); }
std::string AlbumLine(const std::string& strText, const std::string& strKey) { return AlbumValue(strText, strKey); }

std::string Encode(const std::string& str)
{
    std::string strOut;
    for (unsigned char c : str) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
            strOut += static_cast<char>(c);
        } else {
            char sz[4];
            std::snprintf(sz, sizeof sz, "%%%02X", c);
            strOut += sz;
        }
    }
    return strOut.empty() ? "%" : strOut;  // "%" alone: the empty text
}

std::string Decode(const std::string& str)
{
    std::string strOut;
    for (size_t i = 0; i < str.size(); ++i) {
        if (str[i] == '%' && i + 2 < str.size() &&
            std::isxdigit(static_cast<unsigned char>(str[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(str[i + 2]))) {
            strOut += static_cast<char>(std::stoi(str.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (str[i] != '%') {
            strOut += str[i];
        }
    }
    return strOut;
}

std::string Clean(const std::string& strText)
{
    std::string str;
    for (char c : strText) {
        if (c == '"') c = '\'';
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        str += c;
    }
    return str;
}

CAlbumInfo Clean(const CAlbumInfo& info)
{
    return {Clean(info.strAlbum), Clean(info.strArtist), Clean(info.strYear)};
}

std::string PathFor(const std::string& strBasePath)
{
    size_t nSlash = strBasePath.find_last_of('/');
    size_t nDot = strBasePath.find_last_of('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash))
        return strBasePath + ".cue";
    return strBasePath.substr(0, nDot) + ".cue";
}

std::string Write(const CAlbumLayout& layout)
{
    std::ostringstream out;
    if (!layout.strTake.empty()) out << kTakeRem << " " << Quoted(layout.strTake) << "\n";
    if (!layout.info.strYear.empty()) out << "REM DATE " << Quoted(layout.info.strYear) << "\n";
    if (!layout.info.strArtist.empty()) out << "PERFORMER " << Quoted(layout.info.strArtist) << "\n";
    if (!layout.info.strAlbum.empty()) out << "TITLE " << Quoted(layout.info.strAlbum) << "\n";
    // Song files whose names no FILE line can hold are kept in remarks only, and the sheet
    // says why.
    size_t nTracks = std::min<size_t>(layout.songs.size(), kMaxTracks);
    for (size_t i = 0; i < nTracks; ++i)
        if (FileField(AlbumFiles::FileName(layout.songs[i].strPath)).empty()) nTracks = 0;
    if (nTracks == 0 && !layout.songs.empty())
        out << "REM COMMENT \"No tracks: the song files' names hold a double quote beside white space, or a "
               "line break, which a cue sheet cannot name. Titles and lengths are in the CADENZO_SONG remarks.\"\n";
    for (size_t i = 0; i < nTracks; ++i) {
        char szTrack[32];
        std::snprintf(szTrack, sizeof szTrack, "%02d", static_cast<int>(i + 1));
        const std::string& strTitle = layout.songs[i].strTitle;
        out << "FILE " << FileField(AlbumFiles::FileName(layout.songs[i].strPath)) << " WAVE\n";
        out << "  TRACK " << szTrack << " AUDIO\n";
        // A quoted text cannot end in a backslash (it would escape the closing quote):
        // other players get the title without it, this album the remark.
        std::string strShown = strTitle;
        while (!strShown.empty() && strShown.back() == '\\') strShown.pop_back();
        if (!strShown.empty()) out << "    TITLE " << Quoted(strShown) << "\n";
        if (!layout.info.strArtist.empty())
            out << "    PERFORMER " << Quoted(layout.info.strArtist) << "\n";
        out << "    " << kFramesRem << " " << layout.songs[i].nFrames << "\n";
        if (strShown != strTitle) out << "    " << kTitleRem << " " << Encode(strTitle) << "\n";
        out << "    INDEX 01 00:00:00\n";
    }
    for (size_t i = nTracks; i < layout.songs.size(); ++i) {
        out << kSongRem << " " << i + 1 << " " << layout.songs[i].nFrames << " "
            << Encode(AlbumFiles::FileName(layout.songs[i].strPath)) << " "
            << Encode(layout.songs[i].strTitle) << "\n";
    }
    return out.str();
}

bool Read(const std::string& strPath, CAlbumLayout* pLayout, std::string* pError)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        *pError = "There is no cue sheet " + strPath + ".";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (!pLayout->strTake.empty() && TakeOf(text.str()) != pLayout->strTake) {
        *pError = "The cue sheet " + strPath + " is of an earlier take.";
        return false;
    }
    // A sheet without tracks (its songs only in remarks) is one a reader cannot parse.
    bool bTracks = false;
    std::istringstream lines(text.str());
    for (std::string strLine; !bTracks && std::getline(lines, strLine);) bTracks = !FileOfLine(strLine).empty();
    Cd* pCd = bTracks ? cue_parse_string(text.str().c_str()) : nullptr;
    if (pCd == nullptr && bTracks) {
        *pError = "Cannot read the cue sheet " + strPath + ".";
        return false;
    }
    CAlbumInfo info;
    if (pCd == nullptr) {
        info = {AlbumValue(text.str(), "TITLE"), AlbumValue(text.str(), "PERFORMER"), AlbumValue(text.str(), "REM DATE")};
    } else {
        if (Cdtext* pText = cd_get_cdtext(pCd)) {
            info.strAlbum = Text(cdtext_get(PTI_TITLE, pText));
            info.strArtist = Text(cdtext_get(PTI_PERFORMER, pText));
        }
        if (Rem* pRem = cd_get_rem(pCd)) info.strYear = Text(rem_get(REM_DATE, pRem));
    }
    pLayout->info = info;
    for (CAlbumSong& song : pLayout->songs) song.strTitle.clear();
    const std::map<std::string, int64_t> frames = FramesOf(text.str());
    const int nTracks = pCd != nullptr ? cd_get_ntrack(pCd) : 0;
    for (int t = 1; t <= nTracks; ++t) {
        Track* pTrack = cd_get_track(pCd, t);
        if (pTrack == nullptr) continue;
        std::string strTitle;
        if (Cdtext* pText = track_get_cdtext(pTrack)) strTitle = Text(cdtext_get(PTI_TITLE, pText));
        std::string strFile = AlbumFiles::FileName(Text(track_get_filename(pTrack)));
        bool bFound = false;
        for (CAlbumSong& song : pLayout->songs) {
            if (AlbumFiles::FileName(song.strPath) == strFile) {
                auto it = frames.find(strFile);
                if (it == frames.end() || it->second == song.nFrames) song.strTitle = strTitle;
                bFound = true;
                break;
            }
        }
        if (!bFound && t <= static_cast<int>(pLayout->songs.size()))
            pLayout->songs[static_cast<size_t>(t - 1)].strTitle = strTitle;
    }
    if (pCd != nullptr) cd_delete(pCd);
    // What the remarks hold exactly: titles with a trailing backslash, songs past 99.
    const Remarks remarks = RemarksOf(text.str());
    for (CAlbumSong& song : pLayout->songs) {
        const std::string strFile = AlbumFiles::FileName(song.strPath);
        auto it = remarks.titles.find(strFile);
        auto itFrames = frames.find(strFile);
        if (it != remarks.titles.end() && (itFrames == frames.end() || itFrames->second == song.nFrames))
            song.strTitle = it->second;
        for (const Remarks::Song& extra : remarks.songs)
            if (extra.strFile == AlbumFiles::FileName(song.strPath) && extra.nFrames == song.nFrames)
                song.strTitle = extra.strTitle;
    }
    return true;
}

}  // namespace CueSheet
