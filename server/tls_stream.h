// One connection's TLS stream: OpenSSL's server connection over the accepted socket.
#pragma once

#include <memory>

#include "app/result.h"
#include "server/byte_stream.h"
#include "server/timed_socket.h"

struct ssl_st;
struct TlsServerConfig;

struct SslFree {
    void operator()(ssl_st* ssl) const;
};

class TlsStream final : public ByteStream {
  public:
    // The handshake is not driven here: the first read completes it. `socket` is borrowed
    // and must outlive the stream.
    static Result<std::unique_ptr<TlsStream>> open(const TlsServerConfig& config,
                                                   TimedSocket& socket);

    explicit TlsStream(TimedSocket& socket) : socket_(socket) {}  // use open()
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Application data: the count, 0 at the end of the stream (close_notify, or a peer that
    // closed or shut down its sending side without it), -1 on a failure. A time-out or the
    // deadline also gives -1 but leaves the connection usable, so an answer can still go out.
    // The request's own framing tells a cut-off request from a whole one.
    std::ptrdiff_t read(char* buffer, size_t size) override;
    Status write_all(std::string_view bytes) override;
    // Records go straight to the socket, so there is never anything left to flush.
    Status flush() override { return Status::success(); }

    // Sends the close_notify alert, unless the connection already failed.
    void close_notify();

    // True once application data has gone out, i.e. the client has been answered.
    bool answered() const { return answered_; }

  private:
    TimedSocket& socket_;  // OpenSSL's BIO points at it until ssl_ is freed
    std::unique_ptr<ssl_st, SslFree> ssl_;
    bool failed_ = false;
    bool answered_ = false;
};
