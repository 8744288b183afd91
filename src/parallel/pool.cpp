#include "parallel/pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "common/panic.hpp"
#include "parallel/registry.hpp"

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
// Rounds an outside caller checks for its result before it blocks.
constexpr int caller_spin_rounds = 64;
// Jobs a worker's deque holds: the depth of nested fork-join steps on one
// worker, logarithmic in the lengths mapped. When it is full, a step runs its
// second piece in place instead of offering it.
constexpr std::size_t deque_capacity = 256;
constexpr std::size_t worker_stack_size = 4u << 20;

void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

thread_local Worker* this_worker = nullptr;

std::atomic<SpawnHook> spawn_hook{nullptr};

}  // namespace

struct alignas(128) Worker {
    Registry* registry = nullptr;
    std::size_t index = 0;
    pthread_t thread{};
    bool started = false;

    // Bounded deque of jobs: [head, tail) in a ring, newest at tail - 1.
    std::mutex queue_mutex;
    JobRef ring[deque_capacity];
    std::size_t head = 0;
    std::size_t tail = 0;
    std::atomic<std::size_t> queued{0};  // tail - head, readable without the lock

    // Sleeping: `sleeping` is set by the worker before it waits and cleared by
    // whoever wakes it, both under sleep_mutex.
    std::mutex sleep_mutex;
    std::condition_variable wake;
    std::atomic<bool> sleeping{false};

    std::uint64_t random_state = 0;

    bool pop_newest(JobRef& job) noexcept {
        if (queued.load(std::memory_order_acquire) == 0) return false;
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (tail == head) return false;
        --tail;
        job = ring[tail % deque_capacity];
        queued.store(tail - head, std::memory_order_release);
        return true;
    }

    bool steal_oldest(JobRef& job) noexcept {
        if (queued.load(std::memory_order_acquire) == 0) return false;
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (tail == head) return false;
        job = ring[head % deque_capacity];
        ++head;
        queued.store(tail - head, std::memory_order_release);
        return true;
    }
};

class Registry {
public:
    explicit Registry(std::size_t n) : workers_(n) {
        for (std::size_t i = 0; i < n; ++i) {
            workers_[i] = std::make_unique<Worker>();
            workers_[i]->registry = this;
            workers_[i]->index = i;
            workers_[i]->random_state = 0x9E3779B97F4A7C15ull * (i + 1);
        }
    }

    std::size_t size() const noexcept { return workers_.size(); }
    bool has_threads() const noexcept { return has_threads_; }
    Worker& worker(std::size_t i) noexcept { return *workers_[i]; }

    // Starts one thread per worker. Returns 0, or the error code of the first
    // start that failed, in which case the threads already started are
    // stopped and joined again.
    int start_threads() {
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
        {
            std::lock_guard<std::mutex> lock(gate_mutex_);
            gate_ = error == 0 ? gate_open : gate_abandoned;
        }
        gate_cv_.notify_all();
        if (error != 0) {
            for (std::size_t i = 0; i < started; ++i) pthread_join(workers_[i]->thread, nullptr);
            for (auto& w : workers_) w->started = false;
        }
        return error;
    }

    // The pool of one worker that is the calling thread itself (platforms
    // without threads).
    void adopt_current_thread() noexcept {
        has_threads_ = false;
        this_worker = workers_[0].get();
    }

    // Stops the workers and waits for them (explicitly owned pools only).
    void stop_and_join() noexcept {
        terminate_.store(true, std::memory_order_seq_cst);
        for (auto& w : workers_) {
            std::lock_guard<std::mutex> lock(w->sleep_mutex);
            w->sleeping.store(false, std::memory_order_relaxed);
            w->wake.notify_all();
        }
        for (auto& w : workers_)
            if (w->started) pthread_join(w->thread, nullptr);
    }

    bool push(Worker& w, JobRef job) noexcept {
        {
            std::lock_guard<std::mutex> lock(w.queue_mutex);
            if (w.tail - w.head == deque_capacity) return false;
            w.ring[w.tail % deque_capacity] = job;
            ++w.tail;
            w.queued.store(w.tail - w.head, std::memory_order_release);
        }
        new_work();
        return true;
    }

    bool take_back(Worker& w, const void* data) noexcept {
        std::lock_guard<std::mutex> lock(w.queue_mutex);
        if (w.tail == w.head || w.ring[(w.tail - 1) % deque_capacity].data != data) return false;
        --w.tail;
        w.queued.store(w.tail - w.head, std::memory_order_release);
        return true;
    }

    void inject(InjectedJob& job) noexcept {
        {
            std::lock_guard<std::mutex> lock(injected_mutex_);
            job.next = nullptr;
            if (injected_tail_ != nullptr)
                injected_tail_->next = &job;
            else
                injected_head_ = &job;
            injected_tail_ = &job;
            injected_count_.fetch_add(1, std::memory_order_release);
        }
        new_work();
    }

