// The built receiver under many connections: concurrent scans, the connection caps, and real
// scans while hundreds of idle or dribbling connections are held open, by many clients or by
// one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "server/connection.h"
#include "tests/support/idle_connections.h"
#include "tests/support/net_client.h"
#include "tests/support/process.h"
#include "tests/support/receiver_process.h"

namespace {

constexpr milliseconds ANSWER_LIMIT{30000};

std::string scan_body(const std::string& text) {
    return "{\"text\":\"" + text + "\",\"format\":\"CODE-128\",\"confidence\":88}";
}

std::string scan_echo(const std::string& text) {
    return "{\"ok\":true,\"scan\":{\"text\":\"" + text +
           "\",\"format\":\"CODE-128\",\"confidence\":88}}";
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Opens `count` connections spread over the loopback addresses 127.0.0.{first_host}, ...,
// MAX_UNREAD_CONNECTIONS_PER_CLIENT from each, so that no client meets its own cap.
bool open_from_many_clients(IdleConnections& idle, uint16_t port, size_t count, IdleKind kind,
                            int first_host) {
    const size_t per_client = MAX_UNREAD_CONNECTIONS_PER_CLIENT;
    for (int host = first_host; count > 0; ++host) {
        const size_t here = std::min(count, per_client);
        if (!idle.open(port, here, kind, "127.0.0." + std::to_string(host))) return false;
        count -= here;
    }
    return true;
}

TEST(ReceiverLoad, ConcurrentScansAreAllAnsweredAndLogged) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    constexpr int SCANS = 48;

    // Three phones at once, each sending as many scans together as one client may.
    static_assert(SCANS == 3 * MAX_UNREAD_CONNECTIONS_PER_CLIENT);
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < SCANS; ++i) {
        replies.push_back(std::async(std::launch::async, [port = receiver.port, i] {
            const std::string from = "127.0.0." + std::to_string(1 + i % 3);
            return https_exchange(port, scan_request(scan_body("PARALLEL-" + std::to_string(i))),
                                  from);
        }));
    }
    for (int i = 0; i < SCANS; ++i) {
        const std::string reply = replies[i].get();
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << "scan " << i << ": " << reply;
        EXPECT_TRUE(ends_with(reply, scan_echo("PARALLEL-" + std::to_string(i)))) << reply;
    }

    const std::regex logged(
        "\\[\\d\\d:\\d\\d:\\d\\d\\] \\[CODE-128\\] PARALLEL-(\\d+) \\(88% - Received\\)");
    const std::vector<std::string> lines = receiver.process->wait_for_lines(
        [&](const std::string& line) { return std::regex_match(line, logged); }, SCANS,
        ANSWER_LIMIT);
    std::multiset<std::string> texts;
    for (const std::string& line : lines) {
        std::smatch match;
        std::regex_match(line, match, logged);
        texts.insert(match[1].str());
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(SCANS)) << "one log line per scan";
    for (int i = 0; i < SCANS; ++i) {
        EXPECT_EQ(texts.count(std::to_string(i)), 1u) << "scan " << i << " logged once";
    }
}

TEST(ReceiverLoad, ConnectionsBeyondTheCapAreClosedAtOnce) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    IdleConnections idle;
    ASSERT_TRUE(open_from_many_clients(idle, receiver.port, MAX_CONNECTIONS, IdleKind::plain, 10));
    idle.start_dripping();

    // Every place is taken: a complete request on one more connection gets no answer.
    auto extra = TcpConnection::open(receiver.port);
    ASSERT_TRUE(extra);
    extra->send_all("GET /refused HTTP/1.1\r\n\r\n");
    const Received refused = extra->receive_until_closed(ANSWER_LIMIT);
    EXPECT_TRUE(refused.closed);
    EXPECT_EQ(refused.bytes, "") << "a connection beyond the cap must not be served";
    EXPECT_EQ(idle.closed_by_server(), 0u) << "the held connections stay open";

    // Once one held connection ends, its place serves new clients again.
    idle.close_one();
    std::string answer;
    EXPECT_TRUE(wait_until(
        [&] {
            auto next = TcpConnection::open(receiver.port);
            if (!next || !next->send_all("GET /again HTTP/1.1\r\n\r\n")) return false;
            answer = next->receive_until_closed(ANSWER_LIMIT).bytes;
            return !answer.empty();
        },
        ANSWER_LIMIT, milliseconds(100)));
    EXPECT_EQ(answer.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << answer;
}

