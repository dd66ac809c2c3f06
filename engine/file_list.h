// ";" lists: a folder followed by file names, each converted to its own output
// beside it, in the direction the context's ModeGPX gives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_context.h"

namespace marklode {

// Output name of one list item, as OutputNameOf derives it: the item up to
// and including the last "." of its file name (never of its folder) followed
// by ext; an item whose file name has no "." gets "." and ext appended.
std::string BatchOutputName(std::string_view item, std::string_view ext);

// Whether an input is a ";" list: a ";" anywhere in it, its folder included.
bool IsFileList(std::string_view input);

// A ";" list taken apart: the folder is the text up to its last "/" (empty
// when there is none), the names are what stands between the ";" after it,
// in order and as written (spaces kept), an empty one where two ";" meet or
// one ends the list. Views into list, which must outlive them.
struct FileList {
  std::string_view folder;
  std::vector<std::string_view> names;
  // The items the batch converts, counted from 1 in order: the names that
  // are not empty. The progress of a list counts them the same way.
  int Items() const;
};
FileList SplitFileList(std::string_view list);

// Converts each item of the list in ctx.InputSpec; while an item runs, the
// context's ListItem and ListItems tell which of how many it is.
RunStatus RunBatch(RunContext& ctx, std::int32_t& entries, std::int32_t& files);

}  // namespace marklode
