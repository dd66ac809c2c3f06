#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "engine/gpx_to_csv.h"
#include "engine/plan.h"
#include "engine/poi_to_gpx.h"
#include "engine/profiles.h"
#include "engine/reports.h"
#include "engine/run_main.h"
#include "services/platform.h"
#include "services/text_files.h"
#include "test_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(ProfileReader, IniRules) {
  const std::string ini =
      "; comment\r\nInput=not in a section\r\n[Other]\r\nOutput=wrong\r\n[ profile ]\r\n"
      "input = /a/trip.gpx \r\nOUTPUT=\"/b/out.csv\"\r\nGenerateComment='<T>'\r\n"
      ";CommentFilter=x\r\nCategoryFilter=\"half\r\nKeepCommentLineBreaks= TRUE \r\n"
      "GeneratePOIName=" +
      std::string(600, 'n') + "\r\n";
  ConversionProfile p = ParseProfile(ini);
  EXPECT_EQ(p.Input, "/a/trip.gpx");
  EXPECT_EQ(p.Output, "/b/out.csv");
  EXPECT_EQ(p.GenerateComment, "<T>");
  EXPECT_EQ(p.CommentFilter, "");
  EXPECT_EQ(p.CategoryFilter, "\"half");  // one quote is no pair
  EXPECT_TRUE(p.KeepCommentLineBreaks);
  EXPECT_EQ(p.GeneratePOIName, std::string(600, 'n'));  // values are read whole
  EXPECT_FALSE(ParseProfile("[Profile]\nKeepCommentLineBreaks=yes\n").KeepCommentLineBreaks);
}

TEST(ProfileTemplates, StoredExactly) {
  std::string_view g = LoadProfileTemplate("gpxtocsv"), c = LoadProfileTemplate("CSVTOGPX");
  auto lines = [](std::string_view t) {
    int n = 0;
    for (std::size_t p = 0; (p = t.find("\r\n", p)) != std::string_view::npos; p += 2) ++n;
    return n;
  };
  EXPECT_EQ(lines(g), 46);
  EXPECT_EQ(lines(c), 40);
  EXPECT_EQ(g.find('\n'), g.find("\r\n") + 1);
  EXPECT_NE(g.find("; Note: Filters are SQL \"like\" match strings.  (E.g. *something*)\r\n"),
            std::string_view::npos);
  EXPECT_EQ(c.substr(0, 7), "\r\n\r\n\r\n;");
  EXPECT_TRUE(LoadProfileTemplate("nope").empty());
}

TEST(ProfileTemplates, FilledTemplateReadsBack) {
  std::string text = FillProfileTemplate(LoadProfileTemplate("GPXTOCSV"), "C:/maps/trip.gpx",
                                         "C:/maps/trip.csv", true);
  ConversionProfile p = ParseProfile(text);
  EXPECT_EQ(p.Input, "C:/maps/trip.gpx");
  EXPECT_EQ(p.Output, "C:/maps/trip.csv");
  EXPECT_EQ(p.WaypointNameFilter, "*");
  EXPECT_EQ(p.CommentFilter, "*");
  EXPECT_EQ(p.CategoryFilter, "*");
  EXPECT_EQ(p.GenerateCSVFileName, "");
  EXPECT_EQ(p.GeneratePOIName, "");
  EXPECT_EQ(p.GenerateComment, "<T>");
  EXPECT_TRUE(p.KeepCommentLineBreaks);
  EXPECT_EQ(FillProfileTemplate("%infile% %INFILE%", "x", "y", false), "%infile% x");
}

