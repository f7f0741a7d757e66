// sphnet_recall as the host calls it: every argument message in its order, the output column,
// the host's FLOP tally, and clean endings when memory runs out or the user interrupts.
#include <gtest/gtest.h>

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
using testing_support::recallModule;
using testing_support::RejectCase;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char kMemoryMessage[] = "SPHNET_RECALL: Not enough memory available; unable to run!";

enum { TEMPLATES, NLABELS, NORM_TYPE, PATTERNS, UNKNOWN_LABEL, NN_OPTION, OFLAG };

// The nodes the two-pattern walk-through trains, and four patterns: two on the centres, one far
// from both, one just beside the first centre.
Arguments twoNodes(double nnOption = 0, double oflag = 0) {
    Arguments a;
    a.arrays.push_back(matrix({{0, 0, 0.5}, {1, 0, 0.5}}));
    a.arrays.push_back(column({1, 2}));
    a.arrays.push_back(scalar(2));
    a.arrays.push_back(matrix({{0, 0}, {1, 0}, {5, 5}, {0.1, 0}}));
    a.arrays.push_back(scalar(-1));
    a.arrays.push_back(scalar(nnOption));
    a.arrays.push_back(scalar(oflag));
    return a;
}

CallResult recall(const Arguments& args, int nlhs = 1, const CallOptions& options = {}) {
    return standin::call(recallModule().entry(), nlhs, args.inputs(), options);
}

std::vector<double> labelsOf(const CallResult& r) {
    if (r.failed || r.outputs.size() != 1) return {};
    return standin::data(r.outputs[0].get());
}

void expectAllRejected(const std::vector<RejectCase>& cases) {
    for (const RejectCase& c : cases) {
        Arguments args = twoNodes();
        args.set(c.index, doubles(c.dims, c.values));
        expectRejected(recall(args), c.message,
                       std::string(c.what) + " at " + std::to_string(c.index));
    }
}

TEST(RecallEntry, InputCountIsCheckedFirst) {
    for (std::size_t count : {0u, 6u, 8u}) {
        Arguments args = twoNodes();
        args.arrays.resize(count);
        if (count == 8) args.arrays.back() = scalar(0);
        expectRejected(recall(args), "SPHNET_RECALL: 7 input arguments required.",
                       std::to_string(count) + " inputs");
    }
}

