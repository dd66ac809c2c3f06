#include "engine/poi_to_gpx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <thread>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/byte_scan.h"
#include "engine/csv_fields.h"
#include "engine/name_set.h"
#include "engine/templates.h"
#include "services/handoff.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_decoding.h"
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
#define MARKLODE_GPXX_ATTRIBUTES                                      \
  " xmlns:gpxx=\"" MARKLODE_GPXX_NS "\" xmlns:xsi=\"" MARKLODE_XSI_NS \
  "\" xsi:schemaLocation=\"" MARKLODE_GPXX_NS " " MARKLODE_GPXX_NS "/GpxExtensionsv2.xsd\">\r\n"

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\r\n"
    "<gpx xmlns=\"" MARKLODE_GPX_NS
    "\" creator=\"Unknown\" version=\"1.1\" xmlns:xsi=\"" MARKLODE_XSI_NS
    "\" xsi:schemaLocation=\"" MARKLODE_GPX_NS " " MARKLODE_GPX_NS
    "/gpx.xsd\">\r\n"
    "  <metadata>\r\n"
    "    <link href=\"http://www.garmin.com\">\r\n"
    "      <text>Garmin International</text>\r\n"
    "    </link>\r\n"
    "  </metadata>\r\n\r\n";
#define MARKLODE_SYMBOL_TO_DISPLAY_MODE                    \
  "</sym>\r\n"                                             \
  "    <extensions>\r\n"                                   \
  "      <gpxx:WaypointExtension" MARKLODE_GPXX_ATTRIBUTES \
  "        <gpxx:DisplayMode>SymbolAndName</gpxx:DisplayMode>\r\n"
#define MARKLODE_EXTENSIONS_CLOSE       \
  "      </gpxx:WaypointExtension>\r\n" \
  "    </extensions>\r\n"
constexpr std::string_view kSymbolToDisplayMode = MARKLODE_SYMBOL_TO_DISPLAY_MODE;
constexpr std::string_view kCategoryOpen = "        <gpxx:Categories>\r\n          <gpxx:Category>";
constexpr std::string_view kCategoryClose = "</gpxx:Category>\r\n        </gpxx:Categories>\r\n";
constexpr std::string_view kExtensionsClose = MARKLODE_EXTENSIONS_CLOSE;
// Everything after the comment of the usual point, with the default symbol and
// no category, in one piece.
#define MARKLODE_DEFAULT_POINT_END \
  "</desc>\r\n    <sym>Waypoint" MARKLODE_SYMBOL_TO_DISPLAY_MODE MARKLODE_EXTENSIONS_CLOSE
constexpr std::string_view kDefaultWaypointEnd = MARKLODE_DEFAULT_POINT_END "  </wpt>\r\n\r\n";
constexpr std::string_view kDefaultRoutePointEnd = MARKLODE_DEFAULT_POINT_END "  </rtept>\r\n\r\n";
constexpr std::string_view kRouteNameToPoints =
    "</name>\r\n"
    "  <extensions>\r\n"
    "    <gpxx:RouteExtension" MARKLODE_GPXX_ATTRIBUTES
    "      <gpxx:IsAutoNamed>false</gpxx:IsAutoNamed>\r\n"
    "    </gpxx:RouteExtension>\r\n"
    "  </extensions>\r\n";
// The most a point's block holds besides its values.
constexpr std::size_t kPointFixedMost = kSymbolToDisplayMode.size() + kCategoryOpen.size() +
                                        kCategoryClose.size() + kExtensionsClose.size() + 128 + 16;

#undef MARKLODE_DEFAULT_POINT_END
#undef MARKLODE_EXTENSIONS_CLOSE
#undef MARKLODE_SYMBOL_TO_DISPLAY_MODE
#undef MARKLODE_GPXX_ATTRIBUTES
#undef MARKLODE_GPXX_NS
#undef MARKLODE_XSI_NS
#undef MARKLODE_GPX_NS

constexpr std::size_t kFlushAt = 1
                                 << 20;  // large writes let the kernel use large page-cache folios
constexpr std::size_t kEscapedMost = 6;  // "&quot;" for one character

inline char* Put(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// A long constant block, sixteen bytes at a time; the last step overlaps the
// one before it, so nothing past the block is read. Compilers tend to copy
// such blocks with string instructions that are slow to start.
inline char* PutBlock(char* p, std::string_view block) {
#if defined(__SSE2__)
  if (block.size() >= 16) {
    const char* const src = block.data();
    const std::size_t n = block.size();
    for (std::size_t i = 0; i + 16 <= n; i += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + n - 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16)));
    return p + n;
  }
