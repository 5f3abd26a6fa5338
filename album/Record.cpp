#include "album/Record.h"

#include "album/AlbumFiles.h"
#include "album/CueSheet.h"
#include "album/EditHistory.h"
#include "album/Snap.h"

#include <libcue.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The first line of a record file, and the remarks that name its sides, cover and
// numbering; players pass over them.
const char kRecordRem[] = "REM CADENZO_RECORD 1";
const char kSideRem[] = "REM CADENZO_SIDE";    // REM CADENZO_SIDE <disc> <base file name>
const char kCoverRem[] = "REM CADENZO_COVER";  // REM CADENZO_COVER <path>
const char kVinylRem[] = "REM CADENZO_VINYL 1";
const int kMaxTracks = 99;  // what a cue sheet can number; the sides' own remarks hold the rest

std::string Quoted(const std::string& strText) { return CueSheet::QuotedText(strText); }

std::string Songs(int32_t n) { return std::to_string(n) + (n == 1 ? " song" : " songs"); }

std::string FolderOf(const std::string& strPath)
{
    std::error_code ec;
    fs::path folder = fs::path(strPath).parent_path();
    if (folder.empty()) folder = ".";
    fs::path canon = fs::weakly_canonical(folder, ec);
    return ec ? fs::absolute(folder).lexically_normal().string() : canon.string();
}

bool ReadText(const std::string& strPath, std::string* pText)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) return false;
    std::stringstream text;
    text << in.rdbuf();
    *pText = text.str();
    return !in.bad();
}

struct FileSide {
    std::string strName;  // base file name, in the record's folder
    int32_t nDisc = 0;
};

// What a record file's remarks say: the sides, the cover, the numbering.
struct FileContents {
    std::vector<FileSide> sides;
    std::string strCover;
    bool bVinyl = false;
    CAlbumInfo info;
};

bool Parse(const std::string& strText, FileContents* pContents)
{
    if (strText.compare(0, sizeof kRecordRem - 1, kRecordRem) != 0) return false;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);) {
        std::istringstream words(strLine);
        std::string strRem, strKey;
        words >> strRem >> strKey;
        if (strRem != "REM") continue;
        if (strKey == kSideRem + 4) {
            FileSide side;
            std::string strName;
            if (words >> side.nDisc >> strName) {
                side.strName = CueSheet::Decode(strName);
                pContents->sides.push_back(side);
            }
        } else if (strKey == kCoverRem + 4) {
            std::string strPath;
            if (words >> strPath) pContents->strCover = CueSheet::Decode(strPath);
        } else if (strLine.compare(0, sizeof kVinylRem - 1, kVinylRem) == 0) {
            pContents->bVinyl = true;
        }
    }
    // The album's data as every player reads them; from the lines themselves when the
    // sheet names no tracks (libcue reads none then).
    pContents->info = {CueSheet::AlbumLine(strText, "TITLE"), CueSheet::AlbumLine(strText, "PERFORMER"),
                       CueSheet::AlbumLine(strText, "REM DATE")};
    Cd* pCd = strText.find("\nFILE ") == std::string::npos ? nullptr : cue_parse_string(strText.c_str());
    if (pCd != nullptr) {
        auto text = [](const char* sz) { return sz == nullptr ? std::string() : std::string(sz); };
        if (Cdtext* pCdText = cd_get_cdtext(pCd)) {
            pContents->info.strAlbum = text(cdtext_get(PTI_TITLE, pCdText));
            pContents->info.strArtist = text(cdtext_get(PTI_PERFORMER, pCdText));
        }
        if (Rem* pRem = cd_get_rem(pCd)) pContents->info.strYear = text(rem_get(REM_DATE, pRem));
        cd_delete(pCd);
    }
    return !pContents->sides.empty();
}

}  // namespace

