// SPDX-License-Identifier: MIT
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/window_visibility.hpp"

namespace ticklark::platform {
namespace {

constexpr PixelRect kScreen{0, 0, 1600, 1200};
constexpr PixelRect kClient{100, 100, 800, 600};

struct VisibilityCase {
  const char* name;
  VisibilityFacts facts;
  bool hidden;
};

std::ostream& operator<<(std::ostream& out, const VisibilityCase& c) {
  return out << c.name;
}

VisibilityFacts Shown() {
  VisibilityFacts facts;
  facts.client = kClient;
  facts.screen = kScreen;
  facts.desktop = 0;
  facts.currentDesktop = 0;
  return facts;
}

template <typename F>
VisibilityFacts With(F&& change) {
  VisibilityFacts facts = Shown();
  change(facts);
  return facts;
}

class WindowVisibilityRule : public ::testing::TestWithParam<VisibilityCase> {};

TEST_P(WindowVisibilityRule, HiddenOnlyWhenNoPixelOfTheClientAreaCanBeSeen) {
  EXPECT_EQ(IsWhollyHidden(GetParam().facts), GetParam().hidden);
}

const VisibilityCase kCases[] = {
    {"Shown", Shown(), false},
    {"Minimized", With([](auto& f) { f.minimized = true; }), true},
    {"FullyObscured", With([](auto& f) { f.fullyObscured = true; }), true},
    {"OtherWorkspace", With([](auto& f) { f.desktop = 2; }), true},
    {"OnEveryWorkspace", With([](auto& f) {
       f.desktop = kAllDesktops;
       f.currentDesktop = 3;
     }),
     false},
    {"WorkspacesUnknown", With([](auto& f) {
       f.desktop = 2;
       f.currentDesktop.reset();
     }),
     false},
    {"PlaceUnknown", With([](auto& f) {
       f.client = {};
       f.above = {kScreen};
     }),
     false},
    {"OffTheScreen", With([](auto& f) { f.client = {1700, 0, 800, 600}; }), true},
    {"PartlyOffTheScreenRestCovered", With([](auto& f) {
       f.client = {-400, 100, 800, 600};
       f.above = {{0, 0, 400, 700}};
     }),
     true},
    {"FullScreenWindowAbove", With([](auto& f) { f.above = {kScreen}; }), true},
    {"OnePixelColumnShows", With([](auto& f) { f.above = {{101, 0, 1600, 1200}}; }), false},
    {"CoveredByTwoHalves",
     With([](auto& f) { f.above = {{0, 0, 500, 1200}, {500, 0, 1100, 1200}}; }), true},
    {"FourWindowsAroundAHole", With([](auto& f) {
       f.above = {
           {0, 0, 1600, 300}, {0, 400, 1600, 800}, {0, 300, 400, 100}, {500, 300, 1100, 100}};
     }),
     false},
    {"FourWindowsCoverTheHoleToo", With([](auto& f) {
       f.above = {{0, 0, 1600, 300},
                  {0, 400, 1600, 800},
                  {0, 300, 400, 100},
                  {500, 300, 1100, 100},
                  {390, 290, 120, 120}};
     }),
     true},
    {"WindowsBesideIt", With([](auto& f) { f.above = {{0, 0, 100, 1200}, {900, 0, 700, 1200}}; }),
     false},
};

INSTANTIATE_TEST_SUITE_P(Facts, WindowVisibilityRule, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace ticklark::platform
