// [Nodes, NodeLabels, Presentations] =
//     sphnet_learn(Patterns, PLabels, norm_type, Rmax, margin, max_list_presentations, oflag)
//
// Check the arguments, convert, train, convert back. Every failure ends in one host error,
// raised last, when nothing of this call is left to release.
#include <cmath>

#include "arg_checks.h"
#include "array_convert.h"
#include "learn_prototypes.h"
#include "mex_host.h"

using namespace sphnet;

namespace {

const EntryPoint kEntry{"SPHNET_LEARN", "sphnet:learn"};

enum Input {
    IN_PATTERNS,
    IN_PLABELS,
    IN_NORM_TYPE,
    IN_RMAX,
    IN_MARGIN,
    IN_MAX_LIST_PRESENTATIONS,
    IN_OFLAG,
    IN_COUNT
};
enum Output { OUT_NODES, OUT_NODE_LABELS, OUT_PRESENTATIONS, OUT_COUNT };

// A NaN distance counts as covered: one NaN would poison every node it meets.
bool checkPatterns(const mxArray* patterns, ErrorReport& error) {
    return checkMatrixArgument(patterns, kEntry, "1st input argument (Patterns)", "badPatterns",
                               error) &&
           (allFinite(patterns) ||
            reject(error, kEntry, "badPatterns",
                   "%s: 1st input argument (Patterns) must not contain NaN or Inf."));
}

// A node takes its pattern's label truncated: a fractional label never matches its own node,
// and training would never settle.
bool checkLabels(const mxArray* labels, int patternCount, ErrorReport& error) {
    return checkLabelVector(labels, patternCount, kEntry, "2nd input argument (PLabels)",
                            "badLabels", error) &&
           (allWholeNumbers(labels) ||
            reject(error, kEntry, "badLabels",
                   "%s: 2nd input argument (PLabels) must hold whole numbers."));
}

bool checkSettings(const mxArray* const* prhs, TrainingInput& input, ErrorReport& error) {
    const double inf = INFINITY;
    const ScalarArgument normType{
        "3rd input argument (norm_type)", "badNormType", {1, inf}, "must be >= 1."};
    const ScalarArgument rMax{
        "4th input argument (Rmax)", "badRmax", {0, inf}, "must be non-negative."};
    const ScalarArgument margin{
        "5th input argument (margin)", "badMargin", {0, inf}, "must be non-negative."};
    // Truncation toward zero reaches 1 exactly when the value is at least 1.
    const ScalarArgument passes{"6th input argument (max_list_presentations)",
                                "badMaxListPresentations",
                                {1, inf},
                                "must be >= 1",
                                "must be scalar."};
    double limit = 0;
    if (!readScalar(prhs[IN_NORM_TYPE], kEntry, normType, input.normType, error) ||
        !readScalar(prhs[IN_RMAX], kEntry, rMax, input.rMax, error) ||
        !readScalar(prhs[IN_MARGIN], kEntry, margin, input.margin, error)) {
        return false;
    }
    // An infinite margin turns every radius into -Inf and then NaN, and a NaN radius covers all.
    if (std::isinf(input.margin)) {
        return reject(error, kEntry, "badMargin",
                      "%s: 5th input argument (margin) must be finite.");
    }
    if (!readScalar(prhs[IN_MAX_LIST_PRESENTATIONS], kEntry, passes, limit, error)) return false;
    input.maxPresentations = truncateToInt(limit);
    // This module has always named the argument without its name for this one fault.
    if (scalarShape(prhs[IN_OFLAG]) == ScalarShape::NoUnitDimension)
        return reject(error, kEntry, "badOflag", "%s: 7th input argument must be scalar.");
    return readOflag(prhs[IN_OFLAG], kEntry, "must be 0,1,2 or 3", input.oflag, error);
}

bool checkArguments(const mxArray* const* prhs, TrainingInput& input, ErrorReport& error) {
    const int patternCount = static_cast<int>(mxGetM(prhs[IN_PATTERNS]));
    return checkPatterns(prhs[IN_PATTERNS], error) &&
           checkLabels(prhs[IN_PLABELS], patternCount, error) && checkSettings(prhs, input, error);
}

// Trains on the host's matrices read in place and fills the output slots.
ProcedureStatus train(mxArray* plhs[], const mxArray* const* prhs, TrainingInput& input) {
    const mxArray* patterns = prhs[IN_PATTERNS];
    const int rows = static_cast<int>(mxGetM(patterns));
    const int cols = static_cast<int>(mxGetN(patterns));
    input.patternCount = rows;
    input.dimension = cols;
    input.patterns = RowView::columnMajor(mxGetPr(patterns), rows);
    input.labels = mxGetPr(prhs[IN_PLABELS]);
    input.patternsFinite = true;  // checkPatterns has rejected NaN and Inf
    TrainingOutput output;
    const ProcedureStatus status = learnPrototypes(input, output);
    if (status != ProcedureStatus::Done) return status;
    const bool handed =
        trainingToHost(OUT_COUNT, plhs, output.nodeCount, cols + 1, output.nodeValues.get(),
                       output.nodeLabels.get(), output.presentations, output.converged);
    return handed ? ProcedureStatus::Done : ProcedureStatus::OutOfMemory;
}

}  // namespace

extern "C" SPHNET_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                          const mxArray* prhs[]) {
    serveEntryPoint<TrainingInput>(
        kEntry, nrhs, IN_COUNT, nlhs, OUT_COUNT, "%s: %d output arguments required.",
        [&](TrainingInput& input, ErrorReport& error) {
            return checkArguments(prhs, input, error);
        },
        [&](TrainingInput& input) { return train(plhs, prhs, input); });
}
