#include "ui/log_trim.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string line_of(size_t units, char16_t fill) {
    std::u16string line(units - 2, fill);
    return line + u"\r\n";
}

TEST(LogTrim, NothingGoesWhileTheLogFits) {
    const std::u16string text = line_of(1000, u'a');
    EXPECT_EQ(log_cut_position(text, 50), 0u);
    EXPECT_FALSE(log_needs_trim(LOG_TRIM_THRESHOLD - 50, 50));  // exactly full
    EXPECT_TRUE(log_needs_trim(LOG_TRIM_THRESHOLD - 50, 51));   // one unit over
}

TEST(LogTrim, CutsAfterWholeLinesDownToTheTarget) {
    std::u16string text;
    while (text.size() < LOG_TRIM_THRESHOLD - 100) text += line_of(100, u'x');
    const size_t incoming = 300;
    ASSERT_TRUE(log_needs_trim(text.size(), incoming));
    const size_t cut = log_cut_position(text, incoming);
    ASSERT_GT(cut, 0u);
    ASSERT_LT(cut, text.size());
    EXPECT_EQ(text[cut - 1], u'\n');
    EXPECT_LE(text.size() - cut + incoming, LOG_TRIM_TARGET);
    // Whole lines of 100 units: no more than one extra line goes.
    EXPECT_GT(text.size() - cut + incoming + 100, LOG_TRIM_TARGET);
}

TEST(LogTrim, DropsEverythingWhenNoLineBreakAllowsLess) {
    // One huge line: no boundary beyond the required cut.
    const std::u16string text = line_of(LOG_TRIM_THRESHOLD, u'y');
    EXPECT_EQ(log_cut_position(text, 10), text.size());
    // New text larger than the target itself: the old text goes entirely.
    const std::u16string small = line_of(100, u'z');
    EXPECT_EQ(log_cut_position(small, LOG_TRIM_THRESHOLD), small.size());
}

// The window's use: append line after line; the log stays bounded, starts with a whole line and
// always ends with the newest one.
TEST(LogTrim, EndlessScanningKeepsTheNewestLines) {
    std::u16string log;
    int trims = 0;
    size_t since_trim = 0;
    for (int n = 0; n < 20000; ++n) {
        std::u16string line = u"[12:00:00] [EAN-13] " + std::u16string(20 + n % 37, u'0') + u" " +
                              std::u16string(1, char16_t(u'A' + n % 26)) + u" (100% - Copied)\r\n";
        const size_t cut = log_cut_position(log, line.size());
        if (cut > 0) {
            // Rare: each trim frees room for many lines.
            if (trims > 0) {
                ASSERT_GE(since_trim, LOG_TRIM_THRESHOLD - LOG_TRIM_TARGET - 100);
            }
            ++trims;
            since_trim = 0;
        }
        since_trim += line.size();
        log.erase(0, cut);
        log += line;
        ASSERT_LE(log.size(), LOG_TRIM_THRESHOLD);
        ASSERT_TRUE(log.ends_with(line)) << n;
        ASSERT_TRUE(log.starts_with(u"[12:00:00]")) << n;
    }
    EXPECT_GT(trims, 1);
}

}  // namespace
