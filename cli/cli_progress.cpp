#include "cli/cli_progress.h"

#include <cstdio>
#include <utility>

#include "engine/reports.h"
#include "services/messages.h"

namespace marklode {

std::string InterruptedText(std::int32_t outputsCommitted) {
  if (outputsCommitted <= 0) return "Interrupted; no output file was changed.";
  return "Interrupted after " + OutputsWrittenText(outputsCommitted) +
         "; no other output file was changed.";
}

bool TerminalProgress::Cancelled() {
  return Interrupted();
}

TerminalProgress::TerminalProgress()
    : TerminalProgress([] { return std::chrono::steady_clock::now(); }) {}

TerminalProgress::TerminalProgress(Clock now) : now_(std::move(now)), tty_(StderrIsTerminal()) {
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
  if (Interrupted()) return false;
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

int ConsoleMessageSink::Present(std::string_view text, MessageKind kind, std::string_view title) {
  if (progress_) progress_->Clear();
  WriteStderr(OneLineMessage(title, text) + "\n");
  return kind == MessageKind::Question ? kButtonCancel : kButtonOk;
}

ExitStatus RunFromCommandLine(const CommandLine& cmd, SettingsStore& settings,
                              ProgressSink& progress) {
  ConsoleMessageSink messages(dynamic_cast<TerminalProgress*>(&progress));
  return RunFromCommandLine(cmd, settings, progress, messages);
}

ExitStatus RunFromCommandLine(const CommandLine& cmd, SettingsStore& settings,
                              ProgressSink& progress, MessageSink& messages) {
  RunServices services{messages, settings, &progress};
  RunResult result;
  const ExitStatus status = RunCommandLine(cmd, services, &result);
  // The report comes after the run's own messages: text on stderr, where they
  // went, and JSON alone on stdout for scripts.
  if (const std::string report = CommandLineReport(cmd, result); !report.empty()) {
    if (cmd.report == ReportForm::Json) {
      std::fwrite(report.data(), 1, report.size(), stdout);
      std::fflush(stdout);
    } else {
      WriteStderr(report);
    }
  }
  if (Interrupted()) {
    // The converter has removed its unfinished outputs by now; those of the
    // list items before it stand.
    messages.Show(InterruptedText(result.outputsCommitted), MessageKind::Plain);
    InterruptHandled();
    return InterruptedExitStatus();
  }
  return status;
}

}  // namespace marklode
