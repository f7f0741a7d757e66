#include "classify_patterns.h"

#include <cmath>
#include <cstdint>
#include <thread>

#include "arg_checks.h"
#include "elapsed_clock.h"
#include "host_buffer.h"
#include "mex_host.h"
#include "recall_node_set.h"
#include "sphere_node.h"
#include "work_pacer.h"

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

// Rows of `view` one at a time: room for one row unless there are none.
bool reserveOneRow(RowWindow& window, const RowView& view, int rowCount, int cols) {
    return window.reserve(view, rowCount > 0 ? 1 : 0, cols);
}

// Rebuilds the nodes from the template rows. Null when memory runs out.
SphereNode** buildNodes(const RecallInput& in) {
    RowWindow window;
    if (!reserveOneRow(window, in.templates, in.nodeCount, in.dimension + 1)) return nullptr;
    const auto slots = static_cast<std::size_t>(in.nodeCount > 0 ? in.nodeCount : 1);
    auto** nodes = static_cast<SphereNode**>(mxCalloc(slots, sizeof(SphereNode*)));
    if (nodes == nullptr) return nullptr;
    for (int t = 0; t < in.nodeCount; ++t) {
        const double* row = window.take(in.templates, t, 1)[0];
        nodes[t] = SphereNode::create(row, row[in.dimension], labelToInt(in.nodeLabels[t]));
        if (nodes[t] == nullptr) {
            destroyNodes(nodes, t);
            return nullptr;
        }
    }
    return nodes;
}

