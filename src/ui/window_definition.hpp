// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ticklark::ui {

// Geometry in window definitions is in twips, 1/1440 inch (15 twips per pixel at 96 dpi).
enum class ControlKind : std::uint8_t {
  kCommandButton,
  kPictureButton,
  kLabel,
  kLine,
  kPictureBox,
  kWebBrowser,
  kStatusBar,
};

enum class Picture : std::uint8_t {
  kNone,
  kProgramIcon,
  kSplash,
  kBack,
  kBackPressed,
  kForward,
  kForwardPressed,
  kStop,
  kStopPressed,
  kRefresh,
  kRefreshPressed,
};

enum class TextAlign : std::uint8_t { kLeft, kCenter, kRight };

// Colours are 0xRRGGBB; kDefaultColour leaves the toolkit's colour.
inline constexpr std::uint32_t kDefaultColour = 0xFFFFFFFFu;

struct Look {
  std::uint32_t background = kDefaultColour;
  std::uint32_t foreground = kDefaultColour;
  bool border = false;  // single-line border
  TextAlign align = TextAlign::kLeft;
  Picture picture = Picture::kNone;
  Picture pressedPicture = Picture::kNone;  // picture buttons: shown while held down
  int lineWidthPx = 1;                      // lines only
};

// One control. For a line, left/top is its start point and width/height the
// distance to its end point. index is -1 for a control that is not in an array;
// tabIndex is -1 for controls that have none (lines).
struct ControlDef {
  ControlKind kind;
  std::string_view name;
  int index;
  std::string_view caption;
  int left;
  int top;
  int width;
  int height;
  int tabIndex;
  Look look = {};
};

enum class Frame : std::uint8_t { kNone, kSizable, kFixedDialog, kFixedSingle };
enum class StartPosition : std::uint8_t { kManual, kCenterScreen, kCenterOwner, kWindowSystem };

struct WindowDef {
  std::string_view name;
  std::string_view caption;
  Frame frame;
  bool minimizeButton;
  bool maximizeButton;
  bool closeButton;
  bool taskbarButton;
  StartPosition startPosition;
  int clientOriginLeft;  // manual start position only
  int clientOriginTop;
  int clientWidth;
  int clientHeight;
  bool programIcon;
  bool keyPreview;
  std::span<const ControlDef> controls;
};

// Menu items in screen order; level 1 items form the menu bar, a deeper level
// is the submenu of the nearest item above it with a lower level.
struct MenuItemDef {
  int level;
  std::string_view name;
  std::string_view caption;
};

// Finds a control by name and array index (-1 for none).
const ControlDef* FindControl(const WindowDef& window, std::string_view name, int index = -1);
const ControlDef& GetControl(const WindowDef& window, std::string_view name, int index = -1);

}  // namespace ticklark::ui
