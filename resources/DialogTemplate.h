#pragma once
// The recorder's dialog templates as data: each window's controls with their ids,
// kinds, texts, places in dialog units and styles, in template (tab) order.
// CDialogBuilder turns a template into Qt widgets.
// Read-only constant data: any thread may read it.

#include <vector>

// What widget a template control becomes.
enum class ControlKind {
    PushButton,        // QPushButton
    CheckBox,          // QCheckBox (CS_TEXT_LEFT puts the text left of the box)
    PushLikeCheckBox,  // checkable QPushButton
    RadioButton,       // QRadioButton; CS_GROUP starts a new exclusive QButtonGroup
    GroupBox,          // QGroupBox, a frame with a caption, kept below the other controls
    Label,             // QLabel with text (CS_CENTER / CS_RIGHT / CS_VCENTER / CS_SUNKEN_EDGE)
    FrameStatic,       // a plain QFrame placeholder (the LED bars), or a factory's widget
    BitmapStatic,      // QLabel showing the bitmap m_nImageId at its own size, centred in its place
    IconStatic,        // QLabel showing the icon m_nImageId at 32 x 32
    DropDownList,      // QComboBox, not editable (CS_SORTED: see CDialogBuilder::AddString)
    DropDownCombo,     // editable QComboBox that never inserts typed text by itself
    VerticalTrackbar,  // vertical QSlider with ticks, its minimum at the top
};

// Style bits of a template control.
enum ControlStyle : unsigned {
    CS_NONE = 0,
    CS_TABSTOP = 1u << 0,      // reached with Tab
    CS_GROUP = 1u << 1,        // starts a group (radio buttons: a new exclusive group)
    CS_HIDDEN = 1u << 2,       // created without the visible style
    CS_DEFAULT = 1u << 3,      // default push button
    CS_ICON = 1u << 4,         // push button that shows m_nImageId instead of its text
    CS_TEXT_LEFT = 1u << 5,    // check box with its text on the left
    CS_CENTER = 1u << 6,       // text centred horizontally
    CS_RIGHT = 1u << 7,        // text right-aligned
    CS_VCENTER = 1u << 8,      // text centred vertically
    CS_SUNKEN_EDGE = 1u << 9,  // thin sunken edge (status fields, the Add/Delete buttons)
    CS_RAISED_FRAME = 1u << 10, // raised frame (the icon control, group box 1019, DC Block)
    CS_NOTIFY = 1u << 11,      // static that reports clicks
    CS_NO_PREFIX = 1u << 12,   // "&" is shown as it is
    CS_SORTED = 1u << 13,      // combo box keeps its entries sorted
    CS_VSCROLL = 1u << 14,     // list with a vertical scroll bar
    CS_AUTO_HSCROLL = 1u << 15, // edit field scrolls horizontally while typing
    CS_TICKS_BOTH = 1u << 16,  // trackbar ticks on both sides
    CS_AUTO_TICKS = 1u << 17,  // a tick at every tick interval
};

// One control of a template. Places are in dialog units.
struct CControlTemplate {
    int m_nId;            // control id; -1 for labels and frames nobody addresses
    ControlKind m_kind;
    const char* m_szText; // caption or content text (UTF-8)
    int m_nX, m_nY, m_nWidth, m_nHeight;
    unsigned m_nStyle;    // ControlStyle bits
    int m_nImageId;       // icon or bitmap id shown by the control, 0 for none
};

// Window styles of a template.
enum DialogStyle : unsigned {
    DS_NONE = 0,
    DS_SYSMENU = 1u << 0,      // system menu and close box
    DS_MINIMIZEBOX = 1u << 1,  // minimise box
    DS_TASKBAR = 1u << 2,      // shown on the task bar (a top-level window of its own)
};

struct CDialogTemplate {
    int m_nId;
    const char* m_szCaption;
    int m_nWidth, m_nHeight;  // client area in dialog units
    const char* m_szFontFace; // "MS Sans Serif"; mapped to an installed face by the builder
    int m_nPointSize;         // 8
    unsigned m_nStyle;        // DialogStyle bits
    std::vector<CControlTemplate> m_controls;

    // The control with this id, or nullptr (also for -1).
    const CControlTemplate* FindControl(int id) const;
};

// The template with this id: 100 (About box), 102 (main window) or 139 (settings
// window). Any other id throws std::out_of_range.
const CDialogTemplate& GetDialogTemplate(int id);
