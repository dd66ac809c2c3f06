#include "engine/geojson_reader.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/block_reader.h"  // MARKLODE_READ_BLOCK
#include "engine/shape_point.h"
#include "services/strings.h"
#include "services/sync.h"

namespace marklode {
namespace {

using Json = nlohmann::json;
using Named = std::vector<std::pair<std::string, std::string>>;

// Blocks the parser is fed: one being parsed and up to kQueued read ahead.
constexpr std::size_t kBlock =
    MARKLODE_READ_BLOCK < (256u << 10) ? MARKLODE_READ_BLOCK : (256u << 10);
constexpr std::size_t kQueued = 2;
// Points handed over at once: one wake-up of the other thread per batch, not per point.
constexpr std::size_t kBatchPoints = 256;

bool HasText(std::string_view s) {
  return s.find_first_not_of(" \t\r\n") != std::string_view::npos;
}

bool IsPointType(std::string_view t) {
  return IEquals(t, "Point") || IEquals(t, "MultiPoint");
}

// The geometries that give points where lines and polygons are asked for.
bool IsShapeType(std::string_view t) {
  return IEquals(t, "LineString") || IEquals(t, "MultiLineString") || IEquals(t, "Polygon") ||
         IEquals(t, "MultiPolygon");
}

// Where key stands among keys (case-blind), or keys.size().
std::size_t Rank(std::string_view key, std::initializer_list<std::string_view> keys) {
  std::size_t i = 0;
  for (std::string_view k : keys) {
    if (IEquals(key, k)) return i;
    ++i;
  }
  return i;
}

// Control bytes and bytes of other characters than ASCII become "?": the
// parser's message quotes what it read, which may be anything.
std::string PrintableMessage(std::string_view text) {
  std::string out(FirstChars(text, 200));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  return out;
}

struct Item {
  GpxWaypoint w;
  Named named;
  std::int64_t line = 0;
};

struct Batch {
  std::vector<Item> items;
  std::size_t count = 0;
  std::int64_t nameless = 0, notPoints = 0;  // totals when it was handed over
};

struct Position {
  std::string lon, lat;
  bool hasLon = false, hasLat = false;
};

// A line or ring of a shape, read: the point it stands for as a line and as
// a ring (which it is, its geometry's type may tell only later), and whether
// it is its parent's first (a polygon's outer ring).
struct ShapePart {
  Position asLine, asRing;
  bool first = false;
};

// What one feature has said so far; its points are made at its end, when
// both its geometry and its properties are known, in whatever order they came.
struct Feature {
  enum class Geom : std::uint8_t { Missing, Null, Object, Other };
  // The shape of "coordinates": one position (Point), positions (MultiPoint),
  // anything else, or more positions than a feature may keep (a long line's,
  // read before its type).
  enum class Shape : std::uint8_t { Empty, Flat, Nested, Bad, Overflow };

  std::string type, gType;
  Geom geom = Geom::Missing;
  Shape shape = Shape::Empty;
  std::vector<Position> pos;
  std::size_t npos = 0;
  Named props;
  std::size_t nprops = 0;
  bool features = false;     // the root: a "features" member
  bool coordinates = false;  // the root: a bare geometry's "coordinates"
  bool properties = false;
  // Lines and polygons as points: the parts read, the one being read and
  // its vertex, and the level of the arrays that are positions (-1: none yet).
  std::vector<ShapePart> parts;
  std::size_t nparts = 0;
  ShapeCenter part;
  bool partOpen = false;
  Position vertex;
  int posLevel = -1;
  bool shapeBad = false;
  std::int64_t line = 1;
  std::size_t bytes = 0;     // text kept, against kMaxFeatureBytes
  std::size_t posBytes = 0;  // the positions' part of it

  void Reset(std::int64_t at) {
    type.clear();
    gType.clear();
    geom = Geom::Missing;
    shape = Shape::Empty;
    npos = nprops = 0;
    features = coordinates = properties = false;
    line = at;
    bytes = posBytes = 0;
    ResetShape();
  }
  void ResetShape() {
    nparts = 0;
    partOpen = false;
    posLevel = -1;
    shapeBad = false;
  }
  Position& NewPosition() {
    if (npos == pos.size()) pos.emplace_back();
    Position& p = pos[npos++];
    bytes += sizeof(Position);
    posBytes += sizeof(Position);
    p.lon.clear();
    p.lat.clear();
    p.hasLon = p.hasLat = false;
    return p;
  }
  void AddProp(std::string_view key, std::string_view value) {
    if (nprops == props.size()) props.emplace_back();
    auto& kv = props[nprops++];
    kv.first.assign(key);
    kv.second.assign(value);
    bytes += key.size() + value.size();
  }
};

}  // namespace

struct GeoJsonReader::Impl {
  Impl(ByteSource& s, ProgressSink* p, ShapePoint sh)
      : src(s), progress(p), total(s.Size()), shapes(sh) {}
  ~Impl() {
    {
      std::lock_guard lock(mu);
      stop = true;
    }
    cv.notify_all();
    if (parser.joinable()) parser.join();
  }

