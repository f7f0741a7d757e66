// The training procedure: stop rule, conflicts in node order, trace and summary text, and its
// behaviour when memory runs out or the user interrupts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <regex>
#include <string>

#include "learn_prototypes.h"
#include "test_support.h"
#include "work_pacer.h"

using namespace sphnet;
using testing_support::RowTable;
using testing_support::train;
using testing_support::Trained;
using testing_support::TrainingSetup;
using testing_support::withoutSeconds;

namespace {

class LearnPrototypesTest : public ::testing::Test {
  protected:
    void SetUp() override { setRunningTotals({}); }
};

// Two patterns one unit apart with different labels: the walk-through users see in the help.
const RowTable kTwoPatterns({{0, 0}, {1, 0}});
const std::vector<double> kTwoLabels{1, 2};

TrainingSetup walkThrough(int oflag) {
    TrainingSetup setup;
    setup.rMax = 10;
    setup.maxPresentations = 5;
    setup.oflag = oflag;
    return setup;
}

const char kWalkThroughSummary[] =
    "\nRCE training converged after 1 list presentation\n"
    "Training set contained 2 training patterns\n"
    "2 nodes created (50.000000% inflation)\n"
    "37 FLOPs and 6 comparisons in # seconds\n\n";

TEST_F(LearnPrototypesTest, WalkThroughShrinksTheFirstSphereAndConverges) {
    const Trained t = train(kTwoPatterns, kTwoLabels, walkThrough(0));
    ASSERT_EQ(t.status, ProcedureStatus::Done);
    ASSERT_EQ(t.nodes.size(), 2u);
    EXPECT_EQ(t.nodes[0], (std::vector<double>{0, 0, 0.5}));
    EXPECT_EQ(t.nodes[1], (std::vector<double>{1, 0, 0.5}));
    EXPECT_EQ(t.labels, (std::vector<double>{1, 2}));
    EXPECT_EQ(t.presentations, 1);
    EXPECT_EQ(t.host.console, "");
    EXPECT_EQ(runningTotals().flops, 37u);
    EXPECT_EQ(runningTotals().comparisons, 6u);
}

TEST_F(LearnPrototypesTest, WalkThroughTraceAtEachVerbosity) {
    EXPECT_EQ(withoutSeconds(train(kTwoPatterns, kTwoLabels, walkThrough(1)).host.console),
              kWalkThroughSummary);

    setRunningTotals({});
    const std::string level2 =
        "\nList presentation #1:\n"
        "   Pattern #1 created node #1 (label 1)"
        "   Pattern #2 created node #2 (label 2)"
        "\nList presentation #2:\n"
        "   Pattern #1 classified correctly by category #1 (both of label=1)\n"
        "   Pattern #2 classified correctly by category #2 (both of label=2)\n";
    EXPECT_EQ(withoutSeconds(train(kTwoPatterns, kTwoLabels, walkThrough(2)).host.console),
              level2 + kWalkThroughSummary);

    setRunningTotals({});
    const std::string level3 =
        "\nList presentation #1:\n"
        "      Pattern #1 is being presented\n"
        "   Pattern #1 created node #1 (label 1)"
        "      Pattern #2 is being presented\n"
        "   Pattern #2 (label 2) lies inside category #1 (label 1)\n"
        "      Category #1 and new node radius shrunk\n"
        "   Pattern #2 created node #2 (label 2)"
        "\nList presentation #2:\n"
        "      Pattern #1 is being presented\n"
        "   Pattern #1 classified correctly by category #1 (both of label=1)\n"
        "      Pattern #2 is being presented\n"
        "      New node radius shrunk\n"
        "   Pattern #2 classified correctly by category #2 (both of label=2)\n";
    EXPECT_EQ(withoutSeconds(train(kTwoPatterns, kTwoLabels, walkThrough(3)).host.console),
              level3 + kWalkThroughSummary);
}

TEST_F(LearnPrototypesTest, CountersRunOnAcrossCalls) {
    train(kTwoPatterns, kTwoLabels, walkThrough(0));
    const Trained second = train(kTwoPatterns, kTwoLabels, walkThrough(1));
    EXPECT_NE(second.host.console.find("74 FLOPs and 12 comparisons"), std::string::npos)
        << second.host.console;
}

TEST_F(LearnPrototypesTest, LevelThreeNamesEveryConflict) {
    // Pattern 3 first lowers its candidate radius against node 1 (outside), then lies inside
    // node 2 with a candidate below half the distance: only node 2 shrinks. Pattern 4 misses
    // node 1 of its own label before meeting foreign nodes.
    TrainingSetup setup;
    setup.rMax = 10;
    setup.maxPresentations = 1;
    setup.oflag = 3;
    const Trained t = train(RowTable({{0}, {21}, {12}, {30}}), {1, 3, 2, 1}, setup);
    ASSERT_EQ(t.nodes.size(), 4u);
    EXPECT_EQ(t.nodes[0][1], 10);
    EXPECT_EQ(t.nodes[1][1], 7);
    EXPECT_EQ(t.nodes[2][1], 2);
    EXPECT_EQ(t.nodes[3][1], 2);
    const std::string trace =
        "\nList presentation #1:\n"
        "      Pattern #1 is being presented\n"
        "   Pattern #1 created node #1 (label 1)"
        "      Pattern #2 is being presented\n"
        "   Pattern #2 created node #2 (label 3)"
        "      Pattern #3 is being presented\n"
        "      New node radius shrunk\n"
        "   Pattern #3 (label 2) lies inside category #2 (label 3)\n"
        "      Category #2 shrunk\n"
        "   Pattern #3 created node #3 (label 2)"
        "      Pattern #4 is being presented\n"
        "   Pattern #4 lies outside category #1 (both of label=1)\n"
        "      New node radius shrunk\n"
        "   Pattern #4 created node #4 (label 1)"
        "\nRCE training stopped after 1 list presentation\n";
    EXPECT_EQ(t.host.console.substr(0, trace.size()), trace);
}

TEST_F(LearnPrototypesTest, DuplicatePatternOfOneLabelMakesOneNode) {
    const Trained t = train(RowTable({{1, 1}, {1, 1}}), {3, 3}, TrainingSetup{});
    EXPECT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.presentations, 1);
}

