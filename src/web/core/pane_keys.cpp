// SPDX-License-Identifier: MIT
#include "web/core/pane_keys.hpp"

namespace ticklark::web {

namespace {

unsigned Lower(unsigned keyval) {
  return keyval >= 'A' && keyval <= 'Z' ? keyval - 'A' + 'a' : keyval;
}

}  // namespace

PaneCommand CommandForKey(unsigned keyval, unsigned modifiers) {
  using namespace keys;
  keyval = Lower(keyval);
  switch (modifiers & kModifiers) {
    case 0:
      switch (keyval) {
        case kF5:
        case kBrowserReload:
          return PaneCommand::kReload;
        case kEscape:
          return PaneCommand::kStop;
        case kF3:
          return PaneCommand::kFindNext;
        case kBrowserBack:
          return PaneCommand::kBack;
        case kBrowserForward:
          return PaneCommand::kForward;
      }
      break;
    case kAlt:
      if (keyval == kLeft || keyval == kKeypadLeft) {
        return PaneCommand::kBack;
      }
      if (keyval == kRight || keyval == kKeypadRight) {
        return PaneCommand::kForward;
      }
      break;
    case kShift:
      if (keyval == kF3) {
        return PaneCommand::kFindPrevious;
      }
      if (keyval == kF5) {
        return PaneCommand::kReloadFromServer;
      }
      break;
    case kCtrl:
      switch (keyval) {
        case 'r':
          return PaneCommand::kReload;
        case kF5:
          return PaneCommand::kReloadFromServer;
        case 'p':
          return PaneCommand::kPrint;
        case 'f':
          return PaneCommand::kFind;
        case 'g':
          return PaneCommand::kFindNext;
        case '+':
        case '=':
        case kKeypadAdd:
          return PaneCommand::kZoomIn;
        case '-':
        case kKeypadSubtract:
          return PaneCommand::kZoomOut;
        case '0':
        case kKeypad0:
          return PaneCommand::kZoomReset;
      }
      break;
    case kCtrl | kShift:
      switch (keyval) {
        case 'r':
          return PaneCommand::kReloadFromServer;
        case 'g':
          return PaneCommand::kFindPrevious;
        // Plus is Shift and "=" on many keyboards.
        case '+':
        case kKeypadAdd:
          return PaneCommand::kZoomIn;
      }
      break;
  }
  return PaneCommand::kNone;
}

bool IsEnterKey(unsigned keyval) {
  return keyval == keys::kEnter || keyval == keys::kKeypadEnter || keyval == keys::kIsoEnter;
}

}  // namespace ticklark::web
