// The recall procedure: which node decides, the 1-NN and unknown-label fallbacks, the trace and
// summary text, what the host's FLOP tally receives, and clean endings on failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "classify_patterns.h"
#include "sphere_node.h"
#include "test_support.h"
#include "work_pacer.h"

using namespace sphnet;
using testing_support::RowTable;
using testing_support::withoutSeconds;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Recalled {
    ProcedureStatus status = ProcedureStatus::Done;
    std::vector<double> labels;
    PacingTally pacing;
    standin::CallResult host;
};

struct RecallSetup {
    double p = 2.0;
    int unknownLabel = -1;
    int nnOption = 0;
    int oflag = 0;
    standin::CallOptions host;
};

// Runs classifyPatterns on template rows (centre, then radius) the way the entry point does.
Recalled classify(const RowTable& templates, const std::vector<double>& nodeLabels,
                  const RowTable& patterns, const RecallSetup& setup, int dimension = -1) {
    standin::Scope scope(setup.host);
    RecallInput in;
    in.nodeCount = templates.count();
    in.dimension = dimension >= 0 ? dimension : patterns.width();
    in.templates = templates.rows();
    in.nodeLabels = nodeLabels.data();
    in.normType = setup.p;
    in.patternCount = patterns.count();
    in.patterns = patterns.rows();
    in.unknownLabel = setup.unknownLabel;
    in.nnOption = setup.nnOption;
    in.oflag = setup.oflag;
    sphnet::HostBlock<double> results;
    Recalled r;
    RecallPaths paths;
    r.status = classifyPatterns(in, results, nullptr, &paths);
    r.pacing = paths.pacing;
    if (r.status == ProcedureStatus::Done) {
        r.labels.assign(results.get(), results.get() + in.patternCount);
    }
    r.host = scope.finish();
    return r;
}

// One-coordinate patterns, one per value.
RowTable points(const std::vector<double>& values) {
    std::vector<std::vector<double>> rows;
    for (double v : values) rows.push_back({v});
    return RowTable(rows);
}

class ClassifyPatternsTest : public ::testing::Test {
  protected:
    void SetUp() override { setRunningTotals({}); }
};

// Centres (0, 0) label 1 and (0.5, 0) label 2 with the given radius.
RowTable overlappingPair(double radius) {
    return RowTable({{0, 0, radius}, {0.5, 0, radius}});
}

// Without the 1-NN rule the first covering node decides and nothing votes; with it, an uncovered
// pattern takes the nearest centre, the earlier node on ties.
TEST_F(ClassifyPatternsTest, FirstCoveringNodeDecidesElseTheNearestCentre) {
    struct Case {
        const char* what;
        int nnOption;
        RowTable templates;
        std::vector<double> labels;
        RowTable patterns;
        std::vector<double> expected;
    };
    const RowTable between({{0.25, 0}});
    const Case cases[] = {
        {"label 1 first", 0, overlappingPair(1), {1, 2}, between, {1}},
        {"label 2 first", 0, RowTable({{0.5, 0, 1}, {0, 0, 1}}), {2, 1}, between, {2}},
        // Two nodes of label 3 behind the first do not outvote it.
        {"outvoted", 0, RowTable({{0, 0, 1}, {0.5, 0, 1}, {0.4, 0, 1}}), {1, 3, 3}, between, {1}},
        // A node that misses comes before the one that covers.
        {"first misses", 0, RowTable({{9, 9, 1}, {0.5, 0, 1}}), {4, 5}, between, {5}},
        {"equidistant", 1, overlappingPair(0.1), {1, 2}, between, {1}},
        {"equidistant, reversed", 1, RowTable({{0.5, 0, 0.1}, {0, 0, 0.1}}), {2, 1}, between, {2}},
        // Centre 3 away with radius 2.9 against centre 2.5 away with radius 0.1: the nearer
        // surface belongs to the first, the nearer centre to the second.
        {"centre beats surface", 1, RowTable({{3, 2.9}, {-2.5, 0.1}}), {7, 8}, points({0}), {8}},
        // A strictly nearer later node replaces an earlier best more than once.
        {"last", 1, RowTable({{10, 0}, {6, 0}, {-5, 0}, {4, 0}}), {1, 2, 3, 4}, points({0}), {4}},
    };
    for (const Case& c : cases) {
        RecallSetup setup;
        setup.nnOption = c.nnOption;
        const Recalled r = classify(c.templates, c.labels, c.patterns, setup);
        ASSERT_EQ(r.status, ProcedureStatus::Done) << c.what;
        EXPECT_EQ(r.labels, c.expected) << c.what;
    }
}

