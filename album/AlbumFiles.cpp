#include "album/AlbumFiles.h"

#include <sndfile.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace AlbumFiles {

namespace {

const char kNewSuffix[] = ".cadenzo-new";
const char kAsideSuffix[] = ".cadenzo-old";

// Splits "Music/Side A.wav" into "Music/Side A" and ".wav".
void SplitBase(const std::string& strBase, std::string* pPrefix, std::string* pExt)
{
    size_t nSlash = strBase.find_last_of('/');
    size_t nDot = strBase.find_last_of('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
        *pPrefix = strBase;
        pExt->clear();
    } else {
        *pPrefix = strBase.substr(0, nDot);
        *pExt = strBase.substr(nDot);
    }
}

std::string FolderOf(const std::string& strPath)
{
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos) return ".";
    if (nSlash == 0) return "/";
    return strPath.substr(0, nSlash);
}

std::string HiddenBeside(const std::string& strPath, const char* szSuffix)
{
    size_t nSlash = strPath.find_last_of('/');
    std::string strDir = nSlash == std::string::npos ? "" : strPath.substr(0, nSlash + 1);
    return strDir + "." + FileName(strPath) + szSuffix;
}

bool SyncFolder(const std::string& strFolder)
{
    int fd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool bOk = fd >= 0 && ::fsync(fd) == 0;
    int nErr = errno;
    if (fd >= 0) ::close(fd);
    errno = nErr;
    return bOk;
}

// Writes a small file whole, synced to the disk when bSync is set. On failure errno
// tells why.
bool WriteWhole(const std::string& strPath, const std::string& strText, bool bSync)
{
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool bOk = fd >= 0;
    size_t nDone = 0;
    while (bOk && nDone < strText.size()) {
        ssize_t n = ::write(fd, strText.data() + nDone, strText.size() - nDone);
        if (n < 0 && errno == EINTR) continue;
        bOk = n > 0;
        if (bOk) nDone += static_cast<size_t>(n);
    }
    if (bOk && bSync) bOk = ::fsync(fd) == 0;
    int nErr = errno;
    if (fd >= 0 && ::close(fd) != 0 && bOk) {
        bOk = false;
        nErr = errno;
    }
    errno = nErr;
    return bOk;
}

bool FormatOf(const SF_INFO& info, CAlbumFormat* pFormat)
{
    pFormat->nRate = info.samplerate;
    pFormat->nChannels = info.channels;
    pFormat->bFloat = false;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8: pFormat->nBits = 8; break;
    case SF_FORMAT_PCM_16: pFormat->nBits = 16; break;
    case SF_FORMAT_PCM_24: pFormat->nBits = 24; break;
    case SF_FORMAT_FLOAT: pFormat->nBits = 32; pFormat->bFloat = true; break;
    case SF_FORMAT_DOUBLE: pFormat->nBits = 64; pFormat->bFloat = true; break;
    default: return false;
    }
    return (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && info.channels > 0;
}

}  // namespace

std::string SongPath(const std::string& strBasePath, int32_t nNumber)
{
    std::string strPrefix, strExt;
    SplitBase(strBasePath, &strPrefix, &strExt);
    return strPrefix + std::to_string(nNumber) + strExt;
}

