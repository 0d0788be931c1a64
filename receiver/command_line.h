// The command line: options become the initial receiver settings.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/typing_options.h"
#include "receiver/journal_format.h"

struct ReceiverSettings {
    uint16_t port = 8080;
    bool auto_type = true;
    bool press_enter = true;
    bool copy_to_clipboard = true;
    TypingOptions typing;
};

struct CommandLine {
    ReceiverSettings settings;
    bool headless = false;
    std::string error;                // a bad typing option's value: the receiver must not start
    bool pairing_key = false;         // --pairing-key: scans must carry the key of this start
    bool new_pairing_key = false;     // --new-pairing-key: a new stored key (implies the above)
    bool ephemeral_identity = false;  // --ephemeral-identity: nothing read or written
    JournalOptions journal;           // --no-journal, --journal-days
    bool ignore_settings = false;     // --ignore-settings: no saved setting is read or written
    bool minimized = false;           // --minimized: the window starts hidden in the tray
    // The setting options this command line gave a good value ("--port", "--no-type",
    // "--key-delay", ...; "-p" counts as "--port"): these win over saved values.
    std::set<std::string> given;
};

// Arguments without the program path. Unknown options and bad port values are ignored; a bad
// typing option's value sets `error` and ends the parse.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

// A port value as the command line takes it: decimal digits only, 0 to 65535.
bool parse_port_value(const std::string& text, uint16_t& port);

// Splits a raw Windows command line (UTF-8) into arguments by the Windows rules: blanks
// separate, quotes group, backslashes escape a following quote. The program path is kept.
std::vector<std::string> split_windows_command_line(std::string_view command_line);
