// The tile scan for p = 1 and +Inf, in every instruction set this processor has: the distances it
// hands back are the exact distances bit for bit, and it stops at the first tile holding a node
// that may matter, by the scan's own tests, and at no tile before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "distance_bounds.h"
#include "node_tiles.h"
#include "sphere_node.h"
#include "standin_host.h"

using sphnet::NodeTiles;
using sphnet::NormKind;

namespace {

struct Node {
    std::vector<double> centre;
    double radius;
    double label;
    double reach;
};

bool mayMatter(const Node& node, double d, double label) {
    return !(d - sphnet::kCoverageTolerance > node.radius) ||
           (node.label != label && !(d >= node.reach));
}

std::string instructionsName(sphnet::InstructionSet v) {
    switch (v) {
        case sphnet::InstructionSet::Portable:
            return "portable";
        case sphnet::InstructionSet::Sse2:
            return "SSE2";
        case sphnet::InstructionSet::Avx2:
            return "AVX2";
        case sphnet::InstructionSet::Avx512:
            return "AVX-512";
        default:
            return "best";
    }
}

// One instruction set's kernels, skipped where this processor lacks them, under a host scope.
class TileScan : public ::testing::TestWithParam<sphnet::InstructionSet> {
  protected:
    void SetUp() override {
        if (sphnet::availableInstructions(vectors) != vectors)
            GTEST_SKIP() << instructionsName(vectors) << " not available";
    }
    const sphnet::InstructionSet vectors = GetParam();
    standin::Scope scope;
};

TEST_P(TileScan, FindsTheFirstTileThatMattersWithExactDistances) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (NormKind kind : {NormKind::CityBlock, NormKind::Maximum}) {
        for (int n : {1, 3, 8, 9, 17}) {
            const sphnet::Metric metric =
                sphnet::makeMetric(kind == NormKind::CityBlock ? 1.0 : INFINITY, n);
            for (int round = 0; round < 200; ++round) {
                const int count = 1 + static_cast<int>((unit(rng) + 1.0) * 40);
                // Coordinates on a lattice now and then, so that distances tie with radii; far
                // from the origin, tiny, or too large for single precision.
                const bool lattice = round % 3 == 0;
                const double offset = round % 4 == 1 ? 1e6 : round % 4 == 2 ? -3e9 : 0.0;
                const double spread = round % 5 == 1   ? 1e-30
                                      : round % 5 == 2 ? 1e120
                                      : lattice        ? 1.0
                                                       : 1e3;
                auto coordinate = [&] {
                    return offset +
                           spread * (lattice ? std::round(unit(rng) * 4) * 0.25 : unit(rng));
                };
                std::vector<double> x(n);
                for (double& v : x) v = coordinate();
                const double xLabel = round % 7 == 3 ? 1.5 : 1.0;  // 1.5: no node has its label
                std::vector<Node> nodes(count);
                NodeTiles tiles;
                tiles.init(kind, n, vectors);
                // Every other round, every node misses x by far but one, which matters just: the
                // scan must find that one, whatever its single-precision distances say.
                const bool edges = round % 2 == 0;
                const int inside = static_cast<int>((unit(rng) + 1.0) * 0.5 * count);
                for (int j = 0; j < count; ++j) {
                    Node& node = nodes[j];
                    node.centre.resize(n);
                    for (double& v : node.centre) v = coordinate();
                    node.label = unit(rng) > 0 ? 1.0 : 2.0;
                    const double d = sphnet::exactDistance(metric, node.centre.data(), x.data());
                    const double edge =
                        d - sphnet::kCoverageTolerance;  // covers with radius >= edge
                    if (edges) {
                        node.radius =
                            j == inside ? std::nextafter(edge, -INFINITY) : edge * 0.5 - 1.0;
                        node.reach = j == inside ? d : d * 0.5;
                        if (j == inside) {
                            if (unit(rng) > 0) {
                                node.radius = edge;
                            } else {
                                node.reach = std::nextafter(d, INFINITY);
                                node.label = 2.0;
                            }
                        }
                    } else {
                        // Radii and reaches around the distance, on it, or far off either way.
                        const int choice = static_cast<int>((unit(rng) + 1.0) * 3);
                        node.radius = choice == 0 ? edge : d * (0.5 + unit(rng));
                        node.reach = choice == 1   ? d
                                     : choice == 2 ? std::nextafter(d, 0.0)
                                                   : d * (0.5 + unit(rng));
                        if (choice == 3) node.radius = -1e300;
                    }
                    ASSERT_TRUE(
                        tiles.append(node.centre.data(), node.radius, node.label, node.reach));
                }
                // Some radii change after the nodes were stored.
                for (int j = 0; j < count && !edges; j += 5) {
                    nodes[j].radius = -nodes[j].radius;
                    tiles.update(j, nodes[j].radius, nodes[j].reach);
                }
                const int from = static_cast<int>((unit(rng) + 1.0) * 0.5 * count);
                const int to = from + static_cast<int>((unit(rng) + 1.0) * 0.5 * (count - from));
                double d[NodeTiles::kLanes];
                std::vector<float> scratch(n);
                const NodeTiles::Pattern pattern = tiles.prepare(x.data(), xLabel, scratch.data());
                const int first = tiles.nextThatMayMatter(pattern, from, to, d);
                int expected = to;
                for (int j = from; j < to && expected == to; ++j) {
                    const double exact =
                        sphnet::exactDistance(metric, nodes[j].centre.data(), x.data());
                    if (mayMatter(nodes[j], exact, xLabel)) expected = j - j % NodeTiles::kLanes;
                }
                ASSERT_EQ(first, expected)
                    << "n=" << n << " count=" << count << " from=" << from << " to=" << to;
                // The same scan on single-precision values made ahead, as when a scan is split
                // between threads.
                if (tiles.splits(pattern)) {
                    const int at = from - from % NodeTiles::kBlock;
                    std::vector<float> sums(static_cast<std::size_t>(count + NodeTiles::kBlock));
                    tiles.makeFloatSums(pattern.floats, at, to, sums.data());
                    double dAhead[NodeTiles::kLanes];
                    ASSERT_EQ(tiles.nextBySums(pattern, sums.data(), at, from, to, dAhead),
                              expected)
                        << "sums, n=" << n;
                    if (expected < to) {
                        EXPECT_EQ(0, std::memcmp(d, dAhead, sizeof d));
                    }
                }
                for (int j = first > from ? first : from; j < to && j < first + NodeTiles::kLanes;
                     ++j) {
                    const double exact =
                        sphnet::exactDistance(metric, nodes[j].centre.data(), x.data());
                    ASSERT_EQ(d[j - first], exact) << "node " << j << " n=" << n;
                }
                // The 1-NN choice: the first node of least distance.
                int nearest = 0;
                double least = sphnet::exactDistance(metric, nodes[0].centre.data(), x.data());
                for (int j = 1; j < count; ++j) {
                    const double exact =
                        sphnet::exactDistance(metric, nodes[j].centre.data(), x.data());
                    if (exact < least) {
                        nearest = j;
                        least = exact;
                    }
                }
                EXPECT_EQ(tiles.nearest(x.data()), nearest) << "n=" << n << " count=" << count;
                tiles = NodeTiles();
            }
        }
    }
}

