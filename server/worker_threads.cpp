#include "server/worker_threads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// An idle thread ends after this long without a job.
constexpr std::chrono::seconds IDLE_THREAD_LIFETIME{60};
// Beyond this many threads, jobs wait for one: a desktop that hangs holds these, not one
// thread per scan that keeps coming.
constexpr size_t MAX_WORKER_THREADS = 64;

struct JobQueue {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::function<void()>> jobs;
    size_t idle_threads = 0;
    size_t threads = 0;
};

// Every worker holds the queue too, so it outlives static destruction at exit while
// detached threads may still wait on it.
std::shared_ptr<JobQueue> job_queue() {
    static const std::shared_ptr<JobQueue> queue = std::make_shared<JobQueue>();
    return queue;
}

void worker_thread(std::shared_ptr<JobQueue> shared_queue, std::function<void()> first) {
    JobQueue& queue = *shared_queue;
    std::function<void()> job = std::move(first);
    while (job) {
        job();
        job = nullptr;  // lets go of what the job held before waiting

        std::unique_lock guard(queue.lock);
        ++queue.idle_threads;
        queue.arrived.wait_for(guard, IDLE_THREAD_LIFETIME, [&] { return !queue.jobs.empty(); });
        --queue.idle_threads;
        if (!queue.jobs.empty()) {
            job = std::move(queue.jobs.front());
            queue.jobs.pop_front();
        } else {
            --queue.threads;
        }
    }
}

}  // namespace

bool run_on_worker(std::function<void()>& job) {
    std::shared_ptr<JobQueue> shared_queue = job_queue();
    JobQueue& queue = *shared_queue;
    std::lock_guard guard(queue.lock);
    if (queue.idle_threads > queue.jobs.size() || queue.threads >= MAX_WORKER_THREADS) {
        queue.jobs.push_back(std::move(job));
        queue.arrived.notify_one();
        return true;
    }
    try {
        std::thread(worker_thread, std::move(shared_queue), job).detach();
    } catch (const std::system_error&) {
        return false;  // the caller still holds the job
    }
    ++queue.threads;
    job = nullptr;
    return true;
}
