#include "server/connection.h"

#include <algorithm>
#include <array>
#include <utility>

#include "net/adapters.h"
#include "net/endpoint.h"
#include "platform/poller.h"
#include "receiver/receiver_state.h"
#include "server/connection_loop.h"
#include "server/event_stream.h"
#include "server/plain_redirect.h"
#include "server/routes.h"
#include "server/tls_identity.h"
#include "server/tls_session.h"

namespace {

constexpr unsigned char TLS_HANDSHAKE_RECORD = 0x16;

// After an answer: how much of the client's leftover bytes are read and dropped.
constexpr size_t LINGER_BYTES = 64 * 1024;

// How often a connection waiting for one of its client's unread places looks again.
constexpr std::chrono::milliseconds PLACE_RETRY_TIME{10};

}  // namespace

Connection::Connection(Socket socket, ConnectionSlot slot, std::shared_ptr<ReceiverState> state,
                       std::shared_ptr<const TlsServerConfig> config,
                       const ConnectionLimits& limits)
    : socket_(std::move(socket)),
      slot_(std::move(slot)),
      state_(std::move(state)),
      config_(std::move(config)),
      limits_(limits),
      phase_(slot_.waiting() ? Phase::waiting_for_place : Phase::sniffing),
      started_(SteadyClock::now()),
      last_progress_(started_) {}

Connection::~Connection() = default;

ConnectionWait Connection::wait_for(unsigned interest, SteadyClock::time_point deadline) {
    deadline_ = deadline;
    return {ConnectionWait::Kind::socket, interest, deadline};
}

// While the request arrives: each receive may wait the per-call time, the handshake and head
// only until the head deadline, and the whole request until its own.
SteadyClock::time_point Connection::reading_deadline() const {
    SteadyClock::time_point deadline = started_ + limits_.request_time;
    if (!reader_.head_complete()) deadline = std::min(deadline, started_ + limits_.head_time);
    return std::min(deadline, last_progress_ + std::chrono::milliseconds(limits_.call_timeout_ms));
}

ConnectionWait Connection::start() {
    return phase_ == Phase::waiting_for_place ? wait_for_place() : sniff();
}

// Over its client's unread cap: nothing is read until one of the client's places frees, which
// may happen on another loop, so it looks again shortly. The head deadline counts from accept.
ConnectionWait Connection::wait_for_place() {
    if (slot_.take_unread_place()) {
        phase_ = Phase::sniffing;
        return sniff();
    }
    const SteadyClock::time_point give_up = started_ + limits_.head_time;
    const SteadyClock::time_point now = SteadyClock::now();
    if (now >= give_up) return {};
    deadline_ = std::min(now + PLACE_RETRY_TIME, give_up);
    return {ConnectionWait::Kind::pause, 0, deadline_};
}

ConnectionWait Connection::on_ready() {
    // A routed request and an event stream keep no connection deadline of their own here.
    if (phase_ != Phase::routing && phase_ != Phase::streaming && SteadyClock::now() >= deadline_) {
        return on_deadline();
    }
    switch (phase_) {
        case Phase::waiting_for_place:
            return wait_for_place();
        case Phase::sniffing:
            return sniff();
        case Phase::plain_line:
            return read_plain_line();
        case Phase::tls_request:
            return read_tls_request();
        case Phase::routing:
            return {ConnectionWait::Kind::route};
        case Phase::answering:
            return continue_sending();
        case Phase::kept:
            return resume_kept();
        case Phase::lingering:
            return linger();
        case Phase::streaming:
            return stream_->advance();
    }
    return {};
}

ConnectionWait Connection::on_deadline() {
    switch (phase_) {
        case Phase::waiting_for_place:
            return wait_for_place();
        case Phase::plain_line:
            return redirect(false);  // what arrived is redirected
        case Phase::tls_request:
            return request_decided(reader_.read_failed());
        case Phase::routing:
            return {ConnectionWait::Kind::route};
        case Phase::kept:
            return close_kept();
        case Phase::streaming:
            return stream_->on_deadline();
        default:
            return {};  // a silent client, or one that does not take its answer
    }
}

std::optional<ConnectionWait> Connection::on_woken() {
    if (phase_ == Phase::streaming) return stream_->advance();  // a scan to send
    if (phase_ != Phase::kept) return std::nullopt;
    return resume_kept();
}

