#include "core_calls.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <stdexcept>

#include "arg_checks.h"
#include "mex_host.h"
#include "search_plan.h"

using namespace sphnet;

namespace sphnet_python {

namespace {

[[noreturn]] void invalid(const std::string& message) {
    throw std::invalid_argument(message);
}

// The rows of a 2-D table as the procedures read them, from its data at its steps.
class TableRows {
  public:
    TableRows(const TableArgument& table, const char* name) {
        if (!table.isArray || table.dimensions != 2)
            invalid(std::string(name) + " must be a 2-D array");
        if (!table.numeric) invalid(std::string(name) + " must hold real numbers");
        if (table.rows > INT_MAX || table.columns > INT_MAX - 1)
            invalid(std::string(name) + " is too large");
        rowCount_ = static_cast<int>(table.rows);
        columnCount_ = static_cast<int>(table.columns);
        // A single row or column may carry any stride: it is never stepped over.
        constexpr auto kValue = static_cast<std::int64_t>(sizeof(double));
        const std::int64_t rowStep = rowCount_ <= 1 ? columnCount_ : table.rowStride / kValue;
        const std::int64_t colStep = columnCount_ <= 1 ? 1 : table.columnStride / kValue;
        view_ = RowView::strided(table.data, static_cast<std::ptrdiff_t>(rowStep),
                                 static_cast<std::ptrdiff_t>(colStep));
    }
    int rows() const { return rowCount_; }
    int columns() const { return columnCount_; }
    const RowView& view() const { return view_; }

    // True when no value in columns [0, columns) is NaN (and, with finiteOnly, none is infinite).
    bool all(int columns, bool finiteOnly) const {
        if (columns == 0) return true;  // up to 2^31 empty rows: nothing to walk through
        return view_.allValues(rowCount_, columns, [finiteOnly](int, double v) {
            return finiteOnly ? std::isfinite(v) : !std::isnan(v);
        });
    }

  private:
    int rowCount_ = 0;
    int columnCount_ = 0;
    RowView view_;
};

// No start nodes: an empty table of `width` columns.
TableArgument emptyTable(std::int64_t width) {
    static const double none = 0.0;  // a view over no rows, yet not a null one
    TableArgument table;
    table.data = &none;
    table.isArray = true;
    table.dimensions = 2;
    table.numeric = true;
    table.columns = width;
    table.rowStride = width * static_cast<std::int64_t>(sizeof(double));
    table.columnStride = sizeof(double);
    return table;
}

// A vector of `count` labels, each a whole number within the 32-bit range after truncation.
const double* labelVector(const VectorArgument& labels, std::int64_t count, const char* name) {
    if (!labels.given) {
        if (count != 0)
            invalid(std::string(name) + " must hold " + std::to_string(count) +
                    " values, one per row");
        return nullptr;
    }
    if (!labels.isArray || labels.dimensions != 1)
        invalid(std::string(name) + " must be a 1-D array of numbers");
    if (labels.count != count) {
        invalid(std::string(name) + " must hold " + std::to_string(count) + " values, one per row");
    }
    for (std::int64_t i = 0; i < count; ++i) {
        if (!kInt32Range.holds(labels.data[i])) {
            invalid(std::string(name) + " must lie within the 32-bit integer range");
        }
    }
    return labels.data;
}

double normOrder(double p) {
    if (!Range{1, INFINITY}.holds(p)) invalid("norm must be >= 1 (or inf)");
    return p;
}

int verbosityLevel(int verbosity) {
    if (verbosity < 0 || verbosity > 3) invalid("verbosity must be 0, 1, 2 or 3");
    return verbosity;
}

TableRows finitePatterns(const TableArgument& patterns) {
    const TableRows rows(patterns, "patterns");
    if (!rows.all(rows.columns(), true)) invalid("patterns must not contain NaN or Inf");
    return rows;
}

SearchPlan searchPlan(const std::string& text) {
    SearchPlan plan;
    if (!parseSearchPlan(text, plan)) invalid("plan must be a search plan text");
    return plan;
}

}  // namespace

TrainingInput checkTraining(const TrainingArguments& a) {
    const TableRows rows = finitePatterns(a.patterns);
    const double* labels = labelVector(a.labels, rows.rows(), "labels");
    const TableRows start(a.startNodes.given ? a.startNodes : emptyTable(rows.columns() + 1),
                          "start_nodes");
    if (start.columns() != rows.columns() + 1) {
        invalid("start_nodes must have " + std::to_string(rows.columns() + 1) +
                " columns: centre, radius");
    }
    if (!start.all(start.columns(), true)) invalid("start_nodes must be finite");
    const double* startLabels = labelVector(a.startLabels, start.rows(), "start_labels");
    TrainingInput input;
    input.patternCount = rows.rows();
    input.dimension = rows.columns();
    input.patterns = rows.view();
    input.labels = labels;
    input.normType = normOrder(a.norm);
    if (!(a.rmax >= 0)) invalid("rmax must be non-negative");
    input.rMax = a.rmax;
    if (!(a.margin >= 0) || std::isinf(a.margin)) invalid("margin must be finite and non-negative");
    input.margin = a.margin;
    if (a.maxPasses < 1) invalid("max_passes must be >= 1");
    input.maxPresentations = a.maxPasses;
    input.oflag = verbosityLevel(a.verbosity);
    input.patternsFinite = true;
    input.startNodeCount = start.rows();
    input.startRows = start.view();
    input.startLabels = startLabels;
    input.passLines = input.oflag >= 1;
    input.plan = searchPlan(a.plan);
    return input;
}

RecallInput checkRecall(const RecallArguments& a) {
    const TableRows templates(a.nodes, "nodes");
    if (templates.columns() < 1) invalid("nodes must have a column for the radius");
    const int dimension = templates.columns() - 1;
    if (!templates.all(templates.columns(), false)) invalid("nodes must not contain NaN");
    if (!templates.all(dimension, true)) invalid("nodes must have finite centres");
    const double* labels = labelVector(a.nodeLabels, templates.rows(), "node_labels");
    const TableRows rows(a.patterns, "patterns");
    if (rows.columns() != dimension) {
        invalid("patterns must have " + std::to_string(dimension) +
                " columns, as the nodes' centres");
    }
    if (!rows.all(dimension, true)) invalid("patterns must not contain NaN or Inf");
    if (!kInt32Range.holds(a.unknownLabel)) {
        invalid("unknown_label must lie within the 32-bit integer range");
    }
    RecallInput input;
    input.nodeCount = templates.rows();
    input.dimension = dimension;
    input.templates = templates.view();
    input.nodeLabels = labels;
    input.normType = normOrder(a.norm);
    input.patternCount = rows.rows();
    input.patterns = rows.view();
    input.unknownLabel = static_cast<int>(a.unknownLabel);
    input.nnOption = a.nearest ? 1 : 0;
    input.oflag = verbosityLevel(a.verbosity);
    input.coordinatesFinite = true;
    input.plan = searchPlan(a.plan);
    return input;
}

StatisticsInput checkStatistics(const TableArgument& patterns, double norm) {
    const TableRows rows = finitePatterns(patterns);
    return {rows.view(), rows.rows(), rows.columns(), normOrder(norm)};
}

}  // namespace sphnet_python
