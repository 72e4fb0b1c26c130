// Twips (1/1440 inch) to a window's pixels and back, at the DPI of the monitor the window is on.
// Free of any window system so that the rounding can be checked on every platform.
#pragma once

#include "console/layout.h"

namespace oa::win32 {

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The nearest pixel to a position in twips.
int PixelsFromTwips(float twips, int dpi);

// A control's rectangle: its edges each rounded on their own, so that neighbours meet exactly.
PixelRect PixelsFromGeometry(const console::Geometry& g, int dpi);

// A client extent in pixels as twips. One pixel count stands for a range of twips; the range
// that holds `startTwips` (the size the window was made in) gives exactly `startTwips`, so a
// window shown at its start size is laid out for that size at every DPI (at 144 DPI 5685 twips
// are 569 pixels, which plain division would turn into 5690). Any other count is divided.
float TwipsFromPixels(int pixels, int dpi, float startTwips);

}  // namespace oa::win32