// The first byte tells a TLS client (handshake record) from a browser speaking plain HTTP.
// A peer that closed at once reads as byte 0 and takes the plain path.
ConnectionWait Connection::sniff() {
    char first = 0;
    const std::ptrdiff_t n = peek_bytes(socket_, &first, 1);
    if (n == SOCKET_WOULD_BLOCK) return wait_for(POLL_READABLE, reading_deadline());
    if (n < 0) return {};
    if (static_cast<unsigned char>(first) != TLS_HANDSHAKE_RECORD) {
        phase_ = Phase::plain_line;
        return read_plain_line();
    }
    auto tls = TlsSession::open(*config_, socket_);
    if (!tls.ok()) return {};
    tls_ = std::move(tls.value());
    phase_ = Phase::tls_request;
    return read_tls_request();
}

// Bytes up to and including the first line feed, the end of the stream, the first error or
// the deadline.
ConnectionWait Connection::read_plain_line() {
    std::array<char, MAX_REDIRECT_LINE_BYTES> buffer;
    while (plain_line_.size() < MAX_REDIRECT_LINE_BYTES) {
        const size_t room = MAX_REDIRECT_LINE_BYTES - plain_line_.size();
        const std::ptrdiff_t n = receive_bytes(socket_, buffer.data(), room);
        if (n == SOCKET_WOULD_BLOCK) return wait_for(POLL_READABLE, reading_deadline());
        if (n <= 0) return redirect(false);
        last_progress_ = SteadyClock::now();
        const std::string_view chunk(buffer.data(), static_cast<size_t>(n));
        const size_t feed = chunk.find('\n');
        if (feed != std::string_view::npos) {
            plain_line_.append(chunk.substr(0, feed + 1));
            return redirect(false);
        }
        plain_line_.append(chunk);
    }
    return redirect(true);
}

ConnectionWait Connection::redirect(bool over_long) {
    const std::string target = redirect_target(plain_line_, over_long);
    slot_.mark_request_read();
    return send_answer(redirect_response(selected_lan_ip(*state_),
                                         state_->port.load(std::memory_order_relaxed), target));
}

ConnectionWait Connection::read_tls_request() {
    std::array<char, READ_BUFFER_BYTES> buffer;
    for (;;) {
        const uint64_t moved = tls_->socket_bytes();
        size_t count = 0;
        const TlsProgress progress =
            tls_->read(buffer.data(), std::min(buffer.size(), reader_.wanted()), count);
        if (tls_->socket_bytes() != moved) last_progress_ = SteadyClock::now();
        switch (progress) {
            case TlsProgress::done:
                if (std::optional<ReadOutcome> outcome = reader_.feed({buffer.data(), count})) {
                    return request_decided(*outcome);
                }
                break;
            case TlsProgress::want_read:
                // A kept connection's wake-up that brought no byte of a request (a part of a
                // record, say) leaves it idle.
                if (answered_ > 0 && reader_.untouched()) return wait_while_kept();
                return wait_for(POLL_READABLE, reading_deadline());
            case TlsProgress::want_write:
                return wait_for(POLL_WRITABLE, reading_deadline());
            case TlsProgress::ended:
                return request_decided(reader_.end_of_stream());
            case TlsProgress::failed:
                return request_decided(reader_.read_failed());
        }
    }
}

ConnectionWait Connection::request_decided(ReadOutcome outcome) {
    if (reader_.head_complete()) slot_.mark_request_read();
    switch (outcome) {
        case ReadOutcome::close_without_answer:
            return {};
        case ReadOutcome::incomplete_body:
            return send_answer(response_bytes(incomplete_body_response()));
        case ReadOutcome::request:
            break;
    }
    request_ = reader_.take_request();
    next_request_bytes_ = reader_.take_surplus();
    request_.client_address = dotted_ipv4(slot_.client_ipv4());
    if (is_event_stream_request(request_)) {
        EventStreamStart started = start_event_stream(*tls_, *state_, request_, wake_);
        if (!started.stream) return answer(started.refusal);
        stream_ = std::move(started.stream);
        phase_ = Phase::streaming;
        return stream_->advance();
    }
    if (route_may_block(request_)) {
        phase_ = Phase::routing;
        return {ConnectionWait::Kind::route};
    }
    return answer(route_request(request_, *state_));
}

