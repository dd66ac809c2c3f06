// The program's spine: reading the command line and running requests in
// cycles, from the command line once or from the window until it closes.
#pragma once

#include <string>
#include <vector>

#include "engine/run_context.h"
#include "services/exit_status.h"

namespace marklode {

// What the command line asks for, once the shell has split it into arguments.
struct CommandLine {
  std::string request;  // input, list or profile path as given; empty: window
  bool reverse = false;
  bool profile = false;
  std::string profileFile;  // with a folder added for a bare name
  // A switch that came after other arguments ("trip.csv /r"), which would
  // drop them; the request is refused with a word on the order.
  std::string misplacedSwitch, before;
};

// The first argument equal to "/r" (any case) sets the reverse switch and drops
// itself and everything before it; then the same for "/p". What is left,
// joined by single spaces, is the request. A bare profile name is looked for in
// the current directory, then in programFolder. A switch after an argument
// that is no switch is noted in misplacedSwitch.
CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::string& programFolder);

// The main window as the entry routine sees it. Implemented by the Qt front end;
// the engine knows nothing of Qt.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Shows a freshly loaded main window and services window events, without
  // busy waiting, until it has closed. The window writes its request (if any)
  // into the context before it closes.
  virtual void ShowMainWindowAndWait(RunContext& ctx) = 0;
};

// Runs one request as the context describes it (profile, ";" list or single
// input); sets entries and files for the report.
RunStatus RunRequest(RunContext& ctx, std::int32_t& entries, std::int32_t& files, bool& isList);

// Runs the cycles. window may be null for command-line use. Returns the exit
// status: Stopped after a stop message, else Warned when a problem was shown,
// else Done.
ExitStatus RunMain(RunContext& ctx, const CommandLine& cmd, WindowHost* window);

// One converter for a request naming one input (file or pattern).
RunStatus RunSingleRequest(RunContext& ctx);

}  // namespace marklode
