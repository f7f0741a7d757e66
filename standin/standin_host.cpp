// The stand-in host: the MEX calls the modules use, with the bookkeeping a test needs.
// Arrays hold exactly as many bytes as their class and shape need, so a module that reads a
// non-double array as doubles reads past the end and the sanitizers say so.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "mex_host.h"
#include "standin_host.h"

struct mxArray_tag {
    mxClassID classId = mxDOUBLE_CLASS;
    bool complex = false;
    bool sparse = false;
    std::vector<mwSize> dims;
    std::size_t storedElements = 0;
    std::unique_ptr<unsigned char[]> real;
    std::unique_ptr<unsigned char[]> imag;
};

namespace {

struct HostError {
    std::string text;
    std::string identifier;
};

// What the host knows about the call in progress.
struct CallState {
    standin::CallOptions options;
    standin::CallResult record;
    std::map<void*, std::size_t> hostBlocks;  // live mxCalloc/mxMalloc/mxRealloc blocks
    std::set<mxArray*> createdArrays;         // arrays created during the call
    long heapBlocks = 0;
};

CallState state;

// Host interfaces are not thread-safe: only the thread that made the call may use them. Calls
// from any other thread are counted here (the call state itself is no place for a counter that
// two threads touch) and reported as a fault when the call ends.
std::thread::id callerThread;
std::atomic<long> offThreadCalls{0};

void checkThread() {
    if (std::this_thread::get_id() != callerThread) offThreadCalls.fetch_add(1);
}

std::size_t elementSize(mxClassID classId) {
    switch (classId) {
        case mxDOUBLE_CLASS:
        case mxINT64_CLASS:
        case mxUINT64_CLASS:
            return 8;
        case mxSINGLE_CLASS:
        case mxINT32_CLASS:
        case mxUINT32_CLASS:
            return 4;
        case mxINT16_CLASS:
        case mxUINT16_CLASS:
        case mxCHAR_CLASS:
            return 2;
        case mxINT8_CLASS:
        case mxUINT8_CLASS:
        case mxLOGICAL_CLASS:
            return 1;
        default:
            return 0;  // cell, struct, function handle: no numeric data
    }
}

void storeAs(mxClassID classId, unsigned char* target, double value) {
    switch (classId) {
        case mxDOUBLE_CLASS: {
            std::memcpy(target, &value, sizeof value);
            break;
        }
        case mxSINGLE_CLASS: {
            const float v = static_cast<float>(value);
            std::memcpy(target, &v, sizeof v);
            break;
        }
        case mxINT32_CLASS:
        case mxUINT32_CLASS: {
            const auto v = static_cast<std::int32_t>(value);
            std::memcpy(target, &v, sizeof v);
            break;
        }
        case mxINT64_CLASS:
        case mxUINT64_CLASS: {
            const auto v = static_cast<std::int64_t>(value);
            std::memcpy(target, &v, sizeof v);
            break;
        }
        case mxINT16_CLASS:
        case mxUINT16_CLASS:
        case mxCHAR_CLASS: {
            const auto v = static_cast<std::int16_t>(value);
            std::memcpy(target, &v, sizeof v);
            break;
        }
        default: {
            const auto v = static_cast<std::int8_t>(value);
            std::memcpy(target, &v, sizeof v);
            break;
        }
    }
}

std::size_t elementCount(const std::vector<mwSize>& dims) {
    std::size_t count = 1;
    for (mwSize d : dims) count *= static_cast<std::size_t>(d);
    return count;
}

mxArray* newArray(mxClassID classId, const std::vector<mwSize>& dims, bool complex, bool sparse,
                  const std::vector<double>& realData) {
    auto* a = new mxArray;
    a->classId = classId;
    a->complex = complex;
    a->sparse = sparse;
    a->dims = dims;
    while (a->dims.size() < 2) a->dims.push_back(1);
    const std::size_t size = elementSize(classId);
    const std::size_t count = elementCount(a->dims);
    std::size_t stored = count;
    if (sparse) {
        // A sparse array stores its nonzeros only.
        stored = static_cast<std::size_t>(
            std::count_if(realData.begin(), realData.end(), [](double v) { return v != 0; }));
        stored = std::max<std::size_t>(stored, 1);
    }
    a->storedElements = stored;
    if (size != 0) {
        a->real.reset(new unsigned char[stored * size]());
        if (complex) a->imag.reset(new unsigned char[stored * size]());
        std::size_t target = 0;
        for (std::size_t i = 0; i < realData.size() && target < stored; ++i) {
            if (sparse && realData[i] == 0) continue;
            storeAs(classId, a->real.get() + target * size, realData[i]);
            ++target;
        }
    }
    return a;
}

void fault(const std::string& what) {
    state.record.faults.push_back(what);
}

// Every allocation the modules ask for passes here, so a test can make any one of them fail.
bool allocationRefused() {
    ++state.record.allocationAttempts;
    return state.options.failAllocation != 0 &&
           state.record.allocationAttempts == state.options.failAllocation;
}

void beginCall(const standin::CallOptions& options) {
    state = CallState{};
    state.options = options;
    callerThread = std::this_thread::get_id();
    offThreadCalls.store(0);
}

standin::CallResult endCall() {
    if (offThreadCalls.load() != 0) fault("host called from a thread other than the caller's");
    for (auto& block : state.hostBlocks) std::free(block.first);
    state.record.hostBlocksReclaimed = static_cast<long>(state.hostBlocks.size());
    state.hostBlocks.clear();
    for (mxArray* a : state.createdArrays) delete a;
    state.createdArrays.clear();
    state.record.heapBlocksOutstanding = state.heapBlocks;
    standin::CallResult result = std::move(state.record);
    state = CallState{};
    return result;
}

}  // namespace

