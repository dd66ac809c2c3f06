#include "engine/poi_to_gpx.h"

#include <array>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

#include "engine/byte_scan.h"
#include "engine/csv_fields.h"
#include "engine/name_set.h"
#include "engine/templates.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_files.h"

namespace marklode {
namespace {

constexpr std::string_view kGpxNs = "http://www.topografix.com/GPX/1/1";
constexpr std::string_view kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view kGpxxNs = "http://www.garmin.com/xmlschemas/GpxExtensions/v2";
constexpr std::string_view kMakerWeb = "http://www.garmin.com";
constexpr std::size_t kFlushAt = 1 << 20;

// Text as XML character data or attribute value; runs without markup
// characters are copied whole.
void AppendEscaped(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* const e = p + text.size();
  for (;;) {
    const char* run = p;
    p = FindFirstOf<'<', '>', '&', '"'>(p, e);
    out.append(run, p - run);
    if (p == e) return;
    switch (*p++) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += "&quot;";
    }
  }
}

// The clean-up of names and comments read from CSV, in place: "~" (and, for
// comments built from a template, " - ") are line breaks, "&" reads as " and ",
// runs of spaces shrink to one, and spaces around the text go. Each step runs
// only when its text occurs: most values need none.
void CleanText(std::string& t, bool tildeBreaks, bool dashBreaks) {
  if (tildeBreaks)
    for (char& c : t)
      if (c == '~') c = '\n';
  if (t.find('&') != std::string::npos) t = ReplaceText(t, "&", " and ");
  if (std::size_t hit; dashBreaks && (hit = t.find(" - ")) != std::string::npos) {
    // The text only shrinks: replace in place, left to right.
    std::size_t w = 0, r = 0;
    do {
      std::memmove(t.data() + w, t.data() + r, hit - r);
      w += hit - r;
      t[w++] = '\n';
      r = hit + 3;
    } while ((hit = t.find(" - ", r)) != std::string::npos);
    std::memmove(t.data() + w, t.data() + r, t.size() - r);
    t.resize(w + t.size() - r);
  }
  if (t.find("  ") != std::string::npos) t = CollapseSpaces(t);
  std::size_t b = 0, e = t.size();
  while (b < e && t[b] == ' ') ++b;
  while (e > b && t[e - 1] == ' ') --e;
  if (b > 0 || e < t.size()) t = t.substr(b, e - b);
}

// The start tag of a Garmin extension element, which names its own schema.
void AppendExtensionStart(std::string& out, std::string_view indentedTag) {
  out.append(indentedTag).append(" xmlns:gpxx=\"").append(kGpxxNs);
  out.append("\" xmlns:xsi=\"").append(kXsiNs).append("\" xsi:schemaLocation=\"");
  out.append(kGpxxNs).append(" ").append(kGpxxNs).append("/GpxExtensionsv2.xsd\">\r\n");
}

// A coordinate as written: spaces removed; longitude 180 becomes -180, the same
// meridian, because the schema excludes 180.
std::string Coordinate(std::string_view text, bool longitude) {
  std::string_view t = TrimSpaces(text);
  if (longitude && t[0] != '-') {
    std::string_view digits = t[0] == '+' ? t.substr(1) : t;
    std::string_view whole = digits.substr(0, digits.find('.'));
    whole = whole.substr(std::min(whole.find_first_not_of('0'), whole.size()));
    std::string_view frac =
        digits.find('.') == std::string_view::npos ? "" : digits.substr(digits.find('.') + 1);
    if (whole == "180" && frac.find_first_not_of('0') == std::string_view::npos) return "-180";
  }
  return std::string(t);
}

class PoiConverter {
 public:
  using Flush = std::function<bool(std::string&)>;

  // Templates come from profiles that any editor may have saved: their text
  // is made fit for XML once, here, like every file name and CSV record.
  PoiConverter(MessageSink& messages, const PoiTemplates& t, std::string& out, Flush flush)
      : messages_(messages),
        commentT_(ToXmlText(t.comment)),
        nameT_(ToXmlText(t.name)),
        categoryT_(ToXmlText(t.category)),
        iconT_(ToXmlText(t.icon)),
        out_(out),
        flush_(std::move(flush)) {
    anyTemplate_ = !t.comment.empty() || !t.name.empty() || !t.category.empty() || !t.icon.empty();
  }

  void Header() {
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\r\n";
    out_.append("<gpx xmlns=\"")
        .append(kGpxNs)
        .append("\" creator=\"Unknown\" version=\"1.1\" xmlns:xsi=\"");
    out_.append(kXsiNs).append("\" xsi:schemaLocation=\"").append(kGpxNs).append(" ");
    out_.append(kGpxNs).append("/gpx.xsd\">\r\n");
    out_ += "  <metadata>\r\n";
    out_.append("    <link href=\"").append(kMakerWeb).append("\">\r\n");
    out_ += "      <text>Garmin International</text>\r\n    </link>\r\n  </metadata>\r\n\r\n";
  }

