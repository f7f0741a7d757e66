// libFuzzer driver for the Python extension's check-and-call layer (python/src/core_calls.*),
// playing the part of its pybind11 wrapper: the input describes each argument as NumPy would hand
// it over (not an array, wrong dimensions, not numeric, C or Fortran order, sliced, reversed or
// broadcast steps, shapes past the int range) with values, settings and a search plan, and
// sometimes a refused allocation or an interrupt. Any call must end in success, a documented
// ValueError text or a reported procedure failure, with nothing left allocated; a successful one
// must have had valid arguments and give the literal algorithm's outputs.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core_calls.h"
#include "fuzz_arguments.h"
#include "fuzz_checks.h"
#include "literal_checks.h"
#include "search_plan_draw.h"

using namespace sphnet_fuzz;
using sphnet_python::TableArgument;
using sphnet_python::VectorArgument;

namespace {

// The texts the module raises as ValueError; %d is a whole number.
const char* const kMessages[] = {"patterns must be a 2-D array",
                                 "patterns must hold real numbers",
                                 "patterns is too large",
                                 "patterns must not contain NaN or Inf",
                                 "start_nodes must be a 2-D array",
                                 "start_nodes must hold real numbers",
                                 "start_nodes is too large",
                                 "start_nodes must have %d columns: centre, radius",
                                 "start_nodes must be finite",
                                 "nodes must be a 2-D array",
                                 "nodes must hold real numbers",
                                 "nodes is too large",
                                 "nodes must have a column for the radius",
                                 "nodes must not contain NaN",
                                 "nodes must have finite centres",
                                 "patterns must have %d columns, as the nodes' centres",
                                 "unknown_label must lie within the 32-bit integer range",
                                 "labels must be a 1-D array of numbers",
                                 "labels must hold %d values, one per row",
                                 "labels must lie within the 32-bit integer range",
                                 "start_labels must be a 1-D array of numbers",
                                 "start_labels must hold %d values, one per row",
                                 "start_labels must lie within the 32-bit integer range",
                                 "node_labels must be a 1-D array of numbers",
                                 "node_labels must hold %d values, one per row",
                                 "node_labels must lie within the 32-bit integer range",
                                 "norm must be >= 1 (or inf)",
                                 "rmax must be non-negative",
                                 "margin must be finite and non-negative",
                                 "max_passes must be >= 1",
                                 "verbosity must be 0, 1, 2 or 3",
                                 "plan must be a search plan text"};

bool documented(const std::string& text) {
    for (const char* format : kMessages) {
        if (sphnet_testing::DocumentedMessages::matches(format, text)) return true;
    }
    return false;
}

// Values of a spelled-out table: quarters as a rule, so that calls get past the checks, and now
// and then anything (non-finite, huge, any bit pattern).
double tableValue(FuzzedDataProvider& in) {
    return in.ConsumeIntegralInRange<int>(0, 15) == 0
               ? anyValue(in)
               : in.ConsumeIntegralInRange<int>(-12, 12) * 0.25;
}

// A table argument and the values behind it, laid out at the steps its description gives.
struct Table {
    std::vector<double> storage;
    TableArgument argument;
    // Value (r, c), as the layer reads it.
    double at(std::int64_t r, std::int64_t c) const {
        const auto* base = reinterpret_cast<const char*>(argument.data);
        double v;
        __builtin_memcpy(&v, base + r * argument.rowStride + c * argument.columnStride, sizeof v);
        return v;
    }
};

// Rows x cols values at element steps (rowStep, colStep) from the first one; a negative step
// runs backwards, as a reversed NumPy slice does, and a zero step repeats, as a broadcast does.
void layOut(FuzzedDataProvider& in, Table& t, std::int64_t rows, std::int64_t cols,
            std::int64_t rowStep, std::int64_t colStep, double (*value)(FuzzedDataProvider&)) {
    std::int64_t low = 0, high = 0;
    for (std::int64_t corner : {(rows - 1) * rowStep, (cols - 1) * colStep,
                                (rows - 1) * rowStep + (cols - 1) * colStep}) {
        low = std::min(low, corner);
        high = std::max(high, corner);
    }
    t.storage.assign(rows > 0 && cols > 0 ? static_cast<std::size_t>(high - low + 1) : 1, 0.0);
    const std::int64_t first = -low;
    for (std::int64_t r = 0; r < rows; ++r) {
        for (std::int64_t c = 0; c < cols; ++c)
            t.storage[static_cast<std::size_t>(first + r * rowStep + c * colStep)] = value(in);
    }
    TableArgument& a = t.argument;
    a.isArray = true;
    a.dimensions = 2;
    a.numeric = true;
    a.data = t.storage.data() + first;
    a.rows = rows;
    a.columns = cols;
    a.rowStride = rowStep * static_cast<std::int64_t>(sizeof(double));
    a.columnStride = colStep * static_cast<std::int64_t>(sizeof(double));
}

// Column-major `values` as a rows x cols table in Fortran or C order.
Table tableOf(const std::vector<double>& values, std::int64_t rows, std::int64_t cols,
              bool fortran) {
    Table t;
    FuzzedDataProvider none(nullptr, 0);
    const std::int64_t rowStep = fortran ? 1 : cols, colStep = fortran ? rows : 1;
    layOut(none, t, rows, cols, rowStep, colStep, [](FuzzedDataProvider&) { return 0.0; });
    for (std::int64_t r = 0; r < rows; ++r) {
        for (std::int64_t c = 0; c < cols; ++c)
            t.storage[static_cast<std::size_t>(r * rowStep + c * colStep)] =
                values[static_cast<std::size_t>(c * rows + r)];
    }
    return t;
}

// Meant to be rows x cols: usually so, in one of the layouts NumPy hands over; else malformed.
Table makeTable(FuzzedDataProvider& in, std::int64_t rows, std::int64_t cols,
                double (*value)(FuzzedDataProvider&)) {
    Table t;
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 8:  // Fortran order
            layOut(in, t, rows, cols, 1, rows, value);
            break;
        case 9:  // every other row of a larger array
            layOut(in, t, rows, cols, 2 * cols, 1, value);
            break;
        case 10:  // every third column
            layOut(in, t, rows, cols, 3 * cols, 3, value);
            break;
        case 11:  // rows reversed
            layOut(in, t, rows, cols, -cols, 1, value);
            break;
        case 12:  // one row broadcast to all
            layOut(in, t, rows, cols, 0, 1, value);
            break;
        case 13: {  // not an array, another number of dimensions, or values NumPy cannot make
                    // float64
            t.argument.isArray = in.ConsumeBool();
            t.argument.dimensions = in.ConsumeIntegralInRange<int>(0, 3);
            t.argument.numeric = false;
            break;
        }
        case 14:  // shapes at and past the int range, with no values behind them
            layOut(in, t, 0, 0, 1, 1, value);
            if (in.ConsumeBool())
                t.argument.columns = static_cast<std::int64_t>(hugeDimension(in));
            else  // only past the int range: a valid call over 2^31 rows would need gigabytes
                t.argument.rows = std::int64_t{INT_MAX} +
                                  in.ConsumeIntegralInRange<std::int64_t>(1, std::int64_t{1} << 33);
            break;
        case 15:  // a shape that disagrees with the rest of the call
        {
            const std::int64_t r = in.ConsumeIntegralInRange<int>(0, 5),
                               c = in.ConsumeIntegralInRange<int>(0, 5);
            layOut(in, t, r, c, c, 1, value);
            break;
        }
        default:  // C order
            layOut(in, t, rows, cols, cols, 1, value);
            break;
    }
    return t;
}

