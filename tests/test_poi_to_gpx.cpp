#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <set>
#include <system_error>
#include <thread>

#include "engine/byte_scan.h"
#include "engine/csv_fields.h"
#include "engine/gpx_writer.h"
#include "engine/poi_reader.h"
#include "engine/poi_to_gpx.h"
#include "test_util.h"
#include "tests/chunked_source.h"
#include "tests/gpx_schema.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::WriteFile;

std::vector<std::string> Fields(std::string_view record) {
  std::vector<std::string_view> views;
  SplitCsvFields(record, views);
  std::vector<std::string> out;
  for (auto v : views) out.push_back(CleanCsvField(v));
  return out;
}

TEST(CsvFields, QuotesPairFromTheLeft) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Fields("1.5,2.5,\"Smith, John\",x"), (V{"1.5", "2.5", "Smith, John", "x"}));
  EXPECT_EQ(Fields("1,2,\"a \"\"b\"\" c\""), (V{"1", "2", "a b c"}));
  // A stray inch mark protects the rest of the line: no comment column.
  EXPECT_EQ(Fields("1,2,24\" screen, big,cheap"), (V{"1", "2", "24 screen, big,cheap"}));
  EXPECT_EQ(Fields(""), (V{""}));
  EXPECT_EQ(Fields("Café,ü"), (V{"Café", "ü"}));  // bytes above 127 pass unchanged
}

std::vector<std::string> Records(std::string_view text) {
  MemorySource src(text);
  CsvRecordReader reader(src);
  std::vector<std::string> out;
  std::string_view r;
  while (reader.Next(r)) out.emplace_back(r);
  return out;
}

TEST(CsvRecords, LineEndsEncodingAndControls) {
  using V = std::vector<std::string>;
  // With CR in the file, an LF inside quotes belongs to the field.
  EXPECT_EQ(Records("1,2,\"a\",\"x\ny\"\r\n3,4,b\r\n"), (V{"1,2,\"a\",\"x\ny\"", "3,4,b"}));
  // Without any CR every LF ends a record, quoted or not.
  EXPECT_EQ(Records("1,2,\"a\",\"x\ny\"\n3,4,b"), (V{"1,2,\"a\",\"x", "y\"", "3,4,b"}));
  EXPECT_EQ(Records("a\rb\r\n\r\nc"), (V{"a", "b", "c"}));
  EXPECT_EQ(Records("\xEF\xBB\xBF"
                    "1,2,Caf\xC3\xA9"),
            (V{"1,2,Café"}));
  EXPECT_EQ(Records("1,2,Caf\xE9 \x80\x81"), (V{"1,2,Café €\xC2\x81"}));  // Windows-1252
  EXPECT_EQ(Records("1,2,a\x01\x0B"
                    "b\tc"),
            (V{"1,2,ab\tc"}));
  EXPECT_EQ(Records("1,2,a\r\n\x1A\r\n3,4,b"), (V{"1,2,a"}));  // DOS end-of-file mark
}

// The kept form of a record's fields, as the full split gives them: the first
// four, and the further ones that are not empty after ", ".
void ExpectKept(std::string_view record, const CsvRecordFields& kept, const std::string& what) {
  std::vector<std::string_view> all, unquoted;
  SplitCsvFields(record, all, unquoted);
  ASSERT_EQ(kept.count, all.size()) << what;
  std::string rest;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i >= CsvRecordFields::kHead) {
      if (!all[i].empty()) rest.append(", ").append(all[i]);
      continue;
    }
    EXPECT_EQ(kept.head[i], all[i]) << what;
    EXPECT_EQ(kept.unquoted[i].data() == nullptr, unquoted[i].data() == nullptr) << what;
    EXPECT_EQ(kept.unquoted[i], unquoted[i]) << what;
    if (unquoted[i].data()) {
      EXPECT_EQ(unquoted[i], CleanCsvField(all[i])) << what;
    }
  }
  EXPECT_EQ(kept.rest, rest) << what;
}

// Fields found while reading match SplitCsvFields on the record, however the
// input arrives: one byte at a time, a few, or whole.
TEST(CsvRecords, FieldsFoundWhileReadingMatchTheSplit) {
  const std::string texts[] = {
      "1,2,\"Smith, John\",\"a \"\"b\"\" c\",,\"\"\r\n3,4,24\" screen, big\r\n",
      "1,2,\"x\ny\",\"z\"\r\n\"5\",\"6\",n\n,,\n\"\n",
      "1,2,a\x01b,\"c\"\n3,4,Caf\xE9,\"d\"",  // cleaned records are split again
      "\xEF\xBB\xBF\"1\",2,\"\",\"q\"\"\r[end-route]\r\n",
      "1,2,\"x\ny\",c,,d,\"e,f\",,\"\"\n3,4,\"p\nq\"\n",  // no CR: the quoted LF ends the record
      "1,2,n,c,,,,,,,x,,\"\",y\r\n,,,,,\r\n",
  };
  for (const std::string& text : texts) {
    for (std::size_t step : {1, 2, 3, 7, 4096}) {
      test::ChunkedSource src(text, step);
      CsvRecordReader reader(src);
      std::string_view record;
      CsvRecordFields fields;
      std::size_t n = 0;
      while (reader.Next(record, &fields)) {
        ExpectKept(record, fields, text + " step " + std::to_string(step));
        CsvRecordFields again;
        SplitCsvFields(record, again);
        ExpectKept(record, again, text);
        ++n;
      }
      EXPECT_EQ(n, Records(text).size()) << text << " step " << step;
    }
  }
}

