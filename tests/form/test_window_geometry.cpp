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

}  // namespace
}  // namespace test
}  // namespace marklode
