#include "ui/port_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct PortRow {
    std::string text;
    std::optional<uint16_t> port;
};

TEST(PortText, AcceptsDecimalPortsFrom1024Up) {
    const PortRow rows[] = {
        {"8443", 8443},              // the ordinary case
        {"1024", 1024},              // lowest port the window accepts
        {"65535", 65535},            // highest 16-bit value
        {" 9000 ", 9000},            // white space around the digits is trimmed
        {"\t9000\r\n", 9000},        // ...of any ASCII kind
        {"\u00a09000\u3000", 9000},  // ...and Unicode White_Space too
        {"09000", 9000},             // leading zeros are still decimal
    };
    for (const PortRow& row : rows) EXPECT_EQ(port_from_text(row.text), row.port) << row.text;
}

TEST(PortText, RefusesEverythingElse) {
    const char* rows[] = {
        "",                                                  // empty box
        "   ",                                               // only blanks
        "80",                                                // below 1024
        "0",                                                 // below 1024
        "1023",                                              // just below the limit
        "65536",                                             // just beyond 16 bits
        "70000",                                             // beyond 16 bits
        "99999999999",                                       // far beyond, no wrap-around
        "abc",                                               // not a number
        "90a",                                               // trailing garbage
        "9 000",                                             // blank inside the number
        "+9000",                                             // signs are not digits
        "-9000",                                             //
        "0x2400",                                            // no hexadecimal
        "\xef\xbc\x99\xef\xbc\x90\xef\xbc\x90\xef\xbc\x90",  // full-width digits
        "\xff"
        "9000",  // invalid UTF-8
    };
    for (const char* text : rows) EXPECT_EQ(port_from_text(text), std::nullopt) << text;
}

}  // namespace
