#include "server/connection_threads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace {

// An idle thread ends after this long without a connection.
constexpr std::chrono::seconds IDLE_THREAD_LIFETIME{60};

struct ConnectionQueue {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<ConnectionJob> jobs;
    size_t idle_threads = 0;
};

// Every connection thread holds the queue too, so it outlives static destruction at exit
// while detached threads may still wait on it.
std::shared_ptr<ConnectionQueue> connection_queue() {
    static const std::shared_ptr<ConnectionQueue> queue = std::make_shared<ConnectionQueue>();
    return queue;
}

void connection_thread(std::shared_ptr<ConnectionQueue> shared_queue, ConnectionJob first) {
    ConnectionQueue& queue = *shared_queue;
    std::optional<ConnectionJob> job(std::move(first));
    while (job) {
        serve_connection(std::move(job->socket), job->slot, job->state, job->config);
        job.reset();  // gives the place and the references back before waiting

        std::unique_lock guard(queue.lock);
        ++queue.idle_threads;
        queue.arrived.wait_for(guard, IDLE_THREAD_LIFETIME, [&] { return !queue.jobs.empty(); });
        --queue.idle_threads;
        if (!queue.jobs.empty()) {
            job.emplace(std::move(queue.jobs.front()));
            queue.jobs.pop_front();
        }
    }
}

}  // namespace

bool serve_on_connection_thread(ConnectionJob job) {
    std::shared_ptr<ConnectionQueue> shared_queue = connection_queue();
    ConnectionQueue& queue = *shared_queue;
    {
        std::lock_guard guard(queue.lock);
        if (queue.idle_threads > queue.jobs.size()) {
            queue.jobs.push_back(std::move(job));
            queue.arrived.notify_one();
            return true;
        }
    }
    try {
        std::thread(connection_thread, std::move(shared_queue), std::move(job)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;  // the job, its socket and its place went with the unmade thread
    }
}
