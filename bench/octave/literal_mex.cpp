// Benchmark-only Octave modules around the literal reference scan (tests/differential), so that
// the literal scan is timed through the same host calls as sphnet_learn and sphnet_recall.
// Built twice: with SPHNET_LITERAL_LEARN as sphnet_literal_learn, otherwise as
// sphnet_literal_recall. Same arguments as the shipped modules; the arguments are not checked.
#include <mex.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "reference_rce.h"

namespace {

std::vector<std::vector<double>> rowsOf(const mxArray* matrix) {
    const std::size_t rows = mxGetM(matrix);
    const std::size_t cols = mxGetN(matrix);
    const double* values = mxGetPr(matrix);
    std::vector<std::vector<double>> out(rows, std::vector<double>(cols));
    for (std::size_t c = 0; c < cols; ++c)
        for (std::size_t r = 0; r < rows; ++r) out[r][c] = values[c * rows + r];
    return out;
}

std::vector<double> valuesOf(const mxArray* vector) {
    const double* values = mxGetPr(vector);
    return std::vector<double>(values, values + mxGetNumberOfElements(vector));
}

mxArray* matrixOf(const std::vector<std::vector<double>>& rows, std::size_t cols) {
    mxArray* out = mxCreateDoubleMatrix(rows.size(), cols, mxREAL);
    double* values = mxGetPr(out);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < cols; ++c) values[c * rows.size() + r] = rows[r][c];
    return out;
}

mxArray* columnOf(const std::vector<double>& values) {
    mxArray* out = mxCreateDoubleMatrix(values.size(), 1, mxREAL);
    std::copy(values.begin(), values.end(), mxGetPr(out));
    return out;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int nrhs,
                                                                   const mxArray* prhs[]) {
    if (nrhs != 7) mexErrMsgTxt("7 input arguments required.");
    // Both take a matrix, its rows' labels and p first, and oflag last.
    const int width = static_cast<int>(mxGetN(prhs[0]));
    auto rows = rowsOf(prhs[0]);
    auto labels = valuesOf(prhs[1]);
    const double p = mxGetScalar(prhs[2]);
    const int oflag = static_cast<int>(mxGetScalar(prhs[6]));
#ifdef SPHNET_LITERAL_LEARN
    // [Nodes, NodeLabels, Presentations] = sphnet_literal_learn(X, y, p, Rmax, margin, passes,
    // oflag)
    const reference::TrainingProblem problem{width,
                                             std::move(rows),
                                             std::move(labels),
                                             p,
                                             mxGetScalar(prhs[3]),
                                             mxGetScalar(prhs[4]),
                                             static_cast<int>(mxGetScalar(prhs[5])),
                                             oflag,
                                             {},
                                             {}};
    const reference::TrainingResult result = reference::learn(problem, {});
    if (!result.console.empty()) mexPrintf("%s", result.console.c_str());
    plhs[0] = matrixOf(result.nodes, problem.dimension + 1);
    plhs[1] = columnOf(result.labels);
    plhs[2] = mxCreateDoubleScalar(result.presentations);
#else
    // Labels = sphnet_literal_recall(Nodes, NodeLabels, p, X, unknown_label, nn_option, oflag);
    // census false: time the literal scan alone, not the test-only cover count.
    const reference::RecallProblem problem{width - 1,
                                           std::move(rows),
                                           std::move(labels),
                                           p,
                                           rowsOf(prhs[3]),
                                           static_cast<int>(mxGetScalar(prhs[4])),
                                           static_cast<int>(mxGetScalar(prhs[5])),
                                           oflag,
                                           false};
    const reference::RecallResult result = reference::recall(problem, {});
    if (!result.console.empty()) mexPrintf("%s", result.console.c_str());
    plhs[0] = columnOf(result.labels);
#endif
}
