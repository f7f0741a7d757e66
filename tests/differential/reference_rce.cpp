#include "reference_rce.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace reference {

namespace {

constexpr double kTolerance = 1e-8;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

void print(std::string& out, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    out += buffer;
}

std::int32_t toLabel(double label) {
    return static_cast<std::int32_t>(label);
}

struct Node {
    std::int32_t label = 0;
    std::vector<double> centre;
    double radius = 0.0;
    double lastDistance = 0.0;
    int inside = 0;
};

// The node operations, reading one call's settings and advancing its counters.
struct Network {
    int n = 0;
    double p = 1.0;
    double pInv = 1.0;
    double margin = 0.0;
    Counters counters;

    int testCoverage(Node& node, const double* x) {
        double d = 0.0;
        if (p == 1.0) {
            counters.flops += 2u * static_cast<std::uint32_t>(n) + 1u;
            counters.comparisons += 1u;
            for (int i = 0; i < n; ++i) d += std::fabs(node.centre[i] - x[i]);
        } else if (p == kInfinity) {
            counters.flops += static_cast<std::uint32_t>(n) + 1u;
            counters.comparisons += static_cast<std::uint32_t>(n) + 1u;
            for (int i = 0; i < n; ++i) {
                const double t = std::fabs(node.centre[i] - x[i]);
                if (t > d) d = t;
            }
        } else {
            counters.flops += 3u * static_cast<std::uint32_t>(n) + 2u;
            counters.comparisons += 1u;
            double sum = 0.0;
            for (int i = 0; i < n; ++i) sum += std::pow(std::fabs(node.centre[i] - x[i]), p);
            const bool normal = sum >= std::numeric_limits<double>::min() &&
                                sum <= std::numeric_limits<double>::max();
            d = normal || std::isnan(sum) ? std::pow(sum, pInv) : rescaled(node.centre.data(), x);
        }
        node.lastDistance = d;
        node.inside = d - kTolerance > node.radius ? 0 : 1;
        return node.inside;
    }

    // Where the sum of powers overflowed or fell below the normal range: every term divided by
    // the largest, m * (sum (t_i / m)^p)^(1/p); an infinite difference makes the distance +Inf.
    double rescaled(const double* c, const double* x) const {
        double largest = 0.0;
        for (int i = 0; i < n; ++i) largest = std::max(largest, std::fabs(c[i] - x[i]));
        if (largest == 0.0 || largest == kInfinity) return largest;
        double sum = 0.0;
        for (int i = 0; i < n; ++i) sum += std::pow(std::fabs(c[i] - x[i]) / largest, p);
        return largest * std::pow(sum, pInv);
    }

    // 0 no change, 1 node shrunk, 2 new radius shrunk, 3 both shrunk.
    int resolveConflict(Node& node, double& r) {
        const double d = node.lastDistance;
        const double m = margin;
        if (node.inside == 1) {
            const double h = (d - m) * 0.5;
            if (r >= h) {
                node.radius = h;
                r = h;
                counters.flops += 2;
                counters.comparisons += 1;
                return 3;
            }
            node.radius = (d - m) - r;
            counters.flops += 3;
            counters.comparisons += 1;
            return 1;
        }
        if (d >= r + (node.radius + m)) return 0;
        r = d - (node.radius + m);
        counters.flops += 3;
        counters.comparisons += 1;
        return 2;
    }

    void configure(double normType, int dimension, double m) {
        p = normType;
        pInv = normType == kInfinity ? 0.0 : 1.0 / normType;
        n = dimension;
        margin = m;
    }
};

void printSummaryLine(std::string& out, const Counters& c) {
    print(out, "%lu FLOPs and %lu comparisons in %d seconds\n\n",
          static_cast<unsigned long>(c.flops), static_cast<unsigned long>(c.comparisons), 0);
}

// Nodes from rows of centre and radius, with their labels.
std::vector<Node> nodesOf(const std::vector<std::vector<double>>& rows,
                          const std::vector<double>& labels, int dimension) {
    std::vector<Node> nodes(rows.size());
    for (std::size_t j = 0; j < rows.size(); ++j) {
        nodes[j].label = toLabel(labels[j]);
        nodes[j].centre.assign(rows[j].begin(), rows[j].begin() + dimension);
        nodes[j].radius = rows[j][dimension];
    }
    return nodes;
}

}  // namespace