#endif
  return Put(p, block);
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

// Bytes after a value that may be read, and after the room for its text that
// may be written, so that short values are handled a whole step at a time.
constexpr std::size_t kPad = 16;

// PutEscaped for text followed by kPad readable bytes, at p with kPad bytes of
// room to spare: sixteen bytes are copied and checked at a time, however
// short the text.
char* PutEscapedPadded(char* p, std::string_view text) {
#if defined(__SSE2__)
  const char* r = text.data();
  const char* const e = r + text.size();
  while (r < e) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    const __m128i markup = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_set1_epi8('>'))),
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
    const auto left = static_cast<std::size_t>(e - r);
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(markup));
    if (left < 16) bits &= (1u << left) - 1;
    if (bits == 0) {
      const std::size_t step = left < 16 ? left : 16;
      p += step;
      r += step;
      continue;
    }
    const unsigned k = static_cast<unsigned>(__builtin_ctz(bits));
    p = PutEscaped(p + k, std::string_view(r + k, 1));
    r += k + 1;
  }
  return p;
#else
  return PutEscaped(p, text);
#endif
}

void AppendEscaped(ByteBuffer& out, std::string_view text) {
  out.Commit(PutEscaped(out.Reserve(kEscapedMost * text.size()), text));
}

// Whether CleanText would change t. Most names and comments need nothing and
// are then used where they lie, without a copy.
bool NeedsCleaning(std::string_view t, bool tildeBreaks, bool dashBreaks, bool padded = false) {
  if (t.empty()) return false;
  if (t.front() == ' ' || t.back() == ' ') return true;
  const char* p = t.data();
  const char* const e = p + t.size();
#if defined(__SSE2__)
  // Each step looks at sixteen places: "&" and "~" there, and runs of two
  // spaces and " - " that start there (looking two bytes further).
  const auto hits = [&](const char* q, std::size_t left) {
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
    const __m128i sp0 = _mm_cmpeq_epi8(v0, space);
    __m128i one = _mm_cmpeq_epi8(v0, _mm_set1_epi8('&'));
    if (tildeBreaks) one = _mm_or_si128(one, _mm_cmpeq_epi8(v0, _mm_set1_epi8('~')));
    auto single = static_cast<unsigned>(_mm_movemask_epi8(one));
    auto pair =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(sp0, _mm_cmpeq_epi8(v1, space))));
    unsigned triple = 0;
    if (dashBreaks) {
      const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
      triple = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
          _mm_and_si128(sp0, _mm_cmpeq_epi8(v2, space)), _mm_cmpeq_epi8(v1, _mm_set1_epi8('-')))));
    }
    if (left < 18) {  // what lies past the text does not count
      const auto below = [](std::size_t k) { return k >= 16 ? 0xFFFFu : (1u << k) - 1; };
      single &= below(left);
      pair &= left >= 1 ? below(left - 1) : 0;
      triple &= left >= 2 ? below(left - 2) : 0;
    }
    return (single | pair | triple) != 0;
  };
  if (padded) {  // the bytes after the text may be read: no copy
    for (; p < e; p += 16)
      if (hits(p, static_cast<std::size_t>(e - p))) return true;
    return false;
  }
  for (; e - p >= 18; p += 16)
    if (hits(p, static_cast<std::size_t>(e - p))) return true;
  // The rest (most names are shorter than one step) from a copy padded with
  // zeros.
  char rest[48] = {};
  std::memcpy(rest, p, e - p);
  for (const char* q = rest; q < rest + (e - p); q += 16)
    if (hits(q, static_cast<std::size_t>(rest + (e - p) - q))) return true;
  return false;
#else
  (void)padded;
  for (; p < e; ++p) {
    if (*p == '&' || (tildeBreaks && *p == '~')) return true;
    if (*p == ' ' && e - p >= 2 &&
        (p[1] == ' ' || (dashBreaks && p[1] == '-' && e - p >= 3 && p[2] == ' ')))
      return true;
  }
  return false;
#endif
}

