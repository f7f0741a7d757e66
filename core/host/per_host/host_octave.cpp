// Host services under GNU Octave.
#include <exception>

#include <octave/quit.h>

#include "mex_host.h"

namespace sphnet {

namespace {
// Octave's own interrupt, caught at the poll and handed back once the call has cleaned up.
std::exception_ptr pendingInterrupt;
}  // namespace

// Octave keeps no FLOP tally.
void hostAddFlops(unsigned long) {}

void hostFlushConsole() {
    mexEvalString("fflush(stdout);");
}

bool hostInterruptPending() {
    if (octave_signal_caught == 0) return false;
    try {
        octave_quit();
    } catch (...) {
        pendingInterrupt = std::current_exception();
        return true;
    }
    return false;  // a signal that was not an interrupt request, now handled
}

void hostRaiseInterrupt(const char* identifier, const char* message) {
    if (pendingInterrupt) {
        std::exception_ptr interrupt = pendingInterrupt;
        pendingInterrupt = nullptr;
        std::rethrow_exception(interrupt);
    }
    mexErrMsgIdAndTxt(identifier, "%s", message);
    std::abort();  // not reached: mexErrMsgIdAndTxt does not return
}

}  // namespace sphnet
