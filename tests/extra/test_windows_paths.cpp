// Paths as users type them, through the program: relative and absolute
// names, a parent folder, patterns, ";" lists and profiles, with spaces and
// letters beyond ASCII. The table is written with "\" as a Windows user
// writes it; on POSIX the rows that do not depend on Windows run with "/".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFolder = "<folder>";
// An expected file whose content holds each of the texts after the marker,
// separated by "|" (a GPX file, whose whole text does not matter here).
constexpr std::string_view kHolds = "<holds>";

std::string Holds(const std::string& pieces) {
  return std::string(kHolds) + pieces;
}

std::string Wpts(const std::vector<std::string>& names) {
  std::string gpx = "<gpx>\r\n";
  for (const auto& n : names) gpx += "<wpt lat=\"1\" lon=\"2\"><name>" + n + "</name></wpt>\r\n";
  return gpx + "</gpx>\r\n";
}

const std::string kTour = Wpts({"A"});
const std::string kTourCsv = "2,1,\"A\"";
const std::string kA = "1,2,\"A\"\r\n", kB = "3,4,\"B\"\r\n";

// The folder after the list of sub\a.csv and sub\b.csv: each item's GPX beside it.
const std::map<std::string, std::string> kListBesideItsItems = {
    {"sub", kFolder},
    {"sub\\a.csv", kA},
    {"sub\\b.csv", kB},
    {"sub\\a.GPX", Holds("<name>A</name>")},
    {"sub\\b.GPX", Holds("<name>B</name>")}};

struct PathCase {
  const char* name;
  std::map<std::string, std::string> before;  // relative to the folder; kFolder makes a folder
  std::vector<std::string> args;  // "{dir}": the folder; "{zdir}": the same by drive Z: under Wine
  std::string err;                // empty: the run succeeds with status 0
  std::map<std::string, std::string> after;  // every file and folder afterwards
  const char* workDir = "";                  // relative to the folder
};

void PrintTo(const PathCase& c, std::ostream* os) {
  *os << c.name;
}

