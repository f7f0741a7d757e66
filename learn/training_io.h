// What training takes and gives: the input, the nodes made and the search paths taken.
#pragma once

#include <cstddef>
#include <utility>

#include "host_buffer.h"
#include "row_view.h"
#include "search_plan.h"

namespace sphnet {

struct TrainingInput {
    int patternCount = 0;            // N
    int dimension = 0;               // n
    RowView patterns;                // N rows of n values
    const double* labels = nullptr;  // N labels, whole numbers expected
    double normType = 2.0;           // p >= 1, or +Inf
    double rMax = 1.0;               // radius of a new node before any conflict
    double margin = 0.0;             // gap kept between spheres of different labels
    int maxPresentations = 1;        // pass limit, >= 1
    int oflag = 0;                   // verbosity 0..3
    bool patternsFinite = false;     // true: the caller has checked every coordinate
    // Nodes the list starts with, in this order, before any pattern is presented: training
    // goes on from them as if the literal scan had made them (conflicts may shrink them).
    int startNodeCount = 0;
    RowView startRows;                    // startNodeCount rows of n + 1: centre, radius
    const double* startLabels = nullptr;  // startNodeCount labels, whole numbers expected
    bool passLines = false;  // one console line at the end of every pass, flushed at once
    SearchPlan plan;         // forces a search path (tests); the default lets the engine choose
};

// Which search paths a run's scans took (for tests that force one): how many scans walked each
// structure (one scan may take several in turn: a memory, then lists, then the plain rest), and
// the kernels the tiles and the block lists' panels ran on (Auto: not built).
struct TrainingPaths {
    long remembered = 0;      // replayed what the pattern's last scan found
    long blockLists = 0;      // walked x's block list
    long tree = 0;            // walked the growing tree's runs
    long tiles = 0;           // went over nodes by tiles
    long splitScans = 0;      // tile scans shared with the second thread
    long sharedCollects = 0;  // block lists collected on two threads
    InstructionSet tileInstructions = InstructionSet::Auto;
    InstructionSet panelInstructions = InstructionSet::Auto;
    PacingTally pacing;  // what the run's pacer counted, whatever the outcome
};

struct TrainingOutput {
    int nodeCount = 0;
    // nodeCount x (n + 1) values column by column, as the hosts hold matrices: the centres'
    // n coordinates, then the radii.
    HostBlock<double> nodeValues;
    HostBlock<double> nodeLabels;  // nodeCount labels
    int presentations =
        0;  // passes reported: the confirming pass of a converged run is not counted
    bool converged = false;  // the last pass made no node (else the pass limit ended it)
    TrainingPaths paths;

    // Node j's `width` (n + 1) values into `row`: centre, then radius.
    void nodeRow(int j, int width, double* row) const {
        const auto rows = static_cast<std::size_t>(nodeCount);
        for (int c = 0; c < width; ++c)
            row[c] = nodeValues[static_cast<std::size_t>(c) * rows + static_cast<std::size_t>(j)];
    }
};

// Hands `count` nodes over to `out` as one host block of their values column by column and
// host labels; fill(j, row) writes node j's n + 1 values (centre, radius) to `row` and returns
// its label. A band of nodes at a time, so that each column's part of the band is written in
// one go. False, with nothing left allocated, when memory runs out.
template <typename Fill>
bool handOverNodes(int count, int n, TrainingOutput& out, Fill fill) {
    constexpr int kBand = 8;
    const auto rows = static_cast<std::size_t>(count);
    const std::size_t width = static_cast<std::size_t>(n) + 1;
    // With no nodes there is nothing to hold, however wide a row (n may be near 2^31).
    HostBlock<double> values(count > 0 ? rows * width : 1);
    HostBlock<double> labels(count > 0 ? rows : 1);
    HostBlock<double> band(count > 0 ? kBand * width : 1);
    if (!values || !labels || !band) return false;
    for (int first = 0; first < count; first += kBand) {
        const int last = first + kBand < count ? first + kBand : count;
        for (int j = first; j < last; ++j) {
            labels[static_cast<std::size_t>(j)] =
                static_cast<double>(fill(j, band.get() + (j - first) * width));
        }
        for (std::size_t c = 0; c < width; ++c) {
            double* column = values.get() + c * rows;
            for (int j = first; j < last; ++j) column[j] = band[(j - first) * width + c];
        }
    }
    out.nodeCount = count;
    out.nodeValues = std::move(values);
    out.nodeLabels = std::move(labels);
    return true;
}

}  // namespace sphnet
