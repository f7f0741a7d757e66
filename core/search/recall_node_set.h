// The indexed answer to recall's search (node_search.h): centres stored contiguously; for p other
// than 2, many nodes in few dimensions, a k-d tree; for p = 1 and +Inf tiles for a vector scan,
// for other p beside the tree a grid naming the nodes that may cover a pattern; for p = 2 in many
// dimensions blocked squared distances (the panels); and certified distance bounds that spare
// most exact distances. The search plan may force any of them (or the plain scan) per question.
#pragma once

#include <cstdint>

#include "distance_bounds.h"
#include "euclidean_panels.h"
#include "host_buffer.h"
#include "node_grid.h"
#include "node_search.h"
#include "node_tiles.h"
#include "node_tree.h"
#include "recall_io.h"
#include "row_view.h"
#include "search_trial.h"

namespace sphnet {

// What the Euclidean block scan keeps per pattern of a block.
struct EuclideanBlockState {
    static constexpr int kPatterns = 128;   // patterns per block
    static constexpr int kCandidates = 16;  // 1-NN candidates kept per pattern
    double norm[kPatterns];
    double slack[kPatterns];          // kappa |x|^2 plus the underflow allowance
    double leastHigh[kPatterns];      // least D + kappa |c|^2 so far
    const float* rounded[kPatterns];  // single-precision panels: the pattern as they read it
    std::int32_t active[kPatterns];
    std::int32_t candidateCount[kPatterns];  // kCandidates + 1 once they overflowed
    std::int32_t candidates[kPatterns][kCandidates];
    double candidateLow[kPatterns][kCandidates];
    double distances[EuclideanPanels::kGroup * EuclideanPanels::kLanes];
};

// Per-thread working memory (RecallNodeSet::takeScratch); each thread's on lines of its own.
struct alignas(64) RecallScratch {
    HostBlock<double> low;
    HostBlock<double> high;
    HostBlock<float> floats;  // the pattern for the tiles' filter
    HostBlock<EuclideanBlockState> block;
    HostBlock<float> single;  // the block's patterns rounded, for single-precision panels
    RowWindow patterns;       // the block's patterns as rows, taken from the caller's view
    // Where set, the literal scan reports its work to it as it goes (the calling thread only).
    WorkPacer* pacer = nullptr;
    // Where covers can be found two ways (the tiles, grid or plain scan, or the tree), each
    // thread times a few blocks each way, the index (the alternative) first, and goes on with the
    // faster for 64 blocks, then times again (see SearchTrial).
    SearchTrial coverTrial{6, 64};
    bool treeCovers = false;  // the tree finds this block's covers
    // The structures that answered on this thread, per question (RecallPaths' bits).
    unsigned ranCover = 0;
    unsigned ranNearest = 0;
    unsigned ranCensus = 0;
};

class RecallNodeSet final : public RecallSearch {
  public:
    // True when the fast scan reproduces the literal one: every centre and pattern
    // coordinate finite, and no per-node trace wanted.
    static bool reproducesLiteralScan(const RecallInput& in);

    // Builds what in.plan forces, and for the questions it leaves open the engine's own choice;
    // the cover census only where `censusWanted`. False when memory runs out.
    bool build(const RecallInput& in, bool censusWanted);
    bool takeScratch(RecallScratch& scratch) const override;

    // The first node that covers x, or -1; then, when wanted, `nearest` is the literal 1-NN
    // choice. `tests` grows by the number of coverage tests the literal scan makes.
    int classify(const double* x, bool wantNearest, RecallScratch& scratch, int& nearest,
                 std::uint64_t& tests) const;

    void classifyBlock(const double* const* patterns, int count, bool wantNearest,
                       RecallScratch& scratch, int* cover, int* nearest,
                       std::uint64_t& tests) const override;

    void coverCensus(const double* const* patterns, int count, RecallScratch& scratch,
                     int* covering, bool* differ) const override;
    double distanceTo(int j, const double* x) const override;

    int count() const override { return count_; }
    std::int32_t labelOf(int j) const override { return labels_.data[j]; }
    PanelPrecision panelPrecision() const override;

