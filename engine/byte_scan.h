// Searches for bytes of interest, sixteen at a time where the processor allows.
// The readers and writers spend most of their time skipping ordinary text, so
// these loops see nearly every byte of a conversion. Each search has a scalar
// twin (...Scalar) that gives the same answer a byte at a time: it finishes
// the last short step, and the tests hold the two together.
#pragma once

#include <algorithm>
#include <cstddef>

#include "services/simd.h"

namespace marklode {

// The first byte in [p, e) equal to one of Cs, or e.
template <char... Cs>
const char* FindFirstOfScalar(const char* p, const char* e) {
  while (p < e && ((*p != Cs) && ...)) ++p;
  return p;
}

template <char... Cs>
const char* FindFirstOf(const char* p, const char* e) {
#if MARKLODE_SSE2
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(Cs)))), ...);
    if (const auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit)))
      return p + LowestSetBit(static_cast<std::uint32_t>(bits));
    p += 16;
  }
#endif
  return FindFirstOfScalar<Cs...>(p, e);
}

// The first byte in [p, e) equal to none of Cs, or e.
template <char... Cs>
const char* FindFirstNotOfScalar(const char* p, const char* e) {
  while (p < e && ((*p == Cs) || ...)) ++p;
  return p;
}

template <char... Cs>
const char* FindFirstNotOf(const char* p, const char* e) {
#if MARKLODE_SSE2
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(Cs)))), ...);
    if (const unsigned bits = ~static_cast<unsigned>(_mm_movemask_epi8(hit)) & 0xFFFFu)
      return p + LowestSetBit(static_cast<std::uint32_t>(bits));
    p += 16;
  }
#endif
  return FindFirstNotOfScalar<Cs...>(p, e);
}

// The first byte in [p, e) below 0x20 or above 0x7F (a control or part of a
// non-ASCII character), or e.
inline const char* FindControlOrHighScalar(const char* p, const char* e) {
  while (p < e && static_cast<unsigned char>(*p) >= 0x20 && static_cast<unsigned char>(*p) < 0x80)
    ++p;
  return p;
}

inline const char* FindControlOrHigh(const char* p, const char* e) {
#if MARKLODE_SSE2
  const __m128i space = _mm_set1_epi8(0x20);
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed: bytes above 0x7F count as negative, so one compare finds both.
    if (const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, space))))
      return p + LowestSetBit(static_cast<std::uint32_t>(bits));
    p += 16;
  }
#endif
  return FindControlOrHighScalar(p, e);
}

// The first byte in [p, e) below 0x20 or equal to 0xEF, or e. In UTF-8 text
// these are all that may need a look before XML can hold it: the controls,
// and the lead byte of U+FFFE and U+FFFF.
inline const char* FindControlOrEFScalar(const char* p, const char* e) {
  while (p < e && static_cast<unsigned char>(*p) >= 0x20 && static_cast<unsigned char>(*p) != 0xEF)
    ++p;
  return p;
}

inline const char* FindControlOrEF(const char* p, const char* e) {
#if MARKLODE_SSE2
  const __m128i top = _mm_set1_epi8(0x1F);
  const __m128i ef = _mm_set1_epi8(static_cast<char>(0xEF));
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, top), v);  // unsigned v <= 0x1F
    if (const auto bits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(v, ef)))))
      return p + LowestSetBit(static_cast<std::uint32_t>(bits));
    p += 16;
  }
#endif
  return FindControlOrEFScalar(p, e);
}

// The first byte in [p, e) that may end a CSV record or need a change before
// XML can hold it: a double quote, a control (CR and LF among them), or 0xEF
// (the lead byte of U+FFFE and U+FFFF). Or e. With Commas, commas stop it
// too. Whether any byte up to the stop (itself included) is above 0x7F is ORed
// into high: text without one is plain ASCII, with no need for a UTF-8 check.
template <bool Commas = false>
const char* FindRecordStopScalar(const char* p, const char* e, unsigned& high) {
  for (; p < e; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    high |= c >> 7;
    if (c == '"' || c < 0x20 || c == 0xEF || (Commas && c == ',')) break;
  }
  return p;
}

template <bool Commas = false>
const char* FindRecordStop(const char* p, const char* e, unsigned& high) {
#if MARKLODE_SSE2
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i top = _mm_set1_epi8(0x1F);
  const __m128i ef = _mm_set1_epi8(static_cast<char>(0xEF));
  while (e - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, top), v);  // unsigned v <= 0x1F
    __m128i stop =
        _mm_or_si128(_mm_or_si128(control, _mm_cmpeq_epi8(v, quote)), _mm_cmpeq_epi8(v, ef));
    if constexpr (Commas) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, comma));
    const auto bits = static_cast<unsigned>(_mm_movemask_epi8(stop));
    const auto highBits = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (bits) {
      const unsigned k = LowestSetBit(static_cast<std::uint32_t>(bits));
      high |= highBits & ((2u << k) - 1);
      return p + k;
    }
    high |= highBits;
    p += 16;
  }
#endif
  return FindRecordStopScalar<Commas>(p, e, high);
}

// How many bytes in [p, e) equal C: the GPX reader counts line ends with it
// as it goes, so it must cost next to nothing per byte.
template <char C>
std::size_t CountByteScalar(const char* p, const char* e) {
  std::size_t n = 0;
  for (; p < e; ++p) n += *p == C;
  return n;
}

template <char C>
std::size_t CountByte(const char* p, const char* e) {
  std::size_t n = 0;
#if MARKLODE_SSE2
  const __m128i c = _mm_set1_epi8(C);
  const auto match = [&](const char* q) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), c);
  };
  while (e - p >= 16) {
    // Each match subtracts one from its lane's byte count, which may reach
    // 255 before the lanes are summed: steps of four blocks, then blocks.
    __m128i lanes = _mm_setzero_si128();
    std::size_t blocks = std::min<std::size_t>(252, static_cast<std::size_t>(e - p) / 16);
    for (; blocks >= 4; blocks -= 4, p += 64) {
      const __m128i ab = _mm_add_epi8(match(p), match(p + 16));
      const __m128i cd = _mm_add_epi8(match(p + 32), match(p + 48));
      lanes = _mm_sub_epi8(lanes, _mm_add_epi8(ab, cd));
    }
    for (; blocks > 0; --blocks, p += 16) lanes = _mm_sub_epi8(lanes, match(p));
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  return n + CountByteScalar<C>(p, e);
}

}  // namespace marklode
