// GPX files in the shapes real programs write, each with the POI-CSV records
// it must give (tests/realworld/NAME.gpx beside NAME.csv), converted with the
// command line's defaults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/gpx_reader.h"
#include "engine/gpx_to_csv.h"
#include "services/text_files.h"
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
    {"one_line", {}},
    {"cr_only", {}},
    {"bom", {}},
    {"cdata_entities", {}},
    {"lon_first_single_quotes", {}},
    {"gpx10", {}},
    {"mixed_routes_tracks", {}},
    // A paragraph break in a comment: the empty line is a line of the comment
    // like any other, so it gives an empty piece between two " - ".
    {"blank_comment_line", {}},
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
  h.ctx.InputSpec = input;
  EXPECT_EQ(ConvertGpxToCsv(h.ctx, "<T>", false, "", "", "", "", ""), RunStatus::Done);

  const std::string expected = ReadFile(kFixtures + c.file + ".csv");
  EXPECT_EQ(ReadFile(dir / (std::string(c.file) + ".CSV")), expected);
  const auto records =
      static_cast<std::int32_t>(std::count(expected.begin(), expected.end(), '\n') + 1);
  EXPECT_EQ(h.ctx.EntriesConverted, records);

  std::vector<std::string> shown;
  for (const auto& b : h.messages.boxes) shown.push_back(b.title + ": " + b.text);
  EXPECT_EQ(shown, c.messages);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealWorldGpx, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.file); });

// The reader must not depend on where its input is cut into blocks: a pipe or
// a slow disk hands it a few bytes at a time.
class TrickleSource : public ByteSource {
 public:
  TrickleSource(std::string_view data, std::size_t step) : data_(data), step_(step) {}
  std::size_t Read(char* buf, std::size_t cap) override {
    const std::size_t n = std::min({cap, step_, data_.size() - pos_});
    std::copy_n(data_.data() + pos_, n, buf);
    pos_ += n;
    return n;
  }

 private:
  std::string_view data_;
  std::size_t step_, pos_ = 0;
};

std::vector<std::string> Waypoints(ByteSource& src, bool keepBreaks = true) {
  GpxReader reader(src, keepBreaks);
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
  for (std::size_t step : {1, 2, 3, 7, 64}) {
    TrickleSource trickle(text, step);
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

}  // namespace
}  // namespace marklode
