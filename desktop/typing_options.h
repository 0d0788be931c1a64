// How scans are typed: Unicode packets or layout key codes, pacing, suffix key, prefix and
// postfix. Set once at start from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TypeMode { unicode, keys };
enum class SuffixKey { enter, tab };

inline constexpr uint32_t MAX_KEY_DELAY_MS = 1000;
inline constexpr size_t MAX_AFFIX_CHARACTERS = 64;

struct TypingOptions {
    TypeMode mode = TypeMode::unicode;
    SuffixKey suffix_key = SuffixKey::enter;
    uint32_t key_delay_ms = 0;  // pause after each typed character; 0 = the whole scan at once
    std::string prefix;         // typed before the scan text, never copied
    std::string postfix;        // typed after it, before the suffix key

    bool operator==(const TypingOptions&) const = default;
};

// "OPTION takes ALLOWED, not "VALUE"", or "…, but no value was given" without a value: the
// error text of every option value and saved setting.
std::string option_value_error(std::string_view option, std::string_view allowed,
                               const std::string* value);

// Reads the typing option at `arguments[index]` and its value, moving `index` onto the value.
// Returns false when the argument is no typing option; `error` is set when its value is bad.
bool parse_typing_option(const std::vector<std::string>& arguments, size_t& index,
                         TypingOptions& options, std::string& error);

// "Typing: key codes, 20 ms between characters, Tab after each scan"; empty for the defaults.
std::string typing_settings_line(const TypingOptions& options);

// The outcome word of a typed scan: "Typed", "Typed+Enter" or "Typed+Tab".
std::string_view typed_outcome(bool with_suffix, SuffixKey suffix_key);