  // The calling thread.
  bool TakeBatch();
  std::size_t Fill(std::string& block);

  // The parser's thread.
  void Parse();
  bool TakeBlock(std::string& block);  // false once stopped
  bool Hand(Batch& out);               // false once stopped

  ByteSource& src;
  ProgressSink* progress;
  std::uint64_t total, read = 0;
  const ShapePoint shapes;

  // Shared, under mu.
  Mutex mu;
  CondVar cv;
  std::deque<std::string> blocks;  // read, not yet parsed; an empty one ends the input
  std::vector<std::string> spareBlocks;
  std::deque<Batch> batches;
  std::vector<Batch> spareBatches;
  bool stop = false, done = false;
  std::string doneProblem;
  std::int64_t doneNameless = 0, doneNotPoints = 0;

  // The calling thread's own.
  bool inputEnded = false, finished = false, cancelled = false;
  Batch cur;
  std::size_t pos = 0;
  std::string problem;
  std::int64_t nameless = 0, notPoints = 0, line = 0;

  std::thread parser;
};

namespace {

// The parser's bytes: the block being parsed, refilled from the calling
// thread as it is used up.
struct Feed {
  GeoJsonReader::Impl* impl;
  std::string block;
  const char* p = nullptr;
  const char* e = nullptr;
  std::uint64_t blockStart = 0;  // of block[0] in the input
  std::uint64_t lastEvent = 0;   // where the parser last said something
  const char* counted = nullptr;
  std::int64_t lines = 0;  // line breaks before counted
  bool tooLong = false;
  char tail[3] = {};  // the last three bytes read before this block

  explicit Feed(GeoJsonReader::Impl* i) : impl(i) {
    block.reserve(kBlock);
    Load();
  }
  void Load() {
    if (!impl->TakeBlock(block)) block.clear();
    p = counted = block.data();
    e = p + block.size();
  }
  void Refill() {
    lines += std::count(counted, e, '\n');
    // The last bytes stay within reach of NegativeZero.
    for (const char* q = std::max<const char*>(block.data(), e - 3); q < e; ++q) {
      tail[0] = tail[1];
      tail[1] = tail[2];
      tail[2] = *q;
    }
    blockStart += block.size();
    // Bytes without an event are one value (or blanks): past the limit the
    // input ends here, and the parser's complaint is told as this.
    if (blockStart - lastEvent > GeoJsonReader::kMaxValueBytes) {
      tooLong = true;
      block.clear();
      p = counted = e = block.data();
      return;
    }
    Load();
  }
  // Whether the integer 0 just read was written "-0". The parser has taken
  // one byte past the number (the one that ends it), so the "0" is the
  // second byte back and its sign the third.
  bool NegativeZero() const {
    const std::size_t in = static_cast<std::size_t>(p - block.data());
    return in >= 3 ? p[-3] == '-' : tail[in] == '-';
  }
  std::uint64_t Offset() const { return blockStart + static_cast<std::uint64_t>(p - block.data()); }
  std::int64_t Line() {
    lines += std::count(counted, p, '\n');
    counted = p;
    return lines + 1;
  }
};

// An input iterator over the feed, for the parser's iterator-pair input.
class FeedIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  FeedIterator() = default;
  explicit FeedIterator(Feed* f) : f_(f) {}
  reference operator*() const { return *f_->p; }
  FeedIterator& operator++() {
    if (++f_->p == f_->e) f_->Refill();
    return *this;
  }
  FeedIterator operator++(int) {
    FeedIterator old = *this;
    ++*this;
    return old;
  }
  friend bool operator==(const FeedIterator& a, const FeedIterator& b) {
    return a.AtEnd() == b.AtEnd();
  }

 private:
  bool AtEnd() const { return !f_ || f_->p == f_->e; }
  Feed* f_ = nullptr;
};

// The SAX events turned into features. Frames follow the nesting; a frame
// knows what its values are from its kind and the last key.
class Handler {
 public:
  Handler(GeoJsonReader::Impl& impl, Feed& feed) : impl_(impl), feed_(feed) {}

