// Fuzzes the profile reader over arbitrary INI text. The first line of the
// input names a section and a key ("section=key") to look up; the rest is the
// profile. Reading the whole profile must agree with reading its keys one by one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/profiles.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nl = input.find('\n');
  const std::string_view head = input.substr(0, nl);
  const std::string_view ini = nl == std::string_view::npos ? "" : input.substr(nl + 1);
  const std::size_t eq = head.find('=');
  marklode::GetProfileValue(ini, head.substr(0, eq),
                            eq == std::string_view::npos ? "" : head.substr(eq + 1));

  const marklode::ConversionProfile p = marklode::ParseProfile(ini);
  FUZZ_CHECK(p.Input == marklode::GetProfileValue(ini, "Profile", "Input"));
  FUZZ_CHECK(p.GenerateComment == marklode::GetProfileValue(ini, "PROFILE", "generatecomment"));
  marklode::FillProfileTemplate(ini, p.Input, p.Output, p.KeepCommentLineBreaks);
  return 0;
}
