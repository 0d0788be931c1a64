// The desktop window (Windows only): registers the class, creates the window and runs the
// message loop until the window is closed; `minimized` leaves it hidden, with its icon in the
// notification area. Returns the process exit code.
#pragma once

#include <memory>

struct ReceiverState;

int run_main_window(std::shared_ptr<ReceiverState> state, bool minimized);
