// Twips to the Win32 window's pixels and back at 96, 120 and 144 DPI: the start size must lay
// the window out as the start size, and the grid's neighbours must meet without gaps.
#include "console/win32/twips.h"

#include <gtest/gtest.h>

namespace oa::win32 {

using console::Control;
using console::Geometry;
using console::Index;
using console::kStartClientHeight;
using console::kStartClientWidth;
using console::Layout;
using console::StartLayout;

namespace {

struct StartSize {
  int dpi;
  int width;
  int height;
};

TEST(Twips, StartSizeInPixelsComesBackAsExactlyTheStartSize) {
  // 5685 x 4380 twips: 379 x 292 pixels at 96 DPI, 473.75 -> 474 x 365 at 120, 568.5 -> 569 x
  // 438 at 144.
  for (const StartSize s : {StartSize{96, 379, 292}, {120, 474, 365}, {144, 569, 438}}) {
    SCOPED_TRACE(s.dpi);
    EXPECT_EQ(PixelsFromTwips(kStartClientWidth, s.dpi), s.width);
    EXPECT_EQ(PixelsFromTwips(kStartClientHeight, s.dpi), s.height);
    const float width = TwipsFromPixels(s.width, s.dpi, kStartClientWidth);
    const float height = TwipsFromPixels(s.height, s.dpi, kStartClientHeight);
    EXPECT_EQ(width, 5685.0f);
    EXPECT_EQ(height, 4380.0f);
    // So the first resize takes the fixed branch at every DPI.
    const Layout l = Form_Resize(width, height, StartLayout());
    EXPECT_EQ(l[Index(Control::cmdOK)].Left, 4680);
    EXPECT_EQ(l[Index(Control::txtResult)].Width, 5415);
    EXPECT_EQ(l[Index(Control::txtResult)].Height, 3060);
  }
}

TEST(Twips, OnePixelWiderThanStartTakesTheComputedBranch) {
  for (const StartSize s : {StartSize{96, 380, 292}, {120, 475, 365}, {144, 570, 438}}) {
    SCOPED_TRACE(s.dpi);
    const float width = TwipsFromPixels(s.width, s.dpi, kStartClientWidth);
    EXPECT_GT(width, kStartClientWidth);
    EXPECT_FLOAT_EQ(width, static_cast<float>(s.width) * 1440.0f / static_cast<float>(s.dpi));
    const Layout l = Form_Resize(width, 4380, StartLayout());
    EXPECT_FLOAT_EQ(l[Index(Control::cmdOK)].Left, width - 855 - 120);
  }
  // One pixel narrower: the fixed branch.
  EXPECT_LT(TwipsFromPixels(568, 144, kStartClientWidth), kStartClientWidth);
  EXPECT_EQ(TwipsFromPixels(0, 144, kStartClientWidth), 0.0f);
}

TEST(Twips, GridEdgesRoundedOnTheirOwnSoNeighboursMeet) {
  // txtExServer 1920 + 2535 = 4455; cmdOK 4680 + 855 = 5535.
  EXPECT_EQ(PixelsFromGeometry({1920, 105, 2535, 285}, 96), (PixelRect{128, 7, 169, 19}));
  EXPECT_EQ(PixelsFromGeometry({4680, 60, 855, 375}, 96), (PixelRect{312, 4, 57, 25}));
  EXPECT_EQ(PixelsFromGeometry({4680, 60, 855, 375}, 120), (PixelRect{390, 5, 71, 31}));
  // 4680 * 0.1 = 468, 5535 * 0.1 = 553.5 -> 554; 60 -> 6, 435 -> 43.5 -> 44.
  EXPECT_EQ(PixelsFromGeometry({4680, 60, 855, 375}, 144), (PixelRect{468, 6, 86, 38}));
  // The buttons, the progress label and the results box end at one right edge (5535) in the
  // grid, and so in pixels at every DPI.
  for (int dpi : {96, 120, 144}) {
    const auto right = [dpi](const Geometry& g) {
      const PixelRect p = PixelsFromGeometry(g, dpi);
      return p.x + p.width;
    };
    const int edge = right({4680, 60, 855, 375});
    EXPECT_EQ(right({4680, 420, 855, 375}), edge) << dpi;
    EXPECT_EQ(right({2400, 840, 3135, 255}), edge) << dpi;
    EXPECT_EQ(right({120, 1200, 5415, 3015}), edge) << dpi;
  }
}

}  // namespace
}  // namespace oa::win32
