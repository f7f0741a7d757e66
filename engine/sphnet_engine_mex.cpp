// The internal door of sphnet_fit and sphnet_predict to the training and recall procedures:
//
// [nodes, nodeClass, presentations, converged] = sphnet_engine('train', X, classIndex, p, Rmax,
//     margin, maxPasses, verbose, startNodes, startClass)
// [class, node, distance, coverCount, disagree] = sphnet_engine('recall', nodes, nodeClass, p,
//     X, nnOption)
// [mu, sigma, rmax, typical, spread] = sphnet_engine('statistics', X, p)
//
// Tests may add one more argument to either call, a search plan text (see search_plan.h) that
// forces the structures the procedures search with; it is not a user option.
//
// Check, convert, call, convert back. Class 0 from recall means no node decided. Every failure
// ends in one host error with an identifier, raised when nothing of this call needs releasing.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "arg_checks.h"
#include "array_convert.h"
#include "classify_patterns.h"
#include "learn_prototypes.h"
#include "mex_host.h"
#include "model_statistics.h"
#include "search_plan.h"

using namespace sphnet;

namespace {

// Internal: its messages name the function as Octave shows it, lower case.
const EntryPoint kEngine = {"sphnet_engine", "sphnet:engine"};
const char kBadArgument[] = "badArgument";

enum TrainArgument {
    T_X = 1,
    T_CLASS,
    T_NORM,
    T_RMAX,
    T_MARGIN,
    T_PASSES,
    T_VERBOSE,
    T_START_NODES,
    T_START_CLASS,
    T_COUNT
};
enum RecallArgument { R_NODES = 1, R_CLASS, R_NORM, R_X, R_NN, R_COUNT };
enum StatisticsArgument { S_X = 1, S_NORM, S_COUNT };

template <typename... Args>
bool fail(ErrorReport& error, const char* format, Args... args) {
    return reject(error, kEngine, kBadArgument, format, args...);
}

// A real double scalar within [low, high] (NaN never is).
bool checkNumber(const mxArray* array, const char* argument, double low, double high,
                 ErrorReport& error) {
    double value = 0;
    const ScalarArgument number{argument, kBadArgument, {low, high}, "is out of range."};
    return readScalar(array, kEngine, number, value, error);
}

// A real double matrix of finite values; width >= 0 demands that many columns.
bool checkFiniteMatrix(const mxArray* array, const char* argument, long width, ErrorReport& error) {
    if (!checkMatrixArgument(array, kEngine, argument, kBadArgument, error)) return false;
    if (width >= 0 && static_cast<long>(mxGetN(array)) != width) {
        return fail(error, "%s: %s must have %ld columns.", argument, width);
    }
    if (!allFinite(array)) return fail(error, "%s: %s must not contain NaN or Inf.", argument);
    return true;
}

// Class numbers for `count` rows: a vector, or empty when there are no rows.
bool checkClasses(const mxArray* array, int count, const char* argument, ErrorReport& error) {
    if (count == 0 && mxIsDouble(array) && mxGetNumberOfElements(array) == 0) return true;
    return checkLabelVector(array, count, kEngine, argument, kBadArgument, error);
}

int rowsOf(const mxArray* array) {
    return static_cast<int>(mxGetM(array));
}

// The optional trailing plan text: a char row of plan words (parseSearchPlan).
bool readPlan(const mxArray* array, SearchPlan& plan, ErrorReport& error) {
    bool read = false;
    if (mxIsChar(array) && mxGetNumberOfDimensions(array) == 2 && mxGetM(array) <= 1) {
        std::string text(mxGetNumberOfElements(array) + 1, '\0');
        read = mxGetString(array, &text[0], static_cast<mwSize>(text.size())) == 0;
        text.pop_back();
        read = read && parseSearchPlan(text, plan);
    }
    return read || fail(error, "%s: plan must be a search plan text.");
}

bool checkTrain(int nlhs, int nrhs, const mxArray* const* prhs, SearchPlan& plan,
                ErrorReport& error) {
    if ((nrhs != T_COUNT && nrhs != T_COUNT + 1) || nlhs > 4)
        return fail(error, "%s: 'train' takes 9 arguments and gives up to 4 outputs.");
    if (!checkFiniteMatrix(prhs[T_X], "X", -1, error)) return false;
    const long n = static_cast<long>(mxGetN(prhs[T_X]));
    if (!checkClasses(prhs[T_CLASS], rowsOf(prhs[T_X]), "classIndex", error)) return false;
    if (!checkNumber(prhs[T_NORM], "p", 1, INFINITY, error) ||
        !checkNumber(prhs[T_RMAX], "Rmax", 0, DBL_MAX, error) ||
        !checkNumber(prhs[T_MARGIN], "margin", 0, DBL_MAX, error) ||
        !checkNumber(prhs[T_PASSES], "maxPasses", 1, INFINITY, error) ||
        !checkNumber(prhs[T_VERBOSE], "verbose", 0, 1, error)) {
        return false;
    }
    const mxArray* start = prhs[T_START_NODES];
    const bool noStart = mxIsDouble(start) && mxGetNumberOfElements(start) == 0;
    if (!noStart && !checkFiniteMatrix(start, "startNodes", n + 1, error)) return false;
    if (!checkClasses(prhs[T_START_CLASS], noStart ? 0 : rowsOf(start), "startClass", error))
        return false;
    return nrhs == T_COUNT || readPlan(prhs[T_COUNT], plan, error);
}

bool checkRecall(int nlhs, int nrhs, const mxArray* const* prhs, SearchPlan& plan,
                 ErrorReport& error) {
    if ((nrhs != R_COUNT && nrhs != R_COUNT + 1) || nlhs > 5)
        return fail(error, "%s: 'recall' takes 5 arguments and gives up to 5 outputs.");
    const mxArray* nodes = prhs[R_NODES];
    if (!checkNodeMatrix(nodes, kEngine, "nodes", kBadArgument, error)) return false;
    const long n = static_cast<long>(mxGetN(nodes)) - 1;
    if (!checkClasses(prhs[R_CLASS], rowsOf(nodes), "nodeClass", error)) return false;
    if (!checkNumber(prhs[R_NORM], "p", 1, INFINITY, error) ||
        !checkFiniteMatrix(prhs[R_X], "X", n, error) ||
        !checkNumber(prhs[R_NN], "nnOption", 0, 1, error)) {
        return false;
    }
    return nrhs == R_COUNT || readPlan(prhs[R_COUNT], plan, error);
}

bool checkStatistics(int nlhs, int nrhs, const mxArray* const* prhs, ErrorReport& error) {
    if (nrhs != S_COUNT || nlhs > 5)
        return fail(error, "%s: 'statistics' takes 2 arguments and gives up to 5 outputs.");
    return checkFiniteMatrix(prhs[S_X], "X", -1, error) &&
           checkNumber(prhs[S_NORM], "p", 1, INFINITY, error);
}

ProcedureStatus train(int nlhs, mxArray* plhs[], const mxArray* const* prhs,
                      const SearchPlan& plan) {
    // Read in place: the checks have made sure of their shapes.
    const int rows = rowsOf(prhs[T_X]);
    const int cols = static_cast<int>(mxGetN(prhs[T_X]));
    const mxArray* start = prhs[T_START_NODES];
    const int startCount = mxGetNumberOfElements(start) > 0 ? rowsOf(start) : 0;
    TrainingInput input;
    input.patternCount = rows;
    input.dimension = cols;
    input.patterns = RowView::columnMajor(mxGetPr(prhs[T_X]), rows);
    input.labels = mxGetPr(prhs[T_CLASS]);
    input.normType = mxGetScalar(prhs[T_NORM]);
    input.rMax = mxGetScalar(prhs[T_RMAX]);
    input.margin = mxGetScalar(prhs[T_MARGIN]);
    input.maxPresentations = truncateToInt(mxGetScalar(prhs[T_PASSES]));
    input.patternsFinite = true;  // checked
    input.startNodeCount = startCount;
    input.startRows = RowView::columnMajor(mxGetPr(start), startCount);
    input.startLabels = mxGetPr(prhs[T_START_CLASS]);
    input.passLines = mxGetScalar(prhs[T_VERBOSE]) != 0;
    input.plan = plan;
    TrainingOutput output;
    const ProcedureStatus status = learnPrototypes(input, output);
    if (status != ProcedureStatus::Done) return status;

    // A host has room for max(nlhs, 1) outputs.
    const bool handed = trainingToHost(nlhs > 1 ? nlhs : 1, plhs, output.nodeCount, cols + 1,
                                       output.nodeValues.get(), output.nodeLabels.get(),
                                       output.presentations, output.converged);
    return handed ? ProcedureStatus::Done : ProcedureStatus::OutOfMemory;
}

ProcedureStatus recall(int nlhs, mxArray* plhs[], const mxArray* const* prhs,
                       const SearchPlan& plan) {
    // Read in place: the procedure gathers the few rows it works on at a time.
    const int nodeCount = rowsOf(prhs[R_NODES]);
    const int patternCount = rowsOf(prhs[R_X]);
    // The info goes straight into the outputs.
    mxArray* columns[4] = {};
    double* info[4] = {};
    for (int f = 0; f < 4; ++f) {
        if (nlhs <= f + 1) continue;
        columns[f] = mxCreateDoubleMatrix(static_cast<mwSize>(patternCount), 1, mxREAL);
        if (columns[f] == nullptr) return ProcedureStatus::OutOfMemory;
        info[f] = mxGetPr(columns[f]);
    }

    RecallInput input;
    input.nodeCount = nodeCount;
    input.dimension = static_cast<int>(mxGetN(prhs[R_NODES])) - 1;
    input.templates = RowView::columnMajor(mxGetPr(prhs[R_NODES]), nodeCount);
    input.nodeLabels = nodeCount > 0 ? mxGetPr(prhs[R_CLASS]) : nullptr;
    input.normType = mxGetScalar(prhs[R_NORM]);
    input.patternCount = patternCount;
    input.patterns = RowView::columnMajor(mxGetPr(prhs[R_X]), patternCount);
    input.unknownLabel = 0;
    input.nnOption = mxGetScalar(prhs[R_NN]) != 0 ? 1 : 0;
    input.plan = plan;
    const RecallInfo wanted{info[0], info[1], info[2], info[3]};
    HostBlock<double> labels;
    const ProcedureStatus status = classifyPatterns(input, labels, nlhs > 1 ? &wanted : nullptr);
    if (status != ProcedureStatus::Done) return status;
    plhs[0] = cArray1D_to_mxArray1D(patternCount, labels.get());
    if (plhs[0] == nullptr) return ProcedureStatus::OutOfMemory;
    for (int f = 0; f < 4; ++f) {
        if (columns[f] != nullptr) plhs[f + 1] = columns[f];
    }
    return ProcedureStatus::Done;
}

// The column statistics of X, and with more than two outputs what the automatic Rmax measures.
ProcedureStatus statistics(int nlhs, mxArray* plhs[], const mxArray* const* prhs) {
    const int rows = rowsOf(prhs[S_X]);
    const int cols = static_cast<int>(mxGetN(prhs[S_X]));
    const RowView patterns = RowView::columnMajor(mxGetPr(prhs[S_X]), rows);
    mxArray* mean = mxCreateDoubleMatrix(1, static_cast<mwSize>(cols), mxREAL);
    mxArray* scale = mxCreateDoubleMatrix(1, static_cast<mwSize>(cols), mxREAL);
    if (mean == nullptr || scale == nullptr) return ProcedureStatus::OutOfMemory;
    columnScaling(patterns, rows, cols, mxGetPr(mean), mxGetPr(scale));
    plhs[0] = mean;
    if (nlhs > 1) plhs[1] = scale;
    TypicalDistance typical;
    const ProcedureStatus status =
        nlhs > 2 ? typicalDistance(patterns, rows, cols, mxGetScalar(prhs[S_NORM]), typical)
                 : ProcedureStatus::Done;
    const double values[] = {typical.rmax, typical.median, typical.spread};
    for (int k = 2; status == ProcedureStatus::Done && k < nlhs; ++k) {
        if ((plhs[k] = mxCreateDoubleScalar(values[k - 2])) == nullptr)
            return ProcedureStatus::OutOfMemory;
    }
    return status;
}

}  // namespace

