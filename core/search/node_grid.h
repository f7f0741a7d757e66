// A uniform grid over up to three coordinates of the node centres, hashed by cell, that lists per
// cell the nodes a pattern in that cell may meet, in node order, so a scan can skip the others
// and still visit its candidates in order. It lists a fixed node set once, all lists side by side
// in one block. Every array comes from the host allocator and is freed with its owner.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_buffer.h"

namespace sphnet {

class NodeGrid {
  public:
    static constexpr int kMaxAxes = 3;

    // Axes: coordinate indices; cellSize > 0 and finite. False when memory runs out.
    bool init(const int* axes, int axisCount, double cellSize);
    // count() every node first, then finishCounting(), then insert() them in increasing order:
    // each goes into every cell within `extent` of its centre along every axis. `listed` is false
    // (and nothing stored) when that box holds too many cells; the caller must then treat the
    // node as a candidate for every pattern. averageLength() holds from the count on.
    bool count(const double* centre, double extent, bool& listed);
    bool finishCounting();
    bool insert(int j, const double* centre, double extent, bool& listed);
    // The nodes listed for x's cell, in ascending order; `length` 0 when none.
    const std::int32_t* nodesAt(const double* x, std::int32_t& length) const;
    // Entries per occupied cell.
    double averageLength() const;

  private:
    // A cell's nodes: entries_[start, start + length).
    struct Cell {
        std::int32_t start = 0;
        std::int32_t length = 0;
    };
    std::size_t slots() const { return cells_.size; }
    bool isFree(std::size_t slot) const { return keys_.data[slot * kMaxAxes] == kFree; }
    // The slot that holds `cell`, or the free slot where it belongs. The table must not be empty.
    std::size_t slotOf(const std::int64_t* cell) const;
    // Twice the slots (64 at first); false when memory runs out.
    bool grow();
    // The slot of `cell`, claimed where the cell was new; null when memory runs out.
    Cell* claim(const std::int64_t* cell);
    template <typename Visit>
    bool forEachCell(const double* centre, double extent, bool& listed, Visit visit);

    static constexpr std::int64_t kFree = INT64_MIN;
    int axes_[kMaxAxes] = {};
    int axisCount_ = 0;
    double cellSize_ = 1.0;
    // Open addressing over a power-of-two table of cells, at most half of them occupied: per
    // slot kMaxAxes keys (the first kFree: a free slot) and the cell's nodes.
    HostVector<std::int64_t> keys_;
    HostVector<Cell> cells_;
    HostVector<std::int32_t> entries_;  // every cell's nodes
    std::size_t occupied_ = 0;
};

// The up to NodeGrid::kMaxAxes coordinates along which `count` centres (rows of n values) spread
// most, widest first (the lower index among equals): the grid's axes. Returns how many.
int widestAxes(const double* centres, int n, int count, int* axes);

}  // namespace sphnet
