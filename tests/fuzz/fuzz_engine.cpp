// libFuzzer driver for sphnet_engine, the module behind sphnet_fit and sphnet_predict, through
// the stand-in host: 'train' with and without start nodes, 'recall' with up to all five outputs,
// each with a search plan drawn from the input (or a malformed one), and malformed calls of every
// kind (command, counts, classes, shapes, values). Any call must end in success or a documented
// error; a successful one must have had valid arguments and give the literal algorithm's outputs.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_arguments.h"
#include "fuzz_checks.h"
#include "literal_checks.h"
#include "search_plan_draw.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

using namespace sphnet_fuzz;

namespace {

const char kName[] = "sphnet_engine";

// The plan argument: a plan text drawn from the input as a rule, else words the parser must
// refuse, or no text at all.
standin::Array planArgument(FuzzedDataProvider& in) {
    static const char* const malformed[] = {
        "cover",         "cover=",         "cover=bogus", "isa=avx2,threads=three",
        "census=Panels", "precision=half", "=plain",      "nearest=tree extra",
        "threads=two;",  "foreign==lists"};
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
            return standin::text(
                malformed[in.ConsumeIntegralInRange<std::size_t>(0, std::size(malformed) - 1)]);
        case 1:  // not a char row: numbers, a char matrix, a sparse or empty char array
            return makeArray(
                in, in.ConsumeBool() ? mxDOUBLE_CLASS : mxCHAR_CLASS,
                {in.ConsumeIntegralInRange<mwSize>(0, 2), in.ConsumeIntegralInRange<mwSize>(0, 3)},
                false, in.ConsumeBool(), labelValue);
        case 2:
            return standin::text("");
        default: {
            std::string text = sphnet::describeSearchPlan(sphnet_testing::drawSearchPlan(in));
            if (in.ConsumeBool())
                for (char& c : text) c = c == ' ' ? ',' : c;
            return standin::text(text);
        }
    }
}

// Whether the plan argument holds words parseSearchPlan accepts.
bool planIsValid(const mxArray* a) {
    if (!mxIsChar(a) || mxIsSparse(a) || mxGetNumberOfDimensions(a) != 2 || mxGetM(a) > 1)
        return false;
    std::string text(mxGetNumberOfElements(a) + 1, '\0');
    if (mxGetString(a, &text[0], static_cast<mwSize>(text.size())) != 0) return false;
    text.pop_back();
    sphnet::SearchPlan plan;
    return parseSearchPlan(text, plan);
}

bool isEmptyDouble(const mxArray* a) {
    return mxIsDouble(a) && mxGetNumberOfElements(a) == 0;
}

bool fitsInt(const mxArray* a) {
    const mwSize* d = mxGetDimensions(a);
    return d[0] < INT_MAX && d[1] < INT_MAX;
}

bool classesValid(const mxArray* a, std::size_t count) {
    if (count == 0 && isEmptyDouble(a)) return true;
    if (!isMatrix(a) || !labelsFitInt32(a)) return false;
    const mwSize* d = mxGetDimensions(a);
    return (d[0] == 1 && static_cast<std::size_t>(d[1]) == count) ||
           (d[1] == 1 && static_cast<std::size_t>(d[0]) == count);
}

bool numberIn(const mxArray* a, double low, double high, bool finite) {
    if (!isScalarLike(a)) return false;
    const double v = mxGetScalar(a);
    return v >= low && v <= high && (!finite || std::isfinite(v));
}

// args[0] is the command.
bool trainingWasValid(const std::vector<const mxArray*>& a, int nlhs) {
    if ((a.size() != 10 && a.size() != 11) || nlhs > 4) return false;
    if (!isMatrix(a[1]) || !fitsInt(a[1]) || !allFinite(a[1]) || !classesValid(a[2], mxGetM(a[1])))
        return false;
    if (!numberIn(a[3], 1, kInf, false) || !numberIn(a[4], 0, kInf, true) ||
        !numberIn(a[5], 0, kInf, true) || !numberIn(a[6], 1, kInf, false) ||
        !numberIn(a[7], 0, 1, true))
        return false;
    const bool noStart = isEmptyDouble(a[8]);
    if (!noStart &&
        (!isMatrix(a[8]) || !fitsInt(a[8]) || mxGetN(a[8]) != mxGetN(a[1]) + 1 || !allFinite(a[8])))
        return false;
    return classesValid(a[9], noStart ? 0 : mxGetM(a[8])) && (a.size() == 10 || planIsValid(a[10]));
}

