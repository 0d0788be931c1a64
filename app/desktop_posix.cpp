#include "app/desktop.h"

// No desktop backend for Linux yet: scans are received, counted and logged, but not typed.
Status send_key_events(const std::vector<KeyEvent>&) {
    return Status::failure("Typing into other programs is supported on Windows only");
}

KeyboardLayout foreground_keyboard_layout() {
    return {};  // no layout known: key-code typing falls back to Unicode characters
}

Status copy_text_to_clipboard(std::string_view) {
    return Status::failure("The clipboard is supported on Windows only");
}
