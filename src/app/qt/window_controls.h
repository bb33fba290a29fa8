#pragma once

#include <array>
#include <string_view>

namespace cvt::gui {

// The window's own texts and size. Sizes and positions are in the window's
// layout units (see unitsToPixels).
inline constexpr const char* kWindowTitle = "MarukSolen转Cirrand8工具";
inline constexpr int kWindowWidthUnits = 2213;
inline constexpr int kWindowHeightUnits = 1488;
inline constexpr const char* kDateFormat = "yyyy-MM-dd";

// Font families in order of preference: the design's font first, then CJK
// fonts that a Linux installation is likely to have, so Chinese texts stay
// readable wherever the design's font is missing.
inline constexpr std::array<const char*, 6> kTextFonts = {
    "宋体", "SimSun", "NSimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Droid Sans Fallback"};
// The progress bar's font and its metric-compatible stand-in.
inline constexpr std::array<const char*, 2> kBarFonts = {"Arial", "Liberation Sans"};
inline constexpr int kFontPoints = 9;

enum class ControlKind {
  GroupBox,
  RadioButton,
  CheckBox,
  StaticText,
  DateEdit,
  LineEdit,
  PasswordEdit,
  CommandButton,
};

enum class TextColour { System, Blue, Red };

// One control of the window as designed.
struct ControlSpec {
  std::string_view name;  // objectName; tests and handlers find it by this
  ControlKind kind;
  std::string_view text;  // initial text (fields filled later by the open event)
  int x, y, w, h;         // layout units
  int tab;                // 0: not reached by the tab key
  TextColour colour = TextColour::System;
  bool visible = true;
  bool enabled = true;
  bool border = false;          // static text drawn with a frame
  bool blueBackground = false;  // the progress bar itself
  bool alignRight = false;      // label text against the field it names
};

// The 37 controls in creation order; controls created later lie on top.
const std::array<ControlSpec, 37>& windowControls();

// Buttons added to the design's controls: the check before a run and the
// rehearsal, on the row of the connect button to its left, below the
// settings group and clear of every designed control.
const std::array<ControlSpec, 2>& addedButtons();

// Layout units to pixels: a quarter pixel per unit at 96 dpi, scaled with
// the screen's logical dpi, rounded to the nearest pixel. Negative input
// counts as 0.
int unitsToPixels(int units, double dpi);

}  // namespace cvt::gui
