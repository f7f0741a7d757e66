// The procedures' results as host matrices (column-major): copies of the caller's values, which
// stay the caller's.
#pragma once

#include "mex_host.h"

namespace sphnet {

// Makes a count x 1 column of `vector`'s values; null when memory runs out.
mxArray* cArray1D_to_mxArray1D(int count, const double* vector);
// Makes a rows x cols matrix from values held column by column, as the host holds them; null
// when memory runs out.
mxArray* cColumns_to_mxArray2D(int rows, int cols, const double* values);

// Fills the first `wanted` (at least one) of the slots nodes (nodeCount x width, column by
// column), labels, presentations and converged with a training call's results. False when
// memory runs out; the slots filled so far are the host's to reclaim.
bool trainingToHost(int wanted, mxArray* plhs[], int nodeCount, int width, const double* values,
                    const double* labels, int presentations, bool converged);

}  // namespace sphnet
