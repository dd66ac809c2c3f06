#include "engine/kml_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "engine/byte_scan.h"
#include "engine/run_report.h"
#include "services/strings.h"

namespace marklode {
namespace {

constexpr std::size_t kMaxDepth = 256;       // element levels kept; deeper ones are counted
constexpr std::size_t kMaxFolders = 64;      // folder names kept for a path
constexpr std::size_t kTagNameBytes = 24;    // enough for every name the scanner knows
constexpr std::size_t kWholeTagBytes = 128;  // the most a tag read at once spans
constexpr std::size_t kAttrNameBytes = 8;
constexpr std::size_t kAttrValueBytes = 1024;  // a Data name longer than this is cut
constexpr std::size_t kKeepCapacity = 1 << 20;
constexpr std::size_t kMostTupleBytes = 128;  // a shape's "lon,lat,alt", with room to spare

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

void Shrink(std::string& s) {
  s.clear();
  if (s.capacity() > kKeepCapacity) std::string().swap(s);
}

// The first lon,lat of a coordinates text ("lon,lat[,alt]", blanks around).
void TakeCoordinates(std::string_view text, std::string& lon, std::string& lat, bool& has) {
  text = Trim(text);
  std::size_t end = 0;
  while (end < text.size() && !IsSpace(text[end])) ++end;
  const std::string_view tuple = text.substr(0, end);
  const std::size_t c1 = tuple.find(',');
  if (c1 == std::string_view::npos) return;
  const std::size_t c2 = tuple.find(',', c1 + 1);
  lon.assign(tuple.substr(0, c1));
  lat.assign(tuple.substr(c1 + 1, c2 == std::string_view::npos ? c2 : c2 - c1 - 1));
  has = true;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character an HTML entity's name (between "&" and ";") stands for.
bool HtmlEntity(std::string_view name, std::string& out) {
  static constexpr std::pair<std::string_view, std::uint32_t> kNamed[] = {
      {"amp", '&'},       {"lt", '<'},       {"gt", '>'},       {"quot", '"'},
      {"apos", '\''},     {"nbsp", ' '},     {"ndash", 0x2013}, {"mdash", 0x2014},
      {"hellip", 0x2026}, {"deg", 0xB0},     {"copy", 0xA9},    {"reg", 0xAE},
      {"euro", 0x20AC},   {"rsquo", 0x2019}, {"lsquo", 0x2018}, {"rdquo", 0x201D},
      {"ldquo", 0x201C}};
  for (const auto& [n, cp] : kNamed)
    if (name == n) {
      AppendUtf8(out, cp);
      return true;
    }
  if (name.size() < 2 || name.size() > 8 || name[0] != '#') return false;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  std::uint32_t cp = 0;
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return false;
  for (const char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
      d = (c | 0x20) - 'a' + 10;
    else
      return false;
    cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
  }
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  AppendUtf8(out, cp);
  return true;
}

// The bytes that end an element's name.
constexpr auto kNameEnd = [] {
  std::array<bool, 256> t{};
  for (const unsigned char c : {' ', '\t', '\r', '\n', '>', '/'}) t[c] = true;
  return t;
}();

bool IsTagStart(char c) {
  return c == '/' || c == '!' || c == '?' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

}  // namespace

std::size_t TagNameEndScalar(std::string_view text, std::size_t& local) {
  local = 0;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (kNameEnd[static_cast<unsigned char>(c)]) break;
    if (c == ':') local = i + 1;
  }
  return i;
}

std::size_t TagNameEnd(PaddedText text, std::size_t& local) {
#if MARKLODE_SSE2
  local = 0;
  const char* const b = text.data();
  const std::size_t n = text.size();
  const auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  for (std::size_t i = 0; i < n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i end = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(is(v, ' '), is(v, '\n')), _mm_or_si128(is(v, '\r'), is(v, '\t'))),
        _mm_or_si128(is(v, '>'), is(v, '/')));
    const std::uint32_t inText = n - i >= 16 ? 0xFFFFu : (1u << (n - i)) - 1;
    const std::uint32_t ends = static_cast<std::uint32_t>(_mm_movemask_epi8(end)) & inText;
    std::uint32_t colons = static_cast<std::uint32_t>(_mm_movemask_epi8(is(v, ':'))) & inText;
    const int k = ends ? LowestSetBit(ends) : 16;
    if (k < 16) colons &= (1u << k) - 1;
    if (colons) local = i + static_cast<std::size_t>(32 - std::countl_zero(colons));
    if (k < 16) return i + static_cast<std::size_t>(k);
  }
  return n;
#else
  return TagNameEndScalar(text.view(), local);
#endif
}

