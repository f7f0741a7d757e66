// The cheap distance bounds must enclose the exact distance, or the fast scans decide a
// coverage or conflict test differently from the plain scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "distance_bounds.h"

using namespace sphnet;

namespace {

void expectEnclosed(const Metric& metric, const double* c, const double* x, const char* what) {
    double lo = 0;
    double hi = 0;
    if (!distanceBounds(metric, c, x, lo, hi)) return;  // no bound certified: the exact path runs
    const double exact = exactDistance(metric, c, x);
    EXPECT_LE(lo, exact) << what << " p = " << metric.p << " n = " << metric.n;
    EXPECT_GE(hi, exact) << what << " p = " << metric.p << " n = " << metric.n;
}

// 1/p rounded to a double is off the true root's exponent; with sums near 2^±700 that error
// grew past the old margin and the lower bound exceeded the exact distance.
TEST(DistanceBounds, EncloseTheExactDistanceWhenTheRootExponentIsInexact) {
    const Metric metric = makeMetric(1.7846844457447413, 1);
    const double c[1] = {-0x1.91abfbffb23eap+360};
    const double x[1] = {-0x1.7a266f86fb08bp+360};
    expectEnclosed(metric, c, x, "regression");
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
        const Metric metric = makeMetric(p, n);
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
        expectEnclosed(metric, c.data(), x.data(), even ? "even" : "random");
    }
}

}  // namespace

// The tree passes over a box when this bound rules it out: it must not exceed the exact
// distance to any centre in the box. At the box point nearest x, p = 1 and +Inf leave it no
// slack at all (it is that point's exact distance); for other p, with one term outside the box
// the root of the power often rounds below the term itself, which only the allowance covers,
// at ordinary and at huge magnitudes.
TEST(DistanceBounds, BoxBoundStaysBelowTheExactDistanceToEveryPointOfTheBox) {
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> norm(1.0, 6.0);
    std::uniform_int_distribution<int> exponent(-300, 1000);
    const double norms[] = {1.0, std::numeric_limits<double>::infinity(), 1.5, 3.0, 0.0};
    for (int trial = 0; trial < 40000; ++trial) {
        const int n = 1 + trial % 16;
        const double p = norms[trial % 5] != 0.0 ? norms[trial % 5] : norm(random);
        const Metric metric = makeMetric(p, n);
        const double scale = std::ldexp(1.0, trial % 3 == 0 ? exponent(random) : 0);
        const bool oneTermOutside = trial % 2 == 0;
        std::vector<double> lo(n), hi(n), x(n), nearestPoint(n), inside(n);
        for (int i = 0; i < n; ++i) {
            lo[i] = unit(random) * scale;
            hi[i] = lo[i] + std::fabs(unit(random)) * scale;
            const bool outside = oneTermOutside ? i == 0 : random() % 2 == 0;
            x[i] = outside ? (random() % 2 == 0 ? lo[i] : hi[i]) + unit(random) * scale
                           : lo[i] + (hi[i] - lo[i]) * 0.5;
            nearestPoint[i] = std::min(std::max(x[i], lo[i]), hi[i]);
            inside[i] = lo[i] + (hi[i] - lo[i]) * std::fabs(unit(random));
        }
        const double bound = boxLowerBound(metric, lo.data(), hi.data(), x.data());
        const double exact = exactDistance(metric, nearestPoint.data(), x.data());
        EXPECT_LE(bound, exact) << "p = " << p << " n = " << n << " trial " << trial;
        if (metric.kind != NormKind::General) {
            EXPECT_EQ(bound, exact) << "p = " << p << " trial " << trial;
        }
        EXPECT_LE(bound, exactDistance(metric, inside.data(), x.data()))
            << "p = " << p << " trial " << trial;
        if (::testing::Test::HasFailure()) return;
    }
}
