// Helpers for the tests that run the program and outside tools: running a
// command and capturing what it writes, and checking a GPX file against the
// GPX 1.1 and Garmin GPX Extensions v2 schemas.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/gpx_schema.h"
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

// Runs argv[0] with the other arguments through sh, stdin from /dev/null.
inline Ran RunCommand(const std::vector<std::string>& argv, const std::string& workDir = "") {
  TempDir tmp;
  std::string cmd;
  if (!workDir.empty()) cmd += "cd " + Quote(workDir) + " && ";
  for (const auto& a : argv) cmd += Quote(a) + " ";
  cmd += "</dev/null >" + Quote(tmp / "out") + " 2>" + Quote(tmp / "err");
  const int rc = std::system(cmd.c_str());
  Ran r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
  r.out = ReadFile(tmp / "out");
  r.err = ReadFile(tmp / "err");
  return r;
}

// Runs the marklode program with the arguments, its settings in a folder of
// its own and no display, so that it never opens its window.
inline Ran RunMarklode(const std::vector<std::string>& args, const std::string& workDir = "") {
  static TempDir config;
  std::vector<std::string> argv = {
      "env",          "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME=" + config.path(),
      MARKLODE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, workDir);
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + Quote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace marklode::test