TEST(ReceiverLoad, RealScanIsServedWhileManyIdleConnectionsAreOpen) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    IdleConnections idle;
    ASSERT_TRUE(open_from_many_clients(idle, receiver.port, 125, IdleKind::plain, 10));
    ASSERT_TRUE(open_from_many_clients(idle, receiver.port, 125, IdleKind::tls, 30));
    idle.start_dripping();

    const ProgramResult curl =
        run_program({"curl", "-sS", "-k", "--http1.1", "--max-time", "30", "-H",
                     "Content-Type: application/json", "--data-binary", scan_body("BUSY-1"),
                     "https://127.0.0.1:" + std::to_string(receiver.port) + "/api/scan"});
    ASSERT_EQ(curl.exit_code, 0) << curl.err;
    EXPECT_EQ(curl.out, scan_echo("BUSY-1"));
    EXPECT_TRUE(
        receiver.process->wait_for_line_containing("] BUSY-1 (88% - Received)", ANSWER_LIMIT));
    EXPECT_EQ(idle.closed_by_server(), 0u) << "the idle connections are still held";
}

// One client (127.0.0.2) holding 300 silent and 50 dribbling connections cannot keep another
// (127.0.0.1) from scanning: all but its first few connections are closed at once.
TEST(ReceiverLoad, OneClientCannotBlockScansFromAnother) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    constexpr size_t SILENT = 300, DRIBBLING = 50;
    constexpr int SCANS = 100;
    // The dribbling ones first: those the receiver keeps (up to its cap) stay open until the
    // request-head deadline, longer than the scans below take.
    IdleConnections hostile;
    ASSERT_TRUE(hostile.open(receiver.port, DRIBBLING / 2, IdleKind::plain, "127.0.0.2"));
    ASSERT_TRUE(hostile.open(receiver.port, DRIBBLING / 2, IdleKind::tls, "127.0.0.2"));
    ASSERT_TRUE(hostile.open(receiver.port, SILENT, IdleKind::silent, "127.0.0.2"));
    hostile.start_dripping();
    const size_t beyond_cap = SILENT + DRIBBLING - MAX_UNREAD_CONNECTIONS_PER_CLIENT;
    EXPECT_TRUE(wait_until([&] { return hostile.closed_by_server() >= beyond_cap; }, ANSWER_LIMIT))
        << "closed so far: " << hostile.closed_by_server();

    using Clock = std::chrono::steady_clock;
    Clock::duration worst{};
    for (int i = 0; i < SCANS; ++i) {
        const std::string text = "TWO-CLIENTS-" + std::to_string(i);
        const Clock::time_point start = Clock::now();
        const std::string reply = https_exchange(receiver.port, scan_request(scan_body(text)));
        const Clock::duration took = Clock::now() - start;
        worst = std::max(worst, took);
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << "scan " << i << ": " << reply;
        EXPECT_TRUE(ends_with(reply, scan_echo(text))) << reply;
        // The bound the receiver promises a phone while another client misbehaves.
        EXPECT_LT(took, std::chrono::seconds(1)) << "scan " << i;
    }
    const auto worst_ms = std::chrono::duration_cast<milliseconds>(worst).count();
    std::cout << "worst scan latency with a hostile client: " << worst_ms << " ms; "
              << SILENT + DRIBBLING - hostile.closed_by_server()
              << " hostile connections still open after the scans\n";
    ::testing::Test::RecordProperty("worst_scan_latency_ms", static_cast<int>(worst_ms));
    EXPECT_TRUE(receiver.process->wait_for_line_containing(
        "] TWO-CLIENTS-" + std::to_string(SCANS - 1) + " (88% - Received)", ANSWER_LIMIT));
}

}  // namespace
