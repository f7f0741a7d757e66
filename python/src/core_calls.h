// The checks behind sphnet._core, free of pybind11 so that tests can drive them without an
// interpreter. The module (core_module.cpp) turns Python objects into the plain descriptions
// below, runs the procedures with the interpreter lock released (they share no mutable state, so
// calls on several threads run at once), and turns the results into NumPy arrays. A bad argument
// throws std::invalid_argument, which the module raises as ValueError with the same text.
#pragma once

#include <cstdint>
#include <string>

#include "classify_patterns.h"
#include "learn_prototypes.h"
#include "row_view.h"

namespace sphnet_python {

// An argument the module meant as a 2-D table of numbers.
struct TableArgument {
    bool given = true;     // false: None, where that means "none" (start_nodes)
    bool isArray = false;  // NumPy could make an array of it
    int dimensions = 0;    // of that array
    bool numeric = false;  // its values are float64 at whole-value steps (in place or copied)
    const double* data = nullptr;
    std::int64_t rows = 0;
    std::int64_t columns = 0;
    std::int64_t rowStride = 0;     // bytes
    std::int64_t columnStride = 0;  // bytes
};

// An argument the module meant as a vector of numbers: C-ordered float64, or not an array.
struct VectorArgument {
    bool given = true;     // false: None (start_labels), an empty vector
    bool isArray = false;  // NumPy could make a float64 array of it
    int dimensions = 0;
    const double* data = nullptr;
    std::int64_t count = 0;
};

struct TrainingArguments {
    TableArgument patterns;
    VectorArgument labels;
    double norm = 2.0;
    double rmax = 1.0;
    double margin = 0.0;
    int maxPasses = 1;
    int verbosity = 0;
    TableArgument startNodes;
    VectorArgument startLabels;
    std::string plan;  // a search plan text (search_plan.h) for tests; "" lets the engine choose
};

struct RecallArguments {
    TableArgument nodes;
    VectorArgument nodeLabels;
    double norm = 2.0;
    TableArgument patterns;
    double unknownLabel = 0;
    bool nearest = true;
    int verbosity = 0;
    std::string plan;
};

// Patterns whose statistics a model takes (model_statistics.h), checked as training's are.
struct StatisticsInput {
    sphnet::RowView patterns;
    int patternCount = 0;
    int dimension = 0;
    double normType = 2.0;
};

// Checks every argument in the order the module always has, and builds the procedure's input.
// The input reads the arguments' data in place: they must outlive it.
sphnet::TrainingInput checkTraining(const TrainingArguments& arguments);
sphnet::RecallInput checkRecall(const RecallArguments& arguments);
StatisticsInput checkStatistics(const TableArgument& patterns, double norm);

}  // namespace sphnet_python
