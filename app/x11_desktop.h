// Typing and the clipboard on an X11 display (also XWayland). Linux only. One thread of its own
// holds the display connection: it types, serves the clipboard and notices a display that goes
// away, which then fails the calls instead of ending the process.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/result.h"
#include "app/x11_text.h"

// Connects to $DISPLAY. Returns nothing when typing and the clipboard work, else the start-up
// line that says why they do not. Never waits for a display to appear.
std::optional<std::string> start_x11_desktop();

// Types a UTF-8 text into the focused window, then the named key; `key_delay_ms` before each key.
Status x11_type_text(std::string_view utf8, NamedKey suffix, unsigned key_delay_ms);

// Owns the CLIPBOARD selection with the text until another program takes it.
Status x11_copy_text(std::string_view utf8);
