// The GeoJSON reader: which features become points, what each keeps, and
// what it says about input it cannot read.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/geojson_reader.h"
#include "services/strings.h"
#include "services/text_decoding.h"
#include "services/text_files.h"
#include "tests/chunked_source.h"

namespace marklode {
namespace {

// Everything a read gives, as text: a line per point, then the counts and
// the problem.
std::string Render(GeoJsonReader& r) {
  std::ostringstream out;
  GpxWaypoint w;
  std::vector<std::pair<std::string, std::string>> named;
  while (r.Next(w, named)) {
    out << w.name << '|' << w.comment << '|' << w.category << '|' << (w.hasLat ? w.lat : "-") << ','
        << (w.hasLon ? w.lon : "-") << "|@" << r.line();
    for (const auto& [k, v] : named) out << '|' << k << '=' << v;
    out << '\n';
  }
  out << "nameless " << r.nameless() << ", not points " << r.notPoints();
  if (!r.problem().empty()) out << ", " << r.problem();
  return out.str();
}

std::string Read(std::string_view text) {
  MemorySource src(text);
  GeoJsonReader r(src);
  return Render(r);
}

std::string ReadFixture(const std::string& name) {
  std::ifstream in(std::string(MARKLODE_SOURCE_DIR) + "/tests/realworld/geojson/" + name,
                   std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Case {
  const char* what;
  const char* input;
  const char* expected;
};

TEST(GeoJsonReader, FeaturesBecomePointsWithTheirProperties) {
  const Case cases[] = {
      {"a bare Feature, geometry before properties",
       R"({"type":"Feature","geometry":{"type":"Point","coordinates":[8.5,47.25]},
           "properties":{"name":"A","description":"d","category":"C"}})",
       "A|d|C|47.25,8.5|@1|name=A|description=d|category=C\nnameless 0, not points 0"},
      {"coordinates before the geometry's type, properties before the geometry",
       R"({"features":[{"properties":{"Title":"T"},"geometry":{"coordinates":[-1,2],"type":"point"},"type":"Feature"}],"type":"FeatureCollection"})",
       "T|||2,-1|@1|Title=T\nnameless 0, not points 0"},
      {"name before title, title before location.name; blank names do not count",
       R"({"type":"FeatureCollection","features":[
{"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":{"location":{"name":"L"},"title":"T","NAME":"N"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":{"name":"  ","location":{"name":"L","address":"Street 1"}}}]})",
       "N|||2,1|@2|location.name=L|title=T|NAME=N\n"
       "L|Street 1||2,1|@3|name=  |location.name=L|location.address=Street 1\n"
       "nameless 0, not points 0"},
      {"a MultiPoint gives a point per position; without a name each is counted",
       R"({"type":"FeatureCollection","features":[
{"type":"Feature","geometry":{"type":"MultiPoint","coordinates":[[1,2,300],[3,4]]},"properties":{"name":"M"}},
{"type":"Feature","geometry":{"type":"MultiPoint","coordinates":[[1,2],[3,4],[5,6]]},"properties":{}}]})",
       "M|||2,1|@2|name=M\nM|||4,3|@2|name=M\nnameless 3, not points 0"},
      {"lines, polygons and collections are counted, not read",
       R"({"type":"FeatureCollection","features":[
{"type":"Feature","geometry":{"type":"LineString","coordinates":[[1,2],[3,4]]},"properties":{"name":"L"}},
{"type":"Feature","geometry":{"coordinates":[[[1,2],[3,4],[1,2]]],"type":"Polygon"},"properties":{"name":"P"}},
{"type":"Feature","geometry":{"type":"GeometryCollection","geometries":[{"type":"Point","coordinates":[1,2]}]},"properties":{"name":"G"}},
{"type":"Feature","geometry":"Point","properties":{"name":"S"}},
null, 7]})",
       "nameless 0, not points 6"},
      {"positions without usable coordinates still come out",
       R"({"type":"FeatureCollection","features":[
{"type":"Feature","geometry":null,"properties":{"name":"null geometry"}},
{"type":"Feature","properties":{"name":"no geometry"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":[]},"properties":{"name":"empty"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":[8]},"properties":{"name":"one value"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":[null,true]},"properties":{"name":"null, true"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":[[8,47]]},"properties":{"name":"nested"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":{"lat":1}},"properties":{"name":"object"}},
{"type":"Feature","geometry":{"type":"Point","coordinates":["8.5","47.1"]},"properties":{"name":"strings"}}]})",
       "null geometry|||-,-|@2|name=null geometry\n"
       "no geometry|||-,-|@3|name=no geometry\n"
       "empty|||-,-|@4|name=empty\n"
       "one value|||-,8|@5|name=one value\n"
       "null, true|||-,-|@6|name=null, true\n"
       "nested|||-,-|@7|name=nested\n"
       "object|||-,-|@8|name=object\n"
       "strings|||47.1,8.5|@9|name=strings\n"
       "nameless 0, not points 0"},
      {"numbers keep their text; exponents become plain decimals in coordinates",
       R"({"type":"Feature","geometry":{"type":"Point","coordinates":[1.50e-3,-4.7E+1]},
           "properties":{"name":"N","ele":1.50,"big":123456789012345678901234,"neg":-7,"ok":true,"none":null,"deep":{"a":[1,{"b":"x"}]}}})",
       "N|||-47,0.00150|@1|name=N|ele=1.50|big=123456789012345678901234|neg=-7|ok=true|none=|deep."
       "a.0=1|deep.a.1.b=x\n"
       "nameless 0, not points 0"},
      {"a name's line breaks become spaces, a comment's stay as LF",
       "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[1,2]},"
       "\"properties\":{\"name\":\" Two\\r\\n lines \",\"description\":\"a \\r\\n\\r\\nb\"}}",
       "Two lines|a\n\nb||2,1|@1|name= Two\r\n lines |description=a \r\n\r\nb\nnameless 0, not "
       "points 0"},
      {"an array of features, and a bare geometry",
       R"([{"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":{"name":"A"}}])",
       "A|||2,1|@1|name=A\nnameless 0, not points 0"},
      {"a bare Point has no name", R"({"type":"Point","coordinates":[1,2]})",
       "nameless 1, not points 0"},
      {"an empty collection", R"({"type":"FeatureCollection","features":[]})",
       "nameless 0, not points 0"},
      {"nulls and numbers where objects and texts belong",
       R"({"type":"FeatureCollection","features":[
{"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":null},
{"type":null,"geometry":{"type":null,"coordinates":null},"properties":{"name":7}},
{"type":"Feature","geometry":{"type":"Point","coordinates":null},"properties":{"name":8}},
{"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":{"name":null,"title":"T"}}]})",
       "8|||-,-|@4|name=8\n"
       "T|||2,1|@5|name=|title=T\n"
       "nameless 1, not points 1"},
      {"features null", R"({"type":"FeatureCollection","features":null})",
       "nameless 0, not points 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.input), c.expected);
  }
}