  bool null() { return Value(V::Null, {}); }
  bool boolean(bool b) { return Value(V::Bool, b ? "true" : "false"); }
  bool number_integer(Json::number_integer_t n) { return Integer(n); }
  bool number_unsigned(Json::number_unsigned_t n) { return Integer(n); }
  bool number_float(Json::number_float_t, const std::string& text) {
    // The parser writes the locale's decimal point into the text it passes
    // (a comma where the window's locale says so): the file's is a ".".
    number_.assign(text);
    for (char& c : number_)
      if ((c < '0' || c > '9') && c != '-' && c != '+' && c != 'e' && c != 'E') c = '.';
    return Value(V::Number, number_);
  }
  bool string(std::string& s) { return Value(V::String, s); }
  bool binary(Json::binary_t&) { return Value(V::Null, {}); }  // not in JSON text
  bool start_object(std::size_t) { return Open(V::Object); }
  bool start_array(std::size_t) { return Open(V::Array); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(std::string& k);
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex);

  // After the parse: the points still held, and the problem.
  void Finish(bool parsed);
  void Problem(std::string text) {
    if (problem_.empty()) problem_ = std::move(text);
  }

 private:
  enum class V : std::uint8_t { Null, Bool, Number, String, Object, Array };
  enum class Kind : std::uint8_t { None, Feature, List, Geometry, Coords, Props, PropsList, Skip };
  enum class Slot : std::uint8_t { None, Type, Features, Geometry, Properties, Coordinates, Prop };
  struct Frame {
    Kind kind;
    Feature* f = nullptr;
    Slot slot = Slot::None;
    int level = 0;            // Coords: 0 the array itself, 1 a position within it
    bool first = false;       // Coords: the first array in its parent
    std::size_t pathLen = 0;  // Props, PropsList: the key path before their members
    std::int64_t index = 0;   // Coords: the next value's place; PropsList: the next index
  };

  // JSON writes an integer one way only, which its value gives back, but for
  // "-0": its sign is looked for in the bytes before the "0".
  template <class N>
  bool Integer(N n) {
    char buf[24];
    char* const start = buf + 1;
    const auto r = std::to_chars(start, buf + sizeof buf, n);
    char* from = start;
    if (n == 0 && feed_.NegativeZero()) *--from = '-';
    return Value(V::Number, std::string_view(from, static_cast<std::size_t>(r.ptr - from)));
  }
  bool Value(V v, std::string_view text) {
    feed_.lastEvent = feed_.Offset();
    Place(v, text);  // a scalar opens no frame
    return Budget();
  }
  bool Open(V v);
  bool Close();
  bool Push(Kind k) {
    if (frames_.size() >= static_cast<std::size_t>(GeoJsonReader::kMaxDepth)) {
      Problem("nesting deeper than " + std::to_string(GeoJsonReader::kMaxDepth) +
              " levels at line " + std::to_string(feed_.Line()));
      return false;
    }
    frames_.push_back(Frame{k});
    return true;
  }
  // Where a value goes; for a container, the kind of its frame (set up by
  // the caller's Push through pending_).
  Kind Place(V v, std::string_view text);
  Kind Coordinates(Feature& f, V v);
  void Component(Position& p, std::int64_t i, V v, std::string_view text);
  // Drops the positions kept: a point's feature that has more is a problem
  // at its end, a line's or polygon's is counted as it is.
  void Overflow(Feature& f);
  Kind PropValue(Feature& f, V v, std::string_view text);
  // Lines and polygons as points: whether f's coordinates are read for one,
  // a value of a position, and the end of a position or of a line or ring.
  bool Shapes(const Feature& f) const {
    return impl_.shapes != ShapePoint::None && (f.gType.empty() || IsShapeType(f.gType));
  }
  void ShapeValue(Feature& f, int level, std::int64_t i, V v, std::string_view text);
  void ShapeClose(const Frame& t);
  // The points of f's shape into shapePoints_: how many; -1 where it is none.
  int ShapePoints(const Feature& f);
  bool Budget();
  void Emit(Feature& f);
  Item& NextItem();

