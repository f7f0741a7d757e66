#include "node_tiles.h"

#include <cmath>
#include <cstring>

#include "sphere_node.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define SPHNET_TILES_X86 1
#endif

namespace sphnet {

namespace {

constexpr int kLanes = NodeTiles::kLanes;
constexpr unsigned kAllLanes = (1u << kLanes) - 1;
constexpr int kCityBlock = static_cast<int>(NormKind::CityBlock);

// Lanes of the tile starting at node `first` that hold nodes in [from, to).
inline unsigned lanesInRange(int first, int from, int to) {
    unsigned lanes = kAllLanes;
    if (first < from) lanes &= kAllLanes << (from - first);
    if (to - first < kLanes) lanes &= kAllLanes >> (kLanes - (to - first));
    return lanes;
}

// Per node: whether it may matter (see NodeTiles::nextThatMayMatter), with the comparisons
// written as negations so that they read exactly as the scan's own tests.
inline bool mayMatter(double distance, double radius, double label, double reach, double xLabel) {
    return !(distance - kCoverageTolerance > radius) || (!(label == xLabel) && !(distance >= reach));
}

// Every vector version computes, per lane, the scan's own terms |c_i - x_i| in index order: the
// sum (p = 1) or the largest (p = +Inf, where max(t, d) is `t > d ? t : d`), from 0.
template <int Kind>
int scanPortable(const NodeTiles::View& v, int from, int to, const double* x, double label, double* d) {
    const auto n = static_cast<std::size_t>(v.n);
    for (int first = from - from % kLanes; first < to; first += kLanes) {
        const double* tile = v.centres + static_cast<std::size_t>(first) * n;
        double distance[kLanes] = {};
        for (std::size_t i = 0; i < n; ++i) {
            for (int l = 0; l < kLanes; ++l) {
                const double t = std::fabs(tile[i * kLanes + l] - x[i]);
                distance[l] = Kind == kCityBlock ? distance[l] + t : (t > distance[l] ? t : distance[l]);
            }
        }
        const unsigned lanes = lanesInRange(first, from, to);
        for (int l = 0; l < kLanes; ++l) {
            if (((lanes >> l) & 1u) != 0 &&
                mayMatter(distance[l], v.radii[first + l], v.labels[first + l], v.reaches[first + l], label)) {
                std::memcpy(d, distance, sizeof distance);
                return first;
            }
        }
    }
    return to;
}

#if SPHNET_TILES_X86
// The sums of one tile form a chain of dependent additions; two tiles at a time keep two chains
// in flight.
template <int Kind>
__attribute__((target("avx512f"))) inline __m512d stepAvx512(__m512d distance, const double* c, __m512d xi) {
    const __m512d t = _mm512_abs_pd(_mm512_sub_pd(_mm512_loadu_pd(c), xi));
    return Kind == kCityBlock ? _mm512_add_pd(distance, t)
                              : _mm512_mask_blend_pd(_mm512_cmp_pd_mask(t, distance, _CMP_GT_OQ), distance, t);
}

__attribute__((target("avx512f"))) inline unsigned mattersAvx512(const NodeTiles::View& v, int first,
                                                                 __m512d distance, double label) {
    const __mmask8 mayCover =
        _mm512_cmp_pd_mask(_mm512_sub_pd(distance, _mm512_set1_pd(kCoverageTolerance)),
                           _mm512_loadu_pd(v.radii + first), _CMP_NGT_UQ);
    const __mmask8 foreign =
        _mm512_cmp_pd_mask(_mm512_loadu_pd(v.labels + first), _mm512_set1_pd(label), _CMP_NEQ_UQ);
    const __mmask8 near = _mm512_cmp_pd_mask(distance, _mm512_loadu_pd(v.reaches + first), _CMP_NGE_UQ);
    return static_cast<unsigned>(mayCover | (foreign & near));
}

template <int Kind>
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
            for (std::size_t i = 0; i < n; ++i) a = stepAvx512<Kind>(a, tile + i * kLanes, _mm512_set1_pd(x[i]));
        }
        if ((mattersAvx512(v, first, a, label) & lanesInRange(first, from, to)) != 0) {
            _mm512_storeu_pd(d, a);
            return first;
        }
        if (pair && (mattersAvx512(v, first + kLanes, b, label) & lanesInRange(first + kLanes, from, to)) != 0) {
            _mm512_storeu_pd(d, b);
            return first + kLanes;
        }
    }
    return to;
}

