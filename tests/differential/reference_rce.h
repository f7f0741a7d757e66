// A plain, literal RCE trainer and classifier kept beside the tests and benchmarks: every
// pattern is tested against every node in order, with the general distance formula. The
// shipped procedures must reproduce its outputs, console text and counters exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reference {

struct Counters {
    std::uint32_t flops = 0;
    std::uint32_t comparisons = 0;
};

struct TrainingProblem {
    int dimension = 0;
    std::vector<std::vector<double>> patterns;  // N rows of `dimension` values
    std::vector<double> labels;
    double p = 2.0;
    double rMax = 1.0;
    double margin = 0.0;
    int maxPresentations = 1;
    int oflag = 0;
};

struct TrainingResult {
    std::vector<std::vector<double>> nodes;  // centre, then radius
    std::vector<double> labels;
    int presentations = 0;
    std::string console;  // the summary prints "0 seconds"
    Counters counters;    // running totals after the call
};

// `counters` holds the module's totals before the call.
TrainingResult learn(const TrainingProblem& problem, Counters counters);

struct RecallProblem {
    int dimension = 0;
    std::vector<std::vector<double>> templates;  // centre, then radius
    std::vector<double> nodeLabels;
    double p = 2.0;
    std::vector<std::vector<double>> patterns;
    int unknownLabel = 0;
    int nnOption = 0;
    int oflag = 0;
};

struct RecallResult {
    std::vector<double> labels;
    std::string console;
    Counters counters;
    std::uint32_t addedFlops = 0;  // what the call hands to the host's FLOP tally
};

RecallResult recall(const RecallProblem& problem, Counters counters);

}  // namespace reference
