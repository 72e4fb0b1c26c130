#include "console/win32/twips.h"

#include <cmath>

namespace oa::win32 {

using console::Geometry;

namespace {

constexpr float kTwipsPerInch = 1440.0f;

}  // namespace

int PixelsFromTwips(float twips, int dpi) {
  return static_cast<int>(std::lround(twips * static_cast<float>(dpi) / kTwipsPerInch));
}

PixelRect PixelsFromGeometry(const Geometry& g, int dpi) {
  const int left = PixelsFromTwips(g.Left, dpi);
  const int top = PixelsFromTwips(g.Top, dpi);
  return {left, top, PixelsFromTwips(g.Left + g.Width, dpi) - left,
          PixelsFromTwips(g.Top + g.Height, dpi) - top};
}

float TwipsFromPixels(int pixels, int dpi, float startTwips) {
  if (dpi <= 0) return 0;
  if (pixels == PixelsFromTwips(startTwips, dpi)) return startTwips;
  return static_cast<float>(pixels) * kTwipsPerInch / static_cast<float>(dpi);
}

}  // namespace oa::win32
