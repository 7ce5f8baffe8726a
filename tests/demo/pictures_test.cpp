// The demo's picture helpers: PNG files that read back exactly and are refused when damaged,
// the anaglyph's channel assignment, and the plot's axis ticks.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image.h"
#include "plot.h"
#include "png_io.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using vrdemo::Image;
using vrdemo::Rgb;

using TempDir = vr_test::TempDir;

Image gradient(int w, int h) {
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.set(x, y,
              {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 13),
               static_cast<std::uint8_t>((x + y) * 3)});
  return img;
}

std::vector<char> read_file(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path &p, const std::vector<char> &bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(Png, WrittenPictureReadsBackPixelForPixel) {
  TempDir dir("vrdemo-pictures");
  ASSERT_FALSE(dir.path().empty());
  const Image img = gradient(37, 23);
  std::string error;
  ASSERT_TRUE(vrdemo::write_png((dir.path() / "a.png").string(), img, &error)) << error;
  Image back;
  ASSERT_TRUE(vrdemo::read_png((dir.path() / "a.png").string(), &back, &error)) << error;
  EXPECT_EQ(back.width, 37);
  EXPECT_EQ(back.height, 23);
  EXPECT_EQ(back.pixels, img.pixels);
}

TEST(Png, DamagedOrForeignFilesAreRefusedWithAReason) {
  TempDir dir("vrdemo-pictures");
  ASSERT_FALSE(dir.path().empty());
  const fs::path good = dir.path() / "good.png";
  ASSERT_TRUE(vrdemo::write_png(good.string(), gradient(64, 48)));
  const std::vector<char> bytes = read_file(good);
  ASSERT_GT(bytes.size(), 100u);

  Image out;
  std::string error;
  EXPECT_FALSE(vrdemo::read_png((dir.path() / "missing.png").string(), &out, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);

  write_file(dir.path() / "text.png", {'h', 'e', 'l', 'l', 'o', ' ', 'p', 'n', 'g', '\n'});
  error.clear();
  EXPECT_FALSE(vrdemo::read_png((dir.path() / "text.png").string(), &out, &error));
  EXPECT_NE(error.find("not a PNG"), std::string::npos);

  // Cut short in the middle of the image data.
  write_file(dir.path() / "short.png", {bytes.begin(), bytes.begin() + bytes.size() / 2});
  error.clear();
  EXPECT_FALSE(vrdemo::read_png((dir.path() / "short.png").string(), &out, &error));
  EXPECT_FALSE(error.empty());

  // One flipped bit in the image data: the chunk's checksum no longer matches.
  std::vector<char> flipped = bytes;
  flipped[bytes.size() / 2] ^= 0x10;
  write_file(dir.path() / "flipped.png", flipped);
  error.clear();
  EXPECT_FALSE(vrdemo::read_png((dir.path() / "flipped.png").string(), &out, &error));
  EXPECT_FALSE(error.empty());

  // A failed read leaves the caller's picture alone.
  Image kept(3, 2, {1, 2, 3});
  EXPECT_FALSE(vrdemo::read_png((dir.path() / "flipped.png").string(), &kept, nullptr));
  EXPECT_EQ(kept.width, 3);
  EXPECT_EQ(kept.height, 2);
}

TEST(Png, UnwritablePlaceAndEmptyPictureFail) {
  std::string error;
  EXPECT_FALSE(vrdemo::write_png("/nonexistent-folder/x.png", gradient(4, 4), &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
  TempDir dir("vrdemo-pictures");
  EXPECT_FALSE(vrdemo::write_png((dir.path() / "empty.png").string(), Image(), &error));
}

TEST(Anaglyph, LeftViewGoesToRedAsLuminanceRightViewKeepsGreenAndBlue) {
  Image left(2, 1), right(2, 1);
  left.set(0, 0, {255, 0, 0});
  left.set(1, 0, {0, 0, 255});
  right.set(0, 0, {10, 20, 30});
  right.set(1, 0, {200, 100, 50});
  const Image a = vrdemo::make_anaglyph(left, right);
  ASSERT_EQ(a.width, 2);
  EXPECT_EQ(a.get(0, 0).r, 76);  // 0.299 * 255
  EXPECT_EQ(a.get(1, 0).r, 29);  // 0.114 * 255
  EXPECT_EQ(a.get(0, 0).g, 20);
  EXPECT_EQ(a.get(0, 0).b, 30);
  EXPECT_EQ(a.get(1, 0).g, 100);
  EXPECT_EQ(a.get(1, 0).b, 50);
  EXPECT_TRUE(vrdemo::make_anaglyph(Image(2, 1), Image(3, 1)).empty());
}

TEST(Pictures, DownscaleAveragesBlocksIncludingTheRaggedEdge) {
  Image img(3, 1);
  img.set(0, 0, {0, 0, 0});
  img.set(1, 0, {100, 100, 100});
  img.set(2, 0, {31, 31, 31});
  const Image half = vrdemo::downscale(img, 2);
  ASSERT_EQ(half.width, 2);
  ASSERT_EQ(half.height, 1);
  EXPECT_EQ(half.get(0, 0).r, 50);
  EXPECT_EQ(half.get(1, 0).r, 31);
}

TEST(Pictures, DrawingOutsideThePictureIsClipped) {
  Image img(10, 10, {0, 0, 0});
  vrdemo::fill_rect(img, -5, -5, 8, 8, {255, 255, 255});
  vrdemo::draw_text(img, 7, 7, "X\x01", {9, 9, 9}, 30.0);
  vrdemo::draw_text(img, -40, -20, "far out", {9, 9, 9}, 30.0);
  vrdemo::draw_line(img, -100, -100, 100, 100, 3.0, {1, 2, 3});
  vrdemo::blit(img, Image(20, 20, {5, 5, 5}), 8, -3);
  EXPECT_EQ(img.get(9, 0).r, 5);
  EXPECT_EQ(vrdemo::text_width("", 20.0), 0);
}

// Captions are outline text blended over the picture: drawn in their colour inside the box that
// text_width and text_height promise, leaving every pixel the glyphs do not cover exactly as it
// was (also where the picture is not uniform, so that a channel swapped on the way through cairo
// would show). What the glyphs cover is found by drawing the same text on black.
TEST(Pictures, CaptionsAreDrawnInsideTheirBoxOverThePicture) {
  constexpr double size_px = 16.0;
  constexpr const char *caption = "Wq 0.5 cm";
  const int x = 6, y = 5;
  const Image before = gradient(120, 40);
  Image img = before, mask(before.width, before.height, {0, 0, 0});
  const int end = vrdemo::draw_text(img, x, y, caption, {255, 255, 255}, size_px);
  vrdemo::draw_text(mask, x, y, caption, {255, 255, 255}, size_px);
  const int w = vrdemo::text_width(caption, size_px), h = vrdemo::text_height(size_px);
  EXPECT_EQ(end, x + w);
  EXPECT_GT(w, vrdemo::text_width("Wq", size_px));
  EXPECT_GT(vrdemo::text_width("Wq", 2 * size_px), vrdemo::text_width("Wq", size_px));
  EXPECT_GE(h, size_px);
  ASSERT_LT(x + w + 3, img.width);
  ASSERT_LT(y + h, img.height);
  int covered = 0, white = 0;
  for (int py = 0; py < img.height; ++py)
    for (int px = 0; px < img.width; ++px) {
      const vrdemo::Rgb a = before.get(px, py), b = img.get(px, py), m = mask.get(px, py);
      const bool inside = px >= x - 2 && px < x + w + 2 && py >= y && py < y + h;
      if (m.r == 0 && m.g == 0 && m.b == 0) {
        EXPECT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b)
            << "pixel " << px << ", " << py << " not under the text changed";
        continue;
      }
      EXPECT_TRUE(inside) << "pixel " << px << ", " << py << " drawn outside the text's box";
      ++covered;
      white += b.r == 255 && b.g == 255 && b.b == 255;
    }
  EXPECT_GT(covered, 30);
  EXPECT_GT(white, 10);  // glyph stems at full coverage
}

TEST(Plot, TicksAreRoundNumbersCoveringTheRange) {
  double step = 0;
  auto ticks = vrdemo::nice_ticks(0.017, 10.0, 10, &step);
  EXPECT_DOUBLE_EQ(step, 1.0);
  ASSERT_FALSE(ticks.empty());
  EXPECT_DOUBLE_EQ(ticks.front(), 1.0);
  EXPECT_DOUBLE_EQ(ticks.back(), 10.0);
  ticks = vrdemo::nice_ticks(-0.37, 0.52, 5, &step);
  EXPECT_DOUBLE_EQ(step, 0.2);
  EXPECT_NEAR(ticks.front(), -0.2, 1e-12);
  EXPECT_NEAR(ticks.back(), 0.4, 1e-12);
  EXPECT_TRUE(vrdemo::nice_ticks(3.0, 3.0, 5, &step).empty());
  EXPECT_TRUE(vrdemo::nice_ticks(0.0, NAN, 5, &step).empty());
}

TEST(Plot, SeriesWithGapsAndFlatValuesStillDraw) {
  vrdemo::PlotPanel panel{"flat", "cm", {{"a", {200, 0, 0}, 2.0, {0, 1, 2, 3}, {5, 5, NAN, 5}}}};
  const Image img = vrdemo::render_plot({"t", "x", 400, 100}, {panel, vrdemo::PlotPanel{}});
  ASSERT_FALSE(img.empty());
  int red = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (img.get(x, y).r > 150 && img.get(x, y).g < 80) ++red;
  EXPECT_GT(red, 100);

  // A run of one frame: a single point on a zero-width time axis is still drawn, as a dot.
  vrdemo::PlotPanel single{"one", "cm", {{"b", {0, 0, 200}, 2.0, {0.5}, {7.0}}}};
  const Image dot = vrdemo::render_plot({"t", "x", 400, 100}, {single});
  int blue = 0;
  for (int y = 40; y < dot.height; ++y)  // below the legend's sample line
    for (int x = 0; x < dot.width; ++x)
      if (dot.get(x, y).b > 150 && dot.get(x, y).r < 80) ++blue;
  EXPECT_GT(blue, 8);
}

}  // namespace
