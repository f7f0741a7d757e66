// Cheap, certified bounds on the coverage-test distance, and the exact distance over contiguous
// centres, bit-identical to SphereNode::testCoverage's. The bounds let the fast scans decide most
// coverage and conflict tests without the n + 1 pow calls of the general formula.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "compiler_builtins.h"

namespace sphnet {

// FromMetric is never a metric's kind: as a template argument it leaves the kind to be read
// from the metric at run time.
enum class NormKind { CityBlock, Maximum, General, FromMetric };

struct Metric {
    NormKind kind = NormKind::General;
    std::int32_t n = 0;
    double p = 2.0;
    double pInv = 0.5;
    bool boundsUsable = false;
    bool pIsTwo = false;
    bool pBelowTwo = false;
    double relLow = 1.0;            // 1 - (rounding of pow, sums and sqrt, generously)
    double relHigh = 1.0;           // 1 + the same
    double l2Factor = 1.0;          // n^(1/p - 1/2): p > 2, L2 <= Lp / it; p < 2, Lp <= it L2
    double l1Factor = 0.0;          // p < 2: n^(1/p - 1) (L1 <= n^(1 - 1/p) Lp)
    double smallestSafeTerm = 0.0;  // below this largest term, pow may underflow: no bound
    double largestSafeTerm = 0.0;   // above it, pow or squares may overflow: no bound
    double smallestSafeSum = 0.0;   // p = 2: the same limits on the sum of squares
    double largestSafeSum = 0.0;
};

Metric makeMetric(double p, std::int32_t n);

// f(std::integral_constant<NormKind, K>{}) for K = `kind`, so that f's work inlines per norm.
template <typename F>
decltype(auto) withKind(NormKind kind, F&& f) {
    switch (kind) {
        case NormKind::CityBlock:
            return f(std::integral_constant<NormKind, NormKind::CityBlock>{});
        case NormKind::Maximum:
            return f(std::integral_constant<NormKind, NormKind::Maximum>{});
        default:
            return f(std::integral_constant<NormKind, NormKind::General>{});
    }
}

// For p other than 1 and +Inf, when the literal sum of powers overflowed or fell below the
// normal range: the same distance with every term divided by the largest, s * (sum (t_i /
// s)^p)^(1/p), so that no power overflows or underflows. A difference beyond the double range makes
// the distance +Inf; a NaN sum stays NaN. Rare: kept out of line.
double rescaledPowerDistance(const double* c, const double* x, std::int32_t n, double p,
                             double pInv, double literalSum);

// The distance of order p (not 1 or +Inf): the literal formula wherever its sum of powers is a
// normal number, which one test on the sum decides; rescaled where it overflowed or underflowed.
SPHNET_ALWAYS_INLINE double powerDistance(const double* c, const double* x, std::int32_t n,
                                          double p, double pInv) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) sum += std::pow(std::fabs(c[i] - x[i]), p);
    if (!(sum >= std::numeric_limits<double>::min() && sum <= std::numeric_limits<double>::max())) {
        return rescaledPowerDistance(c, x, n, p, pInv, sum);
    }
    return std::pow(sum, pInv);
}

// The distance exactly as a coverage test computes it: same operations, same order.
// Kind, unless FromMetric, fixes the norm at compile time; it must equal k.kind.
template <NormKind Kind = NormKind::FromMetric>
SPHNET_ALWAYS_INLINE double exactDistance(const Metric& k, const double* c, const double* x) {
    const NormKind kind = Kind == NormKind::FromMetric ? k.kind : Kind;
    const std::int32_t n = k.n;
    double d = 0.0;
    if (kind == NormKind::CityBlock) {
        for (std::int32_t i = 0; i < n; ++i) d += std::fabs(c[i] - x[i]);
    } else if (kind == NormKind::Maximum) {
        for (std::int32_t i = 0; i < n; ++i) {
            const double t = std::fabs(c[i] - x[i]);
            if (t > d) d = t;
        }
    } else {
        d = powerDistance(c, x, n, k.p, k.pInv);
    }
    return d;
}

// General p, from the terms' sum l1, Euclidean length l2 and largest term linf, where linf lies
// in [smallestSafeTerm, largestSafeTerm]: a lower and an upper bound on the exact distance. Every
// operation is monotone in the terms, so terms no larger than c's give a lower bound for c too.
SPHNET_ALWAYS_INLINE double generalLowerBound(const Metric& k, double l1, double l2, double linf) {
    if (k.pBelowTwo) {
        // Of the two lower bounds, L1 n^(1/p - 1) is the closer one in many dimensions.
        const double viaL1 = l1 * k.l1Factor;
        return (viaL1 > l2 ? viaL1 : l2) * k.relLow;
    }
    const double viaL2 = l2 * k.l2Factor;
    return (viaL2 > linf ? viaL2 : linf) * k.relLow;
}
SPHNET_ALWAYS_INLINE double generalUpperBound(const Metric& k, double l1, double l2) {
    if (k.pBelowTwo) {
        const double viaL2 = l2 * k.l2Factor;
        return (viaL2 < l1 ? viaL2 : l1) * k.relHigh;
    }
    return l2 * k.relHigh;
}

