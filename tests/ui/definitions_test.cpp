// SPDX-License-Identifier: MIT
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "ui/definitions.hpp"
#include "ui/form_layout.hpp"

namespace ticklark::ui {
namespace {

struct WindowRow {
  const WindowDef& (*definition)();
  const char* name;
  const char* caption;
  Frame frame;
  bool minimize, maximize, close, taskbar;
  StartPosition start;
  int originLeft, originTop, width, height;
  bool icon;
};

void PrintTo(const WindowRow& row, std::ostream* out) {
  *out << row.name;
}

class WindowTable : public ::testing::TestWithParam<WindowRow> {};

TEST_P(WindowTable, WindowLevelPropertiesAsDesigned) {
  const WindowRow& row = GetParam();
  const WindowDef& def = row.definition();
  EXPECT_EQ(def.name, row.name);
  EXPECT_EQ(def.caption, row.caption);
  EXPECT_EQ(def.frame, row.frame);
  EXPECT_EQ(def.minimizeButton, row.minimize);
  EXPECT_EQ(def.maximizeButton, row.maximize);
  EXPECT_EQ(def.closeButton, row.close);
  EXPECT_EQ(def.taskbarButton, row.taskbar);
  EXPECT_EQ(def.startPosition, row.start);
  if (row.start == StartPosition::kManual) {
    EXPECT_EQ(def.clientOriginLeft, row.originLeft);
    EXPECT_EQ(def.clientOriginTop, row.originTop);
  }
  EXPECT_EQ(def.clientWidth, row.width);
  EXPECT_EQ(def.clientHeight, row.height);
  EXPECT_EQ(def.programIcon, row.icon);
  EXPECT_EQ(def.keyPreview, std::string_view(row.name) == "frmCalc");

  // Tab indexes are unique within a window; every control has a name.
  std::set<int> tabs;
  for (const ControlDef& control : def.controls) {
    EXPECT_FALSE(control.name.empty());
    if (control.tabIndex >= 0) {
      EXPECT_TRUE(tabs.insert(control.tabIndex).second)
          << row.name << " tab index " << control.tabIndex << " twice";
    }
  }
}

using F = Frame;
using S = StartPosition;
INSTANTIATE_TEST_SUITE_P(
    Definitions, WindowTable,
    ::testing::Values(
        WindowRow{MainWindowDef, "frmMain", "Ticklark 2", F::kSizable, true, true, true, true,
                  S::kManual, 60, 630, 15240, 10395, true},
        WindowRow{SplashWindowDef, "frmSplash", "", F::kNone, false, false, false, false,
                  S::kCenterScreen, 0, 0, 7050, 3840, false},
        WindowRow{AboutWindowDef, "frmAbout", "About Ticklark 2", F::kFixedDialog, false, false,
                  true, false, S::kCenterOwner, 0, 0, 5865, 3630, true},
        WindowRow{HeatmapWindowDef, "frmNasdaqHm", "Nasdaq-100 Dynamic Heatmap\u00AE", F::kSizable,
                  true, true, true, true, S::kManual, 435, 720, 14865, 10290, true},
        WindowRow{CalendarWindowDef, "frmNasdaqCal", "Nasdaq Earnings Calendar", F::kSizable, true,
                  true, true, true, S::kManual, 60, 540, 15240, 10290, true},
        WindowRow{GlobalWindowDef, "frmNasdaqGlobal", "Nasdaq Global Markets", F::kSizable, true,
                  true, true, true, S::kManual, 435, 915, 14400, 9690, true},
        WindowRow{TickerWindowDef, "frmNasdaqTicker", "Nasdaq Ticker", F::kSizable, true, true,
                  true, true, S::kWindowSystem, 0, 0, 12120, 2355, true},
        WindowRow{CalcWindowDef, "frmCalc", "Calculator", F::kFixedSingle, true, false, true, true,
                  S::kWindowSystem, 0, 0, 3930, 3330, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(Definitions, AllEightWindowsMainFirst) {
  const auto all = AllWindowDefs();
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(all.front(), &MainWindowDef());
}

struct ControlRow {
  const char* name;
  ControlKind kind;
  int left, top, width, height, tab;
};

TEST(Definitions, MainWindowControlsInDefinitionOrder) {
  const ControlRow expected[] = {
      {"WebBrowser12", ControlKind::kWebBrowser, 4560, 0, 10575, 1215, 7},
      {"cmdWB2Refresh", ControlKind::kPictureButton, 3240, 120, 1095, 975, 6},
      {"cmdWB2Stop", ControlKind::kPictureButton, 2160, 120, 1095, 975, 5},
      {"cmdWB2Forward", ControlKind::kPictureButton, 1080, 120, 1095, 975, 4},
      {"cmdWB2Back", ControlKind::kPictureButton, 0, 120, 1095, 975, 3},
      {"WebBrowser2", ControlKind::kWebBrowser, 0, 1320, 10815, 8775, 2},
      {"WebBrowser1", ControlKind::kWebBrowser, 10920, 1320, 4335, 8775, 1},
      {"sbStatusBar", ControlKind::kStatusBar, 0, 10125, 15240, 270, 0},
  };
  const auto controls = MainWindowDef().controls;
  ASSERT_EQ(controls.size(), std::size(expected));
  for (std::size_t i = 0; i < controls.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(controls[i].name, expected[i].name);
    EXPECT_EQ(controls[i].kind, expected[i].kind);
    EXPECT_EQ(controls[i].left, expected[i].left);
    EXPECT_EQ(controls[i].top, expected[i].top);
    EXPECT_EQ(controls[i].width, expected[i].width);
    EXPECT_EQ(controls[i].height, expected[i].height);
    EXPECT_EQ(controls[i].tabIndex, expected[i].tab);
  }
  // The quotes pane reaches 15 twips past the client area.
  const ControlDef& quotes = GetControl(MainWindowDef(), "WebBrowser1");
  EXPECT_EQ(quotes.left + quotes.width - MainWindowDef().clientWidth, 15);
}

TEST(Definitions, NavigationBarsShareLayoutAndPictures) {
  for (const auto& [window, number] : {std::pair{&MainWindowDef(), 2},
                                       {&HeatmapWindowDef(), 5},
                                       {&CalendarWindowDef(), 6},
                                       {&GlobalWindowDef(), 9}}) {
    const std::string prefix = "cmdWB" + std::to_string(number);
    int left = 0;
    for (const char* button : {"Back", "Forward", "Stop", "Refresh"}) {
      const ControlDef& control = GetControl(*window, prefix + button);
      SCOPED_TRACE(prefix + button);
      EXPECT_EQ(control.left, left);
      EXPECT_EQ(control.top, 120);
      EXPECT_EQ(control.width, 1095);
      EXPECT_EQ(control.height, 975);
      EXPECT_EQ(control.look.background, 0xC0C0C0u);
      EXPECT_NE(control.look.picture, Picture::kNone);
      EXPECT_NE(control.look.pressedPicture, control.look.picture);
      EXPECT_EQ(SpokenName(control), button);  // its name and tooltip
      left += 1080;                            // each overlaps its left neighbour by 15 twips
    }
  }
}

// Every control a screen reader cannot name by its text has a name of its own.
TEST(Definitions, ControlsWithoutTextHaveSpokenNames) {
  for (const WindowDef* window : AllWindowDefs()) {
    for (const ControlDef& control : window->controls) {
      SCOPED_TRACE(std::string(window->name) + "." + std::string(control.name));
      const bool textless = control.kind == ControlKind::kPictureButton ||
                            control.kind == ControlKind::kWebBrowser ||
                            control.kind == ControlKind::kPictureBox;
      EXPECT_EQ(SpokenName(control).empty(), !textless);
    }
  }
  EXPECT_EQ(SpokenName(GetControl(MainWindowDef(), "WebBrowser1")), "Real-time quotes");
  EXPECT_EQ(SpokenName(GetControl(HeatmapWindowDef(), "WebBrowser8")), "Market strip");
}

TEST(Definitions, MenuTreeCaptionsAndOrder) {
  const char* expected[][2] = {
      {"mnuFile", "&File"},
      {"mnuFileExit", "E&xit"},
      {"mnuTools", "&Tools"},
      {"mnuNasdaqCal", "Earnings Calendar (Nasdaq)"},
      {"mnuNasdaqT", "Nasdaq Ticker"},
      {"mnuCalc", "Calculator"},
      {"mnuNasdaqHm", "Nasdaq Heatmap\u00AE"},
      {"mnuNasdaqGlobal", "Nasdaq Global Markets"},
      {"mnuOptions", "&Options"},
      {"mnuIsland", "Real Time Quotes Window"},
      {"mnuIslandJava", "Java Version"},
      {"mnuIslandHTML", "HTML Version"},
      {"mnuMainFrame", "Main View Screen"},
      {"mnuNasdaqCom", "Nasdaq.com Home Page"},
      {"mnuQuicken", "Quicken.com News"},
      {"mnuNasEarnCal2", "Nasdaq Earnings Calendar"},
      {"mnuNasdaqHm2", "Nasdaq Dynamic Heatmap"},
      {"mnuNasdaqGlobal2", "Nasdaq Global Markets"},
      {"mnuNasdaqEcEvents", "Nasdaq Economic Events and Analysis"},
      {"mnuEarnWhisp", "Earnings Whispers - Earnings Calendar"},
      {"mnuRhIPO", "Red Herring IPO Calendar"},
      {"mnuCNBC", "CNBC.com Home Page"},
      {"mnuCnnFn", "CNNfn Home Page"},
      {"mnuHelp", "&Help"},
      {"mnuHelpAbout", "&About "},
  };
  const auto menu = MainMenuDef();
  ASSERT_EQ(menu.size(), std::size(expected));
  for (std::size_t i = 0; i < menu.size(); ++i) {
    EXPECT_EQ(menu[i].name, expected[i][0]);
    EXPECT_EQ(menu[i].caption, expected[i][1]);
  }
  EXPECT_EQ(menu[10].level, 3);  // "Java Version" sits under "Real Time Quotes Window"
  EXPECT_EQ(menu[12].level, 2);
}

TEST(Definitions, HiddenEqualsButtonLiesBelowTheCalculatorsClientArea) {
  const ControlDef& hidden = GetControl(CalcWindowDef(), "btnFocusEqual");
  EXPECT_GE(hidden.top, CalcWindowDef().clientHeight);
  EXPECT_EQ(hidden.tabIndex, 0);
  for (int digit = 0; digit <= 9; ++digit) {
    EXPECT_EQ(GetControl(CalcWindowDef(), "cmdNum", digit).caption, std::to_string(digit));
  }
  EXPECT_EQ(GetControl(CalcWindowDef(), "cmdOP", 4).caption, "/");
  EXPECT_EQ(GetControl(CalcWindowDef(), "cmdMEM", 3).caption, "M+");
  EXPECT_THROW(GetControl(CalcWindowDef(), "cmdNum", 10), std::out_of_range);
}

TEST(Definitions, CaptionsBecomeGtkMnemonics) {
  EXPECT_EQ(MnemonicFromCaption("&System Info..."), "_System Info...");
  EXPECT_EQ(MnemonicFromCaption("E&xit"), "E_xit");
  EXPECT_EQ(MnemonicFromCaption("&About "), "_About ");
  EXPECT_EQ(MnemonicFromCaption("snake_case"), "snake__case");
  EXPECT_EQ(MnemonicFromCaption("Trailing&"), "Trailing&");
}

}  // namespace
}  // namespace ticklark::ui
