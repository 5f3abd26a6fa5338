#include "album/Album.h"

#include "album/AlbumFiles.h"
#include "album/CueSheet.h"
#include "album/EditHistory.h"
#include "album/Snap.h"
#include "capture/WaveFile.h"

#include <sndfile.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

const int64_t kCopyFrames = 256 * 1024;  // frames per read while a file is rewritten
const int32_t kWriteBuffer = 1024 * 1024;

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...)
{
    char sz[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(sz, sizeof sz, format, args);
    va_end(args);
    return sz;
}

const char kLeftAsItWas[] = " Every file was left as it was.";

// "1 song", "3 songs".
std::string Songs(int32_t n) { return std::to_string(n) + (n == 1 ? " song" : " songs"); }

// The edits the history holds. Titles follow the songs (see CAlbum).
enum class EditKind { Move, Join, Split, Songs };
struct Edit {
    EditKind kind = EditKind::Move;
    int32_t k = 0;
    int64_t nBefore = 0;  // Move: the cut's old frame; Join: the cut removed
    int64_t nAfter = 0;   // Move: the cut's new frame; Split: the frame split at
    std::string strTitle; // Join: song k + 1's title; Split: the second half's title
    std::string strFirst; // Join: song k's title
    // Songs: the starts and titles before and after.
    std::vector<int64_t> startsBefore, startsAfter;
    std::vector<std::string> titlesBefore, titlesAfter;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// CAlbumLayout

int64_t CAlbumLayout::TotalFrames() const
{
    int64_t n = 0;
    for (const CAlbumSong& song : songs) n += song.nFrames;
    return n;
}

int64_t CAlbumLayout::SongStart(int32_t k) const
{
    int64_t n = 0;
    for (int32_t i = 1; i < k && i <= static_cast<int32_t>(songs.size()); ++i)
        n += songs[i - 1].nFrames;
    return n;
}

int32_t CAlbumLayout::SongAt(int64_t nFrame) const
{
    if (nFrame < 0) return 0;
    int64_t n = 0;
    for (size_t i = 0; i < songs.size(); ++i) {
        n += songs[i].nFrames;
        if (nFrame < n) return static_cast<int32_t>(i + 1);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// CAlbumReader

struct CAlbumReader::Impl {
    CAlbumLayout layout;
    std::vector<int64_t> starts;       // first frame of each song
    std::vector<SNDFILE*> files;       // opened on first use
    std::string strError;

    SNDFILE* File(size_t i)
    {
        if (files[i] == nullptr) {
            // The file must be the one the layout was made from: an edit of another
            // program since would otherwise mix two versions of the album.
            const std::string& strPath = layout.songs[i].strPath;
            struct stat st;
            int fd = AlbumFiles::OpenSongFile(strPath, &st, &strError);
            if (fd < 0) return nullptr;
            if (i < layout.stamps.size() && !layout.stamps[i].empty() &&
                AlbumFiles::Stamp(st) != layout.stamps[i]) {
                ::close(fd);
                strError = Printf("%s has changed since the album was opened: open it again.",
                                  strPath.c_str());
                return nullptr;
            }
            SF_INFO info{};
            files[i] = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
            if (files[i] == nullptr)
                strError = Printf("Cannot read %s: %s.", strPath.c_str(),
                                  AlbumFiles::Reason(sf_strerror(nullptr)).c_str());
        }
        return files[i];
    }

    // Calls fnRead(file, offset in song, frames, frames done so far) for each piece.
    template <typename Fn>
    int64_t Read(int64_t nFirst, int64_t nCount, Fn fnRead)
    {
        strError.clear();
        int64_t nDone = 0;
        if (nFirst < 0 || nCount <= 0) return 0;
        auto it = std::upper_bound(starts.begin(), starts.end(), nFirst);
        size_t i = it == starts.begin() ? 0 : static_cast<size_t>(it - starts.begin()) - 1;
        for (; i < layout.songs.size() && nDone < nCount; ++i) {
            int64_t nOffset = nFirst + nDone - starts[i];
            int64_t nAvail = layout.songs[i].nFrames - nOffset;
            if (nAvail <= 0) continue;
            int64_t nWant = std::min(nAvail, nCount - nDone);
            SNDFILE* pFile = File(i);
            if (pFile == nullptr) return nDone;
            if (sf_seek(pFile, nOffset, SEEK_SET) != nOffset) {
                strError = Printf("Cannot read %s: %s.", layout.songs[i].strPath.c_str(),
                                  AlbumFiles::Reason(sf_strerror(pFile)).c_str());
                return nDone;
            }
            int64_t nGot = fnRead(pFile, nWant, nDone);
            if (nGot > 0) nDone += nGot;
            if (nGot != nWant) {
                strError = Printf("Cannot read %s: it ended early or could not be read.",
                                  layout.songs[i].strPath.c_str());
                return nDone;
            }
        }
        return nDone;
    }
};

CAlbumReader::CAlbumReader(const CAlbumLayout& layout) : m_pImpl(new Impl)
{
    m_pImpl->layout = layout;
    int64_t n = 0;
    for (const CAlbumSong& song : layout.songs) {
        m_pImpl->starts.push_back(n);
        n += song.nFrames;
    }
    m_pImpl->files.assign(layout.songs.size(), nullptr);
}

CAlbumReader::~CAlbumReader()
{
    for (SNDFILE* p : m_pImpl->files)
        if (p != nullptr) sf_close(p);
}

int64_t CAlbumReader::ReadFloat(int64_t nFirst, int64_t nCount, float* pOut)
{
    const int64_t nChannels = m_pImpl->layout.format.nChannels;
    return m_pImpl->Read(nFirst, nCount, [&](SNDFILE* p, int64_t nWant, int64_t nDone) {
        return static_cast<int64_t>(sf_readf_float(p, pOut + nDone * nChannels, nWant));
    });
}

int64_t CAlbumReader::ReadRaw(int64_t nFirst, int64_t nCount, void* pOut)
{
    const int64_t nFrameBytes = m_pImpl->layout.format.BytesPerFrame();
    auto* pBytes = static_cast<uint8_t*>(pOut);
    return m_pImpl->Read(nFirst, nCount, [&](SNDFILE* p, int64_t nWant, int64_t nDone) {
        int64_t nGot = sf_read_raw(p, pBytes + nDone * nFrameBytes, nWant * nFrameBytes);
        return nGot < 0 ? int64_t(0) : nGot / nFrameBytes;
    });
}

const CAlbumLayout& CAlbumReader::GetLayout() const { return m_pImpl->layout; }
const std::string& CAlbumReader::GetErrorText() const { return m_pImpl->strError; }

// ---------------------------------------------------------------------------------------
// CAlbum

struct CAlbum::Impl {
    bool bOpen = false;
    CAlbumLayout layout;
    uint64_t nGeneration = 0;
    std::string strError;
    std::function<bool()> fnRecording;
    std::function<bool(const std::string&)> fnFault;
    CEditHistory<Edit> history;
    std::unique_ptr<AlbumFiles::FolderLock> pHeld;  // see Open(bHoldLock)
    bool bOwnerLocks = false;  // see SetOwnerHoldsLock()
    std::function<std::pair<std::string, std::string>(const CAlbumLayout&)> fnCompanion;

    // Writes the companion file for the layout `next` in the transaction; true when there
    // is none.
    bool AddCompanion(AlbumFiles::Transaction& tx, const CAlbumLayout& next)
    {
        if (!fnCompanion) return true;
        const std::pair<std::string, std::string> file = fnCompanion(next);
        if (!tx.NewText(file.first, file.second)) {
            strError = tx.GetErrorText();
            return false;
        }
        tx.PlaceNew(file.first, true);
        return true;
    }

    void TakeStamps()
    {
        layout.stamps.clear();
        for (const CAlbumSong& song : layout.songs)
            layout.stamps.push_back(AlbumFiles::PathStamp(song.strPath));
    }
    // Takes the folder's lock (unless Open() holds it), finishes or undoes an edit another
    // program left cut short, and checks that no recording runs and that the files are
    // those last read. The lock is held while *pLock lives.
    bool BeginEdit(std::unique_ptr<AlbumFiles::FolderLock>* pLock);
    bool CheckUnchanged();

    bool Step(const std::string& strStep)
    {
        if (fnFault && !fnFault(strStep)) {
            errno = EIO;
            return false;
        }
        return true;
    }

    std::vector<int64_t> Starts() const
    {
        std::vector<int64_t> v;
        int64_t n = 0;
        for (const CAlbumSong& song : layout.songs) {
            v.push_back(n);
            n += song.nFrames;
        }
        return v;
    }

    bool CheckRecording();
    bool Relayout(const std::vector<int64_t>& starts, const std::vector<std::string>& titles);
    bool SaveCue();
    bool Apply(const Edit& edit, bool bForward);
    bool Make(const Edit& edit);
};

// Edits work from what the album read when it was opened or last edited; another program
// (the recorder adding a song, cadenzo-album beside the window) may have changed the files
// since, and an edit on top of that would mix songs up.
bool CAlbum::Impl::CheckUnchanged()
{
    for (size_t i = 0; i < layout.songs.size(); ++i) {
        const std::string strStamp = AlbumFiles::PathStamp(layout.songs[i].strPath);
        if (i < layout.stamps.size() && strStamp == layout.stamps[i]) continue;
        strError = Printf(strStamp.empty() ? "Cannot find %s: it was moved or deleted since the "
                                             "album was opened."
                                           : "%s has changed since the album was opened: open it "
                                             "again.",
                          layout.songs[i].strPath.c_str());
        return false;
    }
    const std::string strNext = AlbumFiles::SongPath(
        layout.strBasePath, static_cast<int32_t>(layout.songs.size() + 1));
    struct stat st;
    const bool bLeftover =
        std::find(layout.leftovers.begin(), layout.leftovers.end(), strNext) != layout.leftovers.end();
    if (!bLeftover && ::lstat(strNext.c_str(), &st) == 0) {
        strError = Printf("%s has appeared since the album was opened: open it again.",
                          strNext.c_str());
        return false;
    }
    return true;
}

bool CAlbum::Impl::CheckRecording()
{
    const std::string& strBase = layout.strBasePath;
    if (fnRecording && fnRecording()) {
        strError = Printf("%s is being recorded: its songs cannot be edited until the "
                          "recording stops.", strBase.c_str());
        return false;
    }
    for (const CAlbumSong& song : layout.songs) {
        if (AlbumFiles::IsLockedForRecording(song.strPath)) {
            strError = Printf("%s is being recorded: its songs cannot be edited until the "
                              "recording stops.", song.strPath.c_str());
            return false;
        }
    }
    return CheckUnchanged();
}

bool CAlbum::Impl::BeginEdit(std::unique_ptr<AlbumFiles::FolderLock>* pLock)
{
    if (!pHeld && !bOwnerLocks) pLock->reset(new AlbumFiles::FolderLock(layout.strBasePath, true));
    if (*pLock && (*pLock)->WasInterrupted()) {
        strError = AlbumFiles::StoppedWaitingText(layout.strBasePath) + kLeftAsItWas;
        return false;
    }
    if (!AlbumFiles::Recover(layout.strBasePath, &strError)) return false;
    return CheckRecording();
}

// Brings the files from the current layout to songs starting at `starts` (the last one
// ending at the end of the recording) with the given titles. Songs whose range exists
// already keep their file (renamed when their number changes); the others are written.
bool CAlbum::Impl::Relayout(const std::vector<int64_t>& starts,
                            const std::vector<std::string>& titles)
{
    const std::vector<int64_t> oldStarts = Starts();
    const int64_t nTotal = layout.TotalFrames();
    const size_t nOld = oldStarts.size();
    const size_t nNew = starts.size();
    auto oldEnd = [&](size_t j) { return j + 1 < nOld ? oldStarts[j + 1] : nTotal; };
    auto newEnd = [&](size_t i) { return i + 1 < nNew ? starts[i + 1] : nTotal; };

    // Which old song each new song is, if any.
    std::vector<int> from(nNew, -1);
    std::vector<bool> kept(nOld, false);  // old file j stays where it is
    for (size_t i = 0; i < nNew; ++i) {
        auto it = std::lower_bound(oldStarts.begin(), oldStarts.end(), starts[i]);
        if (it != oldStarts.end() && *it == starts[i]) {
            size_t j = static_cast<size_t>(it - oldStarts.begin());
            if (oldEnd(j) == newEnd(i)) {
                from[i] = static_cast<int>(j);
                if (j == i) kept[j] = true;
            }
        }
    }

    AlbumFiles::Transaction tx(layout.strBasePath,
                               [this](const std::string& s) { return Step(s); });
    CAlbumReader reader(layout);
    std::vector<uint8_t> buffer(static_cast<size_t>(kCopyFrames * layout.format.BytesPerFrame()));

    // Files an earlier take left after the songs are not this album's to replace.
    for (size_t i = nOld; i < nNew; ++i) {
        const std::string strName = AlbumFiles::SongPath(layout.strBasePath, static_cast<int32_t>(i + 1));
        if (std::find(layout.leftovers.begin(), layout.leftovers.end(), strName) == layout.leftovers.end())
            continue;
        strError = Printf("Song %d would take the name %s, which holds a song of an earlier "
                          "recording under this name: move that file away first.%s",
                          static_cast<int>(i + 1), strName.c_str(), kLeftAsItWas);
        return false;
    }

    // A WAV file cannot hold more than about 4 GiB: say so before writing anything.
    const int64_t nMaxFrames = CWaveFile().GetMaxDataBytes() / layout.format.BytesPerFrame();
    for (size_t i = 0; i < nNew; ++i) {
        if (newEnd(i) - starts[i] <= nMaxFrames) continue;
        strError = Printf("The new %s would be %.1f GiB, but a WAV file holds at most 4 GiB: join "
                          "fewer songs, or export them instead.%s",
                          AlbumFiles::SongPath(layout.strBasePath, static_cast<int32_t>(i + 1)).c_str(),
                          static_cast<double>((newEnd(i) - starts[i]) * layout.format.BytesPerFrame()) /
                              (1024.0 * 1024.0 * 1024.0),
                          kLeftAsItWas);
        return false;
    }

    // Write the songs that are new.
    std::vector<CAlbumSong> songs(nNew);
    for (size_t i = 0; i < nNew; ++i) {
        songs[i].strPath = AlbumFiles::SongPath(layout.strBasePath, static_cast<int32_t>(i + 1));
        songs[i].nFrames = newEnd(i) - starts[i];
        songs[i].strTitle = i < titles.size() ? titles[i] : std::string();
        if (from[i] >= 0) continue;
        std::string strTemp = tx.NewFile(songs[i].strPath);
        CWaveFile writer;
        writer.SetFileName(strTemp.c_str());
        if (!Step("write " + songs[i].strPath)) {
            strError = Printf("Cannot write the new %s: %s.%s", songs[i].strPath.c_str(),
                              std::strerror(errno), kLeftAsItWas);
            return false;
        }
        errno = 0;
        writer.Create();
        int nErrno = errno;
        if (!writer.HasError())
            writer.WriteHeader(static_cast<int16_t>(layout.format.nBits), layout.format.nRate,
                               static_cast<int16_t>(layout.format.nChannels), kWriteBuffer);
        for (int64_t nAt = starts[i]; !writer.HasError() && nAt < newEnd(i);) {
            int64_t nWant = std::min(kCopyFrames, newEnd(i) - nAt);
            int64_t nGot = reader.ReadRaw(nAt, nWant, buffer.data());
            if (nGot != nWant) {
                strError = reader.GetErrorText() + kLeftAsItWas;
                return false;
            }
            errno = 0;
            writer.Write(buffer.data(), static_cast<int32_t>(nGot * layout.format.BytesPerFrame()));
            nErrno = errno;
            if (writer.HasError()) break;
            nAt += nGot;
        }
        if (!writer.HasError()) {
            errno = 0;
            writer.Close();
            nErrno = errno;
        }
        if (writer.HasError()) {
            strError = Printf("Cannot write the new %s: %s.%s", songs[i].strPath.c_str(),
                              std::strerror(nErrno ? nErrno : EIO), kLeftAsItWas);
            return false;
        }
        if (!tx.Sync(strTemp, songs[i].strPath)) {
            strError = tx.GetErrorText() + kLeftAsItWas;
            return false;
        }
    }

    CAlbumLayout next = layout;
    next.songs = songs;
    std::string strCue = CueSheet::Write(next);
    if (!tx.NewText(CueSheet::PathFor(layout.strBasePath), strCue)) {
        strError = tx.GetErrorText() + kLeftAsItWas;
        return false;
    }

    // Put everything in place: old files that change move aside, then the new and the
    // renumbered ones take their names.
    for (size_t j = 0; j < nOld; ++j)
        if (!kept[j]) tx.Replace(AlbumFiles::SongPath(layout.strBasePath, static_cast<int32_t>(j + 1)));
    for (size_t i = 0; i < nNew; ++i) {
        if (from[i] >= 0 && static_cast<size_t>(from[i]) == i) continue;
        if (from[i] >= 0)
            tx.MoveOld(AlbumFiles::SongPath(layout.strBasePath, from[i] + 1), songs[i].strPath);
        else
            tx.PlaceNew(songs[i].strPath);
    }
    tx.PlaceNew(CueSheet::PathFor(layout.strBasePath), true);
    if (!AddCompanion(tx, next)) {
        strError += kLeftAsItWas;
        return false;
    }
    if (!tx.Commit()) {
        strError = tx.GetErrorText() + kLeftAsItWas;
        return false;
    }
    layout.songs = songs;
    TakeStamps();
    ++nGeneration;
    return true;
}

bool CAlbum::Impl::SaveCue()
{
    std::unique_ptr<AlbumFiles::FolderLock> lock;
    if (!BeginEdit(&lock)) return false;
    AlbumFiles::Transaction tx(layout.strBasePath,
                               [this](const std::string& s) { return Step(s); });
    const std::string strCuePath = CueSheet::PathFor(layout.strBasePath);
    if (!tx.NewText(strCuePath, CueSheet::Write(layout))) {
        strError = tx.GetErrorText();
        return false;
    }
    tx.PlaceNew(strCuePath, true);
    if (!AddCompanion(tx, layout)) return false;
    if (!tx.Commit()) {
        strError = tx.GetErrorText();
        return false;
    }
    return true;
}

// Applies an edit (bForward) or its inverse.
bool CAlbum::Impl::Apply(const Edit& edit, bool bForward)
{
    std::vector<int64_t> starts = Starts();
    std::vector<std::string> titles;
    for (const CAlbumSong& song : layout.songs) titles.push_back(song.strTitle);
    if (edit.kind == EditKind::Songs)
        return Relayout(bForward ? edit.startsAfter : edit.startsBefore,
                        bForward ? edit.titlesAfter : edit.titlesBefore);
    const size_t k = static_cast<size_t>(edit.k);
    bool bSplit = (edit.kind == EditKind::Split) == bForward;
    if (edit.kind == EditKind::Move) {
        starts[k] = bForward ? edit.nAfter : edit.nBefore;
    } else if (bSplit) {
        int64_t nAt = edit.kind == EditKind::Split ? edit.nAfter : edit.nBefore;
        starts.insert(starts.begin() + static_cast<long>(k), nAt);
        titles.insert(titles.begin() + static_cast<long>(k), edit.strTitle);
        if (edit.kind == EditKind::Join) titles[k - 1] = edit.strFirst;
    } else {
        // A joined song keeps the first song's title, or the second's when it has none.
        std::string strSecond = titles[k];
        starts.erase(starts.begin() + static_cast<long>(k));
        titles.erase(titles.begin() + static_cast<long>(k));
        if (edit.kind == EditKind::Join && titles[k - 1].empty()) titles[k - 1] = strSecond;
    }
    return Relayout(starts, titles);
}

// Makes a new edit under the folder's lock; once it is in place, Undo can take it back.
bool CAlbum::Impl::Make(const Edit& edit)
{
    std::unique_ptr<AlbumFiles::FolderLock> lock;
    if (!BeginEdit(&lock) || !Apply(edit, true)) return false;
    history.Add(edit);
    return true;
}

CAlbum::CAlbum() : m_pImpl(new Impl) {}
CAlbum::~CAlbum() = default;

bool CAlbum::Open(const std::string& strBasePath, bool bHoldLock)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    d.pHeld.reset();
    // Read under the folder's lock, so that an edit of another program is either wholly
    // before or wholly after; exclusive only to finish or undo an edit a crash cut short.
    std::unique_ptr<AlbumFiles::FolderLock> pLock;
    if (!d.bOwnerLocks) pLock = std::make_unique<AlbumFiles::FolderLock>(strBasePath, bHoldLock);
    struct stat st;
    if (pLock && !bHoldLock && ::lstat(AlbumFiles::JournalPath(strBasePath).c_str(), &st) == 0) {
        pLock.reset();
        pLock = std::make_unique<AlbumFiles::FolderLock>(strBasePath, true);
    }
    if (pLock && pLock->WasInterrupted()) {
        d.strError = AlbumFiles::StoppedWaitingText(strBasePath);
        return false;
    }
    if (!AlbumFiles::Recover(strBasePath, &d.strError)) return false;
    CAlbumLayout layout;
    if (!AlbumFiles::OpenSongs(strBasePath, &layout, &d.strError)) return false;
    std::string strCueError;
    CueSheet::Read(CueSheet::PathFor(strBasePath), &layout, &strCueError);
    d.layout = layout;
    d.bOpen = true;
    d.history.Clear();
    ++d.nGeneration;
    if (bHoldLock && pLock) d.pHeld = std::move(pLock);
    return true;
}

bool CAlbum::OpenRecorded(const std::string& strBasePath, const std::vector<std::string>& paths)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    d.pHeld.reset();
    CAlbumLayout layout;
    if (!AlbumFiles::OpenFiles(strBasePath, paths, &layout, &d.strError)) return false;
    d.layout = layout;
    d.TakeStamps();
    d.bOpen = true;
    d.history.Clear();
    ++d.nGeneration;
    return true;
}

bool CAlbum::IsOpen() const { return m_pImpl->bOpen; }
const std::string& CAlbum::GetBasePath() const { return m_pImpl->layout.strBasePath; }
const CAlbumFormat& CAlbum::GetFormat() const { return m_pImpl->layout.format; }
int32_t CAlbum::GetSongCount() const { return static_cast<int32_t>(m_pImpl->layout.songs.size()); }
const std::vector<CAlbumSong>& CAlbum::GetSongs() const { return m_pImpl->layout.songs; }
const CAlbumInfo& CAlbum::GetInfo() const { return m_pImpl->layout.info; }
int64_t CAlbum::GetTotalFrames() const { return m_pImpl->layout.TotalFrames(); }
int64_t CAlbum::GetSongStart(int32_t k) const { return m_pImpl->layout.SongStart(k); }
CAlbumLayout CAlbum::GetLayout() const { return m_pImpl->layout; }
uint64_t CAlbum::GetGeneration() const { return m_pImpl->nGeneration; }
const std::string& CAlbum::GetErrorText() const { return m_pImpl->strError; }

void CAlbum::SetRecordingCheck(std::function<bool()> fnIsRecording)
{
    m_pImpl->fnRecording = std::move(fnIsRecording);
}

void CAlbum::SetCompanion(std::function<std::pair<std::string, std::string>(const CAlbumLayout&)> fnText)
{
    m_pImpl->fnCompanion = std::move(fnText);
}

void CAlbum::SetOwnerHoldsLock(bool bHolds) { m_pImpl->bOwnerLocks = bHolds; }

void CAlbum::SetFaultHook(std::function<bool(const std::string&)> fnStep)
{
    m_pImpl->fnFault = std::move(fnStep);
}

bool CAlbum::MoveCut(int32_t k, int64_t nFrame)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int32_t nSongs = GetSongCount();
    if (!d.bOpen || k < 1 || k >= nSongs) {
        d.strError = Printf("There is no cut %d: the album has %s.", k, Songs(nSongs).c_str());
        return false;
    }
    const int64_t nLow = GetSongStart(k), nHigh = GetSongStart(k + 2);
    if (nFrame <= nLow || nFrame >= nHigh) {
        d.strError = Printf("Cut %d can only move inside songs %d and %d.", k, k, k + 1);
        return false;
    }
    const int64_t nOld = GetSongStart(k + 1);
    if (nFrame == nOld) return true;
    return d.Make(Edit{EditKind::Move, k, nOld, nFrame, {}, {}, {}, {}, {}, {}});
}

bool CAlbum::Join(int32_t k)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int32_t nSongs = GetSongCount();
    if (!d.bOpen || k < 1 || k >= nSongs) {
        d.strError = Printf("Cannot join song %d with the next: the album has %s.", k,
                            Songs(nSongs).c_str());
        return false;
    }
    return d.Make(Edit{EditKind::Join, k, GetSongStart(k + 1), 0,
                       d.layout.songs[static_cast<size_t>(k)].strTitle,
                       d.layout.songs[static_cast<size_t>(k - 1)].strTitle,
                       {}, {}, {}, {}});
}