// General p: a lower bound on exactDistance(c, x) for every c whose terms |c_i - x_i| are at
// least those with sum l1, sum of squares `squares` and largest linf. Above largestSafeTerm the
// largest term alone bounds the distance (the rescaled form keeps it whole); below smallestSafeTerm
// nothing is certified.
SPHNET_ALWAYS_INLINE double generalLowerBoundOfTerms(const Metric& k, double l1, double squares,
                                                     double linf) {
    if (!k.boundsUsable) return 0.0;
    if (linf >= k.smallestSafeTerm && linf <= k.largestSafeTerm)
        return generalLowerBound(k, l1, std::sqrt(squares), linf);
    return linf > k.largestSafeTerm ? linf * k.relLow : 0.0;
}

// t where t > 0, else +0 (NaN too), without a branch: whether a pattern lies outside a box
// along a coordinate is as good as random, and a mispredicted branch costs more than the bound.
SPHNET_ALWAYS_INLINE double positivePart(double t) {
#if defined(__GNUC__)
    typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
    typedef std::int64_t PairMask __attribute__((vector_size(2 * sizeof(double))));
    const Pair pair = {t, 0.0};
    return ((Pair)((PairMask)pair & (pair > 0.0)))[0];
#else
    return t > 0.0 ? t : 0.0;
#endif
}

// The gaps between x and the box [lo, hi], coordinate by coordinate: their sum (p other than
// +Inf), sum of squares and largest (p other than 1).
struct BoxGaps {
    double l1 = 0.0, squares = 0.0, linf = 0.0;
};
template <NormKind Kind = NormKind::FromMetric>
SPHNET_ALWAYS_INLINE BoxGaps boxGaps(const Metric& k, const double* lo, const double* hi,
                                     const double* x) {
    const NormKind kind = Kind == NormKind::FromMetric ? k.kind : Kind;
    const std::int32_t n = k.n;
    BoxGaps g;
    for (std::int32_t i = 0; i < n; ++i) {
        // lo - x where x lies below the box, x - hi above it, else 0 (lo <= hi: at most one
        // of the two is positive); without branches.
        const double below = lo[i] - x[i], above = x[i] - hi[i];
        const double t = positivePart(below > above ? below : above);
        if (kind == NormKind::CityBlock) {
            g.l1 += t;
        } else if (kind == NormKind::Maximum) {
            if (t > g.linf) g.linf = t;
        } else {
            g.l1 += t;
            g.squares += t * t;
            g.linf = t > g.linf ? t : g.linf;
        }
    }
    return g;
}

// A lower bound on exactDistance(c, x) for every c in the box [lo, hi] with gaps g. The box
// point nearest x has terms no larger than any c's (rounding is monotone), and they go through
// the exact distance's own operations in its order (p = 1, +Inf), or through the certified
// lower bound.
template <NormKind Kind = NormKind::FromMetric>
SPHNET_ALWAYS_INLINE double boxLowerBound(const Metric& k, const BoxGaps& g) {
    const NormKind kind = Kind == NormKind::FromMetric ? k.kind : Kind;
    if (kind == NormKind::CityBlock) return g.l1;
    if (kind == NormKind::Maximum) return g.linf;
    return generalLowerBoundOfTerms(k, g.l1, g.squares, g.linf);
}
template <NormKind Kind = NormKind::FromMetric>
SPHNET_ALWAYS_INLINE double boxLowerBound(const Metric& k, const double* lo, const double* hi,
                                          const double* x) {
    return boxLowerBound<Kind>(k, boxGaps<Kind>(k, lo, hi, x));
}

// General p: whether the box bound from gaps g lies surely below `limit`, told without a square
// root. No more than the sum of squares or (p < 2) the scaled sum bounds its square, and the
// slack dwarfs any rounding: a false answer only means the caller takes the bound itself.
SPHNET_ALWAYS_INLINE bool generalBoundSurelyBelow(const Metric& k, const BoxGaps& g, double limit) {
    const double viaL1 = g.l1 * k.l1Factor;
    const double most = k.pBelowTwo && viaL1 * viaL1 > g.squares ? viaL1 * viaL1 : g.squares;
    return limit > 0.0 && most < limit * limit * (1.0 - 0x1p-20);
}

