// The pieces that both the per-start self-signed certificate and the lasting identity's
// certificates are made of, and the server context built around either.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "core/result.h"
#include "server/openssl_handles.h"
#include "server/tls_identity.h"

using X509Ptr = OpenSslPtr<X509, X509_free>;
using EvpPkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using GeneralNamesPtr = OpenSslPtr<GENERAL_NAMES, GENERAL_NAMES_free>;
using GeneralNamePtr = OpenSslPtr<GENERAL_NAME, GENERAL_NAME_free>;
using Asn1OctetStringPtr = OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1Ia5StringPtr = OpenSslPtr<ASN1_IA5STRING, ASN1_IA5STRING_free>;
using X509ExtensionPtr = OpenSslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using BignumPtr = OpenSslPtr<BIGNUM, BN_free>;
using SslContextPtr = std::unique_ptr<SSL_CTX, SslContextFree>;

// Subject alternative names in list order: IP entries for addresses, DNS names otherwise.
Result<GeneralNamesPtr> new_san_extension_value(const std::vector<std::string>& names);

// A fresh ECDSA P-256 key.
Result<EvpPkeyPtr> new_p256_key();

// Adds one extension given in OpenSSL's configuration syntax ("critical,CA:FALSE").
bool add_config_extension(X509* cert, X509V3_CTX* context, int nid, const char* value);

// A random positive 127-bit serial number.
bool set_random_serial(X509* cert);

// The server context every connection of one start shares, serving `cert` with `key`.
Result<SslContextPtr> new_server_context(X509* cert, EVP_PKEY* key);
