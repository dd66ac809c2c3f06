#include "window/form/window_geometry.h"

#include <algorithm>
#include <cmath>

namespace marklode {

int ScaledPixels(double twips, double scale) {
  return static_cast<int>(std::lround(twips * scale / kTwipsPerPixel));
}

const PixelRect& ClientLayout::Of(Ctl id) const {
  for (std::size_t i = 0; i < kControlDesign.size(); ++i)
    if (kControlDesign[i].id == id) return controls[i];
  return separator;  // the menu items have no place in the client area
}

ClientLayout LayoutForWidth(int clientWidth, double scale) {
  auto px = [scale](double twips) { return ScaledPixels(twips, scale); };
  ClientLayout layout;
  layout.minWidth = px(kDesignClientWidth);
  layout.height = px(kDesignClientHeight);
  const int growth = std::max(clientWidth - layout.minWidth, 0);
  for (std::size_t i = 0; i < kControlDesign.size(); ++i) {
    const ControlDesign& d = kControlDesign[i];
    PixelRect& r = layout.controls[i];
    r = {px(d.left), px(d.top), px(d.width), px(d.height)};
    if (d.kind == CtlKind::Field) r.width += growth;
    if (d.id == Ctl::BrowseInput || d.id == Ctl::BrowseOutput || d.id == Ctl::BrowseProfile)
      r.left += growth;
  }
  layout.separator = {px(kSeparatorLeft), px(kSeparatorTop),
                      px(kSeparatorRight) - px(kSeparatorLeft) + 1 + growth, 2};
  return layout;
}

PixelRect KeepOnScreen(const PixelRect& workArea, const PixelRect& window,
                       const FrameExtents& frame, int minWidth) {
  const int frameWidth = frame.left + frame.right, frameHeight = frame.top + frame.bottom;
  PixelRect placed = window;
  if (placed.width + frameWidth > workArea.width)
    placed.width = std::max(workArea.width - frameWidth, minWidth);
  // The framed window's top-left corner, kept where the whole of it fits.
  auto inside = [](int edge, int size, int areaStart, int areaSize) {
    return std::clamp(edge, areaStart, std::max(areaStart, areaStart + areaSize - size));
  };
  placed.left =
      inside(placed.left - frame.left, placed.width + frameWidth, workArea.left, workArea.width) +
      frame.left;
  placed.top =
      inside(placed.top - frame.top, placed.height + frameHeight, workArea.top, workArea.height) +
      frame.top;
  return placed;
}

}  // namespace marklode
