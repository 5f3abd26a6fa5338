#include "album/AlbumFiles.h"

#include "capture/TakeMark.h"

#include <sndfile.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace AlbumFiles {

namespace {

const char kNewSuffix[] = ".cadenzo-new";
const char kAsideSuffix[] = ".cadenzo-old";
const char kJournalMagic[] = "cadenzo journal 2\n";

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

// Writes a small file whole, synced to the disk when bSync is set (fnSync, when given,
// is asked first and may refuse). bNew: the name must not exist. On failure errno tells
// why.
bool WriteWhole(const std::string& strPath, const std::string& strText, bool bSync,
                bool bNew = false, const std::function<bool()>& fnSync = {})
{
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | (bNew ? O_EXCL : O_TRUNC) | O_CLOEXEC, 0666);
    bool bOk = fd >= 0;
    size_t nDone = 0;
    while (bOk && nDone < strText.size()) {
        ssize_t n = ::write(fd, strText.data() + nDone, strText.size() - nDone);
        if (n < 0 && errno == EINTR) continue;
        bOk = n > 0;
        if (bOk) nDone += static_cast<size_t>(n);
    }
    if (bOk && bSync) bOk = (!fnSync || fnSync()) && ::fsync(fd) == 0;
    int nErr = errno;
    if (fd >= 0 && ::close(fd) != 0 && bOk) {
        bOk = false;
        nErr = errno;
    }
    errno = nErr;
    return bOk;
}

// Renames without replacing anything: fails with EEXIST when strTo exists. File systems
// without that kind of rename get a link and an unlink, which refuse the same way.
bool RenameNew(const std::string& strFrom, const std::string& strTo)
{
    if (::renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(strFrom.c_str(), strTo.c_str()) != 0) return false;
    return ::unlink(strFrom.c_str()) == 0;
}

// A journal: its kind ("pending", "undo", "done"), the renames of an undo journal and the
// names to delete. Each name is followed by a zero byte, so any name reads back.
struct Journal {
    std::string strKind;
    std::vector<std::pair<std::string, std::string>> moves;
    std::vector<std::string> deletes;

    std::string Text() const
    {
        std::string str = kJournalMagic + strKind + "\n";
        for (const auto& move : moves) {
            str += "M";
            str.append(move.first.c_str(), move.first.size() + 1);
            str.append(move.second.c_str(), move.second.size() + 1);
        }
        for (const std::string& strName : deletes) {
            str += "D";
            str.append(strName.c_str(), strName.size() + 1);
        }
        return str;
    }

    // False when the text is no journal of ours.
    bool Parse(const std::string& strText)
    {
        const std::string strMagic = kJournalMagic;
        if (strText.compare(0, strMagic.size(), strMagic) != 0) return ParseOld(strText);
        size_t n = strMagic.size();
        size_t nLine = strText.find('\n', n);
        if (nLine == std::string::npos) return false;
        strKind = strText.substr(n, nLine - n);
        if (strKind != "pending" && strKind != "undo" && strKind != "done") return false;
        auto name = [&](size_t* pAt, std::string* pName) {
            size_t nEnd = strText.find('\0', *pAt);
            if (nEnd == std::string::npos || nEnd == *pAt) return false;
            *pName = strText.substr(*pAt, nEnd - *pAt);
            *pAt = nEnd + 1;
            return pName->find('/') == std::string::npos;
        };
        for (n = nLine + 1; n < strText.size();) {
            char c = strText[n++];
            std::string a, b;
            if (c == 'M' && name(&n, &a) && name(&n, &b)) moves.emplace_back(a, b);
            else if (c == 'D' && name(&n, &a)) deletes.push_back(a);
            else return false;
        }
        return true;
    }

    // Journals of earlier versions: "from<TAB>to" lines of paths in the journal's folder.
    bool ParseOld(const std::string& strText)
    {
        strKind = "undo";
        size_t n = 0;
        while (n < strText.size()) {
            size_t nEnd = strText.find('\n', n);
            if (nEnd == std::string::npos) return false;
            std::string strLine = strText.substr(n, nEnd - n);
            size_t nTab = strLine.find('\t');
            if (nTab == std::string::npos) return false;
            moves.emplace_back(FileName(strLine.substr(0, nTab)), FileName(strLine.substr(nTab + 1)));
            n = nEnd + 1;
        }
        return true;
    }
};

bool ReadWhole(const std::string& strPath, std::string* pText)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) return false;
    pText->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
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

std::string Reason(const char* szText)
{
    std::string str = szText != nullptr ? szText : "";
    while (!str.empty() && (str.back() == '.' || str.back() == ' ' || str.back() == '\n')) str.pop_back();
    return str;
}