// Index of the first node that covers x, or -1. Every node tested keeps its distance.
// kScanStopped when the pacer reports an interrupt first.
int firstCoveringNode(SphereNode* const* nodes, int count, const double* x, ScanPacer& pace) {
    for (int j = 0; j < count; ++j) {
        if (pace.stopsAt(j)) return kScanStopped;
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

// Pattern k's entries of `info`: the node that decided it (-1: none), the distance to it, and
// the census of its covering nodes.
void writeInfo(const RecallInfo& info, int k, int decider, double distance, int covering,
               bool differ) {
    if (info.decidingNode != nullptr) info.decidingNode[k] = decider + 1;
    if (info.distance != nullptr) info.distance[k] = decider >= 0 ? distance : std::nan("");
    if (info.coverCount != nullptr) info.coverCount[k] = covering;
    if (info.labelsDisagree != nullptr) info.labelsDisagree[k] = differ ? 1.0 : 0.0;
}

int decidingNode(int cover, int nearest, bool nearestRule) {
    return cover >= 0 ? cover : nearestRule ? nearest : -1;
}

// The info of a block of patterns, rows[0..count) from `first` on, whose covers and nearest
// nodes are known.
void recordBlockInfo(const RecallNodeSet& set, const double* const* rows, bool nearestRule,
                     int first, int count, const int* cover, const int* nearest,
                     RecallScratch& scratch, const RecallInfo& info) {
    int covering[EuclideanBlockState::kPatterns];
    bool differ[EuclideanBlockState::kPatterns];
    set.coverCensus(rows, count, scratch, covering, differ);
    for (int k = 0; k < count; ++k) {
        const int decider = decidingNode(cover[k], nearest[k], nearestRule);
        const double distance = decider >= 0 ? set.distanceTo(decider, rows[k]) : 0.0;
        writeInfo(info, first + k, decider, distance, covering[k], differ[k]);
    }
}

constexpr int kMaxWorkers = 2;
// Fewer patterns than this are not worth a thread.
constexpr int kParallelMinimum = 4096;

// One cache line each: the threads update their own after every pattern.
struct alignas(64) WorkerTally {
    std::uint64_t tests = 0;
    int fallbacks = 0;
};

// Classifies patterns [begin, end) into results. Reads only the node set and the input; calls
// nothing of the host, so it may run on any thread.
void classifyRange(const RecallNodeSet& set, const RecallInput& in, bool nearestRule, int begin,
                   int end, RecallScratch& scratch, double* results, WorkerTally& tally,
                   const RecallInfo* info) {
    constexpr int kBlock = EuclideanBlockState::kPatterns;
    int cover[kBlock], nearest[kBlock];
    for (int b = begin; b < end; b += kBlock) {
        const int count = end - b < kBlock ? end - b : kBlock;
        const double* const* rows = scratch.patterns.take(in.patterns, b, count);
        set.classifyBlock(rows, count, nearestRule, scratch, cover, nearest, tally.tests);
        if (info != nullptr)
            recordBlockInfo(set, rows, nearestRule, b, count, cover, nearest, scratch, *info);
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

// A pattern's work as the pacer counts it: every node tested in n dimensions, at most.
std::uint64_t termsPerPattern(const RecallInput& in) {
    const std::uint64_t nodes = in.nodeCount > 0 ? static_cast<std::uint64_t>(in.nodeCount) : 1;
    const std::uint64_t n = in.dimension > 0 ? static_cast<std::uint64_t>(in.dimension) : 1;
    return nodes * n;
}

// The fewest patterns a sub-chunk takes: whole groups of the blocked scans' width, as many as
// the pacer's budget holds. Where a pattern's work is large, a sub-chunk of one group exceeds
// the budget.
int blockPatterns(const RecallInput& in) {
    constexpr int kGroup = EuclideanPanels::kGroup;
    const std::uint64_t fit = pollBudget / termsPerPattern(in) / kGroup * kGroup;
    if (fit < static_cast<std::uint64_t>(kGroup)) return kGroup;
    return fit > EuclideanBlockState::kPatterns ? EuclideanBlockState::kPatterns
                                                : static_cast<int>(fit);
}

// The fast recall: same labels, trace lines, summary and counters as the plain loop below.
ProcedureStatus classifyWithNodeSet(const RecallInput& in, HostBlock<double>& resultsOut,
                                    const RecallInfo* info, RecallPaths* paths) {
    RecallNodeSet set;
    if (!set.build(in)) return ProcedureStatus::OutOfMemory;
    const auto slots = static_cast<std::size_t>(in.patternCount > 0 ? in.patternCount : 1);
    HostBlock<double> results(slots);
    // Trace lines come in pattern order from one thread; else the plan may ask for two even
    // for few patterns.
    int workers = 1;
    if (in.oflag <= 1 && in.plan.threads == ThreadUse::Two) {
        workers = kMaxWorkers;
    } else if (in.oflag <= 1 && in.plan.threads == ThreadUse::Auto &&
               in.patternCount >= kParallelMinimum) {
        const unsigned cores = std::thread::hardware_concurrency();
        workers = cores >= kMaxWorkers ? kMaxWorkers : 1;
    }
    RecallScratch scratch[kMaxWorkers];
    bool ok = static_cast<bool>(results);
    constexpr int kBlock = EuclideanBlockState::kPatterns;
    const int blockRows = in.patternCount < kBlock ? in.patternCount : kBlock;
    for (int w = 0; ok && w < workers; ++w) {
        ok = set.takeScratch(scratch[w]) &&
             scratch[w].patterns.reserve(in.patterns, blockRows, in.dimension);
    }
    if (!ok) return ProcedureStatus::OutOfMemory;

    const std::int64_t startSeconds = elapsedClockSeconds();
    const std::uint32_t flopsBefore = opCounters.flops;
    const bool nearestRule = in.nnOption == 1 && in.nodeCount > 0;
    WorkerTally tallies[kMaxWorkers];
    if (in.oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", in.patternCount);
    // Patterns go out in sub-chunks of bounded work; the calling thread polls between its own.
    auto traced = [&](int begin, int end, int) {
        int covers[kBlock], nearests[kBlock];
        for (int k = begin; k < end; ++k) {
            const int at = (k - begin) % kBlock;
            if (at == 0) {
                const int count = end - k < kBlock ? end - k : kBlock;
                const double* const* rows = scratch[0].patterns.take(in.patterns, k, count);
                set.classifyBlock(rows, count, nearestRule, scratch[0], covers, nearests,
                                  tallies[0].tests);
                if (info != nullptr) {
                    recordBlockInfo(set, rows, nearestRule, k, count, covers, nearests, scratch[0],
                                    *info);
                }
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
    };
    auto parallel = [&](int begin, int end, int worker) {
        classifyRange(set, in, nearestRule, begin, end, scratch[worker], results.get(),
                      tallies[worker], info);
    };
    PacedRangeSpec range;
    range.count = in.patternCount;
    range.termsPerItem = termsPerPattern(in) + (in.oflag >= 2 ? kTermsPerTraceLine : 0);
    range.workers = workers;
    // Whole groups of patterns, so that the blocked scans fill their vectors.
    range.minItems = blockPatterns(in);
    WorkPacer pacer;
    const bool interrupted = workers == 1 ? runPacedRange(range, pacer, traced).interrupted
                                          : runPacedRange(range, pacer, parallel).interrupted;

    std::uint64_t tests = 0;
    int fallbackCount = 0;
    for (const WorkerTally& t : tallies) {
        tests += t.tests;
        fallbackCount += t.fallbacks;
    }
    if (paths != nullptr) {
        for (int w = 0; w < workers; ++w) {
            paths->cover |= scratch[w].ranCover;
            paths->nearest |= scratch[w].ranNearest;
            paths->census |= scratch[w].ranCensus;
        }
        paths->precision = set.panelPrecision();
        paths->workers = workers;
    }
    // Every coverage test costs the same: the totals come out as if counted one by one.
    const CoverageCost cost = coverageCost(nodeSettings.p, nodeSettings.n);
    opCounters.flops += cost.flops * static_cast<std::uint32_t>(tests);
    opCounters.comparisons += cost.comparisons * static_cast<std::uint32_t>(tests);
    if (interrupted) return ProcedureStatus::Interrupted;

    hostAddFlops(
        static_cast<unsigned long>(static_cast<std::uint32_t>(opCounters.flops - flopsBefore)));
    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    if (in.oflag >= 1) printSummary(in, fallbackCount, nearestRule, seconds);
    resultsOut = std::move(results);
    return ProcedureStatus::Done;
}

// The literal census of pattern x's covering nodes, on distances that touch no counter.
void literalCensus(SphereNode* const* nodes, int count, const double* x, int& covering,
                   bool& differ) {
    covering = 0;
    differ = false;
    std::int32_t firstLabel = 0;
    for (int j = 0; j < count; ++j) {
        if (minkowskiDistance(nodes[j]->centre, x) - kCoverageTolerance > nodes[j]->radius)
            continue;
        if (covering++ == 0) firstLabel = nodes[j]->label;
        differ = differ || nodes[j]->label != firstLabel;
    }
}

}  // namespace

ProcedureStatus classifyPatterns(const RecallInput& in, HostBlock<double>& resultsOut,
                                 const RecallInfo* info, RecallPaths* paths) {
    configureNodeSettings(in.normType, in.dimension, 0.0);
    if (paths != nullptr) *paths = RecallPaths{};
    if (RecallNodeSet::suits(in)) return classifyWithNodeSet(in, resultsOut, info, paths);
    if (paths != nullptr) paths->workers = 1;
    const OwnedNodes owned{buildNodes(in), in.nodeCount};
    SphereNode* const* nodes = owned.nodes;
    if (nodes == nullptr) return ProcedureStatus::OutOfMemory;
    const auto slots = static_cast<std::size_t>(in.patternCount > 0 ? in.patternCount : 1);
    HostBlock<double> results(slots);
    RowWindow pattern;
    if (!results || !reserveOneRow(pattern, in.patterns, in.patternCount, in.dimension)) {
        return ProcedureStatus::OutOfMemory;
    }

    const std::int64_t startSeconds = elapsedClockSeconds();
    const std::uint32_t flopsBefore = opCounters.flops;
    // With no nodes there is no nearest one: uncovered patterns take the unknown label.
    const bool nearestRule = in.nnOption == 1 && in.nodeCount > 0;
    int fallbackCount = 0;
    if (in.oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", in.patternCount);
    // Polled before the first pattern, then after every budget of work, within a scan too.
    WorkPacer pacer;
    const std::uint64_t lineTerms = in.oflag >= 2 ? kTermsPerTraceLine : 0;
    bool interrupted = pacer.poll();
    for (int k = 0; k < in.patternCount && !interrupted; ++k) {
        if (in.oflag >= 3) mexPrintf("      Pattern #%d is being presented\n", k + 1);
        ScanPacer pace(&pacer, static_cast<std::uint64_t>(in.dimension));
        const double* x = pattern.take(in.patterns, k, 1)[0];
        const int cover = firstCoveringNode(nodes, in.nodeCount, x, pace);
        if (cover == kScanStopped) break;
        const int tests = cover >= 0 ? cover + 1 : in.nodeCount;
        interrupted = pacer.spend(paceTerms(tests - pace.reached(), in.dimension) + lineTerms);
        if (info != nullptr) {
            // The scan has left every node it tested its distance: the cover's, or all of them.
            const int decider = decidingNode(
                cover, cover < 0 && nearestRule ? nearestNode(nodes, in.nodeCount) : -1,
                nearestRule);
            int covering = 0;
            bool differ = false;
            literalCensus(nodes, in.nodeCount, x, covering, differ);
            writeInfo(*info, k, decider, decider >= 0 ? nodes[decider]->lastDistance : 0.0,
                      covering, differ);
        }
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

    if (pacer.interrupted()) return ProcedureStatus::Interrupted;

    // The host's tally gets what this call did; the printed figures are the running totals.
    hostAddFlops(
        static_cast<unsigned long>(static_cast<std::uint32_t>(opCounters.flops - flopsBefore)));
    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    if (in.oflag >= 1) printSummary(in, fallbackCount, nearestRule, seconds);
    resultsOut = std::move(results);
    return ProcedureStatus::Done;
}

}  // namespace sphnet
