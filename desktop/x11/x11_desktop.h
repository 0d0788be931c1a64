// Typing and the clipboard on an X11 display (also XWayland). Linux only. One thread of its own
// holds the display connection: it types, serves the clipboard and notices a display that goes
// away, which then fails the calls instead of ending the process.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "desktop/typing_options.h"

// Connects to $DISPLAY. Returns nothing when typing and the clipboard work, else the start-up
// line that says why they do not. Never waits for a display to appear.
std::optional<std::string> start_x11_desktop();

// Types prefix, text and postfix into the focused window, then the suffix key when
// `with_suffix`: without a key delay all in one go, with one key by key and the delay after
// each (the display stays free for the clipboard meanwhile).
Status x11_type_text(std::string_view text, bool with_suffix, const TypingOptions& options);

// Owns the CLIPBOARD selection with the text until another program takes it.
Status x11_copy_text(std::string_view utf8);
