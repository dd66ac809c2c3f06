// The planner from strings: a request and a made-up file system in, the plan
// out. Paths use "/" (the POSIX rule); the Windows build runs the same table
// with its own separator.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/plan.h"
#include "services/platform.h"
#include "services/strings.h"

namespace marklode {
namespace {

// "/" in a test path becomes the host's separator.
std::string P(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '/') c = kPathSep;
  return out;
}

// Folders holding regular files by name, folders that ignore case, and
// names that are something else than a file.
class FakeFiles : public FileLookup {
 public:
  FakeFiles(std::map<std::string, std::vector<std::string>> folders,
            std::set<std::string> caseBlind = {}, std::set<std::string> notFiles = {})
      : caseBlind_(std::move(caseBlind)), notFiles_(std::move(notFiles)) {
    for (auto& [folder, names] : folders) folders_[P(folder)] = names;
  }

  std::vector<std::string> Find(std::string_view path) override {
    const auto it = folders_.find(std::string(DirectoryPart(path)));
    if (it == folders_.end()) return {};
    std::vector<std::string> found;
    // An exactly named file comes back alone, as the system's lookup gives it.
    for (const std::string& name : it->second)
      if (name == FileNamePart(path)) return {name};
    for (const std::string& name : it->second)
      if (WildcardMatch(name, FileNamePart(path))) found.push_back(name);
    return found;
  }
  std::string Resolve(std::string_view path) override {
    if (HasWildcards(FileNamePart(path))) return {};
    const std::vector<std::string> found = Find(path);
    return found.empty() ? std::string() : std::string(DirectoryPart(path)) + found.front();
  }
  std::string NotAFile(std::string_view given, std::string_view) override {
    return notFiles_.contains(std::string(given)) ? "folder " + std::string(given) : "";
  }
  bool SameFile(const std::string& a, const std::string& b) override {
    if (a == b) return true;
    return caseBlind_.contains(std::string(DirectoryPart(a))) &&
           DirectoryPart(a) == DirectoryPart(b) && IEquals(FileNamePart(a), FileNamePart(b));
  }

