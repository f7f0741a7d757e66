// What recall takes and gives: the input, the per-pattern info and the search paths taken.
#pragma once

#include "row_view.h"
#include "search_plan.h"

namespace sphnet {

struct RecallInput {
    int nodeCount = 0;                   // M
    int dimension = 0;                   // n
    RowView templates;                   // M rows of n + 1 values: centre, then radius
    const double* nodeLabels = nullptr;  // M labels
    double normType = 2.0;               // p >= 1, or +Inf
    int patternCount = 0;                // P
    RowView patterns;                    // P rows of n values
    int unknownLabel = 0;
    int nnOption = 0;  // 1: uncovered patterns take the nearest node's label
    int oflag = 0;     // verbosity 0..3
    bool coordinatesFinite =
        false;        // true: the caller has checked every centre and pattern coordinate
    SearchPlan plan;  // forces a search path (tests); the default lets the engine choose
};

// What decided each pattern, and which nodes cover it: caller-allocated arrays of P values
// each; a null pointer is not filled.
struct RecallInfo {
    double* decidingNode;    // 1-based: the first covering node, else the 1-NN node; 0: none
    double* distance;        // to the deciding node; NaN: none
    double* coverCount;      // nodes that cover the pattern
    double* labelsDisagree;  // 1 where covering nodes have different labels, else 0
};

// Which structures answered a call's questions, for tests that force a plan: per question, bit
// bit(s) for each structure s that answered a pattern; none where the question never came up (no
// patterns or nodes, all covered, no 1-NN rule, no info) or the literal scan ran.
struct RecallPaths {
    unsigned cover = 0;
    unsigned nearest = 0;
    unsigned census = 0;
    PanelPrecision precision = PanelPrecision::Auto;  // the panels', where they were built
    int workers = 0;     // the threads the patterns were shared between
    PacingTally pacing;  // what the call's pacer counted, whatever the outcome
    static unsigned bit(SearchStructure s) { return 1u << static_cast<unsigned>(s); }
};

}  // namespace sphnet
