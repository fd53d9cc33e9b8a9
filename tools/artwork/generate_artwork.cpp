// SPDX-License-Identifier: MIT
// Draws the program's image assets: the icon (ICO, PNG sizes and a scalable
// SVG), the splash artwork and the navigation-button pictures. The bitmaps are
// the pictures as designed; "@2x" files are the same pictures for screens with
// two pixels to each one, and the navigation pictures also come as PNGs on a
// clear ground, at both scales, for button faces that the desktop's theme
// colours.
//
//   ticklark-artwork [--font-dir DIR] OUTPUT_DIR

#include <cairo-svg.h>
#include <cairo.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bitmap_codec.hpp"
#include "palette.hpp"
#include "pictures.hpp"

namespace ticklark::artwork {
namespace {

constexpr const char* kDefaultFontDir = "/usr/share/fonts/truetype/dejavu";
constexpr int kIcoSize = 32;
constexpr int kDense = 2;
// The sizes of the desktop's icon theme.
constexpr int kPngSizes[] = {16, 24, 32, 48, 64, 128, 256};
constexpr int kSvgSize = 256;

struct NavFile {
  const char* name;  // without extension
  NavPicture picture;
  bool pressed;
};
constexpr NavFile kNavFiles[] = {
    {"back", NavPicture::kBack, false},       {"back_pressed", NavPicture::kBack, true},
    {"forward", NavPicture::kForward, false}, {"forward_pressed", NavPicture::kForward, true},
    {"stop", NavPicture::kStop, false},       {"stop_pressed", NavPicture::kStop, true},
    {"refresh", NavPicture::kRefresh, false}, {"refresh_pressed", NavPicture::kRefresh, true},
};

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    throw std::runtime_error("cannot write " + path.string());
  }
  std::cout << path.string() << '\n';
}

void WritePng(const std::filesystem::path& path, cairo_surface_t* surface) {
  if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("cannot write " + path.string());
  }
  std::cout << path.string() << '\n';
}

void WriteSvgIcon(const std::filesystem::path& path) {
  SurfacePtr surface(cairo_svg_surface_create(path.c_str(), kSvgSize, kSvgSize));
  cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_USER);
  {
    ContextPtr cr = NewContext(surface.get());
    DrawIconPaths(cr.get(), kSvgSize);
  }
  cairo_surface_finish(surface.get());
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("cannot write " + path.string());
  }
  std::cout << path.string() << '\n';
}

void Generate(const std::filesystem::path& out, const std::string& font_dir) {
  std::filesystem::create_directories(out);
  const Typesetter type(font_dir);
  // First: the SVG names its groups after cairo's count of surfaces so far.
  WriteSvgIcon(out / "ticklark2.svg");

  SurfacePtr icon = PaintIcon(kIcoSize);
  WriteFile(out / "ticklark2.ico", EncodeIco8(QuantiseMedianCut(ToImage(icon.get()))));
  for (int size : kPngSizes) {
    SurfacePtr png = PaintIcon(size);
    WritePng(out / ("ticklark2-" + std::to_string(size) + ".png"), png.get());
  }

  SurfacePtr denseIcon = PaintIcon(kIcoSize * kDense);
  WritePng(out / "ticklark2@2x.png", denseIcon.get());

  SurfacePtr splash = PaintSplash(type);
  WriteFile(out / "splash.bmp", EncodeBmp24(ToImage(splash.get())));
  SurfacePtr denseSplash = PaintSplash(type, kDense);
  WritePng(out / "splash@2x.png", denseSplash.get());

  for (const NavFile& file : kNavFiles) {
    const std::string name = file.name;
    SurfacePtr button = PaintNavButton(type, file.picture, file.pressed);
    WriteFile(out / (name + ".bmp"), EncodeBmp24(ToImage(button.get())));
    SurfacePtr clear = PaintNavButton(type, file.picture, file.pressed, 1, Ground::kClear);
    WritePng(out / (name + ".png"), clear.get());
    SurfacePtr dense = PaintNavButton(type, file.picture, file.pressed, kDense, Ground::kClear);
    WritePng(out / (name + "@2x.png"), dense.get());
  }
}

int Usage() {
  std::cerr << "usage: ticklark-artwork [--font-dir DIR] OUTPUT_DIR\n";
  return 2;
}

}  // namespace
}  // namespace ticklark::artwork

int main(int argc, char** argv) {
  namespace art = ticklark::artwork;
  std::string font_dir = art::kDefaultFontDir;
  std::string out_dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--font-dir" && i + 1 < argc) {
      font_dir = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && out_dir.empty()) {
      out_dir = arg;
    } else {
      return art::Usage();
    }
  }
  if (out_dir.empty()) {
    return art::Usage();
  }
  try {
    art::Generate(out_dir, font_dir);
  } catch (const std::exception& e) {
    std::cerr << "ticklark-artwork: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