// Two labels make two nodes: far apart they keep Rmax, on one point both shrink to radius zero.
TEST_F(LearnPrototypesTest, TwoLabelsKeepRmaxFarApartAndRadiusZeroOnOnePoint) {
    TrainingSetup apart, onePoint;
    apart.rMax = 1;
    apart.margin = 0.5;
    onePoint.rMax = 3;
    onePoint.maxPresentations = 4;
    const Trained far = train(RowTable({{0, 0}, {2.6, 0}}), {1, 2}, apart);
    const Trained same = train(RowTable({{2, 2}, {2, 2}}), {1, 2}, onePoint);
    ASSERT_EQ(far.nodes.size(), 2u);
    ASSERT_EQ(same.nodes.size(), 2u);
    EXPECT_EQ((std::vector<double>{far.nodes[0][2], far.nodes[1][2]}), (std::vector<double>{1, 1}));
    EXPECT_EQ((std::vector<double>{same.nodes[0][2], same.nodes[1][2]}),
              (std::vector<double>{0, 0}));
    EXPECT_EQ(same.presentations, 1);
}

TEST_F(LearnPrototypesTest, PassLimitStopsWithSingularLine) {
    TrainingSetup setup;
    setup.maxPresentations = 1;
    setup.oflag = 1;
    const Trained t = train(kTwoPatterns, kTwoLabels, setup);
    EXPECT_EQ(t.presentations, 1);
    EXPECT_EQ(t.host.console.rfind("\nRCE training stopped after 1 list presentation\n", 0), 0u)
        << t.host.console;
}

