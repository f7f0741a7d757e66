#include "literal_search.h"

#include "arg_checks.h"
#include "distance_bounds.h"
#include "mex_host.h"
#include "work_pacer.h"

namespace sphnet {

namespace {

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

}  // namespace

LiteralTrainingSearch::LiteralTrainingSearch(const TrainingInput& in, OpCounters& counters)
    : metric_(makeMetric(in.normType, in.dimension)),
      margin_(in.margin),
      oflag_(in.oflag),
      counters_(counters) {}

int LiteralTrainingSearch::present(int k, const double* x, double label, double& r) {
    // At oflag 3 nearly every node tested prints a line.
    ScanPacer pace(pacer_,
                   static_cast<std::uint64_t>(metric_.n) + (oflag_ >= 3 ? kTermsPerTraceLine : 0));
    for (int j = 0; j < list_.count(); ++j) {
        if (pace.stopsAt(j)) return kScanStopped;
        SphereNode* node = list_[j];
        const bool patternInside = node->testCoverage(metric_, x, counters_) != 0;
        if (static_cast<double>(node->label) == label) {
            if (patternInside) return j;
            if (oflag_ >= 3) {
                mexPrintf("   Pattern #%d lies outside category #%d (both of label=%d)\n", k + 1,
                          j + 1, node->label);
            }
            continue;
        }
        if (patternInside && oflag_ >= 3) {
            mexPrintf("   Pattern #%d (label %d) lies inside category #%d (label %d)\n", k + 1,
                      labelToInt(label), j + 1, node->label);
        }
        const ConflictOutcome outcome = node->resolveConflict(margin_, r, counters_);
        if (oflag_ >= 3) printConflictOutcome(outcome, patternInside, j + 1);
    }
    return -1;
}

bool LiteralTrainingSearch::exportTo(TrainingOutput& out) {
    return handOverNodes(count(), metric_.n, out, [&](int j, double* row) {
        list_[j]->exportRow(metric_.n, row);
        return list_[j]->label;
    });
}

bool LiteralRecallSearch::build(const RecallInput& in) {
    metric_ = makeMetric(in.normType, in.dimension);
    RowWindow window;
    if (!window.reserve(in.templates, in.nodeCount > 0 ? 1 : 0, in.dimension + 1) ||
        !nodes_.reserve(in.nodeCount)) {
        return false;
    }
    for (int t = 0; t < in.nodeCount; ++t) {
        const double* row = window.take(in.templates, t, 1)[0];
        if (!nodes_.add(row, in.dimension, row[in.dimension], labelToInt(in.nodeLabels[t])))
            return false;
    }
    return true;
}

bool LiteralRecallSearch::takeScratch(RecallScratch& scratch) const {
    scratch.low = HostBlock<double>(static_cast<std::size_t>(count()) + 1);
    return static_cast<bool>(scratch.low);
}

double LiteralRecallSearch::distanceTo(int j, const double* x) const {
    return exactDistance(metric_, nodes_[j]->centre, x);
}

int LiteralRecallSearch::firstCover(const double* x, WorkPacer* pacer, double* distances,
                                    int& tested) const {
    ScanPacer pace(pacer, static_cast<std::uint64_t>(metric_.n));
    for (int j = 0; j < count(); ++j) {
        tested = j;
        if (pace.stopsAt(j)) return kScanStopped;
        distances[j] = distanceTo(j, x);
        if (!(distances[j] - kCoverageTolerance > nodes_[j]->radius)) {
            tested = j + 1;
            return j;
        }
    }
    tested = count();
    return -1;
}

void LiteralRecallSearch::classifyBlock(const double* const* patterns, int count, bool wantNearest,
                                        RecallScratch& scratch, int* cover, int* nearest,
                                        std::uint64_t& tests) const {
    double* distances = scratch.low.get();
    for (int k = 0; k < count; ++k) {
        int tested = 0;
        cover[k] = firstCover(patterns[k], scratch.pacer, distances, tested);
        tests += static_cast<std::uint64_t>(tested);
        if (cover[k] == kScanStopped) return;
        // Ties and NaN keep the earlier node.
        nearest[k] = -1;
        if (cover[k] >= 0 || !wantNearest) continue;
        nearest[k] = 0;
        for (int j = 1; j < this->count(); ++j) {
            if (distances[j] < distances[nearest[k]]) nearest[k] = j;
        }
    }
}

void LiteralRecallSearch::coverCensus(const double* const* patterns, int count, RecallScratch&,
                                      int* covering, bool* differ) const {
    for (int k = 0; k < count; ++k) {
        covering[k] = 0;
        differ[k] = false;
        std::int32_t firstLabel = 0;
        for (int j = 0; j < this->count(); ++j) {
            if (distanceTo(j, patterns[k]) - kCoverageTolerance > nodes_[j]->radius) continue;
            noteCover(labelOf(j), covering[k], firstLabel, differ[k]);
        }
    }
}

}  // namespace sphnet
