// Turns fuzz input bytes into the arguments of one call: how many, and for each its class,
// complexity, sparsity, dimensions and values. Most arguments come out well formed for their
// slot, so that runs get past the checks into training and recall; the rest are anything.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "standin_host.h"

namespace sphnet_fuzz {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values that sit on a boundary somewhere: non-finite, signed zero, denormal, huge, tiny,
// the int32 and truncation edges, and non-whole numbers near the accepted ranges.
inline double specialValueAt(std::size_t index) {
    static const double table[] = {0.0,
                                   -0.0,
                                   1.0,
                                   -1.0,
                                   0.5,
                                   1.5,
                                   2.0,
                                   3.0,
                                   kNaN,
                                   kInf,
                                   -kInf,
                                   std::numeric_limits<double>::denorm_min(),
                                   -std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::min(),
                                   std::numeric_limits<double>::max(),
                                   -std::numeric_limits<double>::max(),
                                   1e-300,
                                   1e300,
                                   -1e300,
                                   1e154,
                                   2147483647.0,
                                   2147483647.5,
                                   2147483648.0,
                                   -2147483648.0,
                                   -2147483648.5,
                                   -2147483649.0,
                                   4294967296.0,
                                   0.9,
                                   0.99999999999999989,
                                   3.9,
                                   4.0,
                                   -0.5,
                                   -0.99999999999999989,
                                   1.9,
                                   -1.9,
                                   1.0000001,
                                   1e-8,
                                   5e-9,
                                   0.1,
                                   0.3};
    return table[index % (sizeof table / sizeof table[0])];
}

inline double specialValue(FuzzedDataProvider& in) {
    return specialValueAt(in.ConsumeIntegralInRange<std::size_t>(0, 255));
}

// Mostly small whole numbers and quarters, so that spheres meet and conflict; sometimes a
// boundary value or any bit pattern at all.
inline double anyValue(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return specialValue(in);
        case 1: {
            std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
            double v;
            static_assert(sizeof v == sizeof bits, "double is 64 bits");
            __builtin_memcpy(&v, &bits, sizeof v);
            return v;
        }
        case 2:
        case 3:
            return in.ConsumeIntegralInRange<int>(-12, 12) * 0.25;
        default:
            return in.ConsumeIntegralInRange<int>(-3, 4);
    }
}

// Larger sets draw their values from a generator seeded by the input, so that a short input
// still fills hundreds of values: quarters in [-4, 4], and now and then a boundary value.
inline std::mt19937_64& tameSource() {
    static std::mt19937_64 source;
    return source;
}

inline double tameValue(FuzzedDataProvider&) {
    const std::uint64_t v = tameSource()();
    if (v % 128 == 0)
        return specialValueAt(static_cast<std::size_t>(v >> 8));
    return (static_cast<int>((v >> 8) % 33) - 16) * 0.25;
}

inline double tameLabel(FuzzedDataProvider&) {
    return static_cast<double>(tameSource()() % 4);
}

// Sizes that decide something: the int range edges, with no data behind them.
inline mwSize hugeDimension(FuzzedDataProvider& in) {
    static const mwSize table[] = {INT_MAX - 2,         INT_MAX - 1,     INT_MAX,
                                   mwSize{INT_MAX} + 1, mwSize{1} << 32, (mwSize{1} << 32) + 3};
    return table[in.ConsumeIntegralInRange<std::size_t>(0, sizeof table / sizeof table[0] - 1)];
}

// Arrays the stand-in host builds hold every element, so shapes with data stay small.
constexpr std::size_t kMaxElements = 1024;

inline std::size_t elementCount(const std::vector<mwSize>& dims) {
    std::size_t count = 1;
    for (mwSize d : dims)
        count *= static_cast<std::size_t>(d);
    return count;
}

inline standin::Array makeArray(FuzzedDataProvider& in, mxClassID classId, std::vector<mwSize> dims,
                                bool complex, bool sparse, double (*value)(FuzzedDataProvider&)) {
    if (elementCount(dims) > kMaxElements) {
        for (mwSize& d : dims)
            d = d > 3 ? 3 : d;
    }
    std::vector<double> values(elementCount(dims));
    for (double& v : values)
        v = value(in);
    return standin::array(classId, dims, complex, sparse, values);
}

inline mxClassID anyClass(FuzzedDataProvider& in) {
    static const mxClassID table[] = {
        mxUNKNOWN_CLASS, mxCELL_CLASS,    mxSTRUCT_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS,
        mxVOID_CLASS,    mxDOUBLE_CLASS,  mxSINGLE_CLASS, mxINT8_CLASS,    mxUINT8_CLASS,
        mxINT16_CLASS,   mxUINT16_CLASS,  mxINT32_CLASS,  mxUINT32_CLASS,  mxINT64_CLASS,
        mxUINT64_CLASS,  mxFUNCTION_CLASS};
    return table[in.ConsumeIntegralInRange<std::size_t>(0, sizeof table / sizeof table[0] - 1)];
}

