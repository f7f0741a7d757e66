#include "recall_node_set.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "mex_host.h"
#include "sphere_node.h"

namespace sphnet {

namespace {
// Below this many nodes a plain scan is as quick as the grid.
constexpr int kGridThreshold = 64;
// Radii above this quantile make their nodes candidates for every pattern, so that a few wide
// spheres do not widen every query.
constexpr double kRadiusQuantile = 0.98;

// The grid is consulted only for scans that get past this many nodes.
constexpr int kPlainStart = 128;

int lowestBit(std::uint64_t word) { return __builtin_ctzll(word); }

bool allFiniteRows(const double* const* rows, int count, int width) {
    for (int k = 0; k < count; ++k) {
        for (int i = 0; i < width; ++i) {
            if (!std::isfinite(rows[k][i])) return false;
        }
    }
    return true;
}
}  // namespace

bool RecallNodeSet::suits(const RecallInput& in) {
    return in.oflag <= 2 && allFiniteRows(in.templates, in.nodeCount, in.dimension) &&
           allFiniteRows(in.patterns, in.patternCount, in.dimension);
}

bool RecallNodeSet::build(const RecallInput& in) {
    n_ = in.dimension;
    count_ = 0;
    kit_ = makeDistanceKit(nodeSettings.p, n_);
    const int M = in.nodeCount;
    const std::size_t n = static_cast<std::size_t>(n_);
    if (!centres_.resize(static_cast<std::size_t>(M) * n + 1, 0.0) ||
        !radii_.resize(static_cast<std::size_t>(M) + 1, 0.0) ||
        !labels_.resize(static_cast<std::size_t>(M) + 1, 0) ||
        !always_.resize(bitWords(M) + 1, 0)) {
        return false;
    }
    for (int t = 0; t < M; ++t) {
        if (n != 0) std::memcpy(centres_.data + t * n, in.templates[t], n * sizeof(double));
        radii_.data[t] = in.templates[t][n_];
        labels_.data[t] = static_cast<std::int32_t>(in.nodeLabels[t]);
    }
    count_ = M;

    // A radius below -tolerance never covers a pattern of finite coordinates: d - 1e-8 is at
    // least -1e-8. Such nodes matter only to the 1-NN rule.
    auto coverable = [](double radius) { return !(radius < -kCoverageTolerance); };
    gridActive_ = false;
    alwaysCount_ = 0;
    if (M < kGridThreshold || n_ == 0) return true;
    if (kit_.kind == NormKind::General && !kit_.boundsUsable) return true;

    // The grid's radius cap: a high quantile of the radii that can cover.
    auto* sorted = static_cast<double*>(mxCalloc(static_cast<std::size_t>(M), sizeof(double)));
    if (sorted == nullptr) return false;
    int finite = 0;
    for (int t = 0; t < M; ++t) {
        const double radius = radii_.data[t];
        if (coverable(radius) && std::isfinite(radius)) sorted[finite++] = radius;
    }
    double cap = 0.0;
    if (finite > 0) {
        const int at = static_cast<int>(kRadiusQuantile * (finite - 1));
        std::nth_element(sorted, sorted + at, sorted + finite);
        cap = sorted[at];
    }
    mxFree(sorted);
    if (cap < 0) cap = 0;
    double reach = (cap + kCoverageTolerance) * (1.0 + 1e-6) + 1e-300;
    if (kit_.kind == NormKind::General && reach < 2.0 * kit_.tSmall) reach = 2.0 * kit_.tSmall;
    if (!std::isfinite(reach)) return true;
    reach_ = reach;

    // The grid runs along the (up to three) coordinates where the centres spread most.
    int axes[NodeGrid::kMaxAxes] = {0, 0, 0};
    double spread[NodeGrid::kMaxAxes] = {0, 0, 0};
    int axisCount = 0;
    for (int i = 0; i < n_; ++i) {
        double lo = centres_.data[i], hi = lo;
        for (int t = 1; t < M; ++t) {
            const double v = centres_.data[t * n + i];
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
        const double width = hi - lo;
        int at = axisCount < NodeGrid::kMaxAxes ? axisCount++ : NodeGrid::kMaxAxes;
        while (at > 0 && width > spread[at - 1]) {
            if (at < NodeGrid::kMaxAxes) {
                spread[at] = spread[at - 1];
                axes[at] = axes[at - 1];
            }
            --at;
        }
        if (at < NodeGrid::kMaxAxes) {
            spread[at] = width;
            axes[at] = i;
        }
    }
    if (!grid_.init(axes, axisCount, reach)) return false;
    for (int t = 0; t < M; ++t) {
        const double radius = radii_.data[t];
        if (!coverable(radius)) continue;
        if (radius <= cap) {
            if (!grid_.insert(t, centres_.data + t * n)) return false;
        } else {
            setBit(always_.data, t);  // wider than the cap, or NaN: it may cover anything
            ++alwaysCount_;
        }
    }
    gridActive_ = true;
    return true;
}

bool RecallNodeSet::takeScratch(RecallScratch& s) const {
    const std::size_t M = static_cast<std::size_t>(count_) + 1;
    s.bits = static_cast<std::uint64_t*>(mxCalloc(bitWords(count_) + 1, sizeof(std::uint64_t)));
    s.low = static_cast<double*>(mxCalloc(M, sizeof(double)));
    s.high = static_cast<double*>(mxCalloc(M, sizeof(double)));
    if (s.bits != nullptr && s.low != nullptr && s.high != nullptr) return true;
    releaseScratch(s);
    return false;
}

void RecallNodeSet::releaseScratch(RecallScratch& s) const {
    mxFree(s.bits);
    mxFree(s.low);
    mxFree(s.high);
    s = RecallScratch{};
}

void RecallNodeSet::release() {
    centres_.release();
    radii_.release();
    labels_.release();
    always_.release();
    grid_.release();
    gridActive_ = false;
    count_ = 0;
}

// The coverage test's verdict for node j, from bounds where they settle it.
bool RecallNodeSet::covers(int j, const double* x) const {
    const double* c = centres_.data + static_cast<std::size_t>(j) * n_;
    const double radius = radii_.data[j];
    if (kit_.boundsUsable) {
        double lo, hi;
        if (distanceBounds(kit_, c, x, lo, hi)) {
            if (lo - kCoverageTolerance > radius) return false;
            if (!(hi - kCoverageTolerance > radius)) return true;
        }
    }
    return !(exactDistance(kit_, c, x) - kCoverageTolerance > radius);
}

// The literal 1-NN choice: the first node of least exact distance. Only nodes whose lower
// bound does not exceed the least upper bound can be it, so only they need exact distances.
int RecallNodeSet::nearestNode(const double* x, RecallScratch& s) const {
    const int M = count_;
    const std::size_t n = static_cast<std::size_t>(n_);
    if (kit_.kind != NormKind::General || !kit_.boundsUsable) {
        int best = 0;
        double bestDistance = exactDistance(kit_, centres_.data, x);
        for (int j = 1; j < M; ++j) {
            const double d = exactDistance(kit_, centres_.data + j * n, x);
            if (d < bestDistance) {
                best = j;
                bestDistance = d;
            }
        }
        return best;
    }
    double leastHigh = std::numeric_limits<double>::infinity();
    for (int j = 0; j < M; ++j) {
        const double* c = centres_.data + j * n;
        double lo, hi;
        if (!distanceBounds(kit_, c, x, lo, hi)) lo = hi = exactDistance(kit_, c, x);
        s.low[j] = lo;
        s.high[j] = hi;
        if (hi < leastHigh) leastHigh = hi;
    }
    int best = -1;
    double bestDistance = 0.0;
    for (int j = 0; j < M; ++j) {
        if (!(s.low[j] <= leastHigh)) continue;
        const double d = exactDistance(kit_, centres_.data + j * n, x);
        if (best < 0 || d < bestDistance) {
            best = j;
            bestDistance = d;
        }
    }
    return best;
}

int RecallNodeSet::classify(const double* x, bool wantNearest, RecallScratch& s, int& nearest,
                            std::uint64_t& tests) const {
    const int M = count_;
    int cover = -1;
    int next = 0;  // the plain scan goes on from here
    if (gridActive_) {
        // Scanning plainly costs no more than marking candidates until the scan has passed as
        // many nodes as the grid would name; only a longer scan is worth the grid.
        // A scan that ends early never pays for the grid at all.
        for (; next < kPlainStart && next < M && cover < 0; ++next) {
            if (covers(next, x)) cover = next;
        }
        const long near = cover < 0 && next < M ? grid_.countNear(x, reach_) : -1;
        if (near >= 0) {
            const long prefix = near + alwaysCount_ + 32;
            const int plain = prefix < M ? static_cast<int>(prefix) : M;
            for (; next < plain && cover < 0; ++next) {
                if (covers(next, x)) cover = next;
            }
            if (cover < 0 && next < M) {
                const std::size_t words = bitWords(M);
                std::memcpy(s.bits, always_.data, words * sizeof(std::uint64_t));
                grid_.markNear(x, reach_, s.bits);
                // Nodes before `next` have been tested already.
                std::size_t w = static_cast<std::size_t>(next) / 64;
                s.bits[w] &= ~std::uint64_t{0} << (next % 64);
                for (; w < words && cover < 0; ++w) {
                    std::uint64_t word = s.bits[w];
                    while (word != 0) {
                        const int j = static_cast<int>(w * 64) + lowestBit(word);
                        word &= word - 1;
                        if (covers(j, x)) {
                            cover = j;
                            break;
                        }
                    }
                }
                next = M;
            }
        }
    }
    for (; next < M && cover < 0; ++next) {
        if (covers(next, x)) cover = next;
    }
    tests += static_cast<std::uint64_t>(cover >= 0 ? cover + 1 : M);
    nearest = -1;
    if (cover < 0 && wantNearest && M > 0) nearest = nearestNode(x, s);
    return cover;
}

}  // namespace sphnet
