#include "window/form/window_loop.h"

#include "engine/run_main.h"

namespace marklode {

ExitStatus RunWindow(WindowHost& host, WindowState& state, ProgressSink* progress) {
  for (;;) {
    state.request.reset();
    host.ShowMainWindowAndWait(state);
    if (!state.request) return ExitStatusOf(RunStatus::Done, state.messages);
    RunServices services{state.messages, state.settings, progress};
    const RunResult result = RunRequest(*state.request, services);
    // The stop message said it all; the window comes back for another try.
    if (result.status == RunStatus::Stopped) continue;
    state.messages.Show(SummaryText(result), MessageKind::Plain);
  }
}

}  // namespace marklode
