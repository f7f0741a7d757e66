#include "training_node_set.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include "compiler_builtins.h"
#include "mex_host.h"
#include "search_allowances.h"
#include "sphere_node.h"

namespace sphnet {

namespace {
// Blocked lists pay from this many dimensions on (below, the tree is faster); a block holds up
// to kBlockPatterns patterns, fewer where nodes are many, so that one collect stays near
// kBlockTerms coordinate terms.
constexpr int kBlockMinDimensions = 4;
// Among fewer nodes the plain scan, its bounds and the scans' memories are quicker (a million
// patterns over 154 nodes: 0.62 s against 0.97 s).
constexpr int kBlockMinNodes = 256;
constexpr int kBlockPatterns = 128;
constexpr double kBlockTerms = 1 << 27;
// Tile scans of at least this many terms, in this many dimensions, are split between two
// threads: in fewer, filtering a node on values made ahead costs nearly as much as making them.
constexpr double kSplitTerms = 1 << 15;
constexpr int kSplitMinDimensions = 16;
// A split scan's chunks: about this many terms each, and at most SplitChunks::kMost of them.
constexpr double kChunkTerms = 1 << 14;
// How long this thread waits for a chunk the other thread is filtering before it filters the
// chunk's nodes itself (in pauses, a few microseconds).
constexpr int kChunkWaitSpins = 1 << 8;
// A pattern with more listed nodes than this share of them scans plainly.
constexpr int kBlockCapDivisor = 2;
// The lists' room: kBlockListBytes in all, for up to kBlockPatterns patterns.
constexpr double kBlockListBytes = 24.0 * (1 << 20);
// The growing tree's work grows as N log^2 N, the tiles' and block lists' as N^2 with a far
// smaller factor. Measured on overlapping and separated classes, the tree is the quicker up to 3
// dimensions and, for other p, up to 6 (in 4, 1.5 to 10 times the block lists from 1e4 patterns
// on; in 5, 1.7 to 3.7 times; in 6, 1.2 to 2.1 times, from 3,000 to 10^5 patterns); in 7 it is
// about even, in 8 it loses to the lists and tiles.
constexpr int kTreeMostDimensions = 3;
constexpr int kTreeMostDimensionsGeneral = 6;
// For p = 1 and +Inf the tiles scan every node so cheaply that the tree overtakes them only
// among this many nodes, in 1 to 4 dimensions (in 1: 1.2x faster from 4,000 nodes; in 2: 1.1x
// to 1.3x from 8,000 to 20,000; in 3: tiles 1.3x faster at 15,000, the tree 1.5x at 38,000; in
// 4: even at 75,000, the tree 1.2x at 150,000).
constexpr int kTilesMostDimensionsBeforeTree = 4;
constexpr int kTreeFromNodes[kTilesMostDimensionsBeforeTree + 1] = {0, 2048, 10000, 24000, 80000};
// For other p the plain scan, with its bounds and the memories, is the quicker among a few
// hundred nodes (in 6 dimensions, 169 nodes: 1.6 times the tree).
constexpr int kTreeFromNodesGeneral = 256;
// The scans' memories (see chooseMemoryLength): at least this many nodes each, and longer ones
// while all of them fit in kMemoryBytes (twelve up to about 620,000 patterns, six at 10^6).
constexpr int kLeastRemembered = 3;
constexpr double kMemoryBytes = 64.0 * (1 << 20);
}  // namespace

bool TrainingNodeSet::reproducesLiteralScan(const TrainingInput& in) {
    if (in.oflag >= 3) return false;
    if (!std::isfinite(in.rMax) || !std::isfinite(in.margin)) return false;
    const auto finite = [](int, double value) { return std::isfinite(value); };
    if (!in.startRows.allValues(in.startNodeCount, in.dimension + 1, finite)) return false;
    return in.patternsFinite || in.patterns.allValues(in.patternCount, in.dimension, finite);
}

// Each structure serves only where it answers exactly: the tiles for p = 1 and +Inf, the block
// lists where the distance bounds hold and the panels take every coordinate, the tree in the
// dimensions it takes. No patterns, no nodes: nor any spread to
// measure (n may be near 2^31 for an empty set). A structure the plan forces that does not serve
// leaves the plain scan (the panels are recall's); else the data's shape chooses.
void TrainingNodeSet::chooseStructures(const TrainingInput& in) {
    const bool general = metric_.kind == NormKind::General;
    const bool tiles = !general && n_ > 0;
    const auto blocks = [&] {
        return general && metric_.boundsUsable && n_ > 0 && in.patternCount > 0 &&
               EuclideanPanels::holdsRows(in.patterns, in.patternCount, n_) &&
               EuclideanPanels::holdsRows(in.startRows, in.startNodeCount, n_);
    };
    const bool tree = NodeTree::fits(n_) && in.patternCount > 0;
    treeFromNodes_ = INT_MAX;
    const SearchStructure forced = in.plan.foreignInReach;
    if (forced != SearchStructure::Auto) {
        tiled_ = forced == SearchStructure::Tiles && tiles;
        blocked_ = forced == SearchStructure::BlockLists && blocks();
        blockMinNodes_ = 0;
        treed_ = forced == SearchStructure::Tree && tree;
        return;
    }
    const int handover = in.plan.handoverNodes;
    // Other p in few dimensions: the plain scan, then the tree once the nodes are many (see add).
    treed_ = false;
    const bool treeLater =
        tree && general &&
        (n_ <= kTreeMostDimensions || (metric_.boundsUsable && n_ <= kTreeMostDimensionsGeneral));
    if (treeLater) treeFromNodes_ = handover > 0 ? handover : kTreeFromNodesGeneral;
    // p = 1 and +Inf: tiles scan every node faster than the lists skip some; in up to four
    // dimensions they hand over to the tree in the same way.
    tiled_ = tiles && (n_ <= kTreeMostDimensions || NodeTiles::paysFor(n_));
    if (tiled_ && tree && n_ <= kTilesMostDimensionsBeforeTree)
        treeFromNodes_ = handover > 0 ? handover : kTreeFromNodes[n_];
    blocked_ = !treeLater && n_ >= kBlockMinDimensions && blocks();
    blockMinNodes_ = kBlockMinNodes;
}

// A longer memory spares more of a pattern's later scans (in up to four dimensions most scans
// note 4 to 8 nodes): twelve make training 1.3 to 1.9 times as fast as three at 10^4 patterns,
// and 1.3 to 1.4 times as fast as six at 5 x 10^5. Each node costs 8 bytes for every pattern,
// so twelve only while all memories fit in kMemoryBytes, and never fewer than kLeastRemembered.
// Where block lists are made a memory keeps every node within Rmax, and a longer one only adds
// visits (1.15 times as slow).
int TrainingNodeSet::chooseMemoryLength(const TrainingInput& in) const {
    const int forced = in.plan.memoryNodes;
    if (forced > 0) return forced < kMostRemembered ? forced : kMostRemembered;
    if (blocked_ || in.patternCount <= 0) return kLeastRemembered;
    constexpr double kWord = sizeof(std::int32_t);  // a node and its reach take two words
    const double perPattern = kMemoryBytes / in.patternCount;
    const double fits = (perPattern - RememberedScan::kHeaderWords * kWord) / (2 * kWord);
    if (fits >= kMostRemembered) return kMostRemembered;
    return fits > kLeastRemembered ? static_cast<int>(fits) : kLeastRemembered;
}

bool TrainingNodeSet::init(const TrainingInput& in, OpCounters& counters) {
    in_ = &in;
    counters_ = &counters;
    n_ = in.dimension;
    margin_ = in.margin;
    metric_ = makeMetric(in.normType, n_);
    rLimit_ = in.rMax;
    chooseStructures(in);
    threads_ = in.plan.threads;
    paths_ = TrainingPaths();
    if (treed_) tree_.init(metric_, in.plan.instructions);
    const auto patterns = static_cast<std::size_t>(in.patternCount);
    memoryLength_ = chooseMemoryLength(in);
    // Every word -1: nothing remembered.
    const std::size_t memoryWords = RememberedScan::kHeaderWords + 2 * memoryLength_;
    if (!memories_.resize(patterns * memoryWords, -1)) return false;
    if (blocked_) {
        // For p > 2 the distance is at least n^(1/p - 1/2) times the Euclidean one; for
        // p <= 2 at least the Euclidean one.
        blockLists_.init(n_, metric_.p > 2.0 ? metric_.l2Factor : 1.0, metric_.relLow,
                         in.plan.instructions);
        paths_.panelInstructions = blockLists_.instructions();
        const int block = in.patternCount < kBlockPatterns ? in.patternCount : kBlockPatterns;
        const double room =
            kBlockListBytes / (2.0 * kBlockPatterns * (sizeof(std::int32_t) + sizeof(float)));
        blockCapLimit_ = in.patternCount < room ? in.patternCount : static_cast<int>(room);
        // The lists' room grows with the nodes (see collectBlock).
        if (!blockLists_.reserve(block, 16) || !blockPatterns_.resize(block, 0) ||
            !blockRows_.resize(block, nullptr) || !blockLabels_.resize(block, 0.0)) {
            return false;
        }
        if (!in.patterns.rowsInPlace() &&
            !blockValues_.resize(static_cast<std::size_t>(block) * n_, 0.0))
            return false;
    }
    return !tiled_ || startTiles(in);
}

bool TrainingNodeSet::startTiles(const TrainingInput& in) {
    tiles_.init(metric_.kind, n_, in.plan.instructions);
    paths_.tileInstructions = tiles_.instructions();
    // Without patterns n may be near 2^31, with nothing behind it.
    if (in.patternCount > 0 && !floatPattern_.resize(static_cast<std::size_t>(n_), 0.0f))
        return false;
    // Long scans are split between two threads; without a second thread, one does all.
    // Forced, every scan with two chunks of work is split.
    const double mostTerms = (static_cast<double>(in.patternCount) + in.startNodeCount) * n_;
    const bool splits = threads_ == ThreadUse::Two
                            ? in.patternCount > 0
                            : threads_ == ThreadUse::Auto && n_ >= kSplitMinDimensions &&
                                  mostTerms >= kSplitTerms &&
                                  std::thread::hardware_concurrency() >= 2;
    if (splits) standby_.start();
    return true;
}

bool TrainingNodeSet::add(const double* centre, double radius, std::int32_t label) {
    const int j = count_;
    for (int i = 0; i < n_; ++i) {
        if (!centres_.push(centre[i])) return false;
    }
    if (!radii_.push(radius) || !labels_.push(label)) return false;
    if (tiled_ && !tiles_.append(centre, radius, static_cast<double>(label), conflictReach(radius)))
        return false;
    if (blocked_ && !blockLists_.append(centre, label, ownReach(radius), otherReach(radius)))
        return false;
    count_ = j + 1;
    if (count_ >= treeFromNodes_) return startTree();
    return !treed_ || tree_.grow(centres_.data, radii_.data, labels_.data, count_);
}

// The tiles or the plain scan give way to a tree over every node so far; later scans walk it
// instead. The second thread served only the tiles' split scans.
bool TrainingNodeSet::startTree() {
    treeFromNodes_ = INT_MAX;
    tiled_ = false;
    standby_.stop();
    tiles_ = NodeTiles();
    floatPattern_.release();
    treed_ = true;
    tree_.init(metric_, in_->plan.instructions);
    return tree_.grow(centres_.data, radii_.data, labels_.data, count_);
}

// The conflict rule on node j, with its exact distance d.
void TrainingNodeSet::conflict(int j, double d, bool inside, double& r) {
    double& radius = radii_.data[j];
    const double before = radius;
    applyConflictRule(d, inside, margin_, radius, r, *counters_);
    if (inside && !(radius <= before) && static_cast<std::uint32_t>(++growthEpoch_) == 0) {
        // Memories keep 32 bits of the epoch: at the wrap, old ones would pass for new.
        for (int k = 0; k < in_->patternCount; ++k) memoryOf(k).listed() = -1;
    }
    if (inside && treed_) tree_.takeRadius(j, radius);
    if (inside && tiled_) tiles_.update(j, radius, conflictReach(radius));
    if (inside && blocked_) blockLists_.update(j, ownReach(radius), otherReach(radius));
}

int TrainingNodeSet::present(int k, const double* x, double label, double& r) {
    return withKind(metric_.kind,
                    [&](auto kind) { return presentAs<decltype(kind)::value>(k, x, label, r); });
}

// The scan with the norm fixed at compile time, so that the per-node work inlines.
template <NormKind Kind>
int TrainingNodeSet::presentAs(int k, const double* x, double label, double& r) {
    // Reports the work to the pacer every so many nodes; on an interrupt the scan ends there.
    ScanPacer pace(pacer_, static_cast<std::uint64_t>(n_));
    PatternScan scan{x, label, r, count_, -1, pace, false};
    scanListed_ = 0;
    keepReach(r);
    int next = 0;  // the plain scan goes on from here
    bool plainOnly = false;
    RememberedScan remembered = memoryOf(k);
    if (stillValid(remembered) && remembered.end() < scan.nodeCount) {
        ++paths_.remembered;
        next = replayRemembered<Kind>(scan, remembered, plainOnly);
    }
    if (blocked_ && !plainOnly && scan.cover < 0 && scan.nodeCount >= blockMinNodes_)
        next = scanBlockLists<Kind>(scan, k, next);
    if (treed_ && scan.cover < 0 && !scan.stopped) next = scanTree<Kind>(scan, next);
    if (!scan.stopped) scanPlainly<Kind>(scan, next);
    if (scan.stopped) {
        // Every node before the stop had its coverage test; nothing is remembered.
        remembered.listed() = -1;
        countCoverageTests(-1, static_cast<int>(pace.reached()));
        return kScanStopped;
    }
    rememberScan(remembered, scan.cover, scan.nodeCount);
    countCoverageTests(scan.cover, scan.nodeCount);
    return scan.cover;
}

// Only the remembered nodes can matter before the node that ended the last scan while r stays
// within the reach kept after each: visits them, then that node. Where r comes out wider, or
// the memory was full, the scan goes on from there.
template <NormKind Kind>
SPHNET_ALWAYS_INLINE int TrainingNodeSet::replayRemembered(PatternScan& scan,
                                                           RememberedScan remembered,
                                                           bool& plainOnly) {
    const int count = remembered.count();
    for (int e = 0; e < count; ++e) {
        const int j = remembered.nodes()[e];
        visit<Kind>(scan, j);
        if (!(scan.r <= rLimit_)) {  // the structures assume r <= Rmax: scan the rest plainly
            plainOnly = true;
            return j + 1;
        }
        if (!(scan.r <= remembered.reach(e))) return j + 1;
    }
    if (remembered.goesOn()) return remembered.nodes()[count - 1] + 1;
    if (visit<Kind>(scan, remembered.end())) scan.cover = remembered.end();
    return remembered.end() + 1;
}

// Visits, from node `next` on, the nodes the tree names in node order, run by run, each run's for
// the reach at its start; the nodes outside the runs are left to the plain scan. Should rounding
// lift the reach, the rest of the run is named afresh. Unlike the lists, the tree rests on no
// bound on r.
template <NormKind Kind>
SPHNET_ALWAYS_INLINE int TrainingNodeSet::scanTree(PatternScan& scan, int next) {
    const int indexed = tree_.indexed();
    if (next < indexed) ++paths_.tree;
    while (next < indexed) {
        const double reach = scanReach_;
        treeNodes_.size = 0;
        next = tree_.collect({scan.x, scan.label, reach, margin_}, next, treeNodes_);
        if (next < 0) {
            outOfMemory_ = true;
            return scan.nodeCount;  // the scan ends; so does the training
        }
        // The named nodes lie apart in memory: their loads overlap.
        for (std::size_t e = 0; e < treeNodes_.size; ++e) {
            const std::size_t j = static_cast<std::size_t>(treeNodes_.data[e]);
            prefetch(centres_.data + j * static_cast<std::size_t>(n_));
            prefetch(radii_.data + j);
            prefetch(labels_.data + j);
        }
        for (std::size_t e = 0; e < treeNodes_.size; ++e) {
            const int j = treeNodes_.data[e];
            if (scan.stopsAt(j)) return j;
            if (visit<Kind>(scan, j)) {
                scan.cover = j;
                return j + 1;
            }
            if (!(scanReach_ <= reach)) {
                next = j + 1;
                break;
            }
        }
    }
    return next;
}

// A coverage test passes where d - tolerance, rounded, is at most the radius: d exceeds
// radius + tolerance by no more than that difference's rounding.
double TrainingNodeSet::ownReach(double radius) const {
    return (radius + kCoverageTolerance) + (std::fabs(radius) + kCoverageTolerance) * 0x1p-50;
}

// A node of another label matters where it may cover x or conflict with some r <= Rmax.
double TrainingNodeSet::otherReach(double radius) const {
    const double conflict = conflictReach(radius);
    const double cover = ownReach(radius);
    return conflict > cover ? conflict : cover;
}

// The next patterns from k on that will scan the nodes: k itself, and those after it that no
// valid memory spares. Their lists cover the nodes there are now; nodes made while the block
// is presented come after and are scanned plainly.
bool TrainingNodeSet::collectBlock(int k) {
    const int nodes = count_;
    // Room for lists of up to half the nodes, grown in steps.
    int cap = nodes / kBlockCapDivisor + 16;
    if (cap > blockCapLimit_) cap = blockCapLimit_;
    if (cap > blockLists_.reservedCap()) {
        const int grown = 2 * blockLists_.reservedCap() > cap ? 2 * blockLists_.reservedCap() : cap;
        if (!blockLists_.reserve(static_cast<int>(blockPatterns_.size),
                                 grown < blockCapLimit_ ? grown : blockCapLimit_)) {
            return false;
        }
    }
    double room = kBlockTerms / (static_cast<double>(nodes) * n_ + 1.0);
    int block = room >= kBlockPatterns ? kBlockPatterns : static_cast<int>(room) / 8 * 8;
    if (block < 16) block = 16;
    if (block > static_cast<int>(blockPatterns_.size))
        block = static_cast<int>(blockPatterns_.size);
    int count = 0;
    // A scan most likely ends where it ended last time: lists up to the furthest such end
    // cover the block, and a scan that goes further visits the rest plainly.
    int reach = 0;
    for (int q = k; q < in_->patternCount && count < block; ++q) {
        const RememberedScan m = memoryOf(q);
        const bool spared = q != k && stillValid(m) && !m.goesOn();
        if (spared) continue;
        const int end = m.end();
        reach = end < 0 || reach < 0 ? -1 : (end + 1 > reach ? end + 1 : reach);
        blockPatterns_.data[count] = q;
        // Rows not in place are gathered into the block's own room.
        double* room = blockValues_.data == nullptr
                           ? nullptr
                           : blockValues_.data + static_cast<std::size_t>(count) * n_;
        blockRows_.data[count] = in_->patterns.row(q, n_, room);
        blockLabels_.data[count] = in_->labels[q];
        ++count;
    }
    if (blockLists_.collect(blockRows_.data, blockLabels_.data, count, cap,
                            reach < 0 || reach > nodes ? nodes : reach, threads_)) {
        ++paths_.sharedCollects;
    }
    blockCount_ = count;
    blockEpoch_ = growthEpoch_;
    return true;
}

// Visits, from node `next` on, the nodes listed for pattern k. The lists rest on r <= Rmax and
// on radii no larger than when they were made: should r rise above Rmax, the scan goes on
// plainly from the node after; should a radius have grown, the block is listed afresh.
template <NormKind Kind>
SPHNET_ALWAYS_INLINE int TrainingNodeSet::scanBlockLists(PatternScan& scan, int k, int next) {
    if (next >= scan.nodeCount) return next;
    const std::int32_t* first = blockPatterns_.data;
    const std::int32_t* last = first + blockCount_;
    const std::int32_t* at = std::lower_bound(first, last, k);
    if (at == last || *at != k || blockEpoch_ != growthEpoch_) {
        if (!collectBlock(k)) {
            outOfMemory_ = true;
            blockCount_ = 0;
            return scan.nodeCount;  // the scan ends; so does the training
        }
        at = blockPatterns_.data;
    }
    std::int32_t length = 0;
    const float* lows = nullptr;
    const std::int32_t* listed =
        blockLists_.listOf(static_cast<int>(at - blockPatterns_.data), length, lows);
    const int covered = blockLists_.nodesCovered();
    if (listed == nullptr || next >= covered) return next;
    ++paths_.blockLists;
    for (std::int32_t e =
             static_cast<std::int32_t>(std::lower_bound(listed, listed + length, next) - listed);
         e < length; ++e) {
        const int j = listed[e];
        if (scan.stopsAt(j)) return j;
        // The listed lower bound settles most nodes without their centres: as visit() does
        // with its own bounds.
        const double low = lows[e];
        const double radius = radii_.data[j];
        if (low - kCoverageTolerance > radius) {
            if (static_cast<double>(labels_.data[j]) == scan.label) continue;
            if (low >= scan.r + (radius + margin_)) {
                if (!(low >= keptReach(radius))) remember(j, scanReach_);
                continue;
            }
        }
        if (visit<Kind>(scan, j)) {
            scan.cover = j;
            return j + 1;
        }
        if (!(scan.r <= rLimit_)) return j + 1;
    }
    return covered;
}

namespace {

// One tile scan whose filtering both threads share, the nodes from `from` on in chunks. The other
// thread claims chunks in turn and makes their single-precision values, the bulk of the filter's
// work; this thread goes through them in node order: one nobody has begun it claims and filters
// plainly (stopping at the first node that matters), one with values made it filters on them
// against the limits of the moment, and while the one it needs is under way it makes a later one.
// Where the other thread falls behind (cores busy elsewhere) this one filters that chunk itself,
// and splits pause, longer each time, as they do where scans end before they use its work.
class SplitScan {
  public:
    SplitScan(StandbyThread& standby, SplitPause& pause, SplitChunks& chunks)
        : standby_(standby), pause_(pause), job_(chunks) {}
    SplitScan(const SplitScan&) = delete;
    SplitScan& operator=(const SplitScan&) = delete;
    ~SplitScan() {
        if (from == INT_MAX) return;
        const bool prompt = standby_.end();
        // A scan that ended before it reached the other thread's work gained nothing from it.
        if (prompt && !behind_ && usedAhead_) {
            pause_.inARow = 0;
        } else {
            if (pause_.inARow < kLongestPause) ++pause_.inARow;
            pause_.patterns = 1 << pause_.inARow;
        }
    }

