// The prototype node of the RCE network: a hypersphere with a centre, a radius of influence and
// a class label, plus the module-wide settings every node reads and the operation counters
// every coverage test advances.
#pragma once

#include <cstdint>

namespace sphnet {

// Read by every node operation; a procedure sets it before it makes any node.
struct NodeSettings {
    std::int32_t n = 1;   // coordinates per pattern
    double p = 1.0;       // order of the Minkowski distance, >= 1 or +Inf
    double pInv = 1.0;    // 1/p, or 0 when p is +Inf
    double margin = 0.0;  // gap kept between spheres of different labels (training only)
};

// Running totals since the module was loaded. 32 bits and wrapping, like the figures users
// have always been shown; nothing resets them while the module stays loaded.
struct OpCounters {
    std::uint32_t flops = 0;
    std::uint32_t comparisons = 0;
};

extern NodeSettings nodeSettings;
extern OpCounters opCounters;

// Sets p, pInv and n (and margin) for the call that follows.
void configureNodeSettings(double p, std::int32_t n, double margin);

// A pattern lies inside a sphere when its distance exceeds the radius by at most this much.
constexpr double kCoverageTolerance = 1e-8;

enum class ConflictOutcome { NoChange = 0, NodeShrunk = 1, NewRadiusShrunk = 2, BothShrunk = 3 };

class SphereNode {
  public:
    // Copies nodeSettings.n values of `centre`. Null when the heap is exhausted.
    static SphereNode* create(const double* centre, double radius, std::int32_t label);
    static void destroy(SphereNode* node);

    // Measures the distance to pattern x (nodeSettings.n values), records it and the verdict in
    // lastDistance and inside, and returns inside.
    int testCoverage(const double* x);

    // Shrinks this foreign sphere and/or the candidate radius r of the sphere the presented
    // pattern would create, so that the two keep the margin between them. Must follow the
    // testCoverage of this node with that pattern.
    ConflictOutcome resolveConflict(double& r);

    // Writes the centre and then the radius: nodeSettings.n + 1 values.
    void exportRow(double* row) const;

    std::int32_t label = 0;
    double* centre = nullptr;
    double radius = 0.0;
    double lastDistance = 0.0;
    std::int32_t inside = 0;

  private:
    SphereNode() = default;
    ~SphereNode() = default;
};

// The conflict rule on a foreign sphere of `radius` at distance d from the presented pattern
// (inside: d is within the radius plus the coverage tolerance): shrinks the sphere and/or the
// candidate radius r so they keep `margin` apart, and counts the operations it did.
ConflictOutcome applyConflictRule(double d, bool inside, double margin, double& radius, double& r);

// Counter cost of one coverage test: it depends on p and n only.
struct CoverageCost {
    std::uint32_t flops;
    std::uint32_t comparisons;
};
CoverageCost coverageCost(double p, std::int32_t n);

// Minkowski distance of order nodeSettings.p between a and b, in the same summation order and
// with the same library calls as a coverage test (powerDistance for p other than 1 and +Inf),
// without touching the counters.
double minkowskiDistance(const double* a, const double* b);

}  // namespace sphnet
