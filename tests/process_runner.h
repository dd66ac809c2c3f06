// Starts a program and waits for it, without a shell: the arguments reach it
// as given, on POSIX through posix_spawn and on Windows through CreateProcessW
// (where "sh -c" or system() would mean cmd.exe and its quoting). What it
// writes to stdout and stderr goes to files and comes back as text, so that
// neither stream can fill a pipe and stall the child.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace marklode::test {

struct ProcessRequest {
  std::vector<std::string> argv;  // argv[0]: the program, a path or (POSIX) a name on PATH
  std::string stdinText;          // what the child reads; empty: nothing at all
  std::vector<std::pair<std::string, std::string>> env;  // added to ours, or replacing
  std::vector<std::string> unsetEnv;                     // taken out of ours
  std::string workDir;                                   // empty: ours
};

struct ProcessResult {
  int status = -1;  // the exit status; 128 + the signal on POSIX; -1: not started
  std::string out, err;
  std::string failure;  // why it could not be started
};

// Runs the request and waits for the program to end.
ProcessResult RunProcess(const ProcessRequest& req);

// Under Wine, the path by the drive Z:, which Wine maps to the Unix root
// (Z:\tmp\...); empty elsewhere.
std::string WineDriveZPath(const std::string& path);

}  // namespace marklode::test
