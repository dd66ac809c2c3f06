// Round trips GPX -> POI-CSV -> GPX over generated waypoint sets. Every point
// comes back, in order, with its coordinates as written and its name and
// comment as the two formats' rules allow: names are cut to 39 characters,
// double quotes are dropped (POI-CSV cannot escape them), "&" reads back as
// " and ", "~" and " - " in a comment are line breaks, runs of spaces shrink
// to one and spaces around a value go. Differences inherent to the formats
// have tests of their own, named for them.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/gpx_to_csv.h"
#include "engine/poi_to_gpx.h"
#include "services/strings.h"
#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::WriteFile;

struct Point {
  std::string lat, lon, name;
  std::vector<std::string> commentLines;  // none: no comment
  std::string category;
};

struct BackPoint {
  std::string lat, lon, name, comment;
  bool hasCategory = false;
};

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const std::size_t semi = s.find(';', i);
    const std::string_view ent = s.substr(i + 1, semi - i - 1);
    if (ent == "amp")
      out += '&';
    else if (ent == "lt")
      out += '<';
    else if (ent == "gt")
      out += '>';
    else if (ent == "quot")
      out += '"';
    else if (ent == "apos")
      out += '\'';
    else if (ent == "#10" || ent == "#xA")
      out += '\n';
    else if (ent == "#13" || ent == "#xD")
      out += '\r';
    else
      ADD_FAILURE() << "unexpected entity &" << ent << ";";
    i = semi;
  }
  return out;
}

std::string WriteGpx(const std::vector<Point>& points) {
  std::string g =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<gpx version=\"1.1\" creator=\"round trip\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
      "xmlns:gpxx=\"http://www.garmin.com/xmlschemas/GpxExtensions/v3\">\r\n";
  for (const Point& p : points) {
    g += "  <wpt lat=\"" + p.lat + "\" lon=\"" + p.lon + "\">\r\n";
    g += "    <name>" + Escape(p.name) + "</name>\r\n";
    if (!p.commentLines.empty()) {
      g += "    <cmt>";
      for (std::size_t i = 0; i < p.commentLines.size(); ++i)
        g += (i ? "\r\n" : "") + Escape(p.commentLines[i]);
      g += "</cmt>\r\n";
    }
    if (!p.category.empty()) {
      g += "    <extensions>\r\n      <gpxx:WaypointExtension>\r\n        <gpxx:Categories>\r\n";
      g += "          <gpxx:Category>" + Escape(p.category) + "</gpxx:Category>\r\n";
      g += "        </gpxx:Categories>\r\n      </gpxx:WaypointExtension>\r\n    </extensions>\r\n";
    }
    g += "  </wpt>\r\n";
  }
  return g + "</gpx>\r\n";
}

// Reads the points back from the GPX Marklode writes (one element per line).
std::vector<BackPoint> ReadBack(const std::string& gpx) {
  std::vector<BackPoint> out;
  auto between = [&](std::size_t from, std::string_view open, std::string_view close,
                     std::size_t limit) -> std::string {
    const std::size_t a = gpx.find(open, from);
    if (a == std::string::npos || a > limit) return "\x01missing";
    const std::size_t b = gpx.find(close, a + open.size());
    return Unescape(std::string_view(gpx).substr(a + open.size(), b - a - open.size()));
  };
  for (std::size_t p = gpx.find("<wpt "); p != std::string::npos; p = gpx.find("<wpt ", p + 1)) {
    const std::size_t end = gpx.find("</wpt>", p);
    BackPoint b;
    b.lat = between(p, "lat=\"", "\"", end);
    b.lon = between(p, "lon=\"", "\"", end);
    b.name = between(p, "<name>", "</name>", end);
    b.comment = between(p, "<cmt>", "</cmt>", end);
    b.hasCategory = gpx.substr(p, end - p).find("<gpxx:Category>") != std::string::npos;
    out.push_back(b);
  }
  return out;
}

// Code points of UTF-8 text, the unit names are cut in.
std::string FirstCodePoints(const std::string& s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < n && i < s.size(); ++k) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  return ReplaceText(s, from, to);
}