  GeoJsonReader::Impl& impl_;
  Feed& feed_;
  std::vector<Frame> frames_;
  Frame pending_{Kind::None};  // the frame Place set up for a container
  Feature root_, item_;
  std::string path_;  // the key path of the property being read
  Batch out_;
  std::int64_t nameless_ = 0, notPoints_ = 0;
  bool geoJson_ = false;  // the root was a FeatureCollection, Feature or geometry
  bool stopped_ = false;  // the reader is gone or cancelled
  bool failed_ = false;   // a problem ends the parse
  std::string problem_;
  std::string number_;  // a number's text as the file writes it
  std::vector<Position> shapePoints_;
};

bool Handler::Open(V v) {
  feed_.lastEvent = feed_.Offset();
  const Kind k = Place(v, {});
  if (!Push(k)) return false;
  Frame& f = frames_.back();
  if (pending_.kind == k) {
    f = pending_;
  } else {  // a frame without data of its own counts against its feature's budget
    f.f = frames_.size() >= 2 ? frames_[frames_.size() - 2].f : nullptr;
  }
  pending_ = Frame{Kind::None};
  return Budget();
}

Handler::Kind Handler::Place(V v, std::string_view text) {
  const bool container = v == V::Object || v == V::Array;
  const Kind skip = container ? Kind::Skip : Kind::None;
  if (frames_.empty()) {
    if (v == V::Object) {
      root_.Reset(feed_.Line());
      pending_ = Frame{Kind::Feature, &root_};
      return Kind::Feature;
    }
    if (v == V::Array) return Kind::List;
    return Kind::None;
  }
  Frame& t = frames_.back();
  switch (t.kind) {
    case Kind::List:
      if (v == V::Object) {
        geoJson_ = true;
        item_.Reset(feed_.Line());
        pending_ = Frame{Kind::Feature, &item_};
        return Kind::Feature;
      }
      ++notPoints_;  // an entry that is no feature at all
      return skip;
    case Kind::Feature: {
      Feature& f = *t.f;
      const Slot slot = t.slot;
      t.slot = Slot::None;
      switch (slot) {
        case Slot::Type:
          if (v == V::String) f.type.assign(text);
          return skip;
        case Slot::Features:
          f.features = true;
          return v == V::Array ? Kind::List : skip;
        case Slot::Geometry:
          if (v == V::Object) {
            f.geom = Feature::Geom::Object;
            f.gType.clear();
            f.shape = Feature::Shape::Empty;
            f.npos = 0;
            f.ResetShape();
            pending_ = Frame{Kind::Geometry, &f};
            return Kind::Geometry;
          }
          f.geom = v == V::Null ? Feature::Geom::Null : Feature::Geom::Other;
          return skip;
        case Slot::Properties:
          f.properties = true;
          if (v != V::Object) return skip;
          path_.clear();
          pending_ = Frame{Kind::Props, &f};
          return Kind::Props;
        case Slot::Coordinates:
          f.coordinates = true;
          return Coordinates(f, v);
        default:
          return skip;
      }
    }
    case Kind::Geometry: {
      Feature& f = *t.f;
      const Slot slot = t.slot;
      t.slot = Slot::None;
      if (slot == Slot::Type && v == V::String) f.gType.assign(text);
      if (slot == Slot::Coordinates) {
        // A line or polygon named before its coordinates is not kept.
        if (!f.gType.empty() && !IsPointType(f.gType) && !Shapes(f)) {
          f.shape = Feature::Shape::Bad;
          return skip;
        }
        return Coordinates(f, v);
      }
      return skip;
    }
    case Kind::Coords: {
      Feature& f = *t.f;
      if (v == V::Object) {
        f.shape = Feature::Shape::Bad;
        return Kind::Skip;
      }
      const bool shapes = Shapes(f);
      if (t.level == 0) {
        if (v == V::Array) {
          const bool first = t.index++ == 0;
          // A MultiPoint's positions are kept; a line's need not be.
          if (f.shape == Feature::Shape::Empty)
            f.shape = shapes && !f.gType.empty() ? Feature::Shape::Bad : Feature::Shape::Nested;
          if (f.shape != Feature::Shape::Nested) {
            if (f.shape != Feature::Shape::Overflow) f.shape = Feature::Shape::Bad;
            if (!shapes) return Kind::Skip;
          } else {
            f.NewPosition();
            if (f.bytes > GeoJsonReader::kMaxFeatureBytes) {
              Overflow(f);
              if (!shapes) return Kind::Skip;
            }
          }
          pending_ = Frame{Kind::Coords, &f, Slot::None, 1};
          pending_.first = first;
          return Kind::Coords;
        }
        if (f.shape == Feature::Shape::Empty) {
          f.shape = Feature::Shape::Flat;
          f.NewPosition();
        }
        const std::int64_t i = t.index++;
        if (f.shape == Feature::Shape::Flat) {
          Component(f.pos[0], i, v, text);
        } else if (f.shape != Feature::Shape::Overflow) {
          f.shape = Feature::Shape::Bad;
        }
        if (shapes) ShapeValue(f, 0, i, v, text);
        return Kind::None;
      }
      if (v == V::Array) {  // a position within a position: a line's or a polygon's
        f.shape = Feature::Shape::Bad;
        if (!shapes) return Kind::Skip;
        pending_ = Frame{Kind::Coords, &f, Slot::None, t.level + 1};
        pending_.first = t.index++ == 0;
        return Kind::Coords;
      }
      const std::int64_t i = t.index++;
      if (f.shape == Feature::Shape::Nested) Component(f.pos[f.npos - 1], i, v, text);
      if (shapes) ShapeValue(f, t.level, i, v, text);
      return Kind::None;
    }
    case Kind::Props:
      return PropValue(*t.f, v, text);
    case Kind::PropsList:
      path_.resize(t.pathLen);
      path_ += '.';
      path_ += std::to_string(t.index++);
      return PropValue(*t.f, v, text);
    case Kind::Skip:
    case Kind::None:
      break;
  }
  return skip;
}

Handler::Kind Handler::Coordinates(Feature& f, V v) {
  f.npos = 0;
  if (v == V::Array) {
    f.shape = Feature::Shape::Empty;
    f.ResetShape();
    pending_ = Frame{Kind::Coords, &f, Slot::None, 0};
    pending_.first = true;
    return Kind::Coords;
  }
  f.shape = v == V::Null ? Feature::Shape::Empty : Feature::Shape::Bad;
  return v == V::Object ? Kind::Skip : Kind::None;
}

void Handler::Component(Position& p, std::int64_t i, V v, std::string_view text) {
  if (i > 1) return;  // an altitude
  std::string& out = i == 0 ? p.lon : p.lat;
  bool& has = i == 0 ? p.hasLon : p.hasLat;
  has = v == V::Number || v == V::String;
  if (!has) return;
  // Judged later as a GPX file's coordinates are, as written ("-0",
  // "12.30000"); JSON's exponent form, which GPX has not (Python writes
  // 5e-05), first becomes the plain decimal it stands for.
  if (v == V::Number && text.find_first_of("eE") != std::string_view::npos) {
    out = PlainDecimal(text);
  } else {
    out.assign(text);
  }
  Feature& f = *frames_.back().f;
  f.bytes += out.size();
  f.posBytes += out.size();
  if (f.bytes > GeoJsonReader::kMaxFeatureBytes) Overflow(f);
}

void Handler::ShapeValue(Feature& f, int level, std::int64_t i, V v, std::string_view text) {
  if (f.posLevel < 0) f.posLevel = level;
  if (f.posLevel != level) f.shapeBad = true;  // positions at two depths
  if (i > 1) return;                           // an altitude
  std::string& out = i == 0 ? f.vertex.lon : f.vertex.lat;
  bool& has = i == 0 ? f.vertex.hasLon : f.vertex.hasLat;
  has = v == V::Number || v == V::String;
  out.assign(has ? text : std::string_view());
}

void Handler::ShapeClose(const Frame& t) {
  Feature& f = *t.f;
  if (f.posLevel < 0 || !Shapes(f)) return;
  if (t.level == f.posLevel) {  // a vertex
    if (!f.partOpen) f.part.Reset(impl_.shapes, false);
    f.partOpen = true;
    Position& p = f.vertex;
    f.part.Add(p.lon, p.lat, p.hasLon && p.hasLat);
    p.lon.clear();
    p.lat.clear();
    p.hasLon = p.hasLat = false;
  } else if (t.level == f.posLevel - 1 && f.partOpen) {  // a line or a ring
    f.partOpen = false;
    if (!t.first && (IEquals(f.gType, "Polygon") || IEquals(f.gType, "MultiPolygon")))
      return;  // a hole: no point of its own
    if (f.nparts == f.parts.size()) f.parts.emplace_back();
    ShapePart& part = f.parts[f.nparts++];
    part.first = t.first;
    for (const bool ring : {false, true}) {
      Position& p = ring ? part.asRing : part.asLine;
      f.part.SetRing(ring);
      bool has = false;
      f.part.Result(p.lon, p.lat, has);
      p.hasLon = p.hasLat = has;
      f.bytes += sizeof(Position) + p.lon.size() + p.lat.size();
    }
  }
}

int Handler::ShapePoints(const Feature& f) {
  // The depth of the positions says which parts there are; a polygon's
  // points are its outer rings'.
  int depth;
  bool rings;
  if (IEquals(f.gType, "LineString")) {
    depth = 1, rings = false;
  } else if (IEquals(f.gType, "MultiLineString")) {
    depth = 2, rings = false;
  } else if (IEquals(f.gType, "Polygon")) {
    depth = 2, rings = true;
  } else {
    depth = 3, rings = true;
  }
  shapePoints_.clear();
  if (f.posLevel < 0 && !f.shapeBad) return 0;  // no vertex at all
  if (f.shapeBad || f.posLevel != depth) return -1;
  for (std::size_t i = 0; i < f.nparts; ++i)
    if (!rings || f.parts[i].first)
      shapePoints_.push_back(rings ? f.parts[i].asRing : f.parts[i].asLine);
  return static_cast<int>(shapePoints_.size());
}

void Handler::Overflow(Feature& f) {
  f.shape = Feature::Shape::Overflow;
  f.bytes -= f.posBytes;
  f.posBytes = 0;
  f.npos = 0;
}

Handler::Kind Handler::PropValue(Feature& f, V v, std::string_view text) {
  if (v == V::Object || v == V::Array) {
    pending_ = Frame{v == V::Object ? Kind::Props : Kind::PropsList, &f};
    pending_.pathLen = path_.size();
    return pending_.kind;
  }
  f.AddProp(path_, text);
  return Kind::None;
}

bool Handler::key(std::string& k) {
  feed_.lastEvent = feed_.Offset();
  Frame& t = frames_.back();
  const bool root = t.f == &root_;
  switch (t.kind) {
    case Kind::Feature:
      t.slot = IEquals(k, "type")                  ? Slot::Type
               : IEquals(k, "geometry")            ? Slot::Geometry
               : IEquals(k, "properties")          ? Slot::Properties
               : root && IEquals(k, "features")    ? Slot::Features
               : root && IEquals(k, "coordinates") ? Slot::Coordinates
                                                   : Slot::None;
      break;
    case Kind::Geometry:
      t.slot = IEquals(k, "type")          ? Slot::Type
               : IEquals(k, "coordinates") ? Slot::Coordinates
                                           : Slot::None;
      break;
    case Kind::Props:
      path_.resize(t.pathLen);
      if (t.pathLen) path_ += '.';
      path_ += k;
      if (path_.size() > GeoJsonReader::kMaxValueBytes) {
        Problem("a property's key path longer than 16 MB at line " + std::to_string(feed_.Line()));
        return false;
      }
      break;
    default:
      break;
  }
  return true;
}

bool Handler::Close() {
  feed_.lastEvent = feed_.Offset();
  const Frame t = frames_.back();
  frames_.pop_back();
  if (t.kind == Kind::Coords && impl_.shapes != ShapePoint::None) ShapeClose(t);
  if (t.kind != Kind::Feature) return true;
  Feature& f = *t.f;
  if (&f == &root_) {
    if (f.features || IEquals(f.type, "FeatureCollection")) {
      geoJson_ = true;
      return !stopped_;
    }
    if (f.coordinates && f.geom == Feature::Geom::Missing && !f.type.empty()) {  // a bare geometry
      f.geom = Feature::Geom::Object;
      f.gType = f.type;
    } else if (!IEquals(f.type, "Feature") && f.geom == Feature::Geom::Missing && !f.properties) {
      return true;  // no GeoJSON: told at the end
    }
    geoJson_ = true;
  }
  Emit(f);
  return !stopped_ && !failed_;
}

bool Handler::Budget() {
  if (stopped_) return false;
  const Feature* f = frames_.empty() ? nullptr : frames_.back().f;
  if (f && f->bytes > GeoJsonReader::kMaxFeatureBytes) {
    Problem("a feature of more than 64 MB of properties and positions at line " +
            std::to_string(f->line));
    return false;
  }
  return true;
}

Item& Handler::NextItem() {
  if (out_.count == out_.items.size()) out_.items.emplace_back();
  return out_.items[out_.count++];
}

void Handler::Emit(Feature& f) {
  std::size_t n = 1;  // points; with no positions, one without coordinates
  const Position* positions = nullptr;
  switch (f.geom) {
    case Feature::Geom::Other:
      ++notPoints_;
      return;
    case Feature::Geom::Object:
      if (f.shape == Feature::Shape::Overflow && IsPointType(f.gType)) {
        Problem("a MultiPoint of more positions than 64 MB hold at line " + std::to_string(f.line));
        failed_ = true;
        return;
      }
      if (IEquals(f.gType, "Point")) {
        if (f.shape == Feature::Shape::Flat) positions = f.pos.data();
      } else if (IEquals(f.gType, "MultiPoint")) {
        if (f.shape == Feature::Shape::Nested && f.npos > 0) {
          positions = f.pos.data();
          n = f.npos;
        }
      } else if (impl_.shapes != ShapePoint::None && IsShapeType(f.gType)) {
        const int k = ShapePoints(f);
        if (k < 0) {
          ++notPoints_;
          return;
        }
        if (k > 0) {
          positions = shapePoints_.data();
          n = static_cast<std::size_t>(k);
        }
      } else {
        ++notPoints_;
        return;
      }
      break;
    default:
      break;
  }

  // The name, comment and category by the keys' ranks.
  const std::string *name = nullptr, *comment = nullptr, *category = nullptr;
  std::size_t nameRank = SIZE_MAX, commentRank = SIZE_MAX;
  for (std::size_t i = 0; i < f.nprops; ++i) {
    const auto& [k, v] = f.props[i];
    if (!HasText(v)) continue;
    const std::size_t nr = Rank(k, {"name", "title", "location.name", "location.business name"});
    if (nr < 4 && nr < nameRank) {
      nameRank = nr;
      name = &v;
    }
    const std::size_t cr = Rank(k, {"description", "comment", "location.address"});
    if (cr < 3 && cr < commentRank) {
      commentRank = cr;
      comment = &v;
    }
    if (!category && IEquals(k, "category")) category = &v;
  }
  if (!name) {
    nameless_ += static_cast<std::int64_t>(n);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    Item& it = NextItem();
    GpxWaypoint& w = it.w;
    w.name.assign(*name);
    JoinNameLines(w.name);
    if (comment) {
      JoinCommentLines(*comment, "\n", w.comment);
    } else {
      w.comment.clear();
    }
    if (category) {
      w.category.assign(*category);
      JoinNameLines(w.category);
    } else {
      w.category.clear();
    }
    if (positions) {
      const Position& p = positions[i];
      w.lat.assign(p.lat);
      w.lon.assign(p.lon);
      w.hasLat = p.hasLat;
      w.hasLon = p.hasLon;
    } else {
      w.lat.clear();
      w.lon.clear();
      w.hasLat = w.hasLon = false;
    }
    if (it.named.size() < f.nprops) it.named.resize(f.nprops);
    for (std::size_t j = 0; j < f.nprops; ++j) {
      it.named[j].first.assign(f.props[j].first);
      it.named[j].second.assign(f.props[j].second);
    }
    it.named.resize(f.nprops);
    it.line = f.line;
    if (out_.count >= kBatchPoints) {
      out_.nameless = nameless_;
      out_.notPoints = notPoints_;
      if (!impl_.Hand(out_)) {
        stopped_ = true;
        return;
      }
    }
  }
}

bool Handler::parse_error(std::size_t position, const std::string&,
                          const nlohmann::detail::exception& ex) {
  if (stopped_) return false;
  if (feed_.tooLong) {
    Problem("a value longer than 16 MB at line " + std::to_string(feed_.Line()));
    return false;
  }
  // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
  const std::string_view what = ex.what();
  const std::size_t at = what.find("parse error at ");
  if (at != std::string_view::npos) {
    Problem("bad JSON " + PrintableMessage(what.substr(at + 12)));
  } else {  // "[json.exception.out_of_range.406] number overflow parsing '1e999'"
    const std::size_t end = what.find("] ");
    Problem("bad JSON at byte " + std::to_string(position) + ": " +
            PrintableMessage(end == std::string_view::npos ? what : what.substr(end + 2)));
  }
  return false;
}

void Handler::Finish(bool parsed) {
  if (parsed && !geoJson_) Problem("not GeoJSON: no FeatureCollection, Feature or point geometry");
  out_.nameless = nameless_;
  out_.notPoints = notPoints_;
  if (!stopped_ && out_.count) impl_.Hand(out_);
  std::lock_guard lock(impl_.mu);
  impl_.done = true;
  impl_.doneProblem = problem_;
  impl_.doneNameless = nameless_;
  impl_.doneNotPoints = notPoints_;
  impl_.cv.notify_all();
}

}  // namespace

