// The window's cycle: the window is shown, the request it gives is run and its
// result shown, and the window comes back, until it closes without a request.
// A stop ends only its request here, not the program as on the command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/request.h"
#include "engine/run.h"
#include "services/exit_status.h"
#include "services/messages.h"
#include "services/settings.h"

namespace marklode {

// What the window keeps from one showing to the next, and what a showing
// gives back.
struct WindowState {
  WindowState(MessageSink& m, SettingsStore& s) : messages(m), settings(s) {}

  MessageSink& messages;
  SettingsStore& settings;
  // The command line's "/r" came with no file: the window refuses every
  // output, as the program has always done.
  bool ReverseSwitch = false;
  // The warning that a list replaces its outputs was answered with OK, and
  // the output field has not been left since.
  bool OverwriteConfirmed = false;
  // What Convert asked for; none when the window closed without a request.
  std::optional<Request> request;
};

// A view's main window, as the cycle sees it.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Shows a freshly loaded main window and services window events, without
  // busy waiting, until it has closed; the window leaves its request (if any)
  // in state.
  virtual void ShowMainWindowAndWait(WindowState& state) = 0;
};

// A result box with its details in the box itself, for a view whose boxes
// have no Details button: the text, a blank line, and the first maxLines
// lines of the details, then how many more there were.
std::string ExpandedResultText(std::string_view text, std::string_view details,
                               std::size_t maxLines = 30);

// Runs the cycles; progress is the view's progress window (or none). Returns
// the exit status: Stopped when a stop message was shown, else Warned when a
// problem was, else Done.
ExitStatus RunWindow(WindowHost& host, WindowState& state, ProgressSink* progress);

}  // namespace marklode
