#include "window/form/window_loop.h"

#include "engine/run_main.h"

namespace marklode {

std::string ExpandedResultText(std::string_view text, std::string_view details,
                               std::size_t maxLines) {
  std::string out(text);
  if (details.empty()) return out;
  out += "\r\n";
  std::size_t lines = 0, more = 0;
  while (!details.empty()) {
    const std::size_t end = details.find('\n');
    const std::string_view line = details.substr(0, end);
    details.remove_prefix(end == std::string_view::npos ? details.size() : end + 1);
    if (lines++ < maxLines) {
      out += "\r\n";
      out += line;
    } else {
      ++more;
    }
  }
  if (more > 0) out += "\r\n(" + std::to_string(more) + " more lines)";
  return out;
}

ExitStatus RunWindow(WindowHost& host, WindowState& state, ProgressSink* progress) {
  for (;;) {
    state.request.reset();
    host.ShowMainWindowAndWait(state);
    if (!state.request) return ExitStatusOf(RunStatus::Done, state.messages);
    RunServices services{state.messages, state.settings, progress};
    const RunResult result = RunRequest(*state.request, services);
    // The stop message said it all; the window comes back for another try.
    if (result.status == RunStatus::Stopped) continue;
    // The report waits behind Details: the box itself says what it always said.
    state.messages.ShowWithDetails(SummaryText(result), ReportText(result, false),
                                   MessageKind::Plain);
  }
}

}  // namespace marklode
