// The main window's fixed geometry: the window itself, its child controls and the QR panel.
// Plain data, free of <windows.h>, so the layout can be checked on any platform.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/typing_options.h"

// Control identifiers; labels have identifier 0.
inline constexpr int IDC_ADAPTER = 101;
inline constexpr int IDC_PORT = 102;
inline constexpr int IDC_APPLY_PORT = 103;
inline constexpr int IDC_URL = 104;
inline constexpr int IDC_COPY_URL = 105;
inline constexpr int IDC_AUTO_TYPE = 106;
inline constexpr int IDC_PRESS_ENTER = 107;
inline constexpr int IDC_COPY_CLIPBOARD = 108;
inline constexpr int IDC_ALLOW_FIREWALL = 109;
inline constexpr int IDC_CLEAR_LOG = 110;
inline constexpr int IDC_LOG = 111;
inline constexpr int IDC_STATUS = 112;
inline constexpr int IDC_ABOUT = 113;
inline constexpr int IDC_OPEN_JOURNAL = 114;
inline constexpr int IDC_OPEN_BROWSER = 115;
inline constexpr int IDC_TRUST_HINT = 116;  // empty without a lasting identity
inline constexpr int IDC_SETTINGS = 117;
// The notification area icon's menu; sent to the main window as commands.
inline constexpr int IDM_TRAY_SHOW = 301;
inline constexpr int IDM_TRAY_PAUSE = 302;
inline constexpr int IDM_TRAY_EXIT = 303;

// Win32 style bits under names of their own (the Windows headers define the originals as
// macros); the Win32 build checks each against its header.
inline constexpr uint32_t STYLE_WS_VSCROLL = 0x00200000;
inline constexpr uint32_t STYLE_WS_BORDER = 0x00800000;
inline constexpr uint32_t STYLE_WS_TABSTOP = 0x00010000;
inline constexpr uint32_t STYLE_WS_CAPTION = 0x00C00000;
inline constexpr uint32_t STYLE_WS_SYSMENU = 0x00080000;
inline constexpr uint32_t STYLE_WS_MINIMIZEBOX = 0x00020000;
inline constexpr uint32_t STYLE_ES_MULTILINE = 0x0004;
inline constexpr uint32_t STYLE_ES_AUTOVSCROLL = 0x0040;
inline constexpr uint32_t STYLE_ES_AUTOHSCROLL = 0x0080;
inline constexpr uint32_t STYLE_ES_READONLY = 0x0800;
inline constexpr uint32_t STYLE_ES_NUMBER = 0x2000;
inline constexpr uint32_t STYLE_CBS_DROPDOWNLIST = 0x0003;
inline constexpr uint32_t STYLE_BS_AUTOCHECKBOX = 0x0003;
inline constexpr uint32_t STYLE_SS_RIGHT = 0x0002;
inline constexpr uint32_t STYLE_SS_NOPREFIX = 0x0080;
inline constexpr uint32_t STYLE_WS_EX_CLIENTEDGE = 0x0200;
// A drop-down list that scrolls and that Tab reaches.
inline constexpr uint32_t STYLE_CBS_DROPDOWNLIST_TAB =
    STYLE_CBS_DROPDOWNLIST | STYLE_WS_VSCROLL | STYLE_WS_TABSTOP;

inline constexpr std::string_view WINDOW_CLASS_NAME = "QuillmarkReceiverWindow";
inline constexpr std::string_view WINDOW_TITLE =
    "Quillmark \u2014 PC Barcode Receiver (QR & Keyboard Wedge)";
// Fixed size: no sizing border and no maximise button.
inline constexpr uint32_t WINDOW_STYLE = STYLE_WS_CAPTION | STYLE_WS_SYSMENU | STYLE_WS_MINIMIZEBOX;
inline constexpr int WINDOW_WIDTH = 768;  // outer size, frame included
inline constexpr int WINDOW_HEIGHT = 492;

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;  // exclusive
    int bottom = 0;

    bool operator==(const PixelRect&) const = default;
};

// The square the QR panel paints, in client pixels.
inline constexpr PixelRect QR_AREA{20, 20, 296, 296};
inline constexpr uint32_t QR_BACKGROUND_COLOUR = 0xFFFFFF;
inline constexpr uint32_t QR_FRAME_COLOUR = 0xCCCCCC;
inline constexpr uint32_t QR_MODULE_COLOUR = 0x111111;

// One child control. Every control also gets WS_CHILD | WS_VISIBLE.
struct ControlLayout {
    std::string_view class_name;
    std::string_view text;  // the URL and port boxes get theirs from the state instead
    int id;
    int x, y, width, height;
    uint32_t style;
    uint32_t ex_style;
};

