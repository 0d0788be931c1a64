// Text as the X11 backend types and serves it: keysyms, Latin-1 and the keys a scan ends with.
// Plain logic without X headers, so the unit tests check it on any machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/typing_options.h"

inline constexpr uint32_t KEYSYM_TAB = 0xFF09;     // XK_Tab
inline constexpr uint32_t KEYSYM_RETURN = 0xFF0D;  // XK_Return

// The keysym that types a code point: Latin-1 keysyms equal their code points, every other
// character has the Unicode keysym 0x01000000 + code point. Tab is the Tab key. 0 for line
// breaks and other control characters, which a wedge never types.
uint32_t keysym_for_code_point(char32_t code_point);

// The keysyms of a UTF-8 text in order, without the untyped characters.
std::vector<uint32_t> keysyms_for_text(std::string_view utf8);

// The STRING form of a selection: ISO Latin-1, with "?" for characters beyond it.
std::string latin1_from_utf8(std::string_view utf8);

// What one scan types: the keysyms of prefix, text and postfix, then Return or Tab (as the
// options say) when `with_suffix`.
std::vector<uint32_t> keysyms_for_typing(std::string_view text, bool with_suffix,
                                         const TypingOptions& options);
