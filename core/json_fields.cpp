#include "core/json_fields.h"

#include <charconv>

#include "core/text_codes.h"
#include "core/utf8.h"

namespace {

bool is_json_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

size_t skip_json_blanks(std::string_view s, size_t pos) {
    while (pos < s.size() && is_json_blank(s[pos])) ++pos;
    return pos;
}

// The four characters at `pos` (just after "\u") read as a hexadecimal number, or -1 when
// they are not all hex digits; `pos` moves past them. nullopt when fewer than four remain.
std::optional<int32_t> read_hex4(std::string_view s, size_t& pos) {
    size_t p = pos;
    int32_t value = 0;
    for (int k = 0; k < 4; ++k) {
        if (p >= s.size()) return std::nullopt;
        int digit = hex_digit_value(next_code_point(s, p));
        value = value < 0 || digit < 0 ? -1 : value * 16 + digit;
    }
    pos = p;
    return value;
}

// A "\u" escape whose "\u" is already consumed. A high surrogate directly followed by an
// escaped low surrogate is one character; any other surrogate is dropped.
void decode_unicode_escape(std::string_view s, size_t& pos, std::string& out) {
    size_t p = pos;
    std::optional<int32_t> unit = read_hex4(s, p);
    if (!unit) return;  // too short: only the backslash and the u go
    pos = p;
    if (is_high_surrogate(*unit)) {
        if (s.substr(p, 2) != "\\u") return;
        p += 2;
        std::optional<int32_t> low = read_hex4(s, p);
        if (!low || !is_low_surrogate(*low)) return;
        pos = p;
        append_utf8(out, 0x10000 + ((static_cast<char32_t>(*unit) - 0xD800) << 10) +
                             (static_cast<char32_t>(*low) - 0xDC00));
    } else if (*unit >= 0 && !is_low_surrogate(*unit)) {
        append_utf8(out, static_cast<char32_t>(*unit));
    }
}

// The string whose opening quote is just before `pos`; nullopt when it is not terminated.
std::optional<std::string> decode_json_string(std::string_view s, size_t pos) {
    std::string out;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos == s.size()) return std::nullopt;
        char escaped = s[pos++];
        switch (escaped) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                decode_unicode_escape(s, pos, out);
                break;
            // A quote, a slash, a backslash and anything else stand for themselves. The lead
            // byte of a multi-byte character lands here; its other bytes follow as plain text.
            default:
                out += escaped;
                break;
        }
    }
    return std::nullopt;
}

std::string quoted_key(std::string_view key) {
    std::string pattern = "\"";
    pattern += key;
    pattern += '"';
    return pattern;
}

}  // namespace

std::optional<std::string_view> json_value_after_key(std::string_view body, std::string_view key) {
    size_t found = body.find(quoted_key(key));
    if (found == std::string_view::npos) return std::nullopt;
    size_t colon = body.find(':', found + key.size() + 2);
    if (colon == std::string_view::npos) return std::nullopt;
    size_t pos = colon + 1;
    while (pos < body.size()) {
        size_t next = pos;
        if (!is_white_space(next_code_point(body, next))) break;
        pos = next;
    }
    return body.substr(pos);
}

std::optional<std::string> json_string_field(std::string_view body, std::string_view key) {
    const std::string pattern = quoted_key(key);
    size_t pos = 0;
    for (;;) {
        size_t found = body.find(pattern, pos);
        if (found == std::string_view::npos) return std::nullopt;
        pos = skip_json_blanks(body, found + pattern.size());
        if (pos < body.size() && body[pos] == ':') break;
        pos = found + pattern.size();
    }
    pos = skip_json_blanks(body, pos + 1);
    if (pos >= body.size() || body[pos] != '"') return std::nullopt;
    return decode_json_string(body, pos + 1);
}

uint32_t parse_confidence(std::string_view body) {
    constexpr uint32_t DEFAULT_CONFIDENCE = 100;
    std::optional<std::string_view> value = json_value_after_key(body, "confidence");
    if (!value) return DEFAULT_CONFIDENCE;
    size_t digits = 0;
    while (digits < value->size() && (*value)[digits] >= '0' && (*value)[digits] <= '9') ++digits;
    uint32_t number = 0;
    auto [end, error] = std::from_chars(value->data(), value->data() + digits, number);
    if (digits == 0 || error != std::errc()) return DEFAULT_CONFIDENCE;
    return number;
}

std::string json_quote(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    for (char c : value) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    constexpr char HEX[] = "0123456789abcdef";
                    out += "\\u00";
                    out += HEX[c >> 4];
                    out += HEX[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}