bool GeoJsonReader::Impl::TakeBlock(std::string& block) {
  std::unique_lock lock(mu);
  if (block.capacity()) spareBlocks.push_back(std::move(block));
  cv.notify_all();
  cv.wait(lock, [&] { return stop || !blocks.empty(); });
  if (stop) return false;
  block = std::move(blocks.front());
  blocks.pop_front();
  cv.notify_all();
  return true;
}

bool GeoJsonReader::Impl::Hand(Batch& out) {
  std::unique_lock lock(mu);
  cv.wait(lock, [&] { return stop || batches.size() < kQueued; });
  if (stop) return false;
  batches.push_back(std::move(out));
  out = Batch();
  if (!spareBatches.empty()) {
    out = std::move(spareBatches.back());
    spareBatches.pop_back();
  }
  out.count = 0;
  cv.notify_all();
  return true;
}

void GeoJsonReader::Impl::Parse() {
  Feed feed(this);
  Handler h(*this, feed);
  bool parsed = false;
  try {
    parsed = Json::sax_parse(FeedIterator(&feed), FeedIterator(), &h);
  } catch (const std::bad_alloc&) {
    h.Problem("out of memory");
  } catch (const std::exception& e) {  // none is known to come; the thread must not end on one
    h.Problem(std::string("cannot read: ") + e.what());
  }
  h.Finish(parsed);
}