  private:
    bool covers(int j, const double* x) const;
    // boundsKnown: scratch already holds every node's bounds for x.
    int nearestNode(const double* x, RecallScratch& scratch, bool boundsKnown) const;
    // x's 1-NN node by the per-pattern structure chosen for the rule.
    int nearestOf(const double* x, RecallScratch& scratch) const;
    // The engine's own choice of structures, built: the tree, the tiles or the grid beside
    // the tree, and the panels, where the data's shape says they pay.
    bool buildIndex(const RecallInput& in, bool censusWanted);
    void chooseOwnWays();
    bool buildTree();
    bool buildTiles();
    // forced: whether or not the grid pays. The grid stays off where it cannot answer.
    bool buildGrid(bool forced);
    bool gridCap(double& cap) const;
    // Makes `way` ready to answer, building it where it is not yet built; where it cannot
    // answer exactly for this input, `way` becomes Plain. False when memory runs out.
    bool prepare(const RecallInput& in, SearchStructure& way);
    // classifyBlock by the second way (the panels or the tree's cover search), or else by the
    // grid, tiles or plain scan; the 1-NN rule by the structure chosen for it.
    void classifyBlockAs(bool byIndex, const double* const* patterns, int count, bool wantNearest,
                         RecallScratch& scratch, int* cover, int* nearest,
                         std::uint64_t& tests) const;
    // forced: whether or not the panels pay. They stay off where their bounds cannot hold.
    bool buildEuclidean(const RecallInput& in, bool forced);
    void coverCensusEuclidean(const double* const* patterns, int count, RecallScratch& scratch,
                              int* covering, std::int32_t* firstLabel, bool* differ) const;
    void classifyEuclidean(const double* const* patterns, int count, bool wantNearest,
                           RecallScratch& scratch, int* cover, int* nearest,
                           std::uint64_t& tests) const;
    // The ways classify() and coverCensus() find covers: the first nodes plainly; by the
    // tiles or (classify() only) the grid, visit(j) for each candidate in node order until it
    // returns true; the plain scan that keeps the bounds for the 1-NN rule.
    int firstPlainCover(const double* x, int to) const;
    template <typename Visit>
    void tileCovers(const double* x, RecallScratch& scratch, Visit visit) const;
    template <typename Visit>
    void gridCandidates(const double* x, int from, Visit visit) const;
    int coverKeepingBounds(const double* x, RecallScratch& scratch) const;
    // The steps of classifyEuclidean.
    void prepareBlock(const double* const* patterns, int count, RecallScratch& scratch) const;
    void scanGroup(const double* const* patterns, int g, int rows, int q0, int q1, bool wantNearest,
                   EuclideanBlockState& b, int* cover) const;
    int firstCoverAmong(unsigned mayCover, int first, const double* x) const;
    void keepCandidate(EuclideanBlockState& b, int k, int j, double low) const;
    int nearestCandidate(const EuclideanBlockState& b, int k, const double* x) const;

    Metric metric_;
    InstructionSet instructions_ = InstructionSet::Auto;
    // How each question is answered. Covers: classify()'s scan (Plain, Grid or Tiles) and the
    // block's index (Tree, Panels, or Auto for none), either one alone or, where a timing
    // trial between the scan and the tree picks, whichever proves faster on each thread.
    SearchStructure coverByScan_ = SearchStructure::Plain;
    SearchStructure coverByIndex_ = SearchStructure::Auto;
    bool coverTrial_ = false;
    bool indexOnly_ = false;
    SearchStructure nearest_ = SearchStructure::Plain;  // Plain, Tiles, Tree or Panels
    SearchStructure census_ = SearchStructure::Plain;   // Plain, Tiles, Tree or Panels
    int n_ = 0;
    int count_ = 0;
    HostVector<double> centres_;
    HostVector<double> radii_;
    HostVector<std::int32_t> labels_;
    bool gridActive_ = false;
    NodeGrid cells_;
    HostVector<std::int32_t> beyondCapNodes_;  // may cover any pattern: radius above the lists' cap
    bool tiled_ = false;                       // p = 1 and +Inf
    NodeTiles tiles_;
    bool treeActive_ = false;  // p other than 2, many nodes in few dimensions (or forced)
    NodeTree tree_;
    // p = 2 in many dimensions: blocked squared distances bound every node at once.
    bool euclidean_ = false;
    EuclideanPanels panels_;
    HostVector<double> coverBound_;  // per node: D above this plus the pattern's slack cannot cover
    HostVector<double> nodeSlack_;   // per node: kappa |c|^2
    double nearestFactor_ = 1.0;     // (relHigh / relLow)^2, rounded up
};

}  // namespace sphnet