// AVX2 and the x86-64 baseline (SSE2): the tile as Width-lane halves or quarters.
template <int Kind>
__attribute__((target("avx2"))) int scanAvx2(const NodeTiles::View& v, int from, int to, const double* x,
                                             double label, double* d) {
    const auto n = static_cast<std::size_t>(v.n);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
    const __m256d tolerance = _mm256_set1_pd(kCoverageTolerance);
    const __m256d xLabel = _mm256_set1_pd(label);
    for (int first = from - from % kLanes; first < to; first += kLanes) {
        const double* tile = v.centres + static_cast<std::size_t>(first) * n;
        __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
        for (std::size_t i = 0; i < n; ++i) {
            const __m256d xi = _mm256_set1_pd(x[i]);
            const __m256d tLow = _mm256_and_pd(_mm256_sub_pd(_mm256_loadu_pd(tile + i * kLanes), xi), magnitude);
            const __m256d tHigh = _mm256_and_pd(_mm256_sub_pd(_mm256_loadu_pd(tile + i * kLanes + 4), xi), magnitude);
            low = Kind == kCityBlock ? _mm256_add_pd(low, tLow) : _mm256_max_pd(tLow, low);
            high = Kind == kCityBlock ? _mm256_add_pd(high, tHigh) : _mm256_max_pd(tHigh, high);
        }
        unsigned matters = 0;
        for (int half = 0; half < 2; ++half) {
            const __m256d distance = half == 0 ? low : high;
            const int at = first + 4 * half;
            const __m256d mayCover = _mm256_cmp_pd(_mm256_sub_pd(distance, tolerance), _mm256_loadu_pd(v.radii + at), _CMP_NGT_UQ);
            const __m256d foreign = _mm256_cmp_pd(_mm256_loadu_pd(v.labels + at), xLabel, _CMP_NEQ_UQ);
            const __m256d near = _mm256_cmp_pd(distance, _mm256_loadu_pd(v.reaches + at), _CMP_NGE_UQ);
            matters |= static_cast<unsigned>(_mm256_movemask_pd(_mm256_or_pd(mayCover, _mm256_and_pd(foreign, near)))) << (4 * half);
        }
        if ((matters & lanesInRange(first, from, to)) != 0) {
            _mm256_storeu_pd(d, low);
            _mm256_storeu_pd(d + 4, high);
            return first;
        }
    }
    return to;
}

template <int Kind>
int scanSse2(const NodeTiles::View& v, int from, int to, const double* x, double label, double* d) {
    const auto n = static_cast<std::size_t>(v.n);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
    const __m128d tolerance = _mm_set1_pd(kCoverageTolerance);
    const __m128d xLabel = _mm_set1_pd(label);
    for (int first = from - from % kLanes; first < to; first += kLanes) {
        const double* tile = v.centres + static_cast<std::size_t>(first) * n;
        __m128d distance[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
        for (std::size_t i = 0; i < n; ++i) {
            const __m128d xi = _mm_set1_pd(x[i]);
            for (int q = 0; q < 4; ++q) {
                const __m128d t = _mm_and_pd(_mm_sub_pd(_mm_loadu_pd(tile + i * kLanes + 2 * q), xi), magnitude);
                distance[q] = Kind == kCityBlock ? _mm_add_pd(distance[q], t) : _mm_max_pd(t, distance[q]);
            }
        }
        unsigned matters = 0;
        for (int q = 0; q < 4; ++q) {
            const int at = first + 2 * q;
            const __m128d mayCover = _mm_cmpngt_pd(_mm_sub_pd(distance[q], tolerance), _mm_loadu_pd(v.radii + at));
            const __m128d foreign = _mm_cmpneq_pd(_mm_loadu_pd(v.labels + at), xLabel);
            const __m128d near = _mm_cmpnge_pd(distance[q], _mm_loadu_pd(v.reaches + at));
            matters |= static_cast<unsigned>(_mm_movemask_pd(_mm_or_pd(mayCover, _mm_and_pd(foreign, near)))) << (2 * q);
        }
        if ((matters & lanesInRange(first, from, to)) != 0) {
            for (int q = 0; q < 4; ++q) _mm_storeu_pd(d + 2 * q, distance[q]);
            return first;
        }
    }
    return to;
}
#endif

}  // namespace