struct CRecord::Impl {
    struct Side {
        std::unique_ptr<CAlbum> pAlbum;
        int32_t nDisc = 0;
    };
    CRecord* pOwner = nullptr;
    bool bOpen = false;
    std::string strPath;
    std::vector<Side> sides;
    CAlbumInfo info;
    std::string strCover;
    bool bVinyl = false;
    CAlbumLayout layout;            // every side's songs, one after another
    std::vector<int32_t> firsts;    // per side: the record's number of its first song
    std::vector<int64_t> starts;    // per side: its first frame in the record
    uint64_t nGeneration = 0;
    std::string strError;
    CEditHistory<int32_t> history;  // the side of each edit, in order
    std::function<bool()> fnRecording;
    std::function<bool(const std::string&)> fnFault;
    std::unique_ptr<AlbumFiles::FolderLock> pHeld;

    void Rebuild();
    std::unique_ptr<CAlbum> NewSide(const std::string& strBase);
    void Companions();
    bool WriteFile();
    bool CheckFolder(const std::string& strBase);
    bool Sided(int32_t nSide, bool bOk);
    bool Rebuilt(int32_t nSide, bool bOk);
    int32_t SideOf(int32_t k) const
    {
        for (size_t s = sides.size(); s-- > 0;)
            if (k >= firsts[s]) return static_cast<int32_t>(s);
        return -1;
    }
    // ": the album has " (one side) or ": the record has ", before a count of songs.
    std::string Has() const { return sides.size() > 1 ? ": the record has " : ": the album has "; }
    bool EndsSide(int32_t k) const
    {
        const int32_t s = SideOf(k);
        return s >= 0 && k == firsts[static_cast<size_t>(s)] + sides[static_cast<size_t>(s)].pAlbum->GetSongCount() - 1;
    }
};

void CRecord::Impl::Rebuild()
{
    CAlbumLayout all;
    all.info = info;
    firsts.clear();
    starts.clear();
    int64_t nFrame = 0;
    for (size_t s = 0; s < sides.size(); ++s) {
        const CAlbumLayout side = sides[s].pAlbum->GetLayout();
        if (s == 0) {
            all.strBasePath = side.strBasePath;
            all.format = side.format;
        }
        firsts.push_back(static_cast<int32_t>(all.songs.size() + 1));
        if (sides.size() > 1) all.sideFirsts.push_back(firsts.back());
        starts.push_back(nFrame);
        for (size_t i = 0; i < side.songs.size(); ++i) {
            CAlbumSong song = side.songs[i];
            song.nDisc = sides[s].nDisc;
            song.strPlace = bVinyl ? SideName(static_cast<int32_t>(s)) + std::to_string(i + 1) : std::string();
            all.songs.push_back(song);
            all.stamps.push_back(i < side.stamps.size() ? side.stamps[i] : std::string());
            nFrame += song.nFrames;
        }
        all.leftovers.insert(all.leftovers.end(), side.leftovers.begin(), side.leftovers.end());
        all.nDiscs = std::max(all.nDiscs, sides[s].nDisc);
    }
    if (sides.size() == 1) all.strTake = sides[0].pAlbum->GetLayout().strTake;
    layout = all;
    ++nGeneration;
}

std::unique_ptr<CAlbum> CRecord::Impl::NewSide(const std::string& strBase)
{
    auto pAlbum = std::make_unique<CAlbum>();
    pAlbum->SetOwnerHoldsLock(pHeld != nullptr);
    if (!pAlbum->Open(strBase)) {
        strError = pAlbum->GetErrorText();
        return nullptr;
    }
    pAlbum->SetRecordingCheck(fnRecording);
    pAlbum->SetFaultHook(fnFault);
    return pAlbum;
}

// Every edit and title of a side rewrites the record file in the side's own transaction.
void CRecord::Impl::Companions()
{
    for (Side& side : sides) {
        CAlbum* pAlbum = side.pAlbum.get();
        if (strPath.empty()) {
            pAlbum->SetCompanion({});
            continue;
        }
        pAlbum->SetCompanion([this, pAlbum](const CAlbumLayout& next) {
            int32_t nSide = -1;
            for (size_t s = 0; s < sides.size(); ++s)
                if (sides[s].pAlbum.get() == pAlbum) nSide = static_cast<int32_t>(s);
            return std::make_pair(strPath, pOwner->FileText(nSide, &next));
        });
    }
}

