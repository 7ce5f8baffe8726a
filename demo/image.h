// RGB images in memory and the few operations the demo's pictures need: anaglyph composition,
// down-scaling, copying tiles into a sheet, filled rectangles and text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vrdemo {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

// Rows run from the top of the picture down, three bytes per pixel, no padding.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  Image() = default;
  Image(int w, int h, Rgb fill = {});

  bool empty() const { return width <= 0 || height <= 0; }
  std::uint8_t *at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
  const std::uint8_t *at(int x, int y) const {
    return &pixels[(static_cast<size_t>(y) * width + x) * 3];
  }
  Rgb get(int x, int y) const {
    const std::uint8_t *p = at(x, y);
    return {p[0], p[1], p[2]};
  }
  // Writes one pixel; coordinates outside the picture are ignored.
  void set(int x, int y, Rgb c);
  // Mixes colour c into one pixel with coverage a in [0, 1]; outside the picture is ignored.
  void blend(int x, int y, Rgb c, double a);
};

// Red/cyan anaglyph for glasses with the red filter over the left eye. The left view enters the
// red channel as its luminance (half-colour anaglyph), so saturated reds of the scene do not
// leak into one eye only; the right view keeps its green and blue. Both views must be the same
// size; an empty image is returned otherwise.
Image make_anaglyph(const Image &left, const Image &right);

// Averages factor x factor blocks (the last partial row or column is averaged over what exists).
Image downscale(const Image &src, int factor);

// Copies src into dst with its top left corner at (x, y), clipped to dst.
void blit(Image &dst, const Image &src, int x, int y);

void fill_rect(Image &img, int x, int y, int w, int h, Rgb c);

// Text in the plots' outline font, drawn with cairo and blended over the picture, clipped to it.
// size_px is the font's size in pixels; (x, y) is the top left corner of the text's line, which
// is text_height(size_px) tall. Printable ASCII; any other byte is drawn as '?'. Returns the x
// just past the text.
int draw_text(Image &img, int x, int y, std::string_view text, Rgb c, double size_px);
// Width in pixels that draw_text needs for text (0 for none).
int text_width(std::string_view text, double size_px);
// Height in pixels of a line of text at this size.
int text_height(double size_px);

}  // namespace vrdemo
