#include "euclidean_panels.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "compiler_builtins.h"

namespace sphnet {

namespace {

constexpr int kPanel = EuclideanPanels::kPanel;
constexpr int kGroup = EuclideanPanels::kGroup;
constexpr int kLanes = EuclideanPanels::kLanes;
template <class T>
using Block = EuclideanPanels::Block<T>;

// sums[r * kPanel + l] = x[r] . (centre of lane l), summed in T. Any order of summation will
// do: the allowance holds for all of them. Each coordinate's products go to `sums` through a
// local row: in that form, and not inlined where `sums` is a local array, GCC and Clang keep a
// row of lanes in vectors.
template <class T>
SPHNET_NEVER_INLINE void dotsPortable(const T* const* x, int rows, const T* panel, int n, T* sums) {
    for (int r = 0; r < rows; ++r) {
        T* row = sums + r * kPanel;
        std::memset(row, 0, kPanel * sizeof(T));
        for (int i = 0; i < n; ++i) {
            const T xi = x[r][i];
            const T* c = panel + static_cast<std::size_t>(i) * kPanel;
            T next[kPanel];
            for (int l = 0; l < kPanel; ++l) next[l] = row[l] + xi * c[l];
            std::memcpy(row, next, sizeof next);
        }
    }
}

// The lanes whose flag is set, as a mask: flags are doubles, 1 or 0, as wide as the values
// compared (GCC vectorizes the loops that set them only so), read a panel at a time so that the
// loop unrolls.
inline unsigned laneMask(const double* flags, int lanes) {
    unsigned mask = 0;
    for (int at = 0; at < lanes; at += kPanel) {
        for (int l = 0; l < kPanel; ++l)
            mask |= static_cast<unsigned>(flags[at + l] != 0.0) << (at + l);
    }
    return mask;
}

// The products and the selection from D, for processors without the vector kernels below, in
// branch-free loops over the lanes that compilers vectorize.
template <class T>
void selectPortable(const Block<T>& block, const EuclideanPanels::Selection& selection) {
    // Copies: a store through an output may alias the referenced structs' fields (vector stores
    // alias anything), never a local, so the pointers stay in registers.
    const Block<T> b = block;
    const EuclideanPanels::Selection s = selection;
    T sums[kGroup * kPanel];
    const std::size_t panelSize = static_cast<std::size_t>(b.n) * kPanel;
    const int lanes = b.width * kPanel;
    for (int w = 0; w < b.width; ++w) {
        dotsPortable(b.x, b.rows, b.panel + w * panelSize, b.n, sums);
        for (int r = 0; r < b.rows; ++r) {
            double* out = b.out + r * kLanes + w * kPanel;
            const double* norms = b.norms + w * kPanel;
            for (int l = 0; l < kPanel; ++l)
                out[l] = (b.xNorms[r] + norms[l]) - 2.0 * static_cast<double>(sums[r * kPanel + l]);
        }
    }
    double flags[kLanes];
    for (int r = 0; r < b.rows; ++r) {
        const double* d = b.out + r * kLanes;
        const double slack = s.slack[r];
        if (s.own != nullptr && s.nodeLabels != nullptr) {
            const double label = s.labels[r];
            for (int l = 0; l < lanes; ++l) {
                const double own = s.own[l], other = s.other[l];
                flags[l] = d[l] <= (s.nodeLabels[l] == label ? own : other) + slack ? 1.0 : 0.0;
            }
        } else if (s.own != nullptr) {
            for (int l = 0; l < lanes; ++l) flags[l] = d[l] <= s.own[l] + slack ? 1.0 : 0.0;
        }
        b.masks[r] = s.own != nullptr ? laneMask(flags, lanes) : 0;
        if (s.nodeSlack == nullptr) continue;
        // Four running minima, as the AVX2 kernel keeps them: four chains of comparisons, not one.
        const auto lower = [](double least, double high) { return high < least ? high : least; };
        const double* nodeSlack = s.nodeSlack;
        double least[4];
        for (double& v : least) v = std::numeric_limits<double>::infinity();
        for (int l = 0; l < lanes; l += 4) {
            least[0] = lower(least[0], d[l] + nodeSlack[l]);
            least[1] = lower(least[1], d[l + 1] + nodeSlack[l + 1]);
            least[2] = lower(least[2], d[l + 2] + nodeSlack[l + 2]);
            least[3] = lower(least[3], d[l + 3] + nodeSlack[l + 3]);
        }
        double rowLeast = s.least[r];
        for (const double high : least) rowLeast = lower(rowLeast, high);
        s.least[r] = rowLeast;
        const double limit = EuclideanPanels::nearestLimit(s.nearestFactor, rowLeast, slack);
        for (int l = 0; l < lanes; ++l) flags[l] = d[l] - s.nodeSlack[l] <= limit ? 1.0 : 0.0;
        s.nearMasks[r] = laneMask(flags, lanes);
    }
}

#if SPHNET_X86_KERNELS
// Rows patterns against sixteen nodes: 2 * Rows accumulators (low: lanes 0-7, high: 8-15), each
// coordinate one broadcast per pattern and two multiply-adds.
template <int Rows>
__attribute__((target("avx512f"), always_inline)) inline void productsAvx512(const double* const* x,
                                                                             const double* panel,
                                                                             int n, __m512d* low,
                                                                             __m512d* high) {
    const double* xr[Rows];
#pragma GCC unroll 8
    for (int r = 0; r < Rows; ++r) {
        low[r] = _mm512_setzero_pd();
        high[r] = _mm512_setzero_pd();
        xr[r] = x[r];
    }
    for (int i = 0; i < n; ++i) {
        const __m512d c0 = _mm512_loadu_pd(panel + static_cast<std::size_t>(i) * kPanel);
        const __m512d c1 = _mm512_loadu_pd(panel + static_cast<std::size_t>(i) * kPanel + 8);
#pragma GCC unroll 8
        for (int r = 0; r < Rows; ++r) {
            const __m512d xi = _mm512_set1_pd(xr[r][i]);
            low[r] = _mm512_fmadd_pd(xi, c0, low[r]);
            high[r] = _mm512_fmadd_pd(xi, c1, high[r]);
        }
    }
}

// The same in single precision, against Width panels at once (acc[w * Rows + r]): each
// coordinate Width panel loads and Rows broadcasts serve Width * Rows multiply-adds of sixteen
// floats.
template <int Rows, int Width>
__attribute__((target("avx512f"), always_inline)) inline void productsAvx512(const float* const* x,
                                                                             const float* panel,
                                                                             std::size_t panelSize,
                                                                             int n, __m512* acc) {
    const float* xr[Rows];
#pragma GCC unroll 16
    for (int a = 0; a < Width * Rows; ++a) acc[a] = _mm512_setzero_ps();
#pragma GCC unroll 8
    for (int r = 0; r < Rows; ++r) xr[r] = x[r];
    for (int i = 0; i < n; ++i) {
        __m512 c[Width];
#pragma GCC unroll 2
        for (int w = 0; w < Width; ++w)
            c[w] = _mm512_loadu_ps(panel + w * panelSize + static_cast<std::size_t>(i) * kPanel);
#pragma GCC unroll 8
        for (int r = 0; r < Rows; ++r) {
            const __m512 xi = _mm512_set1_ps(xr[r][i]);
#pragma GCC unroll 2
            for (int w = 0; w < Width; ++w)
                acc[w * Rows + r] = _mm512_fmadd_ps(xi, c[w], acc[w * Rows + r]);
        }
    }
}

// Sixteen float sums widened to double, lanes 0-7 and 8-15.
__attribute__((target("avx512f"), always_inline)) inline void widen(__m512 sums, __m512d& low,
                                                                    __m512d& high) {
    // The masked forms: GCC 12 warns of the undefined source the unmasked ones use.
    const __m256d zero = _mm256_setzero_pd();
    const __m512d none = _mm512_setzero_pd();
    const __m512d both = _mm512_castps_pd(sums);
    low = _mm512_mask_cvtps_pd(none, 0xFF,
                               _mm256_castpd_ps(_mm512_mask_extractf64x4_pd(zero, 0xF, both, 0)));
    high = _mm512_mask_cvtps_pd(none, 0xFF,
                                _mm256_castpd_ps(_mm512_mask_extractf64x4_pd(zero, 0xF, both, 1)));
}

// Pattern r against the sixteen lanes from `at` on, from their dot products: D to out, the
// lanes that may cover into `cover`, and D + nodeSlack folded into the pattern's running least.
template <class T>
__attribute__((target("avx512f"), always_inline)) inline void decideAvx512(
    const Block<T>& b, const EuclideanPanels::Selection& s, int r, int at, __m512d dot0,
    __m512d dot1, unsigned& cover, __m512d& least) {
    const double* norms = b.norms;
    double* out = b.out;
    const __m512d xn = _mm512_set1_pd(b.xNorms[r]);
    const __m512d minusTwo = _mm512_set1_pd(-2.0);
    // (|x|^2 + |c|^2) - 2 x.c, rounded as the portable version rounds it.
    const __m512d d0 =
        _mm512_fmadd_pd(minusTwo, dot0, _mm512_add_pd(xn, _mm512_loadu_pd(norms + at)));
    const __m512d d1 =
        _mm512_fmadd_pd(minusTwo, dot1, _mm512_add_pd(xn, _mm512_loadu_pd(norms + at + 8)));
    _mm512_storeu_pd(out + r * kLanes + at, d0);
    _mm512_storeu_pd(out + r * kLanes + at + 8, d1);
    if (s.own != nullptr) {
        __m512d b0 = _mm512_loadu_pd(s.own + at), b1 = _mm512_loadu_pd(s.own + at + 8);
        if (s.nodeLabels != nullptr) {
            const __m512d label = _mm512_set1_pd(s.labels[r]);
            const __mmask8 same0 =
                _mm512_cmp_pd_mask(_mm512_loadu_pd(s.nodeLabels + at), label, _CMP_EQ_OQ);
            const __mmask8 same1 =
                _mm512_cmp_pd_mask(_mm512_loadu_pd(s.nodeLabels + at + 8), label, _CMP_EQ_OQ);
            b0 = _mm512_mask_blend_pd(same0, _mm512_loadu_pd(s.other + at), b0);
            b1 = _mm512_mask_blend_pd(same1, _mm512_loadu_pd(s.other + at + 8), b1);
        }
        const __m512d slack = _mm512_set1_pd(s.slack[r]);
        const unsigned m0 = _mm512_cmp_pd_mask(d0, _mm512_add_pd(b0, slack), _CMP_LE_OQ);
        const unsigned m1 = _mm512_cmp_pd_mask(d1, _mm512_add_pd(b1, slack), _CMP_LE_OQ);
        cover |= (m0 | (m1 << 8)) << at;
    }
    if (s.nodeSlack != nullptr) {
        const __m512d high0 = _mm512_add_pd(d0, _mm512_loadu_pd(s.nodeSlack + at));
        const __m512d high1 = _mm512_add_pd(d1, _mm512_loadu_pd(s.nodeSlack + at + 8));
        least =
            _mm512_mask_min_pd(least, 0xFF, least, _mm512_mask_min_pd(high0, 0xFF, high0, high1));
    }
}

// Pattern r's 1-NN bookkeeping after Width panels: s.least[r] takes the least D + nodeSlack of
// its lanes (`least`), and s.nearMasks[r] the lanes that may be the nearest.
template <int Width>
__attribute__((target("avx512f"), always_inline)) inline void nearAvx512(
    const EuclideanPanels::Selection& s, int r, __m512d least, const double* out) {
    // The masked forms: GCC 12 warns of the undefined source the unmasked ones use.
    const __m256d zero = _mm256_setzero_pd();
    const __m256d four = _mm256_min_pd(_mm512_mask_extractf64x4_pd(zero, 0xF, least, 0),
                                       _mm512_mask_extractf64x4_pd(zero, 0xF, least, 1));
    const __m128d two = _mm_min_pd(_mm256_castpd256_pd128(four), _mm256_extractf128_pd(four, 1));
    const double a = _mm_cvtsd_f64(two), b = _mm_cvtsd_f64(_mm_unpackhi_pd(two, two));
    const double panelLeast = a < b ? a : b;
    const double rowLeast = panelLeast < s.least[r] ? panelLeast : s.least[r];
    s.least[r] = rowLeast;
    const __m512d limit =
        _mm512_set1_pd(EuclideanPanels::nearestLimit(s.nearestFactor, rowLeast, s.slack[r]));
    unsigned near = 0;
#pragma GCC unroll 2
    for (int w = 0; w < Width; ++w) {
        const int at = w * kPanel;
        const __m512d d0 = _mm512_loadu_pd(out + r * kLanes + at),
                      d1 = _mm512_loadu_pd(out + r * kLanes + at + 8);
        const unsigned n0 = _mm512_cmp_pd_mask(_mm512_sub_pd(d0, _mm512_loadu_pd(s.nodeSlack + at)),
                                               limit, _CMP_LE_OQ);
        const unsigned n1 = _mm512_cmp_pd_mask(
            _mm512_sub_pd(d1, _mm512_loadu_pd(s.nodeSlack + at + 8)), limit, _CMP_LE_OQ);
        near |= (n0 | (n1 << 8)) << at;
    }
    s.nearMasks[r] = near;
}

// The products of Rows patterns with Width panels, with the selection made in the registers.
template <class T, int Rows, int Width>
__attribute__((target("avx512f"))) void selectAvx512Rows(const Block<T>& b,
                                                         const EuclideanPanels::Selection& s) {
    unsigned cover[Rows] = {};
    __m512d least[Rows];
#pragma GCC unroll 8
    for (int r = 0; r < Rows; ++r)
        least[r] = _mm512_set1_pd(std::numeric_limits<double>::infinity());
    const std::size_t panelSize = static_cast<std::size_t>(b.n) * kPanel;
    if constexpr (std::is_same_v<T, float>) {
        __m512 acc[Width * Rows];
        productsAvx512<Rows, Width>(b.x, b.panel, panelSize, b.n, acc);
#pragma GCC unroll 2
        for (int w = 0; w < Width; ++w) {
#pragma GCC unroll 8
            for (int r = 0; r < Rows; ++r) {
                __m512d low, high;
                widen(acc[w * Rows + r], low, high);
                decideAvx512(b, s, r, w * kPanel, low, high, cover[r], least[r]);
            }
        }
    } else {
        for (int w = 0; w < Width; ++w) {
            __m512d low[Rows], high[Rows];
            productsAvx512<Rows>(b.x, b.panel + w * panelSize, b.n, low, high);
#pragma GCC unroll 8
            for (int r = 0; r < Rows; ++r)
                decideAvx512(b, s, r, w * kPanel, low[r], high[r], cover[r], least[r]);
        }
    }
#pragma GCC unroll 8
    for (int r = 0; r < Rows; ++r) {
        b.masks[r] = cover[r];
        if (s.nodeSlack != nullptr) nearAvx512<Width>(s, r, least[r], b.out);
    }
}

// The kernel for a block's rows and width, each instantiated with its loops unrolled.
template <class T>
__attribute__((target("avx512f"))) void selectAvx512(const Block<T>& b,
                                                     const EuclideanPanels::Selection& s) {
    using Kernel = void (*)(const Block<T>&, const EuclideanPanels::Selection&);
    constexpr int kWidest = EuclideanPanels::kWidest;
    static constexpr Kernel kByRows[2][kGroup] = {
        {selectAvx512Rows<T, 1, 1>, selectAvx512Rows<T, 2, 1>, selectAvx512Rows<T, 3, 1>,
         selectAvx512Rows<T, 4, 1>, selectAvx512Rows<T, 5, 1>, selectAvx512Rows<T, 6, 1>,
         selectAvx512Rows<T, 7, 1>, selectAvx512Rows<T, 8, 1>},
        {selectAvx512Rows<T, 1, kWidest>, selectAvx512Rows<T, 2, kWidest>,
         selectAvx512Rows<T, 3, kWidest>, selectAvx512Rows<T, 4, kWidest>,
         selectAvx512Rows<T, 5, kWidest>, selectAvx512Rows<T, 6, kWidest>,
         selectAvx512Rows<T, 7, kWidest>, selectAvx512Rows<T, 8, kWidest>}};
    // rows: 1 to kGroup; width: 1 or kWidest
    kByRows[b.width == kWidest ? 1 : 0][b.rows - 1](b, s);
}

// Two patterns against sixteen nodes in four-wide vectors: eight accumulators.
template <int Rows>
__attribute__((target("avx2,fma"))) void dotsAvx2Rows(const double* const* x, const double* panel,
                                                      int n, double* dots) {
    __m256d acc[Rows][4];
#pragma GCC unroll 2
    for (int r = 0; r < Rows; ++r) {
        for (int v = 0; v < 4; ++v) acc[r][v] = _mm256_setzero_pd();
    }
    for (int i = 0; i < n; ++i) {
        const double* c = panel + static_cast<std::size_t>(i) * kPanel;
        const __m256d c0 = _mm256_loadu_pd(c), c1 = _mm256_loadu_pd(c + 4);
        const __m256d c2 = _mm256_loadu_pd(c + 8), c3 = _mm256_loadu_pd(c + 12);
#pragma GCC unroll 2
        for (int r = 0; r < Rows; ++r) {
            const __m256d xi = _mm256_broadcast_sd(x[r] + i);
            acc[r][0] = _mm256_fmadd_pd(xi, c0, acc[r][0]);
            acc[r][1] = _mm256_fmadd_pd(xi, c1, acc[r][1]);
            acc[r][2] = _mm256_fmadd_pd(xi, c2, acc[r][2]);
            acc[r][3] = _mm256_fmadd_pd(xi, c3, acc[r][3]);
        }
    }
    for (int r = 0; r < Rows; ++r) {
        for (int v = 0; v < 4; ++v) _mm256_storeu_pd(dots + r * kLanes + 4 * v, acc[r][v]);
    }
}

// Four patterns in single precision, eight floats to a vector: eight accumulators.
template <int Rows>
__attribute__((target("avx2,fma"))) void dotsAvx2Rows(const float* const* x, const float* panel,
                                                      int n, double* dots) {
    __m256 acc[Rows][2];
#pragma GCC unroll 4
    for (int r = 0; r < Rows; ++r) acc[r][0] = acc[r][1] = _mm256_setzero_ps();
    for (int i = 0; i < n; ++i) {
        const float* c = panel + static_cast<std::size_t>(i) * kPanel;
        const __m256 c0 = _mm256_loadu_ps(c), c1 = _mm256_loadu_ps(c + 8);
#pragma GCC unroll 4
        for (int r = 0; r < Rows; ++r) {
            const __m256 xi = _mm256_broadcast_ss(x[r] + i);
            acc[r][0] = _mm256_fmadd_ps(xi, c0, acc[r][0]);
            acc[r][1] = _mm256_fmadd_ps(xi, c1, acc[r][1]);
        }
    }
    for (int r = 0; r < Rows; ++r) {
        for (int v = 0; v < 2; ++v) {
            double* d = dots + r * kLanes + 8 * v;
            _mm256_storeu_pd(d, _mm256_cvtps_pd(_mm256_castps256_ps128(acc[r][v])));
            _mm256_storeu_pd(d + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(acc[r][v], 1)));
        }
    }
}

template <class T>
__attribute__((target("avx2,fma"))) void dotsAvx2(const T* const* x, int rows, const T* panel,
                                                  int n, double* dots) {
    constexpr int kRows = sizeof(T) == sizeof(float) ? 4 : 2;
    int r = 0;
    for (; r + kRows <= rows; r += kRows) dotsAvx2Rows<kRows>(x + r, panel, n, dots + r * kLanes);
    for (; r < rows; ++r) dotsAvx2Rows<1>(x + r, panel, n, dots + r * kLanes);
}

// selectPortable's selection four lanes at a time, value for value the same: D = (|x|^2 + |c|^2)
// - 2 x.c (doubling is exact, so fused or not it rounds once), the same comparisons, and the
// least taken as `high < least ? high : least` lane by lane.
template <class T>
__attribute__((target("avx2,fma"))) void selectAvx2(const Block<T>& block,
                                                    const EuclideanPanels::Selection& selection) {
    const Block<T> b = block;  // copies, as in selectPortable
    const EuclideanPanels::Selection s = selection;
    double dots[kGroup * kLanes];
    const std::size_t panelSize = static_cast<std::size_t>(b.n) * kPanel;
    for (int w = 0; w < b.width; ++w)
        dotsAvx2<T>(b.x, b.rows, b.panel + w * panelSize, b.n, dots + w * kPanel);
    const int lanes = b.width * kPanel;
    const __m256d minusTwo = _mm256_set1_pd(-2.0);
    for (int r = 0; r < b.rows; ++r) {
        const __m256d xn = _mm256_set1_pd(b.xNorms[r]), slack = _mm256_set1_pd(s.slack[r]);
        const __m256d label = _mm256_set1_pd(s.nodeLabels != nullptr ? s.labels[r] : 0.0);
        __m256d least = _mm256_set1_pd(std::numeric_limits<double>::infinity());
        double* row = b.out + r * kLanes;
        unsigned mask = 0;
        for (int l = 0; l < lanes; l += 4) {
            const __m256d d = _mm256_fmadd_pd(minusTwo, _mm256_loadu_pd(dots + r * kLanes + l),
                                              _mm256_add_pd(xn, _mm256_loadu_pd(b.norms + l)));
            _mm256_storeu_pd(row + l, d);
            if (s.own != nullptr) {
                __m256d bound = _mm256_loadu_pd(s.own + l);
                if (s.nodeLabels != nullptr) {
                    const __m256d same =
                        _mm256_cmp_pd(_mm256_loadu_pd(s.nodeLabels + l), label, _CMP_EQ_OQ);
                    bound = _mm256_blendv_pd(_mm256_loadu_pd(s.other + l), bound, same);
                }
                const __m256d within = _mm256_cmp_pd(d, _mm256_add_pd(bound, slack), _CMP_LE_OQ);
                mask |= static_cast<unsigned>(_mm256_movemask_pd(within)) << l;
            }
            if (s.nodeSlack != nullptr)
                least = _mm256_min_pd(_mm256_add_pd(d, _mm256_loadu_pd(s.nodeSlack + l)), least);
        }
        b.masks[r] = mask;
        if (s.nodeSlack == nullptr) continue;
        alignas(32) double four[4];
        _mm256_store_pd(four, least);
        double rowLeast = s.least[r];
        for (const double high : four) rowLeast = high < rowLeast ? high : rowLeast;
        s.least[r] = rowLeast;
        const __m256d limit =
            _mm256_set1_pd(EuclideanPanels::nearestLimit(s.nearestFactor, rowLeast, s.slack[r]));
        unsigned near = 0;
        for (int l = 0; l < lanes; l += 4) {
            const __m256d low =
                _mm256_sub_pd(_mm256_loadu_pd(row + l), _mm256_loadu_pd(s.nodeSlack + l));
            near |= static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(low, limit, _CMP_LE_OQ)))
                    << l;
        }
        s.nearMasks[r] = near;
    }
}
#endif

}  // namespace

