// Route text waits for the end of the output (GPX puts routes after every
// waypoint); past a bound it waits in a scratch file in the output's folder.
// The output must not change by a byte, and nothing may be left behind.
#include <gtest/gtest.h>

#include <string>

#include "engine/gpx_writer.h"
#include "engine/poi_reader.h"
#include "engine/poi_to_gpx.h"
#include "tests/test_util.h"

namespace marklode {
namespace {

using test::TempDir;

// Route lines with points, and waypoints between the routes, so that route
// text and waypoint text interleave in the input: about bytes of CSV.
std::string RouteCsv(std::size_t bytes) {
  std::string csv;
  for (int r = 0; csv.size() < bytes; ++r) {
    csv += "[Begin-Route:Route " + std::to_string(r) + " <&>]\r\n";
    for (int k = 0; k < 40; ++k)
      csv += std::to_string(k % 180) + ".25," + std::to_string(r % 90) + ".5,\"Stop " +
             std::to_string(k % 7) + "\",Bus & tram ~ line " + std::to_string(r) + "\r\n";
    csv += "[End-Route]\r\n";
    csv += "-1.5,2.5,Between " + std::to_string(r % 5) + ",\"a \"\"quoted\"\" one\"\r\n";
  }
  return csv;
}

// The GPX text for csv from a writer that spills as spill says.
std::string Convert(const std::string& csv, const RouteSpill& spill) {
  RecordingMessageSink messages;
  std::string gpx;
  GpxWriter writer(
      [&](ByteBuffer& text) {
        gpx += text.view();
        text.clear();
        return true;
      },
      spill);
  PoiReader reader(messages, PoiTemplates{}, [&](Batch& batch) { return writer.Write(batch); });
  MemorySource src(csv);
  EXPECT_TRUE(reader.File(src, "routes.csv", nullptr));
  EXPECT_TRUE(reader.Finish());
  EXPECT_TRUE(writer.Finish());
  EXPECT_EQ(writer.scratchError(), 0);
  return gpx;
}

// Every bound, down to a spill after every item, gives the text kept in
// memory; so does a folder where no scratch file can be made.
TEST(RouteSpill, AnyBoundGivesTheSameOutput) {
  const std::string csv = RouteCsv(64 << 10);
  const std::string kept = Convert(csv, RouteSpill{});
  ASSERT_NE(kept.find("<rte>"), std::string::npos);
  TempDir dir;
  for (const std::size_t bound : {std::size_t{0}, std::size_t{1}, std::size_t{1000},
                                  std::size_t{64 << 10}, std::size_t{1} << 40}) {
    EXPECT_EQ(Convert(csv, RouteSpill{true, dir.path(), bound}), kept) << bound;
    EXPECT_TRUE(test::Listing(dir.path()).empty()) << bound;
  }
  EXPECT_EQ(Convert(csv, RouteSpill{true, dir / "missing", 0}), kept);
}

// A whole run with the usual bound: two megabytes of route lines makes
// tens of megabytes of route text, which passes through a scratch file.
TEST(RouteSpill, LargeRouteFileConvertsAsInMemory) {
  const std::string csv = RouteCsv(2 << 20);
  RecordingMessageSink memoryMessages;
  std::int32_t count = 0;
  const std::string want = ConvertPoiTextToGpx(csv, "routes.csv", {}, memoryMessages, count);
  ASSERT_GT(want.size(), 2 * RouteSpill::kBytes);

  TempDir dir;
  test::WriteFile(dir / "routes.csv", csv);
  test::Harness h;
  h.request.input = dir / "routes.csv";
  h.request.toGpx.comment.clear();
  EXPECT_EQ(h.ToGpx(), RunStatus::Done);
  EXPECT_EQ(h.result.entries, count);
  EXPECT_TRUE(test::ReadFile(dir / "routes.GPX") == want);  // not printed: tens of megabytes
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"routes.GPX", "routes.csv"}));
}

}  // namespace
}  // namespace marklode
