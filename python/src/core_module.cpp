// sphnet._core: training and recall for Python. Check, convert, call the procedures with the
// interpreter lock released, convert back. Bad input raises ValueError; a failed procedure
// raises MemoryError or, after Ctrl-C, KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "classify_patterns.h"
#include "learn_prototypes.h"
#include "mex_host.h"

namespace py = pybind11;
using namespace sphnet;

namespace {

using CArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The procedures keep their settings and counters in module-wide variables, so calls from
// several Python threads take turns.
std::mutex procedureTurn;

[[noreturn]] void invalid(const std::string& message) { throw py::value_error(message); }

// The rows of a 2-D array as the procedures read them: in place wherever the array holds
// native float64 at whole-value steps (C or Fortran order, slices), else from one C-ordered
// float64 copy.
class ArrayRows {
public:
    ArrayRows(py::handle object, const char* name) {
        py::array array = py::array::ensure(object);
        if (!array || array.ndim() != 2) invalid(std::string(name) + " must be a 2-D array");
        if (!readableInPlace(array)) {
            array = CArray::ensure(array);
            if (!array) invalid(std::string(name) + " must hold real numbers");
        }
        array_ = array;
        if (array_.shape(0) > INT_MAX || array_.shape(1) > INT_MAX - 1) {
            invalid(std::string(name) + " is too large");
        }
        rowCount_ = static_cast<int>(array_.shape(0));
        columnCount_ = static_cast<int>(array_.shape(1));
        const auto* base = static_cast<const double*>(array_.data());
        // A single row or column may carry any stride: it is never stepped over.
        constexpr auto kValue = static_cast<py::ssize_t>(sizeof(double));
        const py::ssize_t rowStep = rowCount_ <= 1 ? columnCount_ : array_.strides(0) / kValue;
        const py::ssize_t colStep = columnCount_ <= 1 ? 1 : array_.strides(1) / kValue;
        view_ = RowView::strided(base, rowStep, colStep);
    }
    int rows() const { return rowCount_; }
    int columns() const { return columnCount_; }
    const RowView& view() const { return view_; }

    // True when no value in columns [0, columns) is NaN (and, with finiteOnly, none is infinite).
    bool all(int columns, bool finiteOnly) const {
        return view_.allValues(rowCount_, columns, [finiteOnly](int, double v) {
            return finiteOnly ? std::isfinite(v) : !std::isnan(v);
        });
    }

private:
    static bool readableInPlace(const py::array& array) {
        if (!py::array_t<double>::check_(array)) return false;  // native-order float64
        constexpr auto kValue = static_cast<py::ssize_t>(sizeof(double));
        return reinterpret_cast<std::uintptr_t>(array.data()) % alignof(double) == 0 &&
               array.strides(0) % kValue == 0 && array.strides(1) % kValue == 0;
    }

