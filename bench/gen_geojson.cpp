// Writes a large, deterministic GeoJSON FeatureCollection for the benchmark:
// one feature per line, mostly Points with a name, a description, a
// category and a nested "location" object, every tenth a MultiPoint and
// every twentieth a LineString, UTF-8 names and escaped quotes. The same size
// always gives the same bytes.
//
//   gen_geojson SIZE OUT.geojson
//
// SIZE is in bytes, or with a K, M or G suffix.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Rng {  // splitmix64, as gen_gpx
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
};

const char* const kPlaces[] = {"Café",       "Bäckerei",   "Zürich HB",    "Ørsted Park",
                               "Łódź Rynek", "Hütte",      "Señor Taco",   "Aussicht \\\"Nord\\\"",
                               "Παραλία",    "Малый мост", "Fish & Chips", "Parkplatz"};
const char* const kCategories[] = {"Food", "Fuel", "Lodging", "Sights", "Parking"};

std::string Coordinate(Rng& r, int limit) {
  char buf[32];
  const long long micro =
      static_cast<long long>(r.Below(2ull * limit * 1000000)) - limit * 1000000ll;
  std::snprintf(buf, sizeof buf, "%s%lld.%06lld", micro < 0 ? "-" : "", llabs(micro) / 1000000,
                llabs(micro) % 1000000);
  return buf;
}

std::string Position(Rng& r) {
  return "[" + Coordinate(r, 180) + "," + Coordinate(r, 90) + "]";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gen_geojson SIZE OUT.geojson\n");
    return 2;
  }
  char* end = nullptr;
  std::uint64_t size = std::strtoull(argv[1], &end, 10);
  if (*end == 'K' || *end == 'k') size <<= 10;
  if (*end == 'M' || *end == 'm') size <<= 20;
  if (*end == 'G' || *end == 'g') size <<= 30;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  Rng r{42};
  std::string head = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  std::uint64_t written = head.size();
  std::fputs(head.c_str(), out);
  for (std::uint64_t i = 0;; ++i) {
    std::string geometry;
    if (i % 20 == 19) {
      geometry = "{\"type\":\"LineString\",\"coordinates\":[" + Position(r) + "," + Position(r) +
                 "," + Position(r) + "]}";
    } else if (i % 10 == 9) {
      geometry =
          "{\"type\":\"MultiPoint\",\"coordinates\":[" + Position(r) + "," + Position(r) + "]}";
    } else {
      geometry = "{\"type\":\"Point\",\"coordinates\":" + Position(r) + "}";
    }
    const char* place = kPlaces[r.Below(sizeof kPlaces / sizeof *kPlaces)];
    std::string f = "{\"type\":\"Feature\",\"geometry\":" + geometry +
                    ",\"properties\":{\"name\":\"" + place + " " + std::to_string(i) +
                    "\",\"description\":\"Open " + std::to_string(r.Below(24)) +
                    "-24, see \\\"notes\\\"\\nfor more\",\"category\":\"" +
                    kCategories[r.Below(sizeof kCategories / sizeof *kCategories)] +
                    "\",\"rating\":" + std::to_string(r.Below(50) / 10.0).substr(0, 3) +
                    ",\"location\":{\"address\":\"" + std::to_string(r.Below(200)) +
                    " Main Street\",\"country_code\":\"CH\"}}}";
    const bool last = written + f.size() + 4 >= size;
    f += last ? "\n]}\n" : ",\n";
    std::fputs(f.c_str(), out);
    written += f.size();
    if (last) break;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
