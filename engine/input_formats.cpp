#include "engine/input_formats.h"

#include "engine/geojson_reader.h"
#include "engine/kml_reader.h"
#include "engine/kmz_source.h"
#include "engine/run_report.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_decoding.h"

namespace marklode {
namespace {

std::string_view ExtensionOf(std::string_view name) {
  name = FileNamePart(name);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

// "<kml" or "<prefix:kml" as a whole element name.
bool HasKmlElement(std::string_view s) {
  for (std::size_t at = 0; (at = s.find("kml", at)) != std::string_view::npos; at += 3) {
    if (at == 0 || at + 3 >= s.size()) continue;
    const char before = s[at - 1], after = s[at + 3];
    if ((before == '<' || before == ':') &&
        (after == ' ' || after == '>' || after == '\t' || after == '\r' || after == '\n')) {
      if (before == '<') return true;
      const std::size_t lt = s.rfind('<', at);
      if (lt != std::string_view::npos &&
          s.substr(lt, at - lt).find_first_of(" >\"'") == std::string_view::npos)
        return true;
    }
  }
  return false;
}

// A KML read from the KML entry of a KMZ archive. Progress is told in the
// archive's bytes, which is what its size counts.
class KmzReader : public WaypointReader, private ProgressSink {
 public:
  KmzReader(ByteSource& zip, bool folderPath, ProgressSink* progress, ShapePoint shapes)
      : progress_(progress),
        zip_(zip),
        text_(zip_),
        kml_(text_, folderPath, progress ? static_cast<ProgressSink*>(this) : nullptr, shapes) {}
  // Nothing more once the archive failed: the KML's last placemark may be cut.
  bool Next(GpxWaypoint& w) override { return kml_.Next(w) && zip_.failure().empty(); }
  bool cancelled() const override { return kml_.cancelled(); }
  std::int64_t nameless() const override { return kml_.nameless(); }
  void AddSkips(FileReport& report) const override { kml_.AddSkips(report); }
  std::string_view failure() const override {
    if (!zip_.failure().empty()) return zip_.failure();
    return text_.unreadable() ? "The text is UTF-32 in an unusual byte order, which cannot be read"
                              : std::string_view();
  }

 private:
  bool Update(std::uint64_t, std::uint64_t) override {
    return progress_->Update(zip_.consumed(), zip_.Size());
  }
  bool Cancelled() override { return progress_->Cancelled(); }

  ProgressSink* const progress_;
  KmzSource zip_;
  DecodingSource text_;
  KmlReader kml_;
};

// A GeoJSON file's points; every property is a value the templates can name.
class GeoJsonWaypoints : public WaypointReader {
 public:
  GeoJsonWaypoints(ByteSource& text, ProgressSink* progress, ShapePoint shapes)
      : json_(text, progress, shapes) {}
  bool Next(GpxWaypoint& w) override {
    if (!json_.Next(w, w.values)) return false;
    w.line = json_.line();
    return true;
  }
  bool cancelled() const override { return json_.cancelled(); }
  std::int64_t nameless() const override { return json_.nameless(); }
  void AddSkips(FileReport& report) const override {
    report.SkipMany(SkipReason::NotAPoint, json_.notPoints());
  }
  std::string_view failure() const override { return json_.problem(); }

 private:
  GeoJsonReader json_;
};

}  // namespace

bool IsWaypointInputName(std::string_view name) {
  const std::string_view ext = ExtensionOf(name);
  return IEquals(ext, ".gpx") || IEquals(ext, ".kml") || IEquals(ext, ".kmz") ||
         IEquals(ext, ".geojson") || IEquals(ext, ".json");
}

InputFormat InputFormatOf(std::string_view name, std::string_view head) {
  const std::string_view ext = ExtensionOf(name);
  if (IEquals(ext, ".gpx")) return InputFormat::Gpx;
  if (head.starts_with("PK\x03\x04") || head.starts_with("PK\x05\x06")) return InputFormat::Kmz;
  // UTF-16 and UTF-32 text seen through its ASCII: the zero bytes dropped.
  std::string ascii;
  ascii.reserve(head.size());
  for (const char c : head)
    if (c != '\0') ascii += c;
  std::string_view s = ascii;
  for (const std::string_view bom : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
    if (s.starts_with(bom)) s.remove_prefix(bom.size());
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && (s[first] == '{' || s[first] == '['))
    return InputFormat::GeoJson;
  if (first != std::string_view::npos && s[first] == '<') {
    if (HasKmlElement(s)) return InputFormat::Kml;
    if (s.find("<gpx") != std::string_view::npos) return InputFormat::Gpx;
  }
  if (IEquals(ext, ".kml")) return InputFormat::Kml;
  if (IEquals(ext, ".kmz")) return InputFormat::Kmz;
  if (IEquals(ext, ".geojson") || IEquals(ext, ".json")) return InputFormat::GeoJson;
  return InputFormat::Gpx;
}

std::unique_ptr<WaypointReader> MakeWaypointReader(InputFormat format, ByteSource& text,
                                                   const Request& request, ProgressSink* progress) {
  switch (format) {
    case InputFormat::Kml:
      return std::make_unique<KmlReader>(text, request.categoryFromFolderPath, progress,
                                         request.shapePoint);
    case InputFormat::Kmz:
      return std::make_unique<KmzReader>(text, request.categoryFromFolderPath, progress,
                                         request.shapePoint);
    case InputFormat::GeoJson:
      return std::make_unique<GeoJsonWaypoints>(text, progress, request.shapePoint);
    case InputFormat::Gpx:
      break;
  }
  return nullptr;
}

}  // namespace marklode