// The record file on its own, as one step.
bool CRecord::Impl::WriteFile()
{
    if (strPath.empty()) return true;
    std::unique_ptr<AlbumFiles::FolderLock> pLock;
    if (!pHeld) pLock = std::make_unique<AlbumFiles::FolderLock>(strPath, true);
    if (pLock && pLock->WasInterrupted()) {
        strError = AlbumFiles::StoppedWaitingText(strPath);
        return false;
    }
    if (!AlbumFiles::Recover(strPath, &strError)) return false;
    // A write that fails puts the old file back: the record stays as it was, in memory too.
    AlbumFiles::Transaction tx(strPath, [this](const std::string& s) { return !fnFault || fnFault(s); });
    bool bOk = tx.NewText(strPath, pOwner->FileText());
    if (bOk) {
        tx.PlaceNew(strPath, true);
        bOk = tx.Commit();
    }
    if (!bOk) strError = tx.GetErrorText() + " The record was left as it was.";
    return bOk;
}

// The record file names its sides by file name: they share its folder (and so its lock and
// the edit that rewrites it with theirs).
bool CRecord::Impl::CheckFolder(const std::string& strBase)
{
    if (strPath.empty() || FolderOf(strBase) == FolderOf(strPath)) return true;
    strError = strBase + " is not in the folder of the record " + strPath +
               ": the sides of a record are kept beside its record file.";
    return false;
}

// After an edit of side nSide: its place in the history.
bool CRecord::Impl::Sided(int32_t nSide, bool bOk)
{
    if (bOk) history.Add(nSide);
    return Rebuilt(nSide, bOk);
}

// After a change of side nSide (an edit, its undo, a title): the side's text when it failed,
// and the record's songs as the side has them now either way (a title may have been
// cleaned, files may have changed names).
bool CRecord::Impl::Rebuilt(int32_t nSide, bool bOk)
{
    if (!bOk) strError = sides[static_cast<size_t>(nSide)].pAlbum->GetErrorText();
    Rebuild();
    return bOk;
}

CRecord::CRecord() : m_pImpl(new Impl) { m_pImpl->pOwner = this; }
CRecord::~CRecord() = default;

std::string CRecord::SideName(int32_t nSide)
{
    if (nSide >= 0 && nSide < 26) return std::string(1, static_cast<char>('A' + nSide));
    return std::to_string(nSide + 1);
}

bool CRecord::IsRecordFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::string strLine;
    return in && std::getline(in, strLine) && strLine.compare(0, sizeof kRecordRem - 1, kRecordRem) == 0;
}

std::string CRecord::FindFor(const std::string& strBasePath)
{
    std::error_code ec;
    const fs::path base(strBasePath);
    const fs::path folder = base.parent_path().empty() ? fs::path(".") : base.parent_path();
    const std::string strName = base.filename().string();
    std::vector<std::string> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.extension() != ".cue" || !IsRecordFile(path.string())) continue;
        std::string strText;
        FileContents contents;
        if (!ReadText(path.string(), &strText) || !Parse(strText, &contents)) continue;
        for (const FileSide& side : contents.sides)
            if (side.strName == strName) found.push_back(base.parent_path().empty() ? path.filename().string() : path.string());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}

std::string CRecord::DefaultPath(const std::string& strFirstBase)
{
    std::string strStem = CueSheet::PathFor(strFirstBase);
    return strStem.substr(0, strStem.size() - 4) + " record.cue";
}

