// Keystrokes as Win32 key events: the plan of what SendInput sends for one scan. Plain data
// without Windows headers, so the unit tests check it on any machine.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "desktop/typing_options.h"

// Win32 values, kept here so the event list is plain data that tests can compare.
inline constexpr uint16_t VK_TAB_KEY = 0x09;
inline constexpr uint16_t VK_RETURN_KEY = 0x0D;
inline constexpr uint16_t VK_SHIFT_KEY = 0x10;
inline constexpr uint16_t VK_CONTROL_KEY = 0x11;
inline constexpr uint16_t VK_MENU_KEY = 0x12;         // Alt
inline constexpr uint32_t KEY_FLAG_KEYUP = 0x0002;    // KEYEVENTF_KEYUP
inline constexpr uint32_t KEY_FLAG_UNICODE = 0x0004;  // KEYEVENTF_UNICODE

// Modifier bits as VkKeyScanExW reports them in its high byte.
inline constexpr uint8_t MODIFIER_SHIFT = 1;
inline constexpr uint8_t MODIFIER_CONTROL = 2;
inline constexpr uint8_t MODIFIER_ALT = 4;

// The keyboard part of one Win32 INPUT record (time and extra information are always 0).
struct KeyEvent {
    uint16_t virtual_key;
    uint16_t scan_code;
    uint32_t flags;

    bool operator==(const KeyEvent&) const = default;
};

// The events of one typed character, or of the suffix key: what one paced step sends.
using Keystroke = std::vector<KeyEvent>;

// The key of a layout that types one UTF-16 unit, as the layout reports it.
struct LayoutKey {
    uint16_t virtual_key;
    uint16_t scan_code;
    uint8_t modifiers;  // MODIFIER_* bits, and any others the layout reports
    bool dead;          // pressing it does not type the unit by itself (a dead key)
};

// The keyboard layout that key-code typing maps through; a small seam so tests can use a
// layout table of their own. An empty `key_for` knows no key at all.
struct KeyboardLayout {
    std::function<std::optional<LayoutKey>(char16_t unit)> key_for;  // nullopt: no key types it
    std::function<uint16_t(uint16_t virtual_key)> scan_code_for;
};

// Prefix, text and postfix (CR and LF skipped), then the suffix key if `with_suffix`; one
// keystroke per character. Unicode mode sends every UTF-16 unit as a Unicode down/up pair. Keys
// mode presses the layout's key with Shift, Ctrl and Alt around it as needed; a character the
// layout cannot type by one key (or at all) falls back to its Unicode pairs.
std::vector<Keystroke> keystrokes_for_text(std::string_view text, bool with_suffix,
                                           const TypingOptions& options = {},
                                           const KeyboardLayout& layout = {});

// The same keystrokes as one list.
std::vector<KeyEvent> key_events_for_text(std::string_view text, bool with_suffix,
                                          const TypingOptions& options = {},
                                          const KeyboardLayout& layout = {});
