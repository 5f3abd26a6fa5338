#include "album/ExportTags.h"

#include "album/Export.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// A FLAC picture block's length has 24 bits; keep well inside it.
const int64_t kMaxCoverBytes = 16 * 1000 * 1000;

TagLib::String Utf8(const std::string& str) { return TagLib::String(str, TagLib::String::UTF8); }

TagLib::ByteVector Bytes(const std::string& str)
{
    return TagLib::ByteVector(str.data(), static_cast<unsigned>(str.size()));
}

// Text fields of one song, in Vorbis comment names; empty values are left out.
std::vector<std::pair<const char*, std::string>> Fields(const CSongTags& tags)
{
    std::vector<std::pair<const char*, std::string>> fields = {
        {"TITLE", tags.strTitle},   {"ARTIST", tags.strArtist}, {"ALBUMARTIST", tags.strAlbumArtist},
        {"ALBUM", tags.strAlbum},   {"DATE", tags.strDate},
        {"TRACKNUMBER", tags.nTrack > 0 ? std::to_string(tags.nTrack) : ""},
        {"TRACKTOTAL", tags.nTracks > 0 ? std::to_string(tags.nTracks) : ""},
        {"DISCNUMBER", tags.nDisc > 0 ? std::to_string(tags.nDisc) : ""},
        {"DISCTOTAL", tags.nDiscs > 0 ? std::to_string(tags.nDiscs) : ""}};
    if (tags.bReplayGain) {
        if (tags.track.bMeasured) fields.emplace_back("REPLAYGAIN_TRACK_GAIN", Loudness::GainText(tags.track.fGainDb));
        fields.emplace_back("REPLAYGAIN_TRACK_PEAK", Loudness::PeakText(tags.track.fPeak));
        if (tags.album.bMeasured) fields.emplace_back("REPLAYGAIN_ALBUM_GAIN", Loudness::GainText(tags.album.fGainDb));
        fields.emplace_back("REPLAYGAIN_ALBUM_PEAK", Loudness::PeakText(tags.album.fPeak));
    }
    return fields;
}

TagLib::FLAC::Picture* NewPicture(const CCover& cover)
{
    auto* pPicture = new TagLib::FLAC::Picture;
    pPicture->setType(TagLib::FLAC::Picture::FrontCover);
    pPicture->setMimeType(cover.strMime);
    pPicture->setData(Bytes(cover.strBytes));
    pPicture->setWidth(cover.nWidth);
    pPicture->setHeight(cover.nHeight);
    pPicture->setColorDepth(cover.nDepth);
    pPicture->setNumColors(cover.nColors);
    return pPicture;
}

uint32_t Big(const std::string& b, size_t i, int nBytes)
{
    uint32_t n = 0;
    for (int k = 0; k < nBytes; ++k) n = (n << 8) | static_cast<uint8_t>(b[i + static_cast<size_t>(k)]);
    return n;
}

// The picture's size from its header, for the players that read it from the picture block:
// a PNG's IHDR, or a JPEG's start-of-frame segment. Left 0 where the header says nothing.
void ReadSize(CCover* pCover)
{
    const std::string& b = pCover->strBytes;
    if (pCover->strExtension == "png") {
        if (b.size() < 26 || b.compare(12, 4, "IHDR") != 0) return;
        static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
        const uint8_t nType = static_cast<uint8_t>(b[25]);
        const int nBits = static_cast<uint8_t>(b[24]);
        pCover->nWidth = static_cast<int32_t>(Big(b, 16, 4));
        pCover->nHeight = static_cast<int32_t>(Big(b, 20, 4));
        pCover->nDepth = nType < 7 ? nBits * kChannels[nType] : 0;
        // A palette's pixels are its entries, 8-bit RGB; the picture has 2^bits colours.
        if (nType == 3) {
            pCover->nDepth = 24;
            pCover->nColors = nBits <= 8 ? 1 << nBits : 0;
        }
        return;
    }
    size_t i = 2;  // past the start-of-image marker
    while (i + 4 <= b.size() && static_cast<uint8_t>(b[i]) == 0xFF) {
        const uint8_t nMarker = static_cast<uint8_t>(b[i + 1]);
        if (nMarker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        const bool bFrame = nMarker >= 0xC0 && nMarker <= 0xCF && nMarker != 0xC4 && nMarker != 0xC8 && nMarker != 0xCC;
        if (bFrame) {
            if (i + 10 > b.size()) return;
            pCover->nHeight = static_cast<int32_t>(Big(b, i + 5, 2));
            pCover->nWidth = static_cast<int32_t>(Big(b, i + 7, 2));
            pCover->nDepth = static_cast<uint8_t>(b[i + 4]) * static_cast<uint8_t>(b[i + 9]);
            return;
        }
        i += 2 + Big(b, i + 2, 2);
    }
}

void TagXiph(TagLib::Ogg::XiphComment* pTags, const CSongTags& tags, bool bOpus)
{
    for (const auto& field : Fields(tags)) {
        pTags->removeFields(field.first);
        if (!field.second.empty()) pTags->addField(field.first, Utf8(field.second), true);
    }
    if (bOpus && tags.bReplayGain) {
        pTags->removeFields("R128_TRACK_GAIN");
        pTags->removeFields("R128_ALBUM_GAIN");
        if (tags.track.bMeasured) pTags->addField("R128_TRACK_GAIN", Loudness::R128Text(tags.track.fGainDb));
        if (tags.album.bMeasured) pTags->addField("R128_ALBUM_GAIN", Loudness::R128Text(tags.album.fGainDb));
    }
}

void TagId3(TagLib::ID3v2::Tag* pTag, const CSongTags& tags)
{
    auto text = [&](const char* szId, const std::string& str) {
        pTag->removeFrames(szId);
        if (str.empty()) return;
        auto* pFrame = new TagLib::ID3v2::TextIdentificationFrame(szId, TagLib::String::UTF8);
        pFrame->setText(Utf8(str));
        pTag->addFrame(pFrame);
    };
    auto ofTotal = [](int32_t n, int32_t nTotal) {
        if (n <= 0) return std::string();
        return nTotal > 0 ? std::to_string(n) + "/" + std::to_string(nTotal) : std::to_string(n);
    };
    text("TIT2", tags.strTitle);
    text("TPE1", tags.strArtist);
    text("TPE2", tags.strAlbumArtist);
    text("TALB", tags.strAlbum);
    text("TDRC", tags.strDate);
    text("TRCK", ofTotal(tags.nTrack, tags.nTracks));
    text("TPOS", ofTotal(tags.nDisc, tags.nDiscs));
    for (const auto& field : Fields(tags)) {
        if (std::strncmp(field.first, "REPLAYGAIN_", 11) != 0) continue;
        if (auto* pOld = TagLib::ID3v2::UserTextIdentificationFrame::find(pTag, field.first))
            pTag->removeFrame(pOld);
        pTag->addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(field.first, TagLib::StringList(field.second)));
    }
    pTag->removeFrames("APIC");
    if (tags.pCover != nullptr && tags.pCover->IsSet()) {
        auto* pFrame = new TagLib::ID3v2::AttachedPictureFrame;
        pFrame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        pFrame->setMimeType(tags.pCover->strMime);
        pFrame->setPicture(Bytes(tags.pCover->strBytes));
        pTag->addFrame(pFrame);
    }
}

}  // namespace

