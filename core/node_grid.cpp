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
constexpr std::int64_t kEmpty = INT64_MIN;
// A query visiting more cells than this costs more than scanning the nodes.
constexpr std::int64_t kMaxCellsPerQuery = 729;

std::int64_t cellKey(double coordinate, double cellSize) {
    double cell = std::floor(coordinate / cellSize);
    if (!(cell >= -kKeyLimit)) cell = -kKeyLimit;
    if (cell > kKeyLimit) cell = kKeyLimit;
    return static_cast<std::int64_t>(cell);
}

// Open addressing over a power-of-two table of cell keys (kMaxAxes to a slot): the slot that
// holds `cell`, or the empty slot where it belongs.
std::size_t probeSlot(const std::int64_t* keys, std::size_t slots, const std::int64_t* cell,
                      int axisCount, int stride) {
    std::uint64_t h = 0x9e3779b97f4a7c15u;
    for (int a = 0; a < axisCount; ++a) {
        h ^= static_cast<std::uint64_t>(cell[a]) + 0x9e3779b97f4a7c15u + (h << 6) + (h >> 2);
        h *= 0xff51afd7ed558ccdu;
    }
    h ^= h >> 29;
    const std::size_t mask = slots - 1;
    std::size_t slot = static_cast<std::size_t>(h) & mask;
    for (;;) {
        const std::int64_t* stored = &keys[slot * static_cast<std::size_t>(stride)];
        if (stored[0] == kEmpty) return slot;
        bool same = true;
        for (int a = 0; a < axisCount; ++a) same = same && stored[a] == cell[a];
        if (same) return slot;
        slot = (slot + 1) & mask;
    }
}
}  // namespace

std::int64_t CellLists::key(double coordinate) const { return cellKey(coordinate, cellSize_); }

std::size_t CellLists::slotOf(const std::int64_t* cell) const {
    return probeSlot(keys_.data, counts_.size, cell, axisCount_, kMaxAxes);
}

void CellLists::init(const int* axes, int axisCount, double cellSize) {
    axisCount_ = axisCount > kMaxAxes ? kMaxAxes : axisCount;
    for (int a = 0; a < axisCount_; ++a) axes_[a] = axes[a];
    cellSize_ = cellSize;
    occupied_ = 0;
}

template <typename Visit>
void CellLists::forEachCell(const double* centre, double extent, Visit visit) const {
    // Widened as in NodeGrid::markNear: rounding cannot drop a cell within extent.
    std::int64_t lo[kMaxAxes] = {0, 0, 0}, hi[kMaxAxes] = {0, 0, 0};
    for (int a = 0; a < axisCount_; ++a) {
        const double v = centre[axes_[a]];
        const double wide = extent * (1.0 + 1e-12) + std::fabs(v) * 1e-12 + 1e-300;
        lo[a] = key(v - wide);
        hi[a] = key(v + wide);
    }
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
        const double v = centre[axes_[a]];
        const double wide = extent * (1.0 + 1e-12) + std::fabs(v) * 1e-12 + 1e-300;
        cells *= static_cast<long>(key(v + wide) - key(v - wide) + 1);
        if (cells > kMaxCellsPerQuery) return -1;
    }
    return cells;
}

bool CellLists::grow() {
    HostVector<std::int64_t> oldKeys = std::move(keys_);
    HostVector<std::int32_t> oldCounts = std::move(counts_);
    const std::size_t slots = oldCounts.size < 64 ? 64 : oldCounts.size * 2;
    if (!keys_.resize(slots * kMaxAxes, kEmpty) || !counts_.resize(slots, 0)) {
        keys_ = std::move(oldKeys);
        counts_ = std::move(oldCounts);
        return false;
    }
    for (std::size_t s = 0; s < oldCounts.size; ++s) {
        if (oldKeys.data[s * kMaxAxes] == kEmpty) continue;
        const std::size_t slot = slotOf(&oldKeys.data[s * kMaxAxes]);
        std::memcpy(&keys_.data[slot * kMaxAxes], &oldKeys.data[s * kMaxAxes],
                    sizeof(std::int64_t) * kMaxAxes);
        counts_.data[slot] = oldCounts.data[s];
    }
    return true;
}

