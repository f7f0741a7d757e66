// The questions training and recall ask of their nodes. Every implementation, the literal scan
// (literal_search.h) or an indexed node set whose search plan picks the structures, answers as the
// literal scan in creation order does, with its trace lines and operation counts.
#pragma once

#include <cstdint>

#include "recall_io.h"
#include "training_io.h"

namespace sphnet {

class WorkPacer;
struct RecallScratch;

// What training asks of its nodes, pattern by pattern, while they change: in node order, each
// node of another label whose sphere, grown by the pattern's candidate radius and the margin,
// reaches it (lowering that radius or shrinking the node), up to the first own-label cover.
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

// Tallies one more node that covers a pattern for the census: how many so far, and whether their
// labels differ.
inline void noteCover(std::int32_t label, int& covering, std::int32_t& firstLabel, bool& differ) {
    if (covering++ == 0) firstLabel = label;
    differ = differ || label != firstLabel;
}

// What recall asks of a fixed set of nodes, a block of patterns at a time: the first node that
// covers each pattern, where wanted the nearest node (the lowest number among equals), and the
// census of the nodes that cover it. Answering only reads the set, so threads may share one,
// each with scratch of its own.
class RecallSearch {
  public:
    virtual ~RecallSearch() = default;

    virtual int count() const = 0;
    virtual std::int32_t labelOf(int j) const = 0;
    // A thread's working memory; false when memory runs out.
    virtual bool takeScratch(RecallScratch& scratch) const = 0;
    // For patterns[0..count), count <= EuclideanBlockState::kPatterns: cover[k] the first node
    // that covers pattern k, nearest[k] (when wanted and it is not covered) its nearest node,
    // else -1; `tests` grows by the literal scan's coverage tests. A scan paced by
    // scratch.pacer that stopped for an interrupt leaves kScanStopped in its cover[k] and ends
    // the block there.
    virtual void classifyBlock(const double* const* patterns, int count, bool wantNearest,
                               RecallScratch& scratch, int* cover, int* nearest,
                               std::uint64_t& tests) const = 0;
    // For the same patterns: how many nodes cover each, and whether their labels differ.
    virtual void coverCensus(const double* const* patterns, int count, RecallScratch& scratch,
                             int* covering, bool* differ) const = 0;
    // The coverage test's distance from node j to x.
    virtual double distanceTo(int j, const double* x) const = 0;
    // The panels' precision, Auto where there are none.
    virtual PanelPrecision panelPrecision() const { return PanelPrecision::Auto; }
};

}  // namespace sphnet
