// libFuzzer driver for sphnet_recall through the stand-in host. The input bytes choose the
// argument and output counts, every argument's class, storage, shape and values, and sometimes
// a refused allocation or an interrupt. Any call must end in success or a documented error; a
// successful one must have validated its arguments and give every pattern the label a
// brute-force scan of the nodes gives, with the host's FLOP tally matching the scans made; and
// recall called directly with a search plan drawn from the input must give the same.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classify_patterns.h"
#include "fuzz_arguments.h"
#include "fuzz_checks.h"
#include "reference_model.h"
#include "search_plan_draw.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

using namespace sphnet_fuzz;

namespace {

double smallWhole(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-1, 3) : anyValue(in);
}

bool argumentsWereValid(const std::vector<const mxArray*>& a, int nlhs) {
    if (a.size() != 7 || nlhs != 1) return false;
    const mxArray* templates = a[0];
    if (!isMatrix(templates)) return false;
    const mwSize* td = mxGetDimensions(templates);
    if (td[0] >= INT_MAX || td[1] >= INT_MAX || td[1] < 1) return false;
    const double* tp = mxGetPr(templates);
    for (std::size_t i = 0; i < mxGetNumberOfElements(templates); ++i) {
        if (std::isnan(tp[i])) return false;
        if (std::isinf(tp[i]) && i < static_cast<std::size_t>(td[0] * (td[1] - 1))) return false;
    }
    const mxArray* labels = a[1];
    if (!isMatrix(labels) || !labelsFitInt32(labels)) return false;
    const mwSize* ld = mxGetDimensions(labels);
    if (!((ld[0] == 1 && ld[1] == td[0]) || (ld[1] == 1 && ld[0] == td[0]))) return false;
    const mxArray* patterns = a[3];
    if (!isMatrix(patterns) || !allFinite(patterns)) return false;
    const mwSize* pd = mxGetDimensions(patterns);
    if (pd[0] >= INT_MAX || pd[1] != td[1] - 1) return false;
    for (int i : {2, 4, 5, 6}) {
        if (!isScalarLike(a[i])) return false;
    }
    const double unknown = mxGetScalar(a[4]);
    const double nn = mxGetScalar(a[5]);
    const double oflag = mxGetScalar(a[6]);
    return mxGetScalar(a[2]) >= 1 && unknown > -2147483649.0 && unknown < 2147483648.0 && nn > -1 &&
           nn < 2 && oflag > -1 && oflag < 4;
}

void checkSuccess(const std::vector<const mxArray*>& args, int nlhs, const standin::CallResult& r) {
    require(argumentsWereValid(args, nlhs), "invalid arguments were accepted", r);
    require(r.outputs.size() == 1, "not one output", r);
    const mxArray* labels = r.outputs[0].get();
    require(isMatrix(labels), "Labels is not a real double matrix", r);
    const mxArray* templates = args[0];
    const std::size_t m = mxGetM(templates);
    const std::size_t n = mxGetDimensions(templates)[1] - 1;
    const std::size_t patternCount = mxGetM(args[3]);
    require(mxGetM(labels) == patternCount && mxGetN(labels) == 1, "Labels is not P x 1", r);

    sphnet_testing::ReferenceNodes nodes;
    nodes.n = n;
    const double* tp = mxGetPr(templates);
    const double* lp = mxGetPr(args[1]);
    for (std::size_t j = 0; j < m; ++j) {
        std::vector<double> row(n + 1);
        for (std::size_t i = 0; i <= n; ++i) row[i] = tp[i * m + j];
        nodes.rows.push_back(row);
        nodes.labels.push_back(lp[j]);
    }
    const double p = mxGetScalar(args[2]);
    const int unknown = static_cast<int>(mxGetScalar(args[4]));
    const int nn = static_cast<int>(mxGetScalar(args[5]));
    const double* pp = mxGetPr(args[3]);
    const double* out = mxGetPr(labels);
    std::uint64_t tests = 0;
    // n may be near the int range when there are no patterns; the buffer is sized only by data.
    std::vector<double> x(patternCount > 0 ? n : 0);
    for (std::size_t k = 0; k < patternCount; ++k) {
        for (std::size_t i = 0; i < n; ++i) x[i] = pp[i * patternCount + k];
        const sphnet_testing::ReferenceAnswer expected =
            sphnet_testing::referenceRecall(nodes, x.data(), p, unknown, nn);
        tests += expected.tests;
        require(out[k] == expected.label,
                "pattern " + std::to_string(k + 1) + " got " + std::to_string(out[k]) +
                    ", a brute-force scan gives " + std::to_string(expected.label),
                r);
    }
    const sphnet_testing::ReferenceCost cost =
        sphnet_testing::referenceCoverageCost(p, static_cast<std::uint32_t>(n));
    const auto expectedFlops = static_cast<std::uint32_t>(tests * cost.flops);
    require(r.flopsTally == expectedFlops, "the host's FLOP tally does not match the scans", r);

    const int oflag = static_cast<int>(mxGetScalar(args[6]));
    if (oflag == 0) require(r.console.empty(), "oflag 0 printed something", r);
    if (oflag >= 1) {
        require(r.console.find("\nRCE performance phase summary\n") != std::string::npos,
                "no summary", r);
    }
}

