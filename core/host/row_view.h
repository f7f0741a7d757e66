// Read-only rows of a matrix of doubles as the caller holds them: a table of row pointers, or
// values at fixed steps (host column-major or row-major arrays, row slices). The procedures read
// their inputs through it: contiguous rows in place, others gathered a few at a time, never whole.
#pragma once

#include <cstddef>
#include <cstring>

#include "host_buffer.h"

namespace sphnet {

class RowView {
  public:
    RowView() = default;
    // Rows held by pointer (implicit: a row table is the plainest way to pass rows).
    RowView(const double* const* table) : table_(table) {}  // NOLINT(google-explicit-constructor)
    // Value (r, c) at data[r * rowStep + c * colStep].
    static RowView strided(const double* data, std::ptrdiff_t rowStep, std::ptrdiff_t colStep) {
        RowView view;
        view.data_ = data;
        view.rowStep_ = rowStep;
        view.colStep_ = colStep;
        return view;
    }
    // A host matrix of `rows` rows, stored column after column.
    static RowView columnMajor(const double* data, int rows) {
        return strided(data, 1, static_cast<std::ptrdiff_t>(rows));
    }

    // True when every row's values lie next to each other, so rows are read in place.
    bool rowsInPlace() const { return table_ != nullptr || colStep_ == 1; }

    double at(int r, int c) const {
        if (table_ != nullptr) return table_[r][c];
        return data_[r * rowStep_ + c * colStep_];
    }
    // Row r's `cols` values: in place, or copied into `buffer`.
    const double* row(int r, int cols, double* buffer) const {
        if (table_ != nullptr) return table_[r];
        const double* first = data_ + r * rowStep_;
        if (colStep_ == 1) return first;
        for (int c = 0; c < cols; ++c) buffer[c] = first[c * colStep_];
        return buffer;
    }
    // Rows [first, first + count) into `out`; rows not in place go to `buffer`, `cols` values
    // each, one after another. Column by column, so that each column's part is read in order.
    void rows(int first, int count, int cols, const double** out, double* buffer) const {
        if (rowsInPlace()) {
            for (int k = 0; k < count; ++k) out[k] = inPlaceRow(first + k);
            return;
        }
        gather(first, count, cols, buffer);
        for (int k = 0; k < count; ++k) out[k] = buffer + static_cast<std::ptrdiff_t>(k) * cols;
    }
    // Rows [first, first + count) copied into `out`, `cols` values each, one after another. A
    // band of rows at a time, so that both the columns read and the rows written stay in cache.
    void copyRows(int first, int count, int cols, double* out) const {
        constexpr int kBand = 8;
        const auto width = static_cast<std::size_t>(cols > 0 ? cols : 0);
        for (int k = 0; k < count; k += kBand) {
            const int band = count - k < kBand ? count - k : kBand;
            double* to = out + static_cast<std::size_t>(k) * width;
            if (!rowsInPlace()) {
                gather(first + k, band, cols, to);
                continue;
            }
            for (int b = 0; b < band; ++b) {
                const double* from = inPlaceRow(first + k + b);
                if (width != 0) std::memcpy(to + b * width, from, width * sizeof(double));
            }
        }
    }
    // True when pred(c, value) holds for every value of rows [0, rowCount); read in the order
    // the memory holds the values, stopping at the first that fails.
    template <typename Pred>
    bool allValues(int rowCount, int cols, Pred&& pred) const {
        if (rowCount <= 0) return true;  // no walk over the columns of no rows
        if (rowsInPlace()) {
            for (int r = 0; r < rowCount; ++r) {
                const double* values = inPlaceRow(r);
                for (int c = 0; c < cols; ++c) {
                    if (!pred(c, values[c])) return false;
                }
            }
            return true;
        }
        for (int c = 0; c < cols; ++c) {
            for (int r = 0; r < rowCount; ++r) {
                if (!pred(c, at(r, c))) return false;
            }
        }
        return true;
    }

  private:
    // Row r where rowsInPlace().
    const double* inPlaceRow(int r) const {
        return table_ != nullptr ? table_[r] : data_ + r * rowStep_;
    }
    // Strided rows into `buffer`, one after another: column by column, each column's part read
    // in order.
    void gather(int first, int count, int cols, double* buffer) const {
        for (int c = 0; c < cols; ++c) {
            const double* column = data_ + first * rowStep_ + c * colStep_;
            for (int k = 0; k < count; ++k)
                buffer[static_cast<std::ptrdiff_t>(k) * cols + c] = column[k * rowStep_];
        }
    }

    const double* const* table_ = nullptr;
    const double* data_ = nullptr;
    std::ptrdiff_t rowStep_ = 0;
    std::ptrdiff_t colStep_ = 1;
};

// A few rows of a view at a time, as a row table: room for `capacity` row pointers, and for
// as many rows of `cols` values when the view's rows are not in place (none for capacity 0:
// a matrix without rows may declare any number of columns).
class RowWindow {
  public:
    bool reserve(const RowView& view, int capacity, int cols) {
        const auto rowSlots = static_cast<std::size_t>(capacity > 0 ? capacity : 1);
        pointers_ = HostBlock<const double*>(rowSlots);
        const bool gathers = !view.rowsInPlace() && capacity > 0;
        if (gathers)
            values_ = HostBlock<double>(rowSlots * static_cast<std::size_t>(cols > 0 ? cols : 1));
        cols_ = cols;
        return pointers_ && (!gathers || values_);
    }
    // Rows [first, first + count) of `view`, count <= capacity; valid until the next call.
    const double* const* take(const RowView& view, int first, int count) {
        view.rows(first, count, cols_, pointers_.get(), values_.get());
        return pointers_.get();
    }

  private:
    HostBlock<const double*> pointers_;
    HostBlock<double> values_;
    int cols_ = 0;
};

}  // namespace sphnet
