// Ordered parallel map and the worker pool: results, nesting, failures,
// concurrent callers, pool creation and fork.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/panic.hpp"
#include "panics.hpp"
#include "common/result.hpp"
#include "parallel/map.hpp"
#include "parallel/pool.hpp"
#include "parallel/pool_size.hpp"
#include "parallel/registry.hpp"

namespace {

using zorvane::parallel::ThreadPool;
using zorvane::parallel::current_num_threads;
using zorvane::parallel::map_ordered;

// A per-element function with some work in it, computed independently of the
// pool by the plain loops below.
double work(double x) {
    double s = x;
    for (int k = 1; k <= 20; ++k) s = std::sin(s) + x / k;
    return s;
}

std::vector<double> inputs(std::size_t n) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = 0.37 * static_cast<double>(i) - 11.0;
    return v;
}

std::vector<double> sequential(const std::vector<double>& in) {
    std::vector<double> out;
    for (double x : in) out.push_back(work(x));
    return out;
}

// Runs `body` in a forked child (a fresh process: no pool yet, or the one the
// child rebuilds) and returns "" or what went wrong there.
std::string in_child(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        close(fds[0]);
        alarm(30);  // a hang in the child becomes a failure, not a stuck test
        std::string message;
        try {
            message = body();
        } catch (const std::exception& e) {
            message = std::string("exception: ") + e.what();
        } catch (...) {
            message = "unknown exception";
        }
        if (!message.empty() && write(fds[1], message.data(), message.size()) < 0) _exit(3);
        _exit(message.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0) return message.empty() ? "child failed" : message;
    return "";
}

// Runs `body` in a new process started from this test binary with only the
// current test selected, so that the process has no pool yet. In that process
// the body runs directly; here its exit status is returned as "" or a text.
std::string in_fresh_process(const std::function<std::string()>& body) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = std::string(info->test_suite_name()) + "." + info->name();
    const char* mark = std::getenv("ZORVANE_FRESH_PROCESS");
    if (mark != nullptr && test == mark) {
        alarm(120);
        return body();
    }
    std::string filter = "--gtest_filter=" + test;
    std::string exe = "/proc/self/exe";
    std::string marker = "ZORVANE_FRESH_PROCESS=" + test;
    std::string brief = "--gtest_brief=1";
    std::vector<char*> argv{exe.data(), filter.data(), brief.data(), nullptr};
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "ZORVANE_FRESH_PROCESS=", 22) != 0) envp.push_back(*e);
    envp.push_back(marker.data());
    envp.push_back(nullptr);
    // The process's output (GoogleTest's banner, and the reports of what went
    // wrong there) is shown only when it fails.
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t pid;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return "spawn failed";
    }
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return "process killed by signal " + std::to_string(WTERMSIG(status)) + ":\n" + output;
    if (WEXITSTATUS(status) != 0) return "the test failed in its own process:\n" + output;
    return "";
}

// ---- identical results for every pool size and length ----------------------

class MapOnPool : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MapOnPool, MatchesSequentialLoopForEveryLength) {
    ThreadPool pool(GetParam());
    EXPECT_EQ(pool.num_threads(), GetParam());
    for (std::size_t len : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 16u, 17u, 100u, 1000u, 4099u, 100003u}) {
        const auto in = inputs(len);
        const auto out = map_ordered(pool, std::span<const double>(in), work);
        ASSERT_EQ(out.size(), len);
        const auto expected = sequential(in);
        for (std::size_t i = 0; i < len; ++i)
            ASSERT_EQ(std::memcmp(&out[i], &expected[i], sizeof(double)), 0) << "len " << len << " i " << i;
    }
}

TEST_P(MapOnPool, EveryElementRunsExactlyOnce) {
    ThreadPool pool(GetParam());
    const std::size_t len = 50000;
    std::vector<std::atomic<int>> calls(len);
    std::vector<std::size_t> index(len);
    for (std::size_t i = 0; i < len; ++i) index[i] = i;
    auto out = map_ordered(pool, std::span<const std::size_t>(index), [&](std::size_t i) {
        calls[i].fetch_add(1, std::memory_order_relaxed);
        return i * 3;
    });
    for (std::size_t i = 0; i < len; ++i) {
        ASSERT_EQ(calls[i].load(), 1) << i;
        ASSERT_EQ(out[i], i * 3);
    }
}

