// The filters' match patterns and file-name wildcards.
#include <cstddef>
#include <vector>

#include "services/char_steps.h"
#include "services/strings.h"

namespace marklode {

using char_steps::CharStep;
using char_steps::HasHighBytes;
using char_steps::Lower;

namespace {

// Text as a sequence of characters (code points, or bytes for non-UTF-8).
std::vector<char32_t> Chars(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  const bool utf8 = HasHighBytes(s) && IsValidUtf8(s);
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = CharStep(s, i, utf8);
    char32_t cp = static_cast<unsigned char>(s[i]);
    if (n > 1) {
      cp &= (0x7F >> n);
      for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    out.push_back(cp);
    i += n;
  }
  return out;
}

// Matches one element of a filter pattern at p against c; advances p past the
// element. Returns false when the element does not match.
bool MatchLikeElement(const std::vector<char32_t>& pat, std::size_t& p, char32_t c) {
  char32_t e = pat[p];
  if (e == '?') {
    ++p;
    return true;
  }
  if (e == '#') {
    ++p;
    return c >= '0' && c <= '9';
  }
  if (e == '[') {
    std::size_t close = p + 1;
    while (close < pat.size() && pat[close] != ']') ++close;
    if (close >= pat.size()) {  // no closing bracket: "[" stands for itself
      ++p;
      return c == '[';
    }
    std::size_t i = p + 1;
    bool negate = i < close && pat[i] == '!';
    if (negate) ++i;
    bool in = false;
    for (; i < close; ++i) {
      if (i + 2 < close && pat[i + 1] == '-') {
        if (c >= pat[i] && c <= pat[i + 2]) in = true;
        i += 2;
      } else if (pat[i] == c) {
        in = true;
      }
    }
    p = close + 1;
    return in != negate;
  }
  ++p;
  return e == c;
}

// The whole of t against pat, where "*" stands for any run and matchOne(pat,
// p, c) matches the element at p against one unit c and moves p past it.
// Greedy with backtracking to the last "*": linear for one star, at worst
// text x pattern, and it never recurses.
template <class Seq, class MatchOne>
bool StarMatch(const Seq& t, const Seq& pat, MatchOne matchOne) {
  std::size_t ti = 0, pi = 0, starP = std::string_view::npos, starT = 0;
  while (ti < t.size()) {
    if (pi < pat.size() && pat[pi] == '*') {
      starP = ++pi;
      starT = ti;
      continue;
    }
    std::size_t np = pi;
    if (pi < pat.size() && matchOne(pat, np, t[ti])) {
      pi = np;
      ++ti;
      continue;
    }
    if (starP == std::string_view::npos) return false;
    pi = starP;
    ti = ++starT;
  }
  while (pi < pat.size() && pat[pi] == '*') ++pi;
  return pi == pat.size();
}

}  // namespace

bool LikeMatch(std::string_view text, std::string_view pattern) {
  return StarMatch(Chars(text), Chars(pattern), MatchLikeElement);
}

bool WildcardMatch(std::string_view name, std::string_view pattern) {
  if (!HasHighBytes(name))
    return StarMatch(name, pattern, [](std::string_view pat, std::size_t& p, char c) {
      const char e = pat[p++];
      return e == '?' || Lower(e) == Lower(c);
    });
  // "?" stands for one character of a UTF-8 name, as the system's lookup
  // takes it ("?ódź.csv" finds "Łódź.csv").
  const auto lower = [](char32_t c) { return c < 0x80 ? char32_t(Lower(char(c))) : c; };
  return StarMatch(Chars(name), Chars(pattern),
                   [&](const std::vector<char32_t>& pat, std::size_t& p, char32_t c) {
                     const char32_t e = pat[p++];
                     return e == U'?' || lower(e) == lower(c);
                   });
}

}  // namespace marklode
