// The process-wide worker pool, and explicitly owned pools for tests.
//
// One set of worker threads serves every sequence-valued computation of the
// module. It is created the first time a thread needs it (under a once-only
// guard; concurrent first users wait for the one that builds it), sized by
// the rules of pool_size.hpp, and never torn down. Creation is attempted once:
// when it fails, that use and every later one fail with the same first
// sentence.
//
// A child created by fork() inherits no worker threads, so the child forgets
// the parent's pool and builds its own on first use, sized by the same rules.
#pragma once

#include <cstddef>

namespace zorvane::parallel {

namespace detail {
class Registry;

// The process-wide pool, created on first use (zorvane::Panic on failure).
Registry& global_registry();
}  // namespace detail

// Size of the pool that the calling thread works for; from a thread outside
// every pool, the size of the process-wide pool, which is created here if it
// does not exist yet. Creation failure is a zorvane::Panic.
std::size_t current_num_threads();

// An explicitly owned pool, for tests that need a map on a chosen number of
// workers while the process-wide pool stays once-only. map_ordered accepts it
// as its first argument. The pool must be idle when it is destroyed.
class ThreadPool {
public:
    explicit ThreadPool(std::size_t num_threads);  // zorvane::Panic on failure
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t num_threads() const noexcept;
    detail::Registry& registry() noexcept { return *registry_; }

private:
    detail::Registry* registry_;
};

}  // namespace zorvane::parallel
