#include "server/tls_identity.h"

#include <algorithm>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "net/endpoint.h"
#include "receiver/receiver_state.h"
#include "server/certificate_parts.h"
#include "server/local_ca.h"
#include "server/openssl_handles.h"

void SslContextFree::operator()(ssl_ctx_st* context) const {
    SSL_CTX_free(context);
}

namespace {

using GeneralNamePtr = OpenSslPtr<GENERAL_NAME, GENERAL_NAME_free>;
using Asn1OctetStringPtr = OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1Ia5StringPtr = OpenSslPtr<ASN1_IA5STRING, ASN1_IA5STRING_free>;
using X509ExtensionPtr = OpenSslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using BignumPtr = OpenSslPtr<BIGNUM, BN_free>;
using SslContextPtr = std::unique_ptr<SSL_CTX, SslContextFree>;

// Valid from a day ago (phones with a slightly slow clock still accept it) for a year from
// now. Fixed dates would make every certificate expire together on one day.
constexpr long VALID_BEFORE_NOW_SECONDS = 24L * 60 * 60;
constexpr long VALID_AFTER_NOW_SECONDS = 365L * 24 * 60 * 60;

// Forward-secret AEAD suites only (TLS 1.3 has OpenSSL's three), in the server's order:
// AES-128-GCM first, whose SHA-256 key schedule costs both ends less per handshake than
// SHA-384, then AES-256-GCM and ChaCha20. A client that puts ChaCha20 first (a phone without
// AES instructions) still gets it.
constexpr const char* TLS12_CIPHER_SUITES =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-CHACHA20-POLY1305";
constexpr const char* TLS13_CIPHER_SUITES =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
constexpr const char* KEY_EXCHANGE_GROUPS = "X25519:P-256:P-384";

constexpr std::string_view ALPN_HTTP_1_1 = "http/1.1";

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool reads_as_ipv4(std::string_view text) {
    int parts = 0;
    size_t pos = 0;
    while (parts < 4) {
        size_t end = pos;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        const std::string_view digits = text.substr(pos, end - pos);
        if (digits.empty() || digits.size() > 3) return false;
        if (digits.size() > 1 && digits[0] == '0') return false;  // "01" is not an octet
        int value = 0;
        for (char c : digits) value = value * 10 + (c - '0');
        if (value > 255) return false;
        ++parts;
        if (parts < 4) {
            if (end >= text.size() || text[end] != '.') return false;
            pos = end + 1;
        } else {
            pos = end;
        }
    }
    return pos == text.size();
}

bool reads_as_ipv6(std::string_view text) {
    if (text.find(':') == std::string_view::npos) return false;
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
               c == ':' || c == '.';
    });
    if (!plain) return false;
    return !ip_address_bytes(text).empty();
}

// 127 random bits: positive, and unique enough that browsers never see a repeat.
bool set_random_serial(X509* cert) {
    BignumPtr serial(BN_new());
    return serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert));
}

GeneralNamePtr new_general_name(int type, ASN1_STRING* value) {
    GeneralNamePtr name(GENERAL_NAME_new());
    if (!name) return nullptr;
    GENERAL_NAME_set0_value(name.get(), type, value);
    return name;
}

}  // namespace

// Subject alternative names in list order: IP entries for addresses, DNS names otherwise.
Result<GeneralNamesPtr> new_san_extension_value(const std::vector<std::string>& names) {
    using Out = Result<GeneralNamesPtr>;
    GeneralNamesPtr list(sk_GENERAL_NAME_new_null());
    if (!list) return Out::failure(take_openssl_error_text());
    for (const std::string& text : names) {
        GeneralNamePtr entry;
        if (reads_as_ip_address(text)) {
            Asn1OctetStringPtr address(a2i_IPADDRESS(text.c_str()));
            if (!address) return Out::failure("Invalid IP address: '" + text + "'");
            entry = new_general_name(GEN_IPADD, address.get());
            if (entry) address.release();
        } else {
            if (!is_ascii(text)) return Out::failure("Invalid IA5String: '" + text + "'");
            Asn1Ia5StringPtr dns(ASN1_IA5STRING_new());
            if (!dns || !ASN1_STRING_set(dns.get(), text.data(), static_cast<int>(text.size()))) {
                return Out::failure(take_openssl_error_text());
            }
            entry = new_general_name(GEN_DNS, dns.get());
            if (entry) dns.release();
        }
        if (!entry || !sk_GENERAL_NAME_push(list.get(), entry.get())) {
            return Out::failure(take_openssl_error_text());
        }
        entry.release();
    }
    return list;
}