TEST(GeoJsonReader, BadInputStopsWithWhereAndWhy) {
  const Case cases[] = {
      {"cut off", "{\"type\":\"FeatureCollection\",\"features\":[\n{\"type\":\"Feature\"",
       "nameless 0, not points 0, bad JSON at line 2, column 18: syntax error while parsing "
       "object - unexpected end of input; expected '}'"},
      {"points before the fault are given",
       R"({"type":"FeatureCollection","features":[
{"type":"Feature","geometry":{"type":"Point","coordinates":[1,2]},"properties":{"name":"A"}},
{"type":"Feature",,}]})",
       "A|||2,1|@2|name=A\nnameless 0, not points 0, bad JSON at line 3, column 19: syntax error "
       "while parsing object key - unexpected ','; expected string literal"},
      {"invalid UTF-8", "{\"type\":\"Feature\",\"properties\":{\"name\":\"a\xff\"}}",
       "nameless 0, not points 0, bad JSON at line 1, column 42: syntax error while parsing value "
       "- invalid string: ill-formed UTF-8 byte; last read: '\"a?'"},
      {"a number too large", R"({"type":"Feature","properties":{"x":1e999}})",
       "nameless 0, not points 0, bad JSON at byte 41: number overflow parsing '1e999'"},
      {"other JSON", R"({"name":"x","coordinates":[1,2]})",
       "nameless 0, not points 0, not GeoJSON: no FeatureCollection, Feature or point geometry"},
      {"a number", "42",
       "nameless 0, not points 0, not GeoJSON: no FeatureCollection, Feature or point geometry"},
      {"empty", "",
       "nameless 0, not points 0, bad JSON at line 1, column 1: syntax error while parsing value "
       "- unexpected end of input; expected '[', '{', or a literal"},
      {"text after the end", R"({"type":"FeatureCollection","features":[]} x)",
       "nameless 0, not points 0, bad JSON at line 1, column 44: syntax error while parsing value "
       "- invalid literal; last read: '\"features\":[]} x'; expected end of input"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.input), c.expected);
  }
}

