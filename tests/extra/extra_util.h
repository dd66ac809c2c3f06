// Helpers for the tests that run the program and outside tools: running a
// command and capturing what it writes, and checking a GPX file against the
// GPX 1.1 and Garmin GPX Extensions v2 schemas.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/gpx_schema.h"
#include "tests/process_runner.h"
#include "tests/test_util.h"

namespace marklode::test {

// One argument quoted for sh.
inline std::string Quote(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

struct Ran {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

// Runs argv[0] (a path, or a name on PATH) with the other arguments, no
// shell between, stdin empty.
inline Ran RunCommand(const std::vector<std::string>& argv, const std::string& workDir = "") {
  ProcessRequest req;
  req.argv = argv;
  req.workDir = workDir;
  const ProcessResult r = RunProcess(req);
  return {r.status, r.out, r.err + r.failure};
}

// Runs the marklode program with the arguments, its settings in a folder of
// its own and no display, so that it never opens its window. (On Windows
// the program is the console one, which has no window, and its settings are
// in the registry.)
inline Ran RunMarklodeAt(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir = "") {
  static TempDir config;
  ProcessRequest req;
  req.argv = {program};
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
  req.env = {{"XDG_CONFIG_HOME", config.path()}};
  req.workDir = workDir;
  const ProcessResult r = RunProcess(req);
  return {r.status, r.out, r.err + r.failure};
}
inline Ran RunMarklode(const std::vector<std::string>& args, const std::string& workDir = "") {
  return RunMarklodeAt(MARKLODE_BINARY, args, workDir);
}

#ifndef _WIN32
// A copy of the program in dir, opened to every user: the build tree may lie
// in a folder that only its owner can enter, and a test run as another user
// must still start the program.
inline std::string ProgramForEveryone(const TempDir& dir) {
  const std::string copy = dir / "marklode";
  std::filesystem::copy_file(MARKLODE_BINARY, copy);
  OpenToOthers(dir.path());
  std::filesystem::permissions(
      copy, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                std::filesystem::perms::others_exec);
  return copy;
}
#endif

// Whether a program of that name is on PATH.
inline bool HaveTool(const std::string& name) {
  const char* path = std::getenv("PATH");
#ifdef _WIN32
  const char sep = ';';
  const std::string exe = ".exe";
#else
  const char sep = ':';
  const std::string exe;
#endif
  std::string_view rest = path ? path : "";
  while (!rest.empty()) {
    const std::string_view dir = rest.substr(0, rest.find(sep));
    rest.remove_prefix(std::min(rest.size(), dir.size() + 1));
    if (!dir.empty() && std::filesystem::is_regular_file(FsPath(dir) / (name + exe))) return true;
  }
  return false;
}

}  // namespace marklode::test
