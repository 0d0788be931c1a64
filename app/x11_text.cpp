#include "app/x11_text.h"

#include "app/utf8.h"

uint32_t keysym_for_code_point(char32_t code_point) {
    if (code_point == U'\t') return KEYSYM_TAB;
    if (code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) return 0;
    if (code_point < 0x100) return code_point;
    return 0x01000000 + code_point;
}

std::vector<uint32_t> keysyms_for_text(std::string_view utf8) {
    std::vector<uint32_t> keysyms;
    std::string text = utf8_lossy(utf8);
    for (size_t pos = 0; pos < text.size();) {
        if (uint32_t keysym = keysym_for_code_point(next_code_point(text, pos))) {
            keysyms.push_back(keysym);
        }
    }
    return keysyms;
}

std::string latin1_from_utf8(std::string_view utf8) {
    std::string latin1;
    std::string text = utf8_lossy(utf8);
    for (size_t pos = 0; pos < text.size();) {
        char32_t c = next_code_point(text, pos);
        latin1 += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return latin1;
}

Result<TypingRequest> typing_request_from_key_events(const std::vector<KeyEvent>& events) {
    TypingRequest request;
    std::u16string units;
    for (const KeyEvent& event : events) {
        if (event.flags & KEY_FLAG_KEYUP) continue;  // every key is pressed and let go
        if (request.suffix != NamedKey::none) {
            return Result<TypingRequest>::failure("A named key must come last");
        }
        if (event.flags & KEY_FLAG_UNICODE) {
            units += static_cast<char16_t>(event.scan_code);
        } else if (event.virtual_key == VK_RETURN_KEY) {
            request.suffix = NamedKey::return_key;
        } else if (event.virtual_key == VK_TAB_KEY) {
            request.suffix = NamedKey::tab;
        } else {
            return Result<TypingRequest>::failure("Unknown key " +
                                                  std::to_string(event.virtual_key));
        }
    }
    request.text = utf8_from_utf16(units);
    return request;
}
