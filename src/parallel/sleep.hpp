// Sleeping and waking of idle workers.
//
// An idle worker looks for work for a while, then sleeps on its own condition
// variable. Whoever makes work available (a push on a worker's deque, a job
// handed in from outside) counts it in an epoch and wakes one sleeper, but
// only when no worker is awake and looking: a looking worker will find the job
// itself. A worker about to sleep stops counting itself as looking and then
// re-reads the epoch under its sleep mutex, so either it sees the new work or
// the pusher sees it asleep; no wake-up is lost.
//
// A worker that waits for a stolen piece sleeps the same way and is also woken
// by the thief when the piece is done.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace zorvane::parallel::detail {

class Sleepers {
public:
    explicit Sleepers(std::size_t workers)
        : slots_(std::make_unique<Slot[]>(workers)), workers_(workers) {}

    // An idle thread counts as looking from begin_looking() to end_looking(),
    // except while it runs a job or sleeps.
    void begin_looking() noexcept { looking_.fetch_add(1, std::memory_order_seq_cst); }
    void end_looking() noexcept { looking_.fetch_sub(1, std::memory_order_seq_cst); }

    // Counts work being made available, so that a thread about to sleep can
    // tell whether something arrived since it last looked.
    std::uint64_t epoch() const noexcept { return epoch_.load(std::memory_order_seq_cst); }

    // Announces new work and wakes a sleeper if nobody is looking.
    void new_work() noexcept;

    // Called after end_looking(): work may have arrived that a pusher left to
    // this thread because it was looking; it is leaving, so hand it to a
    // sleeper.
    void pass_on(std::uint64_t seen) noexcept;

    // Puts worker `index` to sleep unless work arrived since `seen`; returns
    // when woken, when `done` (if given) is set, or when the pool stops.
    void sleep(std::size_t index, std::uint64_t seen, const std::atomic<bool>* done) noexcept;

    // Sets a completion flag that worker `owner` may be sleeping on, and
    // wakes it. The flag's record must not be touched afterwards.
    void complete(std::size_t owner, std::atomic<bool>& done) noexcept;

    // Makes every sleep return, now and from now on (owned pools only).
    void stop() noexcept;
    bool stopping() const noexcept { return stopping_.load(std::memory_order_acquire); }

private:
    // `sleeping` is set by the worker before it waits and cleared by whoever
    // wakes it, both under the slot's mutex.
    struct alignas(64) Slot {
        std::mutex mutex;
        std::condition_variable wake;
        std::atomic<bool> sleeping{false};
    };

    void wake_one() noexcept;

    std::unique_ptr<Slot[]> slots_;
    std::size_t workers_;
    alignas(64) std::atomic<std::uint64_t> epoch_{0};
    alignas(64) std::atomic<long> looking_{0};
    std::atomic<long> asleep_{0};
    std::atomic<std::size_t> wake_cursor_{0};
    std::atomic<bool> stopping_{false};
};

}  // namespace zorvane::parallel::detail
