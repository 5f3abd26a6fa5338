#pragma once
// Numeric ids of the recorder's dialog templates, strings and pictures.
// Control ids are given in the templates themselves (DialogTemplate.cpp); the
// windows use the numbers directly, as their control tables list them.

// Dialog templates
constexpr int IDD_ABOUTBOX = 100;      // "About Cadenzo"
constexpr int IDD_RECORDER = 102;      // the main window, "Novu Cadenzo"
constexpr int IDD_CUSTOM_SETTINGS = 139;  // "Cadenzo Custom Settings"

// Strings
constexpr int IDS_ABOUTBOX = 101;      // "&About Cadenzo..."
constexpr int IDS_TIP_RECORD = 105;
constexpr int IDS_TIP_STOP = 106;
constexpr int IDS_TIP_ADD_PRESET = 107;
constexpr int IDS_TIP_DELETE_PRESET = 108;
constexpr int IDS_TIP_LEVEL_LEFT = 109;
constexpr int IDS_TIP_BASE_NAME = 110;
constexpr int IDS_TIP_NEW = 111;
constexpr int IDS_TIP_MIXER = 112;
constexpr int IDS_TIP_LEVEL_RIGHT = 113;
// The main window's LED bars: the level tips with how to watch the input while idle.
constexpr int IDS_TIP_WATCH_LEFT = 114;
constexpr int IDS_TIP_WATCH_RIGHT = 115;

// Icons
constexpr int IDI_PROGRAM = 128;
constexpr int IDI_ABOUT = 131;
constexpr int IDI_STOP = 132;
constexpr int IDI_RECORD = 136;
constexpr int IDI_MIXER = 163;
constexpr int IDI_ADD = 278;
constexpr int IDI_DELETE = 279;

// Bitmaps
constexpr int IDB_ABOUT = 130;          // 263 x 182
constexpr int IDB_RECORD_ACTIVE_PURPLE = 158;  // 114 x 114, the record turned, purple ground
constexpr int IDB_RECORD_IDLE_PURPLE = 159;    // 114 x 114, the record at rest, purple ground
constexpr int IDB_RECORD_ACTIVE_LIGHT = 160;   // 114 x 114, turned, light ground
constexpr int IDB_RECORD_IDLE_LIGHT = 161;     // 114 x 114, at rest, light ground

// Help topics: the template id of the window whose help is asked for
constexpr int IDH_RECORDER = IDD_RECORDER;
constexpr int IDH_CUSTOM_SETTINGS = IDD_CUSTOM_SETTINGS;
