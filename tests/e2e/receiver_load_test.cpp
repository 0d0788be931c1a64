// The built receiver under many connections: concurrent scans, the connection cap, and a
// real scan while hundreds of idle clients hold their connections open.
#include <gtest/gtest.h>

#include <future>
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

TEST(ReceiverLoad, ConcurrentScansAreAllAnsweredAndLogged) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    constexpr int SCANS = 48;

    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < SCANS; ++i) {
        replies.push_back(std::async(std::launch::async, [port = receiver.port, i] {
            return https_exchange(port, scan_request(scan_body("PARALLEL-" + std::to_string(i))));
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
    ASSERT_TRUE(idle.open(receiver.port, MAX_CONNECTIONS, IdleKind::plain));
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
    ASSERT_TRUE(idle.open(receiver.port, 125, IdleKind::plain));
    ASSERT_TRUE(idle.open(receiver.port, 125, IdleKind::tls));
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

}  // namespace
