#include "node_grid.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace sphnet {

namespace {
// Keys beyond this are clamped: clamping only merges far cells, so queries stay conservative.
constexpr double kKeyLimit = 1099511627776.0;  // 2^40
// A node reaching more cells than this costs more in the lists than it saves a scan.
constexpr std::int64_t kMaxCellsPerNode = 729;

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

std::size_t NodeGrid::slotOf(const std::int64_t* cell) const {
    const std::size_t mask = slots() - 1;
    std::size_t slot = hashOf(cell, axisCount_) & mask;
    for (;;) {
        const std::int64_t* stored = &keys_.data[slot * kMaxAxes];
        if (stored[0] == kFree) return slot;
        bool same = true;
        for (int a = 0; a < axisCount_; ++a) same = same && stored[a] == cell[a];
        if (same) return slot;
        slot = (slot + 1) & mask;
    }
}

bool NodeGrid::grow() {
    HostVector<std::int64_t> oldKeys = std::move(keys_);
    HostVector<Cell> oldCells = std::move(cells_);
    const std::size_t slots = oldCells.size < 64 ? 64 : oldCells.size * 2;
    if (!keys_.resize(slots * kMaxAxes, kFree) || !cells_.resize(slots, Cell())) {
        keys_ = std::move(oldKeys);
        cells_ = std::move(oldCells);
        return false;
    }
    for (std::size_t s = 0; s < oldCells.size; ++s) {
        const std::int64_t* cell = &oldKeys.data[s * kMaxAxes];
        if (cell[0] == kFree) continue;
        const std::size_t slot = slotOf(cell);
        std::memcpy(&keys_.data[slot * kMaxAxes], cell, sizeof(std::int64_t) * kMaxAxes);
        cells_.data[slot] = oldCells.data[s];
    }
    return true;
}

bool NodeGrid::init(const int* axes, int axisCount, double cellSize) {
    *this = NodeGrid();
    axisCount_ = axisCount > kMaxAxes ? kMaxAxes : axisCount;
    for (int a = 0; a < axisCount_; ++a) axes_[a] = axes[a];
    cellSize_ = cellSize;
    return grow();
}

// Visits every cell within `extent` of the centre along every axis; false when visit(cell) is
// (memory ran out). cellKey() is monotone, so a pattern within extent along every axis falls in
// a cell of the box.
template <typename Visit>
bool NodeGrid::forEachCell(const double* centre, double extent, bool& listed, Visit visit) {
    std::int64_t lo[kMaxAxes] = {}, hi[kMaxAxes] = {};
    std::int64_t cells = 1;
    for (int a = 0; a < axisCount_; ++a) {
        keyRange(centre[axes_[a]], extent, cellSize_, lo[a], hi[a]);
        if (hi[a] < lo[a]) hi[a] = lo[a];  // a negative extent still lists the centre's cell
        cells *= hi[a] - lo[a] + 1;
        if (cells > kMaxCellsPerNode) {
            listed = false;
            return true;
        }
    }
    listed = true;
    std::int64_t cell[kMaxAxes] = {lo[0], lo[1], lo[2]};
    for (;;) {
        if (!visit(cell)) return false;
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

NodeGrid::Cell* NodeGrid::claim(const std::int64_t* cell) {
    if ((occupied_ + 1) * 2 > slots() && !grow()) return nullptr;
    const std::size_t slot = slotOf(cell);
    if (isFree(slot)) {
        std::memcpy(&keys_.data[slot * kMaxAxes], cell, sizeof(std::int64_t) * kMaxAxes);
        ++occupied_;
    }
    return &cells_.data[slot];
}

bool NodeGrid::insert(int j, const double* centre, double extent, bool& listed) {
    return forEachCell(centre, extent, listed, [&](const std::int64_t* key) {
        Cell* cell = claim(key);
        if (cell == nullptr) return false;
        entries_.data[cell->start + cell->length++] = j;
        return true;
    });
}

bool NodeGrid::count(const double* centre, double extent, bool& listed) {
    return forEachCell(centre, extent, listed, [&](const std::int64_t* key) {
        Cell* cell = claim(key);
        if (cell != nullptr) ++cell->length;
        return cell != nullptr;
    });
}

// Each cell's room in one block; insert() fills it again.
bool NodeGrid::finishCounting() {
    std::int32_t total = 0;
    for (std::size_t s = 0; s < slots(); ++s) {
        cells_.data[s].start = total;
        total += cells_.data[s].length;
        cells_.data[s].length = 0;
    }
    return entries_.resize(static_cast<std::size_t>(total) + 1, 0);
}

const std::int32_t* NodeGrid::nodesAt(const double* x, std::int32_t& length) const {
    length = 0;
    if (occupied_ == 0) return nullptr;
    std::int64_t key[kMaxAxes] = {};
    for (int a = 0; a < axisCount_; ++a) key[a] = cellKey(x[axes_[a]], cellSize_);
    const Cell& cell = cells_.data[slotOf(key)];
    length = cell.length;
    return entries_.data + cell.start;
}

double NodeGrid::averageLength() const {
    double total = 0;
    for (std::size_t s = 0; s < slots(); ++s) total += cells_.data[s].length;
    return occupied_ == 0 ? 0.0 : total / static_cast<double>(occupied_);
}

int widestAxes(const double* centres, int n, int count, int* axes) {
    constexpr int most = NodeGrid::kMaxAxes;
    double spread[most] = {};
    int axisCount = 0;
    for (int i = 0; i < n; ++i) {
        double lo = 0, hi = 0;
        for (int k = 0; k < count; ++k) {
            const double v = centres[static_cast<std::size_t>(k) * n + i];
            if (k == 0 || v < lo) lo = v;
            if (k == 0 || v > hi) hi = v;
        }
        const double width = hi - lo;
        int at = axisCount < most ? axisCount++ : most;
        for (; at > 0 && width > spread[at - 1]; --at) {
            if (at == most) continue;
            spread[at] = spread[at - 1];
            axes[at] = axes[at - 1];
        }
        if (at < most) {
            spread[at] = width;
            axes[at] = i;
        }
    }
    return axisCount;
}

}  // namespace sphnet
