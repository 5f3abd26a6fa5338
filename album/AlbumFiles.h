#pragma once
// The files of an album on disk: their names, opening them, and changing several of them
// as one step.

#include "album/Album.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace AlbumFiles {

// "Music/Side A.wav", 3 -> "Music/Side A3.wav".
std::string SongPath(const std::string& strBasePath, int32_t nNumber);
// "Music/Side A3.wav" -> "Side A3.wav".
std::string FileName(const std::string& strPath);
// "44100 Hz, 2 channels, 16-bit".
std::string FormatText(const CAlbumFormat& format);

// Fills the layout with the songs of a base file (see CAlbum::Open). False with a text
// naming the file that is missing, unreadable or of another format.
bool OpenSongs(const std::string& strBasePath, CAlbumLayout* pLayout, std::string* pError);
// Fills the layout with exactly the given song files of a base file, in order.
bool OpenFiles(const std::string& strBasePath, const std::vector<std::string>& paths,
               CAlbumLayout* pLayout, std::string* pError);

// The journal of an edit being put in place: the renames it makes, one "from<TAB>to" per
// line. It exists only while an edit is being put in place.
std::string JournalPath(const std::string& strBasePath);

// Undoes an edit that a crash cut short while it was being put in place (its journal is
// still there): renames back what it had renamed, then removes the hidden files edits leave
// beside this album's songs. Called before an album is opened.
void Recover(const std::string& strBasePath);

// True while a recording writes the file: the recorder's WAV writer holds a lock on it.
bool IsLockedForRecording(const std::string& strPath);

/**
 * Changes several files of one folder so that either all changes happen or none does.
 * New contents are first written beside their final names (NewFile/NewText, then Sync);
 * Commit() then saves the list of renames it will make as a journal, moves the files that
 * are replaced aside, renames everything into place, syncs the folder, removes the journal
 * and only then deletes what was moved aside. A failure at any point of Commit() renames
 * back what was renamed; a crash is undone by Recover(). Whatever was not placed is
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
    void PlaceNew(const std::string& strFinal);
    bool Commit();

    const std::string& GetErrorText() const { return m_strError; }

private:
    struct Op {
        int nKind;  // 0 set aside, 1 old to new name, 2 new to final name
        std::string strA, strB;
    };
    bool Rename(const std::string& strFrom, const std::string& strTo, const std::string& strWhat);
    static std::string Aside(const std::string& strPath);
    void RollBack();

    std::string m_strBase;
    std::string m_strFolder;
    int m_nFolderLock = -1;  // the folder, locked while this object lives
    std::function<bool(const std::string&)> m_fnStep;
    std::vector<std::string> m_temps;  // written, not yet placed
    std::vector<Op> m_ops;
    std::vector<std::pair<std::string, std::string>> m_done;  // renames done (from, to)
    std::string m_strError;
};

}  // namespace AlbumFiles
