// marklode: one source for every front end. On Linux it builds twice:
// marklode, the command line, which links no Qt and, given no request, starts
// the window program from its own folder; and marklode-window
// (MARKLODE_QT_WINDOW), the Qt window, which runs a request given to it as the
// command line does. On Windows it builds twice too: marklode-cli.exe, a
// console program that writes its messages to stderr, and marklode.exe
// (MARKLODE_MESSAGE_BOXES), which has no console and shows every message in a
// message box.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_progress.h"
#include "engine/run_main.h"
#include "services/console.h"
#include "services/messages.h"
#include "services/os.h"
#include "services/platform.h"
#include "services/settings.h"
#include "services/version.h"
#ifndef _WIN32
#include "services/display.h"
#endif
#ifdef MARKLODE_QT_WINDOW
#include "window/qt/application.h"
#endif
#ifdef MARKLODE_WIN32_WINDOW
#include "window/win32/front_end.h"
#endif

namespace {

#ifdef MARKLODE_MESSAGE_BOXES
// A message box sets its text in a proportional font, where columns of spaces
// do not line up: each command on a line of its own, its meaning after it.
constexpr const char* kUsage =
    "Usage:\n"
    "\n"
    "marklode FILE[.gpx]\n"
    "    converts a GPX file to POI-CSV (FILE.CSV beside it)\n"
    "marklode /r FILE[.csv]\n"
    "    converts a POI-CSV file to GPX (FILE.GPX beside it)\n"
    "marklode \"DIR\\a.csv;b.csv\"\n"
    "    converts each listed POI-CSV file to its own GPX\n"
    "marklode /p PROFILE.zvp\n"
    "    runs a conversion profile (either direction)\n"
    "marklode --help (or -h, /?)\n"
    "marklode --version\n"
    "\n"
    "The POI-CSV files of a pattern go into one GPX file through a profile that names the "
    "output.\n"
    "\n"
    "Exit status: 0 done; 1 stopped on an error (such as a missing input); "
    "2 done, but a file could not be read or written or a record was skipped; "
    "130 interrupted (Ctrl-C, Ctrl-Break): unfinished outputs are removed.\n"
    "\n"
    "Settings: HKEY_CURRENT_USER\\Software\\Orvel\\Marklode (TruncatePOIname=False "
    "keeps long POI names whole).\n";
#elif defined(_WIN32)
constexpr const char* kUsage =
    "Usage:\n"
    "  marklode-cli FILE[.gpx]         convert a GPX file to POI-CSV (FILE.CSV beside it)\n"
    "  marklode-cli /r FILE[.csv]      convert a POI-CSV file to GPX (FILE.GPX beside it)\n"
    "  (POI-CSV files of a pattern into one GPX file: a profile naming the output)\n"
    "  marklode-cli \"DIR\\a.csv;b.csv\"  each listed POI-CSV file to its own GPX\n"
    "  marklode-cli /p PROFILE.zvp     run a conversion profile (either direction)\n"
    "  marklode-cli --help | -h | /? | --version\n"
    "  --report, --report=json, --check: before the file (or /r, /p), they print what\n"
    "  was read, written and skipped on stderr (JSON: on stdout); --check writes nothing.\n"
    "\n"
    "Exit status: 0 done; 1 stopped on an error (such as a missing input);\n"
    "2 done, but a file could not be read or written or a record was skipped;\n"
    "130 interrupted (Ctrl-C, Ctrl-Break): unfinished outputs are removed.\n"
    "Settings: HKEY_CURRENT_USER\\Software\\Orvel\\Marklode, or Marklode.ini beside the\n"
    "program when a file named portable is there (TruncatePOIname=False keeps long\n"
    "POI names whole).\n";
#else
// Each usage line is run by tests/doc_examples.sh as its doc-example says.
// clang-format off
// doc-example for "marklode": marklode => 2: nothing
// doc-example for "marklode FILE[.gpx]": marklode trip.gpx => 0: trip.CSV
// doc-example for "marklode /r FILE[.csv]": marklode /r points => 0: points.GPX
// doc-example for "marklode 'DIR/a.csv;b.csv'": marklode 'data/a.csv;b.csv' => 0: data/a.GPX, data/b.GPX
// doc-example for "marklode /p PROFILE.zvp": marklode /p tour.zvp => 0: tour.csv
// doc-example for "marklode --help | -h | /? | --version": marklode -h => 0: nothing
// doc-example for "marklode --help | -h | /? | --version": marklode /? => 0: nothing
// doc-example for "marklode --help | -h | /? | --version": marklode --version => 0: nothing
// doc-example for "marklode FILE /r": marklode trip.gpx /r => 1: nothing
// doc-example for "marklode --report FILE": marklode --report trip.gpx => 0: trip.CSV
// doc-example for "marklode --report=json /r FILE": marklode --report=json /r points => 0: points.GPX
// doc-example for "marklode --check /p PROFILE.zvp": marklode --check /p tour.zvp => 0: nothing
// doc-example for "marklode --check 'DIR/a.csv;b.csv'": marklode --check 'data/a.csv;b.csv' => 0: nothing
// clang-format on
constexpr const char* kUsage =
    "Usage:\n"
    "  marklode                      open the window (marklode-window; no display: status 2)\n"
    "  marklode FILE[.gpx]           convert a GPX file to POI-CSV (FILE.CSV beside it)\n"
    "  marklode /r FILE[.csv]        convert a POI-CSV file to GPX (FILE.GPX beside it)\n"
    "  (POI-CSV files of a pattern into one GPX file: a profile naming the output)\n"
    "  marklode 'DIR/a.csv;b.csv'    each listed POI-CSV file to its own GPX (quote the list)\n"
    "  marklode /p PROFILE.zvp       run a conversion profile (either direction)\n"
    "  marklode --help | -h | /? | --version\n"
    "  marklode --report FILE        then print on stderr, per input file, what was\n"
    "                                read, written and skipped, and why\n"
    "  marklode --report=json /r FILE  the same as one JSON document on stdout\n"
    "  marklode --check /p PROFILE.zvp  read and count as a run would, write nothing\n"
    "  marklode --check 'DIR/a.csv;b.csv'  (--check prints the report too)\n"
    "Switches come first: marklode FILE /r stops with status 1. --report,\n"
    "--report=json and --check go before the file, before or after /r and /p.\n"
    "\n"
    "Exit status: 0 done; 1 stopped on an error (such as a missing input or a\n"
    "switch after the file); 2 done, but a file could not be read or written,\n"
    "a record was skipped or a warning given, or no display for the window;\n"
    "130 interrupted (143 on SIGTERM): unfinished outputs are removed.\n"
    "Settings: $XDG_CONFIG_HOME/Orvel/Marklode.conf (TruncatePOIname=False keeps\n"
    "long POI names whole).\n";
#endif

#ifdef MARKLODE_MESSAGE_BOXES
// The program has no console: every message is a modal box.
class MessageBoxSink : public marklode::MessageSink {
 protected:
  int Present(std::string_view text, marklode::MessageKind kind, std::string_view title) override {
    return marklode::ShowSystemMessageBox(title, text, kind);
  }
};

void Say(const std::string& text, marklode::MessageKind kind, FILE*) {
  marklode::ShowSystemMessageBox(marklode::kAppTitle, text, kind);
}
#else
void Say(const std::string& text, marklode::MessageKind, FILE* stream) {
  std::fwrite(text.data(), 1, text.size(), stream);
}
#endif

#if !defined(_WIN32) && !defined(MARKLODE_QT_WINDOW)
// The window is a program of its own, so that the command line never loads
// Qt. It is the one beside this program, never one found on PATH, and it
// takes this process's place: its exit status is the program's.
marklode::ExitStatus StartWindowProgram(const std::vector<std::string>& args) {
#ifdef MARKLODE_NO_WINDOW
  (void)args;
  Say("marklode: this build has no window (MARKLODE_WINDOW=OFF); give a file to convert on the "
      "command line.\n\n",
      marklode::MessageKind::Plain, stderr);
#else
  const std::string self = marklode::os::ProgramPath();
  std::string why = "the program's own folder is unknown";
  if (!self.empty()) {
    const std::string window = std::string(marklode::DirectoryPart(self)) + "marklode-window";
    const marklode::os::Error err = marklode::os::ReplaceProcess(window, args);
    why = window + ": " + marklode::os::ErrorText(err);
  }
  Say("marklode: cannot start the window (" + why +
          "); give a file to convert on the command line.\n\n",
      marklode::MessageKind::Plain, stderr);
#endif
  Say(kUsage, marklode::MessageKind::Plain, stderr);
  return marklode::ExitStatus::Warned;
}
#endif

}  // namespace

