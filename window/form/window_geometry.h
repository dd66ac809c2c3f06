// Where the main window's controls go and where the window itself may stand,
// in pixels, for any toolkit: the views ask and place what they are told.
#pragma once

#include <array>

#include "window/form/get_command_form.h"

namespace marklode {

struct PixelRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const PixelRect&) const = default;
};

// A designed length in twips as pixels at `scale` (1: 96 dots per inch and a
// font the design fits; a larger font or a denser screen scales it up).
int ScaledPixels(double twips, double scale);

// The client area laid out for a width. Only the width can change: the three
// fields widen, the Browse buttons and the separator follow the right edge,
// everything else keeps its designed place. A width below the designed one
// lays out as the designed one (the view keeps the window at least as wide).
struct ClientLayout {
  std::array<PixelRect, kControlDesign.size()> controls;  // in kControlDesign's order
  PixelRect separator;           // two lines of one pixel: the dark one above the light one
  int minWidth = 0, height = 0;  // the designed client area
  const PixelRect& Of(Ctl id) const;
};
ClientLayout LayoutForWidth(int clientWidth, double scale);

// How far a window's frame (title bar and borders) reaches beyond the
// rectangle the toolkit reports and places for it: nothing where that
// rectangle is the framed one already.
struct FrameExtents {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The window's rectangle moved (and, where wider than the work area, cut to
// it but not below minWidth) so that the whole framed window lies inside the
// work area; unchanged where it does. A framed window taller or wider than the
// area keeps its top-left corner, title bar and all, inside.
PixelRect KeepOnScreen(const PixelRect& workArea, const PixelRect& window,
                       const FrameExtents& frame, int minWidth);

}  // namespace marklode