TEST_F(ClassifyPatternsTest, NegativeRadiusNeverCoversButCanBeNearest) {
    // Training leaves radius -0.05 when the same point carries two labels.
    const RowTable templates({{2, -0.05}, {9, 1}});
    RecallSetup setup;
    setup.unknownLabel = 0;
    EXPECT_EQ(classify(templates, {5, 6}, points({2}), setup).labels, std::vector<double>{0});
    setup.nnOption = 1;
    EXPECT_EQ(classify(templates, {5, 6}, points({2}), setup).labels, std::vector<double>{5});
    // Within the coverage tolerance a slightly negative radius still covers its centre.
    setup.nnOption = 0;
    EXPECT_EQ(classify(RowTable({{2, -0.5e-8}}), {5}, points({2}), setup).labels,
              std::vector<double>{5});
}

TEST_F(ClassifyPatternsTest, NodeLabelsTruncateTowardZero) {
    const Recalled r =
        classify(RowTable({{0, 1}, {5, 1}}), {-1.9, 2.7}, RowTable({{0}, {5}}), RecallSetup{});
    EXPECT_EQ(r.labels, (std::vector<double>{-1, 2}));
}

TEST_F(ClassifyPatternsTest, SummaryCountsTheFallbacks) {
    const RowTable templates = overlappingPair(0.1);
    // Pattern 3 lies outside both spheres, nearer to the second centre.
    const RowTable patterns({{0, 0}, {0.5, 0}, {0.5, 3}, {0.05, 0}});
    struct Case {
        int nnOption;
        std::vector<double> labels;
        std::string fallbackLine;
    };
    const Case cases[] = {
        {0, {1, 2, -1, 1}, "unable to classify 1 patterns (25.000000%)\n"},
        {1, {1, 2, 2, 1}, "Classified 1 patterns using 1-NN rule (25.000000%)\n"},
    };
    for (const Case& c : cases) {
        setRunningTotals({100, 10});
        RecallSetup setup;
        setup.nnOption = c.nnOption;
        setup.oflag = 1;
        const Recalled r = classify(templates, {1, 2}, patterns, setup);
        EXPECT_EQ(r.labels, c.labels);
        // Six coverage tests at 8 FLOPs and one comparison, added to the running counters.
        EXPECT_EQ(withoutSeconds(r.host.console),
                  "\nRCE performance phase summary\n" + c.fallbackLine +
                      "148 FLOPs and 16 comparisons in # seconds\n\n");
    }
}

TEST_F(ClassifyPatternsTest, SummaryWithoutFallbacksHasOnlyTheHeadingAndCounts) {
    RecallSetup setup;
    setup.oflag = 1;
    setup.nnOption = 1;
    const Recalled r =
        classify(overlappingPair(1), {1, 2}, RowTable({{0, 0}, {0.5, 0}, {1.4, 0}}), setup);
    EXPECT_EQ(r.labels, (std::vector<double>{1, 1, 2}));
    EXPECT_EQ(withoutSeconds(r.host.console),
              "\nRCE performance phase summary\n32 FLOPs and 4 comparisons in # seconds\n\n");
}

TEST_F(ClassifyPatternsTest, EveryFallbackOfManyIsCounted) {
    RecallSetup setup;
    setup.oflag = 1;
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 8; ++i) rows.push_back({static_cast<double>(i)});
    // Patterns 0..7 against a sphere around 0 of radius 2: five of eight fall back.
    const Recalled r = classify(RowTable({{0, 2}}), {1}, RowTable(rows), setup);
    EXPECT_NE(r.host.console.find("unable to classify 5 patterns (62.500000%)\n"),
              std::string::npos)
        << r.host.console;
}

