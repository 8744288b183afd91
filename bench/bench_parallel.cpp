// Worker pool benchmarks, each against a baseline measured in the same run:
//   1. round trip of a map of 2 trivial elements started from outside the pool
//      (baseline: the same two calls in a plain loop, and a bare hand-off to
//      another thread and back through a mutex and condition variable);
//   2. per-element overhead of a map over 10^6 trivial elements (baseline: a
//      plain loop filling a new vector);
//   3. speed-up of a map over 10^5 elements of ~300 ns each, 2 workers
//      against 1 (baselines: the plain loop, and two bare threads each
//      running one half, which shows the speed-up the machine allows now);
//   4. where handing a call to the pool starts to pay: maps of n elements of
//      the same work on the process-wide pool, spread over the workers against
//      the same call kept on the calling thread (the baseline), n from 16 to
//      16384.
// Usage: bench_parallel [repeats-scale]; the default takes a few seconds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "parallel/map.hpp"
#include "parallel/pool.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
using zorvane::parallel::map_ordered;

double seconds_since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

volatile double sink = 0;

double trivial(double x) { return 2.0 * x + 1.0; }

// ~300 ns of dependent floating-point work on this class of machine.
int work_iterations = 60;
double work(double x) {
    double s = x;
    for (int k = 0; k < work_iterations; ++k) s = std::sqrt(s * s + 1.0) * 0.5;
    return s;
}

