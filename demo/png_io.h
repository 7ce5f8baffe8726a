// PNG files through libpng: 8-bit RGB out, and a strict reader that the tests use to prove that
// what the demo wrote is a complete, valid picture.
#pragma once

#include <string>

#include "image.h"

namespace vrdemo {

// Writes img as an 8-bit RGB PNG. False, with the reason in *error when given, if the file
// cannot be created or written completely.
bool write_png(const std::string &path, const Image &img, std::string *error = nullptr);

// Reads a whole PNG (any colour type is converted to 8-bit RGB). False, with the reason, if the
// file is missing, not a PNG, truncated or corrupt (libpng checks every chunk's CRC).
bool read_png(const std::string &path, Image *out, std::string *error = nullptr);

}  // namespace vrdemo
