// SPDX-License-Identifier: MIT
#include "ui/definitions.hpp"

#include <array>
#include <stdexcept>
#include <string>

namespace ticklark::ui {

namespace {

using K = ControlKind;
using P = Picture;

constexpr std::uint32_t kFaceGrey = 0xC0C0C0;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kEtchGrey = 0x808080;

// The navigation bar is laid out alike in every window that has one.
constexpr Look PictureLook(Picture up, Picture down) {
  return Look{kFaceGrey, kDefaultColour, false, TextAlign::kCenter, up, down, 1};
}
constexpr Look kBackLook = PictureLook(P::kBack, P::kBackPressed);
constexpr Look kForwardLook = PictureLook(P::kForward, P::kForwardPressed);
constexpr Look kStopLook = PictureLook(P::kStop, P::kStopPressed);
constexpr Look kRefreshLook = PictureLook(P::kRefresh, P::kRefreshPressed);

// ---- frmMain -------------------------------------------------------------
constexpr std::array kMainControls{
    ControlDef{K::kWebBrowser, "WebBrowser12", -1, "", 4560, 0, 10575, 1215, 7},
    ControlDef{K::kPictureButton, "cmdWB2Refresh", -1, "", 3240, 120, 1095, 975, 6, kRefreshLook},
    ControlDef{K::kPictureButton, "cmdWB2Stop", -1, "", 2160, 120, 1095, 975, 5, kStopLook},
    ControlDef{K::kPictureButton, "cmdWB2Forward", -1, "", 1080, 120, 1095, 975, 4, kForwardLook},
    ControlDef{K::kPictureButton, "cmdWB2Back", -1, "", 0, 120, 1095, 975, 3, kBackLook},
    ControlDef{K::kWebBrowser, "WebBrowser2", -1, "", 0, 1320, 10815, 8775, 2},
    ControlDef{K::kWebBrowser, "WebBrowser1", -1, "", 10920, 1320, 4335, 8775, 1},
    ControlDef{K::kStatusBar, "sbStatusBar", -1, "Status", 0, 10125, 15240, 270, 0},
};

constexpr WindowDef kMain{"frmMain",
                          "Ticklark 2",
                          Frame::kSizable,
                          true,
                          true,
                          true,
                          true,
                          StartPosition::kManual,
                          60,
                          630,
                          15240,
                          10395,
                          true,
                          false,
                          kMainControls};

// ---- frmSplash -----------------------------------------------------------
constexpr std::array kSplashControls{
    ControlDef{K::kPictureBox, "Picture1", -1, "", 0, 0, 7215, 3975, 0,
               Look{kDefaultColour, kDefaultColour, false, TextAlign::kLeft, P::kSplash}},
};
constexpr WindowDef kSplash{"frmSplash", "",    Frame::kNone,   false,
                            false,       false, false,          StartPosition::kCenterScreen,
                            0,           0,     7050,           3840,
                            false,       false, kSplashControls};

// ---- frmAbout ------------------------------------------------------------
constexpr Look kBlackText{kDefaultColour, kBlack};
constexpr std::array kAboutControls{
    ControlDef{K::kPictureBox, "picIcon", -1, "", 240, 240, 540, 540, 2,
               Look{kFaceGrey, kDefaultColour, false, TextAlign::kLeft, P::kProgramIcon}},
    ControlDef{K::kCommandButton, "cmdOK", -1, "OK", 4245, 2625, 1467, 345, 0},
    ControlDef{K::kCommandButton, "cmdSysInfo", -1, "&System Info...", 4260, 3075, 1452, 345, 1},
    ControlDef{K::kLabel, "lblDescription", -1,
               "This program is licensed to you under the terms of the licence that is shipped "
               "with it. Please read the licence before you use the program.",
               1050, 1125, 4092, 1170, 6, kBlackText},
    ControlDef{K::kLabel, "lblTitle", -1, "Ticklark 2", 1050, 240, 4092, 480, 5, kBlackText},
    ControlDef{K::kLine, "Line1", 1, "", 225, 2430, 5657 - 225, 0, -1,
               Look{kEtchGrey, kDefaultColour, false, TextAlign::kLeft, P::kNone, P::kNone, 1}},
    ControlDef{K::kLine, "Line1", 0, "", 240, 2445, 5657 - 240, 0, -1,
               Look{kWhite, kDefaultColour, false, TextAlign::kLeft, P::kNone, P::kNone, 2}},
    ControlDef{K::kLabel, "lblVersion", -1, "Version 2.39.4", 1050, 780, 4092, 225, 4},
    ControlDef{K::kLabel, "lblDisclaimer", -1,
               "Copyright \u00A9 the Ticklark authors.\n"
               "Licence: see the LICENSE file.\n"
               "Credits: see the CREDITS file.",
               255, 2625, 3870, 825, 3, kBlackText},
};
constexpr WindowDef kAbout{"frmAbout",
                           "About Ticklark 2",
                           Frame::kFixedDialog,
                           false,
                           false,
                           true,
                           false,
                           StartPosition::kCenterOwner,
                           0,
                           0,
                           5865,
                           3630,
                           true,
                           false,
                           kAboutControls};

// ---- site windows --------------------------------------------------------
constexpr std::array kHeatmapControls{
    ControlDef{K::kPictureButton, "cmdWB5Refresh", -1, "", 3240, 120, 1095, 975, 5, kRefreshLook},
    ControlDef{K::kPictureButton, "cmdWB5Stop", -1, "", 2160, 120, 1095, 975, 4, kStopLook},
    ControlDef{K::kPictureButton, "cmdWB5Forward", -1, "", 1080, 120, 1095, 975, 3, kForwardLook},
    ControlDef{K::kPictureButton, "cmdWB5Back", -1, "", 0, 120, 1095, 975, 2, kBackLook},
    ControlDef{K::kWebBrowser, "WebBrowser8", -1, "", 4560, 0, 10215, 1215, 1},
    ControlDef{K::kWebBrowser, "WebBrowser5", -1, "", 0, 1320, 14775, 7575, 0},
};
constexpr WindowDef kHeatmap{"frmNasdaqHm",
                             "Nasdaq-100 Dynamic Heatmap\u00AE",
                             Frame::kSizable,
                             true,
                             true,
                             true,
                             true,
                             StartPosition::kManual,
                             435,
                             720,
                             14865,
                             10290,
                             true,
                             false,
                             kHeatmapControls};

constexpr std::array kCalendarControls{
    ControlDef{K::kPictureButton, "cmdWB6Refresh", -1, "", 3240, 120, 1095, 975, 5, kRefreshLook},
    ControlDef{K::kPictureButton, "cmdWB6Forward", -1, "", 1080, 120, 1095, 975, 4, kForwardLook},
    ControlDef{K::kPictureButton, "cmdWB6Back", -1, "", 0, 120, 1095, 975, 3, kBackLook},
    ControlDef{K::kPictureButton, "cmdWB6Stop", -1, "", 2160, 120, 1095, 975, 2, kStopLook},
    ControlDef{K::kWebBrowser, "WebBrowser7", -1, "", 4560, 0, 10575, 1215, 1},
    ControlDef{K::kWebBrowser, "WebBrowser6", -1, "", 0, 1320, 15135, 8895, 0},
};
constexpr WindowDef kCalendar{"frmNasdaqCal",
                              "Nasdaq Earnings Calendar",
                              Frame::kSizable,
                              true,
                              true,
                              true,
                              true,
                              StartPosition::kManual,
                              60,
                              540,
                              15240,
                              10290,
                              true,
                              false,
                              kCalendarControls};

constexpr std::array kGlobalControls{
    ControlDef{K::kPictureButton, "cmdWB9Refresh", -1, "", 3240, 120, 1095, 975, 5, kRefreshLook},
    ControlDef{K::kPictureButton, "cmdWB9Stop", -1, "", 2160, 120, 1095, 975, 4, kStopLook},
    ControlDef{K::kPictureButton, "cmdWB9Forward", -1, "", 1080, 120, 1095, 975, 3, kForwardLook},
    ControlDef{K::kPictureButton, "cmdWB9Back", -1, "", 0, 120, 1095, 975, 2, kBackLook},
    ControlDef{K::kWebBrowser, "WebBrowser10", -1, "", 4560, 0, 9735, 1215, 1},
    ControlDef{K::kWebBrowser, "WebBrowser9", -1, "", 0, 1320, 14415, 8295, 0},
};
constexpr WindowDef kGlobal{"frmNasdaqGlobal",
                            "Nasdaq Global Markets",
                            Frame::kSizable,
                            true,
                            true,
                            true,
                            true,
                            StartPosition::kManual,
                            435,
                            915,
                            14400,
                            9690,
                            true,
                            false,
                            kGlobalControls};

constexpr std::array kTickerControls{
    ControlDef{K::kWebBrowser, "WebBrowser4", -1, "", 0, 120, 12135, 2175, 0},
};
constexpr WindowDef kTicker{"frmNasdaqTicker",
                            "Nasdaq Ticker",
                            Frame::kSizable,
                            true,
                            true,
                            true,
                            true,
                            StartPosition::kWindowSystem,
                            0,
                            0,
                            12120,
                            2355,
                            true,
                            false,
                            kTickerControls};

// ---- frmCalc -------------------------------------------------------------
constexpr ControlDef CalcButton(std::string_view name, int index, std::string_view caption,
                                int left, int top, int tab) {
  return ControlDef{K::kCommandButton, name, index, caption, left, top, 535, 425, tab};
}
constexpr std::array kCalcControls{
    ControlDef{K::kCommandButton, "btnFocusEqual", -1, "btnTakeFocusFor =", 1080, 3480, 1815, 375,
               0},
    CalcButton("cmdOneDivideX", -1, "1/x", 3240, 2190, 29),
    CalcButton("cmdPercent", -1, "%", 3240, 1710, 28),
    CalcButton("cmdSQRT", -1, "sqrt", 3240, 1225, 27),
    CalcButton("cmdMEM", 3, "M+", 120, 2670, 26),
    CalcButton("cmdMEM", 2, "MS", 120, 2190, 25),
    CalcButton("cmdMEM", 1, "MR", 120, 1710, 24),
    CalcButton("cmdMEM", 0, "MC", 120, 1225, 23),
    ControlDef{K::kCommandButton, "cmdBS", -1, "Backspace", 840, 720, 1080, 400, 22},
    ControlDef{K::kCommandButton, "cmdCE", -1, "CE", 1975, 700, 855, 400, 21},
    CalcButton("cmdPlusMinus", -1, "+/-", 1440, 2670, 20),
    CalcButton("cmdDot", -1, ".", 2040, 2670, 19),
    ControlDef{K::kCommandButton, "cmdC", -1, "C", 2900, 700, 855, 400, 3},
    CalcButton("cmdEqual", -1, "=", 3240, 2670, 18),
    CalcButton("cmdOP", 4, "/", 2640, 1225, 17),
    CalcButton("cmdOP", 3, "*", 2640, 1710, 16),
    CalcButton("cmdOP", 2, "-", 2640, 2190, 15),
    CalcButton("cmdOP", 1, "+", 2640, 2670, 14),
    CalcButton("cmdNum", 9, "9", 2040, 1225, 13),
    CalcButton("cmdNum", 8, "8", 1440, 1225, 12),
    CalcButton("cmdNum", 7, "7", 840, 1225, 11),
    CalcButton("cmdNum", 6, "6", 2040, 1710, 10),
    CalcButton("cmdNum", 5, "5", 1440, 1710, 9),
    CalcButton("cmdNum", 4, "4", 840, 1710, 8),
    CalcButton("cmdNum", 3, "3", 2040, 2190, 7),
    CalcButton("cmdNum", 2, "2", 1440, 2190, 6),
    CalcButton("cmdNum", 1, "1", 840, 2190, 5),
    CalcButton("cmdNum", 0, "0", 840, 2670, 4),
    ControlDef{K::kLabel, "lblMem", -1, "", 165, 720, 420, 375, 1,
               Look{kDefaultColour, kDefaultColour, true, TextAlign::kCenter}},
    ControlDef{K::kLabel, "lblOutput", -1, "0", 135, 120, 3580, 405, 2,
               Look{kWhite, kDefaultColour, true, TextAlign::kRight}},
};
constexpr WindowDef kCalc{"frmCalc",
                          "Calculator",
                          Frame::kFixedSingle,
                          true,
                          false,
                          true,
                          true,
                          StartPosition::kWindowSystem,
                          0,
                          0,
                          3930,
                          3330,
                          true,
                          true,
                          kCalcControls};

constexpr std::array<const WindowDef*, 8> kAllWindows{&kMain,     &kSplash, &kAbout,  &kHeatmap,
                                                      &kCalendar, &kGlobal, &kTicker, &kCalc};

constexpr std::array kMainMenu{
    MenuItemDef{1, "mnuFile", "&File"},
    MenuItemDef{2, "mnuFileExit", "E&xit"},
    MenuItemDef{1, "mnuTools", "&Tools"},
    MenuItemDef{2, "mnuNasdaqCal", "Earnings Calendar (Nasdaq)"},
    MenuItemDef{2, "mnuNasdaqT", "Nasdaq Ticker"},
    MenuItemDef{2, "mnuCalc", "Calculator"},
    MenuItemDef{2, "mnuNasdaqHm", "Nasdaq Heatmap\u00AE"},
    MenuItemDef{2, "mnuNasdaqGlobal", "Nasdaq Global Markets"},
    MenuItemDef{1, "mnuOptions", "&Options"},
    MenuItemDef{2, "mnuIsland", "Real Time Quotes Window"},
    MenuItemDef{3, "mnuIslandJava", "Java Version"},
    MenuItemDef{3, "mnuIslandHTML", "HTML Version"},
    MenuItemDef{2, "mnuMainFrame", "Main View Screen"},
    MenuItemDef{3, "mnuNasdaqCom", "Nasdaq.com Home Page"},
    MenuItemDef{3, "mnuQuicken", "Quicken.com News"},
    MenuItemDef{3, "mnuNasEarnCal2", "Nasdaq Earnings Calendar"},
    MenuItemDef{3, "mnuNasdaqHm2", "Nasdaq Dynamic Heatmap"},
    MenuItemDef{3, "mnuNasdaqGlobal2", "Nasdaq Global Markets"},
    MenuItemDef{3, "mnuNasdaqEcEvents", "Nasdaq Economic Events and Analysis"},
    MenuItemDef{3, "mnuEarnWhisp", "Earnings Whispers - Earnings Calendar"},
    MenuItemDef{3, "mnuRhIPO", "Red Herring IPO Calendar"},
    MenuItemDef{3, "mnuCNBC", "CNBC.com Home Page"},
    MenuItemDef{3, "mnuCnnFn", "CNNfn Home Page"},
    MenuItemDef{1, "mnuHelp", "&Help"},
    MenuItemDef{2, "mnuHelpAbout", "&About "},
};

}  // namespace

const WindowDef& MainWindowDef() {
  return kMain;
}
const WindowDef& SplashWindowDef() {
  return kSplash;
}
const WindowDef& AboutWindowDef() {
  return kAbout;
}
const WindowDef& HeatmapWindowDef() {
  return kHeatmap;
}
const WindowDef& CalendarWindowDef() {
  return kCalendar;
}
const WindowDef& GlobalWindowDef() {
  return kGlobal;
}
const WindowDef& TickerWindowDef() {
  return kTicker;
}
const WindowDef& CalcWindowDef() {
  return kCalc;
}

std::span<const WindowDef* const> AllWindowDefs() {
  return kAllWindows;
}
std::span<const MenuItemDef> MainMenuDef() {
  return kMainMenu;
}

std::string_view SpokenName(const ControlDef& control) {
  struct Spoken {
    std::string_view name;  // a control's name, or the end of a navigation button's
    std::string_view spoken;
  };
  static constexpr std::array kPanes{
      Spoken{"WebBrowser1", "Real-time quotes"}, Spoken{"WebBrowser2", "Web page"},
      Spoken{"WebBrowser4", "Nasdaq ticker"},    Spoken{"WebBrowser5", "Web page"},
      Spoken{"WebBrowser6", "Web page"},         Spoken{"WebBrowser7", "Market strip"},
      Spoken{"WebBrowser8", "Market strip"},     Spoken{"WebBrowser9", "Web page"},
      Spoken{"WebBrowser10", "Market strip"},    Spoken{"WebBrowser12", "Market strip"},
  };
  static constexpr std::array kNavigation{Spoken{"Back", "Back"}, Spoken{"Forward", "Forward"},
                                          Spoken{"Stop", "Stop"}, Spoken{"Refresh", "Refresh"}};
  switch (control.kind) {
    case ControlKind::kWebBrowser:
      for (const Spoken& pane : kPanes) {
        if (pane.name == control.name) {
          return pane.spoken;
        }
      }
      return "Web page";
    case ControlKind::kPictureButton:
      for (const Spoken& button : kNavigation) {
        if (control.name.ends_with(button.name)) {
          return button.spoken;
        }
      }
      return {};
    case ControlKind::kPictureBox:
      return control.look.picture == Picture::kNone ? std::string_view{} : "Ticklark 2";
    default:
      return {};
  }
}

const ControlDef* FindControl(const WindowDef& window, std::string_view name, int index) {
  for (const ControlDef& control : window.controls) {
    if (control.name == name && control.index == index) {
      return &control;
    }
  }
  return nullptr;
}

const ControlDef& GetControl(const WindowDef& window, std::string_view name, int index) {
  if (const ControlDef* control = FindControl(window, name, index)) {
    return *control;
  }
  throw std::out_of_range("no control " + std::string(name) + " in " + std::string(window.name));
}

}  // namespace ticklark::ui
