#include "engine/poi_clean.h"

#include <algorithm>
#include <cstring>

#include "services/simd.h"
#include "services/strings.h"

namespace marklode {
namespace {

#if MARKLODE_SSE2
// Which of the sixteen places from q hold "&" or "~", or start a run of two
// spaces or a " - " (looking two bytes further), a bit each; left is how much
// of the text is left from q, and what lies past it does not count. With
// kWidened, an "&" after the space counts as the space its " and " begins
// with.
template <bool kWidened = false>
unsigned CleaningHitMask(const char* q, std::size_t left, bool tildeBreaks, bool dashBreaks) {
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i amp = _mm_set1_epi8('&');
  const auto spaceAfter = [&](__m128i v) {
    const __m128i sp = _mm_cmpeq_epi8(v, space);
    return kWidened ? _mm_or_si128(sp, _mm_cmpeq_epi8(v, amp)) : sp;
  };
  const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
  const __m128i sp0 = _mm_cmpeq_epi8(v0, space);
  __m128i one = _mm_cmpeq_epi8(v0, amp);
  if (tildeBreaks) one = _mm_or_si128(one, _mm_cmpeq_epi8(v0, _mm_set1_epi8('~')));
  auto single = static_cast<unsigned>(_mm_movemask_epi8(one));
  auto pair = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(sp0, spaceAfter(v1))));
  unsigned triple = 0;
  if (dashBreaks) {
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
    triple = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_and_si128(sp0, spaceAfter(v2)), _mm_cmpeq_epi8(v1, _mm_set1_epi8('-')))));
  }
  if (left < 18) {
    const auto below = [](std::size_t k) { return k >= 16 ? 0xFFFFu : (1u << k) - 1; };
    single &= below(left);
    pair &= left >= 1 ? below(left - 1) : 0;
    triple &= left >= 2 ? below(left - 2) : 0;
  }
  return single | pair | triple;
}

bool CleaningHits(const char* q, std::size_t left, bool tildeBreaks, bool dashBreaks) {
  return CleaningHitMask(q, left, tildeBreaks, dashBreaks) != 0;
}
#endif

// The clean-up steps after "&" has been widened, in one pass from s[0, n) to
// out, which may be s itself (the text only shrinks, so writing stays behind
// reading): "~" (and, with dashBreaks, " - ") become line breaks, runs of
// spaces shrink to one and spaces around the text go. Returns the new end.
char* BreakAndCollapse(char* out, const char* s, std::size_t n, bool tildeBreaks, bool dashBreaks) {
  char* o = out;
  for (std::size_t r = 0; r < n;) {
    const char c = s[r++];
    if (c != ' ') {
      *o++ = tildeBreaks && c == '~' ? '\n' : c;
    } else if (dashBreaks && n - r >= 2 && s[r] == '-' && s[r + 1] == ' ') {
      *o++ = '\n';
      r += 2;
    } else if (o > out && o[-1] != ' ') {  // not a run, nor the front
      *o++ = ' ';
    }
  }
  if (o > out && o[-1] == ' ') --o;
  return o;
}

}  // namespace

bool NeedsCleaningScalar(std::string_view t, bool tildeBreaks, bool dashBreaks) {
  if (t.empty()) return false;
  if (t.front() == ' ' || t.back() == ' ') return true;
  for (const char *p = t.data(), *e = p + t.size(); p < e; ++p) {
    if (*p == '&' || (tildeBreaks && *p == '~')) return true;
    if (*p == ' ' && e - p >= 2 &&
        (p[1] == ' ' || (dashBreaks && p[1] == '-' && e - p >= 3 && p[2] == ' ')))
      return true;
  }
  return false;
}

bool NeedsCleaning(PaddedText t, bool tildeBreaks, bool dashBreaks) {
#if MARKLODE_SSE2
  if (t.empty()) return false;
  if (t.data()[0] == ' ' || t.data()[t.size() - 1] == ' ') return true;
  const char* const e = t.data() + t.size();
  for (const char* p = t.data(); p < e; p += 16)
    if (CleaningHits(p, static_cast<std::size_t>(e - p), tildeBreaks, dashBreaks)) return true;
  return false;
#else
  return NeedsCleaningScalar(t.view(), tildeBreaks, dashBreaks);
#endif
}

bool NeedsCleaning(std::string_view t, bool tildeBreaks, bool dashBreaks) {
#if MARKLODE_SSE2
  if (t.empty()) return false;
  if (t.front() == ' ' || t.back() == ' ') return true;
  const char* p = t.data();
  const char* const e = p + t.size();
  for (; e - p >= 18; p += 16)
    if (CleaningHits(p, static_cast<std::size_t>(e - p), tildeBreaks, dashBreaks)) return true;
  // The rest (most names are shorter than one step) from a padded copy; its
  // ends are no longer the text's, so only the inside is asked.
  const PaddedCopy rest(std::string_view(p, e - p));
  const PaddedText r = rest.text();
  for (const char* q = r.data(); q < r.data() + r.size(); q += 16)
    if (CleaningHits(q, static_cast<std::size_t>(r.data() + r.size() - q), tildeBreaks, dashBreaks))
      return true;
  return false;
#else
  return NeedsCleaningScalar(t, tildeBreaks, dashBreaks);
#endif
}

