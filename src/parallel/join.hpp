// The fork-join step: run two pieces of work, possibly at the same time on two
// threads, and return when both are done.
//
// On a worker, the second piece is described by a record on this thread's
// stack and queued on this worker's deque; the first piece runs at once. If
// nobody took the second piece meanwhile it is taken back and run here,
// otherwise the worker keeps busy with other jobs (or sleeps) until the thief
// sets the record's completion flag. No heap allocation is made per step.
//
// From a thread outside the pool, the whole step is packaged on the caller's
// stack, handed to the pool's shared queue, and the caller blocks on its own
// completion signal until a worker has run it.
//
// Pieces are callables `std::size_t(bool moved)`: `moved` tells a piece that
// it runs on another thread than the one that split it off (it was stolen),
// or that it belongs to a step handed in from outside. Failures are captured
// where a piece runs and returned, not raised: the caller decides which one
// wins and what to do with the other piece's outcome.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <utility>

#include "parallel/registry.hpp"

namespace zorvane::parallel::detail {

struct JoinOutcome {
    std::size_t a = 0;
    std::size_t b = 0;
    std::exception_ptr error_a;
    std::exception_ptr error_b;
};

template <class FA, class FB>
JoinOutcome join_on_worker(Worker& worker, FA& first, FB& second, bool injected) noexcept {
    struct Second {
        FB* piece;
        Worker* owner;
        std::atomic<bool> done{false};
        std::size_t result = 0;
        std::exception_ptr error;

        // Runs on a thief: the piece has moved.
        static void execute(void* data) noexcept {
            auto* self = static_cast<Second*>(data);
            Worker* owner = self->owner;
            try {
                self->result = (*self->piece)(true);
            } catch (...) {
                self->error = std::current_exception();
            }
            owner->registry->complete_stolen(*owner, self->done);
        }
    };
    Second record{&second, &worker, {false}, 0, {}};
    JoinOutcome out;
    Registry& registry = *worker.registry;
    const bool queued = registry.push(worker, JobRef{&Second::execute, &record});
    try {
        out.a = first(injected);
    } catch (...) {
        out.error_a = std::current_exception();
    }
    if (!queued || worker.deque.take_back(&record)) {
        try {
            out.b = second(injected);
        } catch (...) {
            out.error_b = std::current_exception();
        }
    } else {
        registry.work_until(worker, &record.done);
        out.b = record.result;
        out.error_b = std::move(record.error);
    }
    return out;
}

template <class FA, class FB>
JoinOutcome join_from_outside(Registry& registry, FA& first, FB& second) noexcept {
    JoinOutcome out;
    if (!registry.has_threads()) {
        // The pool's only worker is a thread that is busy elsewhere: run the
        // step here, as the pool would have.
        try {
            out.a = first(true);
        } catch (...) {
            out.error_a = std::current_exception();
        }
        try {
            out.b = second(true);
        } catch (...) {
            out.error_b = std::current_exception();
        }
        return out;
    }
    struct Step {
        FA* first;
        FB* second;
        CallerLatch* latch;
        JoinOutcome out;
        InjectedJob node;

        static void execute(void* data) noexcept {
            auto* self = static_cast<Step*>(data);
            self->out = join_on_worker(*current_worker(), *self->first, *self->second, true);
            CallerLatch* latch = self->latch;
            latch->set();
        }
    };
    CallerLatch& latch = caller_latch();
    latch.reset();
    Step step{&first, &second, &latch, JoinOutcome{}, InjectedJob{JobRef{nullptr, nullptr}, nullptr}};
    step.node.job = JobRef{&Step::execute, &step};
    registry.inject(step.node);
    latch.wait();
    return std::move(step.out);
}

// Runs the step on `registry`: on this worker if the caller is one of its
// workers, otherwise handed in from outside.
template <class FA, class FB>
JoinOutcome join(Registry& registry, FA& first, FB& second) noexcept {
    Worker* worker = current_worker();
    if (worker != nullptr && worker->registry == &registry)
        return join_on_worker(*worker, first, second, false);
    return join_from_outside(registry, first, second);
}

}  // namespace zorvane::parallel::detail
