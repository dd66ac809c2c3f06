// GPX to POI-CSV read in pieces on two threads gives what one reader gives:
// the same outputs, messages and counts, wherever the pieces are cut.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "engine/gpx_reader.h"
#include "engine/run.h"
#include "engine/run_report.h"
#include "test_util.h"
#include "tests/own_thread_sink.h"

namespace marklode {
namespace {

using test::OwnThreadSink;
using test::ReadFile;
using test::WriteFile;

// Cancels at its cancelAt-th question (never when 0), and checks that it is
// asked from the calling thread only.
class CancellingProgress : public ProgressSink {
 public:
  explicit CancellingProgress(int cancelAt, bool byUpdate = false)
      : cancelAt_(cancelAt), byUpdate_(byUpdate) {}
  bool Update(std::uint64_t, std::uint64_t) override {
    EXPECT_EQ(std::this_thread::get_id(), owner_);
    return !(byUpdate_ && ++asked_ >= cancelAt_);
  }
  bool Cancelled() override {
    EXPECT_EQ(std::this_thread::get_id(), owner_);
    return !byUpdate_ && cancelAt_ > 0 && ++asked_ >= cancelAt_;
  }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
  const int cancelAt_;
  const bool byUpdate_;
  int asked_ = 0;
};

struct Options {
  bool keepBreaks = false;
  std::string csvName;  // the file-name template: one input to many outputs
};

// What a run left: its status and counts, every message in order, its report
// (counts per reason, line numbers, hints), and every file it wrote with its
// bytes.
struct Outcome {
  RunStatus status;
  std::int32_t entries;
  std::string messages;
  std::string report;
  std::vector<std::pair<std::string, std::string>> files;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << "status " << static_cast<int>(o.status) << ", " << o.entries << " entries\n"
     << o.messages << o.report;
  for (const auto& [name, text] : o.files) os << name << ":\n" << text << "\n";
  return os;
}

Outcome Convert(std::string_view gpx, const Options& o, int threads, std::size_t pieceBytes,
                ProgressSink* progress = nullptr) {
  test::TempDir dir;
  WriteFile(dir / "trip.gpx", gpx);
  OwnThreadSink messages;
  MemorySettingsStore settings;
  RunServices services{messages, settings, progress};
  services.gpxThreads = threads;
  services.gpxPieceBytes = pieceBytes;
  Request request;
  request.direction = Direction::GpxToPoi;
  request.input = dir / "trip.gpx";
  request.keepCommentLineBreaks = o.keepBreaks;
  request.toPoi.fileName = o.csvName;
  const RunResult result = RunRequest(request, services);
  const auto withoutDir = [&](std::string text) {
    return test::WithoutFolder(std::move(text), dir.path());
  };
  Outcome out{result.status,
              result.entries,
              withoutDir(messages.Joined()),
              withoutDir(ReportJson(result, false)),
              {}};
  for (const std::string& name : test::Listing(dir.path()))
    if (name != "trip.gpx") out.files.emplace_back(name, ReadFile(dir / name));
  return out;
}

std::string Head() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<gpx version=\"1.1\" "
         "xmlns:gpxx=\"http://www.garmin.com/xmlschemas/GpxExtensions/v3\">\r\n";
}

std::string Point(int i, std::string_view inner) {
  return "<wpt lat=\"" + std::to_string(i % 89) + ".5\" lon=\"" + std::to_string(i % 179) +
         ".25\">\r\n" + std::string(inner);
}

std::string Category(int i) {
  return "<extensions><gpxx:WaypointExtension><gpxx:Categories><gpxx:Category>C" +
         std::to_string(i % 5) +
         "</gpxx:Category></gpxx:Categories></gpxx:WaypointExtension>"
         "</extensions>\r\n";
}

// Waypoints of every awkward shape one after another, so that cuts fall in
// and next to each of them: "<wpt" inside comments, CDATA, processing
// instructions and attribute values, text over many lines, self-closing and
// unclosed waypoints, nameless ones, invalid coordinates, and a waypoint
// longer than a few pieces.
std::string AwkwardShapes(int count) {
  std::string s = Head();
  for (int i = 0; i < count; ++i) {
    const std::string name = "<name>P" + std::to_string(i) + "</name>\r\n";
    switch (i % 16) {
      case 0:
        s += Point(i, name + "<cmt>plain</cmt>\r\n" + Category(i) + "</wpt>\r\n");
        break;
      case 1:
        s += "<!-- <wpt lat=\"1\" lon=\"2\"><name>ghost</name></wpt>\r\n <wpt lat=\"3\" lon=\"4\">"
             "<name>ghost 2</name></wpt> -->\r\n";
        s += Point(i, name + "</wpt>\r\n");
        break;
      case 2:
        s += Point(i, name +
                          "<cmt><![CDATA[a <wpt lat=\"5\" lon=\"6\"><name>in cdata</name> ]] ]>"
                          "\r\n<wpt lat=\"7\" lon=\"8\">]]> after</cmt>\r\n" +
                          Category(i) + "</wpt>\r\n");
        break;
      case 3:
        s += Point(i, "<name>\r\n   multi\r\n   line " + std::to_string(i) +
                          "\r\n</name>\r\n<cmt>first\r\n\r\n   second &amp; &#x263A;\r\n  "
                          "third\r\n</cmt>\r\n</wpt>\r\n");
        break;
      case 4:
        s += "<wpt lat=\"1\" lon=\"2\"/>\r\n<wpt lat=\"1\" lon=\"2\" />\r\n";
        break;
      case 5:
        s += Point(i, name + "<cmt>no end tag</cmt>\r\n");  // the next waypoint ends it
        break;
      case 6:
        s += Point(i, "<desc>nameless</desc>\r\n</wpt>\r\n");
        break;
      case 7:
        s += "<wpt lat=\"91\" lon=\"2\">" + name + "</wpt>\r\n<wpt lat=\"1\">" + name +
             "</wpt>\r\n<wpt lat=\"x\" lon=\"2\">" + name + "</wpt>\r\n";
        break;
      case 8:
        s += "<?pi <wpt lat=\"1\" lon=\"2\"> ?>\r\n" +
             Point(i, "<name><![CDATA[<wpt lat=\"9\" lon=\"9\">]]>" + std::to_string(i) +
                          "</name></wpt>\r\n");
        break;
      case 9:
        s += "<rte><name>route</name><rtept lat=\"1\" lon=\"2\"><name>R</name></rtept></rte>\r\n";
        s += Point(i, name + "<link href=\"x<wpt lat='1' lon='2'>\"/></wpt>\r\n");
        break;
      case 10:
        s += Point(i, name + "<cmt>" + std::string(700, 'x') + "\r\n" + std::string(700, 'y') +
                          "</cmt>\r\n</wpt>\r\n");
        break;
      case 11:
        s += "<WPT lat=\"1\" lon=\"2\"><name>upper " + std::to_string(i) + "</name></WPT>\r\n";
        break;
      case 12:
        s += Point(i, name +
                          "<cmt>a &lt;wpt lat=\"1\" lon=\"2\"&gt; &quot;q&quot;, and a "
                          "<b>tag</b></cmt>\r\n</wpt>\r\n");
        break;
      case 13:
        s += "<wpt\tlat='" + std::to_string(i % 80) + "' lon='1'\r\n>" + name + "</wpt>";
        break;
      case 14:
        s += Point(i, name + "<cmt>@" + std::to_string(i) + "</cmt></wpt>\r\n");
        break;
      case 15:
        s += Point(
            i, "<name>" + std::string(60, 'L') + "@x@y</name>\r\n" + Category(i) + "</wpt>\r\n");
        break;
    }
  }
  return s + "</gpx>\r\n";
}

std::string Plain(int count) {
  std::string s = Head();
  for (int i = 0; i < count; ++i)
    s += Point(i, "  <name>N" + std::to_string(i) + "</name>\r\n  <cmt>c</cmt>\r\n" + Category(i) +
                      "</wpt>\r\n");
  return s + "</gpx>\r\n";
}

// The shapes that send a piece's reader past its cut, or never let it start,
// each among ordinary waypoints before and after.
std::vector<std::pair<std::string, std::string>> Shapes() {
  const std::string before = Plain(20).substr(0, Plain(20).size() - 8);
  const std::string after = Plain(20).substr(Head().size());
  return {
      {"awkward", AwkwardShapes(160)},
      {"plain", Plain(300)},
      {"doctype subset",
       "<?xml version=\"1.0\"?>\r\n<!DOCTYPE gpx [\r\n<!ENTITY e \"<wpt lat='1' lon='2'><name>x"
       "</name></wpt>\">\r\n<!-- ] <wpt lat=\"1\" lon=\"2\"> -->\r\n" +
           std::string(300, ' ') + "<!ENTITY f '<wpt lat=\"1\" lon=\"2\">'>\r\n]>\r\n" + after},
      {"unclosed comment", before + "<!-- never closed\r\n" + after},
      {"unclosed cdata", before + Point(1, "<name>n</name><cmt><![CDATA[ open\r\n") + after},
      {"unclosed start tag", before + "<wpt lat=\"1\" lon=\"2\"" + after},
      {"unclosed attribute", before + "<wpt lat=\"1\" lon=\"2" + after},
      {"comment in field text",
       before + Point(1, "<name>a<!-- <wpt lat='1' lon='2'> -->b") + "</name>" + after},
      {"long waypoint",
       before + Point(1, "<name>long</name><cmt>" + std::string(20000, 'z') + "</cmt></wpt>\r\n") +
           after},
      {"ends inside a waypoint", before + Point(1, "<name>last</name><cmt>cut off")},
      {"bom", "\xEF\xBB\xBF" + Plain(40)},
      {"utf-16", test::EncodeUtf(U"<?xml version=\"1.0\"?><gpx><wpt lat=\"1\" lon=\"2\"><name>"
                                 U"\u00DCber</name></wpt><wpt lat=\"3\" lon=\"4\"><name>b</name>"
                                 U"</wpt></gpx>",
                                 2, false)},
      {"utf-32 in an unusual byte order", std::string("\0<\0\0", 4) + Plain(20)},
      {"empty", ""},
  };
}

const std::size_t kPieceSizes[] = {32, 64, 100, 333, 1024, 4096};

// Every fixture and shape, cut into pieces of every size, with the plain
// options, kept comment line breaks and a file-name template that sends the
// records to several outputs.
TEST(GpxPieces, TwoThreadsGiveWhatOneGivesWhereverTheCutsFall) {
  std::vector<std::pair<std::string, std::string>> inputs = Shapes();
  for (const auto& e :
       std::filesystem::directory_iterator(std::string(MARKLODE_SOURCE_DIR) + "/tests/realworld"))
    if (e.path().extension() == ".gpx")
      inputs.emplace_back(e.path().filename().string(), ReadFile(e.path().string()));
  inputs.emplace_back("interop",
                      ReadFile(std::string(MARKLODE_SOURCE_DIR) + "/tests/interop/source.gpx"));
  const Options options[] = {{}, {true, ""}, {false, "<C>"}};
  for (const auto& [name, gpx] : inputs) {
    for (const Options& o : options) {
      const Outcome one = Convert(gpx, o, 1, 0);
      for (std::size_t piece : kPieceSizes) {
        SCOPED_TRACE(name + ", pieces of " + std::to_string(piece) + ", template \"" + o.csvName +
                     "\"");
        EXPECT_EQ(Convert(gpx, o, 2, piece), one);
      }
    }
  }
}

// Many pieces in flight, with records on every piece: the order of records
// in each output survives the threads.
TEST(GpxPieces, ManyPiecesKeepTheRecordOrderOfEveryOutput) {
  const std::string gpx = Plain(5000);
  for (const Options& o : {Options{}, Options{false, "<C>"}}) {
    const Outcome one = Convert(gpx, o, 1, 0);
    EXPECT_EQ(Convert(gpx, o, 2, 512), one);
    EXPECT_EQ(Convert(gpx, o, 3, 2048), one);
  }
}

// A cancel part-way, asked for by Cancelled or by Update, stops the run and
// leaves no output; the sinks are asked from the calling thread only.
TEST(GpxPieces, CancelPartWayLeavesNothing) {
  const std::string gpx = AwkwardShapes(400);
  for (int at : {1, 2, 3, 40, 200}) {
    for (bool byUpdate : {false, true}) {
      if (byUpdate && at > 3) continue;  // the input is read in a few blocks
      SCOPED_TRACE(std::to_string(at) + (byUpdate ? " by update" : ""));
      CancellingProgress progress(at, byUpdate);
      const Outcome o = Convert(gpx, {}, 2, 256, &progress);
      EXPECT_EQ(o.status, RunStatus::Cancelled);
      EXPECT_TRUE(o.files.empty());
    }
  }
}

// The reader of a piece stops at its cut only where a waypoint's start tag
// begins as the whole file's reader reads it; then the waypoints before the
// cut and those a fresh reader finds after it are the file's.
TEST(GpxReader, StopsAtACutOnlyAtAWaypointsStartTag) {
  const std::string wpt = "<wpt lat=\"1\" lon=\"2\"><name>B</name></wpt>";
  struct Case {
    std::string before;  // the cut is at the "<wpt" right after it
    bool holds;
  };
  const Case cases[] = {
      {"<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt>", true},
      {"<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name>", true},  // no end tag
      {"<gpx><wpt lat=\"1\" lon=\"2\"><cmt>open", true},       // a comment's text ends there
      {"<gpx><wpt lat=\"1\" lon=\"2\"/>", true},
      {"<gpx><!-- ", false},
      {"<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name><cmt><![CDATA[", false},
      {"<gpx><?pi ", false},
      {"<!DOCTYPE gpx [ <!ENTITY e '", false},
      {"<!DOCTYPE gpx [ ", false},
      {"<gpx><wpt lat=\"1\" lon=\"", true},  // a "<" ends a start tag wherever it stands
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    const std::string text = c.before + wpt + "<wpt lat=\"3\" lon=\"4\"><name>C</name></wpt>";
    const std::size_t cut = c.before.size();
    ReadBuffer bytes(text.size() + BlockReader::kPadding);
    std::memcpy(bytes.data(), text.data(), text.size());
    GpxReader piece(bytes, text.size(), false);
    piece.StopAt(cut);
    std::vector<std::string> names;
    GpxWaypoint w;
    while (piece.Next(w)) names.push_back(w.name);
    EXPECT_EQ(piece.stopped(), c.holds);
    if (!c.holds) continue;
    MemorySource rest(std::string_view(text).substr(cut));
    GpxReader after(rest, false);
    while (after.Next(w)) names.push_back(w.name);
    MemorySource whole(text);
    GpxReader one(whole, false);
    std::vector<std::string> expected;
    while (one.Next(w)) expected.push_back(w.name);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(piece.nameless() + after.nameless(), one.nameless());
  }
}

}  // namespace
}  // namespace marklode