    int from = INT_MAX;  // no split: the whole scan is this thread's
    int chunkNodes = 0;

    // Shares the scan of nodes [at, to) (at a multiple of kBlock), unless splits pause.
    // Forced, it shares it regardless of pauses, in chunks of one block where there is room,
    // and this thread filters every chunk on single-precision values, making them for the chunks
    // nobody had begun: each step of the split runs whoever wins the races.
    void begin(const NodeTiles& tiles, const NodeTiles::FloatPattern& floats, int at, int to, int n,
               HostVector<float>& sums, bool forced) {
        if (pause_.patterns > 0 && !forced) {
            --pause_.patterns;
            return;
        }
        const auto blocks =
            static_cast<std::size_t>((to - at + NodeTiles::kBlock - 1) / NodeTiles::kBlock);
        const std::size_t values = blocks * NodeTiles::kBlock;
        if (values > sums.size && !sums.resize(values, 0.0f)) return;  // no room: no split
        int chunk =
            forced
                ? 1
                : static_cast<int>(kChunkTerms / (static_cast<double>(n) * NodeTiles::kBlock)) + 1;
        const int fewest = static_cast<int>((blocks + SplitChunks::kMost - 1) / SplitChunks::kMost);
        chunkNodes = (chunk > fewest ? chunk : fewest) * NodeTiles::kBlock;
        job_.tiles = &tiles;
        job_.floats = floats;
        job_.from = at;
        job_.to = to;
        job_.chunkNodes = chunkNodes;
        job_.count = (to - at + chunkNodes - 1) / chunkNodes;
        job_.sums = sums.data;
        forced_ = forced;
        for (int c = 0; c < job_.count; ++c)
            job_.chunks.state[c].store(kFree, std::memory_order_relaxed);
        standby_.post(job_);  // publishes the states above
        from = at;
    }

