#include "net/adapters.h"

#include <algorithm>

#include "core/utf8.h"

namespace {

// Lower-cases a name for matching against ASCII words. Only ASCII letters and U+212A KELVIN
// SIGN (whose lower case is "k") can lower-case into ASCII without a combining mark following
// (U+0130 becomes "i" + U+0307, and no word continues after an "i" with a mark), so every
// other character is kept as it is: the matches come out as with full Unicode lower-casing.
std::string lower_for_matching(std::string_view name) {
    std::string lower;
    lower.reserve(name.size());
    const std::string valid = utf8_lossy(name);
    for (size_t pos = 0; pos < valid.size();) {
        char32_t c = next_code_point(valid, pos);
        if (c >= U'A' && c <= U'Z') c += U'a' - U'A';
        if (c == 0x212A) c = U'k';
        append_utf8(lower, c);
    }
    return lower;
}

bool contains_virtual_word(std::string_view lower) {
    return std::any_of(VIRTUAL_ADAPTER_WORDS.begin(), VIRTUAL_ADAPTER_WORDS.end(),
                       [&](std::string_view word) { return lower.find(word) != lower.npos; });
}

}  // namespace

AdapterRankKey adapter_rank_key(const AdapterEntry& entry) {
    const std::string lower = lower_for_matching(entry.name);
    const std::string_view address = entry.address;
    AdapterRankKey key;
    key.is_virtual = contains_virtual_word(lower) ? 2 : 0;
    key.not_wired = lower.find("ethernet") != lower.npos || lower.starts_with("eth") ? 0 : 1;
    // 172.16.0.0/12 is private too, but ranks with the public ranges on purpose: it is the
    // range Docker, WSL and Hyper-V hand out, rarely the LAN a phone is on.
    key.not_private = address.starts_with("192.168.") || address.starts_with("10.") ? 0 : 1;
    key.name = entry.name;
    return key;
}

std::string dotted_ipv4(uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) text += '.';
        text += std::to_string((address >> shift) & 0xFF);
    }
    return text;
}

bool is_advertisable_ipv4(uint32_t address) {
    const uint32_t first = address >> 24;
    const uint32_t first_two = address >> 16;
    return address != 0 && first != 127 && first_two != 0xA9FE;  // 169.254
}

std::vector<AdapterEntry> rank_lan_adapters(const std::vector<AdapterCandidate>& candidates) {
    struct Ranked {
        AdapterRankKey key;
        AdapterEntry entry;
    };
    std::vector<Ranked> ranked;
    for (const AdapterCandidate& candidate : candidates) {
        if (!candidate.is_ipv4 || !is_advertisable_ipv4(candidate.ipv4)) continue;
        AdapterEntry entry{candidate.name, dotted_ipv4(candidate.ipv4)};
        ranked.push_back({adapter_rank_key(entry), std::move(entry)});
    }
    // Stable: equal keys (same name, same kind) keep the order the system reported.
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const Ranked& a, const Ranked& b) { return a.key < b.key; });

    std::vector<AdapterEntry> entries;
    entries.reserve(ranked.size());
    for (Ranked& r : ranked) entries.push_back(std::move(r.entry));
    if (entries.empty()) entries.push_back(FALLBACK_ADAPTER);
    return entries;
}