// Distances that overflow to +Inf: the first node stays the choice until a finite one comes.
TEST_P(TileScan, NearestAmongInfiniteDistances) {
    for (NormKind kind : {NormKind::CityBlock, NormKind::Maximum}) {
        NodeTiles tiles;
        tiles.init(kind, 2, vectors);
        const double x[2] = {-1.5e308, 0.0};
        const double far[2] = {1.5e308, 0.0};
        const double near[2] = {1.0, 0.0};
        for (int j = 0; j < 11; ++j) ASSERT_TRUE(tiles.append(far, 1.0, 1.0, 0.0));
        EXPECT_EQ(tiles.nearest(x), 0);
        ASSERT_TRUE(tiles.append(near, 1.0, 1.0, 0.0));
        EXPECT_EQ(tiles.nearest(x), 11);
        tiles = NodeTiles();
    }
}

// With the reach narrowed to r + (radius + margin), r below the stored reaches' rLimit, no
// tile holding a node within that nearer reach (or able to cover) is passed over, even for
// nodes on its very edge.
TEST_P(TileScan, NarrowedReachPassesOverNoNodeWithinIt) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double margin = 0.1, rLimit = 2.0;
    for (NormKind kind : {NormKind::CityBlock, NormKind::Maximum}) {
        for (int n : {4, 8, 13}) {
            const sphnet::Metric metric =
                sphnet::makeMetric(kind == NormKind::CityBlock ? 1.0 : INFINITY, n);
            for (int round = 0; round < 200; ++round) {
                const int count = 40 + static_cast<int>((unit(rng) + 1.0) * 60);
                const double r = rLimit * unit(rng);
                std::vector<double> x(n);
                for (double& v : x) v = 3.0 * unit(rng);
                NodeTiles tiles;
                tiles.init(kind, n, vectors);
                std::vector<Node> nodes(count);
                for (int j = 0; j < count; ++j) {
                    Node& node = nodes[j];
                    node.centre.resize(n);
                    for (double& v : node.centre) v = 3.0 * unit(rng);
                    node.label = 2.0;
                    const double d = sphnet::exactDistance(metric, node.centre.data(), x.data());
                    node.radius = 0.5 * unit(rng) - 0.3;
                    if (unit(rng) > 0.9) {
                        // Just within the nearer reach: the smallest radius that still conflicts.
                        node.radius = (d - r) - margin;
                        while (d >= r + (node.radius + margin))
                            node.radius = std::nextafter(node.radius, INFINITY);
                    }
                    node.reach = rLimit + (node.radius + margin);
                    ASSERT_TRUE(
                        tiles.append(node.centre.data(), node.radius, node.label, node.reach));
                }
                std::vector<float> scratch(n);
                NodeTiles::Pattern pattern = tiles.prepare(x.data(), 1.0, scratch.data(), count);
                tiles.narrowReach(pattern, rLimit, r);
                double d[NodeTiles::kLanes];
                const int first = tiles.nextThatMayMatter(pattern, 0, count, d);
                int expected = count;
                for (int j = 0; j < count && expected == count; ++j) {
                    const double exact =
                        sphnet::exactDistance(metric, nodes[j].centre.data(), x.data());
                    Node narrowed = nodes[j];
                    narrowed.reach = r + (narrowed.radius + margin);
                    if (mayMatter(narrowed, exact, 1.0)) expected = j - j % NodeTiles::kLanes;
                }
                ASSERT_LE(first, expected) << "n=" << n << " r=" << r;
                tiles = NodeTiles();
            }
        }
    }
}

