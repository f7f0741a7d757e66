#include "learn_prototypes.h"

#include <chrono>
#include <cmath>
#include <cstdint>

#include "arg_checks.h"
#include "elapsed_clock.h"
#include "host_buffer.h"
#include "literal_search.h"
#include "mex_host.h"
#include "sphere_node.h"
#include "training_node_set.h"
#include "work_pacer.h"

namespace sphnet {

namespace {

void printSummary(const TrainingInput& in, int nodeCount, int presentations, bool converged,
                  std::int64_t seconds, const OpCounters& totals) {
    mexPrintf("\nRCE training ");
    mexPrintf(converged ? "converged " : "stopped ");
    mexPrintf("after %d list presentation%s\n", presentations, presentations == 1 ? "" : "s");
    mexPrintf("Training set contained %d training patterns\n", in.patternCount);
    // Products in 64 bits: large sets must not wrap into a meaningless figure. With no
    // coordinates at all there is nothing to compress, and the figure is 0.
    const std::int64_t nodeValues = (static_cast<std::int64_t>(in.dimension) + 1) * nodeCount;
    const std::int64_t patternValues = static_cast<std::int64_t>(in.patternCount) * in.dimension;
    const double pct =
        patternValues == 0
            ? 0.0
            : (1.0 - static_cast<double>(nodeValues) / static_cast<double>(patternValues)) * 100.0;
    mexPrintf("%d node%s created (%f%% ", nodeCount, nodeCount == 1 ? "" : "s", std::fabs(pct));
    mexPrintf(pct >= 0 ? "compression)\n" : "inflation)\n");
    mexPrintf("%lu FLOPs and %lu comparisons in %d seconds\n\n",
              static_cast<unsigned long>(totals.flops),
              static_cast<unsigned long>(totals.comparisons), static_cast<int>(seconds));
}

// A pass's progress line, shown at once: patterns that made a node are those still uncovered.
void printPassLine(int pass, int nodeCount, int made, std::chrono::steady_clock::time_point start) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    mexPrintf("pass %d: %d nodes, %d patterns made a node, %.2f s\n", pass, nodeCount, made,
              seconds);
    hostFlushConsole();
}

// One pass over the patterns; createdNone tells whether no pattern made a node. Done, or what
// ended the pass early.
ProcedureStatus presentPatterns(const TrainingInput& in, TrainingSearch& nodes, WorkPacer& pacer,
                                double* rowBuffer, bool& createdNone) {
    const std::uint64_t lineTerms = in.oflag >= 2 ? kTermsPerTraceLine : 0;
    createdNone = true;
    for (int k = 0; k < in.patternCount; ++k) {
        const double* x = in.patterns.row(k, in.dimension, rowBuffer);
        const double label = in.labels[k];
        double r = in.rMax;
        if (in.oflag >= 3) mexPrintf("      Pattern #%d is being presented\n", k + 1);
        const std::uint64_t spentBefore = pacer.spent();
        const int cover = nodes.present(k, x, label, r);
        if (nodes.outOfMemory()) return ProcedureStatus::OutOfMemory;
        // The plain scan's tests, less what the scan has reported already.
        const std::uint64_t terms =
            cover == kScanStopped
                ? 0
                : paceTerms(cover >= 0 ? cover + 1 : nodes.count(), in.dimension) + lineTerms;
        const std::uint64_t reported = pacer.spent() - spentBefore;
        if (cover == kScanStopped || pacer.spend(terms > reported ? terms - reported : 0)) {
            return ProcedureStatus::Interrupted;
        }
        if (cover >= 0) {
            if (in.oflag >= 2) {
                mexPrintf(
                    "   Pattern #%d classified correctly by category #%d (both of label=%d)\n",
                    k + 1, cover + 1, nodes.labelOf(cover));
            }
            continue;
        }
        if (!nodes.add(x, r, labelToInt(label))) return ProcedureStatus::OutOfMemory;
        createdNone = false;
        if (in.oflag >= 2) {
            mexPrintf("   Pattern #%d created node #%d (label %d)", k + 1, nodes.count(),
                      labelToInt(label));
        }
    }
    return ProcedureStatus::Done;
}

// The passes over either search, with the same outcomes, trace lines and counters; the search
// owns its nodes, whatever the outcome. The host is polled before the first pattern, then after
// every budget of work (the plain scan's coverage tests times n); a long scan reports its work as
// it goes and stops when the pacer reports an interrupt.
ProcedureStatus pacedPasses(const TrainingInput& in, TrainingOutput& out, TrainingSearch& nodes,
                            WorkPacer& pacer, CallCounters& counters, std::int64_t startSeconds) {
    nodes.setPacer(&pacer);
    if (pacer.poll()) return ProcedureStatus::Interrupted;
    // Room for one row where the rows are not in place: a start node's, then each pattern's.
    const auto rowValues = static_cast<std::size_t>(in.dimension) + 1;
    const bool gathers = (in.startNodeCount > 0 && !in.startRows.rowsInPlace()) ||
                         (in.patternCount > 0 && !in.patterns.rowsInPlace());
    HostBlock<double> rowBuffer;
    if (gathers) {
        rowBuffer = HostBlock<double>(rowValues);
        if (!rowBuffer) return ProcedureStatus::OutOfMemory;
    }
    for (int j = 0; j < in.startNodeCount; ++j) {
        const double* row = in.startRows.row(j, in.dimension + 1, rowBuffer.get());
        if (!nodes.add(row, row[in.dimension], labelToInt(in.startLabels[j])))
            return ProcedureStatus::OutOfMemory;
    }
    const auto passStart = std::chrono::steady_clock::now();
    int presentations = 0;
    bool createdNone = true;
    do {
        ++presentations;
        const int nodesBefore = nodes.count();
        if (in.oflag >= 2) mexPrintf("\nList presentation #%d:\n", presentations);
        const ProcedureStatus pass =
            presentPatterns(in, nodes, pacer, rowBuffer.get(), createdNone);
        if (pass != ProcedureStatus::Done) return pass;
        if (in.passLines)
            printPassLine(presentations, nodes.count(), nodes.count() - nodesBefore, passStart);
    } while (presentations < in.maxPresentations && !createdNone);

    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    // A converged run's last pass only confirmed that nothing changed.
    if (createdNone) --presentations;
    if (in.oflag >= 1) {
        printSummary(in, nodes.count(), presentations, createdNone, seconds, counters.totals());
    }
    if (!nodes.exportTo(out)) return ProcedureStatus::OutOfMemory;
    out.presentations = presentations;
    out.converged = createdNone;
    out.paths = nodes.paths();
    return ProcedureStatus::Done;
}

ProcedureStatus runPasses(const TrainingInput& in, TrainingOutput& out, TrainingSearch& nodes,
                          CallCounters& counters, std::int64_t startSeconds) {
    WorkPacer pacer(in.plan.pollBudget);
    const ProcedureStatus status = pacedPasses(in, out, nodes, pacer, counters, startSeconds);
    nodes.setPacer(nullptr);
    out.paths.pacing = pacer.tally();
    return status;
}

}  // namespace

ProcedureStatus learnPrototypes(const TrainingInput& in, TrainingOutput& out) {
    const std::int64_t startSeconds = elapsedClockSeconds();
    CallCounters counters;  // into the running totals by the summary, or when the call ends
    if (TrainingNodeSet::reproducesLiteralScan(in)) {
        TrainingNodeSet set;
        if (!set.init(in, counters.counts)) return ProcedureStatus::OutOfMemory;
        return runPasses(in, out, set, counters, startSeconds);
    }
    LiteralTrainingSearch literal(in, counters.counts);
    return runPasses(in, out, literal, counters, startSeconds);
}

}  // namespace sphnet