bool recallWasValid(const std::vector<const mxArray*>& a, int nlhs) {
    if ((a.size() != 6 && a.size() != 7) || nlhs > 5) return false;
    const mxArray* nodes = a[1];
    if (!isMatrix(nodes) || !fitsInt(nodes) || mxGetN(nodes) < 1) return false;
    const std::size_t m = mxGetM(nodes), n = mxGetN(nodes) - 1;
    for (std::size_t v = 0; v < mxGetNumberOfElements(nodes); ++v) {
        const double x = mxGetPr(nodes)[v];
        if (std::isnan(x) || (v < m * n && std::isinf(x))) return false;
    }
    if (!classesValid(a[2], m) || !numberIn(a[3], 1, kInf, false)) return false;
    if (!isMatrix(a[4]) || !fitsInt(a[4]) || mxGetN(a[4]) != n || !allFinite(a[4])) return false;
    return numberIn(a[5], 0, 1, true) && (a.size() == 6 || planIsValid(a[6]));
}

void checkTraining(const std::vector<const mxArray*>& a, int nlhs, const standin::CallResult& r) {
    require(trainingWasValid(a, nlhs), "invalid arguments were accepted", r);
    require(r.outputs.size() == static_cast<std::size_t>(std::max(nlhs, 1)), "wrong output count",
            r);
    for (const standin::Array& out : r.outputs)
        require(isMatrix(out.get()), "an output is not a real double matrix", r);
    const std::size_t count = mxGetM(a[1]), n = mxGetN(a[1]);
    const std::size_t starts = isEmptyDouble(a[8]) ? 0 : mxGetM(a[8]);
    const mxArray* nodes = r.outputs[0].get();
    const std::size_t k = mxGetM(nodes);
    require(mxGetN(nodes) == n + 1, "nodes misshapen", r);
    if (nlhs > 1)
        require(mxGetM(r.outputs[1].get()) == k && mxGetN(r.outputs[1].get()) == 1,
                "nodeClass misshapen", r);
    const double limit = std::trunc(std::min(mxGetScalar(a[6]), 2147483647.0));
    double passes = -1;
    if (nlhs > 2) {
        passes = mxGetScalar(r.outputs[2].get());
        require(passes >= 0 && passes <= limit && passes == std::floor(passes),
                "passes outside 0..maxPasses", r);
    }
    if (nlhs > 3) {
        const double converged = mxGetScalar(r.outputs[3].get());
        require(converged == (passes < limit ? 1.0 : 0.0),
                "converged does not follow from the pass count", r);
    }
    require(k >= starts, "start nodes were dropped", r);
    // The literal trainer, where its cost stays moderate.
    const double work = static_cast<double>(count) * static_cast<double>(k) *
                        static_cast<double>(n + 1) * std::min(limit, 2.0);
    if (nlhs < 3 || work > 1e7 || limit > 50) return;
    reference::TrainingProblem problem;
    problem.dimension = static_cast<int>(n);
    problem.patterns = rowsOf(mxGetPr(a[1]), count, n);
    problem.labels.assign(mxGetPr(a[2]), mxGetPr(a[2]) + count);
    problem.p = mxGetScalar(a[3]);
    problem.rMax = mxGetScalar(a[4]);
    problem.margin = mxGetScalar(a[5]);
    problem.maxPresentations = static_cast<int>(limit);
    if (starts > 0) {
        problem.startNodes = rowsOf(mxGetPr(a[8]), starts, n + 1);
        problem.startLabels.assign(mxGetPr(a[9]), mxGetPr(a[9]) + starts);
    }
    const std::string difference =
        differenceFromLiteral(problem, mxGetPr(nodes), k, mxGetPr(r.outputs[1].get()), passes);
    require(difference.empty(), difference, r);
}

