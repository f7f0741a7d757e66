// Turns fuzz input bytes into the arguments of one call: how many, and for each its class,
// complexity, sparsity, dimensions and values. Most arguments come out well formed for their
// slot, so that runs get past the checks into training and recall; the rest are anything.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <iterator>
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

// Labels: small whole numbers as a rule (so that calls get past the checks), now and then anything.
inline double labelValue(FuzzedDataProvider& in) {
    return in.ConsumeIntegralInRange<int>(0, 7) == 0 ? anyValue(in)
                                                     : in.ConsumeIntegralInRange<int>(-1, 3);
}

// Norms: the common orders as a rule, now and then anything.
inline double normValue(FuzzedDataProvider& in) {
    static const double norms[] = {1.0, 2.0, kInf, 1.5, 3.0};
    return in.ConsumeBool() ? norms[in.ConsumeIntegralInRange<int>(0, 4)] : anyValue(in);
}

// Rmax and margin: quarters from 0 to 3, or anything.
inline double smallNonNegative(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 12) * 0.25 : anyValue(in);
}

// A switch (0 or 1), or anything.
inline double flag(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 1) : anyValue(in);
}

// Trace levels 0 to 3, or anything.
inline double verbosity(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 3) : anyValue(in);
}

// Larger sets draw their values from a generator seeded by the input, so that a short input
// still fills hundreds of values: quarters in [-4, 4], and now and then a boundary value.
inline std::mt19937_64& tameSource() {
    static std::mt19937_64 source;
    return source;
}

inline double tameValue(FuzzedDataProvider&) {
    const std::uint64_t v = tameSource()();
    if (v % 128 == 0) return specialValueAt(static_cast<std::size_t>(v >> 8));
    return (static_cast<int>((v >> 8) % 33) - 16) * 0.25;
}

inline double tameLabel(FuzzedDataProvider&) {
    return static_cast<double>(tameSource()() % 4);
}

// Large well-formed sets made from a seed and a few parameters rather than value by value, so
// that runs reach the blocked scans (8 and more dimensions, hundreds to thousands of rows).
// Rows lie around a few cluster centres, all at one magnitude scale: ordinary, tiny, huge,
// below where squares underflow or beyond where they may overflow. Values sit on a grid of
// quarters (exact distances, ties) or anywhere; some rows repeat earlier ones, with their
// label or another.
//
// With `wholeLevels`, the set may instead be whole numbers in [0, levels] (pixel counts, ratings),
// then shifted by an offset and scaled: the unscaled data users pass, where single-precision
// panels round and offsets cancel.
class SetGenerator {
  public:
    SetGenerator(FuzzedDataProvider& in, int minDimension, int maxDimension,
                 bool wholeLevels = false) {
        static const double scales[] = {1.0,      1.0,     1.0,       0x1p-10,  0x1p10,
                                        0x1p-405, 0x1p470, 0x1p-1060, 0x1p-500, 0x1p500};
        static const double spreads[] = {0.0, 1.0 / 64, 0.25, 1.0, 4.0};
        source_.seed(in.ConsumeIntegral<std::uint64_t>());
        n_ = in.ConsumeIntegralInRange<int>(minDimension, maxDimension);
        scale_ = scales[in.ConsumeIntegralInRange<std::size_t>(0, std::size(scales) - 1)];
        spread_ = spreads[in.ConsumeIntegralInRange<std::size_t>(0, std::size(spreads) - 1)];
        quarters_ = in.ConsumeBool();
        repeatPercent_ = in.ConsumeIntegralInRange<int>(0, 3) * 10;
        relabelPercent_ = in.ConsumeIntegralInRange<int>(0, 2) * 15;
        classes_ = in.ConsumeIntegralInRange<int>(1, 5);
        centres_.resize(static_cast<std::size_t>(in.ConsumeIntegralInRange<int>(1, 12) * n_));
        if (wholeLevels) {
            static const double levels[] = {0.0, 1.0, 4.0, 16.0, 255.0};
            static const double offsets[] = {0.0, 0.0, 100.0, -1000.0, 1e6, 0x1p40};
            static const double factors[] = {1.0, 1.0, 0.01, 3.0, 1e-3, 1e4};
            levels_ = levels[in.ConsumeIntegralInRange<std::size_t>(0, std::size(levels) - 1)];
            offset_ = offsets[in.ConsumeIntegralInRange<std::size_t>(0, std::size(offsets) - 1)];
            scale_ =
                levels_ > 0
                    ? factors[in.ConsumeIntegralInRange<std::size_t>(0, std::size(factors) - 1)]
                    : scale_;
        }
        const double low = levels_ > 0 ? 0.0 : -4.0, high = levels_ > 0 ? levels_ : 4.0;
        for (double& c : centres_) c = std::uniform_real_distribution<double>(low, high)(source_);
    }