bool CAlbum::Split(int32_t k, int64_t nFrame)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int32_t nSongs = GetSongCount();
    if (!d.bOpen || k < 1 || k > nSongs) {
        d.strError = Printf("There is no song %d: the album has %s.", k, Songs(nSongs).c_str());
        return false;
    }
    if (nFrame <= GetSongStart(k) || nFrame >= GetSongStart(k + 1)) {
        d.strError = Printf("Song %d can only be split inside it.", k);
        return false;
    }
    return d.Make(Edit{EditKind::Split, k, 0, nFrame, {}, {}, {}, {}, {}, {}});
}

bool CAlbum::SetSongs(const std::vector<int64_t>& starts, const std::vector<std::string>& titles)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int64_t nTotal = GetTotalFrames();
    bool bValid = d.bOpen && !starts.empty() && starts[0] == 0 && titles.size() == starts.size();
    for (size_t i = 1; bValid && i < starts.size(); ++i) bValid = starts[i] > starts[i - 1] && starts[i] < nTotal;
    if (!bValid) {
        d.strError = "The new songs must each start after the one before, inside the recording.";
        return false;
    }
    Edit edit;
    edit.kind = EditKind::Songs;
    edit.startsBefore = d.Starts();
    for (const CAlbumSong& song : d.layout.songs) edit.titlesBefore.push_back(song.strTitle);
    edit.startsAfter = starts;
    for (const std::string& strTitle : titles) edit.titlesAfter.push_back(CueSheet::Clean(strTitle));
    if (edit.startsAfter == edit.startsBefore && edit.titlesAfter == edit.titlesBefore) return true;
    return d.Make(edit);
}

