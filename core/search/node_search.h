// What training asks of its nodes, pattern by pattern, while they change: in node order, every
// node of another label whose sphere, grown by the pattern's candidate radius and the margin,
// reaches the pattern (each lowers that radius or shrinks the node), up to the first node of the
// pattern's own label that covers it. Every implementation answers exactly as the literal scan
// over the nodes in creation order does, with its trace lines and operation counts: the literal
// scan itself (LiteralTrainingSearch) and the indexed node set (TrainingNodeSet), whose search
// plan picks the structures that name the candidates.
#pragma once

#include <cstdint>

#include "training_io.h"

namespace sphnet {

struct OpCounters;
class WorkPacer;

class TrainingSearch {
  public:
    virtual ~TrainingSearch() = default;

    // Pattern k (0-based) with label `label` and candidate radius r: the 0-based number of the
    // node of its own label that covers x, or -1 with r lowered by every conflict;
    // kScanStopped when the pacer reported an interrupt during the scan (training then ends).
    virtual int present(int k, const double* x, double label, double& r) = 0;
    // Appends a node; false when memory runs out.
    virtual bool add(const double* centre, double radius, std::int32_t label) = 0;
    // Whether a scan ran out of memory for its working lists; training then ends.
    virtual bool outOfMemory() const = 0;
    virtual int count() const = 0;
    virtual std::int32_t labelOf(int j) const = 0;
    // The structures the scans walked so far (for tests that force one).
    virtual TrainingPaths paths() const = 0;
    // Each scan hands its work to `pacer` as it goes (null: no pacing).
    virtual void setPacer(WorkPacer* pacer) = 0;
    // Hands the nodes over in creation order; false when memory runs out.
    virtual bool exportTo(TrainingOutput& out) = 0;
};

}  // namespace sphnet
