#include "engine/poi_to_gpx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
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

// The fixed text of the file, built at compile time so that each point costs a
// few copies of constant blocks.
#define MARKLODE_GPX_NS "http://www.topografix.com/GPX/1/1"
#define MARKLODE_XSI_NS "http://www.w3.org/2001/XMLSchema-instance"
#define MARKLODE_GPXX_NS "http://www.garmin.com/xmlschemas/GpxExtensions/v2"
// The rest of the start tag of a Garmin extension element, which names its own
// schema.
#define MARKLODE_GPXX_ATTRIBUTES                                                    \
  " xmlns:gpxx=\"" MARKLODE_GPXX_NS "\" xmlns:xsi=\"" MARKLODE_XSI_NS               \
  "\" xsi:schemaLocation=\"" MARKLODE_GPXX_NS " " MARKLODE_GPXX_NS                  \
  "/GpxExtensionsv2.xsd\">\r\n"

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\r\n"
    "<gpx xmlns=\"" MARKLODE_GPX_NS "\" creator=\"Unknown\" version=\"1.1\" xmlns:xsi=\"" MARKLODE_XSI_NS
    "\" xsi:schemaLocation=\"" MARKLODE_GPX_NS " " MARKLODE_GPX_NS "/gpx.xsd\">\r\n"
    "  <metadata>\r\n"
    "    <link href=\"http://www.garmin.com\">\r\n"
    "      <text>Garmin International</text>\r\n"
    "    </link>\r\n"
    "  </metadata>\r\n\r\n";
constexpr std::string_view kSymbolToDisplayMode =
    "</sym>\r\n"
    "    <extensions>\r\n"
    "      <gpxx:WaypointExtension" MARKLODE_GPXX_ATTRIBUTES
    "        <gpxx:DisplayMode>SymbolAndName</gpxx:DisplayMode>\r\n";
constexpr std::string_view kCategoryOpen = "        <gpxx:Categories>\r\n          <gpxx:Category>";
constexpr std::string_view kCategoryClose = "</gpxx:Category>\r\n        </gpxx:Categories>\r\n";
constexpr std::string_view kExtensionsClose =
    "      </gpxx:WaypointExtension>\r\n"
    "    </extensions>\r\n";
constexpr std::string_view kRouteNameToPoints =
    "</name>\r\n"
    "  <extensions>\r\n"
    "    <gpxx:RouteExtension" MARKLODE_GPXX_ATTRIBUTES
    "      <gpxx:IsAutoNamed>false</gpxx:IsAutoNamed>\r\n"
    "    </gpxx:RouteExtension>\r\n"
    "  </extensions>\r\n";
// The most a point's block holds besides its values.
constexpr std::size_t kPointFixedMost = kSymbolToDisplayMode.size() + kCategoryOpen.size() +
                                        kCategoryClose.size() + kExtensionsClose.size() + 128;

#undef MARKLODE_GPXX_ATTRIBUTES
#undef MARKLODE_GPXX_NS
#undef MARKLODE_XSI_NS
#undef MARKLODE_GPX_NS

constexpr std::size_t kFlushAt = 1 << 20;
constexpr std::size_t kEscapedMost = 6;  // "&quot;" for one character

inline char* Put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// Text as XML character data or attribute value, at p, which has room for
// kEscapedMost bytes per character; runs without markup characters are
// copied whole. Returns the new end.
char* PutEscaped(char* p, std::string_view text) {
  const char* r = text.data();
  const char* const e = r + text.size();
  for (;;) {
    const char* run = r;
    r = FindFirstOf<'<', '>', '&', '"'>(r, e);
    p = Put(p, std::string_view(run, r - run));
    if (r == e) return p;
    switch (*r++) {
      case '<':
        p = Put(p, "&lt;");
        break;
      case '>':
        p = Put(p, "&gt;");
        break;
      case '&':
        p = Put(p, "&amp;");
        break;
      default:
        p = Put(p, "&quot;");
    }
  }
}

