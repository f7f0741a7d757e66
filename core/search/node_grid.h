// A uniform grid over up to four coordinates of the node centres, hashed by cell, that lists per
// cell the nodes a pattern in that cell may meet, in node order, so a scan can skip the others
// and still visit its candidates in order. Recall lists a fixed node set once; training lists
// nodes as they are made. Every array comes from the host allocator and is freed with its owner.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_buffer.h"

namespace sphnet {

// Bits over node numbers, 64 to a word.
inline void setBit(std::uint64_t* bits, int j) {
    bits[j >> 6] |= std::uint64_t{1} << (j & 63);
}
inline bool testBit(const std::uint64_t* bits, int j) {
    return (bits[j >> 6] >> (j & 63)) & 1u;
}
inline std::size_t bitWords(int count) {
    return (static_cast<std::size_t>(count) + 63) / 64;
}

class NodeGrid {
  public:
    static constexpr int kMaxAxes = 4;

    // The region, over the grid's axes, within which a node may matter: the part of the norm
    // over those axes never exceeds the whole distance. Diamond for p = 1, Ball for p <= 2.
    enum class Shape { Box, Diamond, Ball };

    // Axes: coordinate indices; cellSize > 0 and finite. False when memory runs out.
    bool init(const int* axes, int axisCount, double cellSize, Shape shape);
    // Growing: lists node j in every cell within `extent` of its centre over the axes. Nodes
    // must come in increasing order. `listed` is false (and nothing stored) when the box holds too
    // many cells; the caller must then treat the node as a candidate for every pattern.
    bool insert(int j, const double* centre, double extent, bool& listed);
    // Frozen, for a fixed node set: count() every node first, then insert() them: the lists
    // then lie side by side in one block. averageLength() holds from the count on.
    bool count(const double* centre, double extent, bool& listed);
    bool finishCounting();
    // The nodes listed for x's cell, in ascending order; `length` 0 when none.
    const std::int32_t* nodesAt(const double* x, std::int32_t& length) const;
    // Entries per occupied cell.
    double averageLength() const;
    void release();

    NodeGrid() = default;
    NodeGrid(const NodeGrid&) = delete;
    NodeGrid& operator=(const NodeGrid&) = delete;
    ~NodeGrid() { release(); }

  private:
    // A cell's nodes: growing, its own list; frozen, entries_[start, start + length).
    struct Cell {
        HostVector<std::int32_t> nodes;
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
    Shape shape_ = Shape::Box;
    // Open addressing over a power-of-two table of cells, at most half of them occupied: per
    // slot kMaxAxes keys (the first kFree: a free slot) and the cell's nodes.
    HostVector<std::int64_t> keys_;
    HostVector<Cell> cells_;
    HostVector<std::int32_t> entries_;  // frozen: every cell's nodes
    std::size_t occupied_ = 0;
};

// The up to `most` (at most NodeGrid::kMaxAxes) coordinates of n along which count items spread
// most, widest first (the lower index among equals): the grid's axes. coordinate(k, i) reads
// coordinate i of item k.
template <typename Coordinate>
int widestAxes(int n, int count, int most, int* axes, Coordinate coordinate) {
    double spread[NodeGrid::kMaxAxes] = {};
    int axisCount = 0;
    for (int i = 0; i < n; ++i) {
        double lo = 0, hi = 0;
        for (int k = 0; k < count; ++k) {
            const double v = coordinate(k, i);
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
