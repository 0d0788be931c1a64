#include "server/connection_admission.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace {

std::atomic<int> active_connections{0};
std::atomic<int> capacity{MAX_CONNECTIONS};

struct ClientPlaces {
    int unread = 0;
    int open = 0;
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

}  // namespace

std::optional<ConnectionSlot> ConnectionSlot::claim_place(uint32_t client_ipv4, bool may_wait) {
    if (active_connections.fetch_add(1) >= capacity.load()) {
        active_connections.fetch_sub(1);
        return std::nullopt;
    }
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    ClientPlaces& places = table.places[client_ipv4];
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

bool ConnectionSlot::take_unread_place() {
    if (!waiting_) return held_;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    ClientPlaces& places = table.places[client_];
    if (places.unread >= MAX_UNREAD_CONNECTIONS_PER_CLIENT) return false;
    ++places.unread;
    unread_ = true;
    waiting_ = false;
    return true;
}

ConnectionSlot::ConnectionSlot(ConnectionSlot&& other) noexcept
    : client_(other.client_),
      held_(std::exchange(other.held_, false)),
      unread_(std::exchange(other.unread_, false)),
      waiting_(std::exchange(other.waiting_, false)) {}

void ConnectionSlot::mark_request_read() {
    if (!held_ || !unread_) return;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    --table.places[client_].unread;
    unread_ = false;
}

ConnectionSlot::~ConnectionSlot() {
    if (!held_) return;
    {
        ClientTable& table = client_table();
        std::lock_guard guard(table.lock);
        auto entry = table.places.find(client_);
        if (unread_) --entry->second.unread;
        if (--entry->second.open == 0) table.places.erase(entry);
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
