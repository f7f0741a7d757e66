#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "row_view.h"
#include "standin_host.h"

namespace {

using sphnet::RowView;
using sphnet::RowWindow;

constexpr int kRows = 5;
constexpr int kCols = 3;

double value(int r, int c) {
    return 10.0 * r + c;
}

std::vector<double> rowOf(const double* row, int cols) {
    return std::vector<double>(row, row + cols);
}

std::vector<double> expectedRow(int r, int cols) {
    std::vector<double> row;
    for (int c = 0; c < cols; ++c) row.push_back(value(r, c));
    return row;
}

// The same rows, values (r, c) = 10 r + c, in each layout the hosts hand over.
TEST(RowView, EveryLayoutGivesTheSameRows) {
    standin::Scope scope;
    std::vector<double> columnMajor(kRows * kCols);
    constexpr int kPadded = kCols + 2;  // row slices of a wider row-major array
    std::vector<double> padded(kRows * kPadded, -1.0);
    std::vector<std::vector<double>> rows(kRows);
    std::vector<const double*> table;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            columnMajor[c * kRows + r] = value(r, c);
            padded[r * kPadded + c] = value(r, c);
        }
        rows[r] = expectedRow(r, kCols);
        table.push_back(rows[r].data());
    }
    const struct {
        const char* name;
        RowView view;
        const double* inPlace;  // where row 0 lies when rows are read in place, else null
        int rowStep;
    } layouts[] = {
        {"column-major", RowView::columnMajor(columnMajor.data(), kRows), nullptr, 0},
        {"strided rows", RowView::strided(padded.data(), kPadded, 1), padded.data(), kPadded},
        {"row table", table.data(), rows[0].data(), 0},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        EXPECT_EQ(layout.view.rowsInPlace(), layout.inPlace != nullptr);
        EXPECT_EQ(layout.view.at(4, 2), value(4, 2));
        RowWindow window;
        ASSERT_TRUE(window.reserve(layout.view, 3, kCols));
        const double* const* block = window.take(layout.view, 2, 3);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(rowOf(block[k], kCols), expectedRow(2 + k, kCols)) << k;
        if (layout.rowStep != 0) {
            EXPECT_EQ(block[1], layout.inPlace + 3 * layout.rowStep);
        }
        // The centres of node rows: the leading columns, packed one row after another.
        std::vector<double> packed(kRows * (kCols - 1));
        layout.view.copyRows(0, kRows, kCols - 1, packed.data());
        for (int r = 0; r < kRows; ++r)
            EXPECT_EQ(rowOf(&packed[r * (kCols - 1)], kCols - 1), expectedRow(r, kCols - 1)) << r;
    }
    // A matrix without rows may declare any number of columns: no room is taken for them.
    RowWindow none;
    EXPECT_TRUE(none.reserve(RowView::columnMajor(nullptr, 0), 0, INT_MAX));
}

}  // namespace
