// The lasting identity of the built receiver: the chain it serves checked by openssl, kept
// across restarts, re-issued for new names under the same CA, and nothing written with
// --ephemeral-identity.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/user_files.h"
#include "tests/support/net_client.h"
#include "tests/support/process.h"
#include "tests/support/receiver_process.h"
#include "tests/support/temporary_folder.h"

namespace {

constexpr milliseconds LINE_LIMIT{20000};

// A receiver whose HOME and data folder are `home`, so that each test starts from nothing.
ReceiverProcess start_in(const TemporaryFolder& home,
                         std::map<std::string, std::string> environment,
                         const std::vector<std::string>& options = {}) {
    environment["HOME"] = home.path.string();
    environment["XDG_DATA_HOME"] = (home.path / "data").string();
    environment["XDG_CONFIG_HOME"] = (home.path / "config").string();
    return start_receiver_process(environment, options);
}

std::filesystem::path identity_in(const TemporaryFolder& home) {
    return home.path / "data" / "quillmark" / "identity";
}

// The first certificate the receiver sends, as PEM; the number of certificates in the chain.
std::string served_certificate(uint16_t port, int* chain_length = nullptr) {
    const ProgramResult client = run_program(
        {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-showcerts"});
    const std::string end_marker = "-----END CERTIFICATE-----";
    const size_t begin = client.out.find("-----BEGIN CERTIFICATE-----");
    const size_t end = client.out.find(end_marker);
    if (chain_length) {
        *chain_length = 0;
        for (size_t at = client.out.find(end_marker); at != std::string::npos;
             at = client.out.find(end_marker, at + 1)) {
            ++*chain_length;
        }
    }
    if (begin == std::string::npos || end == std::string::npos) return {};
    return client.out.substr(begin, end + end_marker.size() - begin) + "\n";
}

std::string temporary_file(const TemporaryFolder& folder, const std::string& name,
                           const std::string& bytes) {
    const std::filesystem::path file = folder.path / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
}

ProgramResult verify_strict(const std::filesystem::path& ca, const std::string& leaf_file) {
    return run_program({"openssl", "verify", "-x509_strict", "-CAfile", ca.string(), leaf_file});
}

unsigned file_mode(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(ReceiverIdentity, ServedChainVerifiesAndLastsAcrossRestarts) {
    TemporaryFolder home;
    const std::filesystem::path identity = identity_in(home);
    std::string first_leaf;
    {
        ReceiverProcess receiver = start_in(home, {{"COMPUTERNAME", "DESK-7"}});
        ASSERT_TRUE(receiver.process);
        EXPECT_TRUE(receiver.process->wait_for_line_containing(
            "Made a new local CA in " + path_text(identity), LINE_LIMIT));
        int chain = 0;
        first_leaf = served_certificate(receiver.port, &chain);
        ASSERT_FALSE(first_leaf.empty());
        EXPECT_EQ(chain, 1) << "the server certificate alone: a phone has the CA or has not";

        // Phones fetch the CA certificate; the CA key never leaves the folder.
        const ProgramResult crt = run_program(
            {"curl", "-sS", "-k", "--max-time", "30", "-w", "\n%{content_type}",
             "https://127.0.0.1:" + std::to_string(receiver.port) + "/quillmark-ca.crt"});
        const ProgramResult der = run_program(
            {"openssl", "x509", "-in", (identity / "ca.crt").string(), "-outform", "DER"});
        EXPECT_EQ(crt.out, der.out + "\napplication/x-x509-ca-cert");
        const ProgramResult profile = run_program(
            {"curl", "-sS", "-k", "--max-time", "30",
             "https://127.0.0.1:" + std::to_string(receiver.port) + "/quillmark-ca.mobileconfig"});
        EXPECT_NE(profile.out.find("<string>com.apple.security.root</string>"), std::string::npos)
            << profile.out;
        EXPECT_NE(profile.out.find("<string>Quillmark local CA (DESK-7)</string>"),
                  std::string::npos);
        EXPECT_EQ(profile.out.find("PRIVATE KEY"), std::string::npos);
    }
    EXPECT_EQ(file_mode(identity), 0700u);
    for (const char* file : {"ca.crt", "ca.key", "server.crt", "server.key"}) {
        EXPECT_EQ(file_mode(identity / file), 0600u) << file;
    }

    // The served chain passes the strict checks against the CA file.
    const std::string leaf_file = temporary_file(home, "leaf.pem", first_leaf);
    const ProgramResult verified = verify_strict(identity / "ca.crt", leaf_file);
    EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;

    // The CA's limits are present and critical.
    const ProgramResult ca_text =
        run_program({"openssl", "x509", "-in", (identity / "ca.crt").string(), "-noout", "-text"});
    EXPECT_NE(ca_text.out.find("Subject: CN = Quillmark local CA (DESK-7)"), std::string::npos);
    EXPECT_NE(ca_text.out.find("X509v3 Basic Constraints: critical\n                CA:TRUE, "
                               "pathlen:0"),
              std::string::npos)
        << ca_text.out;
    EXPECT_NE(ca_text.out.find("X509v3 Key Usage: critical\n                Certificate Sign, "
                               "CRL Sign"),
              std::string::npos);
    EXPECT_NE(ca_text.out.find("X509v3 Name Constraints: critical\n                Permitted:\n"
                               "                  IP:10.0.0.0/255.0.0.0"),
              std::string::npos)
        << ca_text.out;

    // Had its key leaked, a certificate for a public or documentation address made with it
    // would still fail.
    const ProgramResult request = run_program(
        {"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-keyout", (home.path / "other.key").string(), "-subj", "/CN=Other"});
    ASSERT_EQ(request.exit_code, 0) << request.err;
    const std::string csr = temporary_file(home, "other.csr", request.out);
    for (const char* name : {"IP:8.8.8.8", "IP:192.0.2.1", "DNS:example.com"}) {
        const std::string extensions = temporary_file(
            home, "other.cnf",
            std::string("basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n"
                        "authorityKeyIdentifier=keyid\nsubjectAltName=") +
                name + "\n");
        const ProgramResult signed_leaf = run_program(
            {"openssl", "x509", "-req", "-in", csr, "-CA", (identity / "ca.crt").string(), "-CAkey",
             (identity / "ca.key").string(), "-days", "30", "-extfile", extensions});
        ASSERT_EQ(signed_leaf.exit_code, 0) << signed_leaf.err;
        const ProgramResult refused =
            verify_strict(identity / "ca.crt", temporary_file(home, "other.pem", signed_leaf.out));
        EXPECT_NE(refused.exit_code, 0) << name;
        EXPECT_NE((refused.out + refused.err).find("permitted subtree violation"),
                  std::string::npos)
            << name << ": " << refused.out << refused.err;
    }

    // A restart serves the same certificate; a new host name gets a new one from the same CA.
    const std::string ca_before = read_whole_file(identity / "ca.crt").value();
    {
        ReceiverProcess again = start_in(home, {{"COMPUTERNAME", "DESK-7"}});
        ASSERT_TRUE(again.process);
        EXPECT_EQ(served_certificate(again.port), first_leaf);
        for (const std::string& line : again.process->lines()) {
            EXPECT_EQ(line.find("Made a new local CA"), std::string::npos) << line;
        }
    }
    ReceiverProcess renamed = start_in(home, {{"COMPUTERNAME", "DESK-8"}});
    ASSERT_TRUE(renamed.process);
    EXPECT_TRUE(renamed.process->wait_for_line_containing(
        "Left DESK-8 out of the server certificate", LINE_LIMIT));
    const std::string renamed_leaf = served_certificate(renamed.port);
    EXPECT_NE(renamed_leaf, first_leaf);
    EXPECT_EQ(read_whole_file(identity / "ca.crt").value(), ca_before);
    const ProgramResult still_verified =
        verify_strict(identity / "ca.crt", temporary_file(home, "renamed.pem", renamed_leaf));
    EXPECT_EQ(still_verified.exit_code, 0) << still_verified.out << still_verified.err;
}

TEST(ReceiverIdentity, EphemeralIdentityWritesNothing) {
    TemporaryFolder home;
    ReceiverProcess receiver = start_in(
        home, {}, {"--ephemeral-identity", "--pairing-key", "--no-journal", "--ignore-settings"});
    ASSERT_TRUE(receiver.process) << "the old start message must still be printed";
    const ProgramResult crt = run_program(
        {"curl", "-sS", "-k", "--max-time", "30", "-o", "/dev/null", "-w", "%{http_code}",
         "https://127.0.0.1:" + std::to_string(receiver.port) + "/quillmark-ca.crt"});
    EXPECT_EQ(crt.out, "404");
    EXPECT_TRUE(receiver.process->wait_for_line_containing("Pairing URL: ", LINE_LIMIT));
    for (const std::string& line : receiver.process->lines()) {
        EXPECT_EQ(line.find("trust.html"), std::string::npos) << line;
    }
    EXPECT_TRUE(std::filesystem::is_empty(home.path)) << "nothing written below HOME";
}

std::string printed_key(ReceiverProcess& receiver) {
    const auto printed = receiver.process->wait_for_line_containing("Pairing URL: ", LINE_LIMIT);
    std::smatch match;
    const std::regex keyed("%3Fkey%3D([A-Za-z0-9_-]{22})$");
    return printed && std::regex_search(*printed, match, keyed) ? match[1].str() : "";
}

std::string scan_status(uint16_t port, const std::string& key) {
    return run_program({"curl", "-sS", "-k", "--max-time", "30", "-o", "/dev/null", "-w",
                        "%{http_code}", "--data-binary", R"({"text":"KEYED"})",
                        "https://127.0.0.1:" + std::to_string(port) + "/api/scan?key=" + key})
        .out;
}

TEST(ReceiverIdentity, PairingKeyLastsUntilANewOneIsAskedFor) {
    TemporaryFolder home;
    std::string key;
    {
        ReceiverProcess first = start_in(home, {}, {"--pairing-key"});
        ASSERT_TRUE(first.process);
        key = printed_key(first);
        ASSERT_FALSE(key.empty());
    }
    {
        ReceiverProcess again = start_in(home, {}, {"--pairing-key"});
        ASSERT_TRUE(again.process);
        EXPECT_EQ(printed_key(again), key);
        EXPECT_EQ(scan_status(again.port, key), "200");
    }
    ReceiverProcess renewed = start_in(home, {}, {"--new-pairing-key"});
    ASSERT_TRUE(renewed.process);
    const std::string new_key = printed_key(renewed);
    EXPECT_FALSE(new_key.empty());
    EXPECT_NE(new_key, key);
    EXPECT_EQ(scan_status(renewed.port, key), "403") << "the old key stops working at once";
    EXPECT_EQ(scan_status(renewed.port, new_key), "200");
}

TEST(ReceiverIdentity, TwoReceiversStartedAtOnceShareOneCa) {
    TemporaryFolder home;
    std::map<std::string, std::string> environment{
        {"HOME", home.path.string()}, {"XDG_DATA_HOME", (home.path / "data").string()}};
    const uint16_t ports[] = {free_port(), free_port()};
    std::unique_ptr<ChildProcess> receivers[] = {spawn_receiver(ports[0], environment),
                                                 spawn_receiver(ports[1], environment)};
    size_t made = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(receivers[i]);
        ASSERT_TRUE(receivers[i]->wait_for_line_containing("HTTPS listening on", LINE_LIMIT));
        for (const std::string& line : receivers[i]->lines()) {
            made += line.find("Made a new local CA") != std::string::npos;
        }
        const ProgramResult verified =
            verify_strict(identity_in(home) / "ca.crt",
                          temporary_file(home, "leaf.pem", served_certificate(ports[i])));
        EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;
    }
    EXPECT_EQ(made, 1u);
}

}  // namespace