struct Vector {
    std::vector<double> storage;
    VectorArgument argument;
};

// A well-formed vector of `values`.
Vector vectorOf(std::vector<double> values) {
    Vector v;
    v.storage = std::move(values);
    v.argument.isArray = true;
    v.argument.dimensions = 1;
    v.argument.count = static_cast<std::int64_t>(v.storage.size());
    v.argument.data = v.storage.empty() ? nullptr : v.storage.data();
    return v;
}

Vector makeVector(FuzzedDataProvider& in, std::int64_t count,
                  double (*value)(FuzzedDataProvider&)) {
    const int mode = in.ConsumeIntegralInRange<int>(0, 15);
    if (mode == 15) {
        Vector v;
        v.argument.isArray = in.ConsumeBool();
        v.argument.dimensions = in.ConsumeIntegralInRange<int>(0, 3);
        return v;
    }
    if (mode == 14) count = in.ConsumeIntegralInRange<int>(0, 5);
    std::vector<double> values(static_cast<std::size_t>(count));
    for (double& x : values) x = value(in);
    return vectorOf(std::move(values));
}

// What the checks must have accepted, from the description alone.
bool tableValid(const TableArgument& t) {
    return t.isArray && t.dimensions == 2 && t.numeric && t.rows <= INT_MAX &&
           t.columns <= INT_MAX - 1;
}

