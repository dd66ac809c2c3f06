#include "engine/file_list.h"

#include <set>

#include "engine/gpx_to_csv.h"
#include "engine/output_keys.h"
#include "engine/output_names.h"
#include "engine/poi_to_gpx.h"
#include "engine/reports.h"
#include "services/platform.h"

namespace marklode {

std::string BatchOutputName(std::string_view item, std::string_view ext) {
  const bool gpxInput = ext == "CSV";
  return OutputNameOf(CompletedInput(item, gpxInput), "", gpxInput);
}

bool IsFileList(std::string_view input) {
  return input.find(';') != std::string_view::npos;
}

int FileList::Items() const {
  int n = 0;
  for (const std::string_view name : names) n += name.empty() ? 0 : 1;
  return n;
}

FileList SplitFileList(std::string_view list) {
  FileList out;
  out.folder = DirectoryPart(list);
  const std::string_view names = list.substr(out.folder.size());
  for (std::size_t pos = 0;;) {
    const std::size_t semi = names.find(';', pos);
    out.names.push_back(names.substr(pos, semi == std::string_view::npos ? semi : semi - pos));
    if (semi == std::string_view::npos) return out;
    pos = semi + 1;
  }
}

namespace {
// The place in the list is told only while the list runs.
struct ListPlace {
  RunContext& ctx;
  ListPlace(RunContext& c, int items) : ctx(c) {
    ctx.ListItem = 0;
    ctx.ListItems = items;
  }
  ~ListPlace() { ctx.ListItem = ctx.ListItems = 0; }
};
}  // namespace

RunStatus RunBatch(RunContext& ctx, std::int32_t& entries, std::int32_t& files) {
  const std::string listText = ctx.InputSpec;  // InputSpec changes for each item
  const FileList list = SplitFileList(listText);
  const ListPlace place(ctx, list.Items());
  entries = 0;
  files = 0;
  // Every item is looked at before any is converted: a list that would
  // replace one of its inputs, or write a GPX file named by a pattern, stops
  // with nothing written.
  std::string item;
  for (const std::string_view name : list.names) {
    if (name.empty()) continue;
    const std::string input = CompletedInput(item.assign(list.folder).append(name), ctx.ModeGPX);
    const std::string output = OutputNameOf(input, "", ctx.ModeGPX);
    if (!ctx.ModeGPX && HasWildcards(output)) {
      ShowWildcardGpxOutput(ctx.messages, output);
      return RunStatus::Stopped;
    }
    if (ReplacesItsInput(input, output)) {
      ShowOutputIsItsInput(ctx.messages, output);
      return RunStatus::Stopped;
    }
  }
  OutputKeys keys;
  std::set<std::string, std::less<>> written;  // keys of the outputs the list put in place
  for (const std::string_view name : list.names) {
    if (name.empty()) continue;  // "a.csv;" or "a.csv;;b.csv": no item there
    ++ctx.ListItem;
    ctx.InputSpec.assign(list.folder).append(name);
    ctx.OutputSpec = OutputNameOf(CompletedInput(ctx.InputSpec, ctx.ModeGPX), "", ctx.ModeGPX);
    // An output that an earlier item wrote is refused: two inputs named
    // alike ("trip.gpx;trip.txt", or "trip.gpx;TRIP.txt" in a case-blind
    // folder) would leave the records of the last one only.
    const std::string key = keys.Of(ctx.OutputSpec);
    if (written.contains(key)) {
      ShowOutputRefused(ctx.messages, ctx.OutputSpec);
      continue;  // not converted, so not counted
    }
    const std::int32_t committedBefore = ctx.OutputsCommitted;
    RunStatus st = ctx.ModeGPX
                       ? ConvertGpxToCsv(ctx, "<T>", ctx.KeepCommentLineBreak, "", "", "", "", "")
                       : ConvertPoiToGpx(ctx, "<T>", "", "", "");
    if (st != RunStatus::Done) return st;
    if (ctx.OutputsCommitted != committedBefore) written.insert(key);
    entries += ctx.EntriesConverted;
    ++files;
  }
  return RunStatus::Done;
}

}  // namespace marklode
