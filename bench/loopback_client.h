// Loopback helpers for the benchmarks: a free port, a plain TCP connection from a chosen
// loopback address, and one HTTPS exchange on a new connection.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/socket.h"
#include "server/openssl_handles.h"

using SslContext = OpenSslPtr<SSL_CTX, SSL_CTX_free>;

// A TCP port on 127.0.0.1 that was free a moment ago.
Result<uint16_t> find_free_port();

// A TCP connection to 127.0.0.1:{port} from `source_ipv4` (host byte order, any address of
// 127.0.0.0/8), in blocking mode.
Result<Socket> connect_from(uint32_t source_ipv4, uint16_t port);

// A client context that verifies nothing and keeps no sessions, so every connection made with
// it does a full handshake.
Result<SslContext> new_client_context();

struct HttpsExchange {
    std::string response;
    std::chrono::nanoseconds elapsed;  // from before connect to the last byte of the response
};

// Connects to 127.0.0.1:{port}, does the TLS handshake, sends `request` and reads the whole
// response (headers and Content-Length body). Afterwards, outside the timed span, it waits
// for the server to close, so no connection outlives the call.
Result<HttpsExchange> https_exchange(SSL_CTX* context, uint16_t port, std::string_view request);

// A TLS connection that carries one request after the other while the server keeps it, and
// opens a new one when the server has closed it (or at the first request).
class KeptHttpsConnection {
  public:
    KeptHttpsConnection(SSL_CTX* context, uint16_t port) : context_(context), port_(port) {}
    // Sends `request` and reads its whole response; the time from before the send (or the
    // connect, when one is needed) to its last byte.
    Result<HttpsExchange> exchange(std::string_view request);
    int connections_opened() const { return opened_; }

  private:
    SSL_CTX* context_;
    uint16_t port_;
    Socket socket_;
    OpenSslPtr<SSL, SSL_free> tls_;
    int opened_ = 0;
};
