#include "server/connection_loop.h"

#include <utility>

#include "receiver/receiver_state.h"
#include "server/routes.h"
#include "server/worker_threads.h"

namespace {

// Connections taken from a listener per wake-up, so one busy listener cannot starve the
// connections already open.
constexpr int ACCEPT_BATCH = 32;
// How long a loop stops accepting when the system has no descriptor or buffer to spare;
// the waiting connections stay queued meanwhile.
constexpr std::chrono::milliseconds ACCEPT_PAUSE{100};

}  // namespace

struct ConnectionLoop::Tracked : Target {
    Tracked(std::unique_ptr<Connection> served, uint64_t number)
        : Target{false}, connection(std::move(served)), id(number) {}
    std::unique_ptr<Connection> connection;
    uint64_t id;  // tells it from a later connection at the same address
    unsigned interest = 0;
    bool watched = false;
    std::optional<Timers::iterator> timer;
};

struct ConnectionLoop::WatchedListener : Target {
    explicit WatchedListener(std::shared_ptr<ServerListener> shared)
        : Target{true}, listener(std::move(shared)) {}
    std::shared_ptr<ServerListener> listener;
    bool paused = false;
};

Result<std::unique_ptr<ConnectionLoop>> ConnectionLoop::create() {
    auto poller = Poller::create();
    if (!poller.ok()) return Result<std::unique_ptr<ConnectionLoop>>::failure(poller.error());
    return std::make_unique<ConnectionLoop>(std::move(poller.value()));
}

ConnectionLoop::ConnectionLoop(std::unique_ptr<Poller> poller) : poller_(std::move(poller)) {}

ConnectionLoop::~ConnectionLoop() {
    for (auto& [key, tracked] : tracked_) poller_->forget(tracked->connection->socket().native());
    // Before the posting lock goes: an event stream's feed may wake its connection till then.
    tracked_.clear();
    for (auto& watched : listeners_) poller_->forget(watched->listener->socket.native());
}

void ConnectionLoop::post(std::function<void()> task) {
    // Woken under the lock: a loop that serves one connection and then ends cannot take the
    // task, finish and be gone before the wake-up has been sent.
    std::lock_guard guard(posted_lock_);
    posted_.push_back(std::move(task));
    poller_->wake();
}

void ConnectionLoop::adopt(std::unique_ptr<Connection> connection) {
    auto owned = std::make_unique<Tracked>(std::move(connection), ++adopted_);
    Tracked& tracked = *owned;
    tracked_.emplace(&tracked, std::move(owned));
    tracked.connection->set_waker(
        [this, key = &tracked, id = tracked.id] { post([this, key, id] { wake(key, id); }); });
    apply(tracked, tracked.connection->start());
}

void ConnectionLoop::wake(Tracked* key, uint64_t id) {
    const auto found = tracked_.find(key);
    if (found == tracked_.end() || found->second->id != id) return;  // gone meanwhile
    if (std::optional<ConnectionWait> wait = key->connection->on_woken()) apply(*key, *wait);
}

void ConnectionLoop::watch_listener(std::shared_ptr<ServerListener> listener) {
    drop_replaced_listeners();
    auto watched = std::make_unique<WatchedListener>(std::move(listener));
    if (!poller_->watch_listener(watched->listener->socket.native(), watched.get()).ok()) return;
    listeners_.push_back(std::move(watched));
}

void ConnectionLoop::drop_replaced_listeners() {
    std::erase_if(listeners_, [this](const std::unique_ptr<WatchedListener>& watched) {
        if (watched->listener->current()) return false;
        poller_->forget(watched->listener->socket.native());
        return true;
    });
}

void ConnectionLoop::drop_listener(WatchedListener& watched) {
    poller_->forget(watched.listener->socket.native());
    std::erase_if(listeners_, [&](const auto& entry) { return entry.get() == &watched; });
}

void ConnectionLoop::run_forever() {
    for (;;) run_once();
}

void ConnectionLoop::run_while_serving() {
    while (!tracked_.empty()) run_once();
}

void ConnectionLoop::run_once() {
    poller_->wait(wait_timeout_ms(), events_);
    // Events first: a posted task may drop a listener that is still among them.
    for (const PollEvent& event : events_) {
        Target& target = *static_cast<Target*>(event.key);
        if (target.is_listener) {
            accept_from(static_cast<WatchedListener&>(target));
        } else {
            Tracked& tracked = static_cast<Tracked&>(target);
            apply(tracked, tracked.connection->on_ready());
        }
    }
    run_posted_tasks();
    fire_due_timers();
}

