#include "tests/support/net_client.h"

#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

sockaddr_in loopback_address(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int connect_loopback(uint16_t port, const std::string& from = "") {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!from.empty()) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        if (inet_pton(AF_INET, from.c_str(), &source.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) {
            close(fd);
            return -1;
        }
    }
    const sockaddr_in address = loopback_address(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void set_receive_timeout(int fd, milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// Time left until `deadline`, at least 1 ms so a zero never means "wait forever".
milliseconds left_until(SteadyClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? left : milliseconds(1);
}

}  // namespace

uint16_t free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

std::optional<TcpConnection> TcpConnection::open(uint16_t port, const std::string& from) {
    const int fd = connect_loopback(port, from);
    if (fd < 0) return std::nullopt;
    return TcpConnection(fd);
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

TcpConnection::~TcpConnection() {
    if (fd_ >= 0) close(fd_);
}

bool TcpConnection::send_all(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Received TcpConnection::receive_until_closed(milliseconds timeout) {
    Received received;
    const auto deadline = SteadyClock::now() + timeout;
    while (SteadyClock::now() < deadline) {
        set_receive_timeout(fd_, left_until(deadline));
        char buffer[16384];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            received.bytes.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            received.closed = true;
            break;
        }
    }
    return received;
}

struct TlsConnection::Handles {
    int fd = -1;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    std::string unread;  // received beyond the last response read
    ~Handles() {
        SSL_free(ssl);
        SSL_CTX_free(context);
        if (fd >= 0) close(fd);
    }
};

std::unique_ptr<TlsConnection> TlsConnection::open(uint16_t port, const TlsOptions& options) {
    const int fd = connect_loopback(port, options.from);
    return fd < 0 ? nullptr : over(fd, options);
}

std::unique_ptr<TlsConnection> TlsConnection::over(int fd, const TlsOptions& options) {
    // OpenSSL writes with write(): a server that closed the connection must fail the test's
    // write, not end the test process.
    (void)prepare_sockets();
    auto handles = std::make_unique<Handles>();
    handles->fd = fd;
    set_receive_timeout(handles->fd, milliseconds(30000));
    handles->context = SSL_CTX_new(TLS_client_method());
    if (!handles->context) return nullptr;
    SSL_CTX_set_verify(handles->context, SSL_VERIFY_NONE, nullptr);  // self-signed on purpose
    if (options.min_version) SSL_CTX_set_min_proto_version(handles->context, options.min_version);
    if (options.max_version) SSL_CTX_set_max_proto_version(handles->context, options.max_version);
    if (!options.alpn.empty()) {
        std::string wire(1, static_cast<char>(options.alpn.size()));
        wire += options.alpn;
        SSL_CTX_set_alpn_protos(handles->context,
                                reinterpret_cast<const unsigned char*>(wire.data()),
                                static_cast<unsigned>(wire.size()));
    }
    handles->ssl = SSL_new(handles->context);
    if (!handles->ssl || !SSL_set_fd(handles->ssl, handles->fd) || SSL_connect(handles->ssl) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    return std::make_unique<TlsConnection>(std::move(handles));
}

TlsConnection::TlsConnection(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

TlsConnection::~TlsConnection() = default;

bool TlsConnection::write(std::string_view bytes) {
    size_t written = 0;
    return bytes.empty() || SSL_write_ex(handles_->ssl, bytes.data(), bytes.size(), &written) == 1;
}

namespace {

// One read into `bytes`: false once the connection has ended (`closed` set) or the deadline has
// passed.
bool read_once(SSL* ssl, int fd, std::string& bytes, SteadyClock::time_point deadline,
               bool& closed) {
    if (SteadyClock::now() >= deadline) return false;
    set_receive_timeout(fd, left_until(deadline));
    char buffer[16384];
    size_t n = 0;
    if (SSL_read_ex(ssl, buffer, sizeof buffer, &n) == 1) {
        bytes.append(buffer, n);
        return true;
    }
    const int error = SSL_get_error(ssl, 0);
    ERR_clear_error();
    // A receive time-out shows as "want read" (the socket BIO retries on EAGAIN).
    const bool timed_out =
        error == SSL_ERROR_WANT_READ ||
        (error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK));
    closed = !timed_out;
    return false;
}

// The length of the first whole response in `bytes`, or 0 while it is incomplete.
size_t response_length(const std::string& bytes) {
    const size_t head_end = bytes.find("\r\n\r\n");
    if (head_end == std::string::npos) return 0;
    const std::string_view name = "\r\nContent-Length: ";
    const size_t at = bytes.find(name);
    const size_t body = at < head_end ? std::stoul(bytes.substr(at + name.size())) : 0;
    const size_t length = head_end + 4 + body;
    return bytes.size() >= length ? length : 0;
}

}  // namespace

Received TlsConnection::read_until_closed(milliseconds timeout) {
    return read_until([](const std::string&) { return false; }, timeout);
}

Received TlsConnection::read_until(const std::function<bool(const std::string&)>& enough,
                                   milliseconds timeout) {
    Received received;
    received.bytes = std::exchange(handles_->unread, {});
    const auto deadline = SteadyClock::now() + timeout;
    while (!enough(received.bytes) &&
           read_once(handles_->ssl, handles_->fd, received.bytes, deadline, received.closed)) {
    }
    return received;
}

std::string TlsConnection::read_response(milliseconds timeout) {
    std::string& unread = handles_->unread;
    const auto deadline = SteadyClock::now() + timeout;
    bool closed = false;
    while (response_length(unread) == 0 &&
           read_once(handles_->ssl, handles_->fd, unread, deadline, closed)) {
    }
    const size_t length = response_length(unread);
    std::string response = unread.substr(0, length);
    unread.erase(0, length);
    return response;
}

void TlsConnection::close_notify() {
    SSL_shutdown(handles_->ssl);
    ERR_clear_error();
}

void TlsConnection::shutdown_sending() {
    shutdown(handles_->fd, SHUT_WR);
}

std::string TlsConnection::alpn() const {
    const unsigned char* data = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(handles_->ssl, &data, &length);
    return std::string(reinterpret_cast<const char*>(data), data ? length : 0);
}

std::string TlsConnection::version() const {
    return SSL_get_version(handles_->ssl);
}

std::string https_exchange(uint16_t port, std::string_view request, const std::string& from) {
    TlsOptions options;
    options.from = from;
    std::unique_ptr<TlsConnection> connection = TlsConnection::open(port, options);
    if (!connection || !connection->write(request)) return "";
    return connection->read_until_closed(milliseconds(30000)).bytes;
}

namespace {

std::string connection_header(bool keep) {
    return keep ? "" : "Connection: close\r\n";
}

}  // namespace

std::string get_request(std::string_view path, bool keep) {
    return "GET " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           connection_header(keep) + "\r\n";
}

std::string scan_request(std::string_view json_body, bool keep) {
    return "POST /api/scan HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           connection_header(keep) + "Content-Length: " + std::to_string(json_body.size()) +
           "\r\n\r\n" + std::string(json_body);
}
