// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "documented_messages.h"
#include "learn_prototypes.h"
#include "sphere_node.h"
#include "standin_host.h"

namespace testing_support {

// Whether a failed call's error, identifier and text together, is one that
// documented_messages.txt lists.
inline bool documentedError(const standin::CallResult& r) {
    static const sphnet_testing::DocumentedMessages documented(SPHNET_DOCUMENTED_MESSAGES);
    return documented.contains(r.identifier, r.error);
}

// Summaries end with "in N seconds"; N depends on where whole-second boundaries fall.
inline std::string withoutSeconds(const std::string& text) {
    return std::regex_replace(text, std::regex(" in -?[0-9]+ seconds"), " in # seconds");
}

// Rows as the procedures take them: an array of row pointers into owned storage.
struct RowTable {
    explicit RowTable(std::vector<std::vector<double>> rowValues) : values(std::move(rowValues)) {
        for (auto& row : values) pointers.push_back(row.data());
    }
    const double* const* rows() const { return pointers.data(); }
    int count() const { return static_cast<int>(values.size()); }
    int width() const { return values.empty() ? 0 : static_cast<int>(values[0].size()); }

    std::vector<std::vector<double>> values;
    std::vector<const double*> pointers;
};

struct Trained {
    sphnet::ProcedureStatus status;
    std::vector<std::vector<double>> nodes;  // centre, then radius
    std::vector<double> labels;
    int presentations = 0;
    bool converged = false;
    sphnet::PacingTally pacing;
    standin::CallResult host;  // console, allocations, leaks
};

struct TrainingSetup {
    double p = 2.0;
    double rMax = 1.0;
    double margin = 0.0;
    int maxPresentations = 10;
    int oflag = 0;
    bool passLines = false;
    std::uint64_t pollBudget = sphnet::kDefaultPollBudget;
    standin::CallOptions host;
};

inline Trained train(const RowTable& patterns, const std::vector<double>& labels,
                     const TrainingSetup& setup, int dimension = -1) {
    standin::Scope scope(setup.host);
    sphnet::TrainingInput in;
    in.patternCount = patterns.count();
    in.dimension = dimension >= 0 ? dimension : patterns.width();
    in.patterns = patterns.rows();
    in.labels = labels.data();
    in.normType = setup.p;
    in.rMax = setup.rMax;
    in.margin = setup.margin;
    in.maxPresentations = setup.maxPresentations;
    in.oflag = setup.oflag;
    in.passLines = setup.passLines;
    in.plan.pollBudget = setup.pollBudget;
    sphnet::TrainingOutput out;
    Trained result;
    result.status = sphnet::learnPrototypes(in, out);
    result.pacing = out.paths.pacing;
    if (result.status == sphnet::ProcedureStatus::Done) {
        for (int j = 0; j < out.nodeCount; ++j) {
            result.nodes.emplace_back(static_cast<std::size_t>(in.dimension) + 1);
            out.nodeRow(j, in.dimension + 1, result.nodes.back().data());
            result.labels.push_back(out.nodeLabels[j]);
        }
        result.presentations = out.presentations;
        result.converged = out.converged;
    }
    result.host = scope.finish();
    return result;
}

// The modules as the host loads them. One copy each for the whole test program: reload() gives
// fresh module-wide state only when nothing else holds the module open.
#if defined(SPHNET_LEARN_MODULE) && defined(SPHNET_RECALL_MODULE)
inline standin::Module& learnModule() {
    static standin::Module module(SPHNET_LEARN_MODULE);
    return module;
}
inline standin::Module& recallModule() {
    static standin::Module module(SPHNET_RECALL_MODULE);
    return module;
}
#endif

// The seven inputs of an entry point, owned, so a test can replace any one of them.
struct Arguments {
    std::vector<standin::Array> arrays;

