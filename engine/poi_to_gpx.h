// POI-CSV to GPX: one POI-CSV file, or every file a pattern matches, into one
// GPX 1.1 file with Garmin extensions: waypoints with names unique across the
// whole output, and routes marked by "[begin-route:NAME]" / "[end-route]" lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/plan.h"
#include "engine/request.h"
#include "engine/run.h"

namespace marklode {

// Converts the files of the planned item (whose problem is None) into its
// output, as the request's templates say, and tells in event what became of it.
RunStatus ConvertPoiToGpx(const PlannedItem& item, const Request& request, RunServices& services,
                          ItemEvent& event);

struct PoiTemplates {
  std::string_view comment, name, category, icon;
};

// The same conversion for one file's text held in memory, named fileName;
// returns the whole GPX text and the number of points in count.
std::string ConvertPoiTextToGpx(std::string_view csv, std::string_view fileName,
                                const PoiTemplates& templates, MessageSink& messages,
                                std::int32_t& count);

}  // namespace marklode
