#include "resources/DialogTemplate.h"

#include "resources/ResourceIds.h"

#include "CadenzoVersion.h"

#include <stdexcept>
#include <string>

namespace {

using K = ControlKind;

constexpr unsigned kStatus = CS_VCENTER | CS_SUNKEN_EDGE;
constexpr unsigned kTrackbar = CS_TICKS_BOTH | CS_AUTO_TICKS | CS_TABSTOP | CS_RAISED_FRAME | CS_SUNKEN_EDGE;

// About box: our own program icon, version, copyright, description and credit.
const CDialogTemplate g_about = {
    IDD_ABOUTBOX, "About Cadenzo", 217, 183, "MS Sans Serif", 8, DS_SYSMENU,
    {
        {-1, K::IconStatic, "", 12, 10, 20, 20, CS_NONE, IDI_PROGRAM},
        {-1, K::Label, "Cadenzo Version " CADENZO_VERSION, 40, 10, 119, 8, CS_NO_PREFIX | CS_GROUP, 0},
        {-1, K::Label, "\xC2\xA9 2026 Cadenzo developers", 40, 21, 119, 8, CS_GROUP, 0},
        {1, K::PushButton, "OK", 178, 7, 32, 14, CS_DEFAULT | CS_TABSTOP | CS_GROUP, 0},
        {1009, K::BitmapStatic, "", 21, 50, 175, 112, CS_NONE, IDB_ABOUT},
        {-1, K::Label, "Records albums, tapes and broadcasts, one song per file.", 9, 38, 199, 8,
         CS_GROUP, 0},
        {-1, K::Label, "Thanks, testers!", 67, 168, 65, 8, CS_GROUP, 0},
    }};

// Main window.
const CDialogTemplate g_recorder = {
    IDD_RECORDER, "Novu Cadenzo", 261, 173, "MS Sans Serif", 8, DS_SYSMENU | DS_MINIMIZEBOX | DS_TASKBAR,
    {
        {1012, K::PushButton, "Default Button", 166, 2, 50, 11, CS_DEFAULT | CS_HIDDEN, 0},
        {1000, K::PushButton, "Record", 145, 18, 22, 20, CS_ICON | CS_TABSTOP, IDI_RECORD},
        {1106, K::GroupBox, "Presets", 2, 87, 111, 51, CS_NONE, 0},
        {1003, K::DropDownList, "", 6, 100, 104, 55, CS_SORTED | CS_VSCROLL, 0},
        {-1, K::Label, "Base File Name", 119, 42, 50, 8, CS_NONE, 0},
        {1002, K::DropDownList, "", 119, 52, 74, 50, CS_VSCROLL | CS_TABSTOP, 0},
        {1004, K::PushButton, "New", 194, 52, 22, 14, CS_TABSTOP, 0},
        {1011, K::PushButton, "Stop", 169, 18, 22, 20, CS_ICON | CS_TABSTOP, IDI_STOP},
        {1018, K::PushButton, "Customize...", 32, 118, 50, 14, CS_TABSTOP, 0},
        {1010, K::IconStatic, "", 2, 148, 20, 20, CS_NOTIFY | CS_TABSTOP | CS_RAISED_FRAME, IDI_ABOUT},
        {1031, K::CheckBox, "Background", 43, 150, 55, 10, CS_TEXT_LEFT | CS_TABSTOP, 0},
        {1, K::PushButton, "Exit", 220, 2, 40, 14, CS_DEFAULT | CS_TABSTOP, 0},
        {57670, K::PushButton, "Help", 220, 18, 40, 14, CS_TABSTOP, 0},
        {1019, K::GroupBox, "Recording Info", 118, 74, 103, 97, CS_RAISED_FRAME, 0},
        {1015, K::Label, "", 129, 91, 84, 14, kStatus, 0},
        {1016, K::Label, "", 129, 129, 70, 14, kStatus, 0},
        {1017, K::Label, "", 129, 148, 70, 15, kStatus, 0},
        {1032, K::FrameStatic, "", 231, 42, 9, 110, CS_NONE, 0},
        {1033, K::BitmapStatic, "", 21, 7, 77, 71, CS_NONE, IDB_RECORD_IDLE_PURPLE},
        {1001, K::PushButton, "Mixer", 232, 153, 20, 18, CS_ICON | CS_TABSTOP, IDI_MIXER},
        {1020, K::Label, "", 129, 110, 84, 14, kStatus, 0},
        {1034, K::FrameStatic, "", 243, 42, 9, 110, CS_NONE, 0},
    }};

// Settings window: no system menu, so no close box.
const CDialogTemplate g_customSettings = {
    IDD_CUSTOM_SETTINGS, "Cadenzo Custom Settings", 296, 190, "MS Sans Serif", 8, DS_NONE,
    {
        {1025, K::Label, "Gap Size", 14, 9, 32, 8, CS_CENTER, 0},
        {1020, K::VerticalTrackbar, "", 14, 19, 32, 115, kTrackbar, 0},
        {1023, K::Label, "0.75 secs", 13, 137, 32, 8, CS_CENTER, 0},
        {1026, K::Label, "Gap Level", 53, 9, 34, 8, CS_CENTER, 0},
        {1021, K::VerticalTrackbar, "", 54, 19, 32, 116, kTrackbar, 0},
        {1024, K::Label, "-40.0 dB", 55, 137, 28, 8, CS_CENTER, 0},
        {1032, K::Label, "Min Song", 93, 9, 32, 8, CS_CENTER, 0},
        {1027, K::VerticalTrackbar, "", 93, 19, 32, 115, kTrackbar, 0},
        {1030, K::Label, "30.0 secs", 93, 137, 32, 8, CS_CENTER, 0},
        {1033, K::Label, "End Gap", 134, 9, 29, 8, CS_CENTER, 0},
        {1029, K::VerticalTrackbar, "", 133, 19, 32, 115, kTrackbar, 0},
        {1031, K::Label, "10 secs", 137, 137, 26, 8, CS_CENTER, 0},
        {1022, K::PushLikeCheckBox, "DC Block", 24, 147, 53, 16, CS_TABSTOP | CS_RAISED_FRAME, 0},
        {1035, K::CheckBox, "Smart Gap", 101, 151, 49, 10, CS_TABSTOP, 0},
        {1040, K::GroupBox, "Sampling Rate", 171, 28, 118, 43, CS_CENTER, 0},
        {1041, K::RadioButton, "11.25 kHz", 182, 42, 49, 10, CS_GROUP | CS_TABSTOP, 0},
        {1042, K::RadioButton, "22.05 kHz", 236, 42, 49, 10, CS_NONE, 0},
        {1036, K::RadioButton, "44.1 kHz", 182, 54, 45, 10, CS_NONE, 0},
        {1037, K::RadioButton, "48 kHz", 236, 54, 39, 10, CS_NONE, 0},
        {-1, K::GroupBox, "Recording Device", 171, 77, 118, 34, CS_NONE, 0},
        {1006, K::DropDownList, "", 178, 91, 104, 57, CS_VSCROLL | CS_TABSTOP, 0},
        {-1, K::GroupBox, "Presets", 171, 119, 117, 49, CS_NONE, 0},
        {1003, K::DropDownCombo, "", 178, 134, 104, 55, CS_SORTED | CS_AUTO_HSCROLL | CS_VSCROLL, 0},
        {57673, K::PushButton, "Add", 217, 150, 13, 13, CS_ICON | CS_CENTER | CS_SUNKEN_EDGE | CS_TABSTOP, IDI_ADD},
        {57672, K::PushButton, "Delete", 233, 150, 13, 13, CS_ICON | CS_CENTER | CS_SUNKEN_EDGE | CS_TABSTOP, IDI_DELETE},
        {1012, K::PushButton, "Default", 182, 7, 50, 8, CS_DEFAULT | CS_HIDDEN, 0},
        {1, K::PushButton, "Done", 245, 7, 44, 14, CS_DEFAULT | CS_TABSTOP, 0},
        {57670, K::PushButton, "Help", 193, 7, 44, 14, CS_TABSTOP, 0},
        {1038, K::RadioButton, "16", 197, 23, 24, 10, CS_GROUP | CS_HIDDEN, 0},
        {1039, K::RadioButton, "24", 241, 23, 24, 10, CS_HIDDEN, 0},
        {1044, K::Label, "Listen after End Gap:", 14, 174, 80, 8, CS_NONE, 0},
        {1045, K::DropDownList, "", 96, 172, 54, 80, CS_VSCROLL | CS_TABSTOP, 0},
    }};

}  // namespace

const CControlTemplate* CDialogTemplate::FindControl(int id) const
{
    if (id == -1)
        return nullptr;
    for (const CControlTemplate& control : m_controls)
        if (control.m_nId == id)
            return &control;
    return nullptr;
}

const CDialogTemplate& GetDialogTemplate(int id)
{
    switch (id) {
    case IDD_ABOUTBOX:
        return g_about;
    case IDD_RECORDER:
        return g_recorder;
    case IDD_CUSTOM_SETTINGS:
        return g_customSettings;
    default:
        throw std::out_of_range("no dialog template " + std::to_string(id));
    }
}