// The templates write the keys the reader knows, each of them in one template
// or both, and nothing else: a key added to the table and not to a template,
// or the other way round, fails here.
TEST(ProfileTemplates, WriteTheKeysTheReaderKnows) {
  std::set<std::string, std::less<>> known, written;
  for (const ProfileKey& key : kProfileKeys) known.emplace(key.name);
  // Keys newer than the stored templates, which stay as they are: read
  // when a profile has them, off when it has not.
  for (const char* later : {"CategoryFromFolderPath", "ShapesAsPoints"}) known.erase(later);
  for (const std::string_view name : {"GPXTOCSV", "CSVTOGPX"}) {
    const std::string_view t = LoadProfileTemplate(name);
    for (std::size_t b = 0, e; b < t.size(); b = e + 2) {
      e = t.find("\r\n", b);
      if (e == std::string_view::npos) e = t.size();
      const std::string_view line = t.substr(b, e - b);
      if (line.empty() || line[0] == ';' || line[0] == '[') continue;
      const std::string_view key = line.substr(0, line.find('='));
      EXPECT_TRUE(known.contains(key)) << name << " writes " << key;
      written.emplace(key);
    }
  }
  EXPECT_EQ(written, known);
}

class Runs : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::Harness h;
};

TEST_F(Runs, ProfilesWrittenFromBothTemplatesRun) {
  WriteFile(dir / "trip.gpx",
            "<gpx><wpt lat='1' lon='2'><name>A</name><cmt>x\ny</cmt></wpt>"
            "<wpt lat='3' lon='4'><name>B</name></wpt></gpx>");
  SysPutTextFile(h.messages, dir / "g.zvp",
                 FillProfileTemplate(LoadProfileTemplate("GPXTOCSV"), dir / "trip.gpx",
                                     dir / "out.csv", true));
  EXPECT_EQ(h.RunProfile(dir / "g.zvp"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 2);
  EXPECT_EQ(ReadFile(dir / "out.csv"), "2,1,\"A\",\"x\ny\"\r\n4,3,\"B\"");

  SysPutTextFile(h.messages, dir / "c.zvp",
                 FillProfileTemplate(LoadProfileTemplate("CSVTOGPX"), dir / "out.csv",
                                     dir / "back.gpx", false));
  // found without regard to case
  EXPECT_EQ(h.RunProfile(dir / "C.ZVP"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 2);
  EXPECT_NE(ReadFile(dir / "back.gpx").find("<cmt>x\ny</cmt>"), std::string::npos);
  EXPECT_TRUE(h.messages.boxes.empty());
}

TEST_F(Runs, ProfileTemplatesAndFiltersApply) {
  WriteFile(dir / "trip.gpx",
            "<gpx><wpt lat='1' lon='2'><name>Cam 1</name><cmt>@50</cmt>"
            "<gpxx:Category>Speed</gpxx:Category></wpt>"
            "<wpt lat='3' lon='4'><name>Pub</name><gpxx:Category>Food</gpxx:Category></wpt></gpx>");
  WriteFile(dir / "p.zvp", "[Profile]\r\nInput=" + dir / "trip.GPX" +
                               "\r\nOutput=" + dir / "*.csv" +
                               "\r\nCategoryFilter=S*\r\nGenerateCSVFileName=<C>-<F>\r\n");
  h.RunProfile(dir / "p.zvp");
  EXPECT_EQ(h.result.entries, 1);
  // No GenerateComment key: no comment column, unlike a request without a profile.
  EXPECT_EQ(ReadFile(dir / "Speed-trip.CSV"), "2,1,\"Cam 1@50\"");
}

// A profile may itself be one of the files its name template gives: that
// output is refused, as one named by Output= would be, and the others written.
TEST_F(Runs, ProfileThatIsOneOfItsTemplatedOutputsIsRefused) {
  WriteFile(dir / "trip.gpx",
            "<gpx><wpt lat='1' lon='2'><name>A</name><gpxx:Category>Food</gpxx:Category></wpt>"
            "<wpt lat='3' lon='4'><name>B</name><gpxx:Category>Fuel</gpxx:Category></wpt>"
            "<wpt lat='5' lon='6'><name>C</name><gpxx:Category>Food</gpxx:Category></wpt></gpx>");
  const std::string profile = "[Profile]\r\nInput=" + dir / "trip.gpx" +
                              "\r\nOutput=" + dir / "x.csv" + "\r\nGenerateCSVFileName=<C>\r\n";
  std::vector<const char*> names = {"Food.CSV"};
#ifdef _WIN32
  names.push_back("food.csv");  // the same file there
#endif
  for (const char* name : names) {
    h.messages.boxes.clear();
    std::filesystem::remove(test::FsPath(dir / "Fuel.CSV"));
    WriteFile(dir / name, profile);
    EXPECT_EQ(h.RunProfile(dir / name), RunStatus::Done);
    EXPECT_EQ(h.result.entries, 1);
    EXPECT_EQ(ReadFile(dir / name), profile);
    EXPECT_EQ(ReadFile(dir / "Fuel.CSV"), "4,3,\"B\"");
    EXPECT_EQ(h.messages.Joined(),
              "Marklode: Can't create output file -- " + dir / "Food.CSV" + "\n")
        << name;
    std::filesystem::remove(test::FsPath(dir / name));
  }
}

TEST_F(Runs, MissingProfileIsReported) {
  EXPECT_EQ(h.RunProfile(dir / "none.zvp"), RunStatus::Stopped);  // the empty input is not found
  EXPECT_EQ(h.messages.boxes.at(0).text, "Can't open ZVP file!");
}

// The window, the batch and the progress take a list apart and count its
// items with this one routine.
TEST(BatchNames, ListsSplitIntoAFolderAndNames) {
  const struct {
    const char* list;
    const char* folder;
    std::vector<std::string_view> names;
    int items;
  } cases[] = {
      {"/maps/a.csv;b.csv", "/maps/", {"a.csv", "b.csv"}, 2},
      {"a.csv;;b", "", {"a.csv", "", "b"}, 2},
      {"/m/a;", "/m/", {"a", ""}, 1},
      {"/m/a;b;", "/m/", {"a", "b", ""}, 2},
      {";;", "", {"", "", ""}, 0},
      {"/m/", "/m/", {""}, 0},
      {"/m/x;sub/y", "/m/x;sub/", {"y"}, 1},  // the folder ends at the last "/"
      {"/m/x;y/a;b;c", "/m/x;y/", {"a", "b", "c"}, 3},
      // Spaces belong to the names, as in the folder.
      {"/my maps/a b.csv; c.csv", "/my maps/", {"a b.csv", " c.csv"}, 2},
      {"/m/a; ;b", "/m/", {"a", " ", "b"}, 3},
      {"one.gpx", "", {"one.gpx"}, 1},
  };
  for (const auto& c : cases) {
    const FileList list = SplitFileList(c.list);
    EXPECT_EQ(list.folder, c.folder) << c.list;
    EXPECT_EQ(list.names, c.names) << c.list;
    EXPECT_EQ(list.Items(), c.items) << c.list;
  }
#ifdef _WIN32
  const FileList list = SplitFileList("C:\\maps\\a.csv;;b.csv;");
  EXPECT_EQ(list.folder, "C:\\maps\\");
  EXPECT_EQ(list.Items(), 2);
#endif
  EXPECT_TRUE(IsFileList("a.csv;"));
  EXPECT_TRUE(IsFileList("/m/x;y/a"));
  EXPECT_FALSE(IsFileList("/m/a.csv"));
}

// The one routine by which the converters, lists, profiles and the window
// name a conversion's input and output, from text alone.
TEST(OutputNames, FromTheInputAndTheOutputAskedFor) {
  const struct {
    const char* input;
    const char* output;  // as asked for; empty: derived
    bool gpxInput;
    const char* completed;
    const char* written;
  } cases[] = {
      // An item of a list: cut at its file name's last dot, never its folder's.
      {"/maps/a.gpx", "", true, "/maps/a.gpx", "/maps/a.CSV"},
      {"/data/x.y.csv", "", false, "/data/x.y.csv", "/data/x.y.GPX"},
      {"/d/trip", "", true, "/d/trip.gpx", "/d/trip.CSV"},
      {"/d/pts", "", false, "/d/pts.CSV", "/d/pts.GPX"},
      {"/d/x.y.gpx", "", true, "/d/x.y.gpx", "/d/x.y.CSV"},
      {"/my.maps/points", "", false, "/my.maps/points.CSV", "/my.maps/points.GPX"},
      {"/d/", "", false, "/d/.CSV", "/d/.GPX"},
      {"/d/trip.gpx", "/o/out.csv", true, "/d/trip.gpx", "/o/out.csv"},
      // A wildcard in a POI-CSV output stands for the input's name, "?" as "*".
      {"/d/trip.gpx", "/o/*.csv", true, "/d/trip.gpx", "/o/trip.CSV"},
      {"/d/trip.gpx", "/o/out?.csv", true, "/d/trip.gpx", "/o/trip.CSV"},
      {"/d/trip.gpx", "*", true, "/d/trip.gpx", "trip.CSV"},
      // A GPX output is named as asked or after a pattern: refused with a wildcard.
      {"/d/*.csv", "/o/all.gpx", false, "/d/*.csv", "/o/all.gpx"},
      {"/d/?.csv", "", false, "/d/?.csv", "/d/?.GPX"},
      {"/d/*", "", false, "/d/*.CSV", "/d/*.GPX"},
      {"/d/a.csv", "/o/out?.gpx", false, "/d/a.csv", "/o/out?.gpx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
    const Direction direction = c.gpxInput ? Direction::GpxToPoi : Direction::PoiToGpx;
    const std::string completed = CompletedInput(c.input, direction);
    EXPECT_EQ(completed, c.completed);
    EXPECT_EQ(OutputNameOf(completed, c.output, direction), c.written);
  }
  EXPECT_TRUE(HasWildcards("/d/?.GPX"));
  EXPECT_TRUE(HasWildcards("/o/out*.gpx"));
  EXPECT_FALSE(HasWildcards("/o/all.gpx"));
}

TEST_F(Runs, ListsConvertEachItemBesideIt) {
  WriteFile(dir / "a.gpx", "<gpx><wpt lat='1' lon='2'><name>A</name></wpt></gpx>");
  WriteFile(dir / "b.gpx",
            "<gpx><wpt lat='1' lon='2'><name>B</name></wpt><wpt lat='3' lon='4'><name>C</name>"
            "</wpt></gpx>");
  h.request.input = dir / "a.gpx;b.gpx";
  EXPECT_EQ(h.ToPoi(), RunStatus::Done);
  EXPECT_EQ(h.result.filesProcessed, 2);
  EXPECT_EQ(h.result.entries, 3);
  EXPECT_EQ(ReadFile(dir / "a.CSV"), "2,1,\"A\"");
  EXPECT_EQ(ReadFile(dir / "b.CSV"), "2,1,\"B\"\r\n4,3,\"C\"");

  h.request.input = dir / ";";  // nothing after the last separator: no items
  EXPECT_EQ(h.ToPoi(), RunStatus::Done);
  EXPECT_EQ(h.result.filesProcessed, 0);
}

// An item whose output would be its own input stops the list before any item
// is converted, and says why; so does a GPX output named by a pattern. Names
// that differ in case are one file only where the folder says so.
TEST(Lists, AnItemThatWouldReplaceItsInputStopsTheListBeforeAnyIsWritten) {
  const std::string gpx = "<gpx><wpt lat='1' lon='2'><name>P</name></wpt></gpx>";
  const struct {
    const char* items;
    bool gpxInput;
    const char* stop;   // the output the stop names
    bool stopsOnPosix;  // else the list runs there; on Windows every case stops
  } cases[] = {
      {"p.csv;q.GPX", false, "q.GPX", true},
      {"p.csv;r.gpx", false, "r.GPX", false},
      {"g.gpx;r.CSV", true, "r.CSV", true},
      {"g.gpx;s.csv", true, "s.CSV", false},  // the window's "s.csv" gives "s.CSV"
      {"p.csv;p?.csv", false, "p?.GPX", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items);
    test::TempDir d;
    WriteFile(d / "p.csv", "1,2,P\n");
    WriteFile(d / "pp.csv", "1,2,PP\n");
    WriteFile(d / "q.GPX", "1,2,Q\n");
    WriteFile(d / "r.gpx", "1,2,R\n");
    WriteFile(d / "g.gpx", gpx);
    WriteFile(d / "r.CSV", gpx);
    WriteFile(d / "s.csv", gpx);
    const auto before = test::Listing(d.path());
    test::Harness run;
    run.request.input = d / c.items;
    const Direction direction = c.gpxInput ? Direction::GpxToPoi : Direction::PoiToGpx;
    if (c.stopsOnPosix || kHostPathRule == PathRule::Windows) {
      EXPECT_EQ(run.Run(direction), RunStatus::Stopped);
      EXPECT_EQ(run.result.filesProcessed, 0);
      EXPECT_EQ(test::Listing(d.path()), before);
      ASSERT_EQ(run.messages.boxes.size(), 1u);
      const std::string why =
          std::string(c.stop).find('?') != std::string::npos
              ? std::string(kWildcardGpxOutput) + (d / c.stop)
              : std::string(kCantCreateOutput) + (d / c.stop) + std::string(kOwnInputReason);
      EXPECT_EQ(run.messages.boxes[0].text, why);
      EXPECT_EQ(run.messages.boxes[0].kind, MessageKind::Error);
      EXPECT_TRUE(run.messages.StopShown());
      EXPECT_FALSE(run.messages.ProblemShown());
    } else {
      EXPECT_EQ(run.Run(direction), RunStatus::Done);
      EXPECT_EQ(run.result.filesProcessed, 2);
      EXPECT_TRUE(run.messages.boxes.empty()) << run.messages.Joined();
      EXPECT_EQ(test::Listing(d.path()).size(), before.size() + 2);
    }
  }
}

// Two items whose outputs are one file, by name or as a case-blind folder
// compares names: the later one is refused, not written over the earlier.
// An item that wrote nothing leaves its output to the next.
TEST_F(Runs, AListWritesEachOutputOnce) {
  auto gpx = [](const char* name) {
    return std::string("<gpx><wpt lat='1' lon='2'><name>") + name + "</name></wpt></gpx>";
  };
  WriteFile(dir / "a.gpx", gpx("first"));
  WriteFile(dir / "a.txt", gpx("second"));
  WriteFile(dir / "A.xml", gpx("third"));
  WriteFile(dir / "e.gpx", "<gpx></gpx>");
  WriteFile(dir / "e.txt", gpx("after an empty one"));
  h.request.input = dir / "a.gpx;a.txt;A.xml;e.gpx;e.txt";
  EXPECT_EQ(h.ToPoi(), RunStatus::Done);
  const std::int32_t files = h.result.filesProcessed, entries = h.result.entries;
  EXPECT_EQ(ReadFile(dir / "a.CSV"), "2,1,\"first\"");
  EXPECT_EQ(ReadFile(dir / "e.CSV"), "2,1,\"after an empty one\"");
  std::string refused = "Marklode: Can't create output file -- " + dir / "a.CSV" + "\n";
#ifdef _WIN32
  refused += "Marklode: Can't create output file -- " + dir / "A.CSV" + "\n";
  EXPECT_EQ(files, 3);
  EXPECT_EQ(entries, 2);
#else
  EXPECT_EQ(ReadFile(dir / "A.CSV"), "2,1,\"third\"");
  EXPECT_EQ(files, 4);
  EXPECT_EQ(entries, 3);
#endif
  EXPECT_EQ(h.messages.Joined(), refused);
}

// A cancel is honoured record by record and once more before the outputs are
// put in place, however small the input: the items before stand, the one
// cancelled leaves nothing, and the count of outputs put in place tells.
class CancelWhen : public ProgressSink {
 public:
  explicit CancelWhen(std::function<bool()> when) : when_(std::move(when)) {}
  bool Update(std::uint64_t, std::uint64_t) override { return true; }
  bool Cancelled() override { return when_(); }

 private:
  std::function<bool()> when_;
};

// Keeps what the run tells before each input: "name k/n", and cancels
// while the named input is read.
class PlaceRecorder : public CancelWhen {
 public:
  explicit PlaceRecorder(std::string cancelAt = {})
      : CancelWhen([this] { return !cancelAt_.empty() && input_ == cancelAt_; }),
        cancelAt_(std::move(cancelAt)) {}
  void Reading(std::string_view input, int item, int items) override {
    input_ = input;
    places.push_back(std::string(FileNamePart(input)) + " " + std::to_string(item) + "/" +
                     std::to_string(items));
  }
  std::vector<std::string> places;

 private:
  std::string cancelAt_, input_;
};

TEST_F(Runs, CancelAtTheThirdItemKeepsTheFirstTwo) {
  for (const char* name : {"a.csv", "b.csv", "c.csv"}) WriteFile(dir / name, "1,2,P\r\n3,4,Q\r\n");
  PlaceRecorder cancel(dir / "c.csv");
  h.services.progress = &cancel;
  h.request.input = dir / "a.csv;b.csv;c.csv";
  EXPECT_EQ(h.ToGpx(), RunStatus::Cancelled);
  EXPECT_EQ(h.result.outputsCommitted, 2);
  EXPECT_EQ(h.result.filesProcessed, 2);
  ASSERT_EQ(h.result.events.size(), 3u);
  EXPECT_EQ(h.result.events[2].outcome, ItemOutcome::Cancelled);
  EXPECT_EQ(test::Listing(dir.path()),
            (std::vector<std::string>{"a.GPX", "a.csv", "b.GPX", "b.csv", "c.csv"}));
}

// Told before every item: which item of how many is read, as the list's
// items are counted (empty ones are none); a single input has no place.
TEST_F(Runs, ListTellsEachItemsPlace) {
  std::filesystem::create_directory(test::FsPath(dir / "x;y"));  // a folder holding ";"
  for (const std::string& name : {dir / "a.csv", dir / "b.csv", dir / "x;y/c.csv"})
    WriteFile(name, "1,2,P\r\n");
  const struct {
    std::string list;
    std::vector<std::string> places;
  } cases[] = {
      {dir / "a.csv;b.csv", {"a.csv 1/2", "b.csv 2/2"}},
      {dir / "a.csv;;b.csv;", {"a.csv 1/2", "b.csv 2/2"}},
      {dir / ";a.csv;;", {"a.csv 1/1"}},
      // A refused item keeps its place: the next is still the third.
      {dir / "a.csv;a.CSV;b.csv", {"a.csv 1/3", "b.csv 3/3"}},
      {dir / "x;y/c.csv;c.csv", {"c.csv 1/2"}},  // the same output twice: the second refused
      {dir / "a.csv", {"a.csv 0/0"}},
  };
  for (const auto& c : cases) {
    PlaceRecorder recorder;
    h.services.progress = &recorder;
    h.request.input = c.list;
    EXPECT_EQ(h.ToGpx(), RunStatus::Done) << c.list;
    EXPECT_EQ(recorder.places, c.places) << c.list;
  }
}

TEST_F(Runs, CancelAfterTheLastRecordChangesNothing) {
  WriteFile(dir / "t.gpx", "<gpx><wpt lat='1' lon='2'><name>A</name></wpt></gpx>");
  WriteFile(dir / "t.csv", "1,2,P\r\n");
  for (int direction = 0; direction < 2; ++direction) {
    int asked = 0;  // the one record goes; the check before the outputs cancels
    CancelWhen cancel([&] { return ++asked > 1; });
    h.services.progress = &cancel;
    h.request.input = dir / (direction ? "t.gpx" : "t.csv");
    h.request.output = dir / "out.txt";
    const RunStatus st = direction ? h.ToPoi() : h.ToGpx();
    EXPECT_EQ(st, RunStatus::Cancelled);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(h.result.outputsCommitted, 0);
    EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"t.csv", "t.gpx"}));
  }
}

}  // namespace
}  // namespace marklode
