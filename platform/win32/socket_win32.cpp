// Winsock 2 behind platform/socket.h.
#include <winsock2.h>
#include <windows.h>

#include <climits>
#include <utility>

#include "platform/os_error.h"
#include "platform/socket.h"

namespace {

// Non-inheritable, so a program the receiver starts never holds its port.
constexpr DWORD SOCKET_FLAGS = WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT;

SOCKET handle_of(const Socket& socket) {
    return static_cast<SOCKET>(socket.native());
}

std::string last_error_text() {
    return os_error_text(WSAGetLastError());
}

Status last_error_status() {
    return Status::failure(last_error_text());
}

int clamped_length(size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

std::ptrdiff_t receive_with_flags(const Socket& socket, char* buffer, size_t size, int flags) {
    for (;;) {
        int n = recv(handle_of(socket), buffer, clamped_length(size), flags);
        if (n != SOCKET_ERROR) return n;
        int code = WSAGetLastError();
        if (code == WSAEINTR) continue;
        if (code == WSAESHUTDOWN) return 0;  // the receiving side was shut down: end of stream
        return code == WSAEWOULDBLOCK ? SOCKET_WOULD_BLOCK : -1;
    }
}

}  // namespace

void close_native_socket(NativeSocket handle) {
    closesocket(static_cast<SOCKET>(handle));
}

Status prepare_sockets() {
    // Once per process; the receiver never calls WSACleanup, its sockets live until exit.
    static const int startup_error = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (startup_error != 0) return Status::failure(os_error_text(startup_error));
    return Status::success();
}

Result<Socket> open_listener(uint16_t port, int backlog) {
    if (Status ready = prepare_sockets(); !ready.ok()) {
        return Result<Socket>::failure(ready.error());
    }
    Socket socket(static_cast<NativeSocket>(
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, SOCKET_FLAGS)));
    if (!socket.valid()) return Result<Socket>::failure(last_error_text());

    // No socket options at all: without address reuse a port in use fails with
    // WSAEADDRINUSE. SO_EXCLUSIVEADDRUSE is left out on purpose: Winsock then answers a second
    // receiver on the same port with WSAEACCES, "access denied", which misleads the user.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (bind(handle_of(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(handle_of(socket), backlog) != 0) {
        return Result<Socket>::failure(last_error_text());
    }
    return socket;
}

Status set_nonblocking(const Socket& socket, bool nonblocking) {
    u_long mode = nonblocking ? 1 : 0;
    if (ioctlsocket(handle_of(socket), FIONBIO, &mode) != 0) return last_error_status();
    return Status::success();
}

AcceptResult accept_connection(const Socket& listener) {
    for (;;) {
        sockaddr_in peer{};
        int length = sizeof peer;
        SOCKET accepted = accept(handle_of(listener), reinterpret_cast<sockaddr*>(&peer), &length);
        if (accepted != INVALID_SOCKET) {
            // Accepted sockets copy the listener's attributes; make sure of the one that
            // matters for programs the receiver starts.
            SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
            Socket socket(static_cast<NativeSocket>(accepted));
            (void)set_nonblocking(socket, true);
            return {AcceptOutcome::accepted, std::move(socket), Status::success(),
                    ntohl(peer.sin_addr.s_addr)};
        }
        int code = WSAGetLastError();
        if (code == WSAEINTR) continue;
        // A connection that was reset while queued is not a failure of the listener.
        if (code == WSAEWOULDBLOCK || code == WSAECONNRESET) {
            return {AcceptOutcome::would_block, Socket(), Status::success()};
        }
        if (code == WSAEMFILE || code == WSAENOBUFS) {
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
        int n = send(handle_of(socket), data, clamped_length(size), 0);
        if (n != SOCKET_ERROR) return n;
        const int code = WSAGetLastError();
        if (code != WSAEINTR) return code == WSAEWOULDBLOCK ? SOCKET_WOULD_BLOCK : -1;
    }
}

Status shutdown_sending(const Socket& socket) {
    if (shutdown(handle_of(socket), SD_SEND) != 0) return last_error_status();
    return Status::success();
}