std::size_t GeoJsonReader::Impl::Fill(std::string& block) {
  // What one read gives: a pipe's bytes are parsed as they come.
  block.resize(kBlock);
  const std::size_t n = src.Read(block.data(), kBlock);
  block.resize(n);
  read += n;
  return n;
}

bool GeoJsonReader::Impl::TakeBatch() {
  std::unique_lock lock(mu);
  cur.count = 0;
  spareBatches.push_back(std::move(cur));
  cur = Batch();
  pos = 0;
  for (;;) {
    if (!batches.empty()) {
      cur = std::move(batches.front());
      batches.pop_front();
      nameless = cur.nameless;
      notPoints = cur.notPoints;
      cv.notify_all();
      return true;
    }
    if (done) {
      finished = true;
      if (problem.empty()) problem = doneProblem;
      nameless = doneNameless;
      notPoints = doneNotPoints;
      return false;
    }
    if (!inputEnded && blocks.size() < kQueued) {
      std::string b;
      if (!spareBlocks.empty()) {
        b = std::move(spareBlocks.back());
        spareBlocks.pop_back();
      }
      lock.unlock();
      const std::size_t n = Fill(b);
      const bool go = !progress || progress->Update(read, total);
      lock.lock();
      inputEnded = n == 0;
      blocks.push_back(std::move(b));  // an empty one: the end
      cv.notify_all();
      if (!go) {
        cancelled = true;
        return false;
      }
      continue;
    }
    cv.wait(lock);
  }
}

