// sphnet_learn as the host calls it: every argument message in its order, the outputs, the
// module-wide counters, and clean endings when memory runs out or the user interrupts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "standin_host.h"
#include "test_support.h"

using standin::Array;
using standin::CallOptions;
using standin::CallResult;
using standin::column;
using standin::matrix;
using standin::scalar;
using testing_support::Arguments;
using testing_support::copyOf;
using testing_support::doubles;
using testing_support::expectRejected;
using testing_support::learnModule;
using testing_support::printedCounters;
using testing_support::RejectCase;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char kMemoryMessage[] = "SPHNET_LEARN: Not enough memory available; unable to run!";

enum { PATTERNS, PLABELS, NORM_TYPE, RMAX, MARGIN, MAX_LIST_PRESENTATIONS, OFLAG };

// The two-pattern walk-through: (0, 0) label 1 and (1, 0) label 2, p = 2, Rmax 10, margin 0,
// at most 5 presentations.
Arguments walkThrough(double oflag = 0) {
    Arguments a;
    a.arrays.push_back(matrix({{0, 0}, {1, 0}}));
    a.arrays.push_back(column({1, 2}));
    a.arrays.push_back(scalar(2));
    a.arrays.push_back(scalar(10));
    a.arrays.push_back(scalar(0));
    a.arrays.push_back(scalar(5));
    a.arrays.push_back(scalar(oflag));
    return a;
}

CallResult learn(const Arguments& args, int nlhs = 3, const CallOptions& options = {}) {
    return standin::call(learnModule().entry(), nlhs, args.inputs(), options);
}

TEST(LearnEntry, InputCountIsCheckedFirst) {
    for (std::size_t count : {0u, 1u, 6u, 8u}) {
        Arguments args = walkThrough();
        args.arrays.resize(count);
        if (count == 8) args.arrays.back() = scalar(0);
        expectRejected(learn(args), "SPHNET_LEARN: 7 input arguments required.",
                       std::to_string(count) + " inputs");
    }
}

TEST(LearnEntry, EachArgumentMessageWithItsExactText) {
    // clang-format off
    const std::vector<RejectCase> cases = {
        {"3-D Patterns", PATTERNS, {2, 2, 1}, {},
         "SPHNET_LEARN: 1st input argument (Patterns) must be  a two dimensional array (matrix)."},
        {"3-D PLabels", PLABELS, {2, 1, 2}, {1, 2, 1, 2},
         "SPHNET_LEARN: 2nd input argument (PLabels) must a vector."},
        {"1x3 PLabels", PLABELS, {1, 3}, {1, 2, 3},
         "SPHNET_LEARN: 2nd input argument (PLabels) must be of type  2x1 or 1x2."},
        {"3x1 PLabels", PLABELS, {3, 1}, {1, 2, 3},
         "SPHNET_LEARN: 2nd input argument (PLabels) must be of type  2x1 or 1x2."},
        {"2x2 PLabels", PLABELS, {2, 2}, {1, 2, 1, 2},
         "SPHNET_LEARN: 2nd input argument (PLabels) must be of type  2x1 or 1x2."},
        {"1x1 PLabels", PLABELS, {1, 1}, {1},
         "SPHNET_LEARN: 2nd input argument (PLabels) must be of type  2x1 or 1x2."},
        {"2x2 norm_type", NORM_TYPE, {2, 2}, {2, 2, 2, 2},
         "SPHNET_LEARN: 3rd input argument (norm_type) must be a scalar."},
        {"3-D norm_type", NORM_TYPE, {1, 1, 2}, {2, 2},
         "SPHNET_LEARN: 3rd input argument (norm_type) must be a scalar."},
        {"norm_type 0.5", NORM_TYPE, {1, 1}, {0.5},
         "SPHNET_LEARN: 3rd input argument (norm_type) must be >= 1."},
        {"norm_type -Inf", NORM_TYPE, {1, 1}, {-kInf},
         "SPHNET_LEARN: 3rd input argument (norm_type) must be >= 1."},
        {"2x2 Rmax", RMAX, {2, 2}, {1, 1, 1, 1},
         "SPHNET_LEARN: 4th input argument (Rmax) must be a scalar."},
        {"Rmax -0.001", RMAX, {1, 1}, {-0.001},
         "SPHNET_LEARN: 4th input argument (Rmax) must be non-negative."},
        {"3-D margin", MARGIN, {1, 1, 1}, {0},
         "SPHNET_LEARN: 5th input argument (margin) must be a scalar."},
        {"margin -1", MARGIN, {1, 1}, {-1},
         "SPHNET_LEARN: 5th input argument (margin) must be non-negative."},
        {"2x3 max_list_presentations", MAX_LIST_PRESENTATIONS, {2, 3}, {5, 5, 5, 5, 5, 5},
         "SPHNET_LEARN: 6th input argument (max_list_presentations) must be scalar."},
        {"max_list_presentations 0.9", MAX_LIST_PRESENTATIONS, {1, 1}, {0.9},
         "SPHNET_LEARN: 6th input argument (max_list_presentations) must be >= 1"},
        {"max_list_presentations -3", MAX_LIST_PRESENTATIONS, {1, 1}, {-3},
         "SPHNET_LEARN: 6th input argument (max_list_presentations) must be >= 1"},
        {"3-D oflag", OFLAG, {1, 2, 2}, {1, 1, 1, 1},
         "SPHNET_LEARN: 7th input argument (oflag) must be scalar."},
        {"2x2 oflag", OFLAG, {2, 2}, {1, 1, 1, 1},
         "SPHNET_LEARN: 7th input argument must be scalar."},
        {"oflag 4", OFLAG, {1, 1}, {4},
         "SPHNET_LEARN: 7th input argument (oflag) must be 0,1,2 or 3"},
        {"oflag -1", OFLAG, {1, 1}, {-1},
         "SPHNET_LEARN: 7th input argument (oflag) must be 0,1,2 or 3"},
    };
    // clang-format on
    for (const RejectCase& c : cases) {
        Arguments args = walkThrough();
        args.set(c.index, doubles(c.dims, c.values));
        expectRejected(learn(args), c.message, c.what);
    }
}

