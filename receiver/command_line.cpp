#include "receiver/command_line.h"

#include <optional>

#include "core/text_codes.h"

bool parse_port_value(const std::string& text, uint16_t& port) {
    const std::optional<uint16_t> value = whole_number<uint16_t>(text);
    if (value) port = *value;
    return value.has_value();
}

namespace {

// The value after --journal-days at `index`, which moves past it; false with `error` set when
// it is missing or not a whole number from 0 to MAX_JOURNAL_DAYS.
bool parse_journal_days(const std::vector<std::string>& arguments, size_t& index, unsigned& days,
                        std::string& error) {
    const std::string* text = index + 1 < arguments.size() ? &arguments[++index] : nullptr;
    const std::optional<unsigned> value = text ? whole_number<unsigned>(*text) : std::nullopt;
    if (value && *value <= MAX_JOURNAL_DAYS) {
        days = *value;
        return true;
    }
    error = option_value_error(
        "--journal-days", "a whole number of days from 0 to " + std::to_string(MAX_JOURNAL_DAYS),
        text);
    return false;
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool given = true;
        if (argument == "--port" || argument == "-p") {
            // The value is consumed even when it does not parse, so it is never an option.
            if (i + 1 < arguments.size() &&
                parse_port_value(arguments[++i], result.settings.port)) {
                result.given.insert("--port");  // "-p" too: one setting, one name
            }
            continue;
        } else if (argument == "--no-type") {
            result.settings.auto_type = false;
        } else if (argument == "--no-enter") {
            result.settings.press_enter = false;
        } else if (argument == "--no-copy") {
            result.settings.copy_to_clipboard = false;
        } else if (argument == "--headless") {
            result.headless = true;
        } else if (argument == "--pairing-key") {
            result.pairing_key = true;
        } else if (argument == "--no-journal") {
            result.journal.enabled = false;
        } else if (argument == "--journal-days") {
            if (!parse_journal_days(arguments, i, result.journal.keep_days, result.error)) break;
        } else if (argument == "--new-pairing-key") {
            result.pairing_key = result.new_pairing_key = true;
            result.given.insert("--pairing-key");  // a new key asks for the key's use too
        } else if (argument == "--ephemeral-identity") {
            result.ephemeral_identity = true;
        } else if (argument == "--ignore-settings") {
            result.ignore_settings = true;
        } else if (argument == "--minimized") {
            result.minimized = true;
        } else if (parse_typing_option(arguments, i, result.settings.typing, result.error)) {
            if (!result.error.empty()) break;
        } else {
            given = false;  // anything else is ignored
        }
        if (given) result.given.insert(argument);
    }
    return result;
}

std::vector<std::string> split_windows_command_line(std::string_view line) {
    std::vector<std::string> arguments;
    size_t i = 0;
    const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };

    // The program path: quotes group, backslashes are literal.
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i < line.size()) {
        std::string program;
        bool quoted = false;
        for (; i < line.size() && (quoted || !is_blank(line[i])); ++i) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else {
                program += line[i];
            }
        }
        arguments.push_back(std::move(program));
    }

    for (;;) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size()) break;
        std::string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !is_blank(line[i]))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                // 2n backslashes + quote: n backslashes and a quote toggle;
                // 2n+1 backslashes + quote: n backslashes and a literal quote.
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    argument += '"';  // "" inside quotes is a literal quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, '\\');
                if (i < line.size() && (quoted || !is_blank(line[i]))) argument += line[i++];
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}
