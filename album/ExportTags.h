#pragma once
// Tags of an exported song in each format's own way: Vorbis comments in FLAC, Ogg Vorbis
// and Opus files, ID3v2.4 in MP3 files. ReplayGain values and the front cover go with them.

#include "album/Loudness.h"

#include <cstdint>
#include <string>

enum class CExportFormat;

// A JPEG or PNG picture, read whole (pictures are small; songs never are).
struct CCover {
    std::string strPath;
    std::string strBytes;
    std::string strMime;       // "image/jpeg" or "image/png"
    std::string strExtension;  // "jpg" or "png"
    int32_t nWidth = 0, nHeight = 0, nDepth = 0;  // pixels and bits a pixel, 0 when unknown
    int32_t nColors = 0;                          // of a palette picture; 0 for others
    bool IsSet() const { return !strBytes.empty(); }
};

struct CSongTags {
    std::string strTitle, strArtist, strAlbumArtist, strAlbum, strDate;
    int32_t nTrack = 0, nTracks = 0;
    int32_t nDisc = 0, nDiscs = 0;  // 0: not set
    bool bReplayGain = false;
    CGain track, album;
    const CCover* pCover = nullptr;
};

namespace ExportTags {

// Replaces the tags of a finished file. False with "Cannot tag PATH." when TagLib cannot.
bool Write(const std::string& strPath, CExportFormat format, const CSongTags& tags, std::string* pError);

// Reads a cover picture. Refuses what is not a JPEG or PNG, or is too large to embed, with
// the reason.
bool LoadCover(const std::string& strPath, CCover* pCover, std::string* pError);

}  // namespace ExportTags