void AppendEscaped(ByteBuffer& out, std::string_view text) {
  out.Commit(PutEscaped(out.Reserve(kEscapedMost * text.size()), text));
}

// Whether CleanText would change t. Most names and comments need nothing and
// are then used where they lie, without a copy.
bool NeedsCleaning(std::string_view t, bool tildeBreaks, bool dashBreaks) {
  if (t.empty()) return false;
  if (t.front() == ' ' || t.back() == ' ') return true;
  const char* p = t.data();
  const char* const e = p + t.size();
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  while (e - p >= 18) {  // each step also looks at the two bytes after it
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i sp0 = _mm_cmpeq_epi8(v0, space);
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v0, _mm_set1_epi8('&')),
                               _mm_and_si128(sp0, _mm_cmpeq_epi8(v1, space)));
    if (tildeBreaks) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v0, _mm_set1_epi8('~')));
    if (dashBreaks) {
      const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
      hit = _mm_or_si128(hit, _mm_and_si128(_mm_and_si128(sp0, _mm_cmpeq_epi8(v2, space)),
                                            _mm_cmpeq_epi8(v1, _mm_set1_epi8('-'))));
    }
    if (_mm_movemask_epi8(hit)) return true;
    p += 16;
  }
#endif
  for (; p < e; ++p) {
    if (*p == '&' || (tildeBreaks && *p == '~')) return true;
    if (*p == ' ' && e - p >= 2 &&
        (p[1] == ' ' || (dashBreaks && p[1] == '-' && e - p >= 3 && p[2] == ' ')))
      return true;
  }
  return false;
}

// The clean-up of names and comments read from CSV, in place: "~" (and, for
// comments built from a template, " - ") are line breaks, "&" reads as " and ",
// runs of spaces shrink to one, and spaces around the text go. The steps apply
// in that order, each to the text the one before left, though all but the
// first two run in one pass: a " - " that a replaced "&" completes also breaks.
void CleanTextInPlace(std::string& t, bool tildeBreaks, bool dashBreaks) {
  if (tildeBreaks && t.find('~') != std::string::npos) std::replace(t.begin(), t.end(), '~', '\n');
  const std::size_t firstAmp = t.find('&');
  if (firstAmp != std::string::npos) {
    const auto amps = std::count(t.begin() + firstAmp, t.end(), '&');
    // Widen in place, filling from the back up to the first "&".
    std::size_t r = t.size(), w = r + 4 * static_cast<std::size_t>(amps);
    t.resize(w);
    while (w != r) {
      if (t[--r] == '&') {
        w -= 5;
        std::memcpy(&t[w], " and ", 5);
      } else {
        t[--w] = t[r];
      }
    }
  }
  // The text only shrinks from here: write behind the reading position. Only
  // spaces matter; the runs between them move whole.
  char* const s = t.data();
  const std::size_t n = t.size();
  std::size_t w = 0, r = 0;
  for (;;) {
    const std::size_t run = FindFirstOf<' '>(s + r, s + n) - (s + r);
    if (w != r) std::memmove(s + w, s + r, run);
    w += run;
    r += run;
    if (r == n) break;
    if (dashBreaks && n - r >= 3 && s[r + 1] == '-' && s[r + 2] == ' ') {
      s[w++] = '\n';
      r += 3;
      continue;
    }
    ++r;
    if (w > 0 && s[w - 1] != ' ') s[w++] = ' ';  // not a run, nor the front
  }
  if (w > 0 && s[w - 1] == ' ') --w;
  t.resize(w);
}

// The clean-up above as a view: text itself when nothing changes, else the
// cleaned copy in scratch.
std::string_view CleanText(std::string_view text, bool tildeBreaks, bool dashBreaks,
                           std::string& scratch) {
  if (!NeedsCleaning(text, tildeBreaks, dashBreaks)) return text;
  scratch.assign(text);
  CleanTextInPlace(scratch, tildeBreaks, dashBreaks);
  return scratch;
}