// A plan's instruction set picks these kernels where the processor has them, else the widest
// it has below them.
TEST(TileKernels, PlanPicksTheWidestAvailableKernelsAtOrBelowItsOwn) {
    using I = sphnet::InstructionSet;
    standin::Scope scope;
    for (I asked : {I::Portable, I::Sse2, I::Avx2, I::Avx512, I::Auto}) {
        NodeTiles tiles;
        tiles.init(NormKind::CityBlock, 3, asked);
        const I got = tiles.instructions();
        EXPECT_EQ(sphnet::availableInstructions(got), got) << instructionsName(asked);
        EXPECT_NE(got, I::Auto) << instructionsName(asked);
        if (asked != I::Auto && sphnet::availableInstructions(asked) == asked) {
            EXPECT_EQ(got, asked) << instructionsName(asked);
        } else if (asked != I::Auto) {
            EXPECT_LT(static_cast<int>(got), static_cast<int>(asked)) << instructionsName(asked);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, TileScan,
                         ::testing::Values(sphnet::InstructionSet::Portable,
                                           sphnet::InstructionSet::Sse2,
                                           sphnet::InstructionSet::Avx2,
                                           sphnet::InstructionSet::Avx512),
                         [](const auto& info) {
                             std::string name = instructionsName(info.param);
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

}  // namespace
