// Connections that hold a server thread each: they send a little now and then, never a
// whole request, as a slow or hostile client would.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/net_client.h"

enum class IdleKind {
    plain,   // "GET /" and then one more byte of the request line every second
    tls,     // a handshake record header announcing 16 KiB, then one byte every second
    silent,  // connects and never sends anything
};

// The `n`th of many client addresses in 127.0.0.0/8 (1: 127.0.0.2; never a .0 or .255).
std::string loopback_client_address(int n);

class IdleConnections {
  public:
    IdleConnections() = default;
    ~IdleConnections();
    IdleConnections(const IdleConnections&) = delete;
    IdleConnections& operator=(const IdleConnections&) = delete;

    // Opens `count` more connections from the loopback address `from` (empty: the default);
    // false when one could not be opened. Raises the open-file limit of the test process as
    // far as it goes.
    bool open(uint16_t port, size_t count, IdleKind kind, const std::string& from = "");
    // Starts sending one byte per connection every second.
    void start_dripping();
    // Closes the first connection (the server sees the end of the stream).
    void close_one();
    // How many connections the server has answered or closed so far.
    size_t closed_by_server();
    size_t size();

  private:
    void drip();

    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::vector<TcpConnection> connections_;
    std::vector<bool> closed_;
    std::vector<bool> silent_;
    std::thread dripper_;
};
