// GPX to POI-CSV: the waypoints of one GPX file as POI-CSV records.
#pragma once

#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace marklode {

// Converts ctx.InputSpec (to ctx.OutputSpec when not empty) and leaves the number
// of records written in ctx.EntriesConverted. Empty filters let everything pass;
// empty templates switch their feature off. An output named by the file-name
// template that would replace profileFile (the profile being run) is refused.
RunStatus ConvertGpxToCsv(RunContext& ctx, std::string_view GenerateComment,
                          bool KeepCommentLineBreaks, std::string_view WaypointNameFilter,
                          std::string_view CommentFilter, std::string_view CategoryFilter,
                          std::string_view GenerateCSVFileName, std::string_view GeneratePOIName,
                          const std::string& profileFile = {});

}  // namespace marklode