// Each record is read in the encoding it is in: one Windows-1252 byte in a
// UTF-8 file changes that record only.
TEST(CsvRecords, EncodingIsDecidedPerRecord) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Records("1,2,Z\xC3\xBCrich\n3,4,M\xFCnchen\n5,6,K\xC3\xB6ln\n"),
            (V{"1,2,Zürich", "3,4,München", "5,6,Köln"}));
  // U+FFFE's lead byte alone in an ASCII record is Windows-1252.
  EXPECT_EQ(Records("1,2,\xEFHS\n"), (V{"1,2,ïHS"}));
  EXPECT_EQ(Records("1,2,\xEF\xBF\xBEx\n"), (V{"1,2,x"}));
  // A sequence cut by the line end is no UTF-8; the next line is.
  EXPECT_EQ(Records("1,2,a\xC3\r\n\xA9,b\r\n"), (V{"1,2,aÃ", "©,b"}));
  // Long records, past the 16-byte steps of the scan, and a fault at the end.
  const std::string lng(100, 'x');
  EXPECT_EQ(Records(lng + "\xC3\xA9" + lng + "\n" + lng + "\xE9\n"),
            (V{lng + "é" + lng, lng + "é"}));
}

// Whether an LF inside quotes ends the record is decided by the first line
// end of the file, without a pass ahead.
TEST(CsvRecords, FirstLineEndDecidesQuotedLineFeeds) {
  using V = std::vector<std::string>;
  // A first line in CR LF: later LFs in quotes stay, the first one too.
  EXPECT_EQ(Records("1,2,\"x\ny\"\r\n3,4,\"p\nq\"\n5,6,r\r\n"),
            (V{"1,2,\"x\ny\"", "3,4,\"p\nq\"", "5,6,r"}));
  // A first line in LF: a stray quote takes nothing more than its line, even
  // with a CR further on.
  EXPECT_EQ(Records("1,2,a\n3,4,24\" screen\n5,6,c\r\n7,8,\"d\ne\"\r\n"),
            (V{"1,2,a", "3,4,24\" screen", "5,6,c", "7,8,\"d", "e\""}));
  EXPECT_EQ(Records("1,2,24\" screen\n3,4,b\n"), (V{"1,2,24\" screen", "3,4,b"}));
  // No line end at all but quoted LFs: an LF file.
  EXPECT_EQ(Records("1,2,\"a\nb\"\nc"), (V{"1,2,\"a", "b\"", "c"}));
  // Nothing but one record, quoted over LFs and closed: the record keeps them,
  // whatever its lines look like; left open at the end, it ends at its LF.
  EXPECT_EQ(Records("1,2,\"a\nb\""), (V{"1,2,\"a\nb\""}));
  EXPECT_EQ(Records("1,2,\"H\",\"one\n5,6,\"\"Forged\"\"\""),
            (V{"1,2,\"H\",\"one\n5,6,\"\"Forged\"\"\""}));
  EXPECT_EQ(Records("1,2,24\" screen\n3,4,b"), (V{"1,2,24\" screen", "3,4,b"}));
  // An LF in quotes with no CR within the look-ahead: an LF file.
  std::string far = "1,2,\"a\n" + std::string(CsvRecordReader::kLookAhead + 10, 'x') + "\r\n";
  const V recs = Records(far);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0], "1,2,\"a");
}

// The framer alone: where each record ends and the line it begins on, its
// bytes as they lie (the encoding and the cleaning come later), empty records
// given (the one after a last line end too), however the input arrives.
TEST(CsvFramer, RecordEndsAndTheirLines) {
  struct Frame {
    std::string bytes;
    std::size_t line;
    bool operator==(const Frame&) const = default;
  };
  using V = std::vector<Frame>;
  const struct Case {
    std::string text;
    V frames;
  } cases[] = {
      // CR, CR LF and LF all end records; an empty one counts as a line.
      {"a\r\nb\rc\n\r\nd", V{{"a", 1}, {"b", 2}, {"c", 3}, {"", 4}, {"d", 5}}},
      // A first line end in CR: LFs in quotes stay, and count as lines.
      {"\xEF\xBB\xBF"
       "1,\"x\ny\"\r\n2,\"p\nq\"\n3",
       V{{"1,\"x\ny\"", 1}, {"2,\"p\nq\"", 3}, {"3", 5}}},
      // A first line end in LF: every LF ends a record, quoted or not.
      {"a\n1,\"x\ny\"\r\n", V{{"a", 1}, {"1,\"x", 2}, {"y\"", 3}, {"", 4}}},
      // A held LF, then an LF outside quotes before any CR: it was a line end.
      {"1,\"x\ny\",z\n2\r\n", V{{"1,\"x", 1}, {"y\",z", 2}, {"2", 3}, {"", 4}}},
      // At the end of the input: a closed stretch keeps its LFs, an open one
      // ends at its first.
      {"1,\"a\nb\"", V{{"1,\"a\nb\"", 1}}},
      {"1,\"a\nb", V{{"1,\"a", 1}, {"b", 2}}},
      {"a\r\n\x1A\r\nb", V{{"a", 1}}},
      {"Caf\xE9\x01\xEF\xBF\xBE,\"\"\r\n", V{{"Caf\xE9\x01\xEF\xBF\xBE,\"\"", 1}, {"", 2}}},
  };
  for (const Case& c : cases) {
    for (std::size_t step : {1, 3, 4096}) {
      test::ChunkedSource src(c.text, step);
      CsvFramer framer(src);
      CsvFrame frame;
      V got;
      while (framer.Next(frame)) got.push_back({std::string(frame.bytes), frame.line});
      EXPECT_TRUE(got == c.frames) << c.text << " step " << step;
    }
  }
}

