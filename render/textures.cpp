#include "render/textures.h"

#include <filesystem>
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
