#include "app/receiver_state.h"

#include <utility>

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

void push_log_line(ReceiverState& state, std::string line) {
    {
        std::lock_guard lock(state.pending_log_lock);
        if (state.log_output) {
            // Headless: nobody drains the queue, so print at once and keep nothing.
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), state.log_output);
            std::fflush(state.log_output);
            return;
        }
        state.pending_log.push_back(std::move(line));
    }
    if (void* window = state.main_window.load(std::memory_order_relaxed)) {
        notify_log_pending(window);
    }
}

std::vector<std::string> take_log_lines(ReceiverState& state) {
    std::lock_guard lock(state.pending_log_lock);
    return std::exchange(state.pending_log, {});
}

std::string status_line(ReceiverState& state) {
    return "Port " + std::to_string(state.port.load(std::memory_order_relaxed)) + "  |  " +
           std::to_string(state.received_count.load()) + " scan(s)";
}