// A record cut short (longer than the buffer, its further fields dropped as
// they pass) has no way back to an LF in quotes: before the first line end,
// such an LF ends it, and the stream is an LF stream.
TEST(CsvRecords, RecordCutShortEndsAtAQuotedLfBeforeAnyLineEnd) {
  const std::string commas(3u << 20, ',');
  const std::string text = "1,2,N,C" + commas + "\"a\nb\"\r\n3,4,\"c\nd\"\r\n";
  MemorySource src(text);
  CsvRecordReader reader(src);
  std::string_view record;
  CsvRecordFields fields;
  ASSERT_TRUE(reader.Next(record, &fields));
  EXPECT_FALSE(reader.whole());
  EXPECT_EQ(fields.count, 4 + commas.size());
  EXPECT_TRUE(record.ends_with(",\"a")) << record.substr(record.size() - 10);
  std::vector<std::string> rest;
  while (reader.Next(record, &fields)) rest.emplace_back(record);
  EXPECT_EQ(rest, (std::vector<std::string>{"b\"", "3,4,\"c", "d\""}));
}

// A stray quote whose stretch runs over line breaks is told for each record
// it takes apart, with the line where it stands (the warning is given once
// per file, by the POI-CSV reader); comments quoted whole over lines are not.
TEST(CsvRecords, StrayQuoteOverLineBreaksToldWithItsLine) {
  struct Case {
    std::string text;
    std::vector<std::size_t> lines;
  } cases[] = {
      {"1,2,\"a\nb\"\r\n3,4,\"c \"\"d\"\"\ne\"\r\n", {}},
      {"1,2,a\r\n3,4,24\" screen\n5,6,c\r\n7,8,\"d\ne\r\n", {2, 4}},
      {"1,2,a\r\n\r\n3,4,\"b\nc\nd\"\r\n5,6,x\"y\nz\"\r\n", {6}},
      {"1,2,24\" screen\nmore\r\n", {1}},
      {"1,2,a\r\n3,4,b\"\r\n", {}},         // a quote left open at a CR ends with it
      {"1,2,\"a\nb\"\n3,4,c\"d\ne\n", {}},  // an LF file: LFs end records
  };
  for (const Case& c : cases) {
    MemorySource src(c.text);
    CsvRecordReader reader(src);
    std::string_view record;
    std::vector<std::size_t> told;
    while (reader.Next(record))
      if (const std::size_t line = reader.TakeRunOnLine()) told.push_back(line);
    EXPECT_EQ(told, c.lines) << c.text;
  }
}

// The scan that finds where records stop, sixteen bytes at a time, against
// its scalar twin, with every stop byte at every place of a step.
TEST(CsvRecords, RecordStopScanMatchesItsScalarTwin) {
  const char stops[] = {'"', ',', '\r', '\n', '\x01', '\xEF', '\x80', '\xC3', '\t', 'a'};
  for (std::size_t len : {1, 15, 16, 17, 33, 48}) {
    for (std::size_t at = 0; at < len; ++at) {
      for (char stop : stops) {
        for (char high : {'x', '\xA9'}) {
          std::string text(len, 'x');
          text[0] = high;
          text[at] = stop;
          const char* const b = text.data();
          const char* const e = b + text.size();
          unsigned h1 = 0, h2 = 0, h3 = 0, h4 = 0;
          EXPECT_EQ(FindRecordStop<true>(b, e, h1), FindRecordStopScalar<true>(b, e, h2));
          EXPECT_EQ(h1 != 0, h2 != 0);
          EXPECT_EQ(FindRecordStop<false>(b, e, h3), FindRecordStopScalar<false>(b, e, h4));
          EXPECT_EQ(h3 != 0, h4 != 0);
        }
      }
    }
  }
}