// One argument meant to have `rows` x `cols` real doubles. Usually it does; otherwise the fuzz
// input bends its shape (sizes that disagree, N-D, empty, huge) or its class or storage.
inline standin::Array makeArgument(FuzzedDataProvider& in, mwSize rows, mwSize cols,
                                   double (*value)(FuzzedDataProvider&)) {
    const int mode = in.ConsumeIntegralInRange<int>(0, 15);
    if (mode <= 9)
        return makeArray(in, mxDOUBLE_CLASS, {rows, cols}, false, false, value);
    switch (mode) {
        case 10:  // transposed: a row where a column is expected, or the reverse
            return makeArray(in, mxDOUBLE_CLASS, {cols, rows}, false, false, value);
        case 11: {  // sizes that disagree with the rest of the call
            const mwSize r = in.ConsumeIntegralInRange<mwSize>(0, 5);
            const mwSize c = in.ConsumeIntegralInRange<mwSize>(0, 5);
            return makeArray(in, mxDOUBLE_CLASS, {r, c}, false, false, value);
        }
        case 12: {  // three or four dimensions, singleton trailing ones included
            std::vector<mwSize> dims(in.ConsumeIntegralInRange<std::size_t>(3, 4));
            for (mwSize& d : dims)
                d = in.ConsumeIntegralInRange<mwSize>(0, 3);
            return makeArray(in, mxDOUBLE_CLASS, dims, false, false, value);
        }
        case 13:  // empty: no rows and columns up to and past the int range, or the reverse
            // Rows are converted one by one, so a long column of empty rows stays moderate.
            if (in.ConsumeBool()) {
                return makeArray(in, mxDOUBLE_CLASS, {0, hugeDimension(in)}, false, false, value);
            }
            return makeArray(in, mxDOUBLE_CLASS, {in.ConsumeIntegralInRange<mwSize>(1, 6000), 0},
                             false, false, value);
        case 14:  // another class, maybe complex or sparse
            return makeArray(in, anyClass(in), {rows, cols}, in.ConsumeBool(), in.ConsumeBool(),
                             value);
        default:  // double, but complex or sparse or both
        {
            const bool complex = in.ConsumeBool();
            return makeArray(in, mxDOUBLE_CLASS, {rows, cols}, complex,
                             !complex || in.ConsumeBool(), value);
        }
    }
}

// A scalar argument: 1x1 as a rule, sometimes a longer vector or an empty one.
inline standin::Array makeScalarArgument(FuzzedDataProvider& in,
                                         double (*value)(FuzzedDataProvider&)) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return makeArgument(in, 1, 1, value);
        case 1:
            return makeArray(in, mxDOUBLE_CLASS, {1, in.ConsumeIntegralInRange<mwSize>(0, 3)},
                             false, false, value);
        case 2:
            return makeArray(in, mxDOUBLE_CLASS, {in.ConsumeIntegralInRange<mwSize>(0, 3), 1},
                             false, false, value);
        default:
            return makeArray(in, mxDOUBLE_CLASS, {1, 1}, false, false, value);
    }
}

// Argument and output counts: as the function expects most of the time.
inline int makeCount(FuzzedDataProvider& in, int expected) {
    return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? in.ConsumeIntegralInRange<int>(0, 9)
                                                      : expected;
}

// Host misbehaviour to inject: a refused allocation, or an interrupt after some polls.
inline standin::CallOptions makeCallOptions(FuzzedDataProvider& in) {
    standin::CallOptions options;
    const int choice = in.ConsumeIntegralInRange<int>(0, 7);
    if (choice == 0)
        options.failAllocation = in.ConsumeIntegralInRange<long>(1, 400);
    if (choice == 1)
        options.interruptAfterPolls = in.ConsumeIntegralInRange<long>(0, 30);
    return options;
}

inline bool isRealFullDouble(const mxArray* a) {
    return mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

inline bool isMatrix(const mxArray* a) {
    return isRealFullDouble(a) && mxGetNumberOfDimensions(a) == 2;
}

inline bool isScalarLike(const mxArray* a) {
    const mwSize* d = mxGetDimensions(a);
    return isMatrix(a) && (d[0] == 1 || d[1] == 1) && !mxIsEmpty(a);
}

inline bool allFinite(const mxArray* a) {
    const double* pr = mxGetPr(a);
    for (std::size_t i = 0; i < mxGetNumberOfElements(a); ++i) {
        if (!std::isfinite(pr[i]))
            return false;
    }
    return true;
}

inline bool labelsFitInt32(const mxArray* a) {
    const double* pr = mxGetPr(a);
    for (std::size_t i = 0; i < mxGetNumberOfElements(a); ++i) {
        if (!(pr[i] > -2147483649.0 && pr[i] < 2147483648.0))
            return false;
    }
    return true;
}

}  // namespace sphnet_fuzz
