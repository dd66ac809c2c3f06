// Writes a large, deterministic GPX 1.1 file for the benchmark: one element per
// line, 2-space indentation, CR LF line ends, Garmin categories, multi-line and
// speed-suffix comments, and UTF-8 names. The same size always gives the same
// bytes.
//
//   gen_gpx SIZE OUT.gpx [--no-end-tags] [--categories N] [--kml | --geojson]
//
// SIZE is in bytes, or with a K, M or G suffix. --no-end-tags leaves out every
// </wpt>, the pathological case where each waypoint runs on to the next.
// --categories N gives every waypoint one of N categories in turn
// ("Category 0" .. "Category N-1"), for profiles that write a file per
// category: each record goes to another file than the one before. --kml and
// --geojson write the waypoints of the GPX of this size as KML placemarks or
// GeoJSON features instead.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Rng {  // splitmix64: small, fast and the same everywhere
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
};

const char* const kPlaces[] = {
    "Café",       "Bäckerei",          "Müller Tankstelle", "Zürich HB",         "Ørsted Park",
    "Łódź Rynek", "Église Saint-Jean", "Fish & Chips",      "Speed Camera",      "Parkplatz",
    "Hütte",      "Señor Taco",        "Smith, John",       "Aussicht \"Nord\"", "Παραλία",
    "Малый мост"};
const char* const kCategories[] = {"Food",   "Fuel",    "Speed Camera", "Lodging",
                                   "Sights", "Parking", "Größe & Co"};
const char* const kWords[] = {"open",  "late", "closed", "Mondays", "view", "over",  "the",
                              "lake",  "from", "top",    "parking", "free", "after", "6 pm",
                              "steep", "road", "cash",   "only",    "<b>",  "&",     "Ausfahrt"};

std::uint64_t ParseSize(const char* text) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  switch (*end) {
    case 'k':
    case 'K':
      v *= 1024.0;
      break;
    case 'm':
    case 'M':
      v *= 1024.0 * 1024.0;
      break;
    case 'g':
    case 'G':
      v *= 1024.0 * 1024.0 * 1024.0;
      break;
    default:
      break;
  }
  return v > 0 ? static_cast<std::uint64_t>(v) : 0;
}

void Escape(std::string& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    switch (*p) {
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
        out += *p;
    }
  }
}

void Coordinate(std::string& out, Rng& rng, int maxDegrees) {
  const std::uint64_t micro = rng.Below(static_cast<std::uint64_t>(maxDegrees) * 2000000);
  const std::int64_t v = static_cast<std::int64_t>(micro) - maxDegrees * 1000000ll;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%" PRId64 ".%06" PRId64, v < 0 ? "-" : "",
                (v < 0 ? -v : v) / 1000000, (v < 0 ? -v : v) % 1000000);
  out += buf;
}

// A waypoint's comment in the element tag, or none: a speed camera's "@n",
// or one to three lines of words.
void Comment(std::string& out, Rng& rng, const std::string& tag) {
  const std::uint64_t kind = rng.Below(4);
  if (kind == 3) return;
  out += "    <" + tag + ">";
  if (kind == 0) {
    out += "@" + std::to_string(30 + 10 * rng.Below(10));
  } else {
    const std::uint64_t lines = 1 + rng.Below(3);
    for (std::uint64_t l = 0; l < lines; ++l) {
      if (l) out += "\r\n";
      const std::uint64_t words = 2 + rng.Below(5);
      for (std::uint64_t w = 0; w < words; ++w) {
        if (w) out += ' ';
        Escape(out, kWords[rng.Below(std::size(kWords))]);
      }
    }
  }
  out += "</" + tag + ">\r\n";
}

void Waypoint(std::string& out, Rng& rng, std::uint64_t index, bool endTags,
              std::uint64_t categories) {
  out += "  <wpt lat=\"";
  Coordinate(out, rng, 89);
  out += "\" lon=\"";
  Coordinate(out, rng, 179);
  out += "\">\r\n";
  out += "    <ele>" + std::to_string(rng.Below(3000)) + ".0</ele>\r\n";
  out += "    <name>";
  Escape(out, kPlaces[rng.Below(std::size(kPlaces))]);
  out += " " + std::to_string(index) + "</name>\r\n";
  Comment(out, rng, "cmt");
  out += "    <sym>Waypoint</sym>\r\n";
  if (categories > 0 || rng.Below(5) != 0) {
    out += "    <extensions>\r\n";
    out += "      <gpxx:WaypointExtension>\r\n";
    out += "        <gpxx:Categories>\r\n";
    out += "          <gpxx:Category>";
    if (categories > 0) {
      out += "Category " + std::to_string(index % categories);
    } else {
      Escape(out, kCategories[rng.Below(std::size(kCategories))]);
    }
    out += "</gpxx:Category>\r\n";
    out += "        </gpxx:Categories>\r\n";
    out += "      </gpxx:WaypointExtension>\r\n";
    out += "    </extensions>\r\n";
  }
  if (endTags) out += "  </wpt>\r\n";
}

// The same waypoint as Waypoint gives from the same state of rng, as a KML
// placemark: the comment as its description, the category as a value.
void Placemark(std::string& out, Rng& rng, std::uint64_t index, std::uint64_t categories) {
  std::string lat, lon;
  Coordinate(lat, rng, 89);
  Coordinate(lon, rng, 179);
  const std::string ele = std::to_string(rng.Below(3000)) + ".0";
  out += "  <Placemark>\r\n    <name>";
  Escape(out, kPlaces[rng.Below(std::size(kPlaces))]);
  out += " " + std::to_string(index) + "</name>\r\n";
  Comment(out, rng, "description");
  out += "    <styleUrl>#waypoint</styleUrl>\r\n";
  if (categories > 0 || rng.Below(5) != 0) {
    out += "    <ExtendedData><Data name=\"category\"><value>";
    if (categories > 0) {
      out += "Category " + std::to_string(index % categories);
    } else {
      Escape(out, kCategories[rng.Below(std::size(kCategories))]);
    }
    out += "</value></Data></ExtendedData>\r\n";
  }
  out += "    <Point><coordinates>" + lon + "," + lat + "," + ele + "</coordinates></Point>\r\n";
  out += "  </Placemark>\r\n";
}

