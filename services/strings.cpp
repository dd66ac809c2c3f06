#include "services/strings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "services/simd.h"

namespace marklode {

int FieldCount(std::string_view text, char sep) {
  if (text.empty()) return 0;
  int count = 1;
  for (char c : text)
    if (c == sep) ++count;
  return count;
}

std::string_view FieldRange(std::string_view text, int first, int last, char sep) {
  if (first < 1) first = 1;
  if (last < 0) last = INT32_MAX;
  if (last < first) last = first;
  // Walk the separators once: start is where field `first` begins, end where
  // field `last` (or the text) ends.
  std::size_t start = std::string_view::npos;
  std::size_t pos = 0;
  for (int i = 1;; ++i) {
    if (i == first) start = pos;
    std::size_t next = text.find(sep, pos);
    if (next == std::string_view::npos) {
      if (start == std::string_view::npos) return {};
      return text.substr(start);
    }
    if (i == last) return text.substr(start, next - start);
    pos = next + 1;
  }
}

std::string_view FieldAt(std::string_view text, int n, char sep) {
  return FieldRange(text, n, 0, sep);
}

namespace {

// Replaces what findNext(text, from) finds, find.size() bytes each time.
template <class FindNext>
std::string Replace(std::string_view text, std::string_view find, std::string_view repl, int limit,
                    FindNext findNext) {
  if (find.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (int n = 0; limit < 0 || n < limit; ++n) {
    const std::size_t at = findNext(text, pos);
    if (at == std::string_view::npos) break;
    out.append(text, pos, at - pos).append(repl);
    pos = at + find.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::string ReplaceText(std::string_view text, std::string_view find, std::string_view repl,
                        int limit) {
  return Replace(text, find, repl, limit,
                 [find](std::string_view t, std::size_t from) { return t.find(find, from); });
}

std::string ReplaceTextNoCase(std::string_view text, std::string_view find, std::string_view repl) {
  return Replace(text, find, repl, -1,
                 [find](std::string_view t, std::size_t from) { return IFind(t, find, from); });
}

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t start = 0;;) {
    std::size_t run = text.find("  ", start);
    if (run == std::string_view::npos) {
      out.append(text.substr(start));
      return out;
    }
    out.append(text.substr(start, run + 1 - start));  // keeps one space
    start = text.find_first_not_of(' ', run);
    if (start == std::string_view::npos) return out;
  }
}

std::string_view TrimSpaces(std::string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && t[b] == ' ') ++b;
  while (e > b && t[e - 1] == ' ') --e;
  return t.substr(b, e - b);
}

std::string_view TrimBlanks(std::string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
  while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
  return t.substr(b, e - b);
}

namespace {
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
}  // namespace

std::string ToLowerAscii(std::string_view t) {
  std::string s(t);
  for (char& c : s) c = Lower(c);
  return s;
}

std::string ToUpperAscii(std::string_view t) {
  std::string s(t);
  for (char& c : s) c = Upper(c);
  return s;
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (text[i] != prefix[i] && Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

std::size_t IFind(std::string_view text, std::string_view what, std::size_t from) {
  if (what.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); ++i)
    if (IEquals(text.substr(i, what.size()), what)) return i;
  return std::string_view::npos;
}

bool IsDecimalNumber(std::string_view text) {
  std::string_view t = TrimSpaces(text);
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  int digits = 0, dots = 0;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      ++digits;
    } else if (t[i] == '.' && dots == 0) {
      ++dots;
    } else {
      return false;
    }
  }
  return digits > 0;
}

CoordinateParts ParseCoordinate(std::string_view text) {
  // One pass: the whole part is read as text, so any number of digits is exact.
  CoordinateParts c;
  c.text = TrimSpaces(text);
  const std::string_view t = c.text;
  std::size_t i = 0;
  const std::size_t n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) c.negative = t[i++] == '-';
  int significant = 0;
  bool digits = false;
  for (; i < n && t[i] >= '0' && t[i] <= '9'; ++i) {
    digits = true;
    if (c.whole == 0 && t[i] == '0') continue;  // leading zeros
    if (++significant > 3) return c;            // 1000 or more
    c.whole = c.whole * 10 + (t[i] - '0');
  }
  if (i < n && t[i] == '.') {
    for (++i; i < n && t[i] >= '0' && t[i] <= '9'; ++i) {
      digits = true;
      c.fraction = c.fraction || t[i] != '0';
    }
  }
  c.ok = i == n && digits;
  return c;
}

bool IsCoordinate(std::string_view text, int limit) {
  const CoordinateParts c = ParseCoordinate(text);
  return c.ok && (c.whole < limit || (c.whole == limit && !c.fraction));
}

namespace {

// Length of the UTF-8 sequence starting at p (before e), or 0 when it is not a
// valid one: overlong forms, surrogates and code points past U+10FFFF are
// refused.
std::size_t SequenceLength(const unsigned char* p, const unsigned char* e) {
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

std::size_t Utf8SeqLen(std::string_view s, std::size_t i) {
  const auto* b = reinterpret_cast<const unsigned char*>(s.data());
  return SequenceLength(b + i, b + s.size());
}

// Byte offsets at which characters start (plus the end), by the text's rule.
std::size_t CharStep(std::string_view s, std::size_t i, bool utf8) {
  if (!utf8) return 1;
  std::size_t n = Utf8SeqLen(s, i);
  return n ? n : 1;
}

bool HasHighBytes(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

}  // namespace

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

namespace marklode {

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const auto blank = [&line](std::size_t k) {
    return k < line.size() && (line[k] == ' ' || line[k] == '\t');
  };
  // The program's name knows no escapes: quoted, it runs to the next quote;
  // otherwise to the first blank.
  if (!line.empty() && line[0] == '"') {
    const std::size_t end = line.find('"', 1);
    args.emplace_back(line.substr(1, end == std::string_view::npos ? end : end - 1));
    i = end == std::string_view::npos ? line.size() : end + 1;
  } else {
    while (i < line.size() && !blank(i)) ++i;
    args.emplace_back(line.substr(0, i));
  }
  while (blank(i)) ++i;

  while (i < line.size()) {  // at the first character of an argument
    std::string arg;
    bool quoted = false;
    while (i < line.size() && !(blank(i) && !quoted)) {
      if (line[i] == '\\') {
        std::size_t n = 0;
        for (; i < line.size() && line[i] == '\\'; ++i) ++n;
        if (i == line.size() || line[i] != '"') {
          arg.append(n, '\\');  // backslashes are literal unless a quote follows
          continue;
        }
        arg.append(n / 2, '\\');
        if (n % 2 == 1) {  // an escaped quote: literal, no change of state
          arg += '"';
          ++i;
          continue;
        }
      }
      if (line[i] == '"') {
        // A run of quotes, counting the one that opened a quoted stretch:
        // every third is a literal quote, and one left over means "inside".
        std::size_t run = quoted ? 1 : 0;
        for (; i < line.size() && line[i] == '"'; ++i) ++run;
        arg.append(run / 3, '"');
        quoted = run % 3 == 1;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
    while (blank(i)) ++i;
  }
  return args;
}

}  // namespace marklode