bool CRecord::Open(const std::string& strRecordPath, bool bHoldLock)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    std::string strText;
    FileContents contents;
    {
        // Finish or undo a change of the record file that a crash cut short.
        struct stat st;
        std::unique_ptr<AlbumFiles::FolderLock> pLock;
        if (bHoldLock || ::lstat(AlbumFiles::JournalPath(strRecordPath).c_str(), &st) == 0)
            pLock = std::make_unique<AlbumFiles::FolderLock>(strRecordPath, true);
        if (pLock && pLock->WasInterrupted()) {
            d.strError = AlbumFiles::StoppedWaitingText(strRecordPath);
            return false;
        }
        if (pLock && !AlbumFiles::Recover(strRecordPath, &d.strError)) return false;
        if (!ReadText(strRecordPath, &strText)) {
            d.strError = "Cannot read the record " + strRecordPath + ".";
            return false;
        }
        if (!Parse(strText, &contents)) {
            d.strError = strRecordPath + " is not a record file of this program: it names no sides.";
            return false;
        }
        if (bHoldLock) {
            d.pHeld = std::move(pLock);
        }
    }
    const fs::path folder = fs::path(strRecordPath).parent_path();
    std::vector<std::string> bases;
    for (const FileSide& side : contents.sides)
        bases.push_back(folder.empty() ? side.strName : (folder / side.strName).string());
    d.strPath.clear();
    if (!OpenSides(bases, {}, bHoldLock)) return false;
    for (size_t s = 0; s < d.sides.size() && s < contents.sides.size(); ++s) d.sides[s].nDisc = contents.sides[s].nDisc;
    d.strPath = strRecordPath;
    d.strCover = contents.strCover;
    d.bVinyl = contents.bVinyl;
    d.info = contents.info;
    d.Companions();
    d.Rebuild();
    return true;
}

bool CRecord::OpenSides(const std::vector<std::string>& bases, const std::string& strRecordPath, bool bHoldLock)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (bases.empty()) {
        d.strError = "A record needs at least one side.";
        return false;
    }
    if (bHoldLock && !d.pHeld) {
        d.pHeld = std::make_unique<AlbumFiles::FolderLock>(bases[0], true);
        if (d.pHeld->WasInterrupted()) {
            d.pHeld.reset();
            d.strError = AlbumFiles::StoppedWaitingText(bases[0]);
            return false;
        }
    }
    if (!bHoldLock) d.pHeld.reset();
    d.bOpen = false;
    d.sides.clear();
    d.history.Clear();
    d.strPath = strRecordPath;
    d.strCover.clear();
    d.bVinyl = false;
    for (const std::string& strBase : bases) {
        if (!AddSide(strBase)) {
            d.sides.clear();
            d.strPath.clear();
            d.Rebuild();
            return false;
        }
    }
    d.info = d.sides[0].pAlbum->GetInfo();
    d.bOpen = true;
    d.Rebuild();
    return d.WriteFile();
}

bool CRecord::OpenRecorded(const std::string& strBasePath, const std::vector<std::string>& paths)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    auto pAlbum = std::make_unique<CAlbum>();
    if (!pAlbum->OpenRecorded(strBasePath, paths)) {
        d.strError = pAlbum->GetErrorText();
        return false;
    }
    pAlbum->SetRecordingCheck(d.fnRecording);
    d.pHeld.reset();
    d.sides.clear();
    d.sides.push_back({std::move(pAlbum), 0});
    d.history.Clear();
    d.strPath.clear();
    d.strCover.clear();
    d.bVinyl = false;
    d.info = d.sides[0].pAlbum->GetInfo();
    d.bOpen = true;
    d.Rebuild();
    return true;
}

bool CRecord::IsOpen() const { return m_pImpl->bOpen; }
const std::string& CRecord::GetPath() const { return m_pImpl->strPath; }

bool CRecord::SetPath(const std::string& strPath)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const std::string strOld = d.strPath;
    d.strPath = strPath;
    for (const Impl::Side& side : d.sides) {
        if (!d.CheckFolder(side.pAlbum->GetBasePath()) || !d.WriteFile()) {
            d.strPath = strOld;
            return false;
        }
        break;  // every side shares the first one's folder
    }
    d.Companions();
    return true;
}

