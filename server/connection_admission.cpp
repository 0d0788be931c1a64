#include "server/connection_admission.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

struct IdleConnection {
    std::function<void()> close;
    bool given_up = false;  // under the table's lock
};

namespace {

std::atomic<int> active_connections{0};
std::atomic<int> capacity{MAX_CONNECTIONS};

struct ClientPlaces {
    int unread = 0;
    int open = 0;
    std::deque<std::shared_ptr<IdleConnection>> idle;  // the oldest first
};

// Only clients with a connection open have an entry, so the table stays small.
struct ClientTable {
    std::mutex lock;
    std::unordered_map<uint32_t, ClientPlaces> places;
};

ClientTable& client_table() {
    static ClientTable* const table = new ClientTable();  // never destroyed: threads outlive exit
    return *table;
}

// Gives the client's oldest idle connection up: its unread and open places are free at once,
// and its loop is told to close it. False when the client has none.
bool give_up_oldest_idle(ClientPlaces& places) {
    if (places.idle.empty()) return false;
    std::shared_ptr<IdleConnection> oldest = std::move(places.idle.front());
    places.idle.pop_front();
    oldest->given_up = true;
    --places.unread;
    --places.open;
    if (oldest->close) oldest->close();
    return true;
}

void forget_idle(ClientPlaces& places, const std::shared_ptr<IdleConnection>& idle) {
    std::erase(places.idle, idle);
}

}  // namespace

std::optional<ConnectionSlot> ConnectionSlot::claim_place(uint32_t client_ipv4, bool may_wait) {
    if (active_connections.fetch_add(1) >= capacity.load()) {
        active_connections.fetch_sub(1);
        return std::nullopt;
    }
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    ClientPlaces& places = table.places[client_ipv4];
    if (places.unread >= MAX_UNREAD_CONNECTIONS_PER_CLIENT ||
        places.open >= MAX_CONNECTIONS_PER_CLIENT) {
        give_up_oldest_idle(places);
    }
    const bool unread_place = places.unread < MAX_UNREAD_CONNECTIONS_PER_CLIENT;
    if ((!unread_place && !may_wait) || places.open >= MAX_CONNECTIONS_PER_CLIENT) {
        if (places.open == 0) table.places.erase(client_ipv4);
        active_connections.fetch_sub(1);
        return std::nullopt;
    }
    ++places.open;
    ConnectionSlot slot(client_ipv4);
    if (unread_place) {
        ++places.unread;
    } else {
        slot.unread_ = false;
        slot.waiting_ = true;
    }
    return slot;
}

std::optional<ConnectionSlot> ConnectionSlot::claim(uint32_t client_ipv4) {
    return claim_place(client_ipv4, false);
}

std::optional<ConnectionSlot> ConnectionSlot::claim_waiting(uint32_t client_ipv4) {
    return claim_place(client_ipv4, true);
}

bool ConnectionSlot::take_place(bool may_close_idle) {
    if (unread_) return true;
    if (!held_) return false;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    if (given_up()) return false;
    ClientPlaces& places = table.places[client_];
    if (places.unread >= MAX_UNREAD_CONNECTIONS_PER_CLIENT &&
        !(may_close_idle && give_up_oldest_idle(places))) {
        return false;
    }
    ++places.unread;
    unread_ = true;
    waiting_ = false;
    return true;
}

bool ConnectionSlot::take_unread_place() {
    return take_place(true);
}

bool ConnectionSlot::keep_unread_place() {
    return take_place(false);
}

void ConnectionSlot::mark_idle(std::function<void()> close) {
    if (!held_ || !unread_) return;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    if (idle_) return;
    idle_ = std::make_shared<IdleConnection>(IdleConnection{std::move(close)});
    table.places[client_].idle.push_back(idle_);
}

bool ConnectionSlot::mark_busy() {
    if (!idle_) return true;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    if (idle_->given_up) return false;
    forget_idle(table.places[client_], idle_);
    idle_.reset();
    return true;
}

// Under the table's lock.
bool ConnectionSlot::given_up() const {
    return idle_ && idle_->given_up;
}

ConnectionSlot::ConnectionSlot(ConnectionSlot&& other) noexcept
    : client_(other.client_),
      held_(std::exchange(other.held_, false)),
      unread_(std::exchange(other.unread_, false)),
      waiting_(std::exchange(other.waiting_, false)),
      idle_(std::move(other.idle_)) {}

void ConnectionSlot::mark_request_read() {
    if (!held_ || !unread_) return;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    if (!given_up()) --table.places[client_].unread;
    unread_ = false;
}

ConnectionSlot::~ConnectionSlot() {
    if (!held_) return;
    {
        ClientTable& table = client_table();
        std::lock_guard guard(table.lock);
        // A slot given up has no places of its client left to give back.
        if (!given_up()) {
            auto entry = table.places.find(client_);
            if (idle_) forget_idle(entry->second, idle_);
            if (unread_) --entry->second.unread;
            if (--entry->second.open == 0) table.places.erase(entry);
        }
    }
    active_connections.fetch_sub(1);
}

int active_connection_count() {
    return active_connections.load();
}

void set_connection_capacity(int places) {
    capacity = std::clamp(places, 1, MAX_CONNECTIONS);
}

int connection_capacity() {
    return capacity.load();
}