    py::array array_;  // keeps the values alive while the view reads them
    int rowCount_ = 0;
    int columnCount_ = 0;
    RowView view_;
};

// A vector of `count` labels, each a whole number within the 32-bit range after truncation.
CArray labelVector(py::handle object, py::ssize_t count, const char* name) {
    CArray labels = CArray::ensure(object);
    if (!labels || labels.ndim() != 1) invalid(std::string(name) + " must be a 1-D array of numbers");
    if (labels.shape(0) != count) {
        invalid(std::string(name) + " must hold " + std::to_string(count) + " values, one per row");
    }
    const double* values = labels.data();
    for (py::ssize_t i = 0; i < count; ++i) {
        if (!(values[i] > -2147483649.0 && values[i] < 2147483648.0)) {
            invalid(std::string(name) + " must lie within the 32-bit integer range");
        }
    }
    return labels;
}

double normOrder(double p) {
    if (!(p >= 1)) invalid("norm must be >= 1 (or inf)");
    return p;
}

int verbosityLevel(int verbosity) {
    if (verbosity < 0 || verbosity > 3) invalid("verbosity must be 0, 1, 2 or 3");
    return verbosity;
}

// Raises the exception for a procedure that did not finish; the procedure has released
// everything it held.
void raiseUnlessDone(ProcedureStatus status) {
    if (status == ProcedureStatus::Done) return;
    if (status == ProcedureStatus::Interrupted) hostRaiseInterrupt("sphnet:interrupted", "Interrupted by the user.");
    PyErr_SetString(PyExc_MemoryError, "sphnet: Not enough memory available; unable to run!");
    throw py::error_already_set();
}

// Runs a procedure with the interpreter lock released, one procedure at a time.
template <typename Procedure>
ProcedureStatus runUnlocked(Procedure procedure) {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> turn(procedureTurn);
    return procedure();
}

// The nodes training handed over, freed with their owner.
struct TrainedNodes {
    TrainingOutput output;
    TrainedNodes() = default;
    TrainedNodes(const TrainedNodes&) = delete;
    TrainedNodes& operator=(const TrainedNodes&) = delete;
    ~TrainedNodes() {
        mxFree(output.nodeValues);
        mxFree(output.nodeLabels);
    }
};

py::tuple learn(py::handle patterns, py::handle labels, double norm, double rmax, double margin,
                int maxPasses, int verbosity, py::handle startNodes, py::handle startLabels) {
    const ArrayRows rows(patterns, "patterns");
    if (!rows.all(rows.columns(), true)) invalid("patterns must not contain NaN or Inf");
    const CArray labelValues = labelVector(labels, rows.rows(), "labels");
    // No start nodes: an empty table of the patterns' width.
    const ArrayRows start(startNodes.is_none() ? py::array_t<double>(std::vector<py::ssize_t>{0, rows.columns() + 1}) : startNodes,
                          "start_nodes");
    if (start.columns() != rows.columns() + 1) {
        invalid("start_nodes must have " + std::to_string(rows.columns() + 1) + " columns: centre, radius");
    }
    if (!start.all(start.columns(), true)) invalid("start_nodes must be finite");
    const CArray startLabelValues = labelVector(
        startLabels.is_none() ? py::array_t<double>(0) : startLabels, start.rows(), "start_labels");
    TrainingInput input;
    input.patternCount = rows.rows();
    input.dimension = rows.columns();
    input.patterns = rows.view();
    input.labels = labelValues.data();
    input.normType = normOrder(norm);
    if (!(rmax >= 0)) invalid("rmax must be non-negative");
    input.rMax = rmax;
    if (!(margin >= 0) || std::isinf(margin)) invalid("margin must be finite and non-negative");
    input.margin = margin;
    if (maxPasses < 1) invalid("max_passes must be >= 1");
    input.maxPresentations = maxPasses;
    input.oflag = verbosityLevel(verbosity);
    input.patternsFinite = true;
    input.startNodeCount = start.rows();
    input.startRows = start.view();
    input.startLabels = startLabelValues.data();
    input.passLines = input.oflag >= 1;

    TrainedNodes trained;
    raiseUnlessDone(runUnlocked([&] { return learnPrototypes(input, trained.output); }));

    const TrainingOutput& out = trained.output;
    const py::ssize_t width = static_cast<py::ssize_t>(input.dimension) + 1;
    py::array_t<double> nodes({static_cast<py::ssize_t>(out.nodeCount), width});
    py::array_t<double> nodeLabels(out.nodeCount);
    for (int j = 0; j < out.nodeCount; ++j) {
        out.nodeRow(j, static_cast<int>(width), nodes.mutable_data(j));
        nodeLabels.mutable_data()[j] = out.nodeLabels[j];
    }
    return py::make_tuple(nodes, nodeLabels, out.presentations, out.converged);
}

// Labels from the host allocator, handed to an array that frees them with itself.
py::array_t<double> adoptLabels(double* labels, int count) {
    py::capsule owner(labels, [](void* block) { mxFree(block); });
    return py::array_t<double>(static_cast<py::ssize_t>(count), labels, owner);
}

py::object recall(py::handle nodes, py::handle nodeLabels, double norm, py::handle patterns,
                  double unknownLabel, bool nearest, int verbosity, bool withInfo) {
    const ArrayRows templates(nodes, "nodes");
    if (templates.columns() < 1) invalid("nodes must have a column for the radius");
    const int dimension = templates.columns() - 1;
    if (!templates.all(templates.columns(), false)) invalid("nodes must not contain NaN");
    if (!templates.all(dimension, true)) invalid("nodes must have finite centres");
    const CArray labelValues = labelVector(nodeLabels, templates.rows(), "node_labels");
    const ArrayRows rows(patterns, "patterns");
    if (rows.columns() != dimension) {
        invalid("patterns must have " + std::to_string(dimension) + " columns, as the nodes' centres");
    }
    if (!rows.all(dimension, true)) invalid("patterns must not contain NaN or Inf");
    if (!(unknownLabel > -2147483649.0 && unknownLabel < 2147483648.0)) {
        invalid("unknown_label must lie within the 32-bit integer range");
    }

    RecallInput input;
    input.nodeCount = templates.rows();
    input.dimension = dimension;
    input.templates = templates.view();
    input.nodeLabels = labelValues.data();
    input.normType = normOrder(norm);
    input.patternCount = rows.rows();
    input.patterns = rows.view();
    input.unknownLabel = static_cast<int>(unknownLabel);
    input.nnOption = nearest ? 1 : 0;
    input.oflag = verbosityLevel(verbosity);
    input.coordinatesFinite = true;

    const char* const infoNames[] = {"node", "distance", "cover_count", "labels_disagree"};
    py::dict result;
    RecallInfo info{nullptr, nullptr, nullptr, nullptr};
    double** infoSlots[] = {&info.decidingNode, &info.distance, &info.coverCount, &info.labelsDisagree};
    for (int i = 0; withInfo && i < 4; ++i) {
        py::array_t<double> values(static_cast<py::ssize_t>(input.patternCount));
        *infoSlots[i] = values.mutable_data();
        result[infoNames[i]] = values;
    }
    double* results = nullptr;
    raiseUnlessDone(runUnlocked([&] { return classifyPatterns(input, &results, withInfo ? &info : nullptr); }));
    py::array_t<double> labels = adoptLabels(results, input.patternCount);
    if (!withInfo) return std::move(labels);
    result["label"] = labels;
    return std::move(result);
}

// The C library's pow, element by element. NumPy's power may use vectorised approximations
// that differ from it in the last bit; Octave's .^ calls it.
py::array_t<double> libmPower(const CArray& base, double exponent) {
    py::array_t<double> result(base.request().shape);
    const double* in = base.data();
    double* out = result.mutable_data();
    for (py::ssize_t i = 0; i < base.size(); ++i) out[i] = std::pow(in[i], exponent);
    return result;
}

}  // namespace

