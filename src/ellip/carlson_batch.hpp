// Carlson's integrals of the complete elliptic integrals, four arguments at a
// time: RF(0, y, 1), RG(0, y, 1) and RJ(0, y, 1, p), the forms of K, E and Π.
#pragma once

namespace zorvane::ellip {

// In: y and p of four lanes, and in want_rg the lanes (bit i for lane i) whose
// RG is needed. Out: each lane's values, bit for bit those of
// elliprf(0, y, 1), elliprg(0, y, 1) and elliprj(0, y, 1, p); ok_rf, ok_rg
// and ok_rj have bit i set where that routine gave a value (not an error).
// RG is only guaranteed on the lanes of want_rg.
struct CarlsonZeroLanes {
    double y[4], p[4];
    unsigned want_rg;
    double rf[4], rg[4], rj[4];
    unsigned ok_rf, ok_rg, ok_rj;
};

using CarlsonZeroKernel = void (*)(CarlsonZeroLanes&) noexcept;

// The four-lane kernel of the kernel set in use (common/kernels.hpp), or
// nullptr when that set is the scalar one: the caller then evaluates element
// by element.
CarlsonZeroKernel carlson_zero_kernel() noexcept;

}  // namespace zorvane::ellip
