#include "ui/log_trim.h"

#include "server/http.h"

// The longest scan line (its text alone fills a request body) must fit after any trim.
static_assert(LOG_TRIM_THRESHOLD + 2 * MAX_BODY_BYTES < LOG_TEXT_LIMIT);
static_assert(LOG_TRIM_TARGET < LOG_TRIM_THRESHOLD);

bool log_needs_trim(size_t length, size_t incoming) {
    return length + incoming > LOG_TRIM_THRESHOLD;
}

size_t log_cut_position(std::u16string_view text, size_t incoming) {
    if (!log_needs_trim(text.size(), incoming)) return 0;
    // At least this much must go; a trim is due, so it is more than 0.
    const size_t least = text.size() + incoming - LOG_TRIM_TARGET;
    if (least >= text.size()) return text.size();
    // The cut lands right after a line feed, at `least` or beyond.
    const size_t feed = text.find(u'\n', least - 1);
    return feed == std::u16string_view::npos ? text.size() : feed + 1;
}
