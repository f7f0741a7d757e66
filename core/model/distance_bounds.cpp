#include "distance_bounds.h"

#include <cmath>
#include <limits>

namespace sphnet {

double rescaledPowerDistance(const double* c, const double* x, std::int32_t n, double p,
                             double pInv, double literalSum) {
    if (std::isnan(literalSum)) return std::pow(literalSum, pInv);
    double largest = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double t = std::fabs(c[i] - x[i]);
        if (t > largest) largest = t;
    }
    // All terms zero: the literal 0. A difference beyond the double range: so is the distance.
    if (largest == 0.0 || largest == std::numeric_limits<double>::infinity()) return largest;
    // The largest term becomes exactly 1: the sum lies in [1, n], and the root in [1, n^(1/p)].
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) sum += std::pow(std::fabs(c[i] - x[i]) / largest, p);
    return largest * std::pow(sum, pInv);
}

Metric makeMetric(double p, std::int32_t n) {
    Metric k;
    k.n = n;
    k.p = p;
    k.pInv = p == std::numeric_limits<double>::infinity() ? 0.0 : 1.0 / p;
    const double delta = (8.0 * n + 64.0) * std::ldexp(1.0, -52);
    if (p == 1.0 || p == std::numeric_limits<double>::infinity()) {
        k.kind = p == 1.0 ? NormKind::CityBlock : NormKind::Maximum;
        // Sums below 2^1000 cannot have overflowed in any order.
        k.relLow = 1.0 - delta;
        k.relHigh = 1.0 + delta;
        k.largestSafeSum = std::ldexp(1.0, 1000);
        k.boundsUsable = n >= 0 && n <= (1 << 24);
        return k;
    }
    k.kind = NormKind::General;
    // Each pow is within an ulp, a sum of n non-negative terms within (n - 1) ulps, and a
    // root divides the relative error by p: 8n + 64 ulps covers the exact formula and the
    // bounds' own rounding with room to spare.
    if (!(p >= 1.0) || n < 1 || n > (1 << 24)) return k;
    // The root takes pInv, 1/p rounded: it is off by the factor s^(pInv - 1/p), which grows
    // with |ln s|. Sums that the bounds accept lie within 2^-900..2^900, so |ln s| < 700.
    // pInv * p - 1 is exact in one fma.
    const double exponentError = std::fabs(std::fma(k.pInv, p, -1.0)) / p * (1.0 + 1e-6);
    const double relative = delta + 2.0 * 700.0 * exponentError;
    k.relLow = 1.0 - relative;
    k.relHigh = 1.0 + relative;
    k.pIsTwo = p == 2.0;
    k.pBelowTwo = p < 2.0;
    // The factors' own rounding (pow within an ulp, and the product with them) is among the
    // bounds' rounding that relLow and relHigh allow for: no slack of their own.
    k.l2Factor = std::pow(static_cast<double>(n), 1.0 / p - 0.5);
    k.l1Factor = std::pow(static_cast<double>(n), 1.0 / p - 1.0);
    // With the largest term's power above 2^-900, underflowing terms change the sum by less
    // than n * 2^-1074, far inside delta; below 2^900 / n nothing overflows. Squares obey the
    // same limits for the L2 bounds.
    const double smallByPow = std::pow(2.0, -900.0 / p) * 2.0;
    const double bigByPow = std::pow(2.0, 900.0 / p) * 0.5;
    k.smallestSafeTerm = smallByPow > std::ldexp(1.0, -449) ? smallByPow : std::ldexp(1.0, -449);
    k.largestSafeTerm = (bigByPow < std::ldexp(1.0, 449) ? bigByPow : std::ldexp(1.0, 449)) / n;
    k.smallestSafeSum = std::ldexp(1.0, -898);
    k.largestSafeSum = std::ldexp(1.0, 898);
    k.boundsUsable = true;
    return k;
}

}  // namespace sphnet
