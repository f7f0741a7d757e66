// A k-d tree over node centres for exact queries in few dimensions: the first node in creation
// order that covers a pattern, every node that covers it, the first node of least exact distance.
// Each branch keeps its centres' box, largest radius and lowest node number, and is passed over
// only where a certified lower bound on the distance to its box (boxLowerBound) rules out all its
// nodes. A leaf is one block of kLeafSize nodes, coordinate by coordinate, beside their radii (and
// labels, for training): four lanes go together, each taking its own node's terms in index order,
// so the distances are the exact ones. Arrays come from the host allocator; queries only read.
#pragma once

#include <cstdint>

#include "distance_bounds.h"
#include "host_buffer.h"
#include "search_plan.h"

namespace sphnet {

// A training scan's question: the nodes that may matter to pattern x of label `label` while its
// candidate radius is at most `reach`: those whose sphere may hold x, and those of another label
// within reach + radius + margin of x (summed as the conflict test sums it).
struct ReachQuery {
    const double* x;
    double label;
    double reach;
    double margin;
};

class NodeTree {
  public:
    static constexpr int kLeafSize = 32;

    // Whether the tree pays for `count` nodes in n dimensions: in many dimensions a box bound
    // rules out little, few nodes are scanned as fast plainly, and in fewer than four
    // dimensions a grid over the coordinates names hardly any node that does not matter.
    static bool paysFor(int n, int count) { return n >= 4 && fits(n) && count >= 64; }
    // Whether the tree can answer at all in n dimensions: its leaf scans gather a centre into
    // kMaxDimensions values. Queries on a tree built for other n find nothing.
    static constexpr int kMaxDimensions = 16;
    static bool fits(int n) { return n >= 1 && n <= kMaxDimensions; }

    // Centres: `count` rows of metric.n values; radii: per node (NaN covers anything). Both are
    // read only while building. The walks use AVX2 where `instructions`
    // (availableInstructions) reach it; Auto: wherever the processor has it. Where `numbers` is
    // given, the tree holds only those `count` nodes (ascending), read from the arrays by node
    // number and named by it. False when memory runs out.
    bool build(const Metric& metric, const double* centres, const double* radii, int count,
               InstructionSet instructions = InstructionSet::Auto,
               const std::int32_t* labels = nullptr, const std::int32_t* numbers = nullptr);

    // Takes one node's radius as it is now: `node` as numbered in build. Nothing where the tree
    // does not hold it, or was built without labels.
    void takeRadius(int node, double radius);

    // The lowest-numbered node that covers x, or -1.
    int firstCover(const double* x) const;
    // How many nodes cover x, and whether their labels (per node number) differ.
    void coverCensus(const double* x, const std::int32_t* labels, int& covering,
                     bool& differ) const;
    // The first node of least exact distance from x, or -1 when there are no nodes.
    int nearest(const double* x) const;
    // Appends to `out` the tree's nodes, numbered from `base`, from node `from` on that may
    // matter to the query, in the tree's order. The radii the tree holds must bound the present
    // ones. False when memory runs out.
    bool collectReach(const ReachQuery& query, int base, int from,
                      HostVector<std::int32_t>& out) const;

  private:
    struct Branch {
        double widestRadius;  // the largest radius in the branch; NaN counts as +Inf
        std::int32_t lowestNode;
        std::int32_t first;  // the branch's nodes are order_[first .. end)
        std::int32_t end;
        std::int32_t left;            // -1 for a leaf; the right child is left + 1
        std::int32_t splitDimension;  // the right child's centres lie at or above splitValue there
        double splitValue;
    };
    template <NormKind Kind>
    friend struct TreeQueries;
    template <NormKind Kind>
    friend struct Reaching;