    // The worker loop, also used while a worker waits for a stolen piece:
    // returns when `done` is set (or, without `done`, when the pool stops).
    void work_until(Worker& w, const std::atomic<bool>* done) noexcept {
        idle_awake_.fetch_add(1, std::memory_order_seq_cst);
        int rounds = 0;
        std::uint64_t seen = epoch_.load(std::memory_order_seq_cst);
        for (;;) {
            if (done != nullptr ? done->load(std::memory_order_acquire)
                                : terminate_.load(std::memory_order_acquire))
                break;
            seen = epoch_.load(std::memory_order_seq_cst);
            JobRef job;
            if (find_work(w, job)) {
                idle_awake_.fetch_sub(1, std::memory_order_seq_cst);
                job.execute(job.data);
                idle_awake_.fetch_add(1, std::memory_order_seq_cst);
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
            sleep(w, seen, done);
            rounds = 0;
        }
        idle_awake_.fetch_sub(1, std::memory_order_seq_cst);
        // Work may have arrived that a pusher left to us because we were
        // looking; we are leaving, so hand it to a sleeper.
        if (epoch_.load(std::memory_order_seq_cst) != seen && sleepers_.load(std::memory_order_seq_cst) > 0)
            wake_one();
    }

    void complete_stolen(Worker& owner, std::atomic<bool>& done) noexcept {
        done.exchange(true, std::memory_order_acq_rel);
        // The owner checks `done` under its sleep mutex before it waits, so
        // notifying under the same mutex cannot be lost.
        std::lock_guard<std::mutex> lock(owner.sleep_mutex);
        owner.wake.notify_all();
    }

    static void* thread_main(void* arg) {
        auto& w = *static_cast<Worker*>(arg);
        Registry& r = *w.registry;
        {
            std::unique_lock<std::mutex> lock(r.gate_mutex_);
            r.gate_cv_.wait(lock, [&] { return r.gate_ != gate_closed; });
            if (r.gate_ == gate_abandoned) return nullptr;
        }
        this_worker = &w;
        mark_thread_unnamed();
        try {
            r.work_until(w, nullptr);
        } catch (...) {
            fatal("unexpected exception on a worker thread");
        }
        return nullptr;
    }

private:
    // Counts work being made available, so that a thread about to sleep can
    // tell whether something arrived since it last looked.
    void new_work() noexcept {
        epoch_.fetch_add(1, std::memory_order_seq_cst);
        // A worker that is awake and looking will find the job; otherwise wake
        // a sleeper. A looking worker that decides to sleep re-reads the epoch
        // after it has stopped counting itself as awake, so either it sees the
        // new job or we see it asleep.
        if (idle_awake_.load(std::memory_order_seq_cst) == 0 &&
            sleepers_.load(std::memory_order_seq_cst) > 0)
            wake_one();
    }

    void wake_one() noexcept {
        const std::size_t n = workers_.size();
        const std::size_t start = wake_cursor_.fetch_add(1, std::memory_order_relaxed);
        for (std::size_t k = 0; k < n; ++k) {
            Worker& w = *workers_[(start + k) % n];
            if (!w.sleeping.load(std::memory_order_seq_cst)) continue;
            std::lock_guard<std::mutex> lock(w.sleep_mutex);
            if (w.sleeping.load(std::memory_order_relaxed)) {
                w.sleeping.store(false, std::memory_order_relaxed);
                w.wake.notify_all();
                return;
            }
        }
    }

    void sleep(Worker& w, std::uint64_t seen, const std::atomic<bool>* done) noexcept {
        std::unique_lock<std::mutex> lock(w.sleep_mutex);
        w.sleeping.store(true, std::memory_order_seq_cst);
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        idle_awake_.fetch_sub(1, std::memory_order_seq_cst);
        auto should_wake = [&] {
            return !w.sleeping.load(std::memory_order_relaxed) ||
                   (done != nullptr && done->load(std::memory_order_acquire)) ||
                   terminate_.load(std::memory_order_acquire);
        };
        if (epoch_.load(std::memory_order_seq_cst) == seen)
            while (!should_wake()) w.wake.wait(lock);
        w.sleeping.store(false, std::memory_order_relaxed);
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
        idle_awake_.fetch_add(1, std::memory_order_seq_cst);
    }

    bool find_work(Worker& w, JobRef& job) noexcept {
        if (w.pop_newest(job)) return true;
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
                if (&victim != &w && victim.steal_oldest(job)) return true;
            }
        }
        return pop_injected(job);
    }

    bool pop_injected(JobRef& job) noexcept {
        if (injected_count_.load(std::memory_order_acquire) == 0) return false;
        std::lock_guard<std::mutex> lock(injected_mutex_);
        InjectedJob* first = injected_head_;
        if (first == nullptr) return false;
        injected_head_ = first->next;
        if (injected_head_ == nullptr) injected_tail_ = nullptr;
        injected_count_.fetch_sub(1, std::memory_order_release);
        job = first->job;  // the node may be gone once its job has run
        return true;
    }

    static constexpr int gate_closed = 0, gate_open = 1, gate_abandoned = 2;

    std::vector<std::unique_ptr<Worker>> workers_;
    bool has_threads_ = true;

    std::mutex injected_mutex_;
    InjectedJob* injected_head_ = nullptr;
    InjectedJob* injected_tail_ = nullptr;
    std::atomic<std::size_t> injected_count_{0};

    alignas(64) std::atomic<std::uint64_t> epoch_{0};
    alignas(64) std::atomic<long> idle_awake_{0};
    std::atomic<long> sleepers_{0};
    std::atomic<std::size_t> wake_cursor_{0};
    std::atomic<bool> terminate_{false};

    std::mutex gate_mutex_;
    std::condition_variable gate_cv_;
    int gate_ = gate_closed;
};