TEST(LearnEntry, ThreeByThreeLabelsForThreePatternsNameThree) {
    Arguments args = walkThrough();
    args.set(PATTERNS, matrix({{0}, {1}, {2}}));
    args.set(PLABELS, matrix({{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}));
    expectRejected(learn(args),
                   "SPHNET_LEARN: 2nd input argument (PLabels) must be of type  3x1 or 1x3.",
                   "3x3 PLabels");
}

TEST(LearnEntry, ArgumentsAreCheckedInOrderAndTheOutputCountLast) {
    // Every argument bad and two outputs asked for: repairing the arguments one by one walks
    // the messages through the argument order, and the output count comes after all seven.
    Arguments args = walkThrough();
    args.set(PATTERNS, doubles({1, 2, 2}));
    args.set(PLABELS, doubles({2, 2}));
    args.set(NORM_TYPE, scalar(0));
    args.set(RMAX, scalar(-1));
    args.set(MARGIN, scalar(-1));
    args.set(MAX_LIST_PRESENTATIONS, scalar(0));
    args.set(OFLAG, scalar(7));
    const Arguments good = walkThrough();
    const std::vector<std::string> messages = {
        "SPHNET_LEARN: 1st input argument (Patterns) must be  a two dimensional array (matrix).",
        "SPHNET_LEARN: 2nd input argument (PLabels) must be of type  2x1 or 1x2.",
        "SPHNET_LEARN: 3rd input argument (norm_type) must be >= 1.",
        "SPHNET_LEARN: 4th input argument (Rmax) must be non-negative.",
        "SPHNET_LEARN: 5th input argument (margin) must be non-negative.",
        "SPHNET_LEARN: 6th input argument (max_list_presentations) must be >= 1",
        "SPHNET_LEARN: 7th input argument (oflag) must be 0,1,2 or 3",
        "SPHNET_LEARN: 3 output arguments required.",
    };
    for (std::size_t i = 0; i < messages.size(); ++i) {
        expectRejected(learn(args, 2), messages[i], "step " + std::to_string(i));
        if (i < 7) {
            args.set(i, copyOf(good.arrays[i].get()));
        }
    }
    for (int nlhs : {0, 1, 4}) {
        expectRejected(learn(walkThrough(), nlhs), "SPHNET_LEARN: 3 output arguments required.",
                       std::to_string(nlhs) + " outputs");
    }
    EXPECT_FALSE(learn(args, 3).failed);
}

TEST(LearnEntry, UnsafeInputIsRejectedBeforeItIsRead) {
    // The shape checks alone let all of these through; each would make the
    // module read memory it must not, or train on values that make no sense.
    // clang-format off
    std::vector<RejectCase> cases = {
        {"NaN in Patterns", PATTERNS, {2, 2}, {0, 1, kNaN, 0},
         "SPHNET_LEARN: 1st input argument (Patterns) must not contain NaN or Inf."},
        {"Inf in Patterns", PATTERNS, {2, 2}, {0, -kInf, 0, 0},
         "SPHNET_LEARN: 1st input argument (Patterns) must not contain NaN or Inf."},
        {"NaN label", PLABELS, {2, 1}, {1, kNaN},
         "SPHNET_LEARN: 2nd input argument (PLabels) must not contain NaN."},
        {"label 2^31", PLABELS, {2, 1}, {1, 2147483648.0},
         "SPHNET_LEARN: 2nd input argument (PLabels) must lie within the 32-bit integer range."},
        {"label -2^31-1", PLABELS, {1, 2}, {-2147483649.0, 1},
         "SPHNET_LEARN: 2nd input argument (PLabels) must lie within the 32-bit integer range."},
        {"label Inf", PLABELS, {2, 1}, {kInf, 1},
         "SPHNET_LEARN: 2nd input argument (PLabels) must lie within the 32-bit integer range."},
        // A node keeps its pattern's label truncated: it would never match a fractional one.
        {"label 1.5", PLABELS, {2, 1}, {1, 1.5},
         "SPHNET_LEARN: 2nd input argument (PLabels) must hold whole numbers."},
        {"label -2^31 - 0.5", PLABELS, {1, 2}, {1, -2147483648.5},
         "SPHNET_LEARN: 2nd input argument (PLabels) must hold whole numbers."},
        {"norm_type NaN", NORM_TYPE, {1, 1}, {kNaN},
         "SPHNET_LEARN: 3rd input argument (norm_type) must be >= 1."},
        {"Rmax NaN", RMAX, {1, 1}, {kNaN},
         "SPHNET_LEARN: 4th input argument (Rmax) must be non-negative."},
        {"margin NaN", MARGIN, {1, 1}, {kNaN},
         "SPHNET_LEARN: 5th input argument (margin) must be non-negative."},
        {"margin Inf", MARGIN, {1, 1}, {kInf},
         "SPHNET_LEARN: 5th input argument (margin) must be finite."},
        {"max_list_presentations NaN", MAX_LIST_PRESENTATIONS, {1, 1}, {kNaN},
         "SPHNET_LEARN: 6th input argument (max_list_presentations) must be >= 1"},
        {"oflag NaN", OFLAG, {1, 1}, {kNaN},
         "SPHNET_LEARN: 7th input argument (oflag) must be 0,1,2 or 3"},
        {"Patterns too wide for int", PATTERNS, {0, 3000000000}, {},
         "SPHNET_LEARN: 1st input argument (Patterns) is too large."},
    };
    // clang-format on
    // Empty arrays have a dimension of size 1 but no value to read.
    const char* scalarMessages[] = {
        "SPHNET_LEARN: 3rd input argument (norm_type) must be a scalar.",
        "SPHNET_LEARN: 4th input argument (Rmax) must be a scalar.",
        "SPHNET_LEARN: 5th input argument (margin) must be a scalar.",
        "SPHNET_LEARN: 6th input argument (max_list_presentations) must be scalar.",
        "SPHNET_LEARN: 7th input argument (oflag) must be scalar.",
    };
    for (int index = NORM_TYPE; index <= OFLAG; ++index) {
        const std::string message = scalarMessages[index - NORM_TYPE];
        cases.push_back({"1x0", index, {1, 0}, {}, message});
        cases.push_back({"0x1", index, {0, 1}, {}, message});
    }
    // 0x0 has no dimension of size 1 at all: the oflag check names no argument for that.
    for (int index = NORM_TYPE; index < OFLAG; ++index) {
        cases.push_back({"0x0", index, {0, 0}, {}, scalarMessages[index - NORM_TYPE]});
    }
    cases.push_back({"0x0", OFLAG, {0, 0}, {}, "SPHNET_LEARN: 7th input argument must be scalar."});
    for (const RejectCase& c : cases) {
        Arguments args = walkThrough();
        args.set(c.index, doubles(c.dims, c.values));
        expectRejected(learn(args), c.message,
                       std::string(c.what) + " at " + std::to_string(c.index));
    }
}

TEST(LearnEntry, OnlyRealFullDoublesAreAccepted) {
    const char* messages[] = {
        "SPHNET_LEARN: 1st input argument (Patterns) must be a real double matrix.",
        "SPHNET_LEARN: 2nd input argument (PLabels) must be a real double vector.",
        "SPHNET_LEARN: 3rd input argument (norm_type) must be a real double scalar.",
        "SPHNET_LEARN: 4th input argument (Rmax) must be a real double scalar.",
        "SPHNET_LEARN: 5th input argument (margin) must be a real double scalar.",
        "SPHNET_LEARN: 6th input argument (max_list_presentations) must be a real double scalar.",
        "SPHNET_LEARN: 7th input argument (oflag) must be a real double scalar.",
    };
    struct Kind {
        const char* what;
        mxClassID classId;
        bool complex, sparse;
    };
    const Kind kinds[] = {
        {"single", mxSINGLE_CLASS, false, false},   {"int32", mxINT32_CLASS, false, false},
        {"logical", mxLOGICAL_CLASS, false, false}, {"char", mxCHAR_CLASS, false, false},
        {"cell", mxCELL_CLASS, false, false},       {"struct", mxSTRUCT_CLASS, false, false},
        {"complex", mxDOUBLE_CLASS, true, false},   {"sparse", mxDOUBLE_CLASS, false, true}};
    for (int index = PATTERNS; index <= OFLAG; ++index) {
        for (const Kind& k : kinds) {
            Arguments args = walkThrough();
            const mxArray* good = args.arrays[index].get();
            // Same shape and values as the valid argument: only the class is wrong.
            args.set(index, standin::array(k.classId,
                                           {static_cast<mwSize>(mxGetM(good)),
                                            static_cast<mwSize>(mxGetN(good))},
                                           k.complex, k.sparse, standin::data(good)));
            expectRejected(learn(args), messages[index],
                           std::string(k.what) + " at " + std::to_string(index));
        }
    }
}

TEST(LearnEntry, IntegerArgumentsTruncateTowardZero) {
    struct Case {
        const char* what;
        int index;
        std::vector<mwSize> dims;
        std::vector<double> values;
        bool summary;  // oflag 1 or more prints the summary
        bool trace;    // oflag 2 or more prints the pass headings
    };
    const Case cases[] = {
        {"oflag 3.9", OFLAG, {1, 1}, {3.9}, true, true},
        {"oflag -0.5", OFLAG, {1, 1}, {-0.5}, false, false},
        {"oflag 1.99", OFLAG, {1, 1}, {1.99}, true, false},
        {"1x2 oflag [1 3]", OFLAG, {1, 2}, {1, 3}, true, false},
        {"2x1 oflag [0 3]", OFLAG, {2, 1}, {0, 3}, false, false},
        {"1x2 norm_type", NORM_TYPE, {1, 2}, {2, 0}, false, false},
        {"max_list_presentations 1.5", MAX_LIST_PRESENTATIONS, {1, 1}, {1.5}, false, false},
    };
    for (const Case& c : cases) {
        Arguments args = walkThrough();
        args.set(c.index, doubles(c.dims, c.values));
        const CallResult r = learn(args);
        ASSERT_FALSE(r.failed) << c.what << ": " << r.error;
        EXPECT_EQ(r.console.find("\nRCE training") != std::string::npos, c.summary) << c.what;
        EXPECT_EQ(r.console.find("List presentation #1") != std::string::npos, c.trace) << c.what;
        ASSERT_EQ(r.outputs.size(), 3u);
        EXPECT_EQ(standin::data(r.outputs[0].get()), (std::vector<double>{0, 1, 0, 0, 0.5, 0.5}))
            << c.what;
        EXPECT_EQ(standin::data(r.outputs[2].get()), std::vector<double>{1}) << c.what;
    }
}

TEST(LearnEntry, HugeLimitsAreClampedNotWrapped) {
    // A limit beyond the int range must still mean "as many passes as it takes".
    for (double limit : {1e300, kInf, 2147483648.0}) {
        Arguments args = walkThrough(1);
        args.set(MAX_LIST_PRESENTATIONS, scalar(limit));
        const CallResult r = learn(args);
        ASSERT_FALSE(r.failed) << limit << ": " << r.error;
        EXPECT_EQ(r.console.find("\nRCE training converged after 1 list presentation\n"), 0u)
            << limit << ": " << r.console;
    }
}

TEST(LearnEntry, NormTypeInfinityAndLimitOfOneAreAccepted) {
    Arguments args = walkThrough();
    args.set(NORM_TYPE, scalar(kInf));
    args.set(MAX_LIST_PRESENTATIONS, scalar(1));
    args.set(OFLAG, scalar(1));
    const CallResult r = learn(args);
    ASSERT_FALSE(r.failed) << r.error;
    // One pass creates both nodes: the limit stops it before the confirming pass.
    EXPECT_NE(r.console.find("stopped after 1 list presentation\n"), std::string::npos)
        << r.console;
    EXPECT_EQ(standin::data(r.outputs[2].get()), std::vector<double>{1});
}

TEST(LearnEntry, OutputsAreNodesLabelsAndPresentations) {
    struct Case {
        const char* what;
        Array labels;
    };
    Case cases[] = {{"column labels", column({1, 2})}, {"row labels", matrix({{1, 2}})}};
    for (Case& c : cases) {
        Arguments args = walkThrough();
        args.set(PLABELS, std::move(c.labels));
        const CallResult r = learn(args);
        ASSERT_FALSE(r.failed) << c.what << ": " << r.error;
        ASSERT_EQ(r.outputs.size(), 3u);
        const mxArray* nodes = r.outputs[0].get();
        const mxArray* labels = r.outputs[1].get();
        const mxArray* presentations = r.outputs[2].get();
        EXPECT_EQ(standin::rows(nodes), 2u);
        EXPECT_EQ(standin::cols(nodes), 3u);
        // Rows (0, 0, 0.5) and (1, 0, 0.5), column-major.
        EXPECT_EQ(standin::data(nodes), (std::vector<double>{0, 1, 0, 0, 0.5, 0.5}));
        EXPECT_EQ(standin::rows(labels), 2u);
        EXPECT_EQ(standin::cols(labels), 1u);
        EXPECT_EQ(standin::data(labels), (std::vector<double>{1, 2}));
        EXPECT_EQ(standin::rows(presentations), 1u);
        EXPECT_EQ(standin::cols(presentations), 1u);
        EXPECT_EQ(standin::data(presentations), std::vector<double>{1});
        EXPECT_TRUE(r.warnings.empty());
        EXPECT_EQ(r.heapBlocksOutstanding, 0);
        EXPECT_TRUE(r.faults.empty());
        EXPECT_EQ(r.flopsTally, 0) << "training leaves the host's FLOP tally alone";
    }
}

TEST(LearnEntry, LabelsAtTheEdgesOfThe32BitRangeAreKept) {
    Arguments args = walkThrough();
    args.set(PLABELS, column({2147483647.0, -2147483648.0}));
    const CallResult r = learn(args);
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_EQ(standin::data(r.outputs[1].get()),
              (std::vector<double>{2147483647.0, -2147483648.0}));
}

TEST(LearnEntry, EmptyTrainingSetGivesEmptyOutputs) {
    struct Case {
        const char* what;
        std::vector<mwSize> labelDims;
    };
    for (const Case& c : {Case{"0x1 labels", {0, 1}}, Case{"1x0 labels", {1, 0}}}) {
        Arguments args = walkThrough(1);
        args.set(PATTERNS, doubles({0, 4}));
        args.set(PLABELS, doubles(c.labelDims));
        const CallResult r = learn(args);
        ASSERT_FALSE(r.failed) << c.what << ": " << r.error;
        ASSERT_EQ(r.outputs.size(), 3u);
        EXPECT_EQ(standin::rows(r.outputs[0].get()), 0u);
        EXPECT_EQ(standin::cols(r.outputs[0].get()), 5u);
        EXPECT_EQ(standin::rows(r.outputs[1].get()), 0u);
        EXPECT_EQ(standin::cols(r.outputs[1].get()), 1u);
        EXPECT_EQ(standin::data(r.outputs[2].get()), std::vector<double>{0});
        EXPECT_NE(r.console.find("Training set contained 0 training patterns\n"), std::string::npos)
            << r.console;
        EXPECT_NE(r.console.find("0 nodes created (0.000000% compression)\n"), std::string::npos)
            << r.console;
    }
}

TEST(LearnEntry, CountersRunOnUntilTheModuleIsReloaded) {
    learnModule().reload();
    const auto figures = [] {
        const CallResult r = learn(walkThrough(1));
        EXPECT_FALSE(r.failed) << r.error;
        return printedCounters(r.console);
    };
    EXPECT_EQ(figures(), std::make_pair(37ul, 6ul));
    EXPECT_EQ(figures(), std::make_pair(74ul, 12ul));
    // A rejected call counts nothing.
    Arguments bad = walkThrough(1);
    bad.set(OFLAG, scalar(9));
    EXPECT_TRUE(learn(bad).failed);
    EXPECT_EQ(figures(), std::make_pair(111ul, 18ul));
    learnModule().reload();
    EXPECT_EQ(figures(), std::make_pair(37ul, 6ul));
}

// Calls worth starving of memory: every verbosity, an empty set, and a longer run with
// conflicts of every kind.
std::vector<std::pair<std::string, Arguments>> representativeCalls() {
    std::vector<std::pair<std::string, Arguments>> calls;
    for (int oflag = 0; oflag <= 3; ++oflag) {
        calls.emplace_back("walk-through, oflag " + std::to_string(oflag), walkThrough(oflag));
    }
    Arguments empty = walkThrough(1);
    empty.set(PATTERNS, doubles({0, 4}));
    empty.set(PLABELS, doubles({0, 1}));
    calls.emplace_back("empty training set", std::move(empty));
    Arguments longer = walkThrough(3);
    longer.set(PATTERNS, matrix({{0, 0}, {0.5, 0}, {3, 1}, {2.5, 1}, {0.2, 0.1}, {3, 0.9}}));
    longer.set(PLABELS, matrix({{1, 2, 1, 3, 1, 2}}));
    longer.set(RMAX, scalar(4));
    longer.set(MARGIN, scalar(0.1));
    longer.set(MAX_LIST_PRESENTATIONS, scalar(3));
    calls.emplace_back("longer run", std::move(longer));
    return calls;
}

TEST(LearnEntry, EveryAllocationFailureEndsWithTheMemoryMessage) {
    testing_support::expectEveryAllocationFailureHandled(
        learn, 3, representativeCalls(), kMemoryMessage, "sphnet:learn:outOfMemory");
}

TEST(LearnEntry, RejectedCallsDoNotDependOnMemory) {
    Arguments badOflag = walkThrough();
    badOflag.set(OFLAG, scalar(4));
    Arguments badPatterns = walkThrough();
    badPatterns.set(PATTERNS, doubles({2, 2, 2}));
    struct Case {
        const char* what;
        const Arguments* args;
        int nlhs;
        const char* message;
    };
    const Arguments good = walkThrough();
    const Case cases[] = {
        {"oflag 4", &badOflag, 3, "SPHNET_LEARN: 7th input argument (oflag) must be 0,1,2 or 3"},
        {"3-D Patterns", &badPatterns, 3,
         "SPHNET_LEARN: 1st input argument (Patterns) must be  a two dimensional array (matrix)."},
        {"two outputs", &good, 2, "SPHNET_LEARN: 3 output arguments required."},
    };
    for (const Case& c : cases) {
        testing_support::expectRejectedWhateverTheMemory(learn, *c.args, c.nlhs, c.message, c.what);
    }
}

TEST(LearnEntry, InterruptEndsTheCallAndReleasesTheNodes) {
    // A margin wider than the patterns lie apart: every pass makes new nodes, and only the
    // interrupt ends this run.
    Arguments args = walkThrough(2);
    args.set(MARGIN, scalar(5));
    args.set(MAX_LIST_PRESENTATIONS, scalar(1e9));
    for (long polls : {0L, 1L, 5L, 40L}) {
        testing_support::expectInterrupted(learn(args, 3, CallOptions{0, polls}),
                                           "SPHNET_LEARN: Interrupted by the user.",
                                           "sphnet:learn:interrupted", std::to_string(polls));
    }
}

}  // namespace
