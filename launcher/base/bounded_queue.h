// A queue between threads that holds at most a fixed number of items: a producer faster than its
// consumers waits instead of filling the memory.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace orv {

template <class T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

    // Waits for room; false (the item dropped) once the queue is closed.
    bool Push(T item) {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return items_.size() < capacity_ || closed_; });
        if (closed_) return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }
    // The next item; nothing once the queue is closed and empty.
    std::optional<T> Pop() {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return item;
    }
    // Wakes every waiter; what is queued can still be taken.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable notFull_, notEmpty_;
    std::deque<T> items_;
    bool closed_ = false;
};

}  // namespace orv
