#pragma once

namespace sphnet {

// How a procedure ended. Anything but Done leaves nothing behind for the caller to release.
enum class ProcedureStatus { Done, OutOfMemory, Interrupted };

}  // namespace sphnet
