// Labels = sphnet_recall(Templates, NLabels, norm_type, Patterns, unknown_label, nn_option, oflag)
//
// Check the arguments, convert, classify, convert back. Every failure ends in one host error,
// raised last, when nothing of this call is left to release.
#include <cmath>

#include "arg_checks.h"
#include "array_convert.h"
#include "classify_patterns.h"
#include "mex_host.h"

using namespace sphnet;

namespace {

const EntryPoint kEntry{"SPHNET_RECALL", "sphnet:recall"};

enum Input {
    IN_TEMPLATES,
    IN_NLABELS,
    IN_NORM_TYPE,
    IN_PATTERNS,
    IN_UNKNOWN_LABEL,
    IN_NN_OPTION,
    IN_OFLAG,
    IN_COUNT
};
enum Output { OUT_LABELS, OUT_COUNT };

bool checkPatterns(const mxArray* patterns, int dimension, ErrorReport& error) {
    if (!checkMatrixArgument(patterns, kEntry, "4th input argument (Patterns)", "badPatterns",
                             error)) {
        return false;
    }
    if (static_cast<int>(mxGetN(patterns)) != dimension) {
        return reject(error, kEntry, "badPatterns",
                      "%s: 4th input argument (Patterns) must be of type  %dx%d.",
                      static_cast<int>(mxGetM(patterns)), dimension);
    }
    return allFinite(patterns) ||
           reject(error, kEntry, "badPatterns",
                  "%s: 4th input argument (Patterns) must not contain NaN or Inf.");
}

// The norm, the patterns and the settings after them, into `input`.
bool checkSettings(const mxArray* const* prhs, int dimension, RecallInput& input,
                   ErrorReport& error) {
    const ScalarArgument normType{
        "3rd input argument (norm_type)", "badNormType", {1, INFINITY}, "must be >= 1."};
    const ScalarArgument unknown{"5th input argument (unknown_label)", "badUnknownLabel",
                                 kInt32Range, "must lie within the 32-bit integer range."};
    // Truncation toward zero gives 0 or 1 exactly for values in (-1, 2).
    const ScalarArgument nearest{
        "6th input argument (nn_option)", "badNnOption", {-1, 2, true}, "must be either 0 or 1."};
    double unknownValue = 0, nearestValue = 0;
    if (!readScalar(prhs[IN_NORM_TYPE], kEntry, normType, input.normType, error) ||
        !checkPatterns(prhs[IN_PATTERNS], dimension, error) ||
        !readScalar(prhs[IN_UNKNOWN_LABEL], kEntry, unknown, unknownValue, error) ||
        !readScalar(prhs[IN_NN_OPTION], kEntry, nearest, nearestValue, error)) {
        return false;
    }
    input.unknownLabel = truncateToInt(unknownValue);
    input.nnOption = truncateToInt(nearestValue);
    return readOflag(prhs[IN_OFLAG], kEntry, "must be 0,1,2 or 3.", input.oflag, error);
}

bool checkArguments(const mxArray* const* prhs, RecallInput& input, ErrorReport& error) {
    if (!checkNodeMatrix(prhs[IN_TEMPLATES], kEntry, "1st input argument (Templates)",
                         "badTemplates", error)) {
        return false;
    }
    const int nodeCount = static_cast<int>(mxGetM(prhs[IN_TEMPLATES]));
    const int dimension = static_cast<int>(mxGetN(prhs[IN_TEMPLATES])) - 1;
    return checkLabelVector(prhs[IN_NLABELS], nodeCount, kEntry, "2nd input argument (NLabels)",
                            "badNodeLabels", error) &&
           checkSettings(prhs, dimension, input, error);
}

ProcedureStatus classify(mxArray* plhs[], const mxArray* const* prhs, RecallInput& input) {
    // Read in place: the procedure gathers the few rows it works on at a time.
    const mxArray* templates = prhs[IN_TEMPLATES];
    const mxArray* patterns = prhs[IN_PATTERNS];
    const int nodeCount = static_cast<int>(mxGetM(templates));
    const int patternCount = static_cast<int>(mxGetM(patterns));

    input.nodeCount = nodeCount;
    input.dimension = static_cast<int>(mxGetN(templates)) - 1;
    input.templates = RowView::columnMajor(mxGetPr(templates), nodeCount);
    input.nodeLabels = mxGetPr(prhs[IN_NLABELS]);
    input.patternCount = patternCount;
    input.patterns = RowView::columnMajor(mxGetPr(patterns), patternCount);
    input.coordinatesFinite =
        true;  // the argument checks have rejected non-finite centres and patterns
    HostBlock<double> labels;
    const ProcedureStatus status = classifyPatterns(input, labels);
    if (status != ProcedureStatus::Done) return status;
    plhs[OUT_LABELS] = cArray1D_to_mxArray1D(patternCount, labels.get());
    return plhs[OUT_LABELS] != nullptr ? ProcedureStatus::Done : ProcedureStatus::OutOfMemory;
}

}  // namespace

extern "C" SPHNET_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                          const mxArray* prhs[]) {
    serveEntryPoint<RecallInput>(
        kEntry, nrhs, IN_COUNT, nlhs, OUT_COUNT, "%s: %d output argument required.",
        [&](RecallInput& input, ErrorReport& error) { return checkArguments(prhs, input, error); },
        [&](RecallInput& input) { return classify(plhs, prhs, input); });
}
