// The PNG and JPEG decoder of model textures: what it gives and what it
// refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "io/png.h"
#include "io/texture_image.h"

namespace tovimar {
namespace {

std::string Decode(const std::string& bytes, RgbImage& image) {
  return DecodeTextureImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image);
}

TEST(ModelTexturePicture, GreyPngIsGivenAsRgbTopRowFirst) {
  const uint8_t grey[2 * 3] = {0, 50, 100, 150, 200, 250};  // 3 x 2
  RgbImage image;
  ASSERT_EQ(Decode(EncodePng8(grey, 3, 2, 1), image), "");
  ASSERT_EQ(image.width, 3);
  ASSERT_EQ(image.height, 2);
  for (std::size_t k = 0; k < 6; ++k) {
    for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(image.rgb[k * 3 + c], grey[k]) << k;
  }
}

TEST(ModelTexturePicture, DamagedOrForeignBytesAreRefusedWithTheReason) {
  std::vector<uint8_t> wide(8193, 7);
  const std::string png = EncodePng8(wide.data(), 64, 128, 1);
  std::string jpeg;
  const std::string spider = "/usr/share/assimp/models/OBJ/SpiderTex.jpg";
  if (std::ifstream in(spider, std::ios::binary); in) {
    jpeg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    RgbImage whole;
    EXPECT_EQ(Decode(jpeg, whole), "");
    EXPECT_GT(whole.width, 0);
  }
  const std::pair<std::string, std::string> cases[] = {
      {"a text file", "it is neither a PNG nor a JPEG picture"},
      {"", "it is neither a PNG nor a JPEG picture"},
      {png.substr(0, png.size() / 2), "it is not a readable PNG"},
      {png.substr(0, 12), "it is not a readable PNG"},
      {EncodePng8(wide.data(), 8193, 1, 1), "its size 8193x1 is outside 1..8192 on a side"},
      {jpeg.empty() ? std::string("\xff\xd8\xff") : jpeg.substr(0, jpeg.size() / 2), "it is not a"},
      {std::string("\xff\xd8\xff\xe0 broken", 11), "it is not a readable JPEG"},
  };
  for (const auto& [bytes, reason] : cases) {
    RgbImage image;
    const std::string why = Decode(bytes, image);
    EXPECT_TRUE(why.starts_with(reason)) << bytes.size() << " bytes: " << why;
    EXPECT_TRUE(image.rgb.empty());
  }
}

}  // namespace
}  // namespace tovimar