// A record longer than the buffer keeps only the fields that count: its
// further fields pass into rest as they are read, and the buffer stops growing.
TEST(CsvRecords, LongRecordsKeepOnlyTheirFields) {
  struct Case {
    const char* what;
    std::string record;
  };
  std::string commas(3u << 20, ','), many, mixed;
  for (int i = 0; i < 1000000; ++i) many += i % 7 ? ",," : ",\"a,b\"";
  for (int i = 0; i < 1000000; ++i) mixed += i % 1000 ? ",," : ",\xC3\xA9\x01";
  const Case cases[] = {
      {"commas", "1,2,N,C" + commas + "tail"},
      {"quoted fields", "\"1\",\"2\",\"N, n\",\"C\"" + many + ",\"last\""},
      {"UTF-8 and controls in dropped fields", "1,2,N,C" + mixed + ",end\xC3\xA9"},
      {"Windows-1252 in a dropped field", "1,2,N\xC3\xA9,C" + mixed + "\xE9" + commas + ",x"},
  };
  for (const Case& c : cases) {
    const std::string text = c.record + "\r\n3,4,next\r\n";
    MemorySource src(text);
    CsvRecordReader reader(src);
    std::string_view record;
    CsvRecordFields fields;
    ASSERT_TRUE(reader.Next(record, &fields)) << c.what;
    EXPECT_FALSE(reader.whole()) << c.what;
    EXPECT_LT(record.size(), c.record.size() / 2) << c.what;
    // What the whole record gives, cleaned as the reader cleans.
    CsvRecordFields want;
    const std::string clean = ToXmlText(c.record);
    SplitCsvFields(clean, want);
    EXPECT_EQ(fields.count, want.count) << c.what;
    for (std::size_t k = 0; k < CsvRecordFields::kHead; ++k) {
      EXPECT_EQ(fields.head[k], want.head[k]) << c.what;
      EXPECT_EQ(fields.unquoted[k], want.unquoted[k]) << c.what;
    }
    EXPECT_TRUE(fields.rest == want.rest) << c.what;
    ASSERT_TRUE(reader.Next(record, &fields)) << c.what;
    EXPECT_TRUE(reader.whole());
    EXPECT_EQ(record, "3,4,next");
  }
}

TEST(CsvRecords, BlockBoundariesChangeNothing) {
  // Records longer than the reader's block, with CR LF split across blocks.
  std::string big(1 << 20, 'x');
  std::string text = "1,2,\"" + big + "\r\n" + big + "\"\r\n3,4,\"" + big + "\"\n";
  auto recs = Records(text);
  ASSERT_EQ(recs.size(), 3u);  // the first quote runs to the next one, over the CR LF? no: CR ends
  EXPECT_EQ(recs[1], big + "\"");
  EXPECT_EQ(recs[2], "3,4,\"" + big + "\"");
}

// One point as the converter writes it, for exact comparisons.
std::string Block(std::string_view tag, std::string_view lat, std::string_view lon,
                  std::string_view name, std::string_view cmt, std::string_view sym = "Waypoint",
                  std::string_view cat = "") {
  std::string s = "  <" + std::string(tag) + " lat=\"" + std::string(lat) + "\" lon=\"" +
                  std::string(lon) + "\">\r\n    <name>" + std::string(name) +
                  "</name>\r\n    <cmt>" + std::string(cmt) + "</cmt>\r\n    <desc>" +
                  std::string(cmt) + "</desc>\r\n    <sym>" + std::string(sym) +
                  "</sym>\r\n    <extensions>\r\n"
                  "      <gpxx:WaypointExtension xmlns:gpxx=\"http://www.garmin.com/xmlschemas/"
                  "GpxExtensions/v2\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                  "xsi:schemaLocation=\"http://www.garmin.com/xmlschemas/GpxExtensions/v2 "
                  "http://www.garmin.com/xmlschemas/GpxExtensions/v2/GpxExtensionsv2.xsd\">\r\n"
                  "        <gpxx:DisplayMode>SymbolAndName</gpxx:DisplayMode>\r\n";
  if (!cat.empty())
    s += "        <gpxx:Categories>\r\n          <gpxx:Category>" + std::string(cat) +
         "</gpxx:Category>\r\n        </gpxx:Categories>\r\n";
  s += "      </gpxx:WaypointExtension>\r\n    </extensions>\r\n  </" + std::string(tag) +
       ">\r\n\r\n";
  return s;
}

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\r\n"
    "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" creator=\"Unknown\" version=\"1.1\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
    "http://www.topografix.com/GPX/1/1/gpx.xsd\">\r\n"
    "  <metadata>\r\n    <link href=\"http://www.garmin.com\">\r\n"
    "      <text>Garmin International</text>\r\n    </link>\r\n  </metadata>\r\n\r\n";

const std::string kRouteStart =
    "<rte>\r\n  <name>Coast Road</name>\r\n  <extensions>\r\n"
    "    <gpxx:RouteExtension xmlns:gpxx=\"http://www.garmin.com/xmlschemas/GpxExtensions/v2\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.garmin.com/xmlschemas/GpxExtensions/v2 "
    "http://www.garmin.com/xmlschemas/GpxExtensions/v2/GpxExtensionsv2.xsd\">\r\n"
    "      <gpxx:IsAutoNamed>false</gpxx:IsAutoNamed>\r\n    </gpxx:RouteExtension>\r\n"
    "  </extensions>\r\n";

struct Converted {
  std::string gpx;
  std::int32_t count = 0;
  std::string messages;
};

Converted Convert(std::string_view csv, PoiTemplates t = {"<T>", "", "", ""},
                  std::string_view file = "pts.csv") {
  RecordingMessageSink sink;
  Converted c;
  c.gpx = ConvertPoiTextToGpx(csv, file, t, sink, c.count);
  c.messages = sink.Joined();
  return c;
}

