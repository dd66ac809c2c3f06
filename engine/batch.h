// ";" lists: a folder followed by file names, each converted to its own output
// beside it, in the direction the context's ModeGPX gives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/run_context.h"

namespace marklode {

// Output name of one list item: the item up to and including the last "." of
// its file name (never of its folder) followed by ext; an item whose file name
// has no "." gets "." and ext appended.
std::string BatchOutputName(std::string_view item, std::string_view ext);

RunStatus RunBatch(RunContext& ctx, std::int32_t& entries, std::int32_t& files);

}  // namespace marklode
