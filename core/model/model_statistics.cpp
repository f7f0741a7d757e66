#include "model_statistics.h"

#include <algorithm>
#include <cmath>

#include "distance_bounds.h"

namespace sphnet {

namespace {

// Value i of linspace(first, last, count): first + i * delta up to the middle, last - (count -
// 1 - i) * delta after it, and the midpoint itself for an odd count.
double spacedValue(double first, double last, int count, int i) {
    if (count == 1 || i == count - 1) return last;
    const double delta = (last - first) / (count - 1);
    if (i == 0) return first;
    if (i < count / 2) return first + i * delta;
    if (count % 2 == 1 && i == count / 2) return (first + last) / 2;
    return last - (count - 1 - i) * delta;
}

// The sampled rows one after another; their spread into `out`.
void sampleRows(const RowView& rows, int count, int n, int sampled, double* sample,
                TypicalDistance& out) {
    for (int i = 0; i < sampled; ++i) {
        const int r = static_cast<int>(std::round(spacedValue(1, count, sampled, i))) - 1;
        double* to = sample + static_cast<std::size_t>(i) * n;
        for (int c = 0; c < n; ++c) to[c] = rows.at(r, c);
    }
    for (int c = 0; c < n; ++c) {
        double low = sample[c], high = sample[c];
        for (int i = 1; i < sampled; ++i) {
            low = std::min(low, sample[static_cast<std::size_t>(i) * n + c]);
            high = std::max(high, sample[static_cast<std::size_t>(i) * n + c]);
        }
        out.spread = std::max(out.spread, high - low);
    }
}

// The median of `count` values, reordering them; of an even count, the mean of the middle two.
double median(double* values, std::size_t count) {
    const std::size_t upper = count / 2;
    std::nth_element(values, values + upper, values + count);
    if (count % 2 == 1) return values[upper];
    const double lower = *std::max_element(values, values + upper);
    return (lower + values[upper]) / 2;
}

}  // namespace

void columnScaling(const RowView& rows, int count, int n, double* mean, double* scale) {
    for (int c = 0; c < n; ++c) {
        double sum = 0.0;
        for (int r = 0; r < count; ++r) sum += rows.at(r, c);
        mean[c] = sum / count;
        double squares = 0.0;
        for (int r = 0; r < count; ++r) {
            const double centred = rows.at(r, c) - mean[c];
            squares += centred * centred;
        }
        const double deviation = std::sqrt(squares / (count - 1));
        scale[c] = std::isfinite(deviation) && deviation != 0.0 ? deviation : 1.0;
    }
}

ProcedureStatus typicalDistance(const RowView& rows, int count, int n, double p,
                                TypicalDistance& out) {
    out = TypicalDistance();
    if (count < 2) return ProcedureStatus::Done;
    const int sampled = std::min(count, kTypicalSampleRows);
    const auto pairs = static_cast<std::size_t>(sampled) * (sampled - 1) / 2;
    HostBlock<double> sample(static_cast<std::size_t>(sampled) * (n > 0 ? n : 1));
    HostBlock<double> distances(pairs);
    if (!sample || !distances) return ProcedureStatus::OutOfMemory;
    sampleRows(rows, count, n, sampled, sample.get(), out);
    const Metric metric = makeMetric(p, n);
    std::size_t k = 0;
    for (int i = 0; i + 1 < sampled; ++i) {
        const double* a = sample.get() + static_cast<std::size_t>(i) * n;
        for (int j = i + 1; j < sampled; ++j)
            distances[k++] =
                exactDistance(metric, a, sample.get() + static_cast<std::size_t>(j) * n);
    }
    out.median = median(distances.get(), pairs);
    out.rmax = 0.5 * out.median;
    if (!(std::isfinite(out.rmax) && out.rmax > 0)) out.rmax = 1.0;
    return ProcedureStatus::Done;
}

}  // namespace sphnet
