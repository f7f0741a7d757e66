// The cheap distance bounds must enclose the exact distance, or the fast scans decide a
// coverage or conflict test differently from the plain scan.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "distance_bounds.h"

using namespace sphnet;

namespace {

void expectEnclosed(const DistanceKit& kit, const double* c, const double* x, const char* what) {
    double lo = 0;
    double hi = 0;
    if (!distanceBounds(kit, c, x, lo, hi)) return;  // no bound certified: the exact path runs
    const double exact = exactDistance(kit, c, x);
    EXPECT_LE(lo, exact) << what << " p = " << kit.p << " n = " << kit.n;
    EXPECT_GE(hi, exact) << what << " p = " << kit.p << " n = " << kit.n;
}

// 1/p rounded to a double is off the true root's exponent; with sums near 2^±700 that error
// grew past the old margin and the lower bound exceeded the exact distance.
TEST(DistanceBounds, EncloseTheExactDistanceWhenTheRootExponentIsInexact) {
    const DistanceKit kit = makeDistanceKit(1.7846844457447413, 1);
    const double c[1] = {-0x1.91abfbffb23eap+360};
    const double x[1] = {-0x1.7a266f86fb08bp+360};
    expectEnclosed(kit, c, x, "regression");
}

TEST(DistanceBounds, EncloseTheExactDistanceOverNormsAndMagnitudes) {
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> norm(1.0, 6.0);
    std::uniform_int_distribution<int> exponent(-400, 400);
    for (int trial = 0; trial < 20000; ++trial) {
        const int n = trial % 3 == 0 ? 1 + trial % 40 : 1 + trial % 9;
        // p = 1 sums in another order than the exact distance: its bounds allow for that too.
        const double p = trial % 5 == 0 ? 2.0 : trial % 5 == 3 ? 1.0 : norm(random);
        const DistanceKit kit = makeDistanceKit(p, n);
        const double scale = std::ldexp(1.0, exponent(random));
        // Now and then every coordinate differs by the same amount: there the L1-based lower
        // bound for p < 2 meets the exact distance.
        const bool even = trial % 4 == 1;
        const double step = unit(random) * scale;
        std::vector<double> c(n);
        std::vector<double> x(n);
        for (int i = 0; i < n; ++i) {
            x[i] = unit(random) * scale;
            c[i] = even ? x[i] + (i % 2 == 0 ? step : -step) : unit(random) * scale;
        }
        expectEnclosed(kit, c.data(), x.data(), even ? "even" : "random");
    }
}

}  // namespace
