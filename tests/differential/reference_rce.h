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
    // The node list starts with these (centre, then radius), in order.
    std::vector<std::vector<double>> startNodes;
    std::vector<double> startLabels;
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
    bool census = true;  // also count every node that covers each pattern (the info fields)
};

struct RecallResult {
    std::vector<double> labels;
    std::string console;
    Counters counters;
    std::uint32_t addedFlops = 0;  // what the call hands to the host's FLOP tally
    // Per pattern: the node that decided its label (1-based; 0: none), the distance to it (NaN:
    // none), how many nodes cover it, and 1 where the covering nodes' labels differ.
    std::vector<double> decidingNode, distance, coverCount, labelsDisagree;
};

RecallResult recall(const RecallProblem& problem, Counters counters);

}  // namespace reference
