// Writes one hostile input of about SIZE bytes: a shape that a careless reader
// handles in quadratic time or memory (a comment over a hundred thousand lines,
// a name of nothing but "&", a line of nothing but commas, ...). The benchmark's
// linearity check converts each shape at two sizes and compares the times.
//
//   gen_hostile SHAPE SIZE OUT     write one shape
//   gen_hostile --list             the shapes, one per line: NAME DIRECTION
//
// DIRECTION is "gpx" (the file is converted GPX -> POI-CSV) or "csv" (POI-CSV
// -> GPX, with /r). SIZE is in bytes, or with a K or M suffix.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kGpxHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<gpx version=\"1.1\" creator=\"bench\" xmlns=\"http://www.topografix.com/GPX/1/1\">\r\n";
constexpr const char* kGpxTail = "</gpx>\r\n";
constexpr const char* kWpt = "<wpt lat=\"47.1\" lon=\"8.2\">";

// Repeats unit until body holds about size bytes.
std::string Repeat(const std::string& unit, std::uint64_t size) {
  std::string s;
  s.reserve(size + unit.size());
  while (s.size() < size) s += unit;
  return s;
}

// One waypoint whose element el holds text; the rest of the point is ordinary.
std::string GpxPoint(const std::string& el, const std::string& text) {
  std::string s = kGpxHead;
  s += kWpt;
  s += "\r\n";
  if (el != "name") s += "<name>P</name>\r\n";
  s += "<" + el + ">" + text + "</" + el + ">\r\n</wpt>\r\n";
  return s + kGpxTail;
}

std::string GpxAround(const std::string& body) {
  return std::string(kGpxHead) + body + kGpxTail;
}

struct Shape {
  const char* name;
  const char* direction;
  std::string (*make)(std::uint64_t size);
};