bool CellLists::count(int, const double* centre, double extent) {
    bool ok = true;
    forEachCell(centre, extent, [&](const std::int64_t* cell) {
        if (!ok) return;
        if ((occupied_ + 1) * 2 > counts_.size && !grow()) {
            ok = false;
            return;
        }
        const std::size_t slot = slotOf(cell);
        if (keys_.data[slot * kMaxAxes] == kEmpty) {
            std::memcpy(&keys_.data[slot * kMaxAxes], cell, sizeof(std::int64_t) * kMaxAxes);
            ++occupied_;
        }
        ++counts_.data[slot];
    });
    return ok;
}

bool CellLists::finishCounting() {
    if (counts_.size == 0 && !grow()) return false;
    if (!offsets_.resize(counts_.size + 1, 0)) return false;
    std::int32_t total = 0;
    for (std::size_t s = 0; s < counts_.size; ++s) {
        offsets_.data[s] = total;
        total += counts_.data[s];
        counts_.data[s] = 0;  // refilled by store()
    }
    offsets_.data[counts_.size] = total;
    return entries_.resize(static_cast<std::size_t>(total) + 1, 0);
}

double CellLists::averageLength() const {
    double total = 0;
    for (std::size_t s = 0; s < counts_.size; ++s) total += counts_.data[s];
    return occupied_ == 0 ? 0.0 : total / static_cast<double>(occupied_);
}

void CellLists::store(int j, const double* centre, double extent) {
    forEachCell(centre, extent, [&](const std::int64_t* cell) {
        const std::size_t slot = slotOf(cell);
        entries_.data[offsets_.data[slot] + counts_.data[slot]++] = j;
    });
}

const std::int32_t* CellLists::nodesAt(const double* x, std::int32_t& length) const {
    std::int64_t cell[kMaxAxes] = {0, 0, 0};
    for (int a = 0; a < axisCount_; ++a) cell[a] = key(x[axes_[a]]);
    const std::size_t slot = slotOf(cell);
    if (keys_.data[slot * kMaxAxes] == kEmpty) {
        length = 0;
        return nullptr;
    }
    length = counts_.data[slot];
    return entries_.data + offsets_.data[slot];
}

void CellLists::release() {
    keys_.release();
    counts_.release();
    offsets_.release();
    entries_.release();
    occupied_ = 0;
}

// ---- ReachLists ----

std::int64_t ReachLists::key(double coordinate) const { return cellKey(coordinate, cellSize_); }

std::size_t ReachLists::slotOf(const std::int64_t* cell) const {
    return probeSlot(keys_.data, nodes_.size, cell, axisCount_, kMaxAxes);
}

bool ReachLists::init(const int* axes, int axisCount, double cellSize, Shape shape) {
    axisCount_ = axisCount > kMaxAxes ? kMaxAxes : axisCount;
    shape_ = shape;
    for (int a = 0; a < axisCount_; ++a) axes_[a] = axes[a];
    cellSize_ = cellSize;
    occupied_ = 0;
    const std::size_t slots = 64;
    return keys_.resize(slots * kMaxAxes, kEmpty) && nodes_.resize(slots, nullptr) &&
           lengths_.resize(slots, 0) && capacities_.resize(slots, 0);
}

bool ReachLists::grow() {
    HostVector<std::int64_t> oldKeys = std::move(keys_);
    HostVector<std::int32_t*> oldNodes = std::move(nodes_);
    HostVector<std::int32_t> oldLengths = std::move(lengths_);
    HostVector<std::int32_t> oldCapacities = std::move(capacities_);
    const std::size_t slots = oldNodes.size * 2;
    if (!keys_.resize(slots * kMaxAxes, kEmpty) || !nodes_.resize(slots, nullptr) ||
        !lengths_.resize(slots, 0) || !capacities_.resize(slots, 0)) {
        keys_ = std::move(oldKeys);
        nodes_ = std::move(oldNodes);
        lengths_ = std::move(oldLengths);
        capacities_ = std::move(oldCapacities);
        return false;
    }
    // The cells' node arrays move with their slots, uncopied.
    for (std::size_t s = 0; s < oldNodes.size; ++s) {
        if (oldKeys.data[s * kMaxAxes] == kEmpty) continue;
        const std::size_t slot = slotOf(&oldKeys.data[s * kMaxAxes]);
        std::memcpy(&keys_.data[slot * kMaxAxes], &oldKeys.data[s * kMaxAxes],
                    sizeof(std::int64_t) * kMaxAxes);
        nodes_.data[slot] = oldNodes.data[s];
        lengths_.data[slot] = oldLengths.data[s];
        capacities_.data[slot] = oldCapacities.data[s];
    }
    return true;
}

