// SplitMix64: a small, reproducible generator for test inputs. The accuracy
// test must draw exactly the arguments that tools/gen_ellip_reference.py draws.
#pragma once

#include <cmath>
#include <cstdint>

namespace zorvane::testing {

struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() {
        state += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1), 53 bits.
    double unit() { return std::ldexp(static_cast<double>(next() >> 11), -53); }
    double uniform(double a, double b) { return a + (b - a) * unit(); }
    // A random double with binary exponent in [e0, e1].
    double mag(int e0, int e1) {
        const int e = e0 + static_cast<int>(next() % static_cast<std::uint64_t>(e1 - e0 + 1));
        return std::ldexp(static_cast<double>((next() >> 12) | (1ULL << 52)), e - 52);
    }
};

}  // namespace zorvane::testing
