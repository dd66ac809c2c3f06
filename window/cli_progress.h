// Command-line progress on stderr, and Ctrl-C as a clean cancel.
#pragma once

#include <chrono>
#include <cstdint>

#include "engine/run_context.h"

namespace marklode {

// After a conversion has run a second, shows "bytes read of total, rate" on
// one line of stderr, rewritten in place and cleared at the end. Does nothing
// when stderr is not a terminal. Cancels the run after SIGINT or SIGTERM.
class TerminalProgress : public ProgressSink {
 public:
  TerminalProgress();
  ~TerminalProgress() override;
  bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) override;

 private:
  void Clear();
  bool tty_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  std::uint64_t lastTotal_ = 0;
};

// SIGINT and SIGTERM set a flag that TerminalProgress turns into a cancel, so
// the converter removes its unfinished outputs before the program ends.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace marklode
