#include "ui/window_layout.h"

std::string_view press_key_label(SuffixKey suffix_key) {
    return suffix_key == SuffixKey::tab ? PRESS_TAB_LABEL : PRESS_ENTER_LABEL;
}

std::string initial_control_text(const ControlLayout& layout, std::string_view pairing_url,
                                 uint16_t port, SuffixKey suffix_key) {
    switch (layout.id) {
        case IDC_URL:
            return std::string(pairing_url);
        case IDC_PORT:
            return std::to_string(port);
        case IDC_PRESS_ENTER:
            return std::string(press_key_label(suffix_key));
        default:
            return std::string(layout.text);
    }
}
