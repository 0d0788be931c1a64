#include "app/desktop.h"

#include "app/x11_desktop.h"

// The key-event list says what to type; the X11 desktop finds the keys for it.
Status send_key_events(const std::vector<KeyEvent>& events) {
    Result<TypingRequest> request = typing_request_from_key_events(events);
    if (!request.ok()) return Status::failure(request.error());
    return x11_type_text(request.value().text, request.value().suffix, 0);
}

KeyboardLayout foreground_keyboard_layout() {
    return {};  // no layout known: key-code typing falls back to Unicode characters
}

Status copy_text_to_clipboard(std::string_view text) {
    return x11_copy_text(text);
}
