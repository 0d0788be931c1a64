// The server's TLS identity: the lasting identity's server certificate that start-up put into
// the state, or else a fresh key and self-signed certificate per start; and the OpenSSL context
// that every connection of that start shares.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "net/adapter_entry.h"

struct ReceiverState;
struct ssl_ctx_st;

struct SslContextFree {
    void operator()(ssl_ctx_st* context) const;
};

// Read-only after build_tls_config; shared by the event loops and the connections they serve.
struct TlsServerConfig {
    std::unique_ptr<ssl_ctx_st, SslContextFree> context;
};

// The context for the state's stored certificate and key; without them, for a fresh EC P-256
// key and self-signed certificate. Errors: "Failed to create TLS params: ...", "Failed to generate
// TLS key pair: ...", "Failed to self-sign TLS cert: ...", "Failed to build TLS config: ...", each
// followed by OpenSSL's own text.
Result<std::shared_ptr<const TlsServerConfig>> build_tls_config(ReceiverState& state);

// The certificate's subject alternative names, in order and without duplicates: "localhost",
// "127.0.0.1", the computer name, then each adapter address. A computer name that is not
// 7-bit ASCII cannot be a DNS name and is left out, so the server still starts.
std::vector<std::string> tls_san_names(const std::string& host_name,
                                       const std::vector<AdapterEntry>& adapters);

// True for dotted-decimal IPv4 ("192.168.1.20") and IPv6 texts; these become IP entries.
bool reads_as_ip_address(std::string_view text);

// The address's bytes in network order (4 or 16), as OpenSSL reads the text; empty when it
// reads as no address.
std::string ip_address_bytes(std::string_view text);