// ---- MEX interface ----

extern "C" {

mwSize mxGetNumberOfDimensions(const mxArray* a) {
    return static_cast<mwSize>(a->dims.size());
}
const mwSize* mxGetDimensions(const mxArray* a) {
    return a->dims.data();
}
std::size_t mxGetM(const mxArray* a) {
    return static_cast<std::size_t>(a->dims[0]);
}
std::size_t mxGetN(const mxArray* a) {
    std::size_t n = 1;
    for (std::size_t i = 1; i < a->dims.size(); ++i) n *= static_cast<std::size_t>(a->dims[i]);
    return n;
}
std::size_t mxGetNumberOfElements(const mxArray* a) {
    return elementCount(a->dims);
}
bool mxIsEmpty(const mxArray* a) {
    return mxGetNumberOfElements(a) == 0;
}
mxClassID mxGetClassID(const mxArray* a) {
    return a->classId;
}
bool mxIsDouble(const mxArray* a) {
    return a->classId == mxDOUBLE_CLASS;
}
bool mxIsComplex(const mxArray* a) {
    return a->complex;
}
bool mxIsSparse(const mxArray* a) {
    return a->sparse;
}
bool mxIsChar(const mxArray* a) {
    return a->classId == mxCHAR_CLASS;
}

int mxGetString(const mxArray* a, char* buffer, mwSize bufferLength) {
    if (bufferLength <= 0) return 1;
    const std::size_t capacity = static_cast<std::size_t>(bufferLength) - 1;
    const bool text = a->classId == mxCHAR_CLASS && !a->sparse;
    const std::size_t count = text ? mxGetNumberOfElements(a) : 0;
    const std::size_t copied = std::min(count, capacity);
    for (std::size_t i = 0; i < copied; ++i) {
        std::int16_t c;
        std::memcpy(&c, a->real.get() + 2 * i, sizeof c);
        buffer[i] = static_cast<char>(c);
    }
    buffer[copied] = '\0';
    return text && copied == count ? 0 : 1;
}

double mxGetScalar(const mxArray* a) {
    if (mxIsEmpty(a)) {
        // Octave raises an error of its own here; a module must never ask.
        fault("mxGetScalar of an empty array");
        throw HostError{"mxGetScalar: argument is empty", ""};
    }
    if (a->classId == mxDOUBLE_CLASS) {
        double v;
        std::memcpy(&v, a->real.get(), sizeof v);
        return v;
    }
    fault("mxGetScalar of a non-double array");
    return 0;
}

double* mxGetPr(const mxArray* a) {
    return reinterpret_cast<double*>(a->real.get());
}

void* mxCalloc(std::size_t count, std::size_t size) {
    checkThread();
    if (allocationRefused()) return nullptr;
    void* block = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
    if (block != nullptr) state.hostBlocks[block] = count * size;
    return block;
}

void* mxMalloc(std::size_t bytes) {
    checkThread();
    if (allocationRefused()) return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) state.hostBlocks[block] = bytes;
    return block;
}

