// The clean-up of values read from POI-CSV before they go into GPX: names
// and comments ("~" and " - " as line breaks, "&" as " and ", runs of spaces),
// and coordinates (a plain decimal number within its range). Most values need
// nothing: the check says so without a copy, and where the value may be read
// past its end (PaddedText) it looks at it sixteen bytes at a time. It has a
// scalar twin with the same answer, which the tests hold it to.
#pragma once

#include <string>
#include <string_view>

#include "engine/padded_text.h"
#include "services/text_files.h"

namespace marklode {

// Whether CleanTextInPlace would change t.
bool NeedsCleaning(PaddedText t, bool tildeBreaks, bool dashBreaks);
bool NeedsCleaning(std::string_view t, bool tildeBreaks, bool dashBreaks);
bool NeedsCleaningScalar(std::string_view t, bool tildeBreaks, bool dashBreaks);

// The clean-up of names and comments read from CSV, in place: "~" (and, for
// comments built from a template, " - ") are line breaks, "&" reads as " and ",
// runs of spaces shrink to one, and spaces around the text go. The steps apply
// in that order, each to the text the one before left: a " - " that a
// replaced "&" completes also breaks.
void CleanTextInPlace(std::string& t, bool tildeBreaks, bool dashBreaks);

// Text cleaned, given whether it needs it (NeedsCleaning): text itself when
// nothing changes, else the cleaned copy in scratch.
std::string_view CleanText(std::string_view text, bool needed, bool tildeBreaks, bool dashBreaks,
                           std::string& scratch);
// The same, appended to out. Text without "&" is cleaned on the way, with no
// copy first; only "&", which widens, needs one.
void AppendCleaned(PaddedBuffer& out, std::string_view text, bool needed, bool tildeBreaks,
                   bool dashBreaks, std::string& scratch);
// The same, without asking first: in one pass over text, which is copied
// sixteen bytes at a time up to each place that needs cleaning.
void AppendCleaned(PaddedBuffer& out, PaddedText text, bool tildeBreaks, bool dashBreaks,
                   std::string& scratch);

// The coordinate to write for text, or empty text when it is not a decimal
// number (an optional sign, digits with at most one ".") within -limit to
// limit. Spaces around it go; longitude 180 becomes -180, the same meridian,
// because the schema excludes 180. The rule is ParseCoordinate's.
std::string_view CheckedCoordinate(std::string_view text, int limit, bool longitude);

}  // namespace marklode