extern "C" SPHNET_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                          const mxArray* prhs[]) {
    ErrorReport error;
    char command[12] = {};
    const bool named = nrhs >= 1 && mxIsChar(prhs[0]) &&
                       mxGetNumberOfElements(prhs[0]) < sizeof command &&
                       mxGetString(prhs[0], command, sizeof command) == 0;
    const bool training = named && std::strcmp(command, "train") == 0;
    const bool recalling = named && std::strcmp(command, "recall") == 0;
    const bool measuring = named && std::strcmp(command, "statistics") == 0;
    bool valid = false;
    SearchPlan plan;
    if (training) {
        valid = checkTrain(nlhs, nrhs, prhs, plan, error);
    } else if (recalling) {
        valid = checkRecall(nlhs, nrhs, prhs, plan, error);
    } else if (measuring) {
        valid = checkStatistics(nlhs, nrhs, prhs, error);
    } else {
        fail(error,
             "%s: the first argument must be 'train' or 'recall' (an internal function of "
             "sphnet_fit and sphnet_predict).");
    }
    if (!valid) raiseError(error);
    const ProcedureStatus status = measuring  ? statistics(nlhs, plhs, prhs)
                                   : training ? train(nlhs, plhs, prhs, plan)
                                              : recall(nlhs, plhs, prhs, plan);
    if (status != ProcedureStatus::Done) raiseProcedureFailure(status, kEngine);
}
