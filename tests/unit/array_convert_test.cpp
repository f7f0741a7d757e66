// Host matrices to vectors and row tables, and vectors and column-major values back: shapes,
// element order, warnings, and what happens to the caller's memory when the host runs out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array_convert.h"
#include "standin_host.h"
#include "test_support.h"

using namespace sphnet;
using testing_support::doubles;

namespace {

const char kVectorShapeWarning[] =
    "mxArray1D_to_cArray1D: mxArray argument passed was not appropriate!";
const char kVectorDimensionsWarning[] =
    "mxArray1D_to_cArray1D: Argument passed was not appropriate!";
const char kTableWarning[] = "mxArray2D_to_cArray2D: mxArray argument passed was not appropriate!";

TEST(VectorFromHost, RowsColumnsAndScalarsGiveTheirElementsInOrder) {
    struct Case {
        std::vector<mwSize> dims;
        std::vector<double> values;
    };
    for (const Case& c :
         {Case{{1, 5}, {1, 2, 3, 4, 5}}, Case{{5, 1}, {5, 4, 3, 2, 1}}, Case{{1, 1}, {-7.5}}}) {
        const standin::Array host = doubles(c.dims, c.values);
        standin::Scope scope;
        int count = -1;
        double* vector = mxArray1D_to_cArray1D(&count, host.get());
        ASSERT_NE(vector, nullptr);
        ASSERT_EQ(count, static_cast<int>(c.values.size()));
        EXPECT_EQ(std::vector<double>(vector, vector + count), c.values);
        const standin::CallResult r = scope.finish();
        EXPECT_TRUE(r.warnings.empty());
        EXPECT_EQ(r.hostBlocksReclaimed, 1);  // the vector came from the host allocator
    }
}

TEST(VectorFromHost, EmptyVectorsGiveCountZeroAndAUsableBlock) {
    for (const std::vector<mwSize>& dims : {std::vector<mwSize>{1, 0}, {0, 1}}) {
        const standin::Array host = doubles(dims);
        standin::Scope scope;
        int count = -1;
        // A null here would read as running out of memory to every caller.
        EXPECT_NE(mxArray1D_to_cArray1D(&count, host.get()), nullptr);
        EXPECT_EQ(count, 0);
        EXPECT_TRUE(scope.finish().warnings.empty());
    }
}

TEST(VectorFromHost, WrongShapesWarnAndGiveNothing) {
    struct Case {
        std::vector<mwSize> dims;
        const char* warning;
    };
    for (const Case& c :
         {Case{{2, 3}, kVectorShapeWarning}, Case{{0, 0}, kVectorShapeWarning},
          Case{{1, 5, 2}, kVectorDimensionsWarning}, Case{{1, 1, 1}, kVectorDimensionsWarning}}) {
        const standin::Array host = doubles(c.dims);
        standin::Scope scope;
        int count = -1;
        EXPECT_EQ(mxArray1D_to_cArray1D(&count, host.get()), nullptr);
        EXPECT_EQ(count, 0);
        const standin::CallResult r = scope.finish();
        EXPECT_EQ(r.warnings, std::vector<std::string>{c.warning});
        EXPECT_EQ(r.allocationAttempts, 0);
    }
}

TEST(VectorFromHost, AllocationFailureIsSilentAndKeepsTheCount) {
    const standin::Array host = doubles({1, 5}, {1, 2, 3, 4, 5});
    standin::Scope scope({1});
    int count = -1;
    EXPECT_EQ(mxArray1D_to_cArray1D(&count, host.get()), nullptr);
    EXPECT_EQ(count, 5);
    EXPECT_TRUE(scope.finish().warnings.empty());
}

TEST(TableFromHost, RowsAreTheHostRows) {
    // Column-major [a b c d e f] of a 2x3 matrix: rows {a c e} and {b d f}.
    const standin::Array host = standin::matrix(2, 3, {1, 2, 3, 4, 5, 6});
    standin::Scope scope;
    int rows = -1;
    int cols = -1;
    double** table = mxArray2D_to_cArray2D(&rows, &cols, host.get());
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(rows, 2);
    ASSERT_EQ(cols, 3);
    EXPECT_EQ(std::vector<double>(table[0], table[0] + 3), (std::vector<double>{1, 3, 5}));
    EXPECT_EQ(std::vector<double>(table[1], table[1] + 3), (std::vector<double>{2, 4, 6}));
    EXPECT_EQ(table[1], table[0] + 3);  // the rows follow each other in one block
    const standin::CallResult r = scope.finish();
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.hostBlocksReclaimed, 1);
}

TEST(TableFromHost, RowsPastTheFirstBandsAreTheHostRows) {
    // Rows are copied a band at a time: 19 rows end in a partial band.
    const int rowCount = 19, colCount = 5;
    std::vector<double> values(rowCount * colCount);
    for (std::size_t v = 0; v < values.size(); ++v) values[v] = static_cast<double>(v);
    const standin::Array host = standin::matrix(rowCount, colCount, values);
    standin::Scope scope;
    int rows = -1;
    int cols = -1;
    double** table = mxArray2D_to_cArray2D(&rows, &cols, host.get());
    ASSERT_NE(table, nullptr);
    for (int r = 0; r < rowCount; ++r) {
        for (int c = 0; c < colCount; ++c)
            ASSERT_EQ(table[r][c], values[c * rowCount + r]) << r << "," << c;
    }
    scope.finish();
}