TEST(PoiToGpx, ExactLayoutWithRoutesAfterWaypoints) {
  Converted c = Convert(
      "-0.12,51.5,\"Smith, John\",\"Open 9 - 5\",extra\r\n"
      "[BEGIN-ROUTE:Coast Road]\r\n1,2,Start\r\n[End-Route]\r\n"
      "3,4,After\r\n",
      {"<T>", "", "<F>", "<S>"});
  EXPECT_EQ(
      c.gpx,
      kHeader +
          Block("wpt", "51.5", "-0.12", "Smith, John", "Open 9\n5, extra", "Waypoint", "pts") +
          Block("wpt", "4", "3", "After", "", "Waypoint", "pts") + kRouteStart +
          Block("rtept", "2", "1", "Start", "", "Waypoint", "pts") + "</rte>\r\n\r\n</gpx>\r\n");
  EXPECT_EQ(c.count, 3);
}

TEST(PoiToGpx, NamesCommentsAndSpeed) {
  struct Case {
    const char* what;
    const char* csv;
    PoiTemplates t;
    const char* name;
    const char* cmt;
  } cases[] = {
      {"ampersand", "1,2,Fish & Chips", {"<T>", "", "", ""}, "Fish and Chips", ""},
      {"speed, default templates",
       "1,2,Speed Trap@45,slow down",
       {"<T>", "", "", ""},
       "Speed Trap",
       "slow down"},
      {"speed, no templates", "1,2,Camera @50", {"", "", "", ""}, "Camera ", "@50"},
      {"speed for templates", "1,2,Cam@45,c", {"<S> km/h", "<D>!", "", ""}, "Cam!", "45 km/h"},
      {"tilde and dash breaks", "1,2,A,a~b - c", {"<T>", "", "", ""}, "A", "a\nb\nc"},
      {"collapsed spaces", "1,2,\"  A   B  \",\"x    y\"", {"<T>", "", "", ""}, "A B", "x y"},
      // The steps apply in order: "&" turns "&- " into " and - ", which then breaks;
      // " - - " breaks once; long text is checked past its first sixteen bytes.
      {"clean-up order",
       "1,2,A,\"a &- b - - c  -  d ~ e\"",
       {"<T>", "", "", ""},
       "A",
       "a and\nb\n- c \n d \n e"},
      {"long text, nothing to clean",
       "1,2,\"A name that is longer than two blocks, - fine\",\"one-two, three-four, five-six\"",
       {"<T>", "", "", ""},
       "A name that is longer than two blocks, - fine",
       "one-two, three-four, five-six"},
      {"markup is escaped",
       "1,2,A,\"<b>&\"",
       {"<T>", "<D>\"<T>\"", "", ""},
       "A&quot;&lt;b&gt;&amp;&quot;",
       "&lt;b&gt; and"},
      {"no comment column for T", "1,2,A", {"[<T>]", "<F4-9>", "", ""}, "", "[]"},
  };
  for (const Case& c : cases) {
    Converted r = Convert(c.csv, c.t);
    EXPECT_EQ(r.gpx, kHeader + Block("wpt", "2", "1", c.name, c.cmt) + "</gpx>\r\n") << c.what;
  }
}

TEST(PoiToGpx, NamesAreMadeUnique) {
  Converted c = Convert("1,2,Home\n1,2,Home\n1,2,Home\n1,2,Home001\n1,2,home\n", {"", "", "", ""});
  for (const char* n : {"Home", "Home001", "Home002", "Home001001", "home"})
    EXPECT_NE(c.gpx.find(std::string("<name>") + n + "</name>"), std::string::npos) << n;
  // Many equal names stay fast: the counter resumes where it left off.
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "1,2,Same\n";
  Converted m = Convert(many, {"", "", "", ""});
  EXPECT_EQ(m.count, 3000);
  // Past 999 the number keeps its three digits and then grows: Same000, ... Same0000.
  EXPECT_NE(m.gpx.find("<name>Same000</name>"), std::string::npos);
  EXPECT_NE(m.gpx.find("<name>Same0000</name>"), std::string::npos);
}

TEST(PoiToGpx, CoordinatesAreCheckedAndWrittenWithoutSpaces) {
  Converted c = Convert(
      "Longitude,Latitude,Name,Comment\n-1.5,,Empty\n1 2,3,Split\n181,0,Far\n1,-90.5,South\n"
      "180,0,Dateline\n +7.5 , .5 ,Spaced\n");
  EXPECT_EQ(c.messages,
            "Marklode: Invalid lon/lat for: Name.  Skipping...\n"
            "Marklode: Invalid lon/lat for: Empty.  Skipping...\n"
            "Marklode: Invalid lon/lat for: Split.  Skipping...\n"
            "Marklode: Invalid lon/lat for: Far.  Skipping...\n"
            "Marklode: Invalid lon/lat for: South.  Skipping...\n");
  EXPECT_EQ(c.gpx, kHeader + Block("wpt", "0", "-180", "Dateline", "") +
                       Block("wpt", ".5", "+7.5", "Spaced", "") + "</gpx>\r\n");
}

TEST(PoiToGpx, RouteLines) {
  Converted c = Convert(
      "[end-route]\n[begin-route:A]\n1,2,a\n[begin-route:B]x]\n1,2,b\n[end-route] \n"
      "[begin-route:C],\n1,2,c\n");
  // "[end-route] " and "[begin-route:C]," are not route lines; the input ends inside B.
  EXPECT_EQ(c.count, 3);
  auto at = [&](const char* s) { return c.gpx.find(s); };
  EXPECT_LT(at("<name>A</name>"), at("<name>a</name>"));
  EXPECT_LT(at("<name>a</name>"), at("</rte>\r\n\r\n<rte>\r\n  <name>B</name>"));
  EXPECT_NE(at("<rtept lat=\"2\" lon=\"1\">\r\n    <name>c</name>"), std::string::npos);
  const std::string end = "  </rtept>\r\n\r\n</rte>\r\n\r\n</gpx>\r\n";
  EXPECT_EQ(c.gpx.substr(c.gpx.size() - end.size()), end);
}

