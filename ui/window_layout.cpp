#include "ui/window_layout.h"

std::string initial_control_text(const ControlLayout& layout, std::string_view pairing_url,
                                 uint16_t port, SuffixKey suffix_key) {
    switch (layout.id) {
        case IDC_URL:
            return std::string(pairing_url);
        case IDC_PORT:
            return std::to_string(port);
        case IDC_PRESS_ENTER:
            if (suffix_key == SuffixKey::tab) return std::string(PRESS_TAB_LABEL);
            return std::string(layout.text);
        default:
            return std::string(layout.text);
    }
}
