#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/gpx_reader.h"
#include "engine/gpx_to_csv.h"
#include "engine/output_set.h"
#include "engine/poi_to_gpx.h"
#include "services/os.h"
#include "test_util.h"
#include "tests/chunked_source.h"

namespace marklode {
namespace {

using test::Crlf;
using test::ReadFile;
using test::WriteFile;

struct Options {
  std::string comment = "<T>";
  bool keepBreaks = false;
  std::string nameFilter, commentFilter, categoryFilter, csvName, poiName;
};

class GpxToCsv : public ::testing::Test {
 protected:
  // Converts gpx (written as trip.gpx) and returns the default output's text.
  std::string Convert(std::string_view gpx, const Options& o = {}) {
    WriteFile(dir / "trip.gpx", gpx);
    h.request.input = dir / "trip.gpx";
    h.request.keepCommentLineBreaks = o.keepBreaks;
    h.request.filters = {o.nameFilter, o.commentFilter, o.categoryFilter};
    h.request.toPoi = {o.comment, o.csvName, o.poiName};
    status = h.ToPoi();
    return ReadFile(dir / "trip.CSV");
  }
  static std::string Wpt(std::string_view lat, std::string_view lon, std::string_view inner) {
    return "  <wpt lat=\"" + std::string(lat) + "\" lon=\"" + std::string(lon) + "\">\n" +
           std::string(inner) + "  </wpt>\n";
  }
  // A waypoint at 1,2 with a name and a category.
  static std::string CategorizedWpt(const char* name, const char* cat) {
    return Wpt("1", "2",
               std::string("    <name>") + name + "</name>\n    <gpxx:Category>" + cat +
                   "</gpxx:Category>\n");
  }
  static std::string Gpx(std::string_view body) {
    return Crlf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\">\n" +
                std::string(body) + "</gpx>\n");
  }