void ConnectionLoop::run_posted_tasks() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard guard(posted_lock_);
        tasks.swap(posted_);
    }
    for (auto& task : tasks) task();
}

void ConnectionLoop::accept_from(WatchedListener& watched) {
    ServerListener& listener = *watched.listener;
    // Replaced by a later start whose listener has not reached this loop yet.
    if (!listener.current()) return drop_listener(watched);
    for (int i = 0; i < ACCEPT_BATCH; ++i) {
        AcceptResult accepted = accept_connection(listener.socket);
        switch (accepted.outcome) {
            case AcceptOutcome::accepted:
                // Beyond every place, or its client's whole limit: closed at once. Beyond its
                // client's unread cap it waits for a place.
                if (std::optional<ConnectionSlot> slot =
                        ConnectionSlot::claim_waiting(accepted.peer_ipv4)) {
                    adopt(std::make_unique<Connection>(std::move(accepted.socket), std::move(*slot),
                                                       listener.state, listener.config));
                }
                break;
            case AcceptOutcome::would_block:
                return;
            case AcceptOutcome::out_of_resources:
                poller_->forget(listener.socket.native());
                watched.paused = true;
                resume_listeners_at_ = SteadyClock::now() + ACCEPT_PAUSE;
                return;
            case AcceptOutcome::failed:
                // The server ends silently; a new start brings it back.
                return drop_listener(watched);
        }
    }
}

void ConnectionLoop::clear_timer(Tracked& tracked) {
    if (!tracked.timer) return;
    timers_.erase(*tracked.timer);
    tracked.timer.reset();
}

void ConnectionLoop::apply(Tracked& tracked, const ConnectionWait& wait) {
    clear_timer(tracked);
    const NativeSocket socket = tracked.connection->socket().native();
    switch (wait.kind) {
        case ConnectionWait::Kind::finished:
            if (tracked.watched) poller_->forget(socket);
            tracked_.erase(&tracked);  // closes the socket and gives its place back
            return;
        case ConnectionWait::Kind::route:
            // Not watched meanwhile: a client that hangs up would otherwise be reported
            // again and again while its answer is made.
            if (tracked.watched) poller_->forget(socket);
            tracked.watched = false;
            route_on_worker(tracked);
            return;
        case ConnectionWait::Kind::pause:
            if (tracked.watched) poller_->forget(socket);
            tracked.watched = false;
            tracked.timer = timers_.emplace(wait.deadline, &tracked);
            return;
        case ConnectionWait::Kind::socket:
            break;
    }
    if (!tracked.watched || tracked.interest != wait.interest) {
        if (!poller_->watch(socket, &tracked, wait.interest, tracked.watched).ok()) {
            if (tracked.watched) poller_->forget(socket);
            tracked_.erase(&tracked);
            return;
        }
        tracked.watched = true;
        tracked.interest = wait.interest;
    }
    tracked.timer = timers_.emplace(wait.deadline, &tracked);
}

void ConnectionLoop::route_on_worker(Tracked& tracked) {
    Connection& connection = *tracked.connection;
    std::function<void()> job = [this, &tracked, request = connection.request(),
                                 &state = connection.state()] {
        HttpResponse response = route_request(request, state);
        post([this, &tracked, response = std::move(response)] {
            apply(tracked, tracked.connection->answer(response));
        });
    };
    // Without a thread to spare the loop answers itself: slower, but nothing is lost.
    if (!run_on_worker(job))
        apply(tracked, connection.answer(route_request(connection.request(), connection.state())));
}

int ConnectionLoop::wait_timeout_ms() const {
    std::optional<SteadyClock::time_point> next;
    if (!timers_.empty()) next = timers_.begin()->first;
    if (resume_listeners_at_ && (!next || *resume_listeners_at_ < *next))
        next = resume_listeners_at_;
    if (!next) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - SteadyClock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60 * 60 * 1000));
}

void ConnectionLoop::fire_due_timers() {
    const SteadyClock::time_point now = SteadyClock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        Tracked& tracked = *timers_.begin()->second;
        clear_timer(tracked);
        apply(tracked, tracked.connection->on_deadline());
    }
    if (resume_listeners_at_ && *resume_listeners_at_ <= now) {
        resume_listeners_at_.reset();
        for (auto& watched : listeners_) {
            if (!watched->paused) continue;
            watched->paused = false;
            (void)poller_->watch_listener(watched->listener->socket.native(), watched.get());
        }
    }
}
