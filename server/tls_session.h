// One connection's TLS session: OpenSSL's server connection over a non-blocking socket. No
// call waits: each does what the socket allows now and says what it needs next. Records
// OpenSSL writes are gathered and sent together (the session ticket, the answer and the
// close_notify in one send), before the session waits for the client and by flush().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/socket.h"

struct ssl_st;
struct TlsServerConfig;

struct SslFree {
    void operator()(ssl_st* ssl) const;
};

enum class TlsProgress {
    done,        // read: bytes were read; write: everything is written
    want_read,   // call again once the socket is readable
    want_write,  // call again once the socket is writable
    ended,       // read: the end of the stream (close_notify, or a peer that stopped sending)
    failed,      // the connection is broken; nothing more can be sent
};

class TlsSession {
  public:
    // The handshake is not driven here: the first read completes it. `socket` is borrowed
    // and must outlive the session.
    static Result<std::unique_ptr<TlsSession>> open(const TlsServerConfig& config,
                                                    const Socket& socket);

    explicit TlsSession(const Socket& socket) : socket_(socket) {}  // use open()
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Application data: `count` is set when done. Records still to be sent go out before
    // want_read is given; want_write means they wait for room in the socket first.
    TlsProgress read(char* buffer, size_t size, size_t& count);
    // Encrypts `bytes` for sending; after want_write, call again with the same bytes.
    TlsProgress write(std::string_view bytes);
    // Queues the close_notify alert, unless the connection failed.
    void close_notify();
    // Sends what is gathered: done once all of it is out.
    TlsProgress flush();
    // Bytes already taken from the socket and not yet read: no readiness will tell of them.
    bool has_buffered() const;

    // Bytes that came from and went to the socket so far, handshake included: a connection
    // that moves bytes is making progress.
    uint64_t socket_bytes() const { return socket_bytes_; }

  private:
    TlsProgress progress_after_failure(int ssl_result);

    const Socket& socket_;  // OpenSSL's BIO points at this object until ssl_ is freed
    std::unique_ptr<ssl_st, SslFree> ssl_;
    std::string output_;      // encrypted bytes not yet sent
    size_t output_sent_ = 0;  // of output_
    uint64_t socket_bytes_ = 0;
    bool failed_ = false;

    friend struct TlsSessionBio;
};