std::string HtmlToText(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  for (std::size_t i = 0; i < html.size();) {
    const char c = html[i];
    if (c == '<' && i + 1 < html.size() && IsTagStart(html[i + 1])) {
      const std::size_t gt = html.find('>', i + 1);
      if (gt == std::string_view::npos) {  // not a tag after all
        out.append(html.substr(i));
        break;
      }
      std::string_view tag = html.substr(i + 1, gt - i - 1);
      if (IStartsWith(tag, "br") && (tag.size() == 2 || tag[2] == '/' || IsSpace(tag[2])))
        out += '\n';
      i = gt + 1;
    } else if (c == '&') {
      const std::size_t semi = html.find(';', i + 1);
      if (semi != std::string_view::npos && semi - i <= 10 &&
          HtmlEntity(html.substr(i + 1, semi - i - 1), out)) {
        i = semi + 1;
      } else {
        out += c;
        ++i;
      }
    } else {
      // Up to the next markup or entity at once.
      const char* const from = html.data() + i;
      const char* const to = FindFirstOf<'<', '&'>(from + 1, html.data() + html.size());
      out.append(from, to);
      i = static_cast<std::size_t>(to - html.data());
    }
  }
  return out;
}

KmlReader::KmlReader(ByteSource& src, bool folderPath, ProgressSink* progress, ShapePoint shapes)
    : BlockReader(src, progress), folderPath_(folderPath), shapeMode_(shapes) {
  stack_.reserve(32);
}

void KmlReader::AddSkips(FileReport& report) const {
  report.SkipMany(SkipReason::NotAPoint, notPoints_);
}

bool KmlReader::Next(GpxWaypoint& w) {
  if (next_ >= ready_ && !Advance()) return false;
  const std::size_t i = next_++;
  w.lon.assign(points_[i].first);
  w.lat.assign(points_[i].second);
  w.hasLat = w.hasLon = pointHas_[i];
  if (next_ < ready_) {
    w.name.assign(name_);
    w.comment.assign(description_);
    w.values = values_;
  } else {  // the placemark's last point (most have one): its texts change hands
    w.name.swap(name_);
    w.comment.swap(description_);
    w.values.swap(values_);
  }
  w.category.assign(category_);
  return true;
}

// Finds terminator from begin_, keeping (into raw_) the bytes passed over
// when keep. False when more input is needed: the few last bytes that may
// begin the terminator stay unread.
bool KmlReader::Section(std::string_view terminator, bool keep) {
  const std::string_view s(buf_.data() + begin_, end_ - begin_);
  const std::size_t at = s.find(terminator);
  if (at != std::string_view::npos) {
    if (keep) raw_.append(s.substr(0, at + terminator.size()));
    begin_ += at + terminator.size();
    state_ = afterSection_;
    afterSection_ = State::Text;
    return true;
  }
  const std::size_t hold = std::min(s.size(), terminator.size() - 1);
  if (keep) raw_.append(s.substr(0, s.size() - hold));
  begin_ = end_ - hold;
  return false;
}

// A declaration (a DOCTYPE with its internal subset): skipped whole, its
// entities never defined. In the subset, quoted literals, comments and
// processing instructions are stepped over whole. Outside it a "<" ends the
// declaration, so one never closed cannot run on over the placemarks. False
// when more input is needed to tell what a "<" in the subset opens.
bool KmlReader::DeclBytes() {
  const char* base = buf_.data();
  const char* p = base + begin_;
  const char* e = base + end_;
  while (p < e) {
    const char* f = quote_ == '"'    ? FindFirstOf<'"'>(p, e)
                    : quote_ == '\'' ? FindFirstOf<'\''>(p, e)
                                     : FindFirstOf<'"', '\'', '[', ']', '>', '<'>(p, e);
    if (f == e) {
      p = e;
      break;
    }
    const char c = *f;
    p = f + 1;
    if (quote_ != '\0') {
      quote_ = '\0';
    } else if (c == '"' || c == '\'') {
      quote_ = c;
    } else if (c == '[') {
      declSubset_ = true;
    } else if (c == ']') {
      declSubset_ = false;
    } else if (declSubset_ && c == '<') {
      if (e - f < 4 && !eof_) {
        begin_ = f - base;
        return false;
      }
      const std::string_view s(f, std::min<std::size_t>(e - f, 4));
      if (s.starts_with("<!--") || s.starts_with("<?")) {
        begin_ = f - base + (s[1] == '!' ? 4 : 2);
        state_ = s[1] == '!' ? State::Comment : State::Pi;
        afterSection_ = State::Decl;  // the subset goes on after it
        return true;
      }
    } else if (!declSubset_) {
      if (c == '<') p = f;  // not consumed: the markup after it is read
      state_ = State::Text;
      break;
    }
  }
  begin_ = p - base;
  return true;
}

