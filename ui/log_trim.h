// Keeps the scans log box within bounds: the edit control's own limit is far too small for a
// day of scanning, and once full it silently refuses new lines. Past a generous size the
// oldest lines go, so the newest scan always shows. Sizes are in UTF-16 units, the edit
// control's measure.
#pragma once

#include <cstddef>
#include <string_view>

// Room for a full log plus the longest possible scan line.
inline constexpr size_t LOG_TEXT_LIMIT = 1 << 20;
// A few thousand scan lines; past this the oldest lines are dropped...
inline constexpr size_t LOG_TRIM_THRESHOLD = 1 << 18;
// ...until this much, new text included, remains, so trimming is rare.
inline constexpr size_t LOG_TRIM_TARGET = 3 << 16;

// Whether appending `incoming` units to a log of `length` units needs a trim first.
bool log_needs_trim(size_t length, size_t incoming);

// How many units to drop from the front of `text` before appending `incoming` units: just past
// a line feed, so that only whole lines go and at most LOG_TRIM_TARGET units remain with the
// new text; the whole text when no line break allows that. 0 when no trim is needed.
size_t log_cut_position(std::u16string_view text, size_t incoming);
