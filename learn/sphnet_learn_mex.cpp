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

struct Settings {
    double normType = 0;
    double rMax = 0;
    double margin = 0;
    int maxPresentations = 0;
    int oflag = 0;
};

template <typename... Args>
bool fail(ErrorReport& error, const char* mnemonic, const char* format, Args... args) {
    return reject(error, kEntry, mnemonic, format, args...);
}

bool checkPatterns(const mxArray* patterns, ErrorReport& error) {
    if (!checkMatrixArgument(patterns, kEntry, "1st input argument (Patterns)", "badPatterns",
                             error)) {
        return false;
    }
    // A NaN distance counts as covered: one NaN would poison every node it meets.
    if (!allFinite(patterns)) {
        return fail(error, "badPatterns",
                    "%s: 1st input argument (Patterns) must not contain NaN or Inf.");
    }
    return true;
}

bool checkLabels(const mxArray* labels, int patternCount, ErrorReport& error) {
    if (!checkLabelVector(labels, patternCount, kEntry, "2nd input argument (PLabels)", "badLabels",
                          error)) {
        return false;
    }
    // A node takes its pattern's label truncated: a fractional label never matches its own
    // node, and training would never settle.
    if (!allWholeNumbers(labels)) {
        return fail(error, "badLabels",
                    "%s: 2nd input argument (PLabels) must hold whole numbers.");
    }
    return true;
}

bool checkSettings(const mxArray* const* prhs, Settings& settings, ErrorReport& error) {
    if (!checkScalarArgument(prhs[IN_NORM_TYPE], kEntry, "3rd input argument (norm_type)",
                             "badNormType", error)) {
        return false;
    }
    settings.normType = mxGetScalar(prhs[IN_NORM_TYPE]);
    if (!(settings.normType >= 1)) {
        return fail(error, "badNormType", "%s: 3rd input argument (norm_type) must be >= 1.");
    }

    if (!checkScalarArgument(prhs[IN_RMAX], kEntry, "4th input argument (Rmax)", "badRmax",
                             error)) {
        return false;
    }
    settings.rMax = mxGetScalar(prhs[IN_RMAX]);
    if (!(settings.rMax >= 0)) {
        return fail(error, "badRmax", "%s: 4th input argument (Rmax) must be non-negative.");
    }

    if (!checkScalarArgument(prhs[IN_MARGIN], kEntry, "5th input argument (margin)", "badMargin",
                             error)) {
        return false;
    }
    settings.margin = mxGetScalar(prhs[IN_MARGIN]);
    if (!(settings.margin >= 0)) {
        return fail(error, "badMargin", "%s: 5th input argument (margin) must be non-negative.");
    }
    // An infinite margin turns every radius into -Inf and then NaN, and a NaN radius covers all.
    if (std::isinf(settings.margin)) {
        return fail(error, "badMargin", "%s: 5th input argument (margin) must be finite.");
    }

    const mxArray* limit = prhs[IN_MAX_LIST_PRESENTATIONS];
    switch (scalarShape(limit)) {
        case ScalarShape::Ok:
            break;
        case ScalarShape::NotRealDouble:
            return fail(error, "badMaxListPresentations",
                        "%s: 6th input argument (max_list_presentations) must be a real double "
                        "scalar.");
        default:
            return fail(error, "badMaxListPresentations",
                        "%s: 6th input argument (max_list_presentations) must be scalar.");
    }
    const double limitValue = mxGetScalar(limit);
    // Truncation toward zero reaches 1 exactly when the value is at least 1; NaN fails here.
    if (!(limitValue >= 1)) {
        return fail(error, "badMaxListPresentations",
                    "%s: 6th input argument (max_list_presentations) must be >= 1");
    }
    settings.maxPresentations = truncateToInt(limitValue);

    const mxArray* oflag = prhs[IN_OFLAG];
    switch (scalarShape(oflag)) {
        case ScalarShape::Ok:
            break;
        case ScalarShape::NotRealDouble:
            return fail(error, "badOflag",
                        "%s: 7th input argument (oflag) must be a real double scalar.");
        case ScalarShape::NoUnitDimension:
            return fail(error, "badOflag", "%s: 7th input argument must be scalar.");
        default:
            return fail(error, "badOflag", "%s: 7th input argument (oflag) must be scalar.");
    }
    const double oflagValue = mxGetScalar(oflag);
    // Truncation toward zero lands in 0..3 exactly for values in (-1, 4); NaN fails here.
    if (!(oflagValue > -1 && oflagValue < 4)) {
        return fail(error, "badOflag", "%s: 7th input argument (oflag) must be 0,1,2 or 3");
    }
    settings.oflag = truncateToInt(oflagValue);
    return true;
}

