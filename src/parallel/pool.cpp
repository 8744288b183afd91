#include "parallel/pool.hpp"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "common/panic.hpp"
#include "parallel/pool_size.hpp"
#include "parallel/registry.hpp"

namespace zorvane::parallel {

namespace {

constexpr const char* not_initialized = "The global thread pool has not been initialized.";

enum : int { pool_absent = 0, pool_ready = 1, pool_failed = 2 };

std::atomic<int> global_state{pool_absent};
detail::Registry* global_pool = nullptr;  // written under creation_mutex before state is ready
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

detail::Registry& detail::global_registry() {
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

std::size_t current_num_threads() {
    if (detail::Worker* w = detail::current_worker()) return w->registry->size();
    return detail::global_registry().size();
}

ThreadPool::ThreadPool(std::size_t num_threads) {
    if (num_threads == 0) num_threads = 1;
    auto registry = std::make_unique<detail::Registry>(num_threads);
    if (int error = registry->start_threads(); error != 0)
        zorvane::panic("could not start the worker threads of a pool: " + os_error_description(error));
    registry_ = registry.release();
}

ThreadPool::~ThreadPool() {
    registry_->stop_and_join();
    delete registry_;
}

std::size_t ThreadPool::num_threads() const noexcept { return registry_->size(); }

}  // namespace zorvane::parallel
