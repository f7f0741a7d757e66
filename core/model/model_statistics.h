// What a model takes from its training data besides the nodes: the columns' means and scales
// for z-scores, and the automatic Rmax. Every host calls these, so that their models agree to
// the bit.
#pragma once

#include <limits>

#include "procedure_status.h"
#include "row_view.h"

namespace sphnet {

// The automatic Rmax measures the distances among at most this many rows.
constexpr int kTypicalSampleRows = 500;

// Column means and standard deviations (N - 1 normalisation) of `count` rows of `n` values,
// each sum taken row after row; a deviation that is 0 or not finite (one row) becomes 1.
void columnScaling(const RowView& rows, int count, int n, double* mean, double* scale);

struct TypicalDistance {
    double rmax = 1.0;  // half the median; 1 when that is not a positive finite number
    double median = std::numeric_limits<double>::quiet_NaN();  // NaN for fewer than two rows
    double spread = 0.0;  // the widest range of a column among the rows measured
};

// All pairwise distances of order p, as a coverage test computes them, among the rows
// round(linspace(1, count, min(count, 500))) (1-based; linspace filled from both ends towards
// the middle, halves rounded away from zero).
ProcedureStatus typicalDistance(const RowView& rows, int count, int n, double p,
                                TypicalDistance& out);

}  // namespace sphnet
