#include "platform/adapter_candidates.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

#include "core/utf8.h"

namespace {

struct IfaddrsFree {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::vector<AdapterCandidate> list_adapter_candidates() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return {};
    std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);

    std::vector<AdapterCandidate> candidates;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr) continue;
        AdapterCandidate candidate;
        // Interface names are bytes on Linux; keep the label displayable.
        candidate.name = utf8_lossy(entry->ifa_name);
        switch (entry->ifa_addr->sa_family) {
            case AF_INET: {
                const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
                candidate.is_ipv4 = true;
                candidate.ipv4 = ntohl(in->sin_addr.s_addr);
                break;
            }
            case AF_INET6:
                break;
            default:
                continue;  // link-layer (AF_PACKET) entries are not addresses
        }
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}
