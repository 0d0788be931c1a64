// A start's settings, from the command line and the saved settings, and the saving of what the
// user changes while the receiver runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "net/adapter_entry.h"
#include "receiver/saved_settings.h"

struct ReceiverState;

// The command line with the saved values it does not give (none with --ignore-settings).
// Saved values that cannot be used add a log line each to `notes`.
StartSettings load_start_settings(const CommandLine& command_line, std::vector<std::string>& notes);

// The index of the adapter with `address`; 0, the usual choice, when none has it.
size_t adapter_index(const std::vector<AdapterEntry>& adapters, std::string_view address);

// What only the saved settings give: the advertised adapter, the window's two options, and
// whether changes are saved.
void apply_start_settings(ReceiverState& state, const StartSettings& start);

// Saves a setting the user has just changed, unless the receiver runs with --ignore-settings.
// The first failure of a run gives one log line; the receiver runs on either way.
void save_setting(ReceiverState& state, std::string_view name, std::string_view value);

// The settings the receiver runs with now, as they would be saved.
StartSettings settings_in_use(ReceiverState& state);

// Saves every setting that differs from `before` (settings_in_use before a change), and only
// those: what the command line gave stays unsaved unless the user changes it.
void save_changed_settings(ReceiverState& state, const StartSettings& before);

// Scans need the key of a new pairing URL from now on, or no key. Fails, changing nothing,
// when no key can be made.
Status switch_pairing_key(ReceiverState& state, bool on);
