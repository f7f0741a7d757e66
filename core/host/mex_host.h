// The one door to the host. Everything in core/, learn/ and recall/ reaches the outside world
// through this header: the MEX calls of a MATLAB-style host (Octave's or MATLAB's mex.h, or the
// stand-in host of the unit tests, whichever the build puts on the include path) plus the few
// services below that hosts offer in different ways.
#pragma once

#include <cstddef>

#include "mex.h"

#if defined(_WIN32)
#define SPHNET_EXPORT __declspec(dllexport)
#else
#define SPHNET_EXPORT __attribute__((visibility("default")))
#endif

namespace sphnet {

// Adds to the host's floating-point operation tally where the host keeps one.
void hostAddFlops(unsigned long count);

// General-purpose heap for memory that never crosses the host boundary (the nodes).
// Returns null when none is left.
void* hostHeapAllocate(std::size_t bytes);
void hostHeapRelease(void* block);

// Shows what mexPrintf has printed so far, where the host would hold it back.
void hostFlushConsole();

// Cheap poll: has the user asked to interrupt the running call?
bool hostInterruptPending();

// Ends the call after an interrupt, once the caller has released everything it owns. Hosts
// with an interrupt of their own resume it; others raise `message` as an error with
// `identifier`.
[[noreturn]] void hostRaiseInterrupt(const char* identifier, const char* message);

}  // namespace sphnet
