#include "album/CueSheet.h"

#include "album/AlbumFiles.h"

#include <libcue.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <fstream>
#include <sstream>

namespace CueSheet {

namespace {

std::string Quoted(const std::string& strText) { return "\"" + Clean(strText) + "\""; }

std::string Text(const char* sz) { return sz == nullptr ? std::string() : std::string(sz); }

// Each song's length in frames, kept in a remark players pass over, so that titles are
// not given to the songs of a later recording made under the same base name.
const char kFramesRem[] = "REM CADENZO_FRAMES";

// File name -> the length its remark gives, from the cue sheet's text.
std::map<std::string, int64_t> FramesOf(const std::string& strText)
{
    std::map<std::string, int64_t> frames;
    std::istringstream in(strText);
    std::string strFile;
    for (std::string strLine; std::getline(in, strLine);) {
        size_t n = strLine.find_first_not_of(" \t");
        if (n == std::string::npos) continue;
        if (strLine.compare(n, 6, "FILE \"") == 0) {
            size_t nEnd = strLine.find('"', n + 6);
            strFile = nEnd == std::string::npos ? std::string() : strLine.substr(n + 6, nEnd - n - 6);
        } else if (strLine.compare(n, sizeof kFramesRem - 1, kFramesRem) == 0 && !strFile.empty()) {
            frames[strFile] = std::atoll(strLine.c_str() + n + sizeof kFramesRem - 1);
        }
    }
    return frames;
}

}  // namespace

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
    if (!layout.info.strYear.empty()) out << "REM DATE " << Quoted(layout.info.strYear) << "\n";
    if (!layout.info.strArtist.empty()) out << "PERFORMER " << Quoted(layout.info.strArtist) << "\n";
    if (!layout.info.strAlbum.empty()) out << "TITLE " << Quoted(layout.info.strAlbum) << "\n";
    for (size_t i = 0; i < layout.songs.size(); ++i) {
        char szTrack[32];
        std::snprintf(szTrack, sizeof szTrack, "%02d", static_cast<int>(i + 1));
        out << "FILE " << Quoted(AlbumFiles::FileName(layout.songs[i].strPath)) << " WAVE\n";
        out << "  TRACK " << szTrack << " AUDIO\n";
        if (!layout.songs[i].strTitle.empty())
            out << "    TITLE " << Quoted(layout.songs[i].strTitle) << "\n";
        if (!layout.info.strArtist.empty())
            out << "    PERFORMER " << Quoted(layout.info.strArtist) << "\n";
        out << "    " << kFramesRem << " " << layout.songs[i].nFrames << "\n";
        out << "    INDEX 01 00:00:00\n";
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
    Cd* pCd = cue_parse_string(text.str().c_str());
    if (pCd == nullptr) {
        *pError = "Cannot read the cue sheet " + strPath + ".";
        return false;
    }
    CAlbumInfo info;
    if (Cdtext* pText = cd_get_cdtext(pCd)) {
        info.strAlbum = Text(cdtext_get(PTI_TITLE, pText));
        info.strArtist = Text(cdtext_get(PTI_PERFORMER, pText));
    }
    if (Rem* pRem = cd_get_rem(pCd)) info.strYear = Text(rem_get(REM_DATE, pRem));
    pLayout->info = info;
    for (CAlbumSong& song : pLayout->songs) song.strTitle.clear();
    const std::map<std::string, int64_t> frames = FramesOf(text.str());
    const int nTracks = cd_get_ntrack(pCd);
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
    cd_delete(pCd);
    return true;
}

}  // namespace CueSheet
