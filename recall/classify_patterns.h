// RCE recall ("performance phase"): labels each pattern with the first node that covers it,
// or, when none does, with the nearest node's label (1-NN rule) or the caller's unknown label.
#pragma once

#include "procedure_status.h"
#include "recall_io.h"

namespace sphnet {

// On Done, `results` holds the P labels, and `info`
// (when given) is filled; the labels and counters are the same with or without it.
// On failure nothing is left allocated. `paths`, when given, tells what answered.
ProcedureStatus classifyPatterns(const RecallInput& input, HostBlock<double>& results,
                                 const RecallInfo* info = nullptr, RecallPaths* paths = nullptr);

}  // namespace sphnet
