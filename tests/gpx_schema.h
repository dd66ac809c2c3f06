// Every GPX the tests write is checked against the GPX 1.1 and Garmin GPX
// Extensions v2 schemas beside the repository, with xmllint ("--huge" lifts
// libxml2's 10 MB limit on one text). A test whose check cannot run (no
// xmllint, no schemas) is skipped with the reason, never passed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/process_runner.h"
#include "tests/test_util.h"

namespace marklode::test {

inline std::string GpxSchema() {
  return std::string(MARKLODE_SOURCE_DIR) + "/../shared/schemas/gpx-with-gpxx.xsd";
}

// Why the check cannot run here; empty when it can.
inline std::string GpxSchemaCheckMissing() {
  ProcessRequest probe;
  probe.argv = {"xmllint", "--version"};
  if (!RunProcess(probe).failure.empty())
    return "xmllint is not installed (scripts/setup.sh installs libxml2-utils)";
  if (!Exists(GpxSchema())) return "the GPX schemas are not beside the repository: " + GpxSchema();
  return {};
}

// Whether the file at path validates; xmllint's complaints go to err.
inline bool ValidatesAsGpx(const std::string& path, std::string& err) {
  ProcessRequest req;
  req.argv = {"xmllint", "--noout", "--nonet", "--huge", "--schema", GpxSchema(), path};
  const ProcessResult r = RunProcess(req);
  err = r.err + r.failure;
  return r.status == 0;
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