void checkRecall(const std::vector<const mxArray*>& a, int nlhs, const standin::CallResult& r) {
    require(recallWasValid(a, nlhs), "invalid arguments were accepted", r);
    require(r.outputs.size() == static_cast<std::size_t>(std::max(nlhs, 1)), "wrong output count",
            r);
    const std::size_t m = mxGetM(a[1]), n = mxGetN(a[1]) - 1, count = mxGetM(a[4]);
    const double* info[4] = {};
    for (std::size_t f = 0; f < r.outputs.size(); ++f) {
        const mxArray* out = r.outputs[f].get();
        require(isMatrix(out) && mxGetM(out) == count && mxGetN(out) == 1, "an output is not P x 1",
                r);
        if (f > 0) info[f - 1] = mxGetPr(out);
    }
    if (static_cast<double>(m) * static_cast<double>(count) * static_cast<double>(n + 1) > 4e6)
        return;
    reference::RecallProblem problem;
    problem.dimension = static_cast<int>(n);
    problem.templates = rowsOf(mxGetPr(a[1]), m, n + 1);
    if (m > 0) problem.nodeLabels.assign(mxGetPr(a[2]), mxGetPr(a[2]) + m);
    problem.p = mxGetScalar(a[3]);
    problem.patterns = rowsOf(mxGetPr(a[4]), count, n);
    problem.unknownLabel = 0;
    problem.nnOption = mxGetScalar(a[5]) != 0 ? 1 : 0;
    const std::string difference =
        differenceFromLiteral(problem, mxGetPr(r.outputs[0].get()), info);
    require(difference.empty(), difference, r);
}

// The column statistics of a finite matrix: means (infinite where sums overflow, NaN for no
// rows) and scales of its width, the scales and the automatic Rmax positive and finite, the spread
// not negative.
void checkStatistics(const std::vector<const mxArray*>& a, int nlhs, const standin::CallResult& r) {
    require(a.size() == 3 && nlhs <= 5 && isMatrix(a[1]) && fitsInt(a[1]) && allFinite(a[1]) &&
                numberIn(a[2], 1, kInf, false),
            "invalid arguments were accepted", r);
    require(r.outputs.size() == static_cast<std::size_t>(std::max(nlhs, 1)), "wrong output count",
            r);
    for (std::size_t f = 0; f < r.outputs.size(); ++f) {
        const mxArray* out = r.outputs[f].get();
        const std::size_t width = f < 2 ? mxGetN(a[1]) : 1;
        require(isMatrix(out) && mxGetM(out) == 1 && mxGetN(out) == width, "an output's shape", r);
        for (std::size_t v = 0; v < width; ++v) {
            const double x = mxGetPr(out)[v];
            const bool valid = f == 0   ? !std::isnan(x) || mxGetM(a[1]) == 0
                               : f == 3 ? true  // the median: NaN for fewer than two rows
                               : f == 4 ? x >= 0
                                        : std::isfinite(x) && x > 0;
            require(valid, "a statistic out of range", r);
        }
    }
}

// Radii for `count` rows on the set's scale: shrunken past zero, zero or infinite, or spread
// up to `width`.
void appendRadii(FuzzedDataProvider& in, SetGenerator& set, std::size_t count,
                 std::vector<double>& table, bool finiteOnly) {
    static const double widths[] = {0x1p-30, 0.25, 1.0, 2.0, 4.0};
    const double width =
        set.reach() * widths[in.ConsumeIntegralInRange<std::size_t>(0, std::size(widths) - 1)];
    const int radiusMode = in.ConsumeIntegralInRange<int>(0, 4);
    for (std::size_t j = 0; j < count; ++j) {
        double radius = width * set.uniform();
        const int mode = radiusMode < 4 ? radiusMode : static_cast<int>(set.uniform() * 4);
        if (mode == 1) radius = -radius;
        if (mode == 2) radius = set.uniform() < 0.1 && !finiteOnly ? kInf : 0.0;
        table.push_back(radius);
    }
}

