// Internals of the worker pool shared by the fork-join step and the map.
//
// A job is a plain (function, data) pair whose data lives on the stack of the
// thread that made it; the queues only ever hold such pairs, so queueing work
// never allocates. Each worker owns a bounded deque: it pushes and takes back
// its own jobs at the newest end, idle workers steal from the oldest end.
// Threads outside the pool hand work in through a shared queue of intrusive
// nodes that also live on the handing thread's stack.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace zorvane::parallel::detail {

struct JobRef {
    void (*execute)(void* data) noexcept;
    void* data;
};

// A job handed in from outside the pool; lives on the caller's stack.
struct InjectedJob {
    JobRef job;
    InjectedJob* next = nullptr;
};

class Registry;
struct Worker;

// The worker that the calling thread is, or nullptr outside every pool.
Worker* current_worker() noexcept;
Registry& registry_of(Worker& worker) noexcept;
std::size_t num_threads(const Registry& registry) noexcept;
// False for the one-worker pool built on the creating thread where the
// platform cannot start threads: there nothing can take handed-in work.
bool has_threads(const Registry& registry) noexcept;

// The process-wide pool, created on first use (zorvane::Panic on failure).
Registry& global_registry();

// Queues a job at the newest end of the worker's deque and wakes a sleeping
// worker if none is awake to find it. False when the deque is full; the
// caller then runs the job itself.
bool push_local(Worker& worker, JobRef job) noexcept;
// Takes the job with this data back if it is still the newest in the deque.
bool take_back(Worker& worker, const void* data) noexcept;
// Runs other work (own deque, then stealing, then the shared queue) until
// `done` is set, sleeping when there is none.
void work_until(Worker& worker, const std::atomic<bool>& done) noexcept;
// Sets the completion flag of a job taken from `owner` and wakes the owner if
// it sleeps waiting for it. The job's record must not be touched afterwards.
void complete_stolen(Worker& owner, std::atomic<bool>& done) noexcept;
// Hands a job to the pool through the shared queue and wakes a worker.
void inject(Registry& registry, InjectedJob& job) noexcept;

// The completion signal on which a thread outside the pool waits for the work
// it handed in. One per thread, reused by each of its calls; it spins briefly
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

CallerLatch& caller_latch() noexcept;

}  // namespace zorvane::parallel::detail
