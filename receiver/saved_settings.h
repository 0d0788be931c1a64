// Settings kept between runs, per user: their names, their values as text, how saved values
// and the command line make up a start, and the Linux file's format. Where they are kept is
// each platform's (settings_store.h).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "receiver/command_line.h"

// Each setting's name: a key of the Linux file, a value name of the Windows registry key.
inline constexpr std::string_view SETTING_PORT = "port";
inline constexpr std::string_view SETTING_ADAPTER = "adapter";
inline constexpr std::string_view SETTING_AUTO_TYPE = "auto_type";
inline constexpr std::string_view SETTING_PRESS_ENTER = "press_enter";
inline constexpr std::string_view SETTING_COPY_TO_CLIPBOARD = "copy_to_clipboard";
inline constexpr std::string_view SETTING_KEY_DELAY = "key_delay";
inline constexpr std::string_view SETTING_TYPE_MODE = "type_mode";
inline constexpr std::string_view SETTING_SUFFIX_KEY = "suffix_key";
inline constexpr std::string_view SETTING_PREFIX = "prefix";
inline constexpr std::string_view SETTING_POSTFIX = "postfix";
inline constexpr std::string_view SETTING_PAIRING_KEY = "pairing_key";
inline constexpr std::string_view SETTING_START_WITH_WINDOWS = "start_with_windows";
inline constexpr std::string_view SETTING_CLOSE_TO_TRAY = "close_to_tray";

// Saved values as stored: text by setting name.
using SavedValues = std::map<std::string, std::string, std::less<>>;

// What a start is made of: the command line, and what only saved settings hold.
struct StartSettings {
    CommandLine command_line;
    std::string adapter;  // the address advertised last time; empty for the usual choice
    bool start_with_windows = false;
    bool close_to_tray = false;
};

// Puts each saved value into `start` (which holds the parsed command line), except for the
// settings its command line gave. A value that is out of range or unreadable leaves its
// setting alone and gives one log line naming it; those lines are returned.
std::vector<std::string> apply_saved_values(const SavedValues& saved, StartSettings& start);

// Every setting's text as it is saved.
SavedValues saved_values_of(const StartSettings& start);

// "true" or "false", the text of an on/off setting.
std::string_view saved_switch(bool on);

// The Linux file: a comment header, then one "key = value" line per setting. A value with
// blanks at an end, quotes, a backslash or a line break, or an empty one, is written in double
// quotes with backslash escapes (\\ \" \n \r \t).
std::string settings_file_text(const SavedValues& values);

// Reads the file's values. Blank lines and lines starting with "#" are skipped; any other line
// that is not "key = value" for a known key, or whose quotes do not close, is left out with a
// log line naming `file_name` and the line's number, added to `problems`.
SavedValues parse_settings_file(std::string_view text, std::string_view file_name,
                                std::vector<std::string>& problems);

// The file's text with the line of `name` set to `value` (appended when there is none); every
// other line, comments included, stays as it was. An empty text gets the header first.
std::string settings_file_with_value(std::string_view text, std::string_view name,
                                     std::string_view value);
