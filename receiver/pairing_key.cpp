#include "receiver/pairing_key.h"

#include <array>
#include <cstdint>

#include <openssl/crypto.h>

#include "core/text_codes.h"
#include "platform/secure_random.h"
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

bool pairing_key_matches(std::string_view key, std::string_view given) {
    // The key's length is no secret (every key has the same); its bytes are.
    return key.size() == given.size() && CRYPTO_memcmp(key.data(), given.data(), key.size()) == 0;
}

bool scan_key_accepted(ReceiverState& state, std::string_view query,
                       const std::string& client_address) {
    const std::string key = current_pairing_key(state);
    if (key.empty()) return true;
    const std::optional<std::string> given = query_member(query, "key");
    if (given && pairing_key_matches(key, *given)) return true;
    if (state.refused_scan_log.allow(client_address, LogThrottle::Clock::now())) {
        push_log_line(state, "Refused a scan from " + client_address + ": wrong pairing key");
    }
    return false;
}