marklode::ExitStatus Main(int argc, char** argv);

// Memory running out anywhere outside a conversion (which reports it itself)
// still ends with a word and status 1, not with an abort.
int main(int argc, char** argv) {
  try {
    return static_cast<int>(Main(argc, argv));
  } catch (const std::bad_alloc&) {
    Say("Marklode: Out of memory.\n", marklode::MessageKind::Error, stderr);
    return static_cast<int>(marklode::ExitStatus::Stopped);
  }
}

marklode::ExitStatus Main(int argc, char** argv) {
  // Held until the program ends: the installer waits while any copy runs.
  marklode::os::MarkRunning();
  // A profile that writes a file per category keeps them all open.
  marklode::os::RaiseOpenFileLimit();
  marklode::PrepareStandardStreams();
  const std::vector<std::string> args = marklode::os::Arguments(argc, argv);
  if (marklode::AsksForHelp(args)) {
    Say(kUsage, marklode::MessageKind::Plain, stdout);
    return marklode::ExitStatus::Done;
  }
  if (args.size() == 1 && args[0] == "--version") {
    Say(std::string("Marklode version ") + marklode::kVersionText + "\n",
        marklode::MessageKind::Plain, stdout);
    return marklode::ExitStatus::Done;
  }

  const std::unique_ptr<marklode::SettingsStore> store = marklode::UserSettingsStore();
  marklode::SettingsStore& settings = *store;
  const std::string programFolder = marklode::ProgramFolder();
  const marklode::CommandLine cmd = marklode::ParseCommandLine(args, programFolder);

  // Switches in the wrong place are explained on the command line, where they
  // were typed, rather than by opening the window.
  if (!cmd.request.empty() || !cmd.misplacedSwitch.empty()) {
    marklode::TerminalProgress progress;  // silent unless stderr is a terminal
    marklode::InstallInterruptHandler();
#ifdef MARKLODE_MESSAGE_BOXES
    MessageBoxSink messages;
    return marklode::RunFromCommandLine(cmd, settings, progress, messages);
#else
    return marklode::RunFromCommandLine(cmd, settings, progress);
#endif
  }

  // "--check" and "--report" ask for a command-line run: without a file
  // they stop here rather than open the window.
  if (cmd.check || cmd.report != marklode::ReportForm::None || !cmd.badOption.empty()) {
    Say("marklode: --check and --report need a file to read (or /r, /p and a file).\n\n",
        marklode::MessageKind::Plain, stderr);
    Say(kUsage, marklode::MessageKind::Plain, stderr);
    return marklode::ExitStatus::Stopped;
  }

#ifdef MARKLODE_WIN32_WINDOW
  auto frontEnd = marklode::StartWin32FrontEnd();
  marklode::WindowState state(frontEnd->messages(), settings);
  state.ReverseSwitch = cmd.reverse;
  return marklode::RunWindow(frontEnd->host(), state, &frontEnd->progress());
#elif defined(_WIN32)
  // The console program stays a command line: the window is marklode.exe's.
  Say("marklode-cli: give a file to convert; the window opens with marklode.exe.\n\n",
      marklode::MessageKind::Plain, stderr);
  Say(kUsage, marklode::MessageKind::Plain, stderr);
  return marklode::ExitStatus::Warned;
#else
  if (!marklode::WindowSystemAvailable()) {
    Say("marklode: no display to show the window on (DISPLAY is not set or not answering); "
        "give a file to convert on the command line.\n\n",
        marklode::MessageKind::Plain, stderr);
    Say(kUsage, marklode::MessageKind::Plain, stderr);
    return marklode::ExitStatus::Warned;
  }
#ifdef MARKLODE_QT_WINDOW
  auto frontEnd = marklode::StartQtFrontEnd(argc, argv);
  marklode::WindowState state(frontEnd->messages(), settings);
  state.ReverseSwitch = cmd.reverse;
  return marklode::RunWindow(frontEnd->host(), state, &frontEnd->progress());
#else
  return StartWindowProgram(args);
#endif
#endif
}