Result<EvpPkeyPtr> new_p256_key() {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    if (!key) return Result<EvpPkeyPtr>::failure(take_openssl_error_text());
    return key;
}

X509Ptr new_certificate(const std::string& common_name, X509* issuer, EVP_PKEY* key,
                        long valid_seconds) {
    X509Ptr cert(X509_new());
    X509_NAME* subject = cert ? X509_get_subject_name(cert.get()) : nullptr;
    const bool ready =
        cert && X509_set_version(cert.get(), X509_VERSION_3) && set_random_serial(cert.get()) &&
        X509_NAME_add_entry_by_NID(subject, NID_commonName, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                                   -1, 0) &&
        X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject) &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -VALID_BEFORE_NOW_SECONDS) &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), valid_seconds - VALID_BEFORE_NOW_SECONDS) &&
        X509_set_pubkey(cert.get(), key);
    return ready ? std::move(cert) : nullptr;
}

bool extend_and_sign(X509* cert, X509* issuer, std::initializer_list<ConfigExtension> extensions,
                     GENERAL_NAMES* san_names, EVP_PKEY* signing_key) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
    for (const ConfigExtension& wanted : extensions) {
        X509ExtensionPtr extension(
            X509V3_EXT_conf_nid(nullptr, &context, wanted.nid, wanted.value));
        if (!extension || !X509_add_ext(cert, extension.get(), -1)) return false;
    }
    if (san_names &&
        X509_add1_ext_i2d(cert, NID_subject_alt_name, san_names, 0, X509V3_ADD_DEFAULT) != 1) {
        return false;
    }
    return X509_sign(cert, signing_key, EVP_sha256()) > 0;
}

namespace {

Result<X509Ptr> new_self_signed_certificate(EVP_PKEY* key, GENERAL_NAMES* san_names) {
    X509Ptr cert = new_certificate(CERTIFICATE_COMMON_NAME, nullptr, key,
                                   VALID_BEFORE_NOW_SECONDS + VALID_AFTER_NOW_SECONDS);
    const bool made =
        cert && extend_and_sign(cert.get(), nullptr,
                                {{NID_basic_constraints, "critical,CA:FALSE"},
                                 {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                                 {NID_ext_key_usage, "serverAuth"},
                                 {NID_subject_key_identifier, "hash"}},
                                san_names, key);
    if (!made) return Result<X509Ptr>::failure(take_openssl_error_text());
    return cert;
}

// Chooses "http/1.1" when the client offers it. A client that offers only other protocols
// is refused, as it could not speak to this server anyway; one that offers none is served.
int select_alpn(SSL*, const unsigned char** out, unsigned char* out_length,
                const unsigned char* offered, unsigned int offered_length, void*) {
    unsigned int pos = 0;
    while (pos < offered_length) {
        const unsigned int length = offered[pos];
        if (pos + 1 + length > offered_length) break;
        const std::string_view protocol(reinterpret_cast<const char*>(offered + pos + 1), length);
        if (protocol == ALPN_HTTP_1_1) {
            *out = offered + pos + 1;
            *out_length = static_cast<unsigned char>(length);
            return SSL_TLSEXT_ERR_OK;
        }
        pos += 1 + length;
    }
    return SSL_TLSEXT_ERR_ALERT_FATAL;
}

// The server context every connection of one start shares, serving `cert` with `key`.
Result<SslContextPtr> new_server_context(X509* cert, EVP_PKEY* key) {
    SslContextPtr context(SSL_CTX_new(TLS_server_method()));
    const bool ready = context && SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) &&
                       SSL_CTX_set_max_proto_version(context.get(), TLS1_3_VERSION) &&
                       SSL_CTX_set_cipher_list(context.get(), TLS12_CIPHER_SUITES) &&
                       SSL_CTX_set_ciphersuites(context.get(), TLS13_CIPHER_SUITES) &&
                       SSL_CTX_set1_groups_list(context.get(), KEY_EXCHANGE_GROUPS) &&
                       SSL_CTX_use_certificate(context.get(), cert) &&
                       SSL_CTX_use_PrivateKey(context.get(), key) &&
                       SSL_CTX_check_private_key(context.get());
    if (!ready) return Result<SslContextPtr>::failure(take_openssl_error_text());
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    // Renegotiation only lets a client make the server do handshakes for free. A client that
    // shuts down its sending side without close_notify has ended its stream, not broken the
    // connection: the answer (a 400 for a short body, say) must still reach it. HTTP's own
    // framing (Content-Length) tells a cut-off request from a whole one.
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF |
                                           SSL_OP_CIPHER_SERVER_PREFERENCE |
                                           SSL_OP_PRIORITIZE_CHACHA);
    SSL_CTX_set_alpn_select_cb(context.get(), select_alpn, nullptr);
    return context;
}

