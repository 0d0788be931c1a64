// The command line: options become the initial receiver settings.
#pragma once

#include <cstdint>
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
};

// Arguments without the program path. Unknown options and bad port values are ignored; a bad
// typing option's value sets `error` and ends the parse.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

// Splits a raw Windows command line (UTF-8) into arguments by the Windows rules: blanks
// separate, quotes group, backslashes escape a following quote. The program path is kept.
std::vector<std::string> split_windows_command_line(std::string_view command_line);
