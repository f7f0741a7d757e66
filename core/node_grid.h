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
inline void setBit(std::uint64_t* bits, int j) { bits[j >> 6] |= std::uint64_t{1} << (j & 63); }
inline bool testBit(const std::uint64_t* bits, int j) { return (bits[j >> 6] >> (j & 63)) & 1u; }
inline std::size_t bitWords(int count) { return (static_cast<std::size_t>(count) + 63) / 64; }

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
    std::size_t slotOf(const std::int64_t* cell) const;
    bool grow();
    template <typename Visit>
    void forEachCell(const double* centre, double extent, Visit visit) const;

    int axes_[kMaxAxes] = {0, 0, 0};
    int axisCount_ = 0;
    double cellSize_ = 1.0;
    HostVector<std::int64_t> keys_;
    HostVector<std::int32_t> counts_;
    HostVector<std::int32_t> offsets_;
    HostVector<std::int32_t> entries_;
    std::size_t occupied_ = 0;
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
    std::int64_t key(double coordinate) const;
    std::size_t slotOf(const std::int64_t* cell) const;
    bool grow();
    bool listIn(int j, const std::int64_t* cell);

    int axes_[kMaxAxes] = {};
    int axisCount_ = 0;
    double cellSize_ = 1.0;
    Shape shape_ = Shape::Box;
    HostVector<std::int64_t> keys_;
    HostVector<std::int32_t*> nodes_;  // per slot: the cell's nodes, in one host block it owns
    HostVector<std::int32_t> lengths_;
    HostVector<std::int32_t> capacities_;
    std::size_t occupied_ = 0;
};

}  // namespace sphnet
