// The built receiver under many connections: concurrent scans, the connection caps, real scans
// while hundreds of idle or dribbling connections are held open, by many clients or by one,
// resent scans (same "id"), and a long soak.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <iostream>
#include <map>
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

// A scan body with `id_member` (such as `,"id":"x"`, or nothing) after its other members.
std::string scan_body_with_id(const std::string& text, const std::string& id_member) {
    return "{\"text\":\"" + text + "\",\"format\":\"CODE-128\",\"confidence\":88" + id_member + "}";
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Opens `count` connections spread over the loopback client addresses from `first_client`
// on, MAX_UNREAD_CONNECTIONS_PER_CLIENT from each, so that no client meets its own cap.
bool open_from_many_clients(IdleConnections& idle, uint16_t port, size_t count, IdleKind kind,
                            int first_client) {
    const size_t per_client = MAX_UNREAD_CONNECTIONS_PER_CLIENT;
    for (int client = first_client; count > 0; ++client) {
        const size_t here = std::min(count, per_client);
        if (!idle.open(port, here, kind, loopback_client_address(client))) return false;
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

// The receiver holds that many connections only where it may open that many files, and so
// must the test process: both ends' descriptors count against one limit.
bool open_file_limit_allows(size_t connections) {
    rlimit files{};
    return getrlimit(RLIMIT_NOFILE, &files) == 0 &&
           files.rlim_max >= static_cast<rlim_t>(2 * connections + 256);
}

TEST(ReceiverLoad, ConnectionsBeyondTheCapAreClosedAtOnce) {
    if (!open_file_limit_allows(MAX_CONNECTIONS)) {
        GTEST_SKIP() << "the open-file hard limit is too low for " << MAX_CONNECTIONS
                     << " connections";
    }
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    const auto open_fds = [pid = receiver.process->pid()] {
        return process_usage(pid).value_or(ProcessUsage{}).open_fds;
    };
    const size_t fds_before = open_fds();
    IdleConnections idle;
    ASSERT_TRUE(open_from_many_clients(idle, receiver.port, MAX_CONNECTIONS, IdleKind::plain, 10));
    idle.start_dripping();
    // A connect returns before the receiver has accepted: on a busy machine a full listen
    // queue holds the last ones back, and the one below would overtake them.
    ASSERT_TRUE(
        wait_until([&] { return open_fds() >= fds_before + MAX_CONNECTIONS; }, ANSWER_LIMIT))
        << open_fds() - fds_before << " of " << MAX_CONNECTIONS << " connections accepted";

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

// Idle connections cost no thread: thousands of them, from many clients, leave room for
// every real scan.
TEST(ReceiverLoad, FiveThousandIdleConnectionsLeaveRoomForRealScans) {
    constexpr size_t IDLE = 5000;
    constexpr int SCANS = 20;
    if (!open_file_limit_allows(IDLE)) {
        GTEST_SKIP() << "the open-file hard limit is too low for " << IDLE << " connections";
    }
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    IdleConnections idle;
    ASSERT_TRUE(open_from_many_clients(idle, receiver.port, IDLE, IdleKind::plain, 10));
    idle.start_dripping();
    for (int i = 0; i < SCANS; ++i) {
        const std::string text = "AMONG-IDLE-" + std::to_string(i);
        const std::string reply = https_exchange(receiver.port, scan_request(scan_body(text)));
        EXPECT_TRUE(ends_with(reply, scan_echo(text))) << "scan " << i << ": " << reply;
    }
    EXPECT_TRUE(receiver.process->wait_for_line_containing(
        "] AMONG-IDLE-" + std::to_string(SCANS - 1) + " (88% - Received)", ANSWER_LIMIT));
    EXPECT_EQ(idle.closed_by_server(), 0u) << "the idle connections are still held";
}

// `clients` clients at once, each posting `scans` scans over fresh TLS connections, one after
// the other. Returns the replies that were not the 200 echo of their own scan.
std::vector<std::string> run_scanning_clients(uint16_t port, const std::string& prefix, int clients,
                                              int scans) {
    std::vector<std::future<std::vector<std::string>>> runs;
    for (int c = 0; c < clients; ++c) {
        runs.push_back(std::async(std::launch::async, [=] {
            std::vector<std::string> wrong;
            for (int i = 0; i < scans; ++i) {
                const std::string text = prefix + std::to_string(c) + "-" + std::to_string(i);
                const std::string reply = https_exchange(port, scan_request(scan_body(text)));
                if (reply.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 ||
                    !ends_with(reply, scan_echo(text))) {
                    wrong.push_back(text + ": " + reply);
                }
            }
            return wrong;
        }));
    }
    std::vector<std::string> wrong;
    for (auto& run : runs) {
        for (std::string& reply : run.get()) wrong.push_back(std::move(reply));
    }
    return wrong;
}

TEST(ReceiverLoad, SoakAnswersEveryScanOnceAndLeavesNothingBehind) {
    constexpr int CLIENTS = 16;
    constexpr int SCANS = 200;
    // Resident memory may grow this much, plus what each worker thread started during the
    // soak holds (its stack and allocator arena): a leak of a kilobyte per connection over 3200
    // connections shows well above it, allocator noise stays below.
    [[maybe_unused]] constexpr size_t RSS_SLACK_KIB = 2048;
    [[maybe_unused]] constexpr size_t RSS_PER_NEW_THREAD_KIB = 256;
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    // All zero once the process is gone, which fails every comparison below.
    const auto usage = [pid = receiver.process->pid()] {
        return process_usage(pid).value_or(ProcessUsage{});
    };
    const ProcessUsage idle = usage();
    ASSERT_GT(idle.resident_kib, 0u);

    // The warm-up brings up the worker threads and their allocator arenas, which then wait
    // for further scans: the soak is measured from a receiver that has served 16 at once.
    EXPECT_TRUE(run_scanning_clients(receiver.port, "WARM-", CLIENTS, 20).empty());
    // The scan journal keeps the day's file open from the first scan on.
    ASSERT_TRUE(wait_until([&] { return usage().open_fds == idle.open_fds + 1; }, ANSWER_LIMIT));
    const ProcessUsage before = usage();

    const std::vector<std::string> wrong =
        run_scanning_clients(receiver.port, "SOAK-", CLIENTS, SCANS);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " scans not answered 200, first: "
                               << (wrong.empty() ? "" : wrong.front());

    const std::vector<std::string> lines = receiver.process->wait_for_lines(
        [](const std::string& line) { return line.find("] SOAK-") != std::string::npos; },
        CLIENTS * SCANS, ANSWER_LIMIT);
    const std::regex logged(
        "\\[\\d\\d:\\d\\d:\\d\\d\\] \\[CODE-128\\] (SOAK-\\d+-\\d+) \\(88% - Received\\)");
    std::map<std::string, int> times_logged;
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, logged)) << line;
        ++times_logged[match[1].str()];
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(CLIENTS * SCANS)) << "one log line per scan";
    for (int c = 0; c < CLIENTS; ++c) {
        for (int i = 0; i < SCANS; ++i) {
            const std::string text = "SOAK-" + std::to_string(c) + "-" + std::to_string(i);
            EXPECT_EQ(times_logged[text], 1) << text;
        }
    }

    // Every connection's socket is closed once its thread has finished with it.
    EXPECT_TRUE(wait_until([&] { return usage().open_fds == before.open_fds; }, ANSWER_LIMIT))
        << "open descriptors: " << before.open_fds << " before, " << usage().open_fds << " after";
    const ProcessUsage after = usage();
    std::printf("soak: %zu fds, %zu KiB resident, %zu threads before; %zu, %zu KiB, %zu after\n",
                before.open_fds, before.resident_kib, before.threads, after.open_fds,
                after.resident_kib, after.threads);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' own memory (AddressSanitizer's quarantine of freed blocks,
    // ThreadSanitizer's shadow and history) only grows: the descriptors tell there.
#else
    const size_t new_threads = after.threads > before.threads ? after.threads - before.threads : 0;
    EXPECT_LE(after.resident_kib,
              before.resident_kib + RSS_SLACK_KIB + new_threads * RSS_PER_NEW_THREAD_KIB)
        << "resident memory " << before.resident_kib << " KiB before, " << after.resident_kib
        << " KiB after";
#endif
}

// Log lines of scans with this text, whatever their outcome.
std::function<bool(const std::string&)> logs_text(const std::string& text) {
    return [needle = "] " + text + " (88% - "](const std::string& line) {
        return line.find(needle) != std::string::npos;
    };
}

size_t count_lines_ending(ChildProcess& process, const std::string& end) {
    size_t count = 0;
    for (const std::string& line : process.lines()) count += ends_with(line, end);
    return count;
}

TEST(ReceiverScanIds, ResentScanGetsTheSameAnswerAndIsTypedOnce) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    const std::string body = scan_body_with_id("RESENT-1", R"(,"id":"scan-1-abc")");
    const std::string first = https_exchange(receiver.port, scan_request(body));
    const std::string again = https_exchange(receiver.port, scan_request(body));
    EXPECT_TRUE(ends_with(first, scan_echo("RESENT-1"))) << first;
    EXPECT_EQ(again, first) << "a resend is answered exactly like the first send";
    ASSERT_EQ(receiver.process->wait_for_lines(logs_text("RESENT-1"), 2, ANSWER_LIMIT).size(), 2u);
    EXPECT_EQ(count_lines_ending(*receiver.process, "] RESENT-1 (88% - Received)"), 1u);
    EXPECT_EQ(count_lines_ending(*receiver.process, "] RESENT-1 (88% - Already received)"), 1u);

    // Without an id, or with an empty one, every send is a new scan.
    for (const auto& [text, id_member] : {std::pair{"NO-ID", ""}, {"EMPTY-ID", R"(,"id":"")"}}) {
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(ends_with(
                https_exchange(receiver.port, scan_request(scan_body_with_id(text, id_member))),
                scan_echo(text)));
        }
        EXPECT_EQ(receiver.process->wait_for_lines(logs_text(text), 2, ANSWER_LIMIT).size(), 2u);
        EXPECT_EQ(
            count_lines_ending(*receiver.process, std::string("] ") + text + " (88% - Received)"),
            2u)
            << text;
    }

    // An id beyond 128 bytes is refused, and nothing is delivered.
    const std::string refused = https_exchange(
        receiver.port,
        scan_request(scan_body_with_id("LONG-ID", R"(,"id":")" + std::string(129, 'i') + "\"")));
    const std::string error = R"({"ok":false,"error":"Scan id longer than 128 bytes"})";
    EXPECT_EQ(refused.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << refused;
    EXPECT_TRUE(ends_with(refused, error)) << refused;
    https_exchange(receiver.port, scan_request(scan_body("AFTER-LONG-ID")));
    ASSERT_TRUE(receiver.process->wait_for_line_containing("] AFTER-LONG-ID (", ANSWER_LIMIT));
    EXPECT_EQ(count_lines_ending(*receiver.process, "] LONG-ID (88% - Received)"), 0u);
}

