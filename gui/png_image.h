// Decoding of the program's built-in PNG pictures into plain RGBA pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace gui {

struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 4 bytes, rows top to bottom
};

// Decodes a PNG held in memory. nullopt for data that is not a complete, valid PNG or
// whose picture is larger than `max_pixels` (a guard against absurd sizes in the header).
std::optional<RgbaImage> DecodePng(const uint8_t* data, size_t size,
                                   size_t max_pixels = 4096 * 4096);

}  // namespace gui
