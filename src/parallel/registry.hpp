// A set of worker threads: their deques, the shared queue for work handed in
// from outside, the sleep of idle workers, and the loop every worker runs.
// The process-wide pool and the explicitly owned pools of the tests are both
// a Registry; the fork-join step (join.hpp) works on one directly.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "parallel/deque.hpp"
#include "parallel/latch.hpp"
#include "parallel/sleep.hpp"

namespace zorvane::parallel::detail {

class Registry;

struct alignas(128) Worker {
    Registry* registry = nullptr;
    std::size_t index = 0;
    pthread_t thread{};
    bool started = false;
    JobDeque deque;
    std::uint64_t random_state = 0;  // where stealing starts
};

// The worker that the calling thread is, or nullptr outside every pool.
Worker* current_worker() noexcept;

class Registry {
public:
    explicit Registry(std::size_t n);

    std::size_t size() const noexcept { return workers_.size(); }
    // False for the one-worker pool built on the creating thread where the
    // platform cannot start threads: there nothing can take handed-in work.
    bool has_threads() const noexcept { return has_threads_; }

    // Starts one thread per worker. Returns 0, or the error code of the first
    // start that failed, in which case the threads already started are
    // stopped and joined again.
    int start_threads();
    // Makes the calling thread the pool's one worker (platforms without
    // threads).
    void adopt_current_thread() noexcept;
    // Stops the workers and waits for them (explicitly owned pools only).
    void stop_and_join() noexcept;

    // Queues a job on the worker's deque and wakes a sleeping worker if none
    // is awake to find it. False when the deque is full; the caller then runs
    // the job itself.
    bool push(Worker& worker, JobRef job) noexcept {
        if (!worker.deque.push(job)) return false;
        sleepers_.new_work();
        return true;
    }
    // Hands a job to the pool through the shared queue and wakes a worker.
    void inject(InjectedJob& job) noexcept {
        injected_.push(job);
        sleepers_.new_work();
    }
    // Sets the completion flag of a job taken from `owner` and wakes the owner
    // if it sleeps waiting for it. The job's record must not be touched
    // afterwards.
    void complete_stolen(Worker& owner, std::atomic<bool>& done) noexcept {
        sleepers_.complete(owner.index, done);
    }
    // Runs other work (own deque, then stealing, then the shared queue) until
    // `done` is set, sleeping when there is none; without `done`, until the
    // pool stops.
    void work_until(Worker& worker, const std::atomic<bool>* done) noexcept;

private:
    static void* thread_main(void* arg);
    bool find_work(Worker& worker, JobRef& job) noexcept;

    std::vector<std::unique_ptr<Worker>> workers_;
    bool has_threads_ = true;
    InjectedQueue injected_;
    Sleepers sleepers_;
    StartGate gate_;
};

// Test hook: called with the worker index before each worker thread is
// started; a non-zero return is taken as the error code of the start, as if
// the operating system had refused. nullptr (the default) starts normally.
using SpawnHook = int (*)(std::size_t index);
void set_spawn_hook_for_testing(SpawnHook hook) noexcept;

}  // namespace zorvane::parallel::detail
