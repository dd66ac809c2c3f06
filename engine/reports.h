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

// An input that exists but is no regular file; why is the whole text.
void ShowInputNotAFile(MessageSink& messages, std::string_view why);
// An input that names no file (as completed with its default extension).
void ShowInputMissing(MessageSink& messages, std::string_view input);
// Followed by the output's name: a GPX output name holding a wildcard.
inline constexpr std::string_view kWildcardGpxOutput = "Can't use wildcard for GPX output file: ";
// A profile that cannot be found or read.
inline constexpr std::string_view kCantOpenProfile = "Can't open ZVP file!";

// A point whose coordinates are missing or no number in range; it is skipped.
void ShowInvalidCoordinates(MessageSink& messages, std::string_view name);
// An output refused before anything is written; the run goes on.
void ShowOutputRefused(MessageSink& messages, std::string_view output);

// "1 output file was written", "2 output files were written": what a run
// stopped half-way had put in place before, for the words on the stop.
std::string OutputsWrittenText(std::int32_t outputs);
// The result of a request cancelled in the window, given how many outputs it
// had put in place before the Cancel (items of a list before the cancelled one).
std::string CancelledText(std::int32_t outputsWritten);

}  // namespace marklode
