// The one switch for vector code. MARKLODE_SSE2 is 1 when the compiler targets
// SSE2 and the build has not turned vector code off (cmake -DMARKLODE_SIMD=OFF
// defines MARKLODE_NO_SIMD), else 0; every vector loop has a plain twin that
// serves in its place and that the tests compare it with.
#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE2__) && !defined(MARKLODE_NO_SIMD)
#define MARKLODE_SSE2 1
#include <emmintrin.h>
#else
#define MARKLODE_SSE2 0
#endif

namespace marklode {

// The index of the lowest set bit of a mask that is not zero (a movemask
// result: the first byte of a block that matched).
inline int LowestSetBit(std::uint32_t mask) {
  return std::countr_zero(mask);
}

}  // namespace marklode