bool valuesFinite(const Table& t, std::int64_t columns, bool nanOnly) {
    for (std::int64_t r = 0; r < t.argument.rows; ++r) {
        for (std::int64_t c = 0; c < columns; ++c) {
            const double v = t.at(r, c);
            if (nanOnly ? std::isnan(v) : !std::isfinite(v)) return false;
        }
    }
    return true;
}

bool labelsValid(const VectorArgument& v, std::int64_t count) {
    if (!v.given) return count == 0;
    if (!v.isArray || v.dimensions != 1 || v.count != count) return false;
    for (std::int64_t i = 0; i < count; ++i) {
        if (!(v.data[i] > -2147483649.0 && v.data[i] < 2147483648.0)) return false;
    }
    return true;
}

bool planValid(const std::string& text) {
    sphnet::SearchPlan plan;
    return sphnet::parseSearchPlan(text, plan);
}

std::string planText(FuzzedDataProvider& in) {
    static const char* const malformed[] = {
        "cover",         "cover=bogus", "isa=avx2,threads=three",
        "census=Panels", "=plain",      "threads=two;"};
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
            return malformed[in.ConsumeIntegralInRange<std::size_t>(0, std::size(malformed) - 1)];
        case 1:
            return "";
        default:
            return sphnet::describeSearchPlan(sphnet_testing::drawSearchPlan(in));
    }
}

std::vector<std::vector<double>> rowsOfTable(const Table& t, std::int64_t width) {
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(t.argument.rows),
                                          std::vector<double>(width));
    for (std::int64_t r = 0; r < t.argument.rows; ++r) {
        for (std::int64_t c = 0; c < width; ++c) rows[r][c] = t.at(r, c);
    }
    return rows;
}

// Ends a call's host scope and checks what every call must satisfy.
void checkHost(standin::Scope& scope, const standin::CallOptions& options,
               sphnet::ProcedureStatus status, bool threw) {
    standin::CallResult r = scope.finish();
    r.failed = status != sphnet::ProcedureStatus::Done;
    require(r.faults.empty(), "the call misused the host interface", r);
    require(r.heapBlocksOutstanding == 0, "heap blocks leaked", r);
    require(r.hostBlocksReclaimed == 0, "host blocks left for the host to free", r);
    require(!threw || r.allocationAttempts == 0, "an argument error after the procedure had begun",
            r);
    // Here the procedures return their status (the module raises it): a poll that answered yes
    // shows as more polls than the interrupt waited for.
    const bool interruptSeen =
        options.interruptAfterPolls >= 0 && r.interruptPolls > options.interruptAfterPolls;
    if (!r.failed)
        require(!allocationWasRefused(options, r) && !interruptSeen,
                "a refused allocation or an interrupt ended in success", r);
    if (status == sphnet::ProcedureStatus::OutOfMemory)
        require(allocationWasRefused(options, r), "out of memory with memory to spare", r);
    if (status == sphnet::ProcedureStatus::Interrupted)
        require(interruptSeen, "an interrupt reported without one", r);
}

