#pragma once
// Texture files: eleven bitmaps tex0.bmp .. tex10.bmp, each turned into a
// 128 x 128 RGBA texture image.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/file.h"

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

// Reads a BMP file (io/bmp.h says which kinds; anything else, PNG or GIF
// under a .bmp name included, is refused) and returns the 128 x 128 texture
// image, 4 bytes per texel (red, green, blue, 255), rows of 512 bytes: texel
// row x, column y holds the bitmap pixel at column x, row y counted from the
// top (the top-left corner, transposed); pixels outside a smaller bitmap read
// as white. Only that corner of the file is read. Throws tovimar::Error
// naming the file when it does not exist or "is not a readable bitmap".
std::vector<uint8_t> LoadTextureImage(const std::string& path);

// Texture images by path, each file read once for as long as it stays the
// same file with the same size and times; a changed file is read again.
class TextureCache {
 public:
  // LoadTextureImage(path), from the cache when the file is unchanged. The
  // reference stays valid until the next Load of the same path.
  const std::vector<uint8_t>& Load(const std::string& path);
  // How many times a file was opened and decoded.
  int FilesRead() const { return filesRead_; }

 private:
  struct Entry {
    FileIdentity identity;
    std::vector<uint8_t> image;
  };
  std::map<std::string, Entry> entries_;
  int filesRead_ = 0;
};

}  // namespace tovimar
