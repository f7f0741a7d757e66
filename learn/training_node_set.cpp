#include "training_node_set.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "mex_host.h"
#include "sphere_node.h"
#include "work_pacer.h"

namespace sphnet {

namespace {
// Below this many nodes a plain scan is as quick as the grid.
constexpr int kGridThreshold = 64;

// Cells per reach along an axis: finer cells list fewer far nodes, at more entries per node.
constexpr double kCellsPerReach = 1.0;

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

bool TrainingNodeSet::init(const TrainingInput& in) {
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
    // p = 1 and +Inf in the dimensions where tiles pay: they scan every node faster than the
    // lists skip some.
    tiled_ = kit_.kind != NormKind::General && NodeTiles::suits(n_);
    // No patterns, no nodes: nor any spread to measure (n may be near 2^31 for an empty set).
    gridUsable_ = !tiled_ && std::isfinite(reach) && reach > 0 && n_ > 0 && in.patternCount > 0;
    const auto patterns = static_cast<std::size_t>(in.patternCount);
    if (!records_.resize(patterns * kRecordWidth, -1) || !recordEpochs_.resize(patterns, 0)) {
        return false;
    }
    if (tiled_) {
        tiles_.init(kit_.kind, n_);
        // Without patterns n may be near 2^31, with nothing behind it.
        if (in.patternCount > 0 && !roughPattern_.resize(static_cast<std::size_t>(n_), 0.0f)) return false;
    }
    if (!gridUsable_) return true;
    // The grid runs along the (up to four) coordinates that vary most.
    double spread[ReachLists::kMaxAxes] = {};
    axisCount_ = 0;
    for (int i = 0; i < n_; ++i) {
        double lo = 0, hi = 0;
        for (int k = 0; k < in.patternCount; ++k) {
            const double v = in.patterns[k][i];
            if (k == 0 || v < lo) lo = v;
            if (k == 0 || v > hi) hi = v;
        }
        const double width = hi - lo;
        int at = axisCount_ < ReachLists::kMaxAxes ? axisCount_++ : ReachLists::kMaxAxes;
        while (at > 0 && width > spread[at - 1]) {
            if (at < ReachLists::kMaxAxes) {
                spread[at] = spread[at - 1];
                axes_[at] = axes_[at - 1];
            }
            --at;
        }
        if (at < ReachLists::kMaxAxes) {
            spread[at] = width;
            axes_[at] = i;
        }
    }
    return true;
}

bool TrainingNodeSet::startGrid() {
    // The part of the distance over the grid's axes bounds the whole from below: for p = 1 a
    // node matters only within a diamond, for p <= 2 within a ball, else within a box.
    // A ball leaves out enough of the cells to afford a fourth axis; a box or a diamond lists
    // a node in too many cells for it to pay.
    ReachLists::Shape shape = ReachLists::Shape::Box;
    if (kit_.kind == NormKind::CityBlock) shape = ReachLists::Shape::Diamond;
    if (kit_.kind == NormKind::General && kit_.p <= 2.0) shape = ReachLists::Shape::Ball;
    const int axes = shape == ReachLists::Shape::Ball ? 4 : 3;
    if (!lists_.init(axes_, axisCount_ < axes ? axisCount_ : axes, reach_ / kCellsPerReach, shape)) {
        return false;
    }
    gridActive_ = true;
    for (int j = 0; j < count_; ++j) {
        if (!listNode(j)) return false;
    }
    return true;
}

// A node matters to a pattern only if it may cover it (d <= radius + tolerance) or conflict
// with it (d < r + radius + margin, r <= Rmax): its reach follows its own radius. Should the
// radius later grow past the one listed, the node becomes a candidate everywhere.
bool TrainingNodeSet::listNode(int j) {
    const double radius = radii_.data[j];
    listedRadius_.data[j] = radius;
    if (!(radius <= radiusCap_)) {
        markAlways(j);
        return true;
    }
    // Summed as the conflict test sums it: after a conflict with a huge margin the radius is
    // near -margin, and (rLimit + radius) + margin may round far below conflictReach(radius).
    double extent = conflictReach(radius);
    if (extent < radius + kCoverageTolerance) extent = radius + kCoverageTolerance;
    if (extent < 0) extent = 0;  // such a node can neither cover nor conflict while it stays
    extent = extent * (1.0 + 1e-6) + 1e-300;
    if (kit_.kind == NormKind::General && extent < 2.0 * kit_.tSmall) extent = 2.0 * kit_.tSmall;
    if (!(extent <= reach_)) extent = reach_;
    bool listed = false;
    if (!lists_.insert(j, centres_.data + static_cast<std::size_t>(j) * n_, extent, listed)) {
        return false;
    }
    if (!listed) markAlways(j);
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
    if (!radii_.push(radius) || !labels_.push(label) || !listedRadius_.push(radius)) return false;
    if (tiled_ && !tiles_.append(centre, radius, static_cast<double>(label), conflictReach(radius))) return false;
    const std::size_t words = bitWords(j + 1);
    if (!always_.resize(words, 0) || !candidates_.resize(words, 0)) return false;
    count_ = j + 1;
    if (gridActive_) {
        if (!listNode(j)) return false;
    } else if (gridUsable_ && count_ >= kGridThreshold) {
        if (!startGrid()) return false;
    }
    return true;
}

// The conflict rule on node j, with its exact distance d.
void TrainingNodeSet::conflict(int j, double d, bool inside, double& r) {
    double& radius = radii_.data[j];
    const double before = radius;
    applyConflictRule(d, inside, margin_, radius, r);
    if (inside && !(radius <= before)) ++growthEpoch_;
    if (inside && tiled_) tiles_.update(j, radius, conflictReach(radius));
    // A node that grew past its listed radius is no longer covered by the lists' guarantee.
    if (inside && gridActive_ && !(radius <= listedRadius_.data[j])) markAlways(j);
}

int TrainingNodeSet::present(int k, const double* x, double label, double& r) {
    switch (kit_.kind) {
        case NormKind::CityBlock: return presentAs<static_cast<int>(NormKind::CityBlock)>(k, x, label, r);
        case NormKind::Maximum: return presentAs<static_cast<int>(NormKind::Maximum)>(k, x, label, r);
        default: return presentAs<static_cast<int>(NormKind::General)>(k, x, label, r);
    }
}

// The scan with the norm fixed at compile time, so that the per-node work inlines.
template <int Kind>
int TrainingNodeSet::presentAs(int k, const double* x, double label, double& r) {
    const int M = count_;
    const int n = n_;
    const double* centres = centres_.data;
    const double* radii = radii_.data;
    const std::int32_t* labels = labels_.data;
    const bool bounded = kit_.boundsUsable && n > 0;
    int cover = -1;
    // Reports the work to the pacer every so many nodes; on an interrupt the scan ends there.
    ScanPacer pace(pacer_, static_cast<std::uint64_t>(n));
    bool stopped = false;

    // Notes a node of another label that a later scan of x must visit again: one that is
    // inside, or near enough to conflict with some r <= Rmax. Rounding is monotone, so a node
    // farther than that stays so while its radius does not grow.
    scanListed_ = 0;
    auto remember = [&](int j) __attribute__((always_inline)) {
        if (scanListed_ < kRemembered) scanList_[scanListed_] = j;
        if (scanListed_ <= kRemembered) ++scanListed_;
    };

    // Decides node j, at exact distance d, as the literal scan would; true when it covers x
    // with x's own label.
    auto decide = [&](int j, double d) __attribute__((always_inline)) -> bool {
        const double radius = radii[j];
        const bool inside = !(d - kCoverageTolerance > radius);
        if (static_cast<double>(labels[j]) == label) return inside;
        if (inside || !(d >= conflictReach(radius))) remember(j);
        conflict(j, d, inside, r);
        return false;
    };

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
                    if (!(lo >= conflictReach(radius))) remember(j);
                    return false;  // outside, and no conflict: NoChange
                }
            }
        }
        return decide(j, exactDistance<Kind>(kit_, c, x));
    };

    // Whether a node at distance at least d can matter: cover x, conflict with the present r, or
    // conflict with some r <= Rmax in a later scan that relies on this one's memory.
    auto mayMatter = [&](int j, double d) __attribute__((always_inline)) -> bool {
        const double radius = radii[j];
        if (!(d - kCoverageTolerance > radius)) return true;
        if (static_cast<double>(labels[j]) == label) return false;
        return !(d >= r + (radius + margin_)) || !(d >= conflictReach(radius));
    };

    // The plain scan from node `from` on. For p = 1 and +Inf the tiles give the exact distances
    // of eight nodes at a time and pass over the nodes that cannot matter for any r <= Rmax;
    // should rounding lift r above Rmax, the rest goes node by node.
    auto scanPlainly = [&](int from) {
        int j = from;
        // Only a scan that goes on needs the pattern made ready (a remembered cover ends most).
        if (Kind != static_cast<int>(NormKind::General) && tiled_ && j < M && cover < 0) {
            double d[NodeTiles::kLanes];
            const NodeTiles::Pattern pattern = tiles_.prepare(x, label, roughPattern_.data);
            while (j < M && cover < 0 && r <= rLimit_) {
                if (pace.stopsAt(j)) {
                    stopped = true;
                    return;
                }
                const int to = pace.due() < M ? pace.due() : M;
                const int first = tiles_.nextThatMayMatter(pattern, j, to, d);
                if (first == to) {  // nothing in [j, to) matters
                    j = to;
                    continue;
                }
                const int end = first + NodeTiles::kLanes < M ? first + NodeTiles::kLanes : M;
                for (int q = first > j ? first : j; q < end && cover < 0; ++q) {
                    if (mayMatter(q, d[q - first]) && decide(q, d[q - first])) cover = q;
                }
                j = end;
            }
        }
        for (; j < M && cover < 0; ++j) {
            if (pace.stopsAt(j)) {
                stopped = true;
                return;
            }
            if (visit(j)) cover = j;
        }
    };

    int next = 0;  // the plain scan goes on from here
    bool plainOnly = false;
    std::int32_t* record = records_.data + static_cast<std::size_t>(k) * kRecordWidth;
    if (record[0] >= 0 && record[0] < M && recordEpochs_.data[k] == growthEpoch_) {
        // Only the remembered nodes can matter before the node that ended the last scan.
        const int end = record[0];
        for (int e = 0; e < record[1]; ++e) {
            const int j = record[2 + e];
            visit(j);
            if (!(r <= rLimit_)) {  // the memory assumed r <= Rmax: scan the rest plainly
                next = j + 1;
                plainOnly = true;
                break;
            }
        }
        if (!plainOnly) {
            if (visit(end)) cover = end;
            next = end + 1;
        }
    }
    if (gridActive_ && !plainOnly && cover < 0) {
        std::int32_t length = 0;
        const std::int32_t* listed = next < M ? lists_.nodesAt(x, length) : nullptr;
        // Where the cell names most nodes anyway (wide spheres), the plain scan costs less.
        if (next < M && (length + alwaysCount_) * 2 <= M) {
            int resume = M;
            // Visits a listed node; true once the scan is over (a cover) or must go on plainly:
            // skipping rests on r <= Rmax, and should rounding ever lift r above it, the rest of
            // the nodes are scanned plainly from the node after.
            auto leavesTheLists = [&](int j) __attribute__((always_inline)) -> bool {
                if (pace.stopsAt(j)) {
                    stopped = true;
                    resume = j;
                    return true;
                }
                if (visit(j)) {
                    cover = j;
                    return true;
                }
                if (r <= rLimit_) return false;
                resume = j + 1;
                return true;
            };
            if (alwaysCount_ == 0) {
                // The cell's list is in node order: it is the scan itself.
                for (const std::int32_t* e = std::lower_bound(listed, listed + length, next);
                     e < listed + length; ++e) {
                    if (leavesTheLists(*e)) break;
                }
            } else {
                // Merge with the nodes that are candidates everywhere, in node order.
                std::uint64_t* bits = candidates_.data;
                const std::size_t words = bitWords(M);
                std::memcpy(bits, always_.data, words * sizeof(std::uint64_t));
                for (std::int32_t e = 0; e < length; ++e) setBit(bits, listed[e]);
                // Nodes before `next` have been visited already.
                std::size_t w = static_cast<std::size_t>(next) / 64;
                bits[w] &= ~std::uint64_t{0} << (next % 64);
                for (; w < words && resume == M && cover < 0; ++w) {
                    std::uint64_t word = bits[w];
                    while (word != 0) {
                        const int j = static_cast<int>(w * 64) + lowestBit(word);
                        word &= word - 1;
                        if (leavesTheLists(j)) break;
                    }
                }
            }
            next = resume;
        }
    }
    if (!stopped) scanPlainly(next);
    // The scan ends at the cover, or at the node x is about to make.
    if (stopped) {
        record[0] = -1;
    } else if (scanListed_ <= kRemembered) {
        record[0] = cover >= 0 ? cover : M;
        record[1] = scanListed_;
        for (int e = 0; e < scanListed_; ++e) record[2 + e] = scanList_[e];
        recordEpochs_.data[k] = growthEpoch_;
    } else {
        record[0] = -1;
    }
    // Every node up to the cover, or all of them, had its coverage test; after a stop, those
    // before it.
    const std::uint32_t tests =
        static_cast<std::uint32_t>(stopped ? pace.reached() : cover >= 0 ? cover + 1 : M);
    const CoverageCost cost = coverageCost(nodeSettings.p, nodeSettings.n);
    opCounters.flops += cost.flops * tests;
    opCounters.comparisons += cost.comparisons * tests;
    return stopped ? kScanStopped : cover;
}

bool TrainingNodeSet::exportTo(TrainingOutput& out) {
    const auto n = static_cast<std::size_t>(n_);
    const bool ok = handOverNodes(count_, n_, out, [&](int j, double* row) {
        if (n != 0) std::memcpy(row, centres_.data + static_cast<std::size_t>(j) * n, n * sizeof(double));
        row[n] = radii_.data[j];
        return labels_.data[j];
    });
    release();
    return ok;
}

void TrainingNodeSet::release() {
    centres_.release();
    radii_.release();
    labels_.release();
    listedRadius_.release();
    always_.release();
    candidates_.release();
    tiles_.release();
    roughPattern_.release();
    records_.release();
    recordEpochs_.release();
    lists_.release();
    gridActive_ = false;
    alwaysCount_ = 0;
    count_ = 0;
}

}  // namespace sphnet
