// The messages that more than one converter or request runner gives, each
// written here once, so that every place says the same words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "services/messages.h"

namespace marklode {

// Followed by the output's name: an output that may not be written (it would
// replace an input, or it cannot be created).
inline constexpr std::string_view kCantCreateOutput = "Can't create output file -- ";
// After the name, where the output is refused because it is read-only.
inline constexpr std::string_view kReadOnlyReason = "\r\n\r\nThe file is read-only.";
// After the name, where the output is refused because it is an input.
inline constexpr std::string_view kOwnInputReason = "\r\n\r\nIt would replace its own input.";

// An input that exists but is no regular file; why is the whole text.
void ShowInputNotAFile(MessageSink& messages, std::string_view why);
// An input that names no file (as completed with its default extension).
void ShowInputMissing(MessageSink& messages, std::string_view input);
// Followed by the output's name: a GPX output name holding a wildcard.
inline constexpr std::string_view kWildcardGpxOutput = "Can't use wildcard for GPX output file: ";
// The stops for the two outputs no request may write: a GPX output named by a
// pattern, and an output that would replace its own input (with the reason).
void ShowWildcardGpxOutput(MessageSink& messages, std::string_view output);
void ShowOutputIsItsInput(MessageSink& messages, std::string_view output);
// A profile that cannot be found or read.
inline constexpr std::string_view kCantOpenProfile = "Can't open ZVP file!";

// An input in a text encoding that cannot be read (UTF-32 in an unusual byte
// order); nothing of it is converted.
void ShowUnreadableEncoding(MessageSink& messages, std::string_view path);
// A point whose coordinates are missing or no number in range; it is skipped.
void ShowInvalidCoordinates(MessageSink& messages, std::string_view name);
// Waypoints dropped for want of a name, counted over the whole input.
void ShowNamelessSkipped(MessageSink& messages, std::int64_t count);
// An output refused before anything is written (an output that an earlier
// item of a list wrote, or a profile that would be one of its own outputs);
// the run goes on.
void ShowOutputRefused(MessageSink& messages, std::string_view output);

// "1 output file was written", "2 output files were written": what a run
// stopped half-way had put in place before, for the words on the stop.
std::string OutputsWrittenText(std::int32_t outputs);
// The result of a request cancelled in the window, given how many outputs it
// had put in place before the Cancel (items of a list before the cancelled one).
std::string CancelledText(std::int32_t outputsWritten);

}  // namespace marklode
