#include "node_tree.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "sphere_node.h"

namespace sphnet {

namespace {
constexpr int kLeaf = NodeTree::kLeafSize;
// Branches waiting on a walk's stack: one per level (below 2^31 nodes, fewer than 32 levels)
// and the one being split.
constexpr int kStackDepth = 64;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Per lane of a leaf, what the exact distance or its bounds need: for p = 1 the sum of the
// terms, for +Inf the largest; otherwise their sum, sum of squares and largest.
struct LeafSums {
    double l1[kLeaf];
    double squares[kLeaf];
    double largest[kLeaf];
};

template <int Kind>
SPHNET_ALWAYS_INLINE void sumLeaf(const double* rows, int n, const double* x, LeafSums& s) {
    constexpr NormKind kind = static_cast<NormKind>(Kind);
    for (int lane = 0; lane < kLeaf; ++lane) {
        s.l1[lane] = 0.0;
        s.squares[lane] = 0.0;
        s.largest[lane] = 0.0;
    }
    for (int i = 0; i < n; ++i) {
        const double xi = x[i];
        const double* row = rows + static_cast<std::size_t>(i) * kLeaf;
        for (int lane = 0; lane < kLeaf; ++lane) {
            const double t = std::fabs(row[lane] - xi);
            if (kind != NormKind::Maximum) s.l1[lane] += t;
            if (kind == NormKind::General) s.squares[lane] += t * t;
            if (kind != NormKind::CityBlock)
                s.largest[lane] = t > s.largest[lane] ? t : s.largest[lane];
        }
    }
}

// Lane `lane` of a leaf as a contiguous centre, for the general formula.
void gatherLane(const double* rows, int n, int lane, double* centre) {
    for (int i = 0; i < n; ++i) centre[i] = rows[static_cast<std::size_t>(i) * kLeaf + lane];
}
}  // namespace

// The walks, one version per norm.
template <int Kind>
struct TreeQueries {
    static constexpr NormKind kind = static_cast<NormKind>(Kind);

    SPHNET_ALWAYS_INLINE static double boxBound(const NodeTree& t, int b, const double* x) {
        const double* low = t.boxLow(b);
        return boxLowerBound<Kind>(t.kit_, low, low + t.n_, x);
    }

    // Lane `lane` of the leaf starting at `first` covers x.
    SPHNET_ALWAYS_INLINE static bool laneCovers(const NodeTree& t, const double* rows, int lane,
                                                const LeafSums& s, double radius, const double* x) {
        if (kind == NormKind::CityBlock) return !(s.l1[lane] - kCoverageTolerance > radius);
        if (kind == NormKind::Maximum) return !(s.largest[lane] - kCoverageTolerance > radius);
        const DistanceKit& k = t.kit_;
        const double largest = s.largest[lane];
        if (generalLowerBoundOfTerms(k, s.l1[lane], s.squares[lane], largest) - kCoverageTolerance >
            radius) {
            return false;
        }
        if (k.boundsUsable && largest >= k.tSmall && largest <= k.tBig &&
            !(generalUpperBound(k, s.l1[lane], std::sqrt(s.squares[lane])) - kCoverageTolerance >
              radius)) {
            return true;
        }
        double centre[NodeTree::kMaxDimensions];
        gatherLane(rows, t.n_, lane, centre);
        return !(exactDistance<Kind>(k, centre, x) - kCoverageTolerance > radius);
    }

    // Every covering node numbered below limit() reaches note(j); branches whose lowest node is
    // not below it are passed over.
    template <typename Note>
    SPHNET_ALWAYS_INLINE static void walkCovers(const NodeTree& t, const double* x, Note& note) {
        int stack[kStackDepth];
        int top = 0;
        stack[top++] = 0;
        LeafSums sums;
        while (top > 0) {
            const int b = stack[--top];
            const NodeTree::Branch& branch = t.branches_.data[b];
            if (branch.lowestNode >= note.limit()) continue;
            if (boxBound(t, b, x) - kCoverageTolerance > branch.widestRadius) continue;
            if (branch.left < 0) {
                const double* rows = t.leafCentres(branch.first);
                sumLeaf<Kind>(rows, t.n_, x, sums);
                for (int q = branch.first; q < branch.end; ++q) {
                    const int j = t.order_.data[q];
                    if (j < note.limit() &&
                        laneCovers(t, rows, q - branch.first, sums, t.radii_.data[q], x)) {
                        note(j);
                    }
                }
                continue;
            }
            // The child on x's side goes last, so it is searched first.
            const bool leftNear = x[branch.splitDimension] < branch.splitValue;
            stack[top++] = leftNear ? branch.right : branch.left;
            stack[top++] = leftNear ? branch.left : branch.right;
        }
    }