bool EuclideanPanels::holdsRows(const RowView& rows, int count, int n) {
    return rows.allValues(count, n, [](int, double v) { return std::fabs(v) <= kLargest; });
}

bool EuclideanPanels::holdsRowsInSingle(const RowView& rows, int count, int n,
                                        const double* origin) {
    if (n > kSingleMaxDimensions) return false;
    return rows.allValues(count, n, [origin](int i, double v) {
        const double magnitude = std::fabs(v - origin[i]);
        return magnitude == 0.0 || (magnitude >= kSingleSmallest && magnitude <= kSingleLargest);
    });
}

bool EuclideanPanels::init(int n, InstructionSet wanted, Precision precision,
                           const double* origin) {
    *this = EuclideanPanels();
    n_ = n;
    precision_ = precision;
    if (precision == Precision::Single) {
        if (!origin_.resize(static_cast<std::size_t>(n), 0.0)) return false;
        if (origin != nullptr)
            std::memcpy(origin_.data, origin, static_cast<std::size_t>(n) * sizeof(double));
    }
    // |D - S| <= (2 gamma_n + 3u)(|x|^2 + |c|^2), gamma_n = nu / (1 - nu): n roundings in
    // each dot product and each norm, three more where D is formed. The last factor covers
    // gamma_n's denominator and the norms being computed rather than exact.
    kappa_ = (2.0 * n + 4.0) * 0x1p-53 * (1.0 + 0x1p-20);
    tinyError_ = kTinyError;
    if (precision == Precision::Single) {
        // Rounding both inputs moves each product by at most (2v + v^2) of it, and the float
        // sums add gamma_n(v) of the rounded products (v = 2^-24, rounded products at most
        // (1 + v)^2 the exact ones); with sum |x_i c_i| <= (|x|^2 + |c|^2) / 2 this bounds 2 x.c.
        // The double norms and the forming of D keep their share (an extra u for 2|x.c|
        // being up to 1 + n v times the norms), and the shift to the origin at most 8u: each
        // difference is off by u of itself, or by 2^-1074 where it underflows. Float sums that
        // underflow lose at most 2^-126 per rounding, n roundings per dot product.
        constexpr double v = 0x1p-24;
        const double gamma = n * v / (1.0 - n * v);
        kappa_ = ((2.0 * v + v * v) + gamma * (1.0 + v) * (1.0 + v) +
                  (n + 12.0) * 0x1p-53 * (1.0 + 0x1p-20)) *
                 (1.0 + 0x1p-40);
        tinyError_ = n * 0x1p-124 + kTinyError;
    }
    selectDouble_ = selectPortable<double>;
    selectSingle_ = selectPortable<float>;
    instructions_ = InstructionSet::Portable;
#if SPHNET_X86_KERNELS
    const InstructionSet vectors =
        availableInstructions(wanted == InstructionSet::Auto ? InstructionSet::Avx512 : wanted);
    if (vectors == InstructionSet::Avx512) {
        selectDouble_ = selectAvx512<double>;
        selectSingle_ = selectAvx512<float>;
        instructions_ = InstructionSet::Avx512;
    }
    if (vectors == InstructionSet::Avx2) {
        selectDouble_ = selectAvx2<double>;
        selectSingle_ = selectAvx2<float>;
        instructions_ = InstructionSet::Avx2;
    }
#else
    (void)wanted;
#endif
    return true;
}