void* mxRealloc(void* ptr, std::size_t bytes) {
    checkThread();
    const auto known = ptr == nullptr ? state.hostBlocks.end() : state.hostBlocks.find(ptr);
    if (ptr != nullptr && known == state.hostBlocks.end()) {
        fault("mxRealloc of a block the host did not hand out");
        return nullptr;
    }
    if (allocationRefused()) return nullptr;  // the old block stays valid, as with realloc
    void* block = std::realloc(ptr, bytes == 0 ? 1 : bytes);
    if (block == nullptr) return nullptr;
    if (known != state.hostBlocks.end()) state.hostBlocks.erase(known);
    state.hostBlocks[block] = bytes;
    return block;
}

void mxFree(void* ptr) {
    checkThread();
    if (ptr == nullptr) return;
    auto it = state.hostBlocks.find(ptr);
    if (it == state.hostBlocks.end()) {
        fault("mxFree of a block the host did not hand out");
        return;
    }
    std::free(ptr);
    state.hostBlocks.erase(it);
}

mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                              mxComplexity flag) {
    if (allocationRefused()) return nullptr;
    mxArray* a =
        newArray(classid, std::vector<mwSize>(dims, dims + ndim), flag == mxCOMPLEX, false, {});
    state.createdArrays.insert(a);
    return a;
}

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag) {
    const mwSize dims[2] = {m, n};
    return mxCreateNumericArray(2, dims, mxDOUBLE_CLASS, flag);
}

mxArray* mxCreateDoubleScalar(double value) {
    mxArray* a = mxCreateDoubleMatrix(1, 1, mxREAL);
    if (a != nullptr) std::memcpy(a->real.get(), &value, sizeof value);
    return a;
}

void mxDestroyArray(mxArray* a) {
    if (a == nullptr) return;
    state.createdArrays.erase(a);
    delete a;
}

int mexPrintf(const char* format, ...) {
    checkThread();
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
        state.record.console += text;
    }
    va_end(args);
    return length;
}

void mexErrMsgTxt(const char* text) {
    throw HostError{text, ""};
}

void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    // MATLAB takes only "component:mnemonic" identifiers (letters, digits, underscores, colons).
    const std::string id = identifier;
    const bool wellFormed =
        id.find(':') != std::string::npos && id.front() != ':' && id.back() != ':' &&
        id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_:") ==
            std::string::npos;
    if (!wellFormed) fault("mexErrMsgIdAndTxt with a malformed identifier: " + id);
    va_list args;
    va_start(args, format);
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    throw HostError{text, id};
}

void mexWarnMsgTxt(const char* text) {
    state.record.warnings.emplace_back(text);
}

void mexAddFlops(double count) {
    state.record.flopsTally += count;
}

}  // extern "C"

// ---- Services the host layer asks of every host ----

namespace sphnet {

void hostAddFlops(unsigned long count) {
    mexAddFlops(static_cast<double>(count));
}

void* hostHeapAllocate(std::size_t bytes) {
    checkThread();
    if (allocationRefused()) return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) ++state.heapBlocks;
    return block;
}

void hostHeapRelease(void* block) {
    checkThread();
    if (block == nullptr) return;
    --state.heapBlocks;
    std::free(block);
}

void hostFlushConsole() {
    checkThread();
    ++state.record.consoleFlushes;
}

