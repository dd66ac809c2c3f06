#include "engine/reports.h"

#include <string>

#include "services/text_files.h"

namespace marklode {

void ShowInputNotAFile(MessageSink& messages, std::string_view why) {
  messages.Show(why, MessageKind::Error, "Invalid file", Severity::Stop);
}

void ShowInputMissing(MessageSink& messages, std::string_view input) {
  messages.Show("Can't Find Input file: " + std::string(input), MessageKind::Error,
                "Can't Find File", Severity::Stop);
}

void ShowUnreadableEncoding(MessageSink& messages, std::string_view path) {
  ShowWarning(messages, kReadWarningTitle,
              "The text is UTF-32 in an unusual byte order, which cannot be read", path);
}

void ShowWildcardGpxOutput(MessageSink& messages, std::string_view output) {
  messages.Show(std::string(kWildcardGpxOutput).append(output), MessageKind::Error, "Invalid file",
                Severity::Stop);
}

void ShowOutputIsItsInput(MessageSink& messages, std::string_view output) {
  messages.Show(std::string(kCantCreateOutput).append(output).append(kOwnInputReason),
                MessageKind::Error, kAppTitle, Severity::Stop);
}

void ShowInvalidCoordinates(MessageSink& messages, std::string_view name) {
  messages.Show("Invalid lon/lat for: " + std::string(name) + ".\r\n\r\nSkipping...",
                MessageKind::Plain, kAppTitle, Severity::Problem);
}

void ShowNamelessSkipped(MessageSink& messages, std::int64_t count) {
  messages.Show(std::to_string(count) + (count == 1 ? " waypoint without a name was skipped."
                                                    : " waypoints without a name were skipped."),
                MessageKind::Plain, kAppTitle, Severity::Problem);
}

void ShowOutputRefused(MessageSink& messages, std::string_view output) {
  messages.Show(std::string(kCantCreateOutput).append(output), MessageKind::Plain, kAppTitle,
                Severity::Problem);
}

std::string OutputsWrittenText(std::int32_t outputs) {
  return std::to_string(outputs) +
         (outputs == 1 ? " output file was written" : " output files were written");
}

std::string CancelledText(std::int32_t outputsWritten) {
  if (outputsWritten <= 0) return "The conversion was cancelled; no file was changed.";
  return "The conversion was cancelled after " + OutputsWrittenText(outputsWritten) +
         "; the others were left as they were.";
}

}  // namespace marklode
