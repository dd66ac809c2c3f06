// One switch for the SIMD paths: MARKLODE_SSE2 is 1 where SSE2 is there to use
// and the build did not turn SIMD off (MARKLODE_NO_SIMD); every such path has a
// scalar twin that the tests compare with it.
#pragma once

#include <bit>

#if defined(__SSE2__) && !defined(MARKLODE_NO_SIMD)
#define MARKLODE_SSE2 1
#include <emmintrin.h>
#else
#define MARKLODE_SSE2 0
#endif

namespace marklode {
// The index of the lowest set bit of a nonzero mask.
inline unsigned LowestBit(unsigned mask) {
  return static_cast<unsigned>(std::countr_zero(mask));
}
}  // namespace marklode