const Shape kShapes[] = {
    // GPX -> POI-CSV
    {"gpx-comment-lines", "gpx",
     [](std::uint64_t n) { return GpxPoint("cmt", Repeat("x\r\n", n)); }},
    {"gpx-name-lines", "gpx",
     [](std::uint64_t n) { return GpxPoint("name", Repeat("word\r\n", n)); }},
    {"gpx-category-lines", "gpx",
     [](std::uint64_t n) { return GpxPoint("gpxx:category", Repeat("c\n", n)); }},
    {"gpx-blank-comment-lines", "gpx",
     [](std::uint64_t n) { return GpxPoint("cmt", Repeat("\r\n", n)); }},
    {"gpx-amp-name", "gpx", [](std::uint64_t n) { return GpxPoint("name", Repeat("&", n)); }},
    {"gpx-amp-comment", "gpx", [](std::uint64_t n) { return GpxPoint("cmt", Repeat("&", n)); }},
    {"gpx-amp-hash-name", "gpx", [](std::uint64_t n) { return GpxPoint("name", Repeat("&#", n)); }},
    {"gpx-entity-breaks", "gpx",
     [](std::uint64_t n) { return GpxPoint("cmt", Repeat("a&#10;&#13;&quot;,", n)); }},
    {"gpx-quotes-name", "gpx", [](std::uint64_t n) { return GpxPoint("name", Repeat("\",", n)); }},
    {"gpx-xml-comments-in-text", "gpx",
     [](std::uint64_t n) { return GpxPoint("cmt", Repeat("a<!-- b -->", n)); }},
    {"gpx-cdata-brackets", "gpx",
     [](std::uint64_t n) { return GpxPoint("name", "<![CDATA[" + Repeat("]", n) + "]]>"); }},
    {"gpx-cdata-lines", "gpx",
     [](std::uint64_t n) { return GpxPoint("cmt", "<![CDATA[" + Repeat("x\n", n) + "]]>"); }},
    {"gpx-long-desc", "gpx", [](std::uint64_t n) { return GpxPoint("desc", Repeat("d", n)); }},
    {"gpx-one-line-text", "gpx", [](std::uint64_t n) { return GpxAround(Repeat("t", n)); }},
    {"gpx-start-tag-lines", "gpx",
     [](std::uint64_t n) {
       return GpxAround("<wpt\r\n" + Repeat(" a=\"1\"\r\n", n) +
                        " lat=\"1\" lon=\"2\">\r\n<name>N</name>\r\n</wpt>\r\n");
     }},
    {"gpx-start-tag-no-end", "gpx",
     [](std::uint64_t n) { return GpxAround("<wpt lat=\"1\" lon=\"2\"" + Repeat(" a", n)); }},
    {"gpx-many-attributes", "gpx",
     [](std::uint64_t n) {
       return GpxAround("<wpt" + Repeat(" x=\"1\"", n) +
                        " lat=\"1\" lon=\"2\">\r\n<name>N</name>\r\n</wpt>\r\n");
     }},
    {"gpx-open-comment", "gpx", [](std::uint64_t n) { return GpxAround(Repeat("<!--", n)); }},
    {"gpx-less-thans", "gpx", [](std::uint64_t n) { return GpxAround(Repeat("<", n)); }},
    {"gpx-doctype-subset", "gpx",
     [](std::uint64_t n) {
       return GpxAround("<!DOCTYPE gpx [" +
                        Repeat("<!ENTITY e '<wpt lat=\"1\" lon=\"2\">'><!-- ] --><?p ]?>", n) +
                        "]>");
     }},
    {"gpx-processing-instructions", "gpx",
     [](std::uint64_t n) { return GpxAround(Repeat("<?p <wpt lat=\"1\" lon=\"2\"> ?>", n)); }},
    {"gpx-open-declarations", "gpx",
     [](std::uint64_t n) { return GpxAround(Repeat("<!D \"[", n)); }},
    {"gpx-nameless-points", "gpx",
     [](std::uint64_t n) { return GpxAround(Repeat("<wpt lat=\"1\" lon=\"2\"></wpt>\r\n", n)); }},
    {"gpx-unclosed-comments", "gpx",
     [](std::uint64_t n) {
       return GpxAround(
           Repeat("<wpt lat=\"1\" lon=\"2\">\r\n<name>N</name>\r\n<cmt>open\r\nmore\r\n", n));
     }},
    {"gpx-unclosed-names", "gpx",
     [](std::uint64_t n) {
       return GpxAround(Repeat("<wpt lat=\"1\" lon=\"2\">\r\n<name>N\r\nmore\r\n", n));
     }},
    // POI-CSV -> GPX
    {"csv-commas", "csv", [](std::uint64_t n) { return "1,2,\"a\"," + Repeat(",", n); }},
    {"csv-commas-text", "csv", [](std::uint64_t n) { return "1,2,\"a\"," + Repeat("x,", n); }},
    {"csv-quotes", "csv", [](std::uint64_t n) { return "1,2," + Repeat("\"", n); }},
    {"csv-quote-comma-quote", "csv", [](std::uint64_t n) { return "1,2," + Repeat("\",\"", n); }},
    {"csv-amp-name", "csv", [](std::uint64_t n) { return "1,2,\"" + Repeat("&", n) + "\""; }},
    {"csv-spaces-name", "csv", [](std::uint64_t n) { return "1,2,\"a" + Repeat(" ", n) + "b\""; }},
    {"csv-dash-comment", "csv",
     [](std::uint64_t n) { return "1,2,\"a\",\"" + Repeat(" - ", n) + "\""; }},
    {"csv-tilde-comment", "csv",
     [](std::uint64_t n) { return "1,2,\"a\",\"" + Repeat("~", n) + "\""; }},
    {"csv-equal-names", "csv", [](std::uint64_t n) { return Repeat("1,2,\"Home\"\r\n", n); }},
    {"csv-suffix-names", "csv",
     [](std::uint64_t n) {
       std::string s;
       for (std::uint64_t i = 0; s.size() < n; ++i) {
         s += "1,2,\"Home\"\r\n";
         s += "1,2,\"Home" + std::to_string(1000 + i % 999 + 1).substr(1) + "\"\r\n";
       }
       return s;
     }},
    {"csv-route-lines", "csv",
     [](std::uint64_t n) { return Repeat("[begin-route:r\r\n1,2,\"p\"\r\n", n); }},
    {"csv-route-name-no-bracket", "csv",
     [](std::uint64_t n) { return "[begin-route:" + Repeat("r", n) + "\r\n1,2,\"p\"\r\n"; }},
    {"csv-stray-quote-cr", "csv",
     [](std::uint64_t n) { return "1,2,\"24\" screen\r\n" + Repeat("1,2,\"a\"\n", n); }},
    {"csv-one-long-line", "csv", [](std::uint64_t n) { return Repeat("1,2,\"a\" ", n); }},
    {"csv-cr-only", "csv", [](std::uint64_t n) { return Repeat("1,2,\"a\"\r", n); }},
    {"csv-mixed-encoding", "csv",
     [](std::uint64_t n) { return Repeat("1,2,\"Z\xC3\xBCrich\"\r\n1,2,\"Z\xFCrich\"\r\n", n); }},
    {"csv-bad-coordinates", "csv", [](std::uint64_t n) { return Repeat("x,y,\"a\"\r\n", n); }},
};

std::uint64_t ParseSize(const char* text) {
  char* end = nullptr;
  std::uint64_t n = std::strtoull(text, &end, 10);
  if (*end == 'K' || *end == 'k') n <<= 10;
  if (*end == 'M' || *end == 'm') n <<= 20;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Shape& s : kShapes) std::printf("%s %s\n", s.name, s.direction);
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: gen_hostile SHAPE SIZE OUT | gen_hostile --list\n");
    return 2;
  }
  for (const Shape& s : kShapes) {
    if (std::strcmp(s.name, argv[1]) != 0) continue;
    const std::string text = s.make(ParseSize(argv[2]));
    std::FILE* f = std::fopen(argv[3], "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
      std::perror(argv[3]);
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "gen_hostile: no shape %s\n", argv[1]);
  return 2;
}
