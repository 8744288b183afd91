// The four-lane kernels on AVX2 (Carlson's integrals and Bulirsch's cel): the
// templates of carlson_lanes.inc instantiated with a pack of four doubles.
//
// This file is compiled like every other (no -mavx2 for the build): only the
// code between the target pragmas below is compiled for AVX2, and it runs
// only once common/kernels.cpp has found AVX2 on the processor. Everything
// included before the pragmas (the scalar routines, the standard library) is
// compiled for plain x86-64, so no instance shared with other files can carry
// AVX2 instructions. The lane templates are included a second time inside
// the namespace `avx2`, which keeps their instances apart from the scalar ones.
#include "ellip/carlson_batch.hpp"
#include "ellip/cel.hpp"

#include <cfloat>
#include <cmath>
#include <numbers>

#include "common/kernels.hpp"
#include "ellip/carlson_lanes.hpp"
#include "ellip/elliprf.hpp"
#include "ellip/elliprg.hpp"
#include "ellip/elliprj.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZORVANE_HAVE_AVX2_KERNELS 1
#include <immintrin.h>
#endif

#ifdef ZORVANE_HAVE_AVX2_KERNELS

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace zorvane::ellip::avx2 {

// Four lanes of a mask: all bits of a lane set or clear.
struct M4 {
    __m256d m;
    explicit M4(__m256d v) noexcept : m(v) {}
    explicit M4(bool b) noexcept : m(_mm256_castsi256_pd(_mm256_set1_epi64x(b ? -1 : 0))) {}
};

// Four doubles.
struct V4 {
    __m256d v;
    V4(double d) noexcept : v(_mm256_set1_pd(d)) {}  // implicit, so that constants broadcast
    explicit V4(__m256d x) noexcept : v(x) {}
};

inline V4 operator+(V4 a, V4 b) noexcept { return V4(_mm256_add_pd(a.v, b.v)); }
inline V4 operator-(V4 a, V4 b) noexcept { return V4(_mm256_sub_pd(a.v, b.v)); }
inline V4 operator*(V4 a, V4 b) noexcept { return V4(_mm256_mul_pd(a.v, b.v)); }
inline V4 operator/(V4 a, V4 b) noexcept { return V4(_mm256_div_pd(a.v, b.v)); }
inline V4 operator-(V4 a) noexcept { return V4(_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))); }

// IEEE comparisons: ordered and false with a NaN, except != (true with a NaN).
inline M4 operator<(V4 a, V4 b) noexcept { return M4(_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)); }
inline M4 operator>(V4 a, V4 b) noexcept { return M4(_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)); }
inline M4 operator<=(V4 a, V4 b) noexcept { return M4(_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)); }
inline M4 operator>=(V4 a, V4 b) noexcept { return M4(_mm256_cmp_pd(a.v, b.v, _CMP_GE_OQ)); }
inline M4 operator==(V4 a, V4 b) noexcept { return M4(_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)); }
inline M4 operator!=(V4 a, V4 b) noexcept { return M4(_mm256_cmp_pd(a.v, b.v, _CMP_NEQ_UQ)); }

inline M4 operator&&(M4 a, M4 b) noexcept { return M4(_mm256_and_pd(a.m, b.m)); }
inline M4 operator||(M4 a, M4 b) noexcept { return M4(_mm256_or_pd(a.m, b.m)); }
inline M4 operator!(M4 a) noexcept { return M4(_mm256_xor_pd(a.m, M4(true).m)); }

inline unsigned bits(M4 m) noexcept { return static_cast<unsigned>(_mm256_movemask_pd(m.m)); }

inline V4 lane_sqrt(V4 x) noexcept { return V4(_mm256_sqrt_pd(x.v)); }
inline V4 lane_abs(V4 x) noexcept { return V4(_mm256_andnot_pd(_mm256_set1_pd(-0.0), x.v)); }
inline V4 lane_select(M4 m, V4 a, V4 b) noexcept { return V4(_mm256_blendv_pd(b.v, a.v, m.m)); }
inline M4 lane_select(M4 m, M4 a, M4 b) noexcept { return M4(_mm256_blendv_pd(b.m, a.m, m.m)); }
inline bool lane_any(M4 m) noexcept { return _mm256_movemask_pd(m.m) != 0; }
inline M4 lane_isnormal(V4 x) noexcept {
    const V4 a = lane_abs(x);
    return a >= V4(DBL_MIN) && a <= V4(DBL_MAX);
}
// fmax as the C library has it: a NaN operand gives the other one. (The
// arguments here are magnitudes, so the sign of a zero never matters.)
inline V4 lane_fmax(V4 a, V4 b) noexcept {
    const __m256d m = _mm256_max_pd(a.v, b.v);  // b where either is NaN
    return V4(_mm256_blendv_pd(m, a.v, _mm256_cmp_pd(b.v, b.v, _CMP_UNORD_Q)));
}

