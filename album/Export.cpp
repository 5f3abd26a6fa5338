#include "album/Export.h"

#include "album/AlbumFiles.h"
#include "album/Encoder.h"
#include "album/ExportTags.h"
#include "album/Levels.h"
#include "capture/WaveFile.h"

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
            fQuiet = fFloor + Levels::kAboveFloorDb;
        }
        for (; nNext < nReady; ++nNext)
            if (Levels::ClickFree(raw, nNext) > fQuiet) return std::min(nLength, static_cast<int64_t>(nNext) * nBlock);
        if (bAll) return nLength;
    }
    return 0;
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
    CReplayGain gain;      // measured before the first song is written
    bool bGain = false;

    CSongTags SongTags(const CAlbumLayout& layout, const CExportOptions& options, int32_t nSong) const;
    bool WriteLossy(CAlbumReader& reader, const CExportOptions& options, int64_t nFirst, int64_t nEnd,
                    const std::string& strTemp, const std::function<void(int64_t)>& fnFrames,
                    std::string* pError, int64_t* pClamped);
    bool WriteCover(const std::string& strFolder, std::string* pError);

    void Run(CAlbumLayout layout, CExportOptions options, std::function<void()> fnProgress);
    bool WriteSong(CAlbumReader& reader, const CAlbumLayout& layout, const CExportOptions& options,
                   int32_t nSong, int64_t nFirst, int64_t nEnd, const std::string& strTemp,
                   std::function<void(int64_t)> fnFrames, std::string* pError, int64_t* pClamped);
};

CSongTags CExportJob::Impl::SongTags(const CAlbumLayout& layout, const CExportOptions& options,
                                     int32_t nSong) const
{
    CSongTags tags;
    tags.strTitle = layout.songs[static_cast<size_t>(nSong - 1)].strTitle;
    tags.strArtist = options.info.strArtist;
    tags.strAlbumArtist = options.info.strArtist;
    tags.strAlbum = options.info.strAlbum;
    tags.strDate = options.info.strYear;
    tags.nTrack = nSong;
    tags.nTracks = static_cast<int32_t>(layout.songs.size());
    tags.bReplayGain = bGain;
    if (bGain) {
        tags.track = gain.tracks[static_cast<size_t>(nSong - 1)];
        tags.album = gain.album;
    }
    tags.pCover = &cover;
    return tags;
}

