// How the built receiver treats connections: plain HTTP, silence, pipelining, busy ports.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "server/connection_admission.h"
#include "server/http.h"
#include "tests/support/net_client.h"
#include "tests/support/process.h"
#include "tests/support/receiver_process.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr milliseconds ANSWER_LIMIT{20000};

class ReceiverConnections : public ::testing::Test {
  protected:
    void SetUp() override {
        receiver_ = start_receiver_process();
        ASSERT_TRUE(receiver_.process) << "the receiver did not start listening";
    }

    // The address the receiver advertises, as its own ping reply tells it.
    std::string advertised_address() {
        const std::string reply = https_exchange(receiver_.port, get_request("/api/ping"));
        std::smatch match;
        static const std::regex address("\"lanAddresses\":\\[\"([0-9.]+)\"\\]");
        return std::regex_search(reply, match, address) ? match[1].str() : "";
    }

    bool answers_ping() {
        return https_exchange(receiver_.port, get_request("/api/ping"))
                   .rfind("HTTP/1.1 200 OK", 0) == 0;
    }

    Received plain_exchange(const std::string& bytes) {
        auto connection = TcpConnection::open(receiver_.port);
        if (!connection || !connection->send_all(bytes)) return {};
        return connection->receive_until_closed(ANSWER_LIMIT);
    }

    std::string redirect_to(const std::string& location) {
        return "HTTP/1.1 302 Found\r\nLocation: " + location +
               "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }

    ReceiverProcess receiver_;
};

TEST_F(ReceiverConnections, PlainHttpIsRedirectedToTheAdvertisedAddress) {
    const std::string address = advertised_address();
    ASSERT_FALSE(address.empty()) << "no address in the ping reply";
    const std::string base = "https://" + address + ":" + std::to_string(receiver_.port);

    struct Row {
        std::string request;
        std::string target;
        const char* why;
    };
    const std::vector<Row> rows = {
        {"GET /about HTTP/1.1\r\nHost: x\r\n\r\n", "/about", "browser request"},
        {"GET /?pc=abc HTTP/1.1\r\n\r\n", "/?pc=abc", "query kept"},
        {"GET\r\n\r\n", "/", "request line with one token"},
        {"\r\n", "/", "empty request line"},
        {"GET /\xff\xfe HTTP/1.1\r\n\r\n", "/", "not UTF-8"},
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", "/", "line beyond 8 KiB"},
    };
    for (const Row& row : rows) {
        const Received received = plain_exchange(row.request);
        EXPECT_TRUE(received.closed) << row.why;
        EXPECT_EQ(received.bytes, redirect_to(base + row.target)) << row.why;
    }
}

TEST_F(ReceiverConnections, CurlFollowsNothingButSeesTheRedirect) {
    const std::string address = advertised_address();
    const ProgramResult curl =
        run_program({"curl", "-sS", "-i", "--max-time", "30",
                     "http://127.0.0.1:" + std::to_string(receiver_.port) + "/about"});
    ASSERT_EQ(curl.exit_code, 0) << curl.err;
    EXPECT_EQ(curl.out,
              redirect_to("https://" + address + ":" + std::to_string(receiver_.port) + "/about"));
}

TEST_F(ReceiverConnections, SilentClientIsClosedWithoutAnswerAfterTheTimeout) {
    auto connection = TcpConnection::open(receiver_.port);
    ASSERT_TRUE(connection);
    const auto start = SteadyClock::now();
    const Received received = connection->receive_until_closed(ANSWER_LIMIT);
    const auto waited = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start);
    EXPECT_TRUE(received.closed) << "still open after " << ANSWER_LIMIT.count() << " ms";
    EXPECT_EQ(received.bytes, "");
    // Closed by the 5 s receive time-out, not at once.
    EXPECT_GE(waited.count(), 4000);
}

bool keeps_connection(const std::string& response) {
    return response.ends_with("\r\nConnection: keep-alive\r\nKeep-Alive: timeout=30\r\n\r\n") ||
           response.find("\r\nConnection: keep-alive\r\nKeep-Alive: timeout=30\r\n\r\n{") !=
               std::string::npos;
}