TEST_F(ClassifyPatternsTest, TraceAtLevelsTwoAndThree) {
    const RowTable templates = overlappingPair(0.1);
    const RowTable patterns({{0, 0}, {0.5, 3}});
    RecallSetup setup;
    setup.oflag = 2;
    setup.unknownLabel = -4;
    EXPECT_EQ(withoutSeconds(classify(templates, {1, 2}, patterns, setup).host.console),
              "\nList presentation of 2 patterns:\n"
              "   Pattern 1 inside node #1 (label 1)\n"
              "   Pattern 2 could not be classified (label -4).\n"
              "\nRCE performance phase summary\n"
              "unable to classify 1 patterns (50.000000%)\n"
              "24 FLOPs and 3 comparisons in # seconds\n\n");

    setRunningTotals({});
    setup.oflag = 3;
    setup.nnOption = 1;
    EXPECT_EQ(withoutSeconds(classify(templates, {1, 2}, patterns, setup).host.console),
              "\nList presentation of 2 patterns:\n"
              "      Pattern #1 is being presented\n"
              "   Pattern 1 inside node #1 (label 1)\n"
              "      Pattern #2 is being presented\n"
              "   Pattern 2 chose node #2 (label 2) via 1-NN rule\n"
              "\nRCE performance phase summary\n"
              "Classified 1 patterns using 1-NN rule (50.000000%)\n"
              "24 FLOPs and 3 comparisons in # seconds\n\n");
}

TEST_F(ClassifyPatternsTest, QuietRunPrintsNothing) {
    const Recalled r = classify(overlappingPair(0.1), {1, 2}, RowTable({{0.5, 3}}), RecallSetup{});
    EXPECT_EQ(r.host.console, "");
}

TEST_F(ClassifyPatternsTest, HostTallyGetsThisCallsFlopsOnly) {
    const RowTable templates = overlappingPair(0.1);
    const RowTable patterns({{0, 0}, {0.5, 3}});  // 1 test, then 2 tests
    struct Case {
        double p;
        std::uint32_t flopsBefore;
        double tally;
    };
    // p = 1: 5 FLOPs per test; p = Inf: 3; p = 2: 8. The last case wraps the counter.
    for (const Case& c : {Case{1.0, 0, 15}, Case{kInf, 1000, 9}, Case{2.0, 0xFFFFFFF0u, 24}}) {
        setRunningTotals({c.flopsBefore, 0});
        RecallSetup setup;
        setup.p = c.p;
        const Recalled r = classify(templates, {1, 2}, patterns, setup);
        EXPECT_EQ(r.host.flopsTally, c.tally) << "p = " << c.p;
        // In 32-bit arithmetic, which wraps; a double past 2^32 has no defined conversion.
        EXPECT_EQ(runningTotals().flops, c.flopsBefore + static_cast<std::uint32_t>(c.tally));
    }
}

TEST_F(ClassifyPatternsTest, NearestNodeRuleComputesNoDistancesOfItsOwn) {
    // An uncovered pattern costs one test per node, whether it falls back to 1-NN or not; a
    // covered one stops at its cover.
    const RowTable templates({{0, 1}, {5, 1}, {10, 1}});
    for (int nn : {0, 1}) {
        setRunningTotals({});
        RecallSetup setup;
        setup.nnOption = nn;
        classify(templates, {1, 2, 3}, RowTable({{20}, {5}}), setup);
        // p = 2, n = 1: 5 FLOPs a test; 3 tests for the first pattern, 2 for the second.
        EXPECT_EQ(runningTotals().flops, 25u) << nn;
        EXPECT_EQ(runningTotals().comparisons, 5u) << nn;
    }
}

TEST_F(ClassifyPatternsTest, NoNodesGiveTheUnknownLabelWithEitherOption) {
    for (int nn : {0, 1}) {
        RecallSetup setup;
        setup.nnOption = nn;
        setup.unknownLabel = 3;
        setup.oflag = 2;
        const Recalled r = classify(RowTable({}), {}, RowTable({{1, 1}, {2, 2}}), setup);
        ASSERT_EQ(r.status, ProcedureStatus::Done);
        EXPECT_EQ(r.labels, (std::vector<double>{3, 3})) << nn;
        EXPECT_NE(r.host.console.find("   Pattern 2 could not be classified (label 3).\n"),
                  std::string::npos)
            << r.host.console;
        EXPECT_NE(r.host.console.find("unable to classify 2 patterns (100.000000%)\n"),
                  std::string::npos)
            << r.host.console;
    }
}