TEST(RecallEntry, EachArgumentMessageWithItsExactText) {
    // clang-format off
    expectAllRejected({
        {"3-D Templates", TEMPLATES, {2, 3, 2}, {},
         "SPHNET_RECALL: 1st input argument (Templates) must be  a two dimensional array "
         "(matrix)."},
        {"3-D NLabels", NLABELS, {1, 2, 2}, {},
         "SPHNET_RECALL: 2nd input argument (NLabels) must a vector."},
        {"1x3 NLabels", NLABELS, {1, 3}, {1, 2, 3},
         "SPHNET_RECALL: 2nd input argument (NLabels) must be of type  2x1 or 1x2."},
        {"3x1 NLabels", NLABELS, {3, 1}, {1, 2, 3},
         "SPHNET_RECALL: 2nd input argument (NLabels) must be of type  2x1 or 1x2."},
        {"2x2 NLabels", NLABELS, {2, 2}, {1, 2, 1, 2},
         "SPHNET_RECALL: 2nd input argument (NLabels) must be of type  2x1 or 1x2."},
        {"2x2 norm_type", NORM_TYPE, {2, 2}, {2, 2, 2, 2},
         "SPHNET_RECALL: 3rd input argument (norm_type) must be a scalar."},
        {"norm_type 0.99", NORM_TYPE, {1, 1}, {0.99},
         "SPHNET_RECALL: 3rd input argument (norm_type) must be >= 1."},
        {"3-D Patterns", PATTERNS, {1, 2, 2}, {},
         "SPHNET_RECALL: 4th input argument (Patterns) must be  a two dimensional array (matrix)."},
        {"4x3 Patterns", PATTERNS, {4, 3}, {},
         "SPHNET_RECALL: 4th input argument (Patterns) must be of type  4x2."},
        {"1x1 Patterns", PATTERNS, {1, 1}, {0},
         "SPHNET_RECALL: 4th input argument (Patterns) must be of type  1x2."},
        {"2x2 unknown_label", UNKNOWN_LABEL, {2, 2}, {},
         "SPHNET_RECALL: 5th input argument (unknown_label) must be a scalar."},
        {"3-D unknown_label", UNKNOWN_LABEL, {1, 1, 2}, {},
         "SPHNET_RECALL: 5th input argument (unknown_label) must be a scalar."},
        {"2x2 nn_option", NN_OPTION, {2, 2}, {},
         "SPHNET_RECALL: 6th input argument (nn_option) must be a scalar."},
        {"nn_option 2", NN_OPTION, {1, 1}, {2},
         "SPHNET_RECALL: 6th input argument (nn_option) must be either 0 or 1."},
        {"nn_option -1", NN_OPTION, {1, 1}, {-1},
         "SPHNET_RECALL: 6th input argument (nn_option) must be either 0 or 1."},
        {"2x2 oflag", OFLAG, {2, 2}, {},
         "SPHNET_RECALL: 7th input argument (oflag) must be scalar."},
        {"3-D oflag", OFLAG, {1, 1, 2}, {},
         "SPHNET_RECALL: 7th input argument (oflag) must be scalar."},
        {"oflag 4", OFLAG, {1, 1}, {4},
         "SPHNET_RECALL: 7th input argument (oflag) must be 0,1,2 or 3."},
        {"oflag -1", OFLAG, {1, 1}, {-1},
         "SPHNET_RECALL: 7th input argument (oflag) must be 0,1,2 or 3."},
    });
    // clang-format on
}

TEST(RecallEntry, PatternsTypeMessageNamesTheirRowsAndTheTemplateDimension) {
    Arguments args = twoNodes();
    args.set(TEMPLATES, doubles({3, 5}));
    args.set(NLABELS, column({1, 2, 3}));
    args.set(PATTERNS, doubles({4, 3}));
    expectRejected(recall(args),
                   "SPHNET_RECALL: 4th input argument (Patterns) must be of type  4x4.",
                   "3x5 Templates, 4x3 Patterns");
}

TEST(RecallEntry, ArgumentsAreCheckedInOrderAndTheOutputCountLast) {
    Arguments args = twoNodes();
    args.set(TEMPLATES, doubles({1, 2, 3}));
    args.set(NLABELS, doubles({3, 3}));
    args.set(NORM_TYPE, scalar(-2));
    args.set(PATTERNS, doubles({4, 7}));
    args.set(UNKNOWN_LABEL, doubles({3, 3}));
    args.set(NN_OPTION, scalar(5));
    args.set(OFLAG, scalar(-3));
    const Arguments good = twoNodes();
    const std::vector<std::string> messages = {
        "SPHNET_RECALL: 1st input argument (Templates) must be  a two dimensional array (matrix).",
        "SPHNET_RECALL: 2nd input argument (NLabels) must be of type  2x1 or 1x2.",
        "SPHNET_RECALL: 3rd input argument (norm_type) must be >= 1.",
        "SPHNET_RECALL: 4th input argument (Patterns) must be of type  4x2.",
        "SPHNET_RECALL: 5th input argument (unknown_label) must be a scalar.",
        "SPHNET_RECALL: 6th input argument (nn_option) must be either 0 or 1.",
        "SPHNET_RECALL: 7th input argument (oflag) must be 0,1,2 or 3.",
        "SPHNET_RECALL: 1 output argument required.",
    };
    for (std::size_t i = 0; i < messages.size(); ++i) {
        expectRejected(recall(args, 2), messages[i], "step " + std::to_string(i));
        if (i < 7) args.set(i, copyOf(good.arrays[i].get()));
    }
    for (int nlhs : {0, 2, 3}) {
        expectRejected(recall(twoNodes(), nlhs), "SPHNET_RECALL: 1 output argument required.",
                       std::to_string(nlhs) + " outputs");
    }
    EXPECT_EQ(labelsOf(recall(args)), (std::vector<double>{1, 2, -1, 1}));
}

