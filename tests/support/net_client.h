// Loopback clients for the tests, raw TCP and TLS (OpenSSL). They connect to 127.0.0.1 only,
// from 127.0.0.1 or from another loopback address (a distinct client for the server).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

using std::chrono::milliseconds;

// A TCP port that nothing on this machine listens on right now.
uint16_t free_port();

struct Received {
    std::string bytes;
    bool closed = false;  // the server closed (or reset) the connection; false after a time-out
};

class TcpConnection {
  public:
    // `from`: the loopback address to connect from, such as "127.0.0.2"; empty for the default.
    static std::optional<TcpConnection> open(uint16_t port, const std::string& from = "");
    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    ~TcpConnection();

    bool send_all(std::string_view bytes);
    // Everything the server sends until it closes, or until `timeout` passes.
    Received receive_until_closed(milliseconds timeout);
    int fd() const { return fd_; }

  private:
    explicit TcpConnection(int fd) : fd_(fd) {}
    int fd_;
};

struct TlsOptions {
    int min_version = 0;  // 0: library default; else TLS1_2_VERSION, TLS1_3_VERSION
    int max_version = 0;
    std::string alpn = "http/1.1";  // empty: offer none
    std::string from;               // the loopback address to connect from; empty: the default
};

class TlsConnection {
  public:
    // Connects and completes the handshake; nullptr when either fails.
    static std::unique_ptr<TlsConnection> open(uint16_t port, const TlsOptions& options = {});
    // Completes a client handshake over an already connected socket, which it then owns.
    static std::unique_ptr<TlsConnection> over(int fd, const TlsOptions& options = {});
    ~TlsConnection();

    bool write(std::string_view bytes);
    Received read_until_closed(milliseconds timeout);
    // One whole response (header block and Content-Length body), "" when the connection ends
    // or `timeout` passes first; what follows it is kept for the next read.
    std::string read_response(milliseconds timeout);
    // What the server sends until `enough` holds for all of it, it closes, or `timeout` passes.
    Received read_until(const std::function<bool(const std::string&)>& enough,
                        milliseconds timeout);
    // Sends close_notify; destroying the connection without it just closes the socket.
    void close_notify();
    // Shuts down the sending side of the socket without close_notify, as a client that stops
    // sending early does; the answer can still be read.
    void shutdown_sending();
    std::string alpn() const;
    std::string version() const;

    struct Handles;                                            // defined where OpenSSL is included
    explicit TlsConnection(std::unique_ptr<Handles> handles);  // use open()

  private:
    std::unique_ptr<Handles> handles_;
};

// One request over a fresh TLS connection (from the loopback address `from`, if given); the
// whole response, or "" when it failed.
std::string https_exchange(uint16_t port, std::string_view request, const std::string& from = "");

// Requests that ask the receiver to close the connection after its answer, as a one-shot
// exchange needs; with `keep` true they leave it open.
std::string get_request(std::string_view path, bool keep = false);
std::string scan_request(std::string_view json_body, bool keep = false);