bool CAlbum::CanUndo() const { return m_pImpl->history.CanUndo(); }
bool CAlbum::CanRedo() const { return m_pImpl->history.CanRedo(); }

bool CAlbum::Undo()
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    return d.history.Undo(&d.strError, [&d](Edit& edit) {
        std::unique_ptr<AlbumFiles::FolderLock> lock;
        if (!d.BeginEdit(&lock)) return false;
        // The second half of a split keeps the title it was given, for a redo.
        if (edit.kind == EditKind::Split)
            edit.strTitle = d.layout.songs[static_cast<size_t>(edit.k)].strTitle;
        // Titles given since the songs were set go back with them on a redo.
        if (edit.kind == EditKind::Songs) {
            edit.titlesAfter.clear();
            for (const CAlbumSong& song : d.layout.songs) edit.titlesAfter.push_back(song.strTitle);
        }
        return d.Apply(edit, false);
    });
}

bool CAlbum::Redo()
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    return d.history.Redo(&d.strError, [&d](Edit& edit) {
        std::unique_ptr<AlbumFiles::FolderLock> lock;
        if (!d.BeginEdit(&lock)) return false;
        if (edit.kind == EditKind::Songs) {
            edit.titlesBefore.clear();
            for (const CAlbumSong& song : d.layout.songs) edit.titlesBefore.push_back(song.strTitle);
        }
        if (edit.kind == EditKind::Join) {
            edit.strTitle = d.layout.songs[static_cast<size_t>(edit.k)].strTitle;
            edit.strFirst = d.layout.songs[static_cast<size_t>(edit.k - 1)].strTitle;
        }
        return d.Apply(edit, true);
    });
}

