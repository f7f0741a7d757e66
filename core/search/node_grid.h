// Uniform grids over up to three coordinates of the node centres, hashed by cell, that list per
// cell the nodes a pattern in that cell may meet, in node order, so a scan can skip the others
// and still visit its candidates in order. Every array comes from the host allocator and is
// freed with its owner.
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

// Open addressing over a power-of-two table of grid cells, kMaxAxes keys to a cell, each with a
// Value (plain data, zero for a new cell). At most half the slots are occupied.
template <int kMaxAxes, typename Value>
class CellHash {
  public:
    // The slot that holds `cell`, or the free slot where it belongs. The table must not be empty.
    std::size_t slotOf(const std::int64_t* cell, int axisCount) const;
    bool isFree(std::size_t slot) const { return keys_.data[slot * kMaxAxes] == kFree; }
    // The slot of `cell`, claimed (key stored, value zero) when new; the table grows as needed.
    // False when memory runs out.
    bool claim(const std::int64_t* cell, int axisCount, std::size_t& slot);
    // Makes a table of 64 slots when there is none; false when memory runs out.
    bool ensureTable(int axisCount) { return slots() != 0 || grow(axisCount); }
    std::size_t slots() const { return values_.size; }
    std::size_t occupied() const { return occupied_; }
    Value* values() const { return values_.data; }
    void release();

  private:
    static constexpr std::int64_t kFree = INT64_MIN;
    bool grow(int axisCount);

    HostVector<std::int64_t> keys_;  // per slot kMaxAxes keys; the first kFree: a free slot
    HostVector<Value> values_;
    std::size_t occupied_ = 0;
};

// For a fixed node set: per grid cell, the nodes whose sphere may reach into the cell, in
// node order. A pattern then looks up its own cell only.
class CellLists {
  public:
    static constexpr int kMaxAxes = 3;

    void init(const int* axes, int axisCount, double cellSize);
    // Cells that a sphere of `extent` around centre overlaps, or -1 when they are too many.
    long cellsCovered(const double* centre, double extent) const;
    // Counts (first pass) or stores (second pass) node j in every cell within `extent` of its
    // centre. Nodes must come in increasing order, the same ones in both passes.
    bool count(int j, const double* centre, double extent);
    bool finishCounting();
    // Entries per occupied cell, once counted.
    double averageLength() const;
    void store(int j, const double* centre, double extent);
    // The nodes listed for x's cell; `length` 0 when none.
    const std::int32_t* nodesAt(const double* x, std::int32_t& length) const;
    void release();

  private:
    std::int64_t key(double coordinate) const;
    template <typename Visit>
    void forEachCell(const double* centre, double extent, Visit visit) const;

    int axes_[kMaxAxes] = {0, 0, 0};
    int axisCount_ = 0;
    double cellSize_ = 1.0;
    CellHash<kMaxAxes, std::int32_t> cells_;  // per cell: its entry count
    HostVector<std::int32_t> offsets_;        // per slot: where its entries start
    HostVector<std::int32_t> entries_;
};

// For a growing node set: per grid cell, the nodes whose reach overlaps the cell, in node
// order and side by side. A pattern looks up its own cell only and walks that list.
class ReachLists {
  public:
    static constexpr int kMaxAxes = 4;

    // The region, over the grid's axes, within which a node may matter: the part of the norm
    // over those axes never exceeds the whole distance. Diamond for p = 1, Ball for p <= 2.
    enum class Shape { Box, Diamond, Ball };

    // Axes: coordinate indices; cellSize > 0 and finite.
    bool init(const int* axes, int axisCount, double cellSize, Shape shape);
    // Lists node j in every cell within `extent` of its centre over the axes. Nodes must come
    // in increasing order. `listed` is false (and nothing stored) when the box holds too many
    // cells; the caller must then treat the node as a candidate for every pattern.
    bool insert(int j, const double* centre, double extent, bool& listed);
    // The nodes listed for x's cell, in ascending order; `length` 0 when none.
    const std::int32_t* nodesAt(const double* x, std::int32_t& length) const;
    void release();

    ReachLists() = default;
    ReachLists(const ReachLists&) = delete;
    ReachLists& operator=(const ReachLists&) = delete;
    ~ReachLists() { release(); }

  private:
    // A cell's nodes, in one host block that the lists own.
    struct CellNodes {
        std::int32_t* nodes;
        std::int32_t length;
        std::int32_t capacity;
    };

    std::int64_t key(double coordinate) const;
    bool listIn(int j, const std::int64_t* cell);

    int axes_[kMaxAxes] = {};
    int axisCount_ = 0;
    double cellSize_ = 1.0;
    Shape shape_ = Shape::Box;
    CellHash<kMaxAxes, CellNodes> cells_;
};

}  // namespace sphnet
