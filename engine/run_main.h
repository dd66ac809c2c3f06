// The command line: its arguments read into a request, and that run once.
#pragma once

#include <string>
#include <vector>

#include "engine/request.h"
#include "engine/run.h"
#include "services/exit_status.h"

namespace marklode {

// How the command line tells what a run did: not at all (its messages only),
// in short lines on stderr, or in one JSON document on stdout.
enum class ReportForm { None, Text, Json };

// What the command line asks for, once the shell has split it into arguments.
struct CommandLine {
  std::string request;  // input, list or profile path as given; empty: window
  bool reverse = false;
  bool profile = false;
  std::string profileFile;  // with a folder added for a bare name
  // A switch that came after other arguments ("trip.csv /r"), which would
  // drop them; the request is refused with a word on the order.
  std::string misplacedSwitch, before;
  // "--report", "--report=json", "--check": among the switches before the
  // file, in any order. A check without "--report" reports in text.
  ReportForm report = ReportForm::None;
  bool check = false;
  std::string badOption;  // a "--report=" form that does not exist
};

// The options "--report", "--report=json" and "--check" among the switches
// before the first other argument are taken out. Then the first argument
// equal to "/r" (any case) sets the reverse switch and drops
// itself and everything before it; then the same for "/p". What is left,
// joined by single spaces, is the request. A bare profile name is looked for in
// the current directory, then in programFolder. A switch after an argument
// that is no switch is noted in misplacedSwitch.
CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::string& programFolder);

// The request the command line makes: the profile's, with "/p"; a ";" list
// of POI-CSV files, each to its own GPX file; else one input, converted to
// GPX with "/r" and to POI-CSV without. A profile that cannot be read is told.
Request CommandLineRequest(const CommandLine& cmd, MessageSink& messages);

// The exit status of a run that ended with status: Stopped after a stop
// message, else Warned when a problem was shown, else Done.
ExitStatus ExitStatusOf(RunStatus status, const MessageSink& messages);

// True when the arguments ask for the usage text: one of "--help", "-h",
// "/?" and "/h" (any case) alone.
bool AsksForHelp(const std::vector<std::string>& args);

// Runs what the command line asks for, once (a check when it asks for one);
// the result, when asked for, tells what was done.
ExitStatus RunCommandLine(const CommandLine& cmd, RunServices& services,
                          RunResult* result = nullptr);

// The report the command line asked for, in its form; empty when none (or
// when the run never started).
std::string CommandLineReport(const CommandLine& cmd, const RunResult& result);

}  // namespace marklode
