#include "ui/window_layout.h"

#include "ui/dpi_scale.h"
#include "ui/settings_dialog_layout.h"
#include "ui/qr_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

// The combo box's height includes its drop-down list; on screen it is one field high.
constexpr int COMBO_FIELD_HEIGHT = 24;
// The client area of a 768 × 492 window with a fixed frame, on the thickest Windows frame.
constexpr int CLIENT_WIDTH = 750;
constexpr int CLIENT_HEIGHT = 450;

PixelRect visible_rect(const ControlLayout& layout, int dpi = BASE_DPI) {
    PixelRect rect = control_rect_for_dpi(layout, dpi);
    if (layout.class_name == "COMBOBOX") {
        rect.bottom = rect.top + scale_for_dpi(COMBO_FIELD_HEIGHT, dpi);
    }
    return rect;
}

constexpr int COMMON_DPIS[] = {96, 120, 144, 168, 192, 240, 288};

bool overlap(const PixelRect& a, const PixelRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

const ControlLayout& control(int id) {
    auto found = std::find_if(WINDOW_CONTROLS.begin(), WINDOW_CONTROLS.end(),
                              [id](const ControlLayout& layout) { return layout.id == id; });
    EXPECT_NE(found, WINDOW_CONTROLS.end()) << "no control " << id;
    return *found;
}

TEST(WindowLayout, EveryIdentifierBelongsToExactlyOneControl) {
    std::multiset<int> ids;
    for (const ControlLayout& layout : WINDOW_CONTROLS) {
        if (layout.id != 0) ids.insert(layout.id);
    }
    for (int id = IDC_ADAPTER; id <= IDC_SETTINGS; ++id) EXPECT_EQ(ids.count(id), 1u) << id;
    EXPECT_EQ(ids.size(), 17u);
}

TEST(WindowLayout, LabelsAreStaticsWithoutIdentifier) {
    int labels = 0;
    for (const ControlLayout& layout : WINDOW_CONTROLS) {
        if (layout.id == 0) {
            EXPECT_EQ(layout.class_name, "STATIC") << layout.text;
            EXPECT_FALSE(layout.text.empty());
            ++labels;
        }
    }
    EXPECT_EQ(labels, 5);
}

// The combined style words, as a UI-automation tool reads them (without WS_CHILD|WS_VISIBLE).
TEST(WindowLayout, StyleWordsMatchTheDocumentedValues) {
    EXPECT_EQ(control(IDC_URL).style, 0x880u);
    EXPECT_EQ(control(IDC_PORT).style, 0x12000u);
    EXPECT_EQ(control(IDC_ADAPTER).style, 0x210003u);
    EXPECT_EQ(control(IDC_LOG).style, 0xA00844u);
    for (int id : {IDC_AUTO_TYPE, IDC_PRESS_ENTER, IDC_COPY_CLIPBOARD}) {
        EXPECT_EQ(control(id).style, 0x10003u) << id;
    }
    for (int id : {IDC_COPY_URL, IDC_ALLOW_FIREWALL, IDC_APPLY_PORT, IDC_ABOUT, IDC_CLEAR_LOG,
                   IDC_OPEN_JOURNAL, IDC_OPEN_BROWSER, IDC_SETTINGS}) {
        EXPECT_EQ(control(id).style, 0x10000u) << id;
    }
    EXPECT_EQ(WINDOW_CONTROLS.back().style, 2u);  // the right-aligned credit
    for (const ControlLayout& layout : WINDOW_CONTROLS) {
        // A label's "&" is shown as such, not taken as a mnemonic marker.
        if (layout.class_name == "STATIC" && layout.text.find('&') != layout.text.npos) {
            EXPECT_EQ(layout.style, 0x80u) << layout.text;
        }
    }
    for (const ControlLayout& layout : WINDOW_CONTROLS) {
        const bool sunken = layout.id == IDC_URL || layout.id == IDC_PORT || layout.id == IDC_LOG;
        EXPECT_EQ(layout.ex_style, sunken ? 0x200u : 0u) << layout.text << layout.id;
    }
    EXPECT_EQ(WINDOW_STYLE, 0x00CA0000u);
}

TEST(WindowLayout, ControlsNeitherOverlapEachOtherNorTheQrCodeAtAnyDpi) {
    for (int dpi : COMMON_DPIS) {
        const PixelRect qr = qr_area_for_dpi(dpi);
        for (size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
            const PixelRect a = visible_rect(WINDOW_CONTROLS[i], dpi);
            EXPECT_FALSE(overlap(a, qr)) << "control #" << i + 1 << " at " << dpi;
            for (size_t j = i + 1; j < WINDOW_CONTROLS.size(); ++j) {
                EXPECT_FALSE(overlap(a, visible_rect(WINDOW_CONTROLS[j], dpi)))
                    << "controls #" << i + 1 << " and #" << j + 1 << " at " << dpi;
            }
        }
    }
}

TEST(WindowLayout, EverythingFitsTheClientAreaAtAnyDpi) {
    for (int dpi : COMMON_DPIS) {
        for (const ControlLayout& layout : WINDOW_CONTROLS) {
            const PixelRect r = visible_rect(layout, dpi);
            EXPECT_GE(r.left, 0);
            EXPECT_GE(r.top, 0);
            EXPECT_LE(r.right, scale_for_dpi(CLIENT_WIDTH, dpi)) << layout.text << " at " << dpi;
            EXPECT_LE(r.bottom, scale_for_dpi(CLIENT_HEIGHT, dpi)) << layout.text << " at " << dpi;
        }
    }
    EXPECT_EQ(QR_AREA.right - QR_AREA.left, 276);
    EXPECT_EQ(QR_AREA.bottom - QR_AREA.top, 276);
}

TEST(SettingsDialogLayout, ControlsNeitherOverlapNorLeaveTheDialogAtAnyDpi) {
    for (int dpi : COMMON_DPIS) {
        for (size_t i = 0; i < SETTINGS_DIALOG_CONTROLS.size(); ++i) {
            const PixelRect a = visible_rect(SETTINGS_DIALOG_CONTROLS[i], dpi);
            EXPECT_GE(a.left, 0);
            EXPECT_LE(a.right, scale_for_dpi(SETTINGS_DIALOG_WIDTH, dpi)) << i << " at " << dpi;
            EXPECT_LE(a.bottom, scale_for_dpi(SETTINGS_DIALOG_HEIGHT, dpi)) << i << " at " << dpi;
            for (size_t j = i + 1; j < SETTINGS_DIALOG_CONTROLS.size(); ++j) {
                EXPECT_FALSE(overlap(a, visible_rect(SETTINGS_DIALOG_CONTROLS[j], dpi)))
                    << "controls #" << i + 1 << " and #" << j + 1 << " at " << dpi;
            }
        }
    }
}

TEST(SettingsDialogLayout, EveryLabelUnderlinesAKeyOfItsOwn) {
    std::set<char> keys;
    for (const ControlLayout& layout : SETTINGS_DIALOG_CONTROLS) {
        if (layout.class_name != "STATIC" || layout.id != 0) continue;
        const size_t marker = layout.text.find('&');
        ASSERT_NE(marker, layout.text.npos) << layout.text;
        EXPECT_TRUE(keys.insert(char(std::tolower(layout.text[marker + 1]))).second) << layout.text;
    }
    EXPECT_EQ(keys.size(), 5u);
}

TEST(WindowLayout, NinetySixDpiIsTheTableItself) {
    for (const ControlLayout& layout : WINDOW_CONTROLS) {
        EXPECT_EQ(
            control_rect_for_dpi(layout, 96),
            (PixelRect{layout.x, layout.y, layout.x + layout.width, layout.y + layout.height}))
            << layout.text << layout.id;
    }
    EXPECT_EQ(window_size_for_dpi(96), (PixelSize{768, 492}));
}

TEST(WindowLayout, ScalesByDpiOverNinetySixWithMulDivRounding) {
    EXPECT_EQ(window_size_for_dpi(144), (PixelSize{1152, 738}));
    EXPECT_EQ(window_size_for_dpi(192), (PixelSize{1536, 984}));
    EXPECT_EQ(window_size_for_dpi(120), (PixelSize{960, 615}));  // 492 × 1.25 = 615
    // "Apply Port" at 144 DPI: 446 × 1.5 = 669, 71 × 1.5 = 106.5 rounds up.
    EXPECT_EQ(control_rect_for_dpi(control(IDC_APPLY_PORT), 144), (PixelRect{669, 107, 812, 146}));
    // Each edge on its own, so the width may differ from the scaled width by one pixel.
    const PixelRect port = control_rect_for_dpi(control(IDC_PORT), 120);  // 360, 72, 78, 24
    EXPECT_EQ(port, (PixelRect{450, 90, 548, 120}));
    // Halves round away from zero, as MulDiv does, also below zero.
    EXPECT_EQ(mul_div(3, 1, 2), 2);
    EXPECT_EQ(mul_div(-3, 1, 2), -2);
    EXPECT_EQ(mul_div(3, -1, 2), -2);
    EXPECT_EQ(mul_div(5, 2, 4), 3);
    EXPECT_EQ(mul_div(4, 1, 3), 1);
    EXPECT_EQ(mul_div(-12, 144, 96), -18);  // a font height in pixels
    EXPECT_EQ(mul_div(1 << 30, 192, 96), -1) << "MulDiv's answer on overflow";
    EXPECT_EQ(mul_div(7, 1, 0), -1);
}

TEST(WindowLayout, UrlAndPortBoxesStartFromTheState) {
    const std::string url = "https://10.0.0.7:9443/?pc=https%3A%2F%2F10.0.0.7%3A9443%2Fapi%2Fscan";
    EXPECT_EQ(initial_control_text(control(IDC_URL), url, 9443), url);
    EXPECT_EQ(initial_control_text(control(IDC_PORT), url, 9443), "9443");
    EXPECT_EQ(initial_control_text(control(IDC_PORT), url, 1024), "1024");
    EXPECT_EQ(initial_control_text(control(IDC_ABOUT), url, 9443), "About");
    EXPECT_EQ(initial_control_text(control(IDC_STATUS), url, 9443), "");
    EXPECT_EQ(initial_control_text(control(IDC_PRESS_ENTER), url, 9443),
              "Press Enter after typing barcode");
    EXPECT_EQ(initial_control_text(control(IDC_PRESS_ENTER), url, 9443, SuffixKey::tab),
              "Press Tab after typing barcode");
}

}  // namespace
