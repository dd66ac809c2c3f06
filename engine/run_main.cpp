#include "engine/run_main.h"

#include "engine/profiles.h"
#include "services/platform.h"
#include "services/strings.h"

namespace marklode {
namespace {

// Drops everything up to and including the first argument equal to sw.
bool TakeSwitch(std::vector<std::string>& args, std::string_view sw) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (IEquals(args[i], sw)) {
      args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return true;
    }
  }
  return false;
}

std::string Joined(const std::vector<std::string>& args) {
  std::string s;
  for (const std::string& a : args) {
    if (!s.empty()) s += ' ';
    s += a;
  }
  return std::string(TrimSpaces(s));
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& allArgs,
                             const std::string& programFolder) {
  CommandLine cmd;
  // The long options, among the leading switches, go first; one after the
  // file is misplaced like "/r" there.
  std::vector<std::string> argsIn;
  bool leading = true;
  for (const std::string& a : allArgs) {
    const bool isOption = a == "--check" || a == "--report" || a.starts_with("--report=");
    if (!isOption || !leading) {
      if (!IEquals(a, "/r") && !IEquals(a, "/p")) leading = false;
      argsIn.push_back(a);
      continue;
    }
    if (a == "--check") {
      cmd.check = true;
    } else if (a == "--report" || a == "--report=text") {
      cmd.report = ReportForm::Text;
    } else if (a == "--report=json") {
      cmd.report = ReportForm::Json;
    } else {
      cmd.badOption = a;
    }
  }
  if (cmd.check && cmd.report == ReportForm::None) cmd.report = ReportForm::Text;
  const std::string* other = nullptr;  // the first argument that is no switch
  for (const std::string& a : argsIn) {
    const bool isSwitch = IEquals(a, "/r") || IEquals(a, "/p") || a == "--check" ||
                          a == "--report" || a.starts_with("--report=");
    if (!isSwitch && !other) other = &a;
    if (isSwitch && other) {
      cmd.misplacedSwitch = a;
      cmd.before = *other;
      break;
    }
  }
  std::vector<std::string> args = argsIn;
  cmd.reverse = TakeSwitch(args, "/r");
  if (TakeSwitch(args, "/p")) {
    cmd.request = Joined(args);
    if (!cmd.request.empty()) {
      cmd.profile = true;
      cmd.profileFile = WithoutSurroundingQuotes(cmd.request);  // as the planner takes paths
      // A bare name: the current directory first, then the program's folder.
      if (DirectoryPart(cmd.profileFile).empty() && FindFirstFile(cmd.profileFile).empty())
        cmd.profileFile = programFolder + kPathSep + cmd.profileFile;
    }
    return cmd;
  }
  cmd.request = Joined(args);
  return cmd;
}

Request CommandLineRequest(const CommandLine& cmd, MessageSink& messages) {
  if (cmd.profile) return ReadProfileRequest(cmd.profileFile, messages);
  Request request;
  request.input = cmd.request;
  request.direction =
      cmd.reverse || IsFileList(cmd.request) ? Direction::PoiToGpx : Direction::GpxToPoi;
  return request;
}

ExitStatus ExitStatusOf(RunStatus status, const MessageSink& messages) {
  if (status == RunStatus::Stopped || messages.StopShown()) return ExitStatus::Stopped;
  return messages.ProblemShown() ? ExitStatus::Warned : ExitStatus::Done;
}

ExitStatus RunCommandLine(const CommandLine& cmd, RunServices& services, RunResult* result) {
  if (!cmd.misplacedSwitch.empty()) {
    services.messages.Show("Switches come first: \"" + cmd.misplacedSwitch + "\" came after \"" +
                               cmd.before + "\". Write, for example, marklode /r FILE.csv or " +
                               "marklode /p PROFILE.zvp.",
                           MessageKind::Error, kAppTitle, Severity::Stop);
    return ExitStatus::Stopped;
  }
  if (!cmd.badOption.empty()) {
    services.messages.Show("Unknown option \"" + cmd.badOption +
                               "\": the report is --report (short lines) or --report=json.",
                           MessageKind::Error, kAppTitle, Severity::Stop);
    return ExitStatus::Stopped;
  }
  if (cmd.request.empty()) return ExitStatus::Warned;
  services.check = cmd.check;
  RunResult done = RunRequest(CommandLineRequest(cmd, services.messages), services);
  const ExitStatus status = ExitStatusOf(done.status, services.messages);
  if (result) *result = std::move(done);
  return status;
}

std::string CommandLineReport(const CommandLine& cmd, const RunResult& result) {
  if (!cmd.misplacedSwitch.empty() || !cmd.badOption.empty() || cmd.request.empty()) return "";
  switch (cmd.report) {
    case ReportForm::None:
      return "";
    case ReportForm::Text:
      return ReportText(result, cmd.check);
    case ReportForm::Json:
      return ReportJson(result, cmd.check);
  }
  return "";
}

bool AsksForHelp(const std::vector<std::string>& args) {
  if (args.size() != 1) return false;
  const std::string& a = args[0];
  return a == "--help" || a == "-h" || a == "/?" || IEquals(a, "/h");
}

}  // namespace marklode