// A field without its double quotes: a view when they only enclose it, which
// is how nearly every quoted field is written.
std::string_view Unquoted(std::string_view field, std::string& scratch) {
  const void* q = std::memchr(field.data(), '"', field.size());
  if (!q) return field;
  if (q == field.data() && field.size() >= 2 && field.back() == '"' &&
      !std::memchr(field.data() + 1, '"', field.size() - 2))
    return field.substr(1, field.size() - 2);
  CleanCsvFieldInto(scratch, field);
  return scratch;
}

// A coordinate as written: spaces removed; longitude 180 becomes -180, the same
// meridian, because the schema excludes 180.
std::string_view Coordinate(std::string_view text, bool longitude) {
  const std::string_view t = TrimSpaces(text);
  if (!longitude || t[0] == '-') return t;
  // A checked number: [+] digits [. digits]. Is it 180 (with any zeros)?
  std::size_t i = t[0] == '+' ? 1 : 0;
  while (i < t.size() && t[i] == '0') ++i;
  if (t.compare(i, 3, "180") != 0) return t;
  i += 3;
  if (i < t.size() && t[i] != '.') return t;
  for (++i; i < t.size(); ++i)
    if (t[i] != '0') return t;
  return "-180";
}

// A template from a profile, made fit for XML once. The usual kind, one token
// that takes a whole value ("<T>"), gives that value without a copy.
class PoiTemplate {
 public:
  explicit PoiTemplate(std::string_view text) : text_(ToXmlText(text)) {
    if (text_ == "<>") {
      whole_ = 0;
    } else if (text_.size() == 3 && text_[0] == '<' && text_[2] == '>') {
      for (std::size_t i = 0; i < kCsvLetters.size(); ++i)
        if (ToLowerAscii(kCsvLetters.substr(i, 1)) == ToLowerAscii(text_.substr(1, 1)))
          whole_ = static_cast<int>(i);
    }
  }
  bool empty() const { return text_.empty(); }
  std::string_view Expand(std::span<const std::string_view> values, std::string& scratch) const {
    if (whole_ >= 0)
      return static_cast<std::size_t>(whole_) < values.size() ? values[whole_] : std::string_view();
    ExpandTemplateInto(scratch, text_, kCsvLetters, values);
    return scratch;
  }

 private:
  std::string text_;
  int whole_ = -1;
};

// A point read and cleaned, waiting to be written: its values end to end in
// one buffer of its own, since the record they came from is soon overwritten.
struct PendingPoint {
  enum Piece { kLat, kLon, kName, kComment, kSymbol, kCategory, kPieces };
  ByteBuffer text;
  std::array<std::size_t, kPieces> ends{};
  std::size_t nameHash = 0;
  bool inRoute = false;

  void Clear() { text.clear(); }
  void Add(Piece piece, std::string_view value) {
    text.Append(value);
    ends[piece] = text.size();
  }
  void AddEscaped(Piece piece, std::string_view value) {
    AppendEscaped(text, value);
    ends[piece] = text.size();
  }
  std::string_view Get(Piece piece) const {
    const std::size_t b = piece == kLat ? 0 : ends[piece - 1];
    return text.view().substr(b, ends[piece] - b);
  }
};

class PoiConverter {
 public:
  using Flush = std::function<bool(ByteBuffer&)>;

  // Templates come from profiles that any editor may have saved: their text
  // is made fit for XML once, here, like every file name and CSV record.
  PoiConverter(MessageSink& messages, const PoiTemplates& t, ByteBuffer& out, Flush flush)
      : messages_(messages),
        commentT_(t.comment),
        nameT_(t.name),
        categoryT_(t.category),
        iconT_(t.icon),
        out_(out),
        flush_(std::move(flush)) {
    anyTemplate_ = !t.comment.empty() || !t.name.empty() || !t.category.empty() || !t.icon.empty();
  }

