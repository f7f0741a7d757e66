#include "recall_node_set.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "mex_host.h"
#include "search_allowances.h"
#include "sphere_node.h"

namespace sphnet {

namespace {
// Nodes tested plainly before the cell lists are consulted.
constexpr int kPlainStart = 16;
// Radii above this quantile make their nodes candidates for every pattern, so that a few wide
// spheres do not widen every query.
constexpr double kRadiusQuantile = 0.98;
// The Euclidean block scan pays from this many dimensions and nodes on.
constexpr int kEuclideanMinDimensions = 8;
constexpr int kEuclideanMinNodes = 256;

bool allFiniteRows(const RowView& rows, int count, int width) {
    return rows.allValues(count, width, [](int, double v) { return std::isfinite(v); });
}

// The least figure D, with the pattern's slack added, at which a node of `radius` may cover: the
// test passes only where the exact distance is at most about radius + tolerance, that distance is
// at least relLow times the true one, and D at least the true square less both slacks.
double coverBoundFor(double radius, double relLow, double nodeSlack) {
    const double reach = radius + kCoverageTolerance;
    if (!(reach >= 0) && !std::isnan(reach)) return panelBound(-1.0, nodeSlack);
    return panelBound((reach + (std::fabs(radius) + kCoverageTolerance) * 0x1p-48) / relLow,
                      nodeSlack);
}

// A radius below -tolerance never covers a pattern of finite coordinates: d - 1e-8 is at least
// -1e-8. Such nodes matter only to the 1-NN rule.
bool coverable(double radius) {
    return !(radius < -kCoverageTolerance);
}
}  // namespace

bool RecallNodeSet::buildEuclidean(const RecallInput& in, bool forced) {
    const int M = count_;
    if (!(metric_.pIsTwo && metric_.boundsUsable && n_ >= 1 && M >= 1)) return true;
    if (!forced && !(n_ >= kEuclideanMinDimensions && M >= kEuclideanMinNodes)) return true;
    // Squares of larger coordinates could overflow the sums the bounds rest on.
    if (!EuclideanPanels::holdsRows(in.templates, M, n_) ||
        !EuclideanPanels::holdsRows(in.patterns, in.patternCount, n_)) {
        return true;
    }
    // Single precision (faster than double in every dimension measured, 8 to 256) wherever the
    // data suit it, measured from the centres' mean, unless the plan asks for double.
    HostBlock<double> origin(static_cast<std::size_t>(n_));
    if (!origin) return false;
    for (int i = 0; i < n_; ++i) origin[i] = 0.0;
    for (int t = 0; t < M; ++t) {
        for (int i = 0; i < n_; ++i)
            origin[i] += centres_.data[static_cast<std::size_t>(t) * n_ + i];
    }
    for (int i = 0; i < n_; ++i) origin[i] /= M;
    const bool single =
        in.plan.precision != PanelPrecision::Double &&
        EuclideanPanels::holdsRowsInSingle(in.templates, M, n_, origin.get()) &&
        EuclideanPanels::holdsRowsInSingle(in.patterns, in.patternCount, n_, origin.get());
    if (!panels_.init(
            n_, instructions_,
            single ? EuclideanPanels::Precision::Single : EuclideanPanels::Precision::Double,
            origin.get())) {
        return false;
    }
    // In whole panels, as the selection reads them: the lanes past the last node never cover
    // and are never nearest.
    const std::size_t whole = (static_cast<std::size_t>(M) + EuclideanPanels::kPanel - 1) /
                              EuclideanPanels::kPanel * EuclideanPanels::kPanel;
    if (!coverBound_.resize(whole, -std::numeric_limits<double>::infinity()) ||
        !nodeSlack_.resize(whole, std::numeric_limits<double>::infinity())) {
        return false;
    }
    for (int t = 0; t < M; ++t) {
        if (!panels_.append(centres_.data + static_cast<std::size_t>(t) * n_)) return false;
        nodeSlack_.data[t] = panels_.kappa() * panels_.squaredNorm(t);
        coverBound_.data[t] = coverBoundFor(radii_.data[t], metric_.relLow, nodeSlack_.data[t]);
    }
    const double ratio = metric_.relHigh / metric_.relLow;
    nearestFactor_ = ratio * ratio * (1.0 + 0x1p-46);
    euclidean_ = true;
    return true;
}

PanelPrecision RecallNodeSet::panelPrecision() const {
    if (!euclidean_) return PanelPrecision::Auto;
    return panels_.precision() == EuclideanPanels::Precision::Single ? PanelPrecision::Single
                                                                     : PanelPrecision::Double;
}

bool RecallNodeSet::reproducesLiteralScan(const RecallInput& in) {
    if (in.oflag > 2) return false;
    return in.coordinatesFinite || (allFiniteRows(in.templates, in.nodeCount, in.dimension) &&
                                    allFiniteRows(in.patterns, in.patternCount, in.dimension));
}

bool RecallNodeSet::build(const RecallInput& in, bool censusWanted) {
    n_ = in.dimension;
    count_ = 0;
    metric_ = makeMetric(in.normType, n_);
    const int M = in.nodeCount;
    if (!centres_.resize(static_cast<std::size_t>(M) * n_ + 1, 0.0) ||
        !radii_.resize(static_cast<std::size_t>(M) + 1, 0.0) ||
        !labels_.resize(static_cast<std::size_t>(M) + 1, 0)) {
        return false;
    }
    in.templates.copyRows(0, M, n_, centres_.data);
    for (int t = 0; t < M; ++t) {
        radii_.data[t] = in.templates.at(t, n_);
        labels_.data[t] = static_cast<std::int32_t>(in.nodeLabels[t]);
    }
    count_ = M;
    euclidean_ = gridActive_ = tiled_ = treeActive_ = false;
    beyondCapNodes_.size = 0;
    instructions_ = availableInstructions(in.plan.instructions);
    coverByScan_ = nearest_ = census_ = SearchStructure::Plain;
    coverByIndex_ = SearchStructure::Auto;
    coverTrial_ = indexOnly_ = false;
    const SearchPlan& plan = in.plan;
    if (plan.firstCover == SearchStructure::Auto || plan.nearest == SearchStructure::Auto ||
        plan.census == SearchStructure::Auto) {
        if (!buildEuclidean(in, false) || !buildIndex(in, censusWanted)) return false;
        chooseOwnWays();
    }
    // The questions the plan settles: no trial for covers, and no structure for the 1-NN rule
    // that only finds covers.
    if (plan.firstCover != SearchStructure::Auto) {
        SearchStructure way = plan.firstCover;
        if (!prepare(in, way)) return false;
        coverTrial_ = false;
        indexOnly_ = way == SearchStructure::Tree || way == SearchStructure::Panels;
        coverByScan_ = indexOnly_ ? SearchStructure::Plain : way;
        coverByIndex_ = indexOnly_ ? way : SearchStructure::Auto;
    }
    // The grid finds first covers only; the panels give the 1-NN rule only in their own scan
    // for covers.
    const bool panelsCover = coverByIndex_ == SearchStructure::Panels;
    auto serving = [&](SearchStructure way, bool rule) {
        const bool fails = way == SearchStructure::Grid ||
                           (rule && way == SearchStructure::Panels && !panelsCover);
        return fails ? SearchStructure::Plain : way;
    };
    if (plan.nearest != SearchStructure::Auto) nearest_ = plan.nearest;
    if (plan.census != SearchStructure::Auto) census_ = plan.census;
    nearest_ = serving(nearest_, true);
    census_ = serving(census_, false);
    return prepare(in, nearest_) && prepare(in, census_);
}

// The engine's own choice for the questions the plan leaves open, among the structures built.
void RecallNodeSet::chooseOwnWays() {
    const SearchStructure scan = tiled_        ? SearchStructure::Tiles
                                 : gridActive_ ? SearchStructure::Grid
                                               : SearchStructure::Plain;
    // For p = 2 the tree takes the census only.
    const bool treeCovers = treeActive_ && !metric_.pIsTwo;
    if (treeCovers) {
        // Two ways to find covers: a timing trial on each thread picks one (classifyBlock).
        coverByScan_ = scan;
        coverByIndex_ = SearchStructure::Tree;
        coverTrial_ = true;
    } else if (euclidean_) {
        coverByIndex_ = SearchStructure::Panels;
        indexOnly_ = true;
    } else {
        coverByScan_ = scan;
    }
    nearest_ = treeCovers   ? SearchStructure::Tree
               : euclidean_ ? SearchStructure::Panels
               : tiled_     ? SearchStructure::Tiles
                            : SearchStructure::Plain;
    census_ = euclidean_ ? SearchStructure::Panels : treeActive_ ? SearchStructure::Tree : scan;
}

bool RecallNodeSet::prepare(const RecallInput& in, SearchStructure& way) {
    const int M = count_;
    bool ok = true;
    switch (way) {
        case SearchStructure::Grid:
            if (!gridActive_) ok = buildGrid(true);
            if (!gridActive_) way = SearchStructure::Plain;
            break;
        case SearchStructure::Tiles:
            if (!tiled_ && metric_.kind != NormKind::General && n_ >= 1 && M >= 1)
                ok = buildTiles();
            if (!tiled_) way = SearchStructure::Plain;
            break;
        case SearchStructure::Tree:
            if (!treeActive_ && NodeTree::fits(n_) && M >= 1) ok = buildTree();
            if (!treeActive_) way = SearchStructure::Plain;
            break;
        case SearchStructure::Panels:
            if (!euclidean_) ok = buildEuclidean(in, true);
            if (!euclidean_) way = SearchStructure::Plain;
            break;
        default:
            way = SearchStructure::Plain;
            break;
    }
    return ok;
}

bool RecallNodeSet::buildTree() {
    treeActive_ = true;
    return tree_.build(metric_, centres_.data, radii_.data, count_, instructions_);
}

// p = 1 and +Inf: exact distances eight at a time; no node conflicts here.
bool RecallNodeSet::buildTiles() {
    const std::size_t n = static_cast<std::size_t>(n_);
    tiled_ = true;
    tiles_.init(metric_.kind, n_, instructions_);
    for (int t = 0; t < count_; ++t) {
        if (!tiles_.append(centres_.data + t * n, radii_.data[t], 0.0,
                           -std::numeric_limits<double>::infinity())) {
            return false;
        }
    }
    return true;
}

bool RecallNodeSet::buildIndex(const RecallInput& in, bool censusWanted) {
    const int M = in.nodeCount;
    // The tree finds every nearest node; covers it finds faster where few spheres reach a
    // pattern, the scans below where a pattern's first cover comes early (see classifyBlock).
    // For p = 2 the panels answer, or where they do not pay, the tree counts the covers (where
    // the census is wanted).
    const bool treeServes = !metric_.pIsTwo || censusWanted;
    if (!euclidean_ && treeServes && NodeTree::paysFor(n_, M) && !buildTree()) return false;
    // p = 1 and +Inf where tiles pay.
    if (metric_.kind != NormKind::General && NodeTiles::paysFor(n_)) return buildTiles();
    // For other p, the scan beside the tree: the grid's lists, in node order, find early
    // covers faster than the tree's walk in fewer dimensions (two Gaussian halves, p = 1.5:
    // 3.3 times at n = 4; at n = 8 the tree is faster, and the trial picks it).
    // Without the tree, and for p = 2, the plain scan, the panels or the tree beat it.
    return !treeActive_ || metric_.pIsTwo || buildGrid(false);
}

// The grid's radius cap: a high quantile of the coverable radii. False when memory runs out.
bool RecallNodeSet::gridCap(double& cap) const {
    const int M = count_;
    HostBlock<double> sorted(static_cast<std::size_t>(M));
    if (!sorted) return false;
    int finite = 0;
    for (int t = 0; t < M; ++t) {
        const double radius = radii_.data[t];
        if (coverable(radius) && std::isfinite(radius)) sorted[finite++] = radius;
    }
    cap = 0.0;
    if (finite > 0) {
        const int at = static_cast<int>(kRadiusQuantile * (finite - 1));
        std::nth_element(sorted.get(), sorted.get() + at, sorted.get() + finite);
        cap = sorted[at];
    }
    if (cap < 0) cap = 0;
    return true;
}

bool RecallNodeSet::buildGrid(bool forced) {
    const int M = count_;
    const std::size_t n = static_cast<std::size_t>(n_);
    gridActive_ = false;
    beyondCapNodes_.size = 0;
    if (M == 0 || n_ == 0) return true;
    if (metric_.kind == NormKind::General && !metric_.boundsUsable) return true;

    double cap = 0.0;
    if (!gridCap(cap)) return false;
    const double reach = gridReach(metric_, cap + kCoverageTolerance);
    if (!std::isfinite(reach)) return true;

    // The grid runs along the (up to three) coordinates where the centres spread most. Each
    // node is listed in every cell its sphere (widened by the tolerance and rounding slack)
    // reaches into; a covered pattern's cell lists its covering nodes.
    int axes[NodeGrid::kMaxAxes] = {};
    const int axisCount = widestAxes(centres_.data, n_, M, axes);
    if (!cells_.init(axes, axisCount, reach)) return false;
    auto extentOf = [&](int t) { return gridReach(metric_, radii_.data[t] + kCoverageTolerance); };
    auto listable = [&](int t) { return coverable(radii_.data[t]) && radii_.data[t] <= cap; };
    for (int t = 0; t < M; ++t) {
        bool listed = false;
        if (listable(t) && !cells_.count(centres_.data + t * n, extentOf(t), listed)) return false;
        // Wider than the cap, or NaN: it may cover anything.
        if (coverable(radii_.data[t]) && !listed && !beyondCapNodes_.push(t)) return false;
    }
    // Where the spheres are wide against the spread of the centres, every cell lists most
    // nodes and the lists save nothing over the plain scan.
    if (!forced && cells_.averageLength() * 4.0 > M) {
        cells_ = NodeGrid();
        beyondCapNodes_.release();
        return true;
    }
    if (!cells_.finishCounting()) return false;
    for (int t = 0; t < M; ++t) {
        bool listed = false;
        if (listable(t) && !cells_.insert(t, centres_.data + t * n, extentOf(t), listed))
            return false;
    }
    gridActive_ = true;
    return true;
}

bool RecallNodeSet::takeScratch(RecallScratch& s) const {
    const std::size_t M = static_cast<std::size_t>(count_) + 1;
    s.low = HostBlock<double>(M);
    s.high = HostBlock<double>(M);
    // Without nodes n may be near 2^31, with nothing behind it: no pattern buffer then.
    const bool floats = tiled_ && count_ > 0;
    if (floats) s.floats = HostBlock<float>(static_cast<std::size_t>(n_));
    const bool single = euclidean_ && panels_.precision() == EuclideanPanels::Precision::Single;
    if (euclidean_) s.block = HostBlock<EuclideanBlockState>(1);
    if (single)
        s.single = HostBlock<float>(static_cast<std::size_t>(EuclideanBlockState::kPatterns) * n_);
    return s.low && s.high && (!floats || s.floats) && (!euclidean_ || s.block) &&
           (!single || s.single);
}

// The coverage test's verdict for node j, from bounds where they settle it.
SPHNET_ALWAYS_INLINE bool RecallNodeSet::covers(int j, const double* x) const {
    const double* c = centres_.data + static_cast<std::size_t>(j) * n_;
    const double radius = radii_.data[j];
    if (metric_.boundsUsable && n_ > 0) {
        double lo, hi;
        if (distanceBounds(metric_, c, x, lo, hi)) {
            if (lo - kCoverageTolerance > radius) return false;
            if (!(hi - kCoverageTolerance > radius)) return true;
        }
    }
    return !(exactDistance(metric_, c, x) - kCoverageTolerance > radius);
}

// The literal 1-NN choice: the first node of least exact distance. Only nodes whose lower
// bound does not exceed the least upper bound can be it, so only they need exact distances.
int RecallNodeSet::nearestNode(const double* x, RecallScratch& s, bool boundsKnown) const {
    const int M = count_;
    const std::size_t n = static_cast<std::size_t>(n_);
    if (!metric_.boundsUsable) {
        int best = 0;
        double bestDistance = exactDistance(metric_, centres_.data, x);
        for (int j = 1; j < M; ++j) {
            const double d = exactDistance(metric_, centres_.data + j * n, x);
            if (d < bestDistance) {
                best = j;
                bestDistance = d;
            }
        }
        return best;
    }
    double leastHigh = std::numeric_limits<double>::infinity();
    for (int j = 0; j < M; ++j) {
        if (!boundsKnown) {
            const double* c = centres_.data + j * n;
            double lo, hi;
            if (!distanceBounds(metric_, c, x, lo, hi)) lo = hi = exactDistance(metric_, c, x);
            s.low[j] = lo;
            s.high[j] = hi;
        }
        if (s.high[j] < leastHigh) leastHigh = s.high[j];
    }
    int best = -1;
    double bestDistance = 0.0;
    for (int j = 0; j < M; ++j) {
        if (!(s.low[j] <= leastHigh)) continue;
        const double d = exactDistance(metric_, centres_.data + j * n, x);
        if (best < 0 || d < bestDistance) {
            best = j;
            bestDistance = d;
        }
    }
    return best;
}

int RecallNodeSet::nearestOf(const double* x, RecallScratch& s) const {
    switch (nearest_) {
        case SearchStructure::Tree:
            s.ranNearest |= RecallPaths::bit(SearchStructure::Tree);
            return tree_.nearest(x);
        case SearchStructure::Tiles:
            s.ranNearest |= RecallPaths::bit(SearchStructure::Tiles);
            return tiles_.nearest(x);
        default:
            s.ranNearest |= RecallPaths::bit(SearchStructure::Plain);
            return nearestNode(x, s, false);
    }
}

// The first node before `to` that covers x, or -1.
SPHNET_ALWAYS_INLINE int RecallNodeSet::firstPlainCover(const double* x, int to) const {
    for (int j = 0; j < to; ++j) {
        if (covers(j, x)) return j;
    }
    return -1;
}

// Node labels play no part: every node's conflict reach is -Inf.
template <typename Visit>
void RecallNodeSet::tileCovers(const double* x, RecallScratch& s, Visit visit) const {
    const int M = count_;
    const NodeTiles::Pattern pattern = tiles_.prepare(x, 0.0, s.floats.get(), M);
    double d[NodeTiles::kLanes];
    for (int j = 0; j < M;) {
        const int first = tiles_.nextThatMayMatter(pattern, j, M, d);
        const int end = first + NodeTiles::kLanes < M ? first + NodeTiles::kLanes : M;
        for (int q = first > j ? first : j; q < end; ++q) {
            if (!(d[q - first] - kCoverageTolerance > radii_.data[q]) && visit(q)) return;
        }
        j = end;
    }
}

// A node is either listed in cells or wide, never both.
template <typename Visit>
void RecallNodeSet::gridCandidates(const double* x, int from, Visit visit) const {
    std::int32_t length = 0;
    const std::int32_t* listed = cells_.nodesAt(x, length);
    const std::int32_t* wide = beyondCapNodes_.data;
    const auto wideCount = static_cast<std::int32_t>(beyondCapNodes_.size);
    std::int32_t a = 0, b = 0;
    while (a < length && listed[a] < from) ++a;
    while (b < wideCount && wide[b] < from) ++b;
    while (a < length || b < wideCount) {
        const int j =
            b >= wideCount || (a < length && listed[a] < wide[b]) ? listed[a++] : wide[b++];
        if (visit(j)) return;
    }
}

// The plain scan that keeps every node's bounds, for the 1-NN choice of an uncovered pattern.
int RecallNodeSet::coverKeepingBounds(const double* x, RecallScratch& s) const {
    for (int j = 0; j < count_; ++j) {
        const double* c = centres_.data + static_cast<std::size_t>(j) * n_;
        double lo, hi;
        if (!distanceBounds(metric_, c, x, lo, hi)) lo = hi = exactDistance(metric_, c, x);
        s.low[j] = lo;
        s.high[j] = hi;
        const double radius = radii_.data[j];
        if (lo - kCoverageTolerance > radius) continue;
        if (!(hi - kCoverageTolerance > radius) ||
            !(exactDistance(metric_, c, x) - kCoverageTolerance > radius)) {
            return j;
        }
    }
    return -1;
}

int RecallNodeSet::classify(const double* x, bool wantNearest, RecallScratch& s, int& nearest,
                            std::uint64_t& tests) const {
    const int M = count_;
    const bool keepBounds =
        wantNearest && metric_.boundsUsable && nearest_ == SearchStructure::Plain;
    const SearchStructure way = s.treeCovers ? SearchStructure::Tree : coverByScan_;
    s.ranCover |= RecallPaths::bit(way);
    int cover = -1;
    auto found = [&](int j) {
        cover = j;
        return true;
    };
    if (way == SearchStructure::Tree) {
        cover = tree_.firstCover(x);
    } else if (way == SearchStructure::Tiles) {
        tileCovers(x, s, found);
    } else if (way == SearchStructure::Grid) {
        // Only the nodes listed for x's cell, and those too wide for any list, can cover x:
        // the first of them in node order that does is the literal scan's cover. A cover among
        // the first few nodes is found before the cell lookup would pay.
        const int plain = M < kPlainStart ? M : kPlainStart;
        cover = firstPlainCover(x, plain);
        if (cover < 0) gridCandidates(x, plain, [&](int j) { return covers(j, x) && found(j); });
    } else {
        cover = keepBounds ? coverKeepingBounds(x, s) : firstPlainCover(x, M);
    }
    tests += static_cast<std::uint64_t>(cover >= 0 ? cover + 1 : M);
    nearest = -1;
    if (cover >= 0 || !wantNearest || M == 0) return cover;
    if (way == SearchStructure::Plain && keepBounds) {
        s.ranNearest |= RecallPaths::bit(SearchStructure::Plain);
        nearest = nearestNode(x, s, true);
    } else {
        nearest = nearestOf(x, s);
    }
    return cover;
}

void RecallNodeSet::classifyBlock(const double* const* patterns, int count, bool wantNearest,
                                  RecallScratch& s, int* cover, int* nearest,
                                  std::uint64_t& tests) const {
    if (!coverTrial_) {
        classifyBlockAs(indexOnly_, patterns, count, wantNearest, s, cover, nearest, tests);
        return;
    }
    // Which finds covers faster depends on how far the cells' lists go, or how many spheres
    // reach a pattern: the first blocks on each thread try both ways (see SearchTrial).
    const bool timed = s.coverTrial.deciding();
    if (timed) s.coverTrial.start();
    classifyBlockAs(s.coverTrial.alternative(), patterns, count, wantNearest, s, cover, nearest,
                    tests);
    if (timed) {
        s.coverTrial.stop(count);
    } else {
        s.coverTrial.keep();
    }
}

void RecallNodeSet::classifyBlockAs(bool byIndex, const double* const* patterns, int count,
                                    bool wantNearest, RecallScratch& s, int* cover, int* nearest,
                                    std::uint64_t& tests) const {
    s.treeCovers = byIndex && coverByIndex_ == SearchStructure::Tree;
    const bool nearestByPanels = wantNearest && nearest_ == SearchStructure::Panels;
    if (byIndex && coverByIndex_ == SearchStructure::Panels) {
        classifyEuclidean(patterns, count, nearestByPanels, s, cover, nearest, tests);
        if (!wantNearest || nearestByPanels || count_ == 0) return;
        for (int k = 0; k < count; ++k) {
            if (cover[k] < 0) nearest[k] = nearestOf(patterns[k], s);
        }
        return;
    }
    for (int k = 0; k < count; ++k)
        cover[k] = classify(patterns[k], wantNearest, s, nearest[k], tests);
}

// Per pattern of a block: its squared norm, its slack and, for single-precision panels, its
// coordinates rounded as the panels read them.
void RecallNodeSet::prepareBlock(const double* const* patterns, int count, RecallScratch& s) const {
    EuclideanBlockState& b = *s.block.get();
    const bool single = panels_.precision() == EuclideanPanels::Precision::Single;
    for (int k = 0; k < count; ++k) {
        b.norm[k] = panels_.squaredNorm(patterns[k]);
        b.slack[k] = panels_.kappa() * b.norm[k] + panels_.tinyError();
        b.rounded[k] = nullptr;
        if (!single) continue;
        float* row = s.single.get() + static_cast<std::size_t>(k) * n_;
        panels_.roundToSingle(patterns[k], row);
        b.rounded[k] = row;
    }
}

// The block scan: for each group of patterns and panel of nodes, in node order, the figures D
// decide most nodes at once; exact distances settle the rest. A pattern leaves the scan at
// its first cover. For the 1-NN rule each pattern keeps the least upper bound so far and the
// nodes whose lower bound has not exceeded it; the literal choice is among them.
void RecallNodeSet::classifyEuclidean(const double* const* patterns, int count, bool wantNearest,
                                      RecallScratch& s, int* cover, int* nearest,
                                      std::uint64_t& tests) const {
    constexpr int kGroup = EuclideanPanels::kGroup;
    EuclideanBlockState& b = *s.block.get();
    prepareBlock(patterns, count, s);
    for (int k = 0; k < count; ++k) {
        cover[k] = -1;
        nearest[k] = -1;
        b.leastHigh[k] = std::numeric_limits<double>::infinity();
        b.candidateCount[k] = 0;
    }
    const int panels = panels_.panels();
    const int chunk = panelChunk(n_, EuclideanPanels::kWidest);
    for (int q0 = 0; q0 < panels; q0 += chunk) {
        const int q1 = q0 + chunk < panels ? q0 + chunk : panels;
        int active = 0;
        for (int k = 0; k < count; ++k) {
            if (cover[k] < 0) b.active[active++] = k;
        }
        if (active == 0) break;
        for (int g = 0; g < active; g += kGroup) {
            scanGroup(patterns, g, active - g < kGroup ? active - g : kGroup, q0, q1, wantNearest,
                      b, cover);
        }
    }
    s.ranCover |= RecallPaths::bit(SearchStructure::Panels);
    for (int k = 0; k < count; ++k) {
        if (cover[k] >= 0) {
            tests += static_cast<std::uint64_t>(cover[k]) + 1;
            continue;
        }
        tests += static_cast<std::uint64_t>(count_);
        if (!wantNearest || count_ == 0) continue;
        s.ranNearest |= RecallPaths::bit(SearchStructure::Panels);
        nearest[k] = b.candidateCount[k] > EuclideanBlockState::kCandidates
                         ? nearestNode(patterns[k], s, false)
                         : nearestCandidate(b, k, patterns[k]);
    }
}

// One group of the block's active patterns, b.active[g, g + rows), against panels [q0, q1).
void RecallNodeSet::scanGroup(const double* const* patterns, int g, int rows, int q0, int q1,
                              bool wantNearest, EuclideanBlockState& b, int* cover) const {
    constexpr int kGroup = EuclideanPanels::kGroup;
    const double* x[kGroup];
    const float* xSingle[kGroup];
    double norms[kGroup], slack[kGroup], least[kGroup];
    for (int r = 0; r < rows; ++r) {
        const int k = b.active[g + r];
        x[r] = patterns[k];
        xSingle[r] = b.rounded[k];
        norms[r] = b.norm[k];
        slack[r] = b.slack[k];
        least[r] = b.leastHigh[k];
    }
    unsigned covering[kGroup], near[kGroup];
    for (int q = q0; q < q1; q += EuclideanPanels::kWidest) {
        const int width = q1 - q < EuclideanPanels::kWidest ? q1 - q : EuclideanPanels::kWidest;
        const int first = q * EuclideanPanels::kPanel;
        const double* bounds = coverBound_.data + first;
        EuclideanPanels::Selection selection{bounds, bounds, nullptr, nullptr, slack};
        selection.single = xSingle;
        if (wantNearest) {
            selection.nodeSlack = nodeSlack_.data + first;
            selection.nearestFactor = nearestFactor_;
            selection.least = least;
            selection.nearMasks = near;
        }
        panels_.select(x, norms, rows, q, width, selection, covering, b.distances);
        for (int r = 0; r < rows; ++r) {
            const int k = b.active[g + r];
            if (cover[k] >= 0) continue;
            cover[k] = firstCoverAmong(covering[r], first, x[r]);
            if (cover[k] >= 0 || !wantNearest) continue;
            b.leastHigh[k] = least[r];
            for (unsigned lanes = near[r]; lanes != 0; lanes &= lanes - 1) {
                const int l = lowestLane(lanes);
                keepCandidate(
                    b, k, first + l,
                    b.distances[r * EuclideanPanels::kLanes + l] - nodeSlack_.data[first + l]);
            }
        }
    }
}

// The first node of the lanes `mayCover` (node first + lane) that covers x, or -1.
int RecallNodeSet::firstCoverAmong(unsigned mayCover, int first, const double* x) const {
    for (; mayCover != 0; mayCover &= mayCover - 1) {
        const int j = first + lowestLane(mayCover);
        if (!(distanceTo(j, x) - kCoverageTolerance > radii_.data[j])) return j;
    }
    return -1;
}

// Keeps node j, its figure less its slack `low`, among pattern k's 1-NN candidates. When full,
// those a later, nearer node has ruled out go; if still full, they have overflowed and the exact
// 1-NN scan decides.
void RecallNodeSet::keepCandidate(EuclideanBlockState& b, int k, int j, double low) const {
    constexpr int kCandidates = EuclideanBlockState::kCandidates;
    std::int32_t& kept = b.candidateCount[k];
    if (kept == kCandidates) {
        const double limit =
            EuclideanPanels::nearestLimit(nearestFactor_, b.leastHigh[k], b.slack[k]);
        int write = 0;
        for (int e = 0; e < kCandidates; ++e) {
            if (b.candidateLow[k][e] <= limit) {
                b.candidates[k][write] = b.candidates[k][e];
                b.candidateLow[k][write++] = b.candidateLow[k][e];
            }
        }
        kept = write;
    }
    if (kept >= kCandidates) {
        kept = kCandidates + 1;
        return;
    }
    b.candidates[k][kept] = j;
    b.candidateLow[k][kept++] = low;
}

// Pattern k's nearest node among its candidates: they are in node order, so the first of least
// exact distance is the literal one.
int RecallNodeSet::nearestCandidate(const EuclideanBlockState& b, int k, const double* x) const {
    const double limit = EuclideanPanels::nearestLimit(nearestFactor_, b.leastHigh[k], b.slack[k]);
    int best = -1;
    double leastDistance = 0.0;
    for (int e = 0; e < b.candidateCount[k]; ++e) {
        if (!(b.candidateLow[k][e] <= limit)) continue;
        const int j = b.candidates[k][e];
        const double d = distanceTo(j, x);
        if (best < 0 || d < leastDistance) {
            best = j;
            leastDistance = d;
        }
    }
    return best;
}

double RecallNodeSet::distanceTo(int j, const double* x) const {
    return exactDistance(metric_, centres_.data + static_cast<std::size_t>(j) * n_, x);
}

// Every covering node, not just the first: the same candidates as classify() (tree, tiles,
// panels, or all nodes), scanned to the end. The order does not matter.
void RecallNodeSet::coverCensus(const double* const* patterns, int count, RecallScratch& s,
                                int* covering, bool* differ) const {
    std::int32_t firstLabel[EuclideanBlockState::kPatterns];
    for (int k = 0; k < count; ++k) {
        covering[k] = 0;
        differ[k] = false;
    }
    if (count_ == 0) return;
    s.ranCensus |= RecallPaths::bit(census_);
    if (census_ == SearchStructure::Panels) {
        coverCensusEuclidean(patterns, count, s, covering, firstLabel, differ);
        return;
    }
    const int M = count_;
    for (int k = 0; k < count; ++k) {
        const double* x = patterns[k];
        auto note = [&](int j) {
            noteCover(labels_.data[j], covering[k], firstLabel[k], differ[k]);
            return false;  // every cover counts
        };
        if (census_ == SearchStructure::Tree) {
            tree_.coverCensus(x, labels_.data, covering[k], differ[k]);
        } else if (census_ == SearchStructure::Tiles) {
            tileCovers(x, s, note);
        } else {
            for (int j = 0; j < M; ++j) {
                if (covers(j, x)) note(j);
            }
        }
    }
}

// The census by the panels: every node whose figure D leaves coverage open gets its exact
// distance; chunks of panels stay in cache while every group of patterns passes over them.
void RecallNodeSet::coverCensusEuclidean(const double* const* patterns, int count, RecallScratch& s,
                                         int* covering, std::int32_t* firstLabel,
                                         bool* differ) const {
    constexpr int kGroup = EuclideanPanels::kGroup;
    prepareBlock(patterns, count, s);
    EuclideanBlockState& b = *s.block.get();
    const int panels = panels_.panels();
    const int chunk = panelChunk(n_, EuclideanPanels::kWidest);
    for (int q0 = 0; q0 < panels; q0 += chunk) {
        const int q1 = q0 + chunk < panels ? q0 + chunk : panels;
        for (int g = 0; g < count; g += kGroup) {
            const int rows = count - g < kGroup ? count - g : kGroup;
            unsigned mayCover[kGroup];
            for (int q = q0; q < q1; q += EuclideanPanels::kWidest) {
                const int width =
                    q1 - q < EuclideanPanels::kWidest ? q1 - q : EuclideanPanels::kWidest;
                const int first = q * EuclideanPanels::kPanel;
                const double* bounds = coverBound_.data + first;
                EuclideanPanels::Selection selection{bounds, bounds, nullptr, nullptr, b.slack + g};
                selection.single = b.rounded + g;
                panels_.select(patterns + g, b.norm + g, rows, q, width, selection, mayCover,
                               b.distances);
                for (int r = 0; r < rows; ++r) {
                    const int k = g + r;
                    for (unsigned lanes = mayCover[r]; lanes != 0; lanes &= lanes - 1) {
                        const int j = first + lowestLane(lanes);
                        if (distanceTo(j, patterns[k]) - kCoverageTolerance > radii_.data[j])
                            continue;
                        noteCover(labels_.data[j], covering[k], firstLabel[k], differ[k]);
                    }
                }
            }
        }
    }
}

}  // namespace sphnet
