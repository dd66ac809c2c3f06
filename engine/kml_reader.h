// Reads the placemarks of a KML file as a stream of bytes, as GpxReader reads
// GPX: not an XML parser, but a scanner that keeps a stack of the elements it
// is in (their kinds only) and gathers the text of the few a waypoint needs.
// Element names are compared without their prefix, so <kml:Placemark> reads
// as <Placemark>. Entities other than XML's own are never expanded, so a
// DOCTYPE's cannot grow the text; nesting past a depth is counted, not kept.
//
// Every Point of a Placemark (several inside a MultiGeometry) is a waypoint:
// its name, its description as plain text (HTML tags dropped, <br> a line
// break, entities decoded), the name of its innermost Folder (or the folders'
// path joined by " / ") as category, and its ExtendedData values and styleUrl
// by name. Lines, polygons and other shapes are counted, not converted, unless
// asked for as points: each LineString, Polygon (its outer ring) and
// LinearRing is then one more point, its coordinates read as they stream by.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/block_reader.h"
#include "engine/input_formats.h"
#include "engine/shape_point.h"

namespace marklode {

class KmlReader : public WaypointReader, private BlockReader {
 public:
  KmlReader(ByteSource& src, bool folderPath, ProgressSink* progress = nullptr,
            ShapePoint shapes = ShapePoint::None);
  bool Next(GpxWaypoint& w) override;
  bool cancelled() const override { return BlockReader::cancelled(); }
  std::int64_t nameless() const override { return nameless_; }
  void AddSkips(FileReport& report) const override;
  // Shapes other than points, counted.
  std::int64_t notPoints() const { return notPoints_; }

 private:
  enum class El : std::uint8_t {
    Other,
    Folder,
    Placemark,
    Point,
    Shape,  // a line, polygon, track or model
    Outer,  // a polygon's outerBoundaryIs
    Ring,   // the LinearRing in it
    ShapeCoords,
    Name,
    Description,
    StyleUrl,
    Data,
    Value,
    SimpleData,
    Coordinates,
  };
  enum class State : std::uint8_t {
    Text,
    Lt,
    Comment,
    Cdata,
    Pi,
    Decl,
    TagName,
    Attrs,
    Value,
    EndTag
  };
  enum class Capture : std::uint8_t {
    None,
    Name,
    Description,
    StyleUrl,
    Folder,
    Value,
    SimpleData,
    Coords,
    ShapeCoords
  };

  bool Advance();  // reads on until a placemark's points are ready; false at the end
  bool Section(std::string_view terminator, bool keep);
  bool DeclBytes();
  void TagNameBytes();
  void StartTag(std::string_view name);
  bool WholeTag();
  void AttrBytes();
  void StartElement(std::string_view name);
  void EndElement();
  void EndCapture();
  void EndPlacemark();
  void ShapeText(const char* p, const char* e);
  void ShapeTuple(std::string_view tuple);
  void AtEnd();
  El Parent() const { return stack_.empty() || deeper_ > 0 ? El::Other : stack_.back(); }

  const bool folderPath_;
  State state_ = State::Text;
  State afterSection_ =
      State::Text;  // where a comment or PI ends: a DOCTYPE's subset may hold them
  std::vector<El> stack_;
  std::int64_t deeper_ = 0;  // levels past the deepest kept
  std::string tagName_;      // the local name, up to a few bytes
  bool nameLong_ = false;
  char quote_ = '\0';
  char lastInTag_ = '\0';
  bool attrSep_ = true;  // the next name byte starts a new attribute name
  std::string attrName_;
  bool takeAttr_ = false;  // the value read is the element's name="..."
  std::string attr_;
  bool declSubset_ = false;

  Capture capture_ = Capture::None;
  std::size_t captureLevel_ = 0;
  std::string raw_, text_;

  std::vector<std::string> folders_;  // the names of the folders the scanner is in
  std::int64_t foldersDeeper_ = 0;
  bool inPlacemark_ = false;
  std::size_t placemarkLevel_ = 0;
  std::string name_, description_;
  bool hasName_ = false;
  std::vector<std::pair<std::string, std::string>> values_;
  std::string dataName_;
  std::vector<std::pair<std::string, std::string>> points_;  // lon, lat texts
  std::vector<bool> pointHas_;                               // a point's coordinates were read
  std::size_t shapes_ = 0;
  // Lines and polygons as points: the one being read, and its point's place.
  const ShapePoint shapeMode_;
  ShapeCenter shape_;
  std::size_t shapeLevel_ = 0;  // 0: none open
  std::size_t shapePoint_ = 0;
  std::string tuple_;  // a vertex's text cut by a block's end

  std::string category_;
  std::size_t ready_ = 0, next_ = 0;  // points of the last placemark, handed over so far
  std::int64_t nameless_ = 0;
  std::int64_t notPoints_ = 0;
};

// Where an element's name ends in text: at the first blank, '>' or '/', or
// at its end. local is set to where its local name starts: just past the
// last ':' before that end, or 0. The padded twin reads sixteen bytes at a
// time, past the text's end too (names are short: one step mostly does).
std::size_t TagNameEndScalar(std::string_view text, std::size_t& local);
std::size_t TagNameEnd(PaddedText text, std::size_t& local);
inline std::size_t TagNameEnd(std::string_view text, std::size_t& local) {
  return TagNameEndScalar(text, local);
}

// A KML description as plain text: "<br>" (in any spelling) a line break,
// other tags dropped, character entities (HTML's &nbsp; too) decoded.
std::string HtmlToText(std::string_view html);

}  // namespace marklode
