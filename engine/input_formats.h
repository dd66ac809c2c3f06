// The inputs GPX to POI-CSV reads besides GPX: KML, KMZ (and GeoJSON), told
// apart by their first bytes, and by their extension where those say nothing.
// Each is read by a WaypointReader; a KML's (a KMZ's) may run on a thread of
// its own, ahead of the caller. GPX keeps its own readers.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/gpx_reader.h"
#include "engine/progress.h"
#include "engine/request.h"
#include "services/text_files.h"

namespace marklode {

struct FileReport;

enum class InputFormat { Gpx, Kml, Kmz, GeoJson };

// Whether a name ends in an extension GPX to POI-CSV reads: .gpx, .kml, .kmz,
// .geojson or .json, in any case.
bool IsWaypointInputName(std::string_view name);

// The format of an input named name whose first bytes are head (as many as
// the file has, up to kSniffBytes). A ".gpx" name is GPX whatever it holds,
// as it always was; others are known by their content first (a zip archive,
// a JSON object, a <kml> element), then by their extension, and GPX
// otherwise.
inline constexpr std::size_t kSniffBytes = 4096;
InputFormat InputFormatOf(std::string_view name, std::string_view head);

// Waypoints read from an input other than GPX, one by one.
class WaypointReader {
 public:
  virtual ~WaypointReader() = default;
  // The next waypoint with a name, into w; false at the end of the input.
  virtual bool Next(GpxWaypoint& w) = 0;
  virtual bool cancelled() const = 0;
  // Waypoints dropped for want of a name.
  virtual std::int64_t nameless() const = 0;
  // Adds what the reader skipped on its own (lines, polygons) to report.
  virtual void AddSkips(FileReport& report) const = 0;
  // A problem that ended the reading early (a damaged archive); empty when none.
  virtual std::string_view failure() const { return {}; }
  // The line w began on, for the report; 0 when the reader does not know it.
  // It may look at w only: a reader read ahead is busy on another thread.
  virtual std::int64_t LineOf(const GpxWaypoint& w) const { return w.line; }
};

// The reader for format (not GPX) over text, the input's bytes as they are
// for a KMZ and decoded to UTF-8 for the others. With ahead, a KML or KMZ is
// read on a thread of its own, a few hundred waypoints ahead of the caller,
// which gets the same waypoints, progress and cancel on its own thread (one
// thread where the system gives no other).
std::unique_ptr<WaypointReader> MakeWaypointReader(InputFormat format, ByteSource& text,
                                                   const Request& request, ProgressSink* progress,
                                                   bool ahead = false);

}  // namespace marklode