// The clean-up steps after "&" has been widened, in one pass from s[0, n) to
// out, which may be s itself (the text only shrinks, so writing stays behind
// reading): "~" (and, with dashBreaks, " - ") become line breaks, runs of
// spaces shrink to one and spaces around the text go. Returns the new end.
char* BreakAndCollapse(char* out, const char* s, std::size_t n, bool tildeBreaks, bool dashBreaks) {
  char* o = out;
  for (std::size_t r = 0; r < n;) {
    const char c = s[r++];
    if (c != ' ') {
      *o++ = tildeBreaks && c == '~' ? '\n' : c;
    } else if (dashBreaks && n - r >= 2 && s[r] == '-' && s[r + 1] == ' ') {
      *o++ = '\n';
      r += 2;
    } else if (o > out && o[-1] != ' ') {  // not a run, nor the front
      *o++ = ' ';
    }
  }
  if (o > out && o[-1] == ' ') --o;
  return o;
}

// The clean-up of names and comments read from CSV, in place: "~" (and, for
// comments built from a template, " - ") are line breaks, "&" reads as " and ",
// runs of spaces shrink to one, and spaces around the text go. The steps apply
// in that order, each to the text the one before left: a " - " that a
// replaced "&" completes also breaks.
void CleanTextInPlace(std::string& t, bool tildeBreaks, bool dashBreaks) {
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
  t.resize(BreakAndCollapse(t.data(), t.data(), t.size(), tildeBreaks, dashBreaks) - t.data());
}

// The clean-up above as a view: text itself when nothing changes, else the
// cleaned copy in scratch.
std::string_view CleanText(std::string_view text, bool tildeBreaks, bool dashBreaks,
                           std::string& scratch, bool padded = false) {
  if (!NeedsCleaning(text, tildeBreaks, dashBreaks, padded)) return text;
  scratch.assign(text);
  CleanTextInPlace(scratch, tildeBreaks, dashBreaks);
  return scratch;
}

// The clean-up above, appended to out. Text without "&" is cleaned on the way,
// with no copy first; only "&", which widens, needs one.
void AppendCleaned(ByteBuffer& out, std::string_view text, bool tildeBreaks, bool dashBreaks,
                   std::string& scratch, bool padded = false) {
  if (!NeedsCleaning(text, tildeBreaks, dashBreaks, padded)) {
    out.Append(text);
  } else if (text.find('&') != std::string_view::npos) {
    out.Append(CleanText(text, tildeBreaks, dashBreaks, scratch));
  } else {
    out.Commit(BreakAndCollapse(out.Reserve(text.size()), text.data(), text.size(), tildeBreaks,
                                dashBreaks));
  }
}

// The coordinate to write for text, or empty text when it is not a decimal
// number (an optional sign, digits with at most one ".") within -limit to
// limit. Spaces around it go; longitude 180 becomes -180, the same meridian,
// because the schema excludes 180.
std::string_view CheckedCoordinate(std::string_view text, int limit, bool longitude,
                                   bool padded = false) {
#if defined(__SSE2__)
  // The usual coordinate, up to sixteen bytes without spaces around, with
  // readable bytes after it: its characters are sorted in one step.
  if (padded && !text.empty() && text.size() <= 16 && text.front() != ' ' && text.back() != ' ') {
    const std::size_t n = text.size();
    const unsigned inside = n == 16 ? 0xFFFFu : (1u << n) - 1;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
    const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i nine = _mm_set1_epi8(9);
    const auto digits = static_cast<unsigned>(
                            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offset, nine), offset))) &
                        inside;
    const auto dots =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')))) & inside;
    const unsigned sign = text[0] == '+' || text[0] == '-' ? 1u : 0u;
    if ((inside & ~digits & ~dots & ~sign) != 0 || (dots & (dots - 1)) != 0 || digits == 0)
      return {};
    const std::size_t wholeEnd = dots ? static_cast<std::size_t>(__builtin_ctz(dots)) : n;
    std::size_t i = sign;
    while (i < wholeEnd && text[i] == '0') ++i;  // leading zeros
    if (wholeEnd - i > 3) return {};             // 1000 or more
    int whole = 0;
    for (; i < wholeEnd; ++i) whole = whole * 10 + (text[i] - '0');
    const auto zeros =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('0'))));
    const bool fraction = (digits & ~zeros & ~((2u << wholeEnd) - 1)) != 0;
    if (whole > limit || (whole == limit && fraction)) return {};
    return longitude && whole == 180 && text[0] != '-' ? "-180" : text;
  }