int32_t CRecord::GetSideCount() const { return static_cast<int32_t>(m_pImpl->sides.size()); }
CAlbum& CRecord::GetSide(int32_t nSide) { return *m_pImpl->sides[static_cast<size_t>(nSide)].pAlbum; }
int32_t CRecord::GetSideOf(int32_t nSong) const
{
    return nSong < 1 || nSong > GetSongCount() ? -1 : m_pImpl->SideOf(nSong);
}
int32_t CRecord::GetFirstSong(int32_t nSide) const { return m_pImpl->firsts[static_cast<size_t>(nSide)]; }
int64_t CRecord::GetSideStart(int32_t nSide) const { return m_pImpl->starts[static_cast<size_t>(nSide)]; }

bool CRecord::AddSide(const std::string& strBasePath)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    std::error_code ec;
    const fs::path canon = fs::weakly_canonical(strBasePath, ec);
    for (const Impl::Side& side : d.sides) {
        if (fs::weakly_canonical(side.pAlbum->GetBasePath(), ec) != canon) continue;
        d.strError = strBasePath + " is a side of this record already.";
        return false;
    }
    if (!d.sides.empty() && FolderOf(strBasePath) != FolderOf(d.sides[0].pAlbum->GetBasePath())) {
        d.strError = strBasePath + " is not in the folder of " + d.sides[0].pAlbum->GetBasePath() +
                     ": the sides of a record are kept in one folder, beside its record file.";
        return false;
    }
    if (!d.CheckFolder(strBasePath)) return false;
    std::unique_ptr<CAlbum> pAlbum = d.NewSide(strBasePath);
    if (!pAlbum) return false;
    if (!d.sides.empty() && pAlbum->GetFormat() != GetFormat()) {
        d.strError = strBasePath + " is " + AlbumFiles::FormatText(pAlbum->GetFormat()) + ", the record " +
                     AlbumFiles::FormatText(GetFormat()) + ": the sides of a record share one format.";
        return false;
    }
    d.sides.push_back({std::move(pAlbum), 0});
    d.Companions();
    d.Rebuild();
    if (!d.bOpen) return true;  // OpenSides writes the file once every side is there
    if (!d.WriteFile()) {
        d.sides.pop_back();
        d.Rebuild();
        return false;
    }
    return true;
}

bool CRecord::RemoveSide(int32_t nSide)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (nSide < 0 || nSide >= GetSideCount()) {
        d.strError = "There is no side " + SideName(nSide) + ".";
        return false;
    }
    if (GetSideCount() == 1) {
        d.strError = "A record keeps at least one side.";
        return false;
    }
    auto it = d.sides.begin() + nSide;
    Impl::Side side = std::move(*it);
    d.sides.erase(it);
    if (!d.WriteFile()) {
        d.sides.insert(d.sides.begin() + nSide, std::move(side));
        return false;
    }
    // The removed side's edits leave the history; the later sides move down one.
    d.history.Keep([nSide](int32_t& n) {
        if (n == nSide) return false;
        if (n > nSide) --n;
        return true;
    });
    d.Rebuild();
    return true;
}

bool CRecord::MoveSide(int32_t nSide, int32_t nTo)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (nSide < 0 || nSide >= GetSideCount() || nTo < 0 || nTo >= GetSideCount()) {
        d.strError = "There is no such side: the record has " + std::to_string(GetSideCount()) + ".";
        return false;
    }
    if (nSide == nTo) return true;
    std::vector<int32_t> order(d.sides.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
    order.erase(order.begin() + nSide);
    order.insert(order.begin() + nTo, nSide);
    auto reorder = [&d](const std::vector<int32_t>& from) {
        std::vector<Impl::Side> sides;
        for (int32_t i : from) sides.push_back(std::move(d.sides[static_cast<size_t>(i)]));
        d.sides = std::move(sides);
    };
    reorder(order);
    if (!d.WriteFile()) {
        std::vector<int32_t> back(order.size());
        for (size_t i = 0; i < order.size(); ++i) back[static_cast<size_t>(order[i])] = static_cast<int32_t>(i);
        reorder(back);
        return false;
    }
    d.history.Keep([&order](int32_t& n) {
        n = static_cast<int32_t>(std::find(order.begin(), order.end(), n) - order.begin());
        return true;
    });
    d.Rebuild();
    return true;
}