bool checkArguments(int nlhs, int nrhs, const mxArray* const* prhs, Settings& settings,
                    ErrorReport& error) {
    if (nrhs != IN_COUNT) {
        return fail(error, "inputCount", "%s: %d input arguments required.", IN_COUNT);
    }
    if (!checkPatterns(prhs[IN_PATTERNS], error)) return false;
    const int patternCount = static_cast<int>(mxGetDimensions(prhs[IN_PATTERNS])[0]);
    if (!checkLabels(prhs[IN_PLABELS], patternCount, error)) return false;
    if (!checkSettings(prhs, settings, error)) return false;
    if (nlhs != OUT_COUNT) {
        return fail(error, "outputCount", "%s: %d output arguments required.", OUT_COUNT);
    }
    return true;
}

// Trains on the host's matrices read in place and fills the output slots. False means out of
// memory or interrupted.
ProcedureStatus train(mxArray* plhs[], const mxArray* const* prhs, const Settings& settings) {
    const mxArray* patterns = prhs[IN_PATTERNS];
    const int rows = static_cast<int>(mxGetM(patterns));
    const int cols = static_cast<int>(mxGetN(patterns));
    TrainingInput input;
    input.patternCount = rows;
    input.dimension = cols;
    input.patterns = RowView::columnMajor(mxGetPr(patterns), rows);
    input.labels = mxGetPr(prhs[IN_PLABELS]);
    input.normType = settings.normType;
    input.rMax = settings.rMax;
    input.margin = settings.margin;
    input.maxPresentations = settings.maxPresentations;
    input.oflag = settings.oflag;
    input.patternsFinite = true;  // checkPatterns has rejected NaN and Inf
    TrainingOutput output;
    const ProcedureStatus status = learnPrototypes(input, output);
    if (status != ProcedureStatus::Done) return status;

    plhs[OUT_NODES] = cColumns_to_mxArray2D(output.nodeCount, cols + 1, output.nodeValues);
    if (plhs[OUT_NODES] == nullptr) return ProcedureStatus::OutOfMemory;
    plhs[OUT_NODE_LABELS] = cArray1D_to_mxArray1D(output.nodeCount, output.nodeLabels);
    if (plhs[OUT_NODE_LABELS] == nullptr) return ProcedureStatus::OutOfMemory;
    auto* presentations = static_cast<double*>(mxCalloc(1, sizeof(double)));
    if (presentations == nullptr) return ProcedureStatus::OutOfMemory;
    presentations[0] = output.presentations;
    plhs[OUT_PRESENTATIONS] = cArray1D_to_mxArray1D(1, presentations);
    if (plhs[OUT_PRESENTATIONS] == nullptr) return ProcedureStatus::OutOfMemory;
    return ProcedureStatus::Done;
}

}  // namespace

extern "C" SPHNET_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                          const mxArray* prhs[]) {
    ErrorReport error;
    Settings settings;
    if (!checkArguments(nlhs, nrhs, prhs, settings, error)) raiseError(error);

    const ProcedureStatus status = train(plhs, prhs, settings);
    if (status != ProcedureStatus::Done) raiseProcedureFailure(status, kEntry);
}
