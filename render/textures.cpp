#include "render/textures.h"

#include <filesystem>
#include <system_error>

#include "io/bmp.h"
#include "io/bundled.h"
#include "layout/file_names.h"
#include "scene/notifier.h"

namespace tovimar {
namespace fs = std::filesystem;

namespace {

bool HasFirstTexture(const fs::path& directory) {
  std::error_code ec;
  return fs::is_regular_file(directory / "tex0.bmp", ec);
}

// The texture image of a decoded top-left corner (see LoadTextureImage).
std::vector<uint8_t> TextureFromPicture(const RgbPicture& picture) {
  std::vector<uint8_t> image(static_cast<std::size_t>(kTextureSize) * kTextureSize * 4, 255);
  for (int x = 0; x < picture.width; ++x) {
    for (int y = 0; y < picture.height; ++y) {
      uint8_t* texel = &image[(static_cast<std::size_t>(x) * kTextureSize + y) * 4];
      const uint8_t* p = &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
      texel[0] = p[0];
      texel[1] = p[1];
      texel[2] = p[2];
    }
  }
  // outside a smaller bitmap: white, as the image was filled
  return image;
}

std::vector<uint8_t> LoadTexture(const std::string& path, FileIdentity* identity) {
  try {
    return TextureFromPicture(LoadBmpTopLeft(path, kTextureSize, kTextureSize, identity));
  } catch (const Error& e) {
    throw Error("Texture file " + e.message());
  }
}

}  // namespace

std::string TexturePath(const std::string& directory, int n) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + TextureFileName(n);
}

std::string BundledTextureDirectory() { return FindBundledFolder("assets", "tex0.bmp"); }

std::string ChooseTextureDirectory(const std::string& startDirectory) {
  if (HasFirstTexture(startDirectory.empty() ? fs::path(".") : fs::path(startDirectory))) return startDirectory;
  std::string bundled = BundledTextureDirectory();
  return bundled.empty() ? startDirectory : bundled;
}

std::vector<uint8_t> LoadTextureImage(const std::string& path) { return LoadTexture(path, nullptr); }

const std::vector<uint8_t>& TextureCache::Load(const std::string& path) {
  FileIdentity now;
  const FileKind kind = InspectFile(path, &now);
  auto it = entries_.find(path);
  if (kind == FileKind::Regular && it != entries_.end() && it->second.identity == now) return it->second.image;
  if (it != entries_.end()) entries_.erase(it);
  Entry entry;
  ++filesRead_;
  entry.image = LoadTexture(path, &entry.identity);
  return entries_.insert_or_assign(path, std::move(entry)).first->second.image;
}

}  // namespace tovimar
