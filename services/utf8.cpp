// UTF-8: validation (a vector loop and its plain twin), character counts and
// slices, encoding.
#include <algorithm>
#include <cstddef>

#include "services/char_steps.h"
#include "services/simd.h"
#include "services/strings.h"

namespace marklode {

using char_steps::CharStep;
using char_steps::HasHighBytes;
using char_steps::SequenceLength;

namespace {

// Checks sequences one by one from p (where one starts) to e.
bool ValidSequences(const unsigned char* p, const unsigned char* e) {
  for (;;) {
    while (p < e && *p < 0x80) ++p;
    if (p == e) return true;
    const std::size_t n = SequenceLength(p, e);
    if (n == 0) return false;
    p += n;
  }
}

#if MARKLODE_SSE2
// Sixteen bytes at p, whose three bytes before belong to the text, checked as
// one: each byte is a continuation exactly when a lead byte before it asks
// for one, no byte is one that never occurs, and the second byte after E0,
// ED, F0 and F4 lies in its narrower range.
bool ValidBlock(const unsigned char* p) {
  const auto load = [](const unsigned char* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  };
  const __m128i v = load(p), v1 = load(p - 1), v2 = load(p - 2), v3 = load(p - 3);
  // Unsigned a >= b, bytewise.
  const auto atLeast = [&](__m128i a, int b) {
    return _mm_cmpeq_epi8(_mm_max_epu8(a, _mm_set1_epi8(static_cast<char>(b))), a);
  };
  const auto equal = [](__m128i a, int b) {
    return _mm_cmpeq_epi8(a, _mm_set1_epi8(static_cast<char>(b)));
  };
  const __m128i isTail =
      _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(0xC0)));  // signed: 80..BF
  const __m128i wantsTail =
      _mm_or_si128(_mm_or_si128(atLeast(v1, 0xC0), atLeast(v2, 0xE0)), atLeast(v3, 0xF0));
  __m128i bad = _mm_xor_si128(isTail, wantsTail);
  bad = _mm_or_si128(bad, _mm_or_si128(equal(v, 0xC0), equal(v, 0xC1)));
  bad = _mm_or_si128(bad, atLeast(v, 0xF5));
  bad = _mm_or_si128(bad, _mm_andnot_si128(atLeast(v, 0xA0), equal(v1, 0xE0)));
  bad = _mm_or_si128(bad, _mm_and_si128(atLeast(v, 0xA0), equal(v1, 0xED)));
  bad = _mm_or_si128(bad, _mm_andnot_si128(atLeast(v, 0x90), equal(v1, 0xF0)));
  bad = _mm_or_si128(bad, _mm_and_si128(atLeast(v, 0x90), equal(v1, 0xF4)));
  return _mm_movemask_epi8(bad) == 0;
}
#endif

}  // namespace

bool IsValidUtf8Scalar(std::string_view s) {
  const auto* const b = reinterpret_cast<const unsigned char*>(s.data());
  return ValidSequences(b, b + s.size());
}

bool IsValidUtf8(std::string_view s) {
#if MARKLODE_SSE2
  const auto* const b = reinterpret_cast<const unsigned char*>(s.data());
  const auto* const e = b + s.size();
  const auto* p = b;
  // Up to the first high byte one by one; after it, blocks of sixteen bytes,
  // each checked with the three before it, from a place where a sequence
  // starts. The last bytes go one sequence at a time from the start of the
  // last sequence in the blocks.
  while (e - p >= 16 &&
         _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0)
    p += 16;
  if (p - b < 3) {
    const auto* start = p;
    while (p < e && p - start < 16) ++p;                         // a first stretch, one by one
    while (p < e && (*p & 0xC0) == 0x80 && p - start < 19) ++p;  // to where a sequence starts
    if (!ValidSequences(start, p)) return false;
  }
  for (; e - p >= 16; p += 16)
    if (!ValidBlock(p)) return false;
  // Continuation bytes before p were checked with the blocks; from p on, a
  // stray one is the sequences' to find.
  const auto* q = p - std::min<std::ptrdiff_t>(3, p - b);
  while (q < p && (*q & 0xC0) == 0x80) ++q;
  return ValidSequences(q, e);
#else
  return IsValidUtf8Scalar(s);
#endif
}

std::size_t CharCount(std::string_view s) {
  if (!HasHighBytes(s) || !IsValidUtf8(s)) return s.size();
  std::size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string_view CharSlice(std::string_view s, std::size_t first, std::size_t last) {
  if (first < 1) first = 1;
  if (last < first) return {};
  const bool utf8 = HasHighBytes(s) && IsValidUtf8(s);
  std::size_t i = 0, ch = 1;
  while (i < s.size() && ch < first) i += CharStep(s, i, utf8), ++ch;
  std::size_t b = i;
  while (i < s.size() && ch <= last) i += CharStep(s, i, utf8), ++ch;
  return s.substr(b, i - b);
}

std::string_view FirstChars(std::string_view s, std::size_t n) {
  if (s.size() <= n) return s;
  return n == 0 ? std::string_view() : CharSlice(s, 1, n);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

}  // namespace marklode
