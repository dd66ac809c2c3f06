// Fuzzes the streaming KML reader and the KMZ archive reader. The first byte
// picks the folder-path option, the block size the reader is fed in and what
// lines and polygons become; the rest is the file. The same file read in one block and in small
// blocks must give the same waypoints; read as a KMZ, it must end with its text or a failure, never
// a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kml_reader.h"
#include "engine/kmz_source.h"
#include "services/text_files.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<marklode::GpxWaypoint> ReadAll(marklode::ByteSource& src, bool folderPath,
                                           marklode::ShapePoint shapes, std::int64_t& skipped) {
  std::vector<marklode::GpxWaypoint> out;
  marklode::KmlReader reader(src, folderPath, nullptr, shapes);
  marklode::GpxWaypoint w;
  while (reader.Next(w)) out.push_back(w);
  skipped = reader.nameless() + reader.notPoints();
  return out;
}

bool Same(const marklode::GpxWaypoint& a, const marklode::GpxWaypoint& b) {
  return a.lat == b.lat && a.lon == b.lon && a.hasLat == b.hasLat && a.hasLon == b.hasLon &&
         a.name == b.name && a.comment == b.comment && a.category == b.category &&
         a.values == b.values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool folderPath = data[0] & 1;
  const std::size_t step = 1 + (data[0] >> 1) % 17;
  const auto shapes = static_cast<marklode::ShapePoint>((data[0] >> 5) % 3);
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::int64_t skippedWhole = 0, skippedChunked = 0;
  marklode::MemorySource whole(text);
  const auto expected = ReadAll(whole, folderPath, shapes, skippedWhole);
  ChunkedSource chunked(text, step);
  const auto got = ReadAll(chunked, folderPath, shapes, skippedChunked);
  FUZZ_CHECK(got.size() == expected.size());
  FUZZ_CHECK(skippedWhole == skippedChunked);
  for (std::size_t i = 0; i < got.size(); ++i) FUZZ_CHECK(Same(got[i], expected[i]));

  // HTML as plain text never grows: every tag and entity is longer than what it gives.
  FUZZ_CHECK(marklode::HtmlToText(text).size() <= text.size());

  // As a KMZ: read up to a bound (a bomb may inflate far), in small reads,
  // from a source that can seek (by the archive's directory) and from one
  // that cannot (by the local headers).
  marklode::MemorySource zip(text);
  ChunkedSource pipe(text, step);
  for (marklode::ByteSource* src :
       {static_cast<marklode::ByteSource*>(&zip), static_cast<marklode::ByteSource*>(&pipe)}) {
    marklode::KmzSource kmz(*src);
    char buf[97];
    std::size_t total = 0;
    for (std::size_t n; (n = kmz.Read(buf, 1 + total % sizeof buf)) > 0 && total < (4u << 20);)
      total += n;
  }
  return 0;
}
