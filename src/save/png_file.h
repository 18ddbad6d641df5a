// Encoding pictures as PNG through libpng. Kept out of the save library so
// that programs which never write pictures do not link libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "save/images.h"

/// The image as an 8-bit RGBA PNG; false with a reason when libpng fails.
bool encode_png(const rgba_image& image, std::vector<std::uint8_t>& png, std::string& error);