TEST(PoiToGpx, EmptyInputGivesAnEmptyGpx) {
  Converted c = Convert("");
  EXPECT_EQ(c.gpx, kHeader + "</gpx>\r\n");
  EXPECT_EQ(c.count, 0);
}

// Every GPX written must validate against the GPX 1.1 and Garmin v2 schemas.
void ExpectValid(const std::string& gpx) {
  test::TempDir dir;
  WriteFile(dir / "out.gpx", gpx);
  MARKLODE_EXPECT_VALID_GPX(dir / "out.gpx");
}

TEST(PoiToGpx, OutputValidatesAgainstTheSchemas) {
  ExpectValid(Convert("1,2,\"<A> & \"\"B\"\"\",\"c < d > e\",x\r\n180,90,Pole@30\r\n"
                      "[begin-route:R <1> & \"2\"]\r\n3,4,In route,\"a\nb\"\r\n[end-route]\r\n"
                      "5,6,After\r\n1,2,Ctl\x01\x1F",
                      {"<T>&<S>", "<D>\"<F>", "<F>&<S>", "<D><S>"})
                  .gpx);
  ExpectValid(Convert("").gpx);
}

// The writer on a thread of its own, and on the caller's thread where the
// system gives no thread (a limit on processes or memory).
std::thread NoThread(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

struct Starter {
  const char* name;
  ThreadStarter start;
} const kStarters[] = {{"thread", StartThread}, {"no thread", NoThread}};

// Many batches of waypoints and routes: megabytes of GPX, flushed in chunks.
std::string ManyBatchesCsv() {
  std::string csv;
  for (int i = 0; i < 30000; ++i) {
    if (i % 1000 == 0) csv += "[Begin-Route:R" + std::to_string(i) + "]\r\n";
    csv += std::to_string(i % 180) + ".5," + std::to_string(i % 90) + ".25,Point " +
           std::to_string(i % 500) + ",Comment & <" + std::to_string(i) + ">\r\n";
    if (i % 1000 == 10) csv += "[End-Route]\r\n";
  }
  return csv;
}

struct Threaded {
  std::string gpx;
  std::size_t chunks = 0;
  bool put = true, finished = false;
  std::set<std::thread::id> flushedOn;
};

// Converts csv through a WriterThread started by start; flush fails from
// chunk failAt on, and throws std::bad_alloc at chunk throwAt.
constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

Threaded ConvertThreaded(const std::string& csv, ThreadStarter start, std::size_t failAt = kNever,
                         std::size_t throwAt = kNever) {
  Threaded t;
  GpxWriter writer([&](ByteBuffer& text) {
    t.flushedOn.insert(std::this_thread::get_id());
    if (t.chunks == throwAt) throw std::bad_alloc();
    if (t.chunks++ >= failAt) return false;
    t.gpx += text.view();
    text.clear();
    return true;
  });
  RecordingMessageSink messages;
  WriterThread writing(writer, start);
  PoiReader reader(messages, PoiTemplates{"<T>", "", "", ""},
                   [&](Batch& batch) { return writing.Put(batch); });
  MemorySource src(csv);
  t.put = reader.File(src, "pts.csv", nullptr) && reader.Finish();
  t.finished = writing.Finish();
  return t;
}

TEST(WriterThread, WithoutAThreadTheOutputIsTheSame) {
  const std::string csv = ManyBatchesCsv();
  Converted want = Convert(csv);
  ASSERT_GT(want.gpx.size(), 8u << 20);
  for (const Starter& s : kStarters) {
    const Threaded t = ConvertThreaded(csv, s.start);
    EXPECT_TRUE(t.put && t.finished) << s.name;
    EXPECT_TRUE(t.gpx == want.gpx) << s.name;  // not printed: megabytes
    EXPECT_GT(t.chunks, 4u) << s.name;
    EXPECT_EQ(t.flushedOn.size(), 1u) << s.name;
    EXPECT_EQ(t.flushedOn.count(std::this_thread::get_id()), s.start == NoThread ? 1u : 0u)
        << s.name;
  }
}

// A failed output stops the reading side and is told by Finish; what the
// writer throws comes out of Finish, on either thread.
TEST(WriterThread, FailuresReachTheCallerWithOrWithoutAThread) {
  const std::string csv = ManyBatchesCsv();
  for (const Starter& s : kStarters) {
    Threaded t = ConvertThreaded(csv, s.start, 2);
    EXPECT_FALSE(t.put) << s.name;
    EXPECT_FALSE(t.finished) << s.name;
    EXPECT_EQ(t.chunks, 3u) << s.name;  // no chunk after the one that failed

    EXPECT_THROW(ConvertThreaded(csv, s.start, kNever, 1), std::bad_alloc) << s.name;
  }
}

class PoiFiles : public ::testing::Test {
 protected:
  RunStatus Run(std::string input, std::string output = "") {
    h.request.input = std::move(input);
    h.request.output = std::move(output);
    return h.ToGpx();
  }
  test::TempDir dir;
  test::Harness h;
};

TEST_F(PoiFiles, ManyToOneKeepsNamesUniqueAcrossFiles) {
  WriteFile(dir / "a.csv", "1,2,Home\r\n");
  WriteFile(dir / "B.CSV", "3,4,Home\r\n");
  WriteFile(dir / "c.txt", "5,6,Home\r\n");
  EXPECT_EQ(Run(dir / "*.csv", dir / "all.gpx"), RunStatus::Done);
  std::string gpx = ReadFile(dir / "all.gpx");
  EXPECT_EQ(h.result.entries, 2);
  EXPECT_LT(gpx.find("<name>Home</name>"), gpx.find("<name>Home001</name>"));
  EXPECT_EQ(gpx.find("lat=\"6\""), std::string::npos);
}

TEST_F(PoiFiles, StopsAndDerivedNames) {
  EXPECT_EQ(Run(dir / "*.csv"), RunStatus::Stopped);  // nothing matches
  WriteFile(dir / "p1.csv", "1,2,A\n");
  EXPECT_EQ(Run(dir / "p*.csv"), RunStatus::Stopped);  // the derived output keeps the "*"
  EXPECT_EQ(h.messages.Joined(),
            "Can't Find File: Can't Find Input file: " + dir / "*.csv" + "\n" +
                "Invalid file: Can't use wildcard for GPX output file: " + dir / "p*.GPX" + "\n");
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"p1.csv"});

  std::filesystem::create_directory(dir / "my.data");
  WriteFile(dir / "my.data/points.CSV", "1,2,A\n");
  EXPECT_EQ(Run(dir / "my.data/points"), RunStatus::Done);
  EXPECT_TRUE(test::Exists(dir / "my.data/points.GPX"));
}