    SPHNET_ALWAYS_INLINE static int nearest(const NodeTree& t, const double* x) {
        struct Pending {
            int branch;
            double bound;
        };
        Pending stack[kStackDepth];
        int top = 0;
        stack[top++] = {0, boxBound(t, 0, x)};
        double bestDistance = kInfinity;
        int best = INT_MAX;
        // A node or branch can change the choice only if it may be nearer, or as near with a
        // lower number.
        auto mayImprove = [&](double bound, int lowest) {
            return bound < bestDistance || (bound == bestDistance && lowest < best);
        };
        LeafSums sums;
        while (top > 0) {
            const Pending pending = stack[--top];
            const NodeTree::Branch& branch = t.branches_.data[pending.branch];
            if (!mayImprove(pending.bound, branch.lowestNode)) continue;
            if (branch.left < 0) {
                const double* rows = t.leafCentres(branch.first);
                sumLeaf<Kind>(rows, t.n_, x, sums);
                for (int q = branch.first; q < branch.end; ++q) {
                    const int j = t.order_.data[q];
                    const int lane = q - branch.first;
                    double d;
                    if (kind == NormKind::CityBlock) {
                        d = sums.l1[lane];
                    } else if (kind == NormKind::Maximum) {
                        d = sums.largest[lane];
                    } else {
                        const double low = generalLowerBoundOfTerms(
                            t.kit_, sums.l1[lane], sums.squares[lane], sums.largest[lane]);
                        if (!mayImprove(low, j)) continue;
                        double centre[NodeTree::kMaxDimensions];
                        gatherLane(rows, t.n_, lane, centre);
                        d = exactDistance<Kind>(t.kit_, centre, x);
                    }
                    if (mayImprove(d, j)) {
                        bestDistance = d;
                        best = j;
                    }
                }
                continue;
            }
            const double leftBound = boxBound(t, branch.left, x);
            const double rightBound = boxBound(t, branch.right, x);
            const bool leftFirst =
                leftBound < rightBound ||
                (leftBound == rightBound && t.branches_.data[branch.left].lowestNode <
                                                t.branches_.data[branch.right].lowestNode);
            const Pending left{branch.left, leftBound}, right{branch.right, rightBound};
            stack[top++] = leftFirst ? right : left;
            stack[top++] = leftFirst ? left : right;
        }
        return best;
    }
};

// The walks again for processors with AVX2: the leaf scans take four lanes per instruction.
// Each lane still adds its own terms in index order, and no multiply-add is fused, so every
// value is the same as the portable walk's.
template <int Kind, typename Note>
__attribute__((target("avx2"))) void walkCoversAvx2(const NodeTree& t, const double* x,
                                                    Note& note) {
    TreeQueries<Kind>::walkCovers(t, x, note);
}
template <int Kind>
__attribute__((target("avx2"))) int nearestAvx2(const NodeTree& t, const double* x) {
    return TreeQueries<Kind>::nearest(t, x);
}

template <int Kind, typename Note>
void walkCovers(const NodeTree& t, bool wide, const double* x, Note& note) {
    if (wide) {
        walkCoversAvx2<Kind>(t, x, note);
    } else {
        TreeQueries<Kind>::walkCovers(t, x, note);
    }
}

// The walk for the tree's norm: p = 1, +Inf, or any other.
template <typename Note>
void walkCoversOfKind(const NodeTree& t, NormKind kind, bool wide, const double* x, Note& note) {
    switch (kind) {
        case NormKind::CityBlock:
            return walkCovers<0>(t, wide, x, note);
        case NormKind::Maximum:
            return walkCovers<1>(t, wide, x, note);
        default:
            return walkCovers<2>(t, wide, x, note);
    }
}

bool NodeTree::build(const DistanceKit& kit, const double* centres, const double* radii, int count,
                     InstructionSet instructions) {
    kit_ = kit;
    n_ = kit.n;
    count_ = 0;
    __builtin_cpu_init();
    const InstructionSet level = availableInstructions(instructions);
    wide_ = level == InstructionSet::Auto ? __builtin_cpu_supports("avx2")
                                          : level >= InstructionSet::Avx2;
    branches_.size = 0;
    if (count <= 0 || !fits(n_)) return true;
    const std::size_t n = static_cast<std::size_t>(n_);
    const std::size_t leaves = (static_cast<std::size_t>(count) + kLeaf - 1) / kLeaf;
    const std::size_t branchCount = 2 * leaves - 1;
    if (!branches_.reserve(branchCount) || !boxes_.resize(branchCount * 2 * n, 0.0) ||
        !order_.resize(static_cast<std::size_t>(count), 0) ||
        !radii_.resize(static_cast<std::size_t>(count), 0.0) ||
        !leafCentres_.resize(leaves * kLeaf * n, 0.0)) {
        return false;
    }
    for (int j = 0; j < count; ++j) order_.data[j] = j;
    count_ = count;
    buildBranch(centres, radii, 0, count);
    return true;
}

// The branch over order_[first, end), with its subtree; returns its index. Splits keep the
// left part a whole number of leaves, so every leaf but the last is full and starts at a
// multiple of kLeafSize.
int NodeTree::buildBranch(const double* centres, const double* radii, int first, int end) {
    const std::size_t n = static_cast<std::size_t>(n_);
    const int b = static_cast<int>(branches_.size++);
    double* low = boxes_.data + static_cast<std::size_t>(b) * 2 * n;
    double* high = low + n;
    Branch branch{-kInfinity, INT_MAX, first, end, -1, -1, 0, 0.0};
    for (std::size_t i = 0; i < n; ++i) {
        low[i] = kInfinity;
        high[i] = -kInfinity;
    }
    for (int q = first; q < end; ++q) {
        const int j = order_.data[q];
        const double* c = centres + static_cast<std::size_t>(j) * n;
        for (std::size_t i = 0; i < n; ++i) {
            low[i] = std::min(low[i], c[i]);
            high[i] = std::max(high[i], c[i]);
        }
        const double radius = std::isnan(radii[j]) ? kInfinity : radii[j];
        branch.widestRadius = std::max(branch.widestRadius, radius);
        branch.lowestNode = std::min(branch.lowestNode, j);
    }
    const int size = end - first;
    if (size <= kLeaf) {
        double* rows = leafCentres_.data + static_cast<std::size_t>(first) * n;
        for (int q = first; q < end; ++q) {
            const int j = order_.data[q];
            radii_.data[q] = radii[j];
            for (std::size_t i = 0; i < n; ++i) rows[i * kLeaf + (q - first)] = centres[j * n + i];
        }
        branches_.data[b] = branch;
        return b;
    }
    int dimension = 0;
    for (int i = 1; i < n_; ++i) {
        if (high[i] - low[i] > high[dimension] - low[dimension]) dimension = i;
    }
    const int half = (size / 2 + kLeaf - 1) / kLeaf * kLeaf;
    std::int32_t* begin = order_.data + first;
    const std::size_t axis = static_cast<std::size_t>(dimension);
    std::nth_element(begin, begin + half, order_.data + end, [&](std::int32_t a, std::int32_t c) {
        const double va = centres[a * n + axis], vc = centres[c * n + axis];
        return va < vc || (va == vc && a < c);
    });
    branch.splitDimension = dimension;
    branch.splitValue = centres[order_.data[first + half] * n + axis];
    branch.left = buildBranch(centres, radii, first, first + half);
    branch.right = buildBranch(centres, radii, first + half, end);
    branches_.data[b] = branch;
    return b;
}

int NodeTree::firstCover(const double* x) const {
    if (count_ == 0) return -1;
    struct First {
        int best = INT_MAX;
        int limit() const { return best; }
        void operator()(int j) { best = j; }
    } first;
    walkCoversOfKind(*this, kit_.kind, wide_, x, first);
    return first.best == INT_MAX ? -1 : first.best;
}

void NodeTree::coverCensus(const double* x, const std::int32_t* labels, int& covering,
                           bool& differ) const {
    struct Census {
        const std::int32_t* labels;
        int covering = 0;
        std::int32_t firstLabel = 0;
        bool differ = false;
        int limit() const { return INT_MAX; }
        void operator()(int j) {
            if (covering++ == 0) firstLabel = labels[j];
            differ = differ || labels[j] != firstLabel;
        }
    } census{labels};
    if (count_ > 0) walkCoversOfKind(*this, kit_.kind, wide_, x, census);
    covering = census.covering;
    differ = census.differ;
}

int NodeTree::nearest(const double* x) const {
    if (count_ == 0) return -1;
    switch (kit_.kind) {
        case NormKind::CityBlock:
            return wide_ ? nearestAvx2<0>(*this, x) : TreeQueries<0>::nearest(*this, x);
        case NormKind::Maximum:
            return wide_ ? nearestAvx2<1>(*this, x) : TreeQueries<1>::nearest(*this, x);
        default:
            return wide_ ? nearestAvx2<2>(*this, x) : TreeQueries<2>::nearest(*this, x);
    }
}

}  // namespace sphnet
