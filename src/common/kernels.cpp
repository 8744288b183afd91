#include "common/kernels.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace zorvane {

namespace {

bool cpu_has_avx2() noexcept {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

KernelSet initial_set() noexcept {
    const char* env = std::getenv("ZORVANE_KERNELS");
    if (env != nullptr && std::strcmp(env, "scalar") == 0) return KernelSet::scalar;
    return cpu_has_avx2() ? KernelSet::avx2 : KernelSet::scalar;
}

std::atomic<KernelSet>& current() noexcept {
    static std::atomic<KernelSet> set{initial_set()};
    return set;
}

}  // namespace

bool kernel_set_available(KernelSet set) noexcept {
    return set == KernelSet::scalar || cpu_has_avx2();
}

KernelSet kernel_set() noexcept { return current().load(std::memory_order_relaxed); }

bool use_kernel_set(KernelSet set) noexcept {
    if (!kernel_set_available(set)) return false;
    current().store(set, std::memory_order_relaxed);
    return true;
}

}  // namespace zorvane
