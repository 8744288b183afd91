// The job queues of the worker pool.
//
// A job is a plain (function, data) pair whose data lives on the stack of the
// thread that made it; the queues only ever hold such pairs, so queueing work
// never allocates.
//
// Each worker owns a bounded work-stealing deque: it pushes and takes back its
// own jobs at the newest end, idle workers steal from the oldest end. A short
// mutex guards the ring; a mirrored count lets a thief pass an empty deque
// without taking the lock.
//
// Threads outside the pool hand work in through one shared queue of intrusive
// nodes, which also live on the handing thread's stack.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

namespace zorvane::parallel::detail {

struct JobRef {
    void (*execute)(void* data) noexcept;
    void* data;
};

class JobDeque {
public:
    // The depth of nested fork-join steps on one worker, logarithmic in the
    // lengths mapped. When the deque is full, a step runs its second piece in
    // place instead of offering it.
    static constexpr std::size_t capacity = 256;

    // Queues a job at the newest end; false when the deque is full.
    bool push(JobRef job) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tail_ - head_ == capacity) return false;
        ring_[tail_ % capacity] = job;
        ++tail_;
        queued_.store(tail_ - head_, std::memory_order_release);
        return true;
    }

    // The owner's end: the newest job.
    bool pop_newest(JobRef& job) noexcept {
        if (queued_.load(std::memory_order_acquire) == 0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (tail_ == head_) return false;
        --tail_;
        job = ring_[tail_ % capacity];
        queued_.store(tail_ - head_, std::memory_order_release);
        return true;
    }

    // A thief's end: the oldest job.
    bool steal_oldest(JobRef& job) noexcept {
        if (queued_.load(std::memory_order_acquire) == 0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        if (tail_ == head_) return false;
        job = ring_[head_ % capacity];
        ++head_;
        queued_.store(tail_ - head_, std::memory_order_release);
        return true;
    }

    // Takes the job with this data back if it is still the newest.
    bool take_back(const void* data) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tail_ == head_ || ring_[(tail_ - 1) % capacity].data != data) return false;
        --tail_;
        queued_.store(tail_ - head_, std::memory_order_release);
        return true;
    }

private:
    std::mutex mutex_;
    JobRef ring_[capacity];  // [head_, tail_) in a ring, newest at tail_ - 1
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
    std::atomic<std::size_t> queued_{0};  // tail_ - head_, readable without the lock
};

// A job handed in from outside the pool; lives on the caller's stack.
struct InjectedJob {
    JobRef job;
    InjectedJob* next = nullptr;
};

// The shared queue, first in first out.
class InjectedQueue {
public:
    void push(InjectedJob& job) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        job.next = nullptr;
        if (tail_ != nullptr)
            tail_->next = &job;
        else
            head_ = &job;
        tail_ = &job;
        count_.fetch_add(1, std::memory_order_release);
    }

    bool pop(JobRef& job) noexcept {
        if (count_.load(std::memory_order_acquire) == 0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        InjectedJob* first = head_;
        if (first == nullptr) return false;
        head_ = first->next;
        if (head_ == nullptr) tail_ = nullptr;
        count_.fetch_sub(1, std::memory_order_release);
        job = first->job;  // the node may be gone once its job has run
        return true;
    }

private:
    std::mutex mutex_;
    InjectedJob* head_ = nullptr;
    InjectedJob* tail_ = nullptr;
    std::atomic<std::size_t> count_{0};
};

}  // namespace zorvane::parallel::detail
