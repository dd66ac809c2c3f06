// Templates: literal text with tokens such as <W1-10> (characters 1 to 10 of
// the waypoint name) or <C> (the category), expanded for one point.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace marklode {

inline constexpr std::string_view kGpxLetters = "FWTC";  // GPX to POI-CSV
inline constexpr std::string_view kCsvLetters = "FDST";  // POI-CSV to GPX

// Expands every token "<" letter [range] ">" of templ. The letter picks the value
// at its place in letters (without regard to case); a letter that is not there,
// or whose value is missing, gives empty text; "<>" is the first value. The range
// "n-m", "n" or "-m" picks characters (counted from 1). A "<" with no ">" after
// it makes the result the template unexpanded. Replacements are never searched
// for tokens again, so the expansion always ends.
//
// A token "<{" name "}" [range] ">" is the value of that name in named (KML's
// ExtendedData and styleUrl, GeoJSON's properties): the name as written,
// else without regard to case; empty text where there is none. It cannot be
// taken for a letter's token, whose letter is never "{".
using NamedValues = std::span<const std::pair<std::string, std::string>>;
std::string ExpandTemplate(std::string_view templ, std::string_view letters,
                           std::span<const std::string_view> values, NamedValues named = {});
// The same, into out (replacing what it held), so a caller can reuse one buffer.
void ExpandTemplateInto(std::string& out, std::string_view templ, std::string_view letters,
                        std::span<const std::string_view> values, NamedValues named = {});

}  // namespace marklode
