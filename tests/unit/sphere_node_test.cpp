// Distances, counters, the coverage tolerance and the conflict rule of a single node.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sphere_node.h"
#include "standin_host.h"

using namespace sphnet;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

class SphereNodeTest : public ::testing::Test {
  protected:
    // A node at `centre` after testing it against `x` under norm p, counted into counters_.
    SphereNode* testedNode(std::vector<double> centre, double radius, std::vector<double> x,
                           double p) {
        const int n = static_cast<int>(centre.size());
        EXPECT_TRUE(nodes_.add(centre.data(), n, radius, 1));
        SphereNode* node = nodes_[nodes_.count() - 1];
        node->testCoverage(makeMetric(p, n), x.data(), counters_);
        return node;
    }

    // A node that has just measured distance d to a pattern, with the verdict that implies.
    SphereNode* nodeAtDistance(double d, double radius) {
        return testedNode({0.0}, radius, {d}, 1.0);
    }

    standin::Scope scope_;
    SphereNodeList nodes_;
    OpCounters counters_;
};

TEST_F(SphereNodeTest, DistanceAndCostFollowTheNorm) {
    struct Case {
        double p, distance;
        std::uint32_t flops, comparisons;
    };
    // Centre (0, 0) and pattern (3, 4).
    for (const Case& c : {Case{1.0, 7.0, 5, 1}, Case{2.0, 5.0, 8, 1}, Case{kInf, 4.0, 3, 3},
                          Case{3.0, std::cbrt(91.0), 8, 1}}) {
        counters_ = {};
        SphereNode* node = testedNode({0, 0}, 10, {3, 4}, c.p);
        EXPECT_NEAR(node->lastDistance, c.distance, 1e-12) << "p = " << c.p;
        EXPECT_EQ(node->inside, 1);
        EXPECT_EQ(counters_.flops, c.flops) << "p = " << c.p;
        EXPECT_EQ(counters_.comparisons, c.comparisons) << "p = " << c.p;
    }
}

// Where the sum of powers would overflow (squares of 1e200) or fall below the normal range
// (squares of 1e-200, or powers of 1e-7 at p = 50), the distance is still the Minkowski
// distance, at the same counted cost; a difference beyond the double range gives +Inf.
TEST_F(SphereNodeTest, DistanceNeitherOverflowsNorUnderflows) {
    const double maxDouble = std::numeric_limits<double>::max();
    struct Case {
        double p, unitDistance;  // the distance of (3, 4) from the origin
    };
    for (const Case& c :
         {Case{1.0, 7.0}, Case{2.0, 5.0}, Case{1.5, std::pow(std::pow(3.0, 1.5) + 8.0, 1.0 / 1.5)},
          Case{3.0, std::cbrt(91.0)}, Case{kInf, 4.0}}) {
        for (double s : {1e200, 1e-200}) {
            counters_ = {};
            SphereNode* node = testedNode({0, 0}, 10, {3 * s, 4 * s}, c.p);
            EXPECT_NEAR(node->lastDistance / s, c.unitDistance, 1e-12)
                << "p = " << c.p << ", s = " << s;
            EXPECT_EQ(counters_.flops, coverageCost(c.p, 2).flops);
        }
        EXPECT_EQ(testedNode({maxDouble, 0}, 10, {-maxDouble, 0}, c.p)->lastDistance, kInf) << c.p;
    }
    EXPECT_NEAR(testedNode({0, 0}, 1, {1e-7, 1e-7}, 50.0)->lastDistance / 1e-7, std::pow(2.0, 0.02),
                1e-15);
}

TEST_F(SphereNodeTest, NormJustAboveOneTakesTheGeneralFormula) {
    SphereNode* node = testedNode({0, 0}, 10, {3, 4}, 1.0000001);
    EXPECT_EQ(counters_.flops, 8u);
    EXPECT_EQ(node->lastDistance,
              std::pow(std::pow(3.0, 1.0000001) + std::pow(4.0, 1.0000001), 1.0 / 1.0000001));
}

TEST_F(SphereNodeTest, GeneralNormCallsPowEvenForTwo) {
    // Values where pow(t, 2) and t * t, or pow(s, 0.5) and sqrt(s), may part by an ulp: the
    // distance must be the library's pow every time.
    const double centre[3] = {0.1, -7.3, 1e-3};
    const double x[3] = {0.7, 2.9, -4.4};
    SphereNode* node = testedNode({centre, centre + 3}, 1, {x, x + 3}, 2.0);
    volatile double p = 2.0;  // keeps the compiler from folding pow(t, 2.0) into t * t
    double sum = 0;
    for (int i = 0; i < 3; ++i) sum += std::pow(std::fabs(centre[i] - x[i]), p);
    EXPECT_EQ(node->lastDistance, std::pow(sum, 1.0 / p));
}

TEST_F(SphereNodeTest, MaximumNormIgnoresNegativeZeroAndTies) {
    SphereNode* node = testedNode({1, 1, 1}, 0, {1, 1, 1}, kInf);
    EXPECT_EQ(node->lastDistance, 0.0);
    EXPECT_FALSE(std::signbit(node->lastDistance));
}

TEST_F(SphereNodeTest, NoCoordinatesMeansDistanceZero) {
    for (double p : {1.0, 2.0, kInf}) {
        SphereNode* node = testedNode({}, 0, {}, p);
        EXPECT_EQ(node->lastDistance, 0.0);
        EXPECT_EQ(node->inside, 1);
    }
}