TEST_F(PoiFiles, EncodingIsDecidedPerFile) {
  WriteFile(dir / "latin.csv", "1,2,Caf\xE9\r\n");
  WriteFile(dir / "utf8.csv",
            "\xEF\xBB\xBF"
            "3,4,Café\r\n");
  Run(dir / "*.csv", dir / "out.gpx");
  std::string gpx = ReadFile(dir / "out.gpx");
  EXPECT_NE(gpx.find("<name>Café</name>"), std::string::npos);
  EXPECT_NE(gpx.find("<name>Café001</name>"), std::string::npos);
}

// Every file of a run may start with a byte-order mark, the later ones too.
TEST_F(PoiFiles, ByteOrderMarkSkippedInEveryFile) {
  for (const char* name : {"a.csv", "b.csv", "c.csv"})
    WriteFile(dir / name,
              "\xEF\xBB\xBF"
              "1,2,Home\r\n");
  WriteFile(dir / "d.csv", "\xEF\xBB\xBF");
  EXPECT_EQ(Run(dir / "*.csv", dir / "all.gpx"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 3);
  EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();
  const std::string gpx = ReadFile(dir / "all.gpx");
  EXPECT_EQ(gpx.find("\xEF\xBB\xBF"), std::string::npos);
  EXPECT_NE(gpx.find("<name>Home002</name>"), std::string::npos);
}

// A list saved as UTF-16 ("Unicode" in some editors), in either byte order, is
// read as the same text in UTF-8.
TEST_F(PoiFiles, Utf16FilesAreReadAsText) {
  // "1,2,Zür" and CR LF in UTF-16LE; "3,4," and U+7528 in UTF-16BE.
  const std::string le(
      "\xFF\xFE"
      "1\0,\0"
      "2\0,\0"
      "Z\0\xFC\0r\0"
      "\r\0\n\0",
      20);
  const std::string be(
      "\xFE\xFF"
      "\0"
      "3\0,\0"
      "4\0,"
      "\x75\x28",
      12);
  WriteFile(dir / "le.csv", le);
  WriteFile(dir / "be.csv", be);
  EXPECT_EQ(Run(dir / "*.csv", dir / "all.gpx"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 2);
  EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();
  const std::string gpx = ReadFile(dir / "all.gpx");
  EXPECT_NE(gpx.find("<name>Z\xC3\xBCr</name>"), std::string::npos) << gpx;
  EXPECT_NE(gpx.find("<name>\xE7\x94\xA8</name>"), std::string::npos) << gpx;
}

// Saved as UTF-16 or UTF-32 without a byte order mark, a list is told by the
// NUL bytes of its first characters and read as text; UTF-32 in an unusual
// byte order is said to be unreadable, and leaves the output alone.
TEST_F(PoiFiles, Utf16AndUtf32WithoutAMarkAreReadAsText) {
  for (int width : {2, 4}) {
    for (bool be : {false, true}) {
      WriteFile(dir / "ru.csv",
                test::EncodeUtf(U"37.6,55.7,\"\u041C\u043E\u0441\u043A\u0432\u0430\"\r\n"
                                U"1,2,\"\U0001F303\"",
                                width, be));
      h.messages.boxes.clear();
      EXPECT_EQ(Run(dir / "ru.csv"), RunStatus::Done);
      EXPECT_EQ(h.result.entries, 2);
      EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();
      const std::string gpx = ReadFile(dir / "ru.GPX");
      EXPECT_NE(gpx.find("<name>\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0</name>"),
                std::string::npos)
          << "UTF-" << 8 * width << (be ? "BE" : "LE");
      EXPECT_NE(gpx.find("<name>\xF0\x9F\x8C\x83</name>"), std::string::npos);
    }
  }
  WriteFile(dir / "odd.csv", std::string("\0"
                                         "1\0\0\0,\0\0\0"
                                         "2\0\0\0,\0\0\0"
                                         "A\0\0",
                                         19));
  WriteFile(dir / "odd.GPX", "OLD");
  EXPECT_EQ(Run(dir / "odd.csv"), RunStatus::Done);
  EXPECT_EQ(
      h.messages.Joined(),
      "SYSgetTextLine: The text is UTF-32 in an unusual byte order, which cannot be read.  (" +
          dir / "odd.csv" + ").\n");
  EXPECT_EQ(ReadFile(dir / "odd.GPX"), "OLD");
  EXPECT_EQ(h.result.entries, 0);
}

#ifndef _WIN32  // /proc/self/mem: opens, then every read fails
// A run whose input could not be read whole changes no output: the file that
// was there stays, and nothing is counted. (/proc/self/mem opens, then fails
// at the first read.)
TEST_F(PoiFiles, InputThatFailsToReadLeavesTheOutputAlone) {
  WriteFile(dir / "a.csv", "1,2,A\r\n");
  std::filesystem::create_symlink("/proc/self/mem", dir / "b.csv");
  WriteFile(dir / "all.gpx", "OLD");
  EXPECT_EQ(Run(dir / "*.csv", dir / "all.gpx"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 0);
  ASSERT_EQ(h.messages.boxes.size(), 1u);
  EXPECT_NE(h.messages.boxes[0].text.find(dir / "b.csv"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "all.gpx"), "OLD");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"a.csv", "all.gpx", "b.csv"}));

  // The same with the output named after the input.
  WriteFile(dir / "b.GPX", "OLD");
  Run(dir / "b.csv");
  EXPECT_EQ(ReadFile(dir / "b.GPX"), "OLD");
}
#endif

