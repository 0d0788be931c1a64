#include "receiver/receiver_state.h"

#include <utility>

#include "net/adapters.h"
#include "net/endpoint.h"

std::shared_ptr<ReceiverState> new_receiver_state(const ReceiverSettings& settings,
                                                  std::vector<AdapterEntry> adapters) {
    auto state = std::make_shared<ReceiverState>();
    state->adapters = std::move(adapters);
    state->port = settings.port;
    state->auto_type = settings.auto_type;
    state->press_enter = settings.press_enter;
    state->copy_to_clipboard = settings.copy_to_clipboard;
    state->typing = settings.typing;
    return state;
}

TypingOptions current_typing(ReceiverState& state) {
    std::lock_guard lock(state.typing_lock);
    return state.typing;
}

void set_typing(ReceiverState& state, TypingOptions typing) {
    std::lock_guard lock(state.typing_lock);
    state.typing = std::move(typing);
}

std::vector<AdapterEntry> current_adapters(ReceiverState& state) {
    std::lock_guard lock(state.adapters_lock);
    return state.adapters;
}

std::string current_pairing_key(ReceiverState& state) {
    std::lock_guard lock(state.pairing_key_lock);
    return state.pairing_key;
}

void set_pairing_key(ReceiverState& state, std::string key) {
    std::lock_guard lock(state.pairing_key_lock);
    state.pairing_key = std::move(key);
}

void push_log_line(ReceiverState& state, std::string line) {
    std::lock_guard lock(state.pending_log_lock);
    if (state.log_output) {
        // Headless: nobody drains the queue, so print at once and keep nothing.
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), state.log_output);
        std::fflush(state.log_output);
        return;
    }
    state.pending_log.push_back(std::move(line));
    if (state.log_observer) state.log_observer();
}

void set_log_observer(ReceiverState& state, std::function<void()> observer) {
    std::lock_guard lock(state.pending_log_lock);
    state.log_observer = std::move(observer);
}

std::vector<std::string> take_log_lines(ReceiverState& state) {
    std::lock_guard lock(state.pending_log_lock);
    return std::exchange(state.pending_log, {});
}

std::string status_line(ReceiverState& state) {
    return "Port " + std::to_string(state.port.load(std::memory_order_relaxed)) + "  |  " +
           std::to_string(state.received_count.load()) + " scan(s)";
}

std::string selected_lan_ip(ReceiverState& state) {
    std::lock_guard lock(state.adapters_lock);
    if (state.adapters.empty()) return FALLBACK_ADAPTER.address;
    const size_t index = state.selected_adapter.load(std::memory_order_relaxed);
    return state.adapters[index < state.adapters.size() ? index : 0].address;
}

std::string pairing_url(ReceiverState& state) {
    return pairing_url_for(selected_lan_ip(state), state.port.load(std::memory_order_relaxed),
                           current_pairing_key(state));
}

std::string trust_hint(ReceiverState& state) {
    if (state.ca_fingerprint.empty()) return {};
    return "Phones: open https://" + selected_lan_ip(state) + ":" +
           std::to_string(state.port.load(std::memory_order_relaxed)) +
           "/trust.html once to stop certificate warnings";
}
