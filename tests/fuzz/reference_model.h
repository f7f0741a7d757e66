// Brute-force reference for what a trained node set means: distances computed from scratch with
// the library's pow, the coverage tolerance, and recall by scanning every node. The fuzzers and
// the property tests compare the modules against it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace sphnet_testing {

constexpr double kTolerance = 1e-8;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Where a sum of powers overflowed or left the normal range: the same distance with every
// term divided by the largest one, m * (sum (t_i / m)^p)^(1/p).
inline double referenceRescaledDistance(const double* a, const double* b, std::size_t n, double p) {
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, std::fabs(a[i] - b[i]));
    if (largest == 0.0 || largest == kInf) return largest;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += std::pow(std::fabs(a[i] - b[i]) / largest, p);
    return largest * std::pow(sum, 1.0 / p);
}

// Minkowski distance of order p, summed in index order.
inline double referenceDistance(const double* a, const double* b, std::size_t n, double p) {
    if (p == 1.0) {
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) sum += std::fabs(a[i] - b[i]);
        return sum;
    }
    if (p == kInf) {
        double best = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = std::fabs(a[i] - b[i]);
            if (t > best) best = t;
        }
        return best;
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += std::pow(std::fabs(a[i] - b[i]), p);
    if (std::isnan(sum) || (sum >= std::numeric_limits<double>::min() && std::isfinite(sum)))
        return std::pow(sum, 1.0 / p);
    return referenceRescaledDistance(a, b, n, p);
}

inline bool referenceCovers(double distance, double radius) {
    return !(distance - kTolerance > radius);
}

// Counter cost of one coverage test, as users are told: it depends on p and n only.
struct ReferenceCost {
    std::uint32_t flops;
    std::uint32_t comparisons;
};
inline ReferenceCost referenceCoverageCost(double p, std::uint32_t n) {
    if (p == 1.0) return {2 * n + 1, 1};
    if (p == kInf) return {n + 1, n + 1};
    return {3 * n + 2, 1};
}

// A node set as the node matrix holds it: row j is centre (n values) then radius.
struct ReferenceNodes {
    std::size_t n = 0;
    std::vector<std::vector<double>> rows;
    std::vector<double> labels;
};

struct ReferenceAnswer {
    double label = 0;
    int node = -1;            // 0-based node that decided, -1 for the unknown label
    bool fallback = false;    // no node covered the pattern
    std::uint64_t tests = 0;  // coverage tests a scan in node order makes
};

// First covering node in order; otherwise the nearest centre (ties to the earlier node) when
// nnOption is 1 and there is a node, else the unknown label.
inline ReferenceAnswer referenceRecall(const ReferenceNodes& nodes, const double* x, double p,
                                       int unknownLabel, int nnOption) {
    ReferenceAnswer answer;
    const std::size_t m = nodes.rows.size();
    std::vector<double> distance(m);
    for (std::size_t j = 0; j < m; ++j) {
        distance[j] = referenceDistance(nodes.rows[j].data(), x, nodes.n, p);
        ++answer.tests;
        if (referenceCovers(distance[j], nodes.rows[j][nodes.n])) {
            answer.label = static_cast<std::int32_t>(nodes.labels[j]);
            answer.node = static_cast<int>(j);
            return answer;
        }
    }
    answer.fallback = true;
    if (nnOption == 1 && m > 0) {
        std::size_t best = 0;
        for (std::size_t j = 1; j < m; ++j) {
            if (distance[j] < distance[best]) best = j;
        }
        answer.label = static_cast<std::int32_t>(nodes.labels[best]);
        answer.node = static_cast<int>(best);
    } else {
        answer.label = unknownLabel;
    }
    return answer;
}

}  // namespace sphnet_testing
