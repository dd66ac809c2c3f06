// Reads the points of a GeoJSON file as waypoints: the Point and MultiPoint
// features of a FeatureCollection, a bare Feature, or an array of Features.
// The JSON is read by nlohmann/json's SAX parser on a thread of its own, fed
// block by block, so a file of any size takes a few blocks of memory; the
// blocks are read, and progress told, on the calling thread.
//
// A feature's name is its "name" property (any case), else "title" ("Title"
// in saved-places exports), else "location.name" or "location.business name"
// (saved places nest the place under "location"); the comment is
// "description", else "comment", else "location.address"; the category is a
// "category" property, the one key the usual exports use for it. Every
// property, those three too, comes with each point as (key, text): nested
// objects flattened as "location.address", arrays as "tags.0", "tags.1".
//
// Coordinates are handed on as texts, as the file writes them ([lon, lat]),
// for the caller to judge as it judges a GPX waypoint's: out of range, a
// string that is no number, or a [lat, lon] written the wrong way round
// (its second value then out of the latitudes' range) all reach the caller
// as invalid, never as a point. A number's text is the file's own, byte for
// byte ("-0", "12.30000"), so a coordinate reads as the same text in a GPX
// file would; a number in exponent form, which GPX has not, is rewritten as
// the plain decimal it stands for, digit for digit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/gpx_reader.h"
#include "engine/progress.h"
#include "engine/request.h"
#include "services/text_files.h"

namespace marklode {

class GeoJsonReader {
 public:
  GeoJsonReader(ByteSource& src, ProgressSink* progress = nullptr,
                ShapePoint shapes = ShapePoint::None);
  ~GeoJsonReader();
  GeoJsonReader(const GeoJsonReader&) = delete;
  GeoJsonReader& operator=(const GeoJsonReader&) = delete;

  // The next point with its name, comment (line breaks as "\n", blanks
  // around them trimmed), category and coordinates (hasLat/hasLon false where
  // the position has no such value), plus the feature's properties in named,
  // reusing its room between calls. A feature without usable coordinates
  // (geometry null or missing, a Point with none) still gives one point. False
  // at the end, on a cancel, or on bad JSON (after the points before it).
  bool Next(GpxWaypoint& w, std::vector<std::pair<std::string, std::string>>& named);
  bool cancelled() const;
  std::int64_t nameless() const;   // points dropped for want of a name
  std::int64_t notPoints() const;  // features whose geometry is no Point/MultiPoint
  std::int64_t line() const;       // the line the last point's feature began on
  // Empty, or what was wrong with the input: bad JSON at line N, column M;
  // not GeoJSON; nesting or a value beyond what is read.
  const std::string& problem() const;
  // Whether bytes (the start of a file) look like GeoJSON: for recognising a
  // GeoJSON saved as .txt or .json.
  static bool LooksLikeGeoJson(std::string_view head);

  // Where reading stops: deeper nesting, and a longer single value (told
  // as the blocks are read, so to within one block: 256 KB), are problems.
  static constexpr int kMaxDepth = 512;
  static constexpr std::size_t kMaxValueBytes = std::size_t{16} << 20;
  // The most one feature's kept text (properties and positions) may take.
  static constexpr std::size_t kMaxFeatureBytes = std::size_t{64} << 20;

  struct Impl;  // the reading's state and its parser thread, kept in the .cpp

 private:
  std::unique_ptr<Impl> impl_;
};

// A JSON number's text in plain decimal form: "1.5e-3" gives "0.0015",
// "-2E2" "-200"; text without an exponent, or with one beyond 400, comes
// back as it is.
std::string PlainDecimal(std::string_view number);

}  // namespace marklode
