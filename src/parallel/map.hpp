// Ordered parallel map: output[i] = f(input[i]) for every i, computed on the
// worker pool and identical to a sequential loop whatever the pool size.
//
// The output is reserved at the input length L and filled in place; the
// sequence is cut recursively into pieces, each owning one contiguous window
// of the output and writing only there. A split budget keeps the number of
// pieces proportional to the pool size, not to L: the whole sequence starts
// with budget N (the pool size) and each split halves it; a piece that moved
// to another thread (it was stolen, or belongs to a step handed in from
// outside the pool) restarts at max(b / 2, N), so work taken by idle workers
// is cut further for them. Without moves this gives between N + 1 and 2N
// pieces. Within a piece the elements run in a plain loop: no allocation,
// lock or atomic per element.
//
// Small calls run on the calling thread in one plain loop: when the pool has
// a single worker, or when the caller's estimate of the work (elements times
// cost per element) is below min_work_to_spread. Handing a call to the pool
// costs a wake-up and a scheduler round trip, a few microseconds on an idle
// machine and tens when every core is busy, so below that the hand-off costs
// more than the other workers can save. The results are the same either way.
//
// Otherwise, started from outside the pool, a sequence of length 0 or 1 is
// processed on the calling thread and a longer one entirely by the workers
// while the caller waits. Started from a worker (a nested map), it runs on
// that worker's pool without new threads; waiting for a stolen piece, the
// worker keeps working.
//
// An exception thrown by f (a zorvane::Panic, typically) is captured where its
// piece runs and raised again in the thread that started the map once the
// other piece of its step has finished; when both pieces of a step fail the
// first piece's failure wins. Results already written are destroyed.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/panic.hpp"
#include "parallel/join.hpp"
#include "parallel/pool.hpp"
#include "parallel/registry.hpp"

namespace zorvane::parallel {

// Below this estimated work a call runs on the calling thread. On an idle
// two-core machine 30 us of work is done no sooner by two workers than by the
// caller alone (the wake-ups eat the gain); with the cores busy a hand-off
// alone costs 30 to 40 us (bench_parallel measures both sides).
inline constexpr std::chrono::nanoseconds min_work_to_spread = std::chrono::microseconds(50);

// The cost per element assumed when the caller gives none: always worth
// spreading.
inline constexpr std::chrono::nanoseconds unknown_cost = std::chrono::nanoseconds::max();

namespace detail {

inline bool worth_spreading(std::size_t pool_size, std::size_t len,
                            std::chrono::nanoseconds element_cost) noexcept {
    return pool_size > 1 && static_cast<double>(len) * static_cast<double>(element_cost.count()) >=
                                static_cast<double>(min_work_to_spread.count());
}

template <class R>
void destroy_window(R* first, std::size_t count) noexcept {
    if constexpr (!std::is_trivially_destructible_v<R>) std::destroy_n(first, count);
}

template <class T, class R, class F>
struct MapJob {
    const T* input;
    R* output;  // raw storage of L slots
    F* f;
    Registry* registry;
    std::size_t pool_size;

    // Processes elements [start, start + len) with split budget `budget`;
    // returns the number of results written (len) or throws, in which case no
    // slot of the window holds a live result.
    std::size_t piece(std::size_t start, std::size_t len, std::size_t budget, bool moved) const {
        const std::size_t mid = len / 2;
        std::size_t next_budget = 0;
        bool split = false;
        if (mid >= 1) {
            if (moved) {
                next_budget = std::max(budget / 2, pool_size);
                split = true;
            } else if (budget > 0) {
                next_budget = budget / 2;
                split = true;
            }
        }
        if (!split) return sequential(start, len);

        auto first = [this, start, mid, next_budget](bool m) {
            return piece(start, mid, next_budget, m);
        };
        auto second = [this, start, mid, len, next_budget](bool m) {
            return piece(start + mid, len - mid, next_budget, m);
        };
        JoinOutcome out = join(*registry, first, second);
        if (out.error_a) {
            if (!out.error_b) destroy_window(output + start + mid, out.b);
            std::rethrow_exception(out.error_a);
        }
        if (out.error_b) {
            destroy_window(output + start, out.a);
            std::rethrow_exception(out.error_b);
        }
        return out.a + out.b;
    }

    std::size_t sequential(std::size_t start, std::size_t len) const {
        const T* in = input + start;
        R* out = output + start;
        std::size_t k = 0;
        try {
            for (; k < len; ++k) ::new (static_cast<void*>(out + k)) R(std::invoke(*f, in[k]));
        } catch (...) {
            destroy_window(out, k);
            throw;
        }
        return len;
    }
};

template <class R>
void check_total_writes(std::size_t expected, std::size_t written) {
    if (written != expected)
        zorvane::panic("expected " + std::to_string(expected) + " total writes, but got " +
                       std::to_string(written));
}

// Budget 0 keeps the whole sequence in one piece on the calling thread.
template <class T, class F>
auto map_ordered_on(Registry& registry, std::span<const T> input, F& f,
                    std::chrono::nanoseconds element_cost)
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, const T&>>> {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, const T&>>;
    const std::size_t len = input.size();
    const std::size_t pool_size = registry.size();
    const std::size_t budget = worth_spreading(pool_size, len, element_cost) ? pool_size : 0;
    if constexpr (std::is_trivially_default_constructible_v<R> &&
                  std::is_trivially_destructible_v<R>) {
        // Plain values: write straight into the result vector.
        std::vector<R> result(len);
        MapJob<T, R, F> job{input.data(), result.data(), &f, &registry, pool_size};
        const std::size_t written = job.piece(0, len, budget, false);
        check_total_writes<R>(len, written);
        return result;
    } else {
        // Results that cannot be default-constructed (or are costly to) are
        // built in raw storage and then moved into the vector.
        std::allocator<R> alloc;
        struct Storage {
            std::allocator<R>& alloc;
            R* data;
            std::size_t len;
            ~Storage() {
                if (data != nullptr) alloc.deallocate(data, len);
            }
        } storage{alloc, len > 0 ? alloc.allocate(len) : nullptr, len};
        MapJob<T, R, F> job{input.data(), storage.data, &f, &registry, pool_size};
        const std::size_t written = job.piece(0, len, budget, false);
        std::vector<R> result;
        try {
            check_total_writes<R>(len, written);
            result.reserve(len);
            for (std::size_t i = 0; i < len; ++i) result.push_back(std::move(storage.data[i]));
        } catch (...) {
            destroy_window(storage.data, written);
            throw;
        }
        destroy_window(storage.data, len);
        return result;
    }
}

}  // namespace detail

// output[i] = f(input[i]) on the process-wide pool (created here if needed,
// even for an empty input). f must be callable from several threads at once.
// `element_cost` estimates the time of one element, for the choice between
// the calling thread and the pool (see min_work_to_spread).
template <class T, class F>
auto map_ordered(std::span<const T> input, F&& f, std::chrono::nanoseconds element_cost = unknown_cost)
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, const T&>>> {
    detail::Worker* worker = detail::current_worker();
    detail::Registry& registry = worker != nullptr ? *worker->registry : detail::global_registry();
    return detail::map_ordered_on(registry, input, f, element_cost);
}

// The same on an explicitly owned pool (tests).
template <class T, class F>
auto map_ordered(ThreadPool& pool, std::span<const T> input, F&& f,
                 std::chrono::nanoseconds element_cost = unknown_cost)
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, const T&>>> {
    return detail::map_ordered_on(pool.registry(), input, f, element_cost);
}

}  // namespace zorvane::parallel