#else
  (void)padded;
#endif
  const CoordinateParts c = ParseCoordinate(text);
  if (!c.ok || c.whole > limit || (c.whole == limit && c.fraction)) return {};
  return longitude && c.whole == 180 && !c.negative ? "-180" : c.text;
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

// Records read and cleaned, in input order, ready to be written: their values
// lie end to end in one buffer, since the records they came from are soon
// overwritten.
struct Batch {
  enum Piece { kLat, kLon, kName, kComment, kSymbol, kCategory, kPieces };
  struct Item {
    enum Kind : std::uint8_t { kPoint, kRouteBegin, kRouteEnd } kind;
    std::size_t begin;                      // in text
    std::array<std::size_t, kPieces> ends;  // a point's pieces; a route's name ends at ends[0]
  };

  ByteBuffer text;
  std::vector<Item> items;

  void clear() {
    text.clear();
    items.clear();
  }
  bool full() const { return items.size() >= 4096 || text.size() >= (512u << 10); }
  std::string_view Get(const Item& item, Piece piece) const {
    const std::size_t b = piece == kLat ? item.begin : item.ends[piece - 1];
    return text.view().substr(b, item.ends[piece] - b);
  }
  // A new item, starting at the end of the text.
  Item& Add(Item::Kind kind) {
    Item& item = items.emplace_back();
    item.kind = kind;
    item.begin = text.size();
    return item;
  }
};

// The reading side: records of CSV files into batches of points and route
// marks. It shows every message about the input itself.
class PoiReader {
 public:
  // Gives a full batch away and gets an empty one back; false to stop.
  using HandOff = std::function<bool(Batch&)>;

  // Templates come from profiles that any editor may have saved: their text
  // is made fit for XML once, here, like every file name and CSV record.
  PoiReader(MessageSink& messages, const PoiTemplates& t, HandOff handOff)
      : messages_(messages),
        commentT_(t.comment),
        nameT_(t.name),
        categoryT_(t.category),
        iconT_(t.icon),
        handOff_(std::move(handOff)) {
    anyTemplate_ = !t.comment.empty() || !t.name.empty() || !t.category.empty() || !t.icon.empty();
  }

  // Reads every record of one file; false when the run was cancelled or the
  // writing side stopped.
  bool File(ByteSource& src, std::string_view fileName, ProgressSink* progress) {
    std::size_t dot = fileName.rfind('.');
    fileBase_ = ToXmlText(fileName.substr(0, dot));
    CsvRecordReader reader(src, progress);
    reading_ = &reader;
    std::string_view record;
    while (reader.Next(record, &fields_)) {
      if (progress && progress->Cancelled()) {
        cancelled_ = true;
        return false;
      }
      if (const std::size_t line = reader.TakeRunOnLine()) [[unlikely]]
        RunOnWarning(line, fileName);
      Record();
      if (batch_.full() && !HandOffBatch()) return false;
    }
    cancelled_ = reader.cancelled();
    return !cancelled_;
  }

  // Gives away what is left; false when the writing side stopped.
  bool Finish() { return batch_.items.empty() || HandOffBatch(); }
  bool cancelled() const { return cancelled_; }

 private:
  bool HandOffBatch() {
    batch_.text.Reserve(kPad);  // the writing side reads values a whole step at a time
    if (!handOff_(batch_)) return false;
    batch_.clear();
    return true;
  }

  // A stray quote takes the lines after it into its field: said once per
  // file, since the points lost that way are easy to miss.
  void RunOnWarning(std::size_t line, std::string_view fileName) {
    ShowWarning(messages_, "Unpaired Quote",
                "Unpaired double quote in line " + std::to_string(line) +
                    "; its field runs on over the lines after it",
                fileName);
  }

  void Record() {
    if (fields_.count >= 3) {
      ReadPoint();
    } else if (fields_.count == 1) {
      RouteLine(CleanCsvField(fields_.head[0]));
    }
  }

  // Field k without its double quotes: where it lies when they only enclose
  // it, which is how nearly every quoted field is written.
  std::string_view Unquoted(std::size_t k, std::string& scratch) {
    if (fields_.unquoted[k].data()) return fields_.unquoted[k];
    CleanCsvFieldInto(scratch, fields_.head[k]);
    return scratch;
  }