TEST_P(MapOnPool, NestedMapsComplete) {
    ThreadPool pool(GetParam());
    // Pairs × elements, as the batch of magnifications does.
    std::vector<std::pair<double, double>> pairs;
    for (int a = 0; a < 7; ++a)
        for (int b = 0; b < 6; ++b) pairs.emplace_back(0.5 + a, 0.1 * (b + 1));
    const auto elements = inputs(301);
    auto out = map_ordered(pool, std::span<const std::pair<double, double>>(pairs),
                           [&](const std::pair<double, double>& p) {
                               return map_ordered(std::span<const double>(elements), [&](double x) {
                                   return work(x * p.first + p.second);
                               });
                           });
    ASSERT_EQ(out.size(), pairs.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        ASSERT_EQ(out[k].size(), elements.size());
        for (std::size_t i = 0; i < elements.size(); ++i)
            ASSERT_EQ(out[k][i], work(elements[i] * pairs[k].first + pairs[k].second));
    }
}

TEST_P(MapOnPool, ThreeLevelsOfNestingComplete) {
    ThreadPool pool(GetParam());
    std::vector<int> outer(9), middle(13), inner(57);
    for (int i = 0; i < 9; ++i) outer[i] = i;
    for (int i = 0; i < 13; ++i) middle[i] = i;
    for (int i = 0; i < 57; ++i) inner[i] = i;
    auto out = map_ordered(pool, std::span<const int>(outer), [&](int a) {
        auto sums = map_ordered(std::span<const int>(middle), [&](int b) {
            auto cs = map_ordered(std::span<const int>(inner), [&](int c) { return a * 10000 + b * 100 + c; });
            long s = 0;
            for (int v : cs) s += v;
            return s;
        });
        long s = 0;
        for (long v : sums) s += v;
        return s;
    });
    for (int a = 0; a < 9; ++a) {
        long expected = 0;
        for (int b = 0; b < 13; ++b)
            for (int c = 0; c < 57; ++c) expected += a * 10000 + b * 100 + c;
        EXPECT_EQ(out[a], expected);
    }
}

TEST_P(MapOnPool, NestedMapFromWorkerUsesThatPool) {
    if (GetParam() == 1) GTEST_SKIP() << "a one-worker pool computes on the calling thread";
    ThreadPool pool(GetParam());
    std::vector<int> one{0, 1};
    auto sizes = map_ordered(pool, std::span<const int>(one), [](int) { return current_num_threads(); });
    EXPECT_EQ(sizes[0], GetParam());
    EXPECT_EQ(sizes[1], GetParam());
}

// Maps separated by pauses of varying length, so that workers are caught
// spinning, falling asleep and asleep: a lost wake-up would hang here.
TEST_P(MapOnPool, WakesWorkersWhateverTheyAreDoing) {
    ThreadPool pool(GetParam());
    unsigned state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u, (state >> 8) & 0xFFFF; };
    for (int round = 0; round < 300; ++round) {
        const auto in = inputs(2 + next() % 40);
        std::vector<double> out;
        if (round % 3 == 0) {
            const std::vector<int> pair{0, 1};
            auto nested = map_ordered(pool, std::span<const int>(pair), [&](int) {
                return map_ordered(std::span<const double>(in), work);
            });
            out = nested[1];
        } else {
            out = map_ordered(pool, std::span<const double>(in), work);
        }
        ASSERT_EQ(out, sequential(in)) << "round " << round;
        std::this_thread::sleep_for(std::chrono::microseconds(next() % 400));
    }
}

// Each level keeps one queued piece on the worker while it recurses, so this
// goes deeper than a worker's queue holds; the overflow runs in place.
long nested_depth(int d) {
    if (d == 0) return 0;
    const std::vector<int> next{d - 1, 0};
    auto parts = map_ordered(std::span<const int>(next), nested_depth);
    return parts[0] + parts[1] + 1;
}

TEST_P(MapOnPool, DeepNestingBeyondTheQueueCapacity) {
    ThreadPool pool(GetParam());
    const std::vector<int> top{600, 3};
    auto out = map_ordered(pool, std::span<const int>(top), nested_depth);
    EXPECT_EQ(out[0], 600);
    EXPECT_EQ(out[1], 3);
}

INSTANTIATE_TEST_SUITE_P(PoolSizes, MapOnPool, ::testing::Values(1, 2, 3, 8));

// ---- result types ------------------------------------------------------------

