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

std::string_view Ranged(std::string_view v, std::string_view range) {
  if (range.empty()) return v;
  long long a = Bound(FieldAt(range, 1, '-'));
  long long b = FieldCount(range, '-') >= 2 ? Bound(FieldAt(range, 2, '-')) : 0;
  if (a < 1) a = 1;
  if (b < a) b = static_cast<long long>(CharCount(v));
  return CharSlice(v, static_cast<std::size_t>(a), static_cast<std::size_t>(b));
}

std::string_view Named(std::string_view name, NamedValues named) {
  for (const auto& [n, v] : named)
    if (n == name) return v;
  for (const auto& [n, v] : named)
    if (IEquals(n, name)) return v;
  return {};
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
  return Ranged(v, inner.empty() ? inner : inner.substr(1));
}

}  // namespace

void ExpandTemplateInto(std::string& out, std::string_view templ, std::string_view letters,
                        std::span<const std::string_view> values, NamedValues named) {
  out.clear();
  std::size_t pos = 0;
  for (;;) {
    std::size_t lt = templ.find('<', pos);
    if (lt == std::string_view::npos) break;
    if (lt + 1 < templ.size() && templ[lt + 1] == '{') {
      const std::size_t close = templ.find('}', lt + 2);
      const std::size_t gt = close == std::string_view::npos ? close : templ.find('>', close + 1);
      if (gt != std::string_view::npos) {
        out.append(templ, pos, lt - pos);
        out.append(Ranged(Named(templ.substr(lt + 2, close - lt - 2), named),
                          templ.substr(close + 1, gt - close - 1)));
        pos = gt + 1;
        continue;
      }
    }
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
                           std::span<const std::string_view> values, NamedValues named) {
  std::string out;
  ExpandTemplateInto(out, templ, letters, values, named);
  return out;
}

}  // namespace marklode
