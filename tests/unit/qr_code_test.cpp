#include "ui/qr_code.h"

#include <gtest/gtest.h>
#include <qrcodegen/qrcodegen.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/utf8.h"

namespace {

const std::string PAIRING_URL =
    "https://192.168.1.20:8080/?pc=https%3A%2F%2F192.168.1.20%3A8080%2Fapi%2Fscan";

// A picture of modules: true = dark.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<bool> dark;
};

// Reads terminal text back into modules: each character cell is one module wide and two tall.
// With `ansi`, every line must open with the black-on-white colours and close with a reset.
Bitmap bitmap_from_text(const std::string& text, bool ansi) {
    const std::string open = "\x1b[38;5;16;48;5;231m", reset = "\x1b[0m";
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "last line lacks its line break";
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    Bitmap bitmap;
    bitmap.height = int(lines.size()) * 2;
    std::vector<std::vector<bool>> rows(bitmap.height);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (ansi) {
            EXPECT_TRUE(line.starts_with(open) && line.ends_with(reset)) << "line " << i;
            line.remove_prefix(std::min(open.size(), line.size()));
            line.remove_suffix(std::min(reset.size(), line.size()));
        }
        EXPECT_EQ(line.find('\x1b'), std::string_view::npos) << "stray escape in line " << i;
        for (size_t pos = 0; pos < line.size();) {
            const char32_t c = next_code_point(line, pos);
            const bool upper = c == U'\u2580' || c == U'\u2588';
            const bool lower = c == U'\u2584' || c == U'\u2588';
            EXPECT_TRUE(upper || lower || c == U' ')
                << "unexpected character U+" << std::hex << uint32_t(c);
            rows[2 * i].push_back(upper);
            rows[2 * i + 1].push_back(lower);
        }
    }
    bitmap.width = lines.empty() ? 0 : int(rows[0].size());
    for (const auto& row : rows) {
        EXPECT_EQ(int(row.size()), bitmap.width) << "ragged lines";
        bitmap.dark.insert(bitmap.dark.end(), row.begin(), row.end());
    }
    return bitmap;
}

// Writes a binary PGM with `scale` × `scale` pixels per module.
void write_pgm(const Bitmap& bitmap, int scale, const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << bitmap.width * scale << ' ' << bitmap.height * scale << "\n255\n";
    for (int y = 0; y < bitmap.height * scale; ++y) {
        for (int x = 0; x < bitmap.width * scale; ++x) {
            out.put(bitmap.dark[size_t(y / scale) * bitmap.width + x / scale] ? 0 : 255);
        }
    }
}

// Runs `zbarimg -q --raw` (without its D-Bus notice) on the picture; returns its output without the
// final line break.
std::string zbar_decode(const std::filesystem::path& picture) {
    const std::string command = "zbarimg -q --raw --nodbus '" + picture.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return "<popen failed>";
    std::string output;
    std::array<char, 512> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
        output.append(buffer.data(), n);
    if (output.ends_with('\n')) output.pop_back();
    return output;
}

std::filesystem::path scratch_file(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("quillmark-qr-" + std::to_string(getpid()) + "-" + name);
}

// The error-correction level from the format information beside the top-left finder
// (row 8, columns 0 and 1 hold the two level bits, XOR-masked with 0b10; 00 is M, 01 L,
// 10 H, 11 Q).
char error_correction_level(const QrGrid& grid) {
    const int high = (grid.is_dark(8, 0) ? 1 : 0) ^ 1;
    const int low = grid.is_dark(8, 1) ? 1 : 0;
    return "MLHQ"[high * 2 + low];
}

QrGrid grid_from(const qrcodegen::QrCode& code) {
    QrGrid grid{code.getVersion(), code.getSize(), {}};
    for (int row = 0; row < grid.size; ++row)
        for (int column = 0; column < grid.size; ++column)
            grid.dark.push_back(code.getModule(column, row));
    return grid;
}

TEST(EncodeQr, PairingUrlAtLevelMVersion5) {
    const Result<QrGrid> grid = encode_qr(PAIRING_URL);
    ASSERT_TRUE(grid.ok()) << grid.error();
    EXPECT_EQ(grid.value().version, 5);
    EXPECT_EQ(grid.value().size, 37);
    EXPECT_EQ(grid.value().dark.size(), 37u * 37u);
    EXPECT_EQ(error_correction_level(grid.value()), 'M');
}

