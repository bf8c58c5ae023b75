#pragma once
// Triangle models read from files (OBJ, glTF 2.0 / GLB, PLY, STL) for MESH
// lines, through Assimp. A model is one solid: every mesh of the file, with
// its node transforms applied, as one list of triangles. No OpenGL here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovimar {

struct SceneModel;
struct RgbImage;  // io/texture_image.h

// A material of a model file, as drawn when a MESH line keeps the model's
// own materials: its diffuse colour (glTF's base colour factor) and its
// diffuse texture, which the colour multiplies.
struct ModelMaterial {
  std::array<float, 3> diffuse{1.0f, 1.0f, 1.0f};
  std::shared_ptr<const RgbImage> texture;  // null: none
};

// A run of consecutive triangles with one material.
struct ModelPart {
  std::size_t firstTriangle = 0;
  std::size_t triangleCount = 0;
  std::size_t material = 0;  // index into MeshModel::materials
};

// The triangles of a model, three corners each, in the model's own units.
struct MeshModel {
  std::vector<float> positions;  // x, y, z per corner
  std::vector<float> normals;    // unit normal per corner
  std::vector<float> texCoords;  // s, t per corner
  // The texture coordinates are the model's own (its first set); else the
  // box projection (BoxProjection below) made them.
  bool ownTexCoords = false;
  // r, g, b per corner (0..1): the model's vertex colour (its first set)
  // where its mesh has them, else its material's diffuse colour.
  std::vector<float> colours;
  std::vector<ModelMaterial> materials;
  // Every triangle in order, one part per mesh of the file as drawn. A
  // model is drawn one part at a time whatever its look, so that its depth
  // never depends on whether its own materials are used.
  std::vector<ModelPart> parts;
  std::size_t TriangleCount() const { return positions.size() / 9; }
};

// What a model file may be: larger files and models with more triangles are
// refused before they are drawn.
inline constexpr uint64_t kMaxModelFileBytes = 256ull << 20;
inline constexpr std::size_t kMaxModelTriangles = 5'000'000;
// A texture file a model names may hold this many bytes at most; its sides
// are limited by kMaxTextureSide (io/texture_image.h).
inline constexpr uint64_t kMaxTextureFileBytes = 64ull << 20;

// The extensions read (lower case, any case in a file name).
inline constexpr const char* kModelExtensions[] = {"obj", "gltf", "glb", "ply", "stl"};

// The box projection for models without texture coordinates: a triangle
// takes the two axes other than its normal's largest component (ties go to
// the lower axis: x before y before z), in axis order, and each corner's
// coordinates on them scaled to 0..1 across the model's bounding box (0 along
// an axis the box has no extent in). Every face of an axis-aligned box
// shows the texture once, as a cuboid's faces do.
void BoxProjection(MeshModel& model);

// A model as the scene holds it: the file as the line wrote it, the file it
// resolved to, the SHA-256 of its bytes and its triangles.
struct LoadedModel {
  std::string resolvedFile;
  std::string sha256;
  std::shared_ptr<const MeshModel> model;
};

// Reads the model at `path` (already resolved). Each file is read once per
// process while its bytes stay the same: a second load of the same path
// with the same SHA-256 gives the same model. Throws Error with the reason
// alone (the caller adds the scene line and the file): a format that is not
// read, a file that is missing, not a regular file, empty or too large, a
// file Assimp cannot read, no triangles, too many, a vertex that is not
// finite, an index out of range, a texture (a file beside the model or one
// the file holds) that is missing, too large or not a readable PNG or JPEG.
// Without textures (a model drawn with a Tovimar texture or colour, which
// shows none of its pictures) the texture files are not read, so a model
// whose pictures are missing can still be used that way.
LoadedModel LoadModelFile(const std::string& path, bool withTextures = true);

// How many different models LoadModelFile has read in this process.
std::size_t LoadedModelCount();

// Forgets the models read so far (they stay alive while a scene holds
// them): for a process that reads many files once each, such as the
// loader's fuzzer.
void ForgetLoadedModels();

}  // namespace tovimar