TEST(MapResults, MoveOnlyAndNonDefaultConstructibleResults) {
    ThreadPool pool(3);
    const auto in = inputs(1001);
    auto vectors = map_ordered(pool, std::span<const double>(in), [](double x) -> zorvane::Result<std::vector<double>> {
        if (x < 0) return zorvane::fail("element: negative input.");
        return std::vector<double>{x, 2 * x};
    });
    ASSERT_EQ(vectors.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] < 0) {
            ASSERT_FALSE(vectors[i].has_value());
            EXPECT_STREQ(vectors[i].error().message, "element: negative input.");
        } else {
            ASSERT_TRUE(vectors[i].has_value());
            EXPECT_EQ(*vectors[i], (std::vector<double>{in[i], 2 * in[i]}));
        }
    }
    auto owned = map_ordered(pool, std::span<const double>(in), [](double x) { return std::make_unique<double>(x); });
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(*owned[i], in[i]);
}

// ---- failures ----------------------------------------------------------------

// Counts live instances, to see that a failed map destroys what it built.
struct Counted {
    static inline std::atomic<long> live{0};
    double value;
    explicit Counted(double v) : value(v) { live.fetch_add(1); }
    Counted(const Counted& o) : value(o.value) { live.fetch_add(1); }
    Counted(Counted&& o) noexcept : value(o.value) { live.fetch_add(1); }
    ~Counted() { live.fetch_sub(1); }
};

struct FailureCase {
    std::size_t len;
    std::vector<std::size_t> failing;  // elements whose function panics
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << "L=" << c.len << " failing {";
    for (std::size_t i : c.failing) *os << ' ' << i;
    *os << " }";
}

class MapFailures : public ::testing::TestWithParam<std::tuple<std::size_t, FailureCase>> {};

