#include "bench/loopback_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

sockaddr_in loopback_address(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::string os_error(const char* context) {
    return std::string(context) + ": " + std::strerror(errno) + " (os error " +
           std::to_string(errno) + ")";
}

// The full length of a response once its header section is in `data`, or 0 when unknown yet.
size_t expected_response_length(const std::string& data) {
    const size_t header_end = data.find("\r\n\r\n");
    if (header_end == std::string::npos) return 0;
    size_t body_length = 0;
    const std::string_view headers(data.data(), header_end);
    for (std::string_view name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
        const size_t at = headers.find(name);
        if (at != std::string_view::npos) {
            body_length = std::strtoul(data.c_str() + at + name.size(), nullptr, 10);
            break;
        }
    }
    return header_end + 4 + body_length;
}

}  // namespace

Result<uint16_t> find_free_port() {
    Socket probe(::socket(AF_INET, SOCK_STREAM, 0));
    if (!probe.valid()) return Result<uint16_t>::failure(os_error("socket"));
    sockaddr_in address = loopback_address(0);
    socklen_t length = sizeof address;
    if (::bind(int(probe.native()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(int(probe.native()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Result<uint16_t>::failure(os_error("Could not find a free port"));
    }
    return uint16_t(ntohs(address.sin_port));
}

Result<Socket> connect_from(uint32_t source_ipv4, uint16_t port) {
    Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
    if (!socket.valid()) return Result<Socket>::failure(os_error("socket"));
    const int fd = int(socket.native());
    sockaddr_in source = loopback_address(0);
    source.sin_addr.s_addr = htonl(source_ipv4);
    const sockaddr_in address = loopback_address(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) {
        return Result<Socket>::failure(os_error("bind"));
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return Result<Socket>::failure(os_error("connect"));
    }
    return socket;
}

Result<SslContext> new_client_context() {
    SslContext context(SSL_CTX_new(TLS_client_method()));
    if (!context) return Result<SslContext>::failure("SSL_CTX_new: " + take_openssl_error_text());
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    return context;
}

namespace {

Status connect_tls(SSL_CTX* context, uint16_t port, Socket& socket,
                   OpenSslPtr<SSL, SSL_free>& tls) {
    socket = Socket(::socket(AF_INET, SOCK_STREAM, 0));
    if (!socket.valid()) return Status::failure(os_error("socket"));
    const int fd = int(socket.native());
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const sockaddr_in address = loopback_address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return Status::failure(os_error("connect"));
    }
    tls.reset(SSL_new(context));
    if (!tls || SSL_set_fd(tls.get(), fd) != 1) {
        return Status::failure("SSL_new: " + take_openssl_error_text());
    }
    if (SSL_connect(tls.get()) != 1) {
        return Status::failure("TLS handshake failed: " + take_openssl_error_text());
    }
    return Status::success();
}

// Sends `request` and reads one whole response.
Result<std::string> send_and_read(SSL* tls, std::string_view request) {
    using Reply = Result<std::string>;
    if (SSL_write(tls, request.data(), int(request.size())) != int(request.size())) {
        return Reply::failure("TLS write failed: " + take_openssl_error_text());
    }
    std::string response;
    char buffer[16384];
    for (;;) {
        const size_t expected = expected_response_length(response);
        if (expected != 0 && response.size() >= expected) return response;
        const int n = SSL_read(tls, buffer, sizeof buffer);
        if (n <= 0) {
            ERR_clear_error();
            return Reply::failure("connection ended after " + std::to_string(response.size()) +
                                  " bytes of the response");
        }
        response.append(buffer, size_t(n));
    }
}

}  // namespace

Result<HttpsExchange> https_exchange(SSL_CTX* context, uint16_t port, std::string_view request) {
    using Reply = Result<HttpsExchange>;
    const auto start = std::chrono::steady_clock::now();
    Socket socket;
    OpenSslPtr<SSL, SSL_free> tls;
    if (Status connected = connect_tls(context, port, socket, tls); !connected.ok()) {
        return Reply::failure(connected.error());
    }
    Result<std::string> response = send_and_read(tls.get(), request);
    if (!response.ok()) return Reply::failure(response.error());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    char buffer[16384];
    while (SSL_read(tls.get(), buffer, sizeof buffer) > 0) {
    }
    ERR_clear_error();
    SSL_shutdown(tls.get());
    return HttpsExchange{std::move(response.value()), elapsed};
}

Result<HttpsExchange> KeptHttpsConnection::exchange(std::string_view request) {
    using Reply = Result<HttpsExchange>;
    const auto start = std::chrono::steady_clock::now();
    if (!tls_) {
        if (Status connected = connect_tls(context_, port_, socket_, tls_); !connected.ok()) {
            return Reply::failure(connected.error());
        }
        ++opened_;
    }
    Result<std::string> response = send_and_read(tls_.get(), request);
    if (!response.ok()) return Reply::failure(response.error());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // A server that does not keep the connection has it closed for the next request.
    if (response.value().find("\r\nConnection: close\r\n") != std::string::npos) {
        tls_.reset();
        socket_.reset();
    }
    return HttpsExchange{std::move(response.value()), elapsed};
}
