#pragma once

#include "settings/Presets.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class IPrompt;

/**
 * What the preset loading needs of the main window: its preset box (a sorted
 * drop-down list) and its hidden default button. The main window implements it with
 * its widgets; tests implement it with a plain list.
 * Window thread only.
 */
class IPresetWindow
{
public:
    virtual ~IPresetWindow() = default;

    // Deletes every entry of the preset box.
    virtual void ClearPresetBox() = 0;
    // Adds one name; the box keeps its entries sorted.
    virtual void AddPresetToBox(const std::string& name) = 0;
    // Index of the entry whose whole text equals name, ignoring case (an exact-string
    // search, not a prefix search); -1 when there is none. With a QComboBox:
    // findText(QString::fromStdString(name), Qt::MatchFixedString).
    virtual int FindPresetInBox(const std::string& name) const = 0;
    // Selects the entry at index; -1 selects nothing. Must not apply the preset.
    virtual void SelectPresetInBox(int index) = 0;
    // Gives the keyboard focus to the hidden default button, so Enter does nothing.
    virtual void FocusDefaultButton() = 0;
};

// Outcome of reading a preset archive.
struct CPresetReadResult
{
    bool m_bComplete = true;   // every record of the file was read
    std::string m_strReason;   // when not: what was wrong, e.g. "the file ends early"
    std::size_t m_nRecords = 0;  // records appended to the list
};

/**
 * The preset file: "Tunex1.pre" in the working directory, written through "Temp.pre",
 * with the one-time migration of an older "Tunex.pre" (moved to "TunexOld.pre").
 *
 * The file is an object archive of the preset list: a count (16-bit, or 0xFFFF and a
 * 32-bit count), then per record a class tag (the new-class tag FF FF 0B 00 08 00
 * "CPresets" before the first, 0x8001 before every later one) and the record body:
 * the name (length in 1, 3 or 7 bytes, then the bytes) and 36 bytes of values for
 * schema 11, or 24 bytes for schema 1 (older files, read only). Little-endian.
 *
 * The reader takes any bytes: a damaged file never crashes, hangs or allocates more
 * than the file's size; only records read completely reach the list.
 *
 * The main window owns one CPresetFile beside its preset list. Call LoadPresets once
 * at start (after the persisted settings, so the current preset name is known), and
 * SavePresets once at exit. Window thread only.
 */
class CPresetFile
{
public:
    // File names in the working directory.
    static constexpr const char* kPresetFileName = "Tunex1.pre";
    static constexpr const char* kTempFileName = "Temp.pre";
    static constexpr const char* kOldFileName = "Tunex.pre";
    static constexpr const char* kOldMovedFileName = "TunexOld.pre";

    // Files larger than this are not read (no preset list comes near it).
    static constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;

    // The archive bytes of a list (what SavePresets writes).
    static std::vector<uint8_t> WriteArchive(const CPresetList& presets);

    // Reads archive bytes and appends each completely read record to presets, in file
    // order. On damage the records before it stay appended and the result says why.
    static CPresetReadResult ReadArchive(const uint8_t* data, std::size_t size,
                                         CPresetList& presets);

    // Reads a whole file the same way; a file that cannot be opened or read, or that
    // is larger than kMaxFileSize, is incomplete with a reason.
    static CPresetReadResult ReadFile(const std::string& path, CPresetList& presets);

    // Writes presets to tempPath, flushes it to disk, then renames it over finalPath
    // and flushes the folder. On failure tempPath is removed, finalPath is untouched,
    // and *error (if given) says what failed. Returns true on success.
    static bool WriteFileDurably(const CPresetList& presets, const std::string& tempPath,
                                 const std::string& finalPath, std::string* error);

    /**
     * Loads the presets at start-up:
     *  1. If "Tunex.pre" exists, asks "Save Old Presets?" (Yes/No); on Yes reads it
     *     into a separate list; whatever the answer, renames it to "TunexOld.pre".
     *  2. If "Tunex1.pre" is missing but "Temp.pre" exists, renames "Temp.pre" to
     *     "Tunex1.pre" (a save that stopped before its last step).
     *  3. Reads "Tunex1.pre" into presets (which should be empty), then appends the
     *     old presets of step 1.
     *  4. FillPresetList, then the focus to the hidden default button.
     * A file that cannot be read completely is named to the user once ("Preset Error");
     * its complete records are kept, and SavePresets will not replace "Tunex1.pre".
     * directory: the folder of the files; empty means the current working directory,
     * read at this moment only.
     */
    void LoadPresets(CPresetList& presets, const char* presetName, IPresetWindow& window,
                     IPrompt& prompt, const std::string& directory = std::string());

    /**
     * Saves the presets at exit: writes "Temp.pre", flushes it to disk, and renames it
     * over "Tunex1.pre". Does nothing and returns false when LoadPresets has not run or
     * "Tunex1.pre" was not read completely (the user was told at start). Tells the user
     * ("Preset Error") and leaves "Tunex1.pre" as it was when the save fails.
     */
    bool SavePresets(const CPresetList& presets, IPrompt& prompt);

    // True once LoadPresets has run and "Tunex1.pre" was absent or read completely.
    bool IsSaveAllowed() const { return m_bSaveAllowed; }
    const std::string& GetPresetPath() const { return m_strPresetPath; }
    const std::string& GetTempPresetPath() const { return m_strTempPresetPath; }

private:
    std::string m_strPresetPath;      // directory + "/Tunex1.pre"
    std::string m_strTempPresetPath;  // directory + "/Temp.pre"
    bool m_bSaveAllowed = false;
};

/**
 * Refills the main window's preset box: clears it, adds every preset name in list
 * order, then selects the entry that an exact search ignoring case finds for
 * presetName, or nothing. Does not apply the preset.
 */
void FillPresetList(const CPresetList& presets, const char* presetName, IPresetWindow& window);
