// A TCP proxy on 127.0.0.1 that delays every byte by half a round trip each way, so that a
// client on loopback sees the receiver as over a slow link (shop Wi-Fi, a phone saving power)
// without root rights or traffic shaping. A new connection's first bytes also wait one round
// trip more, as the TCP handshake would make them.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "core/result.h"

struct DelayProxyState;

class DelayProxy {
  public:
    // Listens on a free port of 127.0.0.1 and forwards each connection to 127.0.0.1:{target}.
    // The proxy's threads run until the process ends.
    static Result<std::unique_ptr<DelayProxy>> start(uint16_t target,
                                                     std::chrono::milliseconds round_trip);
    explicit DelayProxy(std::shared_ptr<DelayProxyState> state) : state_(std::move(state)) {}
    uint16_t port() const;
    // Connections accepted so far.
    int accepted() const;

  private:
    std::shared_ptr<DelayProxyState> state_;
};
