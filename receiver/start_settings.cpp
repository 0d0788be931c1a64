#include "receiver/start_settings.h"

#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "receiver/settings_store.h"

StartSettings load_start_settings(const CommandLine& command_line,
                                  std::vector<std::string>& notes) {
    StartSettings start;
    start.command_line = command_line;
    if (command_line.ignore_settings) return start;
    const SavedValues saved = load_saved_values(notes);
    for (std::string& line : apply_saved_values(saved, start)) notes.push_back(std::move(line));
    return start;
}

size_t adapter_index(const std::vector<AdapterEntry>& adapters, std::string_view address) {
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (!address.empty() && adapters[i].address == address) return i;
    }
    return 0;
}

void apply_start_settings(ReceiverState& state, const StartSettings& start) {
    {
        std::lock_guard lock(state.adapters_lock);
        state.selected_adapter = adapter_index(state.adapters, start.adapter);
    }
    state.close_to_tray = start.close_to_tray;
    state.start_with_windows = start.start_with_windows;
    state.saving_settings = !start.command_line.ignore_settings;
}

void save_setting(ReceiverState& state, std::string_view name, std::string_view value) {
    if (!state.saving_settings) return;
    const Status saved = save_saved_value(name, value);
    if (!saved.ok() && !state.save_failure_logged.exchange(true)) {
        push_log_line(state,
                      "Could not save the setting " + std::string(name) + ": " + saved.error());
    }
}

StartSettings settings_in_use(ReceiverState& state) {
    StartSettings now;
    ReceiverSettings& settings = now.command_line.settings;
    settings.port = state.port.load(std::memory_order_relaxed);
    settings.auto_type = state.auto_type.load(std::memory_order_relaxed);
    settings.press_enter = state.press_enter.load(std::memory_order_relaxed);
    settings.copy_to_clipboard = state.copy_to_clipboard.load(std::memory_order_relaxed);
    settings.typing = current_typing(state);
    now.command_line.pairing_key = !current_pairing_key(state).empty();
    now.adapter = selected_lan_ip(state);
    now.start_with_windows = state.start_with_windows.load(std::memory_order_relaxed);
    now.close_to_tray = state.close_to_tray.load(std::memory_order_relaxed);
    return now;
}

void save_changed_settings(ReceiverState& state, const StartSettings& before) {
    const SavedValues old_values = saved_values_of(before);
    for (const auto& [name, value] : saved_values_of(settings_in_use(state))) {
        if (old_values.at(name) != value) save_setting(state, name, value);
    }
}

Status switch_pairing_key(ReceiverState& state, bool on) {
    if (!on) {
        set_pairing_key(state, {});
        return Status::success();
    }
    Result<std::string> key = pairing_key_for(state, false);
    if (!key.ok()) return Status::failure(key.error());
    set_pairing_key(state, std::move(key.value()));
    return Status::success();
}
