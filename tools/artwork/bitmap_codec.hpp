// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

#include "image.hpp"

namespace ticklark::artwork {

// 72 dots per inch expressed in pixels per metre, as bitmap headers carry it.
inline constexpr int kPixelsPerMetre72Dpi = 2834;

// A device-independent bitmap file: 14-byte file header, 40-byte info header,
// 24 bits per pixel, no compression, rows bottom-up and padded to 4 bytes.
// Alpha is ignored; the picture is expected to be opaque.
std::vector<std::uint8_t> EncodeBmp24(const Image& image,
                                      int pixels_per_metre = kPixelsPerMetre72Dpi);

// An icon file holding the one image |image|: 8 bits per pixel with its
// 256-entry palette, followed by the one-bit AND mask (set = transparent).
std::vector<std::uint8_t> EncodeIco8(const IndexedImage& image);

}  // namespace ticklark::artwork
