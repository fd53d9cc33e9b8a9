// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

namespace ticklark::artwork {

// One pixel with straight (not premultiplied) alpha.
struct Rgba {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  std::uint8_t a = 255;

  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// A picture held as rows of pixels, top row first.
class Image {
 public:
  Image(int width, int height);

  int width() const { return m_width; }
  int height() const { return m_height; }
  Rgba& at(int x, int y) { return m_pixels[Index(x, y)]; }
  const Rgba& at(int x, int y) const { return m_pixels[Index(x, y)]; }

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
           static_cast<std::size_t>(x);
  }

  int m_width;
  int m_height;
  std::vector<Rgba> m_pixels;
};

// A picture of palette indices with a one-bit transparency mask, as an icon
// stores it. |palette| holds exactly 256 entries.
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<Rgba> palette;
  std::vector<std::uint8_t> indices;  // top row first
  std::vector<bool> transparent;      // top row first
};

}  // namespace ticklark::artwork
