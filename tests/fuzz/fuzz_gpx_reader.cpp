// Fuzzes the streaming GPX reader. The first byte picks the comment line-break
// option and the block size the reader is fed in; the rest is the file. The
// same file read in one block and in small blocks must give the same
// waypoints, so a line or entity cut at a block boundary is never misread.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/gpx_reader.h"
#include "services/text_decoding.h"
#include "services/text_files.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<marklode::GpxWaypoint> ReadAll(marklode::ByteSource& src, bool keepBreaks) {
  std::vector<marklode::GpxWaypoint> out;
  marklode::GpxReader reader(src, keepBreaks);
  marklode::GpxWaypoint w;
  while (reader.Next(w)) out.push_back(w);
  return out;
}

bool Same(const marklode::GpxWaypoint& a, const marklode::GpxWaypoint& b) {
  return a.lat == b.lat && a.lon == b.lon && a.hasLat == b.hasLat && a.hasLon == b.hasLon &&
         a.name == b.name && a.comment == b.comment && a.category == b.category;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool keepBreaks = data[0] & 1;
  const std::size_t step = 1 + (data[0] >> 1) % 17;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  marklode::MemorySource whole(text);
  const auto expected = ReadAll(whole, keepBreaks);
  ChunkedSource chunked(text, step);
  const auto got = ReadAll(chunked, keepBreaks);
  FUZZ_CHECK(got.size() == expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) FUZZ_CHECK(Same(got[i], expected[i]));

  // Decoding never makes text longer: every entity is longer than what it stands for.
  FUZZ_CHECK(marklode::DecodeXmlText(text).size() <= text.size());
  std::string name(text);
  marklode::JoinNameLines(name);
  FUZZ_CHECK(name.size() <= text.size());
  marklode::JoinCommentLines(text, " - ");

  // Through the decoding source (UTF-16 or UTF-32 when a byte order mark or
  // the NULs of the first bytes say so), the block size must not matter either.
  ChunkedSource a(text, 64), b(text, step);
  marklode::DecodingSource da(a), db(b);
  const auto decoded = ReadAll(da, keepBreaks);
  const auto decodedSmall = ReadAll(db, keepBreaks);
  FUZZ_CHECK(decoded.size() == decodedSmall.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) FUZZ_CHECK(Same(decoded[i], decodedSmall[i]));
  return 0;
}
