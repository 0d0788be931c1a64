// The start-up sequence shared by every entry point.
#pragma once

#include <cstdio>
#include <memory>

#include "receiver/command_line.h"
#include "ui/qr_code.h"

struct ReceiverState;

// Reads the saved settings (unless --ignore-settings; the command line wins over them), builds
// the adapter list and the state (with a fresh pairing key when asked for), and starts
// the server; a failed start becomes the first log line, and without the key it asks for the
// server does not start at all. With `headless_output`, log lines are printed there instead
// of queued.
std::shared_ptr<ReceiverState> start_receiver(const CommandLine& command_line,
                                              std::FILE* headless_output);

// Exit code of a start refused for a bad command-line value.
inline constexpr int BAD_COMMAND_LINE_EXIT_CODE = 2;

// The pairing URL and its QR code as terminal text, for headless mode.
void print_pairing_banner(ReceiverState& state, std::FILE* output, QrTextColours colours);

[[noreturn]] void sleep_forever();