TEST_F(SphereNodeTest, CoverageToleranceIsOneHundredMillionth) {
    EXPECT_EQ(testedNode({0}, 5, {5 + 0.5e-8}, 1.0)->inside, 1);
    EXPECT_EQ(testedNode({0}, 5, {5 + 2e-8}, 1.0)->inside, 0);
    // Radii below minus the tolerance never cover, not even the centre itself.
    EXPECT_EQ(testedNode({2}, -2e-8, {2}, 1.0)->inside, 0);
    EXPECT_EQ(testedNode({2}, -0.5e-8, {2}, 1.0)->inside, 1);
}

TEST_F(SphereNodeTest, ConflictInsideShrinksNodeAndOrCandidate) {
    struct Case {
        double d, margin, r;
        ConflictOutcome outcome;
        double radiusAfter, rAfter;
    };
    for (const Case& c : {Case{1, 0.2, 1, ConflictOutcome::BothShrunk, 0.4, 0.4},
                          Case{1, 0.2, 0.3, ConflictOutcome::NodeShrunk, 0.5, 0.3},
                          Case{1, 0.2, 0.4, ConflictOutcome::BothShrunk, 0.4, 0.4},
                          Case{0, 0.1, 1, ConflictOutcome::BothShrunk, -0.05, -0.05}}) {
        SphereNode* node = nodeAtDistance(c.d, 2);
        ASSERT_EQ(node->inside, 1);
        counters_ = {};
        double r = c.r;
        EXPECT_EQ(node->resolveConflict(c.margin, r, counters_), c.outcome) << "r = " << c.r;
        EXPECT_DOUBLE_EQ(node->radius, c.radiusAfter);
        EXPECT_DOUBLE_EQ(r, c.rAfter);
        EXPECT_EQ(counters_.flops, c.outcome == ConflictOutcome::BothShrunk ? 2u : 3u);
        EXPECT_EQ(counters_.comparisons, 1u);
    }
}

TEST_F(SphereNodeTest, ConflictOutsideShrinksOnlyTheCandidate) {
    SphereNode* node = nodeAtDistance(3, 1);
    ASSERT_EQ(node->inside, 0);
    counters_ = {};
    double r = 2;
    EXPECT_EQ(node->resolveConflict(0.5, r, counters_), ConflictOutcome::NewRadiusShrunk);
    EXPECT_DOUBLE_EQ(r, 1.5);
    EXPECT_EQ(node->radius, 1);
    EXPECT_EQ(counters_.flops, 3u);
    EXPECT_EQ(counters_.comparisons, 1u);
}

TEST_F(SphereNodeTest, ConflictAtExactGapChangesNothingAndCountsNothing) {
    SphereNode* node = nodeAtDistance(4, 1);
    counters_ = {};
    double r = 2.5;
    EXPECT_EQ(node->resolveConflict(0.5, r, counters_), ConflictOutcome::NoChange);
    EXPECT_EQ(r, 2.5);
    EXPECT_EQ(counters_.flops, 0u);
    EXPECT_EQ(counters_.comparisons, 0u);
}

TEST_F(SphereNodeTest, ConflictAddsRadiusAndMarginFirst) {
    // 0.1 + (0.2 + 0.3) is exactly 0.6, while (0.1 + 0.2) + 0.3 lies just above it.
    ASSERT_GT((0.1 + 0.2) + 0.3, 0.6);
    SphereNode* node = nodeAtDistance(0.6, 0.2);
    ASSERT_EQ(node->inside, 0);
    double r = 0.1;
    EXPECT_EQ(node->resolveConflict(0.3, r, counters_), ConflictOutcome::NoChange);
    EXPECT_EQ(r, 0.1);
}

// A call's counts and the running totals they are added to both wrap at 32 bits.
TEST_F(SphereNodeTest, CountersWrapAtThirtyTwoBits) {
    counters_ = {0xFFFFFFFEu, 0xFFFFFFFFu};
    testedNode({0, 0}, 1, {0, 0}, 2.0);
    EXPECT_EQ(counters_.flops, 6u);
    EXPECT_EQ(counters_.comparisons, 0u);
    setRunningTotals({0xFFFFFFF0u, 5u});
    {
        CallCounters call;
        call.counts = {0x20u, 0xFFFFFFFFu};
        const OpCounters totals = call.totals();
        EXPECT_EQ(totals.flops, 0x10u);
        EXPECT_EQ(totals.comparisons, 4u);
        call.counts.flops = 3;  // counted after the summary: added when the call ends
    }
    EXPECT_EQ(runningTotals().flops, 0x13u);
    EXPECT_EQ(runningTotals().comparisons, 4u);
}

TEST_F(SphereNodeTest, ExportRowWritesCentreThenRadius) {
    SphereNode* node = testedNode({1.5, -2, 3}, 0.25, {0, 0, 0}, 2.0);
    double row[4] = {};
    node->exportRow(3, row);
    EXPECT_EQ(std::vector<double>(row, row + 4), (std::vector<double>{1.5, -2, 3, 0.25}));
}

TEST(SphereNodeMemory, CreateFailsCleanlyWhenTheHeapIsExhausted) {
    const double centre[2] = {1, 2};
    for (long failing : {1, 2}) {
        standin::Scope scope({failing});
        EXPECT_EQ(SphereNode::create(centre, 2, 1, 1), nullptr) << "allocation " << failing;
        EXPECT_EQ(scope.finish().heapBlocksOutstanding, 0);
    }
}

}  // namespace