int32_t CRecord::GetDisc(int32_t nSide) const { return m_pImpl->sides[static_cast<size_t>(nSide)].nDisc; }

bool CRecord::SetDisc(int32_t nSide, int32_t nDisc)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (nSide < 0 || nSide >= GetSideCount() || nDisc < 0 || nDisc > 99) {
        d.strError = "A side's disc is a number from 1 to 99, or none.";
        return false;
    }
    const int32_t nOld = d.sides[static_cast<size_t>(nSide)].nDisc;
    d.sides[static_cast<size_t>(nSide)].nDisc = nDisc;
    if (!d.WriteFile()) {
        d.sides[static_cast<size_t>(nSide)].nDisc = nOld;
        return false;
    }
    d.Rebuild();
    return true;
}

bool CRecord::GetVinyl() const { return m_pImpl->bVinyl; }

bool CRecord::SetVinyl(bool bVinyl)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const bool bOld = d.bVinyl;
    d.bVinyl = bVinyl;
    if (!d.WriteFile()) {
        d.bVinyl = bOld;
        return false;
    }
    d.Rebuild();
    return true;
}

const std::string& CRecord::GetCover() const { return m_pImpl->strCover; }

bool CRecord::SetCover(const std::string& strPath)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const std::string strOld = d.strCover;
    std::error_code ec;
    d.strCover = strPath.empty() ? std::string() : fs::absolute(strPath, ec).lexically_normal().string();
    if (!d.WriteFile()) {
        d.strCover = strOld;
        return false;
    }
    d.Rebuild();
    return true;
}

const std::string& CRecord::GetBasePath() const { return m_pImpl->layout.strBasePath; }
const CAlbumFormat& CRecord::GetFormat() const { return m_pImpl->layout.format; }
int32_t CRecord::GetSongCount() const { return static_cast<int32_t>(m_pImpl->layout.songs.size()); }
const std::vector<CAlbumSong>& CRecord::GetSongs() const { return m_pImpl->layout.songs; }
const CAlbumInfo& CRecord::GetInfo() const { return m_pImpl->info; }
int64_t CRecord::GetTotalFrames() const { return m_pImpl->layout.TotalFrames(); }
int64_t CRecord::GetSongStart(int32_t k) const { return m_pImpl->layout.SongStart(k); }
const CAlbumLayout& CRecord::GetLayout() const { return m_pImpl->layout; }
uint64_t CRecord::GetGeneration() const { return m_pImpl->nGeneration; }
const std::string& CRecord::GetErrorText() const { return m_pImpl->strError; }

bool CRecord::MoveCut(int32_t k, int64_t nFrame)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int32_t nSongs = GetSongCount();
    if (!d.bOpen || k < 1 || k >= nSongs) {
        d.strError = "There is no cut " + std::to_string(k) + d.Has() + Songs(nSongs) + ".";
        return false;
    }
    const int32_t s = d.SideOf(k);
    if (d.EndsSide(k)) {
        d.strError = "Song " + std::to_string(k) + " ends side " + SideName(s) +
                     ": a cut never moves past the end of a side.";
        return false;
    }
    if (nFrame <= GetSongStart(k) || nFrame >= GetSongStart(k + 2)) {
        d.strError = "Cut " + std::to_string(k) + " can only move inside songs " + std::to_string(k) + " and " +
                     std::to_string(k + 1) + ".";
        return false;
    }
    if (nFrame == GetSongStart(k + 1)) return true;
    const size_t i = static_cast<size_t>(s);
    return d.Sided(s, d.sides[i].pAlbum->MoveCut(k - d.firsts[i] + 1, nFrame - d.starts[i]));
}