    Arguments& set(std::size_t index, standin::Array value) {
        arrays.at(index) = std::move(value);
        return *this;
    }
    std::vector<const mxArray*> inputs() const {
        std::vector<const mxArray*> pointers;
        for (const auto& a : arrays) pointers.push_back(a.get());
        return pointers;
    }
};

// A real double array of any shape holding `values` (column-major), zero-filled beyond them.
inline standin::Array doubles(const std::vector<mwSize>& dims,
                              const std::vector<double>& values = {}) {
    return standin::array(mxDOUBLE_CLASS, dims, false, false, values);
}

// A real double copy of a two-dimensional double array.
inline standin::Array copyOf(const mxArray* array) {
    return standin::matrix(standin::rows(array), standin::cols(array), standin::data(array));
}

// An argument replaced by a bad one, and the message that rejects it.
struct RejectCase {
    const char* what;
    int index;
    std::vector<mwSize> dims;
    std::vector<double> values;
    std::string message;
};

// A rejected call ends before it allocates or reads anything, and leaves nothing behind.
inline void expectRejected(const standin::CallResult& r, const std::string& message,
                           const std::string& what) {
    EXPECT_TRUE(r.failed) << what;
    EXPECT_EQ(r.error, message) << what;
    EXPECT_TRUE(documentedError(r)) << what << ": identifier " << r.identifier;
    EXPECT_EQ(r.allocationAttempts, 0) << what;
    EXPECT_TRUE(r.faults.empty()) << what << ": " << (r.faults.empty() ? "" : r.faults[0]);
    EXPECT_TRUE(r.outputs.empty()) << what;
    EXPECT_TRUE(r.warnings.empty()) << what;
    EXPECT_EQ(r.flopsTally, 0) << what;
}

// An entry point as the tests call it.
using EntryCall = standin::CallResult (*)(const Arguments& args, int nlhs,
                                          const standin::CallOptions& options);

// The same rejection whether memory is plentiful or the first allocation fails.
inline void expectRejectedWhateverTheMemory(EntryCall call, const Arguments& args, int nlhs,
                                            const std::string& message, const std::string& what) {
    for (long failAt : {0L, 1L}) expectRejected(call(args, nlhs, {failAt}), message, what);
}

// Each allocation of each call failing in turn: the call ends with the memory message, or,
// where the allocation had a fallback, gives the clean call's outputs; nothing leaks either way.
inline void expectEveryAllocationFailureHandled(
    EntryCall call, int nlhs, const std::vector<std::pair<std::string, Arguments>>& calls,
    const std::string& message, const std::string& identifier) {
    for (const auto& [what, args] : calls) {
        const standin::CallResult clean = call(args, nlhs, {});
        ASSERT_FALSE(clean.failed) << what << ": " << clean.error;
        ASSERT_GT(clean.allocationAttempts, 0) << what;
        EXPECT_EQ(clean.heapBlocksOutstanding, 0) << what;
        for (long k = 1; k <= clean.allocationAttempts; ++k) {
            const standin::CallResult r = call(args, nlhs, standin::CallOptions{k});
            const std::string at = what + ", allocation " + std::to_string(k);
            if (r.failed) {
                EXPECT_EQ(r.error, message) << at;
                EXPECT_EQ(r.identifier, identifier) << at;
                EXPECT_TRUE(r.outputs.empty()) << at;
            } else {
                ASSERT_EQ(r.outputs.size(), clean.outputs.size()) << at;
                for (std::size_t i = 0; i < r.outputs.size(); ++i) {
                    EXPECT_EQ(standin::data(r.outputs[i].get()),
                              standin::data(clean.outputs[i].get()))
                        << at;
                }
            }
            EXPECT_EQ(r.heapBlocksOutstanding, 0) << at;
            EXPECT_TRUE(r.faults.empty()) << at;
            EXPECT_TRUE(r.warnings.empty()) << at;
        }
    }
}

// An interrupted call ends with the interrupt message and leaves nothing behind.
inline void expectInterrupted(const standin::CallResult& r, const std::string& message,
                              const std::string& identifier, const std::string& what) {
    EXPECT_TRUE(r.failed) << what;
    EXPECT_TRUE(r.interrupted) << what;
    EXPECT_EQ(r.error, message) << what;
    EXPECT_EQ(r.identifier, identifier) << what;
    EXPECT_EQ(r.heapBlocksOutstanding, 0) << what;
    EXPECT_TRUE(r.faults.empty()) << what;
    EXPECT_TRUE(r.outputs.empty()) << what;
}

// Pulls the first "<flops> FLOPs and <comparisons> comparisons" pair out of a summary.
inline std::pair<unsigned long, unsigned long> printedCounters(const std::string& console) {
    const auto at = console.find(" FLOPs and ");
    if (at == std::string::npos) return {~0ul, ~0ul};
    const auto start = console.rfind('\n', at);
    unsigned long flops = ~0ul;
    unsigned long comparisons = ~0ul;
    const std::string line = console.substr(start == std::string::npos ? 0 : start + 1);
    if (std::sscanf(line.c_str(), "%lu FLOPs and %lu comparisons", &flops, &comparisons) != 2) {
        return {~0ul, ~0ul};
    }
    return {flops, comparisons};
}

}  // namespace testing_support
