// Fuzzes the command-line reader: the input is split at NUL bytes into the
// arguments. "/r" anywhere (any case) must set the reverse switch, and a
// profile request must name a profile.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_main.h"
#include "tests/fuzz/fuzz_check.h"

namespace {
bool IsSwitch(std::string_view a, char letter) {
  return a.size() == 2 && a[0] == '/' && (a[1] | 0x20) == letter;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  bool anyReverse = false;
  while (!text.empty()) {
    const std::size_t nul = text.find('\0');
    args.emplace_back(text.substr(0, nul));
    anyReverse = anyReverse || IsSwitch(args.back(), 'r');
    if (nul == std::string_view::npos) break;
    text.remove_prefix(nul + 1);
  }
  const marklode::CommandLine cmd = marklode::ParseCommandLine(args, "/nonexistent-marklode");
  FUZZ_CHECK(cmd.reverse == anyReverse);
  FUZZ_CHECK(!cmd.profile || (!cmd.request.empty() && !cmd.profileFile.empty()));
  FUZZ_CHECK(cmd.profile || cmd.profileFile.empty());
  return 0;
}
