#include "literal_search.h"

#include "arg_checks.h"
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

}  // namespace sphnet