std::string Tidy(std::string_view s) {
  return std::string(TrimSpaces(CollapseSpaces(s)));
}

std::string ExpectedName(const Point& p) {
  std::string n = ReplaceAll(FirstCodePoints(p.name, 39), "\"", "");
  return Tidy(ReplaceAll(n, "&", " and "));
}

std::string ExpectedComment(const Point& p, bool keepBreaks) {
  // Each line of a comment loses the spaces at its line ends (not those next to
  // the tags <cmt> and </cmt>).
  std::string c;
  const std::size_t n = p.commentLines.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::string line = p.commentLines[i];
    if (i + 1 < n) line.erase(line.find_last_not_of(' ') + 1);
    if (i > 0) line.erase(0, line.find_first_not_of(' '));
    c += (i ? (keepBreaks ? "\n" : " - ") : "") + line;
  }
  c = ReplaceAll(c, "\"", "");
  c = ReplaceAll(c, "~", "\n");
  c = ReplaceAll(c, "&", " and ");
  c = ReplaceAll(c, " - ", "\n");
  return Tidy(c);
}

// Random waypoints. Names start with a number of their own so they stay
// unique; double quotes come in pairs around one word without commas, and only
// in names short enough not to be cut, because POI-CSV has no escape for them.
class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::vector<Point> Points(std::size_t n) {
    std::vector<Point> pts;
    for (std::size_t i = 0; i < n; ++i) {
      Point p;
      p.lat = Number(90);
      p.lon = Number(179);
      p.name = "P" + std::to_string(i + 1) + " " + Text(1 + Pick(8), kNameWords);
      if (Pick(4) == 0) {
        const std::string quoted =
            "\"" + std::string(kPlainWords[Pick(std::size(kPlainWords))]) + "\"";
        const std::string withQuotes = p.name + " " + quoted;
        p.name = FirstCodePoints(withQuotes, 39) == withQuotes ? withQuotes : p.name;
      }
      const std::size_t lines = Pick(4);
      for (std::size_t l = 0; l < lines; ++l)
        p.commentLines.push_back(Text(1 + Pick(6), kCommentWords));
      if (Pick(2)) p.category = Text(1 + Pick(2), kNameWords);
      pts.push_back(p);
    }
    return pts;
  }

 private:
  static constexpr const char* kPlainWords[] = {"Nord", "Süd", "alt", "Ost", "neu"};
  static constexpr const char* kNameWords[] = {
      "Café", "Fish", "&",     "Chips", "Smith,", "John",  "a<b", "x>y", "Zürich", "Ørsted",
      "Łódź", "Ж",    "中文",  "🙂",  "#7",     "*",     "~",   "-",   "'s",     "Straße",
      "A1",   "über", "Señor", "&amp;", "100%",   "[box]", ";",   "é",   "lang",   "Hauptbahnhof"};
  static constexpr const char* kCommentWords[] = {
      "open",  "late",  "&",    "cash,",   "only", "<b>",  "tel.", "~",  "-",    "Mo-Fr",
      "9 - 5", "Ärger", "café", "\"hot\"", "a,b",  "🙂", "x>y",  "Øl", "über", "100%"};

  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  template <std::size_t N>
  std::string Text(std::size_t words, const char* const (&from)[N]) {
    std::string t;
    for (std::size_t w = 0; w < words; ++w)
      t += (w ? (Pick(4) ? " " : "  ") : "") + std::string(from[Pick(N)]);
    return t;
  }

  // A decimal in the open range (-max, max), with 0 to 15 decimals and the
  // spellings a decimal may take ("+7.5", ".5", "5.").
  std::string Number(int max) {
    std::string s = std::to_string(Pick(max));
    const std::size_t decimals = Pick(16);
    if (decimals) {
      s += '.';
      for (std::size_t d = 0; d < decimals; ++d) s += char('0' + Pick(10));
    }
    switch (Pick(8)) {
      case 0:
        return "-" + s;
      case 1:
        return "+" + s;
      case 2:
        return s.substr(0, 2) == "0." ? s.substr(1) : s;
      case 3:
        return s.find('.') == std::string::npos ? s + "." : s;
      default:
        return Pick(2) ? "-" + s : s;
    }
  }

  std::mt19937 rng_;
};

