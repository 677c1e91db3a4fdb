#include "gui/png_image.h"

#include <png.h>

#include <cstring>

namespace gui {

std::optional<RgbaImage> DecodePng(const uint8_t* data, size_t size, size_t max_pixels) {
  if (data == nullptr || size == 0) return std::nullopt;
  // libpng's simplified interface reports every error through its result, so no longjmp
  // crosses this function.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) {
    png_image_free(&image);
    return std::nullopt;
  }
  if (image.width == 0 || image.height == 0 ||
      static_cast<size_t>(image.width) > max_pixels / image.height) {
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGBA;
  RgbaImage result;
  result.width = static_cast<int>(image.width);
  result.height = static_cast<int>(image.height);
  result.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return result;
}

}  // namespace gui
