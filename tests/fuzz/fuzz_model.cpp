// Fuzzes the model loader with arbitrary files: the first byte chooses the
// format (its value modulo 5: OBJ, PLY, STL, glTF, GLB), the rest is the
// file, written to a folder of this process and loaded as a MESH line's
// model is. A refusal is an Error; any crash, sanitizer report or broken
// invariant of an accepted model (arrays of other lengths than its triangle
// count gives, a corner that is not finite, parts that do not cover the
// triangles in order, a material or texture picture out of shape) is a
// finding.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/error.h"
#include "io/texture_image.h"
#include "scene/mesh_model.h"

namespace {

using namespace tovimar;

[[noreturn]] void Fail() { std::abort(); }

void CheckFinite(const std::vector<float>& values, float low, float high) {
  for (float v : values) {
    if (!std::isfinite(v) || v < low || v > high) Fail();
  }
}

void Check(const MeshModel& m) {
  const std::size_t corners = m.TriangleCount() * 3;
  if (corners == 0 || m.positions.size() != corners * 3 || m.normals.size() != corners * 3 ||
      m.texCoords.size() != corners * 2 || m.colours.size() != corners * 3)
    Fail();
  CheckFinite(m.positions, -3.0e38f, 3.0e38f);
  CheckFinite(m.normals, -1.0001f, 1.0001f);
  CheckFinite(m.colours, 0.0f, 1.0f);
  std::size_t next = 0;
  for (const ModelPart& part : m.parts) {
    if (part.firstTriangle != next || part.triangleCount == 0 || part.material >= m.materials.size()) Fail();
    next += part.triangleCount;
  }
  if (next != m.TriangleCount()) Fail();
  for (const ModelMaterial& material : m.materials) {
    if (material.texture == nullptr) continue;
    const RgbImage& picture = *material.texture;
    if (picture.width < 1 || picture.height < 1 || picture.width > kMaxTextureSide ||
        picture.height > kMaxTextureSide ||
        picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
      Fail();
  }
}

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path f =
        std::filesystem::temp_directory_path() / ("tovimar-fuzz-model-" + std::to_string(::getpid()));
    std::filesystem::create_directories(f);
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kExtensions[] = {"obj", "ply", "stl", "gltf", "glb"};
  const std::string path = (Folder() / (std::string("model.") + kExtensions[data[0] % 5])).string();
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  try {
    const LoadedModel loaded = LoadModelFile(path);
    if (loaded.model == nullptr || loaded.sha256.size() != 64) Fail();
    Check(*loaded.model);
  } catch (const Error& e) {
    if (e.message().empty()) Fail();
  }
  ForgetLoadedModels();  // every input is a new file: keep the memory flat
  std::filesystem::remove(path);
  return 0;
}
