#pragma once

#include "mex_host.h"

namespace sphnet {

// Makes a rows x cols host matrix from a row table and frees the table into it; on failure
// the table stays untouched.
mxArray* cArray2D_to_mxArray2D(int rows, int cols, double** table);

}  // namespace sphnet