TrainingResult learn(const TrainingProblem& in, Counters counters) {
    Network net;
    net.configure(in.p, in.dimension, in.margin);
    net.counters = counters;
    TrainingResult res;
    std::string& out = res.console;
    std::vector<Node> nodes = nodesOf(in.startNodes, in.startLabels, in.dimension);
    const int N = static_cast<int>(in.patterns.size());
    int presentations = 0;
    bool createdNone = true;
    do {
        ++presentations;
        createdNone = true;
        if (in.oflag >= 2) print(out, "\nList presentation #%d:\n", presentations);
        for (int k = 0; k < N; ++k) {
            const double* x = in.patterns[k].data();
            const double label = in.labels[k];
            double r = in.rMax;
            bool classified = false;
            if (in.oflag >= 3) print(out, "      Pattern #%d is being presented\n", k + 1);
            const int existing = static_cast<int>(nodes.size());
            for (int j = 0; j < existing; ++j) {
                Node& node = nodes[j];
                if (static_cast<double>(node.label) == label) {
                    if (net.testCoverage(node, x) != 0) {
                        if (in.oflag >= 2) {
                            print(out,
                                  "   Pattern #%d classified correctly by category #%d (both of "
                                  "label=%d)\n",
                                  k + 1, j + 1, node.label);
                        }
                        classified = true;
                        break;
                    }
                    if (in.oflag >= 3) {
                        print(out, "   Pattern #%d lies outside category #%d (both of label=%d)\n",
                              k + 1, j + 1, node.label);
                    }
                    continue;
                }
                const bool inside = net.testCoverage(node, x) != 0;
                if (inside && in.oflag >= 3) {
                    print(out, "   Pattern #%d (label %d) lies inside category #%d (label %d)\n",
                          k + 1, toLabel(label), j + 1, node.label);
                }
                const int outcome = net.resolveConflict(node, r);
                if (in.oflag >= 3) {
                    if (inside) {
                        if (outcome == 1) {
                            print(out, "      Category #%d shrunk\n", j + 1);
                        } else if (outcome == 3) {
                            print(out, "      Category #%d and new node radius shrunk\n", j + 1);
                        } else {
                            print(out, "      This should had never happened!\n");
                        }
                    } else if (outcome == 2) {
                        print(out, "      New node radius shrunk\n");
                    } else if (outcome != 0) {
                        print(out, "   This should had never happened!\n");
                    }
                }
            }
            if (classified) continue;
            Node created;
            created.label = toLabel(label);
            created.centre.assign(x, x + in.dimension);
            created.radius = r;
            nodes.push_back(created);
            createdNone = false;
            if (in.oflag >= 2) {
                print(out, "   Pattern #%d created node #%d (label %d)", k + 1,
                      static_cast<int>(nodes.size()), created.label);
            }
        }
    } while (presentations < in.maxPresentations && !createdNone);
    if (createdNone) --presentations;

    const int nodeCount = static_cast<int>(nodes.size());
    if (in.oflag >= 1) {
        print(out, "\nRCE training ");
        print(out, createdNone ? "converged " : "stopped ");
        if (presentations == 1) {
            print(out, "after %d list presentation\n", presentations);
        } else {
            print(out, "after %d list presentations\n", presentations);
        }
        print(out, "Training set contained %d training patterns\n", N);
        const std::int64_t nodeValues = (static_cast<std::int64_t>(in.dimension) + 1) * nodeCount;
        const std::int64_t patternValues = static_cast<std::int64_t>(N) * in.dimension;
        const double pct =
            patternValues == 0
                ? 0.0
                : (1.0 - static_cast<double>(nodeValues) / static_cast<double>(patternValues)) *
                      100.0;
        if (nodeCount == 1) {
            print(out, "%d node created (%f%% ", nodeCount, std::fabs(pct));
        } else {
            print(out, "%d nodes created (%f%% ", nodeCount, std::fabs(pct));
        }
        print(out, pct >= 0 ? "compression)\n" : "inflation)\n");
        printSummaryLine(out, net.counters);
    }
    for (const Node& node : nodes) {
        std::vector<double> row = node.centre;
        row.push_back(node.radius);
        res.nodes.push_back(row);
        res.labels.push_back(static_cast<double>(node.label));
    }
    res.presentations = presentations;
    res.counters = net.counters;
    return res;
}