    // Whether the single-precision values of node j's chunk are there to use; false where nobody
    // had begun the chunk or the other thread is slow to finish it: the caller then filters the
    // chunk itself.
    bool ready(int j, const NodeTiles::FloatPattern& floats) {
        const int c = (j - from) / chunkNodes;
        if (c == usableChunk_) return true;
        if (c == ownChunk_) return false;
        for (int spins = 0;;) {
            const int state = job_.chunks.state[c].load(std::memory_order_acquire);
            if (state == kMade) {
                usableChunk_ = c;
                usedAhead_ = true;
                return true;
            }
            if (state == kFree && job_.claim(c)) {
                // Nobody has begun it: the plain filter, which stops at the first node that
                // matters, serves better than values made for the whole chunk.
                if (forced_) {
                    job_.make(c, floats);
                    continue;
                }
                ownChunk_ = c;
                return false;
            }
            // The other thread has it: make a later one meanwhile, or wait a little.
            if (const int later = job_.claimAfter(c); later >= 0) {
                job_.make(later, floats);
            } else if (++spins > kChunkWaitSpins) {
                behind_ = true;
                ownChunk_ = c;
                return false;
            } else {
                spinPause();
            }
        }
    }
    int chunkEnd(int j) const {
        const int end = from + ((j - from) / chunkNodes + 1) * chunkNodes;
        return end < job_.to ? end : job_.to;
    }
    const float* sums() const { return job_.sums; }

