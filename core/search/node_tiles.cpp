#include "node_tiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "compiler_builtins.h"
#include "sphere_node.h"

namespace sphnet {

namespace {

constexpr int kLanes = NodeTiles::kLanes;
constexpr int kBlock = NodeTiles::kBlock;

// Lanes of the group of `width` nodes starting at node `first` that hold nodes in [from, to).
inline unsigned lanesInRange(int first, int from, int to, int width = kLanes) {
    const unsigned all = (1u << width) - 1;
    unsigned lanes = all;
    if (first < from) lanes &= all << (from - first);
    if (to - first < width) lanes &= all >> (width - (to - first));
    return lanes;
}

// The filter, block by block: where Beyond keeps lanes within [from, to), the exact scan
// (Exact) over the tile or tiles of the block that hold them; the first node that matters, or
// `to`. Each instruction set's filter instantiates it with its own kernels. The scan is copied,
// and the exact scan given a copy of its view: the exact scan's stores could otherwise reach
// them through the references, and every block would load them again.
using BlockBeyond = unsigned (*)(const NodeTiles::FilterScan& s, int block);
template <BlockBeyond Beyond, NodeTiles::ScanKernel Exact>
SPHNET_ALWAYS_INLINE int filterBlocks(const NodeTiles::FilterScan& scan, int from, int to) {
    const NodeTiles::FilterScan s = scan;
    for (int block = from - from % kBlock; block < to; block += kBlock) {
        const unsigned kept = ~Beyond(s, block) & lanesInRange(block, from, to, kBlock);
        if (kept == 0) continue;
        const int skip = (kept & 0xFFu) != 0 ? block : block + kLanes;
        const int start = skip > from ? skip : from;
        const int end = block + kBlock < to ? block + kBlock : to;
        const int stop = (kept >> kLanes) != 0 || end < block + kLanes ? end : block + kLanes;
        const NodeTiles::View view = s.v;
        const int first = Exact(view, start, stop, s.x, s.label, s.d);
        if (first < stop) return first;
    }
    return to;
}

// Per node: whether it may matter (see NodeTiles::nextThatMayMatter), with the comparisons
// written as negations so that they read exactly as the scan's own tests.
inline bool coversOrReaches(double distance, double radius, double label, double reach,
                            double xLabel) {
    return !(distance - kCoverageTolerance > radius) ||
           (!(label == xLabel) && !(distance >= reach));
}

// The exact distances of the tile starting at node `first`. Every version, vector or not,
// computes per lane the scan's own terms |c_i - x_i| in index order: the sum (p = 1) or the
// largest (p = +Inf, where max(t, d) is `t > d ? t : d`), from 0.
template <NormKind Kind>
void tileDistances(const NodeTiles::View& v, int first, const double* x, double* distance) {
    const auto n = static_cast<std::size_t>(v.n);
    const double* tile = v.centres + static_cast<std::size_t>(first) * n;
    for (int l = 0; l < kLanes; ++l) distance[l] = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        for (int l = 0; l < kLanes; ++l) {
            const double t = std::fabs(tile[i * kLanes + l] - x[i]);
            distance[l] =
                Kind == NormKind::CityBlock ? distance[l] + t : (t > distance[l] ? t : distance[l]);
        }
    }
}

// The 1-NN choice: the first node of least distance (distances are never NaN here).
template <NormKind Kind>
int nearestPortable(const NodeTiles::View& v, int count, const double* x) {
    int best = -1;
    double least = 0.0;
    for (int first = 0; first < count; first += kLanes) {
        double distance[kLanes];
        tileDistances<Kind>(v, first, x, distance);
        for (int l = 0; l < kLanes && first + l < count; ++l) {
            if (best < 0 || distance[l] < least) {
                best = first + l;
                least = distance[l];
            }
        }
    }
    return best;
}

template <NormKind Kind>
int scanPortable(const NodeTiles::View& v, int from, int to, const double* x, double label,
                 double* d) {
    for (int first = from - from % kLanes; first < to; first += kLanes) {
        double distance[kLanes];
        tileDistances<Kind>(v, first, x, distance);
        const unsigned lanes = lanesInRange(first, from, to);
        for (int l = 0; l < kLanes; ++l) {
            if (((lanes >> l) & 1u) != 0 &&
                coversOrReaches(distance[l], v.radii[first + l], v.labels[first + l],
                                v.reaches[first + l], label)) {
                std::memcpy(d, distance, sizeof distance);
                return first;
            }
        }
    }
    return to;
}

// The filter in plain C++ (the x86-64 baseline, ARM, MSVC): branch-free loops over a block's lanes,
// which compilers turn into the target's own vectors; the values and limits of the AVX2 filter.

// One step above a float rounded to nearest, as stepUp below.
inline float floatStepUp(float nearest) {
    std::int32_t bits;
    std::memcpy(&bits, &nearest, sizeof bits);
    bits += (bits >> 31) | 1;
    float up;
    std::memcpy(&up, &bits, sizeof up);
    return nearest == 0.0f ? 0x1p-149f : up;
}

// Each coordinate's terms go to `values` through a local row: in that form, and not inlined where
// `values` is a local array, GCC and Clang keep the block's values in vectors. The terms are finite
// and never negative, so their bits order as they do, and the largest is taken on integers (GCC
// leaves a float maximum, with its NaN rule, scalar).
template <NormKind Kind>
SPHNET_NEVER_INLINE void floatPortable(const NodeTiles::View& v, const NodeTiles::FloatPattern& q,
                                       int block, float* values) {
    const auto n = static_cast<std::size_t>(v.n);
    const float* rows = v.floats + static_cast<std::size_t>(block) * n;
    std::memset(values, 0, kBlock * sizeof(float));
    for (std::size_t i = 0; i < n; ++i) {
        float next[kBlock];
        for (int l = 0; l < kBlock; ++l) {
            const float t = std::fabs(rows[i * kBlock + l] - q.x[i]);
            if (Kind == NormKind::CityBlock) {
                next[l] = values[l] + t;
            } else {
                std::int32_t largest, term;
                std::memcpy(&largest, values + l, sizeof largest);
                std::memcpy(&term, &t, sizeof term);
                largest = std::max(largest, term);
                std::memcpy(next + l, &largest, sizeof largest);
            }
        }
        std::memcpy(values, next, sizeof next);
    }
}

template <NormKind Kind>
void floatSumsPortable(const NodeTiles::View& v, const NodeTiles::FloatPattern& q, int from, int to,
                       float* sums) {
    for (int block = from; block < to; block += kBlock)
        floatPortable<Kind>(v, q, block, sums + (block - from));
}

template <NormKind Kind, bool Made>
unsigned beyondPortable(const NodeTiles::FilterScan& s, int block) {
    float values[kBlock];
    if (Made) {
        std::memcpy(values, s.sums + (block - s.sumsFrom), sizeof values);
    } else {
        floatPortable<Kind>(s.v, s.q, block, values);
    }
    const float* ownLimits = s.v.ownLimits + block;
    const float* otherLimits = s.v.otherLimits + block;
    const std::int32_t* codes = s.v.labelCodes + block;
    const bool cuts = s.q.reachCut > 0;
    const float cut = cuts ? s.q.reachCut : 0.0f;
    std::int32_t far[kBlock];
    for (int l = 0; l < kBlock; ++l) {
        const float own = ownLimits[l];
        const float lowered = floatStepUp(floatStepUp(otherLimits[l] * (1.0f + 0x1p-20f)) - cut);
        // A step up from +Inf is NaN, and so is the limit then: no value passes over it.
        const float other = !cuts ? otherLimits[l] : own > lowered ? own : lowered;
        const float limit = (s.q.labelCoded && codes[l] == s.q.labelCode ? own : other) + s.q.slack;
        far[l] = values[l] > limit ? 1 : 0;
    }
    unsigned beyond = 0;
    for (int l = 0; l < kBlock; ++l) beyond |= static_cast<unsigned>(far[l]) << l;
    return beyond;
}

template <NormKind Kind, bool Made>
int filterPortable(const NodeTiles::FilterScan& s, int from, int to) {
    return filterBlocks<beyondPortable<Kind, Made>, scanPortable<Kind>>(s, from, to);
}

#if SPHNET_X86_KERNELS
// The sums of one tile form a chain of dependent additions; two tiles at a time keep two chains
// in flight.
template <NormKind Kind>
__attribute__((target("avx512f"))) inline __m512d stepAvx512(__m512d distance, const double* c,
                                                             __m512d xi) {
    const __m512d t = _mm512_abs_pd(_mm512_sub_pd(_mm512_loadu_pd(c), xi));
    // max(t, d) is `t > d ? t : d`, as the scan's own test. The masked form, because the plain
    // one trips a false uninitialized warning in GCC 12.
    return Kind == NormKind::CityBlock ? _mm512_add_pd(distance, t)
                                       : _mm512_mask_max_pd(distance, 0xFF, t, distance);
}

__attribute__((target("avx512f"))) inline unsigned mattersAvx512(const NodeTiles::View& v,
                                                                 int first, __m512d distance,
                                                                 double label) {
    const __mmask8 mayCover =
        _mm512_cmp_pd_mask(_mm512_sub_pd(distance, _mm512_set1_pd(kCoverageTolerance)),
                           _mm512_loadu_pd(v.radii + first), _CMP_NGT_UQ);
    const __mmask8 foreign =
        _mm512_cmp_pd_mask(_mm512_loadu_pd(v.labels + first), _mm512_set1_pd(label), _CMP_NEQ_UQ);
    const __mmask8 near =
        _mm512_cmp_pd_mask(distance, _mm512_loadu_pd(v.reaches + first), _CMP_NGE_UQ);
    return static_cast<unsigned>(mayCover | (foreign & near));
}

template <NormKind Kind>
__attribute__((target("avx512f"))) int scanAvx512(const NodeTiles::View& v, int from, int to,
                                                  const double* x, double label, double* d) {
    const auto n = static_cast<std::size_t>(v.n);
    const std::size_t tileSize = n * kLanes;
    for (int first = from - from % kLanes; first < to; first += 2 * kLanes) {
        const double* tile = v.centres + static_cast<std::size_t>(first) * n;
        __m512d a = _mm512_setzero_pd(), b = _mm512_setzero_pd();
        const bool pair = first + kLanes < to;
        if (pair) {
            for (std::size_t i = 0; i < n; ++i) {
                const __m512d xi = _mm512_set1_pd(x[i]);
                a = stepAvx512<Kind>(a, tile + i * kLanes, xi);
                b = stepAvx512<Kind>(b, tile + tileSize + i * kLanes, xi);
            }
        } else {
            for (std::size_t i = 0; i < n; ++i)
                a = stepAvx512<Kind>(a, tile + i * kLanes, _mm512_set1_pd(x[i]));
        }
        if ((mattersAvx512(v, first, a, label) & lanesInRange(first, from, to)) != 0) {
            _mm512_storeu_pd(d, a);
            return first;
        }
        if (pair && (mattersAvx512(v, first + kLanes, b, label) &
                     lanesInRange(first + kLanes, from, to)) != 0) {
            _mm512_storeu_pd(d, b);
            return first + kLanes;
        }
    }
    return to;
}

// AVX2: the tile as two 4-lane halves.
template <NormKind Kind>
__attribute__((target("avx2,fma"))) int scanAvx2(const NodeTiles::View& v, int from, int to,
                                                 const double* x, double label, double* d) {
    const auto n = static_cast<std::size_t>(v.n);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
    const __m256d tolerance = _mm256_set1_pd(kCoverageTolerance);
    const __m256d xLabel = _mm256_set1_pd(label);
    for (int first = from - from % kLanes; first < to; first += kLanes) {
        const double* tile = v.centres + static_cast<std::size_t>(first) * n;
        __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
        for (std::size_t i = 0; i < n; ++i) {
            const __m256d xi = _mm256_set1_pd(x[i]);
            const __m256d tLow =
                _mm256_and_pd(_mm256_sub_pd(_mm256_loadu_pd(tile + i * kLanes), xi), magnitude);
            const __m256d tHigh =
                _mm256_and_pd(_mm256_sub_pd(_mm256_loadu_pd(tile + i * kLanes + 4), xi), magnitude);
            low = Kind == NormKind::CityBlock ? _mm256_add_pd(low, tLow) : _mm256_max_pd(tLow, low);
            high = Kind == NormKind::CityBlock ? _mm256_add_pd(high, tHigh)
                                               : _mm256_max_pd(tHigh, high);
        }
        unsigned matters = 0;
        for (int half = 0; half < 2; ++half) {
            const __m256d distance = half == 0 ? low : high;
            const int at = first + 4 * half;
            const __m256d mayCover = _mm256_cmp_pd(_mm256_sub_pd(distance, tolerance),
                                                   _mm256_loadu_pd(v.radii + at), _CMP_NGT_UQ);
            const __m256d foreign =
                _mm256_cmp_pd(_mm256_loadu_pd(v.labels + at), xLabel, _CMP_NEQ_UQ);
            const __m256d near =
                _mm256_cmp_pd(distance, _mm256_loadu_pd(v.reaches + at), _CMP_NGE_UQ);
            matters |= static_cast<unsigned>(
                           _mm256_movemask_pd(_mm256_or_pd(mayCover, _mm256_and_pd(foreign, near))))
                       << (4 * half);
        }
        if ((matters & lanesInRange(first, from, to)) != 0) {
            _mm256_storeu_pd(d, low);
            _mm256_storeu_pd(d + 4, high);
            return first;
        }
    }
    return to;
}

// The single-precision filter: per block of kBlock nodes, the single-precision sums (or largest
// terms) of |c_i - x_i| against each lane's limit; only the tiles with a lane within its limit get
// their exact distances.
template <NormKind Kind>
__attribute__((target("avx512f"))) inline __m512 floatStep(__m512 floats, const float* c,
                                                           float xi) {
    const __m512 t = _mm512_abs_ps(_mm512_sub_ps(_mm512_loadu_ps(c), _mm512_set1_ps(xi)));
    // Masked max: see stepAvx512.
    return Kind == NormKind::CityBlock ? _mm512_add_ps(floats, t)
                                       : _mm512_mask_max_ps(floats, 0xFFFF, floats, t);
}

// The filter's single-precision values of the block of kBlock nodes from node `block` on: sums (or
// largest terms) of |c_i - x_i| in single precision.
template <NormKind Kind>
__attribute__((target("avx512f"))) inline __m512 floatAvx512(const NodeTiles::View& v,
                                                             const NodeTiles::FloatPattern& q,
                                                             int block) {
    const auto n = static_cast<std::size_t>(v.n);
    const float* rows = v.floats + static_cast<std::size_t>(block) * n;
    // Two running sums: a bound may add in any order, and two chains of additions overlap.
    __m512 even = _mm512_setzero_ps(), odd = _mm512_setzero_ps();
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        even = floatStep<Kind>(even, rows + i * kBlock, q.x[i]);
        odd = floatStep<Kind>(odd, rows + (i + 1) * kBlock, q.x[i + 1]);
    }
    if (i < n) even = floatStep<Kind>(even, rows + i * kBlock, q.x[i]);
    return Kind == NormKind::CityBlock ? _mm512_add_ps(even, odd)
                                       : _mm512_mask_max_ps(even, 0xFFFF, even, odd);
}