RecallResult recall(const RecallProblem& in, Counters counters) {
    Network net;
    net.configure(in.p, in.dimension, 0.0);
    net.counters = counters;
    RecallResult res;
    std::string& out = res.console;
    std::vector<Node> nodes = nodesOf(in.templates, in.nodeLabels, in.dimension);
    const int M = static_cast<int>(nodes.size());
    const int P = static_cast<int>(in.patterns.size());
    const std::uint32_t flopsBefore = net.counters.flops;
    const bool nearestRule = in.nnOption == 1 && M > 0;
    int fallbackCount = 0;
    Network census;  // every node's coverage, on counters of its own
    census.configure(in.p, in.dimension, 0.0);
    // Runs after the pattern's label is decided: its distances serve nothing else.
    auto takeCensus = [&](const double* x, int decider) {
        if (!in.census) return;
        res.decidingNode.push_back(decider + 1);
        res.distance.push_back(decider >= 0 ? nodes[decider].lastDistance : std::nan(""));
        int covering = 0;
        bool differ = false;
        std::int32_t first = 0;
        for (int j = 0; j < M; ++j) {
            if (census.testCoverage(nodes[j], x) == 0) continue;
            if (covering++ == 0) first = nodes[j].label;
            differ = differ || nodes[j].label != first;
        }
        res.coverCount.push_back(covering);
        res.labelsDisagree.push_back(differ ? 1 : 0);
    };
    if (in.oflag >= 2) print(out, "\nList presentation of %d patterns:\n", P);
    for (int k = 0; k < P; ++k) {
        const double* x = in.patterns[k].data();
        if (in.oflag >= 3) print(out, "      Pattern #%d is being presented\n", k + 1);
        int cover = -1;
        for (int j = 0; j < M; ++j) {
            if (net.testCoverage(nodes[j], x) != 0) {
                cover = j;
                break;
            }
        }
        if (cover >= 0) {
            res.labels.push_back(nodes[cover].label);
            if (in.oflag >= 2) {
                print(out, "   Pattern %d inside node #%d (label %d)\n", k + 1, cover + 1,
                      nodes[cover].label);
            }
            takeCensus(x, cover);
            continue;
        }
        ++fallbackCount;
        if (nearestRule) {
            int best = 0;
            for (int j = 1; j < M; ++j) {
                if (nodes[j].lastDistance < nodes[best].lastDistance) best = j;
            }
            res.labels.push_back(nodes[best].label);
            if (in.oflag >= 2) {
                print(out, "   Pattern %d chose node #%d (label %d) via 1-NN rule\n", k + 1,
                      best + 1, nodes[best].label);
            }
            takeCensus(x, best);
        } else {
            res.labels.push_back(in.unknownLabel);
            if (in.oflag >= 2) {
                print(out, "   Pattern %d could not be classified (label %d).\n", k + 1,
                      in.unknownLabel);
            }
            takeCensus(x, -1);
        }
    }
    res.addedFlops = net.counters.flops - flopsBefore;
    if (in.oflag >= 1) {
        print(out, "\nRCE performance phase summary\n");
        if (fallbackCount != 0) {
            if (nearestRule) {
                print(out, "Classified %d patterns using 1-NN rule ", fallbackCount);
            } else {
                print(out, "unable to classify %d patterns ", fallbackCount);
            }
            print(out, "(%f%%)\n", fallbackCount * 100.0 / P);
        }
        printSummaryLine(out, net.counters);
    }
    res.counters = net.counters;
    return res;
}

}  // namespace reference