// The same recall called directly with `plan`: the labels and the FLOP tally must be the module's.
void checkWithPlan(const std::vector<const mxArray*>& args, const standin::CallResult& r,
                   const sphnet::SearchPlan& plan) {
    const int nodeCount = static_cast<int>(mxGetM(args[0]));
    const int patternCount = static_cast<int>(mxGetM(args[3]));
    sphnet::RecallInput input;
    input.nodeCount = nodeCount;
    input.dimension = static_cast<int>(mxGetN(args[0])) - 1;
    input.templates = sphnet::RowView::columnMajor(mxGetPr(args[0]), nodeCount);
    input.nodeLabels = mxGetPr(args[1]);
    input.normType = mxGetScalar(args[2]);
    input.patternCount = patternCount;
    input.patterns = sphnet::RowView::columnMajor(mxGetPr(args[3]), patternCount);
    input.unknownLabel = static_cast<int>(mxGetScalar(args[4]));
    input.nnOption = static_cast<int>(mxGetScalar(args[5]));
    input.oflag = static_cast<int>(mxGetScalar(args[6]));
    input.coordinatesFinite = true;
    input.plan = plan;
    standin::Scope scope;
    sphnet::HostBlock<double> labels;
    const sphnet::ProcedureStatus status = sphnet::classifyPatterns(input, labels);
    const bool same = status == sphnet::ProcedureStatus::Done &&
                      std::memcmp(labels.get(), mxGetPr(r.outputs[0].get()),
                                  static_cast<std::size_t>(patternCount) * sizeof(double)) == 0;
    labels = sphnet::HostBlock<double>();  // freed within the scope
    const standin::CallResult direct = scope.finish();
    require(same,
            "recall with the plan \"" + sphnet::describeSearchPlan(plan) + "\" gives other labels",
            direct);
    require(direct.flopsTally == r.flopsTally, "the plan changed the FLOP tally", direct);
}

