#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/input_formats.h"
#include "engine/kml_reader.h"
#include "engine/kmz_source.h"
#include "engine/profiles.h"
#include "engine/run_report.h"
#include "test_util.h"
#include "tests/chunked_source.h"

namespace marklode {
namespace {

using test::Crlf;
using test::ReadFile;
using test::WriteFile;

// Each waypoint as "lat,lon|name|comment|category" and its values "{n=v}".
std::string ReadAll(ByteSource& src, bool folderPath = false, std::int64_t* nameless = nullptr,
                    std::int64_t* notPoints = nullptr) {
  KmlReader r(src, folderPath);
  GpxWaypoint w;
  std::string out;
  while (r.Next(w)) {
    out += (w.hasLat ? w.lat + "," + w.lon : std::string("-")) + "|" + w.name + "|" + w.comment +
           "|" + w.category;
    for (const auto& [n, v] : w.values) out += "{" + n + "=" + v + "}";
    out += "\n";
  }
  if (nameless) *nameless = r.nameless();
  if (notPoints) *notPoints = r.notPoints();
  return out;
}

std::string ReadAll(std::string_view kml, bool folderPath = false) {
  MemorySource src{kml};
  return ReadAll(src, folderPath);
}

std::string Kml(std::string_view body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><name>My map</name>\n" +
         std::string(body) + "</Document></kml>\n";
}

// The shapes online map editors and Earth programs export.
const char* const kTrip =
    "<Style id=\"icon-1\"><IconStyle><Icon><href>images/icon-1.png</href></Icon></IconStyle>"
    "</Style>\n"
    "<Folder><name>Trip</name>\n"
    " <Folder><name>Day 1</name>\n"
    "  <Placemark><name>Cafe &amp; Bar</name>\n"
    "   <description><![CDATA[Good <b>coffee</b><br>Open 8&ndash;5<br/>Cash only]]></description>\n"
    "   <styleUrl>#icon-1</styleUrl>\n"
    "   <ExtendedData><Data name=\"phone\"><displayName>Phone</displayName>"
    "<value>555 123</value></Data>\n"
    "    <SchemaData schemaUrl=\"#s\"><SimpleData name=\"stars\">4</SimpleData></SchemaData>"
    "</ExtendedData>\n"
    "   <Point><coordinates>13.4050,52.5200,0</coordinates></Point></Placemark>\n"
    "  <Placemark><name>Road</name><LineString><coordinates>1,2,0 3,4,0</coordinates>"
    "</LineString></Placemark>\n"
    " </Folder>\n"
    " <Placemark><name>Lakes</name><description>North &lt;br&gt;South</description>\n"
    "  <MultiGeometry><Point><coordinates> 8.5,47.3 </coordinates></Point>\n"
    "   <Point><coordinates>\n 8.6,47.4\n </coordinates></Point>\n"
    "   <Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 1,1 0,0</coordinates>"
    "</LinearRing></outerBoundaryIs></Polygon></MultiGeometry></Placemark>\n"
    "</Folder>\n"
    "<Placemark><name>Home</name><Point><coordinates>-0.12,51.5</coordinates></Point>"
    "</Placemark>\n";

const char* const kTripRead =
    "52.5200,13.4050|Cafe & Bar|Good coffee\nOpen 8\xE2\x80\x93"
    "5\nCash only|Day 1"
    "{styleUrl=#icon-1}{phone=555 123}{stars=4}\n"
    "47.3,8.5|Lakes|North \nSouth|Trip\n"
    "47.4,8.6|Lakes|North \nSouth|Trip\n"
    "51.5,-0.12|Home||\n";

TEST(KmlReader, PlacemarksOfRealExportsBecomeWaypoints) {
  std::int64_t nameless = 0, notPoints = 0;
  const std::string kml = Kml(kTrip);
  MemorySource src{kml};
  EXPECT_EQ(ReadAll(src, false, &nameless, &notPoints), kTripRead);
  EXPECT_EQ(notPoints, 2);  // the road and the lakes' polygon
  EXPECT_EQ(nameless, 0);
}

TEST(KmlReader, TheFolderPathWhenAskedFor) {
  const std::string out = ReadAll(Kml(kTrip), true);
  EXPECT_NE(out.find("|Trip / Day 1{"), std::string::npos) << out;
  EXPECT_NE(out.find("Lakes|North \nSouth|Trip\n"), std::string::npos) << out;
  // Folders without a name are passed over in the path.
  EXPECT_EQ(ReadAll(Kml("<Folder><name>A</name><Folder><Folder><name>C</name><Placemark>"
                        "<name>p</name><Point><coordinates>1,2</coordinates></Point>"
                        "</Placemark></Folder></Folder></Folder>"),
                    true),
            "2,1|p||A / C\n");
}

TEST(KmlReader, ShapesOfTheFileReadAlike) {
  // A prefix on every element, Windows line ends, a byte order mark, a
  // DOCTYPE and comments: the same waypoints.
  std::string prefixed = Kml(kTrip);
  for (std::size_t at = 0; (at = prefixed.find('<', at)) != std::string::npos; ++at) {
    const char next = prefixed[at + 1];
    if (prefixed.compare(at, 9, "<![CDATA[") == 0) {
      at = prefixed.find("]]>", at);
    } else if (next == '/')
      prefixed.insert(at + 2, "kml:");
    else if (next != '?' && next != '!')
      prefixed.insert(at + 1, "kml:");
  }
  const std::string shapes[] = {
      prefixed,
      Crlf(Kml(kTrip)),
      "\xEF\xBB\xBF" + Kml(kTrip),
      "<!DOCTYPE kml [<!ENTITY x \"<Placemark>\">]><!-- <Placemark> -->" + Kml(kTrip),
      // A subset's comment and processing instruction may hold quotes and brackets.
      "<!DOCTYPE kml [<!-- it's ] --><?pi \"?><!ENTITY y '>'>]>" + Kml(kTrip),
  };
  for (const std::string& kml : shapes) {
    std::string expected = kTripRead;
    EXPECT_EQ(ReadAll(kml), expected) << kml.substr(0, 80);
  }
}

TEST(KmlReader, EveryBlockBoundaryReadsTheSame) {
  const std::string kml = Kml(kTrip);
  for (std::size_t step = 1; step < 40; ++step) {
    test::ChunkedSource src(kml, step);
    EXPECT_EQ(ReadAll(src), kTripRead) << "step " << step;
  }
}

// A shape's coordinates are taken as they stream by: cut anywhere, the same
// centroid; a vertex cut short by the file's end leaves none.
TEST(KmlReader, ShapesReadAsTheyStreamBy) {
  std::string ring;
  for (int i = 0; i <= 360; i += 5) {
    const double a = i * 3.14159265358979 / 180;
    ring += std::to_string(7 + 0.5 * std::cos(a)) + "," + std::to_string(46 + 0.5 * std::sin(a)) +
            ",0\n  ";
  }
  const std::string kml =
      Kml("<Placemark><name>Round</name><Polygon><outerBoundaryIs><LinearRing><coordinates>" +
          ring + "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>");
  const auto read = [](ByteSource& src) {
    KmlReader r(src, false, nullptr, ShapePoint::Centroid);
    GpxWaypoint w;
    std::string out;
    while (r.Next(w)) out += (w.hasLat ? w.lon + "," + w.lat : "-") + "|" + w.name + "\n";
    return out;
  };
  MemorySource whole(kml);
  ASSERT_EQ(read(whole), "7,46|Round\n");
  for (std::size_t step = 1; step < 24; ++step) {
    test::ChunkedSource src(kml, step);
    EXPECT_EQ(read(src), "7,46|Round\n") << "step " << step;
  }
  const std::string cut = Kml("<Placemark><name>L</name><LineString><coordinates>1,1 3,1 9");
  MemorySource src(std::string_view(cut).substr(0, cut.find(" 9") + 2));
  EXPECT_EQ(read(src), "-|L\n");
}

TEST(InputFormatOf, ProfilesTakeEveryInputKindForGpxToPoi) {
  const auto direction = [](const char* input) {
    ConversionProfile p;
    p.Input = input;
    return RequestOf(p, "").direction;
  };
  for (const char* in : {"a.kml", "B.KMZ", "c.geojson", "d.json", "e.gpx"})
    EXPECT_EQ(direction(in), Direction::GpxToPoi) << in;
  for (const char* in : {"a.csv", "b.txt", "kml"})
    EXPECT_EQ(direction(in), Direction::PoiToGpx) << in;
}

TEST(KmlReader, OddPlacemarks) {
  struct Case {
    const char* body;
    const char* read;
    std::int64_t nameless, notPoints;
  } cases[] = {
      // No geometry: a waypoint without coordinates, told as such later.
      {"<Placemark><name>Idea</name></Placemark>", "-|Idea||\n", 0, 0},
      // No name: dropped and counted, as GPX's nameless waypoints.
      {"<Placemark><Point><coordinates>1,2</coordinates></Point></Placemark>", "", 1, 0},
      {"<Placemark><name>  </name><Point><coordinates>1,2</coordinates></Point></Placemark>", "", 1,
       0},
      // Self-closing elements, single quotes, attributes in any order.
      {"<Placemark id='a'><name>X</name><description/><Point><coordinates>1,2</coordinates>"
       "</Point></Placemark>",
       "2,1|X||\n", 0, 0},
      {"<Placemark><name>D</name><ExtendedData><Data id=\"q\" name = 'a &amp; b'><value>v"
       "</value></Data><Data><value>no name</value></Data></ExtendedData><Point><coordinates>1,2"
       "</coordinates></Point></Placemark>",
       "2,1|D||{a & b=v}\n", 0, 0},
      // A name over lines, and only the placemark's own: a style's is not it.
      {"<Placemark><name>\n  Two\n  lines\n</name><Point><coordinates>1,2</coordinates></Point>"
       "</Placemark>",
       "2,1|Two lines||\n", 0, 0},
      // Coordinates without a latitude; a track is not a point.
      {"<Placemark><name>L</name><Point><coordinates>7</coordinates></Point></Placemark>",
       "-|L||\n", 0, 0},
      {"<Placemark><name>T</name><gx:Track><gx:coord>1 2 3</gx:coord></gx:Track></Placemark>", "",
       0, 1},
  };
  for (const Case& c : cases) {
    const std::string kml = Kml(c.body);
    MemorySource src{kml};
    std::int64_t nameless = 0, notPoints = 0;
    EXPECT_EQ(ReadAll(src, false, &nameless, &notPoints), c.read) << c.body;
    EXPECT_EQ(nameless, c.nameless) << c.body;
    EXPECT_EQ(notPoints, c.notPoints) << c.body;
  }
}

TEST(KmlReader, HostileShapesHold) {
  // An entity bomb: its entities are never expanded.
  std::string bomb = "<!DOCTYPE kml [<!ENTITY a \"aaaaaaaaaa\">";
  for (int i = 1; i < 10; ++i)
    bomb += "<!ENTITY " + std::string(1, char('a' + i)) + " \"" + std::string(10, '&') +
            "\">";  // nonsense, never read
  bomb += "]>" + Kml("<Placemark><name>&j;&a;</name><Point><coordinates>1,2</coordinates>"
                     "</Point></Placemark>");
  EXPECT_EQ(ReadAll(bomb), "2,1|&j;&a;||\n");
  // Deep nesting: bounded, and the placemark after it is still read.
  std::string deep = std::string(200000 * 5, ' ');
  deep.clear();
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  for (int i = 0; i < 200000; ++i) deep += "</a>";
  EXPECT_EQ(ReadAll(Kml(deep + "<Placemark><name>P</name><Point><coordinates>1,2</coordinates>"
                               "</Point></Placemark>")),
            "2,1|P||\n");
  // A huge name and a huge attribute are read or passed over whole.
  const std::string big(3 << 20, 'x');
  EXPECT_EQ(ReadAll(Kml("<Placemark a=\"" + big + "\"><name>" + big +
                        "</name><Point><coordinates>1,2</coordinates></Point></Placemark>")),
            "2,1|" + big + "||\n");
  // Cut at every byte: never a crash or a hang, never a waypoint made up.
  const std::string kml = Kml(kTrip);
  for (std::size_t n = 0; n <= kml.size(); ++n) {
    const std::string out = ReadAll(std::string_view(kml).substr(0, n));
    EXPECT_LE(std::count(out.begin(), out.end(), '|'), 12) << n;
  }
}

TEST(HtmlToText, DescriptionsBecomePlainText) {
  struct Case {
    const char* html;
    const char* text;
  } cases[] = {
      {"a<br>b<BR/>c<br />d", "a\nb\nc\nd"},
      {"<p><b>Bold</b> <a href=\"x\">link</a></p>", "Bold link"},
      {"5 &lt; 6 &amp;&nbsp;&#233;&#x20AC;", "5 < 6 & \xC3\xA9\xE2\x82\xAC"},
      {"a < b > c", "a < b > c"},
      {"&unknown; &", "&unknown; &"},
      {"<broken", "<broken"},
      {"<bread>x", "x"},  // a tag named otherwise is no line break
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.html;
}

TEST(InputFormatOf, ContentFirstThenExtension) {
  struct Case {
    const char* name;
    std::string head;
    InputFormat format;
  } cases[] = {
      {"a.kml", "<?xml version=\"1.0\"?><kml xmlns=\"x\">", InputFormat::Kml},
      {"a.xml", "<?xml version=\"1.0\"?>\n<kml xmlns=\"x\">", InputFormat::Kml},
      {"a.xml", "<kml:kml xmlns:kml=\"x\">", InputFormat::Kml},
      {"a.txt", "\xEF\xBB\xBF {\"type\": \"FeatureCollection\"", InputFormat::GeoJson},
      {"a.bin", std::string("PK\x03\x04", 4), InputFormat::Kmz},
      {"A.KMZ", "", InputFormat::Kmz},
      {"a.geojson", "", InputFormat::GeoJson},
      {"a.json", "", InputFormat::GeoJson},
      {"a.kml", "", InputFormat::Kml},
      {"a.xml", "<gpx version=\"1.1\"><wpt", InputFormat::Gpx},
      {"a.txt", "anything", InputFormat::Gpx},
      // A ".gpx" is GPX, whatever it holds, as it always was.
      {"a.gpx", "<kml xmlns=\"x\">", InputFormat::Gpx},
      {"a.xml", std::string("<\0k\0m\0l\0 \0", 10), InputFormat::Kml},  // UTF-16
  };
  for (const Case& c : cases)
    EXPECT_EQ(InputFormatOf(c.name, c.head), c.format) << c.name << " " << c.head;
  EXPECT_TRUE(IsWaypointInputName("/x/Places.KMZ"));
  EXPECT_TRUE(IsWaypointInputName("p.geojson"));
  EXPECT_FALSE(IsWaypointInputName("p.csv"));
  EXPECT_FALSE(IsWaypointInputName("kml"));
}

// A zip archive of entries, as archivers write it: local headers with their
// sizes, or (descriptor) sizes after the data.
struct ZipEntry {
  std::string name, data;
  bool deflate = true, descriptor = false;
  // The descriptor's sizes in 64 bits (a zip64 extra field saying so), or
  // without the descriptor's signature.
  bool zip64 = false, unsigned_ = false;
};

std::string Deflated(const std::string& data) {
  z_stream s{};
  deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, static_cast<uLong>(data.size())), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

void Put(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Zip(const std::vector<ZipEntry>& entries) {
  std::string out, central;
  for (const ZipEntry& e : entries) {
    const std::string body = e.deflate ? Deflated(e.data) : e.data;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t unknown = e.zip64 ? 0xFFFFFFFF : 0;
    Put(out, 0x04034b50, 4);
    Put(out, e.zip64 ? 45 : 20, 2);
    Put(out, e.descriptor ? 8 : 0, 2);
    Put(out, e.deflate ? 8 : 0, 2);
    Put(out, 0, 4);
    Put(out, e.descriptor ? 0 : crc, 4);
    Put(out, e.descriptor ? unknown : static_cast<std::uint32_t>(body.size()), 4);
    Put(out, e.descriptor ? unknown : static_cast<std::uint32_t>(e.data.size()), 4);
    Put(out, static_cast<std::uint32_t>(e.name.size()), 2);
    Put(out, e.zip64 ? 20 : 0, 2);
    out += e.name;
    if (e.zip64) {  // sizes unknown yet: zeros, as streaming writers put them
      Put(out, 1, 2);
      Put(out, 16, 2);
      out += std::string(16, '\0');
    }
    out += body;
    if (e.descriptor) {
      if (!e.unsigned_) Put(out, 0x08074b50, 4);
      Put(out, crc, 4);
      for (const std::size_t size : {body.size(), e.data.size()}) {
        Put(out, static_cast<std::uint32_t>(size), 4);
        if (e.zip64) Put(out, 0, 4);
      }
    }
    // The directory: a zip64 entry's sizes in its extra field.
    Put(central, 0x02014b50, 4);
    central += std::string(4, '\0');
    Put(central, e.descriptor ? 8 : 0, 2);
    Put(central, e.deflate ? 8 : 0, 2);
    central += std::string(4, '\0');
    Put(central, crc, 4);
    Put(central, e.zip64 ? unknown : static_cast<std::uint32_t>(body.size()), 4);
    Put(central, e.zip64 ? unknown : static_cast<std::uint32_t>(e.data.size()), 4);
    Put(central, static_cast<std::uint32_t>(e.name.size()), 2);
    Put(central, e.zip64 ? 20 : 0, 2);
    central += std::string(10, '\0');
    Put(central, offset, 4);
    central += e.name;
    if (e.zip64) {
      Put(central, 1, 2);
      Put(central, 16, 2);
      for (const std::size_t size : {e.data.size(), body.size()}) {
        Put(central, static_cast<std::uint32_t>(size), 4);
        Put(central, 0, 4);
      }
    }
  }
  const std::uint32_t at = static_cast<std::uint32_t>(out.size());
  out += central;
  Put(out, 0x06054b50, 4);
  Put(out, 0, 4);
  Put(out, static_cast<std::uint32_t>(entries.size()), 2);
  Put(out, static_cast<std::uint32_t>(entries.size()), 2);
  Put(out, static_cast<std::uint32_t>(central.size()), 4);
  Put(out, at, 4);
  Put(out, 0, 2);
  return out;
}

// The KML a KMZ gives, and why it stopped: read from a source that can seek
// (as a file), or (stream) from one that cannot, a few bytes at a time.
std::string Unzipped(const std::string& zip, std::string* failure = nullptr, bool stream = false) {
  MemorySource file{zip};
  test::ChunkedSource pipe(zip, 7);
  KmzSource kmz(stream ? static_cast<ByteSource&>(pipe) : file);
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = kmz.Read(buf, sizeof buf)) > 0;) out.append(buf, n);
  if (failure) *failure = kmz.failure();
  return out;
}

TEST(KmzSource, TheFirstKmlEntryIsReadPastImages) {
  const std::string kml = Kml(kTrip);
  std::string png(5000, '\0');
  for (std::size_t i = 0; i < png.size(); ++i) png[i] = static_cast<char>(i * 7919 % 251);
  const std::vector<std::vector<ZipEntry>> archives = {
      {{"doc.kml", kml}, {"images/icon-1.png", png}},
      {{"images/icon-1.png", png, false}, {"files/doc.KML", kml}},
      {{"images/icon-1.png", png, true, true}, {"doc.kml", kml, true, true}},
      {{"images/", ""}, {"doc.kml", kml, false}, {"other.kml", "nothing"}},
  };
  for (const auto& entries : archives) {
    for (const bool stream : {false, true}) {
      std::string failure;
      EXPECT_EQ(Unzipped(Zip(entries), &failure, stream), kml);
      EXPECT_EQ(failure, "");
    }
  }
}

// Streaming writers put an entry's sizes after its data: in 32 or (zip64)
// 64 bits, with the descriptor's signature or without. The directory at the
// end gives them all; a source that cannot seek finds a deflated entry's end
// by inflating it, and cannot step over a stored one.
TEST(KmzSource, EntriesWithTheirSizesAfterTheirData) {
  const std::string kml = Kml(kTrip);
  std::string png(5000, '\0');
  for (std::size_t i = 0; i < png.size(); ++i) png[i] = static_cast<char>(i * 7919 % 251);
  struct Case {
    std::vector<ZipEntry> entries;
    bool streams;  // read from a source that cannot seek too
  } cases[] = {
      {{{"a.png", png, true, true}, {"doc.kml", kml}}, true},
      {{{"a.png", png, true, true, false, true}, {"doc.kml", kml}}, true},
      {{{"a.png", png, true, true, true}, {"doc.kml", kml, true, true, true}}, true},
      {{{"a.png", png, true, true, true, true}, {"doc.kml", kml}}, true},
      {{{"a.png", png, false, true}, {"doc.kml", kml}}, false},
      {{{"a.png", png, false, true, true},
        {"b.png", png, true, true},
        {"doc.kml", kml, false, true}},
       false},
      {{{"doc.kml", kml, false, true, true}, {"a.png", png}}, false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string zip = Zip(cases[i].entries);
    std::string failure;
    EXPECT_EQ(Unzipped(zip, &failure), kml) << i;
    EXPECT_EQ(failure, "") << i;
    const std::string streamed = Unzipped(zip, &failure, true);
    if (cases[i].streams) {
      EXPECT_EQ(streamed, kml) << i;
      EXPECT_EQ(failure, "") << i;
    } else {
      EXPECT_NE(failure, "") << i;
    }
  }
  // The archive's directory in its zip64 form.
  std::string zip = Zip({{"a.png", png, false, true}, {"doc.kml", kml, true, true, true}});
  const std::size_t end = zip.size() - 22;
  std::string record;
  Put(record, 0x06064b50, 4);
  Put(record, 44, 4);
  Put(record, 0, 4);
  Put(record, 45, 2);
  Put(record, 45, 2);
  Put(record, 0, 4);
  Put(record, 0, 4);
  const auto le16 = [&](std::size_t at) {
    return static_cast<std::uint32_t>((zip[at] & 0xFF) | ((zip[at + 1] & 0xFF) << 8));
  };
  // Entries on this disk and in all; the directory's size and offset.
  for (const std::uint32_t v : {2u, 2u, le16(end + 12), le16(end + 16)}) {
    Put(record, v, 4);
    Put(record, 0, 4);
  }
  Put(record, 0x07064b50, 4);
  Put(record, 0, 4);
  Put(record, static_cast<std::uint32_t>(end), 4);
  Put(record, 0, 4);
  Put(record, 1, 4);
  for (const int at : {8, 10}) zip[end + at] = zip[end + at + 1] = '\xFF';
  for (const int at : {12, 16}) zip.replace(end + at, 4, "\xFF\xFF\xFF\xFF");
  zip.insert(end, record);
  std::string failure;
  EXPECT_EQ(Unzipped(zip, &failure), kml);
  EXPECT_EQ(failure, "");
}

TEST(KmzSource, DamageIsToldNeverHidden) {
  const std::string kml = Kml(kTrip);
  const std::string good = Zip({{"images/a.png", "png bytes"}, {"doc.kml", kml}});
  struct Case {
    std::string zip;
    const char* says;
  } cases[] = {
      {"", "empty"},
      {"not a zip at all", "not a zip archive"},
      {Zip({{"images/a.png", "png"}}), "holds no .kml"},
      {good.substr(0, good.size() / 2), "cut short"},
      {good.substr(0, 47), "cannot be stepped over"},
  };
  for (const Case& c : cases) {
    std::string failure;
    Unzipped(c.zip, &failure);
    EXPECT_NE(failure.find(c.says), std::string::npos) << failure;
  }
  // A flipped byte in the deflated KML: the checksum or the inflation tells.
  std::string flipped = good;
  flipped[flipped.find("doc.kml") + 60] ^= 0x55;
  std::string failure;
  Unzipped(flipped, &failure);
  EXPECT_NE(failure.find("damaged"), std::string::npos) << failure;
}

TEST(KmzSource, AZipBombIsRefused) {
  // Sizes written after the data, as streaming archivers do: only the ratio tells.
  const std::string zeros(KmzSource::kFreeBytes + (8 << 20), ' ');
  std::string failure;
  const std::string out = Unzipped(Zip({{"doc.kml", zeros, true, true}}), &failure);
  EXPECT_NE(failure.find("zip bomb"), std::string::npos) << failure;
  EXPECT_LE(out.size(), KmzSource::kFreeBytes + (1 << 20));
  // A header that understates the size.
  std::string lying = Zip({{"doc.kml", std::string(100000, ' ')}});
  lying[22] = 10;  // the uncompressed size: 10 bytes
  lying[23] = lying[24] = lying[25] = 0;
  Unzipped(lying, &failure);
  EXPECT_NE(failure.find("inflates far past"), std::string::npos) << failure;
}

class KmlToCsv : public ::testing::Test {
 protected:
  std::string Convert(const std::string& name, std::string_view bytes) {
    WriteFile(dir / name, bytes);
    h.request.input = dir / name;
    status = h.ToPoi();
    const std::string stem = name.substr(0, name.rfind('.'));
    return ReadFile(dir / (stem + ".CSV"));
  }
  test::TempDir dir;
  test::Harness h;
  RunStatus status = RunStatus::Done;
};

constexpr const char* kTripCsv =
    "13.4050,52.5200,\"Cafe & Bar\",\"Good coffee - Open 8\xE2\x80\x93"
    "5 - Cash only\"\r\n"
    "8.5,47.3,\"Lakes\",\"North - South\"\r\n"
    "8.6,47.4,\"Lakes\",\"North - South\"\r\n"
    "-0.12,51.5,\"Home\"";

TEST_F(KmlToCsv, KmlKmzAndContentNamedOtherwiseConvertAlike) {
  const std::string kml = Kml(kTrip);
  EXPECT_EQ(Convert("places.kml", kml), kTripCsv);
  EXPECT_EQ(Convert("saved.xml", kml), kTripCsv);
  EXPECT_EQ(Convert("places.kmz", Zip({{"images/icon-1.png", "png"}, {"doc.kml", kml}})), kTripCsv);
  EXPECT_EQ(Convert("zipped.bin", Zip({{"doc.kml", kml}})), kTripCsv);
  const std::u32string wide(kml.begin(), kml.end());  // the fixture is ASCII
  EXPECT_EQ(Convert("wide.xml", "\xFF\xFE" + test::EncodeUtf(wide, 2, false)), kTripCsv);
  EXPECT_TRUE(h.messages.boxes.empty());
  ASSERT_EQ(h.result.events.size(), 1u);
  const FileReport& report = h.result.events[0].files.at(0);
  EXPECT_EQ(report.Of(SkipReason::NotAPoint).count, 2);
  EXPECT_EQ(report.written, 4);
  EXPECT_EQ(report.read, 6);
}

// GeoJSON through the whole conversion, by name and by content: points and
// multi-points become records, properties fill <{name}>, and what is no
// point, has no name or no coordinates is counted, as for KML.
TEST_F(KmlToCsv, GeoJsonFeaturesConvertWithTheirProperties) {
  const std::string json =
      "\xEF\xBB\xBF{\"type\": \"FeatureCollection\", \"features\": [\r\n"
      "{\"type\": \"Feature\", \"properties\": {\"name\": \"Hut\", \"description\": "
      "\"Open\\nMay\", \"category\": \"Shelter\", \"ele\": 2351},\r\n"
      " \"geometry\": {\"type\": \"Point\", \"coordinates\": [7.6583, 45.9763, 2351.0]}},\r\n"
      "{\"type\": \"Feature\", \"properties\": {\"title\": \"Springs\"}, \"geometry\": "
      "{\"type\": \"MultiPoint\", \"coordinates\": [[7.61, 45.91], [7.62, 45.92]]}},\r\n"
      "{\"type\": \"Feature\", \"properties\": {\"name\": \"Ridge\"}, \"geometry\": "
      "{\"type\": \"LineString\", \"coordinates\": [[7.65, 45.97], [7.66, 45.98]]}},\r\n"
      "{\"type\": \"Feature\", \"properties\": {\"name\": \"Swapped\"}, \"geometry\": "
      "{\"type\": \"Point\", \"coordinates\": [45.9, 120.5]}},\r\n"
      "{\"type\": \"Feature\", \"properties\": {\"ref\": 7}, \"geometry\": "
      "{\"type\": \"Point\", \"coordinates\": [7.5, 45.5]}}\r\n]}\r\n";
  const std::string csv =
      "7.6583,45.9763,\"Hut\",\"Open - May\"\r\n"
      "7.61,45.91,\"Springs\"\r\n"
      "7.62,45.92,\"Springs\"";
  EXPECT_EQ(Convert("places.geojson", json), csv);
  EXPECT_EQ(Convert("export.txt", json), csv);
  ASSERT_EQ(h.result.events.size(), 1u);
  const FileReport& report = h.result.events[0].files.at(0);
  EXPECT_EQ(report.read, 6);
  EXPECT_EQ(report.written, 3);
  EXPECT_EQ(report.Of(SkipReason::NotAPoint).count, 1);
  EXPECT_EQ(report.Of(SkipReason::NoName).count, 1);
  EXPECT_EQ(report.Of(SkipReason::NoCoordinates).count, 1);
  EXPECT_EQ(report.Of(SkipReason::NoCoordinates).lines[0], 6);
  EXPECT_NE(h.messages.Joined().find("Invalid lon/lat for: Swapped"), std::string::npos);

  h.request.toPoi = {"<{category}>: <{ele}>", "", ""};
  Convert("places.json", json);
  EXPECT_EQ(ReadFile(dir / "places.CSV"),
            "7.6583,45.9763,\"Hut\",\"Shelter: 2351\"\r\n"
            "7.61,45.91,\"Springs\",\": \"\r\n7.62,45.92,\"Springs\",\": \"");
}

// Bad JSON writes nothing and says where it went wrong.
TEST_F(KmlToCsv, BadGeoJsonWritesNothingAndSaysWhere) {
  WriteFile(dir / "bad.CSV", "OLD");
  Convert("bad.geojson",
          "{\"type\": \"FeatureCollection\", \"features\": [\n{\"type\": \"Feature\", "
          "\"properties\": {\"name\": \"A\"}, \"geometry\": {\"type\": \"Point\", "
          "\"coordinates\": [1, 2]}},\n{\"type\": ");
  EXPECT_EQ(ReadFile(dir / "bad.CSV"), "OLD");
  EXPECT_NE(h.messages.Joined().find("line 3"), std::string::npos) << h.messages.Joined();
}

TEST_F(KmlToCsv, FoldersAndValuesFillTheTemplates) {
  h.request.toPoi = {"<C>: <{phone}> <{styleUrl}>", "<C>", ""};
  h.request.categoryFromFolderPath = true;
  Convert("places.kml", Kml(kTrip));
  EXPECT_EQ(ReadFile(dir / "Trip _ Day 1.CSV"),
            "13.4050,52.5200,\"Cafe & Bar\",\"Trip / Day 1: 555 123 #icon-1\"");
  EXPECT_EQ(ReadFile(dir / "Trip.CSV"),
            "8.5,47.3,\"Lakes\",\"Trip:  \"\r\n8.6,47.4,\"Lakes\",\"Trip:  \"");
  EXPECT_EQ(ReadFile(dir / "_.CSV"), "-0.12,51.5,\"Home\",\":  \"");
}

// Progress in the archive's bytes, never past its size; a cancel honoured.
TEST_F(KmlToCsv, AKmzTellsProgressInItsOwnBytes) {
  struct Recorder : ProgressSink {
    std::uint64_t most = 0, total = 0, calls = 0, cancelAfter = UINT64_MAX;
    bool Update(std::uint64_t done, std::uint64_t all) override {
      most = std::max(most, done);
      total = all;
      return ++calls < cancelAfter;
    }
  } progress;
  h.services.progress = &progress;
  std::string many;
  for (int i = 0; i < 30000; ++i)
    many += "<Placemark><name>P" + std::to_string(i) +
            "</name><Point><coordinates>1,2</coordinates></Point></Placemark>\n";
  const std::string zip = Zip({{"images/a.png", std::string(3000, 'x')}, {"doc.kml", Kml(many)}});
  ASSERT_GT(Kml(many).size(), 2u << 20);  // more than one block of the reader
  Convert("many.kmz", zip);
  EXPECT_EQ(status, RunStatus::Done);
  EXPECT_EQ(h.result.entries, 30000);
  EXPECT_GE(progress.calls, 2u);
  EXPECT_EQ(progress.total, zip.size());
  EXPECT_LE(progress.most, zip.size());

  progress = Recorder();
  progress.cancelAfter = 1;
  std::remove((dir / "many.CSV").c_str());
  Convert("many.kmz", zip);
  EXPECT_EQ(status, RunStatus::Cancelled);
  EXPECT_FALSE(test::Exists(dir / "many.CSV"));
}

TEST_F(KmlToCsv, ADamagedKmzWritesNothingAndSaysWhy) {
  const std::string zip = Zip({{"doc.kml", Kml(kTrip)}});
  EXPECT_EQ(Convert("places.kmz", zip.substr(0, zip.size() / 2)), "");
  EXPECT_FALSE(test::Exists(dir / "places.CSV"));
  ASSERT_EQ(h.messages.boxes.size(), 1u) << h.messages.Joined();
  EXPECT_NE(h.messages.boxes[0].text.find("cut short"), std::string::npos);
}

TEST_F(KmlToCsv, AProfileNamesKmlAndAsksForTheFolderPath) {
  WriteFile(dir / "places.kml", Kml(kTrip));
  WriteFile(dir / "p.zvp", "[Profile]\r\nInput=" + (dir / "places.kml") +
                               "\r\nGenerateComment=<C>\r\nCategoryFromFolderPath=True\r\n");
  h.RunProfile(dir / "p.zvp");
  EXPECT_EQ(h.request.direction, Direction::GpxToPoi);
  EXPECT_EQ(ReadFile(dir / "places.CSV"),
            "13.4050,52.5200,\"Cafe & Bar\",\"Trip / Day 1\"\r\n8.5,47.3,\"Lakes\",\"Trip\"\r\n"
            "8.6,47.4,\"Lakes\",\"Trip\"\r\n-0.12,51.5,\"Home\"");
}

// Lines and polygons as points, where a profile asks: each line, and each
// polygon's outer ring, gives its first vertex as written or its centroid,
// for KML and GeoJSON alike.
TEST_F(KmlToCsv, LinesAndPolygonsAsPointsWhereAskedFor) {
  struct Case {
    const char* what;
    const char* kml;   // a placemark's geometry; nullptr: none to compare
    const char* json;  // a feature's geometry; nullptr likewise
    const char* first;
    const char* centroid;
    std::int64_t notPoints;
  } cases[] = {
      {"a line: the midpoint along its length",
       "<LineString><coordinates>0,0 2,0,5\n 2,2</coordinates></LineString>",
       R"({"type":"LineString","coordinates":[[0,0],[2,0,5],[2,2]]})", "0,0", "1.5,0.5", 0},
      {"a polygon: its outer ring's area centroid; the first vertex as written",
       "<Polygon><outerBoundaryIs><LinearRing><coordinates>10.000,10.000 12,10 12,12 10,12 "
       "10.000,10.000</coordinates></LinearRing></outerBoundaryIs><innerBoundaryIs><LinearRing>"
       "<coordinates>10.5,10.5 11,10.5 11,11 10.5,10.5</coordinates></LinearRing>"
       "</innerBoundaryIs></Polygon>",
       R"({"type":"Polygon","coordinates":[[[10.000,10.000],[12,10],[12,12],[10,12],[10.000,10.000]],[[10.5,10.5],[11,10.5],[11,11],[10.5,10.5]]]})",
       "10.000,10.000", "11,11", 0},
      {"a polygon across the 180th meridian stays there",
       "<Polygon><outerBoundaryIs><LinearRing><coordinates>179,0 -178,0 -178,2 179,2 179,0"
       "</coordinates></LinearRing></outerBoundaryIs></Polygon>",
       R"({"type":"Polygon","coordinates":[[[179,0],[-178,0],[-178,2],[179,2],[179,0]]]})", "179,0",
       "-179.5,1", 0},
      {"a line across it", "<LineString><coordinates>178,10 -179,10</coordinates></LineString>",
       R"({"coordinates":[[178,10],[-179,10]],"type":"LineString"})", "178,10", "179.5,10", 0},
      {"a ring without area: the mean of its vertices",
       "<LinearRing><coordinates>0,0 1,1 2,2 0,0</coordinates></LinearRing>",
       R"({"type":"Polygon","coordinates":[[[0,0],[1,1],[2,2],[0,0]]]})", "0,0", "1,1", 0},
      {"a vertex off the map: no centroid, reported",
       "<LineString><coordinates>1,2 3,95</coordinates></LineString>",
       R"({"coordinates":[[1,2],[3,95]],"type":"LineString"})", "1,2", "", 0},
      {"each shape of a MultiGeometry; its points as ever",
       "<MultiGeometry><LineString><coordinates>0,0 2,0</coordinates></LineString><Polygon>"
       "<outerBoundaryIs><LinearRing><coordinates>4,4 6,4 6,6 4,6 4,4</coordinates></LinearRing>"
       "</outerBoundaryIs></Polygon><Point><coordinates>9,9</coordinates></Point>"
       "</MultiGeometry>",
       nullptr, "0,0|4,4|9,9", "1,0|5,5|9,9", 0},
      {"each line of a MultiLineString", nullptr,
       R"({"type":"MultiLineString","coordinates":[[[0,0],[2,0]],[[5,5],[5,7]]]})", "0,0|5,5",
       "1,0|5,6", 0},
      {"each polygon of a MultiPolygon, its holes no points", nullptr,
       R"({"type":"MultiPolygon","coordinates":[[[[4,4],[6,4],[6,6],[4,6],[4,4]]],[[[0,0],[2,0],[2,2],[0,2],[0,0]],[[0.5,0.5],[1,0.5],[1,1],[0.5,0.5]]]]})",
       "4,4|0,0", "5,5|1,1", 0},
      {"a track, and a polygon nested one level too deep, are still no points",
       "<gx:Track><gx:coord>1 2 3</gx:coord></gx:Track>",
       R"({"type":"Polygon","coordinates":[[[[1,2],[3,4]]]]})", "", "", 1},
  };
  const auto csv = [](std::string_view points) {
    std::string out;
    for (std::size_t b = 0; b < points.size();) {
      std::size_t e = points.find('|', b);
      if (e == std::string_view::npos) e = points.size();
      if (!out.empty()) out += "\r\n";
      out.append(points.substr(b, e - b)).append(",\"S\"");
      b = e + 1;
    }
    return out;
  };
  for (const Case& c : cases) {
    for (const ShapePoint mode : {ShapePoint::FirstVertex, ShapePoint::Centroid}) {
      h.request.shapePoint = mode;
      const std::string expected = csv(mode == ShapePoint::FirstVertex ? c.first : c.centroid);
      for (const bool json : {false, true}) {
        const char* geometry = json ? c.json : c.kml;
        if (!geometry) continue;
        const std::string input =
            json ? std::string(R"({"type":"Feature","properties":{"name":"S"},"geometry":)") +
                       geometry + "}"
                 : Kml(std::string("<Placemark><name>S</name>") + geometry + "</Placemark>");
        std::remove((dir / "s.CSV").c_str());
        EXPECT_EQ(Convert(json ? "s.geojson" : "s.kml", input), expected)
            << c.what << (json ? " (GeoJSON)" : " (KML)");
        ASSERT_EQ(h.result.events.size(), 1u);
        const FileReport& report = h.result.events[0].files.at(0);
        EXPECT_EQ(report.Of(SkipReason::NotAPoint).count, c.notPoints) << c.what;
        if (expected.empty() && c.notPoints == 0) {
          EXPECT_EQ(report.Of(SkipReason::NoCoordinates).count, 1) << c.what;
        }
      }
    }
  }
}

// The profile key asks for it; without the key a line stays no point.
TEST_F(KmlToCsv, AProfileAsksForCentroids) {
  const std::string kml =
      Kml("<Placemark><name>Lake</name><Polygon><outerBoundaryIs><LinearRing><coordinates>"
          "8,47 8.2,47 8.2,47.2 8,47.2 8,47</coordinates></LinearRing></outerBoundaryIs></Polygon>"
          "</Placemark>");
  WriteFile(dir / "lake.kml", kml);
  WriteFile(dir / "p.zvp",
            "[Profile]\r\nInput=" + (dir / "lake.kml") + "\r\nShapesAsPoints=centroid\r\n");
  h.RunProfile(dir / "p.zvp");
  EXPECT_EQ(ReadFile(dir / "lake.CSV"), "8.1,47.1,\"Lake\"");
  WriteFile(dir / "p.zvp", "[Profile]\r\nInput=" + (dir / "lake.kml") + "\r\nShapesAsPoints=\r\n");
  h.RunProfile(dir / "p.zvp");
  EXPECT_EQ(h.result.events.at(0).files.at(0).Of(SkipReason::NotAPoint).count, 1);
}

// A GeoJSON coordinate is the text the file writes, and becomes what the
// same text in a GPX file becomes: written as it is, or reported.
TEST_F(KmlToCsv, GeoJsonCoordinatesReadAsGpxCoordinatesDo) {
  // The GeoJSON's coordinates, and the same in a GPX file: JSON's exponent
  // form is written there as the plain decimal it stands for.
  struct Case {
    const char *lon, *lat, *gpxLon, *gpxLat;
  } cases[] = {
      {"-0", "0", "-0", "0"},
      {"12.30000", "-0.0", "12.30000", "-0.0"},
      {"7", "-12", "7", "-12"},
      {"1e-7", "45", "0.0000001", "45"},
      {"8.5", "4.5E1", "8.5", "45"},
      {"1.5e+1", "2E-1", "15", "0.2"},
      {"-180", "90", "-180", "90"},
      {"180.0000001", "10", "180.0000001", "10"},
      {"123456789012345678901234", "1", "123456789012345678901234", "1"},
      {"-0.000", "-0", "-0.000", "-0"},
      {"100", "-90.5", "100", "-90.5"},
      {"1e3", "10", "1000", "10"},
  };
  for (const auto& [lon, lat, gpxLon, gpxLat] : cases) {
    std::remove((dir / "p.CSV").c_str());
    const std::string gpx =
        Convert("p.gpx", "<gpx><wpt lat=\"" + std::string(gpxLat) + "\" lon=\"" + gpxLon +
                             "\"><name>P</name></wpt></gpx>");
    const FileReport gpxReport = h.result.events.at(0).files.at(0);
    std::remove((dir / "p.CSV").c_str());
    const std::string json =
        Convert("p.geojson", std::string(R"({"type":"Feature","properties":{"name":"P"},)") +
                                 R"("geometry":{"type":"Point","coordinates":[)" + lon + ", " +
                                 lat + "]}}");
    EXPECT_EQ(json, gpx) << lon << " " << lat;
    EXPECT_EQ(h.result.events.at(0).files.at(0).Of(SkipReason::NoCoordinates).count,
              gpxReport.Of(SkipReason::NoCoordinates).count)
        << lon << " " << lat;
  }
  EXPECT_EQ(Convert("p.geojson", R"({"type":"Feature","properties":{"name":"P"},)"
                                 R"("geometry":{"type":"Point","coordinates":[-0,12.30000]}})"),
            "-0,12.30000,\"P\"");
}

// A profile rewritten keeps the newer keys, written only where they are set:
// without them it is the template's text byte for byte.
TEST(ProfileTemplates, NewerKeysSurviveARewrite) {
  const std::string_view templ = LoadProfileTemplate("GPXTOCSV");
  const std::string plain = FillProfileTemplate(templ, "/maps/in.kml", "/maps/out.csv", true);
  EXPECT_EQ(FillProfileTemplate(templ, "/maps/in.kml", "/maps/out.csv", true, ProfileExtras{}),
            plain);
  EXPECT_EQ(plain.find("CategoryFromFolderPath"), std::string::npos);
  EXPECT_EQ(plain.find("ShapesAsPoints"), std::string::npos);
  struct Case {
    ProfileExtras extras;
    const char* added;
  } cases[] = {
      {{true, ShapePoint::None}, "CategoryFromFolderPath=True"},
      {{false, ShapePoint::FirstVertex}, "ShapesAsPoints=FirstVertex"},
      {{true, ShapePoint::Centroid}, "CategoryFromFolderPath=True\r\nShapesAsPoints=Centroid"},
  };
  for (const Case& c : cases) {
    const std::string written =
        FillProfileTemplate(templ, "/maps/in.kml", "/maps/out.csv", true, c.extras);
    EXPECT_EQ(written, plain + c.added);
    // Read and written again: the same text, and the same request.
    const ConversionProfile p = ParseProfile(written);
    EXPECT_EQ(FillProfileTemplate(templ, p.Input, p.Output, p.KeepCommentLineBreaks,
                                  {p.CategoryFromFolderPath, ShapePointOf(p.ShapesAsPoints)}),
              written);
    const Request r = RequestOf(p, "");
    EXPECT_EQ(r.categoryFromFolderPath, c.extras.categoryFromFolderPath);
    EXPECT_EQ(r.shapePoint, c.extras.shapePoint);
  }
  EXPECT_EQ(ShapePointOf(" centroid "), ShapePoint::Centroid);
  EXPECT_EQ(ShapePointOf("Middle"), ShapePoint::None);
}

}  // namespace
}  // namespace marklode
