// The progress windows' words on the file being read, written once for the
// Qt and the Windows window alike.
#pragma once

#include <string>

#include "engine/run_context.h"

namespace marklode {

// "Converting tour.gpx"; while a list of more than one item runs, with the
// item's place as the batch tells it: "Converting b.gpx, file 2 of 3".
std::string ConvertingText(const RunContext& request);
// The same, or "Converting..." without a request or one without an input.
std::string ProgressHeading(const RunContext* request);

}  // namespace marklode