// A stray quote over line breaks is said once, as a warning naming the file
// and the line; a comment quoted whole over lines says nothing.
TEST_F(PoiFiles, StrayQuoteOverLineBreaksIsWarnedOnce) {
  WriteFile(dir / "ok.csv", "1,2,A,\"x\ny\"\r\n3,4,B,\"p\nq\"\r\n");
  EXPECT_EQ(Run(dir / "ok.csv"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 2);
  EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();

  WriteFile(dir / "s.csv", "1,2,A\r\n3,4,24\" screen\n5,6,C\n7,8,D\r\n9,9,E\"\nF\r\n");
  EXPECT_EQ(Run(dir / "s.csv"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 3);
  EXPECT_EQ(h.messages.Joined(),
            "Unpaired Quote: Unpaired double quote in line 2; its field runs on over the lines "
            "after it.  (s.csv).\n");
  EXPECT_EQ(h.messages.boxes[0].kind, MessageKind::Warning);
}

// A CR ends a record even inside quotes: the records stay as they are read
// (the rest of the field is no point), and this is said once, naming the line.
// A quote left open at the end of a line with whole records after it is a
// stray quote, read as ever without a word.
TEST_F(PoiFiles, CrInsideQuotesIsWarnedOnce) {
  WriteFile(dir / "cr.csv", "1,2,A,\"x\ry\"\r\n3,4,B,\"p\rq\"\r\n5,6,C\r\n");
  EXPECT_EQ(Run(dir / "cr.csv"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 3);
  EXPECT_NE(ReadFile(dir / "cr.GPX").find("<cmt>x</cmt>"), std::string::npos);
  EXPECT_EQ(h.messages.Joined(),
            "Unpaired Quote: Line 1 ends inside a double-quoted field; the record ends there and "
            "the next line is read as a record of its own.  (cr.csv).\n");
  EXPECT_EQ(h.messages.boxes[0].kind, MessageKind::Warning);

  h.messages.boxes.clear();
  WriteFile(dir / "lines.csv", "1,2,A\r\n3,4,B,\"one\r\ntwo\"\r\n5,6,C\r\n");  // CR LF in it
  EXPECT_EQ(Run(dir / "lines.csv"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 3);
  EXPECT_NE(h.messages.Joined().find("Line 2 ends inside"), std::string::npos)
      << h.messages.Joined();

  h.messages.boxes.clear();
  WriteFile(dir / "open.csv", "1,2,A\r\n3,4,\"B\r\n5,6,C\r\n");  // a stray quote
  EXPECT_EQ(Run(dir / "open.csv"), RunStatus::Done);
  EXPECT_EQ(h.result.entries, 3);
  EXPECT_TRUE(h.messages.boxes.empty()) << h.messages.Joined();
}

TEST_F(PoiFiles, UnwritableOutputIsReportedOnceAndNothingCounted) {
  WriteFile(dir / "a.csv", "1,2,A\n3,4,B\n");
  Run(dir / "a.csv", dir / "missing/out.gpx");
  EXPECT_EQ(h.result.entries, 0);
  EXPECT_EQ(h.messages.Joined(),
            "PutTextLine: Path not found.  (" + dir / "missing/out.gpx" + ").\n");
}

}  // namespace
}  // namespace marklode
