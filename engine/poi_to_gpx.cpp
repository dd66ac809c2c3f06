#include "engine/poi_to_gpx.h"

namespace marklode {

RunStatus ConvertPoiToGpx(RunContext& ctx, std::string_view, std::string_view, std::string_view,
                          std::string_view) {
  ctx.EntriesConverted = 0;
  return RunStatus::Done;
}

}  // namespace marklode
