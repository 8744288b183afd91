// Decoding of fuzzer bytes into routine choices and double arguments, and the
// contract checks shared by the fuzz targets.
//
// Each double costs one tag byte, which picks how it is made:
//   0x00 … 0x7f  the next eight bytes, an arbitrary bit pattern;
//   0x80 … 0xbf  one of the values that break numerics (table below);
//   0xc0 … 0xdf  such a value moved by a signed count of ulps (next byte);
//   0xe0 … 0xff  an ordinary number: a signed 16-bit integer over 256 (next
//                two bytes), so that model parameters often land in the range
//                astronomers use.
// Missing bytes read as zero, so every input, however short, decodes.
#pragma once

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>

namespace zorvane::fuzz {

inline constexpr double INF = std::numeric_limits<double>::infinity();
inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Values at which the routines change method or meet IEEE's corner cases.
inline constexpr double SPECIALS[64] = {
    0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 4.0, -0.5,
    INF, -INF, NaN, -NaN, DBL_MIN, DBL_TRUE_MIN, DBL_MAX, -DBL_MAX,
    1e-300, 1e300, 0x1p-256, 0x1p256, 0x1.0000000000001p-256, 0x1.fffffffffffffp255, 1e-200, 1e200,
    0.9999999999999999, 1.0000000000000002, 2.220446049250313e-16, 1.0 - 2.220446049250313e-16,
    0.9, 0.875, 0.05, -0.05, 0.85, 0.45, 0.1, 1e-16, 1e-5, 0.99999, 1.00001, 1e-10,
    0.01, 0.001, 1e-4, 10.0, 100.0, 1e4, 1e8, 3.0,
    0.6, 0.3, 1.2, 1.0 / 1.2, -2.0, -10.0, -1e-300, -1e300,
    2147483648.0, -2147483649.0, 107374182.4, 4.9e-324 * 3, 0.7071067811865476, 1e-8, 1e15, 1e-15,
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool exhausted() const { return pos_ >= size_; }

    std::uint64_t u64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(byte()) << (8 * i);
        return v;
    }

    double real() {
        const std::uint8_t tag = byte();
        if (tag < 0x80) return std::bit_cast<double>(u64());
        if (tag < 0xc0) return SPECIALS[tag & 0x3f];
        if (tag < 0xe0) {
            double v = SPECIALS[tag & 0x1f];
            const auto steps = static_cast<std::int8_t>(byte());
            const double toward = steps < 0 ? -INF : INF;
            for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) v = std::nextafter(v, toward);
            return v;
        }
        const auto hi = byte();
        const auto lo = byte();
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(hi << 8 | lo)) / 256.0;
    }

    // A count in [0, limit].
    std::size_t count(std::size_t limit) { return byte() % (limit + 1); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken contract: report the routine, arguments and what went wrong, then
// abort so that libFuzzer saves the input.
[[noreturn]] inline void violated(const char* routine, std::initializer_list<double> args, const std::string& what) {
    std::fprintf(stderr, "\ncontract violated: %s(", routine);
    bool first = true;
    for (double a : args) {
        std::fprintf(stderr, "%s%.17g", first ? "" : ", ", a);
        first = false;
    }
    std::fprintf(stderr, "): %s\n", what.c_str());
    std::abort();
}

inline bool finite_all(std::initializer_list<double> args) {
    for (double a : args)
        if (!std::isfinite(a)) return false;
    return true;
}

}  // namespace zorvane::fuzz
