// Admission of connections: the places held at once, process-wide and per client address, so
// that one misbehaving host on the network cannot take every place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// Connections held at once, process-wide; the event loops close any beyond this at once.
// Fewer when the open-file limit does not allow this many (set_connection_capacity).
inline constexpr int MAX_CONNECTIONS = 8192;
// Connections from one client address (IPv4) whose request has not been read in full yet:
// idle, slow or dribbling ones. One more from that address is closed at once, so no single
// client can take the places that every other client needs.
inline constexpr int MAX_UNREAD_CONNECTIONS_PER_CLIENT = 16;
// All connections from one client address, those being answered and closed included. A
// client that waits for each answer before connecting again never has more than twice
// MAX_UNREAD_CONNECTIONS_PER_CLIENT; this only stops one that never lets its answers end.
inline constexpr int MAX_CONNECTIONS_PER_CLIENT = 4 * MAX_UNREAD_CONNECTIONS_PER_CLIENT;

// Idle kept connections (answered, waiting for their client's next request) hold an unread
// place each. A client at one of its caps loses its oldest idle connection to a new one: the
// idle one's places go to the new one at once, and `close` tells the idle one's loop to close
// it (called under the admission lock; it must only post).
struct IdleConnection;

// A claim on one of the places and on one of its client's places, given back on destruction.
class ConnectionSlot {
  public:
    static std::optional<ConnectionSlot> claim(uint32_t client_ipv4);
    // For a client at its unread cap: a place that waits for one of the client's unread
    // places (take_unread_place), counted towards the client's whole limit meanwhile. A browser
    // loading a page of many modules opens more connections at once than the unread cap on a
    // slow receiver; they wait their turn instead of being reset. nullopt as for claim, or when
    // the client's whole limit is reached.
    static std::optional<ConnectionSlot> claim_waiting(uint32_t client_ipv4);
    ConnectionSlot(ConnectionSlot&& other) noexcept;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ~ConnectionSlot();

    uint32_t client_ipv4() const { return client_; }
    // The request has been read in full: the client's unread place is given back before the
    // answer can reach it, so its next connection never finds this one still counted.
    void mark_request_read();
    // A waiting slot has no unread place yet.
    bool waiting() const { return waiting_; }
    // Takes one of the client's unread places when one is free, closing the client's oldest
    // idle connection for it when none is; true once the slot has one.
    bool take_unread_place();
    // For the client's next request on this connection: an unread place if one is free (no
    // idle connection is closed for it); true once the slot has one.
    bool keep_unread_place();
    // The connection is idle, holding its unread place: it may be closed for a new connection
    // of its client, through `close`.
    void mark_idle(std::function<void()> close);
    // The idle connection has something to read: false when it was given up for a new
    // connection meanwhile (its places are gone; it is to be closed), else it is no longer idle.
    bool mark_busy();

  private:
    explicit ConnectionSlot(uint32_t client) : client_(client) {}
    static std::optional<ConnectionSlot> claim_place(uint32_t client_ipv4, bool may_wait);
    bool take_place(bool may_close_idle);
    bool given_up() const;
    uint32_t client_;
    bool held_ = true;
    bool unread_ = true;
    bool waiting_ = false;
    std::shared_ptr<IdleConnection> idle_;  // while idle, or once given up
};

int active_connection_count();
// At most MAX_CONNECTIONS; the default is MAX_CONNECTIONS.
void set_connection_capacity(int capacity);
int connection_capacity();
