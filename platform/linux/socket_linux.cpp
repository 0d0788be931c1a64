// Linux sockets behind platform/socket.h.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/os_error.h"

namespace {

Status last_error_status() {
    return Status::failure(os_error_text(errno));
}

int fd_of(const Socket& socket) {
    return static_cast<int>(socket.native());
}

std::ptrdiff_t failed_io() {
    return errno == EAGAIN || errno == EWOULDBLOCK ? SOCKET_WOULD_BLOCK : -1;
}

std::ptrdiff_t receive_with_flags(const Socket& socket, char* buffer, size_t size, int flags) {
    for (;;) {
        ssize_t n = recv(fd_of(socket), buffer, size, flags);
        if (n >= 0) return n;
        if (errno != EINTR) return failed_io();
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
        int fd = accept4(fd_of(listener), reinterpret_cast<sockaddr*>(&peer), &length,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
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
        if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) {
            return {AcceptOutcome::out_of_resources, Socket(),
                    Status::failure(os_error_text(code))};
        }
        return {AcceptOutcome::failed, Socket(), Status::failure(os_error_text(code))};
    }
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
        if (errno != EINTR) return failed_io();
    }
}

Status shutdown_sending(const Socket& socket) {
    if (shutdown(fd_of(socket), SHUT_WR) != 0) return last_error_status();
    return Status::success();
}
