#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "window/form/window_geometry.h"

namespace marklode {

std::ostream& operator<<(std::ostream& out, const PixelRect& r) {
  return out << "(" << r.left << ", " << r.top << " " << r.width << " x " << r.height << ")";
}

namespace test {
namespace {

// ---------------------------------------------------------------------------
// The client area for a width

TEST(FormLayout, FieldsWidenAndBrowseButtonsFollowTheRightEdge) {
  struct Case {
    const char* name;
    int width;
    double scale;
    PixelRect input, browseOutput, convert, separator;
  };
  // Designed at scale 1: 364 x 237 pixels; at 1.5: 546 x 356.
  const Case cases[] = {
      {"NarrowerThanDesigned",
       200,
       1,
       {83, 57, 157, 21},
       {250, 96, 91, 21},
       {83, 196, 157, 21},
       {1, 1, 363, 2}},
      {"Designed",
       364,
       1,
       {83, 57, 157, 21},
       {250, 96, 91, 21},
       {83, 196, 157, 21},
       {1, 1, 363, 2}},
      {"OnePixelWider",
       365,
       1,
       {83, 57, 158, 21},
       {251, 96, 91, 21},
       {83, 196, 157, 21},
       {1, 1, 364, 2}},
      {"Maximised",
       1920,
       1,
       {83, 57, 1713, 21},
       {1806, 96, 91, 21},
       {83, 196, 157, 21},
       {1, 1, 1919, 2}},
      {"LargeFontDesigned",
       546,
       1.5,
       {125, 86, 236, 32},
       {375, 144, 137, 32},
       {125, 294, 236, 32},
       {2, 2, 543, 2}},
      {"LargeFontWider",
       646,
       1.5,
       {125, 86, 336, 32},
       {475, 144, 137, 32},
       {125, 294, 236, 32},
       {2, 2, 643, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClientLayout layout = LayoutForWidth(c.width, c.scale);
    EXPECT_EQ(layout.minWidth, c.scale == 1 ? 364 : 546);
    EXPECT_EQ(layout.height, c.scale == 1 ? 237 : 356);
    EXPECT_EQ(layout.Of(Ctl::InputField), c.input);
    EXPECT_EQ(layout.Of(Ctl::BrowseOutput), c.browseOutput);
    EXPECT_EQ(layout.Of(Ctl::Convert), c.convert);
    EXPECT_EQ(layout.separator, c.separator);
    // The three fields widen alike and the three Browse buttons move alike;
    // nothing else moves.
    const ClientLayout designed = LayoutForWidth(0, c.scale);
    const int growth = c.input.width - designed.Of(Ctl::InputField).width;
    for (std::size_t i = 0; i < kControlDesign.size(); ++i) {
      const ControlDesign& d = kControlDesign[i];
      SCOPED_TRACE(d.name);
      PixelRect want = designed.controls[i];
      if (d.kind == CtlKind::Field) want.width += growth;
      if (d.kind == CtlKind::Button && d.caption == std::string("Browse...")) want.left += growth;
      EXPECT_EQ(layout.controls[i], want);
      EXPECT_LE(layout.controls[i].left + layout.controls[i].width,
                std::max(c.width, layout.minWidth));
    }
  }
}

// ---------------------------------------------------------------------------
// The window on the screen

TEST(FormScreenPlace, TheWholeFramedWindowStaysInTheWorkArea) {
  struct Case {
    const char* name;
    PixelRect area, window;
    FrameExtents frame;
    PixelRect want;
  };
  const PixelRect hd{0, 0, 1920, 1080};
  const FrameExtents openbox{4, 11, 4, 4};  // title bar and borders: 15 lines in all
  const Case cases[] = {
      {"InsideStays", hd, {300, 200, 400, 260}, openbox, {300, 200, 400, 260}},
      // Restored at the bottom-right corner: the frame below the window counts,
      // and so does the title bar above it.
      {"BottomRightCountsTheFrame", hd, {1520, 820, 400, 260}, openbox, {1516, 816, 400, 260}},
      {"BeyondTheCornerComesBack", hd, {5000, 3000, 400, 260}, openbox, {1516, 816, 400, 260}},
      {"TitleBarAboveTheTopComesDown", hd, {-100, 5, 400, 260}, openbox, {4, 11, 400, 260}},
      {"UnframedFitsItsOwnRectangle", hd, {1520, 820, 400, 260}, {}, {1520, 820, 400, 260}},
      // A work area that leaves out a panel, on a second monitor to the left.
      {"PanelAndSecondMonitor",
       {-1280, 0, 1280, 992},
       {-500, 900, 400, 260},
       openbox,
       {-500, 728, 400, 260}},
      {"WiderThanTheAreaIsCut",
       {0, 0, 800, 600},
       {100, 100, 1000, 260},
       openbox,
       {4, 100, 792, 260}},
      {"NeverBelowTheMinimumWidth",
       {0, 0, 800, 600},
       {100, 100, 1000, 260},
       {20, 11, 20, 4},
       {20, 100, 790, 260}},
      {"TallerThanTheAreaKeepsTheTitleBar",
       {0, 0, 800, 200},
       {100, 100, 400, 260},
       openbox,
       {100, 11, 400, 260}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(KeepOnScreen(c.area, c.window, c.frame, 790), c.want);
  }
}

}  // namespace
}  // namespace test
}  // namespace marklode
