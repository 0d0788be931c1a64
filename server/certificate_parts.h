// The pieces that both the per-start self-signed certificate and the lasting identity's
// certificates are made of.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <openssl/x509v3.h>

#include "core/result.h"
#include "server/openssl_handles.h"

using X509Ptr = OpenSslPtr<X509, X509_free>;
using EvpPkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using GeneralNamesPtr = OpenSslPtr<GENERAL_NAMES, GENERAL_NAMES_free>;

// The product's own name rather than a generator's placeholder: it is what a phone shows when
// it asks the user to accept a server certificate. Being no DNS name, no name-constraint check
// reads it as one.
inline constexpr const char* CERTIFICATE_COMMON_NAME = "Quillmark Receiver";

// Subject alternative names in list order: IP entries for addresses, DNS names otherwise.
Result<GeneralNamesPtr> new_san_extension_value(const std::vector<std::string>& names);

// A fresh ECDSA P-256 key.
Result<EvpPkeyPtr> new_p256_key();

// Version 3, a random serial, the common name, `issuer`'s subject (the certificate's own when
// null) and `key`, valid from a day ago for `valid_seconds`; null on failure.
X509Ptr new_certificate(const std::string& common_name, X509* issuer, EVP_PKEY* key,
                        long valid_seconds);

// One extension in OpenSSL's configuration syntax: {NID_basic_constraints, "critical,CA:FALSE"}.
struct ConfigExtension {
    int nid;
    const char* value;
};

// Adds `extensions`, then `san_names` when given, and signs with `signing_key` (the issuer's;
// `issuer` null for a self-signed certificate). False on failure, with OpenSSL's error queued.
bool extend_and_sign(X509* cert, X509* issuer, std::initializer_list<ConfigExtension> extensions,
                     GENERAL_NAMES* san_names, EVP_PKEY* signing_key);
