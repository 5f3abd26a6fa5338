#include "album/Export.h"

#include "album/AlbumFiles.h"
#include "album/Encoder.h"
#include "album/ExportTags.h"
#include "album/Levels.h"
#include "album/Record.h"
#include "album/Repair.h"
#include "capture/WaveFile.h"

#include <sndfile.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace {

const int64_t kChunkFrames = 64 * 1024;
const char kTempSuffix[] = ".cadenzo-part";

// A lead-in or lead-out louder than this is music that starts or ends at once: nothing
// of it is trimmed.
constexpr float kTrimFloorMaxDb = -40.0f;
// The noise floor of a lead-in or lead-out is measured in its first (last) tenth of a second.
constexpr double kTrimFloorSeconds = 0.1;

// The frames of [nFirst, nEnd) from its start (bFromEnd false) or its end before the sound
// begins: the blocks whose click-free level stays within Levels::kAboveFloorDb of the noise
// floor measured at that end. None when the floor there is louder than kTrimFloorMaxDb.
// -1 when the range cannot be read.
int64_t QuietFrames(CAlbumReader& reader, int64_t nFirst, int64_t nEnd, bool bFromEnd,
                    const std::atomic<bool>& bCancel)
{
    const int64_t nChannels = reader.GetLayout().format.nChannels;
    const int64_t nBlock = Levels::BlockFrames(reader.GetLayout().format.nRate);
    const int64_t nChunk = std::max<int64_t>(1, kChunkFrames / nBlock) * nBlock;
    const size_t nFloorBlocks = static_cast<size_t>(
        std::max<int64_t>(1, static_cast<int64_t>(kTrimFloorSeconds / Levels::kBlockSeconds + 0.5)));
    const size_t nAhead = Levels::kMedianBlocks / 2;  // blocks a click-free level waits for
    std::vector<float> buffer(static_cast<size_t>(nChunk * nChannels));
    std::vector<float> raw;  // levels of the blocks in the order they are scanned
    float fQuiet = 0.0f;
    size_t nNext = 0;        // next block to judge
    int64_t nRead = 0;
    const int64_t nLength = nEnd - nFirst;
    while (!bCancel) {
        const bool bAll = nRead >= nLength;
        if (!bAll) {
            const int64_t nWant = std::min(nChunk, nLength - nRead);
            const int64_t nAt = bFromEnd ? nEnd - nRead - nWant : nFirst + nRead;
            if (reader.ReadFloat(nAt, nWant, buffer.data()) != nWant) return -1;
            // Blocks are counted from the end being scanned.
            for (int64_t f = 0; f < nWant; f += nBlock) {
                const int64_t n = std::min(nBlock, nWant - f);
                const int64_t nFrom = bFromEnd ? nWant - f - n : f;
                raw.push_back(Levels::BlockLevel(buffer.data() + nFrom * nChannels, n, nChannels));
            }
            nRead += nWant;
        }
        const size_t nReady = bAll ? raw.size() : (raw.size() > nAhead ? raw.size() - nAhead : 0);
        if (nNext == 0) {
            if (nReady < std::min(nFloorBlocks, raw.size())) continue;
            float fFloor = Levels::kSilentDb + 200.0f;
            for (size_t i = 0; i < std::min(nFloorBlocks, raw.size()); ++i)
                fFloor = std::min(fFloor, Levels::ClickFree(raw, i));
            if (fFloor > kTrimFloorMaxDb) return 0;
            fQuiet = std::max(fFloor, Levels::kStepDb) + Levels::kAboveFloorDb;
        }
        for (; nNext < nReady; ++nNext)
            if (Levels::ClickFree(raw, nNext) > fQuiet) return std::min(nLength, static_cast<int64_t>(nNext) * nBlock);
        if (bAll) return nLength;
    }
    return 0;
}

std::string SafeName(const std::string& strName);

// The file each song is exported to.
std::vector<std::string> FinalNames(const CAlbumLayout& layout, const CExportOptions& options)
{
    std::vector<std::string> finals;
    for (size_t i = 0; i < layout.songs.size(); ++i) {
        const CAlbumSong& song = layout.songs[i];
        std::string strStem = AlbumFiles::FileName(song.strPath);
        strStem = strStem.substr(0, strStem.find_last_of('.'));
        std::string strName = CExportJob::FileName(static_cast<int32_t>(i + 1), song.strTitle, strStem,
                                                   options.format);
        // A record numbered as its sleeve is: "A1 Title.flac" in place of "01 Title.flac".
        if (!song.strPlace.empty()) strName = SafeName(song.strPlace) + strName.substr(strName.find_first_not_of("0123456789"));
        finals.push_back((fs::path(options.strFolder) / strName).string());
    }
    return finals;
}

