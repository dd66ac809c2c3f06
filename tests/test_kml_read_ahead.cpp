// A KML (or KMZ) read ahead on a thread of its own gives what one thread
// gives: the same outputs, messages and report, in the same order, with
// every message and question asked from the calling thread, and progress
// that only grows up to the input's size.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/kml_reader.h"
#include "engine/run.h"
#include "engine/run_report.h"
#include "test_util.h"
#include "tests/chunked_source.h"
#include "tests/own_thread_sink.h"

namespace marklode {
namespace {

using test::OwnThreadSink;
using test::ReadFile;
using test::WriteFile;

// Writes down the last progress told; cancels at its cancelAt-th question
// (never when 0), by Update or by Cancelled.
class ProgressLog : public ProgressSink {
 public:
  explicit ProgressLog(int cancelAt = 0, bool byUpdate = false)
      : cancelAt_(cancelAt), byUpdate_(byUpdate) {}
  bool Update(std::uint64_t done, std::uint64_t total) override {
    EXPECT_EQ(std::this_thread::get_id(), owner_);
    // The input is read in blocks of other sizes ahead: only where progress
    // ends, and that it never goes back, are the same.
    wrong_ = wrong_ || done < last_ || done > total;
    last_ = done;
    log = wrong_ ? "went back or past the end" : std::to_string(done) + "/" + std::to_string(total);
    return !(byUpdate_ && ++asked_ >= cancelAt_);
  }
  bool Cancelled() override {
    EXPECT_EQ(std::this_thread::get_id(), owner_);
    return !byUpdate_ && cancelAt_ > 0 && ++asked_ >= cancelAt_;
  }
  std::string log;

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
  const int cancelAt_;
  const bool byUpdate_;
  int asked_ = 0;
  std::uint64_t last_ = 0;
  bool wrong_ = false;
};

struct Options {
  std::string csvName;  // the file-name template: one input to many outputs
  std::string comment;  // the comment template
  bool folderPath = false;
};

struct Outcome {
  RunStatus status;
  std::int32_t entries;
  std::string messages;
  std::string report;
  std::string progress;
  std::vector<std::pair<std::string, std::string>> files;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << "status " << static_cast<int>(o.status) << ", " << o.entries << " entries\n"
     << o.messages << o.report << "\nprogress " << o.progress << "\n";
  for (const auto& [name, text] : o.files) os << name << ": " << text.size() << " bytes\n";
  return os;
}

Outcome Convert(const std::string& name, std::string_view bytes, const Options& o, int threads,
                ProgressLog* cancelling = nullptr) {
  test::TempDir dir;
  WriteFile(dir / name, bytes);
  OwnThreadSink messages;
  MemorySettingsStore settings;
  ProgressLog logged;
  ProgressLog* progress = cancelling ? cancelling : &logged;
  RunServices services{messages, settings, progress};
  services.gpxThreads = threads;
  Request request;
  request.direction = Direction::GpxToPoi;
  request.input = dir / name;
  request.toPoi.fileName = o.csvName;
  request.toPoi.comment = o.comment;
  request.categoryFromFolderPath = o.folderPath;
  const RunResult result = RunRequest(request, services);
  const auto withoutDir = [&](std::string text) {
    return test::WithoutFolder(std::move(text), dir.path());
  };
  Outcome out{result.status,
              result.entries,
              withoutDir(messages.Joined()),
              withoutDir(ReportJson(result, false)),
              progress->log,
              {}};
  for (const std::string& file : test::Listing(dir.path()))
    if (file != name) out.files.emplace_back(file, ReadFile(dir / file));
  return out;
}

std::string Kml(std::string_view body) {
  return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><name>Map</name>\r\n" +
         std::string(body) + "</Document></kml>\r\n";
}

std::string Placemark(int i, std::string_view inner, std::string_view prefix = "") {
  const std::string p(prefix);
  return "<" + p + "Placemark><" + p + "name>P" + std::to_string(i) + "</" + p + "name>" +
         std::string(inner) + "<" + p + "Point><" + p + "coordinates>" + std::to_string(i % 179) +
         ".25," + std::to_string(i % 89) + ".5,0</" + p + "coordinates></" + p + "Point></" + p +
         "Placemark>\r\n";
}

// Placemarks of every awkward shape one after another, many batches of them:
// folders opened and closed between and around them, comments and CDATA
// holding placemarks, a kml: prefix, nameless ones, lines and polygons,
// several points, invalid coordinates, HTML descriptions, values, and now
// and then one far larger than the others.
std::string Awkward(int count) {
  std::string s;
  int open = 0;
  for (int i = 0; i < count; ++i) {
    switch (i % 14) {
      case 0:
        s += "<Folder><name>F" + std::to_string(i) + "</name>\r\n";
        ++open;
        s += Placemark(i, "<description>plain</description>");
        break;
      case 1:
        s += "<!-- <Placemark><name>ghost</name><Point><coordinates>1,2</coordinates></Point>"
             "</Placemark> -->\r\n" +
             Placemark(i, "");
        break;
      case 2:
        s += Placemark(i,
                       "<description><![CDATA[a <b>bold</b><br>line </Placemark> "
                       "<Folder> &amp;]]></description>");
        break;
      case 3:
        s += Placemark(i, "<kml:description>prefixed</kml:description>", "kml:");
        break;
      case 4:
        s += "<Placemark><description>nameless</description><Point><coordinates>1,2"
             "</coordinates></Point></Placemark>\r\n";
        break;
      case 5:
        s += "<Placemark><name>Road " + std::to_string(i) +
             "</name><LineString><coordinates>1,2 3,4</coordinates></LineString></Placemark>\r\n";
        break;
      case 6:
        s += "<Placemark><name>Two " + std::to_string(i) +
             "</name><MultiGeometry><Point><coordinates>1,2</coordinates></Point><Point>"
             "<coordinates>3,4</coordinates></Point><Polygon><outerBoundaryIs><LinearRing>"
             "<coordinates>0,0 1,1 0,0</coordinates></LinearRing></outerBoundaryIs></Polygon>"
             "</MultiGeometry></Placemark>\r\n";
        break;
      case 7:
        s += "<Placemark><name>Far " + std::to_string(i) +
             "</name><Point><coordinates>200,95</coordinates></Point></Placemark>\r\n"
             "<Placemark><name>None " +
             std::to_string(i) + "</name></Placemark>\r\n";
        break;
      case 8:
        s += Placemark(i, "<styleUrl>#s</styleUrl><ExtendedData><Data name=\"phone\"><value>555 " +
                              std::to_string(i) +
                              "</value></Data><SchemaData><SimpleData name=\"stars\">4</SimpleData>"
                              "</SchemaData></ExtendedData>");
        break;
      case 9:
        if (open > 0) {
          s += "</Folder>\r\n";
          --open;
        }
        s += Placemark(i,
                       "<description>Caf&#xE9; &lt;br&gt;\r\nnext &quot;line&quot;</description>");
        break;
      case 10:
        s += "<?pi <Placemark> ?>" + Placemark(i, "<!-- </name> -->");
        break;
      case 11:
        if (i % 20 == 11)  // larger than a batch of the ones around it
          s += Placemark(i, "<description>" + std::string(300 << 10, 'd') + "</description>");
        else
          s += Placemark(i, "<description>" + std::string(2000, 'e') + "</description>");
        break;
      case 12:
        s += "<Placemark><name>Long name of a placemark, more than thirty-nine characters " +
             std::to_string(i) +
             "</name><description>@30</description><Point><coordinates>"
             "5,6</coordinates></Point></Placemark>\r\n";
        break;
      case 13:
        s += "<Folder><name>Empty</name></Folder><Folder><Folder><name>Inner</name>" +
             Placemark(i, "") + "</Folder></Folder>\r\n";
        // Names longer than any the reader knows, and than a tag it reads at
        // once; prefixes on prefixes, attributes after a prefix, empty elements.
        s += "<" + std::string(30, 'x') + "/><" + std::string(200, 'y') + " a='1'></" +
             std::string(200, 'y') +
             "><a:b:Placemark><name>Deep</name><kml:Point\t><coordinates>"
             "3,4</coordinates></kml:Point></a:b:Placemark><Point/><NAME>x</NAME >\r\n";
        break;
    }
  }
  for (; open > 0; --open) s += "</Folder>\r\n";
  return Kml(s);
}

// A zip archive of one entry, doc.kml, deflated.
std::string Kmz(std::string_view kml) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string body(deflateBound(&z, static_cast<uLong>(kml.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(kml.data()));
  z.avail_in = static_cast<uInt>(kml.size());
  z.next_out = reinterpret_cast<Bytef*>(body.data());
  z.avail_out = static_cast<uInt>(body.size());
  deflate(&z, Z_FINISH);
  body.resize(z.total_out);
  deflateEnd(&z);
  const auto put = [](std::string& s, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(kml.data()), static_cast<uInt>(kml.size())));
  // The fields a local header and a central entry share, from the version on.
  std::string common;
  put(common, 0, 2);  // flags
  put(common, 8, 2);  // deflated
  put(common, 0, 4);  // time and date
  put(common, crc, 4);
  put(common, static_cast<std::uint32_t>(body.size()), 4);
  put(common, static_cast<std::uint32_t>(kml.size()), 4);
  put(common, 7, 2);  // the name's length
  put(common, 0, 2);  // extra
  std::string out;
  put(out, 0x04034b50, 4);
  put(out, 20, 2);
  out += common + "doc.kml" + body;
  const auto at = static_cast<std::uint32_t>(out.size());
  put(out, 0x02014b50, 4);
  put(out, 20, 2);
  put(out, 20, 2);
  out += common + std::string(14, '\0');  // comment, disk, attributes, local header at 0
  out += "doc.kml";
  const auto central = static_cast<std::uint32_t>(out.size()) - at;
  put(out, 0x06054b50, 4);
  put(out, 0, 4);
  put(out, 1, 2);
  put(out, 1, 2);
  put(out, central, 4);
  put(out, at, 4);
  put(out, 0, 2);
  return out;
}

std::vector<std::pair<std::string, std::string>> Inputs() {
  const std::string many = Awkward(1400);  // several blocks of the reader, and many batches
  const std::string kmz = Kmz(many);
  std::string deep, deep_end;  // nesting far past what the reader keeps
  for (int i = 0; i < 100000; ++i) {
    deep += i % 2 ? "<Folder>" : "<a>";
    deep_end += i % 2 ? "</a>" : "</Folder>";
  }
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"awkward.kml", many},
      {"awkward.kmz", kmz},
      {"small.kml", Awkward(30)},
      {"cut short.kml", many.substr(0, many.size() / 2)},
      {"unclosed comment.kml", Awkward(40) + "<!-- " + many},
      {"empty.kml", ""},
      {"no placemarks.kml", Kml("<Folder><name>A</name></Folder>")},
      {"deep and doctype.kml", "<!DOCTYPE kml [<!ENTITY a \"<Placemark>\"><!-- ]> -->]>" +
                                   Awkward(20) + deep + deep_end + Awkward(20)},
      {"damaged.kmz", kmz.substr(0, kmz.size() / 2)},
  };
  for (const char* example : {"city-walk.kml", "city-walk.kmz"})
    inputs.emplace_back(example,
                        ReadFile(std::string(MARKLODE_SOURCE_DIR) + "/examples/" + example));
  return inputs;
}