    int dimension() const { return n_; }
    double scale() const { return scale_; }
    // A distance typical between rows of the set: radii and widths are drawn as multiples of it.
    double reach() const {
        return levels_ > 0 ? scale_ * levels_ * std::sqrt(static_cast<double>(n_)) / 4 : scale_;
    }
    // A number in [0, 1) from the seed.
    double uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(source_); }

    // `count` rows, column-major, `stretch` times as far from their centres as the set's
    // spread, and their labels: the cluster's class, or now and then another.
    void fill(std::size_t count, double stretch, std::vector<double>& values,
              std::vector<double>& labels) {
        const std::size_t n = static_cast<std::size_t>(n_);
        const std::size_t clusters = centres_.size() / n;
        values.assign(count * n, 0.0);
        labels.assign(count, 0.0);
        std::normal_distribution<double> noise(
            0.0, spread_ * stretch * (levels_ > 0 ? levels_ / 4 : 1.0));
        for (std::size_t k = 0; k < count; ++k) {
            if (k > 0 && static_cast<int>(source_() % 100) < repeatPercent_) {
                const std::size_t from = source_() % k;
                for (std::size_t i = 0; i < n; ++i)
                    values[i * count + k] = values[i * count + from];
                labels[k] = labels[from];
            } else {
                const std::size_t cluster = source_() % clusters;
                for (std::size_t i = 0; i < n; ++i) {
                    double v = centres_[cluster * n + i] + noise(source_);
                    if (levels_ > 0) {
                        v = offset_ + scale_ * std::min(std::max(std::round(v), 0.0), levels_);
                    } else {
                        if (quarters_) v = std::round(v * 4.0) / 4.0;
                        v *= scale_;
                    }
                    values[i * count + k] = v;
                }
                labels[k] = static_cast<double>(cluster % static_cast<std::size_t>(classes_));
            }
            if (static_cast<int>(source_() % 100) < relabelPercent_)
                labels[k] = static_cast<double>(source_() % static_cast<std::uint64_t>(classes_));
        }
    }

  private:
    std::mt19937_64 source_;
    int n_ = 0;
    double scale_ = 1.0;
    double spread_ = 0.0;
    bool quarters_ = false;
    int repeatPercent_ = 0;
    int relabelPercent_ = 0;
    int classes_ = 1;
    double levels_ = 0;  // whole numbers in [0, levels_] when positive
    double offset_ = 0;
    std::vector<double> centres_;  // clusters x n, row by row
};

// A norm of each family: Euclidean most often (its panels), city block, maximum, general.
inline double generatedNorm(FuzzedDataProvider& in) {
    static const double norms[] = {2.0, 2.0, 2.0, 1.0, kInf, 1.5, 3.0, 1.0000001, 7.0};
    return norms[in.ConsumeIntegralInRange<std::size_t>(0, std::size(norms) - 1)];
}

// A count in [low, high] with count * costPerItem at most `budget` (but at least `low`): the
// checks' brute-force scans stay within a few million terms per run.
inline std::size_t boundedCount(FuzzedDataProvider& in, std::size_t low, std::size_t high,
                                double costPerItem, double budget) {
    const double affordable = budget / costPerItem;
    if (affordable < static_cast<double>(high))
        high = affordable > static_cast<double>(low) ? static_cast<std::size_t>(affordable) : low;
    return in.ConsumeIntegralInRange<std::size_t>(low, high);
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
    for (mwSize d : dims) count *= static_cast<std::size_t>(d);
    return count;
}

inline standin::Array makeArray(FuzzedDataProvider& in, mxClassID classId, std::vector<mwSize> dims,
                                bool complex, bool sparse, double (*value)(FuzzedDataProvider&)) {
    if (elementCount(dims) > kMaxElements) {
        for (mwSize& d : dims) d = d > 3 ? 3 : d;
    }
    std::vector<double> values(elementCount(dims));
    for (double& v : values) v = value(in);
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
    if (mode <= 9) return makeArray(in, mxDOUBLE_CLASS, {rows, cols}, false, false, value);
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
            for (mwSize& d : dims) d = in.ConsumeIntegralInRange<mwSize>(0, 3);
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

// Labels for `count` rows, as a column or as a row.
inline standin::Array makeLabelsArgument(FuzzedDataProvider& in, mwSize count,
                                         double (*value)(FuzzedDataProvider&)) {
    return in.ConsumeBool() ? makeArgument(in, count, 1, value) : makeArgument(in, 1, count, value);
}

inline standin::Array labelsMatrix(FuzzedDataProvider& in, const std::vector<double>& labels) {
    return in.ConsumeBool() ? standin::matrix(labels.size(), 1, labels)
                            : standin::matrix(1, labels.size(), labels);
}

// The first `count` arguments as the host hands them over.
inline std::vector<const mxArray*> pointers(const std::vector<standin::Array>& owned, int count) {
    std::vector<const mxArray*> args;
    for (int i = 0; i < count; ++i) args.push_back(owned[static_cast<std::size_t>(i)].get());
    return args;
}

// A run that never converges repeats its pass up to the limit and grows a node per pass, so
// with patterns to present the limit stays small; huge limits are tried on empty sets.
inline void boundPassLimit(mxArray* limit, double most) {
    if (!mxIsDouble(limit) || mxIsSparse(limit)) return;
    double* pr = mxGetPr(limit);
    for (std::size_t i = 0; i < mxGetNumberOfElements(limit); ++i) {
        if (pr[i] > most) pr[i] = most;
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
    if (choice == 0) options.failAllocation = in.ConsumeIntegralInRange<long>(1, 400);
    if (choice == 1) options.interruptAfterPolls = in.ConsumeIntegralInRange<long>(0, 30);
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
        if (!std::isfinite(pr[i])) return false;
    }
    return true;
}

inline bool labelsFitInt32(const mxArray* a) {
    const double* pr = mxGetPr(a);
    for (std::size_t i = 0; i < mxGetNumberOfElements(a); ++i) {
        if (!(pr[i] > -2147483649.0 && pr[i] < 2147483648.0)) return false;
    }
    return true;
}

}  // namespace sphnet_fuzz
