// Fuzzes ExpandTemplate. The input is split at NUL bytes into the template, the
// letter set and the values. Expansion must always end, and a template without
// "<" must come back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/templates.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts = NulSeparated(data, size);
  const std::string_view templ = parts[0];
  const std::string_view letters = parts.size() > 1 ? parts[1] : marklode::kGpxLetters;
  const std::vector<std::string_view> values(parts.begin() + std::min<std::size_t>(2, parts.size()),
                                             parts.end());

  const std::string result = marklode::ExpandTemplate(templ, letters, values);
  FUZZ_CHECK(templ.find('<') != std::string_view::npos || result == templ);
  // Each token gives at most one whole value, so the result is bounded.
  std::size_t longest = 0;
  for (auto v : values) longest = std::max(longest, v.size());
  FUZZ_CHECK(result.size() <= templ.size() * (longest + 1));
  return 0;
}
