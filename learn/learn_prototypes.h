// RCE training: grows a set of hypersphere nodes from labelled patterns, printing the progress
// trace and the training summary on the host console.
#pragma once

#include "procedure_status.h"
#include "training_io.h"

namespace sphnet {

// On Done, the output holds the nodes, the start nodes first.
// On failure nothing is left allocated and the output is untouched.
ProcedureStatus learnPrototypes(const TrainingInput& input, TrainingOutput& output);

}  // namespace sphnet
