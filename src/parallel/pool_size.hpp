// How many workers the process-wide pool gets.
//
// RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, else the processors this process
// may use (affinity mask, reduced to the cgroup CPU quota); never more than
// 65535. The variables are read once, when the pool is created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::parallel {

// Largest pool the module builds.
inline constexpr std::size_t max_num_threads = 0xFFFF;

// Reads a thread count: an optional single leading '+' and one or more decimal
// digits, nothing else (no '-', no blanks), fitting in 64 bits. Leading zeros
// are fine ("007" is 7). Anything else gives no value.
std::optional<std::uint64_t> parse_thread_count(std::string_view text) noexcept;

// The pool size from the values of RAYON_NUM_THREADS and RAYON_RS_NUM_CPUS
// (nullptr when a variable is unset):
//   - RAYON_NUM_THREADS, when it parses: >= 1 is the size, 0 selects the
//     default and RAYON_RS_NUM_CPUS is then not looked at;
//   - otherwise RAYON_RS_NUM_CPUS, when it parses and is >= 1;
//   - otherwise default_size() (called only in that case);
// capped at max_num_threads.
template <class DefaultSize>
std::size_t pool_size(const char* rayon_num_threads, const char* rayon_rs_num_cpus,
                      DefaultSize&& default_size) {
    auto capped = [](std::uint64_t n) -> std::size_t {
        return n < max_num_threads ? static_cast<std::size_t>(n) : max_num_threads;
    };
    std::size_t size = 0;
    bool decided = false;
    if (rayon_num_threads != nullptr) {
        if (auto n = parse_thread_count(rayon_num_threads)) {
            decided = true;
            if (*n > 0) size = capped(*n);
        }
    }
    if (!decided && rayon_rs_num_cpus != nullptr) {
        if (auto n = parse_thread_count(rayon_rs_num_cpus); n && *n > 0) size = capped(*n);
    }
    if (size == 0) {
        std::size_t d = default_size();
        size = d == 0 ? 1 : (d < max_num_threads ? d : max_num_threads);
    }
    return size;
}

// The number of processors this process may use: CPUs in the affinity mask,
// else the online processors, each reduced to the cgroup CPU quota; 1 when
// nothing is known.
std::size_t available_parallelism();

// CPU limit from the cgroup quota of this process (cgroup v2 `cpu.max`, else
// v1 `cpu.cfs_quota_us` / `cpu.cfs_period_us`), as whole CPUs (at least 1),
// the tightest along the cgroup's ancestry; no value when no quota applies.
// `root` is prefixed to every path read (/proc/self/..., the cgroup mounts),
// so that tests can point it at a made-up tree.
std::optional<std::size_t> cgroup_cpu_limit(const std::string& root = "");

// The size the process-wide pool gets from the current environment.
std::size_t pool_size_from_environment();

}  // namespace zorvane::parallel