bool ReachLists::insert(int j, const double* centre, double extent, bool& listed) {
    // The box first, widened so that rounding cannot drop a cell within extent: key() is
    // monotone, so a pattern within extent along every axis falls in a cell of the box.
    std::int64_t lo[kMaxAxes] = {}, hi[kMaxAxes] = {};
    std::int64_t cells = 1;
    for (int a = 0; a < axisCount_; ++a) {
        const double v = centre[axes_[a]];
        const double wide = extent * (1.0 + 1e-12) + std::fabs(v) * 1e-12 + 1e-300;
        lo[a] = key(v - wide);
        hi[a] = key(v + wide);
        if (hi[a] < lo[a]) hi[a] = lo[a];  // a negative extent still lists the centre's cell
        cells *= hi[a] - lo[a] + 1;
        if (cells > kMaxCellsPerQuery) {
            listed = false;
            return true;
        }
    }
    listed = true;
    // Per axis and cell, how far the cell lies from the centre, a little less for the rounding
    // of a pattern's cell key. The outermost keys hold everything beyond: no distance there.
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
    const double wide = extent * (1.0 + 1e-9) + 1e-300;
    std::int64_t cell[kMaxAxes] = {};
    std::copy(lo, lo + kMaxAxes, cell);
    for (;;) {
        double reachOut = 0.0;  // the cell's distance from the centre in the grid's shape
        for (int a = 0; a < axisCount_; ++a) {
            const double g = gaps[a][cell[a] - lo[a]];
            reachOut = shape_ == Shape::Diamond ? reachOut + g : reachOut + g * g;
        }
        const bool within = shape_ == Shape::Box ||
                            (shape_ == Shape::Diamond ? reachOut <= wide : reachOut <= wide * wide);
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
    if ((occupied_ + 1) * 2 > nodes_.size && !grow()) return false;
    const std::size_t slot = slotOf(cell);
    if (keys_.data[slot * kMaxAxes] == kEmpty) {
        std::memcpy(&keys_.data[slot * kMaxAxes], cell, sizeof(std::int64_t) * kMaxAxes);
        ++occupied_;
    }
    std::int32_t& length = lengths_.data[slot];
    std::int32_t& capacity = capacities_.data[slot];
    if (length == capacity) {
        const std::int32_t grown = capacity == 0 ? 4 : (capacity > (1 << 29) ? INT32_MAX : capacity * 2);
        void* block = mxRealloc(nodes_.data[slot], static_cast<std::size_t>(grown) * sizeof(std::int32_t));
        if (block == nullptr) return false;
        nodes_.data[slot] = static_cast<std::int32_t*>(block);
        capacity = grown;
    }
    nodes_.data[slot][length++] = j;
    return true;
}

const std::int32_t* ReachLists::nodesAt(const double* x, std::int32_t& length) const {
    length = 0;
    if (occupied_ == 0) return nullptr;
    std::int64_t cell[kMaxAxes] = {};
    for (int a = 0; a < axisCount_; ++a) cell[a] = key(x[axes_[a]]);
    const std::size_t slot = slotOf(cell);
    if (keys_.data[slot * kMaxAxes] == kEmpty) return nullptr;
    length = lengths_.data[slot];
    return nodes_.data[slot];
}

void ReachLists::release() {
    for (std::size_t s = 0; s < nodes_.size; ++s) mxFree(nodes_.data[s]);
    keys_.release();
    nodes_.release();
    lengths_.release();
    capacities_.release();
    occupied_ = 0;
}

}  // namespace sphnet
