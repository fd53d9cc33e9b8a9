// SPDX-License-Identifier: MIT
// The committed image assets: their file formats, that gdk-pixbuf (which the
// program loads them with) reads them, what they show in broad strokes, and
// that the generator still draws these pictures.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap_codec.hpp"
#include "palette.hpp"

namespace ticklark::artwork {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kAssets = TICKLARK_ASSETS_DIR;
constexpr std::size_t kSplashFileSize = 361526;

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t U16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8);
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}
std::int32_t I32(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(U32(b, at));
}

struct PixbufDeleter {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, PixbufDeleter>;

// Decodes |bytes| the way the program does; null when gdk-pixbuf refuses them.
PixbufPtr Decode(const Bytes& bytes) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GError* error = nullptr;
  const bool ok = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error) &&
                  gdk_pixbuf_loader_close(loader, &error);
  PixbufPtr pixbuf;
  if (ok) {
    pixbuf.reset(GDK_PIXBUF(g_object_ref(gdk_pixbuf_loader_get_pixbuf(loader))));
  } else {
    ADD_FAILURE() << "gdk-pixbuf: " << (error != nullptr ? error->message : "no picture");
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  g_clear_error(&error);
  g_object_unref(loader);
  return pixbuf;
}

Rgba PixelAt(GdkPixbuf* p, int x, int y) {
  const guchar* px = gdk_pixbuf_read_pixels(p) + y * gdk_pixbuf_get_rowstride(p) +
                     x * gdk_pixbuf_get_n_channels(p);
  return Rgba{px[0], px[1], px[2], gdk_pixbuf_get_has_alpha(p) ? px[3] : std::uint8_t{255}};
}

// Counts the clearly green and the clearly red opaque pixels of one half.
struct ChevronInk {
  int green = 0;
  int red = 0;
};
ChevronInk CountInk(GdkPixbuf* p, bool upper_half, int x_end) {
  ChevronInk ink;
  const int h = gdk_pixbuf_get_height(p);
  for (int y = upper_half ? 0 : h / 2; y < (upper_half ? h / 2 : h); ++y) {
    for (int x = 0; x < x_end; ++x) {
      const Rgba c = PixelAt(p, x, y);
      ink.green += c.a == 255 && c.g > 2 * c.r && c.g > 2 * c.b ? 1 : 0;
      ink.red += c.a == 255 && c.r > 2 * c.g && c.r > 2 * c.b ? 1 : 0;
    }
  }
  return ink;
}

void ExpectGreenAboveRed(GdkPixbuf* p, int x_end, int min_pixels) {
  const ChevronInk upper = CountInk(p, true, x_end);
  const ChevronInk lower = CountInk(p, false, x_end);
  EXPECT_GE(upper.green, min_pixels);
  EXPECT_GE(lower.red, min_pixels);
  EXPECT_LT(upper.red, upper.green / 10 + 1);
  EXPECT_LT(lower.green, lower.red / 10 + 1);
}

// ---- bitmaps ---------------------------------------------------------------

struct BitmapCase {
  const char* file;
  int width;
  int height;
};
constexpr BitmapCase kBitmaps[] = {
    {"splash.bmp", 470, 256},        {"back.bmp", 64, 61},
    {"back_pressed.bmp", 64, 61},    {"forward.bmp", 64, 61},
    {"forward_pressed.bmp", 64, 61}, {"stop.bmp", 64, 61},
    {"stop_pressed.bmp", 64, 61},    {"refresh.bmp", 64, 61},
    {"refresh_pressed.bmp", 64, 61},
};

