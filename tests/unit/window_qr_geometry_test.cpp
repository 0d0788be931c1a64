#include "ui/qr_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QrGrid grid_of_version(int version, bool dark) {
    QrGrid grid;
    grid.version = version;
    grid.size = 17 + 4 * version;
    grid.dark.assign(size_t(grid.size) * grid.size, dark ? 1 : 0);
    return grid;
}

struct PlacementRow {
    int version, modules, scale, offset, from_x, to_x;
};

TEST(QrGeometry, DocumentedVersionsLandWhereExpected) {
    const PlacementRow rows[] = {
        {1, 21, 9, 16, 63, 252},   // large modules for a short text
        {3, 29, 7, 15, 56, 259},   //
        {5, 37, 6, 9, 47, 269},    // a typical pairing URL
        {6, 41, 5, 20, 55, 260},   // the scale drops and the offset grows
        {10, 57, 4, 12, 44, 272},  //
    };
    for (const PlacementRow& row : rows) {
        const QrPlacement placement = qr_placement(row.modules, 96);
        EXPECT_EQ(placement.scale, row.scale) << "version " << row.version;
        EXPECT_EQ(placement.offset, row.offset) << "version " << row.version;
        const PixelRect first = qr_module_rect(placement, 0, 0);
        const PixelRect last = qr_module_rect(placement, row.modules - 1, row.modules - 1);
        EXPECT_EQ(first.left, row.from_x) << "version " << row.version;
        EXPECT_EQ(first.top, row.from_x) << "version " << row.version;
        EXPECT_EQ(last.right, row.to_x) << "version " << row.version;
        EXPECT_EQ(last.bottom, row.to_x) << "version " << row.version;
    }
}

// Every version 1..40 at every common DPI: whole-pixel modules, centred, a quiet zone of three
// modules, and the 96-DPI margin of 6 pixels grown with the DPI.
TEST(QrGeometry, EveryVersionIsCentredWithItsQuietZoneInsideTheSquare) {
    for (int dpi : {96, 120, 144, 168, 192, 288}) {
        const PixelRect area = qr_area_for_dpi(dpi);
        const int margin = 6 * dpi / 96;
        for (int version = 1; version <= 40; ++version) {
            const int modules = 17 + 4 * version;
            const QrPlacement placement = qr_placement(modules, dpi);
            ASSERT_GE(placement.scale, 1) << "version " << version << " at " << dpi;
            EXPECT_EQ(placement.area, area);
            const PixelRect first = qr_module_rect(placement, 0, 0);
            const PixelRect last = qr_module_rect(placement, modules - 1, modules - 1);
            const int quiet = QR_QUIET_MODULES * placement.scale;
            const int before = first.left - quiet - area.left;
            const int after = area.right - (last.right + quiet);
            EXPECT_GE(before, margin) << "version " << version << " at " << dpi;
            EXPECT_GE(after, margin) << "version " << version << " at " << dpi;
            EXPECT_LE(after - before, 1) << "version " << version << " at " << dpi;
            EXPECT_GE(after - before, 0) << "version " << version << " at " << dpi;
            EXPECT_EQ(last.right - first.left, modules * placement.scale);
            if (version >= 30 && dpi == 96) {
                EXPECT_EQ(placement.scale, 1) << "version " << version;
            }
        }
    }
}

// The typical pairing URL (version 5): larger whole modules on denser screens, never blurred
// by a fractional size.
TEST(QrGeometry, ModulesGrowInWholePixelsWithTheDpi) {
    EXPECT_EQ(qr_area_for_dpi(96), QR_AREA);
    EXPECT_EQ(qr_area_for_dpi(144), (PixelRect{30, 30, 444, 444}));
    EXPECT_EQ(qr_area_for_dpi(192), (PixelRect{40, 40, 592, 592}));
    EXPECT_EQ(qr_placement(37, 144).scale, 9);  // 396 / 43
    EXPECT_EQ(qr_placement(37, 144).offset, 13);
    EXPECT_EQ(qr_placement(37, 192).scale, 12);  // 528 / 43
    EXPECT_EQ(qr_placement(37, 192).offset, 18);
    EXPECT_EQ(qr_module_rect(qr_placement(37, 192), 0, 0), (PixelRect{94, 94, 106, 106}));
}

TEST(QrGeometry, DarkModulesOnlyInReadingOrder) {
    QrGrid grid = grid_of_version(1, false);
    grid.dark[0] = 1;                      // row 0, column 0
    grid.dark[size_t(grid.size) - 1] = 1;  // row 0, last column
    grid.dark[size_t(grid.size) * 5 + 2] = 1;
    const QrPlacement placement = qr_placement(grid.size, 96);
    const std::vector<PixelRect> rects = qr_dark_module_rects(grid, 96);
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_EQ(rects[0], qr_module_rect(placement, 0, 0));
    EXPECT_EQ(rects[1], qr_module_rect(placement, 0, grid.size - 1));
    EXPECT_EQ(rects[2], qr_module_rect(placement, 5, 2));
    EXPECT_TRUE(qr_dark_module_rects(grid_of_version(1, false), 96).empty());
}

TEST(QrGeometry, ModulesTileWithoutGapsOrOverlap) {
    const QrGrid grid = grid_of_version(2, true);
    const std::vector<PixelRect> rects = qr_dark_module_rects(grid, 96);
    ASSERT_EQ(rects.size(), size_t(grid.size) * grid.size);
    for (size_t i = 1; i < rects.size(); ++i) {
        if (i % grid.size == 0) {
            EXPECT_EQ(rects[i].top, rects[i - grid.size].bottom);
        } else {
            EXPECT_EQ(rects[i].left, rects[i - 1].right);
            EXPECT_EQ(rects[i].top, rects[i - 1].top);
        }
    }
}

TEST(QrGeometry, PairingUrlStartsWithTheFinderPatternCorner) {
    Result<QrGrid> code =
        encode_qr("https://192.168.1.20:8080/?pc=https%3A%2F%2F192.168.1.20%3A8080%2Fapi%2Fscan");
    ASSERT_TRUE(code.ok()) << code.error();
    ASSERT_EQ(code.value().size, 37);
    const std::vector<PixelRect> rects = qr_dark_module_rects(code.value(), 96);
    ASSERT_FALSE(rects.empty());
    // The three finder patterns have dark outer corners; the fourth corner has none.
    auto has = [&](PixelRect r) { return std::find(rects.begin(), rects.end(), r) != rects.end(); };
    EXPECT_EQ(rects.front(), (PixelRect{47, 47, 53, 53}));
    EXPECT_TRUE(has({263, 47, 269, 53}));
    EXPECT_TRUE(has({47, 263, 53, 269}));
    EXPECT_EQ(rects.size(),
              size_t(std::count(code.value().dark.begin(), code.value().dark.end(), 1)));
}

}  // namespace
