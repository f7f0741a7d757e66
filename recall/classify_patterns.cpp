#include "classify_patterns.h"

#include <cstdint>

#include "arg_checks.h"
#include "elapsed_clock.h"
#include "mex_host.h"
#include "sphere_node.h"

namespace sphnet {

namespace {

void destroyNodes(SphereNode** nodes, int count) {
    for (int t = 0; t < count; ++t) SphereNode::destroy(nodes[t]);
    mxFree(nodes);
}

// Rebuilds the nodes from the template rows. Null when memory runs out.
SphereNode** buildNodes(const RecallInput& in) {
    const auto slots = static_cast<std::size_t>(in.nodeCount > 0 ? in.nodeCount : 1);
    auto** nodes = static_cast<SphereNode**>(mxCalloc(slots, sizeof(SphereNode*)));
    if (nodes == nullptr) return nullptr;
    for (int t = 0; t < in.nodeCount; ++t) {
        const double* row = in.templates[t];
        nodes[t] = SphereNode::create(row, row[in.dimension], labelToInt(in.nodeLabels[t]));
        if (nodes[t] == nullptr) {
            destroyNodes(nodes, t);
            return nullptr;
        }
    }
    return nodes;
}

// Index of the first node that covers x, or -1. Every node tested keeps its distance.
int firstCoveringNode(SphereNode* const* nodes, int count, const double* x) {
    for (int j = 0; j < count; ++j) {
        if (nodes[j]->testCoverage(x) != 0) return j;
    }
    return -1;
}

// Nearest centre by the distances the coverage scan left behind; ties keep the earlier node.
int nearestNode(SphereNode* const* nodes, int count) {
    int best = 0;
    for (int j = 1; j < count; ++j) {
        if (nodes[j]->lastDistance < nodes[best]->lastDistance) best = j;
    }
    return best;
}

void printSummary(const RecallInput& in, int fallbackCount, bool nearestRule,
                  std::int64_t seconds) {
    mexPrintf("\nRCE performance phase summary\n");
    if (fallbackCount != 0) {
        if (nearestRule) {
            mexPrintf("Classified %d patterns using 1-NN rule ", fallbackCount);
        } else {
            mexPrintf("unable to classify %d patterns ", fallbackCount);
        }
        mexPrintf("(%f%%)\n", fallbackCount * 100.0 / in.patternCount);
    }
    mexPrintf("%lu FLOPs and %lu comparisons in %d seconds\n\n",
              static_cast<unsigned long>(opCounters.flops),
              static_cast<unsigned long>(opCounters.comparisons), static_cast<int>(seconds));
}

}  // namespace

ProcedureStatus classifyPatterns(const RecallInput& in, double** resultsOut) {
    configureNodeSettings(in.normType, in.dimension, 0.0);
    SphereNode** nodes = buildNodes(in);
    if (nodes == nullptr) return ProcedureStatus::OutOfMemory;
    const auto slots = static_cast<std::size_t>(in.patternCount > 0 ? in.patternCount : 1);
    auto* results = static_cast<double*>(mxCalloc(slots, sizeof(double)));
    if (results == nullptr) {
        destroyNodes(nodes, in.nodeCount);
        return ProcedureStatus::OutOfMemory;
    }

    const std::int64_t startSeconds = elapsedClockSeconds();
    const std::uint32_t flopsBefore = opCounters.flops;
    // With no nodes there is no nearest one: uncovered patterns take the unknown label.
    const bool nearestRule = in.nnOption == 1 && in.nodeCount > 0;
    int fallbackCount = 0;
    if (in.oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", in.patternCount);
    for (int k = 0; k < in.patternCount; ++k) {
        if (hostInterruptPending()) {
            mxFree(results);
            destroyNodes(nodes, in.nodeCount);
            return ProcedureStatus::Interrupted;
        }
        if (in.oflag >= 3) mexPrintf("      Pattern #%d is being presented\n", k + 1);
        const int cover = firstCoveringNode(nodes, in.nodeCount, in.patterns[k]);
        if (cover >= 0) {
            results[k] = nodes[cover]->label;
            if (in.oflag >= 2) {
                mexPrintf("   Pattern %d inside node #%d (label %d)\n", k + 1, cover + 1,
                          nodes[cover]->label);
            }
            continue;
        }
        ++fallbackCount;
        if (nearestRule) {
            const int best = nearestNode(nodes, in.nodeCount);
            results[k] = nodes[best]->label;
            if (in.oflag >= 2) {
                mexPrintf("   Pattern %d chose node #%d (label %d) via 1-NN rule\n", k + 1,
                          best + 1, nodes[best]->label);
            }
        } else {
            results[k] = in.unknownLabel;
            if (in.oflag >= 2) {
                mexPrintf("   Pattern %d could not be classified (label %d).\n", k + 1,
                          in.unknownLabel);
            }
        }
    }

    // The host's tally gets what this call did; the printed figures are the running totals.
    hostAddFlops(static_cast<unsigned long>(static_cast<std::uint32_t>(opCounters.flops - flopsBefore)));
    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    if (in.oflag >= 1) printSummary(in, fallbackCount, nearestRule, seconds);
    destroyNodes(nodes, in.nodeCount);
    *resultsOut = results;
    return ProcedureStatus::Done;
}

}  // namespace sphnet
