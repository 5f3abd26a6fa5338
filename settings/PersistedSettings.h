#pragma once

#include "settings/SettingsValues.h"

#include <cstdint>
#include <functional>
#include <string>

class QSettings;
class CSongSplitter;

// Where the settings live: QSettings(kSettingsOrganization, kSettingsApplication),
// group kSettingsGroup. LoadSettings and SaveSettings enter and leave the group.
constexpr const char* kSettingsOrganization = "Novu";
constexpr const char* kSettingsApplication = "Cadenzio";
constexpr const char* kSettingsGroup = "Version 1";

/**
 * The main window's Base File Name box (an unsorted drop-down list whose entries show a
 * file name and carry the full path). Window thread only.
 */
class IBaseNameList
{
public:
    virtual ~IBaseNameList() = default;

    // The window's AddBaseName: inserts the path at the top of the box and selects it.
    virtual void AddBaseName(const std::string& path) = 0;
    virtual int GetBaseNameCount() const = 0;
    // Index of the selected entry, -1 when none is selected.
    virtual int GetSelectedBaseName() const = 0;
    // Full path of the entry at index (0 is the top).
    virtual std::string GetBaseNamePath(int index) const = 0;
    // Removes the entry at index and releases its path.
    virtual void RemoveBaseName(int index) = 0;
};

// A window's placement: its flags, its show command and its normal (restored)
// rectangle in screen coordinates. right and bottom are exclusive (right - left is
// the width).
struct CWindowPlacement
{
    int32_t m_nFlags = 0;
    int32_t m_nShowCmd = 1;  // 1 shown normally, 2 minimised, 3 maximised, 5 show
    int32_t m_nLeft = 0;
    int32_t m_nTop = 0;
    int32_t m_nRight = 0;
    int32_t m_nBottom = 0;
};

// Show command that LoadSettings puts into a restored placement: show the window normally.
constexpr int32_t kShowCmdShow = 5;

/**
 * The main window's placement and the screen metrics that bound it. Window thread only.
 */
class IWindowPlacement
{
public:
    virtual ~IWindowPlacement() = default;

    virtual CWindowPlacement GetWindowPlacement() const = 0;
    // Moves the window to the normal rectangle and shows it as the show command says.
    virtual void SetWindowPlacement(const CWindowPlacement& placement) = 0;
    virtual int32_t GetScreenWidth() const = 0;   // pixels
    virtual int32_t GetScreenHeight() const = 0;  // pixels
    virtual int32_t GetIconWidth() const = 0;     // pixels of a large icon, e.g. 32
    virtual int32_t GetIconHeight() const = 0;
};

/**
 * What the persisted settings read and write of the main window. Every pointer must be
 * set; setDevice may be empty (then the device id is only stored in the values).
 */
struct CSettingsHost
{
    CSettingsValues* m_pValues = nullptr;       // the window's copy of the ten values
    CSongSplitter* m_pSplitter = nullptr;       // receives each loaded value (setters)
    std::function<void(int32_t)> m_setDevice;   // the capture device's SetDevice
    IBaseNameList* m_pBaseNames = nullptr;      // the Base File Name box
    IWindowPlacement* m_pPlacement = nullptr;   // the main window's placement
    char* m_szPresetName = nullptr;             // 260-byte current preset name
    int32_t* m_pbBackground = nullptr;          // the Background flag, 0 or 1
    int32_t* m_pnListenSeconds = nullptr;       // listening after End Gap, seconds (may be null)
};

// Listening after End Gap: the default, and the longest the recorder holds audio for.
constexpr int32_t kDefaultListenSeconds = 30;
constexpr int32_t kMaxListenSeconds = 120;

/**
 * Restores the settings at start-up, before the presets are loaded: the base file
 * names (keys 3, 2, 1, 0 handed to AddBaseName, so key 0 ends at the top, selected),
 * the nine splitter settings (defaults from the splitter's getters, each value stored
 * in the window's copy and given to the splitter's setter without showing range
 * errors), the device id, the preset name (cut to 259 characters), the Background flag
 * and the window position (clamped to the screen less an icon; a stored -1 leaves the
 * window where it is).
 * store: a QSettings for organization "Novu", application "Cadenzio" (or, in tests,
 * an INI file); the group "Version 1" is entered here. Window thread only.
 */
void LoadSettings(QSettings& store, const CSettingsHost& host);

/**
 * Saves the settings at exit, after the presets: the selected base file as key 0 (its
 * entry is then removed from the box) and the first three remaining entries as keys 1
 * to 3, the ten values, "Preset", "Background" and the window placement. The splitter
 * is not read. Window thread only.
 */
void SaveSettings(QSettings& store, const CSettingsHost& host);