// The block's limits for this pattern: beyond them a node cannot matter.
__attribute__((target("avx512f"))) inline __m512 limitsAvx512(const NodeTiles::View& v,
                                                              const NodeTiles::FloatPattern& q,
                                                              int block) {
    constexpr int kUp = _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC;
    const __mmask16 coded = q.labelCoded ? 0xFFFF : 0;
    const __mmask16 own = _mm512_mask_cmpeq_epi32_mask(
        coded, _mm512_loadu_si512(v.labelCodes + block), _mm512_set1_epi32(q.labelCode));
    const __m512 ownLimits = _mm512_loadu_ps(v.ownLimits + block);
    __m512 otherLimits = _mm512_loadu_ps(v.otherLimits + block);
    if (q.reachCut > 0) {
        // Never below the node's own limit: it may still cover x. Masked forms: see stepAvx512.
        const __m512 raised = _mm512_mask_mul_round_ps(otherLimits, 0xFFFF, otherLimits,
                                                       _mm512_set1_ps(1.0f + 0x1p-20f), kUp);
        const __m512 cutDown =
            _mm512_mask_sub_round_ps(raised, 0xFFFF, raised, _mm512_set1_ps(q.reachCut), kUp);
        otherLimits = _mm512_mask_max_ps(ownLimits, 0xFFFF, ownLimits, cutDown);
    }
    return _mm512_add_ps(_mm512_mask_blend_ps(own, otherLimits, ownLimits),
                         _mm512_set1_ps(q.slack));
}

