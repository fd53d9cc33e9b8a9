// SPDX-License-Identifier: MIT
#include "palette.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>

namespace ticklark::artwork {
namespace {

constexpr std::size_t kPaletteSize = 256;
constexpr std::size_t kMaxBoxes = kPaletteSize - 1;  // entry 0 is kept for transparent pixels
constexpr std::uint8_t kOpaqueFrom = 128;

using Colour = std::array<int, 3>;

struct Box {
  std::size_t begin;
  std::size_t end;
};

// The channel with the widest spread inside |box|, and that spread.
std::pair<int, int> WidestChannel(const std::vector<Colour>& colours, const Box& box) {
  int best_channel = 0;
  int best_range = -1;
  for (int c = 0; c < 3; ++c) {
    int lo = 255;
    int hi = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
      lo = std::min(lo, colours[i][static_cast<std::size_t>(c)]);
      hi = std::max(hi, colours[i][static_cast<std::size_t>(c)]);
    }
    if (hi - lo > best_range) {
      best_range = hi - lo;
      best_channel = c;
    }
  }
  return {best_channel, best_range};
}

Rgba Average(const std::vector<Colour>& colours, const Box& box) {
  std::array<long, 3> sum{};
  for (std::size_t i = box.begin; i < box.end; ++i) {
    for (std::size_t c = 0; c < 3; ++c) {
      sum[c] += colours[i][c];
    }
  }
  const auto n = static_cast<long>(box.end - box.begin);
  auto channel = [&](std::size_t c) { return static_cast<std::uint8_t>((sum[c] + n / 2) / n); };
  return Rgba{channel(0), channel(1), channel(2), 255};
}

std::vector<Box> MedianCut(std::vector<Colour>& colours) {
  std::vector<Box> boxes;
  if (colours.empty()) {
    return boxes;
  }
  boxes.push_back({0, colours.size()});
  while (boxes.size() < kMaxBoxes) {
    std::size_t pick = boxes.size();
    int pick_channel = 0;
    int pick_range = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const auto [channel, range] = WidestChannel(colours, boxes[i]);
      if (range > pick_range) {
        pick = i;
        pick_channel = channel;
        pick_range = range;
      }
    }
    if (pick == boxes.size()) {
      break;  // every box holds a single colour
    }
    const Box box = boxes[pick];
    const auto key = static_cast<std::size_t>(pick_channel);
    // The whole colour breaks ties, so the order never depends on the sort.
    std::sort(colours.begin() + static_cast<std::ptrdiff_t>(box.begin),
              colours.begin() + static_cast<std::ptrdiff_t>(box.end),
              [key](const Colour& a, const Colour& b) {
                return a[key] != b[key] ? a[key] < b[key] : a < b;
              });
    std::size_t middle = box.begin + (box.end - box.begin) / 2;
    // Keep equal values on one side so that both halves stay distinct.
    while (middle > box.begin && colours[middle - 1][key] == colours[middle][key]) {
      --middle;
    }
    if (middle == box.begin) {
      middle = box.begin + 1;
      while (colours[middle][key] == colours[box.begin][key]) {
        ++middle;
      }
    }
    boxes[pick] = {box.begin, middle};
    boxes.push_back({middle, box.end});
  }
  return boxes;
}

std::uint8_t Nearest(const std::vector<Rgba>& palette, std::size_t used, const Rgba& p) {
  std::size_t best = 1;
  int best_distance = std::numeric_limits<int>::max();
  for (std::size_t i = 1; i <= used; ++i) {
    const int dr = palette[i].r - p.r;
    const int dg = palette[i].g - p.g;
    const int db = palette[i].b - p.b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

}  // namespace

IndexedImage QuantiseMedianCut(const Image& image) {
  IndexedImage out;
  out.width = image.width();
  out.height = image.height();
  out.palette.assign(kPaletteSize, Rgba{0, 0, 0, 255});

  std::vector<Colour> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const Rgba& p = image.at(x, y);
      if (p.a >= kOpaqueFrom) {
        colours.push_back({p.r, p.g, p.b});
      }
    }
  }
  const std::vector<Box> boxes = MedianCut(colours);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    out.palette[i + 1] = Average(colours, boxes[i]);
  }

  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const Rgba& p = image.at(x, y);
      const bool transparent = p.a < kOpaqueFrom;
      out.transparent.push_back(transparent);
      out.indices.push_back(transparent ? 0 : Nearest(out.palette, boxes.size(), p));
    }
  }
  return out;
}

}  // namespace ticklark::artwork