GeoJsonReader::GeoJsonReader(ByteSource& src, ProgressSink* progress, ShapePoint shapes)
    : impl_(std::make_unique<Impl>(src, progress, shapes)) {
  try {
    impl_->parser = std::thread([impl = impl_.get()] { impl->Parse(); });
  } catch (const std::system_error&) {
    impl_->problem = "no thread to read it on";
    impl_->finished = true;
  }
}

GeoJsonReader::~GeoJsonReader() = default;

bool GeoJsonReader::Next(GpxWaypoint& w, Named& named) {
  Impl& m = *impl_;
  for (;;) {
    if (m.pos < m.cur.count) {
      Item& it = m.cur.items[m.pos++];
      swap(w, it.w);
      named.swap(it.named);
      m.line = it.line;
      return true;
    }
    if (m.finished || m.cancelled || !m.TakeBatch()) return false;
  }
}

bool GeoJsonReader::cancelled() const {
  return impl_->cancelled;
}
std::int64_t GeoJsonReader::nameless() const {
  return impl_->nameless;
}
std::int64_t GeoJsonReader::notPoints() const {
  return impl_->notPoints;
}
std::int64_t GeoJsonReader::line() const {
  return impl_->line;
}
const std::string& GeoJsonReader::problem() const {
  return impl_->problem;
}