struct Trip {
  std::string csv, gpx;
  std::int32_t toCsv = 0, toGpx = 0;
  std::vector<std::string> messages;
};

Trip RoundTrip(const std::string& gpxIn, bool keepBreaks) {
  test::TempDir dir;
  WriteFile(dir / "in.gpx", gpxIn);
  test::Harness h;
  h.request.input = dir / "in.gpx";
  h.request.output = dir / "mid.csv";
  h.request.keepCommentLineBreaks = keepBreaks;
  EXPECT_EQ(h.ToPoi(), RunStatus::Done);
  Trip t;
  t.toCsv = h.result.entries;
  h.request.input = dir / "mid.csv";
  h.request.output = dir / "out.gpx";
  EXPECT_EQ(h.ToGpx(), RunStatus::Done);
  t.toGpx = h.result.entries;
  t.csv = ReadFile(dir / "mid.csv");
  t.gpx = ReadFile(dir / "out.gpx");
  for (const auto& b : h.messages.boxes) t.messages.push_back(b.title + ": " + b.text);
  return t;
}

void ExpectValidGpx(const std::string& gpx) {
  test::TempDir dir;
  WriteFile(dir / "out.gpx", gpx);
  MARKLODE_EXPECT_VALID_GPX(dir / "out.gpx");
}

struct SetCase {
  std::size_t points;
  std::uint32_t seed;
  bool keepBreaks;
};

class RoundTripSets : public ::testing::TestWithParam<SetCase> {};

TEST_P(RoundTripSets, KeepsCountCoordinatesNamesAndComments) {
  const SetCase& c = GetParam();
  const std::vector<Point> pts = Generator(c.seed).Points(c.points);
  const Trip t = RoundTrip(WriteGpx(pts), c.keepBreaks);
  EXPECT_TRUE(t.messages.empty()) << t.messages.front();
  EXPECT_EQ(t.toCsv, static_cast<std::int32_t>(pts.size()));
  EXPECT_EQ(t.toGpx, static_cast<std::int32_t>(pts.size()));
  const std::vector<BackPoint> back = ReadBack(t.gpx);
  ASSERT_EQ(back.size(), pts.size());
  int failures = 0;
  for (std::size_t i = 0; i < pts.size() && failures < 5; ++i) {
    const Point& p = pts[i];
    const BackPoint& b = back[i];
    const bool same = b.lat == p.lat && b.lon == p.lon && b.name == ExpectedName(p) &&
                      b.comment == ExpectedComment(p, c.keepBreaks);
    if (!same) {
      ++failures;
      ADD_FAILURE() << "point " << i + 1 << "\n name    " << p.name << "\n back    " << b.name
                    << "\n expect  " << ExpectedName(p) << "\n comment " << b.comment
                    << "\n expect  " << ExpectedComment(p, c.keepBreaks) << "\n lat/lon " << p.lat
                    << "/" << p.lon << " back " << b.lat << "/" << b.lon;
    }
  }
  ExpectValidGpx(t.gpx);
}

// One record with kept line breaks is left out: see its own test below.
INSTANTIATE_TEST_SUITE_P(Generated, RoundTripSets,
                         ::testing::Values(SetCase{1, 1, false}, SetCase{2, 2, true},
                                           SetCase{10, 3, false}, SetCase{10, 4, true},
                                           SetCase{100, 5, false}, SetCase{100, 6, true},
                                           SetCase{1000, 7, false}, SetCase{10000, 8, false},
                                           SetCase{10000, 9, true}),
                         [](const auto& info) {
                           return std::to_string(info.param.points) + "points_seed" +
                                  std::to_string(info.param.seed) +
                                  (info.param.keepBreaks ? "_keepBreaks" : "");
                         });

