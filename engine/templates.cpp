#include "engine/templates.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "services/strings.h"

namespace marklode {
namespace {

// A range bound: a whole number, a fraction rounded half to even; empty, not a
// number or beyond 32 bits counts as 0.
long long Bound(std::string_view piece) {
  if (!IsDecimalNumber(piece)) return 0;
  std::string t(TrimSpaces(piece));
  if (t.size() > 30) return 0;
  double v = std::strtod(t.c_str(), nullptr);
  v = std::nearbyint(v);  // the default rounding mode rounds halves to even
  if (v > INT32_MAX || v < INT32_MIN) return 0;
  return static_cast<long long>(v);
}

std::string_view Replacement(std::string_view inner, std::string_view letters,
                             std::span<const std::string_view> values) {
  std::size_t k = 0;  // 1-based place of the letter in the set
  if (inner.empty()) {
    k = 1;
  } else {
    for (std::size_t i = 0; i < letters.size(); ++i)
      if (IEquals(letters.substr(i, 1), inner.substr(0, 1))) {
        k = i + 1;
        break;
      }
  }
  if (k == 0 || k > values.size()) return {};
  std::string_view v = values[k - 1];
  std::string_view range = inner.empty() ? inner : inner.substr(1);
  if (range.empty()) return v;  // the common case: the whole value
  long long a = Bound(FieldAt(range, 1, '-'));
  long long b = FieldCount(range, '-') >= 2 ? Bound(FieldAt(range, 2, '-')) : 0;
  if (a < 1) a = 1;
  if (b < a) b = static_cast<long long>(CharCount(v));
  return CharSlice(v, static_cast<std::size_t>(a), static_cast<std::size_t>(b));
}

}  // namespace

void ExpandTemplateInto(std::string& out, std::string_view templ, std::string_view letters,
                        std::span<const std::string_view> values) {
  out.clear();
  std::size_t pos = 0;
  for (;;) {
    std::size_t lt = templ.find('<', pos);
    if (lt == std::string_view::npos) break;
    std::size_t gt = templ.find('>', lt + 1);
    if (gt == std::string_view::npos) {
      out.assign(templ);
      return;
    }
    out.append(templ, pos, lt - pos);
    out.append(Replacement(templ.substr(lt + 1, gt - lt - 1), letters, values));
    pos = gt + 1;
  }
  out.append(templ.substr(pos));
}

std::string ExpandTemplate(std::string_view templ, std::string_view letters,
                           std::span<const std::string_view> values) {
  std::string out;
  ExpandTemplateInto(out, templ, letters, values);
  return out;
}

}  // namespace marklode
