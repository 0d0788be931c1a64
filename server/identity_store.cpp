#include "server/identity_store.h"

#include <optional>
#include <system_error>

#include "platform/file_aside.h"
#include "platform/file_lock.h"
#include "platform/user_files.h"
#include "receiver/pairing_key.h"
#include "server/identity_rules.h"
#include "server/local_ca.h"

namespace {

struct PairFiles {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

// What was wrong with a stored pair: the file to name and the words for it.
struct PairProblem {
    std::filesystem::path file;
    std::string what;
};

struct LoadedPair {
    std::optional<CertifiedKey> pair;
    std::optional<PairProblem> problem;  // neither pair nor problem: nothing stored yet
};

bool file_exists(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::exists(file, error);
}

LoadedPair load_pair(const PairFiles& files) {
    LoadedPair loaded;
    const bool have_certificate = file_exists(files.certificate);
    const bool have_key = file_exists(files.key);
    if (!have_certificate && !have_key) return loaded;
    if (!have_certificate || !have_key) {
        loaded.problem = PairProblem{have_key ? files.certificate : files.key, "is missing"};
        return loaded;
    }
    Result<std::string> certificate_pem = read_whole_file(files.certificate);
    Result<std::string> key_pem = read_whole_file(files.key);
    if (!certificate_pem.ok()) {
        loaded.problem = PairProblem{files.certificate, "cannot be read"};
        return loaded;
    }
    if (!key_pem.ok()) {
        loaded.problem = PairProblem{files.key, "cannot be read"};
        return loaded;
    }
    auto certificate = certificate_from_pem(certificate_pem.value());
    if (!certificate.ok()) {
        loaded.problem = PairProblem{files.certificate, "is not a certificate"};
        return loaded;
    }
    auto key = key_from_pem(key_pem.value());
    if (!key.ok()) {
        loaded.problem = PairProblem{files.key, "is not a private key"};
        return loaded;
    }
    loaded.pair = CertifiedKey{std::move(certificate.value()), std::move(key.value())};
    return loaded;
}

// Moves both files of a pair out of the way; returns their new names.
Result<std::string> set_pair_aside(const PairFiles& files) {
    std::string names;
    for (const auto* file : {&files.certificate, &files.key}) {
        if (!file_exists(*file)) continue;
        auto moved = set_file_aside(*file);
        if (!moved.ok()) return Result<std::string>::failure(moved.error());
        if (!names.empty()) names += ", ";
        names += path_text(moved.value().filename());
    }
    return names;
}

Status store_pair(const PairFiles& files, const CertifiedKey& pair) {
    // The key first: a certificate on disk always has its key beside it.
    const std::string key_pem = pem_from_key(pair.key.get());
    const std::string certificate_pem = pem_from_certificate(pair.certificate.get());
    if (key_pem.empty() || certificate_pem.empty()) {
        return Status::failure("could not encode " + path_text(files.certificate));
    }
    if (Status written = write_file_atomically(files.key, key_pem); !written.ok()) return written;
    return write_file_atomically(files.certificate, certificate_pem);
}

// "Identity file {path} {what} (kept as {names}): {remedy}", after setting the pair aside.
Result<std::string> set_aside_with_line(const PairFiles& files, const PairProblem& problem,
                                        std::string_view remedy) {
    auto aside = set_pair_aside(files);
    if (!aside.ok()) return aside;
    return "Identity file " + path_text(problem.file) + " " + problem.what + " (kept as " +
           aside.value() + "): " + std::string(remedy);
}

Result<CertifiedKey> open_ca(const PairFiles& files, const std::filesystem::path& folder,
                             const std::string& host_name, std::vector<std::string>& log) {
    using Out = Result<CertifiedKey>;
    LoadedPair loaded = load_pair(files);
    if (loaded.pair) {
        if (!ca_key_matches(*loaded.pair)) {
            loaded.problem = PairProblem{files.certificate, "does not match its key"};
        } else if (seconds_left(loaded.pair->certificate.get()) <= 0) {
            loaded.problem = PairProblem{files.certificate, "has expired"};
        } else {
            return std::move(*loaded.pair);
        }
    }
    if (loaded.problem) {
        auto line = set_aside_with_line(files, *loaded.problem, "making a new local CA");
        if (!line.ok()) return Out::failure(line.error());
        log.push_back(std::move(line.value()));
    } else {
        log.push_back("Made a new local CA in " + path_text(folder));
    }
    auto made = new_local_ca(host_name);
    if (!made.ok()) return Out::failure("Could not make the local CA: " + made.error());
    if (Status stored = store_pair(files, made.value()); !stored.ok()) {
        return Out::failure(stored.error());
    }
    return made;
}

Result<CertifiedKey> open_server_pair(const PairFiles& files, const CertifiedKey& ca,
                                      const std::vector<std::string>& names,
                                      std::vector<std::string>& log) {
    using Out = Result<CertifiedKey>;
    LoadedPair loaded = load_pair(files);
    if (loaded.pair) {
        if (!issued_by(*loaded.pair, ca)) {
            // Issued by an earlier CA (made anew since), or its key belongs to another: it
            // can serve no phone that trusts this CA.
            loaded.pair.reset();
        } else if (server_certificate_reusable(certificate_names(loaded.pair->certificate.get()),
                                               names,
                                               seconds_left(loaded.pair->certificate.get()))) {
            return std::move(*loaded.pair);
        }
    } else if (loaded.problem) {
        auto line = set_aside_with_line(files, *loaded.problem, "issuing a new server certificate");
        if (!line.ok()) return Out::failure(line.error());
        log.push_back(std::move(line.value()));
    }
    auto issued = issue_server_certificate(ca, names);
    if (!issued.ok())
        return Out::failure("Could not issue the server certificate: " + issued.error());
    if (Status stored = store_pair(files, issued.value()); !stored.ok()) {
        return Out::failure(stored.error());
    }
    return issued;
}

}  // namespace

Result<LastingIdentity> open_lasting_identity(const std::filesystem::path& folder,
                                              const std::string& host_name,
                                              const std::vector<std::string>& names,
                                              std::vector<std::string>& log) {
    using Out = Result<LastingIdentity>;
    if (Status made = make_private_folder(folder); !made.ok()) return Out::failure(made.error());
    Result<FileLock> lock = lock_file(folder / IDENTITY_LOCK_FILE, IDENTITY_LOCK_PATIENCE);
    if (!lock.ok()) return Out::failure(lock.error());

    auto ca = open_ca({folder / CA_CERTIFICATE_FILE, folder / CA_KEY_FILE}, folder, host_name, log);
    if (!ca.ok()) return Out::failure(ca.error());

    const std::vector<std::string> permitted = ca_permitted_dns_names(ca.value().certificate.get());
    ServerCertificateNames split = server_certificate_names(names, permitted);
    for (const std::string& name : split.left_out) {
        log.push_back("Left " + name +
                      " out of the server certificate: the local CA signs only for private "
                      "addresses and local names");
    }
    std::vector<std::string> wanted;
    for (const std::string& name : split.kept) wanted.push_back(canonical_name(name));

    auto server = open_server_pair({folder / SERVER_CERTIFICATE_FILE, folder / SERVER_KEY_FILE},
                                   ca.value(), wanted, log);
    if (!server.ok()) return Out::failure(server.error());

    LastingIdentity identity;
    identity.ca_certificate_der = der_from_certificate(ca.value().certificate.get());
    identity.ca_fingerprint = sha256_fingerprint(ca.value().certificate.get());
    identity.server_certificate_pem = pem_from_certificate(server.value().certificate.get());
    identity.server_key_pem = pem_from_key(server.value().key.get());
    return identity;
}
