// SPDX-License-Identifier: MIT
#include "platform/window_visibility.hpp"

#include <algorithm>
#include <utility>

namespace ticklark::platform {

namespace {

bool IsEmpty(const PixelRect& r) {
  return r.width <= 0 || r.height <= 0;
}

PixelRect Intersection(const PixelRect& a, const PixelRect& b) {
  const int left = std::max(a.x, b.x);
  const int top = std::max(a.y, b.y);
  const int right = std::min(a.x + a.width, b.x + b.width);
  const int bottom = std::min(a.y + a.height, b.y + b.height);
  return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

// What is left of |area| once |cover| is taken out: at most four rectangles,
// the bands above and below the cover and the pieces beside it.
void Subtract(const PixelRect& area, const PixelRect& cover, std::vector<PixelRect>& out) {
  const PixelRect common = Intersection(area, cover);
  if (IsEmpty(common)) {
    out.push_back(area);
    return;
  }
  const int areaBottom = area.y + area.height;
  const int commonBottom = common.y + common.height;
  if (common.y > area.y) {
    out.push_back({area.x, area.y, area.width, common.y - area.y});
  }
  if (commonBottom < areaBottom) {
    out.push_back({area.x, commonBottom, area.width, areaBottom - commonBottom});
  }
  if (common.x > area.x) {
    out.push_back({area.x, common.y, common.x - area.x, common.height});
  }
  const int areaRight = area.x + area.width;
  const int commonRight = common.x + common.width;
  if (commonRight < areaRight) {
    out.push_back({commonRight, common.y, areaRight - commonRight, common.height});
  }
}

}  // namespace

bool IsWhollyHidden(const VisibilityFacts& facts) {
  if (facts.minimized || facts.fullyObscured) {
    return true;
  }
  if (facts.desktop && facts.currentDesktop && *facts.desktop != kAllDesktops &&
      *facts.desktop != *facts.currentDesktop) {
    return true;
  }
  if (IsEmpty(facts.client)) {
    return false;  // nothing known of where it is
  }
  std::vector<PixelRect> seen{IsEmpty(facts.screen) ? facts.client
                                                    : Intersection(facts.client, facts.screen)};
  if (IsEmpty(seen.front())) {
    return true;
  }
  for (const PixelRect& cover : facts.above) {
    std::vector<PixelRect> left;
    for (const PixelRect& piece : seen) {
      Subtract(piece, cover, left);
    }
    seen = std::move(left);
    if (seen.empty()) {
      return true;
    }
  }
  return false;
}

}  // namespace ticklark::platform