TEST_P(MapFailures, LowestFailingElementIsRaisedAndNothingLeaks) {
    const auto& [threads, c] = GetParam();
    ThreadPool pool(threads);
    std::vector<std::size_t> index(c.len);
    for (std::size_t i = 0; i < c.len; ++i) index[i] = i;
    const std::set<std::size_t> failing(c.failing.begin(), c.failing.end());
    std::atomic<std::size_t> ran{0};
    // Each step raises its first piece's failure, so the lowest failing
    // element wins whatever the scheduling.
    EXPECT_EQ(zorvane::testing::panic_of([&] {
                  (void)map_ordered(pool, std::span<const std::size_t>(index), [&](std::size_t i) {
                      ran.fetch_add(1);
                      if (failing.count(i)) zorvane::panic("element " + std::to_string(i) + " failed");
                      return Counted(static_cast<double>(i));
                  });
              }),
              "element " + std::to_string(*failing.begin()) + " failed");
    EXPECT_EQ(Counted::live.load(), 0);
    EXPECT_GE(ran.load(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MapFailures,
    ::testing::Combine(::testing::Values(1, 2, 3, 8),
                       ::testing::Values(FailureCase{1, {0}}, FailureCase{2, {0}}, FailureCase{2, {1}},
                                         FailureCase{2, {0, 1}}, FailureCase{1000, {999}},
                                         FailureCase{1000, {0, 999}}, FailureCase{1000, {500, 501, 2}},
                                         FailureCase{100000, {77777, 12345}})));

TEST(MapFailuresAcrossThreads, OtherExceptionTypesTravelToo) {
    ThreadPool pool(2);
    const auto in = inputs(64);
    EXPECT_THROW((void)map_ordered(pool, std::span<const double>(in),
                                   [](double x) -> double {
                                       if (x > 0) throw std::runtime_error("bad");
                                       return x;
                                   }),
                 std::runtime_error);
}

TEST(MapFailuresAcrossThreads, NestedFailureReachesTheOuterCaller) {
    ThreadPool pool(3);
    std::vector<int> outer(10), inner(100);
    for (int i = 0; i < 10; ++i) outer[i] = i;
    for (int i = 0; i < 100; ++i) inner[i] = i;
    EXPECT_EQ(zorvane::testing::panic_of([&] {
                  (void)map_ordered(pool, std::span<const int>(outer), [&](int a) {
                      return map_ordered(std::span<const int>(inner), [&](int b) {
                          if (a == 6 && b == 42) zorvane::assert_eq(a, b);
                          return a + b;
                      });
                  });
              }),
              "assertion `left == right` failed\n  left: 6\n right: 42");
    // The pool is still usable afterwards.
    auto out = map_ordered(pool, std::span<const int>(inner), [](int b) { return b + 1; });
    EXPECT_EQ(out[99], 100);
}

// ---- the process-wide pool ---------------------------------------------------

TEST(GlobalPool, OneElementFromOutsideRunsOnTheCaller) {
    const std::vector<double> one{1.5};
    const auto caller = std::this_thread::get_id();
    auto where = map_ordered(std::span<const double>(one), [](double) { return std::this_thread::get_id(); });
    ASSERT_EQ(where.size(), 1u);
    EXPECT_EQ(where[0], caller);
    const std::vector<double> none;
    EXPECT_TRUE(map_ordered(std::span<const double>(none), work).empty());
}

// A call stays on the calling thread when the pool has one worker or when its
// estimated work is below the threshold; otherwise the workers compute it all.
TEST(CallingThread, SmallCallsStayThereOthersGoToTheWorkers) {
    using zorvane::parallel::min_work_to_spread;
    ThreadPool one(1), two(2);
    const auto caller = std::this_thread::get_id();
    auto on_caller = [&](ThreadPool& pool, std::size_t len, std::chrono::nanoseconds cost) {
        const auto in = inputs(len);
        auto where = map_ordered(pool, std::span<const double>(in), [](double) { return std::this_thread::get_id(); },
                                 cost);
        return static_cast<std::size_t>(std::count(where.begin(), where.end(), caller));
    };
    const std::chrono::nanoseconds unknown = zorvane::parallel::unknown_cost;
    EXPECT_EQ(on_caller(one, 1000, unknown), 1000u);
    EXPECT_EQ(on_caller(two, 2, unknown), 0u);
    EXPECT_EQ(on_caller(two, 100, min_work_to_spread / 100 - std::chrono::nanoseconds(1)), 100u);
    EXPECT_EQ(on_caller(two, 100, min_work_to_spread / 100), 0u);
}

TEST(GlobalPool, SizeIsStableAndMatchesTheEnvironmentRules) {
    const std::size_t n = current_num_threads();
    EXPECT_EQ(n, zorvane::parallel::pool_size_from_environment());
    EXPECT_EQ(current_num_threads(), n);
}

TEST(GlobalPool, ManyOutsideThreadsMapAtOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int round = 0; round < 40; ++round) {
                const auto in = inputs(static_cast<std::size_t>((t * 37 + round * 11) % 300));
                auto out = map_ordered(std::span<const double>(in), work);
                if (out != sequential(in)) mismatches.fetch_add(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(GlobalPool, ManyOutsideThreadsOnOneExplicitPool) {
    ThreadPool pool(2);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &pool, &mismatches] {
            for (int round = 0; round < 30; ++round) {
                const auto in = inputs(static_cast<std::size_t>(2 + (t * 13 + round * 7) % 500));
                if (map_ordered(pool, std::span<const double>(in), work) != sequential(in))
                    mismatches.fetch_add(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// ---- creation, in fresh processes --------------------------------------------

std::atomic<int> spawn_calls{0};
int count_spawns(std::size_t) {
    spawn_calls.fetch_add(1);
    return 0;
}
int refuse_second_thread(std::size_t index) { return index == 1 ? EAGAIN : 0; }
int no_threads_here(std::size_t) { return ENOSYS; }

const char* const not_initialized = "The global thread pool has not been initialized.";

TEST(PoolCreation, EmptyMapCreatesThePool) {
    EXPECT_EQ(in_fresh_process([]() -> std::string {
                  setenv("RAYON_NUM_THREADS", "3", 1);
                  zorvane::parallel::detail::set_spawn_hook_for_testing(count_spawns);
                  const std::vector<double> none;
                  if (!map_ordered(std::span<const double>(none), work).empty()) return "not empty";
                  if (spawn_calls.load() != 3) return "spawned " + std::to_string(spawn_calls.load());
                  (void)map_ordered(std::span<const double>(none), work);
                  if (current_num_threads() != 3) return "size " + std::to_string(current_num_threads());
                  if (spawn_calls.load() != 3) return "pool created twice";
                  return "";
              }),
              "");
}

TEST(PoolCreation, VariablesAreReadOnceAtCreation) {
    EXPECT_EQ(in_fresh_process([]() -> std::string {
                  setenv("RAYON_NUM_THREADS", "abc", 1);
                  setenv("RAYON_RS_NUM_CPUS", "+5", 1);
                  if (current_num_threads() != 5) return "size " + std::to_string(current_num_threads());
                  setenv("RAYON_NUM_THREADS", "2", 1);
                  const auto in = inputs(1000);
                  if (map_ordered(std::span<const double>(in), work) != sequential(in)) return "wrong results";
                  if (current_num_threads() != 5) return "size changed";
                  return "";
              }),
              "");
}

TEST(PoolCreation, FailureIsReportedOnceThenAlreadyInitialized) {
    EXPECT_EQ(in_fresh_process([]() -> std::string {
                  setenv("RAYON_NUM_THREADS", "4", 1);
                  zorvane::parallel::detail::set_spawn_hook_for_testing(refuse_second_thread);
                  const auto in = inputs(10);
                  using zorvane::testing::panic_of;
                  const std::string first = panic_of([&] { (void)map_ordered(std::span<const double>(in), work); });
                  zorvane::parallel::detail::set_spawn_hook_for_testing(nullptr);
                  const std::string second = panic_of([&] { (void)map_ordered(std::span<const double>(in), work); });
                  const std::string third = panic_of([] { (void)current_num_threads(); });
                  const std::string io = std::string(not_initialized) +
                                         ": ThreadPoolBuildError { kind: IOError(Os { code: " +
                                         std::to_string(EAGAIN) + ", message: \"" + std::strerror(EAGAIN) +
                                         "\" }) }";
                  const std::string again =
                      std::string(not_initialized) + ": ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }";
                  if (first != io) return "first: " + first;
                  if (second != again) return "second: " + second;
                  if (third != again) return "third: " + third;
                  return "";
              }),
              "");
}

TEST(PoolCreation, WithoutThreadsTheCreatingThreadIsTheOnlyWorker) {
    EXPECT_EQ(in_fresh_process([]() -> std::string {
                  setenv("RAYON_NUM_THREADS", "4", 1);
                  zorvane::parallel::detail::set_spawn_hook_for_testing(no_threads_here);
                  if (current_num_threads() != 1) return "size " + std::to_string(current_num_threads());
                  const auto in = inputs(777);
                  const auto caller = std::this_thread::get_id();
                  std::atomic<int> elsewhere{0};
                  auto out = map_ordered(std::span<const double>(in), [&](double x) {
                      if (std::this_thread::get_id() != caller) elsewhere.fetch_add(1);
                      return work(x);
                  });
                  if (out != sequential(in)) return "wrong results";
                  if (elsewhere.load() != 0) return "ran off the creating thread";
                  // Another thread of this process still gets its map done.
                  std::string other;
                  std::thread([&] {
                      if (map_ordered(std::span<const double>(in), work) != sequential(in)) other = "other thread wrong";
                  }).join();
                  return other;
              }),
              "");
}

TEST(PoolCreation, ConcurrentFirstUsersShareOnePool) {
    EXPECT_EQ(in_fresh_process([]() -> std::string {
                  setenv("RAYON_NUM_THREADS", "3", 1);
                  zorvane::parallel::detail::set_spawn_hook_for_testing(count_spawns);
                  std::vector<std::thread> threads;
                  std::atomic<int> wrong{0};
                  for (int t = 0; t < 6; ++t)
                      threads.emplace_back([&] {
                          const auto in = inputs(200);
                          if (map_ordered(std::span<const double>(in), work) != sequential(in)) wrong.fetch_add(1);
                      });
                  for (auto& th : threads) th.join();
                  if (wrong.load() != 0) return "wrong results";
                  if (spawn_calls.load() != 3) return "spawned " + std::to_string(spawn_calls.load());
                  return "";
              }),
              "");
}

// ---- fork ----------------------------------------------------------------------

TEST(Fork, ChildOfARunningPoolBuildsItsOwn) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer does not support threads in the child of a threaded fork";
#endif
    const auto in = inputs(5000);
    const auto expected = sequential(in);
    ASSERT_EQ(map_ordered(std::span<const double>(in), work), expected);  // the parent's pool runs
    const std::size_t parent_size = current_num_threads();
    for (int child = 0; child < 3; ++child) {
        EXPECT_EQ(in_child([&]() -> std::string {
                      if (map_ordered(std::span<const double>(in), work) != expected) return "wrong results in child";
                      if (current_num_threads() != parent_size) return "child pool size differs";
                      // And a grandchild, forked from a child whose pool runs.
                      return in_child([&]() -> std::string {
                          return map_ordered(std::span<const double>(in), work) == expected ? "" : "grandchild wrong";
                      });
                  }),
                  "");
    }
    EXPECT_EQ(map_ordered(std::span<const double>(in), work), expected);  // the parent's pool still runs
}

}  // namespace
