#include "receiver/delivery_queue.h"

#include <system_error>

DeliveryQueue::~DeliveryQueue() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        waiting_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool DeliveryQueue::post(std::function<void()> job) {
    {
        std::lock_guard guard(lock_);
        if (waiting_.size() >= capacity_) return false;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                return false;  // no thread to type it: refused like a full queue
            }
        }
        waiting_.push_back(std::move(job));
    }
    changed_.notify_one();
    return true;
}

void DeliveryQueue::run() {
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        std::function<void()> job = std::move(waiting_.front());
        waiting_.pop_front();
        guard.unlock();
        job();
        guard.lock();
    }
}