const PathCase kCases[] = {
    {"RelativeInASubfolder",
     {{"sub\\tour.gpx", kTour}},
     {"sub\\tour.gpx"},
     "",
     {{"sub", kFolder}, {"sub\\tour.gpx", kTour}, {"sub\\tour.CSV", kTourCsv}}},
#ifdef _WIN32
    {"ForwardSlashesAsWindowsTakesThem",
     {{"sub\\a.csv", kA}, {"sub\\b.csv", kB}},
     {"{dir}/sub/a.csv;b.csv"},
     "",
     kListBesideItsItems},
#endif
    {"AbsoluteWithDriveLetterAndNoExtension",
     {{"sub\\tour.gpx", kTour}},
     {"{zdir}\\sub\\tour"},
     "",
     {{"sub", kFolder}, {"sub\\tour.gpx", kTour}, {"sub\\tour.CSV", kTourCsv}}},
    {"ParentFolder",
     {{"x.gpx", kTour}, {"work", kFolder}},
     {"..\\x.gpx"},
     "",
     {{"x.gpx", kTour}, {"x.CSV", kTourCsv}, {"work", kFolder}},
     "work"},
    {"PatternWithoutAnOutputName",
     {{"sub\\a.csv", kA}, {"sub\\b.csv", kB}},
     {"/r", "sub\\*.csv"},
     "Invalid file: Can't use wildcard for GPX output file: sub\\*.GPX\n",
     {{"sub", kFolder}, {"sub\\a.csv", kA}, {"sub\\b.csv", kB}}},
    {"PatternInAProfile",
     {{"sub\\a.csv", kA},
      {"sub\\b.csv", kB},
      {"p.zvp", "[Profile]\r\nInput=sub\\*.csv\r\nOutput=sub\\all.gpx\r\n"}},
     {"/p", "{dir}\\p.zvp"},
     "",
     {{"sub", kFolder},
      {"sub\\a.csv", kA},
      {"sub\\b.csv", kB},
      {"sub\\all.gpx", Holds("<name>A</name>|<name>B</name>")},
      {"p.zvp", "[Profile]\r\nInput=sub\\*.csv\r\nOutput=sub\\all.gpx\r\n"}}},
    {"AbsoluteList",
     {{"sub\\a.csv", kA}, {"sub\\b.csv", kB}},
     {"{dir}\\sub\\a.csv;b.csv"},
     "",
     kListBesideItsItems},
    {"RelativeList",
     {{"sub\\a.csv", kA}, {"sub\\b.csv", kB}},
     {"sub\\a.csv;b.csv"},
     "",
     kListBesideItsItems},
    {"ProfileWithAbsoluteInputAndOutput",
     {{"sub\\tour.gpx", kTour},
      {"out", kFolder},
      {"p.zvp", "[Profile]\r\nInput={dir}\\sub\\tour.gpx\r\nOutput={dir}\\out\\t.csv\r\n"}},
     {"/p", "{dir}\\p.zvp"},
     "",
     {{"sub", kFolder},
      {"sub\\tour.gpx", kTour},
      {"out", kFolder},
      {"out\\t.csv", kTourCsv},
      {"p.zvp", "[Profile]\r\nInput={dir}\\sub\\tour.gpx\r\nOutput={dir}\\out\\t.csv\r\n"}}},
    {"SpacesAndLettersBeyondAscii",
     {{"Zürich\\Łódź Tour.gpx", kTour}},
     {"Zürich\\Łódź Tour.gpx"},
     "",
     {{"Zürich", kFolder}, {"Zürich\\Łódź Tour.gpx", kTour}, {"Zürich\\Łódź Tour.CSV", kTourCsv}}},
    {"ANameWithSpacesInSeveralArguments",
     {{"東京\\my  trip.gpx", kTour}, {"東京\\my trip.gpx", kTour}},
     {"{dir}\\東京\\my", "trip.gpx"},  // taken whole: one space between the arguments
     "",
     {{"東京", kFolder},
      {"東京\\my  trip.gpx", kTour},
      {"東京\\my trip.gpx", kTour},
      {"東京\\my trip.CSV", kTourCsv}}},
    {"PatternAndOutputBeyondAsciiInAProfileSoNamed",
     {{"東京\\a.csv", kA},
      {"東京\\b.csv", kB},
      {"Zürich", kFolder},
      {"Łódź profile.zvp", "[Profile]\r\nInput=東京\\*.csv\r\nOutput=Zürich\\全部 Łódź.gpx\r\n"}},
     {"/p", "{dir}\\Łódź profile.zvp"},
     "",
     {{"東京", kFolder},
      {"東京\\a.csv", kA},
      {"東京\\b.csv", kB},
      {"Zürich", kFolder},
      {"Zürich\\全部 Łódź.gpx", Holds("<name>A</name>|<name>B</name>")},
      {"Łódź profile.zvp", "[Profile]\r\nInput=東京\\*.csv\r\nOutput=Zürich\\全部 Łódź.gpx\r\n"}}},
    {"ListBeyondAscii",
     {{"Zürich\\a b.csv", kA}, {"Zürich\\Łódź.csv", kB}, {"Zürich\\東京.csv", kA}},
     {"{dir}\\Zürich\\a b.csv;Łódź.csv;東京.csv"},
     "",
     {{"Zürich", kFolder},
      {"Zürich\\a b.csv", kA},
      {"Zürich\\Łódź.csv", kB},
      {"Zürich\\東京.csv", kA},
      {"Zürich\\a b.GPX", Holds("<name>A</name>")},
      {"Zürich\\Łódź.GPX", Holds("<name>B</name>")},
      {"Zürich\\東京.GPX", Holds("<name>A</name>")}}},
    {"ProfileBeyondAsciiGpxToCsv",
     {{"Zürich\\Łódź.gpx", kTour},
      {"東京", kFolder},
      {"東京.zvp",
       "[Profile]\r\nInput={dir}\\Zürich\\Łódź.gpx\r\nOutput={dir}\\東京\\out.csv\r\n"}},
     {"/p", "{dir}\\東京.zvp"},
     "",
     {{"Zürich", kFolder},
      {"Zürich\\Łódź.gpx", kTour},
      {"東京", kFolder},
      {"東京\\out.csv", kTourCsv},
      {"東京.zvp",
       "[Profile]\r\nInput={dir}\\Zürich\\Łódź.gpx\r\nOutput={dir}\\東京\\out.csv\r\n"}}},
    // A file name made from a waypoint's name: on Windows a device name gets
    // "_" after it, since "CON.CSV" would be the console.
    {"DeviceNamesAmongTheWaypoints",
     {{"tour.gpx", Wpts({"CON", "aux", "Paris"})},
      {"out", kFolder},
      {"p.zvp", "[Profile]\r\nInput=tour.gpx\r\nOutput=out\\x.csv\r\nGenerateCSVFileName=<W>\r\n"}},
     {"/p", "{dir}\\p.zvp"},
     "",
     {{"tour.gpx", Wpts({"CON", "aux", "Paris"})},
      {"out", kFolder},
#ifdef _WIN32
      {"out\\CON_.CSV", "2,1,\"CON\""},
      {"out\\aux_.CSV", "2,1,\"aux\""},
#else
      {"out\\CON.CSV", "2,1,\"CON\""},
      {"out\\aux.CSV", "2,1,\"aux\""},
#endif
      {"out\\Paris.CSV", "2,1,\"Paris\""},
      {"p.zvp",
       "[Profile]\r\nInput=tour.gpx\r\nOutput=out\\x.csv\r\nGenerateCSVFileName=<W>\r\n"}}},
};