void KmlReader::TagNameBytes() {
  const char* base = buf_.data();
  const char* p = base + begin_;
  const char* e = base + end_;
  const char* d = p;
  while (d < e && !kNameEnd[static_cast<unsigned char>(*d)]) ++d;
  // Only the local name counts: a prefix ("kml:") is dropped with its colon.
  for (const char* c = d; c > p;)
    if (*--c == ':') {
      p = c + 1;
      tagName_.clear();
      nameLong_ = false;
      break;
    }
  const std::size_t n = static_cast<std::size_t>(d - p);
  if (tagName_.size() + n <= kTagNameBytes)
    tagName_.append(p, n);
  else
    nameLong_ = true;
  begin_ = d - base;
  if (d == e) return;
  StartTag(nameLong_ ? std::string_view() : std::string_view(tagName_));
  tagName_.clear();
  nameLong_ = false;
}

void KmlReader::StartTag(std::string_view name) {
  state_ = State::Attrs;
  lastInTag_ = '\0';
  attrSep_ = true;
  attrName_.clear();
  StartElement(name);
}

// The usual markup, a start tag without attributes or an end tag, read at
// once where it lies whole in the data read: as the states would read it.
// begin_ is at its "<". False for anything else, left to the states.
bool KmlReader::WholeTag() {
  const char* const base = buf_.data();
  const char* const p = base + begin_;
  const char* const e = base + std::min(end_, begin_ + kWholeTagBytes);
  if (e - p < 3) return false;
  if (p[1] == '/') {
    const char* gt = FindFirstOf<'>'>(p + 2, e);
    if (gt == e) return false;
    begin_ = gt + 1 - base;
    EndElement();
    return true;
  }
  if (((p[1] | 0x20) < 'a' || (p[1] | 0x20) > 'z')) return false;
  // Only the local name counts: a prefix goes with its colon.
  std::size_t colon = 0;
  const std::size_t at = WithPadding(std::string_view(p + 2, e - (p + 2)),
                                     [&](auto text) { return TagNameEnd(text, colon); });
  const char* const d = p + 2 + at;
  if (d == e) return false;
  const char* const local = colon > 0 ? p + 2 + colon : p + 1;
  const auto n = static_cast<std::size_t>(d - local);
  const std::string_view name =
      n <= kTagNameBytes ? std::string_view(local, n) : std::string_view();
  if (*d != '>') {  // attributes, or an empty element: the states go on from here
    begin_ = d - base;
    StartTag(name);
    return true;
  }
  begin_ = d + 1 - base;
  StartElement(name);
  return true;
}

void KmlReader::AttrBytes() {
  const char* p = buf_.data() + begin_;
  const char* e = buf_.data() + end_;
  for (; p < e; ++p) {
    const char c = *p;
    if (c == '>') {
      begin_ = p + 1 - buf_.data();
      state_ = State::Text;
      if (lastInTag_ == '/') EndElement();
      return;
    }
    if (c == '"' || c == '\'') {
      quote_ = c;
      takeAttr_ = attrName_ == "name" && !stack_.empty() && deeper_ == 0 &&
                  (stack_.back() == El::Data || stack_.back() == El::SimpleData);
      if (takeAttr_) attr_.clear();
      begin_ = p + 1 - buf_.data();
      state_ = State::Value;
      return;
    }
    if (IsSpace(c)) {
      attrSep_ = true;
      continue;
    }
    lastInTag_ = c;
    if (c == '=' || c == '/') {
      if (c == '=') attrSep_ = false;
      continue;
    }
    if (attrSep_) {
      attrName_.clear();
      attrSep_ = false;
    }
    if (c == ':') {
      attrName_.clear();
    } else if (attrName_.size() < kAttrNameBytes) {
      attrName_ += c;
    }
  }
  begin_ = end_;
}