// "back_pressed.bmp" becomes "back_pressed_bmp", a name a test may carry.
std::string CaseName(const char* file) {
  std::string name = file;
  for (char& c : name) {
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}

void PrintTo(const BitmapCase& c, std::ostream* os) {
  *os << c.file;
}

class ArtworkBitmap : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(ArtworkBitmap, HeadersDescribeUncompressed24BitRowsAt72Dpi) {
  const BitmapCase& c = GetParam();
  const Bytes b = ReadBytes(kAssets / c.file);
  ASSERT_GE(b.size(), 54u);
  const std::uint32_t stride = (static_cast<std::uint32_t>(c.width) * 3 + 3) / 4 * 4;
  const std::uint32_t pixels = stride * static_cast<std::uint32_t>(c.height);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(U32(b, 2), b.size());
  EXPECT_EQ(U32(b, 10), 54u);  // pixels right after the headers, no palette
  EXPECT_EQ(U32(b, 14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(I32(b, 18), c.width);
  EXPECT_EQ(I32(b, 22), c.height);  // positive: rows stored bottom-up
  EXPECT_EQ(U16(b, 26), 1u);
  EXPECT_EQ(U16(b, 28), 24u);
  EXPECT_EQ(U32(b, 30), 0u);  // BI_RGB
  EXPECT_EQ(U32(b, 34), pixels);
  EXPECT_EQ(I32(b, 38), 2834);
  EXPECT_EQ(I32(b, 42), 2834);
  EXPECT_EQ(U32(b, 46), 0u);
  EXPECT_EQ(b.size(), 54u + pixels);
}

TEST_P(ArtworkBitmap, GdkPixbufReadsItAtItsSize) {
  const BitmapCase& c = GetParam();
  PixbufPtr p = Decode(ReadBytes(kAssets / c.file));
  ASSERT_TRUE(p);
  EXPECT_EQ(gdk_pixbuf_get_width(p.get()), c.width);
  EXPECT_EQ(gdk_pixbuf_get_height(p.get()), c.height);
}

INSTANTIATE_TEST_SUITE_P(Committed, ArtworkBitmap, ::testing::ValuesIn(kBitmaps),
                         [](const auto& param_info) { return CaseName(param_info.param.file); });

TEST(ArtworkSplash, FileHasTheSizeTheWindowLayoutAssumes) {
  EXPECT_EQ(fs::file_size(kAssets / "splash.bmp"), kSplashFileSize);
}

TEST(ArtworkSplash, DarkBlueGroundWithTheEmblemAtTheLeft) {
  PixbufPtr p = Decode(ReadBytes(kAssets / "splash.bmp"));
  ASSERT_TRUE(p);
  for (const auto& [x, y] : {std::pair{2, 2}, {468, 2}, {300, 120}}) {
    const Rgba c = PixelAt(p.get(), x, y);
    EXPECT_GT(c.b, c.r + 40) << x << "," << y;
    EXPECT_LT(c.r + c.g + c.b, 3 * 128) << x << "," << y;
  }
  ExpectGreenAboveRed(p.get(), 200, 1000);
}

// ---- navigation pictures -------------------------------------------------

constexpr const char* kRaisedNav[] = {"back", "forward", "stop", "refresh"};

TEST(ArtworkNavPicture, BlackDiscOnButtonFaceRaisedOrPushedIn) {
  const Rgba face{0xC0, 0xC0, 0xC0, 255};
  for (const char* name : kRaisedNav) {
    SCOPED_TRACE(name);
    PixbufPtr raised = Decode(ReadBytes(kAssets / (std::string(name) + ".bmp")));
    PixbufPtr pressed = Decode(ReadBytes(kAssets / (std::string(name) + "_pressed.bmp")));
    ASSERT_TRUE(raised && pressed);
    for (GdkPixbuf* p : {raised.get(), pressed.get()}) {
      EXPECT_EQ(PixelAt(p, 0, 0), face);
      EXPECT_EQ(PixelAt(p, 63, 0), face);
      EXPECT_EQ(PixelAt(p, 0, 60), face);
      const Rgba disc = PixelAt(p, 12, 40);
      EXPECT_LT(disc.r + disc.g + disc.b, 3 * 0x30);
    }
    // Beyond the disc's lower right: the shadow darkens the raised picture
    // only; the pressed one shows the bare face there.
    const Rgba shadow = PixelAt(raised.get(), 52, 51);
    EXPECT_LT(shadow.r, 0xC0 - 24);
    EXPECT_EQ(PixelAt(pressed.get(), 52, 51), face);
  }
}

// ---- program icon ----------------------------------------------------------

constexpr std::size_t kIconDirEnd = 22;
constexpr std::size_t kIconFileSize = kIconDirEnd + 40 + 256 * 4 + 32 * 32 + 32 * 4;

TEST(ArtworkIcon, OneImageOf32x32With256ColoursAndAMask) {
  const Bytes b = ReadBytes(kAssets / "ticklark2.ico");
  ASSERT_EQ(b.size(), kIconFileSize);
  EXPECT_EQ(U16(b, 0), 0u);
  EXPECT_EQ(U16(b, 2), 1u);  // icon, not cursor
  EXPECT_EQ(U16(b, 4), 1u);  // one image
  EXPECT_EQ(b[6], 32);
  EXPECT_EQ(b[7], 32);
  EXPECT_EQ(b[8], 0);  // 256 colours
  EXPECT_EQ(U16(b, 12), 8u);
  EXPECT_EQ(U32(b, 14), kIconFileSize - kIconDirEnd);
  EXPECT_EQ(U32(b, 18), kIconDirEnd);
  const std::size_t h = kIconDirEnd;
  EXPECT_EQ(U32(b, h), 40u);
  EXPECT_EQ(I32(b, h + 4), 32);
  EXPECT_EQ(I32(b, h + 8), 64);  // colour rows and mask rows
  EXPECT_EQ(U16(b, h + 14), 8u);
  EXPECT_EQ(U32(b, h + 16), 0u);
  EXPECT_EQ(U32(b, h + 32), 256u);
}

TEST(ArtworkIcon, MaskCutsTheCornersAndLeavesThemBlack) {
  const Bytes b = ReadBytes(kAssets / "ticklark2.ico");
  ASSERT_EQ(b.size(), kIconFileSize);
  const std::size_t palette = kIconDirEnd + 40;
  const std::size_t colours = palette + 256 * 4;
  const std::size_t mask = colours + 32 * 32;
  int transparent = 0;
  for (int row = 0; row < 32; ++row) {  // stored bottom-up
    for (int x = 0; x < 32; ++x) {
      const std::size_t bit =
          mask + static_cast<std::size_t>(row) * 4 + static_cast<std::size_t>(x) / 8;
      if ((b[bit] & (0x80 >> (x % 8))) == 0) {
        continue;
      }
      ++transparent;
      const std::size_t entry = palette + 4u * b[colours + static_cast<std::size_t>(row * 32 + x)];
      EXPECT_EQ(b[entry] | b[entry + 1] | b[entry + 2], 0) << x << "," << row;
    }
  }
  EXPECT_GE(transparent, 4 * 5);  // every rounded corner, nothing more
  EXPECT_LE(transparent, 4 * 12);
}

struct IconCase {
  const char* file;
  int size;
};
constexpr IconCase kIcons[] = {{"ticklark2.ico", 32},      {"ticklark2-16.png", 16},
                               {"ticklark2-24.png", 24},   {"ticklark2-32.png", 32},
                               {"ticklark2-48.png", 48},   {"ticklark2-64.png", 64},
                               {"ticklark2-128.png", 128}, {"ticklark2-256.png", 256},
                               {"ticklark2.svg", 256},     {"ticklark2@2x.png", 64}};

void PrintTo(const IconCase& c, std::ostream* os) {
  *os << c.file;
}

class ArtworkIconImage : public ::testing::TestWithParam<IconCase> {};

TEST_P(ArtworkIconImage, EmblemOnDeepBlueWithClearCorners) {
  const IconCase& c = GetParam();
  const Bytes b = ReadBytes(kAssets / c.file);
  if (fs::path(c.file).extension() == ".png") {
    ASSERT_GE(b.size(), 26u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8),
              (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    EXPECT_EQ(b[25], 6) << "RGBA";
  }
  PixbufPtr p = Decode(b);
  ASSERT_TRUE(p);
  ASSERT_EQ(gdk_pixbuf_get_width(p.get()), c.size);
  ASSERT_EQ(gdk_pixbuf_get_height(p.get()), c.size);
  ASSERT_TRUE(gdk_pixbuf_get_has_alpha(p.get()));
  const int last = c.size - 1;
  for (const auto& [x, y] : {std::pair{0, 0}, {last, 0}, {0, last}, {last, last}}) {
    EXPECT_EQ(PixelAt(p.get(), x, y).a, 0) << x << "," << y;
  }
  const Rgba ground = PixelAt(p.get(), c.size / 8, c.size / 2);
  EXPECT_EQ(ground.a, 255);
  EXPECT_GT(ground.b, 2 * ground.r);
  ExpectGreenAboveRed(p.get(), c.size, c.size * c.size / 20);
}

INSTANTIATE_TEST_SUITE_P(Committed, ArtworkIconImage, ::testing::ValuesIn(kIcons),
                         [](const auto& param_info) { return CaseName(param_info.param.file); });

// ---- the same pictures on a clear ground and at twice the density ----------

struct VariantCase {
  std::string file;
  std::string designed;
  int scale;
};

// The splash at 2x; each navigation picture on a clear ground at 1x and 2x.
std::vector<VariantCase> Variants() {
  std::vector<VariantCase> variants{{"splash@2x.png", "splash.bmp", 2}};
  for (const char* raised : kRaisedNav) {
    for (const std::string& name : {std::string(raised), std::string(raised) + "_pressed"}) {
      variants.push_back({name + ".png", name + ".bmp", 1});
      variants.push_back({name + "@2x.png", name + ".bmp", 2});
    }
  }
  return variants;
}

void PrintTo(const VariantCase& c, std::ostream* os) {
  *os << c.file;
}

class ArtworkVariant : public ::testing::TestWithParam<VariantCase> {};

// Laid on the grey face and seen at the designed size, a variant is the
// designed picture: to rounding at the same density, closely at twice it.
TEST_P(ArtworkVariant, OnTheFaceAtTheDesignedSizeItIsTheDesignedPicture) {
  const VariantCase& c = GetParam();
  PixbufPtr variant = Decode(ReadBytes(kAssets / c.file));
  PixbufPtr designed = Decode(ReadBytes(kAssets / c.designed));
  ASSERT_TRUE(variant && designed);
  const int width = gdk_pixbuf_get_width(designed.get());
  const int height = gdk_pixbuf_get_height(designed.get());
  ASSERT_EQ(gdk_pixbuf_get_width(variant.get()), width * c.scale);
  ASSERT_EQ(gdk_pixbuf_get_height(variant.get()), height * c.scale);
  double error = 0;
  for (int y = 0; y < height * c.scale; ++y) {
    for (int x = 0; x < width * c.scale; ++x) {
      const Rgba p = PixelAt(variant.get(), x, y);
      const Rgba want = PixelAt(designed.get(), x / c.scale, y / c.scale);
      const auto onFace = [&p](std::uint8_t channel) {
        return (channel * p.a + 0xC0 * (255 - p.a)) / 255.0;
      };
      error += std::abs(onFace(p.r) - want.r) + std::abs(onFace(p.g) - want.g) +
               std::abs(onFace(p.b) - want.b);
    }
  }
  EXPECT_LT(error / (width * height * c.scale * c.scale * 3), c.scale == 1 ? 0.5 : 8.0);
}

INSTANTIATE_TEST_SUITE_P(Committed, ArtworkVariant, ::testing::ValuesIn(Variants()),
                         [](const auto& param_info) {
                           return CaseName(param_info.param.file.c_str());
                         });

// ---- encoders on small pictures -------------------------------------------

// Every pixel distinct, so a swapped channel, row or padding byte shows.
Image Pattern(int width, int height) {
  Image image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.at(x, y) =
          Rgba{static_cast<std::uint8_t>(40 * x + 7), static_cast<std::uint8_t>(60 * y + 3),
               static_cast<std::uint8_t>(200 - 30 * x - 11 * y), 255};
    }
  }
  return image;
}

TEST(ArtworkCodec, BitmapsOfEveryRowPaddingDecodeToTheirPixels) {
  for (int width = 1; width <= 5; ++width) {
    SCOPED_TRACE(width);
    const Image image = Pattern(width, 3);
    PixbufPtr p = Decode(EncodeBmp24(image));
    ASSERT_TRUE(p);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < width; ++x) {
        EXPECT_EQ(PixelAt(p.get(), x, y), image.at(x, y)) << x << "," << y;
      }
    }
  }
}

