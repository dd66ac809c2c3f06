#include "engine/profiles.h"

#include <utility>

#include "engine/gpx_to_csv.h"
#include "engine/output_names.h"
#include "engine/poi_to_gpx.h"
#include "engine/reports.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_files.h"

namespace marklode {

namespace resources {
std::string_view Find(std::string_view name);  // generated from resources/
}

std::string GetProfileValue(std::string_view text, std::string_view section, std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool inSection = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimBlanks(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      inSection = close != std::string_view::npos &&
                  IEquals(TrimBlanks(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !IEquals(TrimBlanks(line.substr(0, eq)), key)) continue;
    std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return {};
}

ConversionProfile ParseProfile(std::string_view ini) {
  ConversionProfile p;
  for (const ProfileKey& key : kProfileKeys) {
    std::string value = GetProfileValue(ini, "Profile", key.name);
    if (key.text)
      p.*key.text = std::move(value);
    else
      p.*key.flag = IEquals(TrimBlanks(value), "true");
  }
  return p;
}

namespace {

// The one output file the profile's conversion writes, as the converters name
// it; empty when the names come from a template (the converter checks those
// against the profile as they come).
std::string PlannedOutput(const ConversionProfile& p, bool gpxInput) {
  if (gpxInput && !p.GenerateCSVFileName.empty()) return {};
  return OutputNameOf(CompletedInput(p.Input, gpxInput), p.Output, gpxInput);
}

}  // namespace

RunStatus RunProfile(RunContext& ctx, std::int32_t& entries) {
  std::string text;
  const std::string path = ctx.ProfileFile.empty() ? std::string() : ResolveFile(ctx.ProfileFile);
  // A profile is a few lines; anything near this size is not one.
  constexpr std::uint64_t kMostProfileBytes = 64u << 20;
  if (path.empty() || !ReadWholeFile(path, text, kMostProfileBytes))
    ctx.messages.Show(kCantOpenProfile, MessageKind::Plain, kAppTitle, Severity::Problem);
  const ConversionProfile p = ParseProfile(text);
  ctx.InputSpec = p.Input;
  ctx.OutputSpec = p.Output;
  const bool gpxInput =
      p.Input.size() >= 4 && IEquals(std::string_view(p.Input).substr(p.Input.size() - 4), ".GPX");
  // A profile that would write its conversion over itself is refused, as a
  // list item that would write over its own input is.
  if (const std::string out = PlannedOutput(p, gpxInput); !path.empty() && SameFile(out, path)) {
    ctx.EntriesConverted = 0;
    entries = 0;
    ShowOutputIsItsInput(ctx.messages, out);
    return RunStatus::Stopped;
  }
  RunStatus st;
  if (gpxInput) {
    st = ConvertGpxToCsv(ctx, p.GenerateComment, p.KeepCommentLineBreaks, p.WaypointNameFilter,
                         p.CommentFilter, p.CategoryFilter, p.GenerateCSVFileName,
                         p.GeneratePOIName, path);
  } else {
    st = ConvertPoiToGpx(ctx, p.GenerateWaypointComment, p.GenerateWaypointName, p.GenerateCategory,
                         p.GenerateIconName);
  }
  entries = ctx.EntriesConverted;
  return st;
}

std::string_view LoadProfileTemplate(std::string_view name) {
  return resources::Find(ToUpperAscii(name));
}

std::string FillProfileTemplate(std::string_view templ, std::string_view inFile,
                                std::string_view outFile, bool keepCommentBreaks) {
  std::string t = ReplaceText(templ, "%INFILE%", inFile);
  t = ReplaceText(t, "%OUTFILE%", outFile);
  return ReplaceText(t, "%CMTBREAK%", keepCommentBreaks ? "True" : "False");
}

}  // namespace marklode
