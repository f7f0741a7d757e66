#include "node_grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "mex_host.h"

namespace sphnet {

namespace {
// Keys beyond this are clamped: clamping only merges far cells, so queries stay conservative.
constexpr double kKeyLimit = 1099511627776.0;  // 2^40
// A query visiting more cells than this costs more than scanning the nodes.
constexpr std::int64_t kMaxCellsPerQuery = 729;

std::int64_t cellKey(double coordinate, double cellSize) {
    double cell = std::floor(coordinate / cellSize);
    if (!(cell >= -kKeyLimit)) cell = -kKeyLimit;
    if (cell > kKeyLimit) cell = kKeyLimit;
    return static_cast<std::int64_t>(cell);
}

// The keys of the cells within `extent` of coordinate v, widened so that rounding cannot drop
// the cell of a pattern x with fl(x - v) within extent: v + extent may round below such an x.
void keyRange(double v, double extent, double cellSize, std::int64_t& lo, std::int64_t& hi) {
    const double wide = extent * (1.0 + 1e-12) + std::fabs(v) * 1e-12 + 1e-300;
    lo = cellKey(v - wide, cellSize);
    hi = cellKey(v + wide, cellSize);
}

// Where the table's walk for `cell` starts.
std::size_t hashOf(const std::int64_t* cell, int axisCount) {
    std::uint64_t h = 0x9e3779b97f4a7c15u;
    for (int a = 0; a < axisCount; ++a) {
        h ^= static_cast<std::uint64_t>(cell[a]) + 0x9e3779b97f4a7c15u + (h << 6) + (h >> 2);
        h *= 0xff51afd7ed558ccdu;
    }
    h ^= h >> 29;
    return static_cast<std::size_t>(h);
}
}  // namespace

template <int kMaxAxes, typename Value>
std::size_t CellHash<kMaxAxes, Value>::slotOf(const std::int64_t* cell, int axisCount) const {
    const std::size_t mask = slots() - 1;
    std::size_t slot = hashOf(cell, axisCount) & mask;
    for (;;) {
        const std::int64_t* stored = &keys_.data[slot * kMaxAxes];
        if (stored[0] == kFree) return slot;
        bool same = true;
        for (int a = 0; a < axisCount; ++a) same = same && stored[a] == cell[a];
        if (same) return slot;
        slot = (slot + 1) & mask;
    }
}

template <int kMaxAxes, typename Value>
bool CellHash<kMaxAxes, Value>::claim(const std::int64_t* cell, int axisCount, std::size_t& slot) {
    if ((occupied_ + 1) * 2 > slots() && !grow(axisCount)) return false;
    slot = slotOf(cell, axisCount);
    if (isFree(slot)) {
        std::memcpy(&keys_.data[slot * kMaxAxes], cell, sizeof(std::int64_t) * kMaxAxes);
        ++occupied_;
    }
    return true;
}

// Twice the slots (64 at first); cells keep their values, moved along uncopied.
template <int kMaxAxes, typename Value>
bool CellHash<kMaxAxes, Value>::grow(int axisCount) {
    HostVector<std::int64_t> oldKeys = std::move(keys_);
    HostVector<Value> oldValues = std::move(values_);
    const std::size_t slots = oldValues.size < 64 ? 64 : oldValues.size * 2;
    if (!keys_.resize(slots * kMaxAxes, kFree) || !values_.resize(slots, Value{})) {
        keys_ = std::move(oldKeys);
        values_ = std::move(oldValues);
        return false;
    }
    for (std::size_t s = 0; s < oldValues.size; ++s) {
        const std::int64_t* cell = &oldKeys.data[s * kMaxAxes];
        if (cell[0] == kFree) continue;
        const std::size_t slot = slotOf(cell, axisCount);
        std::memcpy(&keys_.data[slot * kMaxAxes], cell, sizeof(std::int64_t) * kMaxAxes);
        values_.data[slot] = oldValues.data[s];
    }
    return true;
}

template <int kMaxAxes, typename Value>
void CellHash<kMaxAxes, Value>::release() {
    keys_.release();
    values_.release();
    occupied_ = 0;
}

std::int64_t CellLists::key(double coordinate) const {
    return cellKey(coordinate, cellSize_);
}

void CellLists::init(const int* axes, int axisCount, double cellSize) {
    release();
    axisCount_ = axisCount > kMaxAxes ? kMaxAxes : axisCount;
    for (int a = 0; a < axisCount_; ++a) axes_[a] = axes[a];
    cellSize_ = cellSize;
}

template <typename Visit>
void CellLists::forEachCell(const double* centre, double extent, Visit visit) const {
    std::int64_t lo[kMaxAxes] = {0, 0, 0}, hi[kMaxAxes] = {0, 0, 0};
    for (int a = 0; a < axisCount_; ++a)
        keyRange(centre[axes_[a]], extent, cellSize_, lo[a], hi[a]);
    std::int64_t cell[kMaxAxes] = {lo[0], lo[1], lo[2]};
    for (;;) {
        visit(cell);
        int a = 0;
        while (a < axisCount_ && cell[a] == hi[a]) {
            cell[a] = lo[a];
            ++a;
        }
        if (a == axisCount_) break;
        ++cell[a];
    }
}

long CellLists::cellsCovered(const double* centre, double extent) const {
    long cells = 1;
    for (int a = 0; a < axisCount_; ++a) {
        std::int64_t lo = 0, hi = 0;
        keyRange(centre[axes_[a]], extent, cellSize_, lo, hi);
        cells *= static_cast<long>(hi - lo + 1);
        if (cells > kMaxCellsPerQuery) return -1;
    }
    return cells;
}

bool CellLists::count(int, const double* centre, double extent) {
    bool ok = true;
    forEachCell(centre, extent, [&](const std::int64_t* cell) {
        std::size_t slot = 0;
        if (!ok || !cells_.claim(cell, axisCount_, slot)) {
            ok = false;
            return;
        }
        ++cells_.values()[slot];
    });
    return ok;
}

bool CellLists::finishCounting() {
    if (!cells_.ensureTable(axisCount_)) return false;
    const std::size_t slots = cells_.slots();
    std::int32_t* counts = cells_.values();
    if (!offsets_.resize(slots + 1, 0)) return false;
    std::int32_t total = 0;
    for (std::size_t s = 0; s < slots; ++s) {
        offsets_.data[s] = total;
        total += counts[s];
        counts[s] = 0;  // refilled by store()
    }
    offsets_.data[slots] = total;
    return entries_.resize(static_cast<std::size_t>(total) + 1, 0);
}

double CellLists::averageLength() const {
    double total = 0;
    for (std::size_t s = 0; s < cells_.slots(); ++s) total += cells_.values()[s];
    return cells_.occupied() == 0 ? 0.0 : total / static_cast<double>(cells_.occupied());
}

void CellLists::store(int j, const double* centre, double extent) {
    forEachCell(centre, extent, [&](const std::int64_t* cell) {
        const std::size_t slot = cells_.slotOf(cell, axisCount_);
        entries_.data[offsets_.data[slot] + cells_.values()[slot]++] = j;
    });
}

const std::int32_t* CellLists::nodesAt(const double* x, std::int32_t& length) const {
    std::int64_t cell[kMaxAxes] = {0, 0, 0};
    for (int a = 0; a < axisCount_; ++a) cell[a] = key(x[axes_[a]]);
    const std::size_t slot = cells_.slotOf(cell, axisCount_);
    if (cells_.isFree(slot)) {
        length = 0;
        return nullptr;
    }
    length = cells_.values()[slot];
    return entries_.data + offsets_.data[slot];
}

void CellLists::release() {
    cells_.release();
    offsets_.release();
    entries_.release();
}

// ---- ReachLists ----

std::int64_t ReachLists::key(double coordinate) const {
    return cellKey(coordinate, cellSize_);
}

bool ReachLists::init(const int* axes, int axisCount, double cellSize, Shape shape) {
    release();
    axisCount_ = axisCount > kMaxAxes ? kMaxAxes : axisCount;
    shape_ = shape;
    for (int a = 0; a < axisCount_; ++a) axes_[a] = axes[a];
    cellSize_ = cellSize;
    return cells_.ensureTable(axisCount_);
}

bool ReachLists::insert(int j, const double* centre, double extent, bool& listed) {
    // The box first: key() is monotone, so a pattern within extent along every axis falls in a
    // cell of the box.
    std::int64_t lo[kMaxAxes] = {}, hi[kMaxAxes] = {};
    std::int64_t cells = 1;
    for (int a = 0; a < axisCount_; ++a) {
        keyRange(centre[axes_[a]], extent, cellSize_, lo[a], hi[a]);
        if (hi[a] < lo[a]) hi[a] = lo[a];  // a negative extent still lists the centre's cell
        cells *= hi[a] - lo[a] + 1;
        if (cells > kMaxCellsPerQuery) {
            listed = false;
            return true;
        }
    }
    listed = true;
    // Per axis and cell, how far the cell lies from the centre, less 1e-9 of the coordinates'
    // size: that covers a pattern's cell key rounding up past the cell's computed start (by an
    // ulp or two of cellLow) and the rounding of the shape's sum below (a few ulps of each gap),
    // so the sum needs no slack of its own. The outermost keys hold everything beyond: no
    // distance there.
    double gaps[kMaxAxes][kMaxCellsPerQuery];
    for (int a = 0; a < axisCount_; ++a) {
        const double v = centre[axes_[a]];
        for (std::int64_t k = lo[a]; k <= hi[a]; ++k) {
            double gap = 0.0;
            if (k > -kKeyLimit && k < kKeyLimit) {
                const double cellLow = static_cast<double>(k) * cellSize_;
                const double cellHigh = static_cast<double>(k + 1) * cellSize_;
                gap = cellLow - v > v - cellHigh ? cellLow - v : v - cellHigh;
                gap -= (std::fabs(v) + std::fabs(cellLow) + cellSize_) * 1e-9;
            }
            gaps[a][k - lo[a]] = gap > 0 ? gap : 0.0;
        }
    }
    std::int64_t cell[kMaxAxes] = {};
    std::copy(lo, lo + kMaxAxes, cell);
    for (;;) {
        double reachOut = 0.0;  // the cell's distance from the centre in the grid's shape
        for (int a = 0; a < axisCount_; ++a) {
            const double g = gaps[a][cell[a] - lo[a]];
            reachOut = shape_ == Shape::Diamond ? reachOut + g : reachOut + g * g;
        }
        const bool within =
            shape_ == Shape::Box ||
            (shape_ == Shape::Diamond ? reachOut <= extent : reachOut <= extent * extent);
        if (within && !listIn(j, cell)) return false;
        int a = 0;
        while (a < axisCount_ && cell[a] == hi[a]) {
            cell[a] = lo[a];
            ++a;
        }
        if (a == axisCount_) break;
        ++cell[a];
    }
    return true;
}

// Appends node j to the list of `cell`.
bool ReachLists::listIn(int j, const std::int64_t* cell) {
    std::size_t slot = 0;
    if (!cells_.claim(cell, axisCount_, slot)) return false;
    CellNodes& listed = cells_.values()[slot];
    if (listed.length == listed.capacity) {
        const std::int32_t capacity = listed.capacity;
        const std::int32_t grown =
            capacity == 0 ? 4 : (capacity > (1 << 29) ? INT32_MAX : capacity * 2);
        void* block =
            mxRealloc(listed.nodes, static_cast<std::size_t>(grown) * sizeof(std::int32_t));
        if (block == nullptr) return false;
        listed.nodes = static_cast<std::int32_t*>(block);
        listed.capacity = grown;
    }
    listed.nodes[listed.length++] = j;
    return true;
}

const std::int32_t* ReachLists::nodesAt(const double* x, std::int32_t& length) const {
    length = 0;
    if (cells_.occupied() == 0) return nullptr;
    std::int64_t cell[kMaxAxes] = {};
    for (int a = 0; a < axisCount_; ++a) cell[a] = key(x[axes_[a]]);
    const std::size_t slot = cells_.slotOf(cell, axisCount_);
    if (cells_.isFree(slot)) return nullptr;
    const CellNodes& listed = cells_.values()[slot];
    length = listed.length;
    return listed.nodes;
}

void ReachLists::release() {
    for (std::size_t s = 0; s < cells_.slots(); ++s) mxFree(cells_.values()[s].nodes);
    cells_.release();
}

}  // namespace sphnet