TEST(ArtworkCodec, IconsOfOddWidthsKeepColoursAndMask) {
  for (int width : {1, 5, 9, 33}) {
    SCOPED_TRACE(width);
    Image image = Pattern(width, 4);
    image.at(0, 0).a = 0;
    image.at(width - 1, 3).a = 100;
    PixbufPtr p = Decode(EncodeIco8(QuantiseMedianCut(image)));
    ASSERT_TRUE(p);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < width; ++x) {
        const Rgba want = image.at(x, y);
        if (want.a < 128) {
          EXPECT_EQ(PixelAt(p.get(), x, y).a, 0) << x << "," << y;
        } else {
          EXPECT_EQ(PixelAt(p.get(), x, y), want) << x << "," << y;  // fewer than 256 colours
        }
      }
    }
  }
}

TEST(ArtworkCodec, MedianCutStaysCloseWithMoreColoursThanEntries) {
  Image image(64, 64);  // 4096 colours across the whole cube
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      image.at(x, y) = Rgba{static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 4),
                            static_cast<std::uint8_t>((x ^ y) * 4), 255};
    }
  }
  const IndexedImage indexed = QuantiseMedianCut(image);
  long total_error = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const Rgba& want = image.at(x, y);
      const Rgba& got = indexed.palette[indexed.indices[static_cast<std::size_t>(y * 64 + x)]];
      total_error += std::abs(want.r - got.r) + std::abs(want.g - got.g) + std::abs(want.b - got.b);
    }
  }
  EXPECT_LT(static_cast<double>(total_error) / (64 * 64 * 3), 12.0);
}

