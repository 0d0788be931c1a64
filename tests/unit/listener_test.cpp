// The listener's portable pieces: the plain-HTTP redirect text and the connection cap.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "server/connection.h"
#include "server/plain_redirect.h"

namespace {

TEST(RedirectTarget, TakesTheSecondPieceOfTheFirstLine) {
    struct Row {
        std::string line;
        std::string target;
        const char* why;
    };
    const std::vector<Row> rows = {
        {"GET /about HTTP/1.1\r\n", "/about", "ordinary request line"},
        {"GET /?pc=https%3A%2F%2Fx HTTP/1.1\r\n", "/?pc=https%3A%2F%2Fx", "query kept unchanged"},
        {"GET /a\tHTTP/1.1\n", "/a", "TAB separates, LF-only ending"},
        {"GET    /b   HTTP/1.1\r\n", "/b", "runs of blanks"},
        {"GET\r\n", "/", "one piece only"},
        {"", "/", "empty line (peer closed at once)"},
        {"\r\n", "/", "blank line"},
        {"GET /\xff HTTP/1.1\r\n", "/", "not UTF-8"},
        {"GET /x\xC2\xA0y HTTP/1.1\r\n", "/x", "no-break space is white space"},
        {"GET /partial", "/partial", "stream ended before the line feed"},
        {"GET http://other/ HTTP/1.1\r\n", "http://other/", "copied without checks"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(redirect_target(row.line, false), row.target) << row.why;
    }
    // A line cut off at the bound is not trusted: the browser gets the main page.
    EXPECT_EQ(redirect_target("GET /" + std::string(9000, 'a'), true), "/");
}

TEST(RedirectResponse, ExactBytes) {
    EXPECT_EQ(redirect_response("192.168.1.20", 8080, "/about"),
              "HTTP/1.1 302 Found\r\nLocation: https://192.168.1.20:8080/about\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(redirect_response("127.0.0.1", 0, "/"),
              "HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:0/\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST(ConnectionSlot, AtMostMaxConnectionsAtOnce) {
    const int before = active_connection_count();
    ASSERT_EQ(before, 0) << "no connection is being served in the unit tests";
    {
        std::vector<ConnectionSlot> slots;
        for (int i = 0; i < MAX_CONNECTIONS; ++i) {
            std::optional<ConnectionSlot> slot = ConnectionSlot::claim();
            ASSERT_TRUE(slot) << "slot " << i;
            slots.push_back(std::move(*slot));
        }
        EXPECT_EQ(active_connection_count(), MAX_CONNECTIONS);
        EXPECT_FALSE(ConnectionSlot::claim()) << "one past the cap";
        EXPECT_EQ(active_connection_count(), MAX_CONNECTIONS) << "a refused claim takes nothing";

        slots.pop_back();
        std::optional<ConnectionSlot> again = ConnectionSlot::claim();
        EXPECT_TRUE(again) << "a freed place can be claimed again";
    }
    EXPECT_EQ(active_connection_count(), 0) << "moved-from slots give nothing back twice";
}

}  // namespace
