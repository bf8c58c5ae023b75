#pragma once
// Triangle models read from files (OBJ, glTF 2.0 / GLB, PLY, STL) for MESH
// lines, through Assimp. A model is one solid: every mesh of the file, with
// its node transforms applied, as one list of triangles. No OpenGL here.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovimar {

struct SceneModel;

// The triangles of a model, three corners each, in the model's own units.
struct MeshModel {
  std::vector<float> positions;  // x, y, z per corner
  std::vector<float> normals;    // unit normal per corner
  std::vector<float> texCoords;  // s, t per corner
  // The texture coordinates are the model's own (its first set); else the
  // box projection (BoxProjection below) made them.
  bool ownTexCoords = false;
  std::size_t TriangleCount() const { return positions.size() / 9; }
};

// What a model file may be: larger files and models with more triangles are
// refused before they are drawn.
inline constexpr uint64_t kMaxModelFileBytes = 256ull << 20;
inline constexpr std::size_t kMaxModelTriangles = 5'000'000;

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
// finite, an index out of range.
LoadedModel LoadModelFile(const std::string& path);

// How many different models LoadModelFile has read in this process.
std::size_t LoadedModelCount();

}  // namespace tovimar
