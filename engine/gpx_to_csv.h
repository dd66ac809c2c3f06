// GPX to POI-CSV: the waypoints of one GPX file as POI-CSV records.
#pragma once

#include "engine/plan.h"
#include "engine/request.h"
#include "engine/run.h"

namespace marklode {

// Converts the planned item (whose problem is None) as the request's filters
// and templates say, and tells in event what became of it. An output named
// by the file-name template that would replace the request's profile is
// refused.
RunStatus ConvertGpxToCsv(const PlannedItem& item, const Request& request, RunServices& services,
                          ItemEvent& event);

}  // namespace marklode