template <NormKind Kind>
__attribute__((target("avx512f"))) void floatSumsAvx512(const NodeTiles::View& v,
                                                        const NodeTiles::FloatPattern& q, int from,
                                                        int to, float* sums) {
    for (int block = from; block < to; block += kBlock)
        _mm512_storeu_ps(sums + (block - from), floatAvx512<Kind>(v, q, block));
}

// The lanes of the block from node `block` on beyond their limits, against the limits as they
// are now: on single-precision values made ahead (sums[0] for node sumsFrom) where Made, else
// made here.
template <NormKind Kind, bool Made>
__attribute__((target("avx512f"))) inline unsigned beyondAvx512(const NodeTiles::FilterScan& s,
                                                                int block) {
    const __m512 floats =
        Made ? _mm512_loadu_ps(s.sums + (block - s.sumsFrom)) : floatAvx512<Kind>(s.v, s.q, block);
    return _mm512_cmp_ps_mask(floats, limitsAvx512(s.v, s.q, block), _CMP_GT_OQ);
}

template <NormKind Kind, bool Made>
__attribute__((target("avx512f"))) int filterAvx512(const NodeTiles::FilterScan& s, int from,
                                                    int to) {
    return filterBlocks<beyondAvx512<Kind, Made>, scanAvx512<Kind>>(s, from, to);
}

