// The prototype node of the RCE network: a hypersphere with a centre, a radius of influence and
// a class label; the list that owns the literal procedures' nodes; and the operation counters
// every coverage test advances.
#pragma once

#include <cstdint>

#include "distance_bounds.h"
#include "host_buffer.h"

namespace sphnet {

// Counter cost of one coverage test: it depends on p and n only.
struct CoverageCost {
    std::uint32_t flops;
    std::uint32_t comparisons;
};
CoverageCost coverageCost(double p, std::int32_t n);

// Operation counts, 32 bits and wrapping, like the figures users have always been shown.
struct OpCounters {
    std::uint32_t flops = 0;
    std::uint32_t comparisons = 0;
    // Every coverage test costs the same: `tests` of them count as if counted one by one.
    void addCoverageTests(double p, std::int32_t n, std::uint32_t tests) {
        const CoverageCost cost = coverageCost(p, n);
        flops += cost.flops * tests;
        comparisons += cost.comparisons * tests;
    }
};

// The module's running totals since it was loaded, which the summaries print; nothing resets
// them while the module stays loaded. Each call counts into its own CallCounters, which adds
// to them atomically, so concurrent calls lose nothing.
OpCounters runningTotals();
void setRunningTotals(const OpCounters& totals);  // tests start from known figures

// One call's counts, added to the running totals when the call reads the totals for its
// summary, or when it ends (interrupted or out of memory too), whichever comes first.
class CallCounters {
  public:
    CallCounters() = default;
    CallCounters(const CallCounters&) = delete;
    CallCounters& operator=(const CallCounters&) = delete;
    ~CallCounters() { totals(); }
    // Adds the counts made so far to the running totals; returns the totals after that.
    OpCounters totals();
    OpCounters counts;
};

// A pattern lies inside a sphere when its distance exceeds the radius by at most this much.
constexpr double kCoverageTolerance = 1e-8;

enum class ConflictOutcome { NoChange = 0, NodeShrunk = 1, NewRadiusShrunk = 2, BothShrunk = 3 };

class SphereNode {
  public:
    // Copies n values of `centre`. Null when the heap is exhausted.
    static SphereNode* create(const double* centre, std::int32_t n, double radius,
                              std::int32_t label);
    static void destroy(SphereNode* node);

    // Measures the distance to pattern x (metric.n values), records it and the verdict in
    // lastDistance and inside, counts the test and returns inside.
    int testCoverage(const Metric& metric, const double* x, OpCounters& counters);

    // Shrinks this foreign sphere and/or the candidate radius r of the sphere the presented
    // pattern would create, so that the two keep `margin` between them. Must follow the
    // testCoverage of this node with that pattern.
    ConflictOutcome resolveConflict(double margin, double& r, OpCounters& counters);

    // Writes the centre (n values) and then the radius.
    void exportRow(std::int32_t n, double* row) const;

    std::int32_t label = 0;
    double* centre = nullptr;
    double radius = 0.0;
    double lastDistance = 0.0;
    std::int32_t inside = 0;

  private:
    SphereNode() = default;
    ~SphereNode() = default;
};

// Nodes in creation order, owned: destroyed with the list (which cannot be copied). The array
// comes from the host allocator and grows geometrically.
class SphereNodeList {
  public:
    ~SphereNodeList();

    int count() const { return static_cast<int>(nodes_.size); }
    SphereNode* operator[](int j) const { return nodes_.data[j]; }
    // Room for `total` nodes at once; false when memory runs out.
    bool reserve(int total) { return nodes_.reserve(static_cast<std::size_t>(total)); }
    // Appends a node made from n values of `centre`; false when memory runs out.
    bool add(const double* centre, std::int32_t n, double radius, std::int32_t label);

  private:
    HostVector<SphereNode*> nodes_;
};

// The conflict rule on a foreign sphere of `radius` at distance d from the presented pattern
// (inside: d is within the radius plus the coverage tolerance): shrinks the sphere and/or the
// candidate radius r so they keep `margin` apart, and counts the operations it did.
ConflictOutcome applyConflictRule(double d, bool inside, double margin, double& radius, double& r,
                                  OpCounters& counters);

}  // namespace sphnet
