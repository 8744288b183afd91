#include "parallel/registry.hpp"

#include <sched.h>

#include <cstdio>
#include <cstdlib>

#include "common/panic.hpp"

namespace zorvane::parallel::detail {

namespace {

// A failure of the pool's own machinery cannot be reported to anyone: say so
// on standard error and stop the process.
[[noreturn]] void fatal(const char* what) noexcept {
    std::fprintf(stderr, "zorvane: fatal error in the worker pool: %s; aborting\n", what);
    std::fflush(stderr);
    std::abort();
}

// Rounds an idle thread looks for work before it goes to sleep.
constexpr int spin_rounds = 64;
constexpr std::size_t worker_stack_size = 4u << 20;

thread_local Worker* this_worker = nullptr;

std::atomic<SpawnHook> spawn_hook{nullptr};

}  // namespace

Worker* current_worker() noexcept { return this_worker; }

void set_spawn_hook_for_testing(SpawnHook hook) noexcept { spawn_hook.store(hook); }

Registry::Registry(std::size_t n) : workers_(n), sleepers_(n) {
    for (std::size_t i = 0; i < n; ++i) {
        workers_[i] = std::make_unique<Worker>();
        workers_[i]->registry = this;
        workers_[i]->index = i;
        workers_[i]->random_state = 0x9E3779B97F4A7C15ull * (i + 1);
    }
}

int Registry::start_threads() {
    int error = 0;
    std::size_t started = 0;
    pthread_attr_t attr;
    if (int e = pthread_attr_init(&attr); e != 0) return e;
    pthread_attr_setstacksize(&attr, worker_stack_size);
    for (; started < workers_.size(); ++started) {
        Worker& w = *workers_[started];
        if (SpawnHook hook = spawn_hook.load(); hook != nullptr) error = hook(started);
        if (error == 0) error = pthread_create(&w.thread, &attr, &Registry::thread_main, &w);
        if (error != 0) break;
        w.started = true;
    }
    pthread_attr_destroy(&attr);
    gate_.open(error == 0);
    if (error != 0) {
        for (std::size_t i = 0; i < started; ++i) pthread_join(workers_[i]->thread, nullptr);
        for (auto& w : workers_) w->started = false;
    }
    return error;
}

void Registry::adopt_current_thread() noexcept {
    has_threads_ = false;
    this_worker = workers_[0].get();
}

void Registry::stop_and_join() noexcept {
    sleepers_.stop();
    for (auto& w : workers_)
        if (w->started) pthread_join(w->thread, nullptr);
}

void Registry::work_until(Worker& w, const std::atomic<bool>* done) noexcept {
    sleepers_.begin_looking();
    int rounds = 0;
    std::uint64_t seen = sleepers_.epoch();
    for (;;) {
        if (done != nullptr ? done->load(std::memory_order_acquire) : sleepers_.stopping()) break;
        seen = sleepers_.epoch();
        JobRef job;
        if (find_work(w, job)) {
            sleepers_.end_looking();
            job.execute(job.data);
            sleepers_.begin_looking();
            rounds = 0;
            continue;
        }
        if (++rounds < spin_rounds) {
            if (rounds < spin_rounds / 4)
                for (int i = 0; i < 32; ++i) cpu_relax();
            else
                sched_yield();
            continue;
        }
        sleepers_.sleep(w.index, seen, done);
        rounds = 0;
    }
    sleepers_.end_looking();
    sleepers_.pass_on(seen);
}

bool Registry::find_work(Worker& w, JobRef& job) noexcept {
    if (w.deque.pop_newest(job)) return true;
    const std::size_t n = workers_.size();
    if (n > 1) {
        // xorshift: start stealing at a random victim.
        std::uint64_t x = w.random_state;
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        w.random_state = x;
        const std::size_t start = static_cast<std::size_t>(x % n);
        for (std::size_t k = 0; k < n; ++k) {
            Worker& victim = *workers_[(start + k) % n];
            if (&victim != &w && victim.deque.steal_oldest(job)) return true;
        }
    }
    return injected_.pop(job);
}

void* Registry::thread_main(void* arg) {
    auto& w = *static_cast<Worker*>(arg);
    Registry& r = *w.registry;
    if (!r.gate_.pass()) return nullptr;
    this_worker = &w;
    mark_thread_unnamed();
    try {
        r.work_until(w, nullptr);
    } catch (...) {
        fatal("unexpected exception on a worker thread");
    }
    return nullptr;
}

}  // namespace zorvane::parallel::detail