// Per lane the first node of least distance so far; then the least over the lanes, the lowest
// node number among equals.
template <NormKind Kind>
__attribute__((target("avx512f"))) int nearestAvx512(const NodeTiles::View& v, int count,
                                                     const double* x) {
    const auto n = static_cast<std::size_t>(v.n);
    __m512d least = _mm512_set1_pd(std::numeric_limits<double>::infinity());
    __m512i best = _mm512_set1_epi64(-1);
    __m512i node = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    for (int first = 0; first < count; first += kLanes) {
        const double* tile = v.centres + static_cast<std::size_t>(first) * n;
        __m512d distance = _mm512_setzero_pd();
        for (std::size_t i = 0; i < n; ++i)
            distance = stepAvx512<Kind>(distance, tile + i * kLanes, _mm512_set1_pd(x[i]));
        const __mmask8 closer =
            _mm512_cmp_pd_mask(distance, least, _CMP_LT_OQ) & lanesInRange(first, 0, count);
        least = _mm512_mask_blend_pd(closer, least, distance);
        best = _mm512_mask_blend_epi64(closer, best, node);
        node = _mm512_add_epi64(node, _mm512_set1_epi64(kLanes));
    }
    double leastOf[kLanes];
    std::int64_t bestOf[kLanes];
    _mm512_storeu_pd(leastOf, least);
    _mm512_storeu_si512(bestOf, best);
    int chosen = -1;
    double chosenDistance = 0.0;
    for (int l = 0; l < kLanes; ++l) {
        if (bestOf[l] < 0) continue;
        const int j = static_cast<int>(bestOf[l]);
        if (chosen < 0 || leastOf[l] < chosenDistance ||
            (leastOf[l] == chosenDistance && j < chosen)) {
            chosen = j;
            chosenDistance = leastOf[l];
        }
    }
    // Every distance infinite: the first node, as the plain scan keeps it.
    return chosen < 0 && count > 0 ? 0 : chosen;
}

