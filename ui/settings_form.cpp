#include "ui/settings_form.h"

#include <vector>

namespace {

// The command line's parser decides, so the dialog takes exactly what the option takes.
bool option_takes(const char* option, const std::string& value, TypingOptions& typing) {
    const std::vector<std::string> arguments{option, value};
    size_t index = 0;
    std::string error;
    parse_typing_option(arguments, index, typing, error);
    return error.empty();
}

}  // namespace

SettingsFormErrors check_settings_form(const SettingsForm& form) {
    TypingOptions typing;
    SettingsFormErrors errors;
    if (!option_takes("--key-delay", form.key_delay, typing)) errors.key_delay = KEY_DELAY_ERROR;
    if (!option_takes("--prefix", form.prefix, typing)) errors.prefix = AFFIX_ERROR;
    if (!option_takes("--postfix", form.postfix, typing)) errors.postfix = AFFIX_ERROR;
    return errors;
}

TypingOptions typing_from_form(const SettingsForm& form) {
    TypingOptions typing;
    option_takes("--key-delay", form.key_delay, typing);
    option_takes("--prefix", form.prefix, typing);
    option_takes("--postfix", form.postfix, typing);
    typing.mode = form.mode;
    typing.suffix_key = form.suffix_key;
    return typing;
}

SettingsForm form_from_settings(const TypingOptions& typing, bool pairing_key,
                                bool start_with_windows, bool close_to_tray) {
    return {std::to_string(typing.key_delay_ms),
            typing.mode,
            typing.suffix_key,
            typing.prefix,
            typing.postfix,
            pairing_key,
            start_with_windows,
            close_to_tray};
}
