// The progress windows' words on the file being read, written once for the
// Qt and the Windows window alike.
#pragma once

#include <string>
#include <string_view>

namespace marklode {

// "Converting tour.gpx"; while a list of more than one item runs, with the
// item's place as the run tells it: "Converting b.gpx, file 2 of 3".
std::string ConvertingText(std::string_view input, int item, int items);
// The same, or "Converting..." without an input.
std::string ProgressHeading(std::string_view input, int item, int items);

}  // namespace marklode
