#include "ui/window_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

// The combo box's height includes its drop-down list; on screen it is one field high.
constexpr int COMBO_FIELD_HEIGHT = 24;
// The client area of a 768 × 492 window with a fixed frame, on the thickest Windows frame.
constexpr int CLIENT_WIDTH = 750;
constexpr int CLIENT_HEIGHT = 450;

PixelRect visible_rect(const ControlLayout& layout) {
    const int height = layout.class_name == "COMBOBOX" ? COMBO_FIELD_HEIGHT : layout.height;
    return {layout.x, layout.y, layout.x + layout.width, layout.y + height};
}

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
    for (int id = IDC_ADAPTER; id <= IDC_ABOUT; ++id) EXPECT_EQ(ids.count(id), 1u) << id;
    EXPECT_EQ(ids.size(), 13u);
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
    for (int id : {IDC_COPY_URL, IDC_ALLOW_FIREWALL, IDC_APPLY_PORT, IDC_ABOUT, IDC_CLEAR_LOG}) {
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

TEST(WindowLayout, ControlsNeitherOverlapEachOtherNorTheQrCode) {
    for (size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
        const PixelRect a = visible_rect(WINDOW_CONTROLS[i]);
        EXPECT_FALSE(overlap(a, QR_AREA)) << "control #" << i + 1;
        for (size_t j = i + 1; j < WINDOW_CONTROLS.size(); ++j) {
            EXPECT_FALSE(overlap(a, visible_rect(WINDOW_CONTROLS[j])))
                << "controls #" << i + 1 << " and #" << j + 1;
        }
    }
}

TEST(WindowLayout, EverythingFitsTheClientArea) {
    for (const ControlLayout& layout : WINDOW_CONTROLS) {
        const PixelRect r = visible_rect(layout);
        EXPECT_GE(r.left, 0);
        EXPECT_GE(r.top, 0);
        EXPECT_LE(r.right, CLIENT_WIDTH) << layout.text << layout.id;
        EXPECT_LE(r.bottom, CLIENT_HEIGHT) << layout.text << layout.id;
    }
    EXPECT_EQ(QR_AREA.right - QR_AREA.left, 276);
    EXPECT_EQ(QR_AREA.bottom - QR_AREA.top, 276);
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
