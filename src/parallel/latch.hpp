// The two one-shot signals of the pool: the start gate that new worker
// threads pass before they work, and the latch on which a thread outside the
// pool waits for the work it handed in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace zorvane::parallel::detail {

// Closed while the pool starts its threads; then opened, or abandoned when a
// start failed (the threads already started leave without working).
class StartGate {
public:
    void open(bool go) noexcept {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = go ? open_ : abandoned_;
        }
        cv_.notify_all();
    }

    // Waits until the gate is decided; true when it opened.
    bool pass() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return state_ != closed_; });
        return state_ == open_;
    }

private:
    static constexpr int closed_ = 0, open_ = 1, abandoned_ = 2;
    std::mutex mutex_;
    std::condition_variable cv_;
    int state_ = closed_;
};

// One per outside thread, reused by each of its calls; it spins briefly
// before it blocks on its mutex and condition variable.
class CallerLatch {
public:
    void reset() noexcept { state_.store(unset, std::memory_order_relaxed); }

    void wait() noexcept;

    // Called by the worker that finished the job; it is the last access the
    // worker makes, so the waiter may return (and its thread end) right after.
    void set() noexcept {
        int expected = unset;
        if (state_.compare_exchange_strong(expected, done, std::memory_order_acq_rel)) return;
        std::lock_guard<std::mutex> lock(mutex_);
        state_.store(done, std::memory_order_release);
        cv_.notify_one();
    }

private:
    static constexpr int unset = 0, sleeping = 1, done = 2;
    std::atomic<int> state_{unset};
    std::mutex mutex_;
    std::condition_variable cv_;
};

// The calling thread's latch.
CallerLatch& caller_latch() noexcept;

// Lets a spinning thread's sibling hyperthread run.
inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace zorvane::parallel::detail
