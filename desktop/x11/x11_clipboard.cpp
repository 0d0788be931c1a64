// The CLIPBOARD selection served by the receiver itself: UTF8_STRING, STRING and TARGETS.

#include "desktop/x11/x11_parts.h"

namespace {

// ChangeProperty's own fields before the data.
constexpr size_t CHANGE_PROPERTY_HEADER_BYTES = 24;

}  // namespace

Status X11Clipboard::attach(Display* display) {
    window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    clipboard_ = XInternAtom(display, "CLIPBOARD", False);
    utf8_string_ = XInternAtom(display, "UTF8_STRING", False);
    targets_ = XInternAtom(display, "TARGETS", False);
    // Without big requests a property must fit in one ordinary request. Scans are at most
    // 64 KiB, so the incremental protocol is not needed, only this limit.
    long units = XExtendedMaxRequestSize(display);
    if (units == 0) units = XMaxRequestSize(display);
    max_bytes_ = static_cast<size_t>(units) * 4 - CHANGE_PROPERTY_HEADER_BYTES;
    owned_ = false;
    text_.clear();
    return window_ ? Status::success() : Status::failure("Could not create the clipboard window");
}

Status X11Clipboard::own(Display* display, std::string text) {
    if (text.size() > max_bytes_) {
        return Status::failure("Text too large for the X server's clipboard (" +
                               std::to_string(text.size()) + " bytes, at most " +
                               std::to_string(max_bytes_) + ")");
    }
    text_ = std::move(text);
    XSetSelectionOwner(display, clipboard_, window_, CurrentTime);
    owned_ = XGetSelectionOwner(display, clipboard_) == window_;
    if (!owned_) {
        text_.clear();
        return Status::failure("Could not take the X clipboard");
    }
    return Status::success();
}

void X11Clipboard::handle_event(Display* display, const XEvent& event) {
    if (event.type == SelectionClear && event.xselectionclear.window == window_ &&
        event.xselectionclear.selection == clipboard_) {
        // Another program has the clipboard now: keep nothing of the scan.
        owned_ = false;
        text_.clear();
    } else if (event.type == SelectionRequest && event.xselectionrequest.owner == window_) {
        answer(display, event.xselectionrequest);
    }
}

void X11Clipboard::answer(Display* display, const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;  // refused unless served below
    // Clients from before ICCCM 2 name no property: the target is the property then.
    const Atom property = request.property != None ? request.property : request.target;

    if (owned_ && request.selection == clipboard_) {
        if (request.target == targets_) {
            Atom targets[] = {targets_, utf8_string_, XA_STRING};
            XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(targets), 3);
            reply.property = property;
        } else if (request.target == utf8_string_ || request.target == XA_STRING) {
            const std::string data = request.target == XA_STRING ? latin1_from_utf8(text_) : text_;
            if (data.size() <= max_bytes_) {
                XChangeProperty(display, request.requestor, property, request.target, 8,
                                PropModeReplace,
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size()));
                reply.property = property;
            }
        }
    }
    XEvent event{};
    event.xselection = reply;
    XSendEvent(display, request.requestor, False, NoEventMask, &event);
    XFlush(display);
}
