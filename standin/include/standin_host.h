// Test-side view of the stand-in host: building host arrays, calling a mexFunction the way a
// host does, and reading back what the call printed, warned, raised and allocated.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"

namespace standin {

using MexFunction = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

struct ArrayDeleter {
    void operator()(mxArray* array) const { mxDestroyArray(array); }
};
using Array = std::unique_ptr<mxArray, ArrayDeleter>;

// A real double matrix from its rows, written the way it reads.
Array matrix(std::initializer_list<std::initializer_list<double>> rows);
// A real double matrix from column-major data.
Array matrix(std::size_t rows, std::size_t cols, const std::vector<double>& columnMajor);
Array scalar(double value);
Array column(const std::vector<double>& values);
// A 1 x N char array.
Array text(const std::string& characters);
// Any class, shape, complexity or sparsity; real data zero-filled, or set from `realData`
// (converted to the class's element type) when given.
Array array(mxClassID classId, const std::vector<mwSize>& dims, bool complex = false,
            bool sparse = false, const std::vector<double>& realData = {});

std::size_t rows(const mxArray* array);
std::size_t cols(const mxArray* array);
// Real double data in column-major order.
std::vector<double> data(const mxArray* array);

struct CallOptions {
    long failAllocation = 0;        // 1-based index of the allocation that returns null; 0: none
    long interruptAfterPolls = -1;  // interrupt requested once this many polls have answered no
};

struct CallResult {
    bool failed = false;
    bool interrupted = false;
    std::string error;
    std::string identifier;  // the error's identifier; empty when raised without one
    std::string console;
    std::vector<std::string> warnings;
    std::vector<Array> outputs;
    double flopsTally = 0;
    long allocationAttempts = 0;     // host and heap allocations the call asked for
    long hostBlocksReclaimed = 0;    // host allocations left for the host to free
    long heapBlocksOutstanding = 0;  // heap blocks still alive after the call: a leak
    long interruptPolls = 0;
    long consoleFlushes = 0;          // times the call asked for its console output to show
    std::vector<std::string> faults;  // misuse of the host interface (bad free, empty scalar read,
                                      // a call from a thread other than the caller's)
};

CallResult call(MexFunction entry, int nlhs, const std::vector<const mxArray*>& inputs,
                const CallOptions& options = {});

// Brackets direct calls into the procedures (without a mexFunction) so that they see the same
// host services: console capture, allocation tracking and failure injection.
class Scope {
  public:
    explicit Scope(const CallOptions& options = {});
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    // Ends the scope and hands back what it recorded; host blocks are reclaimed.
    CallResult finish();

  private:
    bool finished_ = false;
};

// A module built against the stand-in host, loaded like a host loads a MEX file.
class Module {
  public:
    explicit Module(std::string path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    // Unloads and loads again: fresh module-wide state, as after `clear name` in a host.
    void reload();
    MexFunction entry() const { return entry_; }

  private:
    void load();
    void unload();
    std::string path_;
    void* handle_ = nullptr;
    MexFunction entry_ = nullptr;
};

}  // namespace standin