std::string FileName(const std::string& strPath)
{
    size_t nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

std::string FormatText(const CAlbumFormat& format)
{
    char sz[128];
    std::snprintf(sz, sizeof sz, "%d Hz, %d channel%s, %d-bit%s", format.nRate,
                  format.nChannels, format.nChannels == 1 ? "" : "s", format.nBits,
                  format.bFloat ? " float" : "");
    return sz;
}

bool OpenSongs(const std::string& strBasePath, CAlbumLayout* pLayout, std::string* pError)
{
    CAlbumLayout layout;
    layout.strBasePath = strBasePath;
    std::string strFirst = SongPath(strBasePath, 1);
    for (int32_t n = 1;; ++n) {
        std::string strPath = SongPath(strBasePath, n);
        struct stat st;
        if (::stat(strPath.c_str(), &st) != 0) break;
        SF_INFO info{};
        SNDFILE* pFile = sf_open(strPath.c_str(), SFM_READ, &info);
        if (pFile == nullptr) {
            *pError = "Cannot read " + strPath + ": " + sf_strerror(nullptr) + ".";
            return false;
        }
        sf_close(pFile);
        CAlbumFormat format;
        if (!FormatOf(info, &format)) {
            *pError = "Cannot edit " + strPath +
                      ": it is not a WAV file of 8, 16 or 24-bit integer or float samples.";
            return false;
        }
        if (n == 1) {
            layout.format = format;
        } else if (format != layout.format) {
            *pError = strPath + " has another format (" + FormatText(format) + ") than " +
                      strFirst + " (" + FormatText(layout.format) +
                      "): the songs of one album share one format.";
            return false;
        }
        layout.songs.push_back({strPath, static_cast<int64_t>(info.frames), {}});
    }
    if (layout.songs.empty()) {
        *pError = "There are no songs of " + strBasePath + ": " + strFirst + " does not exist.";
        return false;
    }

    // A file numbered past the first missing number means a song file has gone.
    std::string strPrefix, strExt;
    SplitBase(FileName(strBasePath), &strPrefix, &strExt);
    const int32_t nCount = static_cast<int32_t>(layout.songs.size());
    int64_t nBeyond = 0;
    std::error_code ec;
    for (fs::directory_iterator it(FolderOf(strBasePath), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string strName = it->path().filename().string();
        if (strName.size() <= strPrefix.size() + strExt.size() ||
            strName.compare(0, strPrefix.size(), strPrefix) != 0 ||
            strName.compare(strName.size() - strExt.size(), strExt.size(), strExt) != 0)
            continue;
        std::string strDigits = strName.substr(strPrefix.size(),
                                               strName.size() - strPrefix.size() - strExt.size());
        if (strDigits.empty() || strDigits.size() > 9 || strDigits[0] == '0' ||
            !std::all_of(strDigits.begin(), strDigits.end(), ::isdigit))
            continue;
        int64_t n = std::stoll(strDigits);
        if (n > nCount && (nBeyond == 0 || n < nBeyond)) nBeyond = n;
    }
    if (nBeyond > 0) {
        *pError = SongPath(strBasePath, nCount + 1) + " is missing, but " +
                  SongPath(strBasePath, static_cast<int32_t>(nBeyond)) +
                  " exists: the songs must be numbered from 1 without a gap.";
        return false;
    }
    *pLayout = layout;
    return true;
}

bool IsLockedForRecording(const std::string& strPath)
{
    int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool bLocked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return bLocked;
}

// ---------------------------------------------------------------------------------------
// Transaction

Transaction::Transaction(const std::string& strBasePath,
                         std::function<bool(const std::string&)> fnStep)
    : m_strBase(strBasePath), m_strFolder(FolderOf(strBasePath)), m_fnStep(std::move(fnStep))
{
    // One edit at a time in a folder, across programs; Recover() leaves a folder alone
    // while an edit holds it.
    m_nFolderLock = ::open(m_strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_nFolderLock >= 0) ::flock(m_nFolderLock, LOCK_EX);
}

Transaction::~Transaction()
{
    for (const std::string& str : m_temps) ::unlink(str.c_str());
    if (m_nFolderLock >= 0) ::close(m_nFolderLock);
}

std::string Transaction::Aside(const std::string& strPath)
{
    return HiddenBeside(strPath, kAsideSuffix);
}

std::string Transaction::NewFile(const std::string& strFinal)
{
    std::string strTemp = HiddenBeside(strFinal, kNewSuffix);
    m_temps.push_back(strTemp);
    return strTemp;
}

bool Transaction::Sync(const std::string& strTemp, const std::string& strFinal)
{
    bool bOk = m_fnStep("sync " + strFinal);
    if (bOk) {
        int fd = ::open(strTemp.c_str(), O_RDONLY | O_CLOEXEC);
        bOk = fd >= 0 && ::fsync(fd) == 0;
        int nErr = errno;
        if (fd >= 0) ::close(fd);
        errno = nErr;
    }
    if (!bOk) m_strError = "Cannot save the new " + strFinal + ": " + std::strerror(errno) + ".";
    return bOk;
}

bool Transaction::NewText(const std::string& strFinal, const std::string& strText)
{
    std::string strTemp = NewFile(strFinal);
    bool bOk = m_fnStep("write " + strFinal);
    if (bOk) bOk = WriteWhole(strTemp, strText, false);
    if (!bOk) {
        m_strError = "Cannot write the new " + strFinal + ": " + std::strerror(errno) + ".";
        return false;
    }
    return Sync(strTemp, strFinal);
}

void Transaction::Replace(const std::string& strOld) { m_ops.push_back({0, strOld, {}}); }

void Transaction::MoveOld(const std::string& strOld, const std::string& strNew)
{
    m_ops.push_back({1, strOld, strNew});
}

void Transaction::PlaceNew(const std::string& strFinal) { m_ops.push_back({2, strFinal, {}}); }

bool Transaction::Rename(const std::string& strFrom, const std::string& strTo,
                         const std::string& strWhat)
{
    if (!m_fnStep(strWhat) || ::rename(strFrom.c_str(), strTo.c_str()) != 0) {
        m_strError = "Cannot " + strWhat + ": " + std::strerror(errno) + ".";
        return false;
    }
    m_done.emplace_back(strFrom, strTo);
    return true;
}

void Transaction::RollBack()
{
    for (auto it = m_done.rbegin(); it != m_done.rend(); ++it)
        ::rename(it->second.c_str(), it->first.c_str());
    m_done.clear();
}

bool Transaction::Commit()
{
    // Every rename is planned before the first is made, and the plan is saved as a journal,
    // so that an edit cut short by a crash can be rolled back when the album is opened.
    struct Move {
        std::string strFrom, strTo, strWhat;
    };
    std::vector<Move> plan;
    std::vector<std::string> asides;   // files set aside and not taken back into use
    std::vector<std::string> vacated;  // names set aside and not yet taken by another file
    auto has = [](const std::vector<std::string>& v, const std::string& str) {
        return std::find(v.begin(), v.end(), str) != v.end();
    };
    auto setAside = [&](const std::string& strPath) {
        plan.push_back({strPath, Aside(strPath), "set aside " + strPath});
        asides.push_back(strPath);
        vacated.push_back(strPath);
    };
    for (const Op& op : m_ops) {
        if (op.nKind == 0) {
            setAside(op.strA);
            continue;
        }
        // A file already under the final name that nobody set aside (the cue sheet) is set
        // aside too, so that it can come back.
        const std::string& strFinal = op.nKind == 1 ? op.strB : op.strA;
        struct stat st;
        if (!has(vacated, strFinal) && ::lstat(strFinal.c_str(), &st) == 0) setAside(strFinal);
        vacated.erase(std::remove(vacated.begin(), vacated.end(), strFinal), vacated.end());
        if (op.nKind == 1) {
            plan.push_back({Aside(op.strA), op.strB, "rename " + op.strA + " to " + op.strB});
            asides.erase(std::find(asides.begin(), asides.end(), op.strA));
        } else {
            plan.push_back({HiddenBeside(op.strA, kNewSuffix), op.strA, "put the new " + op.strA + " in place"});
        }
    }

    std::string strJournal;
    for (const Move& move : plan) strJournal += move.strFrom + "\t" + move.strTo + "\n";
    const std::string strJournalPath = JournalPath(m_strBase);
    bool bOk = m_fnStep("write the journal " + strJournalPath) &&
               WriteWhole(strJournalPath, strJournal, true) && SyncFolder(m_strFolder);
    if (!bOk) {
        m_strError = "Cannot write " + strJournalPath + ": " + std::strerror(errno) + ".";
        ::unlink(strJournalPath.c_str());
        return false;
    }
    for (const Move& move : plan) {
        if (!Rename(move.strFrom, move.strTo, move.strWhat)) {
            bOk = false;
            break;
        }
    }
    if (bOk) {
        bOk = m_fnStep("sync folder " + m_strFolder) && SyncFolder(m_strFolder);
        if (!bOk) m_strError = "Cannot save the folder " + m_strFolder + ": " + std::strerror(errno) + ".";
    }
    if (!bOk) {
        // Put back what moved (new files go back to their hidden names, which the
        // destructor removes).
        RollBack();
        ::unlink(strJournalPath.c_str());
        return false;
    }
    // The edit is done once the journal is gone; what was set aside is then only old.
    ::unlink(strJournalPath.c_str());
    SyncFolder(m_strFolder);
    for (const std::string& str : asides) ::unlink(Aside(str).c_str());
    m_done.clear();
    return true;
}

bool OpenFiles(const std::string& strBasePath, const std::vector<std::string>& paths,
               CAlbumLayout* pLayout, std::string* pError)
{
    CAlbumLayout layout;
    layout.strBasePath = strBasePath;
    for (const std::string& strPath : paths) {
        SF_INFO info{};
        SNDFILE* pFile = sf_open(strPath.c_str(), SFM_READ, &info);
        if (pFile == nullptr) {
            *pError = "Cannot read " + strPath + ": " + sf_strerror(nullptr) + ".";
            return false;
        }
        sf_close(pFile);
        CAlbumFormat format;
        if (!FormatOf(info, &format) || (!layout.songs.empty() && format != layout.format)) {
            *pError = "Cannot read " + strPath + ": it is not a WAV file of the recording's format.";
            return false;
        }
        layout.format = format;
        layout.songs.push_back({strPath, static_cast<int64_t>(info.frames), {}});
    }
    *pLayout = layout;
    return true;
}

std::string JournalPath(const std::string& strBasePath)
{
    return HiddenBeside(strBasePath, ".cadenzo-journal");
}

void Recover(const std::string& strBasePath)
{
    const std::string strFolder = FolderOf(strBasePath);
    int nLock = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nLock < 0) return;
    if (::flock(nLock, LOCK_EX | LOCK_NB) != 0) {  // an edit is being made right now
        ::close(nLock);
        return;
    }
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{nLock};
    std::ifstream in(JournalPath(strBasePath));
    if (in) {
        std::vector<std::pair<std::string, std::string>> moves;
        for (std::string strLine; std::getline(in, strLine);) {
            size_t nTab = strLine.find('\t');
            if (nTab != std::string::npos) moves.emplace_back(strLine.substr(0, nTab), strLine.substr(nTab + 1));
        }
        // The renames were made in order and each takes a name that did not exist, so the
        // names present now tell how many were made: the state after k renames, replayed
        // from the names present before the first (a name the journal first mentions as a
        // source).
        std::set<std::string> names, state;
        for (const auto& move : moves) {
            if (!names.count(move.first)) state.insert(move.first);
            names.insert(move.first);
            names.insert(move.second);
        }
        std::set<std::string> present;
        struct stat st;
        for (const std::string& str : names)
            if (::lstat(str.c_str(), &st) == 0) present.insert(str);
        size_t nMade = moves.size() + 1;
        for (size_t k = 0; k <= moves.size(); ++k) {
            if (state == present) nMade = k;
            if (k == moves.size()) break;
            state.erase(moves[k].first);
            state.insert(moves[k].second);
        }
        // Files that match no state were changed by someone else since: leave everything,
        // the set-aside copies included, as it is.
        if (nMade > moves.size()) return;
        for (size_t k = nMade; k-- > 0;)
            ::rename(moves[k].second.c_str(), moves[k].first.c_str());
        SyncFolder(strFolder);
        ::unlink(JournalPath(strBasePath).c_str());
        SyncFolder(strFolder);
    }
    // Hidden files an interrupted edit left beside this album's files.
    std::string strPrefix, strExt;
    SplitBase(FileName(strBasePath), &strPrefix, &strExt);
    std::error_code ec;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(strFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string strName = it->path().filename().string();
        for (const char* szSuffix : {kNewSuffix, kAsideSuffix}) {
            const size_t nSuffix = std::strlen(szSuffix);
            if (strName.size() < nSuffix + 2 || strName[0] != '.' ||
                strName.compare(strName.size() - nSuffix, nSuffix, szSuffix) != 0)
                continue;
            std::string strFile = strName.substr(1, strName.size() - nSuffix - 1);
            bool bOurs = strFile == strPrefix + ".cue";
            if (!bOurs && strFile.size() > strPrefix.size() + strExt.size() &&
                strFile.compare(0, strPrefix.size(), strPrefix) == 0 &&
                strFile.compare(strFile.size() - strExt.size(), strExt.size(), strExt) == 0) {
                std::string strDigits =
                    strFile.substr(strPrefix.size(), strFile.size() - strPrefix.size() - strExt.size());
                bOurs = !strDigits.empty() && std::all_of(strDigits.begin(), strDigits.end(), ::isdigit);
            }
            if (bOurs) leftovers.push_back(it->path());
        }
    }
    for (const fs::path& path : leftovers) fs::remove(path, ec);
}

}  // namespace AlbumFiles
