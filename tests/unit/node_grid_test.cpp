// The grid's per-cell lists: a pattern near enough to a node, in the norm's own shape
// over the grid axes, always finds the node in its cell's list, growing or frozen; the diamond
// and the ball list fewer cells than the box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "node_grid.h"
#include "standin_host.h"

using sphnet::NodeGrid;

namespace {

// The part of the distance over the grid's axes, in the shape's norm.
double partialDistance(NodeGrid::Shape shape, const int* axes, int axisCount, const double* a,
                       const double* b) {
    double sum = 0.0, squares = 0.0, largest = 0.0;
    for (int k = 0; k < axisCount; ++k) {
        const double t = std::fabs(a[axes[k]] - b[axes[k]]);
        sum += t;
        squares += t * t;
        largest = std::max(largest, t);
    }
    if (shape == NodeGrid::Shape::Box) return largest;
    return shape == NodeGrid::Shape::Ball ? std::sqrt(squares) : sum;
}

bool listed(const NodeGrid& lists, const double* x, int j) {
    std::int32_t length = 0;
    const std::int32_t* nodes = lists.nodesAt(x, length);
    return std::find(nodes, nodes + length, j) != nodes + length;
}

class GridShapes : public ::testing::TestWithParam<NodeGrid::Shape> {};

TEST_P(GridShapes, EveryPatternWithinReachFindsTheNode) {
    const NodeGrid::Shape shape = GetParam();
    standin::Scope scope;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int axes[4] = {4, 0, 2, 3};
    const int n = 5;
    for (int axisCount : {3, 4}) {
        for (double scale : {1e-9, 1.0, 1e7}) {
            NodeGrid lists;
            const double cellSize = 0.25 * scale;
            ASSERT_TRUE(lists.init(axes, axisCount, cellSize, shape));
            NodeGrid frozen;
            ASSERT_TRUE(frozen.init(axes, axisCount, cellSize, shape));
            std::vector<std::vector<double>> centres(200, std::vector<double>(n));
            std::vector<double> extents(centres.size());
            for (std::size_t j = 0; j < centres.size(); ++j) {
                for (double& v : centres[j]) v = unit(rng) * scale;
                // Up to 2.4 cells on three axes, 1.2 on four (as many cells as a node may take).
                extents[j] = (unit(rng) + 1.0) * (axisCount == 3 ? 0.3 : 0.15) * scale;
                bool ok = false;
                ASSERT_TRUE(lists.insert(static_cast<int>(j), centres[j].data(), extents[j], ok));
                ASSERT_TRUE(ok);
                ASSERT_TRUE(frozen.count(centres[j].data(), extents[j], ok));
            }
            // The frozen grid lists the same nodes, in one block.
            ASSERT_TRUE(frozen.finishCounting());
            for (std::size_t j = 0; j < centres.size(); ++j) {
                bool ok = false;
                ASSERT_TRUE(frozen.insert(static_cast<int>(j), centres[j].data(), extents[j], ok));
            }
            int near = 0;
            for (int trial = 0; trial < 20000; ++trial) {
                const int j = static_cast<int>(rng() % centres.size());
                std::vector<double> x = centres[j];
                // Mostly on or just inside the reach, where a dropped cell would show.
                const double towards = trial % 2 == 0 ? 1.0 : std::fabs(unit(rng));
                for (int k = 0; k < axisCount; ++k) x[axes[k]] += unit(rng) * extents[j] * towards;
                const double d =
                    partialDistance(shape, axes, axisCount, x.data(), centres[j].data());
                if (d > extents[j]) continue;  // outside the shape: no promise
                ++near;
                EXPECT_TRUE(listed(lists, x.data(), j))
                    << "node " << j << " at partial distance " << d << " of " << extents[j];
                std::int32_t length = 0, frozenLength = 0;
                const std::int32_t* nodes = lists.nodesAt(x.data(), length);
                const std::int32_t* frozenNodes = frozen.nodesAt(x.data(), frozenLength);
                ASSERT_TRUE(
                    std::equal(nodes, nodes + length, frozenNodes, frozenNodes + frozenLength));
            }
            EXPECT_GT(near, 3000);
            lists.release();
            frozen.release();
        }
    }
    scope.finish();
}

TEST_P(GridShapes, ShapesListFewerCellsThanTheBox) {
    standin::Scope scope;
    const int axes[3] = {0, 1, 2};
    const double centre[3] = {0.1, 0.2, 0.3};
    auto entries = [&](NodeGrid::Shape shape) {
        NodeGrid lists;
        EXPECT_TRUE(lists.init(axes, 3, 1.0, shape));
        bool ok = false;
        EXPECT_TRUE(lists.insert(0, centre, 3.0, ok));
        // Every cell a pattern can fall in, within the box of the reach.
        int count = 0;
        for (int a = -4; a <= 4; ++a) {
            for (int b = -4; b <= 4; ++b) {
                for (int c = -4; c <= 4; ++c) {
                    const double x[3] = {a + 0.5, b + 0.5, c + 0.5};
                    if (listed(lists, x, 0)) ++count;
                }
            }
        }
        lists.release();
        return count;
    };
    const int box = entries(NodeGrid::Shape::Box);
    EXPECT_EQ(box, 7 * 7 * 7);
    if (GetParam() != NodeGrid::Shape::Box) {
        EXPECT_LT(entries(GetParam()), box * 3 / 4);
    }
    scope.finish();
}

// A pattern whose computed difference from a centre is within the extent lies in a listed cell,
// also where rounding works against the lists: (a) v + extent rounds below the pattern while
// x - v rounds down to the extent; (b) x / cellSize rounds up to k although x lies below the
// computed start k * cellSize of its cell.
TEST_P(GridShapes, RoundingAtTheCellEdgeDropsNoNode) {
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
        ASSERT_TRUE(reach.init(axes, 1, c.cellSize, GetParam()));
        bool ok = false;
        ASSERT_TRUE(reach.insert(0, &c.v, extent, ok));
        EXPECT_TRUE(listed(reach, &c.x, 0)) << "x = " << c.x;
    }
    scope.finish();
}

INSTANTIATE_TEST_SUITE_P(EveryShape, GridShapes,
                         ::testing::Values(NodeGrid::Shape::Box, NodeGrid::Shape::Diamond,
                                           NodeGrid::Shape::Ball));

}  // namespace