struct Stats {
    double median, p99;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// Ping-pong with a helper thread through a mutex and condition variable.
Stats handoff_floor(int rounds) {
    std::mutex m;
    std::condition_variable cv;
    int turn = 0;  // 0: main's, 1: helper's, 2: stop
    std::thread helper([&] {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            cv.wait(lock, [&] { return turn != 0; });
            if (turn == 2) return;
            turn = 0;
            cv.notify_all();
        }
    });
    std::vector<double> t;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = clock_type::now();
        std::unique_lock<std::mutex> lock(m);
        turn = 1;
        cv.notify_all();
        cv.wait(lock, [&] { return turn == 0; });
        lock.unlock();
        t.push_back(seconds_since(t0));
    }
    {
        std::lock_guard<std::mutex> lock(m);
        turn = 2;
    }
    cv.notify_all();
    helper.join();
    return stats(t);
}

}  // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int rounds = std::max(100, static_cast<int>(20000 * scale));
    std::printf("process-wide pool: %zu workers\n", zorvane::parallel::current_num_threads());

    // 1. Round trip of a 2-element map from outside.
    {
        const std::vector<double> two{1.0, 2.0};
        for (int i = 0; i < 1000; ++i) sink = sink + map_ordered(std::span<const double>(two), trivial)[1];
        std::vector<double> t_map, t_seq;
        for (int i = 0; i < rounds; ++i) {
            auto t0 = clock_type::now();
            auto out = map_ordered(std::span<const double>(two), trivial);
            t_map.push_back(seconds_since(t0));
            sink = sink + out[0];
            t0 = clock_type::now();
            std::vector<double> seq;
            seq.reserve(2);
            for (double x : two) seq.push_back(trivial(x));
            t_seq.push_back(seconds_since(t0));
            sink = sink + seq[0];
        }
        const Stats m = stats(t_map), s = stats(t_seq), h = handoff_floor(rounds);
        std::printf("round trip, map of 2 from outside: median %.2f us, p99 %.2f us (target: median < 20 us)\n",
                    m.median * 1e6, m.p99 * 1e6);
        std::printf("  baseline plain loop: median %.3f us; thread hand-off and back: median %.2f us, p99 %.2f us\n",
                    s.median * 1e6, h.median * 1e6, h.p99 * 1e6);
    }

    // 2. Per-element overhead over 10^6 trivial elements.
    {
        const std::size_t n = 1000000;
        std::vector<double> in(n);
        for (std::size_t i = 0; i < n; ++i) in[i] = 1e-3 * static_cast<double>(i);
        const int reps = std::max(5, static_cast<int>(50 * scale));
        std::vector<double> t_map, t_seq;
        for (int r = 0; r < reps; ++r) {
            auto t0 = clock_type::now();
            auto out = map_ordered(std::span<const double>(in), trivial);
            t_map.push_back(seconds_since(t0));
            sink = sink + out[n - 1];
            t0 = clock_type::now();
            std::vector<double> seq(n);
            for (std::size_t i = 0; i < n; ++i) seq[i] = trivial(in[i]);
            t_seq.push_back(seconds_since(t0));
            sink = sink + seq[n - 1];
        }
        const double map_ns = stats(t_map).median / n * 1e9, seq_ns = stats(t_seq).median / n * 1e9;
        std::printf("map of 10^6 trivial elements: %.3f ns/element; plain loop %.3f ns/element; "
                    "overhead %.3f ns/element (target: < 2 ns)\n",
                    map_ns, seq_ns, map_ns - seq_ns);
    }

    // 3. Speed-up, 2 workers against 1, on ~300 ns elements.
    {
        const std::size_t n = 100000;
        std::vector<double> in(n);
        for (std::size_t i = 0; i < n; ++i) in[i] = 1.0 + 1e-4 * static_cast<double>(i);
        // Calibrate the work to about 300 ns per element.
        {
            auto t0 = clock_type::now();
            for (std::size_t i = 0; i < 20000; ++i) sink = sink + work(in[i]);
            const double per = seconds_since(t0) / 20000;
            work_iterations = std::max(1, static_cast<int>(work_iterations * 300e-9 / per));
        }
        const int reps = std::max(3, static_cast<int>(15 * scale));
        zorvane::parallel::ThreadPool one(1), two(2);
        std::vector<double> t_seq, t_one, t_two, t_raw;
        for (int r = 0; r < reps; ++r) {
            auto t0 = clock_type::now();
            std::vector<double> seq(n);
            for (std::size_t i = 0; i < n; ++i) seq[i] = work(in[i]);
            t_seq.push_back(seconds_since(t0));
            // What two bare threads achieve on this machine right now.
            t0 = clock_type::now();
            std::vector<double> raw(n);
            {
                std::thread half([&] {
                    for (std::size_t i = n / 2; i < n; ++i) raw[i] = work(in[i]);
                });
                for (std::size_t i = 0; i < n / 2; ++i) raw[i] = work(in[i]);
                half.join();
            }
            t_raw.push_back(seconds_since(t0));
            t0 = clock_type::now();
            auto a = map_ordered(one, std::span<const double>(in), work);
            t_one.push_back(seconds_since(t0));
            t0 = clock_type::now();
            auto b = map_ordered(two, std::span<const double>(in), work);
            t_two.push_back(seconds_since(t0));
            if (a != seq || b != seq) {
                std::printf("results differ\n");
                return 1;
            }
        }
        const double s = stats(t_seq).median, o = stats(t_one).median, w = stats(t_two).median,
                     raw = stats(t_raw).median;
        std::printf("map of 10^5 elements of %.0f ns: plain loop %.2f ms, 1 worker %.2f ms, 2 workers %.2f ms\n",
                    s / n * 1e9, s * 1e3, o * 1e3, w * 1e3);
        std::printf("  speed-up 2 workers / 1 worker: %.2f (target: >= 1.8); 2 workers / plain loop: %.2f\n",
                    o / w, s / w);
        std::printf("  baseline: two bare threads splitting the loop in halves: %.2f ms, speed-up %.2f; "
                    "pool with 2 workers against them: %.2f\n",
                    raw * 1e3, s / raw, raw / w);
    }

    // 4. Break-even of the hand-off, on the process-wide pool.
    {
        std::printf("hand-off break-even, %zu workers (medians):\n", zorvane::parallel::current_num_threads());
        std::vector<double> in(16384);
        for (std::size_t i = 0; i < in.size(); ++i) in[i] = 1.0 + 1e-3 * static_cast<double>(i);
        double break_even_us = -1;
        for (std::size_t n = 16; n <= in.size(); n *= 2) {
            const std::span<const double> part(in.data(), n);
            const int reps = std::max(30, static_cast<int>(2000 * scale * 64 / static_cast<double>(n)));
            std::vector<double> t_inline, t_spread;
            for (int r = 0; r < reps; ++r) {
                auto t0 = clock_type::now();
                auto a = map_ordered(part, work, std::chrono::nanoseconds(0));
                t_inline.push_back(seconds_since(t0));
                t0 = clock_type::now();
                auto b = map_ordered(part, work);
                t_spread.push_back(seconds_since(t0));
                sink = sink + a[n - 1] + b[n - 1];
            }
            const double i_us = stats(t_inline).median * 1e6, s_us = stats(t_spread).median * 1e6;
            if (break_even_us < 0 && s_us < i_us) break_even_us = i_us;
            std::printf("  n = %4zu: on the caller %8.2f us, spread %8.2f us, spread / caller %.2f\n", n,
                        i_us, s_us, s_us / i_us);
        }
        std::printf("  spreading first wins at about %.0f us of work (threshold in use: %lld us)\n",
                    break_even_us,
                    static_cast<long long>(zorvane::parallel::min_work_to_spread.count() / 1000));
    }
    return 0;
}
