#include "parallel/latch.hpp"

#include <sched.h>

namespace zorvane::parallel::detail {

namespace {
// Rounds an outside caller checks for its result before it blocks.
constexpr int caller_spin_rounds = 64;
}  // namespace

void CallerLatch::wait() noexcept {
    for (int i = 0; i < caller_spin_rounds; ++i) {
        if (state_.load(std::memory_order_acquire) == done) return;
        if (i < caller_spin_rounds / 4)
            for (int k = 0; k < 32; ++k) cpu_relax();
        else
            sched_yield();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    int expected = unset;
    if (!state_.compare_exchange_strong(expected, sleeping, std::memory_order_acq_rel)) return;
    while (state_.load(std::memory_order_acquire) != done) cv_.wait(lock);
}

CallerLatch& caller_latch() noexcept {
    thread_local CallerLatch latch;
    return latch;
}

}  // namespace zorvane::parallel::detail
