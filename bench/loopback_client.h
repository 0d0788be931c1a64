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
