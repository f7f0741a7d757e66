// Host services under Python. The procedures run with the interpreter lock released; each
// service that talks to the interpreter takes the lock for as long as it needs it. They are
// called from the thread that called the procedure only (recall's helper thread never calls
// the host).
#include <pybind11/pybind11.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mex_host.h"

namespace {

// Holds the interpreter lock for a scope, whether or not the thread held it before.
using InterpreterLock = pybind11::gil_scoped_acquire;

// The exception a signal handler raised at a poll, kept until the procedure has cleaned up.
// Per thread: each thread's call polls and raises on its own.
thread_local PyObject* pendingType = nullptr;
thread_local PyObject* pendingValue = nullptr;
thread_local PyObject* pendingTraceback = nullptr;

// Signal handlers run wherever the interpreter next runs Python code, so also inside the console
// services: a KeyboardInterrupt raised there is kept for the next poll, not lost.
void keepInterrupt(pybind11::error_already_set& raised) {
    if (!raised.matches(PyExc_KeyboardInterrupt) || pendingType != nullptr) return;
    raised.restore();
    PyErr_Fetch(&pendingType, &pendingValue, &pendingTraceback);
}

}  // namespace

extern "C" {

// The process heap; zero-sized requests get a block too, so that null always means "no memory".
void* mxCalloc(std::size_t count, std::size_t size) {
    return std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
}
void* mxRealloc(void* ptr, std::size_t bytes) {
    return std::realloc(ptr, bytes == 0 ? 1 : bytes);
}
void mxFree(void* ptr) {
    std::free(ptr);
}

// Console text goes to sys.stdout, so that notebooks and redirections see it.
int mexPrintf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return length;
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    InterpreterLock lock;
    try {
        // Where there is no stdout to write to, the text is dropped.
        pybind11::module_::import("sys").attr("stdout").attr("write")(text.data());
    } catch (pybind11::error_already_set& raised) {
        keepInterrupt(raised);
    }
    return length;
}

void mexWarnMsgTxt(const char* text) {
    InterpreterLock lock;
    // Where warnings are turned into errors the call still goes on: the warning is dropped.
    if (PyErr_WarnEx(PyExc_RuntimeWarning, text, 1) != 0) PyErr_Clear();
}

}  // extern "C"

namespace sphnet {

// Python keeps no FLOP tally.
void hostAddFlops(unsigned long) {}

void hostFlushConsole() {
    InterpreterLock lock;
    try {
        pybind11::module_::import("sys").attr("stdout").attr("flush")();
    } catch (pybind11::error_already_set& raised) {
        keepInterrupt(raised);  // a stream that cannot flush loses nothing the call needs
    }
}

// Runs the signal handlers (on the main thread; elsewhere this finds nothing). A handler that
// raised, KeyboardInterrupt after Ctrl-C, interrupts the call.
bool hostInterruptPending() {
    InterpreterLock lock;
    if (pendingType != nullptr) return true;
    if (PyErr_CheckSignals() == 0) return false;
    PyErr_Fetch(&pendingType, &pendingValue, &pendingTraceback);
    return true;
}

// Python exceptions carry no identifier: the interrupt is a KeyboardInterrupt.
void hostRaiseInterrupt(const char* /*identifier*/, const char* message) {
    InterpreterLock lock;
    if (pendingType != nullptr) {
        PyErr_Restore(pendingType, pendingValue, pendingTraceback);
        pendingType = pendingValue = pendingTraceback = nullptr;
    } else {
        PyErr_SetString(PyExc_KeyboardInterrupt, message);
    }
    throw pybind11::error_already_set();
}

}  // namespace sphnet
