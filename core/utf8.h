// UTF-8 helpers. Text is UTF-8 everywhere inside the receiver; UTF-16 exists only at Win32 calls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

bool is_valid_utf8(std::string_view bytes);

// Decodes bytes as UTF-8, replacing each invalid sequence (maximal subpart) by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

void append_utf8(std::string& out, char32_t code_point);

// Reads one code point at `pos` of valid UTF-8 and advances `pos` past it.
char32_t next_code_point(std::string_view utf8, size_t& pos);

// The Unicode White_Space property.
bool is_white_space(char32_t c);

// Removes White_Space characters at both ends of valid UTF-8.
std::string_view trim_white_space(std::string_view utf8);

// Splits valid UTF-8 at runs of White_Space characters, dropping empty pieces.
std::vector<std::string_view> split_white_space(std::string_view utf8);

std::u16string utf16_from_utf8(std::string_view utf8);

// Unpaired surrogates become U+FFFD.
std::string utf8_from_utf16(std::u16string_view utf16);
