#include "learn_prototypes.h"

#include <cmath>
#include <cstdint>

#include "arg_checks.h"
#include "elapsed_clock.h"
#include "mex_host.h"
#include "sphere_node.h"
#include "training_node_set.h"

namespace sphnet {

namespace {

// Nodes in creation order. The array comes from the host allocator and grows geometrically,
// so a run that creates many nodes does not copy the list once per node.
struct NodeList {
    SphereNode** nodes = nullptr;
    int count = 0;
    int capacity = 0;

    bool append(SphereNode* node) {
        if (count == capacity) {
            const int grown = capacity == 0 ? 16 : (capacity > (1 << 29) ? capacity + (1 << 29) : capacity * 2);
            void* block = mxRealloc(nodes, static_cast<std::size_t>(grown) * sizeof(SphereNode*));
            if (block == nullptr) return false;
            nodes = static_cast<SphereNode**>(block);
            capacity = grown;
        }
        nodes[count++] = node;
        return true;
    }

    void destroyAll() {
        for (int j = 0; j < count; ++j) SphereNode::destroy(nodes[j]);
        mxFree(nodes);
        *this = NodeList{};
    }
};

void printConflictOutcome(ConflictOutcome outcome, bool patternInside, int nodeNumber) {
    if (patternInside) {
        if (outcome == ConflictOutcome::NodeShrunk) {
            mexPrintf("      Category #%d shrunk\n", nodeNumber);
        } else if (outcome == ConflictOutcome::BothShrunk) {
            mexPrintf("      Category #%d and new node radius shrunk\n", nodeNumber);
        } else {
            mexPrintf("      This should had never happened!\n");
        }
    } else if (outcome == ConflictOutcome::NewRadiusShrunk) {
        mexPrintf("      New node radius shrunk\n");
    } else if (outcome != ConflictOutcome::NoChange) {
        mexPrintf("   This should had never happened!\n");
    }
}

// Presents pattern k (0-based) to the nodes in creation order. Returns true when a node of its
// own label covers it; otherwise r holds Rmax lowered by every conflict on the way.
bool presentPattern(const NodeList& list, int k, const double* x, double label, int oflag,
                    double& r) {
    for (int j = 0; j < list.count; ++j) {
        SphereNode* node = list.nodes[j];
        if (static_cast<double>(node->label) == label) {
            if (node->testCoverage(x) != 0) {
                if (oflag >= 2) {
                    mexPrintf("   Pattern #%d classified correctly by category #%d (both of label=%d)\n",
                              k + 1, j + 1, node->label);
                }
                return true;
            }
            if (oflag >= 3) {
                mexPrintf("   Pattern #%d lies outside category #%d (both of label=%d)\n", k + 1,
                          j + 1, node->label);
            }
            continue;
        }
        const bool patternInside = node->testCoverage(x) != 0;
        if (patternInside && oflag >= 3) {
            mexPrintf("   Pattern #%d (label %d) lies inside category #%d (label %d)\n", k + 1,
                      labelToInt(label), j + 1, node->label);
        }
        const ConflictOutcome outcome = node->resolveConflict(r);
        if (oflag >= 3) printConflictOutcome(outcome, patternInside, j + 1);
    }
    return false;
}

void printSummary(const TrainingInput& in, int nodeCount, int presentations, bool converged,
                  std::int64_t seconds) {
    mexPrintf("\nRCE training ");
    mexPrintf(converged ? "converged " : "stopped ");
    if (presentations == 1) {
        mexPrintf("after %d list presentation\n", presentations);
    } else {
        mexPrintf("after %d list presentations\n", presentations);
    }
    mexPrintf("Training set contained %d training patterns\n", in.patternCount);
    // Products in 64 bits: large sets must not wrap into a meaningless figure. With no
    // coordinates at all there is nothing to compress, and the figure is 0.
    const std::int64_t nodeValues = (static_cast<std::int64_t>(in.dimension) + 1) * nodeCount;
    const std::int64_t patternValues = static_cast<std::int64_t>(in.patternCount) * in.dimension;
    const double pct =
        patternValues == 0
            ? 0.0
            : (1.0 - static_cast<double>(nodeValues) / static_cast<double>(patternValues)) * 100.0;
    if (nodeCount == 1) {
        mexPrintf("%d node created (%f%% ", nodeCount, std::fabs(pct));
    } else {
        mexPrintf("%d nodes created (%f%% ", nodeCount, std::fabs(pct));
    }
    mexPrintf(pct >= 0 ? "compression)\n" : "inflation)\n");
    mexPrintf("%lu FLOPs and %lu comparisons in %d seconds\n\n",
              static_cast<unsigned long>(opCounters.flops),
              static_cast<unsigned long>(opCounters.comparisons), static_cast<int>(seconds));
}

// Hands the nodes over as rows and labels in creation order and destroys them.
bool exportNodes(NodeList& list, TrainingOutput& out) {
    const int n = nodeSettings.n;
    const auto slots = static_cast<std::size_t>(list.count > 0 ? list.count : 1);
    auto** rows = static_cast<double**>(mxCalloc(slots, sizeof(double*)));
    auto* labels = static_cast<double*>(mxCalloc(slots, sizeof(double)));
    bool ok = rows != nullptr && labels != nullptr;
    for (int j = 0; ok && j < list.count; ++j) {
        rows[j] = static_cast<double*>(mxCalloc(static_cast<std::size_t>(n) + 1, sizeof(double)));
        if (rows[j] == nullptr) {
            ok = false;
            break;
        }
        list.nodes[j]->exportRow(rows[j]);
        labels[j] = static_cast<double>(list.nodes[j]->label);
    }
    if (!ok) {
        if (rows != nullptr) {
            for (int j = 0; j < list.count && rows[j] != nullptr; ++j) mxFree(rows[j]);
        }
        mxFree(rows);
        mxFree(labels);
        list.destroyAll();
        return false;
    }
    out.nodeCount = list.count;
    out.nodeRows = rows;
    out.nodeLabels = labels;
    list.destroyAll();
    return true;
}

// The same passes over the fast node set: same outcomes, trace lines and counter totals.
ProcedureStatus learnWithNodeSet(const TrainingInput& in, TrainingOutput& out,
                                 std::int64_t startSeconds) {
    TrainingNodeSet set;
    if (!set.init(in)) {
        set.release();
        return ProcedureStatus::OutOfMemory;
    }
    int presentations = 0;
    bool createdNone = true;
    do {
        ++presentations;
        createdNone = true;
        if (in.oflag >= 2) mexPrintf("\nList presentation #%d:\n", presentations);
        for (int k = 0; k < in.patternCount; ++k) {
            if (hostInterruptPending()) {
                set.release();
                return ProcedureStatus::Interrupted;
            }
            const double* x = in.patterns[k];
            const double label = in.labels[k];
            double r = in.rMax;
            const int cover = set.present(k, x, label, r);
            if (cover >= 0) {
                if (in.oflag >= 2) {
                    mexPrintf("   Pattern #%d classified correctly by category #%d (both of label=%d)\n",
                              k + 1, cover + 1, set.labelOf(cover));
                }
                continue;
            }
            if (!set.add(x, r, labelToInt(label))) {
                set.release();
                return ProcedureStatus::OutOfMemory;
            }
            createdNone = false;
            if (in.oflag >= 2) {
                mexPrintf("   Pattern #%d created node #%d (label %d)", k + 1, set.count(),
                          labelToInt(label));
            }
        }
    } while (presentations < in.maxPresentations && !createdNone);

    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    if (createdNone) --presentations;
    if (in.oflag >= 1) printSummary(in, set.count(), presentations, createdNone, seconds);
    if (!set.exportTo(out)) return ProcedureStatus::OutOfMemory;
    out.presentations = presentations;
    return ProcedureStatus::Done;
}

}  // namespace

ProcedureStatus learnPrototypes(const TrainingInput& in, TrainingOutput& out) {
    configureNodeSettings(in.normType, in.dimension, in.margin);
    const std::int64_t startSeconds = elapsedClockSeconds();
    if (TrainingNodeSet::suits(in)) return learnWithNodeSet(in, out, startSeconds);

    NodeList list;
    int presentations = 0;
    bool createdNone = true;
    do {
        ++presentations;
        createdNone = true;
        if (in.oflag >= 2) mexPrintf("\nList presentation #%d:\n", presentations);
        for (int k = 0; k < in.patternCount; ++k) {
            if (hostInterruptPending()) {
                list.destroyAll();
                return ProcedureStatus::Interrupted;
            }
            const double* x = in.patterns[k];
            const double label = in.labels[k];
            double r = in.rMax;
            if (in.oflag >= 3) mexPrintf("      Pattern #%d is being presented\n", k + 1);
            if (presentPattern(list, k, x, label, in.oflag, r)) continue;

            SphereNode* node = SphereNode::create(x, r, labelToInt(label));
            if (node == nullptr || !list.append(node)) {
                SphereNode::destroy(node);
                list.destroyAll();
                return ProcedureStatus::OutOfMemory;
            }
            createdNone = false;
            if (in.oflag >= 2) {
                mexPrintf("   Pattern #%d created node #%d (label %d)", k + 1, list.count,
                          node->label);
            }
        }
    } while (presentations < in.maxPresentations && !createdNone);

    const std::int64_t seconds = elapsedClockSeconds() - startSeconds;
    // A converged run's last pass only confirmed that nothing changed.
    if (createdNone) --presentations;
    if (in.oflag >= 1) printSummary(in, list.count, presentations, createdNone, seconds);

    const int nodeCount = list.count;
    if (!exportNodes(list, out)) return ProcedureStatus::OutOfMemory;
    out.nodeCount = nodeCount;
    out.presentations = presentations;
    return ProcedureStatus::Done;
}

}  // namespace sphnet
