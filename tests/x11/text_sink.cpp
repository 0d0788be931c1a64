// Test-only X11 program (never shipped): a window that takes the input focus and appends every
// text it receives to a file, as an input method hands it over (Xutf8LookupString). The Return
// key is written as a line feed. Prints "ready" once it has the focus.
// Usage: quillmark_x11_text_sink OUTPUT_FILE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FILE\n", argv[0]);
        return 2;
    }
    std::setlocale(LC_ALL, "C.UTF-8");  // the input method hands over UTF-8
    XSetLocaleModifiers("@im=none");
    Display* display = XOpenDisplay(nullptr);
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (!display || out < 0) {
        std::fprintf(stderr, "cannot open the display or %s\n", argv[1]);
        return 1;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 120, 0, 0,
                                        WhitePixel(display, DefaultScreen(display)));
    XSelectInput(display, window, KeyPressMask | FocusChangeMask | StructureNotifyMask);
    XIM method = XOpenIM(display, nullptr, nullptr, nullptr);
    XIC context = method ? XCreateIC(method, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                                     XNClientWindow, window, XNFocusWindow, window, nullptr)
                         : nullptr;
    if (!context) {
        std::fprintf(stderr, "no input context for UTF-8\n");
        return 1;
    }
    XMapWindow(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (XFilterEvent(&event, None)) continue;
        if (event.type == MapNotify) {
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
        } else if (event.type == FocusIn) {
            std::puts("ready");
            std::fflush(stdout);
        } else if (event.type == KeyPress) {
            char text[64];
            KeySym keysym = NoSymbol;
            Status status = 0;
            int length =
                Xutf8LookupString(context, &event.xkey, text, sizeof text, &keysym, &status);
            if (keysym == XK_Return) {
                if (write(out, "\n", 1) != 1) return 1;
            } else if ((status == XLookupChars || status == XLookupBoth) && length > 0) {
                if (write(out, text, static_cast<size_t>(length)) != length) return 1;
            }
        }
    }
}
