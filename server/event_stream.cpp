#include "server/event_stream.h"

#include <array>

#include "platform/poller.h"
#include "receiver/live_scans.h"
#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_journal.h"
#include "server/tls_session.h"

namespace {

// Events are handed to the session this much at a time; the next only once it is sent, so the
// bytes waiting in the process are the feed's backlog and at most this.
constexpr size_t EVENT_CHUNK_BYTES = 16 * 1024;
// What a client may send on its stream (nothing is expected) per wake-up.
constexpr size_t MAX_DISCARDED_BYTES = 64 * 1024;

// 403 for a client that may not read it, 503 when every stream place is taken.
HttpResponse event_stream_refusal() {
    return {"403 Forbidden", std::string(JSON_CONTENT_TYPE),
            R"({"ok":false,"error":"Live scans are shown on this computer only"})"};
}

HttpResponse event_stream_busy() {
    return {"503 Service Unavailable", std::string(JSON_CONTENT_TYPE),
            R"({"ok":false,"error":"Too many live scan streams are open"})"};
}

// The stream's head: no length, since it never ends by itself, and no CORS header, so that a
// web page from elsewhere open on the computer cannot read the scans.
std::string event_stream_head() {
    return "HTTP/1.1 200 OK\r\n"
           "Content-Type: text/event-stream; charset=utf-8\r\n"
           "Cache-Control: no-store\r\n"
           "X-Accel-Buffering: no\r\n"
           "Connection: close\r\n"
           "\r\n";
}

}  // namespace

bool is_event_stream_request(const HttpRequest& request) {
    return request.method == "GET" && request.path == "/api/events";
}

bool event_stream_allowed(std::string_view client_address, const std::vector<AdapterEntry>& own,
                          std::string_view pairing_key, std::string_view query) {
    if (client_address.starts_with("127.")) return true;
    for (const AdapterEntry& entry : own) {
        if (!client_address.empty() && entry.address == client_address) return true;
    }
    return !pairing_key.empty() && query_carries_key(pairing_key, query);
}

EventStreamStart start_event_stream(TlsSession& tls, ReceiverState& state,
                                    const HttpRequest& request, std::function<void()> wake) {
    // The settings dialog may switch the pairing key while streams open.
    if (!event_stream_allowed(request.client_address, current_adapters(state),
                              current_pairing_key(state), request.query)) {
        return {nullptr, event_stream_refusal()};
    }
    std::unique_ptr<LiveScanSubscription> subscription =
        wake ? state.live_scans.subscribe(std::move(wake), local_date_today()) : nullptr;
    if (!subscription) return {nullptr, event_stream_busy()};
    return {
        std::make_unique<EventStream>(tls, std::move(subscription), state, request.client_address),
        {}};
}

EventStream::EventStream(TlsSession& tls, std::unique_ptr<LiveScanSubscription> subscription,
                         ReceiverState& state, std::string client_address)
    : tls_(tls),
      subscription_(std::move(subscription)),
      state_(state),
      client_address_(std::move(client_address)),
      out_(event_stream_head()),
      next_comment_(SteadyClock::now() + EVENT_STREAM_COMMENT_TIME) {}

EventStream::~EventStream() = default;

ConnectionWait EventStream::wait(unsigned interest) {
    return {ConnectionWait::Kind::socket, interest, next_comment_};
}

ConnectionWait EventStream::advance() {
    if (subscription_->dropped()) {
        push_log_line(state_, "Closed the live scan stream of " + client_address_ +
                                  ": it fell more than " +
                                  std::to_string(MAX_STREAM_BACKLOG_BYTES / 1024) + " KiB behind");
        return {};
    }
    // Whatever the client sends is dropped; reading notices it hanging up.
    std::array<char, 4096> discard;
    for (size_t discarded = 0; discarded < MAX_DISCARDED_BYTES;) {
        size_t count = 0;
        const TlsProgress progress = tls_.read(discard.data(), discard.size(), count);
        if (progress == TlsProgress::ended || progress == TlsProgress::failed) return {};
        if (progress != TlsProgress::done) break;
        discarded += count;
    }
    for (;;) {
        if (flushing_) {
            const TlsProgress progress = tls_.flush();
            if (progress == TlsProgress::want_write) return wait(POLL_READABLE | POLL_WRITABLE);
            if (progress != TlsProgress::done) return {};
            flushing_ = false;
            subscription_->sent();
            next_comment_ = SteadyClock::now() + EVENT_STREAM_COMMENT_TIME;
        }
        if (out_.empty()) out_ = subscription_->take(EVENT_CHUNK_BYTES);
        if (out_.empty()) return wait(POLL_READABLE);
        const TlsProgress progress = tls_.write(out_);
        if (progress == TlsProgress::want_write || progress == TlsProgress::want_read) {
            return wait(POLL_READABLE | POLL_WRITABLE);
        }
        if (progress != TlsProgress::done) return {};
        out_.clear();
        flushing_ = true;
    }
}

ConnectionWait EventStream::on_deadline() {
    if (SteadyClock::now() >= next_comment_ && out_.empty() && !flushing_) {
        out_ = ": keep-alive\n\n";
    }
    next_comment_ = SteadyClock::now() + EVENT_STREAM_COMMENT_TIME;
    return advance();
}
