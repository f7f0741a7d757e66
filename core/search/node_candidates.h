// For a block of upcoming patterns, the nodes that may matter to each: the blocked squared
// distances of EuclideanPanels bound every pattern-node distance at once, and a node is listed
// for a pattern unless its lower bound exceeds its reach for that pattern's label (one for its
// own label, one for the rest). Scans visit only the listed nodes, in node order, and decide each
// by the exact distance. Centres never move and radii only shrink (the caller handles the rare
// exceptions), so a block's lists stay conservative while its patterns are presented in turn.
#pragma once

#include <cstdint>

#include "euclidean_panels.h"
#include "host_buffer.h"
#include "search_plan.h"

namespace sphnet {

class NodeCandidates {
  public:
    // lowScale: the norm's distance is at least lowScale times the Euclidean one. relLow: the
    // coverage test's distance is at least relLow times the true one.
    // `instructions`: the panels' kernels (see EuclideanPanels::init).
    void init(int n, double lowScale, double relLow,
              InstructionSet instructions = InstructionSet::Auto);
    // The kernels in use, as the plan names them.
    InstructionSet instructions() const { return panels_.instructions(); }
    // Appends a node with its label and its reaches for patterns of its own label and of
    // others. False when memory runs out.
    bool append(const double* centre, double label, double ownReach, double otherReach);
    void update(int j, double ownReach, double otherReach);
    int count() const { return panels_.count(); }
    int dimension() const { return panels_.dimension(); }

    // Room for collects of up to `patterns` patterns with up to `cap` nodes listed for each, so
    // that collecting never needs memory. False when memory runs out.
    bool reserve(int patterns, int cap);
    int reservedCap() const { return reservedCap_; }
    // Lists, for patterns[0..patternCount) with their labels, the nodes of [0, nodes) that
    // may matter, using both cores where the work is large (threads Auto), never (One), or
    // wherever there are two panels (Two). A pattern with more than `cap` such nodes gets no
    // list (overflowed). Needs patternCount and cap within the reserve and nodes <= count().
    // True when the work was shared between two threads.
    bool collect(const double* const* patterns, const double* labels, int patternCount, int cap,
                 int nodes, ThreadUse threads = ThreadUse::Auto);
    // The list of pattern k of the last collect, in node order, and beside each node a lower
    // bound on its distance as the coverage test computes it; null when it overflowed.
    const std::int32_t* listOf(int k, std::int32_t& length, const float*& lows) const;
    // The nodes the last collect covered: [0, nodesCovered()).
    int nodesCovered() const { return covered_; }

  private:
    // Per pattern, room for `cap` node numbers with their lower bounds, and how many there are
    // (-1: overflowed).
    struct Lists {
        HostVector<std::int32_t> nodes;
        HostVector<float> lows;
        HostVector<std::int32_t> lengths;
    };
    void collectRange(const double* const* patterns, const double* labels, int patternCount,
                      int firstPanel, int endPanel, Lists& out) const;
    double boundFor(double reach, double nodeSlack) const;
    float lowerDistance(double D, double slack) const;

    EuclideanPanels panels_;
    // relLow * lowScale: the scan's distance is at least this times the Euclidean one.
    double lowScale_ = 1.0;
    double lowFactor_ = 1.0;  // lowScale_, rounded down
    HostVector<double> labels_;
    HostVector<double> ownBounds_;  // per node: D above this plus the pattern's slack is out
    HostVector<double> otherBounds_;
    HostVector<double> nodeSlack_;  // per node: kappa |c|^2
    // Per collect: the patterns' lists, one set per thread (the second thread takes the later
    // nodes; its lists are appended to the first's), and the patterns' squared norms.
    Lists lists_[2];
    HostVector<double> patternNorms_;
    int covered_ = 0;
    int cap_ = 0;
    int reservedPatterns_ = 0;
    int reservedCap_ = 0;
};

}  // namespace sphnet
