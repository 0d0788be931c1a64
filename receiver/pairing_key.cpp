#include "receiver/pairing_key.h"

#include <array>
#include <cstdint>

#include <openssl/crypto.h>

#include "core/text_codes.h"
#include "platform/file_aside.h"
#include "platform/file_lock.h"
#include "platform/secure_random.h"
#include "platform/user_files.h"
#include "receiver/receiver_state.h"

Result<std::string> new_pairing_key() {
    std::array<unsigned char, PAIRING_KEY_BYTES> bytes{};
    if (Status filled = fill_secure_random(bytes.data(), bytes.size()); !filled.ok()) {
        return Result<std::string>::failure("Could not make a pairing key: " + filled.error());
    }
    std::string key =
        base64url(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return key;
}

namespace {

bool reads_as_pairing_key(std::string_view text) {
    return text.size() == PAIRING_KEY_CHARS &&
           text.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
               "0123456789-_") == std::string_view::npos;
}

}  // namespace

Result<std::string> stored_pairing_key(const std::filesystem::path& folder, bool renew,
                                       std::vector<std::string>& log) {
    using Out = Result<std::string>;
    if (Status made = make_private_folder(folder); !made.ok()) return Out::failure(made.error());
    // The identity's lock: two receivers started at once agree on one key.
    Result<FileLock> lock = lock_file(folder / IDENTITY_LOCK_FILE, IDENTITY_LOCK_PATIENCE);
    if (!lock.ok()) return Out::failure(lock.error());
    const std::filesystem::path file = folder / PAIRING_KEY_FILE;
    std::error_code error;
    if (!renew && std::filesystem::exists(file, error)) {
        Result<std::string> stored = read_whole_file(file);
        if (stored.ok() && reads_as_pairing_key(stored.value())) return stored;
        auto aside = set_file_aside(file);
        if (!aside.ok()) return Out::failure(aside.error());
        log.push_back("Identity file " + path_text(file) + " holds no pairing key (kept as " +
                      path_text(aside.value().filename()) + "): making a new one");
    }
    Result<std::string> key = new_pairing_key();
    if (!key.ok()) return key;
    if (Status written = write_file_atomically(file, key.value()); !written.ok()) {
        return Out::failure("Could not keep the pairing key: " + written.error());
    }
    return key;
}

Result<std::string> pairing_key_for(ReceiverState& state, bool renew) {
    if (state.identity_folder.empty()) return new_pairing_key();
    std::vector<std::string> log;
    Result<std::string> key = stored_pairing_key(state.identity_folder, renew, log);
    for (std::string& line : log) push_log_line(state, std::move(line));
    return key;
}

bool pairing_key_matches(std::string_view key, std::string_view given) {
    // The key's length is no secret (every key has the same); its bytes are.
    return key.size() == given.size() && CRYPTO_memcmp(key.data(), given.data(), key.size()) == 0;
}

bool query_carries_key(std::string_view key, std::string_view query) {
    const std::optional<std::string> given = query_member(query, "key");
    return given && pairing_key_matches(key, *given);
}

bool scan_key_accepted(ReceiverState& state, std::string_view query,
                       const std::string& client_address) {
    const std::string key = current_pairing_key(state);
    if (key.empty() || query_carries_key(key, query)) return true;
    if (state.refused_scan_log.allow(client_address, LogThrottle::Clock::now())) {
        push_log_line(state, "Refused a scan from " + client_address + ": wrong pairing key");
    }
    return false;
}