// True when strPath is a song file of a recording: one of the album's own, or "BASEn.wav"
// beside BASE1.wav and either BASE2.wav or BASE.cue (an earlier export's "01 Side A1.wav"
// has neither).
bool IsRecordingSong(const std::string& strPath, const CAlbumLayout& layout)
{
    struct stat st, song;
    if (::stat(strPath.c_str(), &st) != 0) return false;
    for (const CAlbumSong& s : layout.songs)
        if (::stat(s.strPath.c_str(), &song) == 0 && song.st_dev == st.st_dev && song.st_ino == st.st_ino)
            return true;
    const size_t nDot = strPath.size() >= 4 ? strPath.size() - 4 : 0;
    if (strPath.size() < 5 || strPath.compare(nDot, 4, ".wav") != 0) return false;
    size_t nDigits = nDot;
    while (nDigits > 0 && std::isdigit(static_cast<unsigned char>(strPath[nDigits - 1]))) --nDigits;
    if (nDigits == nDot || strPath[nDigits] == '0' || (nDigits > 0 && strPath[nDigits - 1] == '/'))
        return false;
    const std::string strPrefix = strPath.substr(0, nDigits);
    return ::stat((strPrefix + "1.wav").c_str(), &st) == 0 &&
           (::stat((strPrefix + "2.wav").c_str(), &st) == 0 || ::stat((strPrefix + ".cue").c_str(), &st) == 0);
}

