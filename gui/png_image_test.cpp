#include "gui/png_image.h"

#include <gtest/gtest.h>

#include <vector>

#include "gui/embedded_images.h"

namespace gui {
namespace {

TEST(PngImageTest, DecodesTheBuiltInPicturesAtTheirSizes) {
  auto logo = DecodePng(akqp_logo_png, akqp_logo_png_size);
  ASSERT_TRUE(logo.has_value());
  EXPECT_EQ(logo->width, 450);
  EXPECT_EQ(logo->height, 156);
  EXPECT_EQ(logo->pixels.size(), 450u * 156u * 4u);

  auto link = DecodePng(akqp_link_png, akqp_link_png_size);
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->width, 16);
  EXPECT_EQ(link->height, 16);
  // The icon's corner is transparent, so the button's face shows around the links.
  EXPECT_EQ(link->pixels[3], 0);
}

TEST(PngImageTest, RefusesDamagedData) {
  EXPECT_FALSE(DecodePng(nullptr, 0).has_value());
  const std::vector<uint8_t> junk(64, 0x42);
  EXPECT_FALSE(DecodePng(junk.data(), junk.size()).has_value());
  // Cut at several places: in the header, in the picture data, before the end.
  for (size_t cut : {8u, 20u, 40u, 200u, 2000u}) {
    ASSERT_LT(cut, akqp_logo_png_size);
    EXPECT_FALSE(DecodePng(akqp_logo_png, cut).has_value()) << "cut at " << cut;
  }
  // A flipped byte in the compressed data breaks its checksum.
  std::vector<uint8_t> damaged(akqp_logo_png, akqp_logo_png + akqp_logo_png_size);
  damaged[damaged.size() / 2] ^= 0xFF;
  EXPECT_FALSE(DecodePng(damaged.data(), damaged.size()).has_value());
}

TEST(PngImageTest, RefusesPicturesLargerThanTheLimit) {
  EXPECT_FALSE(DecodePng(akqp_logo_png, akqp_logo_png_size, 450 * 155).has_value());
  EXPECT_TRUE(DecodePng(akqp_logo_png, akqp_logo_png_size, 450 * 156).has_value());
}

}  // namespace
}  // namespace gui
