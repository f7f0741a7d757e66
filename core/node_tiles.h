// Node centres in tiles of kLanes nodes, stored coordinate by coordinate, for the p = 1 and
// p = +Inf scans: one vector operation serves one coordinate of a whole tile, and each lane
// still sums (or takes the largest of) its own node's terms in index order, so every distance
// is bit-identical to exactDistance. Every array comes from the host allocator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "distance_bounds.h"
#include "node_grid.h"

namespace sphnet {

class NodeTiles {
public:
    static constexpr int kLanes = 8;

    // The instruction sets a scan can be built for; Best is the widest this processor has.
    enum class Vectors { Best, Portable, Sse2, Avx2, Avx512 };
    static bool available(Vectors vectors);

    // kind is CityBlock or Maximum; `vectors` must be available.
    void init(NormKind kind, int n, Vectors vectors = Vectors::Best);
    // Appends a node with its radius, its label and its conflict reach: a node of another
    // label matters to a pattern nearer than that. False when memory runs out.
    bool append(const double* centre, double radius, double label, double reach);
    void update(int j, double radius, double reach) {
        radii_.data[j] = radius;
        reaches_.data[j] = reach;
    }
    // The first tile holding a node j, from <= j < to, that may matter to x: one that may
    // cover it, !(distance - kCoverageTolerance > radius), or one of another label than
    // `label` with !(distance >= reach). Returns that tile's first node number and the exact
    // distances of its nodes in d[kLanes], or `to` when no node in the range matters.
    // Requires to <= the number of nodes.
    int nextThatMayMatter(int from, int to, const double* x, double label, double* d) const;
    void release();

    // What a tile scan reads; per node arrays are indexed by node number.
    struct View {
        const double* centres;
        const double* radii;
        const double* labels;
        const double* reaches;
        int n;
    };
    using Scan = int (*)(const View& v, int from, int to, const double* x, double label, double* d);

private:
    Scan scan_ = nullptr;  // the version for this norm and processor
    int n_ = 0;
    int count_ = 0;
    HostVector<double> centres_;  // per tile: n_ rows of kLanes values
    HostVector<double> radii_;    // per node, in whole tiles
    HostVector<double> labels_;
    HostVector<double> reaches_;
};

}  // namespace sphnet