  void Header() { out_.Append(kHeader); }

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
    WriteWaiting();
    cancelled_ = reader.cancelled();
    return !cancelled_;
  }

  void Finish() {
    WriteWaiting();
    if (inRoute_) CloseRoute();
    out_.Append(routes_.view());
    routes_.clear();
    out_.Append("</gpx>\r\n");
  }

  std::int32_t count() const { return count_; }
  bool cancelled() const { return cancelled_; }

 private:
  // Each point is written one record late: its name's place in the set of
  // names is fetched from memory while the next record is read.
  void Record(std::string_view record) {
    SplitCsvFields(record, fields_);
    if (fields_.size() >= 3) {
      PendingPoint& point = pending_[next_];
      if (!ReadPoint(point)) return;
      used_.Prefetch(point.nameHash);
      WriteWaiting();
      waiting_ = true;
      next_ ^= 1;
    } else if (fields_.size() == 1) {
      WriteWaiting();  // a route line decides where the points after it go
      RouteLine(CleanCsvField(fields_[0]));
    }
  }

  // Reads the point in fields_ into point; false (reported) when its
  // coordinates are not valid.
  bool ReadPoint(PendingPoint& point) {
    const std::string_view lon = Unquoted(fields_[0], lonQ_);
    const std::string_view lat = Unquoted(fields_[1], latQ_);
    if (!IsCoordinate(lat, 90) || !IsCoordinate(lon, 180)) {
      messages_.Show("Invalid lon/lat for: " + CleanCsvField(fields_[2]) + ".\r\n\r\nSkipping...",
                     kOkOnly, kAppTitle, Severity::Problem);
      return false;
    }
    const bool hasComment = fields_.size() >= 4;
    std::string_view name = CleanText(Unquoted(fields_[2], nameQ_), false, false, nameC_);
    std::string_view comment, speed, category, symbol;
    if (std::size_t at = name.find('@'); at != std::string_view::npos) {
      speed = name.substr(at + 1);
      comment = CleanText(name.substr(at), true, false, speedC_);
      name = name.substr(0, at);
    }
    if (anyTemplate_) {
      // Further columns join the comment column.
      std::string_view T;
      if (fields_.size() == 4) {
        T = Unquoted(fields_[3], commentQ_);
      } else if (hasComment) {
        joined_.assign(fields_[3]);
        for (std::size_t i = 4; i < fields_.size(); ++i)
          if (!fields_[i].empty()) joined_.append(", ").append(fields_[i]);
        T = Unquoted(joined_, commentQ_);
      }
      std::array<std::string_view, 4> values{fileBase_, name, speed, T};
      std::span<const std::string_view> list(values.data(), hasComment ? 4 : 3);
      // Every template sees the values as read: the name changes last.
      if (!commentT_.empty())
        comment = CleanText(commentT_.Expand(list, commentX_), true, true, commentC_);
      if (!categoryT_.empty()) category = categoryT_.Expand(list, categoryX_);
      if (!iconT_.empty()) symbol = iconT_.Expand(list, symbolX_);
      if (!nameT_.empty()) name = nameT_.Expand(list, nameX_);
    }
    if (symbol.empty()) symbol = "Waypoint";

    // Checked above to be plain numbers: nothing to escape.
    point.Clear();
    point.Add(PendingPoint::kLat, Coordinate(lat, false));
    point.Add(PendingPoint::kLon, Coordinate(lon, true));
    point.Add(PendingPoint::kName, name);
    point.AddEscaped(PendingPoint::kComment, comment);
    point.AddEscaped(PendingPoint::kSymbol, symbol);
    point.AddEscaped(PendingPoint::kCategory, category);
    point.nameHash = NameSet::Hash(name);
    point.inRoute = inRoute_;
    return true;
  }

  void WriteWaiting() {
    if (!waiting_) return;
    WritePoint(pending_[next_ ^ 1]);
    waiting_ = false;
  }

  void WritePoint(const PendingPoint& point) {
    using P = PendingPoint;
    const std::string_view name = MakeUnique(point.Get(P::kName), point.nameHash);
    const std::string_view comment = point.Get(P::kComment);
    const std::string_view category = point.Get(P::kCategory);
    ByteBuffer& out = point.inRoute ? routes_ : out_;
    char* p = out.Reserve(kPointFixedMost + point.text.size() + comment.size() +
                          kEscapedMost * name.size());
    p = Put(p, point.inRoute ? "  <rtept lat=\"" : "  <wpt lat=\"");
    p = Put(p, point.Get(P::kLat));
    p = Put(p, "\" lon=\"");
    p = Put(p, point.Get(P::kLon));
    p = Put(p, "\">\r\n    <name>");
    p = PutEscaped(p, name);
    p = Put(p, "</name>\r\n    <cmt>");
    p = Put(p, comment);
    p = Put(p, "</cmt>\r\n    <desc>");
    p = Put(p, comment);
    p = Put(p, "</desc>\r\n    <sym>");
    p = Put(p, point.Get(P::kSymbol));
    p = Put(p, kSymbolToDisplayMode);
    if (!category.empty()) {
      p = Put(p, kCategoryOpen);
      p = Put(p, category);
      p = Put(p, kCategoryClose);
    }
    p = Put(p, kExtensionsClose);
    p = Put(p, point.inRoute ? "  </rtept>\r\n\r\n" : "  </wpt>\r\n\r\n");
    out.Commit(p);
    ++count_;
  }

  // Names are unique across the whole output: Home, Home001, Home002, ... The
  // next number to try is kept per base name, so many equal names stay linear.
  std::string_view MakeUnique(std::string_view name, std::size_t hash) {
    if (used_.Insert(name, hash)) return name;
    std::size_t& k = nextSuffix_[std::string(name)];
    do {
      ++k;
      candidate_.assign(name).append(std::to_string(1000 + k).substr(1));
    } while (!used_.Insert(candidate_));
    return candidate_;
  }

  void RouteLine(const std::string& v) {
    const std::string l = ToLowerAscii(v);
    if (l.compare(0, 13, "[begin-route:") == 0) {
      if (inRoute_) CloseRoute();
      std::size_t close = v.find(']', 13);
      std::string_view routeName = std::string_view(v).substr(
          13, close == std::string::npos ? std::string::npos : close - 13);
      routes_.Append("<rte>\r\n  <name>");
      AppendEscaped(routes_, routeName);
      routes_.Append(kRouteNameToPoints);
      inRoute_ = true;
    } else if (l == "[end-route]" && inRoute_) {
      CloseRoute();
    }
  }

  void CloseRoute() {
    routes_.Append("</rte>\r\n\r\n");
    inRoute_ = false;
  }

  MessageSink& messages_;
  const PoiTemplate commentT_, nameT_, categoryT_, iconT_;
  ByteBuffer& out_;
  Flush flush_;
  bool anyTemplate_;
  ByteBuffer routes_;  // route blocks wait for the end: waypoints come first in GPX
  bool inRoute_ = false;
  bool cancelled_ = false;
  std::int32_t count_ = 0;
  std::string fileBase_;
  std::vector<std::string_view> fields_;
  // The point read last and the one waiting to be written.
  std::array<PendingPoint, 2> pending_;
  std::size_t next_ = 0;
  bool waiting_ = false;
  // Per point, kept between points so their buffers are reused.
  std::string lonQ_, latQ_, nameQ_, nameC_, speedC_, commentQ_, joined_, commentX_, commentC_,
      categoryX_, symbolX_, nameX_, candidate_;
  NameSet used_;
  std::unordered_map<std::string, std::size_t> nextSuffix_;
};

}  // namespace

std::string ConvertPoiTextToGpx(std::string_view csv, std::string_view fileName,
                                const PoiTemplates& templates, MessageSink& messages,
                                std::int32_t& count) {
  ByteBuffer out;
  PoiConverter conv(messages, templates, out, [](ByteBuffer&) { return true; });
  conv.Header();
  MemorySource src(csv);
  conv.File(src, fileName, CsvTraitsOf(csv), nullptr);
  conv.Finish();
  count = conv.count();
  return std::string(out.view());
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
  ByteBuffer out;
  auto flush = [&](ByteBuffer& text) {
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
