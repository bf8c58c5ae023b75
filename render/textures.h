#pragma once
// Texture files: eleven bitmaps tex0.bmp .. tex10.bmp, each turned into a
// 128 x 128 RGBA texture image.
#include <cstdint>
#include <string>
#include <vector>

namespace tovimar {

inline constexpr int kTextureCount = 11;
inline constexpr int kTextureSize = 128;

// "<directory>/tex<n>.bmp".
std::string TexturePath(const std::string& directory, int n);

// The folder of the textures that ship with the program, or "" when none is
// found. Looked for, in order, next to the executable
// (<exe dir>/../share/tovimar/assets, <exe dir>/../assets, <exe dir>/assets)
// and in the source tree's assets/ folder that the build recorded.
std::string BundledTextureDirectory();

// The folder to load from: startDirectory when it holds tex0.bmp, otherwise
// the bundled textures' folder, otherwise startDirectory (whose missing file
// is then reported).
std::string ChooseTextureDirectory(const std::string& startDirectory);

// Reads a bitmap (any format stb_image reads: BMP of 1 to 32 bits, also PNG
// and others) and returns the 128 x 128 texture image, 4 bytes per texel
// (red, green, blue, 255), rows of 512 bytes: texel row x, column y holds the
// bitmap pixel at column x, row y counted from the top (the top-left corner,
// transposed); pixels outside a smaller bitmap read as white.
// Throws tovimar::Error naming the file when it cannot be read.
std::vector<uint8_t> LoadTextureImage(const std::string& path);

}  // namespace tovimar
