#include "desktop/typing_options.h"

#include <charconv>

#include "core/utf8.h"

namespace {

size_t count_characters(std::string_view utf8) {
    size_t count = 0;
    for (size_t pos = 0; pos < utf8.size(); ++count) next_code_point(utf8, pos);
    return count;
}

// Each option's value rule, named in its error text together with the option.
struct ValueRule {
    const char* option;
    const char* allowed;
};

std::string value_error(const ValueRule& rule, const std::string* value) {
    return option_value_error(rule.option, rule.allowed, value);
}

bool parse_key_delay(const std::string& text, uint32_t& delay) {
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value > MAX_KEY_DELAY_MS) return false;
    delay = value;
    return true;
}

}  // namespace

std::string option_value_error(std::string_view option, std::string_view allowed,
                               const std::string* value) {
    std::string text = std::string(option) + " takes " + std::string(allowed);
    if (!value) return text + ", but no value was given";
    return text + ", not \"" + utf8_lossy(*value) + "\"";
}

bool parse_typing_option(const std::vector<std::string>& arguments, size_t& index,
                         TypingOptions& options, std::string& error) {
    static const ValueRule KEY_DELAY{"--key-delay",
                                     "a whole number of milliseconds from 0 to 1000"};
    static const ValueRule TYPE_MODE{"--type-mode", "unicode or keys"};
    static const ValueRule SUFFIX_KEY{"--suffix-key", "enter or tab"};
    static const ValueRule PREFIX{"--prefix", "a text of at most 64 characters"};
    static const ValueRule POSTFIX{"--postfix", "a text of at most 64 characters"};

    const std::string& option = arguments[index];
    const ValueRule* rule = option == KEY_DELAY.option    ? &KEY_DELAY
                            : option == TYPE_MODE.option  ? &TYPE_MODE
                            : option == SUFFIX_KEY.option ? &SUFFIX_KEY
                            : option == PREFIX.option     ? &PREFIX
                            : option == POSTFIX.option    ? &POSTFIX
                                                          : nullptr;
    if (!rule) return false;
    if (index + 1 >= arguments.size()) {
        error = value_error(*rule, nullptr);
        return true;
    }
    const std::string& value = arguments[++index];
    bool good = true;
    if (rule == &KEY_DELAY) {
        good = parse_key_delay(value, options.key_delay_ms);
    } else if (rule == &TYPE_MODE) {
        good = value == "unicode" || value == "keys";
        if (good) options.mode = value == "keys" ? TypeMode::keys : TypeMode::unicode;
    } else if (rule == &SUFFIX_KEY) {
        good = value == "enter" || value == "tab";
        if (good) options.suffix_key = value == "tab" ? SuffixKey::tab : SuffixKey::enter;
    } else {
        std::string text = utf8_lossy(value);
        good = count_characters(text) <= MAX_AFFIX_CHARACTERS;
        if (good) (rule == &PREFIX ? options.prefix : options.postfix) = std::move(text);
    }
    if (!good) error = value_error(*rule, &value);
    return true;
}

std::string typing_settings_line(const TypingOptions& options) {
    if (options == TypingOptions{}) return {};
    std::string line = "Typing: ";
    line += options.mode == TypeMode::keys ? "key codes" : "Unicode characters";
    line += options.key_delay_ms == 0
                ? std::string(", no pause between characters")
                : ", " + std::to_string(options.key_delay_ms) + " ms between characters";
    line +=
        options.suffix_key == SuffixKey::tab ? ", Tab after each scan" : ", Enter after each scan";
    if (!options.prefix.empty()) line += ", prefix \"" + options.prefix + "\"";
    if (!options.postfix.empty()) line += ", postfix \"" + options.postfix + "\"";
    return line;
}

std::string_view typed_outcome(bool with_suffix, SuffixKey suffix_key) {
    if (!with_suffix) return "Typed";
    return suffix_key == SuffixKey::tab ? "Typed+Tab" : "Typed+Enter";
}
