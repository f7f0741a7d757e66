// The training node set for the fast scan: centres stored contiguously, per-cell lists of the
// nodes that may reach a cell, to skip nodes that can neither cover a pattern nor conflict with
// it, and certified distance bounds that spare most exact distances. Presenting a pattern gives
// exactly the outcome, radii and counter totals of the literal scan over SphereNodes in creation
// order.
#pragma once

#include <cstdint>

#include "distance_bounds.h"
#include "learn_prototypes.h"
#include "mex_host.h"
#include "node_grid.h"
#include "node_tiles.h"

namespace sphnet {

class WorkPacer;

// Hands `count` nodes over to `out` as host rows of n + 1 values and host labels, filled by
// fill(j, row) which returns node j's label. False, with nothing left allocated, when memory
// runs out.
template <typename Fill>
bool handOverNodes(int count, int n, TrainingOutput& out, Fill fill) {
    const auto slots = static_cast<std::size_t>(count > 0 ? count : 1);
    auto** rows = static_cast<double**>(mxCalloc(slots, sizeof(double*)));
    auto* labels = static_cast<double*>(mxCalloc(slots, sizeof(double)));
    bool ok = rows != nullptr && labels != nullptr;
    for (int j = 0; ok && j < count; ++j) {
        rows[j] = static_cast<double*>(mxCalloc(static_cast<std::size_t>(n) + 1, sizeof(double)));
        ok = rows[j] != nullptr;
        if (ok) labels[j] = static_cast<double>(fill(j, rows[j]));
    }
    if (!ok) {
        if (rows != nullptr) {
            for (int j = 0; j < count && rows[j] != nullptr; ++j) mxFree(rows[j]);
        }
        mxFree(rows);
        mxFree(labels);
        return false;
    }
    out.nodeCount = count;
    out.nodeRows = rows;
    out.nodeLabels = labels;
    return true;
}

class TrainingNodeSet {
public:
    // True when the fast scan reproduces the literal one for this input: every coordinate,
    // Rmax and margin finite, and no per-node trace wanted.
    static bool suits(const TrainingInput& in);

    // nodeSettings must already hold this call's p, n and margin. False when memory runs out.
    bool init(const TrainingInput& in);
    // Scans the nodes in creation order, as the literal scan does, for pattern k (x, label).
    // Returns the 0-based number of the same-label node that covers x, or -1 with r lowered by
    // every conflict; kScanStopped when the pacer reported an interrupt during the scan (the
    // set is then fit only for release()).
    int present(int k, const double* x, double label, double& r);
    // Paces the scans: each hands its work to `pacer` as it goes (null: no pacing).
    void setPacer(WorkPacer* pacer) { pacer_ = pacer; }
    // Appends a node; false when memory runs out.
    bool add(const double* centre, double radius, std::int32_t label);
    int count() const { return count_; }
    std::int32_t labelOf(int j) const { return labels_.data[j]; }
    // Hands the nodes over as rows and labels in creation order and releases the set.
    bool exportTo(TrainingOutput& out);
    void release();

private:
    bool startGrid();
    template <int Kind>
    int presentAs(int k, const double* x, double label, double& r);
    void conflict(int j, double d, bool inside, double& r);
    void markAlways(int j);
    bool listNode(int j);  // lists node j in the cells it may reach; false when memory runs out
    // Nearer than this, a node of radius `radius` conflicts with some pattern radius r <= rLimit_:
    // summed as the conflict test sums it.
    double conflictReach(double radius) const { return rLimit_ + (radius + margin_); }

    const TrainingInput* in_ = nullptr;
    WorkPacer* pacer_ = nullptr;
    DistanceKit kit_;
    int n_ = 0;
    int count_ = 0;
    double margin_ = 0.0;
    HostVector<double> centres_;  // count_ rows of n_ values
    HostVector<double> radii_;
    HostVector<std::int32_t> labels_;
    HostVector<double> listedRadius_;  // the radius each node was listed with
    // p = 1 and +Inf: the centres again, in tiles for the vector scan.
    bool tiled_ = false;
    NodeTiles tiles_;
    HostVector<float> roughPattern_;  // the pattern under way, for the tiles' filter
    // The cell lists start once there are enough nodes to pay for them.
    bool gridActive_ = false;
    bool gridUsable_ = false;
    double radiusCap_ = 0.0;  // nodes with larger radii are candidates for every pattern
    double rLimit_ = 0.0;     // the largest candidate radius the reach allows for
    double reach_ = 0.0;      // beyond this a listed node can neither cover nor conflict
    int axes_[ReachLists::kMaxAxes] = {};
    int axisCount_ = 0;
    ReachLists lists_;
    HostVector<std::uint64_t> always_;      // nodes outside the lists' guarantee
    long alwaysCount_ = 0;
    HostVector<std::uint64_t> candidates_;  // per pattern, while some node is always a candidate

    // What the last scan of each pattern found: the node that ended it and the nodes of other
    // labels before that one within conflict reach. While no radius has grown since, the nodes
    // between them can neither cover the pattern nor conflict with it (radii only shrank), so
    // the next scan of the pattern visits just those. Nodes made since come after.
    static constexpr int kRemembered = 6;
    static constexpr int kRecordWidth = kRemembered + 2;  // end node, count, nodes
    HostVector<std::int32_t> records_;        // per pattern: kRecordWidth values; end -1: none
    HostVector<std::int64_t> recordEpochs_;  // per pattern: growthEpoch_ when recorded
    std::int64_t growthEpoch_ = 0;           // radius growths so far
    std::int32_t scanList_[kRemembered] = {};  // the scan under way
    int scanListed_ = 0;                     // kRemembered + 1 once it overflows
};

}  // namespace sphnet