  test::TempDir dir;
  test::Harness h;
  RunStatus status = RunStatus::Done;
};

TEST_F(GpxToCsv, RecordsAreSeparatedByCrLfWithNoneAfterTheLast) {
  std::string out =
      Convert(Gpx(Wpt("38.8977", "-77.0365", "    <name>White House</name>\n") +
                  Wpt("51.5", "-0.12", "    <name>Big Ben</name>\n    <cmt>Nice view</cmt>\n")));
  EXPECT_EQ(out, "-77.0365,38.8977,\"White House\"\r\n-0.12,51.5,\"Big Ben\",\"Nice view\"");
  EXPECT_EQ(h.result.entries, 2);
  EXPECT_TRUE(h.messages.boxes.empty());
}

TEST_F(GpxToCsv, SpeedCommentBecomesTheNameSuffix) {
  std::string out = Convert(Gpx(Wpt("1", "2", "    <name>Name</name>\n    <cmt>@50</cmt>\n") +
                                Wpt("1", "2", "    <name>Cam</name>\n    <cmt>@fast</cmt>\n")));
  EXPECT_EQ(out, "2,1,\"Name@50\",\"@50\"\r\n2,1,\"Cam\",\"@fast\"");
}

TEST_F(GpxToCsv, TruncationFollowsTheSetting) {
  const std::string name45(45, 'n');
  const std::string gpx = Gpx(Wpt("1", "2", "    <name>" + name45 + "</name>\n"));
  EXPECT_EQ(Convert(gpx), "2,1,\"" + name45.substr(0, 39) + "\"");
  h.settings.SetRegistryValue("TruncatePOIname", " FALSE ");
  EXPECT_EQ(Convert(gpx), "2,1,\"" + name45 + "\"");
  h.settings.SetRegistryValue("TruncatePOIname", "no");
  EXPECT_EQ(Convert(gpx), "2,1,\"" + name45.substr(0, 39) + "\"");
}

TEST_F(GpxToCsv, TruncationCountsCharactersAndKeepsTheSpeed) {
  // 19 + 1 + 19 characters, then more: the cut falls after the 39th character,
  // which is two bytes longer than 39 bytes.
  const std::string name = "Zürich Hauptbahnhof Zürich Hauptbahnhof Nord";
  EXPECT_EQ(Convert(Gpx(Wpt("1", "2", "    <name>" + name + "</name>\n"))),
            "2,1,\"Zürich Hauptbahnhof Zürich Hauptbahnhof\"");
  // Only the part before the speed is cut; a second "@" ends it.
  EXPECT_EQ(Convert(Gpx(Wpt("1", "2", "    <name>Zürich@30@x</name>\n"))), "2,1,\"Zürich@30\"");
  Options o;
  o.poiName = std::string(45, 'g') + "@30";
  EXPECT_EQ(Convert(Gpx(Wpt("1", "2", "    <name>x</name>\n")), o),
            "2,1,\"" + std::string(39, 'g') + "@30\"");
}

TEST_F(GpxToCsv, GeneratedNamesAndComments) {
  const std::string gpx =
      Gpx(Wpt("1", "2",
              "    <name>Joe</name>\n    <cmt>Open</cmt>\n"
              "    <extensions><gpxx:WaypointExtension><gpxx:Categories>\n"
              "      <gpxx:Category>Drinks</gpxx:Category>\n"
              "      <gpxx:Category>Food</gpxx:Category>\n"
              "    </gpxx:Categories></gpxx:WaypointExtension></extensions>\n"));
  Options o;
  o.poiName = "<W>-<C>";
  EXPECT_EQ(Convert(gpx, o), "2,1,\"Joe-Food\",\"Open\"");  // the last category counts
  o.poiName = "Cafe@Main St";
  o.comment = "";
  EXPECT_EQ(Convert(gpx, o), "2,1,\"Cafe\"");
  o.poiName = "<F> <T1-2>";
  o.comment = "[<C>]";
  EXPECT_EQ(Convert(gpx, o), "2,1,\"trip Op\",\"[Food]\"");
}

TEST_F(GpxToCsv, MultiLineCommentsJoinByTheOption) {
  const std::string gpx =
      Gpx(Wpt("1", "2", "    <name>A</name>\n    <cmt>line1\n       line2\n  line3</cmt>\n"));
  EXPECT_EQ(Convert(gpx), "2,1,\"A\",\"line1 - line2 - line3\"");
  Options o;
  o.keepBreaks = true;
  EXPECT_EQ(Convert(gpx, o), "2,1,\"A\",\"line1\nline2\nline3\"");
}

TEST_F(GpxToCsv, FiltersJudgeNameCommentAndCategory) {
  const std::string gpx =
      Gpx(Wpt("1", "2", "    <name>Cam 1</name>\n    <desc>d</desc>\n    <cmt>speed</cmt>\n") +
          Wpt("1", "2", "    <name>Cam 2</name>\n") +
          Wpt("1", "2", "    <name>Pub</name>\n    <cmt>speed</cmt>\n"));
  Options o;
  o.nameFilter = "Cam #";
  o.commentFilter = "sp*";  // judged on the comment as read, not on lines before it
  EXPECT_EQ(Convert(gpx, o), "2,1,\"Cam 1\",\"speed\"");
  EXPECT_EQ(h.result.entries, 1);
}

TEST_F(GpxToCsv, NothingWrittenLeavesAnExistingFileAlone) {
  WriteFile(dir / "trip.CSV", "keep me");
  Options o;
  o.nameFilter = "nothing matches";
  EXPECT_EQ(Convert(Gpx(Wpt("1", "2", "    <name>A</name>\n")), o), "keep me");
  EXPECT_EQ(Convert(""), "keep me");
  EXPECT_EQ(h.result.entries, 0);
}

TEST_F(GpxToCsv, OneToManyByTemplateContinuesFilesThatComeBack) {
  Options o;
  o.csvName = "<C>";
  Convert(Gpx(CategorizedWpt("a", "Food") + CategorizedWpt("b", "Food") +
              CategorizedWpt("c", "Fuel") + CategorizedWpt("d", "Food")),
          o);
  EXPECT_EQ(ReadFile(dir / "Food.CSV"), "2,1,\"a\"\r\n2,1,\"b\"\r\n2,1,\"d\"");
  EXPECT_EQ(ReadFile(dir / "Fuel.CSV"), "2,1,\"c\"");
  EXPECT_EQ(h.result.entries, 4);
  EXPECT_EQ(test::Listing(dir.path()),
            (std::vector<std::string>{"Food.CSV", "Fuel.CSV", "trip.gpx"}));
}

// A waypoint without a category gives <C> an empty name: its file is "_.CSV",
// not a hidden ".CSV"; a name the template fills stays as it is.
TEST_F(GpxToCsv, AnEmptyFileNameFromTheTemplateIsAnUnderscore) {
  Options o;
  o.csvName = "<C>";
  Convert(Gpx(CategorizedWpt("a", "Food") + Wpt("1", "2", "    <name>b</name>\n") +
              CategorizedWpt("c", "")),
          o);
  EXPECT_EQ(ReadFile(dir / "_.CSV"), "2,1,\"b\"\r\n2,1,\"c\"");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"Food.CSV", "_.CSV", "trip.gpx"}));
  EXPECT_EQ(h.result.entries, 3);
}

