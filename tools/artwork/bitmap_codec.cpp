// SPDX-License-Identifier: MIT
#include "bitmap_codec.hpp"

#include <stdexcept>

namespace ticklark::artwork {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kIconDirSize = 6;
constexpr std::uint32_t kIconEntrySize = 16;
constexpr std::size_t kPaletteSize = 256;

class ByteWriter {
 public:
  void U8(std::uint32_t v) { m_bytes.push_back(static_cast<std::uint8_t>(v & 0xFFu)); }
  void U16(std::uint32_t v) {
    U8(v);
    U8(v >> 8);
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFFu);
    U16(v >> 16);
  }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Zeros(std::size_t n) { m_bytes.insert(m_bytes.end(), n, 0); }
  std::size_t size() const { return m_bytes.size(); }
  std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// Bytes per stored row: |bits| bits per pixel, padded to a multiple of 4 bytes.
std::uint32_t RowStride(int width, int bits) {
  return ((static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(bits) + 31u) / 32u) * 4u;
}

void WriteInfoHeader(ByteWriter& out, int width, int height, int bits, std::uint32_t image_size,
                     int pixels_per_metre, std::uint32_t colours_used) {
  out.U32(kInfoHeaderSize);
  out.I32(width);
  out.I32(height);
  out.U16(1);  // planes
  out.U16(static_cast<std::uint32_t>(bits));
  out.U32(0);  // BI_RGB: no compression
  out.U32(image_size);
  out.I32(pixels_per_metre);
  out.I32(pixels_per_metre);
  out.U32(colours_used);
  out.U32(0);  // all colours important
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp24(const Image& image, int pixels_per_metre) {
  const std::uint32_t stride = RowStride(image.width(), 24);
  const std::uint32_t pixel_bytes = stride * static_cast<std::uint32_t>(image.height());
  const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize;

  ByteWriter out;
  out.U8('B');
  out.U8('M');
  out.U32(offset + pixel_bytes);
  out.U32(0);  // two reserved words
  out.U32(offset);
  WriteInfoHeader(out, image.width(), image.height(), 24, pixel_bytes, pixels_per_metre, 0);
  const std::size_t padding = stride - static_cast<std::uint32_t>(image.width()) * 3u;
  for (int y = image.height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.width(); ++x) {
      const Rgba& p = image.at(x, y);
      out.U8(p.b);
      out.U8(p.g);
      out.U8(p.r);
    }
    out.Zeros(padding);
  }
  return out.Take();
}

std::vector<std::uint8_t> EncodeIco8(const IndexedImage& image) {
  const std::size_t count =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  if (image.width <= 0 || image.width > 256 || image.height <= 0 || image.height > 256 ||
      image.palette.size() != kPaletteSize || image.indices.size() != count ||
      image.transparent.size() != count) {
    throw std::invalid_argument("icon image is inconsistent");
  }
  const std::uint32_t xor_stride = RowStride(image.width, 8);
  const std::uint32_t and_stride = RowStride(image.width, 1);
  const std::uint32_t rows = static_cast<std::uint32_t>(image.height);
  const std::uint32_t bitmap_size = (xor_stride + and_stride) * rows;
  const std::uint32_t resource_size =
      kInfoHeaderSize + static_cast<std::uint32_t>(kPaletteSize) * 4u + bitmap_size;

  ByteWriter out;
  out.U16(0);  // reserved
  out.U16(1);  // resource type: icon
  out.U16(1);  // one image
  // A width or height of 256 is stored as 0, and so is a colour count of 256.
  out.U8(static_cast<std::uint32_t>(image.width) & 0xFFu);
  out.U8(static_cast<std::uint32_t>(image.height) & 0xFFu);
  out.U8(0);
  out.U8(0);
  out.U16(1);  // planes
  out.U16(8);  // bits per pixel
  out.U32(resource_size);
  out.U32(kIconDirSize + kIconEntrySize);

  // The bitmap's height counts the colour rows and the mask rows together.
  WriteInfoHeader(out, image.width, image.height * 2, 8, bitmap_size, 0,
                  static_cast<std::uint32_t>(kPaletteSize));
  for (const Rgba& c : image.palette) {
    out.U8(c.b);
    out.U8(c.g);
    out.U8(c.r);
    out.U8(0);
  }
  const auto width = static_cast<std::size_t>(image.width);
  for (int y = image.height - 1; y >= 0; --y) {
    const std::size_t row = static_cast<std::size_t>(y) * width;
    for (std::size_t x = 0; x < width; ++x) {
      out.U8(image.indices[row + x]);
    }
    out.Zeros(xor_stride - width);
  }
  for (int y = image.height - 1; y >= 0; --y) {
    const std::size_t row = static_cast<std::size_t>(y) * width;
    std::vector<std::uint8_t> bits(and_stride, 0);
    for (std::size_t x = 0; x < width; ++x) {
      if (image.transparent[row + x]) {
        bits[x / 8] = static_cast<std::uint8_t>(bits[x / 8] | (0x80u >> (x % 8)));
      }
    }
    for (std::uint8_t b : bits) {
      out.U8(b);
    }
  }
  return out.Take();
}

}  // namespace ticklark::artwork