// A body shorter than its Content-Length is answered with the 400 over TLS, whether the client
// then falls silent (answered after the 5 s receive time-out) or shuts down its sending side
// without close_notify; on a fresh connection and on one kept after a request.
TEST_F(ReceiverConnections, ShortBodyIsAnsweredOverTls) {
    const std::string body = R"({"ok":false,"error":"Incomplete request body"})";
    const std::string expected =
        "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(body.size()) +
        "\r\nCache-Control: no-store\r\nAccess-Control-Allow-Origin: *\r\n"
        "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
        "Access-Control-Allow-Headers: Content-Type\r\nConnection: close\r\n\r\n" +
        body;
    for (const bool kept : {false, true}) {
        for (const bool shut_down : {false, true}) {
            SCOPED_TRACE(shut_down ? "sending side shut down" : "silence");
            SCOPED_TRACE(kept ? "kept connection" : "new connection");
            auto connection = TlsConnection::open(receiver_.port);
            ASSERT_TRUE(connection);
            if (kept) {
                ASSERT_TRUE(connection->write(get_request("/api/ping", true)));
                ASSERT_TRUE(keeps_connection(connection->read_response(ANSWER_LIMIT)));
            }
            ASSERT_TRUE(connection->write(
                "POST /api/scan HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 10\r\n\r\n{\"te"));
            if (shut_down) connection->shutdown_sending();
            const Received received = connection->read_until_closed(ANSWER_LIMIT);
            EXPECT_TRUE(received.closed);
            EXPECT_EQ(received.bytes, expected);
        }
    }
    EXPECT_TRUE(answers_ping()) << "the server carries on";
}

TEST_F(ReceiverConnections, HandshakeRecordWithGarbageGetsNoHttpAnswer) {
    const Received received = plain_exchange("\x16garbage that is no handshake\r\n\r\n");
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes.find("HTTP/"), std::string::npos);
}

TEST_F(ReceiverConnections, PipelinedSecondRequestIsNotAnswered) {
    auto connection = TlsConnection::open(receiver_.port);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->write(get_request("/api/ping") + get_request("/about")));
    const Received received = connection->read_until_closed(ANSWER_LIMIT);
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << received.bytes;
    EXPECT_EQ(received.bytes.find("HTTP/1.1", 1), std::string::npos) << "answered twice";
    EXPECT_NE(received.bytes.find("\"client\":\"quillmark-receiver-gui\""), std::string::npos);
}

// Requests sent together are answered one after the other, each once and in order, the scan's
// answer to the scan; the one that asks for the close is the last answered.
TEST_F(ReceiverConnections, PipelinedRequestsOnAKeptConnectionAreAnsweredInOrder) {
    auto connection = TlsConnection::open(receiver_.port);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->write(scan_request(R"({"text":"PIPE-1"})", true) +
                                  get_request("/api/ping", true) +
                                  scan_request(R"({"text":"PIPE-2"})", true) +
                                  get_request("/missing") + get_request("/api/ping", true)));
    const std::string first = connection->read_response(ANSWER_LIMIT);
    EXPECT_TRUE(keeps_connection(first)) << first;
    EXPECT_TRUE(first.ends_with(
        R"({"ok":true,"scan":{"text":"PIPE-1","format":"BARCODE","confidence":100}})"))
        << first;
    const std::string ping = connection->read_response(ANSWER_LIMIT);
    EXPECT_NE(ping.find("\"client\":\"quillmark-receiver-gui\""), std::string::npos) << ping;
    const std::string second = connection->read_response(ANSWER_LIMIT);
    EXPECT_TRUE(second.ends_with(
        R"({"ok":true,"scan":{"text":"PIPE-2","format":"BARCODE","confidence":100}})"))
        << second;
    const Received last = connection->read_until_closed(ANSWER_LIMIT);
    EXPECT_TRUE(last.closed);
    EXPECT_EQ(last.bytes.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << last.bytes;
    EXPECT_TRUE(last.bytes.ends_with("\r\nConnection: close\r\n\r\nNot found")) << last.bytes;
    EXPECT_TRUE(
        receiver_.process->wait_for_line_containing("] PIPE-2 (100% - Received)", ANSWER_LIMIT));
}

// A connection carries MAX_REQUESTS_PER_CONNECTION requests, a scan and pings, each answered on
// it; the last answer says "close" and the connection ends.
TEST_F(ReceiverConnections, KeptConnectionCarriesAThousandRequests) {
    auto connection = TlsConnection::open(receiver_.port);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->write(scan_request(R"({"text":"KEPT-1"})", true)));
    const std::string scan = connection->read_response(ANSWER_LIMIT);
    EXPECT_TRUE(keeps_connection(scan)) << scan;
    EXPECT_TRUE(scan.ends_with(R"("text":"KEPT-1","format":"BARCODE","confidence":100}})")) << scan;
    for (int i = 2; i <= MAX_REQUESTS_PER_CONNECTION; ++i) {
        ASSERT_TRUE(connection->write(get_request("/api/ping", true))) << "request " << i;
        const std::string ping = connection->read_response(ANSWER_LIMIT);
        ASSERT_EQ(ping.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << "request " << i << ": " << ping;
        ASSERT_EQ(keeps_connection(ping), i < MAX_REQUESTS_PER_CONNECTION) << "request " << i;
    }
    const Received after = connection->read_until_closed(ANSWER_LIMIT);
    EXPECT_TRUE(after.closed);
    EXPECT_EQ(after.bytes, "");
}

