#pragma once
// Pictures that models carry as textures: PNG (libpng, any colour type and
// depth) and JPEG (libjpeg-turbo), told apart by their first bytes, decoded
// to 8-bit RGB. An alpha channel is dropped (models are drawn opaque).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovimar {

// Largest width or height of a texture picture.
inline constexpr int kMaxTextureSide = 8192;

struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top row first, 3 bytes per pixel
};

// Decodes PNG or JPEG bytes. Returns "" or why they are refused: neither
// format, damaged or cut short, a side of 0 or past kMaxTextureSide.
std::string DecodeTextureImage(const uint8_t* data, std::size_t size, RgbImage& image);

}  // namespace tovimar