 private:
  std::map<std::string, std::vector<std::string>> folders_;
  std::set<std::string> caseBlind_, notFiles_;
};

struct Expected {
  bool isList;
  std::vector<std::string> outputs;  // of the items, in order
  PlanStop stop = PlanStop::None;
  const char* stopOutput = "";
  std::vector<ItemProblem> problems = {};  // of the items; empty: none
};

struct PlanCase {
  const char* name;
  Request request;
  Expected expected;
  std::set<std::string> caseBlind = {};
};

Request Req(Direction d, std::string input, std::string output = {}, std::string profile = {},
            std::string fileNameTemplate = {}) {
  Request r;
  r.direction = d;
  r.input = P(input);
  r.output = P(output);
  r.profile = P(profile);
  r.toPoi.fileName = std::move(fileNameTemplate);
  return r;
}

constexpr auto kToPoi = Direction::GpxToPoi;
constexpr auto kToGpx = Direction::PoiToGpx;

TEST(Planner, RequestsBecomeTheFilesTheyReadAndWrite) {
  const PlanCase cases[] = {
      // One input, its output beside it or as asked; a name without an
      // extension gets the direction's.
      {"GpxBeside", Req(kToPoi, "/d/trip"), {false, {"/d/trip.CSV"}}},
      {"PoiBeside", Req(kToGpx, "/d/p.csv"), {false, {"/d/p.GPX"}}},
      {"PoiPatternToOneFile", Req(kToGpx, "/d/*.csv", "/o/all.gpx"), {false, {"/o/all.gpx"}}},
      // "*" and "?" in a POI-CSV output stand for the input's name...
      {"StarNamesPoiOutput", Req(kToPoi, "/d/trip.gpx", "/o/*.csv"), {false, {"/o/trip.CSV"}}},
      {"QuestionNamesPoiOutput", Req(kToPoi, "/d/trip.gpx", "/o/x?.csv"), {false, {"/o/trip.CSV"}}},
      // ...and are refused in a GPX output, however it came to be named.
      {"StarInGpxOutput",
       Req(kToGpx, "/d/p.csv", "/o/*.gpx"),
       {false, {"/o/*.gpx"}, PlanStop::WildcardOutput, "/o/*.gpx"}},
      {"QuestionInGpxOutput",
       Req(kToGpx, "/d/p.csv", "/o/out?.gpx"),
       {false, {"/o/out?.gpx"}, PlanStop::WildcardOutput, "/o/out?.gpx"}},
      {"PatternNamesGpxOutput",
       Req(kToGpx, "/d/*.csv"),
       {false, {"/d/*.GPX"}, PlanStop::WildcardOutput, "/d/*.GPX"}},
      {"ListItemPatternNamesGpxOutput",
       Req(kToGpx, "/d/p.csv;q?.csv"),
       {true, {"/d/p.GPX", "/d/q?.GPX"}, PlanStop::WildcardOutput, "/d/q?.GPX"}},
      {"ProfileGpxOutputWithWildcard",
       Req(kToGpx, "/d/p.csv", "/o/?.gpx", "/d/x.zvp"),
       {false, {"/o/?.gpx"}, PlanStop::WildcardOutput, "/o/?.gpx"}},
      // An output that would replace its own input: by name, and by case only
      // where the folder ignores it.
      {"PoiOutputIsItsInput",
       Req(kToGpx, "/d/p.csv", "/d/p.csv"),
       {false, {"/d/p.csv"}, PlanStop::ReplacesInput, "/d/p.csv"}},
      {"CaseApartIsAnotherFile", Req(kToGpx, "/d/p.csv", "/d/P.CSV"), {false, {"/d/P.CSV"}}},
      {"CaseApartInACaseBlindFolder",
       Req(kToGpx, "/d/p.csv", "/d/P.CSV"),
       {false, {"/d/P.CSV"}, PlanStop::ReplacesInput, "/d/P.CSV"},
       {P("/d/")}},
      {"ListItemWouldReplaceItself",
       Req(kToPoi, "/d/trip.gpx;p.csv"),
       {true, {"/d/trip.CSV", "/d/p.CSV"}, PlanStop::ReplacesInput, "/d/p.CSV"},
       {P("/d/")}},
      // A single GPX input may be replaced by its records: they take its place
      // only once it has been read.
      {"GpxInputMayBeItsOutput",
       Req(kToPoi, "/d/trip.gpx", "/d/trip.gpx"),
       {false, {"/d/trip.gpx"}}},
      // A profile is no output of its own conversion; names a template gives
      // are checked as they come.
      {"ProfileIsItsOutput",
       Req(kToGpx, "/d/p.csv", "/d/x.zvp", "/d/x.zvp"),
       {false, {"/d/x.zvp"}, PlanStop::ReplacesInput, "/d/x.zvp"}},
      {"ProfileWithNamedFiles",
       Req(kToPoi, "/d/trip.gpx", "/d/x.zvp", "/d/x.zvp", "<C>"),
       {false, {"/d/x.zvp"}}},
      {"ProfileInputWithSemicolonIsOneName",
       Req(kToGpx, "/d/a;b.csv", "", "/d/x.zvp"),
       {false, {"/d/a;b.GPX"}, PlanStop::ItemProblem, "", {ItemProblem::Missing}}},
      // Lists: empty items are none; a missing item stops the run when its
      // turn comes, after the items before it.
      {"ListSkipsEmptyItems", Req(kToGpx, "/d/p.csv;;q.csv;"), {true, {"/d/p.GPX", "/d/q.GPX"}}},
      {"ListFolderMayHoldSemicolon", Req(kToGpx, "/e;f/r.csv"), {true, {"/e;f/r.GPX"}}},
      {"ListItemMissing",
       Req(kToGpx, "/d/p.csv;gone.csv"),
       {true,
        {"/d/p.GPX", "/d/gone.GPX"},
        PlanStop::None,
        "",
        {ItemProblem::None, ItemProblem::Missing}}},
      {"SingleMissing",
       Req(kToPoi, "/d/gone.gpx"),
       {false, {"/d/gone.CSV"}, PlanStop::ItemProblem, "", {ItemProblem::Missing}}},
      {"SingleNotAFile",
       Req(kToPoi, "/d/sub"),
       {false, {"/d/sub.CSV"}, PlanStop::ItemProblem, "", {ItemProblem::NotAFile}}},
      // Paths pasted from Explorer's "Copy as path" keep their quotes: one
      // pair around the input, the output, the whole list or each item
      // goes; a quote inside a name stays.
      {"QuotedInputAndOutput",
       Req(kToGpx, "\"/d/p.csv\"", "\"/o/all.gpx\""),
       {false, {"/o/all.gpx"}}},
      {"QuotedInputBeside", Req(kToPoi, "\"/d/trip\""), {false, {"/d/trip.CSV"}}},
      {"QuotedWholeList", Req(kToGpx, "\"/d/p.csv;q.csv\""), {true, {"/d/p.GPX", "/d/q.GPX"}}},
      {"QuotedListItems",
       Req(kToGpx, "\"/d/p.csv\";\"q.csv\"; q1.csv"),
       {true,
        {"/d/p.GPX", "/d/q.GPX", "/d/ q1.GPX"},
        PlanStop::None,
        "",
        {ItemProblem::None, ItemProblem::None, ItemProblem::Missing}}},
      {"QuotedOutputStillReplacesInput",
       Req(kToGpx, "/d/p.csv", "\"/d/p.csv\""),
       {false, {"/d/p.csv"}, PlanStop::ReplacesInput, "/d/p.csv"}},
      {"QuoteInsideANameStays",
       Req(kToPoi, "/d/\"trip\".gpx"),
       {false, {"/d/\"trip\".CSV"}, PlanStop::ItemProblem, "", {ItemProblem::Missing}}},
      {"GpxPatternIsNoOneFile",
       Req(kToPoi, "/d/*.gpx"),
       {false, {"/d/*.CSV"}, PlanStop::None, "", {ItemProblem::Pattern}}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles files(
        {{"/d/", {"P.CSV", "p.csv", "q.csv", "q1.csv", "trip.gpx"}}, {"/e;f/", {"r.csv"}}},
        c.caseBlind, {P("/d/sub")});
    const Plan plan = MakePlan(c.request, files);
    EXPECT_EQ(plan.isList, c.expected.isList);
    std::vector<std::string> outputs, expectedOutputs;
    std::vector<ItemProblem> problems;
    for (const PlannedItem& item : plan.items) {
      outputs.push_back(item.output);
      problems.push_back(item.problem);
    }
    for (const std::string& o : c.expected.outputs) expectedOutputs.push_back(P(o));
    EXPECT_EQ(outputs, expectedOutputs);
    EXPECT_EQ(plan.stop, c.expected.stop);
    EXPECT_EQ(plan.stopOutput, P(c.expected.stopOutput));
    if (!c.expected.problems.empty()) {
      EXPECT_EQ(problems, c.expected.problems);
    } else {
      for (ItemProblem p : problems) EXPECT_EQ(p, ItemProblem::None);
    }
  }
}

// A GPX input is read from the one file its name finds, spelt as the folder
// spells it; a POI-CSV pattern reads every file it matches, in order.
TEST(Planner, InputsAreTheFilesTheFolderHolds) {
  FakeFiles files({{"/d/", {"Trip.GPX", "a.csv", "b.csv", "c.txt"}}});
  const Plan gpx = MakePlan(Req(kToPoi, "/d/Trip.GPX"), files);
  ASSERT_EQ(gpx.items.size(), 1u);
  EXPECT_EQ(gpx.items[0].path, P("/d/Trip.GPX"));
  const Plan poi = MakePlan(Req(kToGpx, "/d/*.csv", "/d/all.gpx"), files);
  ASSERT_EQ(poi.items.size(), 1u);
  EXPECT_EQ(poi.items[0].files, (std::vector<std::string>{"a.csv", "b.csv"}));
  EXPECT_EQ(poi.items[0].folder, P("/d/"));
}

}  // namespace
}  // namespace marklode