// Categories that differ only in case name one file where the folder ignores
// case (Windows, and Wine's view of any folder): that file gets every record,
// in input order, under the first spelling. On ext4 each is a file of its own.
TEST_F(GpxToCsv, NamesACaseBlindFolderJoinsAreOneOutput) {
  Options o;
  o.csvName = "<C>";
  Convert(
      Gpx(CategorizedWpt("a", "Food") + CategorizedWpt("b", "FOOD") + CategorizedWpt("c", "Fuel") +
          CategorizedWpt("d", "food") + CategorizedWpt("e", "Food")),
      o);
  EXPECT_EQ(h.result.entries, 5);
  EXPECT_TRUE(h.messages.boxes.empty());
  EXPECT_EQ(ReadFile(dir / "Fuel.CSV"), "2,1,\"c\"");
#ifdef _WIN32
  EXPECT_EQ(h.result.outputsCommitted, 2);
  EXPECT_EQ(test::Listing(dir.path()),
            (std::vector<std::string>{"Food.CSV", "Fuel.CSV", "trip.gpx"}));
  EXPECT_EQ(ReadFile(dir / "Food.CSV"), "2,1,\"a\"\r\n2,1,\"b\"\r\n2,1,\"d\"\r\n2,1,\"e\"");
#else
  ASSERT_FALSE(os::FolderIgnoresCase(dir.path())) << "the test folder is case-blind";
  EXPECT_EQ(h.result.outputsCommitted, 4);
  EXPECT_EQ(ReadFile(dir / "Food.CSV"), "2,1,\"a\"\r\n2,1,\"e\"");
  EXPECT_EQ(ReadFile(dir / "FOOD.CSV"), "2,1,\"b\"");
  EXPECT_EQ(ReadFile(dir / "food.CSV"), "2,1,\"d\"");
#endif
}

// The keying itself, with the folder's answer given: every name a case-blind
// folder joins goes to the first one's file, and each folder is asked once.
TEST(OutputSet, KeysByTheFoldersRule) {
  test::TempDir dir;
  std::filesystem::create_directory(test::FsPath(dir / "Blind"));
  std::filesystem::create_directory(test::FsPath(dir / "sharp"));
  std::vector<std::string> asked;
  RecordingMessageSink sink;
  OutputSet outputs(sink, [&](const std::string& folder) {
    asked.push_back(folder);
    return folder == dir / "Blind/";
  });
  for (const char* name : {"Blind/Łódź.CSV", "sharp/x.CSV", "Blind/ŁÓDŹ.csv", "Blind/łódź.CSV",
                           "sharp/X.CSV", "Blind/Other.CSV", "Blind/łódŹ.CSV"})
    ASSERT_TRUE(outputs.WriteRecord(dir / name, name));
  EXPECT_EQ(outputs.CommitAll(), 0);
  EXPECT_EQ(asked, (std::vector<std::string>{dir / "Blind/", dir / "sharp/"}));
  EXPECT_EQ(ReadFile(dir / "Blind/Łódź.CSV"),
            "Blind/Łódź.CSV\r\nBlind/ŁÓDŹ.csv\r\nBlind/łódź.CSV\r\nBlind/łódŹ.CSV");
  EXPECT_EQ(ReadFile(dir / "Blind/Other.CSV"), "Blind/Other.CSV");
  EXPECT_EQ(test::Listing(dir / "Blind"), (std::vector<std::string>{"Other.CSV", "Łódź.CSV"}));
#ifndef _WIN32  // Wine's folders are all case-blind
  EXPECT_EQ(test::Listing(dir / "sharp"), (std::vector<std::string>{"X.CSV", "x.CSV"}));
#endif
}

// Outputs taking turns, more of them than may be open: each is parked and
// reopened in turn and keeps its records in order; a refused name gets no
// file, and the others go on.
TEST(OutputSet, ManyOutputsTakingTurnsKeepTheirOrder) {
  test::TempDir dir;
  RecordingMessageSink sink;
  OutputSet outputs(
      sink, [](const std::string&) { return false; }, 2);
  std::vector<std::string> refused;
  outputs.RefuseWhere([&](const std::string& name) {
    if (name.find("no") == std::string::npos) return false;
    refused.push_back(name);
    return true;
  });
  for (int round = 0; round < 3; ++round)
    for (const char* name : {"a", "b", "no", "c", "d", "e"})
      EXPECT_EQ(
          outputs.WriteRecord(dir / (std::string(name) + ".CSV"), name + std::to_string(round)),
          std::string(name) != "no");
  EXPECT_EQ(outputs.CommitAll(), 0);
  EXPECT_EQ(outputs.committed(), 5);
  EXPECT_EQ(refused, std::vector<std::string>{dir / "no.CSV"});  // asked once
  EXPECT_EQ(ReadFile(dir / "a.CSV"), "a0\r\na1\r\na2");
  EXPECT_EQ(ReadFile(dir / "e.CSV"), "e0\r\ne1\r\ne2");
  EXPECT_EQ(test::Listing(dir.path()).size(), 5u);
  EXPECT_EQ(sink.Joined(), "");
}

