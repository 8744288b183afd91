// Pool size: parsing of the two variables, their precedence, the cap, and the
// cgroup CPU quota read from made-up /proc and cgroup trees.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "parallel/pool_size.hpp"

namespace {

namespace fs = std::filesystem;
using zorvane::parallel::cgroup_cpu_limit;
using zorvane::parallel::parse_thread_count;
using zorvane::parallel::pool_size;

constexpr std::uint64_t u64_max = 18446744073709551615ull;

struct ParseCase {
    const char* text;
    std::optional<std::uint64_t> expected;
};

class ParseThreadCount : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseThreadCount, Table) {
    EXPECT_EQ(parse_thread_count(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseThreadCount,
    ::testing::Values(ParseCase{"4", 4}, ParseCase{"+4", 4}, ParseCase{"007", 7}, ParseCase{"0", 0},
                      ParseCase{"+0", 0}, ParseCase{"65535", 65535}, ParseCase{"000000000000000000000000000012", 12},
                      ParseCase{"18446744073709551615", u64_max}, ParseCase{"18446744073709551616", std::nullopt},
                      ParseCase{"99999999999999999999", std::nullopt}, ParseCase{"", std::nullopt},
                      ParseCase{"+", std::nullopt}, ParseCase{"++4", std::nullopt}, ParseCase{"+-4", std::nullopt},
                      ParseCase{"-1", std::nullopt}, ParseCase{"-0", std::nullopt}, ParseCase{" 4", std::nullopt},
                      ParseCase{"4 ", std::nullopt}, ParseCase{"4\n", std::nullopt}, ParseCase{"abc", std::nullopt},
                      ParseCase{"4a", std::nullopt}, ParseCase{"0x10", std::nullopt}, ParseCase{"1_000", std::nullopt},
                      ParseCase{"1e3", std::nullopt}, ParseCase{"\xd9\xa3", std::nullopt} /* Arabic-Indic three */,
                      ParseCase{"\xff\xfe", std::nullopt} /* not UTF-8 */));

struct SizeCase {
    const char* num_threads;  // RAYON_NUM_THREADS, nullptr = unset
    const char* num_cpus;     // RAYON_RS_NUM_CPUS
    std::size_t default_size;
    std::size_t expected;
    bool default_used;
};

class PoolSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PoolSize, Table) {
    const SizeCase& c = GetParam();
    bool used = false;
    const std::size_t n = pool_size(c.num_threads, c.num_cpus, [&] {
        used = true;
        return c.default_size;
    });
    EXPECT_EQ(n, c.expected);
    EXPECT_EQ(used, c.default_used);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, PoolSize,
    ::testing::Values(
        SizeCase{nullptr, nullptr, 3, 3, true}, SizeCase{"4", nullptr, 3, 4, false},
        SizeCase{"+4", "9", 3, 4, false}, SizeCase{"007", nullptr, 3, 7, false},
        SizeCase{"1", "9", 3, 1, false},
        // "0" selects the default, even when the second variable is set.
        SizeCase{"0", "5", 3, 3, true}, SizeCase{"+0", nullptr, 2, 2, true},
        // Unparsable first variable: the second one decides.
        SizeCase{"abc", "5", 3, 5, false}, SizeCase{" 4", "5", 3, 5, false}, SizeCase{"-1", "5", 3, 5, false},
        SizeCase{"", "5", 3, 5, false}, SizeCase{"18446744073709551616", "6", 3, 6, false},
        SizeCase{"-1", nullptr, 3, 3, true}, SizeCase{"abc", "0", 3, 3, true}, SizeCase{"abc", "xyz", 3, 3, true},
        SizeCase{nullptr, "+8", 3, 8, false}, SizeCase{nullptr, "0", 3, 3, true},
        // At most 65535, from either variable or the default.
        SizeCase{"65535", nullptr, 3, 65535, false}, SizeCase{"65536", nullptr, 3, 65535, false},
        SizeCase{"70000", "2", 3, 65535, false}, SizeCase{nullptr, "70000", 3, 65535, false},
        SizeCase{"18446744073709551615", nullptr, 3, 65535, false},
        SizeCase{nullptr, nullptr, 100000, 65535, true}, SizeCase{nullptr, nullptr, 0, 1, true}));

// ---- cgroup quota ------------------------------------------------------------

struct CgroupCase {
    const char* name;
    const char* proc_cgroup;  // nullptr: no /proc/self/cgroup
    const char* mountinfo;
    std::map<std::string, std::string> files;
    std::optional<std::size_t> expected;
};

class CgroupLimit : public ::testing::TestWithParam<CgroupCase> {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("zorvane_cgroup_" + std::to_string(getpid()) + "_" + GetParam().name);
        fs::remove_all(root_);
        fs::create_directories(root_ / "proc/self");
        if (GetParam().proc_cgroup != nullptr) write("/proc/self/cgroup", GetParam().proc_cgroup);
        write("/proc/self/mountinfo", GetParam().mountinfo);
        for (const auto& [path, text] : GetParam().files) write(path, text);
    }
    void TearDown() override { fs::remove_all(root_); }
    void write(const std::string& path, const std::string& text) {
        const fs::path p = root_.string() + path;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    fs::path root_;
};

TEST_P(CgroupLimit, Table) { EXPECT_EQ(cgroup_cpu_limit(root_.string()), GetParam().expected); }

const char* const v2_mount = "25 1 0:22 / /sys/fs/cgroup rw,nosuid,nodev,noexec - cgroup2 cgroup2 rw,nsdelegate\n";
const char* const v1_mount =
    "30 25 0:26 / /sys/fs/cgroup/cpu,cpuacct rw,nosuid shared:9 - cgroup cgroup rw,cpu,cpuacct\n"
    "31 25 0:27 / /sys/fs/cgroup/memory rw,nosuid shared:10 - cgroup cgroup rw,memory\n";

INSTANTIATE_TEST_SUITE_P(
    Trees, CgroupLimit,
    ::testing::Values(
        CgroupCase{"v2_own", "0::/app.slice/run.scope\n", v2_mount,
                   {{"/sys/fs/cgroup/app.slice/run.scope/cpu.max", "150000 100000\n"}}, 1},
        CgroupCase{"v2_parent_tighter", "0::/app.slice/run.scope\n", v2_mount,
                   {{"/sys/fs/cgroup/app.slice/run.scope/cpu.max", "400000 100000\n"},
                    {"/sys/fs/cgroup/app.slice/cpu.max", "200000 100000\n"}},
                   2},
        CgroupCase{"v2_child_tighter", "0::/a/b\n", v2_mount,
                   {{"/sys/fs/cgroup/a/b/cpu.max", "300000 100000\n"}, {"/sys/fs/cgroup/a/cpu.max", "max 100000\n"}},
                   3},
        CgroupCase{"v2_unlimited", "0::/a/b\n", v2_mount,
                   {{"/sys/fs/cgroup/a/b/cpu.max", "max 100000\n"}, {"/sys/fs/cgroup/a/cpu.max", "max 100000\n"}},
                   std::nullopt},
        CgroupCase{"v2_below_one_cpu", "0::/a\n", v2_mount, {{"/sys/fs/cgroup/a/cpu.max", "1000 100000\n"}}, 1},
        CgroupCase{"v2_root_cgroup", "0::/\n", v2_mount, {{"/sys/fs/cgroup/cpu.max", "500000 100000\n"}}, 5},
        CgroupCase{"v2_escaped_mount", "0::/a\n",
                   "25 1 0:22 / /sys/fs/my\\040cgroup rw - cgroup2 cgroup2 rw\n",
                   {{"/sys/fs/my cgroup/a/cpu.max", "700000 100000\n"}}, 7},
        CgroupCase{"v1_quota", "5:cpu,cpuacct:/docker/abc\n4:memory:/docker/abc\n", v1_mount,
                   {{"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "300000\n"},
                    {"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"}},
                   3},
        CgroupCase{"v1_unlimited", "5:cpu,cpuacct:/docker/abc\n", v1_mount,
                   {{"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "-1\n"},
                    {"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"}},
                   std::nullopt},
        CgroupCase{"v1_parent_limit", "5:cpu,cpuacct:/docker/abc\n", v1_mount,
                   {{"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "-1\n"},
                    {"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"},
                    {"/sys/fs/cgroup/cpu,cpuacct/docker/cpu.cfs_quota_us", "250000\n"},
                    {"/sys/fs/cgroup/cpu,cpuacct/docker/cpu.cfs_period_us", "100000\n"}},
                   2},
        // Inside a cgroup namespace the hierarchy's own directory is mounted.
        CgroupCase{"v1_namespaced_mount", "5:cpu,cpuacct:/docker/abc\n",
                   "30 25 0:26 /docker/abc /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu,cpuacct\n",
                   {{"/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "400000\n"},
                    {"/sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"}},
                   4},
        // Hybrid layout: an empty unified hierarchy, the cpu controller on v1.
        CgroupCase{"hybrid", "0::/\n2:cpu:/job\n",
                   "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"
                   "32 31 0:29 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n",
                   {{"/sys/fs/cgroup/cpu/job/cpu.cfs_quota_us", "600000\n"},
                    {"/sys/fs/cgroup/cpu/job/cpu.cfs_period_us", "100000\n"}},
                   6},
        CgroupCase{"v1_malformed", "5:cpu:/x\n", "30 25 0:26 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n",
                   {{"/sys/fs/cgroup/cpu/x/cpu.cfs_quota_us", "lots\n"},
                    {"/sys/fs/cgroup/cpu/x/cpu.cfs_period_us", "100000\n"}},
                   std::nullopt},
        CgroupCase{"no_cgroup_file", nullptr, v2_mount, {}, std::nullopt}),
    [](const ::testing::TestParamInfo<CgroupCase>& info) { return std::string(info.param.name); });

TEST(AvailableParallelism, WithinTheProcessorsOfThisProcess) {
    const std::size_t n = zorvane::parallel::available_parallelism();
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, static_cast<std::size_t>(CPU_COUNT(&set)));
    if (auto limit = cgroup_cpu_limit()) EXPECT_LE(n, *limit);
    else EXPECT_EQ(n, static_cast<std::size_t>(CPU_COUNT(&set)));
}

}  // namespace
