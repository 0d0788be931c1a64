// The settings dialog's controls and size at 96 DPI (scaled like the main window's), free of
// <windows.h>.
#pragma once

#include <array>
#include <string_view>

#include "ui/window_layout.h"

inline constexpr int IDC_KEY_DELAY = 201;
inline constexpr int IDC_KEY_DELAY_ERROR = 202;
inline constexpr int IDC_TYPE_MODE = 203;
inline constexpr int IDC_SUFFIX_KEY = 204;
inline constexpr int IDC_PREFIX = 205;
inline constexpr int IDC_PREFIX_ERROR = 206;
inline constexpr int IDC_POSTFIX = 207;
inline constexpr int IDC_POSTFIX_ERROR = 208;
inline constexpr int IDC_PAIRING_KEY = 209;
inline constexpr int IDC_START_WITH_WINDOWS = 210;
inline constexpr int IDC_CLOSE_TO_TRAY = 211;
inline constexpr int IDC_SETTINGS_OK = 1;      // IDOK: Enter presses it
inline constexpr int IDC_SETTINGS_CANCEL = 2;  // IDCANCEL: Escape presses it

inline constexpr std::string_view SETTINGS_DIALOG_TITLE = "Quillmark Settings";
inline constexpr int SETTINGS_DIALOG_WIDTH = 432;  // client area
inline constexpr int SETTINGS_DIALOG_HEIGHT = 330;

inline constexpr uint32_t STYLE_WS_GROUP = 0x00020000;
inline constexpr uint32_t STYLE_BS_DEFPUSHBUTTON = 0x0001;
inline constexpr uint32_t EDIT_BOX_STYLE = STYLE_ES_AUTOHSCROLL | STYLE_WS_TABSTOP;

// The choices of the two lists, in the order of their items.
inline constexpr std::array<std::string_view, 2> TYPE_MODE_ITEMS{
    "Unicode characters", "Key codes of the keyboard layout"};
inline constexpr std::array<std::string_view, 2> SUFFIX_KEY_ITEMS{"Enter", "Tab"};

// In creation order, which is the Tab order. A label's "&" underlines the key that, with Alt,
// moves to the field after it.
inline constexpr std::array<ControlLayout, 18> SETTINGS_DIALOG_CONTROLS{{
    {"STATIC", "&Key delay (ms):", 0, 14, 17, 150, 20, 0, 0},
    {"EDIT", "", IDC_KEY_DELAY, 170, 14, 70, 24, EDIT_BOX_STYLE | STYLE_ES_NUMBER,
     STYLE_WS_EX_CLIENTEDGE},
    {"STATIC", "", IDC_KEY_DELAY_ERROR, 250, 17, 168, 20, STYLE_SS_NOPREFIX, 0},
    {"STATIC", "&Typing:", 0, 14, 49, 150, 20, 0, 0},
    {"COMBOBOX", "", IDC_TYPE_MODE, 170, 46, 248, 200, STYLE_CBS_DROPDOWNLIST_TAB, 0},
    {"STATIC", "Key &after the scan:", 0, 14, 81, 150, 20, 0, 0},
    {"COMBOBOX", "", IDC_SUFFIX_KEY, 170, 78, 248, 200, STYLE_CBS_DROPDOWNLIST_TAB, 0},
    {"STATIC", "&Prefix:", 0, 14, 113, 150, 20, 0, 0},
    {"EDIT", "", IDC_PREFIX, 170, 110, 248, 24, EDIT_BOX_STYLE, STYLE_WS_EX_CLIENTEDGE},
    {"STATIC", "", IDC_PREFIX_ERROR, 170, 135, 248, 18, STYLE_SS_NOPREFIX, 0},
    {"STATIC", "P&ostfix:", 0, 14, 159, 150, 20, 0, 0},
    {"EDIT", "", IDC_POSTFIX, 170, 156, 248, 24, EDIT_BOX_STYLE, STYLE_WS_EX_CLIENTEDGE},
    {"STATIC", "", IDC_POSTFIX_ERROR, 170, 181, 248, 18, STYLE_SS_NOPREFIX, 0},
    {"BUTTON", "Only the paired phone may send scans", IDC_PAIRING_KEY, 14, 206, 404, 22,
     CHECK_BOX_STYLE, 0},
    {"BUTTON", "Start with Windows", IDC_START_WITH_WINDOWS, 14, 232, 404, 22, CHECK_BOX_STYLE, 0},
    {"BUTTON", "Close to the notification area", IDC_CLOSE_TO_TRAY, 14, 258, 404, 22,
     CHECK_BOX_STYLE, 0},
    {"BUTTON", "OK", IDC_SETTINGS_OK, 248, 292, 80, 26,
     PUSH_BUTTON_STYLE | STYLE_BS_DEFPUSHBUTTON | STYLE_WS_GROUP, 0},
    {"BUTTON", "Cancel", IDC_SETTINGS_CANCEL, 338, 292, 80, 26, PUSH_BUTTON_STYLE, 0},
}};