TEST_F(GpxToCsv, GeneratedFileNamesStayInTheOutputFolder) {
  Options o;
  o.csvName = "<W>";
  Convert(Gpx(Wpt("1", "2", "    <name>../escape</name>\n")), o);
  EXPECT_TRUE(test::Exists(dir / ".._escape.CSV"));
}

// Control characters (ESC, BEL, DEL, ...) from a name or category would reach
// a terminal or a listing through the file name.
TEST_F(GpxToCsv, GeneratedFileNamesHoldNoControlCharacters) {
  Options o;
  o.csvName = "<W><C>";
  Convert(Gpx(Wpt("1", "2",
                  "    <name>a&#27;[31mb\x07</name>\n"
                  "    <gpxx:Category>c\x7F&#9;d\x01</gpxx:Category>\n")),
          o);
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"a_[31mb_c__d_.CSV", "trip.gpx"}));
}

TEST_F(GpxToCsv, WildcardOutputUsesTheInputName) {
  test::TempDir out;
  WriteFile(dir / "trip.gpx", Gpx(Wpt("1", "2", "    <name>A</name>\n")));
  h.request.input = dir / "trip.gpx";
  h.request.output = out / "*.csv";
  h.ToPoi();
  EXPECT_EQ(ReadFile(out / "trip.CSV"), "2,1,\"A\"");
}

TEST_F(GpxToCsv, InputWithoutExtensionAndDottedFolder) {
  std::filesystem::create_directory(dir / "gps.old");
  WriteFile(dir / "gps.old/trip.gpx", Gpx(Wpt("1", "2", "    <name>A</name>\n")));
  h.request.input = dir / "gps.old/trip";
  h.ToPoi();
  EXPECT_EQ(ReadFile(dir / "gps.old/trip.CSV"), "2,1,\"A\"");
}

TEST_F(GpxToCsv, InputNameFoundWithoutRegardToCase) {
  WriteFile(dir / "Trip.GPX", Gpx(Wpt("1", "2", "    <name>A</name>\n")));
  h.request.input = dir / "trip.gpx";
  h.ToPoi();
  EXPECT_EQ(ReadFile(dir / "trip.CSV"), "2,1,\"A\"");
}

TEST_F(GpxToCsv, MissingInputStops) {
  h.request.input = dir / "nope.gpx";
  EXPECT_EQ(h.ToPoi(), RunStatus::Stopped);
  EXPECT_EQ(h.messages.Joined(),
            "Can't Find File: Can't Find Input file: " + dir / "nope.gpx" + "\n");
  EXPECT_EQ(h.messages.boxes[0].kind, MessageKind::Error);
  EXPECT_TRUE(test::Listing(dir.path()).empty());
}