  // Adds the point in fields_ to the batch, or reports its coordinates as not
  // valid.
  void ReadPoint() {
    const std::string_view lonText = Unquoted(0, lonQ_), latText = Unquoted(1, latQ_);
    const std::string_view lon = CheckedCoordinate(lonText, 180, true, reading_->Holds(lonText));
    const std::string_view lat = CheckedCoordinate(latText, 90, false, reading_->Holds(latText));
    if (lat.empty() || lon.empty()) {
      messages_.Show(
          "Invalid lon/lat for: " + CleanCsvField(fields_.head[2]) + ".\r\n\r\nSkipping...",
          kOkOnly, kAppTitle, Severity::Problem);
      return;
    }
    const bool hasComment = fields_.count >= 4;
    const std::string_view rawName = Unquoted(2, nameQ_);
    std::string_view name = CleanText(rawName, false, false, nameC_, reading_->Holds(rawName));
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
        joined_.assign(fields_.head[3]).append(fields_.rest);
        CleanCsvFieldInto(commentQ_, joined_);
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

    Batch::Item& item = batch_.Add(Batch::Item::kPoint);
    ByteBuffer& text = batch_.text;
    // Coordinates are checked above to be plain numbers: nothing to escape.
    text.Append(lat);
    item.ends[Batch::kLat] = text.size();
    text.Append(lon);
    item.ends[Batch::kLon] = text.size();
    // Text is escaped on the writing side, which has less to do.
    text.Append(name);
    item.ends[Batch::kName] = text.size();
    AppendCleaned(text, comment, true, commentDashes, commentC_, reading_->Holds(comment));
    item.ends[Batch::kComment] = text.size();
    text.Append(symbol);
    item.ends[Batch::kSymbol] = text.size();
    text.Append(category);
    item.ends[Batch::kCategory] = text.size();
  }

  void RouteLine(const std::string& v) {
    const std::string l = ToLowerAscii(v);
    if (l.compare(0, 13, "[begin-route:") == 0) {
      std::size_t close = v.find(']', 13);
      Batch::Item& item = batch_.Add(Batch::Item::kRouteBegin);
      AppendEscaped(batch_.text,
                    std::string_view(v).substr(
                        13, close == std::string::npos ? std::string::npos : close - 13));
      item.ends[0] = batch_.text.size();
    } else if (l == "[end-route]") {
      Batch::Item& item = batch_.Add(Batch::Item::kRouteEnd);
      item.ends[0] = batch_.text.size();
    }
  }

  MessageSink& messages_;
  const PoiTemplate commentT_, nameT_, categoryT_, iconT_;
  HandOff handOff_;
  bool anyTemplate_;
  bool cancelled_ = false;
  std::string fileBase_;
  CsvRecordFields fields_;
  const CsvRecordReader* reading_ = nullptr;  // the file being read
  Batch batch_;
  // Per point, kept between points so their buffers are reused.
  std::string lonQ_, latQ_, nameQ_, nameC_, commentQ_, joined_, commentX_, commentC_, categoryX_,
      symbolX_, nameX_;
};

// The writing side: batches into GPX text, handed on in chunks. Names are made
// unique here, in input order. It shows no messages, so it may run on a thread
// of its own.
class GpxWriter {
 public:
  // Takes a chunk of text and gives back an empty buffer; false to stop.
  using Flush = std::function<bool(ByteBuffer&)>;

  explicit GpxWriter(Flush flush) : flush_(std::move(flush)) { out_.Append(kHeader); }

