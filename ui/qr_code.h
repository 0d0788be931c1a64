// QR symbols for the pairing URL: the module grid, and the grid drawn as terminal text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

// A square symbol of `size` × `size` modules without its quiet zone, read row by row.
struct QrGrid {
    int version = 0;
    int size = 0;
    std::vector<uint8_t> dark;  // 1 = dark module, index row * size + column

    bool is_dark(int row, int column) const { return dark[size_t(row) * size + column] != 0; }
};

// Error-correction level M exactly (never raised), the smallest version 1..40 that holds the
// text, the encoder's own segment modes and mask. Fails only when the text does not fit.
Result<QrGrid> encode_qr(std::string_view text);

// Light modules that surround a symbol when it is drawn as text.
inline constexpr int QR_TEXT_QUIET_ZONE = 4;

enum class QrTextColours {
    // Plain characters: block characters are the dark modules, blanks the light ones. Reads
    // correctly where text is dark on light (files, editors, paper).
    plain,
    // Every cell carries explicit colours (black on white, 256-colour palette entries 16 and
    // 231, which themes leave alone), so the code is right on dark and light terminals alike.
    ansi,
};

// The symbol and a quiet zone of QR_TEXT_QUIET_ZONE modules, one text line per two module rows,
// drawn with "▀", "▄", "█" and " " (upper, lower, both, neither module dark). Lines end in "\n".
std::string render_qr_text(const QrGrid& grid, QrTextColours colours);
