// The X11 desktop behind desktop/desktop.h: it takes the text and the typing options as they
// are and finds the keys of the layout in use itself.
#include "desktop/desktop.h"

#include "desktop/x11/x11_desktop.h"

const Desktop& platform_desktop() {
    static const Desktop desktop{x11_type_text, x11_copy_text};
    return desktop;
}