TEST(GeoJsonReader, HostileShapesStopAtTheirLimits) {
  const std::string deep =
      "{\"type\":\"Feature\",\"properties\":{\"a\":" + std::string(10000, '[') +
      std::string(10000, ']') + "}}";
  EXPECT_EQ(Read(deep), "nameless 0, not points 0, nesting deeper than 512 levels at line 1");

  // The limit holds to within a block (256 KB) of reading.
  std::string huge = "{\"type\":\"Feature\",\n\"properties\":{\"name\":\"";
  huge.append(GeoJsonReader::kMaxValueBytes + (300 << 10), 'x');
  huge += "\"}}";
  EXPECT_EQ(Read(huge), "nameless 0, not points 0, a value longer than 16 MB at line 2");
  huge.erase(huge.size() - (600 << 10) - 3, 600 << 10);
  EXPECT_EQ(Read(huge).substr(0, 3), "xxx");

  // Positions read before the geometry's type are kept up to a limit: past
  // it, a line is still a line, and a MultiPoint stops the read.
  std::string positions;
  for (int i = 0; i < 1000000; ++i) positions += "[1,2],";
  positions += "[1,2]";
  const std::string many =
      "{\"type\":\"FeatureCollection\",\"features\":[\n"
      "{\"type\":\"Feature\",\"geometry\":{\"coordinates\":[" +
      positions +
      "],\"type\":\"LineString\"},\"properties\":{\"name\":\"L\"}},\n"
      "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[1,2]},"
      "\"properties\":{\"name\":\"P\"}},\n"
      "{\"type\":\"Feature\",\"geometry\":{\"coordinates\":[" +
      positions + "],\"type\":\"MultiPoint\"},\"properties\":{\"name\":\"M\"}}]}";
  EXPECT_EQ(
      Read(many),
      "P|||2,1|@3|name=P\nnameless 0, not points 1, a MultiPoint of more positions than 64 MB "
      "hold at line 4");
}

TEST(GeoJsonReader, EveryCutAndEveryBlockSizeReadsAlike) {
  const std::string text = ReadFixture("mixed_collection.geojson");
  const std::string whole = Read(text);
  for (std::size_t step : {1, 2, 7, 64}) {
    test::ChunkedSource src(text, step);
    GeoJsonReader r(src);
    EXPECT_EQ(Render(r), whole) << "blocks of " << step;
  }
  const std::string counts = whole.substr(whole.rfind('\n') + 1);
  const std::string points = whole.substr(0, whole.rfind('\n') + 1);
  for (std::size_t cut = 0; cut + 1 < text.size(); ++cut) {
    const std::string got = Read(text.substr(0, cut));
    // The points before the cut, then a problem.
    const std::size_t end = got.rfind('\n') + 1;
    ASSERT_EQ(points.compare(0, end, got, 0, end), 0) << "cut at " << cut;
    ASSERT_NE(got.find(", bad JSON at line "), std::string::npos)
        << "cut at " << cut << ": " << got;
  }
}

