// TCP sockets for the server: the portable code calls these, platform/linux/socket_linux.cpp and
// socket_win32.cpp make the system calls. No platform header is needed here.
//
// Every error text is "{system message} (os error {code})".
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/result.h"

// A native socket: a file descriptor on Linux, a SOCKET on Windows (INVALID_SOCKET is ~0, i.e. -1).
using NativeSocket = std::intptr_t;
inline constexpr NativeSocket INVALID_NATIVE_SOCKET = -1;

// Closes a native socket; ignores errors. Implemented per platform.
void close_native_socket(NativeSocket handle);

// Owns one native socket and closes it on destruction.
class Socket {
  public:
    Socket() = default;
    explicit Socket(NativeSocket handle) : handle_(handle) {}
    ~Socket() { reset(); }
    Socket(Socket&& other) noexcept : handle_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool valid() const { return handle_ != INVALID_NATIVE_SOCKET; }
    NativeSocket native() const { return handle_; }
    NativeSocket release() {
        NativeSocket handle = handle_;
        handle_ = INVALID_NATIVE_SOCKET;
        return handle;
    }
    void reset(NativeSocket handle = INVALID_NATIVE_SOCKET) {
        if (valid()) close_native_socket(handle_);
        handle_ = handle;
    }

  private:
    NativeSocket handle_ = INVALID_NATIVE_SOCKET;
};

// Process-wide preparation, safe to call often and from any thread: WSAStartup on Windows;
// on Linux SIGPIPE is ignored, so a peer that vanishes never ends the process.
Status prepare_sockets();

// A non-inheritable IPv4 TCP socket bound to 0.0.0.0:{port} and listening with `backlog`.
// Linux sets SO_REUSEADDR (only lingering TIME_WAIT pairs, never a live listener, may share
// the port there); Windows sets no reuse option, so a port in use always fails.
Result<Socket> open_listener(uint16_t port, int backlog);

Status set_nonblocking(const Socket& socket, bool nonblocking);

// out_of_resources: no descriptor or buffer for one more connection now (it stays queued);
// failed: the listener itself is broken.
enum class AcceptOutcome { accepted, would_block, out_of_resources, failed };

struct AcceptResult {
    AcceptOutcome outcome;
    Socket socket;           // set when accepted; non-blocking
    Status status;           // the error when failed
    uint32_t peer_ipv4 = 0;  // the client's IPv4 address in host byte order, when accepted
};

// accept() on a (non-blocking) listener; an interrupted call is retried.
AcceptResult accept_connection(const Socket& listener);

// What receive_bytes, peek_bytes and send_bytes give when a non-blocking socket is not ready.
inline constexpr std::ptrdiff_t SOCKET_WOULD_BLOCK = -2;

// Receives up to `size` bytes: the count, 0 at the end of the stream, SOCKET_WOULD_BLOCK
// when nothing is there yet, -1 on an error. An interrupted call is retried; WSAESHUTDOWN
// counts as the end.
std::ptrdiff_t receive_bytes(const Socket& socket, char* buffer, size_t size);

// Like receive_bytes, but leaves the bytes queued (MSG_PEEK).
std::ptrdiff_t peek_bytes(const Socket& socket, char* buffer, size_t size);

// Sends up to `size` bytes once: the count sent, SOCKET_WOULD_BLOCK when the send buffer is
// full, or -1 on an error. Never raises SIGPIPE; an interrupted call is retried.
std::ptrdiff_t send_bytes(const Socket& socket, const char* data, size_t size);

// Shuts down the sending direction (a FIN after the queued data).
Status shutdown_sending(const Socket& socket);
