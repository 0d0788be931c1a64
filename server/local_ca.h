// The lasting identity's certificates: a small certificate authority that may sign only for
// private addresses and local names, and the server certificates it issues.
#pragma once

#include <string>
#include <vector>

#include "core/result.h"
#include "server/certificate_parts.h"

struct CertifiedKey {
    X509Ptr certificate;
    EvpPkeyPtr key;
};

// A new P-256 CA for this computer: "Quillmark local CA (HOST)", ten years, path length 0,
// name constraints of permitted_dns_names(host_name) and the permitted ranges, all critical.
Result<CertifiedKey> new_local_ca(const std::string& host_name);

// A new P-256 server certificate for `names` (each within the CA's constraints), signed by
// the CA, for serverAuth, valid 397 days from a day ago.
Result<CertifiedKey> issue_server_certificate(const CertifiedKey& ca,
                                              const std::vector<std::string>& names);

// The DNS names the CA's name constraints permit.
std::vector<std::string> ca_permitted_dns_names(X509* ca);

// The certificate's subject alternative names as texts, addresses in canonical_name's form.
std::vector<std::string> certificate_names(X509* certificate);

// An address text as certificate_names gives it back; any other name as it is.
std::string canonical_name(const std::string& name);

// Seconds from now until the certificate expires (negative once it has).
long long seconds_left(X509* certificate);

// True for a CA certificate with the key that belongs to it.
bool ca_key_matches(const CertifiedKey& ca);
// True when `ca`'s key signed the issued certificate and the issued key belongs to it.
bool issued_by(const CertifiedKey& issued, const CertifiedKey& ca);

// SHA-256 of the DER certificate as upper-case hex pairs joined by colons.
std::string sha256_fingerprint(X509* certificate);

std::string der_from_certificate(X509* certificate);
std::string pem_from_certificate(X509* certificate);
std::string pem_from_key(EVP_PKEY* key);  // PKCS#8
Result<X509Ptr> certificate_from_pem(const std::string& pem);
Result<EvpPkeyPtr> key_from_pem(const std::string& pem);
