#include "classify_patterns.h"

#include <cmath>
#include <cstdint>
#include <thread>

#include "elapsed_clock.h"
#include "host_buffer.h"
#include "literal_search.h"
#include "mex_host.h"
#include "recall_node_set.h"
#include "sphere_node.h"
#include "work_pacer.h"

namespace sphnet {

namespace {

void printSummary(const RecallInput& in, int fallbackCount, bool nearestRule, std::int64_t seconds,
                  const OpCounters& totals) {
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
              static_cast<unsigned long>(totals.flops),
              static_cast<unsigned long>(totals.comparisons), static_cast<int>(seconds));
}

// Pattern k's label: its cover's, else the nearest node's (1-NN rule) or the unknown label;
// from oflag 2 on, with its trace line.
double patternLabel(const RecallSearch& set, const RecallInput& in, int k, int cover, int nearest,
                    bool nearestRule) {
    const bool traced = in.oflag >= 2;
    if (cover >= 0) {
        if (traced) {
            mexPrintf("   Pattern %d inside node #%d (label %d)\n", k + 1, cover + 1,
                      set.labelOf(cover));
        }
        return set.labelOf(cover);
    }
    if (nearestRule) {
        if (traced) {
            mexPrintf("   Pattern %d chose node #%d (label %d) via 1-NN rule\n", k + 1, nearest + 1,
                      set.labelOf(nearest));
        }
        return set.labelOf(nearest);
    }
    if (traced) {
        mexPrintf("   Pattern %d could not be classified (label %d).\n", k + 1, in.unknownLabel);
    }
    return in.unknownLabel;
}

// The info of a block of patterns, rows[0..count) from `first` on, whose covers and nearest
// nodes are known: per pattern the node that decided it (-1: none), the distance to it, and the
// census of its covering nodes.
void recordBlockInfo(const RecallSearch& set, const double* const* rows, bool nearestRule,
                     int first, int count, const int* cover, const int* nearest,
                     RecallScratch& scratch, const RecallInfo& info) {
    int covering[EuclideanBlockState::kPatterns];
    bool differ[EuclideanBlockState::kPatterns];
    set.coverCensus(rows, count, scratch, covering, differ);
    for (int k = 0; k < count; ++k) {
        const int decider = cover[k] >= 0 ? cover[k] : nearestRule ? nearest[k] : -1;
        const int at = first + k;
        if (info.decidingNode != nullptr) info.decidingNode[at] = decider + 1;
        if (info.distance != nullptr)
            info.distance[at] = decider >= 0 ? set.distanceTo(decider, rows[k]) : std::nan("");
        if (info.coverCount != nullptr) info.coverCount[at] = covering[k];
        if (info.labelsDisagree != nullptr) info.labelsDisagree[at] = differ[k] ? 1.0 : 0.0;
    }
}

constexpr int kMaxWorkers = 2;
// Fewer patterns than this are not worth a thread.
constexpr int kParallelMinimum = 4096;

// Trace lines come in pattern order from one thread; else the plan may ask for two even for
// few patterns.
int recallWorkers(const RecallInput& in) {
    if (in.oflag > 1) return 1;
    if (in.plan.threads == ThreadUse::Two) return kMaxWorkers;
    if (in.plan.threads != ThreadUse::Auto || in.patternCount < kParallelMinimum) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= kMaxWorkers ? kMaxWorkers : 1;
}

// One cache line each: the threads update their own after every pattern.
struct alignas(64) WorkerTally {
    std::uint64_t tests = 0;
    int fallbacks = 0;
};

// Classifies patterns [begin, end) into results, by blocks (one pattern at a time where each
// is traced before its scan). Reads only the search and the input, and calls the host only for
// trace lines (oflag 2 and up, where one thread does all), so it may run on any thread.
void classifyRange(const RecallSearch& set, const RecallInput& in, bool nearestRule, int begin,
                   int end, RecallScratch& scratch, double* results, WorkerTally& tally,
                   const RecallInfo* info) {
    constexpr int kMostBlock = EuclideanBlockState::kPatterns;
    const int block = in.oflag >= 3 ? 1 : kMostBlock;
    int cover[kMostBlock], nearest[kMostBlock];
    for (int b = begin; b < end; b += block) {
        const int count = end - b < block ? end - b : block;
        if (in.oflag >= 3) mexPrintf("      Pattern #%d is being presented\n", b + 1);
        const double* const* rows = scratch.patterns.take(in.patterns, b, count);
        set.classifyBlock(rows, count, nearestRule, scratch, cover, nearest, tally.tests);
        int done = 0;  // the patterns before a scan that stopped for an interrupt
        while (done < count && cover[done] != kScanStopped) ++done;
        if (info != nullptr)
            recordBlockInfo(set, rows, nearestRule, b, done, cover, nearest, scratch, *info);
        for (int k = 0; k < done; ++k) {
            if (cover[k] < 0) ++tally.fallbacks;
            results[b + k] = patternLabel(set, in, b + k, cover[k], nearest[k], nearestRule);
        }
        if (done < count) return;
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
    const std::uint64_t fit = in.plan.pollBudget / termsPerPattern(in) / kGroup * kGroup;
    if (fit < static_cast<std::uint64_t>(kGroup)) return kGroup;
    return fit > EuclideanBlockState::kPatterns ? EuclideanBlockState::kPatterns
                                                : static_cast<int>(fit);
}

// Which structures the workers' scans used, for tests that force a plan.
void notePaths(RecallPaths* paths, const RecallSearch& set, const RecallScratch* scratch,
               int workers, const WorkPacer& pacer) {
    if (paths == nullptr) return;
    paths->pacing = pacer.tally();
    for (int w = 0; w < workers; ++w) {
        paths->cover |= scratch[w].ranCover;
        paths->nearest |= scratch[w].ranNearest;
        paths->census |= scratch[w].ranCensus;
    }
    paths->precision = set.panelPrecision();
    paths->workers = workers;
}

// Recall over either search, with the same labels, trace lines, summary and counters. The
// literal scan runs on the calling thread, which it paces within each pattern's scan.
ProcedureStatus classifyWith(const RecallSearch& set, bool literal, const RecallInput& in,
                             HostBlock<double>& resultsOut, const RecallInfo* info,
                             RecallPaths* paths, CallCounters& counters) {
    const auto slots = static_cast<std::size_t>(in.patternCount > 0 ? in.patternCount : 1);
    HostBlock<double> results(slots);
    const int workers = literal ? 1 : recallWorkers(in);
    WorkPacer pacer(in.plan.pollBudget);
    RecallScratch scratch[kMaxWorkers];
    bool ok = static_cast<bool>(results);
    constexpr int kBlock = EuclideanBlockState::kPatterns;
    const int blockRows = in.patternCount < kBlock ? in.patternCount : kBlock;
    for (int w = 0; ok && w < workers; ++w) {
        ok = set.takeScratch(scratch[w]) &&
             scratch[w].patterns.reserve(in.patterns, blockRows, in.dimension);
    }
    if (!ok) return ProcedureStatus::OutOfMemory;
    if (literal) scratch[0].pacer = &pacer;

    const std::int64_t startSeconds = elapsedClockSeconds();
    const bool nearestRule = in.nnOption == 1 && in.nodeCount > 0;
    WorkerTally tallies[kMaxWorkers];
    if (in.oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", in.patternCount);
    // Patterns go out in sub-chunks of bounded work; the calling thread polls between its own.
    auto body = [&](int begin, int end, int worker) {
        classifyRange(set, in, nearestRule, begin, end, scratch[worker], results.get(),
                      tallies[worker], info);
    };
    PacedRangeSpec range;
    range.count = in.patternCount;
    range.termsPerItem = termsPerPattern(in) + (in.oflag >= 2 ? kTermsPerTraceLine : 0);
    range.workers = workers;
    // Whole groups of patterns, so that the blocked scans fill their vectors.
    range.minItems = literal ? 1 : blockPatterns(in);
    const bool interrupted = runPacedRange(range, pacer, body).interrupted;

    std::uint64_t tests = 0;
    int fallbackCount = 0;
    for (const WorkerTally& t : tallies) {
        tests += t.tests;
        fallbackCount += t.fallbacks;
    }
    notePaths(paths, set, scratch, workers, pacer);
    counters.counts.addCoverageTests(in.normType, in.dimension, static_cast<std::uint32_t>(tests));
    if (interrupted) return ProcedureStatus::Interrupted;
    // Ran through: the host's tally gets what this call did, the summary prints the running
    // totals, and the labels become the caller's.
    hostAddFlops(static_cast<unsigned long>(counters.counts.flops));
    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    if (in.oflag >= 1) printSummary(in, fallbackCount, nearestRule, seconds, counters.totals());
    resultsOut = std::move(results);
    return ProcedureStatus::Done;
}

}  // namespace

ProcedureStatus classifyPatterns(const RecallInput& in, HostBlock<double>& resultsOut,
                                 const RecallInfo* info, RecallPaths* paths) {
    CallCounters counters;  // into the running totals by the summary, or when the call ends
    if (paths != nullptr) *paths = RecallPaths{};
    if (RecallNodeSet::reproducesLiteralScan(in)) {
        RecallNodeSet set;
        if (!set.build(in, info != nullptr)) return ProcedureStatus::OutOfMemory;
        return classifyWith(set, false, in, resultsOut, info, paths, counters);
    }
    LiteralRecallSearch literal;
    if (!literal.build(in)) return ProcedureStatus::OutOfMemory;
    return classifyWith(literal, true, in, resultsOut, info, paths, counters);
}

}  // namespace sphnet