// A generated training set (integer-valued sets among them), settings on its scale, and
// sometimes start nodes: rows of the same clusters with radii, hundreds to thousands of them.
int generatedTraining(FuzzedDataProvider& in, std::vector<standin::Array>& owned) {
    SetGenerator set(in, 4, 300, true);
    const auto n = static_cast<std::size_t>(set.dimension());
    const std::size_t count = boundedCount(in, 16, 600, static_cast<double>(n), 4000.0);
    const std::size_t starts =
        in.ConsumeBool() ? boundedCount(in, 1, 3000, static_cast<double>(count * n), 3e6) : 0;
    static const double radii[] = {0.0, 0x1p-30, 0.25, 1.0, 4.0, 16.0};
    static const double margins[] = {0.0, 0.0, 0.25, 2.0};
    const double rMax =
        set.reach() * radii[in.ConsumeIntegralInRange<std::size_t>(0, std::size(radii) - 1)];
    const double margin =
        set.reach() * margins[in.ConsumeIntegralInRange<std::size_t>(0, std::size(margins) - 1)];
    const double p = generatedNorm(in);
    std::vector<double> values, labels, startRows, startLabels;
    set.fill(count, 1.0, values, labels);
    owned.push_back(standin::matrix(count, n, values));
    owned.push_back(labelsMatrix(in, labels));
    for (double setting :
         {p, rMax, margin, static_cast<double>(in.ConsumeIntegralInRange<int>(1, 2)),
          static_cast<double>(in.ConsumeIntegralInRange<int>(0, 1))})
        owned.push_back(standin::scalar(setting));
    if (starts == 0) {
        owned.push_back(standin::matrix(0, 0, {}));
        owned.push_back(standin::matrix(0, 0, {}));
    } else {
        set.fill(starts, 2.0, startRows, startLabels);
        appendRadii(in, set, starts, startRows, true);
        owned.push_back(standin::matrix(starts, n + 1, startRows));
        owned.push_back(labelsMatrix(in, startLabels));
    }
    return in.ConsumeIntegralInRange<int>(3, 4);
}

// A generated node set (integer-valued sets among them) with patterns around the same clusters,
// some three times as far out.
int generatedRecall(FuzzedDataProvider& in, std::vector<standin::Array>& owned) {
    SetGenerator set(in, 4, 300, true);
    const auto n = static_cast<std::size_t>(set.dimension());
    // Up to 300 000 generated values: the set's generation stays a small part of a run.
    const std::size_t nodeCount = boundedCount(in, 64, 3000, static_cast<double>(n), 3e5);
    const std::size_t patternCount =
        boundedCount(in, 1, 256, static_cast<double>(nodeCount * n), 6e5);
    const double p = generatedNorm(in);
    std::vector<double> templates, nodeLabels, patterns, unused;
    set.fill(nodeCount, 1.0, templates, nodeLabels);
    appendRadii(in, set, nodeCount, templates, false);
    set.fill(patternCount, in.ConsumeBool() ? 1.0 : 3.0, patterns, unused);
    owned.push_back(standin::matrix(nodeCount, n + 1, templates));
    owned.push_back(labelsMatrix(in, nodeLabels));
    owned.push_back(standin::scalar(p));
    owned.push_back(standin::matrix(patternCount, n, patterns));
    owned.push_back(standin::scalar(in.ConsumeIntegralInRange<int>(0, 1)));
    return in.ConsumeIntegralInRange<int>(1, 5);
}

// Every argument spelled out from the input: mostly well formed and small, the rest anything.
int spelledTraining(FuzzedDataProvider& in, std::vector<standin::Array>& owned) {
    const mwSize count = in.ConsumeIntegralInRange<mwSize>(0, 10);
    const mwSize n = in.ConsumeIntegralInRange<mwSize>(0, 5);
    owned.push_back(makeArgument(in, count, n, anyValue));
    owned.push_back(makeLabelsArgument(in, count, labelValue));
    owned.push_back(makeScalarArgument(in, normValue));
    owned.push_back(makeScalarArgument(in, smallNonNegative));
    owned.push_back(makeScalarArgument(in, smallNonNegative));
    owned.push_back(makeScalarArgument(in, anyValue));
    if (count > 0) boundPassLimit(owned.back().get(), 4);
    owned.push_back(makeScalarArgument(in, flag));
    const mwSize starts = in.ConsumeBool() ? in.ConsumeIntegralInRange<mwSize>(0, 6) : 0;
    if (starts == 0 && in.ConsumeBool()) {
        owned.push_back(standin::matrix(0, 0, {}));
        owned.push_back(standin::matrix(0, 0, {}));
    } else {
        owned.push_back(makeArgument(in, starts, n + 1, anyValue));
        owned.push_back(makeLabelsArgument(in, starts, labelValue));
    }
    return makeCount(in, in.ConsumeIntegralInRange<int>(0, 4));
}