TEST(TableFromHost, EmptyMatricesKeepTheirSizes) {
    struct Case {
        mwSize rows, cols;
    };
    for (const Case& c : {Case{0, 4}, Case{3, 0}, Case{0, 0}}) {
        const standin::Array host = doubles({c.rows, c.cols});
        standin::Scope scope;
        int rows = -1;
        int cols = -1;
        EXPECT_NE(mxArray2D_to_cArray2D(&rows, &cols, host.get()), nullptr)
            << c.rows << "x" << c.cols;
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(cols, c.cols);
        EXPECT_TRUE(scope.finish().warnings.empty());
    }
}

TEST(TableFromHost, MoreThanTwoDimensionsWarnAndZeroTheSizes) {
    const standin::Array host = doubles({2, 2, 2});
    standin::Scope scope;
    int rows = -1;
    int cols = -1;
    EXPECT_EQ(mxArray2D_to_cArray2D(&rows, &cols, host.get()), nullptr);
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(cols, 0);
    EXPECT_EQ(scope.finish().warnings, std::vector<std::string>{kTableWarning});
}

TEST(TableFromHost, AllocationFailureGivesNullWithoutWarning) {
    const standin::Array host = standin::matrix(3, 2, {1, 2, 3, 4, 5, 6});
    standin::Scope scope({1});  // the one block of row pointers and rows
    int rows = -1;
    int cols = -1;
    EXPECT_EQ(mxArray2D_to_cArray2D(&rows, &cols, host.get()), nullptr);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(cols, 2);
    const standin::CallResult r = scope.finish();
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.allocationAttempts, 1);
    EXPECT_EQ(r.hostBlocksReclaimed, 0);
    EXPECT_TRUE(r.faults.empty());
}

TEST(VectorToHost, MakesAColumnAndLeavesTheVectorToTheCaller) {
    for (int count : {0, 1, 4}) {
        standin::Scope scope;
        auto* vector = static_cast<double*>(mxCalloc(count > 0 ? count : 1, sizeof(double)));
        for (int i = 0; i < count; ++i) vector[i] = 10.0 * i - 1;
        mxArray* host = cArray1D_to_mxArray1D(count, vector);
        ASSERT_NE(host, nullptr);
        EXPECT_EQ(standin::rows(host), static_cast<std::size_t>(count));
        EXPECT_EQ(standin::cols(host), 1u);
        std::vector<double> expected;
        for (int i = 0; i < count; ++i) expected.push_back(10.0 * i - 1);
        EXPECT_EQ(standin::data(host), expected);
        mxFree(vector);  // a fault here would mean the conversion had freed it
        const standin::CallResult r = scope.finish();
        EXPECT_EQ(r.hostBlocksReclaimed, 0);
        EXPECT_TRUE(r.faults.empty());
    }
}

TEST(VectorToHost, FailedCreationLeavesTheVectorToTheCaller) {
    standin::Scope scope({2});  // the vector is allocation 1, the host array allocation 2
    auto* vector = static_cast<double*>(mxCalloc(3, sizeof(double)));
    ASSERT_NE(vector, nullptr);
    vector[2] = 42;
    EXPECT_EQ(cArray1D_to_mxArray1D(3, vector), nullptr);
    EXPECT_EQ(vector[2], 42);
    mxFree(vector);  // a fault here would mean the conversion had freed it already
    const standin::CallResult r = scope.finish();
    EXPECT_TRUE(r.faults.empty());
    EXPECT_EQ(r.hostBlocksReclaimed, 0);
}

// Values from the host allocator, as the procedures hand them over.
double* hostValues(const std::vector<double>& values) {
    auto* block = static_cast<double*>(mxCalloc(values.size() + 1, sizeof(double)));
    for (std::size_t i = 0; i < values.size(); ++i) block[i] = values[i];
    return block;
}

TEST(ColumnsToHost, KeepsTheColumnOrderAndLeavesTheValuesToTheCaller) {
    standin::Scope scope;
    double* values = hostValues({1, 4, 2, 5, 3, 6});
    mxArray* host = cColumns_to_mxArray2D(2, 3, values);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(standin::rows(host), 2u);
    EXPECT_EQ(standin::cols(host), 3u);
    EXPECT_EQ(standin::data(host), (std::vector<double>{1, 4, 2, 5, 3, 6}));
    mxFree(values);
    const standin::CallResult r = scope.finish();
    EXPECT_EQ(r.hostBlocksReclaimed, 0);
    EXPECT_TRUE(r.faults.empty());
}

TEST(ColumnsToHost, NoRowsGivesAnEmptyMatrixWithItsColumns) {
    standin::Scope scope;
    const double none = 0;
    mxArray* host = cColumns_to_mxArray2D(0, 5, &none);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(standin::rows(host), 0u);
    EXPECT_EQ(standin::cols(host), 5u);
}

TEST(ColumnsToHost, FailedCreationLeavesTheValuesToTheCaller) {
    standin::Scope scope({2});  // the values are allocation 1, the host array allocation 2
    double* values = hostValues({1, 3, 2, 4});
    EXPECT_EQ(cColumns_to_mxArray2D(2, 2, values), nullptr);
    EXPECT_EQ(values[3], 4);
    mxFree(values);
    const standin::CallResult r = scope.finish();
    EXPECT_TRUE(r.faults.empty());
    EXPECT_EQ(r.hostBlocksReclaimed, 0);
}

}  // namespace
