// Plain decimal numbers and coordinates.
#include <cstddef>

#include "services/strings.h"

namespace marklode {

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

}  // namespace marklode
