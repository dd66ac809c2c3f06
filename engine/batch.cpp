#include "engine/batch.h"

#include "engine/gpx_to_csv.h"
#include "engine/poi_to_gpx.h"
#include "services/platform.h"
#include "services/strings.h"

namespace marklode {

std::string BatchOutputName(std::string_view item, std::string_view ext) {
  std::string_view name = FileNamePart(item);
  std::size_t dot = name.rfind('.');
  std::string out;
  if (dot == std::string_view::npos) {
    out.assign(item).append(".");
  } else {
    out.assign(item.substr(0, item.size() - name.size() + dot + 1));
  }
  out.append(ext);
  return out;
}

RunStatus RunBatch(RunContext& ctx, std::int32_t& entries, std::int32_t& files) {
  const std::string listText = ctx.InputSpec;
  const std::string folder(DirectoryPart(listText));
  const std::string_view names = std::string_view(listText).substr(folder.size());
  const int n = FieldCount(names, ';');
  entries = 0;
  files = 0;
  for (int i = 1; i <= n; ++i) {
    const std::string_view item = FieldAt(names, i, ';');
    if (item.empty()) continue;  // "a.csv;" or "a.csv;;b.csv": no item there
    ctx.InputSpec = folder + std::string(item);
    const std::string_view ext = ctx.ModeGPX ? "CSV" : "GPX";
    ctx.OutputSpec = BatchOutputName(ctx.InputSpec, ext);
    // An output that would be the item's own input is refused: converting a
    // file onto itself would destroy it.
    std::string inputName = ctx.InputSpec;
    if (FileNamePart(inputName).find('.') == std::string_view::npos)
      inputName += ctx.ModeGPX ? ".gpx" : ".CSV";
    if (IEquals(inputName, ctx.OutputSpec)) {
      ctx.messages.Show("Can't create output file -- " + ctx.OutputSpec, kOkOnly, kAppTitle,
                        Severity::Problem);
      continue;  // not converted, so not counted
    }
    RunStatus st = ctx.ModeGPX
                       ? ConvertGpxToCsv(ctx, "<T>", ctx.KeepCommentLineBreak, "", "", "", "", "")
                       : ConvertPoiToGpx(ctx, "<T>", "", "", "");
    if (st != RunStatus::Done) return st;
    entries += ctx.EntriesConverted;
    ++files;
  }
  return RunStatus::Done;
}

}  // namespace marklode
