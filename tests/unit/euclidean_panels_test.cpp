// The blocked squared distances, in every instruction set this processor has: each figure D lies
// within the stated allowance of the exact squared distance, and the selection marks exactly the
// nodes its rule names, from the D it hands back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "euclidean_panels.h"
#include "standin_host.h"

using sphnet::EuclideanPanels;

namespace {

constexpr int kPanel = EuclideanPanels::kPanel;

class PanelKernels : public ::testing::TestWithParam<sphnet::InstructionSet> {};

const bool extendedPrecision = [] {
    volatile long double one = 1.0L;
    volatile long double tiny = 0x1p-60L;
    return one + tiny != one;
}();

// Centre and pattern coordinates, by kind: Gaussian around an offset, or adversarial for single
// precision: every value rounding to float by almost half a unit the same way (D then misses
// most of its exact value), or magnitudes at the single range's edges, zeros among them.
enum class Values { Gaussian, Rounding, RangeEdges };

TEST_P(PanelKernels, StayWithinTheAllowanceAndSelectByTheRule) {
    if (sphnet::availableInstructions(GetParam()) != GetParam())
        GTEST_SKIP() << "not on this processor";
    standin::Scope scope;
    std::mt19937 rng(11);
    std::normal_distribution<double> normal;
    auto draw = [&](Values values, double offset) {
        if (values == Values::Rounding) return 1.0 + 0x1p-24 - 0x1p-40;
        if (values == Values::RangeEdges) {
            const double nudge = 0x1p-30 * static_cast<double>(rng() % 64);
            const double edges[] = {EuclideanPanels::kSingleLargest * (1.0 - nudge),
                                    -EuclideanPanels::kSingleLargest * (1.0 - nudge),
                                    EuclideanPanels::kSingleSmallest * (1.0 + nudge), 0.0, 1.0};
            return edges[rng() % 5];
        }
        return offset + normal(rng);
    };
    struct Case {
        EuclideanPanels::Precision precision;
        Values values;
        double offset;
        bool fromOffset;  // single precision measures from the offset
    };
    using P = EuclideanPanels::Precision;
    const Case cases[] = {
        {P::Double, Values::Gaussian, 0.0, false},  {P::Double, Values::Gaussian, 1e6, false},
        {P::Single, Values::Gaussian, 0.0, false},  {P::Single, Values::Gaussian, 1e6, false},
        {P::Single, Values::Gaussian, 1e6, true},   {P::Single, Values::Rounding, 0.0, false},
        {P::Single, Values::RangeEdges, 0.0, false}};
    const int dimensions[] = {1, 3, 8, 17, 64};
    for (const Case& c : cases) {
        for (int n : dimensions) {
            // Far from the origin most digits of |x|^2 + |c|^2 - 2 x.c cancel: the allowance must
            // still hold.
            const std::vector<double> origin(n, c.fromOffset ? c.offset : 0.0);
            EuclideanPanels panels;
            ASSERT_TRUE(panels.init(n, GetParam(), c.precision, origin.data()));
            const int nodes = 37;
            std::vector<std::vector<double>> centres(nodes, std::vector<double>(n));
            std::vector<double> own(3 * kPanel), other(3 * kPanel), labels(3 * kPanel, 0.0);
            std::vector<double> nodeSlack(3 * kPanel, std::numeric_limits<double>::infinity());
            for (int j = 0; j < nodes; ++j) {
                for (double& v : centres[j]) v = draw(c.values, c.offset);
                ASSERT_TRUE(panels.append(centres[j].data()));
                own[j] = 2.0 * n * std::fabs(normal(rng));
                other[j] = n * std::fabs(normal(rng));
                labels[j] = j % 3;
                nodeSlack[j] = panels.kappa() * panels.squaredNorm(j);
            }
            std::vector<std::vector<double>> xs(8, std::vector<double>(n));
            std::vector<std::vector<float>> rounded(8, std::vector<float>(n));
            const double* x[8];
            const float* single[8];
            double norms[8], slack[8], rowLabels[8], least[8];
            for (int r = 0; r < 8; ++r) {
                for (double& v : xs[r])
                    v = c.values == Values::Rounding ? 1.0 : draw(c.values, c.offset);
                // Some patterns sit on a node: D near 0, where cancellation is worst.
                if (r % 4 == 0) xs[r] = centres[r];
                x[r] = xs[r].data();
                panels.roundToSingle(x[r], rounded[r].data());
                single[r] = rounded[r].data();
                norms[r] = panels.squaredNorm(x[r]);
                slack[r] = panels.kappa() * norms[r] + panels.tinyError();
                rowLabels[r] = r % 3;
                least[r] = std::numeric_limits<double>::infinity();
            }
            if (c.precision == P::Single) {
                ASSERT_TRUE(EuclideanPanels::holdsRowsInSingle(x, 8, n, origin.data()));
            }
            // One panel per call, and the widest calls with a narrower one for the last panel.
            for (int call = 0; call < 4; ++call) {
                const int widest = call < 2 ? 1 : EuclideanPanels::kWidest;
                const int rows = call % 2 == 0 ? 1 : 8;
                for (int q = 0; q < panels.panels(); q += widest) {
                    const int width = std::min(widest, panels.panels() - q);
                    unsigned masks[8], near[8];
                    double D[8 * EuclideanPanels::kLanes];
                    double before[8];
                    std::copy(least, least + 8, before);
                    EuclideanPanels::Selection s{own.data() + q * kPanel,
                                                 other.data() + q * kPanel,
                                                 labels.data() + q * kPanel,
                                                 rowLabels,
                                                 slack,
                                                 nodeSlack.data() + q * kPanel,
                                                 1.0,
                                                 least,
                                                 near,
                                                 single};
                    panels.select(x, norms, rows, q, width, s, masks, D);
                    for (int r = 0; r < rows; ++r) {
                        double expectedLeast = before[r];
                        unsigned expectedMask = 0, expectedNear = 0;
                        for (int l = 0; l < width * kPanel && q * kPanel + l < nodes; ++l) {
                            const int j = q * kPanel + l;
                            const double d = D[r * EuclideanPanels::kLanes + l];
                            long double exact = 0;
                            for (int i = 0; i < n; ++i) {
                                const long double t =
                                    static_cast<long double>(x[r][i]) - centres[j][i];
                                exact += t * t;
                            }
                            // Where long double is no wider than double (under valgrind), the
                            // reference itself may be off by its n + 2 roundings.
                            const double referenceError =
                                extendedPrecision ? 0.0
                                                  : (n + 3) * 0x1p-53 * static_cast<double>(exact);
                            const double allowance =
                                panels.kappa() * (norms[r] + panels.squaredNorm(j)) +
                                panels.tinyError() + referenceError;
                            EXPECT_LE(std::fabs(static_cast<long double>(d) - exact), allowance)
                                << "n " << n << " node " << j << " row " << r;
                            const double bound = labels[j] == rowLabels[r] ? own[j] : other[j];
                            if (d <= bound + slack[r]) expectedMask |= 1u << l;
                            expectedLeast = std::min(expectedLeast, d + nodeSlack[j]);
                        }
                        EXPECT_EQ(masks[r], expectedMask)
                            << "n " << n << " panel " << q << " width " << width;
                        EXPECT_EQ(least[r], expectedLeast);
                        const double limit = EuclideanPanels::nearestLimit(1.0, least[r], slack[r]);
                        for (int l = 0; l < width * kPanel && q * kPanel + l < nodes; ++l) {
                            const double low =
                                D[r * EuclideanPanels::kLanes + l] - nodeSlack[q * kPanel + l];
                            if (low <= limit) expectedNear |= 1u << l;
                        }
                        EXPECT_EQ(near[r], expectedNear) << "width " << width;
                    }
                }
            }
        }
    }
}

// Single precision takes only what stays normal and finite in float from the origin.
TEST(SinglePrecisionPanels, SuitOnlyValuesWithinTheFloatRange) {
    const double origin[2] = {0.0, 0x1p-59};
    auto suits = [&](double a, double b) {
        const double row[2] = {a, b};
        const double* rows[1] = {row};
        return EuclideanPanels::holdsRowsInSingle(rows, 1, 2, origin);
    };
    EXPECT_TRUE(suits(0.0, 0x1p-59));
    EXPECT_TRUE(
        suits(-EuclideanPanels::kSingleLargest, 0x1p-59 + EuclideanPanels::kSingleSmallest));
    EXPECT_FALSE(suits(2.0 * EuclideanPanels::kSingleLargest, 0.0));
    EXPECT_FALSE(suits(0.5 * EuclideanPanels::kSingleSmallest, 0.0));
    EXPECT_FALSE(suits(0.0, 0x1p-59 + 0x1p-62));
}

INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, PanelKernels,
                         ::testing::Values(sphnet::InstructionSet::Portable,
                                           sphnet::InstructionSet::Avx2,
                                           sphnet::InstructionSet::Avx512));

}  // namespace
