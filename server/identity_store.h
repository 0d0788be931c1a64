// The lasting identity in the user's data folder: the local CA and the server certificate it
// issued, kept between runs so that a phone that trusts the CA (or accepted the certificate)
// connects without a warning after a restart.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/result.h"

// The files of the identity folder. The CA key never leaves it.
inline constexpr const char* CA_CERTIFICATE_FILE = "ca.crt";
inline constexpr const char* CA_KEY_FILE = "ca.key";
inline constexpr const char* SERVER_CERTIFICATE_FILE = "server.crt";
inline constexpr const char* SERVER_KEY_FILE = "server.key";

struct LastingIdentity {
    std::string ca_certificate_der;
    std::string ca_fingerprint;  // SHA-256, "AB:CD:..."
    std::string server_certificate_pem;
    std::string server_key_pem;
};

// Opens the identity kept in `folder` (created 0700 when missing), under its lock. CA files
// that are missing, unreadable, corrupt, mismatched or expired are set aside (renamed) and a
// new CA is made; a stored server certificate serves again while it has exactly the names
// (of `names`, those within the CA's constraints) and more than 30 days left, and is issued
// anew otherwise. Each event worth telling becomes one line of `log`.
Result<LastingIdentity> open_lasting_identity(const std::filesystem::path& folder,
                                              const std::string& host_name,
                                              const std::vector<std::string>& names,
                                              std::vector<std::string>& log);