inline V4 lane_atan(V4 x, M4 m) noexcept {
    alignas(32) double v[4];
    _mm256_store_pd(v, x.v);
    const unsigned b = bits(m);
    for (int i = 0; i < 4; ++i) {
        if (b & (1u << i)) v[i] = std::atan(v[i]);
    }
    return V4(_mm256_load_pd(v));
}

inline V4 lane_pow(V4 x, double e, M4 m) noexcept {
    alignas(32) double v[4];
    _mm256_store_pd(v, x.v);
    const unsigned b = bits(m);
    for (int i = 0; i < 4; ++i) {
        if (b & (1u << i)) v[i] = std::pow(v[i], e);
    }
    return V4(_mm256_load_pd(v));
}

inline M4 lane_rj_other(V4& r, M4 m, V4 rho, M4 out_of_range, V4 rp, V4 rx, V4 ry, V4 rz, V4 p, V4 d,
                        const char** /*error*/) noexcept {
    alignas(32) double rv[4], rhov[4], rpv[4], rxv[4], ryv[4], rzv[4], pv[4], dv[4];
    _mm256_store_pd(rv, r.v);
    _mm256_store_pd(rhov, rho.v);
    _mm256_store_pd(rpv, rp.v);
    _mm256_store_pd(rxv, rx.v);
    _mm256_store_pd(ryv, ry.v);
    _mm256_store_pd(rzv, rz.v);
    _mm256_store_pd(pv, p.v);
    _mm256_store_pd(dv, d.v);
    const unsigned lanes = bits(m), oor = bits(out_of_range);
    alignas(32) long long failed[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        if (!(lanes & (1u << i))) continue;
        const auto v = rc_factor_nonpositive(rhov[i], (oor >> i) & 1u, rpv[i], rxv[i], ryv[i], rzv[i], pv[i], dv[i]);
        if (v) {
            rv[i] = *v;
        } else {
            failed[i] = -1;
        }
    }
    r = V4(_mm256_load_pd(rv));
    return M4(_mm256_castsi256_pd(_mm256_load_si256(reinterpret_cast<const __m256i*>(failed))));
}

// Eight lanes as two packs, for the loops whose steps wait on a division and
// a square root: two independent packs keep the units busy. Only what cel
// needs.
struct M8 {
    M4 lo, hi;
};
struct V8 {
    V4 lo, hi;
    V8(double d) noexcept : lo(d), hi(d) {}
    V8(V4 a, V4 b) noexcept : lo(a), hi(b) {}
};
inline V8 operator+(V8 a, V8 b) noexcept { return {a.lo + b.lo, a.hi + b.hi}; }
inline V8 operator*(V8 a, V8 b) noexcept { return {a.lo * b.lo, a.hi * b.hi}; }
inline V8 operator/(V8 a, V8 b) noexcept { return {a.lo / b.lo, a.hi / b.hi}; }
inline V8 operator-(V8 a, V8 b) noexcept { return {a.lo - b.lo, a.hi - b.hi}; }
inline M8 operator<=(V8 a, V8 b) noexcept { return {a.lo <= b.lo, a.hi <= b.hi}; }
inline M8 operator&&(M8 a, M8 b) noexcept { return {a.lo && b.lo, a.hi && b.hi}; }
inline M8 operator!(M8 a) noexcept { return {!a.lo, !a.hi}; }
inline V8 lane_sqrt(V8 x) noexcept { return {lane_sqrt(x.lo), lane_sqrt(x.hi)}; }
inline V8 lane_abs(V8 x) noexcept { return {lane_abs(x.lo), lane_abs(x.hi)}; }
inline V8 lane_select(M8 m, V8 a, V8 b) noexcept { return {lane_select(m.lo, a.lo, b.lo), lane_select(m.hi, a.hi, b.hi)}; }
inline bool lane_any(M8 m) noexcept { return lane_any(m.lo || m.hi); }

}  // namespace zorvane::ellip::avx2

#define ZORVANE_LANES_NS avx2
#include "ellip/carlson_lanes.inc"
#undef ZORVANE_LANES_NS