// The largest term, in four running maxima: it does not depend on the order of comparison (no
// NaN arises from finite coordinates), so this is the exact distance for p = +Inf.
SPHNET_ALWAYS_INLINE double largestTerm(const double* c, const double* x, std::int32_t n) {
    double m0 = 0.0, m1 = 0.0, m2 = 0.0, m3 = 0.0;
    std::int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const double t0 = std::fabs(c[i] - x[i]), t1 = std::fabs(c[i + 1] - x[i + 1]);
        const double t2 = std::fabs(c[i + 2] - x[i + 2]), t3 = std::fabs(c[i + 3] - x[i + 3]);
        m0 = t0 > m0 ? t0 : m0;
        m1 = t1 > m1 ? t1 : m1;
        m2 = t2 > m2 ? t2 : m2;
        m3 = t3 > m3 ? t3 : m3;
    }
    for (; i < n; ++i) {
        const double t = std::fabs(c[i] - x[i]);
        m0 = t > m0 ? t : m0;
    }
    const double a = m0 > m1 ? m0 : m1, b = m2 > m3 ? m2 : m3;
    return a > b ? a : b;
}

// Sum of |c_i - x_i| (squared: of their squares) in four running sums: a bound does not depend
// on the order of its additions.
template <bool Squared>
SPHNET_ALWAYS_INLINE double termSum(const double* c, const double* x, std::int32_t n) {
    auto term = [](double t) { return Squared ? t * t : std::fabs(t); };
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += term(c[i] - x[i]);
        s1 += term(c[i + 1] - x[i + 1]);
        s2 += term(c[i + 2] - x[i + 2]);
        s3 += term(c[i + 3] - x[i + 3]);
    }
    for (; i < n; ++i) s0 += term(c[i] - x[i]);
    return (s0 + s1) + (s2 + s3);
}

// p = 2: bounds from the sum of squares, or exact 0 for equal points.
SPHNET_ALWAYS_INLINE bool euclideanBounds(const Metric& k, const double* c, const double* x,
                                          double& lo, double& hi) {
    const double s = termSum<true>(c, x, k.n);
    if (s >= k.smallestSafeSum && s <= k.largestSafeSum) {
        const double l2 = std::sqrt(s);
        lo = l2 * k.relLow;
        hi = l2 * k.relHigh;
        return true;
    }
    if (s != 0.0) return false;
    for (std::int32_t i = 0; i < k.n; ++i) {
        if (c[i] != x[i]) return false;
    }
    lo = hi = 0.0;  // pow(0, p) and pow(0, 1/p) are exactly 0
    return true;
}

// Other p: bounds through the L1, L2 and Linf norms of the differences.
SPHNET_ALWAYS_INLINE bool powerBounds(const Metric& k, const double* c, const double* x, double& lo,
                                      double& hi) {
    double l1 = 0.0, linf = 0.0, s = 0.0;
    for (std::int32_t i = 0; i < k.n; ++i) {
        const double t = std::fabs(c[i] - x[i]);
        l1 += t;
        s += t * t;
        linf = t > linf ? t : linf;
    }
    if (linf >= k.smallestSafeTerm && linf <= k.largestSafeTerm) {
        const double l2 = std::sqrt(s);
        lo = generalLowerBound(k, l1, l2, linf);
        hi = generalUpperBound(k, l1, l2);
        return true;
    }
    if (linf != 0.0) return false;
    lo = hi = 0.0;
    return true;
}

// lo <= exactDistance(c, x) <= hi. Returns false when no bound can be certified (tiny or huge
// terms); the caller then computes the exact distance.
template <NormKind Kind = NormKind::FromMetric>
SPHNET_ALWAYS_INLINE bool distanceBounds(const Metric& k, const double* c, const double* x,
                                         double& lo, double& hi) {
    const NormKind kind = Kind == NormKind::FromMetric ? k.kind : Kind;
    if (kind == NormKind::Maximum) {
        lo = hi = largestTerm(c, x, k.n);
        return true;
    }
    if (kind == NormKind::CityBlock) {
        // The exact sum runs in index order; any other order is within (n - 1) ulps of it.
        const double s = termSum<false>(c, x, k.n);
        if (!(s <= k.largestSafeSum)) return false;
        lo = s * k.relLow;
        hi = s * k.relHigh;
        return true;
    }
    return k.pIsTwo ? euclideanBounds(k, c, x, lo, hi) : powerBounds(k, c, x, lo, hi);
}

}  // namespace sphnet
