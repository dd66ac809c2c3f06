// Interoperability with GPSBabel, an independent reader and writer of both
// formats: it must read what Marklode writes and find the same points, and
// Marklode must read what it writes. Skipped, with the reason, where gpsbabel
// is not installed (scripts/setup.sh installs it).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::RunMarklode;
using test::WriteFile;

const std::string kFixtures = std::string(MARKLODE_SOURCE_DIR) + "/tests/interop/";

#ifdef _WIN32
#define REQUIRE_GPSBABEL() \
  GTEST_SKIP() << "GPSBabel is a Linux tool here: these checks run in the Linux builds"
#else
#define REQUIRE_GPSBABEL()                                                                   \
  if (!test::HaveTool("gpsbabel"))                                                           \
  GTEST_SKIP() << "gpsbabel is not installed (scripts/setup.sh installs the Debian package " \
                  "gpsbabel)"
#endif

struct Place {
  std::string name;
  double lat, lon;
};

std::ostream& operator<<(std::ostream& os, const Place& p) {
  return os << p.name << " (" << p.lat << ", " << p.lon << ")";
}

// Fields of one CSV line; "" inside a quoted field stands for one quote.
std::vector<std::string> CsvFields(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

// The points of GPSBabel's unicsv output, by its header's column names.
std::vector<Place> FromUnicsv(const std::string& text) {
  std::vector<Place> out;
  std::map<std::string, std::size_t> col;
  std::size_t start = 0;
  bool header = true;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const auto f = CsvFields(std::string_view(text).substr(start, nl - start));
    start = nl + 1;
    if (header) {
      for (std::size_t i = 0; i < f.size(); ++i) col[f[i]] = i;
      header = false;
      continue;
    }
    out.push_back({f.at(col.at("Name")), std::atof(f.at(col.at("Latitude")).c_str()),
                   std::atof(f.at(col.at("Longitude")).c_str())});
  }
  return out;
}

// The records of a POI-CSV file: longitude, latitude, name without its quotes.
std::vector<Place> FromPoiCsv(const std::string& text) {
  std::vector<Place> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const auto f = CsvFields(std::string_view(text).substr(start, nl - start));
    start = nl + 1;
    if (f.size() >= 3) out.push_back({f[2], std::atof(f[1].c_str()), std::atof(f[0].c_str())});
  }
  return out;
}

// Names exactly; coordinates to within what the coarser writer keeps.
void ExpectSamePlaces(const std::vector<Place>& got, const std::vector<Place>& want,
                      double tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].name, want[i].name) << "point " << i + 1;
    EXPECT_NEAR(got[i].lat, want[i].lat, tolerance) << want[i];
    EXPECT_NEAR(got[i].lon, want[i].lon, tolerance) << want[i];
  }
}

// The waypoints of tests/interop/source.gpx.
const std::vector<Place> kSourcePlaces = {
    {"Tour Eiffel", 48.858370, 2.294481},
    {"Brandenburger Tor", 52.516275, 13.377704},
    {"Cristo Redentor", -22.951916, -43.210487},
    {"Rådhusplassen Øst", 59.913868, 10.752245},
    {"東京タワー", 35.658581, 139.745433},
    {"Radar I-5 Exit 104", 47.123456789, -122.987654321},
    {"Near the date line", -0.5, -179.999999},
    {"Hallgrímskirkja", 64.1466, -21.9426},
};