  // Converts every record of one file; false when the output failed or the run
  // was cancelled.
  bool File(ByteSource& src, std::string_view fileName, CsvFileTraits traits,
            ProgressSink* progress) {
    std::size_t dot = fileName.rfind('.');
    fileBase_ = ToXmlText(fileName.substr(0, dot));
    CsvRecordReader reader(src, traits, progress);
    std::string_view record;
    while (reader.Next(record)) {
      Record(record);
      if (out_.size() >= kFlushAt && !flush_(out_)) return false;
    }
    cancelled_ = reader.cancelled();
    return !cancelled_;
  }

  void Finish() {
    if (inRoute_) CloseRoute();
    out_ += routes_;
    routes_.clear();
    out_ += "</gpx>\r\n";
  }

  std::int32_t count() const { return count_; }
  bool cancelled() const { return cancelled_; }

 private:
  void Record(std::string_view record) {
    SplitCsvFields(record, fields_);
    if (fields_.size() >= 3) {
      Point();
    } else if (fields_.size() == 1) {
      RouteLine(CleanCsvField(fields_[0]));
    }
  }

  void Point() {
    CleanCsvFieldInto(lon_, fields_[0]);
    CleanCsvFieldInto(lat_, fields_[1]);
    if (!IsCoordinate(lat_, 90) || !IsCoordinate(lon_, 180)) {
      messages_.Show("Invalid lon/lat for: " + CleanCsvField(fields_[2]) + ".\r\n\r\nSkipping...",
                     kOkOnly, kAppTitle, Severity::Problem);
      return;
    }
    const bool hasComment = fields_.size() >= 4;
    CleanCsvFieldInto(name_, fields_[2]);
    CleanText(name_, false, false);
    comment_.clear();
    speed_.clear();
    if (std::size_t at = name_.find('@'); at != std::string::npos) {
      speed_.assign(name_, at + 1);
      comment_.assign(name_, at);
      CleanText(comment_, true, false);
      name_.resize(at);
    }
    category_.clear();
    symbol_.clear();
    if (anyTemplate_) {
      // Further columns join the comment column.
      T_.clear();
      if (hasComment) {
        scratch_.assign(fields_[3]);
        for (std::size_t i = 4; i < fields_.size(); ++i)
          if (!fields_[i].empty()) scratch_.append(", ").append(fields_[i]);
        CleanCsvFieldInto(T_, scratch_);
      }
      std::array<std::string_view, 4> values{fileBase_, name_, speed_, T_};
      std::span<const std::string_view> list(values.data(), hasComment ? 4 : 3);
      // Every template sees the values as read: the name changes last.
      if (!commentT_.empty()) {
        ExpandTemplateInto(comment_, commentT_, kCsvLetters, list);
        CleanText(comment_, true, true);
      }
      if (!categoryT_.empty()) ExpandTemplateInto(category_, categoryT_, kCsvLetters, list);
      if (!iconT_.empty()) ExpandTemplateInto(symbol_, iconT_, kCsvLetters, list);
      if (!nameT_.empty()) {
        ExpandTemplateInto(scratch_, nameT_, kCsvLetters, list);
        name_.swap(scratch_);
      }
    }
    if (symbol_.empty()) symbol_ = "Waypoint";
    MakeUnique(name_);

    std::string& out = inRoute_ ? routes_ : out_;
    const char* tag = inRoute_ ? "rtept" : "wpt";
    out.append("  <").append(tag).append(" lat=\"");
    AppendEscaped(out, Coordinate(lat_, false));
    out += "\" lon=\"";
    AppendEscaped(out, Coordinate(lon_, true));
    out += "\">\r\n    <name>";
    AppendEscaped(out, name_);
    out += "</name>\r\n    <cmt>";
    AppendEscaped(out, comment_);
    out += "</cmt>\r\n    <desc>";
    AppendEscaped(out, comment_);
    out += "</desc>\r\n    <sym>";
    AppendEscaped(out, symbol_);
    out += "</sym>\r\n    <extensions>\r\n";
    AppendExtensionStart(out, "      <gpxx:WaypointExtension");
    out += "        <gpxx:DisplayMode>SymbolAndName</gpxx:DisplayMode>\r\n";
    if (!category_.empty()) {
      out += "        <gpxx:Categories>\r\n          <gpxx:Category>";
      AppendEscaped(out, category_);
      out += "</gpxx:Category>\r\n        </gpxx:Categories>\r\n";
    }
    out += "      </gpxx:WaypointExtension>\r\n    </extensions>\r\n  </";
    out.append(tag).append(">\r\n\r\n");
    ++count_;
  }

