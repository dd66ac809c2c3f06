// POI-CSV to GPX: one POI-CSV file, or every file a pattern matches, into one
// GPX 1.1 file with Garmin extensions.
#pragma once

#include <string_view>

#include "engine/run_context.h"

namespace marklode {

RunStatus ConvertPoiToGpx(RunContext& ctx, std::string_view commentTemplate,
                          std::string_view nameTemplate, std::string_view categoryTemplate,
                          std::string_view iconTemplate);

}  // namespace marklode
