// The literal scan: every node tested in creation order, one SphereNode at a time, with the full
// trace. It is the reference every other search reproduces, and the one that serves inputs the
// indexed sets cannot reproduce exactly (non-finite values, per-node trace lines).
#pragma once

#include "node_search.h"
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

}  // namespace sphnet
