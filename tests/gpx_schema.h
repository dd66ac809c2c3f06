// Every GPX the tests write is checked against the GPX 1.1 and Garmin GPX
// Extensions v2 schemas beside the repository, with xmllint ("--huge" lifts
// libxml2's 10 MB limit on one text). A test whose check cannot run (no
// xmllint, no schemas) is skipped with the reason, never passed.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/test_util.h"

namespace marklode::test {

inline std::string GpxSchema() {
  return std::string(MARKLODE_SOURCE_DIR) + "/../shared/schemas/gpx-with-gpxx.xsd";
}

// Why the check cannot run here; empty when it can.
inline std::string GpxSchemaCheckMissing() {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0)
    return "xmllint is not installed (scripts/setup.sh installs libxml2-utils)";
  if (!Exists(GpxSchema())) return "the GPX schemas are not beside the repository: " + GpxSchema();
  return {};
}

// Whether the file at path validates; xmllint's complaints go to err.
inline bool ValidatesAsGpx(const std::string& path, std::string& err) {
  const auto quoted = [](const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  TempDir dir;
  const std::string errFile = dir / "xmllint.err";
  const std::string cmd = "xmllint --noout --nonet --huge --schema " + quoted(GpxSchema()) + " " +
                          quoted(path) + " 2>" + quoted(errFile);
  const bool ok = std::system(cmd.c_str()) == 0;
  std::ifstream in(errFile);
  std::ostringstream text;
  text << in.rdbuf();
  err = text.str();
  return ok;
}

}  // namespace marklode::test

// Expects the file at path to validate; skips the calling test when the check
// cannot run. xmllint is a Linux tool: under Windows the rest of the test
// runs, and the GPX files that the Windows program writes are validated on
// the Linux side by the build's comparison of the two programs.
#ifdef _WIN32
#define MARKLODE_EXPECT_VALID_GPX(path) \
  do {                                  \
    (void)(path);                       \
  } while (0)
#else
#define MARKLODE_EXPECT_VALID_GPX(path)                                                    \
  do {                                                                                     \
    if (const std::string why_ = ::marklode::test::GpxSchemaCheckMissing(); !why_.empty()) \
      GTEST_SKIP() << why_;                                                                \
    std::string err_;                                                                      \
    EXPECT_TRUE(::marklode::test::ValidatesAsGpx((path), err_))                            \
        << (path) << " does not validate:\n"                                               \
        << err_;                                                                           \
  } while (0)
#endif