TEST(ReceiverScanIds, SameIdFromEightConnectionsAtOnceIsTypedOnce) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    constexpr int SENDERS = 8;
    // Every connection is opened and its handshake done first, so the requests arrive together.
    std::vector<std::unique_ptr<TlsConnection>> connections;
    for (int i = 0; i < SENDERS; ++i) {
        connections.push_back(TlsConnection::open(receiver.port));
        ASSERT_TRUE(connections.back());
    }
    const std::string request = scan_request(scan_body_with_id("RACE-1", R"(,"id":"scan-race")"));
    std::vector<std::future<std::string>> replies;
    for (auto& connection : connections) {
        replies.push_back(std::async(std::launch::async, [&connection, &request] {
            if (!connection->write(request)) return std::string();
            return connection->read_until_closed(ANSWER_LIMIT).bytes;
        }));
    }
    const std::string first = replies[0].get();
    EXPECT_TRUE(ends_with(first, scan_echo("RACE-1"))) << first;
    for (int i = 1; i < SENDERS; ++i) EXPECT_EQ(replies[i].get(), first) << "reply " << i;
    EXPECT_EQ(receiver.process->wait_for_lines(logs_text("RACE-1"), SENDERS, ANSWER_LIMIT).size(),
              static_cast<size_t>(SENDERS));
    EXPECT_EQ(count_lines_ending(*receiver.process, "] RACE-1 (88% - Received)"), 1u);
}

