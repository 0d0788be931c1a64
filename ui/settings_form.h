// The settings dialog's fields as the user fills them in, and their checks: the command line's
// own rules and limits, with a message for the field that breaks one. Free of <windows.h>.
#pragma once

#include <string>
#include <string_view>

#include "desktop/typing_options.h"

struct SettingsForm {
    std::string key_delay;  // the box's text, milliseconds
    TypeMode mode = TypeMode::unicode;
    SuffixKey suffix_key = SuffixKey::enter;
    std::string prefix;
    std::string postfix;
    bool pairing_key = false;
    bool start_with_windows = false;
    bool close_to_tray = false;
};

// Shown next to a field whose value breaks its rule; empty when the value is good.
struct SettingsFormErrors {
    std::string key_delay;
    std::string prefix;
    std::string postfix;

    bool ok() const { return key_delay.empty() && prefix.empty() && postfix.empty(); }
};

inline constexpr std::string_view KEY_DELAY_ERROR = "0 to 1000 ms, whole numbers";
inline constexpr std::string_view AFFIX_ERROR = "At most 64 characters";

SettingsFormErrors check_settings_form(const SettingsForm& form);

// The typing options of a form that passed its checks.
TypingOptions typing_from_form(const SettingsForm& form);

// The form as the dialog opens: the settings in use.
SettingsForm form_from_settings(const TypingOptions& typing, bool pairing_key,
                                bool start_with_windows, bool close_to_tray);
