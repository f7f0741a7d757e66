#include "training_node_set.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "mex_host.h"
#include "sphere_node.h"

namespace sphnet {

namespace {
// Below this many nodes a plain scan is as quick as the grid.
constexpr int kGridThreshold = 64;

// The grid is consulted only for scans that get past this many nodes.
constexpr int kPlainStart = 128;

int lowestBit(std::uint64_t word) { return __builtin_ctzll(word); }
}  // namespace

bool TrainingNodeSet::suits(const TrainingInput& in) {
    if (in.oflag >= 3) return false;
    if (!std::isfinite(in.rMax) || !std::isfinite(in.margin)) return false;
    for (int k = 0; k < in.patternCount; ++k) {
        for (int i = 0; i < in.dimension; ++i) {
            if (!std::isfinite(in.patterns[k][i])) return false;
        }
    }
    return true;
}

void TrainingNodeSet::init(const TrainingInput& in) {
    in_ = &in;
    n_ = in.dimension;
    margin_ = nodeSettings.margin;
    kit_ = makeDistanceKit(nodeSettings.p, n_);
    // New nodes take at most Rmax; a pattern's candidate radius starts there too. Rounding
    // in the conflict rule can nudge either up by a few ulps, hence the relative slack.
    radiusCap_ = in.rMax;
    rLimit_ = in.rMax;
    double reach = (in.rMax + in.rMax + in.margin + kCoverageTolerance) * (1.0 + 1e-6) + 1e-300;
    if (kit_.kind == NormKind::General) {
        // The grid's guarantee rests on the distance bounds.
        if (!kit_.boundsUsable) reach = std::numeric_limits<double>::infinity();
        if (reach < 2.0 * kit_.tSmall) reach = 2.0 * kit_.tSmall;
    }
    reach_ = reach;
    // No patterns, no nodes: nor any spread to measure (n may be near 2^31 for an empty set).
    gridUsable_ = std::isfinite(reach) && reach > 0 && n_ > 0 && in.patternCount > 0;
    if (!gridUsable_) return;
    // The grid runs along the (up to three) coordinates that vary most.
    double spread[NodeGrid::kMaxAxes] = {0, 0, 0};
    axisCount_ = 0;
    for (int i = 0; i < n_; ++i) {
        double lo = 0, hi = 0;
        for (int k = 0; k < in.patternCount; ++k) {
            const double v = in.patterns[k][i];
            if (k == 0 || v < lo) lo = v;
            if (k == 0 || v > hi) hi = v;
        }
        const double width = hi - lo;
        int at = axisCount_ < NodeGrid::kMaxAxes ? axisCount_++ : NodeGrid::kMaxAxes;
        while (at > 0 && width > spread[at - 1]) {
            if (at < NodeGrid::kMaxAxes) {
                spread[at] = spread[at - 1];
                axes_[at] = axes_[at - 1];
            }
            --at;
        }
        if (at < NodeGrid::kMaxAxes) {
            spread[at] = width;
            axes_[at] = i;
        }
    }
}

bool TrainingNodeSet::startGrid() {
    if (!grid_.init(axes_, axisCount_, reach_)) return false;
    gridActive_ = true;
    for (int j = 0; j < count_; ++j) {
        if (!grid_.insert(j, centres_.data + static_cast<std::size_t>(j) * n_)) return false;
        if (!(radii_.data[j] <= radiusCap_)) markAlways(j);
    }
    return true;
}

void TrainingNodeSet::markAlways(int j) {
    if (testBit(always_.data, j)) return;
    setBit(always_.data, j);
    ++alwaysCount_;
}

bool TrainingNodeSet::add(const double* centre, double radius, std::int32_t label) {
    const int j = count_;
    for (int i = 0; i < n_; ++i) {
        if (!centres_.push(centre[i])) return false;
    }
    if (!radii_.push(radius) || !labels_.push(label)) return false;
    const std::size_t words = bitWords(j + 1);
    if (!always_.resize(words, 0) || !candidates_.resize(words, 0)) return false;
    count_ = j + 1;
    if (gridActive_) {
        if (!grid_.insert(j, centre)) return false;
        if (!(radius <= radiusCap_)) markAlways(j);
    } else if (gridUsable_ && count_ >= kGridThreshold) {
        if (!startGrid()) return false;
    }
    return true;
}

// The conflict rule of SphereNode::resolveConflict, on node j with its exact distance d.
void TrainingNodeSet::conflict(int j, double d, bool inside, double& r) {
    double& radius = radii_.data[j];
    const double m = margin_;
    if (inside) {
        const double h = (d - m) * 0.5;
        if (r >= h) {
            radius = h;
            r = h;
            opCounters.flops += 2;
            opCounters.comparisons += 1;
        } else {
            radius = (d - m) - r;
            opCounters.flops += 3;
            opCounters.comparisons += 1;
        }
        // A node that grew past the cap is no longer covered by the grid's guarantee.
        if (gridActive_ && !(radius <= radiusCap_)) markAlways(j);
        return;
    }
    if (d >= r + (radius + m)) return;
    r = d - (radius + m);
    opCounters.flops += 3;
    opCounters.comparisons += 1;
}

int TrainingNodeSet::present(const double* x, double label, double& r) {
    switch (kit_.kind) {
        case NormKind::CityBlock: return presentAs<static_cast<int>(NormKind::CityBlock)>(x, label, r);
        case NormKind::Maximum: return presentAs<static_cast<int>(NormKind::Maximum)>(x, label, r);
        default: return presentAs<static_cast<int>(NormKind::General)>(x, label, r);
    }
}

// The scan with the norm fixed at compile time, so that the per-node work inlines.
template <int Kind>
int TrainingNodeSet::presentAs(const double* x, double label, double& r) {
    const int M = count_;
    const int n = n_;
    const double* centres = centres_.data;
    const double* radii = radii_.data;
    const std::int32_t* labels = labels_.data;
    const bool bounded = kit_.boundsUsable && n > 0;
    int cover = -1;

    // Decides node j as the literal scan would; true when it covers x with x's own label.
    auto visit = [&](int j) __attribute__((always_inline)) -> bool {
        const double* c = centres + static_cast<std::size_t>(j) * n;
        const double radius = radii[j];
        const bool same = static_cast<double>(labels[j]) == label;
        if (bounded) {
            // For p = 1 the exact sum costs no more than its bounds: no second pass over x.
            double lo, hi;
            if (Kind != static_cast<int>(NormKind::CityBlock) &&
                distanceBounds<Kind>(kit_, c, x, lo, hi)) {
                // The rounded differences are monotone in d: a bound's verdict is d's verdict.
                if (same) {
                    if (lo - kCoverageTolerance > radius) return false;
                    if (!(hi - kCoverageTolerance > radius)) return true;
                } else if (lo - kCoverageTolerance > radius && lo >= r + (radius + margin_)) {
                    return false;  // outside, and no conflict: NoChange
                }
            }
        }
        const double d = exactDistance<Kind>(kit_, c, x);
        const bool inside = !(d - kCoverageTolerance > radius);
        if (same) return inside;
        conflict(j, d, inside, r);
        return false;
    };

    int next = 0;  // the plain scan goes on from here
    if (gridActive_) {
        // Scanning plainly costs no more than marking candidates until the scan has passed as
        // many nodes as the grid would name; only a longer scan is worth the grid.
        // A scan that ends early never pays for the grid at all.
        for (; next < kPlainStart && next < M && cover < 0; ++next) {
            if (visit(next)) cover = next;
        }
        // Where the grid names most nodes anyway (wide spheres), asking it costs more than it
        // saves: it is then left alone for a while, longer each time it disappoints.
        long near = -1;
        if (cover < 0 && next < M) {
            if (gridRest_ > 0) {
                --gridRest_;
            } else {
                near = grid_.countNear(x, reach_);
                if (near < 0 || (near + alwaysCount_) * 2 > M) {
                    gridRest_ = gridBackoff_;
                    gridBackoff_ = gridBackoff_ < 4096 ? gridBackoff_ * 2 : 4096;
                } else {
                    gridBackoff_ = 1;
                }
            }
        }
        if (near >= 0) {
            const long prefix = near + alwaysCount_ + 32;
            const int plain = prefix < M ? static_cast<int>(prefix) : M;
            for (; next < plain && cover < 0; ++next) {
                if (visit(next)) cover = next;
            }
            if (cover < 0 && next < M) {
                std::uint64_t* bits = candidates_.data;
                const std::size_t words = bitWords(M);
                std::memcpy(bits, always_.data, words * sizeof(std::uint64_t));
                grid_.markNear(x, reach_, bits);
                // Nodes before `next` have been visited already.
                std::size_t w = static_cast<std::size_t>(next) / 64;
                bits[w] &= ~std::uint64_t{0} << (next % 64);
                next = M;
                // Skipping rests on r <= Rmax; should rounding ever lift r above it, the rest
                // of the nodes are scanned plainly.
                for (; w < words && next == M && cover < 0; ++w) {
                    std::uint64_t word = bits[w];
                    while (word != 0) {
                        const int j = static_cast<int>(w * 64) + lowestBit(word);
                        word &= word - 1;
                        if (visit(j)) {
                            cover = j;
                            break;
                        }
                        if (!(r <= rLimit_)) {
                            next = j + 1;
                            break;
                        }
                    }
                }
            }
        }
    }
    for (int j = next; j < M && cover < 0; ++j) {
        if (visit(j)) cover = j;
    }
    // Every node up to the cover, or all of them, had its coverage test.
    const std::uint32_t tests = static_cast<std::uint32_t>(cover >= 0 ? cover + 1 : M);
    const CoverageCost cost = coverageCost(nodeSettings.p, nodeSettings.n);
    opCounters.flops += cost.flops * tests;
    opCounters.comparisons += cost.comparisons * tests;
    return cover;
}

bool TrainingNodeSet::exportTo(TrainingOutput& out) {
    const int n = n_;
    const auto slots = static_cast<std::size_t>(count_ > 0 ? count_ : 1);
    auto** rows = static_cast<double**>(mxCalloc(slots, sizeof(double*)));
    auto* labels = static_cast<double*>(mxCalloc(slots, sizeof(double)));
    bool ok = rows != nullptr && labels != nullptr;
    for (int j = 0; ok && j < count_; ++j) {
        rows[j] = static_cast<double*>(mxCalloc(static_cast<std::size_t>(n) + 1, sizeof(double)));
        if (rows[j] == nullptr) {
            ok = false;
            break;
        }
        if (n != 0) {
            std::memcpy(rows[j], centres_.data + static_cast<std::size_t>(j) * n,
                        static_cast<std::size_t>(n) * sizeof(double));
        }
        rows[j][n] = radii_.data[j];
        labels[j] = static_cast<double>(labels_.data[j]);
    }
    if (!ok) {
        if (rows != nullptr) {
            for (int j = 0; j < count_ && rows[j] != nullptr; ++j) mxFree(rows[j]);
        }
        mxFree(rows);
        mxFree(labels);
        release();
        return false;
    }
    out.nodeCount = count_;
    out.nodeRows = rows;
    out.nodeLabels = labels;
    release();
    return true;
}

void TrainingNodeSet::release() {
    centres_.release();
    radii_.release();
    labels_.release();
    always_.release();
    candidates_.release();
    grid_.release();
    gridActive_ = false;
    alwaysCount_ = 0;
    count_ = 0;
}

}  // namespace sphnet
