// The indexed answer to training's search (node_search.h): centres stored contiguously; the
// growing tree, the block lists or the tiles name the nodes that may
// cover a pattern or conflict with it, and certified distance bounds spare most exact distances.
// Presenting a pattern gives exactly the outcome, radii and counter totals of the literal scan.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "distance_bounds.h"
#include "host_buffer.h"
#include "node_candidates.h"
#include "node_search.h"
#include "node_tiles.h"
#include "node_tree.h"
#include "standby_thread.h"
#include "training_io.h"
#include "work_pacer.h"

namespace sphnet {

struct OpCounters;

// Scans split between two threads pause for so many more patterns, after so many pauses in a
// row (see SplitScan).
struct SplitPause {
    int patterns = 0;
    int inARow = 0;
};
// Per chunk of a split scan: free, claimed by a thread, or its single-precision values made.
struct SplitChunks {
    static constexpr int kMost = 256;
    std::atomic<int> state[kMost];
};

class TrainingNodeSet final : public TrainingSearch {
  public:
    // True when the fast scan reproduces the literal one for this input: every coordinate,
    // start node value, Rmax and margin finite, and no per-node trace wanted.
    static bool reproducesLiteralScan(const TrainingInput& in);

    // The scans count their operations into `counters`; the input's plan may force the
    // structure, the kernels and a second thread. False when memory runs out.
    bool init(const TrainingInput& in, OpCounters& counters);
    int present(int k, const double* x, double label, double& r) override;
    void setPacer(WorkPacer* pacer) override { pacer_ = pacer; }
    bool add(const double* centre, double radius, std::int32_t label) override;
    bool outOfMemory() const override { return outOfMemory_; }
    int count() const override { return count_; }
    TrainingPaths paths() const override { return paths_; }
    std::int32_t labelOf(int j) const override { return labels_.data[j]; }
    // Hands the nodes over in creation order, having freed what only the scans need.
    bool exportTo(TrainingOutput& out) override;

  private:
    void releaseScanState();
    // What the last scan of each pattern found: the nodes of other labels it met within a reach
    // f + radius + margin, each with f, its candidate radius r there rounded up to single
    // precision (the nodes that changed r are among them). While no radius has grown since, a
    // node between two of them cannot cover the pattern nor conflict with a later scan's r
    // that is at most f there (radii only shrank, rounding is monotone), so the next scan of the
    // pattern visits just those nodes while its r stays within theirs. A memory holds the first
    // memoryLength_ such nodes (see chooseMemoryLength); nodes made since come after.
    static constexpr int kMostRemembered = 12;
    // One pattern's memory, in its words of memories_: the node that ended the last scan (cover
    // or new node), how many nodes the scan noted (-1: nothing remembered; more than `length`:
    // the next scan goes on after the last one held), growthEpoch_'s low 32 bits then, `length`
    // nodes and the f after each.
    struct RememberedScan {
        static constexpr int kHeaderWords = 3;
        std::int32_t* words;
        int length;
        std::int32_t& end() const { return words[0]; }
        std::int32_t& listed() const { return words[1]; }
        std::int32_t& epoch() const { return words[2]; }
        std::int32_t* nodes() const { return words + kHeaderWords; }
        float reach(int e) const {
            float f;
            std::memcpy(&f, words + kHeaderWords + length + e, sizeof f);
            return f;
        }
        void setReach(int e, float f) const {
            std::memcpy(words + kHeaderWords + length + e, &f, sizeof f);
        }
        bool goesOn() const { return listed() > length; }
        int count() const { return goesOn() ? length : listed(); }
    };
    RememberedScan memoryOf(int k) const {
        const std::size_t words = RememberedScan::kHeaderWords + 2 * memoryLength_;
        return {memories_.data + static_cast<std::size_t>(k) * words, memoryLength_};
    }
    bool stillValid(const RememberedScan& m) const {
        return m.listed() >= 0 &&
               static_cast<std::uint32_t>(m.epoch()) == static_cast<std::uint32_t>(growthEpoch_);
    }
    int chooseMemoryLength(const TrainingInput& in) const;
    // Sets scanReach_ from the candidate radius r: r rounded up to single precision, or Rmax
    // where block lists are made.
    void keepReach(double r);
    // One pattern's scan under way.
    struct PatternScan {
        const double* x;
        double label;
        double& r;        // the pattern's candidate radius, lowered by conflicts
        int nodeCount;    // the nodes there were when the scan began
        int cover;        // the covering node, or -1 so far
        ScanPacer& pace;  // hands the work on as it goes; says when an interrupt stops the scan
        bool stopped;
        // Whether an interrupt ends the scan before node j.
        bool stopsAt(int j) {
            if (!pace.stopsAt(j)) return false;
            stopped = true;
            return true;
        }
    };

