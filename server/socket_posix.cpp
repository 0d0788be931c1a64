// POSIX sockets behind server/socket.h.
#include "server/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

std::string os_error_text(int code) {
    return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}

Status last_error_status() {
    return Status::failure(os_error_text(errno));
}

int fd_of(const Socket& socket) {
    return static_cast<int>(socket.native());
}

Status set_timeout(const Socket& socket, int option, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    if (setsockopt(fd_of(socket), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
        return last_error_status();
    }
    return Status::success();
}

std::ptrdiff_t receive_with_flags(const Socket& socket, char* buffer, size_t size, int flags) {
    for (;;) {
        ssize_t n = recv(fd_of(socket), buffer, size, flags);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

}  // namespace

void close_native_socket(NativeSocket handle) {
    close(static_cast<int>(handle));
}

Status prepare_sockets() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
    return Status::success();
}

Result<Socket> open_listener(uint16_t port, int backlog) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return Result<Socket>::failure(os_error_text(errno));

    // Lets a restarted receiver take its port back while old connections sit in TIME_WAIT;
    // on Linux it never lets two listeners share a port.
    int on = 1;
    setsockopt(fd_of(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (bind(fd_of(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_of(socket), backlog) != 0) {
        return Result<Socket>::failure(os_error_text(errno));
    }
    return socket;
}

Status set_nonblocking(const Socket& socket, bool nonblocking) {
    int flags = fcntl(fd_of(socket), F_GETFL, 0);
    if (flags < 0) return last_error_status();
    flags = nonblocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(fd_of(socket), F_SETFL, flags) != 0) return last_error_status();
    return Status::success();
}

AcceptResult accept_connection(const Socket& listener) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd =
            accept4(fd_of(listener), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd >= 0) {
            return {AcceptOutcome::accepted, Socket(fd), Status::success(),
                    ntohl(peer.sin_addr.s_addr)};
        }
        int code = errno;
        if (code == EINTR) continue;
        // A connection that was reset while queued is not a failure of the listener.
        if (code == EAGAIN || code == EWOULDBLOCK || code == ECONNABORTED) {
            return {AcceptOutcome::would_block, Socket(), Status::success()};
        }
        return {AcceptOutcome::failed, Socket(), Status::failure(os_error_text(code))};
    }
}

bool wait_readable(const Socket& socket, int timeout_ms) {
    pollfd entry{};
    entry.fd = fd_of(socket);
    entry.events = POLLIN;
    return poll(&entry, 1, timeout_ms) > 0;
}

Status set_receive_timeout(const Socket& socket, int milliseconds) {
    return set_timeout(socket, SO_RCVTIMEO, milliseconds);
}

Status set_send_timeout(const Socket& socket, int milliseconds) {
    return set_timeout(socket, SO_SNDTIMEO, milliseconds);
}

std::ptrdiff_t receive_bytes(const Socket& socket, char* buffer, size_t size) {
    return receive_with_flags(socket, buffer, size, 0);
}

std::ptrdiff_t peek_bytes(const Socket& socket, char* buffer, size_t size) {
    return receive_with_flags(socket, buffer, size, MSG_PEEK);
}

std::ptrdiff_t send_bytes(const Socket& socket, const char* data, size_t size) {
    for (;;) {
        ssize_t n = send(fd_of(socket), data, size, MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

Status shutdown_sending(const Socket& socket) {
    if (shutdown(fd_of(socket), SHUT_WR) != 0) return last_error_status();
    return Status::success();
}

Result<Socket> duplicate_socket(const Socket& socket) {
    int fd = fcntl(fd_of(socket), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return Result<Socket>::failure(os_error_text(errno));
    return Socket(fd);
}
