#include <windows.h>

#include "app/receiver_state.h"

// Posted, never sent: a server thread must not wait for the window thread.
void notify_log_pending(void* window) {
    PostMessageW(static_cast<HWND>(window), WM_LOG_PENDING, 0, 0);
}
