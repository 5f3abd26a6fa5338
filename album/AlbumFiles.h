#pragma once
// The files of an album on disk: their names, opening them, and changing several of them
// as one step.

#include "album/Album.h"

#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace AlbumFiles {

// "Music/Side A.wav", 3 -> "Music/Side A3.wav".
std::string SongPath(const std::string& strBasePath, int32_t nNumber);
// "Music/Side A3.wav" -> "Side A3.wav".
std::string FileName(const std::string& strPath);
// A library's error text to end a sentence with: its own trailing full stops taken off
// ("System error : Read-only file system." -> "System error : Read-only file system").
std::string Reason(const char* szText);
// "44100 Hz, 2 channels, 16-bit".
std::string FormatText(const CAlbumFormat& format);

// The identity of a file as stat() sees it (device, inode, size, modification time): a file
// replaced or rewritten by another program has another stamp.
std::string Stamp(const struct stat& st);
// The stamp of the file at strPath (following symlinks); empty when there is none.
std::string PathStamp(const std::string& strPath);

// Opens a song file for reading without hanging on a pipe or a device: -1 with a text that
// names the file when it cannot be opened or is not a regular file (a symlink to one is
// fine). pStat receives the file's stat.
int OpenSongFile(const std::string& strPath, struct stat* pStat, std::string* pError);

// Fills the layout with the songs of a base file (see CAlbum::Open), with each file's
// stamp. False with a text naming the file that is missing, unreadable or of another
// format. The caller holds the folder's lock.
bool OpenSongs(const std::string& strBasePath, CAlbumLayout* pLayout, std::string* pError);
// Fills the layout with exactly the given song files of a base file, in order.
bool OpenFiles(const std::string& strBasePath, const std::vector<std::string>& paths,
               CAlbumLayout* pLayout, std::string* pError);

// The journal of an edit: which hidden files it wrote, the renames it makes while it is
// put in place, and the set-aside copies left to delete once it is done. Names in it are
// file names in the journal's own folder, each of any bytes a name may hold. It exists
// only while an edit is made.
std::string JournalPath(const std::string& strBasePath);

// Finishes or undoes an edit that a crash cut short (its journal is still there): removes
// the hidden files the journal lists, renames back what it had renamed, or deletes the
// set-aside copies of an edit that was complete. True when there was nothing to do or all
// went back; false with a text naming the journal and the files when the files are no
// longer as the journal left them (nothing is then touched). The caller holds the folder's
// lock exclusively.
bool Recover(const std::string& strBasePath, std::string* pError);

// True while a recording writes the file: the recorder's WAV writer holds a lock on it.
bool IsLockedForRecording(const std::string& strPath);

/**
 * The lock of the folder of an album (flock on the folder). Edits hold it exclusively from
 * before they check the song files until they are in place; readers that must see one
 * consistent album (open, export) hold it shared. Taken by the constructor, which waits
 * for other holders; with pCancel it gives up when *pCancel becomes true. Released by
 * the destructor. Works across programs; two objects of one program exclude each other too.
 */
class FolderLock
{
public:
    FolderLock(const std::string& strBasePath, bool bExclusive,
               const std::atomic<bool>* pCancel = nullptr);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool IsHeld() const { return m_bHeld; }
    // True when a signal ended the wait (its handler without SA_RESTART): the caller stops,
    // saying so with StoppedWaitingText().
    bool WasInterrupted() const { return m_bInterrupted; }

private:
    int m_fd = -1;
    bool m_bHeld = false;
    bool m_bInterrupted = false;
};

// What a caller says when a signal ended its wait for the lock of strPath's folder.
std::string StoppedWaitingText(const std::string& strPath);

/**
 * Changes several files of one folder so that either all changes happen or none does.
 * The caller holds the folder's FolderLock exclusively while the object lives. New contents
 * are first written beside their final names (NewFile/NewText, then Sync), each hidden
 * name noted in the journal first; Commit() then saves the renames it will make as the
 * journal (synced), moves the files that are replaced aside, renames everything into place
 * without ever replacing a name (a name that appears meanwhile fails the edit), syncs the
 * folder, turns the journal into the list of set-aside copies to delete (the point from
 * which the edit stands) and deletes them. A failure at any point of Commit() renames back
 * what was renamed; a crash is undone or finished by Recover(). Whatever was not placed is
 * removed when the object goes.
 */
class Transaction
{
public:
    // fnStep is asked before every step that touches the disk (see CAlbum::SetFaultHook).
    Transaction(const std::string& strBasePath, std::function<bool(const std::string&)> fnStep);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // The hidden name beside strFinal under which its new content is written.
    std::string NewFile(const std::string& strFinal);
    // Syncs a new file to the disk.
    bool Sync(const std::string& strTemp, const std::string& strFinal);
    // Writes and syncs a new text file that will take strFinal's name.
    bool NewText(const std::string& strFinal, const std::string& strText);

    // Steps of Commit(), in the order given: strOld is set aside (and deleted once all is
    // done); a file set aside takes a new name; a new file takes its final name.
    void Replace(const std::string& strOld);
    void MoveOld(const std::string& strOld, const std::string& strNew);
    // bReplace: a file already under strFinal (the cue sheet) is set aside and replaced;
    // otherwise the name must be free, and the commit fails when something took it.
    void PlaceNew(const std::string& strFinal, bool bReplace = false);
    bool Commit();

    const std::string& GetErrorText() const { return m_strError; }

private:
    struct Op {
        int nKind;  // 0 set aside, 1 old to new name, 2 new to final name
        std::string strA, strB;
        bool bReplace = false;
    };
    void NoteTemps();
    bool Rename(const std::string& strFrom, const std::string& strTo, const std::string& strWhat);
    static std::string Aside(const std::string& strPath);
    void RollBack();

    std::string m_strBase;
    std::string m_strFolder;
    std::function<bool(const std::string&)> m_fnStep;
    std::vector<std::string> m_temps;  // written, not yet placed
    std::vector<Op> m_ops;
    std::vector<std::pair<std::string, std::string>> m_done;  // renames done (from, to)
    std::string m_strError;
};

}  // namespace AlbumFiles