namespace ExportTags {

bool Write(const std::string& strPath, CExportFormat format, const CSongTags& tags, std::string* pError)
{
    const bool bCover = tags.pCover != nullptr && tags.pCover->IsSet();
    bool bOk = false;
    switch (format) {
    case CExportFormat::Flac: {
        TagLib::FLAC::File file(strPath.c_str());
        if (!file.isValid()) break;
        TagXiph(file.xiphComment(true), tags, false);
        file.removePictures();
        if (bCover) file.addPicture(NewPicture(*tags.pCover));
        bOk = file.save();
        break;
    }
    case CExportFormat::Ogg:
    case CExportFormat::Opus: {
        std::unique_ptr<TagLib::File> pFile;
        TagLib::Ogg::XiphComment* pTags = nullptr;
        if (format == CExportFormat::Ogg) {
            auto* p = new TagLib::Ogg::Vorbis::File(strPath.c_str());
            pFile.reset(p);
            pTags = p->isValid() ? p->tag() : nullptr;
        } else {
            auto* p = new TagLib::Ogg::Opus::File(strPath.c_str());
            pFile.reset(p);
            pTags = p->isValid() ? p->tag() : nullptr;
        }
        if (pTags == nullptr) break;
        TagXiph(pTags, tags, format == CExportFormat::Opus);
        pTags->removeAllPictures();
        if (bCover) pTags->addPicture(NewPicture(*tags.pCover));
        bOk = pFile->save();
        break;
    }
    case CExportFormat::Mp3:
    case CExportFormat::Mp3Cbr320: {
        TagLib::MPEG::File file(strPath.c_str());
        if (!file.isValid()) break;
        TagId3(file.ID3v2Tag(true), tags);
        bOk = file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4);
        break;
    }
    default:
        return true;  // WAV copies carry no tags
    }
    if (!bOk) *pError = "Cannot tag " + strPath + ".";
    return bOk;
}

bool LoadCover(const std::string& strPath, CCover* pCover, std::string* pError)
{
    *pCover = CCover{};
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0) {
        *pError = "Cannot read " + strPath + ": " + std::strerror(errno) + ".";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *pError = strPath + " is not a JPEG or PNG image: it is not a file.";
        return false;
    }
    if (st.st_size > kMaxCoverBytes) {
        *pError = strPath + " is larger than 16 MB, too large to embed in every song.";
        return false;
    }
    std::ifstream in(strPath, std::ios::binary);
    std::string strBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !in.is_open()) {
        *pError = "Cannot read " + strPath + ".";
        return false;
    }
    static const char kJpeg[] = "\xFF\xD8\xFF";
    static const char kPng[] = "\x89PNG\r\n\x1A\n";
    if (strBytes.compare(0, 3, kJpeg, 3) == 0 && strBytes.size() > 3) {
        pCover->strMime = "image/jpeg";
        pCover->strExtension = "jpg";
    } else if (strBytes.compare(0, 8, kPng, 8) == 0 && strBytes.size() > 8) {
        pCover->strMime = "image/png";
        pCover->strExtension = "png";
    } else {
        *pError = strPath + " is not a JPEG or PNG image.";
        return false;
    }
    pCover->strPath = strPath;
    pCover->strBytes = std::move(strBytes);
    ReadSize(pCover);
    return true;
}

}  // namespace ExportTags