TEST_F(LearnPrototypesTest, PassLinesShowEachPassAtOnceAndConvergenceIsReported) {
    TrainingSetup setup = walkThrough(0);
    setup.passLines = true;
    const Trained converged = train(kTwoPatterns, kTwoLabels, setup);
    EXPECT_TRUE(converged.converged);
    const std::regex lines(
        "pass 1: 2 nodes, 2 patterns made a node, [0-9]+\\.[0-9]{2} s\n"
        "pass 2: 2 nodes, 0 patterns made a node, [0-9]+\\.[0-9]{2} s\n");
    EXPECT_TRUE(std::regex_match(converged.host.console, lines)) << converged.host.console;
    EXPECT_EQ(converged.host.consoleFlushes, 2);
    setup.maxPresentations = 1;
    const Trained stopped = train(kTwoPatterns, kTwoLabels, setup);
    EXPECT_FALSE(stopped.converged);
    EXPECT_EQ(stopped.host.consoleFlushes, 1);
}

TEST_F(LearnPrototypesTest, NonWholeLabelRunsToThePassLimit) {
    TrainingSetup setup;
    setup.maxPresentations = 4;
    setup.oflag = 1;
    const Trained t = train(RowTable({{0, 0}}), {1.7}, setup);
    // Its node is labelled 1, which never equals 1.7: one new node on every pass.
    EXPECT_EQ(t.nodes.size(), 4u);
    EXPECT_EQ(t.labels, (std::vector<double>{1, 1, 1, 1}));
    EXPECT_EQ(t.presentations, 4);
    EXPECT_NE(t.host.console.find("stopped after 4 list presentations\n"), std::string::npos);
}

TEST_F(LearnPrototypesTest, SameLabelCoverEndsTheScanBeforeLaterForeignNodes) {
    // Nodes 1 and 2 touch at 1, where pattern 3 lies: node 1 of its own label classifies it,
    // so node 2 keeps its radius although it covers the pattern too.
    TrainingSetup setup;
    setup.rMax = 1;
    const Trained t = train(RowTable({{0}, {2}, {1}}), {1, 2, 1}, setup);
    ASSERT_EQ(t.nodes.size(), 2u);
    EXPECT_EQ(t.nodes[0][1], 1);
    EXPECT_EQ(t.nodes[1][1], 1);
    EXPECT_EQ(t.presentations, 1);
}

TEST_F(LearnPrototypesTest, SphereGrownWithinTheToleranceCoversAnEarlierPatternNextPass) {
    // In units of 1e-8, the coverage tolerance: C (label 3) at 5, A (label 1) at 6.2 with
    // radius 0.5, y (label 1) at 8.2, just outside A. Then x (label 2) lands on C's centre: C
    // and r shrink to 0, and A, which holds x within the tolerance, takes radius 1.2 - 0:
    // it grows, and on the next pass it, not y's own later node, classifies y. A scan that
    // relied on what it saw of y in the first pass would miss that.
    const double u = 1e-8;
    TrainingSetup setup;
    setup.rMax = 0.5 * u;
    setup.maxPresentations = 2;
    setup.oflag = 2;
    const Trained t =
        train(RowTable({{5 * u}, {6.2 * u}, {8.2 * u}, {5 * u}}), {3, 1, 1, 2}, setup);
    ASSERT_EQ(t.status, ProcedureStatus::Done);
    ASSERT_EQ(t.nodes.size(), 4u);
    EXPECT_DOUBLE_EQ(t.nodes[1][1], 1.2 * u);
    const std::string pass2 = t.host.console.substr(t.host.console.find("List presentation #2"));
    EXPECT_NE(pass2.find("Pattern #3 classified correctly by category #2 (both of label=1)"),
              std::string::npos)
        << pass2;
}

TEST_F(LearnPrototypesTest, SummaryPluralAndCompression) {
    TrainingSetup setup;
    setup.rMax = 100;
    setup.oflag = 1;
    // Ten one-dimensional patterns of one label: one node with two values, 80 % compression.
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 10; ++i) rows.push_back({static_cast<double>(i)});
    const Trained t = train(RowTable(rows), std::vector<double>(10, 1), setup);
    EXPECT_NE(t.host.console.find("1 node created (80.000000% compression)\n"), std::string::npos)
        << t.host.console;
    EXPECT_NE(t.host.console.find("converged after 1 list presentation\n"), std::string::npos);
}

