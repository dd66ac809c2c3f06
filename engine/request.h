// What one run is asked to do, as the command line, the window or a profile
// gives it: nothing in it has been looked up yet.
#pragma once

#include <string>

namespace marklode {

enum class Direction { GpxToPoi, PoiToGpx };

// What a line or polygon of KML or GeoJSON input becomes: no point (it is
// counted as such), or one point, its first vertex or its centroid.
enum class ShapePoint { None, FirstVertex, Centroid };

// Waypoints pass a filter when the field matches its pattern ("*", "?", "#",
// "[...]"); an empty pattern lets everything pass.
struct WaypointFilters {
  std::string name, comment, category;
};

// What a GPX waypoint becomes: each template is filled with the input's and
// the waypoint's fields; an empty one switches its feature off (no comment,
// one output file, the waypoint's own name).
struct PoiRecordTemplates {
  std::string comment = "<T>";
  std::string fileName, poiName;
};

// What a POI-CSV record becomes in GPX, likewise.
struct WaypointTemplates {
  std::string comment = "<T>";
  std::string name, category, icon;
};

struct Request {
  Direction direction = Direction::GpxToPoi;
  // One file (its extension may be left out), a "*" pattern, or a folder
  // followed by ";" names, each of which is converted to its own output.
  std::string input;
  std::string output;  // empty: beside each input, named after it
  bool keepCommentLineBreaks = false;
  // KML input: <C> is the path of a placemark's folders ("Trip / Day 1"),
  // not only the innermost one.
  bool categoryFromFolderPath = false;
  ShapePoint shapePoint = ShapePoint::None;
  WaypointFilters filters;
  PoiRecordTemplates toPoi;  // GPX to POI-CSV
  WaypointTemplates toGpx;   // POI-CSV to GPX
  // The profile that gave the request, when one did: no output may replace it.
  std::string profile;
};

}  // namespace marklode