TEST(EncodeQr, LevelIsNeverRaised) {
    // The reader of the level bits must tell levels apart: the encoder's own boost raises a
    // one-letter text to H.
    const auto boosted = qrcodegen::QrCode::encodeText("A", qrcodegen::QrCode::Ecc::LOW);
    ASSERT_EQ(boosted.getErrorCorrectionLevel(), qrcodegen::QrCode::Ecc::HIGH);
    EXPECT_EQ(error_correction_level(grid_from(boosted)), 'H');

    const Result<QrGrid> grid = encode_qr("A");
    ASSERT_TRUE(grid.ok());
    EXPECT_EQ(grid.value().version, 1);
    EXPECT_EQ(error_correction_level(grid.value()), 'M');
}

TEST(EncodeQr, CapacityLimitAtVersion40) {
    // Level M, version 40, byte mode holds 2331 bytes; lower-case text forces byte mode.
    const Result<QrGrid> full = encode_qr(std::string(2331, 'x'));
    ASSERT_TRUE(full.ok()) << full.error();
    EXPECT_EQ(full.value().version, 40);
    const Result<QrGrid> too_long = encode_qr(std::string(2332, 'x'));
    ASSERT_FALSE(too_long.ok());
    EXPECT_TRUE(too_long.error().starts_with("QR code encoding failed: ")) << too_long.error();
    EXPECT_EQ(too_long.error().find('\n'), std::string::npos);
}

TEST(EncodeQr, NulByteDoesNotCutTheText) {
    const Result<QrGrid> whole = encode_qr(std::string("ab\0cd", 5));
    const Result<QrGrid> cut = encode_qr("ab");
    ASSERT_TRUE(whole.ok() && cut.ok());
    EXPECT_NE(whole.value().dark, cut.value().dark);
}

class RenderQrText : public testing::TestWithParam<QrTextColours> {};

TEST_P(RenderQrText, ModulesAndQuietZoneRoundTrip) {
    for (const std::string& text : {std::string("A"), PAIRING_URL}) {
        const Result<QrGrid> encoded = encode_qr(text);
        ASSERT_TRUE(encoded.ok());
        const QrGrid& grid = encoded.value();
        const Bitmap bitmap =
            bitmap_from_text(render_qr_text(grid, GetParam()), GetParam() == QrTextColours::ansi);
        const int q = QR_TEXT_QUIET_ZONE;
        ASSERT_EQ(bitmap.width, grid.size + 2 * q);
        // Odd module count: the last text line carries one light padding row below.
        ASSERT_EQ(bitmap.height, grid.size + 2 * q + 1);
        for (int y = 0; y < bitmap.height; ++y) {
            for (int x = 0; x < bitmap.width; ++x) {
                const int row = y - q, column = x - q;
                const bool inside =
                    row >= 0 && row < grid.size && column >= 0 && column < grid.size;
                ASSERT_EQ(bitmap.dark[size_t(y) * bitmap.width + x],
                          inside && grid.is_dark(row, column))
                    << "text \"" << text << "\", pixel row " << y << ", column " << x;
            }
        }
    }
}

TEST_P(RenderQrText, PrintedCharactersScanBackToTheUrl) {
    const Result<QrGrid> grid = encode_qr(PAIRING_URL);
    ASSERT_TRUE(grid.ok());
    const std::string text = render_qr_text(grid.value(), GetParam());
    const Bitmap bitmap = bitmap_from_text(text, GetParam() == QrTextColours::ansi);
    const auto picture = scratch_file(GetParam() == QrTextColours::ansi ? "ansi.pgm" : "plain.pgm");
    write_pgm(bitmap, 4, picture);
    ASSERT_EQ(std::system("command -v zbarimg >/dev/null 2>&1"), 0)
        << "zbarimg is missing: install zbar-tools (scripts/install_packages.sh e2e)";
    EXPECT_EQ(zbar_decode(picture), PAIRING_URL);
    std::filesystem::remove(picture);
}

INSTANTIATE_TEST_SUITE_P(Colours, RenderQrText,
                         testing::Values(QrTextColours::plain, QrTextColours::ansi),
                         [](const auto& info) {
                             return info.param == QrTextColours::ansi ? "ansi" : "plain";
                         });

}  // namespace
