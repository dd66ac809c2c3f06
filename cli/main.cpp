// marklode: one executable for the command line and the window.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/cli_progress.h"
#include "engine/run_main.h"
#include "services/platform.h"
#include "services/settings.h"
#include "services/version.h"
#ifndef MARKLODE_NO_WINDOW
#include "window/window_host.h"
#endif

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  marklode                      open the window\n"
    "  marklode FILE[.gpx]           convert a GPX file to POI-CSV (FILE.CSV beside it)\n"
    "  marklode /r FILE[.csv]        convert a POI-CSV file to GPX (FILE.GPX beside it)\n"
    "  (POI-CSV files of a pattern into one GPX file: a profile naming the output)\n"
    "  marklode 'DIR/a.csv;b.csv'    each listed POI-CSV file to its own GPX (quote the list)\n"
    "  marklode /p PROFILE.zvp       run a conversion profile (either direction)\n"
    "  marklode --help | --version\n"
    "\n"
    "Exit status: 0 done; 1 stopped on an error (such as a missing input);\n"
    "2 done, but a file could not be read or written or a record was skipped;\n"
    "130 interrupted (143 on SIGTERM): unfinished outputs are removed.\n"
    "Settings: $XDG_CONFIG_HOME/Orvel/Marklode.conf (TruncatePOIname=False keeps\n"
    "long POI names whole).\n";

}  // namespace

int Main(int argc, char** argv);

// Memory running out anywhere outside a conversion (which reports it itself)
// still ends with a word and status 1, not with an abort.
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Marklode: Out of memory.\n", stderr);
    return 1;
  }
}

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("Marklode version %s\n", marklode::kVersionText);
    return 0;
  }

  marklode::FileSettingsStore settings(marklode::FileSettingsStore::DefaultPath());
  const std::string programFolder = marklode::ProgramFolder();
  const marklode::CommandLine cmd = marklode::ParseCommandLine(args, programFolder);

  // Switches in the wrong place are explained on the command line, where they
  // were typed, rather than by opening the window.
  if (!cmd.request.empty() || !cmd.misplacedSwitch.empty()) {
    marklode::TerminalProgress progress;  // silent unless stderr is a terminal
    marklode::InstallInterruptHandler();
    return marklode::RunFromCommandLine(cmd, settings, programFolder, progress);
  }

#ifndef MARKLODE_NO_WINDOW
  if (marklode::WindowSystemAvailable()) {
    auto frontEnd = marklode::StartQtFrontEnd(argc, argv);
    marklode::RunContext ctx(frontEnd->messages(), settings);
    ctx.programFolder = programFolder;
    return marklode::RunMain(ctx, cmd, &frontEnd->host());
  }
#endif
  std::fputs(
      "marklode: no display to show the window on (DISPLAY is not set or not answering); "
      "give a file to convert on the command line.\n\n",
      stderr);
  std::fputs(kUsage, stderr);
  return 2;
}
