// The blocked squared distances, in every instruction set this processor has: each figure D lies
// within the stated allowance of the exact squared distance, and the selection marks exactly the
// nodes its rule names, from the D it hands back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "euclidean_panels.h"
#include "standin_host.h"

using sphnet::EuclideanPanels;

namespace {

constexpr int kPanel = EuclideanPanels::kPanel;

class PanelKernels : public ::testing::TestWithParam<EuclideanPanels::Vectors> {};

const bool extendedPrecision = [] {
    volatile long double one = 1.0L;
    volatile long double tiny = 0x1p-60L;
    return one + tiny != one;
}();

TEST_P(PanelKernels, StayWithinTheAllowanceAndSelectByTheRule) {
    if (!EuclideanPanels::available(GetParam())) GTEST_SKIP() << "not on this processor";
    standin::Scope scope;
    std::mt19937 rng(11);
    std::normal_distribution<double> normal;
    const int dimensions[] = {1, 3, 8, 17, 64};
    for (int n : dimensions) {
        // Far from the origin most digits of |x|^2 + |c|^2 - 2 x.c cancel: the allowance must
        // still hold.
        for (double offset : {0.0, 1e6}) {
            EuclideanPanels panels;
            panels.init(n, GetParam());
            const int nodes = 37;
            std::vector<std::vector<double>> centres(nodes, std::vector<double>(n));
            std::vector<double> own(3 * kPanel), other(3 * kPanel), labels(3 * kPanel, 0.0);
            std::vector<double> nodeSlack(3 * kPanel, std::numeric_limits<double>::infinity());
            for (int j = 0; j < nodes; ++j) {
                for (double& v : centres[j]) v = offset + normal(rng);
                ASSERT_TRUE(panels.append(centres[j].data()));
                own[j] = 2.0 * n * std::fabs(normal(rng));
                other[j] = n * std::fabs(normal(rng));
                labels[j] = j % 3;
                nodeSlack[j] = panels.kappa() * panels.squaredNorm(j);
            }
            std::vector<std::vector<double>> xs(8, std::vector<double>(n));
            const double* x[8];
            double norms[8], slack[8], rowLabels[8], least[8];
            for (int r = 0; r < 8; ++r) {
                for (double& v : xs[r]) v = offset + normal(rng);
                // Some patterns sit on a node: D near 0, where cancellation is worst.
                if (r % 4 == 0) xs[r] = centres[r];
                x[r] = xs[r].data();
                norms[r] = panels.squaredNorm(x[r]);
                slack[r] = panels.kappa() * norms[r] + EuclideanPanels::kTinyError;
                rowLabels[r] = r % 3;
                least[r] = std::numeric_limits<double>::infinity();
            }
            for (int rows = 1; rows <= 8; rows += 7) {
                for (int q = 0; q < panels.panels(); ++q) {
                    unsigned masks[8], near[8];
                    double D[8 * kPanel];
                    double before[8];
                    std::copy(least, least + 8, before);
                    EuclideanPanels::Selection s{own.data() + q * kPanel, other.data() + q * kPanel,
                                                 labels.data() + q * kPanel, rowLabels, slack,
                                                 nodeSlack.data() + q * kPanel, 1.0, least, near};
                    panels.select(x, norms, rows, q, s, masks, D);
                    for (int r = 0; r < rows; ++r) {
                        double expectedLeast = before[r];
                        unsigned expectedMask = 0, expectedNear = 0;
                        for (int l = 0; l < kPanel && q * kPanel + l < nodes; ++l) {
                            const int j = q * kPanel + l;
                            const double d = D[r * kPanel + l];
                            long double exact = 0;
                            for (int i = 0; i < n; ++i) {
                                const long double t = static_cast<long double>(x[r][i]) - centres[j][i];
                                exact += t * t;
                            }
                            // Where long double is no wider than double (under valgrind), the
                            // reference itself may be off by its n + 2 roundings.
                            const double referenceError =
                                extendedPrecision ? 0.0 : (n + 3) * 0x1p-53 * static_cast<double>(exact);
                            const double allowance = panels.kappa() * (norms[r] + panels.squaredNorm(j)) +
                                                     EuclideanPanels::kTinyError + referenceError;
                            EXPECT_LE(std::fabs(static_cast<long double>(d) - exact), allowance)
                                << "n " << n << " node " << j << " row " << r;
                            const double bound = labels[j] == rowLabels[r] ? own[j] : other[j];
                            if (d <= bound + slack[r]) expectedMask |= 1u << l;
                            expectedLeast = std::min(expectedLeast, d + nodeSlack[j]);
                        }
                        EXPECT_EQ(masks[r], expectedMask) << "n " << n << " panel " << q << " row " << r;
                        EXPECT_EQ(least[r], expectedLeast);
                        const double limit = EuclideanPanels::nearestLimit(1.0, least[r], slack[r]);
                        for (int l = 0; l < kPanel && q * kPanel + l < nodes; ++l) {
                            if (D[r * kPanel + l] - nodeSlack[q * kPanel + l] <= limit) expectedNear |= 1u << l;
                        }
                        EXPECT_EQ(near[r], expectedNear);
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, PanelKernels,
                         ::testing::Values(EuclideanPanels::Vectors::Portable,
                                           EuclideanPanels::Vectors::Avx2,
                                           EuclideanPanels::Vectors::Avx512));

}  // namespace