bool CRecord::Join(int32_t k)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int32_t nSongs = GetSongCount();
    if (!d.bOpen || k < 1 || k >= nSongs) {
        d.strError = "Cannot join song " + std::to_string(k) + " with the next" + d.Has() + Songs(nSongs) + ".";
        return false;
    }
    const int32_t s = d.SideOf(k);
    if (d.EndsSide(k)) {
        d.strError = "Song " + std::to_string(k) + " ends side " + SideName(s) + " and song " + std::to_string(k + 1) +
                     " begins side " + SideName(s + 1) + ": songs of two sides are never joined.";
        return false;
    }
    const size_t i = static_cast<size_t>(s);
    return d.Sided(s, d.sides[i].pAlbum->Join(k - d.firsts[i] + 1));
}

bool CRecord::Split(int32_t k, int64_t nFrame)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    const int32_t nSongs = GetSongCount();
    if (!d.bOpen || k < 1 || k > nSongs) {
        d.strError = "There is no song " + std::to_string(k) + d.Has() + Songs(nSongs) + ".";
        return false;
    }
    if (nFrame <= GetSongStart(k) || nFrame >= GetSongStart(k + 1)) {
        d.strError = "Song " + std::to_string(k) + " can only be split inside it.";
        return false;
    }
    const int32_t s = d.SideOf(k);
    const size_t i = static_cast<size_t>(s);
    return d.Sided(s, d.sides[i].pAlbum->Split(k - d.firsts[i] + 1, nFrame - d.starts[i]));
}

bool CRecord::SetSideSongs(int32_t nSide, const std::vector<int64_t>& starts, const std::vector<std::string>& titles)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (!d.bOpen || nSide < 0 || nSide >= GetSideCount()) {
        d.strError = "There is no side " + SideName(nSide) + ".";
        return false;
    }
    CAlbum& side = *d.sides[static_cast<size_t>(nSide)].pAlbum;
    const uint64_t nBefore = side.GetGeneration();
    const bool bOk = side.SetSongs(starts, titles);
    if (bOk && side.GetGeneration() == nBefore) return true;  // nothing changed: no edit to undo
    return d.Sided(nSide, bOk);
}

bool CRecord::CanUndo() const { return m_pImpl->history.CanUndo(); }
bool CRecord::CanRedo() const { return m_pImpl->history.CanRedo(); }

bool CRecord::Undo()
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    return d.history.Undo(&d.strError, [&d](int32_t nSide) {
        return d.Rebuilt(nSide, d.sides[static_cast<size_t>(nSide)].pAlbum->Undo());
    });
}

bool CRecord::Redo()
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    return d.history.Redo(&d.strError, [&d](int32_t nSide) {
        return d.Rebuilt(nSide, d.sides[static_cast<size_t>(nSide)].pAlbum->Redo());
    });
}

bool CRecord::SetTitle(int32_t k, const std::string& strTitle)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (!d.bOpen || k < 1 || k > GetSongCount()) {
        d.strError = "There is no song " + std::to_string(k) + d.Has() + Songs(GetSongCount()) + ".";
        return false;
    }
    const int32_t s = d.SideOf(k);
    const size_t i = static_cast<size_t>(s);
    return d.Rebuilt(s, d.sides[i].pAlbum->SetTitle(k - d.firsts[i] + 1, strTitle));
}

bool CRecord::SetInfo(const CAlbumInfo& info)
{
    Impl& d = *m_pImpl;
    d.strError.clear();
    if (!d.bOpen) {
        d.strError = "No album is open.";
        return false;
    }
    // A record of one side without a record file keeps its data in the side's cue sheet.
    if (d.strPath.empty() && d.sides.size() == 1) {
        const bool bOk = d.sides[0].pAlbum->SetInfo(info);
        d.info = d.sides[0].pAlbum->GetInfo();
        return d.Rebuilt(0, bOk);
    }
    const CAlbumInfo old = d.info;
    d.info = CueSheet::Clean(info);
    if (!d.WriteFile()) {
        d.info = old;
        return false;
    }
    d.Rebuild();
    return true;
}

