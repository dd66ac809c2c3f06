// One byte's ASCII case and the steps from one character to the next, shared
// by the files behind strings.h (the case, UTF-8 and pattern routines); inline,
// since the loops over each character call them.
#pragma once

#include <cstddef>
#include <string_view>

namespace marklode::char_steps {

inline char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

// Length of the UTF-8 sequence starting at p (before e), or 0 when it is not a
// valid one: overlong forms, surrogates and code points past U+10FFFF are
// refused.
inline std::size_t SequenceLength(const unsigned char* p, const unsigned char* e) {
  const auto tail = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  const unsigned char c = *p;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return e - p >= 2 && tail(p[1]) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (e - p < 3 || !tail(p[1]) || !tail(p[2])) return 0;
    return (c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) ? 0 : 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (e - p < 4 || !tail(p[1]) || !tail(p[2]) || !tail(p[3])) return 0;
    return (c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F) ? 0 : 4;
  }
  return 0;
}

inline std::size_t Utf8SeqLen(std::string_view s, std::size_t i) {
  const auto* b = reinterpret_cast<const unsigned char*>(s.data());
  return SequenceLength(b + i, b + s.size());
}

// Byte offsets at which characters start (plus the end), by the text's rule.
inline std::size_t CharStep(std::string_view s, std::size_t i, bool utf8) {
  if (!utf8) return 1;
  std::size_t n = Utf8SeqLen(s, i);
  return n ? n : 1;
}

inline bool HasHighBytes(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

}  // namespace marklode::char_steps