// Ends the call's host scope as checkHost does and checks a refusal's message; true when the
// call gave results to compare.
bool endedWithResults(standin::Scope& scope, const standin::CallOptions& options,
                      sphnet::ProcedureStatus status, bool threw, const std::string& message) {
    checkHost(scope, options, status, threw);
    standin::CallResult none;
    none.error = message;
    if (threw) require(documented(message), "undocumented message", none);
    return !threw && status == sphnet::ProcedureStatus::Done;
}

struct Call {
    standin::CallOptions options;
    std::vector<Table> tables;
    std::vector<Vector> vectors;
};

void training(FuzzedDataProvider& in, bool generated, Call& call) {
    sphnet_python::TrainingArguments a;
    std::int64_t count = 0, n = 0;
    if (generated) {
        SetGenerator set(in, 4, 300, true);
        n = set.dimension();
        count =
            static_cast<std::int64_t>(boundedCount(in, 16, 600, static_cast<double>(n), 4000.0));
        std::vector<double> values, labels;
        set.fill(static_cast<std::size_t>(count), 1.0, values, labels);
        // C order or Fortran order, as NumPy hands over a DataFrame's values or a matrix.
        const bool fortran = in.ConsumeBool();
        call.tables.push_back(tableOf(values, count, n, fortran));
        call.vectors.push_back(vectorOf(labels));
        static const double radii[] = {0.0, 0x1p-30, 0.25, 1.0, 4.0, 16.0};
        static const double margins[] = {0.0, 0.0, 0.25, 2.0};
        a.norm = generatedNorm(in);
        a.rmax =
            set.reach() * radii[in.ConsumeIntegralInRange<std::size_t>(0, std::size(radii) - 1)];
        a.margin = set.reach() *
                   margins[in.ConsumeIntegralInRange<std::size_t>(0, std::size(margins) - 1)];
        a.maxPasses = in.ConsumeIntegralInRange<int>(1, 2);
        a.verbosity = in.ConsumeIntegralInRange<int>(0, 1);
        a.startNodes.given = false;
        a.startLabels.given = false;
    } else {
        count = in.ConsumeIntegralInRange<int>(0, 10);
        n = in.ConsumeIntegralInRange<int>(0, 5);
        call.tables.push_back(makeTable(in, count, n, tableValue));
        call.vectors.push_back(makeVector(in, count, labelValue));
        a.norm = in.ConsumeBool() ? generatedNorm(in) : anyValue(in);
        a.rmax = anyValue(in);
        a.margin = in.ConsumeBool() ? 0.0 : anyValue(in);
        a.maxPasses = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(1, count > 0 ? 4 : INT_MAX)
                                       : in.ConsumeIntegralInRange<int>(INT_MIN, 1);
        a.verbosity =
            in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 3) : in.ConsumeIntegral<int>();
        const std::int64_t starts = in.ConsumeIntegralInRange<int>(0, 6);
        a.startNodes.given = in.ConsumeBool();
        if (a.startNodes.given) call.tables.push_back(makeTable(in, starts, n + 1, tableValue));
        a.startLabels.given = in.ConsumeBool();
        if (a.startLabels.given) call.vectors.push_back(makeVector(in, starts, labelValue));
    }
    a.patterns = call.tables[0].argument;
    a.labels = call.vectors[0].argument;
    if (a.startNodes.given) a.startNodes = call.tables[1].argument;
    if (a.startLabels.given) a.startLabels = call.vectors[1].argument;
    a.plan = planText(in);

    standin::Scope scope(call.options);
    sphnet::ProcedureStatus status = sphnet::ProcedureStatus::Done;
    bool threw = false;
    std::string message;
    std::vector<double> nodes, nodeLabels;
    std::size_t k = 0;
    double presentations = 0;
    bool converged = false;
    {
        sphnet::TrainingOutput trained;
        try {
            const sphnet::TrainingInput input = sphnet_python::checkTraining(a);
            status = sphnet::learnPrototypes(input, trained);
        } catch (const std::invalid_argument& e) {
            threw = true;
            message = e.what();
        }
        if (!threw && status == sphnet::ProcedureStatus::Done) {
            const sphnet::TrainingOutput& out = trained;
            // A malformed table may be accepted with another width than the one meant.
            n = a.patterns.columns;
            k = static_cast<std::size_t>(out.nodeCount);
            nodes.assign(out.nodeValues.get(),
                         out.nodeValues.get() + k * static_cast<std::size_t>(n + 1));
            nodeLabels.assign(out.nodeLabels.get(), out.nodeLabels.get() + k);
            presentations = out.presentations;
            converged = out.converged;
        }
    }
    if (!endedWithResults(scope, call.options, status, threw, message)) return;
    standin::CallResult none;

    const Table& patterns = call.tables[0];
    const Table* start = a.startNodes.given ? &call.tables[1] : nullptr;
    const std::int64_t starts = start != nullptr ? start->argument.rows : 0;
    require(tableValid(a.patterns) && valuesFinite(patterns, n, false) &&
                labelsValid(a.labels, count) &&
                (start == nullptr || (tableValid(a.startNodes) && a.startNodes.columns == n + 1 &&
                                      valuesFinite(*start, n + 1, false))) &&
                labelsValid(a.startLabels, starts) && a.norm >= 1 && a.rmax >= 0 && a.margin >= 0 &&
                std::isfinite(a.margin) && a.maxPasses >= 1 && a.verbosity >= 0 &&
                a.verbosity <= 3 && planValid(a.plan),
            "invalid arguments were accepted", none);
    require(converged == (presentations < a.maxPasses),
            "converged does not follow from the pass count", none);
    if (static_cast<double>(count) * static_cast<double>(k) * static_cast<double>(n + 1) *
                std::min(a.maxPasses, 2) >
            1e7 ||
        a.maxPasses > 50)
        return;
    reference::TrainingProblem problem;
    problem.dimension = static_cast<int>(n);
    problem.patterns = rowsOfTable(patterns, n);
    problem.labels.assign(a.labels.data, a.labels.data + count);
    problem.p = a.norm;
    problem.rMax = a.rmax;
    problem.margin = a.margin;
    problem.maxPresentations = a.maxPasses;
    if (starts > 0) {
        problem.startNodes = rowsOfTable(*start, n + 1);
        problem.startLabels.assign(a.startLabels.data, a.startLabels.data + starts);
    }
    const std::string difference =
        differenceFromLiteral(problem, nodes.data(), k, nodeLabels.data(), presentations);
    require(difference.empty(), difference, none);
}

