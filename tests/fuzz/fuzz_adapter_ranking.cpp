// Adapter ranking on any list of candidates. Input: one candidate per line, "4 a.b.c.d name"
// for an IPv4 address (each number taken modulo 256) or "6 name" for another family.
//
// Checked: the result is never empty; it holds exactly the advertisable IPv4 candidates (or
// the single fallback when there are none), sorted by adapter_rank_key, with candidates of
// equal keys in the order they were reported.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/adapters.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// "a.b.c.d" at the start of `text`, each number modulo 256; the rest after one blank.
uint32_t read_address(std::string_view& text) {
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        uint32_t number = 0;
        while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
            number = (number * 10 + static_cast<uint32_t>(text.front() - '0')) % 256;
            text.remove_prefix(1);
        }
        address = address << 8 | number;
        if (part < 3 && !text.empty() && text.front() == '.') text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return address;
}

std::vector<AdapterCandidate> read_candidates(std::string_view input) {
    std::vector<AdapterCandidate> candidates;
    while (!input.empty()) {
        const size_t feed = input.find('\n');
        std::string_view line = input.substr(0, feed);
        input.remove_prefix(feed == input.npos ? input.size() : feed + 1);
        AdapterCandidate candidate;
        candidate.is_ipv4 = line.starts_with("4 ");
        line.remove_prefix(std::min<size_t>(2, line.size()));
        if (candidate.is_ipv4) candidate.ipv4 = read_address(line);
        candidate.name = line;
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto candidates = read_candidates({reinterpret_cast<const char*>(data), size});
    std::vector<AdapterEntry> kept;
    for (const AdapterCandidate& c : candidates) {
        if (c.is_ipv4 && is_advertisable_ipv4(c.ipv4))
            kept.push_back({c.name, dotted_ipv4(c.ipv4)});
    }
    const std::vector<AdapterEntry> ranked = rank_lan_adapters(candidates);

    if (kept.empty()) {
        FUZZ_CHECK(ranked == std::vector<AdapterEntry>{FALLBACK_ADAPTER}, "the fallback alone");
        return 0;
    }
    FUZZ_CHECK(ranked.size() == kept.size(), "every advertisable candidate, nothing else");
    std::vector<bool> used(kept.size(), false);
    size_t previous_index = 0;
    for (size_t i = 0; i < ranked.size(); ++i) {
        // Equal entries cannot be told apart, so the first unused one stands for it.
        size_t index = 0;
        while (index < kept.size() && (used[index] || kept[index] != ranked[i])) ++index;
        FUZZ_CHECK(index < kept.size(), "each ranked entry is a kept candidate");
        used[index] = true;
        const AdapterRankKey key = adapter_rank_key(ranked[i]);
        FUZZ_CHECK((key.is_virtual == 0 || key.is_virtual == 2) && key.not_wired >= 0 &&
                       key.not_wired <= 1 && key.not_private >= 0 && key.not_private <= 1,
                   "key fields in range");
        if (i > 0) {
            const AdapterRankKey before = adapter_rank_key(ranked[i - 1]);
            FUZZ_CHECK(before <= key, "sorted by key");
            FUZZ_CHECK(before < key || previous_index < index, "equal keys in reported order");
        }
        previous_index = index;
    }
    return 0;
}
