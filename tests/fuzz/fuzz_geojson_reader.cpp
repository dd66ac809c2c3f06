// Fuzzes the GeoJSON reader. The first byte picks the block size the reader
// is fed in and what lines and polygons become; the rest is the file. The same file read in one
// block and in small blocks must give the same points, counts and problem, and a point never comes
// without a name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/geojson_reader.h"
#include "services/text_files.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

struct Outcome {
  std::vector<marklode::GpxWaypoint> points;
  std::vector<std::vector<std::pair<std::string, std::string>>> named;
  std::vector<std::int64_t> lines;
  std::int64_t nameless = 0, notPoints = 0;
  std::string problem;
};

Outcome ReadAll(marklode::ByteSource& src, marklode::ShapePoint shapes) {
  Outcome o;
  marklode::GeoJsonReader reader(src, nullptr, shapes);
  marklode::GpxWaypoint w;
  std::vector<std::pair<std::string, std::string>> named;
  while (reader.Next(w, named)) {
    FUZZ_CHECK(!w.name.empty());
    o.points.push_back(w);
    o.named.push_back(named);
    o.lines.push_back(reader.line());
  }
  o.nameless = reader.nameless();
  o.notPoints = reader.notPoints();
  o.problem = reader.problem();
  return o;
}

bool Same(const marklode::GpxWaypoint& a, const marklode::GpxWaypoint& b) {
  return a.lat == b.lat && a.lon == b.lon && a.hasLat == b.hasLat && a.hasLon == b.hasLon &&
         a.name == b.name && a.comment == b.comment && a.category == b.category;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = 16 + 2 * std::size_t{data[0]};
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const auto shapes = static_cast<marklode::ShapePoint>(data[0] % 3);
  marklode::MemorySource whole(text);
  const Outcome expected = ReadAll(whole, shapes);
  ChunkedSource chunked(text, step);
  const Outcome got = ReadAll(chunked, shapes);
  FUZZ_CHECK(got.points.size() == expected.points.size());
  for (std::size_t i = 0; i < got.points.size(); ++i) {
    FUZZ_CHECK(Same(got.points[i], expected.points[i]));
    FUZZ_CHECK(got.named[i] == expected.named[i]);
    FUZZ_CHECK(got.lines[i] == expected.lines[i]);
  }
  FUZZ_CHECK(got.nameless == expected.nameless && got.notPoints == expected.notPoints);
  FUZZ_CHECK(got.problem == expected.problem);

  (void)marklode::GeoJsonReader::LooksLikeGeoJson(text);
  return 0;
}
