// IP Helper behind net/adapter_candidates.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <memory>
#include <new>
#include <string>

#include "core/utf8.h"
#include "platform/adapter_candidates.h"
#include "platform/win32/win32_handles.h"

namespace {

constexpr ULONG FIRST_BUFFER_BYTES = 15000;  // enough for most machines in one call
// Adapters that keep appearing between two calls must not keep the loop going for ever.
constexpr int MAX_ATTEMPTS = 8;

// GetAdaptersAddresses fills a caller-owned buffer of the size it asks for.
struct AdapterBuffer {
    std::unique_ptr<unsigned char[]> bytes;
    IP_ADAPTER_ADDRESSES* first() const {
        return reinterpret_cast<IP_ADAPTER_ADDRESSES*>(bytes.get());
    }
};

// Empty when the call fails for any other reason than a buffer that is too small.
AdapterBuffer query_adapters() {
    ULONG size = FIRST_BUFFER_BYTES;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        // new[] storage is aligned for any fundamental type, as the records need.
        AdapterBuffer buffer{
            std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size])};
        if (!buffer.bytes) break;
        ULONG result = GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, buffer.first(), &size);
        if (result == ERROR_SUCCESS) return buffer;
        if (result != ERROR_BUFFER_OVERFLOW) break;  // the size it reported is tried next
    }
    return {};
}

}  // namespace

std::vector<AdapterCandidate> list_adapter_candidates() {
    AdapterBuffer buffer = query_adapters();
    std::vector<AdapterCandidate> candidates;
    for (const IP_ADAPTER_ADDRESSES* adapter = buffer.first(); adapter != nullptr;
         adapter = adapter->Next) {
        std::string name;
        if (adapter->FriendlyName != nullptr) {
            name = utf8_from_utf16(utf16_view(adapter->FriendlyName));
        }
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr) continue;
            AdapterCandidate candidate;
            candidate.name = name;
            if (address->sa_family == AF_INET) {
                const auto* in = reinterpret_cast<const sockaddr_in*>(address);
                candidate.is_ipv4 = true;
                candidate.ipv4 = ntohl(in->sin_addr.s_addr);
            }
            candidates.push_back(std::move(candidate));
        }
    }
    return candidates;
}
