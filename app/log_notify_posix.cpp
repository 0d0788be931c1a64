#include "app/receiver_state.h"

// There is no window on POSIX systems; headless mode prints log lines instead.
void notify_log_pending(void*) {}
