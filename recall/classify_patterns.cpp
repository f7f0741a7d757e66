#include "classify_patterns.h"

#include <cstdint>
#include <system_error>
#include <thread>

#include "arg_checks.h"
#include "elapsed_clock.h"
#include "host_buffer.h"
#include "mex_host.h"
#include "recall_node_set.h"
#include "sphere_node.h"

namespace sphnet {

namespace {

void destroyNodes(SphereNode** nodes, int count) {
    for (int t = 0; t < count; ++t) SphereNode::destroy(nodes[t]);
    mxFree(nodes);
}

// The rebuilt nodes, destroyed with their owner.
struct OwnedNodes {
    SphereNode** nodes;
    int count;
    OwnedNodes(SphereNode** built, int builtCount) : nodes(built), count(builtCount) {}
    OwnedNodes(const OwnedNodes&) = delete;
    OwnedNodes& operator=(const OwnedNodes&) = delete;
    ~OwnedNodes() {
        if (nodes != nullptr) destroyNodes(nodes, count);
    }
};

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

// Patterns are handed to the worker threads in chunks; the calling thread polls for an
// interrupt once per pattern before each chunk, as the plain loop does before each pattern.
constexpr int kChunk = 1 << 16;
constexpr int kMaxWorkers = 2;
// Fewer patterns than this are not worth a thread.
constexpr int kParallelMinimum = 4096;

struct WorkerTally {
    std::uint64_t tests = 0;
    int fallbacks = 0;
};

// Classifies patterns [begin, end) into results. Reads only the node set and the input; calls
// nothing of the host, so it may run on any thread.
void classifyRange(const RecallNodeSet& set, const RecallInput& in, bool nearestRule, int begin,
                   int end, RecallScratch& scratch, double* results, WorkerTally& tally) {
    constexpr int kBlock = EuclideanBlockState::kPatterns;
    int cover[kBlock], nearest[kBlock];
    for (int b = begin; b < end; b += kBlock) {
        const int count = end - b < kBlock ? end - b : kBlock;
        set.classifyBlock(in.patterns + b, count, nearestRule, scratch, cover, nearest, tally.tests);
        for (int k = 0; k < count; ++k) {
            if (cover[k] >= 0) {
                results[b + k] = set.labelOf(cover[k]);
                continue;
            }
            ++tally.fallbacks;
            results[b + k] = nearestRule ? set.labelOf(nearest[k]) : in.unknownLabel;
        }
    }
}

// Splits [begin, end) among the workers; the calling thread takes the first share. Should a
// thread not start, the calling thread does that share too.
void classifyInParallel(const RecallNodeSet& set, const RecallInput& in, bool nearestRule,
                        int begin, int end, RecallScratch* scratch, int workers, double* results,
                        WorkerTally* tallies) {
    std::thread threads[kMaxWorkers];
    bool started[kMaxWorkers] = {};
    const int share = (end - begin + workers - 1) / workers;
    for (int w = 1; w < workers; ++w) {
        const int b = begin + w * share < end ? begin + w * share : end;
        const int e = b + share < end ? b + share : end;
        try {
            threads[w] = std::thread(classifyRange, std::cref(set), std::cref(in), nearestRule, b,
                                     e, std::ref(scratch[w]), results, std::ref(tallies[w]));
            started[w] = true;
        } catch (...) {
            started[w] = false;
        }
    }
    classifyRange(set, in, nearestRule, begin, begin + share < end ? begin + share : end,
                  scratch[0], results, tallies[0]);
    for (int w = 1; w < workers; ++w) {
        const int b = begin + w * share < end ? begin + w * share : end;
        const int e = b + share < end ? b + share : end;
        if (started[w]) {
            threads[w].join();
        } else {
            classifyRange(set, in, nearestRule, b, e, scratch[0], results, tallies[0]);
        }
    }
}

// The fast recall: same labels, trace lines, summary and counters as the plain loop below.
ProcedureStatus classifyWithNodeSet(const RecallInput& in, double** resultsOut) {
    RecallNodeSet set;
    if (!set.build(in)) return ProcedureStatus::OutOfMemory;
    const auto slots = static_cast<std::size_t>(in.patternCount > 0 ? in.patternCount : 1);
    HostBlock<double> results(slots);
    int workers = 1;
    if (in.oflag <= 1 && in.patternCount >= kParallelMinimum) {
        const unsigned cores = std::thread::hardware_concurrency();
        workers = cores >= kMaxWorkers ? kMaxWorkers : 1;
    }
    RecallScratch scratch[kMaxWorkers];
    bool ok = static_cast<bool>(results);
    for (int w = 0; ok && w < workers; ++w) ok = set.takeScratch(scratch[w]);
    if (!ok) return ProcedureStatus::OutOfMemory;

    const std::int64_t startSeconds = elapsedClockSeconds();
    const std::uint32_t flopsBefore = opCounters.flops;
    const bool nearestRule = in.nnOption == 1 && in.nodeCount > 0;
    WorkerTally tallies[kMaxWorkers];
    bool interrupted = false;
    if (in.oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", in.patternCount);
    if (workers == 1) {
        constexpr int kBlock = EuclideanBlockState::kPatterns;
        int covers[kBlock], nearests[kBlock];
        for (int k = 0; k < in.patternCount; ++k) {
            if (hostInterruptPending()) {
                interrupted = true;
                break;
            }
            const int at = k % kBlock;
            if (at == 0) {
                const int count = in.patternCount - k < kBlock ? in.patternCount - k : kBlock;
                set.classifyBlock(in.patterns + k, count, nearestRule, scratch[0], covers, nearests,
                                  tallies[0].tests);
            }
            const int cover = covers[at];
            const int nearest = nearests[at];
            if (cover >= 0) {
                results[k] = set.labelOf(cover);
                if (in.oflag >= 2) {
                    mexPrintf("   Pattern %d inside node #%d (label %d)\n", k + 1, cover + 1,
                              set.labelOf(cover));
                }
                continue;
            }
            ++tallies[0].fallbacks;
            if (nearestRule) {
                results[k] = set.labelOf(nearest);
                if (in.oflag >= 2) {
                    mexPrintf("   Pattern %d chose node #%d (label %d) via 1-NN rule\n", k + 1,
                              nearest + 1, set.labelOf(nearest));
                }
            } else {
                results[k] = in.unknownLabel;
                if (in.oflag >= 2) {
                    mexPrintf("   Pattern %d could not be classified (label %d).\n", k + 1,
                              in.unknownLabel);
                }
            }
        }
    } else {
        for (int begin = 0; begin < in.patternCount && !interrupted; begin += kChunk) {
            int end = in.patternCount - begin > kChunk ? begin + kChunk : in.patternCount;
            for (int k = begin; k < end; ++k) {
                if (hostInterruptPending()) {
                    end = k;
                    interrupted = true;
                    break;
                }
            }
            classifyInParallel(set, in, nearestRule, begin, end, scratch, workers, results.get(),
                               tallies);
        }
    }

    std::uint64_t tests = 0;
    int fallbackCount = 0;
    for (const WorkerTally& t : tallies) {
        tests += t.tests;
        fallbackCount += t.fallbacks;
    }
    // Every coverage test costs the same: the totals come out as if counted one by one.
    const CoverageCost cost = coverageCost(nodeSettings.p, nodeSettings.n);
    opCounters.flops += cost.flops * static_cast<std::uint32_t>(tests);
    opCounters.comparisons += cost.comparisons * static_cast<std::uint32_t>(tests);
    if (interrupted) return ProcedureStatus::Interrupted;

    hostAddFlops(static_cast<unsigned long>(static_cast<std::uint32_t>(opCounters.flops - flopsBefore)));
    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    if (in.oflag >= 1) printSummary(in, fallbackCount, nearestRule, seconds);
    *resultsOut = results.take();  // the caller's from here
    return ProcedureStatus::Done;
}

}  // namespace

ProcedureStatus classifyPatterns(const RecallInput& in, double** resultsOut) {
    configureNodeSettings(in.normType, in.dimension, 0.0);
    if (RecallNodeSet::suits(in)) return classifyWithNodeSet(in, resultsOut);
    const OwnedNodes owned{buildNodes(in), in.nodeCount};
    SphereNode* const* nodes = owned.nodes;
    if (nodes == nullptr) return ProcedureStatus::OutOfMemory;
    const auto slots = static_cast<std::size_t>(in.patternCount > 0 ? in.patternCount : 1);
    HostBlock<double> results(slots);
    if (!results) return ProcedureStatus::OutOfMemory;

    const std::int64_t startSeconds = elapsedClockSeconds();
    const std::uint32_t flopsBefore = opCounters.flops;
    // With no nodes there is no nearest one: uncovered patterns take the unknown label.
    const bool nearestRule = in.nnOption == 1 && in.nodeCount > 0;
    int fallbackCount = 0;
    if (in.oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", in.patternCount);
    for (int k = 0; k < in.patternCount; ++k) {
        if (hostInterruptPending()) return ProcedureStatus::Interrupted;
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
    *resultsOut = results.take();  // the caller's from here
    return ProcedureStatus::Done;
}

}  // namespace sphnet
