#include "engine/gpx_to_csv.h"

#include <array>
#include <map>
#include <string>

#include "engine/byte_scan.h"
#include "engine/gpx_reader.h"
#include "engine/output_names.h"
#include "engine/output_set.h"
#include "engine/reports.h"
#include "engine/templates.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_decoding.h"

namespace marklode {
namespace {

constexpr std::size_t kPoiNameChars = 39;

// "@" and a number ends a POI name as its speed suffix.
bool IsSpeedComment(std::string_view comment) {
  return !comment.empty() && comment[0] == '@' && IsDecimalNumber(comment.substr(1));
}

// Appends text as the inside of a quoted field. A field must never end its
// record early: line breaks become spaces in a name and comment line joins in
// a comment, and a quote is doubled, so that quotes still pair and a comma
// after one stays in the field.
void AppendField(ByteBuffer& record, std::string_view text, const char* lineJoiner) {
  const char* const e = text.data() + text.size();
  if (FindFirstOf<'\r', '\n', '"'>(text.data(), e) == e) {  // the usual case
    record.Append(text);
    return;
  }
  std::string joined;
  if (FindFirstOf<'\r', '\n'>(text.data(), e) != e) {
    if (!lineJoiner) {
      joined.assign(text);
      JoinNameLines(joined);
    } else if (std::string_view(lineJoiner) != "\n" || text.find('\r') != std::string_view::npos) {
      joined = JoinCommentLines(text, lineJoiner);  // an LF alone is kept: records end in CR LF
    } else {
      joined.assign(text);
    }
    text = joined;
  }
  for (std::size_t q; (q = text.find('"')) != std::string_view::npos; text.remove_prefix(q + 1)) {
    record.Append(text.substr(0, q + 1));
    record.Append("\"");
  }
  record.Append(text);
}

// Cuts a POI name to 39 characters, in place; with a speed suffix "@n" in it,
// only the part before the "@" is cut, and anything from a second "@" on is
// dropped.
void TruncatePoiName(std::string& name) {
  const std::size_t at = name.find('@');
  if (at == std::string::npos) {
    name.resize(FirstChars(name, kPoiNameChars).size());
    return;
  }
  const std::size_t second = name.find('@', at + 1);
  if (second != std::string::npos) name.resize(second);
  const std::size_t keep = FirstChars(std::string_view(name).substr(0, at), kPoiNameChars).size();
  name.erase(keep, at - keep);
}

}  // namespace

RunStatus ConvertGpxToCsv(RunContext& ctx, std::string_view GenerateComment,
                          bool KeepCommentLineBreaks, std::string_view WaypointNameFilter,
                          std::string_view CommentFilter, std::string_view CategoryFilter,
                          std::string_view GenerateCSVFileName, std::string_view GeneratePOIName,
                          const std::string& profileFile) {
  ctx.EntriesConverted = 0;
  const std::string input = CompletedInput(ctx.InputSpec, true);
  if (const std::string why = NotARegularFileText(ctx.InputSpec, input); !why.empty()) {
    ShowInputNotAFile(ctx.messages, why);
    return RunStatus::Stopped;
  }
  if (FindFirstFile(input).empty()) {
    ShowInputMissing(ctx.messages, input);
    return RunStatus::Stopped;
  }
  const bool truncate =
      !IEquals(TrimSpaces(ctx.settings.GetRegistryValue("TruncatePOIname")), "false");

  const std::string_view inputName = FileNamePart(input);
  const std::string F(inputName.substr(0, inputName.rfind('.')));
  // Where the records go unless a template names their file.
  const std::string commonFile = OutputNameOf(input, ctx.OutputSpec, true);
  const std::string outDir(DirectoryPart(commonFile));

  const std::string path = ResolveFile(input);
  InputFile in(ctx.messages);
  if (path.empty()) {  // a pattern: there is no one file to read
    ShowWarning(ctx.messages, kReadWarningTitle, "Bad file name", input);
    return RunStatus::Done;
  }
  if (!in.Open(path)) return RunStatus::Done;

  DecodingSource text(in);  // UTF-16 and UTF-32 become UTF-8; anything else passes as it is
  GpxReader reader(text, KeepCommentLineBreaks, ctx.progress);
  const char* commentJoiner = KeepCommentLineBreaks ? "\n" : " - ";
  OutputSet outputs(ctx.messages);
  GpxWaypoint w;
  ByteBuffer record;
  std::string generatedFile, poiName, suffix, comment;
  std::int64_t written = 0;
  // Each name the template gives is checked once against the profile.
  std::map<std::string, bool, std::less<>> isProfile;
  const bool checkProfile = !GenerateCSVFileName.empty() && !profileFile.empty();

  bool cancelled = false;
  while (reader.Next(w)) {
    if (ctx.progress && ctx.progress->Cancelled()) {
      cancelled = true;
      break;
    }
    if (!WaypointNameFilter.empty() && !LikeMatch(w.name, WaypointNameFilter)) continue;
    if (!CommentFilter.empty() && !LikeMatch(w.comment, CommentFilter)) continue;
    if (!CategoryFilter.empty() && !LikeMatch(w.category, CategoryFilter)) continue;
    if (!w.hasLat || !w.hasLon || !IsCoordinate(w.lat, 90) || !IsCoordinate(w.lon, 180)) {
      ShowInvalidCoordinates(ctx.messages, w.name);
      continue;
    }

    const std::string_view W = truncate ? FirstChars(w.name, kPoiNameChars) : w.name;
    const std::array<std::string_view, 4> values{F, W, w.comment, w.category};

    const std::string* file = &commonFile;
    if (!GenerateCSVFileName.empty()) {
      generatedFile =
          outDir + SafeFileName(ExpandTemplate(GenerateCSVFileName, kGpxLetters, values)) + ".CSV";
      file = &generatedFile;
      if (checkProfile) {
        auto it = isProfile.find(generatedFile);
        if (it == isProfile.end()) {
          it = isProfile.emplace(generatedFile, SameFile(generatedFile, profileFile)).first;
          if (it->second) ShowOutputRefused(ctx.messages, generatedFile);
        }
        if (it->second) continue;
      }
    }

    bool generated = false;
    suffix.clear();
    if (!GeneratePOIName.empty()) {
      poiName = ExpandTemplate(GeneratePOIName, kGpxLetters, values);
      if (!poiName.empty()) {
        generated = true;
        std::size_t at = poiName.find('@');
        if (at != std::string::npos && !IsDecimalNumber(std::string_view(poiName).substr(at + 1)))
          poiName.resize(at);
      }
    }
    if (!generated && IsSpeedComment(w.comment)) suffix = w.comment;
    // The name, already cut to its characters, changes only at an "@": else
    // it is used where it lies.
    std::string_view poi = W;
    if (generated ||
        (truncate && FindFirstOf<'@'>(W.data(), W.data() + W.size()) != W.data() + W.size())) {
      if (!generated) poiName.assign(W);
      if (truncate) TruncatePoiName(poiName);
      poi = poiName;
    }

    comment.clear();
    if (!GenerateComment.empty()) comment = ExpandTemplate(GenerateComment, kGpxLetters, values);

    record.clear();
    record.Append(w.lon);
    record.Append(",");
    record.Append(w.lat);
    record.Append(",\"");
    AppendField(record, poi, nullptr);
    AppendField(record, suffix, nullptr);
    record.Append("\"");
    if (!comment.empty()) {
      record.Append(",\"");
      AppendField(record, comment, commentJoiner);
      record.Append("\"");
    }

    if (outputs.WriteRecord(*file, record.view())) ++written;
  }

  if (cancelled || reader.cancelled() || (ctx.progress && ctx.progress->Cancelled())) {
    outputs.DiscardAll();
    ctx.EntriesConverted = 0;
    return RunStatus::Cancelled;
  }
  if (text.unreadable()) ShowUnreadableEncoding(ctx.messages, path);
  if (in.failed() || text.unreadable()) {  // a file read in part replaces nothing
    outputs.DiscardAll();
    ctx.EntriesConverted = 0;
    return RunStatus::Done;
  }
  // Nameless waypoints are no POIs, but the user is told how many there were.
  if (reader.nameless() > 0) ShowNamelessSkipped(ctx.messages, reader.nameless());
  written -= outputs.CommitAll();
  ctx.OutputsCommitted += outputs.committed();
  ctx.EntriesConverted = static_cast<std::int32_t>(written);
  return RunStatus::Done;
}

}  // namespace marklode
