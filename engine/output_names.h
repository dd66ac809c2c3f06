// The names one conversion reads and writes, worked out in one place for the
// converters, lists, profiles and the window, so that each decides alike.
// CompletedInput and OutputNameOf look at text only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marklode {

// The input as the converters look for it: a file name without an extension
// gets the direction's (".gpx" for GPX input, ".CSV" for POI-CSV).
std::string CompletedInput(std::string_view input, bool gpxInput);

// The one file a conversion of completedInput writes, given the output asked
// for (empty: beside the input, its extension replaced by ".CSV" or ".GPX").
// A GPX to POI-CSV output holding "*" or "?" stands for the input's name:
// that name with ".CSV", in the output's folder. A GPX output name comes
// back as it is: one holding a wildcard is refused (HasWildcards).
std::string OutputNameOf(std::string_view completedInput, std::string_view output, bool gpxInput);

// Whether writing output would replace one of the files names (bare names
// in folder dir, as FindFiles gives them), as the file system takes names.
bool ReplacesAnInput(std::string_view dir, const std::vector<std::string>& names,
                     const std::string& output);
// The same for the file, or each file of the pattern, completedInput names.
bool ReplacesItsInput(const std::string& completedInput, const std::string& output);

}  // namespace marklode