Point Simple(std::string name, std::vector<std::string> comment = {}, std::string category = "") {
  return {"48.5", "11.25", std::move(name), std::move(comment), std::move(category)};
}

TEST(RoundTripLosses, CategoryIsLostBecausePoiCsvHasNoColumnForIt) {
  const Trip t = RoundTrip(WriteGpx({Simple("Diner", {"open"}, "Food")}), false);
  const auto back = ReadBack(t.gpx);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].name, "Diner");
  EXPECT_FALSE(back[0].hasCategory);
}

TEST(RoundTripLosses, NamesLongerThan39CharactersAreCut) {
  const Trip t =
      RoundTrip(WriteGpx({Simple("Zürich Hauptbahnhof Haupthalle Ausgänge Nord und Süd")}), false);
  const auto back = ReadBack(t.gpx);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].name, "Zürich Hauptbahnhof Haupthalle Ausgänge");
}

// A speed suffix travels in the POI name ("Name@50") and is split off again:
// the name loses it, and the comment column is what the comment becomes.
TEST(RoundTripLosses, SpeedSuffixLeavesTheNameOnTheWayBack) {
  struct {
    Point in;
    std::string csv, name, comment;
  } cases[] = {
      {Simple("Camera", {"@50"}), "11.25,48.5,\"Camera@50\",\"@50\"", "Camera", "@50"},
      {Simple("Camera@30", {"fixed"}), "11.25,48.5,\"Camera@30\",\"fixed\"", "Camera", "fixed"},
      {Simple("Camera@30", {}), "11.25,48.5,\"Camera@30\"", "Camera", ""},
      {Simple("Mail me@home", {"x"}), "11.25,48.5,\"Mail me@home\",\"x\"", "Mail me", "x"},
  };
  for (const auto& c : cases) {
    const Trip t = RoundTrip(WriteGpx({c.in}), false);
    EXPECT_EQ(t.csv, c.csv);
    const auto back = ReadBack(t.gpx);
    ASSERT_EQ(back.size(), 1u) << c.in.name;
    EXPECT_EQ(back[0].name, c.name) << c.in.name;
    EXPECT_EQ(back[0].comment, c.comment) << c.in.name;
  }
}

// A quote inside a name is written doubled, so quotes still pair and the comma
// after it stays in the field; the reader removes every quote character, so
// only those are lost.
TEST(RoundTripLosses, QuotesLeaveANameButItsCommaStaysInside) {
  const Trip t = RoundTrip(WriteGpx({Simple("Inn \"Rose, Crown\" Hotel", {"rooms"})}), false);
  EXPECT_EQ(t.csv, "11.25,48.5,\"Inn \"\"Rose, Crown\"\" Hotel\",\"rooms\"");
  EXPECT_EQ(t.toGpx, 1);
  const auto back = ReadBack(t.gpx);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].lat, "48.5");
  EXPECT_EQ(back[0].lon, "11.25");
  EXPECT_EQ(back[0].name, "Inn Rose, Crown Hotel");
  EXPECT_EQ(back[0].comment, "rooms");
}

// A single-point file holds no CR to tell its line ends by, yet its one record,
// quoted over the comment's kept line breaks, comes back whole.
TEST(RoundTrip, SinglePointKeepsItsCommentsLineBreaks) {
  const Trip t = RoundTrip(WriteGpx({Simple("Hut", {"first", "second", "third"})}), true);
  EXPECT_EQ(t.csv, "11.25,48.5,\"Hut\",\"first\nsecond\nthird\"");
  const auto back = ReadBack(t.gpx);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].name, "Hut");
  EXPECT_EQ(back[0].comment, "first\nsecond\nthird");
  EXPECT_TRUE(t.messages.empty());
}

// The schema excludes longitude 180; the same meridian comes back as -180.
TEST(RoundTripLosses, Longitude180ComesBackAsMinus180) {
  Point p = Simple("Date line");
  p.lon = "180.000";
  const auto back = ReadBack(RoundTrip(WriteGpx({p}), false).gpx);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].lon, "-180");
}

}  // namespace
}  // namespace marklode