void KmlReader::StartElement(std::string_view n) {
  El kind = El::Other;
  const El parent = Parent();
  int shape = 0;  // a line (1) or a ring (2) that may stand for a point
  if (n == "Placemark") {
    kind = El::Placemark;
  } else if (n == "Folder") {
    kind = El::Folder;
  } else if (inPlacemark_) {
    if (n == "Point") {
      kind = El::Point;
    } else if (n == "outerBoundaryIs") {
      kind = El::Outer;
    } else if (n == "LinearRing" && parent == El::Outer) {
      kind = El::Ring;
    } else if (n == "LineString" || n == "Polygon" || n == "Track" || n == "MultiTrack" ||
               n == "Model" || (n == "LinearRing" && parent != El::Other)) {
      kind = El::Shape;
      shape = n == "LineString" ? 1 : n == "Polygon" || n == "LinearRing" ? 2 : 0;
    } else if (n == "name" && parent == El::Placemark) {
      kind = El::Name;
    } else if (n == "description" && parent == El::Placemark) {
      kind = El::Description;
    } else if (n == "styleUrl" && parent == El::Placemark) {
      kind = El::StyleUrl;
    } else if (n == "Data") {
      kind = El::Data;
    } else if (n == "value" && parent == El::Data) {
      kind = El::Value;
    } else if (n == "SimpleData") {
      kind = El::SimpleData;
    } else if (n == "coordinates" && parent == El::Point) {
      kind = El::Coordinates;
    } else if (n == "coordinates" && shapeLevel_ > 0 &&
               (parent == El::Shape || parent == El::Ring)) {
      kind = El::ShapeCoords;
    }
  } else if (n == "name" && parent == El::Folder) {
    kind = El::Name;
  }

  if (stack_.size() >= kMaxDepth || deeper_ > 0) {  // too deep to mean anything
    ++deeper_;
    return;
  }
  stack_.push_back(kind);
  const std::size_t level = stack_.size();
  Capture take = Capture::None;
  switch (kind) {
    case El::Placemark:
      if (inPlacemark_) break;
      inPlacemark_ = true;
      placemarkLevel_ = level;
      hasName_ = false;
      Shrink(name_);
      Shrink(description_);
      values_.clear();  // the strings' room goes: values are rare enough
      ready_ = next_ = 0;
      shapes_ = 0;
      shapeLevel_ = 0;
      break;
    case El::Folder:
      if (folders_.size() < kMaxFolders)
        folders_.emplace_back();
      else
        ++foldersDeeper_;
      break;
    case El::Point:
      if (ready_ == points_.size()) {
        points_.emplace_back();
        pointHas_.push_back(false);
      }
      points_[ready_].first.clear();
      points_[ready_].second.clear();
      pointHas_[ready_] = false;
      ++ready_;
      break;
    case El::Shape:
      if (parent == El::Shape) break;  // a polygon's rings are the polygon
      if (shape == 0 || shapeMode_ == ShapePoint::None || shapeLevel_ > 0) {
        ++shapes_;
        break;
      }
      // A point of its own, its coordinates known at the shape's end.
      if (ready_ == points_.size()) {
        points_.emplace_back();
        pointHas_.push_back(false);
      }
      shapePoint_ = ready_++;
      shape_.Reset(shapeMode_, shape == 2);
      shapeLevel_ = level;
      break;
    case El::ShapeCoords:
      take = Capture::ShapeCoords;
      tuple_.clear();
      break;
    case El::Name:
      take = inPlacemark_ ? Capture::Name : Capture::Folder;
      break;
    case El::Description:
      take = Capture::Description;
      break;
    case El::StyleUrl:
      take = Capture::StyleUrl;
      break;
    case El::Value:
      take = Capture::Value;
      break;
    case El::SimpleData:
      take = Capture::SimpleData;
      break;
    case El::Coordinates:
      take = Capture::Coords;
      break;
    default:
      break;
  }
  if (take != Capture::None && capture_ == Capture::None) {
    capture_ = take;
    captureLevel_ = level;
    Shrink(raw_);
  }
}

