// The command line: progress on stderr, Ctrl-C as a clean cancel, and the
// run of a request given there.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/progress.h"
#include "engine/run_main.h"
#include "services/console.h"
#include "services/messages.h"
#include "services/settings.h"

namespace marklode {

// After a conversion has run a second, shows "bytes read of total, rate" on
// one line of stderr, rewritten in place and cleared at the end. Does nothing
// when stderr is not a terminal. Cancels the run after an interrupt (see
// InstallInterruptHandler).
class TerminalProgress : public ProgressSink {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  TerminalProgress();
  // The time comes from now (a test's clock need not wait for a second).
  explicit TerminalProgress(Clock now);
  ~TerminalProgress() override;
  bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) override;
  bool Cancelled() override;
  // Takes the progress line off the screen (it comes back with the next
  // update), so that a message starts at the left margin.
  void Clear();

 private:
  Clock now_;
  bool tty_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  std::uint64_t lastTotal_ = 0;
};

// What the program says when it ends on a signal (in a box of the program's
// title, as every message), given how many outputs were put in place before.
std::string InterruptedText(std::int32_t outputsCommitted);

// Command-line boxes, as StderrMessageSink writes them ("TITLE: TEXT" on one
// line), but through WriteStderr, so a Windows console shows every letter.
// The progress line, when given, is cleared before each message.
class ConsoleMessageSink : public MessageSink {
 public:
  explicit ConsoleMessageSink(TerminalProgress* progress = nullptr) : progress_(progress) {}

 protected:
  int Present(std::string_view text, MessageKind kind, std::string_view title) override;

 private:
  TerminalProgress* progress_;
};

// Runs a request given on the command line: messages go to stderr, progress
// to the given sink; after an interrupt, says what was written. Returns the
// exit status.
ExitStatus RunFromCommandLine(const CommandLine& cmd, SettingsStore& settings,
                              ProgressSink& progress);
// The same with messages shown by the given sink (message boxes, where the
// program has no console).
ExitStatus RunFromCommandLine(const CommandLine& cmd, SettingsStore& settings,
                              ProgressSink& progress, MessageSink& messages);

}  // namespace marklode
