// Node centres in panels of kPanel nodes, coordinate by coordinate, with their squared norms, and
// a blocked kernel giving the squared Euclidean distances of a group of patterns to a panel as
// |x|^2 + |c|^2 - 2 x.c: one multiply-add per coordinate of each pair, at the vectors' full rate.
//
// Such a figure D is not the coverage test's distance, but whatever the order of the sums,
// |D - S| <= kappa (|x|^2 + |c|^2) + tiny for the exact square S (kappa(), tinyError()): scans
// bound every node's distance from both sides and compute the exact one only where that leaves
// the verdict open.
//
// In single precision, centres and patterns are measured from an origin among the centres (the
// same distances, smaller norms for the allowance), rounded to float and summed in float, sixteen
// to a vector: twice the double rate, for a wider allowance that covers the shift and roundings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compiler_builtins.h"
#include "host_buffer.h"
#include "row_view.h"
#include "search_plan.h"

namespace sphnet {

class EuclideanPanels {
  public:
    static constexpr int kPanel = 16;  // nodes per panel
    static constexpr int kGroup = 8;   // patterns per kernel call
    // Panels per kernel call at most: each coordinate loaded serves more patterns' products.
    static constexpr int kWidest = 2;
    static constexpr int kLanes = kWidest * kPanel;  // nodes per kernel call at most
    // Beyond this magnitude a coordinate's square could overflow a sum of squares, and below
    // kTinySquare a sum of squares may have lost its low terms to underflow: bounds rest on
    // neither.
    static constexpr double kLargest = 0x1p480;
    static constexpr double kTinySquare = 0x1p-800;

    enum class Precision { Double, Single };
    // Whether the bounds hold for these rows of n coordinates: every magnitude at most kLargest.
    static bool holdsRows(const RowView& rows, int count, int n);
    // Whether they hold in single precision too, measured from origin (n values): n at most
    // kSingleMaxDimensions and every coordinate less the origin's zero or of magnitude in
    // [kSingleSmallest, kSingleLargest], so that rounded values and their products are normal
    // floats and no float sum can overflow.
    static constexpr double kSingleSmallest = 0x1p-60;
    static constexpr double kSingleLargest = 0x1p50;
    static constexpr int kSingleMaxDimensions = 1 << 20;
    static bool holdsRowsInSingle(const RowView& rows, int count, int n, const double* origin);

    // Single precision measures from origin (n values, copied); double precision from zero.
    // The kernel is the widest this processor has at or below `wanted` (Auto: the widest of
    // all; below AVX2, the portable one). False when memory runs out.
    bool init(int n, InstructionSet wanted = InstructionSet::Auto,
              Precision precision = Precision::Double, const double* origin = nullptr);
    Precision precision() const { return precision_; }
    // The instruction set the kernel runs on, as the plan names it.
    InstructionSet instructions() const { return instructions_; }
    // Appends a node's centre (n values, each of magnitude at most kLargest). False when
    // memory runs out.
    bool append(const double* centre);
    int count() const { return count_; }
    int dimension() const { return n_; }
    int panels() const { return (count_ + kPanel - 1) / kPanel; }
    double squaredNorm(int j) const { return norms_.data[j]; }

    // The sum of squares of x's n coordinates, from the origin, as the kernel's D assumes it.
    double squaredNorm(const double* x) const;
    // x's n coordinates from the origin, rounded to float: how single-precision panels read a
    // pattern.
    void roundToSingle(const double* x, float* out) const;
    // |D - S| <= kappa() (|x|^2 + |c|^2) + tinyError() for every D the kernel gives.
    double kappa() const { return kappa_; }
    double tinyError() const { return tinyError_; }
    static constexpr double kTinyError = 0x1p-1000;  // tinyError() in double precision

    // Which nodes of panels q to q + width - 1 (width 1 or kWidest, within panels()) may matter
    // to each of `rows` patterns, lane l being node q kPanel + l: bit l of masks[r] is set
    // where D <= bound + slack[r], bound being own[l] for a node whose label equals labels[r]
    // and other[l] for the rest (own, other and nodeLabels are the panel's per-node values,
    // read for all width kPanel lanes; without nodeLabels, own serves every pattern; without own,
    // no node is selected). Lanes past the
    // last node are never set. D itself goes to out[r * kLanes + l] (past the last node: the
    // figure for a zero centre).
    //
    // With nodeSlack (kappa |c|^2 per node, +Inf past the last node), also the 1-NN bookkeeping:
    // least[r] falls to the least D + nodeSlack seen, and bit l of nearMasks[r] is set where
    // D - nodeSlack <= max(nearestFactor (least[r] + slack[r]), kTinySquare) + slack[r],
    // rounded up: where the node may be the nearest.
    struct Selection {
        const double* own;
        const double* other;
        const double* nodeLabels;
        const double* labels;  // per pattern
        const double* slack;   // per pattern
        const double* nodeSlack = nullptr;
        double nearestFactor = 1.0;
        double* least = nullptr;        // per pattern
        unsigned* nearMasks = nullptr;  // per pattern
        // Per pattern, its coordinates by roundToSingle(): what single-precision panels read for x.
        const float* const* single = nullptr;
    };
    // The limit below which D - nodeSlack makes a node a 1-NN candidate.
    static double nearestLimit(double nearestFactor, double least, double slack) {
        double limit = nearestFactor * (least + slack);
        if (limit < kTinySquare) limit = kTinySquare;
        return limit * (1.0 + 0x1p-48) + slack;
    }
    void select(const double* const* x, const double* xNorms, int rows, int q, int width,
                const Selection& s, unsigned* masks, double* out) const;

    // One kernel call on coordinates of type T: `rows` patterns (x, their squared norms) against
    // `width` consecutive panels of n rows from `panel` on (their nodes' norms from `norms` on),
    // giving masks and out as select() describes.
    template <class T>
    struct Block {
        const T* const* x;
        const double* xNorms;
        int rows;
        const T* panel;
        int width;
        const double* norms;
        int n;
        unsigned* masks;
        double* out;
    };
    // A kernel: the products of a block and the selection from them.
    template <class T>
    using SelectOf = void (*)(const Block<T>& b, const Selection& s);

  private:
    SelectOf<double> selectDouble_ = nullptr;
    SelectOf<float> selectSingle_ = nullptr;
    Precision precision_ = Precision::Double;
    InstructionSet instructions_ = InstructionSet::Portable;
    int n_ = 0;
    int count_ = 0;
    double kappa_ = 0.0;
    double tinyError_ = kTinyError;
    // Per panel: n rows of kPanel coordinates, in the chosen precision.
    HostVector<double> panels_;
    HostVector<float> singlePanels_;
    HostVector<double> norms_;   // per node, in whole panels (zero past the last node)
    HostVector<double> origin_;  // single precision only
};

}  // namespace sphnet