namespace zorvane::ellip::avx2 {

namespace {

void carlson_zero(CarlsonZeroLanes& lanes) noexcept {
    constexpr double PI = std::numbers::pi;
    const V4 y(_mm256_loadu_pd(lanes.y));
    const V4 p(_mm256_loadu_pd(lanes.p));
    // The lanes that take the general road of each routine. With x = 0 and
    // z = 1 every other road (a domain error, a coinciding pair, the principal
    // value of RJ, the rescaling of arguments beyond 2^256) needs y or p
    // outside (0, 2^256], y = 1, p = 1 or a NaN; those lanes are left to the
    // scalar routines below.
    const M4 plain_y = y > 0.0 && y != 1.0 && y <= 0x1p256;
    const M4 plain_p = plain_y && p > 0.0 && p != 1.0 && p <= 0x1p256;

    // RF(0, y, 1) = π / AGM(1, √y).
    const V4 one(1.0);
    const V4 rf = V4(PI) / agm_ends(lane_sqrt(one), lane_sqrt(y), plain_y);

    // RG(0, y, 1) with a ≥ b the larger and smaller of y and 1.
    const M4 y_below = one > y;
    const V4 a0 = lane_sqrt(lane_select(y_below, one, y));
    const V4 b0 = lane_sqrt(lane_select(y_below, y, one));
    V4 alpha = a0, beta = b0, s(0.0);
    const M4 want_rg = plain_y && M4(_mm256_castsi256_pd(_mm256_setr_epi64x(
                                      (lanes.want_rg & 1u) ? -1 : 0, (lanes.want_rg & 2u) ? -1 : 0,
                                      (lanes.want_rg & 4u) ? -1 : 0, (lanes.want_rg & 8u) ? -1 : 0)));
    V4 rg(0.0);
    if (lane_any(want_rg)) {
        agm_with_sum(alpha, beta, s, want_rg);
        const V4 sum = a0 + b0;
        rg = (sum * sum * 0.25 - s) * (V4(PI) / (alpha + beta)) * 0.5;
    }

    // RJ(0, y, 1, p) by the duplication.
    V4 rj(0.0);
    const M4 rj_ok = rj_duplication(V4(0.0), y, one, p, plain_p, rj, nullptr);

    _mm256_storeu_pd(lanes.rf, rf.v);
    _mm256_storeu_pd(lanes.rg, rg.v);
    _mm256_storeu_pd(lanes.rj, rj.v);
    unsigned ok_rf = bits(plain_y), ok_rg = bits(want_rg), ok_rj = bits(rj_ok);
    // Every other lane, and a lane that failed or did not converge in the
    // duplication, is evaluated by the scalar routine (which also gives the
    // error where there is one).
    for (int i = 0; i < 4; ++i) {
        const unsigned bit = 1u << i;
        if (!(ok_rf & bit)) {
            const auto v = elliprf(0.0, lanes.y[i], 1.0);
            if (v) {
                lanes.rf[i] = *v;
                ok_rf |= bit;
            }
        }
        if ((lanes.want_rg & bit) && !(ok_rg & bit)) {
            const auto v = elliprg(0.0, lanes.y[i], 1.0);
            if (v) {
                lanes.rg[i] = *v;
                ok_rg |= bit;
            }
        }
        if (!(ok_rj & bit)) {
            const auto v = elliprj(0.0, lanes.y[i], 1.0, lanes.p[i]);
            if (v) {
                lanes.rj[i] = *v;
                ok_rj |= bit;
            }
        }
    }
    lanes.ok_rf = ok_rf;
    lanes.ok_rg = ok_rg;
    lanes.ok_rj = ok_rj;
}

// Eight cels from the arrays at `at`.
void cel8(const double* kc, const double* p, const double* a, const double* b, double* value) noexcept {
    const auto load = [](const double* v) { return V8(V4(_mm256_loadu_pd(v)), V4(_mm256_loadu_pd(v + 4))); };
    const V8 out = cel_positive(load(kc), load(p), load(a), load(b), M8{M4(true), M4(true)});
    _mm256_storeu_pd(value, out.lo.v);
    _mm256_storeu_pd(value + 4, out.hi.v);
}

}  // namespace

}  // namespace zorvane::ellip::avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // ZORVANE_HAVE_AVX2_KERNELS

namespace zorvane::ellip {

CarlsonZeroKernel carlson_zero_kernel() noexcept {
#ifdef ZORVANE_HAVE_AVX2_KERNELS
    if (kernel_set() == KernelSet::avx2) return &avx2::carlson_zero;
#endif
    return nullptr;
}

void cel_lanes(const double* kc, const double* p, const double* a, const double* b, double* value,
               std::size_t count) noexcept {
#ifdef ZORVANE_HAVE_AVX2_KERNELS
    if (kernel_set() == KernelSet::avx2) {
        std::size_t i = 0;
        for (; i + 8 <= count; i += 8) avx2::cel8(kc + i, p + i, a + i, b + i, value + i);
        if (i < count) {
            // The last few, padded with harmless lanes.
            double tail[4][8], out[8];
            for (std::size_t j = 0; j < 8; ++j) {
                const bool in = i + j < count;
                tail[0][j] = in ? kc[i + j] : 1.0;
                tail[1][j] = in ? p[i + j] : 1.0;
                tail[2][j] = in ? a[i + j] : 1.0;
                tail[3][j] = in ? b[i + j] : 1.0;
            }
            avx2::cel8(tail[0], tail[1], tail[2], tail[3], out);
            for (std::size_t j = 0; i + j < count; ++j) value[i + j] = out[j];
        }
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) value[i] = cel(kc[i], p[i], a[i], b[i]);
}

}  // namespace zorvane::ellip