  // Input of this many bytes is on its way: the set of names is sized for it
  // at once, guessing a point per 64 bytes, up to a table of a few megabytes.
  void ExpectInput(std::uint64_t bytes) {
    used_.Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 64, 384u << 10)));
  }

  // false when the output failed.
  bool Write(const Batch& batch) {
    // The names of the next few points are hashed ahead, and their slots in
    // the set of names fetched, while the points before them are written.
    constexpr std::size_t kAhead = 8;
    std::array<std::size_t, kAhead> hashes{};
    const std::size_t n = batch.items.size();
    const auto lookAhead = [&](std::size_t k) {
      const Batch::Item& item = batch.items[k];
      if (item.kind != Batch::Item::kPoint) return;
      hashes[k % kAhead] = NameSet::Hash(batch.Get(item, Batch::kName));
      used_.Prefetch(hashes[k % kAhead]);
    };
    for (std::size_t k = 0; k < n && k < kAhead; ++k) lookAhead(k);
    for (std::size_t i = 0; i < n; ++i) {
      const Batch::Item& item = batch.items[i];
      const std::size_t hash = hashes[i % kAhead];
      if (i + kAhead < n) lookAhead(i + kAhead);
      switch (item.kind) {
        case Batch::Item::kPoint:
          WritePoint(batch, item, hash);
          break;
        case Batch::Item::kRouteBegin:
          if (inRoute_) CloseRoute();
          routes_.Append("<rte>\r\n  <name>");
          routes_.Append(batch.Get(item, Batch::kLat));
          routes_.Append(kRouteNameToPoints);
          inRoute_ = true;
          break;
        case Batch::Item::kRouteEnd:
          if (inRoute_) CloseRoute();
          break;
      }
      if (out_.size() >= kFlushAt && !flush_(out_)) return false;
    }
    return true;
  }

  // Closes the file: routes come after every waypoint. false when the output
  // failed.
  bool Finish() {
    if (inRoute_) CloseRoute();
    // The routes go as they are, not copied behind the waypoints first.
    if (!routes_.empty() && !(flush_(out_) && flush_(routes_))) return false;
    out_.Append("</gpx>\r\n");
    return flush_(out_);
  }

  std::int32_t count() const { return count_; }

 private:
  void WritePoint(const Batch& batch, const Batch::Item& item, std::size_t nameHash) {
    using B = Batch;
    const std::string_view name = MakeUnique(batch.Get(item, B::kName), nameHash);
    const std::string_view comment = batch.Get(item, B::kComment);
    const std::string_view category = batch.Get(item, B::kCategory);
    ByteBuffer& out = inRoute_ ? routes_ : out_;
    char* p = out.Reserve(kPointFixedMost + kEscapedMost * (item.ends[B::kCategory] - item.begin +
                                                            comment.size() + name.size()));
    p = Put(p, inRoute_ ? "  <rtept lat=\"" : "  <wpt lat=\"");
    p = Put(p, batch.Get(item, B::kLat));
    p = Put(p, "\" lon=\"");
    p = Put(p, batch.Get(item, B::kLon));
    p = Put(p, "\">\r\n    <name>");
    p = name.data() == candidate_.data() ? PutEscaped(p, name) : PutEscapedPadded(p, name);
    p = Put(p, "</name>\r\n    <cmt>");
    char* const escapedComment = p;
    p = PutEscapedPadded(p, comment);
    const std::string_view written(escapedComment, p - escapedComment);
    p = Put(p, "</cmt>\r\n    <desc>");
    p = Put(p, written);
    const std::string_view symbol = batch.Get(item, B::kSymbol);
    if (category.empty() && symbol == "Waypoint") {
      p = PutBlock(p, inRoute_ ? kDefaultRoutePointEnd : kDefaultWaypointEnd);
    } else {
      p = Put(p, "</desc>\r\n    <sym>");
      p = PutEscapedPadded(p, symbol);
      p = Put(p, kSymbolToDisplayMode);
      if (!category.empty()) {
        p = Put(p, kCategoryOpen);
        p = PutEscapedPadded(p, category);
        p = Put(p, kCategoryClose);
      }
      p = Put(p, kExtensionsClose);
      p = Put(p, inRoute_ ? "  </rtept>\r\n\r\n" : "  </wpt>\r\n\r\n");
    }
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

  void CloseRoute() {
    routes_.Append("</rte>\r\n\r\n");
    inRoute_ = false;
  }

  Flush flush_;
  ByteBuffer out_;
  ByteBuffer routes_;  // route blocks wait for the end: waypoints come first in GPX
  bool inRoute_ = false;
  std::int32_t count_ = 0;
  NameSet used_;
  std::unordered_map<std::string, std::size_t> nextSuffix_;
  std::string candidate_;
};

// Runs a GpxWriter on a thread of its own, fed through a short queue, while
// the caller reads. Joined on destruction; a writer that stops (its output
// failed) closes the queue, so the reading side stops too.
class WriterThread {
 public:
  explicit WriterThread(GpxWriter& writer) : writer_(writer), thread_([this] { Run(); }) {}
  ~WriterThread() {
    queue_.Close();
    if (thread_.joinable()) thread_.join();
  }

  // Reading side: a full batch goes, an empty one comes back.
  bool Put(Batch& batch) {
    if (!queue_.Put(batch)) return false;
    batch.clear();
    return true;
  }
  // Waits for the writer to finish the file; false when the output failed.
  // Throws what the writer threw.
  bool Finish() {
    queue_.End();
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    return ok_;
  }