// ---- generator -------------------------------------------------------------

class ArtworkGenerator : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("ticklark-artwork-" + std::to_string(getpid()));
    fs::remove_all(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  int Run(const std::string& arguments) {
    const std::string command = std::string("'") + TICKLARK_ARTWORK_GENERATOR + "' " + arguments +
                                " '" + m_dir.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str());
  }

  fs::path m_dir;
};

// How far two decoded pictures of one size lie apart: the mean difference of a
// channel, and the share of pixels with a channel that differs by over 64.
struct PictureDistance {
  double mean = 0;
  double strong_share = 0;
};
PictureDistance Distance(GdkPixbuf* a, GdkPixbuf* b) {
  const int w = gdk_pixbuf_get_width(a);
  const int h = gdk_pixbuf_get_height(a);
  long total = 0;
  long strong = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgba p = PixelAt(a, x, y);
      const Rgba q = PixelAt(b, x, y);
      const int d[] = {std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b),
                       std::abs(p.a - q.a)};
      total += d[0] + d[1] + d[2] + d[3];
      strong += *std::max_element(std::begin(d), std::end(d)) > 64 ? 1 : 0;
    }
  }
  const double pixels = static_cast<double>(w) * h;
  return {static_cast<double>(total) / (4 * pixels), static_cast<double>(strong) / pixels};
}