TEST_F(LearnPrototypesTest, EmptyTrainingSetPrintsAFiniteFigure) {
    TrainingSetup setup;
    setup.oflag = 1;
    const Trained t = train(RowTable({}), {}, setup, 3);
    ASSERT_EQ(t.status, ProcedureStatus::Done);
    EXPECT_TRUE(t.nodes.empty());
    EXPECT_EQ(t.presentations, 0);
    EXPECT_NE(t.host.console.find("0 nodes created (0.000000% compression)\n"), std::string::npos)
        << t.host.console;
}

TEST_F(LearnPrototypesTest, PatternsWithoutCoordinatesPrintAFiniteFigure) {
    TrainingSetup setup;
    setup.oflag = 1;
    const Trained t = train(RowTable({{}, {}}), {1, 1}, setup, 0);
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_NE(t.host.console.find("1 node created (0.000000% compression)\n"), std::string::npos)
        << t.host.console;
}

TEST_F(LearnPrototypesTest, EveryAllocationFailureEndsCleanly) {
    // Enough nodes, in every norm, for the grid lists, the tiles and their filter to grow.
    std::vector<std::vector<double>> rows;
    std::vector<double> labels;
    for (int i = 0; i < 90; ++i) {
        rows.push_back({static_cast<double>(i % 9), static_cast<double>(i / 9)});
        labels.push_back(1 + i % 3);
    }
    const RowTable patterns(rows);
    for (double p : {2.0, 1.0, std::numeric_limits<double>::infinity(), 1.5}) {
        TrainingSetup setup;
        setup.p = p;
        setup.rMax = 2;
        setup.margin = 0.1;
        const Trained clean = train(patterns, labels, setup);
        ASSERT_EQ(clean.status, ProcedureStatus::Done);
        ASSERT_GT(clean.nodes.size(), 64u) << "p = " << p;
        for (long k = 1; k <= clean.host.allocationAttempts; ++k) {
            setup.host.failAllocation = k;
            const Trained t = train(patterns, labels, setup);
            EXPECT_EQ(t.status, ProcedureStatus::OutOfMemory)
                << "allocation " << k << ", p = " << p;
            EXPECT_EQ(t.host.heapBlocksOutstanding, 0) << "allocation " << k << ", p = " << p;
            EXPECT_EQ(t.host.hostBlocksReclaimed, 0) << "allocation " << k << ", p = " << p;
            EXPECT_TRUE(t.host.faults.empty()) << "allocation " << k << ", p = " << p;
        }
    }
}

TEST_F(LearnPrototypesTest, InterruptBetweenPatternsReleasesEverything) {
    TrainingSetup setup;
    setup.maxPresentations = std::numeric_limits<int>::max();
    setup.host.interruptAfterPolls = 7;
    // A non-whole label never converges: only the interrupt ends this run.
    const Trained t = train(RowTable({{0}, {1}}), {1.5, 2.5}, setup);
    EXPECT_EQ(t.status, ProcedureStatus::Interrupted);
    EXPECT_EQ(t.host.interruptPolls, 8);
    EXPECT_EQ(t.host.heapBlocksOutstanding, 0);
    EXPECT_EQ(t.host.hostBlocksReclaimed, 0);
}

