#include "desktop/x11/x11_text.h"

#include "core/utf8.h"

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

std::vector<uint32_t> keysyms_for_typing(std::string_view text, bool with_suffix,
                                         const TypingOptions& options) {
    std::vector<uint32_t> keysyms = keysyms_for_text(options.prefix);
    for (std::string_view part : {text, std::string_view(options.postfix)}) {
        std::vector<uint32_t> more = keysyms_for_text(part);
        keysyms.insert(keysyms.end(), more.begin(), more.end());
    }
    if (with_suffix) {
        keysyms.push_back(options.suffix_key == SuffixKey::tab ? KEYSYM_TAB : KEYSYM_RETURN);
    }
    return keysyms;
}