// Another cairo, pango or FreeType writes other bytes for the same drawing
// (the SVG's ids, a glyph's edge), so the drawn files are compared as
// pictures: the same files, each of the same size and file length where the
// format is fixed by its header, and the same pixels within a small tolerance.
TEST_F(ArtworkGenerator, DrawsTheCommittedPictures) {
  ASSERT_EQ(Run(""), 0);
  std::vector<std::string> drawn;
  for (const auto& entry : fs::directory_iterator(m_dir)) {
    drawn.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(drawn.size(), std::size(kBitmaps) + std::size(kIcons) + Variants().size());
  for (const std::string& name : drawn) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(kAssets / name)) << "drawn but not committed";
    const Bytes fresh = ReadBytes(m_dir / name);
    const Bytes committed = ReadBytes(kAssets / name);
    const std::string type = fs::path(name).extension().string();
    if (type == ".bmp" || type == ".ico") {
      EXPECT_EQ(fresh.size(), committed.size());
    }
    PixbufPtr a = Decode(fresh);
    PixbufPtr b = Decode(committed);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(gdk_pixbuf_get_width(a.get()), gdk_pixbuf_get_width(b.get()));
    ASSERT_EQ(gdk_pixbuf_get_height(a.get()), gdk_pixbuf_get_height(b.get()));
    const PictureDistance d = Distance(a.get(), b.get());
    EXPECT_LT(d.mean, 2.0) << "the committed file is stale: rebuild the artwork target";
    EXPECT_LT(d.strong_share, 0.02) << "the committed file is stale: rebuild the artwork target";
  }
}

TEST_F(ArtworkGenerator, FailsCleanlyWithoutItsFonts) {
  EXPECT_NE(Run("--font-dir /nonexistent"), 0);
}

}  // namespace
}  // namespace ticklark::artwork
