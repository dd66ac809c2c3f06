// GPX files in the shapes real programs write, each with the POI-CSV records
// it must give (tests/realworld/NAME.gpx beside NAME.csv), converted with the
// command line's defaults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/gpx_reader.h"
#include "engine/gpx_to_csv.h"
#include "services/text_decoding.h"
#include "services/text_files.h"
#include "tests/chunked_source.h"
#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

using test::ReadFile;

const std::string kFixtures = std::string(MARKLODE_SOURCE_DIR) + "/tests/realworld/";

struct Case {
  const char* file;
  std::vector<std::string> messages;  // "TITLE: TEXT"
};

const Case kCases[] = {
    {"planner_crlf", {}},
    {"tabs_lf", {}},
    {"one_line", {"Marklode: 1 waypoint without a name was skipped."}},
    {"cr_only", {}},
    {"bom", {}},
    {"cdata_entities", {}},
    {"lon_first_single_quotes", {}},
    {"gpx10", {}},
    {"mixed_routes_tracks", {"Marklode: 2 waypoints without a name were skipped."}},
    // A paragraph break in a comment: the empty line is a line of the comment
    // like any other, so it gives an empty piece between two " - ".
    {"blank_comment_line", {}},
    // Element text over several lines, as marine and planning software write
    // it: a name's lines join with single spaces, a comment's as comment lines.
    {"marine_multiline", {"Marklode: 1 waypoint without a name was skipped."}},
    {"planner_wrapped", {}},
    {"wrapped_cr_only", {}},
    // A comment never closed keeps the one before and ends with its waypoint.
    {"unclosed_cmt", {}},
    // Saved as "Unicode": UTF-16 with a byte order mark, either byte order.
    {"utf16le", {}},
    {"utf16be", {}},
    {"bad_coordinates",
     {"Marklode: Invalid lon/lat for: Salida.\r\n\r\nSkipping...",
      "Marklode: Invalid lon/lat for: Sin latitud.\r\n\r\nSkipping...",
      "Marklode: Invalid lon/lat for: Beyond the pole.\r\n\r\nSkipping..."}},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.file;
}

class RealWorldGpx : public ::testing::TestWithParam<Case> {};

TEST_P(RealWorldGpx, GivesItsRecords) {
  const Case& c = GetParam();
  test::TempDir dir;
  const std::string input = dir / (std::string(c.file) + ".gpx");
  test::WriteFile(input, ReadFile(kFixtures + c.file + ".gpx"));
  test::Harness h;
  h.request.input = input;
  EXPECT_EQ(h.ToPoi(), RunStatus::Done);

  const std::string expected = ReadFile(kFixtures + c.file + ".csv");
  EXPECT_EQ(ReadFile(dir / (std::string(c.file) + ".CSV")), expected);
  const auto records =
      static_cast<std::int32_t>(std::count(expected.begin(), expected.end(), '\n') + 1);
  EXPECT_EQ(h.result.entries, records);

  std::vector<std::string> shown;
  for (const auto& b : h.messages.boxes) shown.push_back(b.title + ": " + b.text);
  EXPECT_EQ(shown, c.messages);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealWorldGpx, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.file); });

std::vector<std::string> Waypoints(ByteSource& src, bool keepBreaks = true) {
  DecodingSource text(src);
  GpxReader reader(text, keepBreaks);
  GpxWaypoint w;
  std::vector<std::string> out;
  while (reader.Next(w))
    out.push_back(w.lat + "|" + w.lon + "|" + w.name + "|" + w.comment + "|" + w.category);
  return out;
}

TEST_P(RealWorldGpx, ReadsTheSameInAnyBlockSize) {
  const std::string text = ReadFile(kFixtures + GetParam().file + ".gpx");
  MemorySource whole(text);
  const auto expected = Waypoints(whole);
  std::vector<std::size_t> steps{64, 1000};
  for (std::size_t step = 1; step <= 17; ++step) steps.push_back(step);
  for (std::size_t step : steps) {
    test::ChunkedSource trickle(text, step);
    EXPECT_EQ(Waypoints(trickle), expected) << "blocks of " << step;
  }
}

// Found by fuzzing: when the last read of the input only moved the unread
// data to the front of the buffer, the scan position was left behind, past
// the end of the data (undefined behaviour, caught by the sanitizer build).
TEST(GpxReaderRegression, ScanPositionFollowsTheDataAtTheEnd) {
  std::string input = ReadFile(std::string(MARKLODE_SOURCE_DIR) +
                               "/tests/fuzz/regressions/gpx_reader/stale-position-after-last-read");
  input.erase(0, 1);  // the fuzz target's option byte
  MemorySource src(input);
  EXPECT_EQ(Waypoints(src, false), std::vector<std::string>{"51.5|-0.5|Fish & <Chips>|é☺<b>\"'|"});
}

// Shapes of hostile or merely unusual input, each a few megabytes, that once
// took time growing with the square of their size or memory with the length
// of a line. Each must read in one pass and give its waypoints.
std::string Repeat(std::string_view piece, std::size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(piece);
  return out;
}

TEST(GpxReaderLargeInput, HostileShapesReadInOnePass) {
  const std::string amps(1 << 20, '&');
  const std::string wpt = "<wpt lat='1' lon='2'><name>B</name></wpt>";
  struct Case {
    const char* what;
    std::string gpx;
    std::vector<std::string> expected;
  } cases[] = {
      {"a comment over 100,000 lines",
       "<gpx><wpt lat='1' lon='2'><name>A</name><cmt>" + Repeat("line\n", 100'000) +
           "</cmt></wpt></gpx>",
       {"1|2|A|" + Repeat("line\n", 99'999) + "line|"}},
      {"a name and a comment of \"&\" without \";\"",
       "<wpt lat='1' lon='2'><name>" + amps + "</name><cmt>" + amps + "</cmt></wpt>",
       {"1|2|" + amps + "|" + amps + "|"}},
      {"a start tag over many lines with many attributes",
       "<wpt" + Repeat("\n  a='1' b=\"x\"", 200'000) + " lat='1'\n lon='2'><name>A</name></wpt>",
       {"1|2|A||"}},
      {"a start tag never closed",
       "<wpt lat='1' lon='2' " + Repeat("junk ", 400'000) + "<name>A</name></wpt>" + wpt,
       {"1|2|A||", "1|2|B||"}},
      {"a long attribute and long text outside the kept fields",
       "<wpt lat='1' lon='2' note='" + Repeat("n", 3'000'000) + "'><desc>" +
           Repeat("d", 3'000'000) + "</desc><name>A</name></wpt>" + Repeat("t", 3'000'000) + wpt,
       {"1|2|A||", "1|2|B||"}},
      {"a long CDATA section and runs of \"]\" and \"-\"",
       "<gpx><desc><![CDATA[" + Repeat("]", 1'000'000) + Repeat("x]]", 500'000) + "]]></desc>" +
           "<!--" + Repeat("-", 1'000'000) + "-->" + wpt + "</gpx>",
       {"1|2|B||"}},
      {"many comment starts and runs of \"<\"",
       Repeat("<!-- a -->", 200'000) + Repeat("<", 1'000'000) + "<!--<!--<!--" +
           Repeat("<!", 500'000) + "-->" + wpt,
       {"1|2|B||"}},
      {"many nameless waypoints",
       Repeat("<wpt lat='9' lon='9'><name> </name></wpt><wpt lat='9' lon='9'/>", 100'000) + wpt,
       {"1|2|B||"}},
  };
  for (const Case& c : cases) {
    MemorySource src(c.gpx);
    EXPECT_EQ(Waypoints(src), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace marklode
