// The allowances the search structures share: how far a grid must list a
// sphere beyond its reach, the rounding slack of bounds and thresholds, the working set of the
// blocked scans, and the panels' bound on the figure D.
#pragma once

#include <cstddef>
#include <limits>

#include "distance_bounds.h"
#include "euclidean_panels.h"

namespace sphnet {

// Node panels handed to one pattern group before the next: about 1 MiB of centres in n
// dimensions, in whole kernel calls of `widest` panels.
inline int panelChunk(int n, int widest) {
    constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
    const std::size_t panels =
        kChunkBytes / (static_cast<std::size_t>(n) * EuclideanPanels::kPanel * sizeof(double) + 1);
    return panels < static_cast<std::size_t>(widest)
               ? widest
               : static_cast<int>(panels / static_cast<std::size_t>(widest)) * widest;
}
// A relative allowance for the few roundings where bounds, reaches and thresholds are formed.
constexpr double kRoundingSlack = 1.0 + 0x1p-48;

// A distance limit widened for a grid's cell arithmetic; for general p at least twice the
// smallest term the bounds resolve.
inline double gridReach(const Metric& metric, double limit) {
    double reach = limit * (1.0 + 1e-6) + 1e-300;
    if (metric.kind == NormKind::General && reach < 2.0 * metric.smallestSafeTerm)
        reach = 2.0 * metric.smallestSafeTerm;
    return reach;
}

// The greatest figure D, less the pattern's slack, at which a node whose Euclidean distance
// must stay within `widest` may still matter (NaN: always); below kTinySquare the bounds say
// nothing.
inline double panelBound(double widest, double nodeSlack) {
    if (std::isnan(widest)) return std::numeric_limits<double>::infinity();
    double square = EuclideanPanels::kTinySquare;
    if (widest >= 0) {
        const double squared = widest * widest * kRoundingSlack;
        if (squared > square) square = squared;
    }
    return (square + nodeSlack) * kRoundingSlack;
}

}  // namespace sphnet