// Idle kept connections hold their client's unread places: one more connection from that
// client takes the place of the oldest idle one, which is closed, and the rest stay usable.
TEST_F(ReceiverConnections, ClientAtItsCapLosesItsOldestIdleConnectionFirst) {
    TlsOptions from_second_client;
    from_second_client.from = "127.0.0.2";
    std::vector<std::unique_ptr<TlsConnection>> idle;
    for (int i = 0; i < MAX_UNREAD_CONNECTIONS_PER_CLIENT; ++i) {
        idle.push_back(TlsConnection::open(receiver_.port, from_second_client));
        ASSERT_TRUE(idle.back());
        ASSERT_TRUE(idle.back()->write(get_request("/api/ping", true)));
        ASSERT_TRUE(keeps_connection(idle.back()->read_response(ANSWER_LIMIT)))
            << "connection " << i;
    }
    EXPECT_EQ(https_exchange(receiver_.port, get_request("/api/ping"), "127.0.0.2")
                  .rfind("HTTP/1.1 200 OK\r\n", 0),
              0u)
        << "the new connection is served";
    const Received oldest = idle.front()->read_until_closed(ANSWER_LIMIT);
    EXPECT_TRUE(oldest.closed) << "the oldest idle connection is closed for it";
    EXPECT_EQ(oldest.bytes, "");
    for (size_t i = 1; i < idle.size(); ++i) {
        ASSERT_TRUE(idle[i]->write(get_request("/api/ping", true)));
        EXPECT_TRUE(keeps_connection(idle[i]->read_response(ANSWER_LIMIT))) << "connection " << i;
    }
}

TEST_F(ReceiverConnections, ClientOfferingOnlyOtherProtocolsIsRefused) {
    TlsOptions options;
    options.alpn = "h2";
    EXPECT_EQ(TlsConnection::open(receiver_.port, options), nullptr);
    options.alpn = "";  // a client that offers nothing is served
    auto plain_tls = TlsConnection::open(receiver_.port, options);
    ASSERT_TRUE(plain_tls);
    EXPECT_EQ(plain_tls->alpn(), "");
}

TEST_F(ReceiverConnections, SecondReceiverOnTheSamePortReportsItAndKeepsRunning) {
    std::unique_ptr<ChildProcess> second = spawn_receiver(receiver_.port);
    ASSERT_TRUE(second);
    const std::string expected = "Could not listen on port " + std::to_string(receiver_.port) +
                                 ": Address already in use (os error 98)";
    EXPECT_TRUE(second->wait_for_line_containing(expected, ANSWER_LIMIT));
    // It carries on (headless: it prints its pairing banner and waits) ...
    EXPECT_TRUE(second->wait_for_line_containing("Pairing URL: https://", ANSWER_LIMIT));
    EXPECT_TRUE(second->running());
    // ... and the first one still serves.
    EXPECT_EQ(https_exchange(receiver_.port, get_request("/api/ping")).rfind("HTTP/1.1 200 OK", 0),
              0u);
}

// A port held by another program's listener (no address reuse on its side) fails to bind.
TEST(ReceiverBusyPort, PortHeldByAnotherListenerFails) {
    for (const in_addr_t host : {htonl(INADDR_ANY), htonl(INADDR_LOOPBACK)}) {
        const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(holder, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = host;
        socklen_t length = sizeof address;
        ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(holder, 4), 0);
        ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
        const uint16_t port = ntohs(address.sin_port);

        std::unique_ptr<ChildProcess> receiver = spawn_receiver(port);
        ASSERT_TRUE(receiver);
        EXPECT_TRUE(receiver->wait_for_line_containing("Could not listen on port " +
                                                           std::to_string(port) +
                                                           ": Address already in use (os error 98)",
                                                       ANSWER_LIMIT))
            << "holder bound to " << (host == htonl(INADDR_ANY) ? "0.0.0.0" : "127.0.0.1");
        receiver->kill();
        close(holder);
    }
}

}  // namespace
