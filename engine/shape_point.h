// The one point a line or a polygon of KML or GeoJSON input stands for, where
// a profile asks for one: its first vertex, or its centroid. Vertices are
// added one by one as the file gives them, so a shape of any size takes no
// more room than this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/request.h"

namespace marklode {

class ShapeCenter {
 public:
  // A new shape: a line, or (ring) a polygon's outer boundary.
  void Reset(ShapePoint mode, bool ring);
  // A vertex, its longitude and latitude as the file writes them; has is
  // false where the file gives no value for one of them.
  void Add(std::string_view lon, std::string_view lat, bool has = true);
  bool empty() const { return count_ == 0; }
  bool ring() const { return ring_; }
  // Whether Result takes the shape as a ring; the sums serve either.
  void SetRing(bool ring) { ring_ = ring; }

  // The point, as texts a waypoint's coordinates are: the first vertex as it
  // is written, or the centroid in plain decimals. The centroid is a ring's
  // area centroid or a line's length-weighted midpoint (in degrees), the
  // mean of the vertices where the area or the length is about zero. Each
  // vertex's longitude is taken relative to the first vertex's, so a shape
  // across the 180th meridian has its centroid beside it, not across the
  // world. has is false where there is no vertex, or (centroid) where a
  // vertex is no coordinate: the point is then reported as one without.
  void Result(std::string& lon, std::string& lat, bool& has) const;

 private:
  ShapePoint mode_ = ShapePoint::None;
  bool ring_ = false;
  bool bad_ = false;  // a vertex is no coordinate
  std::uint64_t count_ = 0;
  std::string firstLon_, firstLat_;
  bool firstHas_ = false;
  // Degrees; longitudes relative to the first vertex's, unwrapped.
  double lon0_ = 0, lat0_ = 0;
  double px_ = 0, py_ = 0;  // the vertex before, relative to the first
  double sumX_ = 0, sumY_ = 0;
  double length_ = 0, lineX_ = 0, lineY_ = 0;
  double area2_ = 0, absArea2_ = 0, areaX_ = 0, areaY_ = 0;
  double minX_ = 0, maxX_ = 0, minY_ = 0, maxY_ = 0;
};

}  // namespace marklode
