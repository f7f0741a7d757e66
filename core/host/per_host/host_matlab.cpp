// Host services under MATLAB.
#include <cstdlib>

#include "mex_host.h"

// MATLAB's own interrupt flag, exported by libut.
extern "C" bool utIsInterruptPending();
extern "C" bool utSetInterruptPending(bool);

namespace sphnet {

// Current MATLAB releases keep no FLOP tally; mexAddFlops is gone from their API.
void hostAddFlops(unsigned long) {}

void hostFlushConsole() {
    mexEvalString("drawnow;");
}

bool hostInterruptPending() {
    return utIsInterruptPending();
}

void hostRaiseInterrupt(const char* identifier, const char* message) {
    utSetInterruptPending(false);
    mexErrMsgIdAndTxt(identifier, "%s", message);
    std::abort();  // not reached: mexErrMsgIdAndTxt does not return
}

}  // namespace sphnet