TEST(RecallEntry, UnsafeInputIsRejectedBeforeItIsRead) {
    // clang-format off
    std::vector<RejectCase> cases = {
        {"NaN centre", TEMPLATES, {2, 3}, {0, 1, kNaN, 0, 0.5, 0.5},
         "SPHNET_RECALL: 1st input argument (Templates) must not contain NaN."},
        {"NaN radius", TEMPLATES, {2, 3}, {0, 1, 0, 0, 0.5, kNaN},
         "SPHNET_RECALL: 1st input argument (Templates) must not contain NaN."},
        {"Inf centre", TEMPLATES, {2, 3}, {0, 1, 0, -kInf, 0.5, 0.5},
         "SPHNET_RECALL: 1st input argument (Templates) must have finite centres."},
        {"no radius column", TEMPLATES, {2, 0}, {},
         "SPHNET_RECALL: 1st input argument (Templates) must have a column for the radius."},
        {"Templates too tall for int", TEMPLATES, {3000000000, 0}, {},
         "SPHNET_RECALL: 1st input argument (Templates) is too large."},
        {"NaN label", NLABELS, {2, 1}, {kNaN, 2},
         "SPHNET_RECALL: 2nd input argument (NLabels) must not contain NaN."},
        {"label 2^31", NLABELS, {1, 2}, {1, 2147483648.0},
         "SPHNET_RECALL: 2nd input argument (NLabels) must lie within the 32-bit integer range."},
        {"label -Inf", NLABELS, {2, 1}, {-kInf, 2},
         "SPHNET_RECALL: 2nd input argument (NLabels) must lie within the 32-bit integer range."},
        {"norm_type NaN", NORM_TYPE, {1, 1}, {kNaN},
         "SPHNET_RECALL: 3rd input argument (norm_type) must be >= 1."},
        {"NaN pattern", PATTERNS, {4, 2}, {0, 1, 5, kNaN, 0, 0, 5, 0},
         "SPHNET_RECALL: 4th input argument (Patterns) must not contain NaN or Inf."},
        {"Inf pattern", PATTERNS, {4, 2}, {0, 1, 5, 0.1, 0, kInf, 5, 0},
         "SPHNET_RECALL: 4th input argument (Patterns) must not contain NaN or Inf."},
        {"Patterns too wide for int", PATTERNS, {0, 3000000000}, {},
         "SPHNET_RECALL: 4th input argument (Patterns) is too large."},
        {"unknown_label NaN", UNKNOWN_LABEL, {1, 1}, {kNaN},
         "SPHNET_RECALL: 5th input argument (unknown_label) must lie within the 32-bit "
         "integer range."},
        {"unknown_label 2^31", UNKNOWN_LABEL, {1, 1}, {2147483648.0},
         "SPHNET_RECALL: 5th input argument (unknown_label) must lie within the 32-bit "
         "integer range."},
        {"unknown_label -Inf", UNKNOWN_LABEL, {1, 1}, {-kInf},
         "SPHNET_RECALL: 5th input argument (unknown_label) must lie within the 32-bit "
         "integer range."},
        {"nn_option NaN", NN_OPTION, {1, 1}, {kNaN},
         "SPHNET_RECALL: 6th input argument (nn_option) must be either 0 or 1."},
        {"oflag NaN", OFLAG, {1, 1}, {kNaN},
         "SPHNET_RECALL: 7th input argument (oflag) must be 0,1,2 or 3."},
    };
    // clang-format on
    const char* scalarMessages[] = {
        "SPHNET_RECALL: 3rd input argument (norm_type) must be a scalar.",
        nullptr,
        "SPHNET_RECALL: 5th input argument (unknown_label) must be a scalar.",
        "SPHNET_RECALL: 6th input argument (nn_option) must be a scalar.",
        "SPHNET_RECALL: 7th input argument (oflag) must be scalar.",
    };
    for (int index : {NORM_TYPE, UNKNOWN_LABEL, NN_OPTION, OFLAG}) {
        for (const std::vector<mwSize>& dims : {std::vector<mwSize>{1, 0}, {0, 1}, {0, 0}}) {
            cases.push_back({"empty", index, dims, {}, scalarMessages[index - NORM_TYPE]});
        }
    }
    expectAllRejected(cases);
}

