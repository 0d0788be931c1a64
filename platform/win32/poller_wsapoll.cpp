// WSAPoll behind platform/poller.h. Wake-ups arrive as a datagram on a loopback UDP socket
// connected to itself, since WSAPoll waits for sockets only.
#include <winsock2.h>
#include <windows.h>

#include <unordered_map>

#include "platform/os_error.h"
#include "platform/poller.h"

struct Poller::Impl {
    struct Watched {
        void* key;
        unsigned interest;
    };
    Socket wake_socket;
    std::unordered_map<SOCKET, Watched> watched;
    std::vector<WSAPOLLFD> entries;  // rebuilt for every wait
};

namespace {

Status last_socket_error() {
    return Status::failure(os_error_text(WSAGetLastError()));
}

Result<Socket> self_connected_datagram_socket() {
    Socket socket(static_cast<NativeSocket>(
        WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
    if (!socket.valid()) return Result<Socket>::failure(last_socket_error().error());
    const SOCKET handle = static_cast<SOCKET>(socket.native());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return Result<Socket>::failure(last_socket_error().error());
    }
    (void)set_nonblocking(socket, true);
    return socket;
}

}  // namespace

Poller::Poller(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Poller::~Poller() = default;

Result<std::unique_ptr<Poller>> Poller::create() {
    using Out = Result<std::unique_ptr<Poller>>;
    if (Status ready = prepare_sockets(); !ready.ok()) return Out::failure(ready.error());
    auto impl = std::make_unique<Impl>();
    Result<Socket> wake_socket = self_connected_datagram_socket();
    if (!wake_socket.ok()) return Out::failure(wake_socket.error());
    impl->wake_socket = std::move(wake_socket.value());
    return std::make_unique<Poller>(std::move(impl));
}

Status Poller::watch(NativeSocket socket, void* key, unsigned interest, bool) {
    impl_->watched[static_cast<SOCKET>(socket)] = {key, interest};
    return Status::success();
}

Status Poller::watch_listener(NativeSocket socket, void* key) {
    // Every loop is woken; those that lose the race find nothing to accept.
    return watch(socket, key, POLL_READABLE, false);
}

void Poller::forget(NativeSocket socket) {
    impl_->watched.erase(static_cast<SOCKET>(socket));
}

void Poller::wait(int timeout_ms, std::vector<PollEvent>& events) {
    events.clear();
    std::vector<WSAPOLLFD>& entries = impl_->entries;
    entries.clear();
    entries.push_back({static_cast<SOCKET>(impl_->wake_socket.native()), POLLRDNORM, 0});
    std::vector<void*> keys{nullptr};
    for (const auto& [handle, watched] : impl_->watched) {
        if (watched.interest == 0) continue;
        const SHORT wanted =
            static_cast<SHORT>((watched.interest & POLL_READABLE ? POLLRDNORM : 0) |
                               (watched.interest & POLL_WRITABLE ? POLLWRNORM : 0));
        entries.push_back({handle, wanted, 0});
        keys.push_back(watched.key);
    }
    const int count = WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeout_ms);
    if (count <= 0) return;
    if (entries[0].revents != 0) {
        char drained[64];
        while (recv(entries[0].fd, drained, sizeof drained, 0) > 0) {
        }
    }
    for (size_t i = 1; i < entries.size(); ++i) {
        const SHORT what = entries[i].revents;
        if (what == 0) continue;
        const bool broken = what & (POLLERR | POLLHUP | POLLNVAL);
        events.push_back({keys[i], broken || (what & POLLRDNORM), broken || (what & POLLWRNORM)});
    }
}

void Poller::wake() {
    const char one = 1;
    send(static_cast<SOCKET>(impl_->wake_socket.native()), &one, 1, 0);
}
