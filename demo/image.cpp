#include "image.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace vrdemo {

namespace {

// Captions are set in the same outline font as the plots' labels.
constexpr const char *text_font = "sans-serif";
// Room around the text's advance box for glyphs that reach a little beyond it.
constexpr int text_overhang_px = 2;

// A cairo context with the caption font at size_px, on the given surface.
cairo_t *text_context(cairo_surface_t *surface, double size_px) {
  cairo_t *cr = cairo_create(surface);
  cairo_select_font_face(cr, text_font, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size_px);
  return cr;
}

// Printable ASCII as it is; any other byte as '?', so that cairo always gets valid UTF-8.
std::string printable(std::string_view text) {
  std::string out(text);
  for (char &ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c > 0x7e) ch = '?';
  }
  return out;
}

struct TextMetrics {
  double advance = 0;  // width the text takes along its line
  double ascent = 0;   // the font's, above the baseline
  double height = 0;   // the font's line: ascent and descent
};

TextMetrics measure(const std::string &text, double size_px) {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t *cr = text_context(surface, size_px);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return {text.empty() ? 0.0 : extents.x_advance, font.ascent, font.ascent + font.descent};
}

std::uint8_t mix(std::uint8_t under, std::uint8_t over, double a) {
  return static_cast<std::uint8_t>(std::lround(under + (over - under) * a));
}

}  // namespace

Image::Image(int w, int h, Rgb fill) : width(w), height(h) {
  pixels.resize(static_cast<size_t>(std::max(w, 0)) * std::max(h, 0) * 3);
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = fill.r;
    pixels[i + 1] = fill.g;
    pixels[i + 2] = fill.b;
  }
}

void Image::set(int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  std::uint8_t *p = at(x, y);
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
}

void Image::blend(int x, int y, Rgb c, double a) {
  if (x < 0 || y < 0 || x >= width || y >= height || !(a > 0.0)) return;
  a = std::min(a, 1.0);
  std::uint8_t *p = at(x, y);
  p[0] = mix(p[0], c.r, a);
  p[1] = mix(p[1], c.g, a);
  p[2] = mix(p[2], c.b, a);
}

Image make_anaglyph(const Image &left, const Image &right) {
  if (left.width != right.width || left.height != right.height) return {};
  Image out(left.width, left.height);
  for (size_t i = 0; i < out.pixels.size(); i += 3) {
    const double luma =
        0.299 * left.pixels[i] + 0.587 * left.pixels[i + 1] + 0.114 * left.pixels[i + 2];
    out.pixels[i] = static_cast<std::uint8_t>(std::lround(std::min(luma, 255.0)));
    out.pixels[i + 1] = right.pixels[i + 1];
    out.pixels[i + 2] = right.pixels[i + 2];
  }
  return out;
}

Image downscale(const Image &src, int factor) {
  if (factor <= 1) return src;
  const int w = (src.width + factor - 1) / factor;
  const int h = (src.height + factor - 1) / factor;
  Image out(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int sum[3] = {0, 0, 0};
      int n = 0;
      for (int sy = y * factor; sy < std::min(src.height, (y + 1) * factor); ++sy) {
        for (int sx = x * factor; sx < std::min(src.width, (x + 1) * factor); ++sx) {
          const std::uint8_t *p = src.at(sx, sy);
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
          ++n;
        }
      }
      std::uint8_t *q = out.at(x, y);
      for (int k = 0; k < 3; ++k) q[k] = static_cast<std::uint8_t>((sum[k] + n / 2) / n);
    }
  }
  return out;
}

void blit(Image &dst, const Image &src, int x, int y) {
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(dst.width, x + src.width), y1 = std::min(dst.height, y + src.height);
  for (int dy = y0; dy < y1; ++dy) {
    for (int dx = x0; dx < x1; ++dx) {
      const std::uint8_t *s = src.at(dx - x, dy - y);
      std::uint8_t *d = dst.at(dx, dy);
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
}

void fill_rect(Image &img, int x, int y, int w, int h, Rgb c) {
  for (int yy = std::max(0, y); yy < std::min(img.height, y + h); ++yy)
    for (int xx = std::max(0, x); xx < std::min(img.width, x + w); ++xx) img.set(xx, yy, c);
}

int draw_text(Image &img, int x, int y, std::string_view text, Rgb c, double size_px) {
  const std::string t = printable(text);
  const TextMetrics m = measure(t, size_px);
  const int end_x = x + static_cast<int>(std::ceil(m.advance));
  // The part of the picture the text can touch, clipped to the picture. Cairo draws on a copy
  // of it, which then goes back: the text is blended over what is there.
  const int x0 = std::max(0, x - text_overhang_px), y0 = std::max(0, y);
  const int x1 = std::min(img.width, end_x + text_overhang_px);
  const int y1 = std::min(img.height, y + static_cast<int>(std::ceil(m.height)));
  if (t.empty() || x1 <= x0 || y1 <= y0) return end_x;
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, x1 - x0, y1 - y0);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return end_x;
  }
  unsigned char *data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  auto row = [&](int yy) {
    return reinterpret_cast<std::uint32_t *>(data + static_cast<size_t>(yy - y0) * stride);
  };
  cairo_surface_flush(surface);
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx) {
      const std::uint8_t *p = img.at(xx, yy);
      row(yy)[xx - x0] = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    }
  cairo_surface_mark_dirty(surface);
  cairo_t *cr = text_context(surface, size_px);
  cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
  cairo_move_to(cr, x - x0, y - y0 + m.ascent);
  cairo_show_text(cr, t.c_str());
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx) {
      const std::uint32_t px = row(yy)[xx - x0];  // 0x00RRGGBB in native order
      img.set(xx, yy,
              Rgb{static_cast<std::uint8_t>(px >> 16), static_cast<std::uint8_t>(px >> 8),
                  static_cast<std::uint8_t>(px)});
    }
  cairo_surface_destroy(surface);
  return end_x;
}

int text_width(std::string_view text, double size_px) {
  return static_cast<int>(std::ceil(measure(printable(text), size_px).advance));
}

int text_height(double size_px) {
  return static_cast<int>(std::ceil(measure(std::string(), size_px).height));
}

}  // namespace vrdemo
