// Which form of the numeric kernels runs: the scalar one everywhere, or the
// four-lane AVX2 one where the processor has it. Both give the same bits; the
// choice only changes the speed.
//
// The choice is made once, on first use: the best set this processor runs,
// unless the environment variable ZORVANE_KERNELS says `scalar` (`avx2`, empty
// or unset mean the best available; an AVX2 request on a processor without it
// falls back on scalar). Tests may switch at run time with use_kernel_set.
#pragma once

namespace zorvane {

enum class KernelSet { scalar, avx2 };

// Whether this build and this processor can run the set.
bool kernel_set_available(KernelSet set) noexcept;

// The set in use.
KernelSet kernel_set() noexcept;

// Selects a set for the whole process; false (and nothing changed) when the
// set is not available.
bool use_kernel_set(KernelSet set) noexcept;

}  // namespace zorvane
