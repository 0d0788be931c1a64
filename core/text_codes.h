// Small text codes written once: ASCII case, whole numbers, hexadecimal digits, UTF-16 surrogates,
// percent-encoding, URL query members and base64url.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whether the two are equal when ASCII letters are compared without case.
bool equals_ascii_case_insensitive(std::string_view a, std::string_view b);

// 0 to 15 for a hexadecimal digit of either case, -1 for anything else.
int hex_digit_value(char32_t c);

constexpr bool is_high_surrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool is_low_surrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// "%3D" becomes "="; a "%" without two hex digits after it stays as it is. No plus-as-blank.
std::string percent_decoded(std::string_view text);

// The value of the first member `name` of a query ("a=1&key=xyz"), percent-decoded; nullopt
// when there is no such member.
std::optional<std::string> query_member(std::string_view query, std::string_view name);

// The whole text as a number of type T, in std::from_chars's syntax (no blanks, no "+", a "-"
// only for signed types); nullopt for anything else, an empty text or one out of T's range.
template <typename T>
std::optional<T> whole_number(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// RFC 4648 base64url, without padding.
std::string base64url(std::string_view bytes);
