#include "engine/poi_reader.h"

#include <algorithm>
#include <array>
#include <span>
#include <type_traits>
#include <utility>

#include "engine/name_set.h"
#include "engine/poi_clean.h"
#include "engine/reports.h"
#include "engine/templates.h"
#include "engine/xml_escape.h"
#include "services/messages.h"
#include "services/strings.h"

namespace marklode {
namespace {

// A record this long leaves no room behind: what grew for it is given back
// before the next, so that one long record is held once or twice, not in
// every buffer it passed through.
constexpr std::size_t kLongRecord = 1 << 20;

// How much of a name a message quotes: enough to find the point by.
constexpr std::size_t kShownNameBytes = 1024;

void ReleaseIfLong(std::string& s) {
  if (s.capacity() > kLongRecord) std::string().swap(s);
}

}  // namespace

PoiTemplate::PoiTemplate(std::string_view text) : text_(ToXmlText(text)) {
  if (text_ == "<>") {
    whole_ = 0;
  } else if (text_.size() == 3 && text_[0] == '<' && text_[2] == '>') {
    for (std::size_t i = 0; i < kCsvLetters.size(); ++i)
      if (ToLowerAscii(kCsvLetters.substr(i, 1)) == ToLowerAscii(text_.substr(1, 1)))
        whole_ = static_cast<int>(i);
  }
}

std::string_view PoiTemplate::Expand(std::span<const std::string_view> values,
                                     std::string& scratch) const {
  if (whole_ >= 0)
    return static_cast<std::size_t>(whole_) < values.size() ? values[whole_] : std::string_view();
  ExpandTemplateInto(scratch, text_, kCsvLetters, values);
  return scratch;
}

PoiReader::PoiReader(MessageSink& messages, const PoiTemplates& t, HandOff handOff)
    : messages_(messages),
      commentT_(t.comment),
      nameT_(t.name),
      categoryT_(t.category),
      iconT_(t.icon),
      handOff_(std::move(handOff)) {
  anyTemplate_ = !t.comment.empty() || !t.name.empty() || !t.category.empty() || !t.icon.empty();
}

bool PoiReader::File(ByteSource& src, std::string_view fileName, ProgressSink* progress) {
  std::size_t dot = fileName.rfind('.');
  fileBase_ = ToXmlText(fileName.substr(0, dot));
  CsvRecordReader reader(src, progress);
  reading_ = &reader;
  runOnShown_ = crShown_ = false;
  std::string_view record;
  while (reader.Next(record, &fields_)) {
    if (progress && progress->Cancelled()) {
      cancelled_ = true;
      return false;
    }
    if (const std::size_t line = reader.TakeRunOnLine()) [[unlikely]]
      RunOnWarning(line, fileName);
    if (const std::size_t line = reader.TakeCrInQuotesLine()) [[unlikely]]
      CrInQuotesWarning(line, fileName);
    const bool longRecord = record.size() + fields_.rest.size() > kLongRecord;
    Record();
    if (longRecord) [[unlikely]] {  // before the writing side takes its copy
      reader.ReleaseRoom();
      ReleaseRoom();
    }
    if (batch_.full() && !HandOffBatch()) return false;
  }
  cancelled_ = reader.cancelled();
  return !cancelled_;
}

bool PoiReader::HandOffBatch() {
  if (!handOff_(batch_)) return false;
  batch_.clear();
  return true;
}

// A stray quote takes the lines after it into its field: said once per file,
// since the points lost that way are easy to miss; each is counted.
void PoiReader::RunOnWarning(std::size_t line, std::string_view fileName) {
  if (!std::exchange(runOnShown_, true))
    ShowWarning(messages_, "Unpaired Quote",
                "Unpaired double quote in line " + std::to_string(line) +
                    "; its field runs on over the lines after it",
                fileName);
  report_->Skip(SkipReason::UnpairedQuote, static_cast<std::int64_t>(line));
}

// A CR ends a record even inside quotes: the rest of the field is read as a
// record of its own, which is seldom a point. Said once per file, each counted.
void PoiReader::CrInQuotesWarning(std::size_t line, std::string_view fileName) {
  if (!std::exchange(crShown_, true))
    ShowWarning(messages_, "Unpaired Quote",
                "Line " + std::to_string(line) +
                    " ends inside a double-quoted field; the record ends there and the "
                    "next line is read as a record of its own",
                fileName);
  report_->Skip(SkipReason::UnpairedQuote, static_cast<std::int64_t>(line));
}

void PoiReader::Record() {
  if (fields_.count >= 3) {
    ++report_->read;
    ReadPoint();
  } else if (fields_.count == 1) {
    RouteLine(Unquoted(0, routeQ_));
  } else {
    ++report_->read;
    report_->Skip(SkipReason::FewFields, static_cast<std::int64_t>(reading_->line()));
  }
}

void PoiReader::ReleaseRoom() {
  for (std::string* s : {&lonQ_, &latQ_, &nameQ_, &nameC_, &commentQ_, &commentX_, &commentC_,
                         &categoryX_, &symbolX_, &nameX_, &routeQ_})
    ReleaseIfLong(*s);
  fields_.ReleaseRoom();
}

// Field k without its double quotes: where it lies when they only enclose it,
// which is how nearly every quoted field is written.
std::string_view PoiReader::Unquoted(std::size_t k, std::string& scratch) {
  if (fields_.unquoted[k].data()) return fields_.unquoted[k];
  CleanCsvFieldInto(scratch, fields_.head[k]);
  return scratch;
}

// Adds the point in fields_ to the batch, or reports its coordinates as not
// valid.
void PoiReader::ReadPoint() {
  const std::string_view lonText = Unquoted(0, lonQ_), latText = Unquoted(1, latQ_);
  const std::string_view lon = CheckedCoordinate(lonText, 180, true);
  const std::string_view lat = CheckedCoordinate(latText, 90, false);
  if (lat.empty() || lon.empty()) {
    // The message quotes the start of a long name only, cut between characters.
    const std::string_view raw = fields_.head[2];
    std::size_t cut = std::min(raw.size(), kShownNameBytes);
    while (cut < raw.size() && cut > 0 && (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80)
      --cut;
    ShowInvalidCoordinates(messages_,
                           CleanCsvField(raw.substr(0, cut)) + (cut < raw.size() ? "..." : ""));
    report_->Skip(SkipReason::NoCoordinates, static_cast<std::int64_t>(reading_->line()));
    NoteRefusedCoordinates(*report_, latText, lonText);
    return;
  }
  const bool hasComment = fields_.count >= 4;
  const std::string_view rawName = Unquoted(2, nameQ_);
  std::string_view name = CleanText(
      rawName,
      reading_->WithPadding(rawName, [](auto t) { return NeedsCleaning(t, false, false); }), false,
      false, nameC_);
  if (name.data() != rawName.data()) report_->Renamed(NameChange::Replaced);
  NoteCoordinates(*report_, lat, lon);
  ++report_->written;  // until the output fails
  std::string_view comment, speed, category, symbol;
  bool commentDashes = false;  // the comment is cleaned as it is appended
  if (std::size_t at = name.find('@'); at != std::string_view::npos) {
    speed = name.substr(at + 1);
    comment = name.substr(at);
    name = name.substr(0, at);
  }
  if (anyTemplate_) {
    // Further columns join the comment column.
    std::string_view T;
    if (fields_.count == 4) {
      T = Unquoted(3, commentQ_);
    } else if (hasComment) {
      CleanCsvFieldInto(commentQ_, fields_.head[3]);
      AppendCsvFieldClean(commentQ_, fields_.rest);
      ReleaseIfLong(fields_.rest);  // it is in commentQ_ now
      T = commentQ_;
    }
    std::array<std::string_view, 4> values{fileBase_, name, speed, T};
    std::span<const std::string_view> list(values.data(), hasComment ? 4 : 3);
    // Every template sees the values as read: the name changes last.
    if (!commentT_.empty()) {
      comment = commentT_.Expand(list, commentX_);
      commentDashes = true;
    }
    if (!categoryT_.empty()) category = categoryT_.Expand(list, categoryX_);
    if (!iconT_.empty()) symbol = iconT_.Expand(list, symbolX_);
    if (!nameT_.empty()) name = nameT_.Expand(list, nameX_);
  }
  if (symbol.empty()) symbol = "Waypoint";

  Batch::Item& item = batch_.Add(Batch::Item::kPoint, input_);
  PaddedBuffer& text = batch_.text;
  // Coordinates are checked above to be plain numbers: nothing to escape.
  text.Append(lat);
  item.ends[Batch::kLat] = text.size();
  text.Append(lon);
  item.ends[Batch::kLon] = text.size();
  // Text is escaped on the writing side, which has less to do.
  text.Append(name);
  item.ends[Batch::kName] = text.size();
  item.nameHash = NameSet::Hash(name);
  // Cleaned as it is copied, where it may be read past its end.
  reading_->WithPadding(comment, [&](auto t) {
    if constexpr (std::is_same_v<decltype(t), PaddedText>) {
      AppendCleaned(text, t, true, commentDashes, commentC_);
    } else {
      AppendCleaned(text, t, NeedsCleaning(t, true, commentDashes), true, commentDashes, commentC_);
    }
  });
  item.ends[Batch::kComment] = text.size();
  text.Append(symbol);
  item.ends[Batch::kSymbol] = text.size();
  text.Append(category);
  item.ends[Batch::kCategory] = text.size();
}

void PoiReader::RouteLine(std::string_view v) {
  if (IStartsWith(v, "[begin-route:")) {
    std::size_t close = v.find(']', 13);
    Batch::Item& item = batch_.Add(Batch::Item::kRouteBegin);
    const std::string_view name =
        v.substr(13, close == std::string_view::npos ? std::string_view::npos : close - 13);
    batch_.text.Commit(PutEscaped(batch_.text.Reserve(kEscapedMost * name.size()), name));
    item.ends[0] = batch_.text.size();
  } else if (IEquals(v, "[end-route]")) {
    Batch::Item& item = batch_.Add(Batch::Item::kRouteEnd);
    item.ends[0] = batch_.text.size();
  } else {
    ++report_->read;
    report_->Skip(SkipReason::FewFields, static_cast<std::int64_t>(reading_->line()));
  }
}

}  // namespace marklode