TEST_F(ClassifyPatternsTest, EarlierCallsLeaveNoTrace) {
    // Each call takes its norm and dimension from its input: a run in another norm and
    // dimension first must not change the answer.
    const RowTable templates({{0, 0, 1.2}, {3, 0, 1}});
    const RowTable patterns({{1, 0.5}, {2.2, 0}, {1.5, 1.5}});
    RecallSetup setup;
    setup.nnOption = 1;
    const Recalled first = classify(templates, {1, 2}, patterns, setup);
    RecallSetup other;
    other.p = 1;
    classify(RowTable({{0, 0, 0, 0.5}}), {9}, RowTable({{1, 1, 1}}), other);
    const Recalled second = classify(templates, {1, 2}, patterns, setup);
    EXPECT_EQ(first.labels, second.labels);
    EXPECT_EQ(first.labels, (std::vector<double>{1, 2, 1}));
}

TEST_F(ClassifyPatternsTest, EveryAllocationFailureLeavesNothingBehind) {
    const RowTable templates({{0, 0, 1}, {2, 0, 0.5}, {5, 5, 2}});
    const RowTable patterns({{0, 0}, {9, 9}, {2, 0.1}});
    // p = 1 and +Inf keep their nodes in tiles as well.
    for (double p : {2.0, 1.0, std::numeric_limits<double>::infinity()}) {
        RecallSetup setup;
        setup.p = p;
        setup.nnOption = 1;
        setup.oflag = 1;
        const Recalled clean = classify(templates, {1, 2, 3}, patterns, setup);
        ASSERT_EQ(clean.status, ProcedureStatus::Done);
        // At least the node storage and the results vector.
        ASSERT_GE(clean.host.allocationAttempts, 2);
        for (long k = 1; k <= clean.host.allocationAttempts; ++k) {
            setup.host.failAllocation = k;
            const Recalled r = classify(templates, {1, 2, 3}, patterns, setup);
            EXPECT_EQ(r.status, ProcedureStatus::OutOfMemory)
                << "allocation " << k << ", p = " << p;
            EXPECT_EQ(r.host.heapBlocksOutstanding, 0) << "allocation " << k << ", p = " << p;
            EXPECT_EQ(r.host.hostBlocksReclaimed, 0) << "allocation " << k << ", p = " << p;
            EXPECT_TRUE(r.host.faults.empty()) << "allocation " << k << ", p = " << p;
            EXPECT_EQ(r.host.console, "") << "allocation " << k << ", p = " << p;
        }
    }
}

TEST_F(ClassifyPatternsTest, InterruptReleasesEverything) {
    // A small recall polls before it starts and after its one sub-chunk.
    for (long polls : {0L, 1L}) {
        RecallSetup setup;
        setup.host.interruptAfterPolls = polls;
        setup.oflag = 1;
        const Recalled r =
            classify(overlappingPair(1), {1, 2}, RowTable({{0, 0}, {1, 0}, {2, 0}, {3, 0}}), setup);
        EXPECT_EQ(r.status, ProcedureStatus::Interrupted) << polls;
        EXPECT_EQ(r.host.interruptPolls, polls + 1) << polls;
        EXPECT_EQ(r.host.heapBlocksOutstanding, 0) << polls;
        EXPECT_EQ(r.host.hostBlocksReclaimed, 0) << polls;
        EXPECT_TRUE(r.host.faults.empty()) << polls;
        EXPECT_EQ(r.host.flopsTally, 0) << polls;
        EXPECT_EQ(r.host.console.find("summary"), std::string::npos) << polls;
    }
}

// Random rows of `width` values; the last one is `last` when given.
RowTable randomRows(int count, int width, std::mt19937& random, double last = kInf) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(count));
    for (auto& row : rows) {
        for (int i = 0; i < width; ++i) row.push_back(value(random));
        if (last != kInf) row.back() = last;
    }
    return RowTable(rows);
}