inline constexpr uint32_t PUSH_BUTTON_STYLE = STYLE_WS_TABSTOP;
inline constexpr uint32_t CHECK_BOX_STYLE = STYLE_BS_AUTOCHECKBOX | STYLE_WS_TABSTOP;

// In creation order.
inline constexpr std::string_view PRESS_ENTER_LABEL = "Press Enter after typing barcode";
inline constexpr std::string_view PRESS_TAB_LABEL = "Press Tab after typing barcode";

inline constexpr std::array<ControlLayout, 22> WINDOW_CONTROLS{{
    // Without SS_NOPREFIX the "&" would vanish and underline the blank after it.
    {"STATIC", "Scan QR with your phone to open & auto-pair:", 0, 20, 306, 276, 20,
     STYLE_SS_NOPREFIX, 0},
    {"EDIT", "", IDC_URL, 20, 330, 276, 26, STYLE_ES_AUTOHSCROLL | STYLE_ES_READONLY,
     STYLE_WS_EX_CLIENTEDGE},
    {"BUTTON", "Copy Full URL", IDC_COPY_URL, 20, 364, 132, 30, PUSH_BUTTON_STYLE, 0},
    {"BUTTON", "Allow Firewall", IDC_ALLOW_FIREWALL, 164, 364, 132, 30, PUSH_BUTTON_STYLE, 0},
    {"STATIC", "PC Network Adapter (Ethernet / Wi-Fi):", 0, 318, 20, 415, 18, 0, 0},
    {"COMBOBOX", "", IDC_ADAPTER, 318, 40, 415, 200, STYLE_CBS_DROPDOWNLIST_TAB, 0},
    {"STATIC", "Port:", 0, 318, 76, 40, 20, 0, 0},
    {"EDIT", "", IDC_PORT, 360, 72, 78, 24, STYLE_ES_NUMBER | STYLE_WS_TABSTOP,
     STYLE_WS_EX_CLIENTEDGE},
    {"BUTTON", "Apply Port", IDC_APPLY_PORT, 446, 71, 95, 26, PUSH_BUTTON_STYLE, 0},
    {"BUTTON", "About", IDC_ABOUT, 651, 71, 82, 26, PUSH_BUTTON_STYLE, 0},
    {"BUTTON", "Settings\u2026", IDC_SETTINGS, 549, 71, 94, 26, PUSH_BUTTON_STYLE, 0},
    {"BUTTON", "Auto-type barcode into active window (Keyboard Wedge)", IDC_AUTO_TYPE, 318, 110,
     415, 22, CHECK_BOX_STYLE, 0},
    {"BUTTON", PRESS_ENTER_LABEL, IDC_PRESS_ENTER, 318, 136, 415, 22, CHECK_BOX_STYLE, 0},
    {"BUTTON", "Copy received barcode to clipboard", IDC_COPY_CLIPBOARD, 318, 162, 415, 22,
     CHECK_BOX_STYLE, 0},
    {"STATIC", "Incoming Scans Log:", 0, 318, 194, 220, 18, 0, 0},
    {"BUTTON", "Clear Log", IDC_CLEAR_LOG, 651, 189, 82, 24, PUSH_BUTTON_STYLE, 0},
    {"EDIT", "", IDC_LOG, 318, 218, 415, 126,
     STYLE_ES_MULTILINE | STYLE_ES_AUTOVSCROLL | STYLE_ES_READONLY | STYLE_WS_VSCROLL |
         STYLE_WS_BORDER,
     STYLE_WS_EX_CLIENTEDGE},
    {"BUTTON", "Open scan journal", IDC_OPEN_JOURNAL, 318, 354, 150, 28, PUSH_BUTTON_STYLE, 0},
    {"BUTTON", "Open in browser", IDC_OPEN_BROWSER, 478, 354, 130, 28, PUSH_BUTTON_STYLE, 0},
    {"STATIC", "", IDC_TRUST_HINT, 20, 395, 713, 16, STYLE_SS_NOPREFIX, 0},
    {"STATIC", "", IDC_STATUS, 20, 412, 495, 22, 0, 0},
    {"STATIC", "Powered by Brackenfold", 0, 520, 412, 213, 22, STYLE_SS_RIGHT, 0},
}};

// The press-Enter check box's label for the key pressed after a scan.
std::string_view press_key_label(SuffixKey suffix_key);

// The text a control starts with: the table's, except for the URL and port boxes and, when Tab
// is the key pressed after a scan, the press-Enter check box.
std::string initial_control_text(const ControlLayout& layout, std::string_view pairing_url,
                                 uint16_t port, SuffixKey suffix_key = SuffixKey::enter);
