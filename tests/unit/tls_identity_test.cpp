// The certificate names, and the identity that build_tls_config makes from them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "receiver/command_line.h"
#include "receiver/receiver_state.h"
#include "server/openssl_handles.h"
#include "server/tls_identity.h"
#include "tests/support/environment_override.h"

namespace {

using Names = std::vector<std::string>;

TEST(TlsSanNames, OrderAndDuplicates) {
    struct Row {
        const char* why;
        std::string host;
        std::vector<AdapterEntry> adapters;
        Names expected;
    };
    const std::vector<Row> rows = {
        {"the example PC: DNS names and addresses in order",
         "DESK-7",
         {{"Ethernet", "192.168.1.20"}},
         {"localhost", "127.0.0.1", "DESK-7", "192.168.1.20"}},
        {"fallback adapter adds nothing new",
         "PC",
         {{"Localhost", "127.0.0.1"}},
         {"localhost", "127.0.0.1", "PC"}},
        {"two adapters with one address list it once",
         "PC",
         {{"Ethernet", "10.0.0.7"}, {"Ethernet 2", "10.0.0.7"}, {"Wi-Fi", "192.168.1.21"}},
         {"localhost", "127.0.0.1", "PC", "10.0.0.7", "192.168.1.21"}},
        {"lower-case localhost is already there", "localhost", {}, {"localhost", "127.0.0.1"}},
        {"comparison is case-sensitive", "LOCALHOST", {}, {"localhost", "127.0.0.1", "LOCALHOST"}},
        {"empty computer name is skipped",
         "",
         {{"Wi-Fi", "192.168.1.21"}},
         {"localhost", "127.0.0.1", "192.168.1.21"}},
        {"a name equal to an adapter address is listed once, in the name's place",
         "10.0.0.7",
         {{"Ethernet", "10.0.0.7"}},
         {"localhost", "127.0.0.1", "10.0.0.7"}},
        {"non-ASCII name cannot be a DNS name: left out",
         "B\xC3\xBCro-PC",
         {{"Ethernet", "10.0.0.7"}},
         {"localhost", "127.0.0.1", "10.0.0.7"}},
        {"a DEL character is still 7-bit ASCII",
         "PC\x7f",
         {},
         {"localhost", "127.0.0.1", "PC\x7f"}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(tls_san_names(row.host, row.adapters), row.expected) << row.why;
    }
}

TEST(TlsSanNames, IpAddressTexts) {
    struct Row {
        const char* text;
        bool ip;
        const char* why;
    };
    const std::vector<Row> rows = {
        {"127.0.0.1", true, "loopback"},
        {"192.168.1.20", true, "private LAN"},
        {"0.0.0.0", true, "all zero"},
        {"255.255.255.255", true, "largest octets"},
        {"256.1.1.1", false, "octet out of range"},
        {"1.2.3", false, "three octets"},
        {"1.2.3.4.5", false, "five octets"},
        {"01.2.3.4", false, "leading zero"},
        {"1.2.3.4 ", false, "trailing blank"},
        {" 1.2.3.4", false, "leading blank"},
        {"+1.2.3.4", false, "sign"},
        {"1..3.4", false, "empty octet"},
        {"1.2.3.4x", false, "trailing letter"},
        {"1234.1.1.1", false, "four digits"},
        {"::1", true, "IPv6 loopback"},
        {"fe80::1", true, "IPv6 link-local"},
        {"2001:db8::8a2e:370:7334", true, "IPv6 compressed"},
        {"::ffff:192.168.1.20", true, "IPv4-mapped IPv6"},
        {"fe80::1%eth0", false, "zone index is not part of an address"},
        {"1:2:3:4:5:6:7:8:9", false, "too many IPv6 groups"},
        {"DESK-7", false, "host name"},
        {"localhost", false, "localhost is a DNS name"},
        {"", false, "empty"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(reads_as_ip_address(row.text), row.ip) << row.text << ": " << row.why;
    }
}

std::shared_ptr<ReceiverState> state_with_adapters(std::vector<AdapterEntry> adapters) {
    return new_receiver_state(ReceiverSettings{}, std::move(adapters));
}

X509* certificate_of(const TlsServerConfig& config) {
    return SSL_CTX_get0_certificate(config.context.get());
}

std::string ip_text(const ASN1_OCTET_STRING* bytes) {
    const unsigned char* data = ASN1_STRING_get0_data(bytes);
    std::string text;
    if (ASN1_STRING_length(bytes) == 4) {
        for (int i = 0; i < 4; ++i) text += (i ? "." : "") + std::to_string(data[i]);
    } else {
        text = "IPv6(" + std::to_string(ASN1_STRING_length(bytes)) + " bytes)";
    }
    return text;
}

// "DNS:name" / "IP:a.b.c.d" per entry, in certificate order.
Names san_entries(X509* cert) {
    using GeneralNamesPtr = OpenSslPtr<GENERAL_NAMES, GENERAL_NAMES_free>;
    GeneralNamesPtr names(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
    Names out;
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_DNS) {
            const auto* data =
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName));
            out.push_back("DNS:" + std::string(data, ASN1_STRING_length(name->d.dNSName)));
        } else if (name->type == GEN_IPADD) {
            out.push_back("IP:" + ip_text(name->d.iPAddress));
        } else {
            out.push_back("other");
        }
    }
    return out;
}