template <NormKind Kind>
__attribute__((target("avx2,fma"))) inline void floatAvx2(const NodeTiles::View& v,
                                                          const NodeTiles::FloatPattern& q,
                                                          int block, __m256& low, __m256& high) {
    const auto n = static_cast<std::size_t>(v.n);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const float* rows = v.floats + static_cast<std::size_t>(block) * n;
    low = _mm256_setzero_ps();
    high = _mm256_setzero_ps();
    for (std::size_t i = 0; i < n; ++i) {
        const __m256 xi = _mm256_set1_ps(q.x[i]);
        const __m256 tLow =
            _mm256_and_ps(_mm256_sub_ps(_mm256_loadu_ps(rows + i * kBlock), xi), magnitude);
        const __m256 tHigh =
            _mm256_and_ps(_mm256_sub_ps(_mm256_loadu_ps(rows + i * kBlock + 8), xi), magnitude);
        low = Kind == NormKind::CityBlock ? _mm256_add_ps(low, tLow) : _mm256_max_ps(low, tLow);
        high =
            Kind == NormKind::CityBlock ? _mm256_add_ps(high, tHigh) : _mm256_max_ps(high, tHigh);
    }
}

// One step above a result rounded to nearest (+1 on a positive value's bits, -1 on a negative
// one's, the least positive value from zero): at or above the exact value, as the AVX-512
// kernels' rounding toward +Inf is, at most a step higher. A step up from +Inf is NaN, which no
// comparison passes over.
__attribute__((target("avx2,fma"))) inline __m256 stepUp(__m256 nearest) {
    const __m256i bits = _mm256_castps_si256(nearest);
    const __m256i step = _mm256_or_si256(_mm256_srai_epi32(bits, 31), _mm256_set1_epi32(1));
    return _mm256_blendv_ps(_mm256_castsi256_ps(_mm256_add_epi32(bits, step)),
                            _mm256_set1_ps(0x1p-149f),
                            _mm256_cmp_ps(nearest, _mm256_setzero_ps(), _CMP_EQ_OQ));
}

