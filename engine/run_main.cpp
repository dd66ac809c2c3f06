#include "engine/run_main.h"

#include <new>

#include "engine/file_list.h"
#include "engine/gpx_to_csv.h"
#include "engine/poi_to_gpx.h"
#include "engine/profiles.h"
#include "engine/reports.h"
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

CommandLine ParseCommandLine(const std::vector<std::string>& argsIn,
                             const std::string& programFolder) {
  CommandLine cmd;
  const std::string* other = nullptr;  // the first argument that is no switch
  for (const std::string& a : argsIn) {
    const bool isSwitch = IEquals(a, "/r") || IEquals(a, "/p");
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
      cmd.profileFile = cmd.request;
      // A bare name: the current directory first, then the program's folder.
      if (DirectoryPart(cmd.profileFile).empty() && FindFirstFile(cmd.profileFile).empty())
        cmd.profileFile = programFolder + kPathSep + cmd.profileFile;
    }
    return cmd;
  }
  cmd.request = Joined(args);
  return cmd;
}

RunStatus RunSingleRequest(RunContext& ctx) {
  if ((!ctx.OutputSpec.empty() || ctx.ReverseSwitch) && !ctx.ModeGPX)
    return ConvertPoiToGpx(ctx, "<T>", "", "", "");
  return ConvertGpxToCsv(ctx, "<T>", ctx.KeepCommentLineBreak, "", "", "", "", "");
}

RunStatus RunRequest(RunContext& ctx, std::int32_t& entries, std::int32_t& files, bool& isList) {
  isList = false;
  files = 0;
  if (ctx.ProfileMode) return RunProfile(ctx, entries);
  if (IsFileList(ctx.InputSpec)) {
    isList = true;
    return RunBatch(ctx, entries, files);
  }
  RunStatus st = RunSingleRequest(ctx);
  entries = ctx.EntriesConverted;
  return st;
}

ExitStatus RunMain(RunContext& ctx, const CommandLine& cmd, WindowHost* window) {
  ctx.ReverseSwitch = cmd.reverse;
  if (cmd.profile) {
    ctx.ProfileMode = true;
    ctx.ProfileFile = cmd.profileFile;
  }
  auto exitStatus = [&ctx](RunStatus st) {
    if (st == RunStatus::Stopped || ctx.messages.StopShown()) return ExitStatus::Stopped;
    return ctx.messages.ProblemShown() ? ExitStatus::Warned : ExitStatus::Done;
  };
  if (!cmd.misplacedSwitch.empty()) {
    ctx.messages.Show("Switches come first: \"" + cmd.misplacedSwitch + "\" came after \"" +
                          cmd.before + "\". Write, for example, marklode /r FILE.csv or " +
                          "marklode /p PROFILE.zvp.",
                      MessageKind::Error, kAppTitle, Severity::Stop);
    return ExitStatus::Stopped;
  }

  for (;;) {
    ctx.ModeGPX = false;
    ctx.KeepCommentLineBreak = false;
    ctx.OutputSpec.clear();
    ctx.InputSpec = cmd.request;
    if (ctx.InputSpec.empty()) {
      if (!window) return ExitStatus::Warned;
      ctx.ProfileMode = false;
      window->ShowMainWindowAndWait(ctx);
      if (ctx.OutputSpec.empty() && !ctx.ProfileMode) return exitStatus(RunStatus::Done);
    }

    std::int32_t entries = 0, files = 0;
    bool isList = false;
    const std::int32_t committedBefore = ctx.OutputsCommitted;
    RunStatus st;
    try {
      st = RunRequest(ctx, entries, files, isList);
    } catch (const std::bad_alloc&) {
      // The converter's outputs have removed their temporaries on the way
      // out; what is left to say needs little memory.
      ctx.messages.Show(
          "Out of memory: the conversion was stopped, and its unfinished output files were "
          "removed.",
          MessageKind::Error, kAppTitle, Severity::Stop);
      return ExitStatus::Stopped;
    }
    if (st == RunStatus::Stopped) return ExitStatus::Stopped;  // a stop message ends the program
    if (!cmd.request.empty()) return exitStatus(st);

    std::string result;
    if (st == RunStatus::Cancelled) {
      // Items of a list before the cancelled one have been put in place.
      result = CancelledText(ctx.OutputsCommitted - committedBefore);
    } else {
      if (isList) result = std::to_string(files) + " Files processed.\r\n";
      result += std::to_string(entries) + " entries converted.";
    }
    ctx.messages.Show(result, MessageKind::Plain);
  }
}

}  // namespace marklode
