// One accepted connection as a state machine that never blocks: TLS when the client starts
// with a handshake record, a redirect to the HTTPS address otherwise. An event loop moves it
// on whenever its socket is ready or its deadline has come.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/socket.h"
#include "server/connection_admission.h"
#include "server/http.h"

struct ReceiverState;
struct TlsServerConfig;
class TlsSession;
class EventStream;

using SteadyClock = std::chrono::steady_clock;

struct ConnectionLimits {
    int call_timeout_ms = 5000;  // the longest wait for each receive and each send
    // The TLS handshake and the request head (request line and headers) must have arrived by
    // then, and the whole request (body included) by `request_time`.
    std::chrono::milliseconds head_time{10000};
    std::chrono::milliseconds request_time{30000};
    // After the answer, the client's leftover bytes are read and dropped for this long.
    std::chrono::milliseconds linger_time{1000};
    // A kept connection waits this long for the client's next request.
    std::chrono::milliseconds idle_time{KEEP_ALIVE_TIMEOUT_SECONDS * 1000};
};

// What a connection waits for next.
struct ConnectionWait {
    enum class Kind {
        socket,    // readiness for `interest` (POLL_READABLE / POLL_WRITABLE), until `deadline`
        route,     // its request is to be answered off the loop: call answer() with the result
        pause,     // nothing to watch: call on_deadline() at `deadline`
        finished,  // nothing more: the connection is to be closed
    };
    Kind kind = Kind::finished;
    unsigned interest = 0;
    SteadyClock::time_point deadline{};
};

class Connection {
  public:
    // `socket` must be non-blocking.
    Connection(Socket socket, ConnectionSlot slot, std::shared_ptr<ReceiverState> state,
               std::shared_ptr<const TlsServerConfig> config, const ConnectionLimits& limits = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // How the connection's loop is asked to call on_woken() soon, from any thread: how a
    // kept connection given up for another of its client's learns it, and how an event
    // stream learns of a scan to send. Set before start().
    void set_waker(std::function<void()> wake) { wake_ = std::move(wake); }
    // Does what can be done now; call first, then after every wait.
    ConnectionWait start();
    // The socket is ready for what was asked, or broken.
    ConnectionWait on_ready();
    // The deadline of the last wait has passed.
    ConnectionWait on_deadline();
    // Asked through the waker: the new wait, or nullopt when the last one still holds.
    std::optional<ConnectionWait> on_woken();
    // For Kind::route: the request to answer, then its answer.
    const HttpRequest& request() const { return request_; }
    ReceiverState& state() const { return *state_; }
    ConnectionWait answer(const HttpResponse& response);

    const Socket& socket() const { return socket_; }

  private:
    enum class Phase {
        waiting_for_place,
        sniffing,
        plain_line,
        tls_request,
        routing,
        answering,
        kept,  // answered, open for the client's next request
        lingering,
        streaming  // GET /api/events: the event stream has the TLS session until the end
    };

    ConnectionWait wait_for(unsigned interest, SteadyClock::time_point deadline);
    ConnectionWait wait_for_place();
    SteadyClock::time_point reading_deadline() const;
    ConnectionWait sniff();
    ConnectionWait read_plain_line();
    ConnectionWait redirect(bool over_long);
    ConnectionWait read_tls_request();
    ConnectionWait request_decided(ReadOutcome outcome);
    ConnectionWait send_answer(std::string bytes);
    ConnectionWait continue_sending();
    ConnectionWait keep();
    ConnectionWait wait_while_kept();
    ConnectionWait resume_kept();
    ConnectionWait close_kept();
    ConnectionWait linger();

    Socket socket_;
    ConnectionSlot slot_;
    std::shared_ptr<ReceiverState> state_;
    std::shared_ptr<const TlsServerConfig> config_;
    ConnectionLimits limits_;
    Phase phase_ = Phase::sniffing;
    SteadyClock::time_point started_;
    SteadyClock::time_point last_progress_;
    SteadyClock::time_point deadline_{};  // of the current wait
    std::unique_ptr<TlsSession> tls_;     // on the TLS path, once the first byte is seen
    RequestReader reader_;
    std::string plain_line_;
    HttpRequest request_;
    std::string answer_;
    size_t answer_sent_ = 0;         // the plain path's own count; TLS keeps its own
    bool answer_encrypted_ = false;  // TLS: all of the answer is with the session
    bool keep_after_answer_ = false;
    int answered_ = 0;
    std::string next_request_bytes_;  // read with the last request, beyond its end
    SteadyClock::time_point kept_until_{};
    std::function<void()> wake_;
    size_t lingered_bytes_ = 0;
    std::unique_ptr<EventStream> stream_;  // after tls_, which it uses
};