  private:
    enum : int { kFree, kClaimed, kMade };
    static constexpr int kLongestPause = 6;  // a pause lasts 2^6 patterns at most
    struct Job {
        explicit Job(SplitChunks& states) : chunks(states) {}
        SplitChunks& chunks;
        const NodeTiles* tiles = nullptr;
        NodeTiles::FloatPattern floats{};
        int from = 0, to = 0, chunkNodes = 0, count = 0;
        float* sums = nullptr;

        bool claim(int c) {
            int free = kFree;
            return chunks.state[c].compare_exchange_strong(free, kClaimed,
                                                           std::memory_order_acq_rel);
        }
        int claimAfter(int c) {
            for (int later = c + 1; later < count; ++later) {
                if (chunks.state[later].load(std::memory_order_relaxed) == kFree && claim(later))
                    return later;
            }
            return -1;
        }
        void make(int c, const NodeTiles::FloatPattern& q) {
            const int first = from + c * chunkNodes;
            const int last = first + chunkNodes < to ? first + chunkNodes : to;
            tiles->makeFloatSums(q, first, last, sums + (first - from));
            chunks.state[c].store(kMade, std::memory_order_release);
        }
        // The other thread: every chunk nobody has claimed, in order, until cancelled.
        void operator()(const std::atomic<bool>& cancelled) {
            for (int c = 1; c < count && !cancelled.load(std::memory_order_relaxed); ++c) {
                if (chunks.state[c].load(std::memory_order_relaxed) == kFree && claim(c))
                    make(c, floats);
            }
        }
    };
    StandbyThread& standby_;
    SplitPause& pause_;
    Job job_;
    bool forced_ = false;
    bool behind_ = false;
    bool usedAhead_ = false;  // this scan used single-precision values made ahead
    int usableChunk_ = -1;    // the chunk whose single-precision values are known to be made
    int ownChunk_ = -1;       // the chunk this thread filters itself
};

}  // namespace

// The plain scan from node `from` on, up to a cover. For p = 1 and +Inf the tiles give the exact
// distances of eight nodes at a time and pass over the nodes that cannot matter for any
// r <= Rmax; should rounding lift r above Rmax, the rest goes node by node.
template <NormKind Kind>
SPHNET_ALWAYS_INLINE void TrainingNodeSet::scanPlainly(PatternScan& scan, int from) {
    const int M = scan.nodeCount;
    int j = from;
    // Only a scan that goes on needs the pattern made ready (a remembered cover ends most).
    if (Kind != NormKind::General && tiled_ && j < M && scan.cover < 0) {
        double d[NodeTiles::kLanes];
        NodeTiles::Pattern pattern = tiles_.prepare(scan.x, scan.label, floatPattern_.data, M - j);
        // A long scan: the second thread filters the far part while this one scans the near.
        SplitScan split(standby_, splitPause_, splitChunks_);
        const int splitFrom = j - j % NodeTiles::kBlock;
        // Forced, a scan splits wherever its nodes fill more than one chunk of one block.
        const bool forced = threads_ == ThreadUse::Two;
        if (standby_.running() && tiles_.splits(pattern) &&
            (forced ? M - splitFrom > NodeTiles::kBlock
                    : static_cast<double>(M - j) * n_ >= kSplitTerms)) {
            split.begin(tiles_, pattern.floats, splitFrom, M, n_, splitSums_, forced);
            if (split.from != INT_MAX) ++paths_.splitScans;
        }
        ++paths_.tiles;
        while (j < M && scan.cover < 0 && scan.r <= rLimit_) {
            if (scan.stopsAt(j)) return;
            // Nodes of other labels matter only within the reach the memory keeps.
            tiles_.narrowReach(pattern, rLimit_, scanReach_);
            int to = scan.pace.due() < M ? scan.pace.due() : M;
            int first;
            if (j >= split.from) {
                const int end = split.chunkEnd(j);
                if (to > end) to = end;
                first = split.ready(j, pattern.floats)
                            ? tiles_.nextBySums(pattern, split.sums(), split.from, j, to, d)
                            : tiles_.nextThatMayMatter(pattern, j, to, d);
            } else {
                first = tiles_.nextThatMayMatter(pattern, j, to, d);
            }
            if (first == to) {  // nothing in [j, to) matters
                j = to;
                continue;
            }
            const int end = first + NodeTiles::kLanes < M ? first + NodeTiles::kLanes : M;
            for (int q = first > j ? first : j; q < end && scan.cover < 0; ++q) {
                if (canChangeScan(scan, q, d[q - first]) && decide(scan, q, d[q - first]))
                    scan.cover = q;
            }
            j = end;
        }
    }
    for (; j < M && scan.cover < 0; ++j) {
        if (scan.stopsAt(j)) return;
        if (visit<Kind>(scan, j)) scan.cover = j;
    }
}

template <NormKind Kind>
SPHNET_ALWAYS_INLINE bool TrainingNodeSet::visit(PatternScan& scan, int j) {
    const double* c = centres_.data + static_cast<std::size_t>(j) * n_;
    const double radius = radii_.data[j];
    const bool same = static_cast<double>(labels_.data[j]) == scan.label;
    if (metric_.boundsUsable && n_ > 0) {
        // For p = 1 the exact sum costs no more than its bounds: no second pass over x.
        double lo, hi;
        if (Kind != NormKind::CityBlock && distanceBounds<Kind>(metric_, c, scan.x, lo, hi)) {
            // The rounded differences are monotone in d: a bound's verdict is d's verdict.
            if (same) {
                if (lo - kCoverageTolerance > radius) return false;
                if (!(hi - kCoverageTolerance > radius)) return true;
            } else if (lo - kCoverageTolerance > radius && lo >= scan.r + (radius + margin_)) {
                if (!(lo >= keptReach(radius))) remember(j, scanReach_);
                return false;  // outside, and no conflict: NoChange
            }
        }
    }
    return decide(scan, j, exactDistance<Kind>(metric_, c, scan.x));
}

SPHNET_ALWAYS_INLINE bool TrainingNodeSet::decide(PatternScan& scan, int j, double d) {
    const double radius = radii_.data[j];
    const bool inside = !(d - kCoverageTolerance > radius);
    if (static_cast<double>(labels_.data[j]) == scan.label) return inside;
    const bool kept = inside || !(d >= keptReach(radius));
    conflict(j, d, inside, scan.r);
    keepReach(scan.r);
    if (kept) remember(j, scanReach_);
    return false;
}

SPHNET_ALWAYS_INLINE bool TrainingNodeSet::canChangeScan(const PatternScan& scan, int j,
                                                         double d) const {
    const double radius = radii_.data[j];
    if (!(d - kCoverageTolerance > radius)) return true;
    if (static_cast<double>(labels_.data[j]) == scan.label) return false;
    return !(d >= keptReach(radius));
}

SPHNET_ALWAYS_INLINE void TrainingNodeSet::keepReach(double r) {
    if (blocked_) r = rLimit_;
    const float kept = static_cast<float>(r);
    scanReach_ = static_cast<double>(kept) < r ? std::nextafter(kept, HUGE_VALF) : kept;
}

// A node to remember is one of another label that is inside, or near enough to conflict with
// an r up to the kept reach. Rounding is monotone, so a node farther than that stays so while
// its radius does not grow.
SPHNET_ALWAYS_INLINE void TrainingNodeSet::remember(int j, float reach) {
    if (scanListed_ < memoryLength_) {
        scanList_[scanListed_] = j;
        scanReaches_[scanListed_] = reach;
    }
    if (scanListed_ <= memoryLength_) ++scanListed_;
}

// The scan ends at the cover, or at the node x is about to make. A full memory's next scan goes
// on after its last node.
void TrainingNodeSet::rememberScan(RememberedScan remembered, int cover, int nodeCount) {
    remembered.end() = cover >= 0 ? cover : nodeCount;
    remembered.listed() = scanListed_;
    for (int e = 0; e < remembered.count(); ++e) {
        remembered.nodes()[e] = scanList_[e];
        remembered.setReach(e, scanReaches_[e]);
    }
    remembered.epoch() = static_cast<std::int32_t>(static_cast<std::uint32_t>(growthEpoch_));
}

void TrainingNodeSet::countCoverageTests(int cover, int nodeCount) {
    const std::uint32_t tests = static_cast<std::uint32_t>(cover >= 0 ? cover + 1 : nodeCount);
    counters_->addCoverageTests(metric_.p, n_, tests);
}

// The lists, tiles and memories serve only the scans: freed before the nodes are handed over,
// so that the copy made for the caller does not come on top of them.
void TrainingNodeSet::releaseScanState() {
    standby_.stop();
    splitSums_.release();
    memories_.release();
    floatPattern_.release();
    tiles_ = NodeTiles();
    blockLists_ = NodeCandidates();
    blockPatterns_.release();
    blockRows_.release();
    blockLabels_.release();
    blockValues_.release();
    tree_ = GrowingNodeTree();
    treeNodes_.release();
    treed_ = false;
    tiled_ = false;
    blocked_ = false;
    treeFromNodes_ = INT_MAX;
    blockCount_ = 0;
}

bool TrainingNodeSet::exportTo(TrainingOutput& out) {
    releaseScanState();
    const auto n = static_cast<std::size_t>(n_);
    return handOverNodes(count_, n_, out, [&](int j, double* row) {
        if (n != 0)
            std::memcpy(row, centres_.data + static_cast<std::size_t>(j) * n, n * sizeof(double));
        row[n] = radii_.data[j];
        return labels_.data[j];
    });
}

}  // namespace sphnet
