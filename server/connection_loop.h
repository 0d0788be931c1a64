// An event loop that serves many connections on one thread: it accepts from the listeners it
// watches, moves each connection on when its socket is ready or its deadline comes, and hands
// requests that may block to a worker thread. With nothing to do it sleeps without waking.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/poller.h"
#include "server/connection.h"
#include "server/server_start.h"

class ConnectionLoop {
  public:
    static Result<std::unique_ptr<ConnectionLoop>> create();
    explicit ConnectionLoop(std::unique_ptr<Poller> poller);
    ~ConnectionLoop();
    ConnectionLoop(const ConnectionLoop&) = delete;
    ConnectionLoop& operator=(const ConnectionLoop&) = delete;

    // Runs `task` on the loop's thread soon; safe from any thread.
    void post(std::function<void()> task);

    // The rest runs on the loop's thread only (or before it runs).
    void adopt(std::unique_ptr<Connection> connection);
    // Starts watching `listener`, and stops watching every listener a later start replaced.
    void watch_listener(std::shared_ptr<ServerListener> listener);
    void run_forever();
    // Until no connection is left.
    void run_while_serving();

  private:
    struct Target {
        bool is_listener;
    };
    struct Tracked;
    struct WatchedListener;
    using Timers = std::multimap<SteadyClock::time_point, Tracked*>;

    void run_once();
    void run_posted_tasks();
    void accept_from(WatchedListener& watched);
    void drop_replaced_listeners();
    void drop_listener(WatchedListener& watched);
    void apply(Tracked& tracked, const ConnectionWait& wait);
    void route_on_worker(Tracked& tracked);
    void clear_timer(Tracked& tracked);
    int wait_timeout_ms() const;
    void fire_due_timers();

    std::unique_ptr<Poller> poller_;
    std::unordered_map<Tracked*, std::unique_ptr<Tracked>> tracked_;
    std::vector<std::unique_ptr<WatchedListener>> listeners_;
    Timers timers_;
    std::optional<SteadyClock::time_point> resume_listeners_at_;
    std::vector<PollEvent> events_;
    uint64_t serials_ = 0;

    std::mutex posted_lock_;
    std::vector<std::function<void()>> posted_;
};