// text for a JSON string: quotes, backslashes and line ends escaped.
void JsonEscape(std::string& out, const std::string& text) {
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
}

// The text Escape wrote, as it was.
std::string Unescape(const std::string& xml) {
  std::string out;
  for (std::size_t i = 0; i < xml.size(); ++i) {
    if (xml[i] != '&') {
      out += xml[i];
      continue;
    }
    const std::size_t semi = xml.find(';', i);
    const std::string entity = xml.substr(i + 1, semi - i - 1);
    out += entity == "amp" ? '&' : entity == "lt" ? '<' : entity == "gt" ? '>' : '"';
    i = semi;
  }
  return out;
}

// The same waypoint as Waypoint gives from the same state of rng, as a
// GeoJSON feature: the comment as its description, the category a property.
void Feature(std::string& out, Rng& rng, std::uint64_t index, std::uint64_t categories) {
  std::string lat, lon;
  Coordinate(lat, rng, 89);
  Coordinate(lon, rng, 179);
  const std::string ele = std::to_string(rng.Below(3000)) + ".0";
  out += "{\"type\":\"Feature\",\"properties\":{\"name\":\"";
  JsonEscape(out,
             std::string(kPlaces[rng.Below(std::size(kPlaces))]) + " " + std::to_string(index));
  out += '"';
  std::string comment;
  Comment(comment, rng, "c");
  if (!comment.empty()) {
    const std::size_t from = comment.find("<c>") + 3;
    out += ",\"description\":\"";
    JsonEscape(out, Unescape(comment.substr(from, comment.rfind("</c>") - from)));
    out += '"';
  }
  if (categories > 0 || rng.Below(5) != 0) {
    out += ",\"category\":\"";
    if (categories > 0) {
      out += "Category " + std::to_string(index % categories);
    } else {
      JsonEscape(out, kCategories[rng.Below(std::size(kCategories))]);
    }
    out += '"';
  }
  out +=
      "},\"geometry\":{\"type\":\"Point\",\"coordinates\":[" + lon + "," + lat + "," + ele + "]}}";
}

}  // namespace

int main(int argc, char** argv) {
  bool endTags = true, kml = false, geojson = false, usage = argc < 3;
  std::uint64_t categories = 0;
  for (int i = 3; i < argc && !usage; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-end-tags") {
      endTags = false;
    } else if (arg == "--kml") {  // the waypoints of the GPX of this size, as KML
      kml = true;
    } else if (arg == "--geojson") {  // likewise, as GeoJSON
      geojson = true;
    } else if (arg == "--categories" && i + 1 < argc) {
      categories = std::strtoull(argv[++i], nullptr, 10);
      usage = categories == 0;
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fprintf(stderr,
                 "usage: %s SIZE[K|M|G] OUT.gpx [--no-end-tags] [--categories N] [--kml | "
                 "--geojson]\n",
                 argv[0]);
    return 2;
  }
  const std::uint64_t target = ParseSize(argv[1]);
  std::FILE* f = std::fopen(argv[2], "wb");
  if (!f) {
    std::perror(argv[2]);
    return 1;
  }
  const std::string gpxTail = "</gpx>\r\n";
  const std::string tail = kml ? "</Document></kml>\r\n" : geojson ? "\r\n]}\r\n" : gpxTail;
  const std::string gpxHead =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\r\n"
      "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" "
      "xmlns:gpxx=\"http://www.garmin.com/xmlschemas/GpxExtensions/v3\" "
      "creator=\"marklode bench\" version=\"1.1\">\r\n"
      "  <metadata>\r\n"
      "    <name>Benchmark waypoints</name>\r\n"
      "  </metadata>\r\n";
  std::string out = kml ? std::string(
                              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                              "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\r\n"
                              "  <name>Benchmark waypoints</name>\r\n")
                    : geojson ? std::string("{\"type\":\"FeatureCollection\",\"features\":[\r\n")
                              : gpxHead;
  Rng rng{42};
  std::uint64_t written = 0, count = 0;
  const bool other = kml || geojson;
  std::uint64_t gpxBytes = gpxHead.size();  // with --kml: the GPX's size, which ends the file
  std::string gpx;
  while ((other ? gpxBytes : written + out.size()) + gpxTail.size() < target) {
    if (out.size() > (1u << 20)) {
      if (std::fwrite(out.data(), 1, out.size(), f) != out.size()) {
        std::perror(argv[2]);
        return 1;
      }
      written += out.size();
      out.clear();
    }
    if (other) {
      Rng same = rng;
      gpx.clear();
      Waypoint(gpx, rng, ++count, endTags, categories);
      gpxBytes += gpx.size();
      if (kml) {
        Placemark(out, same, count, categories);
      } else {
        if (count > 1) out += ",\r\n";
        Feature(out, same, count, categories);
      }
    } else {
      Waypoint(out, rng, ++count, endTags, categories);
    }
  }
  out += tail;
  if (std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  std::fprintf(stderr, "%s: %" PRIu64 " waypoints, %" PRIu64 " bytes\n", argv[2], count,
               written + out.size());
  return 0;
}
