#include "png_io.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

namespace vrdemo {

namespace {

struct FileCloser {
  void operator()(std::FILE *f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// libpng reports errors by longjmp; the message is kept here so that the caller can show it.
struct ErrorSink {
  std::string message;
};

void on_png_error(png_structp png, png_const_charp msg) {
  if (auto *sink = static_cast<ErrorSink *>(png_get_error_ptr(png))) sink->message = msg;
  png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Larger pictures than any the demo makes are refused before memory is taken for them.
constexpr png_uint_32 max_side_pixels = 16384;

void set_error(std::string *error, const std::string &text) {
  if (error) *error = text;
}

}  // namespace

bool write_png(const std::string &path, const Image &img, std::string *error) {
  if (img.empty()) {
    set_error(error, "empty image for " + path);
    return false;
  }
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    set_error(error, "cannot create " + path);
    return false;
  }
  ErrorSink sink;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    set_error(error, "out of memory writing " + path);
    return false;
  }
  std::vector<png_bytep> rows(img.height);
  for (int y = 0; y < img.height; ++y)
    rows[y] = const_cast<png_bytep>(img.at(0, y));  // libpng's row type is not const
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    set_error(error, "writing " + path + ": " + sink.message);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, img.width, img.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  // A full disk shows up only when the buffered bytes are flushed.
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    set_error(error, "writing " + path + ": output error");
    return false;
  }
  return true;
}

bool read_png(const std::string &path, Image *out, std::string *error) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    set_error(error, "cannot open " + path);
    return false;
  }
  png_byte signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0) {
    set_error(error, path + " is not a PNG file");
    return false;
  }
  ErrorSink sink;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  png_infop end_info = info ? png_create_info_struct(png) : nullptr;
  if (!end_info) {
    png_destroy_read_struct(&png, &info, nullptr);
    set_error(error, "out of memory reading " + path);
    return false;
  }
  // What the reader fills lives on the heap: locals changed after setjmp are indeterminate once
  // libpng jumps back, while this pointer itself never changes.
  struct Decoded {
    Image img;
    std::vector<png_bytep> rows;
  };
  const auto decoded = std::make_unique<Decoded>();
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, &end_info);
    set_error(error, "reading " + path + ": " + sink.message);
    return false;
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, sizeof signature);
  png_set_user_limits(png, max_side_pixels, max_side_pixels);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_read_update_info(png, info);
  if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8) {
    png_error(png, "unsupported pixel layout");
  }
  Image &img = decoded->img;
  img = Image(static_cast<int>(png_get_image_width(png, info)),
              static_cast<int>(png_get_image_height(png, info)));
  decoded->rows.resize(img.height);
  for (int y = 0; y < img.height; ++y) decoded->rows[y] = img.at(0, y);
  png_read_image(png, decoded->rows.data());
  png_read_end(png, end_info);  // reads and checks the chunks after the image data too
  png_destroy_read_struct(&png, &info, &end_info);
  *out = std::move(img);
  return true;
}

}  // namespace vrdemo
