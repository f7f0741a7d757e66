// A k-d tree over node centres for exact recall queries in few dimensions: the first node in
// creation order that covers a pattern, every node that covers it, and the first node of least
// exact distance. Each branch keeps the box of its centres, its largest radius and its lowest
// node number; a branch is passed over only when a certified lower bound on the distance from
// the pattern to its box (boxLowerBound) rules out every node in it. Leaves hold kLeafSize
// nodes, coordinate by coordinate, so that one coordinate of a whole leaf is one loop that
// vectorises; each lane still takes its own node's terms in index order, so the distances are
// the exact ones. Every array comes from the host allocator; queries only read the tree.
#pragma once

#include <cstdint>

#include "distance_bounds.h"
#include "host_buffer.h"
#include "search_plan.h"

namespace sphnet {

class NodeTree {
  public:
    static constexpr int kLeafSize = 32;

    // Whether the tree pays for `count` nodes in n dimensions: in many dimensions a box bound
    // rules out little, few nodes are scanned as fast plainly, and in fewer than four
    // dimensions a grid over the coordinates names hardly any node that does not matter.
    static bool suits(int n, int count) { return n >= 4 && fits(n) && count >= 64; }
    // Whether the tree can answer at all in n dimensions: its leaf scans gather a centre into
    // kMaxDimensions values. Queries on a tree built for other n find nothing.
    static constexpr int kMaxDimensions = 16;
    static bool fits(int n) { return n >= 1 && n <= kMaxDimensions; }

    // Centres: `count` rows of kit.n values; radii: per node (NaN covers anything). Both are
    // read only while building. The walks use AVX2 where `instructions`
    // (availableInstructions) reach it; Auto: wherever the processor has it. False when memory
    // runs out.
    bool build(const DistanceKit& kit, const double* centres, const double* radii, int count,
               InstructionSet instructions = InstructionSet::Auto);

    // The lowest-numbered node that covers x, or -1.
    int firstCover(const double* x) const;
    // How many nodes cover x, and whether their labels (per node number) differ.
    void coverCensus(const double* x, const std::int32_t* labels, int& covering,
                     bool& differ) const;
    // The first node of least exact distance from x, or -1 when there are no nodes.
    int nearest(const double* x) const;

  private:
    struct Branch {
        double widestRadius;  // the largest radius in the branch; NaN counts as +Inf
        std::int32_t lowestNode;
        std::int32_t first;  // the branch's nodes are order_[first .. end)
        std::int32_t end;
        std::int32_t left;  // -1 for a leaf
        std::int32_t right;
        std::int32_t splitDimension;  // the right child's centres lie at or above splitValue there
        double splitValue;
    };
    template <int Kind>
    friend struct TreeQueries;

    int buildBranch(const double* centres, const double* radii, int first, int end);
    const double* boxLow(int b) const { return boxes_.data + static_cast<std::size_t>(b) * 2 * n_; }
    const double* leafCentres(int first) const {
        return leafCentres_.data + static_cast<std::size_t>(first) * n_;
    }

    DistanceKit kit_;
    bool wide_ = false;  // the processor has AVX2
    int n_ = 0;
    int count_ = 0;
    HostVector<Branch> branches_;
    HostVector<double> boxes_;        // per branch: n lows, then n highs
    HostVector<std::int32_t> order_;  // node numbers, leaf by leaf
    HostVector<double> radii_;        // per position in order_
    // Per leaf (first position a multiple of kLeafSize): n rows of kLeafSize coordinates.
    HostVector<double> leafCentres_;
};

}  // namespace sphnet