// The stored server certificate and key that start-up put into the state.
Result<CertifiedKey> lasting_certified_key(const ReceiverState& state) {
    auto cert = certificate_from_pem(state.tls_certificate_pem);
    auto key = key_from_pem(state.tls_key_pem);
    if (!cert.ok() || !key.ok()) {
        return Result<CertifiedKey>::failure("Failed to build TLS config: " +
                                             (cert.ok() ? key.error() : cert.error()));
    }
    return CertifiedKey{std::move(cert.value()), std::move(key.value())};
}

// A fresh key and a self-signed certificate for this start alone.
Result<CertifiedKey> self_signed_certified_key(ReceiverState& state) {
    using Out = Result<CertifiedKey>;
    auto san_names =
        new_san_extension_value(tls_san_names(host_display_name(), current_adapters(state)));
    if (!san_names.ok()) return Out::failure("Failed to create TLS params: " + san_names.error());

    auto key = new_p256_key();
    if (!key.ok()) return Out::failure("Failed to generate TLS key pair: " + key.error());

    auto cert = new_self_signed_certificate(key.value().get(), san_names.value().get());
    if (!cert.ok()) return Out::failure("Failed to self-sign TLS cert: " + cert.error());
    return CertifiedKey{std::move(cert.value()), std::move(key.value())};
}

}  // namespace

std::string ip_address_bytes(std::string_view text) {
    Asn1OctetStringPtr bytes(a2i_IPADDRESS(std::string(text).c_str()));
    ERR_clear_error();
    if (!bytes) return {};
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(bytes.get())),
                       static_cast<size_t>(ASN1_STRING_length(bytes.get())));
}

bool reads_as_ip_address(std::string_view text) {
    return reads_as_ipv4(text) || reads_as_ipv6(text);
}

std::vector<std::string> tls_san_names(const std::string& host_name,
                                       const std::vector<AdapterEntry>& adapters) {
    std::vector<std::string> names{"localhost", "127.0.0.1"};
    auto append_new = [&names](const std::string& text) {
        if (std::find(names.begin(), names.end(), text) == names.end()) names.push_back(text);
    };
    if (!host_name.empty() && is_ascii(host_name)) append_new(host_name);
    for (const AdapterEntry& adapter : adapters) append_new(adapter.address);
    return names;
}

Result<std::shared_ptr<const TlsServerConfig>> build_tls_config(ReceiverState& state) {
    using Out = Result<std::shared_ptr<const TlsServerConfig>>;
    // The event loops use OpenSSL until the process ends; its clean-up at exit would free
    // the library's locks under them.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    ERR_clear_error();
    Result<CertifiedKey> certified = state.tls_certificate_pem.empty()
                                         ? self_signed_certified_key(state)
                                         : lasting_certified_key(state);
    if (!certified.ok()) return Out::failure(certified.error());

    auto context =
        new_server_context(certified.value().certificate.get(), certified.value().key.get());
    if (!context.ok()) return Out::failure("Failed to build TLS config: " + context.error());

    auto config = std::make_shared<TlsServerConfig>();
    config->context = std::move(context.value());
    return std::shared_ptr<const TlsServerConfig>(std::move(config));
}