bool EuclideanPanels::append(const double* centre) {
    const std::size_t n = static_cast<std::size_t>(n_);
    const int j = count_;
    const int lane = j % kPanel;
    const bool single = precision_ == Precision::Single;
    if (lane == 0) {
        // A new panel, zero-filled so that lanes past the last node stay harmless.
        const std::size_t grown = static_cast<std::size_t>(panels() + 1) * n * kPanel;
        if (!(single ? singlePanels_.resize(grown, 0.0f) : panels_.resize(grown, 0.0)) ||
            !norms_.resize(norms_.size + kPanel, 0.0)) {
            return false;
        }
    }
    const std::size_t at = static_cast<std::size_t>(j / kPanel) * n * kPanel + lane;
    for (std::size_t i = 0; i < n; ++i) {
        if (single) {
            singlePanels_.data[at + i * kPanel] = static_cast<float>(centre[i] - origin_.data[i]);
        } else {
            panels_.data[at + i * kPanel] = centre[i];
        }
    }
    norms_.data[j] = squaredNorm(centre);
    count_ = j + 1;
    return true;
}

double EuclideanPanels::squaredNorm(const double* x) const {
    double s = 0.0;
    if (precision_ == Precision::Single) {
        for (int i = 0; i < n_; ++i) s += (x[i] - origin_.data[i]) * (x[i] - origin_.data[i]);
        return s;
    }
    for (int i = 0; i < n_; ++i) s += x[i] * x[i];
    return s;
}