TEST(ReceiverScanIds, OldestOf4097IdsIsForgotten) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    constexpr int IDS = 4097;
    constexpr int SENDERS = 4;
    const auto body = [](int n) {
        return scan_body_with_id("MANY-" + std::to_string(n),
                                 R"(,"id":"many-)" + std::to_string(n) + "\"");
    };
    // Id 0 first, alone, so that it is the oldest; the rest from a few connections at once.
    ASSERT_TRUE(
        ends_with(https_exchange(receiver.port, scan_request(body(0))), scan_echo("MANY-0")));
    std::vector<std::future<int>> senders;
    for (int s = 0; s < SENDERS; ++s) {
        senders.push_back(std::async(std::launch::async, [&, s] {
            int answered = 0;
            for (int n = 1 + s; n < IDS; n += SENDERS) {
                answered += ends_with(https_exchange(receiver.port, scan_request(body(n))),
                                      scan_echo("MANY-" + std::to_string(n)));
            }
            return answered;
        }));
    }
    int answered = 0;
    for (auto& sender : senders) answered += sender.get();
    ASSERT_EQ(answered, IDS - 1);
    https_exchange(receiver.port, scan_request(body(1)));  // still remembered
    https_exchange(receiver.port, scan_request(body(0)));  // forgotten: a new scan
    ASSERT_EQ(receiver.process->wait_for_lines(logs_text("MANY-0"), 2, ANSWER_LIMIT).size(), 2u);
    ASSERT_EQ(receiver.process->wait_for_lines(logs_text("MANY-1"), 2, ANSWER_LIMIT).size(), 2u);
    EXPECT_EQ(count_lines_ending(*receiver.process, "] MANY-0 (88% - Received)"), 2u);
    EXPECT_EQ(count_lines_ending(*receiver.process, "] MANY-1 (88% - Received)"), 1u);
    EXPECT_EQ(count_lines_ending(*receiver.process, "] MANY-1 (88% - Already received)"), 1u);
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