void recall(FuzzedDataProvider& in, bool generated, Call& call) {
    sphnet_python::RecallArguments a;
    std::int64_t m = 0, n = 0, count = 0;
    if (generated) {
        SetGenerator set(in, 4, 300, true);
        n = set.dimension();
        m = static_cast<std::int64_t>(boundedCount(in, 64, 3000, static_cast<double>(n), 3e5));
        count =
            static_cast<std::int64_t>(boundedCount(in, 1, 256, static_cast<double>(m * n), 6e5));
        std::vector<double> centres, labels, patterns, unused;
        set.fill(static_cast<std::size_t>(m), 1.0, centres, labels);
        set.fill(static_cast<std::size_t>(count), in.ConsumeBool() ? 1.0 : 3.0, patterns, unused);
        static const double widths[] = {0x1p-30, 0.25, 1.0, 2.0, 4.0};
        const double width =
            set.reach() * widths[in.ConsumeIntegralInRange<std::size_t>(0, std::size(widths) - 1)];
        for (std::int64_t j = 0; j < m; ++j) centres.push_back(width * set.uniform());
        call.tables.push_back(tableOf(centres, m, n + 1, true));  // Fortran order
        call.tables.push_back(tableOf(patterns, count, n, true));
        call.vectors.push_back(vectorOf(labels));
        a.norm = generatedNorm(in);
        a.unknownLabel = -1;
        a.nearest = in.ConsumeBool();
    } else {
        m = in.ConsumeIntegralInRange<int>(0, 8);
        n = in.ConsumeIntegralInRange<int>(0, 4);
        count = in.ConsumeIntegralInRange<int>(0, 8);
        call.tables.push_back(makeTable(in, m, n + 1, tableValue));
        call.tables.push_back(makeTable(in, count, n, tableValue));
        call.vectors.push_back(makeVector(in, m, labelValue));
        a.norm = in.ConsumeBool() ? generatedNorm(in) : anyValue(in);
        a.unknownLabel = in.ConsumeBool() ? -1 : anyValue(in);
        a.nearest = in.ConsumeBool();
    }
    a.nodes = call.tables[0].argument;
    a.patterns = call.tables[1].argument;
    a.nodeLabels = call.vectors[0].argument;
    a.verbosity = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, generated ? 0 : 3)
                                   : in.ConsumeIntegral<int>();
    const bool withInfo = in.ConsumeBool();
    a.plan = planText(in);

    standin::Scope scope(call.options);
    sphnet::ProcedureStatus status = sphnet::ProcedureStatus::Done;
    bool threw = false;
    std::string message;
    std::vector<double> labels, info[4];
    {
        sphnet::HostBlock<double> recalled;
        try {
            const sphnet::RecallInput input = sphnet_python::checkRecall(a);
            for (std::vector<double>& field : info)
                field.assign(static_cast<std::size_t>(input.patternCount), -7.0);
            const sphnet::RecallInfo wanted{info[0].data(), info[1].data(), info[2].data(),
                                            info[3].data()};
            status = sphnet::classifyPatterns(input, recalled, withInfo ? &wanted : nullptr);
            if (status == sphnet::ProcedureStatus::Done)
                labels.assign(recalled.get(), recalled.get() + input.patternCount);
        } catch (const std::invalid_argument& e) {
            threw = true;
            message = e.what();
        }
    }
    if (!endedWithResults(scope, call.options, status, threw, message)) return;
    standin::CallResult none;
    const Table& nodes = call.tables[0];
    const Table& patterns = call.tables[1];
    require(tableValid(a.nodes) && a.nodes.columns >= 1, "invalid nodes were accepted", none);
    n = a.nodes.columns - 1;
    m = a.nodes.rows;
    count = a.patterns.rows;
    require(valuesFinite(nodes, n, false) && valuesFinite(nodes, n + 1, true) &&
                labelsValid(a.nodeLabels, m) && tableValid(a.patterns) && a.patterns.columns == n &&
                valuesFinite(patterns, n, false) && a.unknownLabel > -2147483649.0 &&
                a.unknownLabel < 2147483648.0 && a.norm >= 1 && a.verbosity >= 0 &&
                a.verbosity <= 3 && planValid(a.plan),
            "invalid arguments were accepted", none);
    if (static_cast<double>(m) * static_cast<double>(count) * static_cast<double>(n + 1) > 4e6)
        return;
    reference::RecallProblem problem;
    problem.dimension = static_cast<int>(n);
    problem.templates = rowsOfTable(nodes, n + 1);
    if (m > 0) problem.nodeLabels.assign(a.nodeLabels.data, a.nodeLabels.data + m);
    problem.p = a.norm;
    problem.patterns = rowsOfTable(patterns, n);
    problem.unknownLabel = static_cast<int>(a.unknownLabel);
    problem.nnOption = a.nearest ? 1 : 0;
    const double* fields[4] = {info[0].data(), info[1].data(), info[2].data(), info[3].data()};
    const std::string difference =
        differenceFromLiteral(problem, labels.data(), withInfo ? fields : nullptr);
    require(difference.empty(), difference, none);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int route = in.ConsumeIntegralInRange<int>(0, 7);
    Call call;
    call.options = makeCallOptions(in);
    if (route % 2 == 1)
        training(in, route >= 6, call);  // a quarter of the runs: generated sets, past the checks
    else
        recall(in, route >= 6, call);
    return 0;
}