Worker* current_worker() noexcept { return this_worker; }
Registry& registry_of(Worker& worker) noexcept { return *worker.registry; }
std::size_t num_threads(const Registry& registry) noexcept { return registry.size(); }
bool has_threads(const Registry& registry) noexcept { return registry.has_threads(); }

bool push_local(Worker& worker, JobRef job) noexcept { return worker.registry->push(worker, job); }
bool take_back(Worker& worker, const void* data) noexcept {
    return worker.registry->take_back(worker, data);
}
void work_until(Worker& worker, const std::atomic<bool>& done) noexcept {
    worker.registry->work_until(worker, &done);
}
void complete_stolen(Worker& owner, std::atomic<bool>& done) noexcept {
    owner.registry->complete_stolen(owner, done);
}
void inject(Registry& registry, InjectedJob& job) noexcept { registry.inject(job); }

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

void set_spawn_hook_for_testing(SpawnHook hook) noexcept { spawn_hook.store(hook); }

// ---- the process-wide pool -------------------------------------------------

namespace {

constexpr const char* not_initialized = "The global thread pool has not been initialized.";

enum : int { pool_absent = 0, pool_ready = 1, pool_failed = 2 };

std::atomic<int> global_state{pool_absent};
Registry* global_pool = nullptr;  // written under creation_mutex before state is ready
// Placement storage so that a forked child can put a fresh, unlocked mutex in
// place of one that a vanished parent thread may have held.
alignas(std::mutex) unsigned char creation_mutex_storage[sizeof(std::mutex)];
std::mutex* creation_mutex = ::new (creation_mutex_storage) std::mutex;
bool fork_handler_installed = false;

// The child of fork() has only the forking thread: the parent's workers are
// not there, so forget the pool (its memory is left as it is) and let the
// child build its own on first use.
void forget_pool_in_child() noexcept {
    creation_mutex = ::new (creation_mutex_storage) std::mutex;
    global_pool = nullptr;
    global_state.store(pool_absent, std::memory_order_release);
}

std::string os_error_description(int code) {
    char buffer[256];
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return "Os { code: " + std::to_string(code) + ", message: \"" + text + "\" }";
}

}  // namespace

Registry& global_registry() {
    if (global_state.load(std::memory_order_acquire) == pool_ready) return *global_pool;
    int error = 0;
    bool attempted_here = false;
    {
        std::lock_guard<std::mutex> lock(*creation_mutex);
        if (!fork_handler_installed) {
            pthread_atfork(nullptr, nullptr, &forget_pool_in_child);
            fork_handler_installed = true;
        }
        if (global_state.load(std::memory_order_relaxed) == pool_absent) {
            attempted_here = true;
            std::unique_ptr<Registry> registry;
            try {
                registry = std::make_unique<Registry>(pool_size_from_environment());
                error = registry->start_threads();
            } catch (const std::bad_alloc&) {
                error = ENOMEM;
            }
            if (error == 0) {
                global_pool = registry.release();
                global_state.store(pool_ready, std::memory_order_release);
            } else if ((error == ENOSYS || error == EOPNOTSUPP) && current_worker() == nullptr) {
                // No threads on this platform: the creating thread is the
                // pool's one worker.
                registry = std::make_unique<Registry>(1);
                registry->adopt_current_thread();
                global_pool = registry.release();
                global_state.store(pool_ready, std::memory_order_release);
                error = 0;
            } else {
                global_state.store(pool_failed, std::memory_order_release);
            }
        }
    }
    if (global_state.load(std::memory_order_acquire) == pool_ready) return *global_pool;
    if (attempted_here)
        zorvane::panic(std::string(not_initialized) + ": ThreadPoolBuildError { kind: IOError(" +
                       os_error_description(error) + ") }");
    zorvane::panic(std::string(not_initialized) +
                   ": ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }");
}

}  // namespace zorvane::parallel::detail

namespace zorvane::parallel {

std::size_t current_num_threads() {
    if (detail::Worker* w = detail::current_worker()) return w->registry->size();
    return detail::global_registry().size();
}

ThreadPool::ThreadPool(std::size_t num_threads) {
    if (num_threads == 0) num_threads = 1;
    auto registry = std::make_unique<detail::Registry>(num_threads);
    if (int error = registry->start_threads(); error != 0)
        zorvane::panic("could not start the worker threads of a pool: " +
                       detail::os_error_description(error));
    registry_ = registry.release();
}

ThreadPool::~ThreadPool() {
    registry_->stop_and_join();
    delete registry_;
}

std::size_t ThreadPool::num_threads() const noexcept { return registry_->size(); }

}  // namespace zorvane::parallel