// The text with the folder filled in and, on POSIX, "/" for every "\".
std::string Fill(std::string text, const std::string& dir, const std::string& zdir) {
  for (const auto& [key, value] : {std::pair{"{zdir}", &zdir}, std::pair{"{dir}", &dir}})
    for (auto p = text.find(key); p != std::string::npos; p = text.find(key, p + value->size()))
      text.replace(p, std::string_view(key).size(), *value);
#ifndef _WIN32
  for (char& c : text)
    if (c == '\\') c = '/';
#endif
  return text;
}

// Every file and folder under dir: relative names with "\" between the
// parts, and each file's content.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  const fs::path root = test::FsPath(dir);
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = test::Utf8(e.path().lexically_relative(root));
    for (char& c : rel)
      if (c == '/') c = '\\';
    out[rel] = e.is_directory() ? kFolder : test::ReadFile(test::Utf8(e.path()));
  }
  return out;
}

class WindowsPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(WindowsPaths, ConvertTheFilesTheyName) {
  const PathCase& c = GetParam();
  test::TempDir dir;
  std::string zdir = test::WineDriveZPath(dir.path());
  if (zdir.empty()) zdir = dir.path();
  const auto fill = [&](const std::string& s) { return Fill(s, dir.path(), zdir); };
  for (const auto& [name, content] : c.before) {
    const fs::path path = test::FsPath(dir / fill(name));
    if (content == kFolder) {
      fs::create_directories(path);
    } else {
      fs::create_directories(path.parent_path());
      test::WriteFile(test::Utf8(path), fill(content));
    }
  }
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(fill(a));
  const auto ran = test::RunMarklode(args, *c.workDir ? dir / c.workDir : dir.path());
  EXPECT_EQ(ran.err, fill(c.err));
  EXPECT_EQ(ran.status, c.err.empty() ? 0 : 1);

  auto after = Snapshot(dir.path());
  for (const auto& [name, content] : c.after) {
    const auto found = after.find(name);
    if (found == after.end()) {
      ADD_FAILURE() << name << " is missing";
      continue;
    }
    if (std::string_view(content).starts_with(kHolds)) {
      std::string_view pieces = std::string_view(content).substr(kHolds.size());
      while (!pieces.empty()) {
        const std::string_view piece = pieces.substr(0, pieces.find('|'));
        EXPECT_NE(found->second.find(piece), std::string::npos) << name << " lacks " << piece;
        pieces.remove_prefix(std::min(pieces.size(), piece.size() + 1));
      }
    } else {
      EXPECT_EQ(found->second, fill(content)) << name;
    }
    after.erase(found);
  }
  for (const auto& [name, content] : after) ADD_FAILURE() << "unexpected " << name;
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowsPaths, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace marklode
