// Model files of MESH lines: what is read, what is refused and how the
// scene reports it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "io/png.h"
#include "io/texture_image.h"
#include "scene/assembly.h"
#include "scene/mesh_model.h"
#include "tests/support/temp_dir.h"

namespace tovimar {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::string kTestModels = "/usr/share/assimp/models";

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A 2 x 1 rectangle in z = 0, one polygon of four corners.
const char* kSquareObj = "v 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\nf 1 2 3 4\n";

std::string ErrorOf(const std::string& path) {
  try {
    LoadModelFile(path);
  } catch (const Error& e) {
    return e.message();
  }
  return "";
}

TEST(MeshModel, ObjPolygonsAreTriangulatedWithBoxProjectedTextureCoordinates) {
  const TempDir dir;
  WriteText(dir / "square.obj", kSquareObj);
  const LoadedModel loaded = LoadModelFile(dir / "square.obj");
  const MeshModel& m = *loaded.model;
  ASSERT_EQ(m.TriangleCount(), 2u);
  EXPECT_FALSE(m.ownTexCoords);
  // Facing z: the texture spans x and y across the bounding box.
  ASSERT_EQ(m.texCoords.size(), 12u);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(m.texCoords[k * 2], m.positions[k * 3] / 2.0f);
    EXPECT_EQ(m.texCoords[k * 2 + 1], m.positions[k * 3 + 1]);
    EXPECT_EQ(m.normals[k * 3 + 2], 1.0f);
  }
  EXPECT_EQ(loaded.sha256.size(), 64u);
}

TEST(MeshModel, EachFileIsReadOncePerContent) {
  const TempDir dir;
  const std::string path = dir / "square.obj";
  WriteText(path, kSquareObj);
  const LoadedModel first = LoadModelFile(path);
  const LoadedModel again = LoadModelFile(path);
  EXPECT_EQ(first.model.get(), again.model.get());
  // New bytes at the same path: a new model, with its own SHA-256.
  WriteText(path, std::string(kSquareObj) + "v 0 0 1\nf 1 2 5\n");
  const LoadedModel changed = LoadModelFile(path);
  EXPECT_NE(changed.model.get(), first.model.get());
  EXPECT_NE(changed.sha256, first.sha256);
  EXPECT_EQ(changed.model->TriangleCount(), 3u);
}