TEST(RecallEntry, OnlyRealFullDoublesAreAccepted) {
    const char* messages[] = {
        "SPHNET_RECALL: 1st input argument (Templates) must be a real double matrix.",
        "SPHNET_RECALL: 2nd input argument (NLabels) must be a real double vector.",
        "SPHNET_RECALL: 3rd input argument (norm_type) must be a real double scalar.",
        "SPHNET_RECALL: 4th input argument (Patterns) must be a real double matrix.",
        "SPHNET_RECALL: 5th input argument (unknown_label) must be a real double scalar.",
        "SPHNET_RECALL: 6th input argument (nn_option) must be a real double scalar.",
        "SPHNET_RECALL: 7th input argument (oflag) must be a real double scalar.",
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
    for (int index = TEMPLATES; index <= OFLAG; ++index) {
        for (const Kind& k : kinds) {
            Arguments args = twoNodes();
            const mxArray* good = args.arrays[index].get();
            args.set(index, standin::array(k.classId,
                                           {static_cast<mwSize>(standin::rows(good)),
                                            static_cast<mwSize>(standin::cols(good))},
                                           k.complex, k.sparse, standin::data(good)));
            expectRejected(recall(args), messages[index],
                           std::string(k.what) + " at " + std::to_string(index));
        }
    }
}

TEST(RecallEntry, AcceptedValuesAndWhatTheyMean) {
    struct Case {
        const char* what;
        int index;
        std::vector<mwSize> dims;
        std::vector<double> values;
        std::vector<double> labels;
    };
    const Case cases[] = {
        {"as trained", OFLAG, {1, 1}, {0}, {1, 2, -1, 1}},
        {"unknown_label -1.9", UNKNOWN_LABEL, {1, 1}, {-1.9}, {1, 2, -1, 1}},
        {"unknown_label 7.99", UNKNOWN_LABEL, {1, 1}, {7.99}, {1, 2, 7, 1}},
        {"unknown_label at the 32-bit floor",
         UNKNOWN_LABEL,
         {1, 1},
         {-2147483648.9},
         {1, 2, -2147483648.0, 1}},
        {"nn_option 1.5", NN_OPTION, {1, 1}, {1.5}, {1, 2, 2, 1}},
        {"nn_option -0.5", NN_OPTION, {1, 1}, {-0.5}, {1, 2, -1, 1}},
        {"1x2 nn_option", NN_OPTION, {1, 2}, {1, 0}, {1, 2, 2, 1}},
        {"oflag 3.9", OFLAG, {1, 1}, {3.9}, {1, 2, -1, 1}},
        {"norm_type Inf", NORM_TYPE, {1, 1}, {kInf}, {1, 2, -1, 1}},
        {"row NLabels", NLABELS, {1, 2}, {-3.7, 4.2}, {-3, 4, -1, -3}},
        {"infinite radius", TEMPLATES, {2, 3}, {0, 1, 0, 0, 0.5, kInf}, {1, 2, 2, 1}},
    };
    for (const Case& c : cases) {
        Arguments args = twoNodes();
        args.set(c.index, doubles(c.dims, c.values));
        const CallResult r = recall(args);
        ASSERT_FALSE(r.failed) << c.what << ": " << r.error;
        ASSERT_EQ(r.outputs.size(), 1u);
        EXPECT_EQ(standin::rows(r.outputs[0].get()), 4u) << c.what;
        EXPECT_EQ(standin::cols(r.outputs[0].get()), 1u) << c.what;
        EXPECT_EQ(labelsOf(r), c.labels) << c.what;
        EXPECT_EQ(r.heapBlocksOutstanding, 0) << c.what;
        EXPECT_TRUE(r.faults.empty()) << c.what;
    }
}

TEST(RecallEntry, OflagChoosesHowMuchIsPrinted) {
    struct Case {
        double oflag;
        bool summary, trace, presented;
    };
    for (const Case& c : {Case{0, false, false, false}, Case{1, true, false, false},
                          Case{2.5, true, true, false}, Case{3, true, true, true}}) {
        const CallResult r = recall(twoNodes(0, c.oflag));
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_EQ(r.console.find("RCE performance phase summary") != std::string::npos, c.summary)
            << c.oflag;
        EXPECT_EQ(r.console.find("\nList presentation of 4 patterns:\n") != std::string::npos,
                  c.trace)
            << c.oflag;
        EXPECT_EQ(r.console.find("Pattern #1 is being presented") != std::string::npos, c.presented)
            << c.oflag;
    }
}

TEST(RecallEntry, EmptyTemplatesGiveTheUnknownLabelEvenWithTheNearestNodeRule) {
    for (const std::vector<mwSize>& labelDims : {std::vector<mwSize>{0, 1}, {1, 0}}) {
        Arguments args = twoNodes(1, 1);
        args.set(TEMPLATES, doubles({0, 3}));
        args.set(NLABELS, doubles(labelDims));
        args.set(UNKNOWN_LABEL, scalar(9));
        const CallResult r = recall(args);
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_EQ(labelsOf(r), (std::vector<double>{9, 9, 9, 9}));
        EXPECT_NE(r.console.find("unable to classify 4 patterns (100.000000%)\n"),
                  std::string::npos)
            << r.console;
        EXPECT_EQ(r.console.find("1-NN"), std::string::npos) << r.console;
    }
}

TEST(RecallEntry, NoPatternsGiveAnEmptyColumn) {
    Arguments args = twoNodes(1, 1);
    args.set(PATTERNS, doubles({0, 2}));
    const CallResult r = recall(args);
    ASSERT_FALSE(r.failed) << r.error;
    ASSERT_EQ(r.outputs.size(), 1u);
    EXPECT_EQ(standin::rows(r.outputs[0].get()), 0u);
    EXPECT_EQ(standin::cols(r.outputs[0].get()), 1u);
    EXPECT_EQ(r.console.find("classify"), std::string::npos) << r.console;
}

TEST(RecallEntry, TrainedNodesClassifyTheirOwnTrainingSet) {
    // The node matrix is the only contract between the two modules.
    const Array patterns = matrix({{0, 0}, {0.5, 0}, {3, 1}, {2.5, 1}, {0.2, 0.1}, {3, 0.9}});
    const std::vector<double> labels = {1, 2, 1, 3, 1, 2};
    for (double p : {1.0, 2.0, 3.5, kInf}) {
        const Array pLabels = column(labels);
        const Array normType = scalar(p);
        const Array rMax = scalar(4);
        const Array margin = scalar(0.1);
        const Array limit = scalar(50);
        const Array quiet = scalar(0);
        const CallResult trained =
            standin::call(learnModule().entry(), 3,
                          {patterns.get(), pLabels.get(), normType.get(), rMax.get(), margin.get(),
                           limit.get(), quiet.get()});
        ASSERT_FALSE(trained.failed) << trained.error;
        const Array unknown = scalar(-1);
        const Array nearest = scalar(0);
        const CallResult r =
            standin::call(recallModule().entry(), 1,
                          {trained.outputs[0].get(), trained.outputs[1].get(), normType.get(),
                           patterns.get(), unknown.get(), nearest.get(), quiet.get()});
        EXPECT_EQ(labelsOf(r), labels) << "p = " << p;
    }
}

TEST(RecallEntry, HostTallyGetsEachCallsFlopsWhileTheSummaryShowsTheRunningCount) {
    recallModule().reload();
    unsigned long printedBefore = 0;
    for (int call = 0; call < 3; ++call) {
        const CallResult r = recall(twoNodes(1, 1));
        ASSERT_FALSE(r.failed) << r.error;
        const auto [flops, comparisons] = printedCounters(r.console);
        // Patterns 1 and 4 are covered by node 1 (one test each), pattern 2 by node 2 (two
        // tests), pattern 3 by none (two tests): 6 tests of 8 FLOPs and 1 comparison.
        EXPECT_EQ(r.flopsTally, 48) << "call " << call;
        EXPECT_EQ(flops, printedBefore + 48) << "call " << call;
        EXPECT_EQ(comparisons, 6ul * (call + 1)) << "call " << call;
        printedBefore = flops;
    }
    recallModule().reload();
    EXPECT_EQ(printedCounters(recall(twoNodes(1, 1)).console), std::make_pair(48ul, 6ul));
}

// Calls worth starving of memory: every verbosity with both fallbacks, no nodes, no patterns.
std::vector<std::pair<std::string, Arguments>> representativeCalls() {
    std::vector<std::pair<std::string, Arguments>> calls;
    for (int oflag = 0; oflag <= 3; ++oflag) {
        for (int nn = 0; nn <= 1; ++nn) {
            calls.emplace_back(
                "oflag " + std::to_string(oflag) + ", nn_option " + std::to_string(nn),
                twoNodes(nn, oflag));
        }
    }
    Arguments noNodes = twoNodes(1, 1);
    noNodes.set(TEMPLATES, doubles({0, 3}));
    noNodes.set(NLABELS, doubles({0, 1}));
    calls.emplace_back("no nodes", std::move(noNodes));
    Arguments noPatterns = twoNodes(0, 1);
    noPatterns.set(PATTERNS, doubles({0, 2}));
    calls.emplace_back("no patterns", std::move(noPatterns));
    return calls;
}

TEST(RecallEntry, EveryAllocationFailureEndsWithTheMemoryMessage) {
    testing_support::expectEveryAllocationFailureHandled(
        recall, 1, representativeCalls(), kMemoryMessage, "sphnet:recall:outOfMemory");
}

TEST(RecallEntry, RejectedCallsDoNotDependOnMemory) {
    Arguments badNn = twoNodes();
    badNn.set(NN_OPTION, scalar(2));
    Arguments emptyOflag = twoNodes();
    emptyOflag.set(OFLAG, doubles({1, 0}));
    const Arguments good = twoNodes();
    struct Case {
        const char* what;
        const Arguments* args;
        int nlhs;
        const char* message;
    };
    const Case cases[] = {
        {"nn_option 2", &badNn, 1,
         "SPHNET_RECALL: 6th input argument (nn_option) must be either 0 or 1."},
        {"empty oflag", &emptyOflag, 1,
         "SPHNET_RECALL: 7th input argument (oflag) must be scalar."},
        {"two outputs", &good, 2, "SPHNET_RECALL: 1 output argument required."},
    };
    for (const Case& c : cases) {
        testing_support::expectRejectedWhateverTheMemory(recall, *c.args, c.nlhs, c.message,
                                                         c.what);
    }
}

TEST(RecallEntry, InterruptEndsTheCallAndReleasesTheNodes) {
    for (long polls : {0L, 1L}) {
        testing_support::expectInterrupted(recall(twoNodes(1, 2), 1, CallOptions{0, polls}),
                                           "SPHNET_RECALL: Interrupted by the user.",
                                           "sphnet:recall:interrupted", std::to_string(polls));
    }
    // Polled before the work and after each sub-chunk of at most 2^20 terms: this small recall
    // is one sub-chunk, and two polls that answer no let the call finish.
    const CallResult finished = recall(twoNodes(1, 2), 1, CallOptions{0, 2});
    EXPECT_FALSE(finished.failed) << finished.error;
    EXPECT_EQ(labelsOf(finished), (std::vector<double>{1, 2, 2, 1}));
}

}  // namespace
