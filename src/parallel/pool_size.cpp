#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "parallel/pool_size.hpp"

namespace zorvane::parallel {

std::optional<std::uint64_t> parse_thread_count(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

namespace {

std::optional<std::string> read_first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<long long> parse_integer(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    auto n = parse_thread_count(text);
    if (!n || text.front() == '+' || *n > static_cast<std::uint64_t>(std::numeric_limits<long long>::max()))
        return std::nullopt;
    return negative ? -static_cast<long long>(*n) : static_cast<long long>(*n);
}

// Mount points in /proc/self/mountinfo escape blanks and backslashes as \ooo.
std::string unescape_mount_path(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7' &&
            text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
            out.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                            (text[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? text.size() - start
                                                                            : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool contains(const std::vector<std::string>& list, std::string_view item) {
    for (const auto& x : list)
        if (x == item) return true;
    return false;
}

struct Mount {
    std::string root;   // the directory of the hierarchy mounted there
    std::string point;  // where it is mounted
};

// The mount of a cgroup hierarchy: cgroup2 when `controller` is empty, else
// the v1 hierarchy whose super options name `controller`.
std::optional<Mount> find_cgroup_mount(const std::string& root, std::string_view controller) {
    std::ifstream in(root + "/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root point options [optional...] - type source super-options
        const std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream head(line.substr(0, dash));
        std::string id, parent, device, mount_root, point;
        if (!(head >> id >> parent >> device >> mount_root >> point)) continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type, source, options;
        if (!(tail >> type >> source >> options)) continue;
        const bool match = controller.empty()
                               ? type == "cgroup2"
                               : type == "cgroup" && contains(split(options, ','), controller);
        if (match) return Mount{unescape_mount_path(mount_root), unescape_mount_path(point)};
    }
    return std::nullopt;
}

// The directory of this process's cgroup below the mount, given its path in
// the hierarchy; nothing when the path lies outside the mounted part.
std::optional<std::string> cgroup_directory(const Mount& mount, const std::string& path) {
    std::string relative;
    if (mount.root == "/") {
        relative = path;
    } else if (path == mount.root) {
        relative = "/";
    } else if (path.size() > mount.root.size() && path.compare(0, mount.root.size(), mount.root) == 0 &&
               path[mount.root.size()] == '/') {
        relative = path.substr(mount.root.size());
    } else {
        return std::nullopt;
    }
    if (relative == "/") relative.clear();
    return mount.point + relative;
}

// Walks from the cgroup's directory up to the mount point and keeps the
// tightest limit that `limit_at` finds on the way.
template <class LimitAt>
std::optional<std::size_t> tightest_limit(const std::string& root, const Mount& mount,
                                          const std::string& path, LimitAt&& limit_at) {
    auto dir = cgroup_directory(mount, path);
    if (!dir) return std::nullopt;
    std::optional<std::size_t> best;
    std::string d = root + *dir;
    const std::string top = root + mount.point;
    for (;;) {
        if (auto limit = limit_at(d); limit && (!best || *limit < *best)) best = limit;
        if (d.size() <= top.size()) break;
        const std::size_t slash = d.rfind('/');
        if (slash == std::string::npos || slash < top.size()) break;
        d.resize(slash);
        if (d.size() < top.size()) break;
    }
    return best;
}

std::size_t whole_cpus(long long quota, long long period) {
    const long long cpus = quota / period;
    return cpus < 1 ? 1 : static_cast<std::size_t>(cpus);
}

// cgroup v2: "max <period>" (no limit) or "<quota> <period>".
std::optional<std::size_t> limit_v2(const std::string& dir) {
    auto line = read_first_line(dir + "/cpu.max");
    if (!line) return std::nullopt;
    std::istringstream in(*line);
    std::string quota_text, period_text;
    if (!(in >> quota_text)) return std::nullopt;
    if (quota_text == "max") return std::nullopt;
    if (!(in >> period_text)) period_text = "100000";
    auto quota = parse_integer(quota_text);
    auto period = parse_integer(period_text);
    if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
    return whole_cpus(*quota, *period);
}

// cgroup v1: cpu.cfs_quota_us (-1: no limit) over cpu.cfs_period_us.
std::optional<std::size_t> limit_v1(const std::string& dir) {
    auto quota_line = read_first_line(dir + "/cpu.cfs_quota_us");
    auto period_line = read_first_line(dir + "/cpu.cfs_period_us");
    if (!quota_line || !period_line) return std::nullopt;
    auto quota = parse_integer(*quota_line);
    auto period = parse_integer(*period_line);
    if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
    return whole_cpus(*quota, *period);
}

std::size_t cpus_in_affinity_mask() {
    // Grow the mask until it holds every CPU the kernel knows of.
    for (int count = 1024; count <= (1 << 20); count *= 2) {
        cpu_set_t* set = CPU_ALLOC(count);
        if (set == nullptr) return 0;
        const std::size_t bytes = CPU_ALLOC_SIZE(count);
        CPU_ZERO_S(bytes, set);
        const int rc = sched_getaffinity(0, bytes, set);
        const int n = rc == 0 ? CPU_COUNT_S(bytes, set) : 0;
        const int error = errno;
        CPU_FREE(set);
        if (rc == 0) return static_cast<std::size_t>(n);
        if (error != EINVAL) return 0;
    }
    return 0;
}

}  // namespace

std::optional<std::size_t> cgroup_cpu_limit(const std::string& root) {
    std::ifstream in(root + "/proc/self/cgroup");
    std::string line;
    std::optional<std::string> v2_path;
    std::vector<std::pair<std::string, std::string>> v1;  // (controllers, path)
    while (std::getline(in, line)) {
        // hierarchy-id:controllers:path
        const std::size_t a = line.find(':');
        if (a == std::string::npos) continue;
        const std::size_t b = line.find(':', a + 1);
        if (b == std::string::npos) continue;
        std::string id = line.substr(0, a), controllers = line.substr(a + 1, b - a - 1),
                    path = line.substr(b + 1);
        if (id == "0" && controllers.empty())
            v2_path = path;
        else
            v1.emplace_back(controllers, path);
    }
    if (v2_path) {
        if (auto mount = find_cgroup_mount(root, "")) {
            if (auto limit = tightest_limit(root, *mount, *v2_path, limit_v2)) return limit;
        }
    }
    for (const auto& [controllers, path] : v1) {
        if (!contains(split(controllers, ','), "cpu")) continue;
        if (auto mount = find_cgroup_mount(root, "cpu"))
            return tightest_limit(root, *mount, path, limit_v1);
        break;
    }
    return std::nullopt;
}

std::size_t available_parallelism() {
    std::size_t cpus = cpus_in_affinity_mask();
    if (cpus == 0) {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        cpus = online > 0 ? static_cast<std::size_t>(online) : 0;
    }
    if (cpus == 0) return 1;
    if (auto limit = cgroup_cpu_limit(); limit && *limit < cpus) cpus = *limit;
    return cpus;
}

std::size_t pool_size_from_environment() {
    return pool_size(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                     [] { return available_parallelism(); });
}

}  // namespace zorvane::parallel