// The limits for other labels lowered by q.reachCut, never below the nodes' own: as
// limitsAvx512, each step rounded up.
__attribute__((target("avx2,fma"))) inline __m256 cutAvx2(__m256 other, __m256 own, float cut) {
    const __m256 raised = stepUp(_mm256_mul_ps(other, _mm256_set1_ps(1.0f + 0x1p-20f)));
    return _mm256_max_ps(own, stepUp(_mm256_sub_ps(raised, _mm256_set1_ps(cut))));
}

// Lanes of the block beyond their limits, from its two halves' single-precision values.
__attribute__((target("avx2,fma"))) inline unsigned beyondAvx2(const NodeTiles::View& v,
                                                               const NodeTiles::FloatPattern& q,
                                                               int block, __m256 low, __m256 high) {
    const __m256 slack = _mm256_set1_ps(q.slack);
    const __m256i code = _mm256_set1_epi32(q.labelCode);
    const __m256 coded = _mm256_castsi256_ps(_mm256_set1_epi32(q.labelCoded ? -1 : 0));
    unsigned beyond = 0;
    for (int half = 0; half < 2; ++half) {
        const int at = block + 8 * half;
        const __m256 own = _mm256_and_ps(
            coded,
            _mm256_castsi256_ps(_mm256_cmpeq_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v.labelCodes + at)), code)));
        const __m256 ownLimits = _mm256_loadu_ps(v.ownLimits + at);
        __m256 otherLimits = _mm256_loadu_ps(v.otherLimits + at);
        if (q.reachCut > 0) otherLimits = cutAvx2(otherLimits, ownLimits, q.reachCut);
        const __m256 limit = _mm256_add_ps(_mm256_blendv_ps(otherLimits, ownLimits, own), slack);
        beyond |= static_cast<unsigned>(
                      _mm256_movemask_ps(_mm256_cmp_ps(half == 0 ? low : high, limit, _CMP_GT_OQ)))
                  << (8 * half);
    }
    return beyond;
}

template <NormKind Kind>
__attribute__((target("avx2,fma"))) void floatSumsAvx2(const NodeTiles::View& v,
                                                       const NodeTiles::FloatPattern& q, int from,
                                                       int to, float* sums) {
    for (int block = from; block < to; block += kBlock) {
        __m256 low, high;
        floatAvx2<Kind>(v, q, block, low, high);
        _mm256_storeu_ps(sums + (block - from), low);
        _mm256_storeu_ps(sums + (block - from) + 8, high);
    }
}

// As beyondAvx512.
template <NormKind Kind, bool Made>
__attribute__((target("avx2,fma"))) inline unsigned blockBeyondAvx2(const NodeTiles::FilterScan& s,
                                                                    int block) {
    __m256 low, high;
    if (Made) {
        low = _mm256_loadu_ps(s.sums + (block - s.sumsFrom));
        high = _mm256_loadu_ps(s.sums + (block - s.sumsFrom) + 8);
    } else {
        floatAvx2<Kind>(s.v, s.q, block, low, high);
    }
    return beyondAvx2(s.v, s.q, block, low, high);
}

template <NormKind Kind, bool Made>
__attribute__((target("avx2,fma"))) int filterAvx2(const NodeTiles::FilterScan& s, int from,
                                                   int to) {
    return filterBlocks<blockBeyondAvx2<Kind, Made>, scanAvx2<Kind>>(s, from, to);
}

#endif

// The filter's error allowance. Each single-precision coordinate differs from the true c_i -
// origin_i by at most 2^-24 of it (single rounding) plus 2^-52 (the double difference), or 2^-126
// when flushed to zero; each single-precision operation adds at most a relative 2^-23 under any
// rounding mode. A lane's single-precision value is thus at most (1 + 2^-23)^n (D + E), D the true
// distance and E at most 2^-23 (span of the centre + span of the pattern) + n 2^-125, while the
// exact double distance stays above D (1 - 2n 2^-52). Limits carry all of this, and a little more,
// upwards.
constexpr double kFloatError = 0x1p-23;
constexpr double kLargestSpan = 0x1p100;  // beyond this the single-precision values may overflow
constexpr int kLargestFilteredDimension = 1 << 18;

