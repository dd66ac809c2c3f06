#include "engine/profiles.h"

#include <utility>

#include "engine/input_formats.h"
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

Request RequestOf(const ConversionProfile& p, std::string profilePath) {
  Request r;
  const std::string_view in = p.Input;
  r.direction = IsWaypointInputName(in) ? Direction::GpxToPoi : Direction::PoiToGpx;
  r.input = p.Input;
  r.output = p.Output;
  r.keepCommentLineBreaks = p.KeepCommentLineBreaks;
  r.categoryFromFolderPath = p.CategoryFromFolderPath;
  r.shapePoint = ShapePointOf(p.ShapesAsPoints);
  r.filters = {p.WaypointNameFilter, p.CommentFilter, p.CategoryFilter};
  r.toPoi = {p.GenerateComment, p.GenerateCSVFileName, p.GeneratePOIName};
  r.toGpx = {p.GenerateWaypointComment, p.GenerateWaypointName, p.GenerateCategory,
             p.GenerateIconName};
  r.profile = std::move(profilePath);
  return r;
}

Request ReadProfileRequest(const std::string& profileFile, MessageSink& messages) {
  std::string text;
  std::string path = profileFile.empty() ? std::string() : ResolveFile(profileFile);
  // A profile is a few lines; anything near this size is not one.
  constexpr std::uint64_t kMostProfileBytes = 64u << 20;
  if (path.empty() || !ReadWholeFile(path, text, kMostProfileBytes)) {
    messages.Show(kCantOpenProfile, MessageKind::Plain, kAppTitle, Severity::Problem);
    text.clear();
  }
  return RequestOf(ParseProfile(text), std::move(path));
}

ShapePoint ShapePointOf(std::string_view value) {
  value = TrimBlanks(value);
  if (IEquals(value, "FirstVertex")) return ShapePoint::FirstVertex;
  if (IEquals(value, "Centroid")) return ShapePoint::Centroid;
  return ShapePoint::None;
}

std::string_view ShapePointName(ShapePoint shapes) {
  switch (shapes) {
    case ShapePoint::FirstVertex:
      return "FirstVertex";
    case ShapePoint::Centroid:
      return "Centroid";
    case ShapePoint::None:
      break;
  }
  return {};
}

std::string_view LoadProfileTemplate(std::string_view name) {
  return resources::Find(ToUpperAscii(name));
}

std::string FillProfileTemplate(std::string_view templ, std::string_view inFile,
                                std::string_view outFile, bool keepCommentBreaks,
                                const ProfileExtras& extras) {
  std::string t = ReplaceText(templ, "%INFILE%", inFile);
  t = ReplaceText(t, "%OUTFILE%", outFile);
  t = ReplaceText(t, "%CMTBREAK%", keepCommentBreaks ? "True" : "False");
  const auto line = [&t](std::string_view key, std::string_view value) {
    if (!t.empty() && t.back() != '\n') t += "\r\n";
    t.append(key).append("=").append(value);
  };
  if (extras.categoryFromFolderPath) line("CategoryFromFolderPath", "True");
  if (extras.shapePoint != ShapePoint::None)
    line("ShapesAsPoints", ShapePointName(extras.shapePoint));
  return t;
}

}  // namespace marklode
