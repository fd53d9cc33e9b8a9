// SPDX-License-Identifier: MIT
#include "image.hpp"

#include <stdexcept>

namespace ticklark::artwork {

Image::Image(int width, int height) : m_width(width), m_height(height) {
  if (width <= 0 || height <= 0) {
    throw std::invalid_argument("an image needs a positive width and height");
  }
  m_pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
}

}  // namespace ticklark::artwork
