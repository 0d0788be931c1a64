#include "ui/qr_code.h"

#include <qrcodegen/qrcodegen.hpp>

#include <stdexcept>

namespace {

using qrcodegen::QrCode;
using qrcodegen::QrSegment;

std::vector<QrSegment> segments_for(std::string_view text) {
    // makeSegments reads a C string: text with a NUL byte would be cut short, so it goes into
    // one byte segment instead.
    if (text.find('\0') != text.npos) {
        return {QrSegment::makeBytes(std::vector<uint8_t>(text.begin(), text.end()))};
    }
    return QrSegment::makeSegments(std::string(text).c_str());
}

bool module_dark(const QrGrid& grid, int row, int column) {
    const bool inside = row >= 0 && row < grid.size && column >= 0 && column < grid.size;
    return inside && grid.is_dark(row, column);
}

constexpr std::string_view ANSI_BLACK_ON_WHITE = "\x1b[38;5;16;48;5;231m";
constexpr std::string_view ANSI_RESET = "\x1b[0m";

}  // namespace

Result<QrGrid> encode_qr(std::string_view text) {
    std::vector<QrSegment> segments = segments_for(text);
    try {
        const QrCode code = QrCode::encodeSegments(segments, QrCode::Ecc::MEDIUM,
                                                   QrCode::MIN_VERSION, QrCode::MAX_VERSION, -1,
                                                   /*boostEcl=*/false);
        QrGrid grid;
        grid.version = code.getVersion();
        grid.size = code.getSize();
        grid.dark.resize(size_t(grid.size) * grid.size);
        for (int row = 0; row < grid.size; ++row) {
            for (int column = 0; column < grid.size; ++column) {
                grid.dark[size_t(row) * grid.size + column] = code.getModule(column, row) ? 1 : 0;
            }
        }
        return grid;
    } catch (const qrcodegen::data_too_long& error) {
        return Result<QrGrid>::failure(std::string("QR code encoding failed: ") + error.what());
    }
}

std::string render_qr_text(const QrGrid& grid, QrTextColours colours) {
    const int first = -QR_TEXT_QUIET_ZONE;
    const int end = grid.size + QR_TEXT_QUIET_ZONE;
    std::string text;
    for (int row = first; row < end; row += 2) {
        if (colours == QrTextColours::ansi) text += ANSI_BLACK_ON_WHITE;
        for (int column = first; column < end; ++column) {
            const bool upper = module_dark(grid, row, column);
            // The last line of an odd-height picture has a light lower half.
            const bool lower = row + 1 < end && module_dark(grid, row + 1, column);
            text += upper && lower ? "\u2588" : upper ? "\u2580" : lower ? "\u2584" : " ";
        }
        // Reset before the line break, so no background colour bleeds into the next line.
        if (colours == QrTextColours::ansi) text += ANSI_RESET;
        text += '\n';
    }
    return text;
}
