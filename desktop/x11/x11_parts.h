// The pieces of the X11 desktop that run on its own thread: typing and the clipboard owner.
// Linux only; every call here happens on that thread with its display connection.
#pragma once

// Every X header the backend uses comes here, before Xlib's `Status` macro is dropped: the
// receiver's own Status is a class.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Status

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.h"
#include "desktop/x11/x11_text.h"

// Set by the X error handler for the display being used: errors arrive asynchronously and are
// read after a round trip.
struct X11Errors {
    int last_code = 0;  // 0: none since the last take()
    int take() { return std::exchange(last_code, 0); }
};
X11Errors& x11_errors();

// How long the receiving program may take to look up the keysym of a key it was sent. A spare
// key code's binding is undone, or the code rebound, only after typing has been quiet this long.
inline constexpr std::chrono::milliseconds KEY_SETTLE_TIME{500};

// Synthetic keystrokes through XTEST. Characters without a key in the current layout are typed
// on a spare key code bound to their keysym; the bindings are undone by restore(), which the
// thread calls once typing has been quiet for a moment (undoing them at once would race with
// the receiving program, which looks the keysym up only when it handles the key).
class X11Keyboard {
  public:
    // Types the keysyms in order, as one burst.
    Status type(Display* display, const std::vector<uint32_t>& keysyms);
    bool has_bindings() const { return !bound_.empty(); }
    void restore(Display* display);

  private:
    std::map<unsigned char, unsigned long> bound_;  // spare key code -> keysym bound to it
};

// The CLIPBOARD selection, owned through a window of its own and served from the thread.
class X11Clipboard {
  public:
    Status attach(Display* display);
    Status own(Display* display, std::string text);
    void handle_event(Display* display, const XEvent& event);

  private:
    void answer(Display* display, const XSelectionRequestEvent& request);

    Window window_ = 0;
    Atom clipboard_ = 0, utf8_string_ = 0, targets_ = 0;
    size_t max_bytes_ = 0;  // the largest property the server takes in one request
    bool owned_ = false;
    std::string text_;
};
