// The receiver page's live scans: GET /api/events answered as a server-sent event stream that
// stays open. Only the computer itself may read it (scans are private), or a client that
// gives the pairing key when the receiver asks for one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/adapter_entry.h"
#include "server/connection.h"

class LiveScanSubscription;

// A comment goes out when a stream has sent nothing for this long, so that proxies and
// routers keep an idle stream open.
inline constexpr std::chrono::seconds EVENT_STREAM_COMMENT_TIME{25};

bool is_event_stream_request(const HttpRequest& request);

// Whether a client may read the stream: a loopback address, one of the computer's own
// addresses, or with a pairing key (`pairing_key` not empty) a query whose "key" is that key.
bool event_stream_allowed(std::string_view client_address, const std::vector<AdapterEntry>& own,
                          std::string_view pairing_key, std::string_view query);

// One open stream over a connection's TLS session: sends its events as they come, a comment
// when idle, and ends when the client hangs up or falls too far behind.
class EventStream {
  public:
    EventStream(TlsSession& tls, std::unique_ptr<LiveScanSubscription> subscription,
                ReceiverState& state, std::string client_address);
    ~EventStream();

    // The socket is ready, or there is something new to send.
    ConnectionWait advance();
    ConnectionWait on_deadline();

  private:
    ConnectionWait wait(unsigned interest);

    TlsSession& tls_;
    std::unique_ptr<LiveScanSubscription> subscription_;
    ReceiverState& state_;
    std::string client_address_;
    std::string out_;        // bytes for the session, the same again after a refusal to write
    bool flushing_ = false;  // what the session took is not all sent yet
    SteadyClock::time_point next_comment_;
};

// GET /api/events on a connection: its stream, or the refusal to answer with.
struct EventStreamStart {
    std::unique_ptr<EventStream> stream;
    HttpResponse refusal;
};
EventStreamStart start_event_stream(TlsSession& tls, ReceiverState& state,
                                    const HttpRequest& request, std::function<void()> wake);
