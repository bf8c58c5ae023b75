#include "render/textures.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "scene/notifier.h"

// Bitmaps far larger than anything a texture needs are refused before they
// are decoded (only the top-left 128 x 128 pixels are used).
#define STBI_MAX_DIMENSIONS (1 << 15)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#ifndef TOVIMAR_ASSET_DIR
#define TOVIMAR_ASSET_DIR ""
#endif

namespace tovimar {
namespace fs = std::filesystem;

namespace {

bool HasFirstTexture(const fs::path& directory) {
  std::error_code ec;
  return fs::is_regular_file(directory / "tex0.bmp", ec);
}

uint32_t Little(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | p[k];
  return v;
}

// For an uncompressed BMP, the reason it cannot be read in full: its pixel
// rows end past the end of the file. The decoder would read the missing rows
// as black without a word, and a small file claiming a huge picture would
// make it allocate and fill that picture. "" for every other file.
std::string TruncatedBmpReason(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char h[30] = {};
  if (!file.read(reinterpret_cast<char*>(h), sizeof h) || h[0] != 'B' || h[1] != 'M') return {};
  const uint64_t offset = Little(h + 10, 4);
  const uint32_t headerSize = Little(h + 14, 4);
  uint64_t width = 0, height = 0, bits = 0, compression = 0;
  if (headerSize == 12) {  // OS/2 core header
    width = Little(h + 18, 2);
    height = Little(h + 20, 2);
    bits = Little(h + 24, 2);
  } else {
    char more[4] = {};
    if (!file.read(more, sizeof more)) return {};
    width = static_cast<uint64_t>(std::llabs(static_cast<int32_t>(Little(h + 18, 4))));
    height = static_cast<uint64_t>(std::llabs(static_cast<int32_t>(Little(h + 22, 4))));
    bits = Little(h + 28, 2);
    compression = Little(reinterpret_cast<const unsigned char*>(more), 4);
  }
  // Only plain pixel rows (no compression, or bit fields) have a known size;
  // pictures past the decoder's limit are refused by the decoder itself.
  if (compression != 0 && compression != 3 && compression != 6) return {};
  if (width > STBI_MAX_DIMENSIONS || height > STBI_MAX_DIMENSIONS) return {};
  const uint64_t rowBytes = (width * bits + 31) / 32 * 4;
  const uint64_t needed = offset + rowBytes * height;
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec || size >= needed) return {};
  return "truncated: its " + std::to_string(width) + " x " + std::to_string(height) + " pixels need " +
         std::to_string(needed) + " bytes, the file has " + std::to_string(size);
}

}  // namespace

std::string TexturePath(const std::string& directory, int n) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += "tex";
  path += std::to_string(n);
  path += ".bmp";
  return path;
}

std::string BundledTextureDirectory() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path dir = exe.parent_path();
    for (const fs::path& candidate : {dir / ".." / "share" / "tovimar" / "assets", dir / ".." / "assets", dir / "assets"}) {
      if (HasFirstTexture(candidate)) return candidate.lexically_normal().string();
    }
  }
  const fs::path source(TOVIMAR_ASSET_DIR);
  if (!source.empty() && HasFirstTexture(source)) return source.string();
  return {};
}

std::string ChooseTextureDirectory(const std::string& startDirectory) {
  if (HasFirstTexture(startDirectory.empty() ? fs::path(".") : fs::path(startDirectory))) return startDirectory;
  std::string bundled = BundledTextureDirectory();
  return bundled.empty() ? startDirectory : bundled;
}

std::vector<uint8_t> LoadTextureImage(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    throw Error("Texture file '" + path + "' does not exist");
  }
  const std::string truncated = TruncatedBmpReason(path);
  if (!truncated.empty()) {
    throw Error("Texture file '" + path + "' is not a readable bitmap (" + truncated + ")");
  }
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
  if (pixels == nullptr) {
    const char* reason = stbi_failure_reason();
    throw Error("Texture file '" + path + "' is not a readable bitmap (" + (reason ? reason : "unknown error") + ")");
  }
  std::vector<uint8_t> image(static_cast<std::size_t>(kTextureSize) * kTextureSize * 4, 255);
  for (int x = 0; x < kTextureSize; ++x) {
    for (int y = 0; y < kTextureSize; ++y) {
      uint8_t* texel = &image[(static_cast<std::size_t>(x) * kTextureSize + y) * 4];
      if (x < width && y < height) {
        const stbi_uc* p = pixels + (static_cast<std::size_t>(y) * width + x) * 3;
        texel[0] = p[0];
        texel[1] = p[1];
        texel[2] = p[2];
      }
      // outside a smaller bitmap: white, as the image was filled
    }
  }
  stbi_image_free(pixels);
  return image;
}

}  // namespace tovimar
