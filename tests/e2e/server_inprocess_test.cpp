// The server inside the test process: restarts on a new port, counting, the per-connection
// deadlines and the TLS session's end-of-stream and waiting rules, with real sockets on
// 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "receiver/command_line.h"
#include "receiver/receiver_state.h"
#include "server/connection.h"
#include "server/server_start.h"
#include "server/tls_identity.h"
#include "server/tls_session.h"
#include "tests/support/idle_connections.h"
#include "tests/support/net_client.h"
#include "tests/support/process.h"
#include "tests/support/receiver_process.h"
#include "tests/support/serve_connection.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr milliseconds LIMIT{20000};

std::shared_ptr<ReceiverState> new_state(uint16_t port) {
    ReceiverSettings settings;
    settings.port = port;
    return new_receiver_state(settings, {{"Localhost", "127.0.0.1"}});
}

bool starts_with(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

bool answers_ping(uint16_t port) {
    return starts_with(https_exchange(port, get_request("/api/ping")), "HTTP/1.1 200 OK\r\n");
}

TEST(StartServer, SecondStartTakesOverAndFinishesRequestsInFlight) {
    const uint16_t first_port = free_port();
    auto state = new_state(first_port);
    ASSERT_TRUE(start_server(state).ok());
    EXPECT_EQ(state->listener_generation.load(), 1u);
    EXPECT_EQ(take_log_lines(*state), std::vector<std::string>{listening_line(first_port, false)});

    // A request that has started on the old port but is not complete yet.
    auto in_flight = TlsConnection::open(first_port);
    ASSERT_TRUE(in_flight);
    ASSERT_TRUE(
        in_flight->write("GET /api/ping HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"));

    const uint16_t second_port = free_port();
    state->port = second_port;
    ASSERT_TRUE(start_server(state).ok());
    EXPECT_EQ(state->listener_generation.load(), 2u);
    EXPECT_EQ(take_log_lines(*state), std::vector<std::string>{listening_line(second_port, false)});

    EXPECT_TRUE(wait_until([&] { return !TcpConnection::open(first_port); }, LIMIT))
        << "the old listener should close by itself";
    EXPECT_TRUE(answers_ping(second_port));

    ASSERT_TRUE(in_flight->write("\r\n"));
    const Received reply = in_flight->read_until_closed(LIMIT);
    EXPECT_TRUE(starts_with(reply.bytes, "HTTP/1.1 200 OK\r\n")) << reply.bytes;
}

TEST(StartServer, BusyPortLeavesTheRunningServerAlone) {
    const uint16_t port = free_port();
    auto state = new_state(port);
    ASSERT_TRUE(start_server(state).ok());
    take_log_lines(*state);

    const Status again = start_server(state);
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error(), "Could not listen on port " + std::to_string(port) +
                                 ": Address already in use (os error 98)");
    EXPECT_EQ(state->listener_generation.load(), 1u) << "a failed start changes nothing";
    EXPECT_TRUE(take_log_lines(*state).empty()) << "the failure is the caller's to report";
    EXPECT_TRUE(answers_ping(port));
}

