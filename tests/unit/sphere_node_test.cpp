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
    void SetUp() override { opCounters = {}; }

    // A node at `centre` after testing it against `x` under norm p.
    SphereNode* testedNode(std::vector<double> centre, double radius, std::vector<double> x,
                           double p, double margin = 0) {
        configureNodeSettings(p, static_cast<int>(centre.size()), margin);
        SphereNode* node = SphereNode::create(centre.data(), radius, 1);
        node->testCoverage(x.data());
        nodes_.push_back(node);
        return node;
    }

    // A node that has just measured distance d to a pattern, with the verdict that implies.
    SphereNode* nodeAtDistance(double d, double radius, double margin) {
        return testedNode({0.0}, radius, {d}, 1.0, margin);
    }

    void TearDown() override {
        for (SphereNode* node : nodes_) SphereNode::destroy(node);
    }

    standin::Scope scope_;
    std::vector<SphereNode*> nodes_;
};

TEST_F(SphereNodeTest, DistanceAndCostFollowTheNorm) {
    struct Case {
        double p, distance;
        std::uint32_t flops, comparisons;
    };
    // Centre (0, 0) and pattern (3, 4).
    for (const Case& c : {Case{1.0, 7.0, 5, 1}, Case{2.0, 5.0, 8, 1}, Case{kInf, 4.0, 3, 3},
                          Case{3.0, std::cbrt(91.0), 8, 1}}) {
        opCounters = {};
        SphereNode* node = testedNode({0, 0}, 10, {3, 4}, c.p);
        EXPECT_NEAR(node->lastDistance, c.distance, 1e-12) << "p = " << c.p;
        EXPECT_EQ(node->inside, 1);
        EXPECT_EQ(opCounters.flops, c.flops) << "p = " << c.p;
        EXPECT_EQ(opCounters.comparisons, c.comparisons) << "p = " << c.p;
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
            opCounters = {};
            SphereNode* node = testedNode({0, 0}, 10, {3 * s, 4 * s}, c.p);
            EXPECT_NEAR(node->lastDistance / s, c.unitDistance, 1e-12)
                << "p = " << c.p << ", s = " << s;
            EXPECT_EQ(opCounters.flops, coverageCost(c.p, 2).flops);
        }
        EXPECT_EQ(testedNode({maxDouble, 0}, 10, {-maxDouble, 0}, c.p)->lastDistance, kInf) << c.p;
    }
    EXPECT_NEAR(testedNode({0, 0}, 1, {1e-7, 1e-7}, 50.0)->lastDistance / 1e-7, std::pow(2.0, 0.02),
                1e-15);
}

TEST_F(SphereNodeTest, NormJustAboveOneTakesTheGeneralFormula) {
    SphereNode* node = testedNode({0, 0}, 10, {3, 4}, 1.0000001);
    EXPECT_EQ(opCounters.flops, 8u);
    EXPECT_EQ(node->lastDistance,
              std::pow(std::pow(3.0, 1.0000001) + std::pow(4.0, 1.0000001), 1.0 / 1.0000001));
}

TEST_F(SphereNodeTest, GeneralNormCallsPowEvenForTwo) {
    // Values where pow(t, 2) and t * t, or pow(s, 0.5) and sqrt(s), may part by an ulp: the
    // distance must be the library's pow every time.
    configureNodeSettings(2.0, 3, 0);
    const double centre[3] = {0.1, -7.3, 1e-3};
    const double x[3] = {0.7, 2.9, -4.4};
    SphereNode* node = SphereNode::create(centre, 1, 1);
    nodes_.push_back(node);
    node->testCoverage(x);
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
        SphereNode* node = nodeAtDistance(c.d, 2, c.margin);
        ASSERT_EQ(node->inside, 1);
        opCounters = {};
        double r = c.r;
        EXPECT_EQ(node->resolveConflict(r), c.outcome) << "r = " << c.r;
        EXPECT_DOUBLE_EQ(node->radius, c.radiusAfter);
        EXPECT_DOUBLE_EQ(r, c.rAfter);
        EXPECT_EQ(opCounters.flops, c.outcome == ConflictOutcome::BothShrunk ? 2u : 3u);
        EXPECT_EQ(opCounters.comparisons, 1u);
    }
}

TEST_F(SphereNodeTest, ConflictOutsideShrinksOnlyTheCandidate) {
    SphereNode* node = nodeAtDistance(3, 1, 0.5);
    ASSERT_EQ(node->inside, 0);
    opCounters = {};
    double r = 2;
    EXPECT_EQ(node->resolveConflict(r), ConflictOutcome::NewRadiusShrunk);
    EXPECT_DOUBLE_EQ(r, 1.5);
    EXPECT_EQ(node->radius, 1);
    EXPECT_EQ(opCounters.flops, 3u);
    EXPECT_EQ(opCounters.comparisons, 1u);
}

TEST_F(SphereNodeTest, ConflictAtExactGapChangesNothingAndCountsNothing) {
    SphereNode* node = nodeAtDistance(4, 1, 0.5);
    opCounters = {};
    double r = 2.5;
    EXPECT_EQ(node->resolveConflict(r), ConflictOutcome::NoChange);
    EXPECT_EQ(r, 2.5);
    EXPECT_EQ(opCounters.flops, 0u);
    EXPECT_EQ(opCounters.comparisons, 0u);
}

TEST_F(SphereNodeTest, ConflictAddsRadiusAndMarginFirst) {
    // 0.1 + (0.2 + 0.3) is exactly 0.6, while (0.1 + 0.2) + 0.3 lies just above it.
    ASSERT_GT((0.1 + 0.2) + 0.3, 0.6);
    SphereNode* node = nodeAtDistance(0.6, 0.2, 0.3);
    ASSERT_EQ(node->inside, 0);
    double r = 0.1;
    EXPECT_EQ(node->resolveConflict(r), ConflictOutcome::NoChange);
    EXPECT_EQ(r, 0.1);
}

TEST_F(SphereNodeTest, CountersWrapAtThirtyTwoBits) {
    opCounters.flops = 0xFFFFFFFEu;
    opCounters.comparisons = 0xFFFFFFFFu;
    testedNode({0, 0}, 1, {0, 0}, 2.0);
    EXPECT_EQ(opCounters.flops, 6u);
    EXPECT_EQ(opCounters.comparisons, 0u);
}

TEST_F(SphereNodeTest, ExportRowWritesCentreThenRadius) {
    SphereNode* node = testedNode({1.5, -2, 3}, 0.25, {0, 0, 0}, 2.0);
    double row[4] = {};
    node->exportRow(row);
    EXPECT_EQ(std::vector<double>(row, row + 4), (std::vector<double>{1.5, -2, 3, 0.25}));
}

TEST(SphereNodeMemory, CreateFailsCleanlyWhenTheHeapIsExhausted) {
    configureNodeSettings(2.0, 2, 0);
    const double centre[2] = {1, 2};
    for (long failing : {1, 2}) {
        standin::Scope scope({failing});
        EXPECT_EQ(SphereNode::create(centre, 1, 1), nullptr) << "allocation " << failing;
        EXPECT_EQ(scope.finish().heapBlocksOutstanding, 0);
    }
}

}  // namespace
