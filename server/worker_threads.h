// Threads for work that may block, such as delivering a scan to the desktop, so that the
// event loops never wait for it. A thread that has finished a job waits a while for the next
// one instead of ending.
#pragma once

#include <functional>

// Runs `job` on an idle worker thread, or on a new one. Returns false, with the job not run,
// when no thread is idle and none can be made.
bool run_on_worker(std::function<void()>& job);