bool hostInterruptPending() {
    checkThread();
    const long polls = state.record.interruptPolls++;
    return state.options.interruptAfterPolls >= 0 && polls >= state.options.interruptAfterPolls;
}

void hostRaiseInterrupt(const char* identifier, const char* message) {
    state.record.interrupted = true;
    throw HostError{message, identifier};
}

}  // namespace sphnet

// ---- Test-side interface ----

namespace standin {

Array matrix(std::initializer_list<std::initializer_list<double>> rowList) {
    const std::size_t r = rowList.size();
    const std::size_t c = r == 0 ? 0 : rowList.begin()->size();
    std::vector<double> columnMajor(r * c);
    std::size_t i = 0;
    for (const auto& row : rowList) {
        if (row.size() != c) throw std::invalid_argument("ragged matrix");
        std::size_t j = 0;
        for (double v : row) columnMajor[j++ * r + i] = v;
        ++i;
    }
    return matrix(r, c, columnMajor);
}

Array matrix(std::size_t r, std::size_t c, const std::vector<double>& columnMajor) {
    return array(mxDOUBLE_CLASS, {static_cast<mwSize>(r), static_cast<mwSize>(c)}, false, false,
                 columnMajor);
}

Array scalar(double value) {
    return matrix(1, 1, {value});
}

Array column(const std::vector<double>& values) {
    return matrix(values.size(), 1, values);
}

Array text(const std::string& characters) {
    std::vector<double> codes;
    for (char c : characters) codes.push_back(static_cast<unsigned char>(c));
    return array(mxCHAR_CLASS, {1, static_cast<mwSize>(characters.size())}, false, false, codes);
}

Array array(mxClassID classId, const std::vector<mwSize>& dims, bool complex, bool sparse,
            const std::vector<double>& realData) {
    return Array(newArray(classId, dims, complex, sparse, realData));
}

std::size_t rows(const mxArray* a) {
    return mxGetM(a);
}
std::size_t cols(const mxArray* a) {
    return mxGetN(a);
}

std::vector<double> data(const mxArray* a) {
    const double* pr = mxGetPr(a);
    return std::vector<double>(pr, pr + mxGetNumberOfElements(a));
}

CallResult call(MexFunction entry, int nlhs, const std::vector<const mxArray*>& inputs,
                const CallOptions& options) {
    beginCall(options);
    std::vector<mxArray*> outputs(static_cast<std::size_t>(std::max(nlhs, 1)) + 1, nullptr);
    bool failed = false;
    std::string error, identifier;
    try {
        entry(nlhs, outputs.data(), static_cast<int>(inputs.size()),
              const_cast<const mxArray**>(inputs.data()));
    } catch (const HostError& e) {
        failed = true;
        error = e.text;
        identifier = e.identifier;
    }
    std::vector<Array> kept;
    if (!failed) {
        // The host takes the filled output slots; anything else the call created is its garbage.
        for (int i = 0; i < std::max(nlhs, 1); ++i) {
            mxArray* out = outputs[static_cast<std::size_t>(i)];
            if (out == nullptr) break;
            state.createdArrays.erase(out);
            kept.emplace_back(out);
        }
    }
    CallResult result = endCall();
    result.failed = failed;
    result.error = error;
    result.identifier = identifier;
    result.outputs = std::move(kept);
    return result;
}

Scope::Scope(const CallOptions& options) {
    beginCall(options);
}

Scope::~Scope() {
    if (!finished_) endCall();
}

CallResult Scope::finish() {
    finished_ = true;
    return endCall();
}

Module::Module(std::string path) : path_(std::move(path)) {
    load();
}

Module::~Module() {
    unload();
}

void Module::reload() {
    unload();
    load();
}

void Module::load() {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load ") + dlerror());
    entry_ = reinterpret_cast<MexFunction>(dlsym(handle_, "mexFunction"));
    if (entry_ == nullptr) throw std::runtime_error("module has no mexFunction: " + path_);
}

void Module::unload() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
    entry_ = nullptr;
}

}  // namespace standin
