// RCE training: grows a set of hypersphere nodes from labelled patterns, printing the progress
// trace and the training summary on the host console.
#pragma once

#include "procedure_status.h"
#include "training_io.h"

namespace sphnet {

// On Done, nodeValues and nodeLabels come from the host allocator and belong to the caller; the
// start nodes come first.
// On failure nothing is left allocated and the output is untouched.
ProcedureStatus learnPrototypes(const TrainingInput& input, TrainingOutput& output);

}  // namespace sphnet
