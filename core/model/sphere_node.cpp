#include "sphere_node.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "mex_host.h"

namespace sphnet {

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Unsigned atomics wrap at 32 bits as the plain counters do.
std::atomic<std::uint32_t> totalFlops{0};
std::atomic<std::uint32_t> totalComparisons{0};
}  // namespace

OpCounters runningTotals() {
    return {totalFlops.load(), totalComparisons.load()};
}

void setRunningTotals(const OpCounters& totals) {
    totalFlops.store(totals.flops);
    totalComparisons.store(totals.comparisons);
}

OpCounters CallCounters::totals() {
    OpCounters after;
    after.flops = totalFlops.fetch_add(counts.flops) + counts.flops;
    after.comparisons = totalComparisons.fetch_add(counts.comparisons) + counts.comparisons;
    counts = OpCounters();
    return after;
}

SphereNode* SphereNode::create(const double* centre, std::int32_t n, double radius,
                               std::int32_t label) {
    const auto values = static_cast<std::size_t>(n);
    void* nodeMemory = hostHeapAllocate(sizeof(SphereNode));
    if (nodeMemory == nullptr) return nullptr;
    auto* centreCopy = static_cast<double*>(hostHeapAllocate(values * sizeof(double)));
    if (centreCopy == nullptr) {
        hostHeapRelease(nodeMemory);
        return nullptr;
    }
    if (values != 0) std::memcpy(centreCopy, centre, values * sizeof(double));
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

int SphereNode::testCoverage(const Metric& metric, const double* x, OpCounters& counters) {
    counters.addCoverageTests(metric.p, metric.n, 1);
    lastDistance = exactDistance(metric, centre, x);
    inside = lastDistance - kCoverageTolerance > radius ? 0 : 1;
    return inside;
}

ConflictOutcome applyConflictRule(double d, bool inside, double margin, double& radius, double& r,
                                  OpCounters& counters) {
    const double m = margin;
    if (inside) {
        const double h = (d - m) * 0.5;
        if (r >= h) {
            radius = h;
            r = h;
            counters.flops += 2;
            counters.comparisons += 1;
            return ConflictOutcome::BothShrunk;
        }
        radius = (d - m) - r;
        counters.flops += 3;
        counters.comparisons += 1;
        return ConflictOutcome::NodeShrunk;
    }
    // The sum of radius and margin comes first: it decides exact ties such as 0.6 = 0.1 + 0.5.
    if (d >= r + (radius + m)) return ConflictOutcome::NoChange;
    r = d - (radius + m);
    counters.flops += 3;
    counters.comparisons += 1;
    return ConflictOutcome::NewRadiusShrunk;
}

ConflictOutcome SphereNode::resolveConflict(double margin, double& r, OpCounters& counters) {
    return applyConflictRule(lastDistance, inside == 1, margin, radius, r, counters);
}

void SphereNode::exportRow(std::int32_t n, double* row) const {
    const auto values = static_cast<std::size_t>(n);
    if (values != 0) std::memcpy(row, centre, values * sizeof(double));
    row[values] = radius;
}

SphereNodeList::~SphereNodeList() {
    for (int j = 0; j < count(); ++j) SphereNode::destroy(nodes_.data[j]);
}

bool SphereNodeList::add(const double* centre, std::int32_t n, double radius, std::int32_t label) {
    SphereNode* node = SphereNode::create(centre, n, radius, label);
    if (node == nullptr) return false;
    if (nodes_.push(node)) return true;
    SphereNode::destroy(node);
    return false;
}

}  // namespace sphnet
