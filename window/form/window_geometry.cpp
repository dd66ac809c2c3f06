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

}  // namespace marklode