std::string FormatText(const CAlbumFormat& format)
{
    char sz[128];
    std::snprintf(sz, sizeof sz, "%d Hz, %d channel%s, %d-bit%s", format.nRate,
                  format.nChannels, format.nChannels == 1 ? "" : "s", format.nBits,
                  format.bFloat ? " float" : "");
    return sz;
}

std::string Stamp(const struct stat& st)
{
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

std::string PathStamp(const std::string& strPath)
{
    struct stat st;
    return ::stat(strPath.c_str(), &st) == 0 ? Stamp(st) : std::string();
}

int OpenSongFile(const std::string& strPath, struct stat* pStat, std::string* pError)
{
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *pError = "Cannot read " + strPath + ": " + std::strerror(errno) + ".";
        return -1;
    }
    if (::fstat(fd, pStat) != 0 || !S_ISREG(pStat->st_mode)) {
        ::close(fd);
        *pError = "Cannot read " + strPath + ": it is not a regular file (a song is a WAV file).";
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool OpenSongs(const std::string& strBasePath, CAlbumLayout* pLayout, std::string* pError)
{
    CAlbumLayout layout;
    layout.strBasePath = strBasePath;
    std::string strFirst = SongPath(strBasePath, 1);
    // The take's start: a song file last changed before it is an earlier take's.
    struct stat mark;
    const bool bMark = ::stat(TakeMark::PathFor(strBasePath).c_str(), &mark) == 0;
    if (bMark) layout.strTake = TakeMark::Read(strBasePath);
    auto before = [&](const struct stat& st) {
        return st.st_ctim.tv_sec < mark.st_mtim.tv_sec ||
               (st.st_ctim.tv_sec == mark.st_mtim.tv_sec && st.st_ctim.tv_nsec < mark.st_mtim.tv_nsec);
    };
    for (int32_t n = 1;; ++n) {
        std::string strPath = SongPath(strBasePath, n);
        struct stat st;
        if (::lstat(strPath.c_str(), &st) != 0) break;
        if (n > 1 && bMark && before(st)) {
            for (int32_t m = n; ::lstat(SongPath(strBasePath, m).c_str(), &st) == 0; ++m)
                layout.leftovers.push_back(SongPath(strBasePath, m));
            break;
        }
        if (S_ISLNK(st.st_mode) && ::stat(strPath.c_str(), &st) != 0) {
            *pError = "Cannot read " + strPath + ": it is a symbolic link to a file that does not exist.";
            return false;
        }
        int fd = OpenSongFile(strPath, &st, pError);
        if (fd < 0) return false;
        SF_INFO info{};
        SNDFILE* pFile = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
        if (pFile == nullptr) {
            *pError = "Cannot read " + strPath + ": " + Reason(sf_strerror(nullptr)) + ".";
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
        layout.songs.push_back({strPath, static_cast<int64_t>(info.frames), {}, 0, {}});
        layout.stamps.push_back(Stamp(st));
    }
    if (layout.songs.empty()) {
        *pError = "There are no songs of " + strBasePath + ": " + strFirst + " does not exist.";
        return false;
    }

    // A file numbered past the first missing number means a song file has gone.
    std::string strPrefix, strExt;
    SplitBase(FileName(strBasePath), &strPrefix, &strExt);
    const int32_t nCount = static_cast<int32_t>(layout.songs.size() + layout.leftovers.size());
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
        if (n <= nCount) continue;
        // Past a gap an edit of this take left (a join), an earlier take's files remain.
        struct stat st;
        if (bMark && ::stat(it->path().c_str(), &st) == 0 && before(st)) {
            layout.leftovers.push_back(SongPath(strBasePath, static_cast<int32_t>(n)));
            continue;
        }
        if (nBeyond == 0 || n < nBeyond) nBeyond = n;
    }
    std::sort(layout.leftovers.begin(), layout.leftovers.end(), [&](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
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
    int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool bLocked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return bLocked;
}

// ---------------------------------------------------------------------------------------
// FolderLock

FolderLock::FolderLock(const std::string& strBasePath, bool bExclusive,
                       const std::atomic<bool>* pCancel)
{
    m_fd = ::open(FolderOf(strBasePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) return;  // no folder: whatever follows fails saying so
    const int nKind = bExclusive ? LOCK_EX : LOCK_SH;
    if (pCancel == nullptr) {
        m_bHeld = ::flock(m_fd, nKind) == 0;
        m_bInterrupted = !m_bHeld && errno == EINTR;
        return;
    }
    while (!*pCancel && !(m_bHeld = ::flock(m_fd, nKind | LOCK_NB) == 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

FolderLock::~FolderLock()
{
    if (m_fd >= 0) ::close(m_fd);
}

std::string StoppedWaitingText(const std::string& strPath)
{
    return "Stopped while waiting for another program to finish with the folder of " + strPath + ".";
}

// ---------------------------------------------------------------------------------------
// Transaction

Transaction::Transaction(const std::string& strBasePath,
                         std::function<bool(const std::string&)> fnStep)
    : m_strBase(strBasePath), m_strFolder(FolderOf(strBasePath)), m_fnStep(std::move(fnStep))
{
}

Transaction::~Transaction()
{
    for (const std::string& str : m_temps) ::unlink(str.c_str());
    if (!m_temps.empty()) ::unlink(JournalPath(m_strBase).c_str());
}

std::string Transaction::Aside(const std::string& strPath)
{
    return HiddenBeside(strPath, kAsideSuffix);
}

// The hidden files written so far, as a journal, so that a crash while they are written
// leaves nothing that no journal names. Not synced: at worst such a file stays.
void Transaction::NoteTemps()
{
    Journal journal;
    journal.strKind = "pending";
    for (const std::string& str : m_temps) journal.deletes.push_back(FileName(str));
    WriteWhole(JournalPath(m_strBase), journal.Text(), false);
}

std::string Transaction::NewFile(const std::string& strFinal)
{
    std::string strTemp = HiddenBeside(strFinal, kNewSuffix);
    m_temps.push_back(strTemp);
    NoteTemps();
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

void Transaction::PlaceNew(const std::string& strFinal, bool bReplace)
{
    m_ops.push_back({2, strFinal, {}, bReplace});
}

bool Transaction::Rename(const std::string& strFrom, const std::string& strTo,
                         const std::string& strWhat)
{
    if (!m_fnStep(strWhat)) {
        m_strError = "Cannot " + strWhat + ": " + std::strerror(errno) + ".";
        return false;
    }
    if (!RenameNew(strFrom, strTo)) {
        m_strError = errno == EEXIST ? strTo + " has appeared since the album was opened: open it again."
                                     : "Cannot " + strWhat + ": " + std::strerror(errno) + ".";
        return false;
    }
    m_done.emplace_back(strFrom, strTo);
    return true;
}

void Transaction::RollBack()
{
    for (auto it = m_done.rbegin(); it != m_done.rend(); ++it)
        RenameNew(it->second, it->first);
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
    struct stat st;
    for (const Op& op : m_ops) {
        if (op.nKind == 0) {
            setAside(op.strA);
            continue;
        }
        const std::string& strFinal = op.nKind == 1 ? op.strB : op.strA;
        if (!has(vacated, strFinal) && ::lstat(strFinal.c_str(), &st) == 0) {
            // A file under a name this edit gives that nobody set aside: the cue sheet is
            // set aside too, so that it can come back; anything else was made by another
            // program (a recorder starting its next song) and stays untouched.
            if (!op.bReplace) {
                m_strError = strFinal + " has appeared since the album was opened: open it again.";
                return false;
            }
            setAside(strFinal);
        }
        vacated.erase(std::remove(vacated.begin(), vacated.end(), strFinal), vacated.end());
        if (op.nKind == 1) {
            plan.push_back({Aside(op.strA), op.strB, "rename " + op.strA + " to " + op.strB});
            asides.erase(std::find(asides.begin(), asides.end(), op.strA));
        } else {
            plan.push_back({HiddenBeside(op.strA, kNewSuffix), op.strA, "put the new " + op.strA + " in place"});
        }
    }
    // A recording may have started on one of the files since the album was checked.
    for (const Move& move : plan) {
        if (move.strWhat.compare(0, 10, "set aside ") == 0 && IsLockedForRecording(move.strFrom)) {
            m_strError = move.strFrom + " is being recorded: its songs cannot be edited until the "
                                        "recording stops.";
            return false;
        }
    }

    Journal journal;
    journal.strKind = "undo";
    for (const Move& move : plan) journal.moves.emplace_back(FileName(move.strFrom), FileName(move.strTo));
    for (const std::string& str : m_temps) journal.deletes.push_back(FileName(str));
    const std::string strJournalPath = JournalPath(m_strBase);
    const std::string strNext = HiddenBeside(strJournalPath, kNewSuffix);
    bool bOk = m_fnStep("write the journal " + strJournalPath) &&
               WriteWhole(strNext, journal.Text(), true, false,
                          [&] { return m_fnStep("sync the journal " + strJournalPath); }) &&
               ::rename(strNext.c_str(), strJournalPath.c_str()) == 0 && SyncFolder(m_strFolder);
    if (!bOk) {
        m_strError = "Cannot write " + strJournalPath + ": " + std::strerror(errno) + ".";
        ::unlink(strNext.c_str());
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
    if (bOk) {
        // The edit stands once the journal lists only what is left to delete.
        Journal done;
        done.strKind = "done";
        for (const std::string& str : asides) done.deletes.push_back(FileName(Aside(str)));
        bOk = m_fnStep("finish the journal " + strJournalPath) &&
              WriteWhole(strNext, done.Text(), true) &&
              ::rename(strNext.c_str(), strJournalPath.c_str()) == 0;
        if (!bOk) {
            m_strError = "Cannot write " + strJournalPath + ": " + std::strerror(errno) + ".";
            ::unlink(strNext.c_str());
        }
    }
    if (!bOk) {
        // Put back what moved (new files go back to their hidden names, which the
        // destructor removes).
        RollBack();
        SyncFolder(m_strFolder);
        return false;
    }
    SyncFolder(m_strFolder);
    for (const std::string& str : asides) ::unlink(Aside(str).c_str());
    ::unlink(strJournalPath.c_str());
    SyncFolder(m_strFolder);
    m_temps.clear();
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
        layout.songs.push_back({strPath, static_cast<int64_t>(info.frames), {}, 0, {}});
    }
    *pLayout = layout;
    return true;
}

std::string JournalPath(const std::string& strBasePath)
{
    return HiddenBeside(strBasePath, ".cadenzo-journal");
}

bool Recover(const std::string& strBasePath, std::string* pError)
{
    const std::string strFolder = FolderOf(strBasePath);
    const std::string strJournalPath = JournalPath(strBasePath);
    std::string strText;
    struct stat st;
    // The next journal being written when a crash came (always this album's own name).
    ::unlink(HiddenBeside(strJournalPath, kNewSuffix).c_str());
    if (::lstat(strJournalPath.c_str(), &st) != 0) return true;
    Journal journal;
    auto inFolder = [&](const std::string& strName) {
        return strFolder == "." && strBasePath.find('/') == std::string::npos ? strName
                                                                               : strFolder + "/" + strName;
    };
    auto refuse = [&](const std::string& strWhy) {
        *pError = strJournalPath + " holds an edit that was cut short, " + strWhy +
                  " Nothing was changed; the album cannot be opened or edited until the journal "
                  "and the files it names are put right by hand.";
        return false;
    };
    if (!ReadWhole(strJournalPath, &strText) || !journal.Parse(strText))
        return refuse("but it cannot be read.");

    if (journal.strKind == "undo") {
        // The renames were made in order and each takes a name that did not exist, so the
        // names present now tell how many were made: the state after k renames, replayed
        // from the names present before the first (a name the journal first mentions as a
        // source).
        const auto& moves = journal.moves;
        std::set<std::string> names, state;
        for (const auto& move : moves) {
            if (!names.count(move.first)) state.insert(move.first);
            names.insert(move.first);
            names.insert(move.second);
        }
        std::set<std::string> present;
        for (const std::string& str : names)
            if (::lstat(inFolder(str).c_str(), &st) == 0) present.insert(str);
        size_t nMade = moves.size() + 1;
        for (size_t k = 0; k <= moves.size(); ++k) {
            if (state == present) nMade = k;
            if (k == moves.size()) break;
            state.erase(moves[k].first);
            state.insert(moves[k].second);
        }
        // Files that match no state were changed by someone else since: leave everything,
        // the set-aside copies included, as it is.
        if (nMade > moves.size()) {
            std::string strNames;
            for (const std::string& str : names) strNames += (strNames.empty() ? "" : ", ") + inFolder(str);
            return refuse("but its files (" + strNames + ") have changed since.");
        }
        for (size_t k = nMade; k-- > 0;) {
            if (!RenameNew(inFolder(moves[k].second), inFolder(moves[k].first))) {
                return refuse("and " + inFolder(moves[k].second) + " cannot be renamed back to " +
                              inFolder(moves[k].first) + ": " + std::strerror(errno) + ".");
            }
        }
        SyncFolder(strFolder);
    }
    // Pending journals list the hidden files written so far, undo journals the new files
    // now back under their hidden names, done journals the set-aside copies.
    for (const std::string& str : journal.deletes) ::unlink(inFolder(str).c_str());
    ::unlink(strJournalPath.c_str());
    SyncFolder(strFolder);
    return true;
}

}  // namespace AlbumFiles
