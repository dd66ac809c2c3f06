// The progress window's policy, as both windows follow it: when it shows,
// when the events get a turn, and what its first line says.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/run.h"
#include "services/messages.h"
#include "services/platform.h"
#include "services/settings.h"
#include "tests/test_util.h"
#include "window/form/progress_policy.h"

namespace marklode::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(FormProgress, ShowsAfterTheDelayAndTurnsEvery50Ms) {
  struct Report {
    int ms;  // since the run's first report
    bool due;
  };
  const Report reports[] = {
      {0, false},   {100, false}, {499, false}, {500, true},  {520, false},
      {549, false}, {550, true},  {551, false}, {2000, true}, {2010, false},
  };
  Clock::time_point now{};
  ProgressPolicy policy(milliseconds(500), [&now] { return now; });
  policy.BeginRun();
  const Clock::time_point start = now + milliseconds(7000);
  for (const Report& r : reports) {
    SCOPED_TRACE(r.ms);
    now = start + milliseconds(r.ms);
    EXPECT_EQ(policy.Due(), r.due);
  }
  // Cancelled, the run shows nothing more; the next run starts afresh.
  policy.Cancel();
  now += milliseconds(100);
  EXPECT_FALSE(policy.Due());
  EXPECT_TRUE(policy.cancelled());
  policy.BeginRun();
  EXPECT_FALSE(policy.cancelled());
  EXPECT_FALSE(policy.Due());  // a new first report
  now += milliseconds(499);
  EXPECT_FALSE(policy.Due());
  now += milliseconds(1);
  EXPECT_TRUE(policy.Due());
}

TEST(FormProgress, NoDelayShowsAtTheFirstReport) {
  Clock::time_point now{};
  ProgressPolicy policy(milliseconds(0), [&now] { return now; });
  EXPECT_TRUE(policy.Due());
  EXPECT_FALSE(policy.Due());
}

TEST(FormProgress, BarInThousandths) {
  EXPECT_EQ(ProgressPolicy::Permille(1000, 4000), 250);
  EXPECT_EQ(ProgressPolicy::Permille(5, 0), 0);
  EXPECT_EQ(ProgressPolicy::Permille(9, 4), 1000);
  EXPECT_EQ(ProgressPolicy::Permille(1ull << 40, 1ull << 41), 500);
}

TEST(FormProgress, HeadingNamesTheFileAndItsPlaceInAList) {
  const std::string maps = std::string("maps") + kPathSep;
  const struct {
    std::string input;
    int item, items;
    const char* heading;
  } cases[] = {
      {maps + "tour.gpx", 0, 0, "Converting tour.gpx"},
      {maps + "b.csv", 2, 3, "Converting b.csv, file 2 of 3"},
      {maps + "a.csv", 1, 1, "Converting a.csv"},
      {"", 0, 0, "Converting..."},
  };
  ProgressPolicy policy;
  policy.BeginRun();
  for (const auto& c : cases) {
    policy.Reading(c.input, c.item, c.items);
    EXPECT_EQ(policy.Heading(), c.heading);
  }
  policy.BeginRun();
  EXPECT_EQ(policy.Heading(), "Converting...");
}

// The heading at each report of a real list: the place the run tells,
// however the list is written.
class Headings : public ProgressSink {
 public:
  Headings() { policy.BeginRun(); }
  void Reading(std::string_view input, int item, int items) override {
    policy.Reading(input, item, items);
  }
  bool Update(std::uint64_t, std::uint64_t) override {
    const std::string heading = policy.Heading();
    if (lines.empty() || lines.back() != heading) lines.push_back(heading);
    return true;
  }
  ProgressPolicy policy;
  std::vector<std::string> lines;
};

TEST(FormProgress, HeadingOfAListCountsItsItems) {
  TempDir dir;
  std::filesystem::create_directory(FsPath(dir / "x;y"));
  for (const char* name : {"a.csv", "b.csv", "bigpoi.csv", "x;y/c.csv"})
    WriteFile(dir / name, "1,2,P\r\n");
  const struct {
    std::string list;
    std::vector<std::string> lines;
  } cases[] = {
      {dir / "a.csv;b.csv;bigpoi.csv",
       {"Converting a.csv, file 1 of 3", "Converting b.csv, file 2 of 3",
        "Converting bigpoi.csv, file 3 of 3"}},
      {dir / "a.csv;;bigpoi.csv;",
       {"Converting a.csv, file 1 of 2", "Converting bigpoi.csv, file 2 of 2"}},
      {dir / "x;y/c.csv", {"Converting c.csv"}},
  };
  for (const auto& c : cases) {
    MemorySettingsStore settings;
    RecordingMessageSink messages;
    Headings progress;
    RunServices services{messages, settings, &progress};
    Request request;
    request.direction = Direction::PoiToGpx;
    request.input = c.list;
    EXPECT_EQ(RunRequest(request, services).status, RunStatus::Done) << messages.Joined();
    EXPECT_EQ(progress.lines, c.lines) << c.list;
  }
}

}  // namespace
}  // namespace marklode::test
