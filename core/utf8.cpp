#include "core/utf8.h"

namespace {

// Length of the valid sequence starting at bytes[i], or 0 when it is not valid UTF-8.
// On failure `bad_length` is the maximal subpart to replace with one U+FFFD.
size_t valid_sequence_length(std::string_view bytes, size_t i, size_t& bad_length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char b0 = byte(i);
    bad_length = 1;
    if (b0 < 0x80) return 1;
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= bytes.size()) return 0;
        unsigned char b = byte(i + k);
        unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) return 0;
        bad_length = k + 1;
    }
    return need + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    size_t bad;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = valid_sequence_length(bytes, i, bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t bad;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = valid_sequence_length(bytes, i, bad);
        if (n == 0) {
            append_utf8(out, REPLACEMENT_CHARACTER);
            i += bad;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t next_code_point(std::string_view s, size_t& pos) {
    unsigned char b0 = static_cast<unsigned char>(s[pos]);
    size_t extra = b0 < 0x80 ? 0 : b0 < 0xE0 ? 1 : b0 < 0xF0 ? 2 : 3;
    char32_t c = extra == 0   ? b0
                 : extra == 1 ? (b0 & 0x1F)
                 : extra == 2 ? (b0 & 0x0F)
                              : (b0 & 0x07);
    ++pos;
    for (size_t k = 0; k < extra && pos < s.size(); ++k, ++pos) {
        c = (c << 6) | (static_cast<unsigned char>(s[pos]) & 0x3F);
    }
    return c;
}

bool is_white_space(char32_t c) {
    switch (c) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::string_view trim_white_space(std::string_view s) {
    size_t begin = 0;
    while (begin < s.size()) {
        size_t next = begin;
        if (!is_white_space(next_code_point(s, next))) break;
        begin = next;
    }
    size_t end = begin;
    for (size_t pos = begin; pos < s.size();) {
        bool blank = is_white_space(next_code_point(s, pos));
        if (!blank) end = pos;
    }
    return s.substr(begin, end - begin);
}

std::vector<std::string_view> split_white_space(std::string_view s) {
    std::vector<std::string_view> pieces;
    size_t start = std::string_view::npos;
    for (size_t pos = 0; pos < s.size();) {
        size_t here = pos;
        bool blank = is_white_space(next_code_point(s, pos));
        if (blank && start != std::string_view::npos) {
            pieces.push_back(s.substr(start, here - start));
            start = std::string_view::npos;
        } else if (!blank && start == std::string_view::npos) {
            start = here;
        }
    }
    if (start != std::string_view::npos) pieces.push_back(s.substr(start));
    return pieces;
}

std::u16string utf16_from_utf8(std::string_view utf8) {
    std::string checked = utf8_lossy(utf8);
    std::u16string out;
    out.reserve(checked.size());
    for (size_t pos = 0; pos < checked.size();) {
        char32_t c = next_code_point(checked, pos);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string utf8_from_utf16(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = REPLACEMENT_CHARACTER;
        }
        append_utf8(out, c);
    }
    return out;
}
