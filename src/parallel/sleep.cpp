#include "parallel/sleep.hpp"

namespace zorvane::parallel::detail {

void Sleepers::new_work() noexcept {
    epoch_.fetch_add(1, std::memory_order_seq_cst);
    if (looking_.load(std::memory_order_seq_cst) == 0 && asleep_.load(std::memory_order_seq_cst) > 0)
        wake_one();
}

void Sleepers::pass_on(std::uint64_t seen) noexcept {
    if (epoch_.load(std::memory_order_seq_cst) != seen && asleep_.load(std::memory_order_seq_cst) > 0)
        wake_one();
}

void Sleepers::wake_one() noexcept {
    const std::size_t start = wake_cursor_.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t k = 0; k < workers_; ++k) {
        Slot& s = slots_[(start + k) % workers_];
        if (!s.sleeping.load(std::memory_order_seq_cst)) continue;
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.sleeping.load(std::memory_order_relaxed)) {
            s.sleeping.store(false, std::memory_order_relaxed);
            s.wake.notify_all();
            return;
        }
    }
}

void Sleepers::sleep(std::size_t index, std::uint64_t seen, const std::atomic<bool>* done) noexcept {
    Slot& s = slots_[index];
    std::unique_lock<std::mutex> lock(s.mutex);
    s.sleeping.store(true, std::memory_order_seq_cst);
    asleep_.fetch_add(1, std::memory_order_seq_cst);
    looking_.fetch_sub(1, std::memory_order_seq_cst);
    auto should_wake = [&] {
        return !s.sleeping.load(std::memory_order_relaxed) ||
               (done != nullptr && done->load(std::memory_order_acquire)) ||
               stopping_.load(std::memory_order_acquire);
    };
    if (epoch_.load(std::memory_order_seq_cst) == seen)
        while (!should_wake()) s.wake.wait(lock);
    s.sleeping.store(false, std::memory_order_relaxed);
    asleep_.fetch_sub(1, std::memory_order_seq_cst);
    looking_.fetch_add(1, std::memory_order_seq_cst);
}

void Sleepers::complete(std::size_t owner, std::atomic<bool>& done) noexcept {
    done.exchange(true, std::memory_order_acq_rel);
    // The owner checks `done` under its sleep mutex before it waits, so
    // notifying under the same mutex cannot be lost.
    Slot& s = slots_[owner];
    std::lock_guard<std::mutex> lock(s.mutex);
    s.wake.notify_all();
}

void Sleepers::stop() noexcept {
    stopping_.store(true, std::memory_order_seq_cst);
    for (std::size_t i = 0; i < workers_; ++i) {
        std::lock_guard<std::mutex> lock(slots_[i].mutex);
        slots_[i].sleeping.store(false, std::memory_order_relaxed);
        slots_[i].wake.notify_all();
    }
}

}  // namespace zorvane::parallel::detail