TEST(GeoJsonReader, FixturesInTheShapesExportsWrite) {
  const Case cases[] = {
      {"mixed_collection.geojson", nullptr,
       "Hut|Open May\xE2\x80\x93Oct|Shelter|45.9763,7.6583|@6|name=Hut|description=Open "
       "May\xE2\x80\x93Oct|category=Shelter|ele=2351\n"
       "Springs|||45.91,7.61|@9|name=Springs|tags.0=water|tags.1=drinkable\n"
       "Springs|||45.92,7.62|@9|name=Springs|tags.0=water|tags.1=drinkable\n"
       "Somewhere|||-,-|@11|name=Somewhere\n"
       "nameless 1, not points 3"},
      {"saved_places.json", nullptr,
       "London|London, UK||51.5072178,-0.1275862|@4|date=2023-04-02T10:11:12Z|google_maps_url="
       "http://maps.google.com/?cid=123|location.address=London, UK|location.country_code=GB|"
       "location.name=London\n"
       "Eiffel Tower|Champ de Mars, 5 Av. Anatole France, 75007 Paris, France||48.8583701,"
       "2.2944813|@23|Google Maps URL=http://maps.google.com/?cid=456|Location.Address=Champ de "
       "Mars, 5 Av. Anatole France, 75007 Paris, France|Location.Business Name=Tour Eiffel|"
       "Location.Country Code=FR|Location.Geo Coordinates.Latitude=48.8583701|"
       "Location.Geo Coordinates.Longitude=2.2944813|Published=2019-06-01T08:00:00Z|"
       "Title=Eiffel Tower|Updated=2019-06-01T08:00:00Z\n"
       "nameless 1, not points 0"},
      {"bare_feature_bom_crlf.geojson", nullptr,
       "Caf\xC3\xA9 Bl\xC3\xBC|Line one\nLine two||52.5200,13.4050|@1|title=Caf\xC3\xA9 "
       "Bl\xC3\xBC|description=Line one\r\nLine two\n"
       "nameless 0, not points 0"},
      {"saved_as.txt", nullptr,
       "Small numbers|||-32.5,0.0015|@2|name=Small numbers|count=12345678901234567890123\n"
       "Swapped|||140.25,51.5|@3|name=Swapped\n"
       "Off the map|||10.0,200.0|@4|name=Off the map\n"
       "nameless 0, not points 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = ReadFixture(c.what);
    EXPECT_TRUE(GeoJsonReader::LooksLikeGeoJson(text.substr(0, 512)));
    EXPECT_EQ(Read(text), c.expected);
  }
}

// UTF-16 (as Windows tools save JSON) reads through the decoding source the
// conversion puts in front of every input.
TEST(GeoJsonReader, Utf16ThroughTheDecodingSource) {
  const std::string utf8 = ReadFixture("saved_as.txt");
  std::string utf16 = "\xFF\xFE";
  for (char c : utf8) {
    utf16 += c;
    utf16 += '\0';
  }
  MemorySource src(utf16);
  DecodingSource text(src);
  GeoJsonReader r(text);
  EXPECT_EQ(Render(r), Read(utf8));
}

// A [lat, lon] written the wrong way round, or a value off the map, is no
// coordinate to the pipeline's check, so it is reported, not written.
TEST(GeoJsonReader, SwappedAndOutOfRangeCoordinatesFailTheCoordinateCheck) {
  const std::string text = ReadFixture("saved_as.txt");
  MemorySource src(text);
  GeoJsonReader r(src);
  GpxWaypoint w;
  std::vector<std::pair<std::string, std::string>> named;
  std::vector<bool> valid;
  while (r.Next(w, named))
    valid.push_back(w.hasLat && w.hasLon && IsCoordinate(w.lat, 90) && IsCoordinate(w.lon, 180));
  EXPECT_EQ(valid, (std::vector<bool>{true, false, false}));
}

TEST(GeoJsonReader, ManyFeaturesAcrossBlocksAndBatches) {
  std::string text = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    text += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[1." +
            std::to_string(i) + ",2]},\"properties\":{\"name\":\"P" + std::to_string(i) +
            "\",\"pad\":\"" + std::string(i % 300, 'x') + "\"}}";
    text += i + 1 < n ? ",\n" : "\n";
  }
  text += "]}";
  MemorySource src(text);
  GeoJsonReader r(src);
  GpxWaypoint w;
  std::vector<std::pair<std::string, std::string>> named;
  int count = 0;
  bool inOrder = true;
  while (r.Next(w, named)) {
    inOrder = inOrder && w.name == "P" + std::to_string(count) &&
              w.lon == "1." + std::to_string(count) && r.line() == count + 2 && named.size() == 2;
    ++count;
  }
  EXPECT_EQ(count, n);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(r.problem(), "");
}

class CancelAfter : public ProgressSink {
 public:
  explicit CancelAfter(int updates) : left_(updates) {}
  bool Update(std::uint64_t, std::uint64_t) override { return left_-- > 0; }

 private:
  int left_;
};

TEST(GeoJsonReader, ACancelEndsTheReadAndLeavingEarlyDoesNotHang) {
  std::string text = "{\"type\":\"FeatureCollection\",\"features\":[";
  for (int i = 0; i < 40000; ++i)
    text +=
        "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[1,2]},"
        "\"properties\":{\"name\":\"P\"}},";
  text += "null]}";
  GpxWaypoint w;
  std::vector<std::pair<std::string, std::string>> named;
  {
    MemorySource src(text);
    CancelAfter cancel(0);
    GeoJsonReader r(src, &cancel);
    EXPECT_FALSE(r.Next(w, named));
    EXPECT_TRUE(r.cancelled());
  }
  {
    MemorySource src(text);
    CancelAfter cancel(2);
    GeoJsonReader r(src, &cancel);
    int count = 0;
    while (r.Next(w, named)) ++count;
    EXPECT_TRUE(r.cancelled());
    EXPECT_LT(count, 40000);  // how many came first depends on the threads' pace
  }
  {
    MemorySource src(text);
    GeoJsonReader r(src);
    EXPECT_TRUE(r.Next(w, named));  // and left with the parser mid-way
  }
  MemorySource src(text);
  GeoJsonReader unread(src);
}

TEST(GeoJsonReader, LooksLikeGeoJson) {
  const std::pair<const char*, bool> cases[] = {
      {"{\"type\":\"FeatureCollection\",\"features\":[", true},
      {"\xEF\xBB\xBF\r\n  {\"type\": \"Feature\",", true},
      {"{\"features\":[{\"geometry\":", true},
      {"[{\"type\":\"Feature\"", true},
      {"{\"name\":\"x\"}", false},
      {"<?xml version=\"1.0\"?><gpx><!-- \"Feature\" -->", false},
      {"lon,lat,name,\"Feature\"", false},
      {"", false},
  };
  for (const auto& [head, expected] : cases)
    EXPECT_EQ(GeoJsonReader::LooksLikeGeoJson(head), expected) << head;
}

// An integer 0 written "-0" keeps its sign wherever the blocks are cut;
// floats keep their text.
TEST(GeoJsonReader, NumbersKeepTheirTextAcrossBlocks) {
  const std::string json = R"({"type":"Feature","properties":{"name":"Z","n":-0,"z":0},)"
                           R"("geometry":{"type":"Point","coordinates":[-0,0]}})";
  const std::string expected = "Z|||0,-0|@1|name=Z|n=-0|z=0\nnameless 0, not points 0";
  EXPECT_EQ(Read(json), expected);
  for (std::size_t step = 1; step < 8; ++step) {
    test::ChunkedSource src(json, step);
    GeoJsonReader r(src);
    EXPECT_EQ(Render(r), expected) << "step " << step;
  }
  EXPECT_EQ(Read(R"({"type":"Feature","properties":{"name":"F"},)"
                 R"("geometry":{"type":"Point","coordinates":[ -0.0 , 12.30000 ]}})"),
            "F|||12.30000,-0.0|@1|name=F\nnameless 0, not points 0");
}

TEST(GeoJsonReader, PlainDecimal) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.5e-3", "0.0015"}, {"-4.7E+1", "-47"},        {"2e2", "200"},
      {"1.25e1", "12.5"},   {"-0.5e0", "-0.5"},        {"12.5", "12.5"},
      {"7e-1", "0.7"},      {"0.0001e4", "1"},         {"123e-5", "0.00123"},
      {"1e401", "1e401"},   {"-1.000e-2", "-0.01000"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(PlainDecimal(in), out) << in;
}

}  // namespace
}  // namespace marklode
