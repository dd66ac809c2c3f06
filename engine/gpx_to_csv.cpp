#include "engine/gpx_to_csv.h"

#include <array>
#include <string>

#include "engine/byte_scan.h"
#include "engine/gpx_reader.h"
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

// The stages a waypoint passes on its way to a record: the filters, the
// record's file, its POI name, its comment, and the record's text. Each
// stage keeps its room from one waypoint to the next.
class PoiRecordMaker {
 public:
  PoiRecordMaker(const Request& request, std::string_view inputStem, std::string_view outDir,
                 bool truncate)
      : filters_(request.filters),
        templates_(request.toPoi),
        inputStem_(inputStem),
        outDir_(outDir),
        truncate_(truncate),
        commentJoiner_(request.keepCommentLineBreaks ? "\n" : " - ") {}

  bool Passes(const GpxWaypoint& w) const {
    return (filters_.name.empty() || LikeMatch(w.name, filters_.name)) &&
           (filters_.comment.empty() || LikeMatch(w.comment, filters_.comment)) &&
           (filters_.category.empty() || LikeMatch(w.category, filters_.category));
  }

  // The letters the templates fill in, for this waypoint.
  void Take(const GpxWaypoint& w) {
    w_ = &w;
    const std::string_view W = truncate_ ? FirstChars(w.name, kPoiNameChars) : w.name;
    values_ = {inputStem_, W, w.comment, w.category};
  }

  // The file the file-name template names; only when there is one.
  // An empty name (no category for <C>) is "_": ".CSV" would be a hidden file.
  const std::string& FileName() {
    std::string stem = SafeFileName(ExpandTemplate(templates_.fileName, kGpxLetters, values_));
    if (stem.empty()) stem = "_";
    file_ = outDir_ + stem + ".CSV";
    return file_;
  }

  // The record: coordinates, then name and speed suffix, then the comment.
  std::string_view Record() {
    record_.clear();
    record_.Append(w_->lon);
    record_.Append(",");
    record_.Append(w_->lat);
    record_.Append(",\"");
    std::string_view suffix;
    AppendField(record_, PoiName(suffix), nullptr);
    AppendField(record_, suffix, nullptr);
    record_.Append("\"");
    if (!templates_.comment.empty()) {
      comment_ = ExpandTemplate(templates_.comment, kGpxLetters, values_);
      if (!comment_.empty()) {
        record_.Append(",\"");
        AppendField(record_, comment_, commentJoiner_);
        record_.Append("\"");
      }
    }
    return record_.view();
  }

 private:
  // The POI name as the template makes it, or the waypoint's, cut to its
  // characters; a comment "@n" becomes the speed suffix of a waypoint's own name.
  std::string_view PoiName(std::string_view& suffix) {
    const std::string_view W = values_[1];
    bool generated = false;
    if (!templates_.poiName.empty()) {
      poiName_ = ExpandTemplate(templates_.poiName, kGpxLetters, values_);
      if (!poiName_.empty()) {
        generated = true;
        const std::size_t at = poiName_.find('@');
        if (at != std::string::npos && !IsDecimalNumber(std::string_view(poiName_).substr(at + 1)))
          poiName_.resize(at);
      }
    }
    if (!generated && IsSpeedComment(w_->comment)) suffix = w_->comment;
    // The name, already cut to its characters, changes only at an "@": else
    // it is used where it lies.
    if (generated ||
        (truncate_ && FindFirstOf<'@'>(W.data(), W.data() + W.size()) != W.data() + W.size())) {
      if (!generated) poiName_.assign(W);
      if (truncate_) TruncatePoiName(poiName_);
      return poiName_;
    }
    return W;
  }

  const WaypointFilters& filters_;
  const PoiRecordTemplates& templates_;
  const std::string_view inputStem_;
  const std::string outDir_;
  const bool truncate_;
  const char* const commentJoiner_;
  const GpxWaypoint* w_ = nullptr;
  std::array<std::string_view, 4> values_;
  std::string file_, poiName_, comment_;
  ByteBuffer record_;
};

}  // namespace

RunStatus ConvertGpxToCsv(const PlannedItem& item, const Request& request, RunServices& services,
                          ItemEvent& event) {
  MessageSink& messages = services.messages;
  ProgressSink* const progress = services.progress;
  event.outcome = ItemOutcome::NotWritten;
  const bool truncate =
      !IEquals(TrimSpaces(services.settings.GetRegistryValue("TruncatePOIname")), "false");
  const std::string_view inputName = FileNamePart(item.input);
  const std::string_view inputStem = inputName.substr(0, inputName.rfind('.'));
  // Where the records go unless a template names their file.
  const std::string& commonFile = item.output;

  InputFile in(messages);
  if (!in.Open(item.path)) return RunStatus::Done;

  DecodingSource text(in);  // UTF-16 and UTF-32 become UTF-8; anything else passes as it is
  GpxReader reader(text, request.keepCommentLineBreaks, progress);
  PoiRecordMaker maker(request, inputStem, DirectoryPart(commonFile), truncate);
  OutputSet outputs(messages);
  if (services.check) outputs.WriteNothing();
  FileReport& report = event.files.emplace_back();
  report.file = item.input;
  GpxWaypoint w;
  std::int64_t written = 0;
  const bool namedFiles = !request.toPoi.fileName.empty();
  if (namedFiles && !request.profile.empty()) {
    // Each name the template gives is checked once against the profile.
    outputs.RefuseWhere([&](const std::string& file) {
      if (!SameFile(file, request.profile)) return false;
      ShowOutputRefused(messages, file);
      return true;
    });
  }

  bool cancelled = false;
  while (reader.Next(w)) {
    if (progress && progress->Cancelled()) {
      cancelled = true;
      break;
    }
    ++report.read;
    if (!maker.Passes(w)) {
      report.Skip(SkipReason::Filtered);
      continue;
    }
    if (!w.hasLat || !w.hasLon || !IsCoordinate(w.lat, 90) || !IsCoordinate(w.lon, 180)) {
      ShowInvalidCoordinates(messages, w.name);
      report.Skip(SkipReason::NoCoordinates);
      continue;
    }
    NoteCoordinates(report, w.lat, w.lon);
    if (truncate && w.name.size() > kPoiNameChars &&
        FirstChars(w.name, kPoiNameChars).size() < w.name.size())
      report.Renamed(NameChange::Cut);
    maker.Take(w);
    const std::string* file = &commonFile;
    if (namedFiles) file = &maker.FileName();
    if (outputs.WriteRecord(*file, maker.Record())) ++written;
  }

  if (cancelled || reader.cancelled() || (progress && progress->Cancelled())) {
    outputs.DiscardAll();
    event.outcome = ItemOutcome::Cancelled;
    return RunStatus::Cancelled;
  }
  if (text.unreadable()) ShowUnreadableEncoding(messages, item.path);
  if (in.failed() || text.unreadable()) {  // a file read in part replaces nothing
    outputs.DiscardAll();
    return RunStatus::Done;
  }
  // Nameless waypoints are no POIs, but the user is told how many there were.
  if (reader.nameless() > 0) ShowNamelessSkipped(messages, reader.nameless());
  report.SkipMany(SkipReason::NoName, reader.nameless());
  written -= outputs.CommitAll();
  event.committed = outputs.committed();
  event.entries = static_cast<std::int32_t>(written);
  report.written = written;
  event.outcome = ItemOutcome::Converted;
  return RunStatus::Done;
}

}  // namespace marklode