PYBIND11_MODULE(_core, module) {
    module.doc() = "RCE training and recall: the procedures behind sphnet.RCEClassifier";
    module.def("learn", &learn, py::arg("patterns"), py::arg("labels"), py::arg("norm"), py::arg("rmax"),
               py::arg("margin"), py::arg("max_passes"), py::arg("verbosity") = 0,
               py::arg("start_nodes") = py::none(), py::arg("start_labels") = py::none(),
               "Trains on N x n patterns with N whole-number labels, going on from start_nodes "
               "(rows of centre and radius) with start_labels when given. Returns (nodes, "
               "node_labels, passes, converged): a row per node, start nodes first.");
    module.def("recall", &recall, py::arg("nodes"), py::arg("node_labels"), py::arg("norm"),
               py::arg("patterns"), py::arg("unknown_label") = 0, py::arg("nearest") = true,
               py::arg("verbosity") = 0, py::arg("info") = false,
               "Labels each pattern with the first node covering it, else with the nearest node's "
               "label (nearest=True) or unknown_label. With info=True, a dict of arrays: label, "
               "node (1-based deciding node, 0: none), distance (NaN: none), cover_count and "
               "labels_disagree (1 where covering nodes differ in label).");
    module.def("libm_power", &libmPower, py::arg("base"), py::arg("exponent"));
}
