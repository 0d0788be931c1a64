#include "receiver/saved_settings.h"

#include <optional>

#include "core/utf8.h"
#include "desktop/typing_options.h"

namespace {

struct SettingRow;
using ReadValue = bool (*)(const SettingRow& row, const std::string& text, StartSettings& start,
                           std::string& error);
using WriteValue = std::string (*)(const StartSettings& start);

struct SettingRow {
    std::string_view name;
    std::string_view option;  // the command-line option that gives it; empty when none does
    ReadValue read;
    WriteValue write;
};

std::string rule_error(std::string_view name, std::string_view allowed, const std::string& text) {
    return option_value_error(name, allowed, &text);
}

std::optional<bool> switch_from_text(const std::string& text) {
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    return std::nullopt;
}

// The command line's own rule and limits for a typing option's value.
bool read_typing_option(const SettingRow& row, const std::string& text, StartSettings& start,
                        std::string& error) {
    const std::vector<std::string> arguments{std::string(row.option), text};
    size_t index = 0;
    parse_typing_option(arguments, index, start.command_line.settings.typing, error);
    return error.empty();
}

bool read_switch(const SettingRow& row, const std::string& text, bool& target, std::string& error) {
    const std::optional<bool> on = switch_from_text(text);
    if (!on) {
        error = rule_error(row.name, "true or false", text);
        return false;
    }
    target = *on;
    return true;
}

template <bool StartSettings::*Field>
bool read_start_switch(const SettingRow& row, const std::string& text, StartSettings& start,
                       std::string& error) {
    return read_switch(row, text, start.*Field, error);
}

template <bool ReceiverSettings::*Field>
bool read_receiver_switch(const SettingRow& row, const std::string& text, StartSettings& start,
                          std::string& error) {
    return read_switch(row, text, start.command_line.settings.*Field, error);
}

const TypingOptions& typing(const StartSettings& start) {
    return start.command_line.settings.typing;
}

const SettingRow SETTINGS[] = {
    {SETTING_PORT, "--port",
     [](const SettingRow& row, const std::string& text, StartSettings& start, std::string& error) {
         if (parse_port_value(text, start.command_line.settings.port)) return true;
         error = rule_error(row.name, "a whole number from 0 to 65535", text);
         return false;
     },
     [](const StartSettings& start) { return std::to_string(start.command_line.settings.port); }},
    {SETTING_ADAPTER, "",
     [](const SettingRow&, const std::string& text, StartSettings& start, std::string&) {
         start.adapter = text;  // an address that is gone falls back to the usual choice
         return true;
     },
     [](const StartSettings& start) { return start.adapter; }},
    {SETTING_AUTO_TYPE, "--no-type", read_receiver_switch<&ReceiverSettings::auto_type>,
     [](const StartSettings& start) {
         return std::string(saved_switch(start.command_line.settings.auto_type));
     }},
    {SETTING_PRESS_ENTER, "--no-enter", read_receiver_switch<&ReceiverSettings::press_enter>,
     [](const StartSettings& start) {
         return std::string(saved_switch(start.command_line.settings.press_enter));
     }},
    {SETTING_COPY_TO_CLIPBOARD, "--no-copy",
     read_receiver_switch<&ReceiverSettings::copy_to_clipboard>,
     [](const StartSettings& start) {
         return std::string(saved_switch(start.command_line.settings.copy_to_clipboard));
     }},
    {SETTING_KEY_DELAY, "--key-delay", read_typing_option,
     [](const StartSettings& start) { return std::to_string(typing(start).key_delay_ms); }},
    {SETTING_TYPE_MODE, "--type-mode", read_typing_option,
     [](const StartSettings& start) {
         return std::string(typing(start).mode == TypeMode::keys ? "keys" : "unicode");
     }},
    {SETTING_SUFFIX_KEY, "--suffix-key", read_typing_option,
     [](const StartSettings& start) {
         return std::string(typing(start).suffix_key == SuffixKey::tab ? "tab" : "enter");
     }},
    {SETTING_PREFIX, "--prefix", read_typing_option,
     [](const StartSettings& start) { return typing(start).prefix; }},
    {SETTING_POSTFIX, "--postfix", read_typing_option,
     [](const StartSettings& start) { return typing(start).postfix; }},
    {SETTING_PAIRING_KEY, "--pairing-key",
     [](const SettingRow& row, const std::string& text, StartSettings& start, std::string& error) {
         return read_switch(row, text, start.command_line.pairing_key, error);
     },
     [](const StartSettings& start) {
         return std::string(saved_switch(start.command_line.pairing_key));
     }},
    {SETTING_START_WITH_WINDOWS, "", read_start_switch<&StartSettings::start_with_windows>,
     [](const StartSettings& start) {
         return std::string(saved_switch(start.start_with_windows));
     }},
    {SETTING_CLOSE_TO_TRAY, "", read_start_switch<&StartSettings::close_to_tray>,
     [](const StartSettings& start) { return std::string(saved_switch(start.close_to_tray)); }},
};

const SettingRow* find_setting(std::string_view name) {
    for (const SettingRow& row : SETTINGS) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

constexpr std::string_view FILE_HEADER =
    "# Quillmark receiver settings: one \"key = value\" per line; lines starting with # are\n"
    "# comments. An option given on the command line wins over its line here, for that run.\n"
    "# A line the receiver cannot read is named in its log and left out.\n"
    "#\n"
    "# port: 0 to 65535. adapter: the address to advertise (empty: the usual choice).\n"
    "# auto_type, press_enter, copy_to_clipboard, pairing_key: true or false.\n"
    "# key_delay: milliseconds after each typed character, 0 to 1000.\n"
    "# type_mode: unicode or keys. suffix_key: enter or tab.\n"
    "# prefix, postfix: at most 64 characters, in double quotes when they have blanks at an end.\n"
    "# start_with_windows, close_to_tray: used on Windows only.\n";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && (is_blank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool needs_quotes(std::string_view value) {
    if (value.empty() || is_blank(value.front()) || is_blank(value.back())) return true;
    return value.find_first_of("\"\\\n\r") != std::string_view::npos;
}

std::string quoted_value(std::string_view value) {
    if (!needs_quotes(value)) return std::string(value);
    std::string text = "\"";
    for (char c : value) {
        switch (c) {
            case '"':
                text += "\\\"";
                break;
            case '\\':
                text += "\\\\";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\t':
                text += "\\t";
                break;
            default:
                text += c;
        }
    }
    return text + "\"";
}

// The text between the quotes with its escapes resolved; nothing when the quotes do not close,
// an escape is unknown or anything but blanks follows the closing quote.
std::optional<std::string> unquoted_value(std::string_view quoted) {
    std::string value;
    for (size_t i = 1; i < quoted.size(); ++i) {
        const char c = quoted[i];
        if (c == '"') {
            if (!trim_blanks(quoted.substr(i + 1)).empty()) return std::nullopt;
            return value;
        }
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++i >= quoted.size()) return std::nullopt;
        switch (quoted[i]) {
            case '"':
                value += '"';
                break;
            case '\\':
                value += '\\';
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

// The key of a "key = value" line; empty for comments, blank lines and lines without "=".
std::string_view line_key(std::string_view line) {
    const std::string_view text = trim_blanks(line);
    if (text.empty() || text.front() == '#') return {};
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) return {};
    return trim_blanks(text.substr(0, equals));
}

std::string setting_line(std::string_view name, std::string_view value) {
    return std::string(name) + " = " + quoted_value(value) + "\n";
}

}  // namespace

std::string_view saved_switch(bool on) {
    return on ? "true" : "false";
}

std::vector<std::string> apply_saved_values(const SavedValues& saved, StartSettings& start) {
    std::vector<std::string> problems;
    for (const SettingRow& row : SETTINGS) {
        const auto found = saved.find(row.name);
        if (found == saved.end()) continue;
        if (!row.option.empty() && start.command_line.given.count(std::string(row.option))) {
            continue;  // the command line wins for this run
        }
        std::string error;
        if (!row.read(row, found->second, start, error)) {
            problems.push_back("Ignored the saved setting " + std::string(row.name) + ": " + error);
        }
    }
    return problems;
}

SavedValues saved_values_of(const StartSettings& start) {
    SavedValues values;
    for (const SettingRow& row : SETTINGS) values.emplace(row.name, row.write(start));
    return values;
}

std::string settings_file_text(const SavedValues& values) {
    std::string text(FILE_HEADER);
    for (const SettingRow& row : SETTINGS) {
        if (const auto found = values.find(row.name); found != values.end()) {
            text += setting_line(row.name, found->second);
        }
    }
    return text;
}

SavedValues parse_settings_file(std::string_view text, std::string_view file_name,
                                std::vector<std::string>& problems) {
    SavedValues values;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trim_blanks(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line.front() == '#') continue;
        const auto problem = [&](std::string_view before, std::string_view quoted,
                                 std::string_view after) {
            std::string text = "Ignored line " + std::to_string(number) + " of ";
            text.append(file_name).append(": ").append(before);
            text.append(utf8_lossy(quoted)).append(after);
            problems.push_back(std::move(text));
        };
        const std::string_view key = line_key(line);
        if (key.empty()) {
            problem("\"", line, "\" is no \"key = value\" line");
            continue;
        }
        if (!find_setting(key)) {
            problem("there is no setting \"", key, "\"");
            continue;
        }
        const std::string_view raw = trim_blanks(line.substr(line.find('=') + 1));
        std::optional<std::string> value = std::string(raw);
        if (!raw.empty() && raw.front() == '"') value = unquoted_value(raw);
        if (!value) {
            problem("the quoted value of ", key, " cannot be read");
            continue;
        }
        values.insert_or_assign(std::string(key), std::move(*value));
    }
    return values;
}

std::string settings_file_with_value(std::string_view text, std::string_view name,
                                     std::string_view value) {
    if (text.empty()) return std::string(FILE_HEADER) + setting_line(name, value);
    std::string result;
    bool replaced = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line_key(line) == name) {
            // A repeated line would win over the new value when read: keep only the first.
            if (!replaced) result += setting_line(name, value);
            replaced = true;
            continue;
        }
        result += line;
        result += '\n';  // a last line without its line end gets one
    }
    if (!replaced) result += setting_line(name, value);
    return result;
}