void CleanTextInPlace(std::string& t, bool tildeBreaks, bool dashBreaks) {
  const std::size_t firstAmp = t.find('&');
  if (firstAmp != std::string::npos) {
    const auto amps = std::count(t.begin() + firstAmp, t.end(), '&');
    // Widen in place, filling from the back up to the first "&".
    std::size_t r = t.size(), w = r + 4 * static_cast<std::size_t>(amps);
    t.resize(w);
    while (w != r) {
      if (t[--r] == '&') {
        w -= 5;
        std::memcpy(&t[w], " and ", 5);
      } else {
        t[--w] = t[r];
      }
    }
  }
  t.resize(BreakAndCollapse(t.data(), t.data(), t.size(), tildeBreaks, dashBreaks) - t.data());
}

std::string_view CleanText(std::string_view text, bool needed, bool tildeBreaks, bool dashBreaks,
                           std::string& scratch) {
  if (!needed) return text;
  scratch.assign(text);
  CleanTextInPlace(scratch, tildeBreaks, dashBreaks);
  return scratch;
}

void AppendCleaned(PaddedBuffer& out, std::string_view text, bool needed, bool tildeBreaks,
                   bool dashBreaks, std::string& scratch) {
  if (!needed) {
    out.Append(text);
  } else if (text.find('&') != std::string_view::npos) {
    out.Append(CleanText(text, true, tildeBreaks, dashBreaks, scratch));
  } else {
    out.Commit(BreakAndCollapse(out.Reserve(text.size()), text.data(), text.size(), tildeBreaks,
                                dashBreaks));
  }
}

void AppendCleaned(PaddedBuffer& out, PaddedText text, bool tildeBreaks, bool dashBreaks,
                   std::string& scratch) {
#if MARKLODE_SSE2
  (void)scratch;
  // BreakAndCollapse's rule on the text with each "&" widened to " and ", run
  // from the first place that needs it until a byte that is no space: from
  // there, up to the next hit, the text is copied as it is. (Past its front,
  // a lone space before other text stays.) The place in the widened text is
  // r, and v within the " and " of an "&" at r.
  static constexpr std::string_view kAnd = " and ";
  const char* const s = text.data();
  const std::size_t n = text.size();
  // The text only shrinks until an "&" widens it (room is made then); kPad
  // more for the last step.
  char* start = out.Reserve(n);
  char* o = start;
  std::size_t r = 0, v = 0;
  bool roomed = false;  // room made for the rest widened
  // The next byte of the widened text, taken.
  const auto take = [&] {
    if (s[r] != '&') return s[r++];
    const char c = kAnd[v];
    if (++v == kAnd.size()) {
      v = 0;
      ++r;
    }
    return c;
  };
  const auto rule = [&] {
    do {
      const char c = take();
      if (c != ' ') {
        *o++ = tildeBreaks && c == '~' ? '\n' : c;
      } else if (dashBreaks && v == 0 && n - r >= 2 && s[r] == '-' &&
                 (s[r + 1] == ' ' || s[r + 1] == '&')) {  // no "-" within " and "
        *o++ = '\n';
        take();
        take();
      } else if (o > start && o[-1] != ' ') {
        *o++ = ' ';
      }
    } while (r < n && (v > 0 || s[r] == ' '));
  };
  if (n > 0 && (s[0] == ' ' || s[0] == '&')) {
    roomed = true;
    start = o = out.Reserve(n + 4 * static_cast<std::size_t>(std::count(s, s + n, '&')));
    rule();
  }
  while (r < n) {
    const unsigned hits = CleaningHitMask<true>(s + r, n - r, tildeBreaks, dashBreaks);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + r)));
    if (hits == 0) {
      const std::size_t step = std::min<std::size_t>(16, n - r);
      o += step;
      r += step;
      continue;
    }
    const auto k = static_cast<std::size_t>(LowestSetBit(hits));
    o += k;
    r += k;
    if (!roomed) {  // at the first hit: what the rest widens to
      roomed = true;
      if (const auto amps = std::count(s + r, s + n, '&')) {
        const std::size_t done = static_cast<std::size_t>(o - start);
        out.Commit(o);
        o = out.Reserve(n - r + 4 * static_cast<std::size_t>(amps));
        start = o - done;
      }
    }
    rule();
  }
  if (o > start && o[-1] == ' ') --o;
  out.Commit(o);
#else
  AppendCleaned(out, text.view(), NeedsCleaningScalar(text.view(), tildeBreaks, dashBreaks),
                tildeBreaks, dashBreaks, scratch);
#endif
}

std::string_view CheckedCoordinate(std::string_view text, int limit, bool longitude) {
  const CoordinateParts c = ParseCoordinate(text);
  if (!c.ok || c.whole > limit || (c.whole == limit && c.fraction)) return {};
  return longitude && c.whole == 180 && !c.negative ? "-180" : c.text;
}

}  // namespace marklode
