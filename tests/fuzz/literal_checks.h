// Comparisons of a call's outputs with the literal trainer and classifier
// (tests/differential/reference_rce.*), shared by the drivers that call the procedures through
// the model interface and the Python layer. Values must agree bit for bit; NaN matches NaN.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "reference_rce.h"

namespace sphnet_fuzz {

inline bool sameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// `count` rows of `width` values from column-major data.
inline std::vector<std::vector<double>> rowsOf(const double* columnMajor, std::size_t count,
                                               std::size_t width) {
    // Row by row: no row is made when there are none, however wide (n may be near 2^31).
    std::vector<std::vector<double>> rows(count);
    for (std::size_t k = 0; k < count; ++k) {
        rows[k].resize(width);
        for (std::size_t i = 0; i < width; ++i) rows[k][i] = columnMajor[i * count + k];
    }
    return rows;
}

// "" when the node set (k x (n + 1) column-major, labels, passes) is the literal trainer's.
inline std::string differenceFromLiteral(const reference::TrainingProblem& problem,
                                         const double* nodes, std::size_t k, const double* labels,
                                         double presentations) {
    const reference::TrainingResult literal = reference::learn(problem, {});
    if (literal.nodes.size() != k)
        return "node count " + std::to_string(k) + ", the literal trainer's " +
               std::to_string(literal.nodes.size());
    if (literal.presentations != presentations)
        return "presentations differ from the literal trainer's";
    const std::size_t width = static_cast<std::size_t>(problem.dimension) + 1;
    for (std::size_t j = 0; j < k; ++j) {
        bool same = sameValue(labels[j], literal.labels[j]);
        for (std::size_t i = 0; i < width; ++i)
            same = same && sameValue(nodes[i * k + j], literal.nodes[j][i]);
        if (!same) return "node " + std::to_string(j + 1) + " differs from the literal trainer's";
    }
    return "";
}

// "" when the labels (and each info field given, null: not asked) are the literal classifier's.
inline std::string differenceFromLiteral(const reference::RecallProblem& problem,
                                         const double* labels, const double* const info[4]) {
    const reference::RecallResult literal = reference::recall(problem, {});
    const std::vector<double>* fields[4] = {&literal.decidingNode, &literal.distance,
                                            &literal.coverCount, &literal.labelsDisagree};
    static const char* const names[4] = {"deciding node", "distance", "cover count",
                                         "labels disagree"};
    for (std::size_t k = 0; k < problem.patterns.size(); ++k) {
        if (!sameValue(labels[k], literal.labels[k]))
            return "pattern " + std::to_string(k + 1) + ": label " + std::to_string(labels[k]) +
                   ", the literal " + std::to_string(literal.labels[k]);
        for (int f = 0; f < 4; ++f) {
            if (info != nullptr && info[f] != nullptr && !sameValue(info[f][k], (*fields[f])[k]))
                return "pattern " + std::to_string(k + 1) + ": " + names[f] + " " +
                       std::to_string(info[f][k]) + ", the literal " +
                       std::to_string((*fields[f])[k]);
        }
    }
    return "";
}

}  // namespace sphnet_fuzz