double growth(int n) {
    return 1.0 + (4.0 * n + 32.0) * 0x1p-24;
}

// v rounded up to a float; +Inf for NaN.
float floatAbove(double v) {
    if (!(v <= std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::max();
    float f = static_cast<float>(v);
    if (static_cast<double>(f) < v) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

}  // namespace

// The kernels for the norm on `vectors`.
template <NormKind Kind>
void NodeTiles::useKernels(InstructionSet vectors) {
    scan_ = scanPortable<Kind>;
    nearest_ = nearestPortable<Kind>;
    filter_ = filterPortable<Kind, false>;
    sumsFilter_ = filterPortable<Kind, true>;
    floatSums_ = floatSumsPortable<Kind>;
#if SPHNET_X86_KERNELS
    if (vectors == InstructionSet::Avx512) {
        scan_ = scanAvx512<Kind>;
        nearest_ = nearestAvx512<Kind>;
        filter_ = filterAvx512<Kind, false>;
        floatSums_ = floatSumsAvx512<Kind>;
        sumsFilter_ = filterAvx512<Kind, true>;
    } else if (vectors == InstructionSet::Avx2) {
        scan_ = scanAvx2<Kind>;
        filter_ = filterAvx2<Kind, false>;
        floatSums_ = floatSumsAvx2<Kind>;
        sumsFilter_ = filterAvx2<Kind, true>;
    }
#endif
    (void)vectors;
}

void NodeTiles::init(NormKind kind, int n, InstructionSet wanted) {
    *this = NodeTiles();
    n_ = n;
    const InstructionSet vectors =
        availableInstructions(wanted == InstructionSet::Auto ? InstructionSet::Avx512 : wanted);
    instructions_ = vectors;
    if (kind == NormKind::CityBlock) {
        useKernels<NormKind::CityBlock>(vectors);
    } else {
        useKernels<NormKind::Maximum>(vectors);
    }
    if (n <= 0 || n > kLargestFilteredDimension) {
        filter_ = sumsFilter_ = nullptr;
        floatSums_ = nullptr;
    }
}

bool NodeTiles::append(const double* centre, double radius, double label, double reach) {
    const int j = count_;
    const auto n = static_cast<std::size_t>(n_);
    if (j % kLanes == 0) {
        // A new tile; its unused lanes are never reported (see nextThatMayMatter).
        const std::size_t tiles = static_cast<std::size_t>(j / kLanes) + 1;
        if (!centres_.resize(tiles * kLanes * n, 0.0) || !radii_.resize(tiles * kLanes, 0.0) ||
            !labels_.resize(tiles * kLanes, 0.0) || !reaches_.resize(tiles * kLanes, 0.0)) {
            return false;
        }
    }
    if (filter_ != nullptr && j % kBlock == 0) {
        const std::size_t blocks = static_cast<std::size_t>(j / kBlock) + 1;
        if (!floatCentres_.resize(blocks * kBlock * n, 0.0f) ||
            !ownLimits_.resize(blocks * kBlock, 0.0f) ||
            !otherLimits_.resize(blocks * kBlock, 0.0f) ||
            !labelCodes_.resize(blocks * kBlock, 0) || !spans_.resize(blocks * kBlock, 0.0) ||
            (j == 0 && !origin_.resize(n, 0.0))) {
            return false;
        }
        if (j == 0) std::memcpy(origin_.data, centre, n * sizeof(double));
    }
    double* tile = centres_.data + static_cast<std::size_t>(j - j % kLanes) * n;
    for (std::size_t i = 0; i < n; ++i) tile[i * kLanes + j % kLanes] = centre[i];
    radii_.data[j] = radius;
    labels_.data[j] = label;
    reaches_.data[j] = reach;
    if (filter_ != nullptr) {
        float* rows = floatCentres_.data + static_cast<std::size_t>(j - j % kBlock) * n;
        double span = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = centre[i] - origin_.data[i];
            span += std::fabs(t);
            rows[i * kBlock + j % kBlock] =
                std::fabs(t) <= kLargestSpan ? static_cast<float>(t) : 0.0f;
        }
        spans_.data[j] = span;
        // Node labels are whole numbers in the int32 range.
        labelCodes_.data[j] = static_cast<std::int32_t>(label);
        setLimits(j);
    }
    count_ = j + 1;
    return true;
}

// Node j may matter to a pattern of its own label only while !(d - tolerance > radius), which
// needs d <= radius + tolerance, give or take a few ulps (1e-12 relative covers them); to one
// of another label also while d < reach.
void NodeTiles::setLimits(int j) {
    const double radius = radii_.data[j];
    const double own =
        radius + kCoverageTolerance + 1e-12 * (std::fabs(radius) + kCoverageTolerance) + 1e-300;
    const double reach = reaches_.data[j];
    const double other = own >= reach ? own : reach;  // NaN gives NaN
    const double span = spans_.data[j];
    const auto limit = [&](double t) {
        if (!(span <= kLargestSpan) || std::isnan(t)) return std::numeric_limits<float>::infinity();
        return floatAbove(((t > 0 ? t : 0.0) + kFloatError * span) * growth(n_) * (1.0 + 0x1p-21));
    };
    ownLimits_.data[j] = limit(own);
    otherLimits_.data[j] = limit(other);
}

NodeTiles::Pattern NodeTiles::prepare(const double* x, double label, float* scratch,
                                      int nodesAhead) const {
    Pattern p{x, label, FloatPattern{scratch, 0.0f, 0, false, 0.0f}, false};
    if (filter_ == nullptr || count_ == 0 || nodesAhead < kFilterPays) return p;
    double span = 0.0;
    for (int i = 0; i < n_; ++i) {
        const double t = x[i] - origin_.data[i];
        span += std::fabs(t);
        scratch[i] = std::fabs(t) <= kLargestSpan ? static_cast<float>(t) : 0.0f;
    }
    if (!(span <= kLargestSpan))
        return p;  // single-precision values might overflow: exact scans only
    p.filtered = true;
    p.floats.slack =
        floatAbove((kFloatError * span + n_ * 0x1p-100) * growth(n_) * (1.0 + 0x1p-21));
    p.floats.labelCoded =
        label >= -2147483648.0 && label <= 2147483647.0 && label == std::trunc(label);
    p.floats.labelCode = p.floats.labelCoded ? static_cast<std::int32_t>(label) : 0;
    return p;
}

// Where a limit for other labels comes from the reach t = rLimit + a (a = radius + margin)
// rather than the node's own coverage, it is at least (t + E) G with G >= 1 (see setLimits);
// the reach r + a needs only (t' + E) G, and t - t' >= (rLimit - r) less the two sums'
// roundings, at most 2^-53 of each, which the limit's own slack (raised by 2^-20 in the
// filter) holds. The cut is rounded down, and the filter lowers the limits rounding up.
void NodeTiles::narrowReach(Pattern& p, double rLimit, double r) const {
    const double cut = (rLimit - r) * (1.0 - 0x1p-40);
    if (!(cut > 0)) return;
    p.floats.reachCut = cut >= std::numeric_limits<float>::max() ? std::numeric_limits<float>::max()
                                                                 : -floatAbove(-cut);
}

NodeTiles::View NodeTiles::view() const {
    return View{centres_.data,      radii_.data,     labels_.data,      reaches_.data,   n_,
                floatCentres_.data, ownLimits_.data, otherLimits_.data, labelCodes_.data};
}

int NodeTiles::nextThatMayMatter(const Pattern& p, int from, int to, double* d) const {
    if (from >= to) return to;
    // A pattern without a single-precision form (huge, or prepared before the first node) scans
    // exactly.
    return p.filtered ? filter_({view(), p.floats, nullptr, 0, p.x, p.label, d}, from, to)
                      : scan_(view(), from, to, p.x, p.label, d);
}

void NodeTiles::makeFloatSums(const FloatPattern& q, int from, int to, float* sums) const {
    floatSums_(view(), q, from, to, sums);
}

int NodeTiles::nextBySums(const Pattern& p, const float* sums, int sumsFrom, int from, int to,
                          double* d) const {
    if (from >= to) return to;
    return sumsFilter_({view(), p.floats, sums, sumsFrom, p.x, p.label, d}, from, to);
}

int NodeTiles::nearest(const double* x) const {
    return count_ == 0 ? -1 : nearest_(view(), count_, x);
}

}  // namespace sphnet