// A generated node set (SetGenerator) with patterns around the same clusters, some of them
// three times as far out: radii on the set's scale, shrunken, negative, zero or infinite; a norm
// of each family, the 1-NN rule on or off, quiet levels.
void generatedArguments(FuzzedDataProvider& in, std::vector<standin::Array>& owned) {
    SetGenerator set(in, 6, 20);
    const auto n = static_cast<std::size_t>(set.dimension());
    const std::size_t nodeCount = in.ConsumeIntegralInRange<std::size_t>(64, 3000);
    // The reference scans every node for every pattern.
    const std::size_t patternCount =
        boundedCount(in, 1, 256, static_cast<double>(nodeCount * n), 1e6);
    const double p = generatedNorm(in);
    const int radiusMode = in.ConsumeIntegralInRange<int>(0, 4);
    static const double widths[] = {0x1p-30, 0.25, 1.0, 4.0, 16.0};
    const double width =
        set.scale() * widths[in.ConsumeIntegralInRange<std::size_t>(0, std::size(widths) - 1)];
    std::vector<double> centres, nodeLabels;
    set.fill(nodeCount, 1.0, centres, nodeLabels);
    std::vector<double> templates(centres);
    for (std::size_t j = 0; j < nodeCount; ++j) {
        double radius = width * set.uniform();
        const int mode = radiusMode < 4 ? radiusMode : static_cast<int>(set.uniform() * 4);
        if (mode == 1) radius = -radius;  // shrunk past zero by conflicts: covers nothing
        if (mode == 2) radius = set.uniform() < 0.1 ? kInf : 0.0;
        templates.push_back(radius);
    }
    std::vector<double> patterns, unused;
    set.fill(patternCount, in.ConsumeBool() ? 1.0 : 3.0, patterns, unused);
    owned.push_back(standin::matrix(nodeCount, n + 1, templates));
    owned.push_back(labelsMatrix(in, nodeLabels));
    owned.push_back(standin::scalar(p));
    owned.push_back(standin::matrix(patternCount, n, patterns));
    owned.push_back(standin::scalar(-1));
    owned.push_back(standin::scalar(in.ConsumeIntegralInRange<int>(0, 1)));
    owned.push_back(standin::scalar(in.ConsumeIntegralInRange<int>(0, 2)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<standin::Array> owned;
    int nrhs = 7;
    int nlhs = 1;
    standin::CallOptions options;
    // A quarter of the runs recall from a generated node set, well formed and large enough for
    // the panels (p = 2, n >= 8, 256 nodes and more) or the tree (other p, up to 16
    // dimensions); the rest spell every argument out.
    const int route = in.ConsumeIntegralInRange<int>(0, 7);
    if (route == 1 || route == 2) {
        options = makeCallOptions(in);
        generatedArguments(in, owned);
    } else {
        // Now and then enough nodes for recall to build its grid over the centres (64 and more).
        const bool large = route == 0;
        if (large) tameSource().seed(in.ConsumeIntegral<std::uint64_t>());
        const mwSize nodeCount = large ? in.ConsumeIntegralInRange<mwSize>(64, 200)
                                       : in.ConsumeIntegralInRange<mwSize>(0, 8);
        const mwSize columns = large ? in.ConsumeIntegralInRange<mwSize>(1, 4)
                                     : in.ConsumeIntegralInRange<mwSize>(0, 5);
        const mwSize patternCount = in.ConsumeIntegralInRange<mwSize>(0, 8);
        nrhs = makeCount(in, 7);
        nlhs = makeCount(in, 1);
        options = makeCallOptions(in);

        owned.push_back(makeArgument(in, nodeCount, columns, large ? tameValue : anyValue));
        const auto labels = large ? tameLabel : labelValue;
        owned.push_back(makeLabelsArgument(in, nodeCount, labels));
        owned.push_back(makeScalarArgument(in, normValue));
        owned.push_back(makeArgument(in, patternCount, columns > 0 ? columns - 1 : 0,
                                     large ? tameValue : anyValue));
        owned.push_back(makeScalarArgument(in, smallWhole));
        owned.push_back(makeScalarArgument(in, flag));
        owned.push_back(makeScalarArgument(in, verbosity));
        while (static_cast<int>(owned.size()) < nrhs)
            owned.push_back(makeScalarArgument(in, anyValue));
    }

    std::vector<const mxArray*> args = pointers(owned, nrhs);
    // Drawn last, so that inputs kept from before there was a plan decode as they did.
    const sphnet::SearchPlan plan = sphnet_testing::drawSearchPlan(in);
    const standin::CallResult result = standin::call(mexFunction, nlhs, args, options);
    if (checkCallOutcome("SPHNET_RECALL", options, result)) {
        checkSuccess(args, nlhs, result);
        checkWithPlan(args, result, plan);
    }
    return 0;
}
