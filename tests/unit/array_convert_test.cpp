// Vectors and column-major values to host matrices: shapes, element order, and what happens to
// the caller's memory when the host runs out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array_convert.h"
#include "standin_host.h"
#include "test_support.h"

using namespace sphnet;

namespace {

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
