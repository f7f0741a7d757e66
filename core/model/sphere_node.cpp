#include "sphere_node.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "distance_bounds.h"
#include "mex_host.h"

namespace sphnet {

NodeSettings nodeSettings;
OpCounters opCounters;

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
}

void configureNodeSettings(double p, std::int32_t n, double margin) {
    nodeSettings.p = p;
    nodeSettings.pInv = p == kInfinity ? 0.0 : 1.0 / p;
    nodeSettings.n = n;
    nodeSettings.margin = margin;
}

SphereNode* SphereNode::create(const double* centre, double radius, std::int32_t label) {
    const auto n = static_cast<std::size_t>(nodeSettings.n);
    void* nodeMemory = hostHeapAllocate(sizeof(SphereNode));
    if (nodeMemory == nullptr) return nullptr;
    auto* centreCopy = static_cast<double*>(hostHeapAllocate(n * sizeof(double)));
    if (centreCopy == nullptr) {
        hostHeapRelease(nodeMemory);
        return nullptr;
    }
    if (n != 0) std::memcpy(centreCopy, centre, n * sizeof(double));
    auto* node = new (nodeMemory) SphereNode;
    node->centre = centreCopy;
    node->radius = radius;
    node->label = label;
    return node;
}

void SphereNode::destroy(SphereNode* node) {
    if (node == nullptr) return;
    hostHeapRelease(node->centre);
    node->~SphereNode();
    hostHeapRelease(node);
}

CoverageCost coverageCost(double p, std::int32_t n) {
    const auto un = static_cast<std::uint32_t>(n);
    if (p == 1.0) return {2u * un + 1u, 1u};
    if (p == kInfinity) return {un + 1u, un + 1u};
    return {3u * un + 2u, 1u};
}

double minkowskiDistance(const double* a, const double* b) {
    const std::int32_t n = nodeSettings.n;
    const double p = nodeSettings.p;
    double d = 0.0;
    if (p == 1.0) {
        for (std::int32_t i = 0; i < n; ++i) d += std::fabs(a[i] - b[i]);
    } else if (p == kInfinity) {
        for (std::int32_t i = 0; i < n; ++i) {
            const double t = std::fabs(a[i] - b[i]);
            if (t > d) d = t;
        }
    } else {
        d = powerDistance(a, b, n, p, nodeSettings.pInv);
    }
    return d;
}

int SphereNode::testCoverage(const double* x) {
    const CoverageCost cost = coverageCost(nodeSettings.p, nodeSettings.n);
    opCounters.flops += cost.flops;
    opCounters.comparisons += cost.comparisons;
    lastDistance = minkowskiDistance(centre, x);
    inside = lastDistance - kCoverageTolerance > radius ? 0 : 1;
    return inside;
}

ConflictOutcome applyConflictRule(double d, bool inside, double margin, double& radius, double& r) {
    const double m = margin;
    if (inside) {
        const double h = (d - m) * 0.5;
        if (r >= h) {
            radius = h;
            r = h;
            opCounters.flops += 2;
            opCounters.comparisons += 1;
            return ConflictOutcome::BothShrunk;
        }
        radius = (d - m) - r;
        opCounters.flops += 3;
        opCounters.comparisons += 1;
        return ConflictOutcome::NodeShrunk;
    }
    // The sum of radius and margin comes first: it decides exact ties such as 0.6 = 0.1 + 0.5.
    if (d >= r + (radius + m)) return ConflictOutcome::NoChange;
    r = d - (radius + m);
    opCounters.flops += 3;
    opCounters.comparisons += 1;
    return ConflictOutcome::NewRadiusShrunk;
}

ConflictOutcome SphereNode::resolveConflict(double& r) {
    return applyConflictRule(lastDistance, inside == 1, nodeSettings.margin, radius, r);
}

void SphereNode::exportRow(double* row) const {
    const auto n = static_cast<std::size_t>(nodeSettings.n);
    if (n != 0) std::memcpy(row, centre, n * sizeof(double));
    row[n] = radius;
}

}  // namespace sphnet
