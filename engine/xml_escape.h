// Putting text into GPX output at a raw pointer: values escaped as XML
// character data or attribute values. The caller has reserved
// the room: kEscapedMost bytes per character of a value, and for the padded
// routines PaddedText::kPad bytes more (PaddedBuffer::Reserve gives both).
// The sixteen-byte routine has a scalar twin that the tests hold it to.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "engine/byte_scan.h"
#include "engine/padded_text.h"
#include "services/simd.h"

namespace marklode {

constexpr std::size_t kEscapedMost = 6;  // "&quot;" for one character

inline char* Put(char* p, std::string_view text) {
  return CopyBytes(p, text.data(), text.size());
}

// Text as XML character data or attribute value; runs without markup
// characters are copied whole. Returns the new end.
inline char* PutEscaped(char* p, std::string_view text) {
  const char* r = text.data();
  const char* const e = r + text.size();
  for (;;) {
    const char* run = r;
    r = FindFirstOf<'<', '>', '&', '"'>(r, e);
    p = Put(p, std::string_view(run, r - run));
    if (r == e) return p;
    switch (*r++) {
      case '<':
        p = Put(p, "&lt;");
        break;
      case '>':
        p = Put(p, "&gt;");
        break;
      case '&':
        p = Put(p, "&amp;");
        break;
      default:
        p = Put(p, "&quot;");
    }
  }
}

// PutEscaped for text that may be read past its end, at p with kPad bytes of
// room to spare: sixteen bytes are copied and checked at a time, however
// short the text. Its scalar twin is PutEscaped.
inline char* PutEscapedPadded(char* p, PaddedText text) {
#if MARKLODE_SSE2
  const char* r = text.data();
  const char* const e = r + text.size();
  while (r < e) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    const __m128i markup = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_set1_epi8('>'))),
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
    const auto left = static_cast<std::size_t>(e - r);
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(markup));
    if (left < 16) bits &= (1u << left) - 1;
    if (bits == 0) {
      const std::size_t step = left < 16 ? left : 16;
      p += step;
      r += step;
      continue;
    }
    const unsigned k = LowestSetBit(static_cast<std::uint32_t>(bits));
    p = PutEscaped(p + k, std::string_view(r + k, 1));
    r += k + 1;
  }
  return p;
#else
  return PutEscaped(p, text.view());
#endif
}

}  // namespace marklode
