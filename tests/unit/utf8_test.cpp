#include "core/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace std::string_view_literals;

namespace {

const std::string FFFD = "\xEF\xBF\xBD";

TEST(Utf8, ValidityAtTheEdgesOfEachForm) {
    // clang-format off
    const std::pair<std::string_view, bool> cases[] = {
        {""sv, true},  // empty
        {"a\0b"sv, true},  // NUL is a character
        {"\xC2\x80\xDF\xBF"sv, true},  // first and last two-byte characters
        {"\xE0\xA0\x80\xEF\xBF\xBF"sv, true},  // first and last three-byte characters
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"sv, true},  // U+10000 and U+10FFFF
        {"\xC0\x80"sv, false},  // overlong NUL
        {"\xC1\xBF"sv, false},  // overlong two-byte form
        {"\xE0\x9F\xBF"sv, false},  // overlong three-byte form
        {"\xF0\x8F\xBF\xBF"sv, false},  // overlong four-byte form
        {"\xED\xA0\x80"sv, false},  // encoded high surrogate
        {"\xED\xBF\xBF"sv, false},  // encoded low surrogate
        {"\xF4\x90\x80\x80"sv, false},  // beyond U+10FFFF
        {"\xF5\x80\x80\x80"sv, false},  // lead byte never used
        {"\x80"sv, false},  // continuation byte alone
        {"\xE2\x82"sv, false},  // sequence cut by the end
        {"\xE2\x82" "A"sv, false},  // sequence cut by an ASCII byte
        {"\xFF"sv, false},  // byte never used
    };
    // clang-format on
    for (const auto& [bytes, valid] : cases) {
        EXPECT_EQ(is_valid_utf8(bytes), valid) << testing::PrintToString(bytes);
    }
}

TEST(Utf8, LossyDecodingReplacesEachMaximalSubpart) {
    // clang-format off
    const std::pair<std::string_view, std::string> cases[] = {
        {"caf\xC3\xA9 \xF0\x9F\x98\x80"sv, "caf\xC3\xA9 \xF0\x9F\x98\x80"},  // valid text unchanged
        {"a\xC3"sv, "a" + FFFD},  // cut at the end
        {"\xE2\x82" "A"sv, FFFD + "A"},  // a valid prefix is one replacement
        {"\xF0\x9F\x98" "A"sv, FFFD + "A"},  // three bytes of four, one replacement
        {"\xE0\x80\x80"sv, FFFD + FFFD + FFFD},  // overlong: no valid prefix
        {"\xED\xA0\x80"sv, FFFD + FFFD + FFFD},  // surrogate: no valid prefix
        {"\xF4\x90\x80\x80"sv, FFFD + FFFD + FFFD + FFFD},  // beyond U+10FFFF
        {"\xFF\xFE"sv, FFFD + FFFD},  // one per unusable byte
        {"\x80\x80x"sv, FFFD + FFFD + "x"},  // stray continuation bytes
    };
    // clang-format on
    for (const auto& [bytes, decoded] : cases) {
        std::string out = utf8_lossy(bytes);
        EXPECT_EQ(out, decoded);
        EXPECT_TRUE(is_valid_utf8(out));
    }
}

TEST(Utf8, EncodeAndDecodeAtFormBoundaries) {
    for (char32_t c : {0x0, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}) {
        std::string encoded;
        append_utf8(encoded, c);
        EXPECT_TRUE(is_valid_utf8(encoded)) << std::hex << uint32_t(c);
        size_t pos = 0;
        EXPECT_EQ(next_code_point(encoded, pos), c);
        EXPECT_EQ(pos, encoded.size());
    }
}

TEST(Utf8, WhiteSpaceTrimmingUsesTheUnicodeProperty) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},  // empty
        {" \t\r\n\v\f", ""},  // only ASCII blanks
        {"  a b  ", "a b"},  // inner blanks stay
        {"\xC2\xA0x\xE3\x80\x80", "x"},  // NBSP and ideographic space
        {"\xC2\x85x\xE1\x9A\x80", "x"},  // NEL and Ogham space mark
        {"\xE2\x80\x80x\xE2\x80\x8A", "x"},  // U+2000 and U+200A, ends of the range
        {"\xE2\x80\xA8x\xE2\x80\xA9", "x"},  // line and paragraph separators
        {"\xE2\x80\xAFx\xE2\x81\x9F", "x"},  // narrow NBSP and medium mathematical space
        {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // zero-width space is not White_Space
        {"\xE1\xA0\x8Ex", "\xE1\xA0\x8Ex"},  // nor is the Mongolian vowel separator
        {"\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},  // nor the byte-order mark
    };
    // clang-format on
    for (const auto& [text, trimmed] : cases) EXPECT_EQ(trim_white_space(text), trimmed) << text;
}

TEST(Utf8, SplittingDropsEmptyPieces) {
    using Pieces = std::vector<std::string_view>;
    EXPECT_EQ(split_white_space("GET  /x\tHTTP/1.1\r\n"), (Pieces{"GET", "/x", "HTTP/1.1"}));
    EXPECT_EQ(split_white_space(" \t "), Pieces{});
    EXPECT_EQ(split_white_space("a\xE2\x80\xA8"
                                "b\xC2\xA0"),
              (Pieces{"a", "b"}));
    EXPECT_EQ(split_white_space("\xC3\xA9"), Pieces{"\xC3\xA9"});
}

TEST(Utf8, Utf16ConversionPairsSurrogatesAndReplacesLoneOnes) {
    EXPECT_EQ(utf16_from_utf8("a\xC3\xA9\xF0\x9F\x98\x80"), u"a\u00E9\U0001F600");
    EXPECT_EQ(utf16_from_utf8("a\xFF"), u"a\uFFFD");
    EXPECT_EQ(utf8_from_utf16(u"a\u00E9\U0001F600"), "a\xC3\xA9\xF0\x9F\x98\x80");
    const std::u16string high = {0xD83D}, low = {0xDE00};
    EXPECT_EQ(utf8_from_utf16(high), FFFD);
    EXPECT_EQ(utf8_from_utf16(u"a" + high + u"b"), "a" + FFFD + "b");
    EXPECT_EQ(utf8_from_utf16(low + high), FFFD + FFFD);
    EXPECT_EQ(utf8_from_utf16(high + high + low), FFFD + "\xF0\x9F\x98\x80");
}

}  // namespace
