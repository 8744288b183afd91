// Micro-benchmark of the elliptic integrals: nanoseconds per call over arrays of
// arguments. bench/bench_ellip.py runs it and times SciPy on the same arguments.
//
// Usage: bench_ellip [N]   (default 1000000 arguments per case)
// Output: one line per case, "name ns_per_call checksum".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ellip/elliprf.hpp"
#include "ellip/elliprj.hpp"
#include "ellip/legendre/ellipe.hpp"
#include "ellip/legendre/ellipk.hpp"
#include "ellip/legendre/ellippi.hpp"

namespace {

// Argument i of N: the same formulas as bench_ellip.py.
double frac(std::size_t i, std::size_t n) { return (static_cast<double>(i) + 0.5) / static_cast<double>(n); }
double scrambled(std::size_t i) {  // fractional part of i·golden ratio, a low-discrepancy sequence
    const double g = 0.6180339887498949 * static_cast<double>(i);
    return g - static_cast<double>(static_cast<long long>(g));
}

template <class F>
void run(const char* name, std::size_t n, F&& body) {
    double best = 1e300, checksum = 0.0;
    for (int rep = 0; rep < 5; ++rep) {
        double sum = 0.0;
        const auto t0 = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < n; ++i) sum += body(i);
        const auto t1 = std::chrono::steady_clock::now();
        const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(n);
        if (ns < best) best = ns;
        checksum = sum;
    }
    std::printf("%s %.3f %.17g\n", name, best, checksum);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvane::ellip;
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    std::vector<double> m_table(n), m_smooth(n), m_fallback(n), pn(n), pm(n), x(n), y(n), z(n), p(n);
    for (std::size_t i = 0; i < n; ++i) {
        m_table[i] = 0.9 * scrambled(i);                        // table path, 0 <= m < 0.9
        m_smooth[i] = 0.9 * frac(i, n);                         // table path, m increasing
        m_fallback[i] = 0.9 + 0.0999 * scrambled(i);            // Carlson path, 0.9 <= m < 1
        pn[i] = 0.98 * frac(i, n) + 0.01;                       // 0 < n < 1
        pm[i] = 0.95 * scrambled(i);                            // 0 <= m < 0.95
        x[i] = 0.0;                                             // RJ as Pi calls it, and a general one
        y[i] = 0.1 + 2.0 * scrambled(i);
        z[i] = 1.0;
        p[i] = 0.05 + 3.0 * frac(i, n);
    }
    auto v = [](const zorvane::Result<double>& r) { return r ? *r : 0.0; };
    run("ellipk_table", n, [&](std::size_t i) { return v(ellipk(m_table[i])); });
    run("ellipk_table_smooth", n, [&](std::size_t i) { return v(ellipk(m_smooth[i])); });
    run("ellipk_fallback", n, [&](std::size_t i) { return v(ellipk(m_fallback[i])); });
    run("ellipe_table", n, [&](std::size_t i) { return v(ellipe(m_table[i])); });
    run("ellipe_table_smooth", n, [&](std::size_t i) { return v(ellipe(m_smooth[i])); });
    run("ellipe_fallback", n, [&](std::size_t i) { return v(ellipe(m_fallback[i])); });
    run("ellippi", n, [&](std::size_t i) { return v(ellippi(pn[i], pm[i])); });
    run("elliprf", n, [&](std::size_t i) { return v(elliprf(x[i], y[i], z[i])); });
    run("elliprj", n, [&](std::size_t i) { return v(elliprj(x[i], y[i], z[i], p[i])); });
    return 0;
}
