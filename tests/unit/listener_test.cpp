// The listener's portable pieces: the plain-HTTP redirect text and the connection caps.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/connection.h"
#include "server/open_file_limit.h"
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

constexpr uint32_t LOOPBACK = 0x7F000001;  // 127.0.0.1
constexpr uint32_t SECOND_CLIENT = 0x7F000002;

// `count` claims from `client`, all of which must succeed.
std::vector<ConnectionSlot> claim_slots(uint32_t client, int count) {
    std::vector<ConnectionSlot> slots;
    for (int i = 0; i < count; ++i) {
        std::optional<ConnectionSlot> slot = ConnectionSlot::claim(client);
        if (!slot) {
            ADD_FAILURE() << "claim " << i << " from " << client << " refused";
            break;
        }
        slots.push_back(std::move(*slot));
    }
    return slots;
}

TEST(ConnectionSlot, AtMostMaxConnectionsAtOnce) {
    const int before = active_connection_count();
    ASSERT_EQ(before, 0) << "no connection is being served in the unit tests";
    {
        // Spread over enough clients that no client's own cap is reached.
        std::vector<ConnectionSlot> slots;
        for (uint32_t client = 0; static_cast<int>(slots.size()) < MAX_CONNECTIONS; ++client) {
            for (ConnectionSlot& slot : claim_slots(LOOPBACK + 1 + client, 8)) {
                slots.push_back(std::move(slot));
            }
        }
        EXPECT_EQ(active_connection_count(), MAX_CONNECTIONS);
        EXPECT_FALSE(ConnectionSlot::claim(LOOPBACK)) << "one past the cap, from a new client";
        EXPECT_EQ(active_connection_count(), MAX_CONNECTIONS) << "a refused claim takes nothing";

        slots.pop_back();
        std::optional<ConnectionSlot> again = ConnectionSlot::claim(LOOPBACK);
        EXPECT_TRUE(again) << "a freed place can be claimed again";
    }
    EXPECT_EQ(active_connection_count(), 0) << "moved-from slots give nothing back twice";
}

TEST(ConnectionSlot, OneClientCannotTakeEveryPlace) {
    {
        std::vector<ConnectionSlot> unread =
            claim_slots(SECOND_CLIENT, MAX_UNREAD_CONNECTIONS_PER_CLIENT);
        EXPECT_FALSE(ConnectionSlot::claim(SECOND_CLIENT)) << "one past the client's cap";
        EXPECT_EQ(active_connection_count(), MAX_UNREAD_CONNECTIONS_PER_CLIENT);
        EXPECT_TRUE(ConnectionSlot::claim(LOOPBACK)) << "another client is still served";

        // A request read in full gives its unread place back at once ...
        unread.front().mark_request_read();
        unread.front().mark_request_read();  // twice changes nothing
        std::optional<ConnectionSlot> next = ConnectionSlot::claim(SECOND_CLIENT);
        ASSERT_TRUE(next) << "the place of a request read in full is free again";
        EXPECT_FALSE(ConnectionSlot::claim(SECOND_CLIENT)) << "but only that one";

        // ... while connections that are being answered still count towards the client's
        // whole limit, so one that never lets its answers end cannot pile them up either.
        std::vector<ConnectionSlot> answered = std::move(unread);
        answered.push_back(std::move(*next));
        for (ConnectionSlot& slot : answered) slot.mark_request_read();
        while (static_cast<int>(answered.size()) < MAX_CONNECTIONS_PER_CLIENT) {
            std::optional<ConnectionSlot> slot = ConnectionSlot::claim(SECOND_CLIENT);
            ASSERT_TRUE(slot) << "answered connections " << answered.size();
            slot->mark_request_read();
            answered.push_back(std::move(*slot));
        }
        EXPECT_FALSE(ConnectionSlot::claim(SECOND_CLIENT)) << "all of the client's places taken";
        answered.pop_back();
        EXPECT_TRUE(ConnectionSlot::claim(SECOND_CLIENT)) << "a closed one frees its place";
    }
    EXPECT_EQ(active_connection_count(), 0);
    // Nothing of the client is left behind: it gets its full share again.
    EXPECT_EQ(claim_slots(SECOND_CLIENT, MAX_UNREAD_CONNECTIONS_PER_CLIENT).size(),
              static_cast<size_t>(MAX_UNREAD_CONNECTIONS_PER_CLIENT));
}