int64_t CRecord::FindSnap(int64_t nFrame, double fSeconds, int64_t nLow, int64_t nHigh)
{
    const int32_t k = m_pImpl->layout.SongAt(nFrame);
    const int32_t s = k > 0 ? m_pImpl->SideOf(k) : -1;
    if (s >= 0) {
        const int64_t nFirst = GetSideStart(s);
        const int64_t nLast = nFirst + GetSide(s).GetTotalFrames() - 1;
        nLow = nLow < 0 ? nFirst : std::max(nLow, nFirst);
        nHigh = nHigh < 0 ? nLast : std::min(nHigh, nLast);
    }
    return Snap::Find(m_pImpl->layout, nFrame, fSeconds, nLow, nHigh);
}

void CRecord::SetRecordingCheck(std::function<bool()> fnIsRecording)
{
    m_pImpl->fnRecording = fnIsRecording;
    for (Impl::Side& side : m_pImpl->sides) side.pAlbum->SetRecordingCheck(fnIsRecording);
}

void CRecord::SetFaultHook(std::function<bool(const std::string&)> fnStep)
{
    m_pImpl->fnFault = fnStep;
    for (Impl::Side& side : m_pImpl->sides) side.pAlbum->SetFaultHook(fnStep);
}

std::string CRecord::FileText(int32_t nSide, const CAlbumLayout* pNext) const
{
    const Impl& d = *m_pImpl;
    std::ostringstream out;
    out << kRecordRem << "\n";
    if (!d.info.strYear.empty()) out << "REM DATE " << Quoted(d.info.strYear) << "\n";
    if (!d.info.strArtist.empty()) out << "PERFORMER " << Quoted(d.info.strArtist) << "\n";
    if (!d.info.strAlbum.empty()) out << "TITLE " << Quoted(d.info.strAlbum) << "\n";
    if (d.bVinyl) out << kVinylRem << "\n";
    if (!d.strCover.empty()) out << kCoverRem << " " << CueSheet::Encode(d.strCover) << "\n";
    for (const Impl::Side& side : d.sides)
        out << kSideRem << " " << side.nDisc << " " << CueSheet::Encode(AlbumFiles::FileName(side.pAlbum->GetBasePath()))
            << "\n";
    // Every song file in order; none when a name cannot stand in a FILE line (the sides'
    // remarks and their own cue sheets still name them).
    std::vector<CAlbumSong> songs;
    for (size_t s = 0; s < d.sides.size(); ++s) {
        const CAlbumLayout side = static_cast<int32_t>(s) == nSide && pNext ? *pNext : d.sides[s].pAlbum->GetLayout();
        songs.insert(songs.end(), side.songs.begin(), side.songs.end());
    }
    for (const CAlbumSong& song : songs)
        if (CueSheet::FileLineName(AlbumFiles::FileName(song.strPath)).empty()) songs.clear();
    int nTrack = 0;
    {
        for (const CAlbumSong& song : songs) {
            if (++nTrack > kMaxTracks) break;
            char szTrack[32];
            std::snprintf(szTrack, sizeof szTrack, "%02d", nTrack);
            out << "FILE " << CueSheet::FileLineName(AlbumFiles::FileName(song.strPath)) << " WAVE\n";
            out << "  TRACK " << szTrack << " AUDIO\n";
            if (!Quoted(song.strTitle).empty() && Quoted(song.strTitle) != "\"\"")
                out << "    TITLE " << Quoted(song.strTitle) << "\n";
            if (!d.info.strArtist.empty()) out << "    PERFORMER " << Quoted(d.info.strArtist) << "\n";
            out << "    INDEX 01 00:00:00\n";
        }
    }
    return out.str();
}
