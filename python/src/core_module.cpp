// sphnet._core: training and recall for Python. Describe the arguments for core_calls (which
// checks them and builds the procedures' input), call the procedures with the interpreter lock
// released, convert back. Bad input raises ValueError; a failed procedure
// raises MemoryError or, after Ctrl-C, KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "core_calls.h"
#include "mex_host.h"
#include "model_statistics.h"

namespace py = pybind11;
using namespace sphnet;
using namespace sphnet_python;

namespace {

using CArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A 2-D argument as core_calls reads it: in place wherever the array holds native float64 at
// whole-value steps (C or Fortran order, slices), else from one C-ordered float64 copy, which
// `keep` holds while the call reads it.
TableArgument tableArgument(py::handle object, py::array& keep) {
    TableArgument table;
    keep = py::array::ensure(object);
    table.isArray = static_cast<bool>(keep);
    if (!table.isArray) return table;
    table.dimensions = static_cast<int>(keep.ndim());
    if (table.dimensions != 2) return table;
    constexpr auto kValue = static_cast<py::ssize_t>(sizeof(double));
    const bool inPlace = py::array_t<double>::check_(keep) &&  // native-order float64
                         reinterpret_cast<std::uintptr_t>(keep.data()) % alignof(double) == 0 &&
                         keep.strides(0) % kValue == 0 && keep.strides(1) % kValue == 0;
    if (!inPlace) {
        keep = CArray::ensure(keep);
        if (!keep) return table;
    }
    table.numeric = true;
    table.data = static_cast<const double*>(keep.data());
    table.rows = keep.shape(0);
    table.columns = keep.shape(1);
    table.rowStride = keep.strides(0);
    table.columnStride = keep.strides(1);
    return table;
}

// A 1-D argument as core_calls reads it: a C-ordered float64 array that `keep` holds.
VectorArgument vectorArgument(py::handle object, CArray& keep) {
    VectorArgument vector;
    keep = CArray::ensure(object);
    vector.isArray = static_cast<bool>(keep);
    if (!vector.isArray) return vector;
    vector.dimensions = static_cast<int>(keep.ndim());
    vector.data = keep.data();
    vector.count = vector.dimensions == 1 ? keep.shape(0) : 0;
    return vector;
}

// Raises the exception for a procedure that did not finish; the procedure has released
// everything it held.
void raiseUnlessDone(ProcedureStatus status) {
    if (status == ProcedureStatus::Done) return;
    if (status == ProcedureStatus::Interrupted)
        hostRaiseInterrupt("sphnet:interrupted", "Interrupted by the user.");
    PyErr_SetString(PyExc_MemoryError, "sphnet: Not enough memory available; unable to run!");
    throw py::error_already_set();
}

// `plan` (a search plan text, search_plan.h) forces the structures the procedures search with;
// tests use it, users have no need to.
py::tuple learn(py::handle patterns, py::handle labels, double norm, double rmax, double margin,
                int maxPasses, int verbosity, py::handle startNodes, py::handle startLabels,
                const std::string& plan) {
    py::array patternArray, startArray;
    CArray labelArray, startLabelArray;
    TrainingArguments arguments;
    arguments.patterns = tableArgument(patterns, patternArray);
    arguments.labels = vectorArgument(labels, labelArray);
    arguments.norm = norm;
    arguments.rmax = rmax;
    arguments.margin = margin;
    arguments.maxPasses = maxPasses;
    arguments.verbosity = verbosity;
    arguments.startNodes.given = !startNodes.is_none();
    if (arguments.startNodes.given) arguments.startNodes = tableArgument(startNodes, startArray);
    arguments.startLabels.given = !startLabels.is_none();
    if (arguments.startLabels.given)
        arguments.startLabels = vectorArgument(startLabels, startLabelArray);
    arguments.plan = plan;
    const TrainingInput input = checkTraining(arguments);

    TrainingOutput out;
    ProcedureStatus status;
    {
        py::gil_scoped_release unlocked;
        status = learnPrototypes(input, out);
    }
    raiseUnlessDone(status);

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
py::array_t<double> adoptLabels(HostBlock<double>& labels, int count) {
    py::capsule owner(labels.get(), [](void* block) { mxFree(block); });
    double* values = labels.take();
    return py::array_t<double>(static_cast<py::ssize_t>(count), values, owner);
}

py::object recall(py::handle nodes, py::handle nodeLabels, double norm, py::handle patterns,
                  double unknownLabel, bool nearest, int verbosity, bool withInfo,
                  const std::string& plan) {
    py::array nodeArray, patternArray;
    CArray labelArray;
    RecallArguments arguments;
    arguments.nodes = tableArgument(nodes, nodeArray);
    arguments.nodeLabels = vectorArgument(nodeLabels, labelArray);
    arguments.norm = norm;
    arguments.patterns = tableArgument(patterns, patternArray);
    arguments.unknownLabel = unknownLabel;
    arguments.nearest = nearest;
    arguments.verbosity = verbosity;
    arguments.plan = plan;
    const RecallInput input = checkRecall(arguments);

    const char* const infoNames[] = {"node", "distance", "cover_count", "labels_disagree"};
    py::dict result;
    RecallInfo info{nullptr, nullptr, nullptr, nullptr};
    double** infoSlots[] = {&info.decidingNode, &info.distance, &info.coverCount,
                            &info.labelsDisagree};
    for (int i = 0; withInfo && i < 4; ++i) {
        py::array_t<double> values(static_cast<py::ssize_t>(input.patternCount));
        *infoSlots[i] = values.mutable_data();
        result[infoNames[i]] = values;
    }
    HostBlock<double> recalled;
    ProcedureStatus status;
    {
        py::gil_scoped_release unlocked;
        status = classifyPatterns(input, recalled, withInfo ? &info : nullptr);
    }
    raiseUnlessDone(status);
    py::array_t<double> labels = adoptLabels(recalled, input.patternCount);
    if (!withInfo) return std::move(labels);
    result["label"] = labels;
    return std::move(result);
}

// The columns' means and scales for z-scores and, with typical=True, what the automatic Rmax
// measures (model_statistics.h): the arithmetic sphnet_fit runs through sphnet_engine.
py::tuple statistics(py::handle patterns, double norm, bool typical) {
    py::array keep;
    const StatisticsInput input = checkStatistics(tableArgument(patterns, keep), norm);
    py::array_t<double> mean(input.dimension), scale(input.dimension);
    double* meanValues = mean.mutable_data();
    double* scaleValues = scale.mutable_data();
    TypicalDistance measured;
    ProcedureStatus status = ProcedureStatus::Done;
    {
        py::gil_scoped_release unlocked;
        columnScaling(input.patterns, input.patternCount, input.dimension, meanValues, scaleValues);
        if (typical) {
            status = typicalDistance(input.patterns, input.patternCount, input.dimension,
                                     input.normType, measured);
        }
    }
    raiseUnlessDone(status);
    if (!typical) return py::make_tuple(mean, scale);
    return py::make_tuple(mean, scale, measured.rmax, measured.median, measured.spread);
}

}  // namespace

PYBIND11_MODULE(_core, module) {
    module.doc() = "RCE training and recall: the procedures behind sphnet.RCEClassifier";
    module.def("learn", &learn, py::arg("patterns"), py::arg("labels"), py::arg("norm"),
               py::arg("rmax"), py::arg("margin"), py::arg("max_passes"), py::arg("verbosity") = 0,
               py::arg("start_nodes") = py::none(), py::arg("start_labels") = py::none(),
               py::arg("plan") = "",
               "Trains on N x n patterns with N whole-number labels, going on from start_nodes "
               "(rows of centre and radius) with start_labels when given. Returns (nodes, "
               "node_labels, passes, converged): a row per node, start nodes first.");
    module.def("recall", &recall, py::arg("nodes"), py::arg("node_labels"), py::arg("norm"),
               py::arg("patterns"), py::arg("unknown_label") = 0, py::arg("nearest") = true,
               py::arg("verbosity") = 0, py::arg("info") = false, py::arg("plan") = "",
               "Labels each pattern with the first node covering it, else with the nearest node's "
               "label (nearest=True) or unknown_label. With info=True, a dict of arrays: label, "
               "node (1-based deciding node, 0: none), distance (NaN: none), cover_count and "
               "labels_disagree (1 where covering nodes differ in label).");
    module.def(
        "statistics", &statistics, py::arg("patterns"), py::arg("norm"), py::arg("typical") = false,
        "(mean, scale) of the columns of an N x n array, for z-scores; with typical=True also "
        "(rmax, median, spread), what the automatic Rmax measures of the rows as given.");
}