// Real files are written in many styles; each must yield the same points.
TEST_F(GpxToCsv, LayoutsOtherThanOneElementPerLine) {
  const std::string expected = "2.5,1.5,\"Fish & Chips\",\"Open\"\r\n4,3,\"B\"";
  struct Case {
    const char* what;
    std::string gpx;
  } cases[] = {
      {"tab indentation",
       "<gpx>\n\t<wpt lat=\"1.5\" lon=\"2.5\">\n\t\t<name>Fish &amp; "
       "Chips</name>\n\t\t<cmt>Open</cmt>"
       "\n\t</wpt>\n\t<wpt lat=\"3\" lon=\"4\">\n\t\t<name>B</name>\n\t</wpt>\n</gpx>\n"},
      {"one line",
       "<gpx><wpt lat=\"1.5\" lon=\"2.5\"><name>Fish &amp; Chips</name><cmt>Open</cmt></wpt>"
       "<wpt lat=\"3\" lon=\"4\"><name>B</name></wpt></gpx>"},
      {"lon first, single quotes, CR line ends",
       "<gpx>\r<wpt lon='2.5' lat='1.5'>\r<name>Fish &#38; Chips</name>\r<cmt>Open</cmt>\r</wpt>\r"
       "<wpt lon='4' lat='3'><name>B</name></wpt></gpx>"},
      {"CDATA and comments",
       "<gpx><!-- <wpt lat=\"9\" lon=\"9\"><name>hidden</name></wpt> -->\n"
       "<wpt lat=\"1.5\" lon=\"2.5\"><name><![CDATA[Fish & Chips]]></name>"
       "<cmt><![CDATA[Open]]></cmt></wpt>\n<!--\n<wpt lat=\"9\" lon=\"9\"><name>x</name></wpt>\n-->"
       "<wpt lat=\"3\" lon=\"4\"><name>B</name></wpt></gpx>"},
      {"start tag over several lines",
       "<gpx>\n<wpt\n  lat=\"1.5\"\n  lon=\"2.5\">\n<name>Fish &amp; Chips</name><cmt>Open</cmt>"
       "</wpt><wpt lat=\"3\" lon=\"4\"><name>B</name></wpt></gpx>"},
      {"upper-case start tag",
       "<gpx>\n<WPT lat=\"1.5\" lon=\"2.5\">\n<name>Fish &amp; "
       "Chips</name>\n<cmt>Open</cmt>\n</wpt>\n"
       "<wpt lat=\"3\" lon=\"4\">\n<NAME>B</NAME>\n</wpt>\n</gpx>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert(c.gpx), expected) << c.what;
    EXPECT_TRUE(h.messages.boxes.empty()) << c.what;
  }
}

TEST_F(GpxToCsv, NamelessWaypointsNeverBorrowALaterName) {
  std::string out = Convert(
      Gpx("  <wpt lat=\"1\" lon=\"1\">\n  </wpt>\n"
          "  <wpt lat=\"2\" lon=\"2\"/>\n"
          "  <wpt lat=\"3\" lon=\"3\">\n"  // no </wpt>: ends at the route
          "  <rte>\n    <name>Route</name>\n  </rte>\n" +
          Wpt("5", "5", "    <name>Real</name>\n") +
          "  <wpt lat=\"6\" lon=\"6\"><name>Unclosed</name>\n" +  // ends at the next waypoint
          Wpt("7", "7", "    <name>Last</name>\n")));
  EXPECT_EQ(out, "5,5,\"Real\"\r\n6,6,\"Unclosed\"\r\n7,7,\"Last\"");
  EXPECT_EQ(h.messages.Joined(), "Marklode: 3 waypoints without a name were skipped.\n");
  EXPECT_TRUE(h.messages.ProblemShown());  // exit status 2
}

// Waypoints without a name are no POIs; they are dropped, but said once, with
// their number, so that a file of them never converts to nothing in silence.
TEST_F(GpxToCsv, NamelessWaypointsAreCountedOnce) {
  const struct {
    std::string gpx, csv, said;
  } cases[] = {
      {Gpx(Wpt("1", "2", "    <name> \n\t</name>\n") + Wpt("3", "4", "    <name>B</name>\n")),
       "4,3,\"B\"", "Marklode: 1 waypoint without a name was skipped.\n"},
      {Gpx(Wpt("1", "2", "    <cmt>c</cmt>\n") + Wpt("3", "4", "    <name></name>\n")), "",
       "Marklode: 2 waypoints without a name were skipped.\n"},
      {Gpx(Wpt("1", "2", "    <name>A</name>\n") + "  <rte><name>R</name></rte>\n"), "2,1,\"A\"",
       ""},  // a route's name is no waypoint's
  };
  for (const auto& c : cases) {
    std::remove((dir / "trip.CSV").c_str());
    h.messages.boxes.clear();
    EXPECT_EQ(Convert(c.gpx), c.csv) << c.gpx;
    EXPECT_EQ(h.messages.Joined(), c.said) << c.gpx;
  }
}

// A GPX file declared encoding="UTF-16" (or UTF-32) and saved without a byte
// order mark is read by the NUL bytes of its "<?xml"; UTF-32 in an unusual
// byte order is said to be unreadable, never converted to nothing in silence.
TEST_F(GpxToCsv, Utf16AndUtf32WithoutAMarkAreRead) {
  const std::u32string gpx =
      U"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<gpx><wpt lat=\"55.7\" lon=\"37.6\">"
      U"<name>\u041C\u043E\u0441\u043A\u0432\u0430</name></wpt></gpx>";
  for (int width : {2, 4}) {
    for (bool be : {false, true}) {
      h.messages.boxes.clear();
      EXPECT_EQ(Convert(test::EncodeUtf(gpx, width, be)),
                "37.6,55.7,\"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\"")
          << "UTF-" << 8 * width << (be ? "BE" : "LE");
      EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();
    }
  }
  std::string odd = test::EncodeUtf(gpx, 4, false);  // UCS-4 2143: "\0<\0\0"
  odd.insert(0, 1, '\0');
  odd.pop_back();
  WriteFile(dir / "trip.CSV", "OLD");
  EXPECT_EQ(Convert(odd), "OLD");
  EXPECT_EQ(
      h.messages.Joined(),
      "SYSgetTextLine: The text is UTF-32 in an unusual byte order, which cannot be read.  (" +
          dir / "trip.gpx" + ").\n");
  EXPECT_TRUE(h.messages.ProblemShown());
}

TEST_F(GpxToCsv, InvalidCoordinatesAreReportedAndSkipped) {
  std::string out = Convert(Gpx(Wpt("inicio", "2", "    <name>Bad lat</name>\n") +
                                "  <wpt lon=\"2\">\n    <name>No lat</name>\n  </wpt>\n" +
                                Wpt("91", "2", "    <name>Too far</name>\n") +
                                Wpt(" 45.5 ", "-180", "    <name>Edge</name>\n")));
  EXPECT_EQ(out, "-180, 45.5 ,\"Edge\"");  // copied as written
  EXPECT_EQ(h.messages.Joined(),
            "Marklode: Invalid lon/lat for: Bad lat.  Skipping...\n"
            "Marklode: Invalid lon/lat for: No lat.  Skipping...\n"
            "Marklode: Invalid lon/lat for: Too far.  Skipping...\n");
  EXPECT_EQ(h.result.entries, 1);
}

TEST_F(GpxToCsv, OutputMayNameTheInput) {
  WriteFile(dir / "trip.gpx", Gpx(Wpt("1", "2", "    <name>A</name>\n")));
  h.request.input = dir / "trip.gpx";
  h.request.output = dir / "trip.gpx";
  h.ToPoi();
  EXPECT_EQ(ReadFile(dir / "trip.gpx"), "2,1,\"A\"");
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"trip.gpx"});
}

