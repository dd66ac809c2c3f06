// Templates: literal text with tokens such as <W1-10> (characters 1 to 10 of
// the waypoint name) or <C> (the category), expanded for one point.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace marklode {

inline constexpr std::string_view kGpxLetters = "FWTC";  // GPX to POI-CSV
inline constexpr std::string_view kCsvLetters = "FDST";  // POI-CSV to GPX

// Expands every token "<" letter [range] ">" of templ. The letter picks the value
// at its place in letters (without regard to case); a letter that is not there,
// or whose value is missing, gives empty text; "<>" is the first value. The range
// "n-m", "n" or "-m" picks characters (counted from 1). A "<" with no ">" after
// it makes the result the template unexpanded. Replacements are never searched
// for tokens again, so the expansion always ends.
std::string ExpandTemplate(std::string_view templ, std::string_view letters,
                           std::span<const std::string_view> values);
// The same, into out (replacing what it held), so a caller can reuse one buffer.
void ExpandTemplateInto(std::string& out, std::string_view templ, std::string_view letters,
                        std::span<const std::string_view> values);

}  // namespace marklode
