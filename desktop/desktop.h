// The desktop side of scan delivery: synthetic keystrokes and the clipboard, with one backend
// per desktop (desktop/win32, desktop/x11).
#pragma once

#include <functional>
#include <string_view>

#include "core/result.h"
#include "desktop/typing_options.h"

// What delivery uses to reach the desktop; tests put a recording fake in its place.
struct Desktop {
    std::function<Status(std::string_view text, bool with_suffix, const TypingOptions& options)>
        type_text;
    std::function<Status(std::string_view text)> copy_text;
};

// The backend of this build. Errors: one-line texts of the backend ("SendInput incomplete",
// "OpenClipboard failed", "No spare key code for a character", ...).
const Desktop& platform_desktop();