TEST_F(GpxToCsv, UnwritableOutputIsReportedAndNotCounted) {
  WriteFile(dir / "trip.gpx",
            Gpx(Wpt("1", "2", "    <name>A</name>\n") + Wpt("1", "2", "    <name>B</name>\n")));
  h.request.input = dir / "trip.gpx";
  h.request.output = dir / "missing/out.csv";
  h.ToPoi();
  EXPECT_EQ(h.result.entries, 0);
  ASSERT_EQ(h.messages.boxes.size(), 1u);  // one warning per output that failed
  EXPECT_EQ(h.messages.boxes[0].title, "PutTextLine");
  EXPECT_EQ(h.messages.boxes[0].text, "Path not found.  (" + dir / "missing/out.csv" + ").");
  EXPECT_EQ(h.messages.boxes[0].kind, MessageKind::Warning);
}

#ifndef _WIN32  // file modes and another user
TEST_F(GpxToCsv, UnreadableInputIsReported) {
  test::OpenToOthers(dir.path());
  WriteFile(dir / "trip.gpx", Gpx(Wpt("1", "2", "    <name>A</name>\n")));
  ::chmod((dir / "trip.gpx").c_str(), 0);
  // Root reads every file: the conversion runs as an ordinary user.
  const std::string said = test::AsUnprivileged([&] {
    h.request.input = dir / "trip.gpx";
    h.ToPoi();
    return h.messages.Joined() + (test::Exists(dir / "trip.CSV") ? "trip.CSV written\n" : "");
  });
  EXPECT_EQ(said, "SYSgetTextLine: Permission denied.  (" + dir / "trip.gpx" + ").\n");
}
#endif

std::vector<std::string> ReadAll(ByteSource& src) {
  GpxReader reader(src, true);
  std::vector<std::string> out;
  GpxWaypoint w;
  while (reader.Next(w))
    out.push_back(w.lat + "|" + w.lon + "|" + w.name + "|" + w.comment + "|" + w.category);
  return out;
}

TEST(GpxReader, BlockBoundariesChangeNothing) {
  const std::string gpx =
      "<?xml version=\"1.0\"?>\r\n<gpx><!-- a -- b -->\r\n<wpt lat='1' lon='2'><name>A "
      "&lt;1&gt;</name>"
      "<cmt><![CDATA[x]]y]]></cmt></wpt>\n<wpt lat=\"3\"\n lon=\"4\">\n<name>B</name>\n<cmt>l1\n "
      "l2</cmt>\n"
      "<gpxx:Category>C&#xE9;</gpxx:Category></wpt><!--\n<wpt lat='9' "
      "lon='9'><name>no</name></wpt>-->"
      "<wpt lat='5' lon='6'><name>&#26085;&#26412;</name></wpt>";
  MemorySource whole(gpx);
  test::ChunkedSource bytes(gpx, 1);  // every block boundary inside some tag, entity or section
  std::vector<std::string> expected{"1|2|A <1>|x]]y|", "3|4|B|l1\nl2|Cé", "5|6|日本||"};
  EXPECT_EQ(ReadAll(whole), expected);
  EXPECT_EQ(ReadAll(bytes), expected);
}

