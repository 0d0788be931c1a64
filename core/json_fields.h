// Members of a JSON request body, found by text search: the receiver carries no JSON parser.
// Replies are built from fixed pieces with strings quoted by json_quote.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decoded value of the first `"key"` followed by a colon, when a string follows that colon;
// nullopt when absent, not a string or unterminated.
std::optional<std::string> json_string_field(std::string_view body, std::string_view key);

// The digits after the first colon behind `"confidence"` (a fraction is cut off); 100 when
// there are none or they do not fit in 32 bits.
uint32_t parse_confidence(std::string_view body);

// The text after the first colon that follows the first quoted `key`, with White_Space
// skipped; nullopt when there is no such key or colon.
std::optional<std::string_view> json_value_after_key(std::string_view body, std::string_view key);

// A JSON string literal, quotes included. Only the quote, the backslash and controls are
// escaped; everything else stays as it is, the slash included.
std::string json_quote(std::string_view value);
