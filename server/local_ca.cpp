#include "server/local_ca.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "server/identity_rules.h"
#include "server/tls_identity.h"

namespace {

using BioPtr = OpenSslPtr<BIO, BIO_free>;
using NameConstraintsPtr = OpenSslPtr<NAME_CONSTRAINTS, NAME_CONSTRAINTS_free>;

constexpr long DAY_SECONDS = 24L * 60 * 60;
constexpr long CA_VALID_SECONDS = 3652L * DAY_SECONDS;  // ten years
// Browsers refuse server certificates valid for longer than 398 days.
constexpr long SERVER_VALID_SECONDS = 397L * DAY_SECONDS;

std::string text_from_bio(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string address_text(const unsigned char* bytes, int length) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text;
    if (length == 4) {
        for (int i = 0; i < 4; ++i) {
            if (i) text += '.';
            text += std::to_string(bytes[i]);
        }
    } else {
        for (int i = 0; i < length; i += 2) {
            if (i) text += ':';
            for (int j = i; j < i + 2 && j < length; ++j) {
                text += HEX[bytes[j] >> 4];
                text += HEX[bytes[j] & 15];
            }
        }
    }
    return text;
}

}  // namespace

Result<CertifiedKey> new_local_ca(const std::string& host_name) {
    using Out = Result<CertifiedKey>;
    auto key = new_p256_key();
    if (!key.ok()) return Out::failure(key.error());
    X509Ptr cert = new_certificate(local_ca_common_name(host_name), nullptr, key.value().get(),
                                   CA_VALID_SECONDS);
    const std::string constraints = name_constraints_text(permitted_dns_names(host_name));
    if (!cert || !extend_and_sign(cert.get(), nullptr,
                                  {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                                   {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                   {NID_subject_key_identifier, "hash"},
                                   {NID_name_constraints, constraints.c_str()}},
                                  nullptr, key.value().get())) {
        return Out::failure(take_openssl_error_text());
    }
    return CertifiedKey{std::move(cert), std::move(key.value())};
}

Result<CertifiedKey> issue_server_certificate(const CertifiedKey& ca,
                                              const std::vector<std::string>& names) {
    using Out = Result<CertifiedKey>;
    auto san_names = new_san_extension_value(names);
    if (!san_names.ok()) return Out::failure(san_names.error());
    auto key = new_p256_key();
    if (!key.ok()) return Out::failure(key.error());
    X509Ptr cert = new_certificate(CERTIFICATE_COMMON_NAME, ca.certificate.get(), key.value().get(),
                                   SERVER_VALID_SECONDS);
    if (!cert || !extend_and_sign(cert.get(), ca.certificate.get(),
                                  {{NID_basic_constraints, "critical,CA:FALSE"},
                                   {NID_key_usage, "critical,digitalSignature"},
                                   {NID_ext_key_usage, "serverAuth"},
                                   {NID_subject_key_identifier, "hash"},
                                   {NID_authority_key_identifier, "keyid:always"}},
                                  san_names.value().get(), ca.key.get())) {
        return Out::failure(take_openssl_error_text());
    }
    return CertifiedKey{std::move(cert), std::move(key.value())};
}

std::vector<std::string> ca_permitted_dns_names(X509* ca) {
    std::vector<std::string> names;
    NameConstraintsPtr constraints(static_cast<NAME_CONSTRAINTS*>(
        X509_get_ext_d2i(ca, NID_name_constraints, nullptr, nullptr)));
    if (!constraints || !constraints->permittedSubtrees) return names;
    for (int i = 0; i < sk_GENERAL_SUBTREE_num(constraints->permittedSubtrees); ++i) {
        const GENERAL_NAME* base =
            sk_GENERAL_SUBTREE_value(constraints->permittedSubtrees, i)->base;
        if (base->type != GEN_DNS) continue;
        const ASN1_IA5STRING* dns = base->d.dNSName;
        names.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                           static_cast<size_t>(ASN1_STRING_length(dns)));
    }
    return names;
}

std::vector<std::string> certificate_names(X509* certificate) {
    std::vector<std::string> names;
    GeneralNamesPtr list(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    if (!list) return names;
    for (int i = 0; i < sk_GENERAL_NAME_num(list.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(list.get(), i);
        if (name->type == GEN_DNS) {
            names.emplace_back(
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                static_cast<size_t>(ASN1_STRING_length(name->d.dNSName)));
        } else if (name->type == GEN_IPADD) {
            names.push_back(address_text(ASN1_STRING_get0_data(name->d.iPAddress),
                                         ASN1_STRING_length(name->d.iPAddress)));
        }
    }
    return names;
}

std::string canonical_name(const std::string& name) {
    const std::string bytes = reads_as_ip_address(name) ? ip_address_bytes(name) : std::string();
    if (bytes.empty()) return name;
    return address_text(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
}

long long seconds_left(X509* certificate) {
    int days = 0;
    int seconds = 0;
    if (!ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(certificate))) return -1;
    return static_cast<long long>(days) * DAY_SECONDS + seconds;
}

bool ca_key_matches(const CertifiedKey& ca) {
    const bool matches = X509_check_ca(ca.certificate.get()) == 1 &&
                         X509_check_private_key(ca.certificate.get(), ca.key.get()) == 1;
    ERR_clear_error();
    return matches;
}

bool issued_by(const CertifiedKey& issued, const CertifiedKey& ca) {
    const bool matches = X509_verify(issued.certificate.get(), ca.key.get()) == 1 &&
                         X509_check_private_key(issued.certificate.get(), issued.key.get()) == 1;
    ERR_clear_error();
    return matches;
}

std::string sha256_fingerprint(X509* certificate) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(certificate, EVP_sha256(), digest, &length)) return {};
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i) text += ':';
        text += HEX[digest[i] >> 4];
        text += HEX[digest[i] & 15];
    }
    return text;
}

std::string der_from_certificate(X509* certificate) {
    unsigned char* bytes = nullptr;
    const int length = i2d_X509(certificate, &bytes);
    if (length <= 0) return {};
    std::string der(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    return der;
}

std::string pem_from_certificate(X509* certificate) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !PEM_write_bio_X509(bio.get(), certificate)) return {};
    return text_from_bio(bio.get());
}

std::string pem_from_key(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)) {
        return {};
    }
    return text_from_bio(bio.get());
}

Result<X509Ptr> certificate_from_pem(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert) return Result<X509Ptr>::failure(take_openssl_error_text());
    return cert;
}

Result<EvpPkeyPtr> key_from_pem(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) return Result<EvpPkeyPtr>::failure(take_openssl_error_text());
    return key;
}
