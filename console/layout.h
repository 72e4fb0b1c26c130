// The window's grid and its resize rule, in twips (1/1440 inch) from the top left of the client
// area. Kept free of any toolkit so that the arithmetic can be checked without a display.
#pragma once

#include <array>
#include <cstddef>

#include "console/console.h"

namespace oa::console {

// Single precision, as the window system hands the sizes over.
struct Geometry {
  float Left = 0;
  float Top = 0;
  float Width = 0;
  float Height = 0;
  friend bool operator==(const Geometry&, const Geometry&) = default;
};

enum class ControlKind { TextBox, CheckBox, CommandButton, Label };

struct ControlSpec {
  Control control;
  const char* name;
  ControlKind kind;
  const char* caption;
  Geometry geometry;
  int tabIndex;
};

inline constexpr const char* kCaption = "ondavel Agent  Cleanup";
inline constexpr float kStartClientWidth = 5685;
inline constexpr float kStartClientHeight = 4380;
inline constexpr std::size_t kControlCount = 9;

// The controls in creation order, which is also the order of the Control enumeration.
inline constexpr std::array<ControlSpec, kControlCount> kControls = {{
    {Control::txtResult, "txtResult", ControlKind::TextBox, "", {120, 1200, 5415, 3015}, 7},
    {Control::txtExServer, "txtExServer", ControlKind::TextBox, "", {1920, 105, 2535, 285}, 6},
    {Control::txtAlias, "txtAlias", ControlKind::TextBox, "", {1920, 465, 2535, 285}, 4},
    {Control::chkHH,
     "chkHH",
     ControlKind::CheckBox,
     "Cleanup &Handhelds folder",
     {120, 840, 2175, 255},
     2},
    {Control::cmdCancel,
     "cmdCancel",
     ControlKind::CommandButton,
     "&Cancel",
     {4680, 420, 855, 375},
     1},
    {Control::cmdOK, "cmdOK", ControlKind::CommandButton, "&OK", {4680, 60, 855, 375}, 0},
    {Control::lblProgress, "lblProgress", ControlKind::Label, "", {2400, 840, 3135, 255}, 8},
    {Control::Label2, "Label2", ControlKind::Label, "E&xchange Server", {120, 120, 1575, 255}, 5},
    {Control::Label1,
     "Label1",
     ControlKind::Label,
     "&Mailbox alias/address",
     {120, 480, 1695, 255},
     3},
}};

// Geometry of every control, indexed by Control.
using Layout = std::array<Geometry, kControlCount>;

constexpr std::size_t Index(Control c) {
  return static_cast<std::size_t>(c);
}

// The grid as the window is created.
Layout StartLayout();

// The resize handler: the controls' geometry after the client area has become
// clientWidth x clientHeight twips, given their geometry now. Only cmdOK, cmdCancel, txtResult
// and lblProgress change; a computed width or height below zero is not applied.
Layout Form_Resize(float clientWidth, float clientHeight, const Layout& current);

}  // namespace oa::console