 private:
  // What the writer throws (memory running out) is kept for the reading
  // side, which Finish hands it to.
  void Run() {
    try {
      Batch batch;
      while (queue_.Take(batch))
        if (!writer_.Write(batch)) {
          queue_.Close();
          return;
        }
      ok_ = !queue_.closed() && writer_.Finish();
    } catch (...) {
      error_ = std::current_exception();
      queue_.Close();
    }
  }

  GpxWriter& writer_;
  Handoff<Batch> queue_{3};
  bool ok_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace

std::string ConvertPoiTextToGpx(std::string_view csv, std::string_view fileName,
                                const PoiTemplates& templates, MessageSink& messages,
                                std::int32_t& count) {
  std::string gpx;
  GpxWriter writer([&](ByteBuffer& text) {
    gpx += text.view();
    text.clear();
    return true;
  });
  PoiReader reader(messages, templates, [&](Batch& batch) { return writer.Write(batch); });
  MemorySource src(csv);
  reader.File(src, fileName, nullptr);
  reader.Finish();
  writer.Finish();
  count = writer.count();
  return gpx;
}

RunStatus ConvertPoiToGpx(RunContext& ctx, std::string_view commentTemplate,
                          std::string_view nameTemplate, std::string_view categoryTemplate,
                          std::string_view iconTemplate) {
  ctx.EntriesConverted = 0;
  std::string pattern = ctx.InputSpec;
  if (FileNamePart(pattern).find('.') == std::string_view::npos) pattern += ".CSV";
  if (const std::string why = NotARegularFileText(ctx.InputSpec, pattern); !why.empty()) {
    ctx.messages.Show(why, kStopIcon, "Invalid file", Severity::Stop);
    return RunStatus::Stopped;
  }
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

  // The output may not replace one of the inputs: they are still to be read
  // while it is written.
  for (const std::string& name : files)
    if (SameFile(std::string(dir) + name, outputName)) {
      ctx.messages.Show("Can't create output file -- " + outputName, kOkOnly, kAppTitle,
                        Severity::Problem);
      return RunStatus::Done;
    }
  OutputFile output(ctx.messages, outputName);
  ChunkSink* chunks = output.Chunks();
  if (!chunks) return RunStatus::Done;  // reported once; nothing can be written

  // Reading here, writing on a thread of its own: messages and progress stay
  // on this thread.
  GpxWriter writer([chunks](ByteBuffer& text) { return chunks->Submit(text); });
  std::uint64_t inputBytes = 0;
  for (const std::string& name : files) inputBytes += FileSize(std::string(dir) + name);
  writer.ExpectInput(inputBytes);
  std::optional<WriterThread> writing(std::in_place, writer);
  const PoiTemplates templates{commentTemplate, nameTemplate, categoryTemplate, iconTemplate};
  PoiReader reader(ctx.messages, templates, [&](Batch& batch) { return writing->Put(batch); });
  bool writerGoesOn = true;
  bool inputFailed = false;  // an input that could not be read leaves the output as it was
  for (const std::string& name : files) {
    const std::string path = std::string(dir) + name;
    InputFile in(ctx.messages);
    if (!in.Open(path)) {
      inputFailed = true;
      continue;
    }
    DecodingSource text(in);  // UTF-16 becomes UTF-8; anything else passes as it is
    if (!reader.File(text, name, ctx.progress)) {
      writerGoesOn = false;
      break;
    }
    if (in.failed()) inputFailed = true;
  }
  if (reader.cancelled()) {
    writing.reset();
    output.Discard();
    return RunStatus::Cancelled;
  }
  if (inputFailed) {
    writing.reset();
    output.Discard();
    return RunStatus::Done;
  }
  bool written = writerGoesOn && reader.Finish();
  written = writing->Finish() && written;  // joins always; throws what the writer threw
  writing.reset();
  if (ctx.progress && ctx.progress->Cancelled()) {  // a cancel that came after the last record
    output.Discard();
    return RunStatus::Cancelled;
  }
  // A failed output is reported here, once, and its temporary removed.
  if (output.Commit()) {
    ++ctx.OutputsCommitted;
    if (written) ctx.EntriesConverted = writer.count();
  }
  return RunStatus::Done;
}

}  // namespace marklode