// The connection stays open for the next request when the client asks for it, has requests
// left, and an unread place is free for it: a client at its cap gets its answer with "close".
ConnectionWait Connection::answer(const HttpResponse& response) {
    ++answered_;
    keep_after_answer_ =
        request_.keep_alive && answered_ < MAX_REQUESTS_PER_CONNECTION && slot_.keep_unread_place();
    return send_answer(response_bytes(response, keep_after_answer_));
}

ConnectionWait Connection::send_answer(std::string bytes) {
    phase_ = Phase::answering;
    answer_ = std::move(bytes);
    last_progress_ = SteadyClock::now();
    return continue_sending();
}

ConnectionWait Connection::continue_sending() {
    const auto send_deadline = [this] {
        return last_progress_ + std::chrono::milliseconds(limits_.call_timeout_ms);
    };
    if (tls_) {
        const uint64_t moved = tls_->socket_bytes();
        TlsProgress progress = TlsProgress::done;
        if (!answer_encrypted_) {
            progress = tls_->write(answer_);
            if (progress == TlsProgress::done) {
                answer_encrypted_ = true;
                if (!keep_after_answer_) tls_->close_notify();
            }
        }
        if (progress == TlsProgress::done) progress = tls_->flush();
        if (tls_->socket_bytes() != moved) last_progress_ = SteadyClock::now();
        switch (progress) {
            case TlsProgress::done:
                break;
            case TlsProgress::want_read:
                return wait_for(POLL_READABLE, send_deadline());
            case TlsProgress::want_write:
                return wait_for(POLL_WRITABLE, send_deadline());
            default:
                return {};
        }
    } else {
        while (answer_sent_ < answer_.size()) {
            const std::ptrdiff_t n =
                send_bytes(socket_, answer_.data() + answer_sent_, answer_.size() - answer_sent_);
            if (n == SOCKET_WOULD_BLOCK) return wait_for(POLL_WRITABLE, send_deadline());
            if (n <= 0) return {};
            answer_sent_ += static_cast<size_t>(n);
            last_progress_ = SteadyClock::now();
        }
    }
    answer_ = {};
    if (keep_after_answer_) return keep();
    // The answer is out: send FIN, then read and drop what the client still sends (briefly,
    // and only so much), so unread request bytes do not turn the close into a reset that
    // could destroy the answer before the client has read it.
    if (!shutdown_sending(socket_).ok()) return {};
    phase_ = Phase::lingering;
    deadline_ = SteadyClock::now() + limits_.linger_time;
    return linger();
}

// The answer is out and the connection stays: a fresh request starts, at once when the client
// has sent it along with the last one.
ConnectionWait Connection::keep() {
    reader_ = RequestReader();
    request_ = {};
    answer_encrypted_ = false;
    keep_after_answer_ = false;
    kept_until_ = SteadyClock::now() + limits_.idle_time;
    if (!next_request_bytes_.empty() || (tls_ && tls_->has_buffered())) return resume_kept();
    return wait_while_kept();
}

// Idle: it holds its client's unread place, which a newer connection of the client may take.
ConnectionWait Connection::wait_while_kept() {
    phase_ = Phase::kept;
    slot_.mark_idle(wake_);
    return wait_for(POLL_READABLE, kept_until_);
}

// Bytes arrived, or the connection was given up for another. The next request has the same
// deadlines as a connection's first, counted from here.
ConnectionWait Connection::resume_kept() {
    if (!slot_.mark_busy()) return close_kept();
    phase_ = Phase::tls_request;
    started_ = SteadyClock::now();
    last_progress_ = started_;
    if (!next_request_bytes_.empty()) {
        const std::string bytes = std::exchange(next_request_bytes_, {});
        if (std::optional<ReadOutcome> outcome = reader_.feed(bytes)) {
            return request_decided(*outcome);
        }
    }
    return read_tls_request();
}

// Idle too long, or given up: closed as after a last answer, with close_notify and FIN, so a
// request on its way meets a clean end that the client may send again elsewhere.
ConnectionWait Connection::close_kept() {
    slot_.mark_busy();
    slot_.mark_request_read();
    phase_ = Phase::answering;
    return continue_sending();
}

ConnectionWait Connection::linger() {
    std::array<char, 4096> discard;
    while (lingered_bytes_ < LINGER_BYTES) {
        const std::ptrdiff_t n = receive_bytes(socket_, discard.data(), discard.size());
        if (n == SOCKET_WOULD_BLOCK) return wait_for(POLL_READABLE, deadline_);
        if (n <= 0) return {};
        lingered_bytes_ += static_cast<size_t>(n);
    }
    return {};
}