TEST(MeshModel, NodeTransformsAreApplied) {
  // A glTF whose one triangle sits under a node moved by (10, 0, 0) and
  // scaled by 2.
  const TempDir dir;
  const std::string gltf = R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
    "nodes": [{"mesh": 0, "translation": [10, 0, 0], "scale": [2, 2, 2]}],
    "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                   "min": [0, 0, 0], "max": [1, 1, 0]}],
    "bufferViews": [{"buffer": 0, "byteLength": 36}],
    "buffers": [{"byteLength": 36,
      "uri": "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}]})";
  WriteText(dir / "moved.gltf", gltf);
  const LoadedModel loaded = LoadModelFile(dir / "moved.gltf");
  ASSERT_EQ(loaded.model->TriangleCount(), 1u);
  const std::vector<float> expected = {10, 0, 0, 12, 0, 0, 10, 2, 0};
  EXPECT_EQ(loaded.model->positions, expected);
}

TEST(MeshModel, BadFilesAreRefusedWithTheReason) {
  const TempDir dir;
  WriteText(dir / "empty.stl", "");
  WriteText(dir / "model.fbx", "x");
  WriteText(dir / "noextension", "x");
  WriteText(dir / "points.obj", "v 0 0 0\nv 1 0 0\n");
  WriteText(dir / "outside.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n");
  WriteText(dir / "huge.obj", "v 0 0 0\nv 1e39 0 0\nv 0 1 0\nf 1 2 3\n");
  WriteText(dir / "nan.obj", "v 0 0 0\nv nan 0 0\nv 0 1 0\nf 1 2 3\n");
  WriteText(dir / "oddtype.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty lchar x\nend_header\n1\n");
  WriteText(dir / "oddline.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty)float x\nend_header\n1\n");
  WriteText(dir / "twice.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nelement vertex 1\n"
                                "property float x\nend_header\n1\n1\n");
  WriteText(dir / "words.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x y\nend_header\n1\n");
  WriteText(dir / "short.glb", "glTF\x02\x00\x00\x00");
  WriteText(dir / "long.glb", std::string("glTF\x02\0\0\0\x14\0\0\0\xff\xff\0\0JSON", 20));
  fs::create_directory(dir / "folder.obj");
  const std::pair<std::string, std::string> cases[] = {
      {"empty.stl", "it is empty"},
      {"model.fbx", "the format .fbx is not read (obj, gltf, glb, ply and stl are)"},
      {"noextension", "the file name has no extension"},
      {"missing.ply", "it does not exist"},
      {"folder.obj", "it cannot be opened: not a regular file"},
      {"points.obj", "it"},
      {"outside.obj", "it is not a readable model"},
      {"huge.obj", "a vertex is not a finite number"},
      {"nan.obj", "a vertex is not a finite number"},
      {"twice.ply", "it is not a readable model (a PLY header that names the element 'vertex' twice)"},
      {"words.ply", "it is not a readable model (a PLY property line with more than its type and name)"},
      {"short.glb", "it is not a readable model (a GLB file begins with glTF and a 20-byte header)"},
      {"long.glb", "it is not a readable model (the GLB's JSON chunk runs past the file's end)"},
      // Assimp's reader would not come back from these two.
      {"oddtype.ply", "it is not a readable model (a PLY property of the unknown type 'lchar')"},
      {"oddline.ply", "it is not a readable model (a PLY header line that is not read: 'property)float')"},
  };
  for (const auto& [name, reason] : cases) {
    const std::string text = ErrorOf(dir / name);
    EXPECT_TRUE(text.starts_with(reason)) << name << ": " << text;
  }
}

TEST(MeshModel, TestModelsAreReadAndTheInvalidOnesRefused) {
  if (!fs::is_directory(kTestModels)) GTEST_SKIP() << "assimp-testmodels is not installed";
  for (const char* name : {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "glTF2/BoxTextured-glTF/BoxTextured.gltf",
                           "PLY/cube.ply", "PLY/cube_binary.ply", "STL/Spider_ascii.stl", "STL/3DSMaxExport.STL",
                           "OBJ/spider.obj"}) {
    SCOPED_TRACE(name);
    const LoadedModel loaded = LoadModelFile(kTestModels + "/" + name);
    EXPECT_GT(loaded.model->TriangleCount(), 0u);
  }
  EXPECT_TRUE(LoadModelFile(kTestModels + "/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb").model->ownTexCoords);
  EXPECT_EQ(ErrorOf(kTestModels + "/glTF2/BoxWithInfinites-glTF-Binary/BoxWithInfinites.glb"),
            "a vertex is not a finite number");
  int refused = 0;
  for (const auto& entry : fs::directory_iterator(kTestModels + "/invalid")) {
    const std::string text = ErrorOf(entry.path().string());
    EXPECT_FALSE(text.empty()) << entry.path();
    refused += !text.empty();
  }
  EXPECT_GE(refused, 10);
  // A valid binary model cut short.
  const TempDir dir;
  std::ifstream in(kTestModels + "/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t keep : {bytes.size() / 2, std::size_t{20}}) {
    WriteText(dir / "cut.glb", bytes.substr(0, keep));
    EXPECT_TRUE(ErrorOf(dir / "cut.glb").starts_with("it is not a readable model")) << keep;
  }
  WriteText(dir / "cut.ply", "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\n");
  EXPECT_FALSE(ErrorOf(dir / "cut.ply").empty());
}

TEST(MeshModel, MaterialsGivePartsColoursAndTexturesThatMustBeReadable) {
  const TempDir dir;
  // Two materials, each used by one triangle: a diffuse colour, and a
  // texture whose name is written with a Windows separator.
  const std::string twoMaterials =
      "mtllib two.mtl\no two\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\n"
      "usemtl tinted\nf 1/1 2/1 3/1\nusemtl pictured\nf 2/1 4/1 3/1\n";
  const uint8_t grey[4] = {10, 20, 30, 40};
  const std::string png = EncodePng8(grey, 2, 2, 1);
  fs::create_directory(dir / "maps");
  WriteText(dir / "maps/grey.png", png);
  WriteText(dir / "two.obj", twoMaterials);
  WriteText(dir / "two.mtl", "newmtl tinted\nKd 0.25 0.5 2\nnewmtl pictured\nKd 1 1 1\nmap_Kd .\\maps\\grey.png\n");
  const MeshModel& m = *LoadModelFile(dir / "two.obj").model;
  ASSERT_EQ(m.parts.size(), 2u);
  EXPECT_EQ(m.parts[1].firstTriangle, 1u);
  EXPECT_EQ(m.parts[1].triangleCount, 1u);
  ASSERT_EQ(m.materials.size(), 2u);
  const ModelMaterial& tinted = m.materials[m.parts[0].material];
  const ModelMaterial& pictured = m.materials[m.parts[1].material];
  EXPECT_EQ(tinted.diffuse, (std::array<float, 3>{0.25f, 0.5f, 1.0f}));  // clamped to 1
  EXPECT_EQ(tinted.texture, nullptr);
  ASSERT_NE(pictured.texture, nullptr);
  EXPECT_EQ(pictured.texture->width, 2);
  EXPECT_EQ(pictured.texture->rgb[9], 40);  // the last pixel's red
  const std::vector<float> firstCorner = {m.colours[0], m.colours[1], m.colours[2]};
  EXPECT_EQ(firstCorner, (std::vector<float>{0.25f, 0.5f, 1.0f}));
  EXPECT_EQ(m.colours[9], 1.0f);  // the second triangle's: white

  // Textures that cannot be used refuse the model, naming the texture file.
  const std::pair<std::string, std::string> cases[] = {
      {"missing.png", "its texture 'missing.png' (" + (dir / "missing.png") + ") does not exist"},
      {"cut.png", "its texture 'cut.png' (" + (dir / "cut.png") + "): it is not a readable PNG"},
      {"words.jpg", "its texture 'words.jpg' (" + (dir / "words.jpg") + "): it is neither a PNG nor a JPEG"},
  };
  WriteText(dir / "cut.png", png.substr(0, png.size() - 20));
  WriteText(dir / "words.jpg", "not a picture");
  for (const auto& [texture, reason] : cases) {
    const std::string name = "uses-" + texture + ".obj";
    WriteText(dir / name, "mtllib " + texture + ".mtl\no m\nusemtl m\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    WriteText(dir / (texture + ".mtl"), "newmtl m\nmap_Kd " + texture + "\n");
    const std::string text = ErrorOf(dir / name);
    EXPECT_TRUE(text.starts_with(reason)) << text;
    // Drawn with a Tovimar texture, the model's pictures are not needed.
    EXPECT_EQ(LoadModelFile(dir / name, false).model->materials.at(0).texture, nullptr) << texture;
  }
}

TEST(SceneMeshes, ModelFilesAreFoundBesideTheSceneAndErrorsNameTheLine) {
  const TempDir dir;
  fs::create_directory(dir / "models");
  WriteText(dir / "models/square.obj", kSquareObj);
  WriteText(dir / "models/empty.obj", "");
  EXPECT_EQ(ResolveModelPath(dir / "scene.txt", "models/square.obj"), dir / "models/square.obj");
  EXPECT_EQ(ResolveModelPath(dir / "scene.txt", "/abs/m.obj"), "/abs/m.obj");

  SceneModel model;
  model.solidObjects.push_back(std::make_unique<Mesh>(1.0, "models/square.obj"));
  auto bad = std::make_unique<Mesh>(1.0, "models/empty.obj");
  bad->line = 7;
  model.solidObjects.push_back(std::move(bad));
  try {
    LoadSceneMeshes(model, dir / "scene.txt");
    FAIL() << "an empty model was used";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), dir / "scene.txt:7: MESH: cannot use the model 'models/empty.obj' (" +
                               (dir / "models/empty.obj") + "): it is empty");
  }
  const Mesh& good = static_cast<const Mesh&>(*model.solidObjects[0]);
  ASSERT_NE(good.model, nullptr);
  EXPECT_EQ(good.resolvedFile, dir / "models/square.obj");
}

}  // namespace
}  // namespace tovimar
