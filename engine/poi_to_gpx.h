// POI-CSV to GPX: one POI-CSV file, or every file a pattern matches, into one
// GPX 1.1 file with Garmin extensions: waypoints with names unique across the
// whole output, and routes marked by "[begin-route:NAME]" / "[end-route]" lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace marklode {

RunStatus ConvertPoiToGpx(RunContext& ctx, std::string_view commentTemplate,
                          std::string_view nameTemplate, std::string_view categoryTemplate,
                          std::string_view iconTemplate);

struct PoiTemplates {
  std::string_view comment, name, category, icon;
};

// The same conversion for one file's text held in memory, named fileName;
// returns the whole GPX text and the number of points in count.
std::string ConvertPoiTextToGpx(std::string_view csv, std::string_view fileName,
                                const PoiTemplates& templates, MessageSink& messages,
                                std::int32_t& count);

}  // namespace marklode