void EuclideanPanels::roundToSingle(const double* x, float* out) const {
    const double* origin = origin_.data;  // null in double precision: from zero
    for (int i = 0; i < n_; ++i)
        out[i] = static_cast<float>(origin != nullptr ? x[i] - origin[i] : x[i]);
}

void EuclideanPanels::select(const double* const* x, const double* xNorms, int rows, int q,
                             int width, const Selection& s, unsigned* masks, double* out) const {
    const std::size_t first = static_cast<std::size_t>(q) * static_cast<std::size_t>(n_) * kPanel;
    const double* norms = norms_.data + static_cast<std::size_t>(q) * kPanel;
    if (precision_ == Precision::Single) {
        selectSingle_(
            {s.single, xNorms, rows, singlePanels_.data + first, width, norms, n_, masks, out}, s);
    } else {
        selectDouble_({x, xNorms, rows, panels_.data + first, width, norms, n_, masks, out}, s);
    }
    const int lanes = count_ - q * kPanel;
    if (lanes < width * kPanel) {
        for (int r = 0; r < rows; ++r) {
            masks[r] &= (1u << lanes) - 1;
            if (s.nearMasks != nullptr) s.nearMasks[r] &= (1u << lanes) - 1;
        }
    }
}

}  // namespace sphnet