// 4000 nodes in 64 dimensions, so small that no pattern is covered: every pattern is tested
// against every node and then takes the 1-NN label, 4000 * 64 terms of work each. Whole runs
// would take 10^9 terms and more; an interrupt after a few polls must end them after a few
// budgets of work (2^20 terms), counted by the pacer and by the coverage tests alike.
TEST_F(ClassifyPatternsTest, InterruptStopsALongRecallAfterBoundedWork) {
    constexpr int kNodes = 4000;
    constexpr int kWidth = 64;
    constexpr std::uint64_t kPerPattern = std::uint64_t{kNodes} * kWidth;
    std::mt19937 random(2024);
    const RowTable templates = randomRows(kNodes, kWidth + 1, random, 1e-6);
    std::vector<double> labels(kNodes);
    for (int j = 0; j < kNodes; ++j) labels[static_cast<std::size_t>(j)] = j % 7;
    // Below 4096 patterns recall runs on the calling thread alone; above, on two threads when
    // the machine has two cores.
    const bool twoCores = std::thread::hardware_concurrency() >= 2;
    for (int patternCount : {4000, 20000}) {
        const RowTable patterns = randomRows(patternCount, kWidth, random);
        const bool threaded = patternCount >= 4096 && twoCores;
        for (long polls : {0L, 1L, 3L}) {
            const std::string what =
                std::to_string(patternCount) + " patterns, " + std::to_string(polls) + " polls";
            RecallSetup setup;
            setup.nnOption = 1;
            setup.host.interruptAfterPolls = polls;
            setRunningTotals({});
            const Recalled r = classify(templates, labels, patterns, setup);
            EXPECT_EQ(r.status, ProcedureStatus::Interrupted) << what;
            EXPECT_EQ(r.host.interruptPolls, polls + 1) << what;
            EXPECT_EQ(r.host.heapBlocksOutstanding, 0) << what;
            EXPECT_EQ(r.host.hostBlocksReclaimed, 0) << what;
            EXPECT_TRUE(r.host.faults.empty()) << what;  // no host call from the helper thread
            EXPECT_EQ(r.host.console, "") << what;
            // Sub-chunks of one group of 8 patterns, the blocked scans' width (8 * 256000
            // terms): the calling thread handled one per poll that answered no and never went
            // further than that without polling.
            const std::uint64_t subChunk = 8 * kPerPattern;
            EXPECT_EQ(r.pacing.polls, static_cast<std::uint64_t>(polls) + 1) << what;
            EXPECT_EQ(r.pacing.callingThreadTerms, static_cast<std::uint64_t>(polls) * subChunk)
                << what;
            EXPECT_LE(r.pacing.longestStretch, subChunk) << what;
            // The helper finished at most the sub-chunk it had under way when the stop came.
            EXPECT_LE(r.pacing.workerTermsAfterStop, subChunk) << what;
            if (!threaded) {
                EXPECT_EQ(r.pacing.workerTerms, 0u) << what;
            }
            // The coverage tests (one comparison each for p = 2) count the same work.
            const std::uint64_t work = r.pacing.callingThreadTerms + r.pacing.workerTerms;
            EXPECT_EQ(std::uint64_t{runningTotals().comparisons} * kWidth, work) << what;
            // On one thread the whole call did no more than that; with a helper, the helper's
            // share depends on the scheduler, but it stops within one sub-chunk of the stop.
            if (!threaded) {
                EXPECT_LE(work, static_cast<std::uint64_t>(polls) * subChunk) << what;
            }
        }
    }
}

// A node with an infinite coordinate sends recall to the literal scan, which reports its work
// as it goes: over 40000 nodes that cover nothing (2.4 budgets of work a pattern), an interrupt
// at the first poll after the start ends the call inside the first pattern's scan.
TEST_F(ClassifyPatternsTest, LiteralScanPollsWithinAPattern) {
    constexpr int kNodes = 40000;
    std::vector<std::vector<double>> nodes(kNodes, std::vector<double>(65, 0.0));
    nodes[0][0] = kInf;
    std::mt19937 random(7);
    RecallSetup setup;
    setup.host.interruptAfterPolls = 1;
    setRunningTotals({});
    const Recalled r = classify(RowTable(nodes), std::vector<double>(kNodes, 1.0),
                                randomRows(2, 64, random), setup);
    EXPECT_EQ(r.status, ProcedureStatus::Interrupted);
    EXPECT_EQ(r.host.interruptPolls, 2);
    EXPECT_GT(runningTotals().comparisons, 0u);
    EXPECT_LT(runningTotals().comparisons, std::uint32_t{kNodes});
}

}  // namespace
