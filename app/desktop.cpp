#include "app/desktop.h"

#include "app/utf8.h"

std::vector<KeyEvent> key_events_for_text(std::string_view text, bool with_enter) {
    std::vector<KeyEvent> events;
    std::u16string units = utf16_from_utf8(text);
    events.reserve(units.size() * 2 + 2);
    for (char16_t unit : units) {
        if (unit == u'\r' || unit == u'\n') continue;  // a wedge never types line breaks
        events.push_back({0, unit, KEY_FLAG_UNICODE});
        events.push_back({0, unit, KEY_FLAG_UNICODE | KEY_FLAG_KEYUP});
    }
    if (with_enter) {
        events.push_back({VK_RETURN_KEY, 0, 0});
        events.push_back({VK_RETURN_KEY, 0, KEY_FLAG_KEYUP});
    }
    return events;
}

Status type_text(std::string_view text, bool with_enter) {
    std::vector<KeyEvent> events = key_events_for_text(text, with_enter);
    if (events.empty()) return Status::success();
    return send_key_events(events);
}

const Desktop& platform_desktop() {
    static const Desktop desktop{
        [](std::string_view text, bool with_enter) { return type_text(text, with_enter); },
        [](std::string_view text) { return copy_text_to_clipboard(text); },
    };
    return desktop;
}