// What a DOCTYPE's internal subset or a processing instruction holds is no
// waypoint, however it is quoted or nested; the waypoints after them are read.
TEST(GpxReader, DeclarationsAndProcessingInstructionsHoldNoWaypoint) {
  const std::string fake = "<wpt lat='1' lon='2'><name>x</name></wpt>";
  const std::string real = "<wpt lat='5' lon='6'><name>R</name><cmt>c</cmt></wpt>";
  const struct {
    const char* what;
    std::string gpx;
    std::string record = "5|6|R|c|";
  } cases[] = {
      {"an entity value", "<!DOCTYPE gpx [ <!ENTITY g \"" + fake + "\"> ]>" + real},
      {"a single-quoted one holding a quote and ]>",
       "<!DOCTYPE gpx [\n<!ENTITY g '\"]>" + fake + "'>\n]>" + real},
      {"a comment in the subset", "<!DOCTYPE gpx [ <!-- ' ]> " + fake + " --> ]>" + real},
      {"a processing instruction in the subset",
       "<!DOCTYPE gpx [ <?pi ' ]> " + fake + " ?> ]>" + real},
      {"an external identifier holding >", "<!DOCTYPE gpx PUBLIC \"-//x\" 'http://x/a>b'>" + real},
      {"a processing instruction", "<?xml version='1.0'?><?pi " + fake + " ?>" + real},
      {"one holding > and ?", "<?pi a > ? " + fake + " ?" + "?>" + real},
      {"one inside a comment",
       "<wpt lat='5' lon='6'><name>R</name><cmt>c<?pi " + fake + "?></cmt></wpt>"},
      {"one inside a name",
       "<wpt lat='5' lon='6'><name>R<?pi " + fake + "?></name><cmt>c</cmt></wpt>"},
      // A declaration never closed ends at the next markup outside its
      // subset: it cannot hide the waypoints after it.
      {"a declaration never closed", "<!DOCTYPE gpx " + real},
      {"one with a quote never closed", "<!DOCTYPE gpx SYSTEM \"x " + real},
  };
  for (const auto& c : cases) {
    const std::string gpx = "<gpx>" + c.gpx + "</gpx>";
    MemorySource whole(gpx);
    test::ChunkedSource bytes(gpx, 1);
    const std::vector<std::string> expected{c.record};
    EXPECT_EQ(ReadAll(whole), expected) << c.what;
    EXPECT_EQ(ReadAll(bytes), expected) << c.what << ", a byte at a time";
  }
}

TEST(GpxReader, LinesLongerThanTheBufferAreReadWhole) {
  const std::string longName(3'000'000, 'x');
  const std::string gpx = "<gpx><wpt lat='1' lon='2'><name>" + longName + "</name></wpt></gpx>";
  MemorySource src(gpx);
  EXPECT_EQ(ReadAll(src), std::vector<std::string>{"1|2|" + longName + "||"});
}

TEST(GpxReader, DecodesEntitiesAndLeavesUnknownOnes) {
  EXPECT_EQ(DecodeXmlText("a &amp; b &quot;c&apos; &#65;&#x42; &nbsp; &#0; &bogus"),
            "a & b \"c' AB &nbsp; &#0; &bogus");
}

// Text as marine and planning software write it, over several lines with any
// line end. The comment column shows comment and category.
TEST_F(GpxToCsv, ElementTextOverSeveralLines) {
  struct Case {
    const char* inner;
    const char* record;  // empty: the waypoint is dropped
  } cases[] = {
      {"<name>\nGROUIN\n</name>", "2,1,\"GROUIN\",\"|\""},
      {"<name>Camping du lac\n    de Palinges</name>", "2,1,\"Camping du lac de Palinges\",\"|\""},
      {"<name>\n  a  b \n\n\t c\n</name>", "2,1,\"a  b c\",\"|\""},
      {"<name>Pont <!-- was\nPasserelle -->Neuf</name>", "2,1,\"Pont Neuf\",\"|\""},
      {"<name> \n\t\n </name><cmt>c</cmt>", ""},
      {"<name>A</name><cmt>\n  first\n  second\n</cmt>", "2,1,\"A\",\"first - second|\""},
      {"<name>A</name><cmt>a\n\nb</cmt>", "2,1,\"A\",\"a -  - b|\""},
      {"<name>A</name><cmt>x <!-- y --> z</cmt>", "2,1,\"A\",\"x  z|\""},
      {"<name>A</name><cmt> one line </cmt>", "2,1,\"A\",\" one line |\""},
      {"<name>A</name><gpxx:Category>\nCamping\n  municipal\n</gpxx:Category>",
       "2,1,\"A\",\"|Camping municipal\""},
  };
  Options o;
  o.comment = "<T>|<C>";
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    for (const Case& c : cases) {
      std::string inner = c.inner;
      for (std::size_t p = 0; (p = inner.find('\n', p)) != std::string::npos; p += std::strlen(eol))
        inner.replace(p, 1, eol);
      std::remove((dir / "trip.CSV").c_str());
      EXPECT_EQ(Convert("<gpx><wpt lat='1' lon='2'>" + inner + "</wpt></gpx>", o), c.record)
          << c.inner << " with line ends "
          << (eol[0] == '\n' ? "LF"
              : eol[1]       ? "CR LF"
                             : "CR");
    }
  }
}