TEST(ConnectionSlot, BeyondTheUnreadCapAConnectionWaitsItsTurn) {
    {
        std::vector<ConnectionSlot> unread =
            claim_slots(SECOND_CLIENT, MAX_UNREAD_CONNECTIONS_PER_CLIENT);
        std::optional<ConnectionSlot> waiting = ConnectionSlot::claim_waiting(SECOND_CLIENT);
        ASSERT_TRUE(waiting) << "one past the unread cap may wait";
        EXPECT_TRUE(waiting->waiting());
        EXPECT_FALSE(waiting->take_unread_place()) << "every unread place is taken";

        unread.front().mark_request_read();
        EXPECT_TRUE(waiting->take_unread_place()) << "a place read in full goes to it";
        EXPECT_FALSE(waiting->waiting());
        EXPECT_FALSE(ConnectionSlot::claim(SECOND_CLIENT)) << "and nobody else gets that place";

        // Waiting ones count towards the client's whole limit.
        std::vector<ConnectionSlot> more;
        while (std::optional<ConnectionSlot> slot = ConnectionSlot::claim_waiting(SECOND_CLIENT)) {
            more.push_back(std::move(*slot));
        }
        EXPECT_EQ(unread.size() + 1 + more.size(), static_cast<size_t>(MAX_CONNECTIONS_PER_CLIENT));
        EXPECT_TRUE(ConnectionSlot::claim_waiting(LOOPBACK)) << "another client is still served";
    }
    EXPECT_EQ(active_connection_count(), 0) << "waiting places are given back too";
    EXPECT_EQ(claim_slots(SECOND_CLIENT, MAX_UNREAD_CONNECTIONS_PER_CLIENT).size(),
              static_cast<size_t>(MAX_UNREAD_CONNECTIONS_PER_CLIENT));
}

// Idle kept connections hold unread places; a client at its cap loses its oldest idle one to
// a new connection, whose loop is told to close it, and whose places are not given back twice.
TEST(ConnectionSlot, ClientAtItsCapLosesItsOldestIdleConnection) {
    {
        std::vector<ConnectionSlot> slots =
            claim_slots(SECOND_CLIENT, MAX_UNREAD_CONNECTIONS_PER_CLIENT);
        std::vector<int> closed;
        for (int i : {0, 1}) {
            slots[i].mark_request_read();
            ASSERT_TRUE(slots[i].keep_unread_place()) << "its own place is free again";
            slots[i].mark_idle([&closed, i] { closed.push_back(i); });
        }
        std::optional<ConnectionSlot> newcomer = ConnectionSlot::claim(SECOND_CLIENT);
        ASSERT_TRUE(newcomer) << "an idle connection's place goes to the new one";
        EXPECT_EQ(closed, std::vector<int>{0}) << "the oldest idle one, and only it";
        EXPECT_FALSE(slots[0].mark_busy()) << "given up: to be closed";
        EXPECT_TRUE(slots[1].mark_busy()) << "no longer idle, so never given up";
        EXPECT_FALSE(ConnectionSlot::claim(SECOND_CLIENT)) << "no idle one left to give up";

        slots[1].mark_request_read();
        std::optional<ConnectionSlot> last = ConnectionSlot::claim(SECOND_CLIENT);
        EXPECT_TRUE(last) << "the place read in full";
        EXPECT_FALSE(slots[1].keep_unread_place()) << "taken: the connection is not kept";
    }
    EXPECT_EQ(active_connection_count(), 0);
    // Nothing was given back twice: the client has its cap again, not more.
    std::vector<ConnectionSlot> again =
        claim_slots(SECOND_CLIENT, MAX_UNREAD_CONNECTIONS_PER_CLIENT);
    EXPECT_EQ(again.size(), static_cast<size_t>(MAX_UNREAD_CONNECTIONS_PER_CLIENT));
    EXPECT_FALSE(ConnectionSlot::claim(SECOND_CLIENT));
}

// The places follow the open-file limit, and a limit too low for MAX_CONNECTIONS is told.
TEST(OpenFileLimit, SizesThePlacesAndSaysWhenTheyAreFewer) {
    EXPECT_EQ(fit_connections_to_open_file_limit(1024),
              "Open-file limit is 1024, below 8192: at most 960 connections can be held at once.");
    EXPECT_EQ(connection_capacity(), 1024 - RESERVED_OPEN_FILES);
    EXPECT_EQ(fit_connections_to_open_file_limit(WANTED_OPEN_FILES), std::nullopt)
        << "enough descriptors for what the receiver wants: nothing to say";
    EXPECT_EQ(connection_capacity(), WANTED_OPEN_FILES - RESERVED_OPEN_FILES);
    EXPECT_EQ(fit_connections_to_open_file_limit(1L << 20), std::nullopt);
    EXPECT_EQ(connection_capacity(), MAX_CONNECTIONS) << "never more than the fixed cap";
    EXPECT_TRUE(fit_connections_to_open_file_limit(10).has_value());
    EXPECT_EQ(connection_capacity(), 1) << "a place for one connection, whatever the limit";
    EXPECT_EQ(fit_connections_to_open_file_limit(std::nullopt), std::nullopt);
    EXPECT_EQ(connection_capacity(), 1) << "no limit known: left as it was";
    set_connection_capacity(MAX_CONNECTIONS);
}

}  // namespace
