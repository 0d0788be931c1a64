// Readiness of many sockets at once, and a wake-up from other threads: epoll on Linux
// (platform/linux/poller_epoll.cpp), WSAPoll on Windows (platform/win32/poller_wsapoll.cpp).
// Level-triggered: a socket that stays ready is reported again on every wait.
#pragma once

#include <memory>
#include <vector>

#include "core/result.h"
#include "platform/socket.h"

inline constexpr unsigned POLL_READABLE = 1;
inline constexpr unsigned POLL_WRITABLE = 2;

struct PollEvent {
    void* key;
    // An error or hang-up reports both, so the owner's next read or write finds out.
    bool readable;
    bool writable;
};

class Poller {
  public:
    static Result<std::unique_ptr<Poller>> create();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // Starts (`added` false) or changes (`added` true) watching `socket` for `interest`; its
    // events carry `key`. A listener shared by several pollers wakes only one of them per
    // connection where the system allows it.
    Status watch(NativeSocket socket, void* key, unsigned interest, bool added);
    Status watch_listener(NativeSocket socket, void* key);
    // Stops watching; call before the socket is closed.
    void forget(NativeSocket socket);

    // Waits for events or a wake(), at most `timeout_ms` (-1: without end), and replaces
    // `events` with what happened. Returns early, with no event, after a wake().
    void wait(int timeout_ms, std::vector<PollEvent>& events);
    // Safe from any thread.
    void wake();

    struct Impl;
    explicit Poller(std::unique_ptr<Impl> impl);

  private:
    std::unique_ptr<Impl> impl_;
};