bool GeoJsonReader::LooksLikeGeoJson(std::string_view head) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  const std::size_t first = head.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || (head[first] != '{' && head[first] != '[')) return false;
  for (std::string_view token :
       {"\"FeatureCollection\"", "\"Feature\"", "\"features\"", "\"geometry\""})
    if (head.find(token) != std::string_view::npos) return true;
  return false;
}

std::string PlainDecimal(std::string_view number) {
  const std::size_t e = number.find_first_of("eE");
  if (e == std::string_view::npos) return std::string(number);
  std::string_view mant = number.substr(0, e), exp = number.substr(e + 1);
  std::string sign;
  if (!mant.empty() && (mant[0] == '-' || mant[0] == '+')) {
    if (mant[0] == '-') sign = "-";
    mant.remove_prefix(1);
  }
  if (!exp.empty() && exp[0] == '+') exp.remove_prefix(1);
  int shift = 0;
  const auto r = std::from_chars(exp.data(), exp.data() + exp.size(), shift);
  if (r.ec != std::errc() || r.ptr != exp.data() + exp.size() || shift > 400 || shift < -400)
    return std::string(number);
  const std::size_t dot = mant.find('.');
  std::string digits(mant.substr(0, dot));
  if (dot != std::string_view::npos) digits.append(mant.substr(dot + 1));
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
    return std::string(number);
  // Where the point goes in digits.
  const long point = static_cast<long>(dot == std::string_view::npos ? mant.size() : dot) + shift;
  std::string whole, fraction;
  if (point <= 0) {
    whole = "0";
    fraction = std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    whole = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    whole = digits.substr(0, static_cast<std::size_t>(point));
    fraction = digits.substr(static_cast<std::size_t>(point));
  }
  const std::size_t nz = whole.find_first_not_of('0');
  whole = nz == std::string::npos ? "0" : whole.substr(nz);
  return sign + whole + (fraction.empty() ? "" : "." + fraction);
}

}  // namespace marklode