    void buildBranch(const double* centres, int b, int first, int end);
    double widestOf(const Branch& branch) const;
    // Every branch's largest radius from the nodes' radii (per node, as in build).
    void takeRadii(const double* radii);
    const double* boxLow(int b) const { return boxes_.data + static_cast<std::size_t>(b) * 2 * n_; }
    // The block of the leaf that holds position q (leaves start at multiples of kLeafSize).
    double* leaf(int q) const {
        return leaves_.data + static_cast<std::size_t>(q / kLeafSize) * rows_ * kLeafSize;
    }
    double& radiusAt(int q) const { return leaf(q)[n_ * kLeafSize + q % kLeafSize]; }

    Metric metric_;
    bool wide_ = false;  // the processor has AVX2
    int n_ = 0;
    int count_ = 0;
    HostVector<Branch> branches_;
    HostVector<double> boxes_;        // per branch: n lows, then n highs
    HostVector<std::int32_t> order_;  // node numbers, leaf by leaf (recall's trees only)
    // Per node number up to the largest held, its position (-1: held by none).
    HostVector<std::int32_t> places_;
    // Per leaf, in one block: n rows of kLeafSize coordinates, a row of radii (-Inf past a short
    // leaf's end), and where the builder gave labels a row of them and one of node numbers;
    // rows_ rows in all.
    int rows_ = 0;
    HostVector<double> leaves_;
};

// The growing mode, for training, where nodes come one by one and radii only shrink: trees over
// consecutive runs of node numbers, each at most kRunGrowth times as long as the nodes before it,
// so that a scan in node order, its reach narrowing, meets few nodes per run that can matter; the
// newest nodes, fewer than kTail, stay outside. Runs of equal length merge as in a binary counter
// up to that bound, so a node is indexed O(log count) times (wider runs: fewer walks per scan,
// each naming more nodes). A radius a conflict changes is taken at once, up its branches.
// Where classes overlap, most radii end far below Rmax but a few stay wide, and a branch is passed
// over only by its widest: from kSplitDimensions on, each run is two trees, its widest
// 1/kWideShare of nodes (and any NaN radius) in one, the rest in the other, each passed over by
// its own largest radius. (In the plane the two walks together met more leaves than the one.)
class GrowingNodeTree {
  public:
    static constexpr int kTail = 2 * NodeTree::kLeafSize;
    static constexpr int kRunGrowth = 3;
    static constexpr int kSplitDimensions = 3;
    static constexpr int kWideShare = 32;

    void init(const Metric& metric, InstructionSet instructions);
    // Indexes nodes up to `count` (centres: rows of n values; radii by node number) until fewer
    // than kTail stay outside the runs. False when memory runs out.
    bool grow(const double* centres, const double* radii, const std::int32_t* labels, int count);
    // Takes node j's radius as it is now, where j is indexed.
    void takeRadius(int j, double radius);
    // Nodes [0, indexed()) lie in runs.
    int indexed() const { return firsts_[runs_]; }
    // Appends to `out`, ascending, the nodes from `from` (below indexed()) to the end of its run
    // that may matter to the query; returns the run's end, or -1 when memory runs out.
    int collect(const ReachQuery& query, int from, HostVector<std::int32_t>& out) const;

  private:
    static constexpr int kMostRuns = 64;
    // Builds run `run` over nodes [first, end).
    bool buildRun(int run, const double* centres, const double* radii, const std::int32_t* labels,
                  int first, int end);
    Metric metric_;
    InstructionSet instructions_ = InstructionSet::Auto;
    // Per run: the narrow nodes' tree, then the wide ones' (unsplit: those of NaN radius).
    NodeTree trees_[kMostRuns][2];
    HostVector<std::int32_t> numbers_;  // while a run is built: its narrow nodes, then wide ones
    HostVector<double> widths_;         // while a run is built: its radii, NaN as +Inf
    int firsts_[kMostRuns + 1] = {};    // run r holds nodes [firsts_[r], firsts_[r + 1])
    int runs_ = 0;
};

}  // namespace sphnet
