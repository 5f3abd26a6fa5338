#pragma once

#include "settings/SettingsValues.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Preset names are kept whole in the records and the preset file. Only the windows'
// current preset name lives in a 260-byte buffer: at most 259 bytes and a terminating
// zero, so a longer name is cut when it is copied there.
constexpr std::size_t kPresetNameSize = 260;
constexpr std::size_t kPresetNameMaxLength = kPresetNameSize - 1;  // 259

// Returns name cut to at most 259 bytes. A name in UTF-8 is cut before a whole character,
// never inside one; other names (a single-byte code page) are cut at byte 259.
std::string CutPresetName(const std::string& name);

// Copies name into a 260-byte buffer such as the main window's m_szPresetName, cut as
// CutPresetName says and always zero-terminated. dst must hold kPresetNameSize bytes.
void CopyPresetName(char* dst, const std::string& name);

/**
 * One named preset: a snapshot of the ten settings values under a name.
 * The four gap rules are in stored form. Names are byte strings in the preset file's
 * encoding; the windows show them as they are.
 * The numeric fields are left for the creator to fill (the settings window fills all
 * of them when it adds a preset; the preset file reader fills them when it reads one).
 * Window thread only.
 */
class CPresets
{
public:
    CPresets() = default;
    explicit CPresets(const std::string& name) { SetName(name); }
    ~CPresets() = default;

    // Replaces the name (kept whole, whatever its length).
    void SetName(std::string name) { m_strName = std::move(name); }
    std::string GetName() const { return m_strName; }

    // The ten values as one record, and back.
    CSettingsValues GetValues() const;
    void SetValues(const CSettingsValues& values);

    int32_t m_nGapSize = 0;        // Gap Size, stored form
    int32_t m_nGapLevel = 0;       // Gap Level, stored form
    int32_t m_nMinSong = 0;        // Min Song, stored form
    int32_t m_nEndGap = 0;         // End Gap, stored form
    int32_t m_bDCBlock = 0;        // 0 or 1
    int32_t m_bIgnoreClicks = 0;   // Smart Gap, 0 or 1
    int32_t m_nSamplesPerSec = 0;  // Hz
    int16_t m_nBitsPerSample = 0;  // 16, or 32 for the choice labelled "24"
    int16_t m_nChannels = 0;       // 2 in practice
    int32_t m_nWaveInID = 0;       // input device id, -1 for the system default device

private:
    std::string m_strName;
};

/**
 * The ordered list of presets, in file order, with later additions at the end. It owns
 * its records: removing one deletes it. It is never sorted (the preset boxes sort their
 * own entries). Names are normally unique; a lookup by name compares exactly,
 * case-sensitively, from the first record, and the first match wins.
 * Window thread only; the settings window edits the main window's list in place.
 */
class CPresetList
{
public:
    CPresetList() = default;
    CPresetList(CPresetList&&) = default;
    CPresetList& operator=(CPresetList&&) = default;
    CPresetList(const CPresetList&) = delete;
    CPresetList& operator=(const CPresetList&) = delete;

    std::size_t GetSize() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }

    // Record at index (0 .. GetSize() - 1); nullptr when the index is out of range.
    CPresets* GetAt(std::size_t index) const;

    // First record whose name equals name exactly (case-sensitive); nullptr when none.
    CPresets* Find(const std::string& name) const;
    // Index of that record, or -1.
    int FindIndex(const std::string& name) const;
    // The name a window's current preset name buffer stands for: szCurrent itself, or,
    // when the buffer is full (259 bytes) because a longer name was cut into it, the
    // whole name of the first record that was cut to exactly those bytes.
    std::string WholeName(const char* szCurrent) const;

    // Appends a record and returns it. A null record is ignored (returns nullptr).
    CPresets* Add(std::unique_ptr<CPresets> preset);
    // Appends a new record with this name and these values.
    CPresets* Add(const std::string& name, const CSettingsValues& values);

    // Removes and deletes the record at index; out-of-range indexes are ignored.
    void RemoveAt(std::size_t index);
    // Removes and deletes the first record of this exact name; false when none.
    bool Remove(const std::string& name);
    void RemoveAll() { m_items.clear(); }

    // Moves every record of other, in order, to the end of this list; other ends empty.
    void Append(CPresetList&& other);

    // Iteration over the records in list order (each element is a std::unique_ptr).
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<std::unique_ptr<CPresets>> m_items;
};
