#include "server/pairing_key.h"

#include <array>
#include <cstdint>

#include <openssl/crypto.h>

#include "app/receiver_state.h"
#include "app/secure_random.h"

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%3D" becomes "="; a "%" without two hex digits after it stays as it is.
std::string percent_decoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hex_value(text[i + 1]);
            const int low = hex_value(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace

std::string base64url(std::string_view bytes) {
    static constexpr char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    uint32_t bits = 0;
    int held = 0;
    for (unsigned char byte : bytes) {
        bits = (bits << 8) | byte;
        held += 8;
        while (held >= 6) {
            held -= 6;
            out += ALPHABET[(bits >> held) & 0x3F];
        }
    }
    if (held > 0) out += ALPHABET[(bits << (6 - held)) & 0x3F];
    return out;
}

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

std::optional<std::string> query_member(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view member = query.substr(0, end);
        const size_t equals = member.find('=');
        if (member.substr(0, equals) == name) {
            return equals == std::string_view::npos ? std::string()
                                                    : percent_decoded(member.substr(equals + 1));
        }
        if (end == std::string_view::npos) break;
        query.remove_prefix(end + 1);
    }
    return std::nullopt;
}

bool pairing_key_matches(std::string_view key, std::string_view given) {
    // The key's length is no secret (every key has the same); its bytes are.
    return key.size() == given.size() && CRYPTO_memcmp(key.data(), given.data(), key.size()) == 0;
}

std::optional<HttpResponse> refuse_unpaired_scan(const HttpRequest& request, ReceiverState& state) {
    if (state.pairing_key.empty()) return std::nullopt;
    const std::optional<std::string> given = query_member(request.query, "key");
    if (given && pairing_key_matches(state.pairing_key, *given)) return std::nullopt;
    if (state.refused_scan_log.allow(request.client_address, LogThrottle::Clock::now())) {
        push_log_line(state,
                      "Refused a scan from " + request.client_address + ": wrong pairing key");
    }
    return HttpResponse{"403 Forbidden", std::string(JSON_CONTENT_TYPE),
                        std::string(PAIRING_KEY_REFUSAL)};
}