std::string name_text(const X509_NAME* name) {
    char buffer[256];
    X509_NAME_oneline(name, buffer, sizeof buffer);
    return buffer;
}

// Seconds from now to the given certificate time (negative: in the past).
long seconds_from_now(const ASN1_TIME* time) {
    int days = 0;
    int seconds = 0;
    ASN1_TIME_diff(&days, &seconds, nullptr, time);
    return days * 86400L + seconds;
}

std::string public_key_der(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(X509_get0_pubkey(cert), &der);
    std::string bytes(reinterpret_cast<const char*>(der), length > 0 ? length : 0);
    OPENSSL_free(der);
    return bytes;
}

TEST(BuildTlsConfig, CertificateFields) {
    EnvironmentOverride computer("COMPUTERNAME", "DESK-7");
    auto state = state_with_adapters({{"Ethernet", "192.168.1.20"}, {"Wi-Fi", "10.0.0.7"}});
    auto config = build_tls_config(*state);
    ASSERT_TRUE(config.ok()) << config.error();
    X509* cert = certificate_of(*config.value());
    ASSERT_NE(cert, nullptr);

    EXPECT_EQ(X509_get_version(cert), X509_VERSION_3);
    EXPECT_EQ(name_text(X509_get_subject_name(cert)), "/CN=Quillmark Receiver");
    EXPECT_EQ(name_text(X509_get_issuer_name(cert)), "/CN=Quillmark Receiver");
    EXPECT_EQ(san_entries(cert), (Names{"DNS:localhost", "IP:127.0.0.1", "DNS:DESK-7",
                                        "IP:192.168.1.20", "IP:10.0.0.7"}));

    // Valid from a day ago to a year from now, whatever today is (a minute of slack).
    EXPECT_NEAR(seconds_from_now(X509_get0_notBefore(cert)), -86400, 60);
    EXPECT_NEAR(seconds_from_now(X509_get0_notAfter(cert)), 365 * 86400L, 60);

    EXPECT_EQ(X509_get_key_usage(cert),
              static_cast<uint32_t>(KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT));
    EXPECT_EQ(X509_get_extended_key_usage(cert), static_cast<uint32_t>(XKU_SSL_SERVER));
    EXPECT_EQ(X509_check_ca(cert), 0) << "must not be a certificate authority";
    EXPECT_EQ(X509_get_signature_nid(cert), NID_ecdsa_with_SHA256);

    EVP_PKEY* key = X509_get0_pubkey(cert);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(EVP_PKEY_get_base_id(key), EVP_PKEY_EC);
    char curve[64] = "";
    size_t curve_length = 0;
    EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof curve, &curve_length);
    EXPECT_STREQ(curve, "prime256v1");

    // Self-signed: the certificate verifies with its own key.
    EXPECT_EQ(X509_verify(cert, key), 1);
}

TEST(BuildTlsConfig, ContextAllowsOnlyTls12And13) {
    auto state = state_with_adapters({{"Localhost", "127.0.0.1"}});
    auto config = build_tls_config(*state);
    ASSERT_TRUE(config.ok()) << config.error();
    SSL_CTX* context = config.value()->context.get();
    EXPECT_EQ(SSL_CTX_get_min_proto_version(context), TLS1_2_VERSION);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(context), TLS1_3_VERSION);
    EXPECT_EQ(SSL_CTX_get_verify_mode(context), SSL_VERIFY_NONE);
    EXPECT_EQ(SSL_CTX_check_private_key(context), 1);
}

TEST(BuildTlsConfig, EveryStartHasANewKeyAndTheSameNames) {
    EnvironmentOverride computer("COMPUTERNAME", "DESK-7");
    auto state = state_with_adapters({{"Ethernet", "192.168.1.20"}});
    auto first = build_tls_config(*state);
    auto second = build_tls_config(*state);
    ASSERT_TRUE(first.ok() && second.ok());
    X509* a = certificate_of(*first.value());
    X509* b = certificate_of(*second.value());
    EXPECT_NE(public_key_der(a), public_key_der(b));
    EXPECT_EQ(san_entries(a), san_entries(b));
    EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(a), X509_get0_serialNumber(b)), 0);
}

TEST(BuildTlsConfig, NonAsciiComputerNameStillStarts) {
    EnvironmentOverride computer("COMPUTERNAME", "B\xC3\xBCro");
    auto state = state_with_adapters({{"Ethernet", "192.168.1.20"}});
    auto config = build_tls_config(*state);
    ASSERT_TRUE(config.ok()) << config.error();
    EXPECT_EQ(san_entries(certificate_of(*config.value())),
              (Names{"DNS:localhost", "IP:127.0.0.1", "IP:192.168.1.20"}));
}

TEST(BuildTlsConfig, NonAsciiAdapterTextFailsWithTheParamsError) {
    // Adapter addresses are always dotted decimal; should one ever not be, the start fails
    // with a clear text rather than a certificate with a broken name.
    auto state = state_with_adapters({{"Odd", "b\xC3\xBCro"}});
    auto config = build_tls_config(*state);
    ASSERT_FALSE(config.ok());
    EXPECT_EQ(config.error(), "Failed to create TLS params: Invalid IA5String: 'b\xC3\xBCro'");
}

}  // namespace
