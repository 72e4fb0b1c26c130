#include "console/layout.h"

#include <gtest/gtest.h>

namespace oa::console {
namespace {

const Geometry& At(const Layout& l, Control c) {
  return l[Index(c)];
}

// The five controls the resize rule never touches keep their start-up geometry.
void ExpectFixedControlsUnchanged(const Layout& l) {
  const Layout start = StartLayout();
  for (Control c : {Control::txtExServer, Control::txtAlias, Control::chkHH, Control::Label1,
                    Control::Label2}) {
    EXPECT_EQ(At(l, c), At(start, c)) << kControls[Index(c)].name;
  }
}

// Tops and the sizes that the rule does not compute never change either.
void ExpectUntouchedProperties(const Layout& l) {
  EXPECT_EQ(At(l, Control::cmdOK).Top, 60);
  EXPECT_EQ(At(l, Control::cmdOK).Width, 855);
  EXPECT_EQ(At(l, Control::cmdOK).Height, 375);
  EXPECT_EQ(At(l, Control::cmdCancel).Top, 420);
  EXPECT_EQ(At(l, Control::cmdCancel).Width, 855);
  EXPECT_EQ(At(l, Control::cmdCancel).Height, 375);
  EXPECT_EQ(At(l, Control::txtResult).Left, 120);
  EXPECT_EQ(At(l, Control::txtResult).Top, 1200);
  EXPECT_EQ(At(l, Control::lblProgress).Left, 2400);
  EXPECT_EQ(At(l, Control::lblProgress).Top, 840);
  EXPECT_EQ(At(l, Control::lblProgress).Height, 255);
}

TEST(Grid, NineControlsInCreationOrderWithTheirTabIndexes) {
  ASSERT_EQ(kControls.size(), 9u);
  int tabSeen = 0;
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    EXPECT_EQ(Index(kControls[i].control), i);
    tabSeen |= 1 << kControls[i].tabIndex;
  }
  EXPECT_EQ(tabSeen, 0x1FF) << "tab indexes 0..8, each once";
  EXPECT_STREQ(kCaption, "ondavel Agent  Cleanup");
}

TEST(FormResize, StartSizeTakesTheFixedBranchAndStretchesTheResultsBoxDown) {
  const Layout l = Form_Resize(5685, 4380, StartLayout());
  EXPECT_EQ(At(l, Control::cmdOK).Left, 4680);
  EXPECT_EQ(At(l, Control::cmdCancel).Left, 4680);
  EXPECT_EQ(At(l, Control::txtResult).Width, 5415);
  EXPECT_EQ(At(l, Control::lblProgress).Width, 3135);
  EXPECT_EQ(At(l, Control::txtResult).Height, 3060);
  ExpectFixedControlsUnchanged(l);
  ExpectUntouchedProperties(l);
}

TEST(FormResize, OneTwipWiderThanStartTakesTheComputedBranch) {
  const Layout l = Form_Resize(5686, 4380, StartLayout());
  EXPECT_EQ(At(l, Control::cmdOK).Left, 4711);
  EXPECT_EQ(At(l, Control::cmdCancel).Left, 4711);
  EXPECT_EQ(At(l, Control::txtResult).Width, 5446);
  EXPECT_EQ(At(l, Control::lblProgress).Width, 5686 - 2400 - 120);
  ExpectFixedControlsUnchanged(l);
  ExpectUntouchedProperties(l);
}

TEST(FormResize, NarrowerThanStartKeepsStartPositionsAndWidths) {
  // Coming from a wide window, so that the fixed values are really set again.
  const Layout wide = Form_Resize(12000, 9000, StartLayout());
  const Layout l = Form_Resize(3000, 4380, wide);
  EXPECT_EQ(At(l, Control::cmdOK).Left, 4680);
  EXPECT_EQ(At(l, Control::cmdCancel).Left, 4680);
  EXPECT_EQ(At(l, Control::txtResult).Width, 5415);
  // Read from cmdOK after its Left was set back, not from the wide position.
  EXPECT_EQ(At(l, Control::lblProgress).Width, 3135);
  EXPECT_EQ(At(l, Control::txtResult).Height, 3060);
  ExpectFixedControlsUnchanged(l);
}

TEST(FormResize, MinimisedThenRestored) {
  const Layout wide = Form_Resize(12000, 9000, StartLayout());
  const Layout minimised = Form_Resize(0, 0, wide);
  EXPECT_EQ(At(minimised, Control::cmdOK).Left, 4680);
  EXPECT_EQ(At(minimised, Control::txtResult).Width, 5415);
  EXPECT_EQ(At(minimised, Control::lblProgress).Width, 3135);
  EXPECT_EQ(At(minimised, Control::txtResult).Height, 3015);
  const Layout restored = Form_Resize(12000, 9000, minimised);
  EXPECT_EQ(restored, wide);
}

TEST(FormResize, ClientHeightsAroundTheResultsBoxTop) {
  const Layout start = StartLayout();
  EXPECT_EQ(At(Form_Resize(5685, 1, start), Control::txtResult).Height, 3015);
  EXPECT_EQ(At(Form_Resize(5685, 1320, start), Control::txtResult).Height, 0);
  EXPECT_EQ(At(Form_Resize(5685, 1321, start), Control::txtResult).Height, 1);
  // Between 1 and 1320 the computed height is negative and the box keeps what it had.
  const Layout tall = Form_Resize(5685, 2000, start);
  ASSERT_EQ(At(tall, Control::txtResult).Height, 680);
  const Layout shallow = Form_Resize(5685, 800, tall);
  EXPECT_EQ(At(shallow, Control::txtResult).Height, 680);
  EXPECT_EQ(At(shallow, Control::txtResult).Width, 5415);
}

TEST(FormResize, MaximisedStretchesToTheEdgesLess120) {
  // 1280 x 1000 pixels at 96 DPI.
  const Layout l = Form_Resize(19200, 15000, StartLayout());
  EXPECT_EQ(At(l, Control::cmdOK).Left, 19200 - 855 - 120);
  EXPECT_EQ(At(l, Control::cmdCancel).Left, 19200 - 855 - 120);
  EXPECT_EQ(At(l, Control::txtResult).Width, 19200 - 240);
  EXPECT_EQ(At(l, Control::txtResult).Height, 15000 - 1200 - 120);
  EXPECT_EQ(At(l, Control::lblProgress).Width, 19200 - 2400 - 120);
  ExpectFixedControlsUnchanged(l);
  ExpectUntouchedProperties(l);
}

TEST(FormResize, SinglePrecisionFractionsOfATwip) {
  // At 120 DPI one pixel is 12 twips; sizes need not be whole twips at other densities.
  const float w = 5685.5f;
  const Layout l = Form_Resize(w, 4380.25f, StartLayout());
  EXPECT_FLOAT_EQ(At(l, Control::cmdOK).Left, w - 855 - 120);
  EXPECT_FLOAT_EQ(At(l, Control::txtResult).Width, w - 240);
  EXPECT_FLOAT_EQ(At(l, Control::txtResult).Height, 4380.25f - 1320);
}

}  // namespace
}  // namespace oa::console