void KmlReader::EndElement() {
  if (deeper_ > 0) {
    --deeper_;
    return;
  }
  if (stack_.empty()) return;  // an end tag with no start: nothing to close
  if (capture_ != Capture::None && stack_.size() == captureLevel_) EndCapture();
  if (shapeLevel_ == stack_.size()) {
    bool has = false;
    shape_.Result(points_[shapePoint_].first, points_[shapePoint_].second, has);
    pointHas_[shapePoint_] = has;
    shapeLevel_ = 0;
  }
  const El kind = stack_.back();
  if (kind == El::Placemark && inPlacemark_ && stack_.size() == placemarkLevel_) EndPlacemark();
  if (kind == El::Folder) {
    if (foldersDeeper_ > 0)
      --foldersDeeper_;
    else if (!folders_.empty())
      folders_.pop_back();
  }
  if (kind == El::SimpleData || kind == El::Data) attr_.clear();
  if (kind == El::Data) dataName_.clear();
  stack_.pop_back();
}

void KmlReader::EndCapture() {
  const Capture c = capture_;
  capture_ = Capture::None;
  if (c == Capture::ShapeCoords) {
    ShapeTuple(tuple_);
    return;
  }
  if (c == Capture::Coords) {
    if (ready_ > 0) {
      auto& pt = points_[ready_ - 1];
      bool has = false;
      TakeCoordinates(raw_, pt.first, pt.second, has);
      pointHas_[ready_ - 1] = has;
    }
    return;
  }
  if (FindFirstOf<'&', '<'>(raw_.data(), raw_.data() + raw_.size()) == raw_.data() + raw_.size())
    text_.swap(raw_);  // nothing to decode; raw_ is cleared before the next text
  else
    DecodeXmlText(raw_, text_);
  switch (c) {
    case Capture::Name:
      if (hasName_) break;  // the first name counts
      name_.swap(text_);    // text_ is written anew each time
      JoinNameLines(name_);
      hasName_ = !name_.empty();
      break;
    case Capture::Folder:
      if (!folders_.empty() && foldersDeeper_ == 0) {
        folders_.back().assign(text_);
        JoinNameLines(folders_.back());
      }
      break;
    case Capture::Description:
      if (FindFirstOf<'<', '&'>(text_.data(), text_.data() + text_.size()) ==
          text_.data() + text_.size()) {  // plain text, as most are
        if (const std::string_view t = Trim(text_); t.size() == text_.size())
          description_.swap(text_);
        else
          description_.assign(t);
      } else {
        description_ = HtmlToText(text_);
        description_.assign(Trim(description_));
      }
      break;
    case Capture::StyleUrl:
      values_.emplace_back("styleUrl", Trim(text_));
      break;
    case Capture::Value:
      if (!dataName_.empty()) values_.emplace_back(dataName_, text_);
      break;
    case Capture::SimpleData:
      if (!attr_.empty()) values_.emplace_back(attr_, text_);
      break;
    default:
      break;
  }
}

// A shape's coordinates text as it comes: "lon,lat[,alt]" tuples between
// blanks, each added as it is complete.
void KmlReader::ShapeText(const char* p, const char* e) {
  while (p < e) {
    if (IsSpace(*p)) {
      if (!tuple_.empty()) ShapeTuple(tuple_);
      tuple_.clear();
      ++p;
      continue;
    }
    const char* q = p;
    while (q < e && !IsSpace(*q)) ++q;
    // A tuple longer than any vertex is kept in part, and taken for none.
    tuple_.append(p,
                  std::min<std::size_t>(
                      q - p, kMostTupleBytes + 1 - std::min(tuple_.size(), kMostTupleBytes + 1)));
    p = q;
  }
}

void KmlReader::ShapeTuple(std::string_view tuple) {
  if (tuple.empty()) return;
  const std::size_t c1 = tuple.find(',');
  if (c1 == std::string_view::npos || tuple.size() > kMostTupleBytes) {
    shape_.Add(tuple, {}, false);
    return;
  }
  const std::size_t c2 = tuple.find(',', c1 + 1);
  shape_.Add(tuple.substr(0, c1),
             tuple.substr(c1 + 1, c2 == std::string_view::npos ? c2 : c2 - c1 - 1));
}

void KmlReader::EndPlacemark() {
  inPlacemark_ = false;
  notPoints_ += static_cast<std::int64_t>(shapes_);
  if (ready_ == 0) {
    if (shapes_ > 0) return;  // lines or polygons only: counted
    // No geometry at all: a waypoint without coordinates, told as one.
    if (points_.empty()) {
      points_.emplace_back();
      pointHas_.push_back(false);
    }
    points_[0].first.clear();
    points_[0].second.clear();
    pointHas_[0] = false;
    ready_ = 1;
  }
  if (!hasName_) {
    nameless_ += static_cast<std::int64_t>(ready_);
    ready_ = 0;
    return;
  }
  category_.clear();
  if (folderPath_) {
    for (const std::string& f : folders_) {
      if (f.empty()) continue;
      if (!category_.empty()) category_ += " / ";
      category_ += f;
    }
  } else if (!folders_.empty() && foldersDeeper_ == 0) {
    category_ = folders_.back();
  }
  next_ = 0;
}