bool CExportJob::Impl::WriteLossy(CAlbumReader& reader, const CExportOptions& options, int64_t nFirst,
                                  int64_t nEnd, const std::string& strTemp,
                                  const std::function<void(int64_t)>& fnFrames, std::string* pError,
                                  int64_t* pClamped)
{
    const CAlbumFormat& format = reader.GetLayout().format;
    CLossyEncoder encoder;
    if (!encoder.Open(strTemp, options.format, format.nChannels, format.nRate, pError)) return false;
    std::vector<float> in(static_cast<size_t>(kChunkFrames * format.nChannels));
    bool bOk = true;
    for (int64_t nAt = nFirst; bOk && nAt < nEnd && !bCancel;) {
        const int64_t nWant = std::min(kChunkFrames, nEnd - nAt);
        if (reader.ReadFloat(nAt, nWant, in.data()) != nWant) {
            *pError = reader.GetErrorText();
            return false;
        }
        bOk = encoder.Write(in.data(), nWant, pError);
        nAt += nWant;
        fnFrames(nWant);
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

bool CExportJob::Impl::WriteSong(CAlbumReader& reader, const CAlbumLayout& layout,
                                 const CExportOptions& options, int32_t nSong, int64_t nFirst,
                                 int64_t nEnd, const std::string& strTemp,
                                 std::function<void(int64_t)> fnFrames, std::string* pError,
                                 int64_t* pClamped)
{
    const CAlbumFormat& format = layout.format;
    const int64_t nChannels = format.nChannels;
    if (CLossyEncoder::IsLossy(options.format)) {
        return WriteLossy(reader, options, nFirst, nEnd, strTemp, fnFrames, pError, pClamped) &&
               (bCancel || ExportTags::Write(strTemp, options.format, SongTags(layout, options, nSong), pError));
    }
    if (options.format == CExportFormat::Wav) {
        // The recording's own bytes, through the recorder's writer.
        CWaveFile writer;
        writer.SetFileName(strTemp.c_str());
        errno = 0;
        writer.Create();
        int nErrno = strTemp.size() > 259 ? ENAMETOOLONG : errno;  // the writer's limit
        if (!writer.HasError())
            writer.WriteHeader(static_cast<int16_t>(format.nBits), format.nRate,
                               static_cast<int16_t>(nChannels), 1024 * 1024);
        std::vector<uint8_t> bytes(static_cast<size_t>(kChunkFrames * format.BytesPerFrame()));
        for (int64_t nAt = nFirst; !writer.HasError() && nAt < nEnd && !bCancel;) {
            int64_t nWant = std::min(kChunkFrames, nEnd - nAt);
            if (reader.ReadRaw(nAt, nWant, bytes.data()) != nWant) {
                *pError = reader.GetErrorText();
                return false;
            }
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
            *pError = std::string("Cannot write ") + strTemp + ": " + std::strerror(nErrno ? nErrno : EIO) + ".";
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
        *pError = std::string("Cannot write ") + strTemp + ": " + sf_strerror(nullptr) + ".";
        return false;
    }
    const CAlbumSong& song = layout.songs[static_cast<size_t>(nSong - 1)];
    const std::string strNumber = std::to_string(nSong);
    if (!song.strTitle.empty()) sf_set_string(pOut, SF_STR_TITLE, song.strTitle.c_str());
    if (!options.info.strArtist.empty()) sf_set_string(pOut, SF_STR_ARTIST, options.info.strArtist.c_str());
    if (!options.info.strAlbum.empty()) sf_set_string(pOut, SF_STR_ALBUM, options.info.strAlbum.c_str());
    if (!options.info.strYear.empty()) sf_set_string(pOut, SF_STR_DATE, options.info.strYear.c_str());
    sf_set_string(pOut, SF_STR_TRACKNUMBER, strNumber.c_str());

    const double fScale = std::ldexp(1.0, nOutBits - 1);  // full scale in output units
    const int nShift = 32 - nOutBits;                      // libsndfile's ints are left-justified
    std::vector<float> in(static_cast<size_t>(kChunkFrames * nChannels));
    std::vector<int> out(in.size());
    bool bOk = true;
    for (int64_t nAt = nFirst; bOk && nAt < nEnd && !bCancel;) {
        int64_t nWant = std::min(kChunkFrames, nEnd - nAt);
        if (reader.ReadFloat(nAt, nWant, in.data()) != nWant) {
            *pError = reader.GetErrorText();
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
            *pError = std::string("Cannot write ") + strTemp + ": " + sf_strerror(pOut) + ".";
            bOk = false;
        }
        nAt += nWant;
        fnFrames(nWant);
    }
    if (sf_close(pOut) != 0 && bOk) {
        *pError = std::string("Cannot write ") + strTemp + ".";
        bOk = false;
    }
    if (!bOk || bCancel) return bOk;

    // TRACKTOTAL, ALBUMARTIST, the gains and the cover are not among libsndfile's strings.
    return ExportTags::Write(strTemp, CExportFormat::Flac, SongTags(layout, options, nSong), pError);
}

void CExportJob::Impl::Run(CAlbumLayout layout, CExportOptions options,
                           std::function<void()> fnProgress)
{
    CAlbumReader reader(layout);
    CExportReport result;
    const int32_t nSongs = static_cast<int32_t>(layout.songs.size());
    const int64_t nTotal = layout.TotalFrames();
    int64_t nLead = 0, nTrail = 0;
    if (options.bTrim) {
        // The quiet before the first song's sound and after the last song's, down to half a
        // second each.
        const int64_t nKeep = layout.format.nRate / 2;
        int64_t nQuiet = QuietFrames(reader, 0, layout.SongStart(2), false, bCancel);
        if (nQuiet > nKeep) nLead = nQuiet - nKeep;
        nQuiet = QuietFrames(reader, layout.SongStart(nSongs), nTotal, true, bCancel);
        if (nQuiet > nKeep) nTrail = nQuiet - nKeep;
        if (nSongs == 1 && nLead + nTrail >= nTotal) nTrail = 0;  // all quiet: half a second of it
        result.nTrimmedLead = nLead;
        result.nTrimmedTrail = nTrail;
        result.nTrimmedFrames = nLead + nTrail;
    }
    // With ReplayGain the songs are read twice: measured, then written. WAV copies carry no tags.
    const bool bMeasure = options.bReplayGain && options.format != CExportFormat::Wav;
    const int64_t nToWrite = std::max<int64_t>(1, (nTotal - nLead - nTrail) * (bMeasure ? 2 : 1));
    int64_t nWritten = 0;
    int nLastPercent = -1;
    auto onFrames = [&](int64_t n) {
        nWritten += n;
        fProgress = static_cast<double>(nWritten) / static_cast<double>(nToWrite);
        int nPercent = static_cast<int>(fProgress * 100.0);
        if (nPercent != nLastPercent) {
            nLastPercent = nPercent;
            if (fnProgress) fnProgress();
        }
    };

    result.strFolder = options.strFolder;
    bGain = false;
    if (bMeasure && !bCancel) {
        std::vector<std::pair<int64_t, int64_t>> ranges;
        for (int32_t k = 1; k <= nSongs; ++k)
            ranges.emplace_back(layout.SongStart(k) + (k == 1 ? nLead : 0),
                                layout.SongStart(k + 1) - (k == nSongs ? nTrail : 0));
        bGain = Loudness::Measure(reader, ranges, bCancel, onFrames, &gain, &result.strError);
        result.bReplayGain = bGain;
        result.gain = gain;
    }
    if (cover.IsSet() && !bCancel && result.strError.empty()) WriteCover(options.strFolder, &result.strError);

    for (int32_t k = 1; k <= nSongs && !bCancel && result.strError.empty(); ++k) {
        const CAlbumSong& song = layout.songs[static_cast<size_t>(k - 1)];
        std::string strStem = AlbumFiles::FileName(song.strPath);
        strStem = strStem.substr(0, strStem.find_last_of('.'));
        const std::string strFinal =
            (fs::path(options.strFolder) / FileName(k, song.strTitle, strStem, options.format)).string();
        const std::string strTemp =
            (fs::path(options.strFolder) / ("." + fs::path(strFinal).filename().string() + kTempSuffix))
                .string();
        int64_t nFirst = layout.SongStart(k), nEnd = layout.SongStart(k + 1);
        if (k == 1) nFirst += nLead;
        if (k == nSongs) nEnd -= nTrail;
        int64_t nClamped = 0;
        std::string strError;
        bool bOk = WriteSong(reader, layout, options, k, nFirst, nEnd, strTemp, onFrames, &strError,
                             &nClamped);
        if (bOk && !bCancel) {
            int fd = ::open(strTemp.c_str(), O_RDONLY | O_CLOEXEC);
            bOk = fd >= 0 && ::fsync(fd) == 0;
            if (fd >= 0) ::close(fd);
            if (bOk) bOk = ::rename(strTemp.c_str(), strFinal.c_str()) == 0;
            if (!bOk) strError = "Cannot write " + strFinal + ": " + std::strerror(errno) + ".";
        }
        if (!bOk || bCancel) ::unlink(strTemp.c_str());
        std::lock_guard<std::mutex> lock(mutex);
        result.nClamped += nClamped;
        if (bOk && !bCancel) result.files.push_back(strFinal);
        if (!bOk) result.strError = strError;
        report = result;
    }
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
