#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "services/console.h"
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

// The shells' rule: 128 and the number of the signal.
static_assert(static_cast<int>(ExitStatus::Interrupted) == 128 + SIGINT &&
              static_cast<int>(ExitStatus::Terminated) == 128 + SIGTERM);

ExitStatus InterruptedExitStatus() {
  return gInterrupted == SIGTERM ? ExitStatus::Terminated : ExitStatus::Interrupted;
}

void InterruptHandled() {}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void PrepareStandardStreams() {}

void WriteStderr(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int ShowSystemMessageBox(std::string_view title, std::string_view text, MessageKind kind) {
  WriteStderr(OneLineMessage(title, text) + "\n");
  return kind == MessageKind::Question ? kButtonCancel : kButtonOk;
}

}  // namespace marklode
