#include "node_tree.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <type_traits>

#include "compiler_builtins.h"
#include "node_search.h"
#include "sphere_node.h"

namespace sphnet {

namespace {
constexpr int kLeaf = NodeTree::kLeafSize;
// Branches waiting on a walk's stack: one per level (below 2^31 nodes, fewer than 32 levels)
// and the one being split.
constexpr int kStackDepth = 64;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Per lane of a leaf, what the exact distance or its bounds need: for p = 1 the sum of the
// terms, for +Inf the largest; otherwise their sum, sum of squares and largest. `low` is a quick
// lower bound on the exact distance, for p = 1 and +Inf the distance itself (the terms go in
// index order).
struct LeafSums {
    double l1[kLeaf];
    double squares[kLeaf];
    double largest[kLeaf];
    double low[kLeaf];
};

// Four lanes of a leaf at a time, in the vector extension's types: each lane still takes its own
// terms in index order, with the scalar operations.
constexpr int kGroup = 4;
#if defined(__GNUC__) && !defined(SPHNET_PORTABLE_LANES)
typedef double Lanes __attribute__((vector_size(kGroup * sizeof(double))));
typedef std::int64_t LaneMask __attribute__((vector_size(kGroup * sizeof(double))));
#else
// Without the extension (MSVC; the sanitizer build too, so that tests run it): the same
// operations lane by lane. A comparison gives all ones or zero per lane; casts keep the bits.
struct LaneMask;
struct Lanes {
    double v[kGroup];
    double operator[](int i) const { return v[i]; }
    explicit operator LaneMask() const;
};
struct LaneMask {
    std::int64_t v[kGroup];
    std::int64_t operator[](int i) const { return v[i]; }
    explicit operator Lanes() const {
        Lanes lanes;
        std::memcpy(lanes.v, v, sizeof v);
        return lanes;
    }
};
inline Lanes::operator LaneMask() const {
    LaneMask mask;
    std::memcpy(mask.v, v, sizeof v);
    return mask;
}
inline double laneOf(const Lanes& a, int i) {
    return a.v[i];
}
inline double laneOf(double a, int) {
    return a;
}
template <typename A, typename B>
using EitherLanes =
    std::enable_if_t<std::is_same_v<A, Lanes> || std::is_same_v<B, Lanes>, std::nullptr_t>;
template <typename A, typename B, typename Op>
Lanes eachLane(const A& a, const B& b, Op op) {
    Lanes out;
    for (int i = 0; i < kGroup; ++i) out.v[i] = op(laneOf(a, i), laneOf(b, i));
    return out;
}
template <typename A, typename B, typename Op>
LaneMask compareLanes(const A& a, const B& b, Op op) {
    LaneMask out;
    for (int i = 0; i < kGroup; ++i) out.v[i] = op(laneOf(a, i), laneOf(b, i)) ? -1 : 0;
    return out;
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
Lanes operator+(const A& a, const B& b) {
    return eachLane(a, b, std::plus<>());
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
Lanes operator-(const A& a, const B& b) {
    return eachLane(a, b, std::minus<>());
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
Lanes operator*(const A& a, const B& b) {
    return eachLane(a, b, std::multiplies<>());
}
inline Lanes& operator+=(Lanes& a, const Lanes& b) {
    return a = a + b;
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
LaneMask operator>(const A& a, const B& b) {
    return compareLanes(a, b, std::greater<>());
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
LaneMask operator>=(const A& a, const B& b) {
    return compareLanes(a, b, std::greater_equal<>());
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
LaneMask operator<=(const A& a, const B& b) {
    return compareLanes(a, b, std::less_equal<>());
}
template <typename A, typename B, EitherLanes<A, B> = nullptr>
LaneMask operator==(const A& a, const B& b) {
    return compareLanes(a, b, std::equal_to<>());
}
inline LaneMask operator&(LaneMask a, const LaneMask& b) {
    for (int i = 0; i < kGroup; ++i) a.v[i] &= b.v[i];
    return a;
}
inline LaneMask operator|(LaneMask a, const LaneMask& b) {
    for (int i = 0; i < kGroup; ++i) a.v[i] |= b.v[i];
    return a;
}
inline LaneMask operator~(LaneMask a) {
    for (int i = 0; i < kGroup; ++i) a.v[i] = ~a.v[i];
    return a;
}
inline LaneMask& operator|=(LaneMask& a, const LaneMask& b) {
    return a = a | b;
}
#endif
constexpr LaneMask kMagnitude = {INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};

// Sixteen lanes at a time, in four independent chains of four, so that in many dimensions the
// chains overlap; a leaf's rows are kLeafSize wide, so the lanes past a short leaf's end are read
// too (their radii pass them over).
constexpr int kChains = 4;
static_assert(kLeaf % (kGroup * kChains) == 0, "whole groups of chains per leaf");
template <NormKind Kind>
SPHNET_ALWAYS_INLINE void sumLeaf(const Metric& k, const double* rows, const double* x, int count,
                                  LeafSums& s) {
    constexpr NormKind kind = Kind;
    const LaneMask usable = {-k.boundsUsable, -k.boundsUsable, -k.boundsUsable, -k.boundsUsable};
    for (int g = 0; g < count; g += kGroup * kChains) {
        // The first term starts each sum (0 + t, 0 + t * t and max(0, t) are t, t * t and t).
        Lanes l1[kChains], squares[kChains], largest[kChains];
        for (int i = 0; i < k.n; ++i) {
            for (int c = 0; c < kChains; ++c) {
                Lanes row;
                std::memcpy(&row, rows + static_cast<std::size_t>(i) * kLeaf + g + c * kGroup,
                            sizeof row);
                const Lanes t = (Lanes)((LaneMask)(row - x[i]) & kMagnitude);
                if (i == 0) {
                    l1[c] = largest[c] = t;
                    squares[c] = t * t;
                    continue;
                }
                if (kind != NormKind::Maximum) l1[c] += t;
                if (kind == NormKind::General) squares[c] += t * t;
                if (kind != NormKind::CityBlock) {
                    const LaneMask above = t > largest[c];
                    largest[c] = (Lanes)(((LaneMask)t & above) | ((LaneMask)largest[c] & ~above));
                }
            }
        }
        for (int c = 0; c < kChains; ++c) {
            // For general p, the largest term or (p < 2, in the safe range) the scaled sum if
            // larger: no more than generalLowerBoundOfTerms, and without a square root.
            Lanes low = kind == NormKind::CityBlock ? l1[c] : largest[c];
            if (kind == NormKind::General) {
                if (k.pBelowTwo) {
                    const Lanes viaL1 =
                        (Lanes)((LaneMask)(l1[c] * k.l1Factor) & (largest[c] <= k.largestSafeTerm));
                    const LaneMask above = viaL1 > largest[c];
                    low = (Lanes)(((LaneMask)viaL1 & above) | ((LaneMask)largest[c] & ~above));
                }
                low = (Lanes)((LaneMask)(low * k.relLow) & (largest[c] >= k.smallestSafeTerm) &
                              usable);
            }
            const int at = g + c * kGroup;
            std::memcpy(s.l1 + at, &l1[c], sizeof low);
            std::memcpy(s.squares + at, &squares[c], sizeof low);
            std::memcpy(s.largest + at, &largest[c], sizeof low);
            std::memcpy(s.low + at, &low, sizeof low);
        }
    }
}

// Lists in `lanes`, without branches, the first `count` lanes whose quick bound is at most
// `bound`; returns how many. The bounds are read four at a time, as they were stored.
SPHNET_ALWAYS_INLINE int lanesWithin(const LeafSums& s, int count, double bound, int* lanes) {
    int kept = 0;
    for (int g = 0; g < count; g += kGroup) {
        Lanes low;
        std::memcpy(&low, s.low + g, sizeof low);
        const LaneMask farther = low > bound;
        for (int lane = 0; lane < kGroup; ++lane) {
            lanes[kept] = g + lane;
            kept += (farther[lane] == 0) & (g + lane < count);
        }
    }
    return kept;
}

// Lane `lane` of a leaf as a contiguous centre, for the general formula.
void gatherLane(const double* rows, int n, int lane, double* centre) {
    for (int i = 0; i < n; ++i) centre[i] = rows[static_cast<std::size_t>(i) * kLeaf + lane];
}
}  // namespace

// The walks, one version per norm.
template <NormKind Kind>
struct TreeQueries {
    static constexpr NormKind kind = Kind;

    SPHNET_ALWAYS_INLINE static double boxBound(const NodeTree& t, int b, const double* x) {
        const double* low = t.boxLow(b);
        return boxLowerBound<Kind>(t.metric_, low, low + t.n_, x);
    }

    // A closer lower bound than s.low for general p.
    SPHNET_ALWAYS_INLINE static double closeLow(const NodeTree& t, const LeafSums& s, int lane) {
        if (kind != NormKind::General) return s.low[lane];
        return generalLowerBoundOfTerms(t.metric_, s.l1[lane], s.squares[lane], s.largest[lane]);
    }

    // Lane `lane` of the leaf starting at `first` covers x.
    SPHNET_ALWAYS_INLINE static bool laneCovers(const NodeTree& t, const double* rows, int lane,
                                                const LeafSums& s, double radius, const double* x) {
        if (s.low[lane] - kCoverageTolerance > radius) return false;
        if (kind != NormKind::General) return true;
        const Metric& k = t.metric_;
        const double largest = s.largest[lane];
        if (closeLow(t, s, lane) - kCoverageTolerance > radius) return false;
        if (k.boundsUsable && largest >= k.smallestSafeTerm && largest <= k.largestSafeTerm &&
            !(generalUpperBound(k, s.l1[lane], std::sqrt(s.squares[lane])) - kCoverageTolerance >
              radius)) {
            return true;
        }
        double centre[NodeTree::kMaxDimensions];
        gatherLane(rows, t.n_, lane, centre);
        return !(exactDistance<Kind>(k, centre, x) - kCoverageTolerance > radius);
    }

    // Nodes of radius at most `radius` at distance at least `low` neither cover x nor lie within
    // the note's reach (plus radius and margin, summed as the conflict test sums it).
    template <typename Note>
    SPHNET_ALWAYS_INLINE static bool passesOver(const Note& note, double low, double radius) {
        return (low - kCoverageTolerance > radius) &
               (low >= note.reach() + (radius + note.margin()));
    }

    // Whether the note passes over branch b, whose largest radius is `radius`. Most branches a
    // walk meets it does not: for general p, a bound surely below what would rule the branch out
    // spares the square root.
    template <typename Note>
    SPHNET_ALWAYS_INLINE static bool passesOverBranch(const NodeTree& t, const Note& note, int b,
                                                      double radius, const double* x) {
        const double* low = t.boxLow(b);
        const BoxGaps gaps = boxGaps<Kind>(t.metric_, low, low + t.n_, x);
        if (kind == NormKind::General) {
            const double cover = radius + kCoverageTolerance;
            const double conflict = note.reach() + (radius + note.margin());
            if (generalBoundSurelyBelow(t.metric_, gaps, cover > conflict ? cover : conflict))
                return false;
        }
        return passesOver(note, boxLowerBound<Kind>(t.metric_, gaps), radius);
    }

    // The lanes of the leaf at `rows` (`count` nodes) that the quick bound does not pass over, as
    // bits: few are kept, so the caller visits set bits only. Past a short leaf's end the radii
    // are -Inf.
    template <typename Note>
    SPHNET_ALWAYS_INLINE static std::uint32_t keptLanes(const NodeTree& t, const Note& note,
                                                        const double* rows, int count,
                                                        const LeafSums& sums) {
        static_assert(kLeaf <= 32, "a leaf's lanes fit one word");
        const double* radii = rows + static_cast<std::size_t>(t.n_) * kLeaf;
        std::uint32_t kept = 0;
        for (int g = 0; g < count; g += kGroup) {
            Lanes low, radius;
            std::memcpy(&low, sums.low + g, sizeof low);
            std::memcpy(&radius, radii + g, sizeof radius);
            const LaneMask outside = low - kCoverageTolerance > radius;
            // Lanes past a leaf's nodes (radius -Inf) stay out even where the reach is +Inf.
            LaneMask over = (outside & (low >= note.reach() + (radius + note.margin()))) |
                            (radius == -kInfinity);
            if (Note::kByLabel) {
                // A node of x's own label matters only if it may hold x.
                Lanes label;
                std::memcpy(&label, radii + kLeaf + g, sizeof label);
                over |= outside & (label == note.label());
            }
            for (int lane = 0; lane < kGroup; ++lane)
                kept |= static_cast<std::uint32_t>(over[lane] == 0) << (g + lane);
        }
        return kept;
    }

    // Starts loading the block of the leaf that begins at position `first`, line by line.
    SPHNET_ALWAYS_INLINE static void prefetchLeaf(const NodeTree& t, int first) {
        const double* block = t.leaf(first);
        for (int line = 0; line < t.rows_ * kLeaf; line += 8) prefetch(block + line);
    }

    // Whether the note enters branch b: some node in it numbered below note.limit(), and not
    // passed over by the bound on its box's distance and its largest radius.
    template <typename Note>
    SPHNET_ALWAYS_INLINE static bool enters(const NodeTree& t, const Note& note, int b,
                                            const double* x) {
        const NodeTree::Branch& branch = t.branches_.data[b];
        return branch.lowestNode < note.limit() &&
               !passesOverBranch(t, note, b, branch.widestRadius, x);
    }

    // Offers the note the nodes of a leaf it enters, numbered below note.limit().
    template <typename Note>
    SPHNET_ALWAYS_INLINE static void offerLeaf(const NodeTree& t, const NodeTree::Branch& leaf,
                                               const double* x, Note& note, LeafSums& sums) {
        const double* rows = t.leaf(leaf.first);
        const double* radii = rows + static_cast<std::size_t>(t.n_) * kLeaf;
        sumLeaf<Kind>(t.metric_, rows, x, leaf.end - leaf.first, sums);
        for (std::uint32_t kept = keptLanes(t, note, rows, leaf.end - leaf.first, sums); kept != 0;
             kept &= kept - 1) {
            const int lane = lowestLane(kept);
            // Training's leaves hold their node numbers (no load from another array).
            const int j = Note::kByLabel ? static_cast<int>(radii[2 * kLeaf + lane])
                                         : t.order_.data[leaf.first + lane];
            if (j < note.limit()) note.offer(t, rows, leaf.first + lane, sums, radii[lane], j, x);
        }
    }

    // Every node numbered below note.limit() in a branch the note enters is offered to the note.
    // A branch's children are tested before they are stacked: siblings lie side by side, records
    // and boxes, so the test loads them together and a child passed over is not visited.
    // Training's notes take the nodes in any order: a leaf waits while its block loads, and is
    // summed once the walk reaches the next leaf or ends.
    template <typename Note>
    SPHNET_ALWAYS_INLINE static void walk(const NodeTree& t, const double* x, Note& note) {
        int stack[kStackDepth];
        int top = 0;
        if (enters(t, note, 0, x)) stack[top++] = 0;
        LeafSums sums;
        const NodeTree::Branch* waiting = nullptr;
        while (top > 0) {
            const NodeTree::Branch& branch = t.branches_.data[stack[--top]];
            if (branch.lowestNode >= note.limit()) continue;  // the limit fell meanwhile
            if (branch.left < 0) {
                if (!Note::kByLabel) {
                    offerLeaf(t, branch, x, note, sums);
                    continue;
                }
                prefetchLeaf(t, branch.first);
                if (waiting != nullptr) offerLeaf(t, *waiting, x, note, sums);
                waiting = &branch;
                continue;
            }
            // The child on x's side goes last, so it is searched first.
            const bool leftNear = x[branch.splitDimension] < branch.splitValue;
            const int near = branch.left + (leftNear ? 0 : 1);
            const int far = branch.left + (leftNear ? 1 : 0);
            if (enters(t, note, far, x)) {
                const NodeTree::Branch& child = t.branches_.data[far];
                if (child.left >= 0) {
                    prefetch(t.branches_.data + child.left);
                    prefetch(t.boxLow(child.left));
                } else if (Note::kByLabel) {
                    // A far leaf's block starts loading (training's few dimensions, where the
                    // block is short).
                    prefetchLeaf(t, child.first);
                }
                stack[top++] = far;
            }
            if (enters(t, note, near, x)) stack[top++] = near;
        }
        if (waiting != nullptr) offerLeaf(t, *waiting, x, note, sums);
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
                const double* rows = t.leaf(branch.first);
                const int count = branch.end - branch.first;
                sumLeaf<Kind>(t.metric_, rows, x, count, sums);
                int lanes[kLeaf];
                const int kept = lanesWithin(sums, count, bestDistance, lanes);
                for (int e = 0; e < kept; ++e) {
                    const int lane = lanes[e];
                    const int j = t.order_.data[branch.first + lane];
                    double d = closeLow(t, sums, lane);
                    if (!mayImprove(d, j)) continue;
                    if (kind == NormKind::General) {
                        double centre[NodeTree::kMaxDimensions];
                        gatherLane(rows, t.n_, lane, centre);
                        d = exactDistance<Kind>(t.metric_, centre, x);
                    }
                    if (mayImprove(d, j)) {
                        bestDistance = d;
                        best = j;
                    }
                }
                continue;
            }
            const int r = branch.left + 1;
            const double leftBound = boxBound(t, branch.left, x);
            const double rightBound = boxBound(t, r, x);
            const bool leftFirst =
                leftBound < rightBound ||
                (leftBound == rightBound &&
                 t.branches_.data[branch.left].lowestNode < t.branches_.data[r].lowestNode);
            const Pending left{branch.left, leftBound}, right{r, rightBound};
            stack[top++] = leftFirst ? right : left;
            stack[top++] = leftFirst ? left : right;
        }
        return best;
    }
};

// The walks again for processors with AVX2: the leaf scans take four lanes per instruction.
// Each lane still adds its own terms in index order, and no multiply-add is fused, so every
// value is the same as the portable walk's. Elsewhere the tree is never wide.
#if SPHNET_X86_KERNELS
#define SPHNET_TREE_AVX2 __attribute__((target("avx2")))
#else
#define SPHNET_TREE_AVX2
#endif
template <NormKind Kind, typename Note>
SPHNET_TREE_AVX2 void walkAvx2(const NodeTree& t, const double* x, Note& note) {
    TreeQueries<Kind>::walk(t, x, note);
}
template <NormKind Kind>
SPHNET_TREE_AVX2 int nearestAvx2(const NodeTree& t, const double* x) {
    return TreeQueries<Kind>::nearest(t, x);
}

// The walk for the tree's norm (p = 1, +Inf, or any other), with the note NoteOf<Kind>{source}.
template <template <NormKind> class NoteOf, typename Source>
void walkOfKind(const NodeTree& t, NormKind kind, bool wide, const double* x, Source& source) {
    withKind(kind, [&](auto k) {
        constexpr NormKind Kind = decltype(k)::value;
        NoteOf<Kind> note{source};
        if (wide) {
            walkAvx2<Kind>(t, x, note);
        } else {
            TreeQueries<Kind>::walk(t, x, note);
        }
    });
}

// Recall's notes: note(j) for every node numbered below note.limit() that covers x.
template <typename Note>
struct Covering {
    template <NormKind Kind>
    struct Of {
        Note& note;
        int limit() const { return note.limit(); }
        static constexpr bool kByLabel = false;
        static double reach() { return -kInfinity; }
        static double margin() { return 0.0; }
        static double label() { return 0.0; }
        // The node at position q of the tree, lane q % kLeaf of its leaf.
        void offer(const NodeTree& t, const double* rows, int q, const LeafSums& sums,
                   double radius, int j, const double* x) {
            const int lane = q % kLeaf;
            if (TreeQueries<Kind>::laneCovers(t, rows, lane, sums, radius, x)) note(j);
        }
    };
};

// Training's note: the nodes, numbered from `base`, from `from` on that may matter to the query.
// A node of radius at most `radius` at distance at least `low` neither holds x nor, of another
// label, conflicts with it: the tests are the scan's own, and rounding is monotone.
struct Reach {
    const ReachQuery& query;
    int base;
    int from;
    HostVector<std::int32_t>& out;
    bool ok;
};
template <NormKind Kind>
struct Reaching {
    // The query's values are copied: the walk reads them at every branch, and the stores to the
    // list might otherwise make it load them anew through the references.
    explicit Reaching(Reach& reach)
        : state(reach),
          reach_(reach.query.reach),
          margin_(reach.query.margin),
          label_(reach.query.label) {}
    Reach& state;
    const double reach_, margin_, label_;
    static constexpr bool kByLabel = true;
    static int limit() { return INT_MAX; }
    double reach() const { return reach_; }
    double margin() const { return margin_; }
    double label() const { return label_; }
    // Tested again with a closer bound, by the radius the tree holds: the present one.
    void offer(const NodeTree& t, const double* rows, int q, const LeafSums& sums, double radius,
               int j, const double*) {
        const int node = state.base + j;
        if (node < state.from) return;
        const double low = TreeQueries<Kind>::closeLow(t, sums, q % kLeaf);
        const double own = rows[static_cast<std::size_t>(t.n_ + 1) * kLeaf + q % kLeaf];
        if (own == label() ? low - kCoverageTolerance > radius
                           : TreeQueries<Kind>::passesOver(*this, low, radius))
            return;
        state.ok = state.ok && state.out.push(node);
    }
};

bool NodeTree::build(const Metric& metric, const double* centres, const double* radii, int count,
                     InstructionSet instructions, const std::int32_t* labels,
                     const std::int32_t* numbers) {
    metric_ = metric;
    n_ = metric.n;
    count_ = 0;
    const InstructionSet level = availableInstructions(
        instructions == InstructionSet::Auto ? InstructionSet::Avx512 : instructions);
    wide_ = level >= InstructionSet::Avx2;
    branches_.size = 0;
    if (count <= 0 || !fits(n_)) return true;
    const std::size_t n = static_cast<std::size_t>(n_);
    const std::size_t leaves = (static_cast<std::size_t>(count) + kLeaf - 1) / kLeaf;
    const std::size_t branchCount = 2 * leaves - 1;
    rows_ = n_ + 1 + (labels ? 2 : 0);
    if (!branches_.reserve(branchCount) || !boxes_.resize(branchCount * 2 * n, 0.0) ||
        !order_.resize(static_cast<std::size_t>(count), 0) ||
        !leaves_.resize(leaves * kLeaf * static_cast<std::size_t>(rows_), 0.0)) {
        return false;
    }
    // Training's trees (given labels) find a node's position by its number (numbers ascend).
    const int held = labels == nullptr ? 0 : numbers ? numbers[count - 1] + 1 : count;
    if (!places_.resize(static_cast<std::size_t>(held), 0)) return false;
    for (int j = 0; j < count; ++j) order_.data[j] = numbers ? numbers[j] : j;
    for (std::size_t q = static_cast<std::size_t>(count); q < leaves * kLeaf; ++q)
        radiusAt(static_cast<int>(q)) = -kInfinity;
    count_ = count;
    branches_.size = 1;
    buildBranch(centres, 0, 0, count);
    for (int j = 0; j < held; ++j) places_.data[j] = -1;
    for (int q = 0; held > 0 && q < count; ++q) places_.data[order_.data[q]] = q;
    for (int q = 0; labels && q < count; ++q) {
        leaf(q)[(n + 1) * kLeaf + q % kLeaf] = labels[order_.data[q]];
        leaf(q)[(n + 2) * kLeaf + q % kLeaf] = order_.data[q];
    }
    takeRadii(radii);
    // Training's leaves name their nodes themselves.
    if (labels) order_.release();
    return true;
}

// Branch b over order_[first, end), with its subtree; its children take the next two free
// indices, side by side. Splits keep the left part a whole number of leaves, so every leaf but
// the last is full and starts at a multiple of kLeafSize.
void NodeTree::buildBranch(const double* centres, int b, int first, int end) {
    const std::size_t n = static_cast<std::size_t>(n_);
    double* low = boxes_.data + static_cast<std::size_t>(b) * 2 * n;
    double* high = low + n;
    Branch branch{-kInfinity, INT_MAX, first, end, -1, 0, 0.0};
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
        branch.lowestNode = std::min(branch.lowestNode, j);
    }
    const int size = end - first;
    if (size <= kLeaf) {
        double* rows = leaf(first);
        for (int q = first; q < end; ++q) {
            const int j = order_.data[q];
            for (std::size_t i = 0; i < n; ++i) rows[i * kLeaf + (q - first)] = centres[j * n + i];
        }
        branches_.data[b] = branch;
        return;
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
    branch.left = static_cast<int>(branches_.size);
    branches_.size += 2;
    buildBranch(centres, branch.left, first, first + half);
    buildBranch(centres, branch.left + 1, first + half, end);
    branches_.data[b] = branch;
}

// A branch's largest radius from its children's, or for a leaf from its nodes' (NaN as +Inf).
double NodeTree::widestOf(const Branch& branch) const {
    if (branch.left >= 0) {
        return std::max(branches_.data[branch.left].widestRadius,
                        branches_.data[branch.left + 1].widestRadius);
    }
    double widest = -kInfinity;
    for (int q = branch.first; q < branch.end; ++q)
        widest = std::max(widest, std::isnan(radiusAt(q)) ? kInfinity : radiusAt(q));
    return widest;
}

// Children come after their branch: from the last branch back, each takes its largest radius
// from its nodes or its children.
void NodeTree::takeRadii(const double* radii) {
    for (int q = 0; q < count_; ++q) radiusAt(q) = radii[order_.data[q]];
    for (std::size_t b = branches_.size; b-- > 0;) {
        branches_.data[b].widestRadius = widestOf(branches_.data[b]);
    }
}

// The branches from the root down to the leaf that holds the node take their largest radius
// afresh, from the leaf up, as takeRadii would.
void NodeTree::takeRadius(int node, double radius) {
    if (count_ == 0 || node < 0 || static_cast<std::size_t>(node) >= places_.size) return;
    const int q = places_.data[node];
    if (q < 0) return;
    radiusAt(q) = radius;
    int path[kStackDepth];
    int depth = 0;
    for (int b = 0;;) {
        path[depth++] = b;
        const Branch& branch = branches_.data[b];
        if (branch.left < 0) break;
        b = branch.left + (q < branches_.data[branch.left].end ? 0 : 1);
    }
    while (depth-- > 0) {
        Branch& branch = branches_.data[path[depth]];
        const double widest = widestOf(branch);
        if (widest == branch.widestRadius) return;  // the branches above keep theirs
        branch.widestRadius = widest;
    }
}

int NodeTree::firstCover(const double* x) const {
    if (count_ == 0) return -1;
    struct First {
        int best = INT_MAX;
        int limit() const { return best; }
        void operator()(int j) { best = j; }
    } first;
    walkOfKind<Covering<First>::template Of>(*this, metric_.kind, wide_, x, first);
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
        void operator()(int j) { noteCover(labels[j], covering, firstLabel, differ); }
    } census{labels};
    if (count_ > 0)
        walkOfKind<Covering<Census>::template Of>(*this, metric_.kind, wide_, x, census);
    covering = census.covering;
    differ = census.differ;
}

int NodeTree::nearest(const double* x) const {
    if (count_ == 0) return -1;
    return withKind(metric_.kind, [&](auto k) {
        constexpr NormKind Kind = decltype(k)::value;
        return wide_ ? nearestAvx2<Kind>(*this, x) : TreeQueries<Kind>::nearest(*this, x);
    });
}

bool NodeTree::collectReach(const ReachQuery& query, int base, int from,
                            HostVector<std::int32_t>& out) const {
    Reach reach{query, base, from, out, true};
    if (count_ > 0) walkOfKind<Reaching>(*this, metric_.kind, wide_, query.x, reach);
    return reach.ok;
}

void GrowingNodeTree::init(const Metric& metric, InstructionSet instructions) {
    metric_ = metric;
    instructions_ = instructions;
    runs_ = 0;
}

bool GrowingNodeTree::grow(const double* centres, const double* radii, const std::int32_t* labels,
                           int count) {
    while (count - indexed() >= kTail) {
        int first = indexed();
        const int end = first + kTail;
        const int runsBefore = runs_;
        // The last run takes the new nodes in while it is as long as they are and the two
        // together are at most kRunGrowth times as long as the nodes before them.
        while (runs_ > 0 && firsts_[runs_] - firsts_[runs_ - 1] == end - first &&
               end - firsts_[runs_ - 1] <= std::int64_t{kRunGrowth} * firsts_[runs_ - 1]) {
            first = firsts_[--runs_];
        }
        // The runs merged into the new one free their trees first: a merge then holds no more
        // memory than the trees it replaces.
        for (int run = runs_; run < runsBefore; ++run) {
            for (NodeTree& tree : trees_[run]) tree = NodeTree();
        }
        if (runs_ == kMostRuns || !buildRun(runs_, centres, radii, labels, first, end))
            return false;
        firsts_[++runs_] = end;
    }
    return true;
}

bool GrowingNodeTree::buildRun(int run, const double* centres, const double* radii,
                               const std::int32_t* labels, int first, int end) {
    const int count = end - first;
    const std::size_t size = static_cast<std::size_t>(count);
    // Wide: above the (count / kWideShare)-th widest radius (ties stay narrow). Unsplit: none.
    double threshold = kInfinity;
    if (metric_.n >= kSplitDimensions && count >= kWideShare) {
        if (!widths_.resize(size, 0.0)) return false;
        for (int j = first; j < end; ++j)
            widths_.data[j - first] = std::isnan(radii[j]) ? kInfinity : radii[j];
        double* nth = widths_.data + (count - count / kWideShare);
        std::nth_element(widths_.data, nth, widths_.data + count);
        threshold = *nth;
    }
    auto wide = [&](int j) { return std::isnan(radii[j]) || radii[j] > threshold; };
    if (!numbers_.resize(size, 0)) return false;
    int narrow = 0;
    for (int j = first; j < end; ++j) {
        if (!wide(j)) numbers_.data[narrow++] = j - first;
    }
    int at = narrow;
    for (int j = first; j < end; ++j) {
        if (wide(j)) numbers_.data[at++] = j - first;
    }
    const double* runCentres = centres + static_cast<std::size_t>(first) * metric_.n;
    const bool built = trees_[run][0].build(metric_, runCentres, radii + first, narrow,
                                            instructions_, labels + first, numbers_.data) &&
                       trees_[run][1].build(metric_, runCentres, radii + first, count - narrow,
                                            instructions_, labels + first, numbers_.data + narrow);
    // The widest run's room would otherwise stay held to the end.
    numbers_.release();
    widths_.release();
    return built;
}

void GrowingNodeTree::takeRadius(int j, double radius) {
    if (j >= indexed()) return;  // indexed later with the radius it has then
    const int run =
        static_cast<int>(std::upper_bound(firsts_ + 1, firsts_ + runs_ + 1, j) - (firsts_ + 1));
    for (NodeTree& tree : trees_[run]) tree.takeRadius(j - firsts_[run], radius);
}

int GrowingNodeTree::collect(const ReachQuery& query, int from,
                             HostVector<std::int32_t>& out) const {
    const int run =
        static_cast<int>(std::upper_bound(firsts_ + 1, firsts_ + runs_ + 1, from) - (firsts_ + 1));
    const int first = firsts_[run], end = firsts_[run + 1];
    const std::size_t before = out.size;
    for (const NodeTree& tree : trees_[run]) {
        if (!tree.collectReach(query, first, from, out)) return -1;
    }
    std::sort(out.data + before, out.data + out.size);
    return end;
}

}  // namespace sphnet