// 2000 random patterns in 16 dimensions, labels alternating and Rmax so small that every
// pattern makes a node: pattern k scans k nodes (16k terms), and a run takes 3.2e7 terms a
// pass. With the budget lowered to 4096 terms, the scans at the interrupt below are some 11000
// terms long: polling only between patterns, some stretch between two polls would hold a
// whole scan. The run must stop after at most a budget and a piece of work per poll.
TEST_F(LearnPrototypesTest, InterruptStopsALongTrainingWithinAScan) {
    constexpr int kCount = 2000;
    constexpr int kWidth = 16;
    constexpr std::uint64_t kBudget = 4096;
    constexpr long kPolls = 1000;
    std::mt19937 random(99);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    std::vector<std::vector<double>> rows(kCount);
    std::vector<double> labels(kCount);
    for (int k = 0; k < kCount; ++k) {
        for (int i = 0; i < kWidth; ++i) rows[static_cast<std::size_t>(k)].push_back(value(random));
        labels[static_cast<std::size_t>(k)] = 1 + k % 2;
    }
    const RowTable patterns(rows);
    struct Case {
        double p;
        int oflag;
    };
    // p = 1 and +Inf scan tiles, p = 2 the grid lists, oflag 3 the literal nodes (a line of
    // trace per node tested counts as kTermsPerTraceLine terms).
    for (const Case c : {Case{1.0, 0}, Case{std::numeric_limits<double>::infinity(), 1},
                         Case{2.0, 0}, Case{2.0, 3}}) {
        const std::string what =
            "p = " + std::to_string(c.p) + ", oflag " + std::to_string(c.oflag);
        TrainingSetup setup;
        setup.p = c.p;
        setup.rMax = 1e-3;
        setup.oflag = c.oflag;
        setup.maxPresentations = 10;
        setup.host.interruptAfterPolls = kPolls;
        setup.pollBudget = kBudget;
        setRunningTotals({});
        const Trained t = train(patterns, labels, setup);
        EXPECT_EQ(t.status, ProcedureStatus::Interrupted) << what;
        EXPECT_EQ(t.host.interruptPolls, kPolls + 1) << what;
        EXPECT_EQ(t.host.heapBlocksOutstanding, 0) << what;
        EXPECT_EQ(t.host.hostBlocksReclaimed, 0) << what;
        EXPECT_TRUE(t.host.faults.empty()) << what;
        EXPECT_EQ(t.pacing.polls, static_cast<std::uint64_t>(kPolls) + 1) << what;
        // The coverage tests made, in terms: at most what the pacer counted, which is at most
        // a budget and a piece (an eighth of the budget, or one node's terms, and a pattern's
        // trace line) per poll.
        const std::uint64_t perTest = coverageCost(c.p, kWidth).comparisons;
        const std::uint64_t tests = runningTotals().comparisons / perTest;
        const std::uint64_t perNode = kWidth + (c.oflag >= 3 ? kTermsPerTraceLine : 0);
        const std::uint64_t stretch =
            kBudget + std::max(kBudget / 8, perNode) + 1 + (c.oflag >= 2 ? kTermsPerTraceLine : 0);
        EXPECT_LE(tests * kWidth, t.pacing.callingThreadTerms) << what;
        EXPECT_GE(t.pacing.callingThreadTerms, kPolls * kBudget) << what;
        // Still in the first pass, pattern k having scanned k nodes: by the stop, scans were
        // longer than twice the longest stretch, which only polls within scans allow.
        const auto patternsDone =
            static_cast<std::uint64_t>(std::sqrt(2.0 * static_cast<double>(tests)));
        ASSERT_LT(patternsDone, static_cast<std::uint64_t>(kCount)) << what;
        EXPECT_GT(patternsDone * perNode, 2 * stretch) << what;
        if (c.p == 2.0 && c.oflag < 3) {
            // The grid lists skip runs of nodes that cannot matter at no cost, yet the pacer
            // counts each run, as the plain scan's tests, once the scan has passed it: a stretch
            // may then hold up to a whole scan's worth of terms, though little real work.
            EXPECT_LE(t.pacing.callingThreadTerms, (kPolls + 1) * (stretch + kCount * perNode))
                << what;
        } else {
            EXPECT_LE(t.pacing.longestStretch, stretch) << what;
            EXPECT_LE(t.pacing.callingThreadTerms, (kPolls + 1) * stretch) << what;
        }
    }
}

}  // namespace
