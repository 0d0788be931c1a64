// Scans that wait their turn to be typed, with one thread of their own that delivers them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Runs posted jobs one after the other, in the order they were posted, on one thread that
// the first post starts.
class DeliveryQueue {
  public:
    explicit DeliveryQueue(size_t capacity) : capacity_(capacity) {}
    // Waits for the running job; jobs that have not started are dropped.
    ~DeliveryQueue();
    DeliveryQueue(const DeliveryQueue&) = delete;
    DeliveryQueue& operator=(const DeliveryQueue&) = delete;

    // False, and the job is dropped, when `capacity` jobs are already waiting (or no thread
    // could be started).
    bool post(std::function<void()> job);

  private:
    void run();

    const size_t capacity_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> waiting_;
    bool stopping_ = false;
    std::thread thread_;
};