bool NodeTiles::available(Vectors vectors) {
#if SPHNET_TILES_X86
    __builtin_cpu_init();
    switch (vectors) {
        case Vectors::Avx512: return __builtin_cpu_supports("avx512f");
        case Vectors::Avx2: return __builtin_cpu_supports("avx2");
        default: return true;
    }
#else
    return vectors == Vectors::Best || vectors == Vectors::Portable;
#endif
}

namespace {
template <int Kind>
NodeTiles::Scan scanFor(NodeTiles::Vectors vectors) {
    using Vectors = NodeTiles::Vectors;
#if SPHNET_TILES_X86
    if (vectors == Vectors::Best) {
        vectors = NodeTiles::available(Vectors::Avx512) ? Vectors::Avx512
                  : NodeTiles::available(Vectors::Avx2) ? Vectors::Avx2
                                                        : Vectors::Sse2;
    }
    switch (vectors) {
        case Vectors::Avx512: return scanAvx512<Kind>;
        case Vectors::Avx2: return scanAvx2<Kind>;
        case Vectors::Sse2: return scanSse2<Kind>;
        default: return scanPortable<Kind>;
    }
#else
    (void)vectors;
    return scanPortable<Kind>;
#endif
}
}  // namespace

void NodeTiles::init(NormKind kind, int n, Vectors vectors) {
    release();
    n_ = n;
    scan_ = kind == NormKind::CityBlock ? scanFor<kCityBlock>(vectors)
                                        : scanFor<static_cast<int>(NormKind::Maximum)>(vectors);
}

bool NodeTiles::append(const double* centre, double radius, double label, double reach) {
    const int j = count_;
    if (j % kLanes == 0) {
        // A new tile; its unused lanes are never reported (see nextThatMayMatter).
        const std::size_t tiles = static_cast<std::size_t>(j / kLanes) + 1;
        if (!centres_.resize(tiles * kLanes * static_cast<std::size_t>(n_), 0.0) ||
            !radii_.resize(tiles * kLanes, 0.0) || !labels_.resize(tiles * kLanes, 0.0) ||
            !reaches_.resize(tiles * kLanes, 0.0)) {
            return false;
        }
    }
    double* tile = centres_.data + static_cast<std::size_t>(j - j % kLanes) * n_;
    for (int i = 0; i < n_; ++i) tile[static_cast<std::size_t>(i) * kLanes + j % kLanes] = centre[i];
    radii_.data[j] = radius;
    labels_.data[j] = label;
    reaches_.data[j] = reach;
    count_ = j + 1;
    return true;
}

int NodeTiles::nextThatMayMatter(int from, int to, const double* x, double label, double* d) const {
    if (from >= to) return to;
    const View view{centres_.data, radii_.data, labels_.data, reaches_.data, n_};
    return scan_(view, from, to, x, label, d);
}

void NodeTiles::release() {
    centres_.release();
    radii_.release();
    labels_.release();
    reaches_.release();
    count_ = 0;
}

}  // namespace sphnet