  // Names are unique across the whole output: Home, Home001, Home002, ... The
  // next number to try is kept per base name, so many equal names stay linear.
  void MakeUnique(std::string& name) {
    if (used_.Insert(name)) return;
    std::size_t& k = nextSuffix_[name];
    std::string candidate;
    do {
      ++k;
      candidate = name + std::to_string(1000 + k).substr(1);
    } while (!used_.Insert(candidate));
    name = std::move(candidate);
  }

  void RouteLine(const std::string& v) {
    const std::string l = ToLowerAscii(v);
    if (l.compare(0, 13, "[begin-route:") == 0) {
      if (inRoute_) CloseRoute();
      std::size_t close = v.find(']', 13);
      std::string_view routeName = std::string_view(v).substr(
          13, close == std::string::npos ? std::string::npos : close - 13);
      routes_ += "<rte>\r\n  <name>";
      AppendEscaped(routes_, routeName);
      routes_ += "</name>\r\n  <extensions>\r\n";
      AppendExtensionStart(routes_, "    <gpxx:RouteExtension");
      routes_ += "      <gpxx:IsAutoNamed>false</gpxx:IsAutoNamed>\r\n";
      routes_ += "    </gpxx:RouteExtension>\r\n  </extensions>\r\n";
      inRoute_ = true;
    } else if (l == "[end-route]" && inRoute_) {
      CloseRoute();
    }
  }

  void CloseRoute() {
    routes_ += "</rte>\r\n\r\n";
    inRoute_ = false;
  }

  MessageSink& messages_;
  const std::string commentT_, nameT_, categoryT_, iconT_;
  std::string& out_;
  Flush flush_;
  bool anyTemplate_;
  std::string routes_;  // route blocks wait for the end: waypoints come first in GPX
  bool inRoute_ = false;
  bool cancelled_ = false;
  std::int32_t count_ = 0;
  std::string fileBase_;
  // Per point, kept between points so their buffers are reused.
  std::string lon_, lat_, name_, comment_, speed_, T_, category_, symbol_, scratch_;
  std::vector<std::string_view> fields_;
  NameSet used_;
  std::unordered_map<std::string, std::size_t> nextSuffix_;
};

}  // namespace

std::string ConvertPoiTextToGpx(std::string_view csv, std::string_view fileName,
                                const PoiTemplates& templates, MessageSink& messages,
                                std::int32_t& count) {
  std::string out;
  PoiConverter conv(messages, templates, out, [](std::string&) { return true; });
  conv.Header();
  MemorySource src(csv);
  conv.File(src, fileName, CsvTraitsOf(csv), nullptr);
  conv.Finish();
  count = conv.count();
  return out;
}

RunStatus ConvertPoiToGpx(RunContext& ctx, std::string_view commentTemplate,
                          std::string_view nameTemplate, std::string_view categoryTemplate,
                          std::string_view iconTemplate) {
  ctx.EntriesConverted = 0;
  std::string pattern = ctx.InputSpec;
  if (FileNamePart(pattern).find('.') == std::string_view::npos) pattern += ".CSV";
  const std::vector<std::string> files = FindFiles(pattern);
  if (files.empty()) {
    ctx.messages.Show("Can't Find Input file: " + pattern, kStopIcon, "Can't Find File",
                      Severity::Stop);
    return RunStatus::Stopped;
  }
  const std::string_view dir = DirectoryPart(pattern);
  std::string outputName = ctx.OutputSpec;
  if (outputName.empty())
    outputName = pattern.substr(0, dir.size() + FileNamePart(pattern).rfind('.')) + ".GPX";
  if (outputName.find('*') != std::string::npos) {
    ctx.messages.Show("Can't use wildcard for GPX output file: " + outputName, kStopIcon,
                      "Invalid file", Severity::Stop);
    return RunStatus::Stopped;
  }

  OutputFile output(ctx.messages, outputName);
  bool outputFailed = false;
  std::string out;
  auto flush = [&](std::string& text) {
    if (!output.WriteChunk(text)) outputFailed = true;
    return !outputFailed;
  };
  const PoiTemplates templates{commentTemplate, nameTemplate, categoryTemplate, iconTemplate};
  PoiConverter conv(ctx.messages, templates, out, flush);
  conv.Header();
  if (!flush(out)) return RunStatus::Done;  // reported once; nothing can be written

  for (const std::string& name : files) {
    const std::string path = std::string(dir) + name;
    CsvFileTraits traits;
    {
      InputFile scan(ctx.messages);
      if (!scan.Open(path)) continue;
      traits = ScanCsvTraits(scan);
      if (scan.failed()) continue;
    }
    InputFile in(ctx.messages);
    if (!in.Open(path)) continue;
    if (!conv.File(in, name, traits, ctx.progress)) break;
  }
  if (conv.cancelled()) {
    output.Discard();
    return RunStatus::Cancelled;
  }
  if (outputFailed) return RunStatus::Done;
  conv.Finish();
  if (flush(out) && output.Commit()) ctx.EntriesConverted = conv.count();
  return RunStatus::Done;
}

}  // namespace marklode
