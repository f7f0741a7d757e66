// Node centres for the p = 1 and +Inf scans, in tiles of kLanes nodes coordinate by coordinate:
// one vector operation serves a coordinate of a whole tile, each lane taking its own node's terms
// in index order, so every distance is bit-identical to exactDistance. A single-precision pass
// over blocks of kBlock nodes, with limits allowing for every rounding, first rules out most
// nodes. Every array comes from the host allocator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "distance_bounds.h"
#include "host_buffer.h"
#include "search_plan.h"

namespace sphnet {

class NodeTiles {
  public:
    static constexpr int kLanes = 8;
    static constexpr int kBlock = 16;  // nodes per block of the single-precision filter

    // Whether tiles pay in n dimensions. In fewer than four, a grid over the coordinates holds
    // the whole distance, and its lists name hardly any node that does not matter. A tile
    // holds room for kLanes nodes from its first node on: beyond 1024 dimensions that padding
    // would outweigh what the vectors save.
    static bool paysFor(int n) { return n >= 4 && n <= 1024; }

    // The one a scan runs on, as the plan names it.
    InstructionSet instructions() const { return instructions_; }

    // kind is CityBlock or Maximum. The scan runs on the widest instruction set this processor
    // has at or below `wanted` (Auto: the widest of all).
    void init(NormKind kind, int n, InstructionSet wanted = InstructionSet::Auto);
    // Appends a node with its radius, its label and its conflict reach: a node of another
    // label matters to a pattern nearer than that. False when memory runs out.
    bool append(const double* centre, double radius, double label, double reach);
    void update(int j, double radius, double reach) {
        radii_.data[j] = radius;
        reaches_.data[j] = reach;
        if (filter_ != nullptr) setLimits(j);
    }
    // What the filter needs of a pattern: its coordinates less the origin, the slack its own
    // magnitude adds to every limit, its label as an integer when it is one, and reachCut, which
    // when positive lowers every limit for other labels by that much (see narrowReach).
    struct FloatPattern {
        const float* x;
        float slack;
        std::int32_t labelCode;
        bool labelCoded;
        float reachCut;
    };
    // A pattern made ready for the scans, once for all of them.
    struct Pattern {
        const double* x;
        double label;
        FloatPattern floats;
        bool filtered;
    };
    // `scratch` holds n floats, and must stay while the Pattern is in use. The filter is set up
    // only for a scan over at least kFilterPays nodes: below that, making the pattern's
    // single-precision form costs more than the exact scan it would spare.
    static constexpr int kFilterPays = 2 * kBlock;
    Pattern prepare(const double* x, double label, float* scratch,
                    int nodesAhead = kFilterPays) const;

    // The first tile holding a node j, from <= j < to <= count, that may matter to the pattern:
    // one that may cover it, !(distance - kCoverageTolerance > radius), or one of another label
    // with !(distance >= reach). Returns that tile's first node number, its nodes' exact distances
    // in d[kLanes], or `to` when no node in the range matters.
    int nextThatMayMatter(const Pattern& p, int from, int to, double* d) const;
    // For a scan that needs nodes of other labels only within r + (radius + margin), not their
    // stored reaches rLimit + (radius + margin), r <= rLimit: the filter rules out those beyond.
    // The exact scan still reports by the stored reaches.
    void narrowReach(Pattern& p, double rLimit, double r) const;
    // The filter in two steps, for a scan split between two threads. makeFloatSums: the values of
    // nodes [from, to) (from a multiple of kBlock), one float each into sums[0...]; they read only
    // the single-precision centres, so another thread may make them while the scan updates radii
    // (appending must wait). nextBySums: nextThatMayMatter over [from, to) on values made ahead
    // (sums[0] for node sumsFrom), against the limits of that moment.
    bool splits(const Pattern& p) const { return p.filtered && floatSums_ != nullptr; }
    void makeFloatSums(const FloatPattern& q, int from, int to, float* sums) const;
    int nextBySums(const Pattern& p, const float* sums, int sumsFrom, int from, int to,
                   double* d) const;
    // The first node of least exact distance from x, or -1 when there are no nodes.
    int nearest(const double* x) const;

    // What a tile scan reads; per node arrays are indexed by node number.
    struct View {
        const double* centres;
        const double* radii;
        const double* labels;
        const double* reaches;
        int n;
        // The single-precision filter: per block of kBlock nodes, n rows of kBlock centre
        // coordinates less the origin; per node, limits beyond which it cannot matter to a
        // pattern of its own label or of any other, and its label as an integer.
        const float* floats;
        const float* ownLimits;
        const float* otherLimits;
        const std::int32_t* labelCodes;
    };
    using ScanKernel = int (*)(const View& v, int from, int to, const double* x, double label,
                               double* d);
    using Nearest = int (*)(const View& v, int count, const double* x);
    // The filter over nodes [from, to): on single-precision values made ahead (see nextBySums;
    // sums[0] for node sumsFrom), or without them (sums null).
    struct FilterScan {
        View v;
        FloatPattern q;
        const float* sums;
        int sumsFrom;
        const double* x;
        double label;
        double* d;
    };
    using Filter = int (*)(const FilterScan& scan, int from, int to);
    using FloatSums = void (*)(const View& v, const FloatPattern& floats, int from, int to,
                               float* sums);

  private:
    template <NormKind Kind>
    void useKernels(InstructionSet vectors);
    void setLimits(int j);
    View view() const;

    ScanKernel scan_ = nullptr;  // the version for this norm and processor
    Filter filter_ = nullptr;    // null beyond the dimensions the filter takes
    FloatSums floatSums_ = nullptr;
    Filter sumsFilter_ = nullptr;
    Nearest nearest_ = nullptr;
    InstructionSet instructions_ = InstructionSet::Auto;
    int n_ = 0;
    int count_ = 0;
    HostVector<double> centres_;  // per tile: n_ rows of kLanes values
    HostVector<double> radii_;    // per node, in whole tiles
    HostVector<double> labels_;
    HostVector<double> reaches_;
    // The filter's data (see View), the origin (the first centre) and per node the sum of
    // |c_i - origin_i|, on which the limits' slack rests.
    HostVector<float> floatCentres_;  // the centres in single precision, in blocks
    HostVector<float> ownLimits_;
    HostVector<float> otherLimits_;
    HostVector<std::int32_t> labelCodes_;
    HostVector<double> origin_;
    HostVector<double> spans_;
};

}  // namespace sphnet