// Decoded quotes and line breaks, and literal quotes before a comma, must not
// end a field or a record early: a quote is written doubled, a line break in a
// name becomes a space and in a comment a comment line join. Read back, every
// point comes back with its text, less the quote characters.
TEST_F(GpxToCsv, FieldTextNeverEndsItsFieldOrRecord) {
  const std::string gpx =
      Gpx(Wpt("1", "2", "<name>q&quot;,&quot;x</name><cmt>c&quot;,&quot;d</cmt>") +
          Wpt("3", "4",
              "<name>a&#10;b&#13;c&#13;&#10;d</name><cmt>one&#10;5,6,&quot;Forged&quot;</cmt>") +
          Wpt("5", "6", "<name>24\" screen, used</name><cmt>sale&#13;ends</cmt>") +
          Wpt("7", "8", "<name><![CDATA[p\nq\"]]></name><cmt><![CDATA[\"x\"\n,y]]></cmt>"));
  const std::vector<std::string> fields[] = {
      {"q\"\",\"\"x", "c\"\",\"\"d"},
      {"a b c d", "one - 5,6,\"\"Forged\"\""},
      {"24\"\" screen, used", "sale - ends"},
      {"p q\"\"", "\"\"x\"\" - ,y"},
  };
  const std::string lon[] = {"2", "4", "6", "8"}, lat[] = {"1", "3", "5", "7"};
  for (bool keep : {false, true}) {
    Options o;
    o.keepBreaks = keep;
    const std::string csv = Convert(gpx, o);
    std::string expected;
    for (std::size_t i = 0; i < 4; ++i) {
      std::string comment = fields[i][1];
      if (keep)
        for (std::size_t p; (p = comment.find(" - ")) != std::string::npos;)
          comment.replace(p, 3, "\n");
      expected += (i ? "\r\n" : "") + lon[i] + "," + lat[i] + ",\"" + fields[i][0] + "\",\"" +
                  comment + "\"";
    }
    EXPECT_EQ(csv, expected) << "keep line breaks: " << keep;
    EXPECT_EQ(h.result.entries, 4);

    RecordingMessageSink sink;
    std::int32_t count = 0;
    const std::string written = ConvertPoiTextToGpx(csv, "trip", {"<T>", "", "", ""}, sink, count);
    MemorySource back(written);
    EXPECT_EQ(count, 4);
    // The way back turns " - " into line breaks, which this reader keeps.
    std::vector<std::string> got = ReadAll(back), want;
    for (std::size_t i = 0; i < 4; ++i) {
      std::string name = fields[i][0], comment = fields[i][1];
      for (std::size_t p; (p = comment.find(" - ")) != std::string::npos;)
        comment.replace(p, 3, "\n");
      std::erase(name, '"');
      std::erase(comment, '"');
      want.push_back(lat[i] + "|" + lon[i] + "|" + name + "|" + comment + "|");
    }
    EXPECT_EQ(got, want) << "keep line breaks: " << keep;
  }
}

// Generated names and comments follow the same rule as those read.
TEST_F(GpxToCsv, TemplateResultsAreWrittenAsFieldsToo) {
  Options o;
  o.keepBreaks = true;
  o.poiName = "<W> <T>";
  o.comment = "<C> \"<T>\"";
  EXPECT_EQ(Convert(Gpx(Wpt("1", "2",
                            "<name>N</name><cmt>a\nb</cmt><gpxx:Category>x\",y</gpxx:Category>")),
                    o),
            "2,1,\"N a b\",\"x\"\",y \"\"a\nb\"\"\"");
}

#ifndef _WIN32  // /proc/self/mem: opens, then every read fails
// A read that fails part way leaves the outputs as they were, as one that
// fails at once does.
TEST_F(GpxToCsv, FailedReadReplacesNothing) {
  WriteFile(dir / "trip.CSV", "keep me");
  // Opens, and every read fails (EIO): no address 0 in this process.
  std::filesystem::create_symlink("/proc/self/mem", dir / "trip.gpx");
  h.request.input = dir / "trip.gpx";
  EXPECT_EQ(h.ToPoi(), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 0);
  ASSERT_FALSE(h.messages.boxes.empty());
  EXPECT_EQ(h.messages.boxes[0].title, "SYSgetTextLine");
  EXPECT_EQ(ReadFile(dir / "trip.CSV"), "keep me");
}
#endif

TEST(GpxReader, EntitiesAreShortSoAnAmpersandLooksOnlyAFewBytesAhead) {
  EXPECT_EQ(DecodeXmlText("&#x10FFFF;&#0000000065;&#00000000065;&&amp;"),
            "\xF4\x8F\xBF\xBF"
            "A&#00000000065;&&");
}

}  // namespace
}  // namespace marklode