bool CAlbum::SetTitle(int32_t k, const std::string& strTitle)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (!d.bOpen || k < 1 || k > GetSongCount()) {
        d.strError = Printf("There is no song %d: the album has %s.", k, Songs(GetSongCount()).c_str());
        return false;
    }
    std::string strOld = d.layout.songs[static_cast<size_t>(k - 1)].strTitle;
    d.layout.songs[static_cast<size_t>(k - 1)].strTitle = CueSheet::Clean(strTitle);
    if (!d.SaveCue()) {
        d.layout.songs[static_cast<size_t>(k - 1)].strTitle = strOld;
        return false;
    }
    ++d.nGeneration;
    return true;
}

bool CAlbum::SetInfo(const CAlbumInfo& info)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (!d.bOpen) {
        d.strError = "No album is open.";
        return false;
    }
    CAlbumInfo old = d.layout.info;
    d.layout.info = CueSheet::Clean(info);
    if (!d.SaveCue()) {
        d.layout.info = old;
        return false;
    }
    ++d.nGeneration;
    return true;
}

int64_t CAlbum::FindSnap(int64_t nFrame, double fSeconds, int64_t nLow, int64_t nHigh)
{
    return Snap::Find(m_pImpl->layout, nFrame, fSeconds, nLow, nHigh);
}
