#include "ui/window_layout.h"

std::string initial_control_text(const ControlLayout& layout, std::string_view pairing_url,
                                 uint16_t port) {
    switch (layout.id) {
        case IDC_URL:
            return std::string(pairing_url);
        case IDC_PORT:
            return std::to_string(port);
        default:
            return std::string(layout.text);
    }
}
