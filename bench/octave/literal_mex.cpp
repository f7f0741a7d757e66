// Benchmark-only Octave modules around the literal reference scan (tests/differential), so that
// the literal scan is timed through the same host calls as sphnet_learn and sphnet_recall.
// Built twice: with SPHNET_LITERAL_LEARN as sphnet_literal_learn, otherwise as
// sphnet_literal_recall. Same arguments as the shipped modules; the arguments are not checked.
#include <mex.h>

#include <algorithm>
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
#ifdef SPHNET_LITERAL_LEARN
    // [Nodes, NodeLabels, Presentations] = sphnet_literal_learn(X, y, p, Rmax, margin, passes,
    // oflag)
    reference::TrainingProblem problem;
    problem.dimension = static_cast<int>(mxGetN(prhs[0]));
    problem.patterns = rowsOf(prhs[0]);
    problem.labels = valuesOf(prhs[1]);
    problem.p = mxGetScalar(prhs[2]);
    problem.rMax = mxGetScalar(prhs[3]);
    problem.margin = mxGetScalar(prhs[4]);
    problem.maxPresentations = static_cast<int>(mxGetScalar(prhs[5]));
    problem.oflag = static_cast<int>(mxGetScalar(prhs[6]));
    const reference::TrainingResult result = reference::learn(problem, {});
    if (!result.console.empty()) mexPrintf("%s", result.console.c_str());
    plhs[0] = matrixOf(result.nodes, problem.dimension + 1);
    plhs[1] = columnOf(result.labels);
    plhs[2] = mxCreateDoubleScalar(result.presentations);
#else
    // Labels = sphnet_literal_recall(Nodes, NodeLabels, p, X, unknown_label, nn_option, oflag)
    reference::RecallProblem problem;
    problem.dimension = static_cast<int>(mxGetN(prhs[0])) - 1;
    problem.templates = rowsOf(prhs[0]);
    problem.nodeLabels = valuesOf(prhs[1]);
    problem.p = mxGetScalar(prhs[2]);
    problem.patterns = rowsOf(prhs[3]);
    problem.unknownLabel = static_cast<int>(mxGetScalar(prhs[4]));
    problem.nnOption = static_cast<int>(mxGetScalar(prhs[5]));
    problem.oflag = static_cast<int>(mxGetScalar(prhs[6]));
    problem.census = false;  // time the literal scan alone, not the test-only cover count
    const reference::RecallResult result = reference::recall(problem, {});
    if (!result.console.empty()) mexPrintf("%s", result.console.c_str());
    plhs[0] = columnOf(result.labels);
#endif
}
