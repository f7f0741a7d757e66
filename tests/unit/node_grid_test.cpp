// The grid's per-cell lists: a pattern within a node's extent along every grid axis always finds
// the node in its cell's list, also where rounding works against the lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "node_grid.h"
#include "standin_host.h"

using sphnet::NodeGrid;

namespace {

// The largest difference over the grid's axes.
double axisDistance(const int* axes, int axisCount, const double* a, const double* b) {
    double largest = 0.0;
    for (int k = 0; k < axisCount; ++k)
        largest = std::max(largest, std::fabs(a[axes[k]] - b[axes[k]]));
    return largest;
}

// Counts, then lists every node, as the grid requires; false if any step fails or a node is left
// unlisted (the extents here stay within the cells a node may take).
bool listAll(NodeGrid& grid, const std::vector<std::vector<double>>& centres,
             const std::vector<double>& extents) {
    bool listed = true;
    for (std::size_t j = 0; j < centres.size(); ++j) {
        if (!grid.count(centres[j].data(), extents[j], listed) || !listed) return false;
    }
    if (!grid.finishCounting()) return false;
    for (std::size_t j = 0; j < centres.size(); ++j) {
        if (!grid.insert(static_cast<int>(j), centres[j].data(), extents[j], listed) || !listed)
            return false;
    }
    return true;
}

bool listed(const NodeGrid& lists, const double* x, int j) {
    std::int32_t length = 0;
    const std::int32_t* nodes = lists.nodesAt(x, length);
    return std::find(nodes, nodes + length, j) != nodes + length;
}

TEST(NodeGrid, EveryPatternWithinReachFindsTheNodeInOrder) {
    standin::Scope scope;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int axes[3] = {4, 0, 2};
    const int n = 5;
    for (int axisCount : {2, 3}) {
        for (double scale : {1e-9, 1.0, 1e7}) {
            NodeGrid grid;
            ASSERT_TRUE(grid.init(axes, axisCount, 0.25 * scale));
            std::vector<std::vector<double>> centres(200, std::vector<double>(n));
            std::vector<double> extents(centres.size());
            for (std::size_t j = 0; j < centres.size(); ++j) {
                for (double& v : centres[j]) v = unit(rng) * scale;
                extents[j] = (unit(rng) + 1.0) * 0.3 * scale;  // up to 2.4 cells each way
            }
            ASSERT_TRUE(listAll(grid, centres, extents));
            int near = 0;
            for (int trial = 0; trial < 20000; ++trial) {
                const int j = static_cast<int>(rng() % centres.size());
                std::vector<double> x = centres[j];
                // Mostly on or just inside the reach, where a dropped cell would show.
                const double towards = trial % 2 == 0 ? 1.0 : std::fabs(unit(rng));
                for (int k = 0; k < axisCount; ++k) x[axes[k]] += unit(rng) * extents[j] * towards;
                const double d = axisDistance(axes, axisCount, x.data(), centres[j].data());
                if (d > extents[j]) continue;  // outside the box: no promise
                ++near;
                std::int32_t length = 0;
                const std::int32_t* nodes = grid.nodesAt(x.data(), length);
                EXPECT_TRUE(std::find(nodes, nodes + length, j) != nodes + length)
                    << "node " << j << " at distance " << d << " of " << extents[j];
                EXPECT_TRUE(std::is_sorted(nodes, nodes + length));
            }
            EXPECT_GT(near, 3000);
        }
    }
    scope.finish();
}

// A pattern whose computed difference from a centre is within the extent lies in a listed cell,
// also where rounding works against the lists: (a) v + extent rounds below the pattern while
// x - v rounds down to the extent; (b) x / cellSize rounds up to k although x lies below the
// computed start k * cellSize of its cell.
TEST(NodeGrid, RoundingAtTheCellEdgeDropsNoNode) {
    standin::Scope scope;
    const int axes[1] = {0};
    struct Case {
        double v, x, cellSize;
    };
    std::vector<Case> cases = {{-1.5e-16, 2.0, 1.0}};
    for (int k = 1; cases.size() < 2; ++k) {
        const double x = std::nextafter(k * 0.1, 0.0);
        if (std::floor(x / 0.1) == k) cases.push_back({x - 1e-7, x, 0.1});
    }
    ASSERT_LT(cases[0].v + 2.0, cases[0].x);  // (a) holds
    for (const Case& c : cases) {
        const double extent = c.x - c.v;
        NodeGrid reach;
        ASSERT_TRUE(reach.init(axes, 1, c.cellSize));
        ASSERT_TRUE(listAll(reach, {{c.v}}, {extent}));
        EXPECT_TRUE(listed(reach, &c.x, 0)) << "x = " << c.x;
    }
    scope.finish();
}

}  // namespace
