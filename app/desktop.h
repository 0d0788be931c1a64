// The desktop side of scan delivery: synthetic keystrokes and the clipboard.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "app/result.h"

// Win32 values, kept here so the event list is plain data that tests can compare.
inline constexpr uint16_t VK_RETURN_KEY = 0x0D;
inline constexpr uint32_t KEY_FLAG_KEYUP = 0x0002;    // KEYEVENTF_KEYUP
inline constexpr uint32_t KEY_FLAG_UNICODE = 0x0004;  // KEYEVENTF_UNICODE

// The keyboard part of one Win32 INPUT record (time and extra information are always 0).
struct KeyEvent {
    uint16_t virtual_key;
    uint16_t scan_code;
    uint32_t flags;

    bool operator==(const KeyEvent&) const = default;
};

// One Unicode down/up pair per UTF-16 unit (CR and LF skipped), then VK_RETURN down/up if asked.
std::vector<KeyEvent> key_events_for_text(std::string_view text, bool with_enter);

// The platform's final calls. Errors: "SendInput incomplete"; "OpenClipboard failed",
// "GlobalAlloc failed", "GlobalLock failed", "SetClipboardData failed".
Status send_key_events(const std::vector<KeyEvent>& events);
Status copy_text_to_clipboard(std::string_view text);

// Builds the event list and sends it in one call; an empty list sends nothing.
Status type_text(std::string_view text, bool with_enter);

// What delivery uses to reach the desktop; tests put a recording fake in its place.
struct Desktop {
    std::function<Status(std::string_view text, bool with_enter)> type_text;
    std::function<Status(std::string_view text)> copy_text;
};

const Desktop& platform_desktop();