void KmlReader::AtEnd() {
  // A file cut short: what is open ends where the input does.
  deeper_ = 0;
  while (!stack_.empty()) EndElement();
  state_ = State::Text;
}

bool KmlReader::Advance() {
  ready_ = next_ = 0;
  for (;;) {
    bool more = true;
    if (begin_ == end_) {
      more = false;
    } else {
      switch (state_) {
        case State::Text:
          // Text and whole tags, one after another, until other markup
          // comes, the data read ends, or a placemark's points are ready.
          for (;;) {
            const char* p = buf_.data() + begin_;
            const char* e = buf_.data() + end_;
            const char* lt = FindFirstOf<'<'>(p, e);
            if (capture_ == Capture::ShapeCoords)
              ShapeText(p, lt);
            else if (capture_ != Capture::None)
              raw_.append(p, lt - p);
            begin_ = lt - buf_.data();
            if (lt == e) {
              more = false;
              break;
            }
            if (!WholeTag()) {
              state_ = State::Lt;
              break;
            }
            if (state_ != State::Text || (next_ < ready_ && !inPlacemark_)) break;
          }
          break;
        case State::Lt: {
          if (end_ - begin_ < 9 && !eof_) {
            more = false;
            break;
          }
          const std::string_view s(buf_.data() + begin_, std::min<std::size_t>(end_ - begin_, 9));
          if (s.starts_with("<!--")) {
            begin_ += 4;
            state_ = State::Comment;
          } else if (s.starts_with("<![CDATA[")) {
            state_ = State::Cdata;
          } else if (s.starts_with("<?")) {
            begin_ += 2;
            state_ = State::Pi;
          } else if (s.starts_with("<!")) {
            begin_ += 2;
            quote_ = '\0';
            declSubset_ = false;
            state_ = State::Decl;
          } else if (s.starts_with("</")) {
            begin_ += 2;
            state_ = State::EndTag;
          } else {
            begin_ += 1;
            tagName_.clear();
            nameLong_ = false;
            state_ = State::TagName;
          }
          break;
        }
        case State::Comment:
          more = Section("-->", false);
          break;
        case State::Cdata:  // kept whole in a gathered text, for the decoding to take verbatim
          more = Section("]]>", capture_ != Capture::None);
          break;
        case State::Pi:
          more = Section("?>", false);
          break;
        case State::Decl:
          more = DeclBytes();
          break;
        case State::TagName:
          TagNameBytes();
          break;
        case State::Attrs:
          AttrBytes();
          break;
        case State::Value: {
          const char* p = buf_.data() + begin_;
          const char* e = buf_.data() + end_;
          const char* q = quote_ == '"' ? FindFirstOf<'"'>(p, e) : FindFirstOf<'\''>(p, e);
          if (takeAttr_ && attr_.size() < kAttrValueBytes)
            attr_.append(p, std::min<std::size_t>(q - p, kAttrValueBytes - attr_.size()));
          if (q == e) {
            begin_ = end_;
          } else {
            begin_ = q + 1 - buf_.data();
            if (takeAttr_) {
              std::string decoded;
              DecodeXmlText(attr_, decoded);
              attr_.assign(Trim(decoded));
              if (!stack_.empty() && stack_.back() == El::Data) dataName_ = attr_;
            }
            takeAttr_ = false;
            attrSep_ = true;
            lastInTag_ = quote_;
            state_ = State::Attrs;
          }
          break;
        }
        case State::EndTag: {
          const char* p = buf_.data() + begin_;
          const char* e = buf_.data() + end_;
          const char* gt = FindFirstOf<'>'>(p, e);
          if (gt == e) {
            begin_ = end_;
          } else {
            begin_ = gt + 1 - buf_.data();
            state_ = State::Text;
            EndElement();
          }
          break;
        }
      }
    }
    if (next_ < ready_ && !inPlacemark_) return true;
    if (!more) {
      if (!Fill()) {
        if ((state_ == State::Lt || state_ == State::Decl) && begin_ < end_)
          continue;  // the last bytes: read as they are
        AtEnd();
        return next_ < ready_;
      }
    }
  }
}

}  // namespace marklode
