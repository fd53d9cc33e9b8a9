// SPDX-License-Identifier: MIT
#pragma once

namespace ticklark::web {

// What the pane does for a key or a mouse button of its own.
enum class PaneCommand {
  kNone,  // the page's: it goes on to the page unchanged
  kBack,
  kForward,
  kReload,
  kReloadFromServer,
  kStop,
  kPrint,
  kFind,
  kFindNext,
  kFindPrevious,
  kZoomIn,
  kZoomOut,
  kZoomReset,
};

// Keys by their X key symbols, as the toolkit reports them, and the modifier
// bits the pane looks at, as the toolkit sets them; the toolkit side checks
// that both agree with its own.
namespace keys {
inline constexpr unsigned kShift = 1u << 0;
inline constexpr unsigned kCtrl = 1u << 2;
inline constexpr unsigned kAlt = 1u << 3;
inline constexpr unsigned kSuper = 1u << 26;
inline constexpr unsigned kMeta = 1u << 28;
inline constexpr unsigned kModifiers = kShift | kCtrl | kAlt | kSuper | kMeta;

inline constexpr unsigned kF3 = 0xffc0;
inline constexpr unsigned kF5 = 0xffc2;
inline constexpr unsigned kEscape = 0xff1b;
inline constexpr unsigned kLeft = 0xff51;
inline constexpr unsigned kRight = 0xff53;
inline constexpr unsigned kKeypadLeft = 0xff96;
inline constexpr unsigned kKeypadRight = 0xff98;
inline constexpr unsigned kKeypadAdd = 0xffab;
inline constexpr unsigned kKeypadSubtract = 0xffad;
inline constexpr unsigned kKeypad0 = 0xffb0;
inline constexpr unsigned kBrowserBack = 0x1008ff26;
inline constexpr unsigned kBrowserForward = 0x1008ff27;
inline constexpr unsigned kBrowserReload = 0x1008ff73;
inline constexpr unsigned kEnter = 0xff0d;
inline constexpr unsigned kKeypadEnter = 0xff8d;
inline constexpr unsigned kIsoEnter = 0xfe34;

// The mouse's back and forward buttons.
inline constexpr unsigned kButtonBack = 8;
inline constexpr unsigned kButtonForward = 9;
}  // namespace keys

// The pane's key table. |modifiers| may hold any bits; only those in
// keys::kModifiers count, and letters count whatever their case.
PaneCommand CommandForKey(unsigned keyval, unsigned modifiers);

// Whether |keyval| is one of the Enter keys.
bool IsEnterKey(unsigned keyval);

}  // namespace ticklark::web
