// The compiler builtins the kernels use, with plain fallbacks for compilers without GNU
// extensions (MSVC): the same values, only more slowly.
#pragma once

#if !defined(__GNUC__)
#include <intrin.h>  // MSVC's _BitScanForward
#endif

// The x86-64 vector kernels (intrinsics in functions with target attributes, chosen at run time)
// build with GCC and Clang. MSVC builds, and other processors, run the portable kernels.
#if defined(__GNUC__) && defined(__x86_64__)
#define SPHNET_X86_KERNELS 1
#include <immintrin.h>
#else
#define SPHNET_X86_KERNELS 0
#endif

#if defined(__GNUC__)
#define SPHNET_ALWAYS_INLINE __attribute__((always_inline)) inline
#define SPHNET_NEVER_INLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define SPHNET_ALWAYS_INLINE inline
#define SPHNET_NEVER_INLINE __declspec(noinline)
#else
#define SPHNET_ALWAYS_INLINE inline
#define SPHNET_NEVER_INLINE
#endif

namespace sphnet {

// The number of the lowest set bit of a non-zero mask.
inline int lowestLane(unsigned mask) {
#if defined(__GNUC__)
    return __builtin_ctz(mask);
#else
    unsigned long index;
    _BitScanForward(&index, mask);
    return static_cast<int>(index);
#endif
}

// Starts loading the cache line that holds `address`: a hint, nothing where there is none.
inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

}  // namespace sphnet