TEST(StartServer, ConcurrentScansAreAllCounted) {
    auto state = new_state(free_port());
    ASSERT_TRUE(start_server(state).ok());
    take_log_lines(*state);
    constexpr int SCANS = 32;
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < SCANS; ++i) {
        replies.push_back(std::async(std::launch::async, [&state, i] {
            const std::string body = "{\"text\":\"COUNT-" + std::to_string(i) + "\"}";
            // Two clients, each sending as many scans at once as one client may.
            return https_exchange(state->port, scan_request(body), i % 2 ? "127.0.0.2" : "");
        }));
    }
    for (auto& reply : replies) EXPECT_TRUE(starts_with(reply.get(), "HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(state->received_count.load(), static_cast<uint64_t>(SCANS));
    EXPECT_EQ(take_log_lines(*state).size(), static_cast<size_t>(SCANS));
}

// A browser loading a page of many modules opens more connections at once than a client's
// unread cap on a slow receiver: the one beyond the cap waits for a place instead of a reset.
TEST(StartServer, ConnectionBeyondTheUnreadCapWaitsForAPlace) {
    auto state = new_state(free_port());
    ASSERT_TRUE(start_server(state).ok());
    IdleConnections silent;
    ASSERT_TRUE(
        silent.open(state->port, MAX_UNREAD_CONNECTIONS_PER_CLIENT, IdleKind::silent, "127.0.0.2"));
    ASSERT_TRUE(wait_until(
        [] { return active_connection_count() >= MAX_UNREAD_CONNECTIONS_PER_CLIENT; }, LIMIT));
    auto ping = std::async(std::launch::async, [port = state->port.load()] {
        return https_exchange(port, get_request("/api/ping"), "127.0.0.2");
    });
    EXPECT_EQ(ping.wait_for(milliseconds(300)), std::future_status::timeout) << "no place yet";
    silent.close_one();
    EXPECT_TRUE(starts_with(ping.get(), "HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(silent.closed_by_server(), 0u) << "the others keep their places";
}

TEST(StartServer, VanishingClientsDoNotEndTheProcess) {
    auto state = new_state(free_port());
    ASSERT_TRUE(start_server(state).ok());
    const uint16_t port = state->port;
    // Clients that send a request and leave: the answer is written to a closed socket.
    for (int i = 0; i < 20; ++i) {
        auto tls = TlsConnection::open(port);
        ASSERT_TRUE(tls);
        tls->write(get_request("/index.html"));
        auto plain = TcpConnection::open(port);
        ASSERT_TRUE(plain);
        plain->send_all(get_request("/"));
    }
    // Once it has seen them off (they count as the same client until then), it still serves.
    EXPECT_TRUE(wait_until([&] { return answers_ping(port); }, LIMIT));
}

// Scans keep coming to the old port while the port changes: each is answered whole or
// refused before it was sent, and every answered one is counted once.
TEST(StartServer, PortChangeUnderLoadLosesNoScan) {
    const uint16_t first_port = free_port();
    auto state = new_state(first_port);
    ASSERT_TRUE(start_server(state).ok());
    std::atomic<bool> stop{false};
    std::vector<std::future<std::pair<uint64_t, std::string>>> clients;
    for (int c = 0; c < 4; ++c) {
        clients.push_back(std::async(std::launch::async, [&stop, first_port, c] {
            uint64_t answered = 0;
            for (int i = 0; !stop; ++i) {
                const std::string text = "MOVE-" + std::to_string(c) + "-" + std::to_string(i);
                const std::string reply =
                    https_exchange(first_port, scan_request("{\"text\":\"" + text + "\"}"),
                                   c % 2 ? "127.0.0.2" : "");
                if (reply.empty()) continue;  // refused: the old listener is gone
                if (!reply.ends_with("{\"text\":\"" + text + "\",\"format\":\"BARCODE\"," +
                                     "\"confidence\":100}}")) {
                    return std::pair(answered, reply);
                }
                ++answered;
            }
            return std::pair(answered, std::string());
        }));
    }
    EXPECT_TRUE(wait_until([&] { return state->received_count.load() >= 20; }, LIMIT));
    // The clients' own connections take ports all the while: one may just have taken the
    // free port found, so a few are tried.
    uint16_t second_port = 0;
    for (int attempt = 0; attempt < 5 && second_port == 0; ++attempt) {
        state->port = free_port();
        if (start_server(state).ok()) second_port = state->port;
    }
    ASSERT_NE(second_port, 0) << "no free port could be taken";
    EXPECT_TRUE(wait_until([&] { return !TcpConnection::open(first_port); }, LIMIT));
    EXPECT_TRUE(answers_ping(second_port));
    stop = true;
    uint64_t answered = 0;
    for (auto& client : clients) {
        const auto [count, wrong] = client.get();
        EXPECT_EQ(wrong, "") << "a reply that is not the scan's own echo";
        answered += count;
    }
    EXPECT_GE(answered, 20u);
    EXPECT_EQ(state->received_count.load(), answered) << "each answered scan counted once";
}

// Typing that takes its time holds only the scans: other clients' pings are answered
// meanwhile, and every scan, also those beyond the worker threads, is answered once typed.
TEST(StartServer, SlowDeliveryDoesNotHoldOtherClients) {
    struct Latch {
        std::mutex lock;
        std::condition_variable changed;
        bool typing = false;
        bool released = false;
        void release() {
            std::lock_guard guard(lock);
            released = true;
            changed.notify_all();
        }
    };
    auto latch = std::make_shared<Latch>();
    auto state = new_state(free_port());
    state->desktop.type_text = [latch](std::string_view, bool, const TypingOptions&) {
        std::unique_lock guard(latch->lock);
        latch->typing = true;
        latch->changed.notify_all();
        latch->changed.wait(guard, [&] { return latch->released; });
        return Status::success();
    };
    state->desktop.copy_text = [](std::string_view) { return Status::success(); };
    ASSERT_TRUE(start_server(state).ok());
    auto scan = std::async(std::launch::async, [port = state->port.load()] {
        return https_exchange(port, scan_request(R"({"text":"SLOW-DESK"})"));
    });
    struct ReleaseAtEnd {
        std::shared_ptr<Latch> latch;
        ~ReleaseAtEnd() { latch->release(); }
    } release_at_end{latch};
    {
        std::unique_lock guard(latch->lock);
        ASSERT_TRUE(latch->changed.wait_for(guard, LIMIT, [&] { return latch->typing; }));
    }
    // More scans than there are worker threads wait meanwhile, from five more clients, each
    // sending as many at once as one client may.
    constexpr int WAITING = 5 * MAX_UNREAD_CONNECTIONS_PER_CLIENT;
    std::vector<std::future<std::string>> waiting;
    for (int i = 0; i < WAITING; ++i) {
        waiting.push_back(std::async(std::launch::async, [port = state->port.load(), i] {
            return https_exchange(port,
                                  scan_request("{\"text\":\"WAITING-" + std::to_string(i) + "\"}"),
                                  "127.0.0." + std::to_string(3 + i % 5));
        }));
    }
    // Two seconds of pings from another client while the scans wait for the typing.
    int pings = 0;
    for (const auto until = SteadyClock::now() + std::chrono::seconds(2);
         SteadyClock::now() < until; ++pings) {
        ASSERT_TRUE(starts_with(https_exchange(state->port, get_request("/api/ping"), "127.0.0.2"),
                                "HTTP/1.1 200 OK\r\n"))
            << "ping " << pings;
    }
    EXPECT_GT(pings, 1);
    EXPECT_EQ(scan.wait_for(milliseconds(0)), std::future_status::timeout) << "still typing";
    latch->release();
    EXPECT_TRUE(starts_with(scan.get(), "HTTP/1.1 200 OK\r\n"));
    for (auto& reply : waiting) EXPECT_TRUE(starts_with(reply.get(), "HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(state->received_count.load(), 1u + WAITING) << "every waiting scan delivered";
}

// One accepted server-side socket and the client connected to it.
struct LoopbackPair {
    Socket server;
    std::optional<TcpConnection> client;
};

LoopbackPair connect_loopback_pair() {
    LoopbackPair pair;
    Socket listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int fd = static_cast<int>(listener.native());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 1) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length)) {
        return pair;
    }
    pair.client = TcpConnection::open(ntohs(address.sin_port));
    pair.server = Socket(accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
    return pair;
}

constexpr milliseconds DRIP_INTERVAL{200};

// Short limits, so a slow client meets the deadline quickly: each receive may wait 1 s, the
// whole request must arrive within 1.5 s, and the client sends a byte every 200 ms.
class ConnectionDeadline : public ::testing::Test {
  protected:
    void SetUp() override {
        state_ = new_state(0);
        auto config = build_tls_config(*state_);
        ASSERT_TRUE(config.ok()) << config.error();
        config_ = config.value();
        pair_ = connect_loopback_pair();
        ASSERT_TRUE(pair_.server.valid() && pair_.client);
        limits_.call_timeout_ms = 1000;
        limits_.request_time = milliseconds(1500);
    }

    std::future<void> serve_in_background() {
        return std::async(std::launch::async, [this] {
            std::optional<ConnectionSlot> slot = ConnectionSlot::claim(INADDR_LOOPBACK);
            if (slot) serve_connection(std::move(pair_.server), *slot, state_, config_, limits_);
        });
    }

    // Serves the connection on its own thread while the client drips `first` and then one
    // byte every 200 ms; returns what the client received once the server has finished.
    // Gives up (with nothing) after LIMIT, which only a server without a deadline reaches.
    std::optional<std::string> serve_dripping_client(const std::string& first) {
        auto served = serve_in_background();
        pair_.client->send_all(first);
        const auto give_up = SteadyClock::now() + LIMIT;
        while (served.wait_for(DRIP_INTERVAL) != std::future_status::ready) {
            if (SteadyClock::now() > give_up) return std::nullopt;
            pair_.client->send_all("a");
        }
        return pair_.client->receive_until_closed(LIMIT).bytes;
    }

    // The same over TLS: `first` at once, then `dripped` one byte every 200 ms (until the
    // server finishes); then what the client received. Nothing when the server is still busy
    // after LIMIT.
    std::optional<std::string> serve_dripping_tls_client(const std::string& first,
                                                         const std::string& dripped) {
        auto served = serve_in_background();
        auto tls = TlsConnection::over(dup(pair_.client->fd()));
        if (!tls || !tls->write(first)) return "no TLS connection";
        for (char byte : dripped) {
            if (served.wait_for(DRIP_INTERVAL) == std::future_status::ready) break;
            tls->write(std::string(1, byte));
        }
        if (served.wait_for(LIMIT) != std::future_status::ready) return std::nullopt;
        return tls->read_until_closed(LIMIT).bytes;
    }

    std::shared_ptr<ReceiverState> state_;
    std::shared_ptr<const TlsServerConfig> config_;
    LoopbackPair pair_;
    ConnectionLimits limits_;
};

TEST_F(ConnectionDeadline, SlowPlainRequestLineEndsAtTheDeadline) {
    const std::optional<std::string> received = serve_dripping_client("GET /slow");
    ASSERT_TRUE(received) << "a client dripping bytes held the connection without end";
    // The line read stops at the deadline and what arrived is redirected.
    EXPECT_TRUE(starts_with(*received, "HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:0/slow"))
        << *received;
}

TEST_F(ConnectionDeadline, SlowTlsHandshakeEndsAtTheDeadline) {
    // A handshake record header announcing 16 KiB, whose body never arrives in time.
    const std::optional<std::string> received = serve_dripping_client("\x16\x03\x01\x40\x00");
    ASSERT_TRUE(received) << "a client dripping bytes held the connection without end";
    EXPECT_EQ(received->find("HTTP/"), std::string::npos);
}

// The handshake and the request head have a deadline of their own (1 s here), far shorter
// than the whole request's (60 s here, longer than the test waits).
TEST_F(ConnectionDeadline, SlowRequestHeadEndsAtTheHeadDeadline) {
    limits_.head_time = milliseconds(1000);
    limits_.request_time = milliseconds(60000);
    const std::optional<std::string> received =
        serve_dripping_tls_client("", "POST /api/scan HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_TRUE(received) << "a client dripping its request head held the connection";
    EXPECT_EQ(*received, "") << "no answer to a request that never arrived";
}

TEST_F(ConnectionDeadline, BodyMayTakeLongerThanTheHeadDeadline) {
    limits_.head_time = milliseconds(1000);
    limits_.request_time = milliseconds(60000);
    const std::string body = R"({"text":"SLOW-BODY"})";  // 20 bytes: about 4 s of dripping
    const std::optional<std::string> received = serve_dripping_tls_client(
        "POST /api/scan HTTP/1.1\r\nContent-Length: 20\r\nConnection: close\r\n\r\n", body);
    ASSERT_TRUE(received);
    EXPECT_TRUE(starts_with(*received, "HTTP/1.1 200 OK\r\n")) << *received;
    EXPECT_NE(received->find(R"("text":"SLOW-BODY")"), std::string::npos) << *received;
}

const std::string KEPT_HEAD_END = "\r\nConnection: keep-alive\r\nKeep-Alive: timeout=30\r\n\r\n";

// A kept connection whose next request does not come is closed cleanly (close_notify, then the
// end of the stream) once its idle time has passed.
TEST_F(ConnectionDeadline, KeptConnectionIsClosedAfterItsIdleTime) {
    limits_.idle_time = milliseconds(600);
    auto served = serve_in_background();
    auto tls = TlsConnection::over(dup(pair_.client->fd()));
    ASSERT_TRUE(tls && tls->write(get_request("/api/ping", true)));
    const std::string answer = tls->read_response(LIMIT);
    EXPECT_NE(answer.find(KEPT_HEAD_END), std::string::npos) << answer;
    const auto kept_at = SteadyClock::now();
    const Received after = tls->read_until_closed(LIMIT);
    EXPECT_TRUE(after.closed);
    EXPECT_EQ(after.bytes, "");
    EXPECT_GE(SteadyClock::now() - kept_at, milliseconds(500)) << "closed before its idle time";
    EXPECT_EQ(served.wait_for(LIMIT), std::future_status::ready);
}

// The next request on a kept connection has the head deadline of a first one, counted from
// its first byte: a head dripped too slowly is dropped without an answer (1 s here; the idle
// time and the whole request's are far longer).
TEST_F(ConnectionDeadline, SlowHeadOnAKeptConnectionEndsAtTheHeadDeadline) {
    limits_.head_time = milliseconds(1000);
    limits_.request_time = milliseconds(60000);
    limits_.idle_time = milliseconds(60000);
    const std::optional<std::string> received = serve_dripping_tls_client(
        get_request("/api/ping", true), "GET /api/ping HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_TRUE(received) << "a client dripping its second request head held the connection";
    EXPECT_EQ(received->rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << *received;
    EXPECT_EQ(received->find("HTTP/1.1", 1), std::string::npos) << "answered once: " << *received;
    EXPECT_NE(received->find(KEPT_HEAD_END), std::string::npos) << *received;
}

// TlsSession over one end of a non-blocking socket pair, an OpenSSL client on the other.
class TlsSessionEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        auto config = build_tls_config(*new_state(0));
        ASSERT_TRUE(config.ok()) << config.error();
        config_ = config.value();
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        server_ = Socket(fds[0]);
        ASSERT_TRUE(set_nonblocking(server_, true).ok());
        client_fd_ = fds[1];
    }

    // Waits for what the session asked, at most `patience`; false when nothing came.
    bool wait_for_socket(TlsProgress wanted, milliseconds patience) {
        pollfd entry{static_cast<int>(server_.native()),
                     static_cast<short>(wanted == TlsProgress::want_write ? POLLOUT : POLLIN), 0};
        return poll(&entry, 1, static_cast<int>(patience.count())) > 0;
    }

    // Reads until the session reports its end or a failure, or nothing arrives for
    // `patience`; returns the data and the last progress.
    std::pair<std::string, TlsProgress> read_all(TlsSession& session,
                                                 milliseconds patience = LIMIT) {
        std::string data;
        char buffer[256];
        for (;;) {
            size_t count = 0;
            const TlsProgress progress = session.read(buffer, sizeof buffer, count);
            if (progress == TlsProgress::done) {
                data.append(buffer, count);
            } else if (progress != TlsProgress::want_read && progress != TlsProgress::want_write) {
                return {data, progress};
            } else if (!wait_for_socket(progress, patience)) {
                return {data, progress};
            }
        }
    }

    // Writes `bytes` and close_notify and sends them.
    bool answer_and_close(TlsSession& session, const std::string& bytes) {
        TlsProgress progress;
        while ((progress = session.write(bytes)) != TlsProgress::done) {
            if (progress == TlsProgress::failed || !wait_for_socket(progress, LIMIT)) return false;
        }
        session.close_notify();
        while ((progress = session.flush()) != TlsProgress::done) {
            if (progress == TlsProgress::failed || !wait_for_socket(progress, LIMIT)) return false;
        }
        return true;
    }

    std::shared_ptr<const TlsServerConfig> config_;
    Socket server_;
    int client_fd_ = -1;
};

TEST_F(TlsSessionEnd, CloseNotifyReadsAsEndOfStream) {
    auto session = TlsSession::open(*config_, server_);
    ASSERT_TRUE(session.ok()) << session.error();
    auto client = std::async(std::launch::async, [fd = client_fd_] {
        auto tls = TlsConnection::over(fd);
        if (!tls) return std::string("handshake failed");
        tls->write("hello");
        tls->close_notify();
        return tls->read_until_closed(LIMIT).bytes;
    });
    const auto [data, last] = read_all(*session.value());
    EXPECT_EQ(data, "hello");
    EXPECT_EQ(last, TlsProgress::ended) << "close_notify is a clean end";
    EXPECT_TRUE(answer_and_close(*session.value(), "bye"));
    server_.reset();
    EXPECT_EQ(client.get(), "bye");
}

// A client that stops sending without close_notify (a shut-down sending side, then silence)
// has ended its stream; the connection still carries the answer back.
TEST_F(TlsSessionEnd, EndWithoutCloseNotifyStillTakesTheAnswer) {
    auto session = TlsSession::open(*config_, server_);
    ASSERT_TRUE(session.ok()) << session.error();
    auto client = std::async(std::launch::async, [fd = client_fd_] {
        auto tls = TlsConnection::over(fd);
        if (!tls) return std::string("handshake failed");
        tls->write("partial");
        tls->shutdown_sending();
        return tls->read_until_closed(LIMIT).bytes;
    });
    const auto [data, last] = read_all(*session.value());
    EXPECT_EQ(data, "partial");
    EXPECT_EQ(last, TlsProgress::ended) << "the end of the stream";
    EXPECT_TRUE(answer_and_close(*session.value(), "answer"));
    server_.reset();
    EXPECT_EQ(client.get(), "answer");
}

// Waiting for bytes that do not come is no failure of the connection: a late answer (the 400
// for a body cut short by the time-out) still goes out.
TEST_F(TlsSessionEnd, SilenceLeavesTheConnectionUsable) {
    auto session = TlsSession::open(*config_, server_);
    ASSERT_TRUE(session.ok()) << session.error();
    auto client = std::async(std::launch::async, [fd = client_fd_] {
        auto tls = TlsConnection::over(fd);
        if (!tls) return std::string("handshake failed");
        tls->write("part");
        return tls->read_until_closed(LIMIT).bytes;  // sends nothing more meanwhile
    });
    std::string data;
    const auto give_up = SteadyClock::now() + LIMIT;
    while (data.size() < 4 && SteadyClock::now() < give_up) {
        auto [more, last] = read_all(*session.value(), milliseconds(300));
        ASSERT_NE(last, TlsProgress::ended) << "the client never ended its stream";
        ASSERT_NE(last, TlsProgress::failed);
        data += more;
    }
    EXPECT_EQ(data, "part");
    EXPECT_EQ(read_all(*session.value(), milliseconds(300)).second, TlsProgress::want_read);
    EXPECT_TRUE(answer_and_close(*session.value(), "late answer"));
    server_.reset();
    EXPECT_EQ(client.get(), "late answer");
}

TEST_F(TlsSessionEnd, PlainBytesFailTheHandshake) {
    auto session = TlsSession::open(*config_, server_);
    ASSERT_TRUE(session.ok()) << session.error();
    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(write(client_fd_, request.data(), request.size()),
              static_cast<ssize_t>(request.size()));
    EXPECT_EQ(read_all(*session.value()).second, TlsProgress::failed);
    EXPECT_EQ(read_all(*session.value()).second, TlsProgress::failed) << "stays failed";
    EXPECT_EQ(session.value()->write("x"), TlsProgress::failed);
    close(client_fd_);
}

}  // namespace
