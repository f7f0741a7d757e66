// libFuzzer driver for sphnet_learn through the stand-in host. The input bytes choose the
// argument and output counts, every argument's class, storage, shape and values, and sometimes
// a refused allocation or an interrupt. Any call must end in success or a documented error;
// a successful one must have validated its arguments and hand back a well-formed node set, the
// same one the call gives at the most verbose level, and the same one training called directly
// gives with a search plan drawn from the input.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_arguments.h"
#include "fuzz_checks.h"
#include "learn_prototypes.h"
#include "literal_checks.h"
#include "search_plan_draw.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

using namespace sphnet_fuzz;

namespace {

bool argumentsWereValid(const std::vector<const mxArray*>& a, int nlhs) {
    if (a.size() != 7 || nlhs != 3) return false;
    const mxArray* patterns = a[0];
    if (!isMatrix(patterns) || !allFinite(patterns)) return false;
    const mwSize* pd = mxGetDimensions(patterns);
    if (pd[0] >= INT_MAX || pd[1] >= INT_MAX) return false;
    const mxArray* labels = a[1];
    if (!isMatrix(labels) || !labelsFitInt32(labels)) return false;
    const mwSize* ld = mxGetDimensions(labels);
    if (!((ld[0] == 1 && ld[1] == pd[0]) || (ld[1] == 1 && ld[0] == pd[0]))) return false;
    for (int i = 2; i < 7; ++i) {
        if (!isScalarLike(a[i])) return false;
    }
    const double margin = mxGetScalar(a[4]);
    const double oflag = mxGetScalar(a[6]);
    return mxGetScalar(a[2]) >= 1 && mxGetScalar(a[3]) >= 0 && margin >= 0 &&
           std::isfinite(margin) && mxGetScalar(a[5]) >= 1 && oflag > -1 && oflag < 4;
}

// The pattern that created each node, in creation order, read from the level-2 trace.
std::vector<int> creatorsFromTrace(const std::string& console, const standin::CallResult& r) {
    std::vector<int> creators;
    const std::string marker = "   Pattern #";
    for (std::size_t at = console.find(" created node #"); at != std::string::npos;
         at = console.find(" created node #", at + 1)) {
        const std::size_t start = console.rfind(marker, at);
        require(start != std::string::npos, "creation line without its pattern", r);
        int pattern = 0;
        int node = 0;
        int label = 0;
        require(std::sscanf(console.c_str() + start, "   Pattern #%d created node #%d (label %d)",
                            &pattern, &node, &label) == 3,
                "malformed creation line", r);
        require(node == static_cast<int>(creators.size()) + 1, "nodes numbered out of order", r);
        creators.push_back(pattern - 1);
    }
    return creators;
}

void checkSuccess(const std::vector<const mxArray*>& args, int nlhs, const standin::CallResult& r) {
    require(argumentsWereValid(args, nlhs), "invalid arguments were accepted", r);
    require(r.outputs.size() == 3, "not three outputs", r);
    const mxArray* nodes = r.outputs[0].get();
    const mxArray* nodeLabels = r.outputs[1].get();
    const mxArray* presentations = r.outputs[2].get();
    for (const mxArray* out : {nodes, nodeLabels, presentations}) {
        require(isMatrix(out), "an output is not a real double matrix", r);
    }
    const std::size_t patternCount = mxGetDimensions(args[0])[0];
    const std::size_t n = mxGetDimensions(args[0])[1];
    const std::size_t k = mxGetM(nodes);
    require(mxGetN(nodes) == n + 1, "Nodes does not have n+1 columns", r);
    require(mxGetM(nodeLabels) == k && mxGetN(nodeLabels) == 1, "NodeLabels is not k x 1", r);
    require(mxGetM(presentations) == 1 && mxGetN(presentations) == 1, "Presentations not 1x1", r);

    const double passes = mxGetPr(presentations)[0];
    const double limit = std::trunc(mxGetScalar(args[5]));
    require(passes == std::floor(passes) && passes >= 0 && passes <= limit,
            "presentation count outside 0..limit", r);
    require((patternCount == 0) == (k == 0), "a non-empty set must make a node, an empty none", r);
    require(k <= patternCount * static_cast<std::size_t>(std::max(passes, 1.0)),
            "more nodes than presentations of patterns", r);

    const double* nodeData = mxGetPr(nodes);
    const double* labelData = mxGetPr(nodeLabels);
    const double* patternData = mxGetPr(args[0]);
    const double* patternLabels = mxGetPr(args[1]);
    for (std::size_t i = 0; i < k * (n + 1); ++i) {
        require(!std::isnan(nodeData[i]), "NaN in Nodes", r);
    }
    // Which pattern made each node: from the trace when there is one, else any that fits.
    const int oflag = static_cast<int>(mxGetScalar(args[6]));  // checked to lie in (-1, 4)
    std::vector<int> creators;
    if (oflag >= 2) {
        creators = creatorsFromTrace(r.console, r);
        require(creators.size() == k, "trace and Nodes disagree on the node count", r);
    }
    for (std::size_t j = 0; j < k; ++j) {
        const double label = labelData[j];
        require(label == std::floor(label) && std::fabs(label) <= 2147483648.0,
                "a node label is not a whole int32", r);
        bool found = false;
        for (std::size_t p = 0; p < patternCount && !found; ++p) {
            if (!creators.empty() && static_cast<int>(p) != creators[j]) continue;
            if (j == 0 && p != 0) break;  // the first pattern always makes the first node
            bool same = static_cast<std::int32_t>(patternLabels[p]) == label;
            for (std::size_t i = 0; i < n && same; ++i)
                same = nodeData[i * k + j] == patternData[i * patternCount + p];
            found = same;
        }
        require(found, "node " + std::to_string(j + 1) + " is not centred on its pattern", r);
    }
    if (oflag == 0) require(r.console.empty(), "oflag 0 printed something", r);
    if (oflag >= 1) {
        require(r.console.find("\nRCE training ") != std::string::npos, "no summary", r);
        require(r.console.find("should had never happened") == std::string::npos,
                "an impossible conflict outcome", r);
    }
}

// A generated training set (SetGenerator) with settings on its scale: a norm of each family,
// Rmax from none to wide, a margin from none to huge, one or two passes, quiet levels.
void generatedArguments(FuzzedDataProvider& in, std::vector<standin::Array>& owned) {
    SetGenerator set(in, 6, 20);
    // The module and the literal trainer each cost up to N^2 n terms a pass.
    const std::size_t count = boundedCount(in, 16, 600, std::sqrt(set.dimension()), 650.0);
    const double p = generatedNorm(in);
    static const double radii[] = {0.0, 0x1p-30, 0.25, 1.0, 2.0, 4.0, 8.0, 32.0};
    static const double margins[] = {0.0, 0.0, 0.0, 0.25, 2.0};
    const double rMax =
        set.scale() * radii[in.ConsumeIntegralInRange<std::size_t>(0, std::size(radii) - 1)];
    const std::size_t marginChoice = in.ConsumeIntegralInRange<std::size_t>(0, std::size(margins));
    const double margin =
        marginChoice == std::size(margins) ? 1e300 : set.scale() * margins[marginChoice];
    std::vector<double> values, labels;
    set.fill(count, 1.0, values, labels);
    const auto n = static_cast<std::size_t>(set.dimension());
    owned.push_back(standin::matrix(count, n, values));
    owned.push_back(labelsMatrix(in, labels));
    for (double setting :
         {p, rMax, margin, static_cast<double>(in.ConsumeIntegralInRange<int>(1, 2)),
          static_cast<double>(in.ConsumeIntegralInRange<int>(0, 2))}) {
        owned.push_back(standin::scalar(setting));
    }
}

// The literal trainer's node set for a well-formed call must be the module's, bit for bit.
void compareWithLiteral(const std::vector<const mxArray*>& args, const standin::CallResult& r) {
    reference::TrainingProblem problem;
    const std::size_t count = mxGetM(args[0]);
    problem.dimension = static_cast<int>(mxGetN(args[0]));
    problem.patterns = rowsOf(mxGetPr(args[0]), count, mxGetN(args[0]));
    problem.labels.assign(mxGetPr(args[1]), mxGetPr(args[1]) + count);
    problem.p = mxGetScalar(args[2]);
    problem.rMax = mxGetScalar(args[3]);
    problem.margin = mxGetScalar(args[4]);
    problem.maxPresentations = static_cast<int>(mxGetScalar(args[5]));
    const std::string difference =
        differenceFromLiteral(problem, mxGetPr(r.outputs[0].get()), mxGetM(r.outputs[0].get()),
                              mxGetPr(r.outputs[1].get()), mxGetPr(r.outputs[2].get())[0]);
    require(difference.empty(), difference, r);
}

// The same training called directly with `plan`: the node set, the pass count and the FLOP
// tally must be the module's.
void checkWithPlan(const std::vector<const mxArray*>& args, const standin::CallResult& r,
                   const sphnet::SearchPlan& plan) {
    const int count = static_cast<int>(mxGetM(args[0]));
    sphnet::TrainingInput input;
    input.patternCount = count;
    input.dimension = static_cast<int>(mxGetN(args[0]));
    input.patterns = sphnet::RowView::columnMajor(mxGetPr(args[0]), count);
    input.labels = mxGetPr(args[1]);
    input.normType = mxGetScalar(args[2]);
    input.rMax = mxGetScalar(args[3]);
    input.margin = mxGetScalar(args[4]);
    input.maxPresentations = static_cast<int>(std::min(mxGetScalar(args[5]), 2147483647.0));
    input.oflag = static_cast<int>(mxGetScalar(args[6]));
    input.patternsFinite = true;
    input.plan = plan;
    standin::Scope scope;
    sphnet::TrainingOutput output;
    const sphnet::ProcedureStatus status = sphnet::learnPrototypes(input, output);
    const std::size_t k = static_cast<std::size_t>(output.nodeCount);
    const std::size_t values = k * (static_cast<std::size_t>(input.dimension) + 1);
    const bool same = status == sphnet::ProcedureStatus::Done && mxGetM(r.outputs[0].get()) == k &&
                      std::memcmp(output.nodeValues.get(), mxGetPr(r.outputs[0].get()),
                                  values * sizeof(double)) == 0 &&
                      std::memcmp(output.nodeLabels.get(), mxGetPr(r.outputs[1].get()),
                                  k * sizeof(double)) == 0 &&
                      output.presentations == mxGetPr(r.outputs[2].get())[0];
    output = sphnet::TrainingOutput();  // frees the nodes within the scope
    const standin::CallResult direct = scope.finish();
    require(same,
            "training with the plan \"" + sphnet::describeSearchPlan(plan) + "\" gives other nodes",
            direct);
    require(direct.flopsTally == r.flopsTally, "the plan changed the FLOP tally", direct);
}

// Calls sphnet_learn, checks the outcome, and compares a successful run with the literal
// trainer (generated sets) or with the same call at oflag 3, and with training under `plan`.
void callAndCheck(std::vector<const mxArray*>& args, int nlhs, const standin::CallOptions& options,
                  bool literal, const sphnet::SearchPlan& plan) {
    const standin::CallResult result = standin::call(mexFunction, nlhs, args, options);
    if (!checkCallOutcome("SPHNET_LEARN", options, result)) return;
    checkSuccess(args, nlhs, result);
    checkWithPlan(args, result, plan);
    if (literal) {
        compareWithLiteral(args, result);
        return;
    }

    // Verbosity changes the printing only. Level 3 takes the plain node-by-node scan, the
    // quieter levels may take a faster route: both must give the same node set, bit for bit.
    if (static_cast<int>(mxGetScalar(args[6])) == 3) return;
    const standin::Array loud = standin::scalar(3);
    args[6] = loud.get();
    const standin::CallResult plain = standin::call(mexFunction, nlhs, args);
    require(!plain.failed && plain.heapBlocksOutstanding == 0 && plain.faults.empty(),
            "the same call at oflag 3 failed", plain);
    for (std::size_t i = 0; i < 3; ++i) {
        const mxArray* a = result.outputs[i].get();
        const mxArray* b = plain.outputs[i].get();
        require(
            mxGetM(a) == mxGetM(b) && mxGetN(a) == mxGetN(b) &&
                std::memcmp(mxGetPr(a), mxGetPr(b), mxGetNumberOfElements(a) * sizeof(double)) == 0,
            "output " + std::to_string(i + 1) + " differs between oflag levels", plain);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<standin::Array> owned;
    // A quarter of the runs train on a generated set, well formed and large enough for the
    // blocked scans; the rest spell every argument out.
    const int route = in.ConsumeIntegralInRange<int>(0, 31);
    if (route >= 1 && route <= 8) {
        const standin::CallOptions options = makeCallOptions(in);
        generatedArguments(in, owned);
        std::vector<const mxArray*> args = pointers(owned, 7);
        // Drawn last, so that inputs kept from before there was a plan decode as they did.
        const sphnet::SearchPlan plan = sphnet_testing::drawSearchPlan(in);
        callAndCheck(args, 3, options, true, plan);
        return 0;
    }
    // Now and then a set large enough for training to grow its node grid (64 nodes and more).
    const bool large = route == 0;
    if (large) tameSource().seed(in.ConsumeIntegral<std::uint64_t>());
    const mwSize patternCount = large ? in.ConsumeIntegralInRange<mwSize>(64, 120)
                                      : in.ConsumeIntegralInRange<mwSize>(0, 10);
    const mwSize dimension =
        large ? in.ConsumeIntegralInRange<mwSize>(1, 3) : in.ConsumeIntegralInRange<mwSize>(0, 5);
    const int nrhs = makeCount(in, 7);
    const int nlhs = makeCount(in, 3);
    const standin::CallOptions options = makeCallOptions(in);

    owned.push_back(makeArgument(in, patternCount, dimension, large ? tameValue : anyValue));
    const auto labels = large ? tameLabel : labelValue;
    owned.push_back(makeLabelsArgument(in, patternCount, labels));
    owned.push_back(makeScalarArgument(in, normValue));
    owned.push_back(makeScalarArgument(in, smallNonNegative));
    owned.push_back(makeScalarArgument(in, smallNonNegative));
    owned.push_back(makeScalarArgument(in, anyValue));
    const mwSize presented = mxGetDimensions(owned[0].get())[0];
    if (presented > 0) boundPassLimit(owned.back().get(), presented > 10 ? 2 : 6);
    owned.push_back(makeScalarArgument(in, verbosity));
    while (static_cast<int>(owned.size()) < nrhs) owned.push_back(makeScalarArgument(in, anyValue));

    std::vector<const mxArray*> args = pointers(owned, nrhs);
    const sphnet::SearchPlan plan = sphnet_testing::drawSearchPlan(in);
    callAndCheck(args, nlhs, options, false, plan);
    return 0;
}
