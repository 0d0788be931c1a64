// The lasting identity: what its certificates may name, when a stored one serves again, and
// the folder it lives in (first start, restart, changed names, bad files, two at once).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/user_files.h"
#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "receiver/start_settings.h"
#include "server/identity_rules.h"
#include "server/identity_store.h"
#include "server/local_ca.h"
#include "tests/support/temporary_folder.h"

namespace {

using Names = std::vector<std::string>;

TEST(IdentityRules, CaNameAndPermittedDnsNames) {
    EXPECT_EQ(local_ca_common_name("DESK-7"), "Quillmark local CA (DESK-7)");
    struct Row {
        const char* why;
        std::string host;
        Names expected;
    };
    const std::vector<Row> rows = {
        {"a plain host name is added",
         "DESK-7",
         {"localhost", "local", "lan", "home.arpa", "DESK-7"}},
        {"already permitted: not twice", "LOCALHOST", {"localhost", "local", "lan", "home.arpa"}},
        {"below a permitted name", "desk.lan", {"localhost", "local", "lan", "home.arpa"}},
        {"an address is no DNS name", "192.168.1.20", {"localhost", "local", "lan", "home.arpa"}},
        {"non-ASCII cannot be a constraint",
         "B\xC3\xBCro",
         {"localhost", "local", "lan", "home.arpa"}},
        {"a comma would break the extension's text",
         "a,b",
         {"localhost", "local", "lan", "home.arpa"}},
        {"empty", "", {"localhost", "local", "lan", "home.arpa"}},
    };
    for (const Row& row : rows) EXPECT_EQ(permitted_dns_names(row.host), row.expected) << row.why;
}

TEST(IdentityRules, ConstraintListIsCriticalAndPrivateOnly) {
    EXPECT_EQ(name_constraints_text(Names{"localhost", "DESK-7"}),
              "critical,permitted;IP:10.0.0.0/255.0.0.0,permitted;IP:172.16.0.0/255.240.0.0,"
              "permitted;IP:192.168.0.0/255.255.0.0,permitted;IP:169.254.0.0/255.255.0.0,"
              "permitted;IP:100.64.0.0/255.192.0.0,permitted;IP:127.0.0.0/255.0.0.0,"
              "permitted;IP:fc00::/fe00::,permitted;IP:fe80::/ffc0::,"
              "permitted;DNS:localhost,permitted;DNS:DESK-7");
}

TEST(IdentityRules, NamesWithinTheConstraints) {
    const Names dns = permitted_dns_names("DESK-7");
    struct Row {
        const char* name;
        bool permitted;
    };
    const std::vector<Row> rows = {
        {"10.0.0.1", true},
        {"10.255.255.255", true},
        {"11.0.0.1", false},
        {"172.16.0.1", true},
        {"172.31.255.255", true},
        {"172.15.255.255", false},
        {"172.32.0.0", false},
        {"192.168.1.20", true},
        {"192.169.0.1", false},
        {"169.254.3.4", true},
        {"100.64.0.1", true},
        {"100.127.255.255", true},
        {"100.63.255.255", false},
        {"100.128.0.0", false},
        {"127.0.0.1", true},
        {"127.8.9.10", true},
        {"192.0.2.1", false},
        {"8.8.8.8", false},
        {"fd12:3456::1", true},
        {"fe80::1", true},
        {"febf::1", true},
        {"fec0::1", false},
        {"2001:db8::1", false},
        {"::1", false},
        {"localhost", true},
        {"printer.local", true},
        {"a.b.home.arpa", true},
        {"desk-7", true},
        {"www.desk-7", true},
        {"evil-local", false},
        {"local.example.com", false},
        {"example.com", false},
        {"home.arpa.evil", false},
        {"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(name_permitted(row.name, dns), row.permitted) << row.name;

    const ServerCertificateNames split = server_certificate_names(
        Names{"localhost", "127.0.0.1", "DESK-7", "203.0.113.9", "192.168.1.20", "192.0.2.2"}, dns);
    EXPECT_EQ(split.kept, (Names{"localhost", "127.0.0.1", "DESK-7", "192.168.1.20"}));
    EXPECT_EQ(split.left_out, (Names{"203.0.113.9", "192.0.2.2"}));
}

TEST(IdentityRules, ReuseNeedsTheSameNamesAndMoreThanThirtyDays) {
    const Names stored{"localhost", "127.0.0.1", "DESK-7", "192.168.1.20"};
    const long long day = 24 * 60 * 60;
    EXPECT_TRUE(server_certificate_reusable(stored, stored, 300 * day));
    EXPECT_TRUE(server_certificate_reusable(
        stored, Names{"192.168.1.20", "DESK-7", "127.0.0.1", "localhost"}, 300 * day))
        << "another adapter order is the same set of names";
    EXPECT_FALSE(server_certificate_reusable(
        stored, Names{"localhost", "127.0.0.1", "DESK-7", "192.168.1.21"}, 300 * day));
    EXPECT_FALSE(
        server_certificate_reusable(stored, Names{"localhost", "127.0.0.1", "DESK-7"}, 300 * day));
    EXPECT_FALSE(server_certificate_reusable(
        stored, Names{"localhost", "127.0.0.1", "DESK-8", "192.168.1.20"}, 300 * day));
    EXPECT_TRUE(server_certificate_reusable(stored, stored, 30 * day + 1));
    EXPECT_FALSE(server_certificate_reusable(stored, stored, 30 * day));
    EXPECT_FALSE(server_certificate_reusable(stored, stored, -1));
}

struct Opened {
    LastingIdentity identity;
    Names log;
};

Opened open_identity(const std::filesystem::path& folder, const Names& names,
                     const std::string& host = "DESK-7") {
    Opened opened;
    auto identity = open_lasting_identity(folder, host, names, opened.log);
    EXPECT_TRUE(identity.ok()) << identity.error();
    if (identity.ok()) opened.identity = std::move(identity.value());
    return opened;
}

X509Ptr server_certificate(const LastingIdentity& identity) {
    auto cert = certificate_from_pem(identity.server_certificate_pem);
    return cert.ok() ? std::move(cert.value()) : nullptr;
}

unsigned file_mode(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

const Names NAMES{"localhost", "127.0.0.1", "DESK-7", "192.168.1.20", "192.0.2.2"};

TEST(IdentityStore, MadeOnceThenReusedUntilTheNamesChange) {
    TemporaryFolder home;
    const std::filesystem::path folder = home.path / "quillmark" / "identity";
    const Opened first = open_identity(folder, NAMES);
    EXPECT_EQ(first.log, (Names{"Made a new local CA in " + path_text(folder),
                                "Left 192.0.2.2 out of the server certificate: the local CA "
                                "signs only for private addresses and local names"}));
    EXPECT_EQ(file_mode(folder), 0700u);
    for (const char* file :
         {CA_CERTIFICATE_FILE, CA_KEY_FILE, SERVER_CERTIFICATE_FILE, SERVER_KEY_FILE}) {
        EXPECT_EQ(file_mode(folder / file), 0600u) << file;
    }
    X509Ptr leaf = server_certificate(first.identity);
    ASSERT_TRUE(leaf);
    EXPECT_EQ(certificate_names(leaf.get()),
              (Names{"localhost", "127.0.0.1", "DESK-7", "192.168.1.20"}));
    EXPECT_EQ(first.identity.ca_fingerprint.size(), 32u * 3 - 1);

    const Opened again = open_identity(folder, NAMES);
    EXPECT_EQ(again.log.size(), 1u) << "only the left-out address is told again";
    EXPECT_EQ(again.identity.server_certificate_pem, first.identity.server_certificate_pem);
    EXPECT_EQ(again.identity.server_key_pem, first.identity.server_key_pem);
    EXPECT_EQ(again.identity.ca_certificate_der, first.identity.ca_certificate_der);

    // Another address: a new server certificate under the same CA. A new host name is not in
    // the CA's constraints, so it is left out rather than breaking the chain.
    const Opened moved =
        open_identity(folder, Names{"localhost", "127.0.0.1", "DESK-8", "10.0.0.5"}, "DESK-8");
    EXPECT_EQ(moved.identity.ca_certificate_der, first.identity.ca_certificate_der);
    EXPECT_NE(moved.identity.server_certificate_pem, first.identity.server_certificate_pem);
    X509Ptr moved_leaf = server_certificate(moved.identity);
    ASSERT_TRUE(moved_leaf);
    EXPECT_EQ(certificate_names(moved_leaf.get()), (Names{"localhost", "127.0.0.1", "10.0.0.5"}));
    EXPECT_EQ(moved.log.size(), 1u);
}

void overwrite(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

size_t files_set_aside(const std::filesystem::path& folder) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().find(".bad-") != std::string::npos) ++count;
    }
    return count;
}

// The one line an open logged, by its start and end (a time stamp sits between).
void expect_one_line(const Names& log, const std::string& start, const std::string& end) {
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with(start) && log[0].ends_with(end)) << log[0];
}

TEST(IdentityStore, BadFilesAreSetAsideAndReplaced) {
    TemporaryFolder home;
    const std::filesystem::path folder = home.path / "identity";
    const Names names{"localhost", "127.0.0.1"};
    const Opened first = open_identity(folder, names);

    // A broken server key: the same CA issues a new server certificate.
    overwrite(folder / SERVER_KEY_FILE, "not a key");
    const Opened reissued = open_identity(folder, names);
    expect_one_line(reissued.log,
                    "Identity file " + path_text(folder / SERVER_KEY_FILE) +
                        " is not a private key (kept as server.crt.bad-",
                    "): issuing a new server certificate");
    EXPECT_NE(reissued.log[0].find(", server.key.bad-"), std::string::npos) << reissued.log[0];
    EXPECT_EQ(reissued.identity.ca_certificate_der, first.identity.ca_certificate_der);
    EXPECT_NE(reissued.identity.server_certificate_pem, first.identity.server_certificate_pem);
    EXPECT_EQ(files_set_aside(folder), 2u);

    // A cut-off CA certificate: a new CA, and a server certificate from it.
    const std::string ca_pem = read_whole_file(folder / CA_CERTIFICATE_FILE).value();
    overwrite(folder / CA_CERTIFICATE_FILE, ca_pem.substr(0, ca_pem.size() / 2));
    const Opened remade = open_identity(folder, names);
    expect_one_line(remade.log,
                    "Identity file " + path_text(folder / CA_CERTIFICATE_FILE) +
                        " is not a certificate (kept as ca.crt.bad-",
                    "): making a new local CA");
    EXPECT_NE(remade.identity.ca_certificate_der, first.identity.ca_certificate_der);
    EXPECT_EQ(files_set_aside(folder), 4u);

    // A CA key without its certificate, and a key that belongs to another certificate.
    std::filesystem::remove(folder / CA_CERTIFICATE_FILE);
    const Opened missing = open_identity(folder, names);
    expect_one_line(missing.log,
                    "Identity file " + path_text(folder / CA_CERTIFICATE_FILE) +
                        " is missing (kept as ca.key.bad-",
                    "): making a new local CA");
    overwrite(folder / CA_KEY_FILE, read_whole_file(folder / SERVER_KEY_FILE).value());
    const Opened mismatched = open_identity(folder, names);
    expect_one_line(mismatched.log,
                    "Identity file " + path_text(folder / CA_CERTIFICATE_FILE) +
                        " does not match its key (kept as ca.crt.bad-",
                    "): making a new local CA");
    X509Ptr leaf = server_certificate(mismatched.identity);
    ASSERT_TRUE(leaf);
    auto ca = certificate_from_pem(read_whole_file(folder / CA_CERTIFICATE_FILE).value());
    ASSERT_TRUE(ca.ok());
    EXPECT_EQ(X509_verify(leaf.get(), X509_get0_pubkey(ca.value().get())), 1)
        << "the new server certificate comes from the new CA";
}

TEST(IdentityStore, TwoOpenedAtOnceMakeOneCa) {
    TemporaryFolder home;
    const std::filesystem::path folder = home.path / "identity";
    const Names names{"localhost", "127.0.0.1"};
    std::vector<Opened> results(4);
    std::vector<std::thread> threads;
    for (Opened& result : results) {
        threads.emplace_back([&] {
            auto identity = open_lasting_identity(folder, "DESK-7", names, result.log);
            if (identity.ok()) result.identity = std::move(identity.value());
        });
    }
    for (std::thread& thread : threads) thread.join();
    size_t made = 0;
    for (const Opened& result : results) {
        EXPECT_EQ(result.identity.ca_certificate_der, results[0].identity.ca_certificate_der);
        EXPECT_EQ(result.identity.server_certificate_pem,
                  results[0].identity.server_certificate_pem);
        made += result.log.size();
    }
    EXPECT_FALSE(results[0].identity.ca_certificate_der.empty());
    EXPECT_EQ(made, 1u) << "one of them made the CA, the others found it";
    EXPECT_EQ(files_set_aside(folder), 0u);

    // A holder that never lets go: the next opener gives up with a line naming the lock, and
    // gets it once the holder is gone.
    Result<FileLock> stuck = lock_file(folder / IDENTITY_LOCK_FILE, IDENTITY_LOCK_PATIENCE);
    ASSERT_TRUE(stuck.ok() && stuck.value()) << (stuck.ok() ? "" : stuck.error());
    Result<FileLock> waited = lock_file(folder / IDENTITY_LOCK_FILE, std::chrono::milliseconds(60));
    ASSERT_FALSE(waited.ok());
    EXPECT_NE(waited.error().find("cannot lock "), std::string::npos) << waited.error();
    stuck.value().reset();
    Result<FileLock> free = lock_file(folder / IDENTITY_LOCK_FILE, std::chrono::milliseconds(60));
    EXPECT_TRUE(free.ok() && free.value()) << (free.ok() ? "" : free.error());
}

TEST(StoredPairingKey, KeptUntilRenewedAndBadOnesReplaced) {
    TemporaryFolder home;
    Names log;
    auto first = stored_pairing_key(home.path, false, log);
    ASSERT_TRUE(first.ok()) << first.error();
    EXPECT_EQ(first.value().size(), 22u);
    EXPECT_EQ(stored_pairing_key(home.path, false, log).value(), first.value());
    auto renewed = stored_pairing_key(home.path, true, log);
    EXPECT_NE(renewed.value(), first.value());
    EXPECT_EQ(stored_pairing_key(home.path, false, log).value(), renewed.value());
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(file_mode(home.path / PAIRING_KEY_FILE), 0600u);

    overwrite(home.path / PAIRING_KEY_FILE, "short");
    auto replaced = stored_pairing_key(home.path, false, log);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("holds no pairing key (kept as pairing-key.bad-"), std::string::npos)
        << log[0];
    EXPECT_EQ(replaced.value().size(), 22u);
    EXPECT_EQ(files_set_aside(home.path), 1u);

    // Switched on in the window, the key is the kept one, which the next start uses too.
    auto state = new_receiver_state(ReceiverSettings{}, {});
    state->identity_folder = home.path;
    ASSERT_TRUE(switch_pairing_key(*state, true).ok());
    EXPECT_EQ(current_pairing_key(*state), replaced.value());
    ASSERT_TRUE(switch_pairing_key(*state, false).ok());
    EXPECT_EQ(current_pairing_key(*state), "");
}

}  // namespace
