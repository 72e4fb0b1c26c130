#include "console/layout.h"

namespace oa::console {
namespace {

// A size the window system would reject keeps the control's present size.
void SetSize(float& property, float value) {
  if (value >= 0) property = value;
}

}  // namespace

Layout StartLayout() {
  Layout layout{};
  for (const ControlSpec& row : kControls) layout[Index(row.control)] = row.geometry;
  return layout;
}

Layout Form_Resize(float clientWidth, float clientHeight, const Layout& current) {
  Layout l = current;
  Geometry& cmdOK = l[Index(Control::cmdOK)];
  Geometry& cmdCancel = l[Index(Control::cmdCancel)];
  Geometry& txtResult = l[Index(Control::txtResult)];
  Geometry& lblProgress = l[Index(Control::lblProgress)];

  // Each step reads what the steps before it have set.
  if (clientWidth > kStartClientWidth) {
    cmdOK.Left = clientWidth - cmdOK.Width - txtResult.Left;
    cmdCancel.Left = cmdOK.Left;
    SetSize(txtResult.Width, clientWidth - 2 * txtResult.Left);
    SetSize(lblProgress.Width, clientWidth - lblProgress.Left - txtResult.Left);
  } else {
    cmdOK.Left = 4680;
    cmdCancel.Left = 4680;
    SetSize(txtResult.Width, 5415);
    SetSize(lblProgress.Width, cmdOK.Left + cmdOK.Width - lblProgress.Left);
  }

  if (clientHeight > 1) {
    SetSize(txtResult.Height, clientHeight - txtResult.Top - txtResult.Left);
  } else {
    SetSize(txtResult.Height, 3015);
  }
  return l;
}

}  // namespace oa::console
