#include "cli/cli_progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <utility>

#include "services/messages.h"

namespace marklode {
namespace {
volatile std::sig_atomic_t gInterrupted = 0;  // the first signal that asked to stop
extern "C" void OnInterrupt(int sig) {
  if (gInterrupted == 0) gInterrupted = sig;
}
}  // namespace

void InstallInterruptHandler() {
  struct sigaction sa = {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  // A closed pipe or the file-size limit make the write fail, and that is
  // reported like any failed write, instead of ending the run unseen with
  // its temporaries left behind.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

bool Interrupted() {
  return gInterrupted != 0;
}

int InterruptedExitStatus() {
  return gInterrupted == SIGTERM ? 128 + SIGTERM : 128 + SIGINT;
}

std::string InterruptedText(std::int32_t outputsCommitted) {
  if (outputsCommitted <= 0) return "Interrupted; no output file was changed.";
  return "Interrupted after " + std::to_string(outputsCommitted) +
         (outputsCommitted == 1 ? " output file was" : " output files were") +
         " written; no other output file was changed.";
}

bool TerminalProgress::Cancelled() {
  return gInterrupted != 0;
}

TerminalProgress::TerminalProgress()
    : TerminalProgress([] { return std::chrono::steady_clock::now(); }) {}

TerminalProgress::TerminalProgress(Clock now)
    : now_(std::move(now)), tty_(isatty(STDERR_FILENO) == 1) {
  start_ = lastDraw_ = now_();
}

TerminalProgress::~TerminalProgress() {
  Clear();
}

void TerminalProgress::Clear() {
  if (shown_) std::fputs("\r\033[K", stderr);
  shown_ = false;
}

bool TerminalProgress::Update(std::uint64_t done, std::uint64_t total) {
  if (gInterrupted) return false;
  if (!tty_) return true;
  const auto now = now_();
  if (total != lastTotal_ && done == 0) {  // a new input file: restart the clock
    Clear();
    start_ = now;
    lastTotal_ = total;
  }
  const double secs = std::chrono::duration<double>(now - start_).count();
  if (secs < 1.0 || now - lastDraw_ < std::chrono::milliseconds(200)) return true;
  lastDraw_ = now;
  const double mb = 1024.0 * 1024.0;
  std::fprintf(stderr, "\r\033[K%.0f of %.0f MB read, %.1f MB/s", done / mb, total / mb,
               done / mb / secs);
  std::fflush(stderr);
  shown_ = true;
  if (done >= total) Clear();
  return true;
}

int RunFromCommandLine(const CommandLine& cmd, SettingsStore& settings,
                       const std::string& programFolder, ProgressSink& progress) {
  StderrMessageSink messages;
  RunContext ctx(messages, settings);
  ctx.programFolder = programFolder;
  ctx.progress = &progress;
  const int status = RunMain(ctx, cmd, nullptr);
  if (Interrupted()) {
    // The converter has removed its unfinished outputs by now; those of the
    // list items before it stand.
    messages.Show(InterruptedText(ctx.OutputsCommitted), kOkOnly);
    return InterruptedExitStatus();
  }
  return status;
}

}  // namespace marklode
