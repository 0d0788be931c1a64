// epoll behind platform/poller.h; an eventfd carries wake-ups.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/os_error.h"
#include "platform/poller.h"

struct Poller::Impl {
    Socket epoll;
    Socket wake_event;
};

namespace {

uint32_t epoll_events(unsigned interest) {
    return (interest & POLL_READABLE ? EPOLLIN | EPOLLRDHUP : 0u) |
           (interest & POLL_WRITABLE ? EPOLLOUT : 0u);
}

Status control(int epoll, int operation, NativeSocket socket, void* key, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.ptr = key;
    if (epoll_ctl(epoll, operation, static_cast<int>(socket), &event) != 0) {
        return Status::failure(os_error_text(errno));
    }
    return Status::success();
}

}  // namespace

Poller::Poller(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Poller::~Poller() = default;

Result<std::unique_ptr<Poller>> Poller::create() {
    using Out = Result<std::unique_ptr<Poller>>;
    auto impl = std::make_unique<Impl>();
    impl->epoll = Socket(epoll_create1(EPOLL_CLOEXEC));
    impl->wake_event = Socket(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!impl->epoll.valid() || !impl->wake_event.valid())
        return Out::failure(os_error_text(errno));
    const int epoll = static_cast<int>(impl->epoll.native());
    // The wake-up's key is the Impl itself, which no caller can pass.
    if (Status added =
            control(epoll, EPOLL_CTL_ADD, impl->wake_event.native(), impl.get(), EPOLLIN);
        !added.ok()) {
        return Out::failure(added.error());
    }
    return std::make_unique<Poller>(std::move(impl));
}

Status Poller::watch(NativeSocket socket, void* key, unsigned interest, bool added) {
    return control(static_cast<int>(impl_->epoll.native()), added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD,
                   socket, key, epoll_events(interest));
}

Status Poller::watch_listener(NativeSocket socket, void* key) {
    // Every event loop watches the one listener; each connection wakes only one of them.
    return control(static_cast<int>(impl_->epoll.native()), EPOLL_CTL_ADD, socket, key,
                   EPOLLIN | EPOLLEXCLUSIVE);
}

void Poller::forget(NativeSocket socket) {
    epoll_ctl(static_cast<int>(impl_->epoll.native()), EPOLL_CTL_DEL, static_cast<int>(socket),
              nullptr);
}

void Poller::wait(int timeout_ms, std::vector<PollEvent>& events) {
    events.clear();
    std::array<epoll_event, 256> ready;
    const int count = epoll_wait(static_cast<int>(impl_->epoll.native()), ready.data(),
                                 static_cast<int>(ready.size()), timeout_ms);
    for (int i = 0; i < count; ++i) {
        if (ready[i].data.ptr == impl_.get()) {
            uint64_t wakes = 0;
            (void)!read(static_cast<int>(impl_->wake_event.native()), &wakes, sizeof wakes);
            continue;
        }
        const uint32_t what = ready[i].events;
        const bool broken = what & (EPOLLERR | EPOLLHUP);
        events.push_back({ready[i].data.ptr, broken || (what & (EPOLLIN | EPOLLRDHUP)),
                          broken || (what & EPOLLOUT)});
    }
}

void Poller::wake() {
    const uint64_t one = 1;
    (void)!write(static_cast<int>(impl_->wake_event.native()), &one, sizeof one);
}