bool IsUtf8(const std::string& str)
{
    for (size_t i = 0; i < str.size();) {
        const unsigned char c = static_cast<unsigned char>(str[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > str.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(str[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::string Latin1ToUtf8(const std::string& str)
{
    std::string strOut;
    for (unsigned char c : str) {
        if (c < 0x80) {
            strOut += static_cast<char>(c);
        } else {
            strOut += static_cast<char>(0xC0 | (c >> 6));
            strOut += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return strOut;
}

// Writes the repaired samples (those marked) over their bytes in the recording's format,
// little-endian as WAV keeps them; the others keep their bytes.
void PatchRepaired(const CAlbumFormat& format, const float* pSamples, const uint8_t* pMarks, int64_t nSamples,
                   uint8_t* pBytes)
{
    const int nBytes = format.nBits / 8;
    const double fScale = std::ldexp(1.0, format.nBits - 1);
    for (int64_t i = 0; i < nSamples; ++i) {
        if (!pMarks[i]) continue;
        uint8_t* p = pBytes + i * nBytes;
        if (format.bFloat && nBytes == 4) {
            std::memcpy(p, &pSamples[i], 4);
        } else if (format.bFloat) {
            const double f = pSamples[i];
            std::memcpy(p, &f, sizeof f);
        } else {
            const double v = std::clamp(std::nearbyint(pSamples[i] * fScale), -fScale, fScale - 1.0);
            // 8-bit WAV samples are unsigned, wider ones two's complement.
            const uint32_t n = nBytes == 1 ? static_cast<uint32_t>(static_cast<int32_t>(v) + 128)
                                           : static_cast<uint32_t>(static_cast<int32_t>(v));
            for (int b = 0; b < nBytes; ++b) p[b] = static_cast<uint8_t>(n >> (8 * b));
        }
    }
}

}  // namespace

struct CExportJob::Impl {
    std::thread thread;
    std::atomic<bool> bRunning{false};
    std::atomic<bool> bCancel{false};
    std::atomic<double> fProgress{0.0};
    mutable std::mutex mutex;  // guards report
    CExportReport report;
    CCover cover;          // set by Start, read by the export's thread
    CReplayGain gain;      // set once every song is measured, before the first is tagged
    bool bGain = false;
    // Waits until the gains are measured (while the songs are encoded) and sets them; false,
    // with the reason, when they could not be. Empty: nothing to wait for.
    std::function<bool(std::string*)> fnGainReady;

    CSongTags SongTags(const CAlbumLayout& layout, const CExportOptions& options, int32_t nSong) const;
    bool TagSong(const std::string& strTemp, CExportFormat format, const CAlbumLayout& layout,
                 const CExportOptions& options, int32_t nSong, std::string* pError);
    bool WriteLossy(CRepairStream& stream, const CAlbumFormat& format, const CExportOptions& options,
                    int64_t nEnd, const std::string& strTemp, const std::function<void(int64_t)>& fnFrames,
                    std::string* pError, int64_t* pClamped);
    bool WriteCover(const std::string& strFolder, std::string* pError);

    void Run(CAlbumLayout layout, CExportOptions options, std::function<void()> fnProgress);
    bool WriteSong(CAlbumReader& reader, CRepairStream& stream, const CAlbumLayout& layout,
                   const CExportOptions& options, int32_t nSong, int64_t nFirst, int64_t nEnd,
                   const std::string& strTemp,
                   const std::string& strFinal, std::function<void(int64_t)> fnFrames,
                   std::string* pError, int64_t* pClamped, int32_t* pConverted);
    bool CheckSongs(const CAlbumLayout& layout, std::string* pError);
};

CSongTags CExportJob::Impl::SongTags(const CAlbumLayout& layout, const CExportOptions& options,
                                     int32_t nSong) const
{
    // Tags are UTF-8: a text that is not is read as Latin-1 (see WriteSong).
    auto utf8 = [](const std::string& str) { return IsUtf8(str) ? str : Latin1ToUtf8(str); };
    CSongTags tags;
    tags.strTitle = utf8(layout.songs[static_cast<size_t>(nSong - 1)].strTitle);
    tags.strArtist = utf8(options.info.strArtist);
    tags.strAlbumArtist = utf8(options.info.strArtist);
    tags.strAlbum = utf8(options.info.strAlbum);
    tags.strDate = utf8(options.info.strYear);
    tags.nTrack = nSong;
    tags.nTracks = static_cast<int32_t>(layout.songs.size());
    tags.nDisc = layout.songs[static_cast<size_t>(nSong - 1)].nDisc;
    tags.nDiscs = tags.nDisc > 0 ? layout.nDiscs : 0;
    tags.bReplayGain = bGain;
    if (bGain) {
        tags.track = gain.tracks[static_cast<size_t>(nSong - 1)];
        tags.album = gain.album;
    }
    tags.pCover = &cover;
    return tags;
}

bool CExportJob::Impl::TagSong(const std::string& strTemp, CExportFormat format, const CAlbumLayout& layout,
                               const CExportOptions& options, int32_t nSong, std::string* pError)
{
    if (fnGainReady && !fnGainReady(pError)) return false;
    return ExportTags::Write(strTemp, format, SongTags(layout, options, nSong), pError);
}

bool CExportJob::Impl::WriteLossy(CRepairStream& stream, const CAlbumFormat& format,
                                  const CExportOptions& options, int64_t nEnd, const std::string& strTemp,
                                  const std::function<void(int64_t)>& fnFrames, std::string* pError,
                                  int64_t* pClamped)
{
    CLossyEncoder encoder;
    if (!encoder.Open(strTemp, options.format, format.nChannels, format.nRate, pError)) return false;
    std::vector<float> in(static_cast<size_t>(kChunkFrames * format.nChannels));
    bool bOk = true;
    while (bOk && stream.GetPosition() < nEnd && !bCancel) {
        const int64_t nGot = stream.Read(in.data(), kChunkFrames);
        if (nGot <= 0) {
            *pError = stream.GetErrorText();
            return false;
        }
        bOk = encoder.Write(in.data(), nGot, pError);
        fnFrames(nGot);
    }
    std::string strCloseError;
    if (!encoder.Close(&strCloseError) && bOk) {
        *pError = strCloseError;
        bOk = false;
    }
    *pClamped += encoder.GetClamped();
    return bOk;
}

bool CExportJob::Impl::WriteCover(const std::string& strFolder, std::string* pError)
{
    const std::string strFinal = (fs::path(strFolder) / ("cover." + cover.strExtension)).string();
    const std::string strTemp = (fs::path(strFolder) / (".cover." + cover.strExtension + kTempSuffix)).string();
    int fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool bOk = fd >= 0;
    for (size_t nDone = 0; bOk && nDone < cover.strBytes.size();) {
        ssize_t n = ::write(fd, cover.strBytes.data() + nDone, cover.strBytes.size() - nDone);
        if (n < 0 && errno == EINTR) continue;
        bOk = n > 0;
        if (bOk) nDone += static_cast<size_t>(n);
    }
    if (bOk) bOk = ::fsync(fd) == 0;
    int nErrno = errno;
    if (fd >= 0 && ::close(fd) != 0 && bOk) {
        bOk = false;
        nErrno = errno;
    }
    if (bOk && ::rename(strTemp.c_str(), strFinal.c_str()) != 0) {
        bOk = false;
        nErrno = errno;
    }
    if (!bOk) {
        ::unlink(strTemp.c_str());
        *pError = "Cannot write " + strFinal + ": " + std::strerror(nErrno ? nErrno : EIO) + ".";
    }
    return bOk;
}

bool CExportJob::Impl::WriteSong(CAlbumReader& reader, CRepairStream& stream, const CAlbumLayout& layout,
                                 const CExportOptions& options, int32_t nSong, int64_t nFirst,
                                 int64_t nEnd, const std::string& strTemp,
                                 const std::string& strFinal,
                                 std::function<void(int64_t)> fnFrames, std::string* pError,
                                 int64_t* pClamped, int32_t* pConverted)
{
    const CAlbumFormat& format = layout.format;
    const int64_t nChannels = format.nChannels;
    if (CLossyEncoder::IsLossy(options.format)) {
        return WriteLossy(stream, format, options, nEnd, strTemp, fnFrames, pError, pClamped);
    }
    if (options.format == CExportFormat::Wav) {
        // The recording's own bytes, through the recorder's writer; with repair, the
        // restored samples written over theirs.
        CWaveFile writer;
        writer.SetFileName(strTemp.c_str());
        errno = 0;
        writer.Create();
        int nErrno = errno;
        if (!writer.HasError())
            writer.WriteHeader(static_cast<int16_t>(format.nBits), format.nRate,
                               static_cast<int16_t>(nChannels), 1024 * 1024);
        std::vector<uint8_t> bytes(static_cast<size_t>(kChunkFrames * format.BytesPerFrame()));
        std::vector<float> repaired(options.bDeclick ? static_cast<size_t>(kChunkFrames * nChannels) : 0);
        std::vector<uint8_t> marks(repaired.size());
        for (int64_t nAt = nFirst; !writer.HasError() && nAt < nEnd && !bCancel;) {
            int64_t nWant = std::min(kChunkFrames, nEnd - nAt);
            if (options.bDeclick) {
                nWant = stream.Read(repaired.data(), nWant, marks.data());
                if (nWant <= 0) {
                    *pError = stream.GetErrorText();
                    return false;
                }
            }
            if (reader.ReadRaw(nAt, nWant, bytes.data()) != nWant) {
                *pError = reader.GetErrorText();
                return false;
            }
            if (options.bDeclick) PatchRepaired(format, repaired.data(), marks.data(), nWant * nChannels, bytes.data());
            errno = 0;
            writer.Write(bytes.data(), static_cast<int32_t>(nWant * format.BytesPerFrame()));
            nErrno = errno;
            nAt += nWant;
            fnFrames(nWant);
        }
        if (!writer.HasError()) {
            errno = 0;
            writer.Close();
            nErrno = errno;
        }
        if (writer.HasError()) {
            *pError = std::string("Cannot write ") + strFinal + ": " + std::strerror(nErrno ? nErrno : EIO) + ".";
            return false;
        }
        return true;
    }

    // FLAC: integer recordings keep their width, float ones become 24-bit.
    const int32_t nOutBits = format.bFloat ? 24 : format.nBits;
    SF_INFO info{};
    info.samplerate = format.nRate;
    info.channels = format.nChannels;
    info.format = SF_FORMAT_FLAC | (nOutBits == 8 ? SF_FORMAT_PCM_S8
                                    : nOutBits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    SNDFILE* pOut = sf_open(strTemp.c_str(), SFM_WRITE, &info);
    if (pOut == nullptr) {
        *pError = std::string("Cannot write ") + strFinal + ": " + AlbumFiles::Reason(sf_strerror(nullptr)) + ".";
        return false;
    }
    const CAlbumSong& song = layout.songs[static_cast<size_t>(nSong - 1)];
    const std::string strNumber = std::to_string(nSong);
    // Vorbis comments are UTF-8: a text that is not (a name typed in Latin-1, as such
    // names usually are) is converted from Latin-1 and counted, never dropped.
    auto setTag = [&](int nTag, const std::string& strText) {
        if (strText.empty()) return;
        std::string strUtf8 = strText;
        if (!IsUtf8(strText)) {
            strUtf8 = Latin1ToUtf8(strText);
            ++*pConverted;
        }
        sf_set_string(pOut, nTag, strUtf8.c_str());
    };
    setTag(SF_STR_TITLE, song.strTitle);
    setTag(SF_STR_ARTIST, options.info.strArtist);
    setTag(SF_STR_ALBUM, options.info.strAlbum);
    setTag(SF_STR_DATE, options.info.strYear);
    sf_set_string(pOut, SF_STR_TRACKNUMBER, strNumber.c_str());

    const double fScale = std::ldexp(1.0, nOutBits - 1);  // full scale in output units
    const int nShift = 32 - nOutBits;                      // libsndfile's ints are left-justified
    std::vector<float> in(static_cast<size_t>(kChunkFrames * nChannels));
    std::vector<int> out(in.size());
    bool bOk = true;
    while (bOk && stream.GetPosition() < nEnd && !bCancel) {
        const int64_t nWant = stream.Read(in.data(), kChunkFrames);
        if (nWant <= 0) {
            *pError = stream.GetErrorText();
            bOk = false;
            break;
        }
        for (size_t i = 0; i < static_cast<size_t>(nWant * nChannels); ++i) {
            double v = std::nearbyint(static_cast<double>(in[i]) * fScale);
            if (v > fScale - 1.0 || v < -fScale || std::isnan(v)) {
                if (in[i] > 1.0f || in[i] < -1.0f) ++*pClamped;
                v = std::isnan(v) ? 0.0 : std::clamp(v, -fScale, fScale - 1.0);
            }
            out[i] = static_cast<int>(static_cast<uint32_t>(static_cast<int32_t>(v)) << nShift);
        }
        if (sf_writef_int(pOut, out.data(), nWant) != nWant) {
            *pError = std::string("Cannot write ") + strFinal + ": " + AlbumFiles::Reason(sf_strerror(pOut)) + ".";
            bOk = false;
        }
        fnFrames(nWant);
    }
    if (sf_close(pOut) != 0 && bOk) {
        *pError = std::string("Cannot write ") + strFinal + ".";
        bOk = false;
    }
    // TRACKTOTAL, ALBUMARTIST, the gains and the cover are not among libsndfile's strings:
    // TagSong adds them.
    return bOk;
}

// Every song file is the one the layout was read from and none is being recorded. The
// caller holds the folder's lock shared, so no edit can change them until it is done.
bool CExportJob::Impl::CheckSongs(const CAlbumLayout& layout, std::string* pError)
{
    for (size_t i = 0; i < layout.songs.size(); ++i) {
        const std::string& strPath = layout.songs[i].strPath;
        struct stat st;
        int fd = AlbumFiles::OpenSongFile(strPath, &st, pError);
        if (fd < 0) return false;
        ::close(fd);
        if (i < layout.stamps.size() && !layout.stamps[i].empty() &&
            AlbumFiles::Stamp(st) != layout.stamps[i]) {
            *pError = strPath + " has changed since the album was opened: open it again.";
            return false;
        }
        if (AlbumFiles::IsLockedForRecording(strPath)) {
            *pError = strPath + " is being recorded: it cannot be exported until the recording stops.";
            return false;
        }
    }
    return true;
}

void CExportJob::Impl::Run(CAlbumLayout layout, CExportOptions options,
                           std::function<void()> fnProgress)
{
    CExportReport result;
    // Shared: other exports may read beside this one, edits wait until it is done.
    AlbumFiles::FolderLock lock(layout.strBasePath, false, &bCancel);
    std::string strCheck;
    if (!bCancel && !CheckSongs(layout, &strCheck)) {
        std::lock_guard<std::mutex> guard(mutex);
        result.strError = strCheck;
        report = result;
        bRunning = false;
        if (fnProgress) fnProgress();
        return;
    }
    CAlbumReader reader(layout);
    const int32_t nSongs = static_cast<int32_t>(layout.songs.size());
    const int64_t nTotal = layout.TotalFrames();
    // Per song: the frames the trim leaves out at its start and at its end.
    std::vector<int64_t> cutHead(static_cast<size_t>(nSongs) + 2, 0), cutTail(cutHead.size(), 0);
    if (options.bTrim) {
        // The quiet before the first song's sound and after the last song's, down to half a
        // second each, on every side of a record: each has its needle drop and its lift.
        std::vector<int32_t> firsts = layout.sideFirsts;
        if (firsts.empty()) firsts.push_back(1);
        const int64_t nKeep = layout.format.nRate / 2;
        for (size_t s = 0; s < firsts.size(); ++s) {
            const int32_t kFirst = firsts[s];
            const int32_t kLast = s + 1 < firsts.size() ? firsts[s + 1] - 1 : nSongs;
            int64_t nLead = 0, nTrail = 0;
            int64_t nQuiet = QuietFrames(reader, layout.SongStart(kFirst), layout.SongStart(kFirst + 1), false, bCancel);
            if (nQuiet > nKeep) nLead = nQuiet - nKeep;
            nQuiet = QuietFrames(reader, layout.SongStart(kLast), layout.SongStart(kLast + 1), true, bCancel);
            if (nQuiet > nKeep) nTrail = nQuiet - nKeep;
            // A side of one song, all quiet: half a second of it.
            if (kFirst == kLast && nLead + nTrail >= layout.songs[static_cast<size_t>(kFirst - 1)].nFrames) nTrail = 0;
            cutHead[static_cast<size_t>(kFirst)] = nLead;
            cutTail[static_cast<size_t>(kLast)] = nTrail;
            result.sideLeads.push_back(nLead);
            result.sideTrails.push_back(nTrail);
            result.nTrimmedFrames += nLead + nTrail;
        }
        result.nTrimmedLead = cutHead[1];
        result.nTrimmedTrail = cutTail[static_cast<size_t>(nSongs)];
    }
    // With ReplayGain the songs are read twice: measured, and written. WAV copies carry no tags.
    const bool bMeasure = options.bReplayGain && options.format != CExportFormat::Wav;
    const int64_t nToWrite = std::max<int64_t>(1, (nTotal - result.nTrimmedFrames) * (bMeasure ? 2 : 1));
    int64_t nWritten = 0;
    std::atomic<int64_t> nMeasured{0};     // by the measuring thread
    std::atomic<bool> bStopMeasuring{false};
    int nLastPercent = -1;
    auto onFrames = [&](int64_t n) {
        if (bCancel) bStopMeasuring = true;
        nWritten += n;
        fProgress = static_cast<double>(nWritten + nMeasured) / static_cast<double>(nToWrite);
        int nPercent = static_cast<int>(fProgress * 100.0);
        if (nPercent != nLastPercent) {
            nLastPercent = nPercent;
            if (fnProgress) fnProgress();
        }
    };

    // Each song's file and the hidden name it is written under first. Parts an earlier
    // export of these songs left when it was killed go first. Files in the way are
    // replaced only when asked, and a recording's songs never.
    const std::vector<std::string> finals = FinalNames(layout, options);
    std::vector<std::string> temps;
    for (const std::string& strFinal : finals) {
        temps.push_back((fs::path(options.strFolder) /
                         ("." + fs::path(strFinal).filename().string() + kTempSuffix))
                            .string());
        ::unlink(temps.back().c_str());
        struct stat st;
        if (!result.strError.empty() || ::lstat(strFinal.c_str(), &st) != 0) continue;
        if (IsRecordingSong(strFinal, layout))
            result.strError = strFinal + " is a song of a recording: an export never writes over it. "
                                         "Export to another folder.";
        else if (!options.bOverwrite)
            result.strError = strFinal + " exists already. Nothing was exported.";
    }
    if (!result.strError.empty()) {
        std::lock_guard<std::mutex> guard(mutex);
        report = result;
        bRunning = false;
        if (fnProgress) fnProgress();
        return;
    }
    result.strFolder = options.strFolder;
    bGain = false;
    // The gains are measured on a thread of their own, with a reader of its own, while the
    // songs are encoded: the measuring and the encoding each keep a core busy. A song is
    // tagged, and gets its name, once every song is measured (the album's gain needs them
    // all); the songs written until then wait for it as hidden parts.
    std::thread measurer;
    std::atomic<bool> bMeasured{false};
    bool bMeasureOk = false;
    std::string strMeasureError;
    CReplayGain measured;
    if (bMeasure && !bCancel) {
        std::vector<std::pair<int64_t, int64_t>> ranges;
        for (int32_t k = 1; k <= nSongs; ++k)
            ranges.emplace_back(layout.SongStart(k) + cutHead[static_cast<size_t>(k)],
                                layout.SongStart(k + 1) - cutTail[static_cast<size_t>(k)]);
        measurer = std::thread([&, ranges] {
            pthread_setname_np(pthread_self(), "cadenzo-gain");
            CAlbumReader gainReader(layout);
            bMeasureOk = Loudness::Measure(gainReader, ranges, options.bDeclick ? &options.declickLevel : nullptr,
                                           bStopMeasuring, [&nMeasured](int64_t n) { nMeasured += n; }, &measured,
                                           &strMeasureError);
            bMeasured = true;
        });
    }
    // Joins the measuring thread (bStop: stopping it first) and takes what it measured.
    auto joinMeasurer = [&](bool bStop) {
        if (!measurer.joinable()) return;
        if (bStop) bStopMeasuring = true;
        while (!bMeasured) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            onFrames(0);  // the progress keeps moving, and a cancel stops the measuring
        }
        measurer.join();
        bGain = bMeasureOk;
        gain = measured;
        std::lock_guard<std::mutex> guard(mutex);
        result.bReplayGain = bGain;
        result.gain = gain;
    };
    fnGainReady = [&](std::string* pError) {
        joinMeasurer(false);
        if (!bMeasure || bGain) return true;
        *pError = strMeasureError;
        return false;
    };
    if (cover.IsSet() && !bCancel && result.strError.empty()) WriteCover(options.strFolder, &result.strError);

    // Songs written and waiting for their gains. Once every song is measured they are
    // tagged, synced and named in order; the encoding goes on meanwhile.
    struct Pending {
        int32_t k;
        int64_t nClicks;
    };
    std::vector<Pending> pending;
    // Tags, syncs and names the pending songs; after a failure or a cancel their parts go.
    auto finish = [&] {
        for (const Pending& p : pending) {
            const std::string& strFinal = finals[static_cast<size_t>(p.k - 1)];
            const std::string& strTemp = temps[static_cast<size_t>(p.k - 1)];
            std::string strError;
            bool bOk = result.strError.empty() && !bCancel;
            if (bOk && options.format != CExportFormat::Wav)
                bOk = TagSong(strTemp, options.format, layout, options, p.k, &strError);
            if (bOk && !bCancel) {
                int fd = ::open(strTemp.c_str(), O_RDONLY | O_CLOEXEC);
                bOk = fd >= 0 && ::fsync(fd) == 0;
                if (fd >= 0) ::close(fd);
                if (bOk) {
                    bOk = options.bOverwrite && !IsRecordingSong(strFinal, layout)
                              ? ::rename(strTemp.c_str(), strFinal.c_str()) == 0
                              : ::renameat2(AT_FDCWD, strTemp.c_str(), AT_FDCWD, strFinal.c_str(),
                                            RENAME_NOREPLACE) == 0;
                }
                if (!bOk) strError = "Cannot write " + strFinal + ": " + std::strerror(errno) + ".";
            }
            if (!bOk || bCancel) ::unlink(strTemp.c_str());
            std::lock_guard<std::mutex> guard(mutex);
            if (bOk && !bCancel) {
                result.files.push_back(strFinal);
                if (options.bDeclick) result.clicks.push_back(p.nClicks);
            }
            if (!strError.empty() && result.strError.empty()) result.strError = strError;
            report = result;
        }
        pending.clear();
    };
    for (int32_t k = 1; k <= nSongs && !bCancel && result.strError.empty(); ++k) {
        const std::string& strFinal = finals[static_cast<size_t>(k - 1)];
        const std::string& strTemp = temps[static_cast<size_t>(k - 1)];
        const int64_t nFirst = layout.SongStart(k) + cutHead[static_cast<size_t>(k)];
        const int64_t nEnd = layout.SongStart(k + 1) - cutTail[static_cast<size_t>(k)];
        int64_t nClamped = 0;
        std::string strError;
        int32_t nConverted = 0;
        CRepairStream stream(reader, nFirst, nEnd, options.bDeclick ? &options.declickLevel : nullptr);
        const bool bOk = WriteSong(reader, stream, layout, options, k, nFirst, nEnd, strTemp, strFinal, onFrames,
                                   &strError, &nClamped, &nConverted);
        if (!bOk || bCancel) ::unlink(strTemp.c_str());
        {
            std::lock_guard<std::mutex> guard(mutex);
            result.nClamped += nClamped;
            result.nLatin1Tags += nConverted;
            if (!bOk) result.strError = strError;
            report = result;
        }
        if (bOk && !bCancel) pending.push_back({k, options.bDeclick ? stream.Clicks() : 0});
        if (bMeasured || !measurer.joinable()) {
            joinMeasurer(false);
            finish();
        }
    }
    // The last songs wait for the gains, unless the export has failed or was cancelled.
    joinMeasurer(bCancel || !result.strError.empty());
    finish();
    fnGainReady = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        result.bCancelled = bCancel && result.strError.empty() &&
                            static_cast<int32_t>(result.files.size()) < nSongs;
        report = result;
    }
    bRunning = false;
    if (fnProgress) fnProgress();
}

CExportJob::CExportJob() : m_pImpl(new Impl) {}

CExportJob::~CExportJob()
{
    Cancel();
    Wait();
}

bool CExportJob::Start(const CAlbumLayout& layout, const CExportOptions& options,
                       std::function<void()> fnProgress)
{
    Impl& d = *m_pImpl;
    if (d.bRunning) return false;
    Wait();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.report = CExportReport{};
    if (layout.songs.empty()) {
        d.report.strError = "There are no songs to export.";
        return false;
    }
    d.cover = CCover{};
    if (!options.strCover.empty() && !ExportTags::LoadCover(options.strCover, &d.cover, &d.report.strError))
        return false;
    CExportOptions target = options;
    target.strFolder = TargetFolder(options);
    std::error_code ec;
    fs::create_directories(target.strFolder, ec);
    if (ec || !fs::is_directory(target.strFolder)) {
        d.report.strError = "Cannot create the folder " + target.strFolder + ": " +
                            (ec ? ec.message() : std::string("a file of that name is in the way")) + ".";
        return false;
    }
    d.bCancel = false;
    d.fProgress = 0.0;
    d.bRunning = true;
    d.thread = std::thread(&Impl::Run, &d, layout, target, std::move(fnProgress));
    return true;
}

void CExportJob::Cancel() { m_pImpl->bCancel = true; }

void CExportJob::Wait()
{
    if (m_pImpl->thread.joinable()) m_pImpl->thread.join();
}

bool CExportJob::IsRunning() const { return m_pImpl->bRunning; }
double CExportJob::GetProgress() const { return m_pImpl->fProgress; }

CExportReport CExportJob::GetReport() const
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->report;
}

std::string CExportJob::TrimText(const CExportReport& report, int32_t nRate)
{
    const double fRate = nRate > 0 ? nRate : 1;
    auto seconds = [fRate](int64_t nFrames) {
        char sz[32];
        std::snprintf(sz, sizeof sz, "%.1f s", static_cast<double>(nFrames) / fRate);
        return std::string(sz);
    };
    if (report.sideLeads.size() < 2)
        return "Trimmed " + seconds(report.nTrimmedLead) + " before the first song and " +
               seconds(report.nTrimmedTrail) + " after the last.";
    std::string strText;
    for (size_t s = 0; s < report.sideLeads.size(); ++s)
        strText += (s ? "\n" : "") + std::string("Side ") + CRecord::SideName(static_cast<int32_t>(s)) +
                   ": trimmed " + seconds(report.sideLeads[s]) + " before its first song and " +
                   seconds(report.sideTrails[s]) + " after its last.";
    return strText;
}

std::vector<std::string> CExportJob::ExistingFiles(const CAlbumLayout& layout,
                                                   const CExportOptions& options)
{
    std::vector<std::string> existing;
    struct stat st;
    CExportOptions target = options;
    target.strFolder = TargetFolder(options);
    for (const std::string& strFinal : FinalNames(layout, target))
        if (::lstat(strFinal.c_str(), &st) == 0) existing.push_back(strFinal);
    return existing;
}

namespace {

// A name with the characters file systems refuse replaced, no trailing dot or space, and
// at most 200 bytes.
std::string SafeName(const std::string& strName)
{
    std::string strSafe;
    for (unsigned char c : strName) {
        bool bBad = c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':' || c == '*' ||
                    c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
        strSafe += bBad ? '_' : static_cast<char>(c);
    }
    // Names ending in a dot or a space are refused by some file systems.
    while (!strSafe.empty() && (strSafe.back() == ' ' || strSafe.back() == '.')) strSafe.pop_back();
    if (strSafe.size() > 200) {  // within a file system's 255 bytes, no half character
        size_t n = 200;
        while (n > 0 && (static_cast<unsigned char>(strSafe[n]) & 0xC0) == 0x80) --n;
        strSafe.resize(n);
    }
    return strSafe;
}

}  // namespace

const char* CExportJob::Extension(CExportFormat format)
{
    switch (format) {
    case CExportFormat::Flac: return "flac";
    case CExportFormat::Wav: return "wav";
    case CExportFormat::Mp3:
    case CExportFormat::Mp3Cbr320: return "mp3";
    case CExportFormat::Ogg: return "ogg";
    case CExportFormat::Opus: return "opus";
    }
    return "wav";
}

std::string CExportJob::TargetFolder(const CExportOptions& options)
{
    if (options.subfolder == CExportSubfolder::None) return options.strFolder;
    std::string strArtist = SafeName(options.info.strArtist);
    std::string strAlbum = SafeName(options.info.strAlbum);
    // "." and ".." are names a folder cannot take.
    if (strArtist.empty() || strArtist.find_first_not_of('.') == std::string::npos) strArtist = "Unknown Artist";
    if (strAlbum.empty() || strAlbum.find_first_not_of('.') == std::string::npos) strAlbum = "Unknown Album";
    const fs::path folder(options.strFolder);
    if (options.subfolder == CExportSubfolder::ArtistAlbum) return (folder / strArtist / strAlbum).string();
    return (folder / (strArtist + " - " + strAlbum)).string();
}

std::string CExportJob::FileName(int32_t nNumber, const std::string& strTitle,
                                 const std::string& strFallback, CExportFormat format)
{
    const std::string strSafe = SafeName(strTitle.empty() ? strFallback : strTitle);
    char szNumber[16];
    std::snprintf(szNumber, sizeof szNumber, "%02d", nNumber);
    std::string strFile = szNumber;
    if (!strSafe.empty()) strFile += " " + strSafe;
    return strFile + "." + Extension(format);
}