    // The structures the scans use: as the plan forces them, else as the data's shape chooses.
    void chooseStructures(const TrainingInput& in);
    bool startTiles(const TrainingInput& in);  // false when memory runs out
    bool startTree();                          // the same
    template <NormKind Kind>
    int presentAs(int k, const double* x, double label, double& r);
    // The steps of a scan, in this order, each visiting nodes in node order and setting
    // scan.cover when one covers x. The first two return the node the scan goes on from; the
    // replay sets `plainOnly` when r rose above Rmax and the rest must be scanned plainly.
    template <NormKind Kind>
    int replayRemembered(PatternScan& scan, RememberedScan remembered, bool& plainOnly);
    template <NormKind Kind>
    int scanBlockLists(PatternScan& scan, int k, int next);
    // Lists the nodes that may matter to the next patterns from k on that will scan. False
    // when memory runs out.
    bool collectBlock(int k);
    // A node's reaches for the block lists: for patterns of its own label, and of others.
    double ownReach(double radius) const;
    double otherReach(double radius) const;
    template <NormKind Kind>
    int scanTree(PatternScan& scan, int next);
    template <NormKind Kind>
    void scanPlainly(PatternScan& scan, int from);
    // Decides node j as the literal scan would; true when it covers x with x's own label.
    template <NormKind Kind>
    bool visit(PatternScan& scan, int j);
    // The same, with node j's exact distance d already known.
    bool decide(PatternScan& scan, int j, double d);
    // Whether a node at distance at least d can matter: cover x, conflict with the present r, or
    // lie within the reach this scan's memory keeps.
    bool canChangeScan(const PatternScan& scan, int j, double d) const;
    // Notes a node of another label that a later scan of x must visit again, with the kept
    // reach after it.
    void remember(int j, float reach);
    // Stores what this scan of the pattern found, for its next one.
    void rememberScan(RememberedScan remembered, int cover, int nodeCount);
    // Adds the literal scan's coverage tests (every node up to the cover, or all) to the counters.
    void countCoverageTests(int cover, int nodeCount);
    void conflict(int j, double d, bool inside, double& r);
    // Nearer than this, a node of radius `radius` conflicts with some pattern radius r <= rLimit_:
    // summed as the conflict test sums it.
    double conflictReach(double radius) const { return rLimit_ + (radius + margin_); }
    // Nearer than this, a node of radius `radius` conflicts with some r up to the kept reach,
    // and a node of another label is remembered.
    double keptReach(double radius) const { return scanReach_ + (radius + margin_); }

    const TrainingInput* in_ = nullptr;
    OpCounters* counters_ = nullptr;
    WorkPacer* pacer_ = nullptr;
    ThreadUse threads_ = ThreadUse::Auto;
    TrainingPaths paths_;
    Metric metric_;
    int n_ = 0;
    int count_ = 0;
    double margin_ = 0.0;
    HostVector<double> centres_;  // count_ rows of n_ values
    HostVector<double> radii_;
    HostVector<std::int32_t> labels_;
    // p = 1 and +Inf: the centres again, in tiles for the vector scan.
    bool tiled_ = false;
    NodeTiles tiles_;
    int treeFromNodes_ = INT_MAX;     // the tiles or plain scan give way to the tree here
    HostVector<float> floatPattern_;  // the pattern under way, for the tiles' filter
    // Long tile scans share their filtering with a second thread: the single-precision values land
    // in splitSums_, chunk by chunk (see SplitScan).
    StandbyThread standby_;
    HostVector<float> splitSums_;
    SplitPause splitPause_;
    SplitChunks splitChunks_;
    double rLimit_ = 0.0;  // Rmax: the largest candidate radius the reach allows for

    // p other than 1 and +Inf in many dimensions: for a block of upcoming patterns, blocked
    // squared distances list the nodes that may matter to each.
    bool blocked_ = false;
    int blockMinNodes_ = 0;  // the scans take the lists from this many nodes on
    NodeCandidates blockLists_;
    HostVector<std::int32_t> blockPatterns_;  // the block's patterns, ascending (room for a block)
    int blockCount_ = 0;
    HostVector<const double*> blockRows_;
    HostVector<double> blockValues_;  // the block's rows, where the patterns' are not in place
    HostVector<double> blockLabels_;
    std::int64_t blockEpoch_ = -1;  // growthEpoch_ when the block was listed
    int blockCapLimit_ = 0;         // the most nodes a list may hold, by the memory budget
    bool outOfMemory_ = false;

    // Few dimensions: the growing tree names the nodes that may matter, run by run.
    bool treed_ = false;
    GrowingNodeTree tree_;
    HostVector<std::int32_t> treeNodes_;  // the nodes named in the run under way

    HostVector<std::int32_t> memories_;  // per pattern, its RememberedScan's words
    int memoryLength_ = 0;
    std::int64_t growthEpoch_ = 0;  // radius growths so far
    // The scan under way: its candidate radius as a memory keeps it (Rmax where block lists are
    // made: a memory that always replays in full spares its pattern the lists), and the nodes
    // noted.
    float scanReach_ = 0.0f;
    std::int32_t scanList_[kMostRemembered] = {};
    float scanReaches_[kMostRemembered] = {};
    int scanListed_ = 0;  // memoryLength_ + 1 once it overflows
};

}  // namespace sphnet