int spelledRecall(FuzzedDataProvider& in, std::vector<standin::Array>& owned) {
    const mwSize m = in.ConsumeIntegralInRange<mwSize>(0, 8);
    const mwSize columns = in.ConsumeIntegralInRange<mwSize>(0, 5);
    owned.push_back(makeArgument(in, m, columns, anyValue));
    owned.push_back(makeLabelsArgument(in, m, labelValue));
    owned.push_back(makeScalarArgument(in, normValue));
    owned.push_back(makeArgument(in, in.ConsumeIntegralInRange<mwSize>(0, 8),
                                 columns > 0 ? columns - 1 : 0, anyValue));
    owned.push_back(makeScalarArgument(in, flag));
    return makeCount(in, in.ConsumeIntegralInRange<int>(0, 5));
}

standin::Array commandArgument(FuzzedDataProvider& in, bool training) {
    static const char* const others[] = {"",        "trai",      "TRAIN",   "recalls",
                                         "predict", "train\x01", "recall  "};
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
            return standin::text(
                others[in.ConsumeIntegralInRange<std::size_t>(0, std::size(others) - 1)]);
        case 1:
            return makeArray(in, anyClass(in), {1, in.ConsumeIntegralInRange<mwSize>(0, 6)}, false,
                             in.ConsumeBool(), labelValue);
        default:
            return standin::text(training ? "train" : "recall");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<standin::Array> owned;
    const int route = in.ConsumeIntegralInRange<int>(0, 8);
    const bool training = route % 2 == 1;
    const bool generated = route >= 6;  // a quarter of the runs: generated sets, past the checks
    const standin::CallOptions options = makeCallOptions(in);
    owned.push_back(route == 8  ? standin::text("statistics")
                    : generated ? standin::text(training ? "train" : "recall")
                                : commandArgument(in, training));
    int nlhs = 0;
    if (route == 8) {
        owned.push_back(makeArgument(in, in.ConsumeIntegralInRange<mwSize>(0, 9),
                                     in.ConsumeIntegralInRange<mwSize>(0, 4), anyValue));
        owned.push_back(makeScalarArgument(in, normValue));
        nlhs = in.ConsumeIntegralInRange<int>(0, 6);
        // Rows of no values may be as wide as the int range, but the answer has a value a column.
        if (mxGetN(owned[1].get()) > (mwSize{1} << 20)) return 0;
    } else if (generated)
        nlhs = training ? generatedTraining(in, owned) : generatedRecall(in, owned);
    else
        nlhs = training ? spelledTraining(in, owned) : spelledRecall(in, owned);
    if (route != 8 && in.ConsumeIntegralInRange<int>(0, 3) != 0) owned.push_back(planArgument(in));
    int nrhs = static_cast<int>(owned.size());
    if (!generated && in.ConsumeIntegralInRange<int>(0, 15) == 0)
        nrhs = in.ConsumeIntegralInRange<int>(0, nrhs);  // arguments left off

    std::vector<const mxArray*> args = pointers(owned, nrhs);
    const standin::CallResult result = standin::call(mexFunction, nlhs, args, options);
    if (!checkCallOutcome(kName, options, result)) return 0;
    char command[12] = {};
    require(nrhs >= 1 && mxGetString(args[0], command, sizeof command) == 0,
            "a call without a command succeeded", result);
    const std::string name = command;
    require(name == "train" || name == "recall" || name == "statistics",
            "an unknown command succeeded", result);
    if (name == "statistics")
        checkStatistics(args, nlhs, result);
    else if (name == "train")
        checkTraining(args, nlhs, result);
    else
        checkRecall(args, nlhs, result);
    return 0;
}
