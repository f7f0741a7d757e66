// The literal scan: every node tested in creation order, one SphereNode at a time, with the full
// trace. It is the reference every other search reproduces, and the one that serves inputs the
// indexed sets cannot reproduce exactly (non-finite values, per-node trace lines).
#pragma once

#include "node_search.h"
#include "recall_node_set.h"
#include "sphere_node.h"

namespace sphnet {

class LiteralTrainingSearch final : public TrainingSearch {
  public:
    LiteralTrainingSearch(const TrainingInput& in, OpCounters& counters);
    int present(int k, const double* x, double label, double& r) override;
    bool add(const double* centre, double radius, std::int32_t label) override {
        return list_.add(centre, metric_.n, radius, label);
    }
    bool outOfMemory() const override { return false; }  // presenting takes no memory
    int count() const override { return list_.count(); }
    std::int32_t labelOf(int j) const override { return list_[j]->label; }
    TrainingPaths paths() const override { return {}; }
    void setPacer(WorkPacer* pacer) override { pacer_ = pacer; }
    bool exportTo(TrainingOutput& out) override;

  private:
    SphereNodeList list_;
    Metric metric_;
    double margin_;
    int oflag_;
    OpCounters& counters_;
    WorkPacer* pacer_ = nullptr;
};

class LiteralRecallSearch final : public RecallSearch {
  public:
    // Takes the nodes from the input's template rows; false when memory runs out.
    bool build(const RecallInput& in);
    int count() const override { return nodes_.count(); }
    std::int32_t labelOf(int j) const override { return nodes_[j]->label; }
    // Room for every node's distance: the 1-NN choice reads them after the scan.
    bool takeScratch(RecallScratch& scratch) const override;
    double distanceTo(int j, const double* x) const override;
    // Pattern by pattern, node by node; the scan reports its work to scratch.pacer as it goes.
    void classifyBlock(const double* const* patterns, int count, bool wantNearest,
                       RecallScratch& scratch, int* cover, int* nearest,
                       std::uint64_t& tests) const override;
    // Every node's exact distance, touching no counter.
    void coverCensus(const double* const* patterns, int count, RecallScratch& scratch,
                     int* covering, bool* differ) const override;

  private:
    // Pattern x's first cover, or -1, leaving every tested node's distance in `distances`;
    // kScanStopped when `pacer` reported an interrupt first.
    int firstCover(const double* x, WorkPacer* pacer, double* distances, int& tested) const;
    SphereNodeList nodes_;
    Metric metric_;
};

}  // namespace sphnet
