#include "engine/shape_point.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "services/strings.h"

namespace marklode {
namespace {

// A coordinate's text (already checked to be a plain decimal) as a number.
double Number(std::string_view text) {
  text = TrimSpaces(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// Six decimals: a tenth of a metre, finer than any centroid means.
std::string Decimal(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  std::string s(buf, r.ptr);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

}  // namespace

void ShapeCenter::Reset(ShapePoint mode, bool ring) {
  *this = ShapeCenter();
  mode_ = mode;
  ring_ = ring;
}

void ShapeCenter::Add(std::string_view lon, std::string_view lat, bool has) {
  if (count_++ == 0) {
    firstLon_.assign(lon);
    firstLat_.assign(lat);
    firstHas_ = has;
  }
  if (mode_ != ShapePoint::Centroid || bad_) return;
  if (!has || !IsCoordinate(lat, 90) || !IsCoordinate(lon, 180)) {
    bad_ = true;
    return;
  }
  const double y = Number(lat);
  if (count_ == 1) {
    lon0_ = Number(lon);
    lat0_ = y;
    return;  // the origin: every sum starts at 0
  }
  const double x = std::remainder(Number(lon) - lon0_, 360.0);
  const double dy = y - lat0_;
  sumX_ += x;
  sumY_ += dy;
  const double seg = std::hypot(x - px_, dy - py_);
  length_ += seg;
  lineX_ += seg * (px_ + x) / 2;
  lineY_ += seg * (py_ + dy) / 2;
  // Triangles fanned out from the first vertex: the ring closes by itself.
  const double cross = px_ * dy - x * py_;
  area2_ += cross;
  absArea2_ += std::abs(cross);
  areaX_ += (px_ + x) * cross;
  areaY_ += (py_ + dy) * cross;
  minX_ = std::min(minX_, x);
  maxX_ = std::max(maxX_, x);
  minY_ = std::min(minY_, dy);
  maxY_ = std::max(maxY_, dy);
  px_ = x;
  py_ = dy;
}

void ShapeCenter::Result(std::string& lon, std::string& lat, bool& has) const {
  if (count_ == 0 || mode_ == ShapePoint::None) {
    lon.clear();
    lat.clear();
    has = false;
    return;
  }
  if (mode_ == ShapePoint::FirstVertex) {
    lon = firstLon_;
    lat = firstLat_;
    has = firstHas_;
    return;
  }
  if (bad_) {
    lon.clear();
    lat.clear();
    has = false;
    return;
  }
  double x, y;
  bool mean = true;
  if (ring_ && absArea2_ > 0 && std::abs(area2_) > 1e-9 * absArea2_) {
    x = areaX_ / (3 * area2_);
    y = areaY_ / (3 * area2_);
    // A ring that crosses itself may put it anywhere: then it says nothing.
    mean = !(x >= minX_ && x <= maxX_ && y >= minY_ && y <= maxY_);
  } else if (!ring_ && length_ > 0) {
    x = lineX_ / length_;
    y = lineY_ / length_;
    mean = false;
  }
  if (mean) {
    // A ring's closing vertex repeats its first: counted once.
    std::uint64_t n = count_;
    double sx = sumX_, sy = sumY_;
    if (ring_ && n > 1 && px_ == 0 && py_ == 0) --n;
    x = sx / static_cast<double>(n);
    y = sy / static_cast<double>(n);
  }
  x = std::remainder(lon0_ + x, 360.0);
  y = std::clamp(lat0_ + y, -90.0, 90.0);
  lon = Decimal(x);
  lat = Decimal(y);
  has = true;
}

}  // namespace marklode