TEST(GpsbabelInterop, ReadsEveryGpxMarklodeWrites) {
  REQUIRE_GPSBABEL();
  test::TempDir dir;
  WriteFile(dir / "points.csv", ReadFile(kFixtures + "points.csv"));
  const auto ran = RunMarklode({"/r", dir / "points.csv"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  MARKLODE_EXPECT_VALID_GPX(dir / "points.GPX");

  const auto wpts =
      RunCommand({"gpsbabel", "-i", "gpx", "-f", dir / "points.GPX", "-o", "unicsv", "-F", "-"});
  ASSERT_EQ(wpts.status, 0) << wpts.err;
  ExpectSamePlaces(FromUnicsv(wpts.out),
                   {{"Brandenburger Tor", 52.516275, 13.377704},
                    {"Fish and Chips", 51.507222, -0.1275},
                    {"Smith, John", 48.8566, 2.35},
                    {"Radar I-5", 47.123456789, -122.987654321},
                    {"東京タワー", 35.658581, 139.745433},
                    {"Date line", -0.5, -180},
                    {"Rådhusplassen Øst", 59.913868, 10.752245}},
                   1e-6);

  const auto route = RunCommand(
      {"gpsbabel", "-r", "-i", "gpx", "-f", dir / "points.GPX", "-o", "unicsv", "-F", "-"});
  ASSERT_EQ(route.status, 0) << route.err;
  ExpectSamePlaces(FromUnicsv(route.out), {{"Milano", 45.4642, 9.19}, {"Como", 45.8081, 9.0852}},
                   1e-6);
}

TEST(GpsbabelInterop, ReadsThePoiCsvMarklodeWrites) {
  REQUIRE_GPSBABEL();
  test::TempDir dir;
  WriteFile(dir / "source.gpx", ReadFile(kFixtures + "source.gpx"));
  const auto ran = RunMarklode({dir / "source.gpx"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const auto read = RunCommand(
      {"gpsbabel", "-i", "garmin_poi", "-f", dir / "source.CSV", "-o", "unicsv", "-F", "-"});
  ASSERT_EQ(read.status, 0) << read.err;
  // GPSBabel keeps the double quotes around a name as part of it.
  std::vector<Place> got = FromUnicsv(read.out);
  for (Place& p : got)
    if (p.name.size() >= 2 && p.name.front() == '"' && p.name.back() == '"')
      p.name = p.name.substr(1, p.name.size() - 2);
  std::vector<Place> want = kSourcePlaces;
  want[5].name += "@60";  // the speed suffix of its comment "@60"
  ExpectSamePlaces(got, want, 1e-6);
}

TEST(GpsbabelInterop, MarklodeReadsGpsbabelsPoiCsv) {
  REQUIRE_GPSBABEL();
  test::TempDir dir;
  const auto wrote = RunCommand({"gpsbabel", "-i", "gpx", "-f", kFixtures + "source.gpx", "-o",
                                 "garmin_poi", "-F", dir / "babel.csv"});
  ASSERT_EQ(wrote.status, 0) << wrote.err;
  const auto ran = RunMarklode({"/r", dir / "babel.csv"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  MARKLODE_EXPECT_VALID_GPX(dir / "babel.GPX");
  // Marklode's GPX, read back by GPSBabel: GPSBabel writes five decimals.
  const auto back =
      RunCommand({"gpsbabel", "-i", "gpx", "-f", dir / "babel.GPX", "-o", "unicsv", "-F", "-"});
  ASSERT_EQ(back.status, 0) << back.err;
  std::vector<Place> want = kSourcePlaces;
  want[6].lon = -180;  // -179.999999 to five decimals
  ExpectSamePlaces(FromUnicsv(back.out), want, 0.5e-5 + 1e-9);
}

TEST(GpsbabelInterop, MarklodeReadsGpsbabelsGpx) {
  REQUIRE_GPSBABEL();
  test::TempDir dir;
  const auto wrote = RunCommand({"gpsbabel", "-i", "gpx", "-f", kFixtures + "source.gpx", "-o",
                                 "gpx", "-F", dir / "babel.gpx"});
  ASSERT_EQ(wrote.status, 0) << wrote.err;
  const auto ran = RunMarklode({dir / "babel.gpx"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  std::vector<Place> want = kSourcePlaces;
  want[5].name += "@60";
  ExpectSamePlaces(FromPoiCsv(ReadFile(dir / "babel.CSV")), want, 1e-9);
}

// KML: GPSBabel writes the GPX's waypoints as KML (in a folder, with
// styles), and both programs read that KML: the same points.
TEST(GpsbabelInterop, KmlPointsAgreeWithGpsbabels) {
  REQUIRE_GPSBABEL();
  test::TempDir dir;
  const auto wrote = RunCommand({"gpsbabel", "-i", "gpx", "-f", kFixtures + "source.gpx", "-o",
                                 "kml", "-F", dir / "babel.kml"});
  ASSERT_EQ(wrote.status, 0) << wrote.err;
  const auto ran = RunMarklode({dir / "babel.kml"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const auto read =
      RunCommand({"gpsbabel", "-i", "kml", "-f", dir / "babel.kml", "-o", "unicsv", "-F", "-"});
  ASSERT_EQ(read.status, 0) << read.err;
  std::vector<Place> want = FromUnicsv(read.out);
  ASSERT_EQ(want.size(), kSourcePlaces.size());
  want[5].name += "@60";  // the speed suffix of its description "@60"
  ExpectSamePlaces(FromPoiCsv(ReadFile(dir / "babel.CSV")), want, 1e-9);
}

}  // namespace
}  // namespace marklode