// Every waypoint's fields and values, one line each.
std::string ReadAll(ByteSource& src, bool folderPath) {
  KmlReader r(src, folderPath);
  GpxWaypoint w;
  std::string out;
  while (r.Next(w)) {
    out += w.lat + "," + w.lon + "|" + w.name + "|" + w.comment + "|" + w.category;
    for (const auto& [n, v] : w.values) out += "{" + n + "=" + v + "}";
    out += "\n";
  }
  return out + std::to_string(r.nameless()) + " " + std::to_string(r.notPoints());
}

// A tag read at once, where it lies whole in the data read, reads as the
// states read it a few bytes at a time.
TEST(KmlReader, WholeTagsReadAsTheStatesReadThem) {
  const std::string kml = Awkward(300);
  for (const bool folderPath : {false, true}) {
    MemorySource whole{kml};
    const std::string expected = ReadAll(whole, folderPath);
    EXPECT_NE(expected.find("4,3|Deep"), std::string::npos);
    for (const std::size_t step : {1, 2, 5, 16, 129, 4000}) {
      test::ChunkedSource src(kml, step);
      EXPECT_EQ(ReadAll(src, folderPath), expected) << "step " << step;
    }
  }
}

TEST(KmlReadAhead, TwoThreadsGiveWhatOneGives) {
  const Options options[] = {{}, {"<C>", "<T> <{phone}>", false}, {"", "<C>", true}};
  for (const auto& [name, bytes] : Inputs()) {
    for (const Options& o : options) {
      SCOPED_TRACE(name + ", template \"" + o.csvName + "\"");
      const Outcome one = Convert(name, bytes, o, 1);
      EXPECT_EQ(Convert(name, bytes, o, 2), one);
    }
  }
}

// A cancel part-way, asked for by Cancelled or by Update, stops the run and
// leaves no output.
TEST(KmlReadAhead, CancelPartWayLeavesNothing) {
  const std::string kml = Awkward(1400);
  for (const std::string name : {"a.kml", "a.kmz"}) {
    const std::string bytes = name == "a.kml" ? kml : Kmz(kml);
    for (int at : {1, 2, 3, 40, 1000}) {
      for (bool byUpdate : {false, true}) {
        if (byUpdate && at > 3) continue;  // the input is read in a few blocks
        SCOPED_TRACE(name + " at " + std::to_string(at) + (byUpdate ? " by update" : ""));
        ProgressLog progress(at, byUpdate);
        const Outcome o = Convert(name, bytes, {}, 2, &progress);
        EXPECT_EQ(o.status, RunStatus::Cancelled);
        EXPECT_TRUE(o.files.empty());
      }
    }
  }
}

}  // namespace
}  // namespace marklode
