#include "scene/mesh_model.h"

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <assimp/config.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <tuple>
#include <utility>

#include "base/error.h"
#include "io/file.h"
#include "io/sha256.h"
#include "io/texture_image.h"

namespace tovimar {
namespace {

using Matrix = std::array<double, 16>;  // row-major 4x4

Matrix FromAssimp(const aiMatrix4x4& m) {
  return {m.a1, m.a2, m.a3, m.a4, m.b1, m.b2, m.b3, m.b4, m.c1, m.c2, m.c3, m.c4, m.d1, m.d2, m.d3, m.d4};
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r[i * 4 + j] = a[i * 4] * b[j] + a[i * 4 + 1] * b[4 + j] + a[i * 4 + 2] * b[8 + j] + a[i * 4 + 3] * b[12 + j];
  return r;
}

// Normals go through the cofactor matrix of the upper 3x3 (the inverse
// transpose times the determinant), turned by the determinant's sign so that
// a mirroring transform keeps them pointing out; normalised afterwards.
std::array<double, 9> NormalMatrix(const Matrix& m) {
  const double a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
  std::array<double, 9> n = {e * i - f * h, f * g - d * i, d * h - e * g,
                             c * h - b * i, a * i - c * g, b * g - a * h,
                             b * f - c * e, c * d - a * f, a * e - b * d};
  const double det = a * n[0] + b * n[1] + c * n[2];
  if (det < 0)
    for (double& v : n) v = -v;
  return n;
}

bool Finite(double v) { return std::isfinite(v); }

struct Instance {
  const aiNode* node;
  Matrix transform;
  int depth;
};

// Node trees deeper than this are refused rather than followed.
constexpr int kMaxNodeDepth = 1024;

// Why a PLY header (up to its end_header) is refused, or "": a line that
// begins as a property or element statement and is none, an element named twice, a property
// line with more words than its type and name, or a property type that is
// not one of PLY's (a list names two).
std::string PlyHeaderFault(std::string_view header) {
  static constexpr std::string_view kStatements[] = {"ply", "format", "comment", "obj_info", "element", "property"};
  static constexpr std::string_view kTypes[] = {"char",  "uchar",  "short",  "ushort",  "int",     "uint",
                                                "float", "double", "int8",   "uint8",   "int16",   "uint16",
                                                "int32", "uint32", "float32", "float64"};
  auto known = [](std::string_view word) {
    return std::find(std::begin(kTypes), std::end(kTypes), word) != std::end(kTypes);
  };
  std::vector<std::string> elements;
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t lineEnd = header.find('\n', at);
    if (lineEnd == std::string_view::npos) lineEnd = header.size();
    std::string_view line = header.substr(at, lineEnd - at);
    at = lineEnd + 1;
    for (const char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r')
        return "a PLY header with a control character";
    }
    std::vector<std::string_view> words;
    for (std::size_t k = 0; k < line.size();) {
      while (k < line.size() && (line[k] == ' ' || line[k] == '\t' || line[k] == '\r')) ++k;
      const std::size_t start = k;
      while (k < line.size() && line[k] != ' ' && line[k] != '\t' && line[k] != '\r') ++k;
      if (k > start) words.push_back(line.substr(start, k - start));
    }
    if (words.empty()) continue;
    // Other lines are skipped as Assimp skips them (Blender writes one
    // without "comment"), but a word that begins as a statement and is none
    // is refused.
    if (std::find(std::begin(kStatements), std::end(kStatements), words[0]) == std::end(kStatements) &&
        (words[0].starts_with("property") || words[0].starts_with("element")))
      return "a PLY header line that is not read: '" + std::string(words[0]) + "'";
    if (words[0] == "element" && words.size() > 1) {
      // Assimp aborts on some files that name an element twice.
      const std::string name(words[1]);
      if (std::find(elements.begin(), elements.end(), name) != elements.end())
        return "a PLY header that names the element '" + name + "' twice";
      elements.push_back(name);
    }
    if (words[0] != "property") continue;
    const bool list = words.size() > 1 && words[1] == "list";
    const std::size_t types = list ? 2 : 1, first = list ? 2 : 1;
    // Assimp aborts on some property lines with more words than a type and a name.
    if (words.size() > first + types + 1) return "a PLY property line with more than its type and name";
    for (std::size_t t = first; t < first + types; ++t) {
      if (t >= words.size()) return "a PLY property without its type";
      if (!known(words[t])) return "a PLY property of the unknown type '" + std::string(words[t]) + "'";
    }
  }
  return "";
}

// Why a GLB file's header and chunk lengths are refused, or "": Assimp
// allocates what the lengths say before it reads, so they must fit the file.
std::string GlbLayoutFault(std::string_view bytes) {
  auto word = [&bytes](std::size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    return static_cast<uint64_t>(v);
  };
  if (bytes.size() < 20 || !bytes.starts_with("glTF")) return "a GLB file begins with glTF and a 20-byte header";
  if (word(8) != bytes.size()) return "the GLB header's length is not the file's";
  const uint64_t json = word(12);
  if (20 + json > bytes.size()) return "the GLB's JSON chunk runs past the file's end";
  const uint64_t rest = bytes.size() - 20 - json;
  if (rest != 0 && (rest < 8 || word(static_cast<std::size_t>(20 + json)) > rest - 8))
    return "the GLB's binary chunk runs past the file's end";
  return "";
}

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ext;
}

// The diffuse textures of a file's materials, each picture decoded once.
class TextureReader {
 public:
  TextureReader(const aiScene& scene, std::string modelFolder) : scene_(scene), folder_(std::move(modelFolder)) {}

  // The material's diffuse texture (glTF's base colour texture), or null.
  std::shared_ptr<const RgbImage> DiffuseTexture(const aiMaterial& material) {
    aiString name;
    if (material.GetTexture(aiTextureType_DIFFUSE, 0, &name) != AI_SUCCESS &&
        material.GetTexture(aiTextureType_BASE_COLOR, 0, &name) != AI_SUCCESS)
      return nullptr;
    const std::string written(name.C_Str());
    if (written.empty()) return nullptr;
    if (const auto it = pictures_.find(written); it != pictures_.end()) return it->second;
    auto picture = std::make_shared<RgbImage>();
    if (const aiTexture* embedded = scene_.GetEmbeddedTexture(written.c_str())) {
      ReadEmbedded(*embedded, written, *picture);
    } else {
      ReadFile(written, *picture);
    }
    pictures_.emplace(written, picture);
    return picture;
  }

 private:
  static void ReadEmbedded(const aiTexture& texture, const std::string& written, RgbImage& picture) {
    const std::string what = "its texture " + written + " (held in the file)";
    if (texture.pcData == nullptr) throw Error(what + " has no pixels");
    if (texture.mHeight == 0) {  // a PNG or JPEG file's bytes, mWidth of them
      const std::string why =
          DecodeTextureImage(reinterpret_cast<const uint8_t*>(texture.pcData), texture.mWidth, picture);
      if (!why.empty()) throw Error(what + ": " + why);
      return;
    }
    const auto largest = static_cast<unsigned>(kMaxTextureSide);
    if (texture.mWidth > largest || texture.mHeight > largest)
      throw Error(what + " is larger than " + std::to_string(kMaxTextureSide) + " pixels on a side");
    picture.width = static_cast<int>(texture.mWidth);
    picture.height = static_cast<int>(texture.mHeight);
    picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    for (std::size_t k = 0; k < static_cast<std::size_t>(picture.width) * picture.height; ++k) {
      picture.rgb[k * 3] = texture.pcData[k].r;
      picture.rgb[k * 3 + 1] = texture.pcData[k].g;
      picture.rgb[k * 3 + 2] = texture.pcData[k].b;
    }
  }

  // A texture file is looked for relative to the model's folder; '\' in
  // its name (models written on Windows) is taken as '/'.
  void ReadFile(std::string written, RgbImage& picture) const {
    const std::string asWritten = written;
    for (char& c : written) {
      if (c == '\\') c = '/';
    }
    const std::filesystem::path relative(written);
    const std::string path = relative.is_absolute() ? written : (std::filesystem::path(folder_) / relative).string();
    const std::string what = "its texture '" + asWritten + "' (" + path + ")";
    ReadOnlyFile file;
    if (const std::string why = file.Open(path); !why.empty())
      throw Error(what + (why == kFileMissing ? std::string(" does not exist") : " cannot be opened: " + why));
    if (file.Size() > kMaxTextureFileBytes)
      throw Error(what + " holds more than " + std::to_string(kMaxTextureFileBytes) + " bytes");
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    if (!file.ReadAt(0, bytes.data(), bytes.size())) throw Error(what + " cannot be read");
    const std::string why =
        DecodeTextureImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), picture);
    if (!why.empty()) throw Error(what + ": " + why);
  }

  const aiScene& scene_;
  std::string folder_;
  std::map<std::string, std::shared_ptr<const RgbImage>> pictures_;
};

float UnitColour(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

std::shared_ptr<const MeshModel> Convert(const aiScene& scene, const std::string& modelFolder, bool withTextures) {
  // First the instances (mesh, transform) and their triangle count, so that
  // a model over the limit is refused before anything is copied.
  std::vector<std::pair<const aiMesh*, Matrix>> instances;
  std::size_t triangles = 0;
  std::vector<Instance> stack{{scene.mRootNode, FromAssimp(scene.mRootNode->mTransformation), 0}};
  while (!stack.empty()) {
    const Instance at = stack.back();
    stack.pop_back();
    if (at.depth > kMaxNodeDepth) throw Error("its node tree is deeper than " + std::to_string(kMaxNodeDepth));
    for (unsigned k = 0; k < at.node->mNumMeshes; ++k) {
      const unsigned index = at.node->mMeshes[k];
      if (index >= scene.mNumMeshes || scene.mMeshes[index] == nullptr)
        throw Error("a node names mesh " + std::to_string(index) + ", which the file does not have");
      const aiMesh* mesh = scene.mMeshes[index];
      if (!(mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
      triangles += mesh->mNumFaces;
      if (triangles > kMaxModelTriangles)
        throw Error("it has more than " + std::to_string(kMaxModelTriangles) + " triangles");
      instances.emplace_back(mesh, at.transform);
    }
    for (unsigned k = 0; k < at.node->mNumChildren; ++k) {
      const aiNode* child = at.node->mChildren[k];
      if (child == nullptr) continue;
      stack.push_back({child, Multiply(at.transform, FromAssimp(child->mTransformation)), at.depth + 1});
    }
  }

  auto model = std::make_shared<MeshModel>();
  model->positions.reserve(triangles * 9);
  model->normals.reserve(triangles * 9);
  bool allTexCoords = !instances.empty();
  for (const auto& [mesh, transform] : instances) allTexCoords = allTexCoords && mesh->HasTextureCoords(0);
  if (allTexCoords) model->texCoords.reserve(triangles * 6);
  model->colours.reserve(triangles * 9);

  TextureReader textures(scene, modelFolder);
  std::map<unsigned, std::size_t> materialOf;  // the file's material index to the model's
  for (const auto& [mesh, m] : instances) {
    if (mesh->mVertices == nullptr) throw Error("a mesh has no vertices");
    const std::array<double, 9> nm = NormalMatrix(m);
    auto [known, added] = materialOf.emplace(mesh->mMaterialIndex, model->materials.size());
    if (added) {
      ModelMaterial material;
      if (mesh->mMaterialIndex < scene.mNumMaterials && scene.mMaterials[mesh->mMaterialIndex] != nullptr) {
        const aiMaterial& source = *scene.mMaterials[mesh->mMaterialIndex];
        aiColor4D diffuse(1.0f, 1.0f, 1.0f, 1.0f);
        if (source.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) == AI_SUCCESS ||
            source.Get(AI_MATKEY_BASE_COLOR, diffuse) == AI_SUCCESS)
          material.diffuse = {UnitColour(diffuse.r), UnitColour(diffuse.g), UnitColour(diffuse.b)};
        if (withTextures) material.texture = textures.DiffuseTexture(source);
      }
      model->materials.push_back(std::move(material));
    }
    const std::size_t materialIndex = known->second;
    const std::array<float, 3> diffuse = model->materials[materialIndex].diffuse;
    const bool vertexColours = mesh->HasVertexColors(0);
    const std::size_t firstTriangle = model->TriangleCount();
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
      const aiFace& face = mesh->mFaces[f];
      if (face.mNumIndices != 3) continue;  // points and lines are not drawn
      for (unsigned c = 0; c < 3; ++c) {
        const unsigned v = face.mIndices[c];
        if (v >= mesh->mNumVertices)
          throw Error("a triangle uses vertex " + std::to_string(v) + " of a mesh with " +
                      std::to_string(mesh->mNumVertices));
        const aiVector3D& p = mesh->mVertices[v];
        double out[3];
        for (int r = 0; r < 3; ++r) {
          out[r] = m[r * 4] * p.x + m[r * 4 + 1] * p.y + m[r * 4 + 2] * p.z + m[r * 4 + 3];
        }
        const double w = m[12] * p.x + m[13] * p.y + m[14] * p.z + m[15];
        if (w != 1.0)
          for (double& x : out) x /= w;
        for (double x : out) {
          if (!Finite(x) || std::fabs(x) > 3.0e38) throw Error("a vertex is not a finite number");
          model->positions.push_back(static_cast<float>(x));
        }
        double n[3] = {0, 0, 1};
        if (mesh->mNormals != nullptr) {
          const aiVector3D& a = mesh->mNormals[v];
          for (int r = 0; r < 3; ++r) n[r] = nm[r * 3] * a.x + nm[r * 3 + 1] * a.y + nm[r * 3 + 2] * a.z;
        }
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (!(length > 0.0) || !Finite(length)) {
          n[0] = 0, n[1] = 0, n[2] = 1;
        } else {
          for (double& x : n) x /= length;
        }
        for (double x : n) model->normals.push_back(static_cast<float>(x));
        if (allTexCoords) {
          const aiVector3D& t = mesh->mTextureCoords[0][v];
          const bool ok = Finite(t.x) && Finite(t.y);
          model->texCoords.push_back(ok ? t.x : 0.0f);
          model->texCoords.push_back(ok ? t.y : 0.0f);
        }
        if (vertexColours) {
          const aiColor4D& colour = mesh->mColors[0][v];
          for (float x : {colour.r, colour.g, colour.b}) model->colours.push_back(UnitColour(x));
        } else {
          model->colours.insert(model->colours.end(), diffuse.begin(), diffuse.end());
        }
      }
    }
    const std::size_t count = model->TriangleCount() - firstTriangle;
    if (count > 0) model->parts.push_back({firstTriangle, count, materialIndex});
  }
  if (model->positions.empty()) throw Error("it holds no triangles");
  if (allTexCoords) {
    model->ownTexCoords = true;
  } else {
    BoxProjection(*model);
  }
  return model;
}

struct CacheKey {
  std::string path;
  std::string sha256;
  bool withTextures = true;
  bool operator<(const CacheKey& o) const {
    return std::tie(path, sha256, withTextures) < std::tie(o.path, o.sha256, o.withTextures);
  }
};

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}

std::map<CacheKey, std::shared_ptr<const MeshModel>>& Cache() {
  static std::map<CacheKey, std::shared_ptr<const MeshModel>> cache;
  return cache;
}

// Assimp reads some faults only as errors in its log (an OBJ's material that
// is not there, a face that is dropped) and goes on: such a file is refused
// too. The log is global, so imports run one at a time.
std::mutex& ImportMutex() {
  static std::mutex m;
  return m;
}

class FirstErrorStream : public Assimp::LogStream {
 public:
  void write(const char* message) override {
    if (first.empty() && message != nullptr) {
      first = message;
      // "Error, T0: text": the text alone.
      if (const std::size_t colon = first.find(": "); first.starts_with("Error, T") && colon != std::string::npos)
        first.erase(0, colon + 2);
      while (!first.empty() && (first.back() == '\n' || first.back() == '\r')) first.pop_back();
    }
  }
  std::string first;
};

class ImportLog {
 public:
  ImportLog() {
    Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, 0);
    Assimp::DefaultLogger::get()->attachStream(&stream_, Assimp::Logger::Err);
  }
  ~ImportLog() {
    Assimp::DefaultLogger::get()->detachStream(&stream_, Assimp::Logger::Err);
    Assimp::DefaultLogger::kill();
  }
  ImportLog(const ImportLog&) = delete;
  ImportLog& operator=(const ImportLog&) = delete;
  const std::string& FirstError() const { return stream_.first; }

 private:
  FirstErrorStream stream_;
};

}  // namespace

void BoxProjection(MeshModel& model) {
  const std::vector<float>& p = model.positions;
  std::array<float, 3> low{}, high{};
  for (int a = 0; a < 3; ++a) {
    low[a] = high[a] = p.empty() ? 0.0f : p[static_cast<std::size_t>(a)];
  }
  for (std::size_t k = 0; k + 2 < p.size(); k += 3) {
    for (int a = 0; a < 3; ++a) {
      low[a] = std::min(low[a], p[k + a]);
      high[a] = std::max(high[a], p[k + a]);
    }
  }
  model.texCoords.assign(model.TriangleCount() * 6, 0.0f);
  for (std::size_t t = 0; t < model.TriangleCount(); ++t) {
    const float* c = &p[t * 9];
    const double e1[3] = {double(c[3]) - c[0], double(c[4]) - c[1], double(c[5]) - c[2]};
    const double e2[3] = {double(c[6]) - c[0], double(c[7]) - c[1], double(c[8]) - c[2]};
    const double n[3] = {std::fabs(e1[1] * e2[2] - e1[2] * e2[1]), std::fabs(e1[2] * e2[0] - e1[0] * e2[2]),
                         std::fabs(e1[0] * e2[1] - e1[1] * e2[0])};
    int normalAxis = 0;
    if (n[1] > n[normalAxis]) normalAxis = 1;
    if (n[2] > n[normalAxis]) normalAxis = 2;
    const int u = normalAxis == 0 ? 1 : 0;
    const int v = normalAxis == 2 ? 1 : 2;
    for (int corner = 0; corner < 3; ++corner) {
      const float* q = c + corner * 3;
      const float du = high[u] - low[u], dv = high[v] - low[v];
      model.texCoords[t * 6 + corner * 2] = du > 0 ? (q[u] - low[u]) / du : 0.0f;
      model.texCoords[t * 6 + corner * 2 + 1] = dv > 0 ? (q[v] - low[v]) / dv : 0.0f;
    }
  }
  model.ownTexCoords = false;
}

LoadedModel LoadModelFile(const std::string& path, bool withTextures) {
  const std::string extension = LowerExtension(path);
  if (std::find(std::begin(kModelExtensions), std::end(kModelExtensions), extension) == std::end(kModelExtensions)) {
    throw Error(extension.empty() ? std::string("the file name has no extension (obj, gltf, glb, ply or stl)")
                                  : "the format ." + extension + " is not read (obj, gltf, glb, ply and stl are)");
  }
  ReadOnlyFile file;
  if (const std::string why = file.Open(path); !why.empty())
    throw Error(why == kFileMissing ? "it does not exist" : "it cannot be opened: " + why);
  if (file.Size() == 0) throw Error("it is empty");
  if (file.Size() > kMaxModelFileBytes)
    throw Error("it holds " + std::to_string(file.Size()) + " bytes, more than a model may (" +
                std::to_string(kMaxModelFileBytes) + ")");
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) throw Error("it cannot be read");

  // Assimp's PLY reader does not come back from a header without its end,
  // nor from a header line or a property type it does not know. Assimp
  // hands a file to the reader its first bytes name whatever its extension,
  // so every file that begins as a PLY is checked; and a GLB must begin as
  // one.
  if (extension == "glb") {
    if (const std::string fault = GlbLayoutFault(bytes); !fault.empty())
      throw Error("it is not a readable model (" + fault + ")");
  }
  if (extension == "ply" || std::string_view(bytes).starts_with("ply")) {
    const std::string_view head = std::string_view(bytes).substr(0, 1u << 16);
    // end_header on a line of its own.
    std::size_t end = head.find("\nend_header");
    while (end != std::string_view::npos && end + 11 < head.size() && head[end + 11] != '\n' &&
           head[end + 11] != '\r')
      end = head.find("\nend_header", end + 1);
    if (!head.starts_with("ply") || end == std::string_view::npos)
      throw Error("it is not a readable model (a PLY header without its end_header line in its first 64 KiB)");
    if (const std::string fault = PlyHeaderFault(head.substr(0, end)); !fault.empty())
      throw Error("it is not a readable model (" + fault + ")");
  }

  LoadedModel loaded;
  loaded.resolvedFile = path;
  loaded.sha256 = Sha256Hex(bytes);
  const CacheKey key{path, loaded.sha256, withTextures};
  {
    const std::lock_guard<std::mutex> lock(CacheMutex());
    if (const auto it = Cache().find(key); it != Cache().end()) {
      loaded.model = it->second;
      return loaded;
    }
  }

  const std::lock_guard<std::mutex> importing(ImportMutex());
  const ImportLog log;
  Assimp::Importer importer;
  importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
  // Read and checked first, then triangulated: Assimp's triangulation aborts
  // the process on faces it was not made for (a face without corners, which
  // a damaged PLY gives), so those are refused before it runs.
  const unsigned flags = aiProcess_ValidateDataStructure;
  // Self-contained formats are read from the bytes hashed above; OBJ and
  // glTF files refer to other files (materials, buffers) and are read by
  // name, so that those are found beside them.
  const aiScene* scene = nullptr;
  if (extension == "gltf" || extension == "obj") {
    scene = importer.ReadFile(path, flags);
  } else {
    scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), flags, extension.c_str());
  }
  if (scene == nullptr) {
    const std::string why = importer.GetErrorString();
    throw Error("it is not a readable model" + (why.empty() ? std::string() : " (" + why + ")"));
  }
  if ((scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0 || scene->mRootNode == nullptr)
    throw Error("it is not a complete model");
  for (unsigned k = 0; k < scene->mNumMeshes; ++k) {
    const aiMesh* mesh = scene->mMeshes[k];
    if (mesh == nullptr) continue;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
      if (mesh->mFaces == nullptr || mesh->mFaces[f].mNumIndices == 0 || mesh->mFaces[f].mIndices == nullptr)
        throw Error("it is not a readable model (a face without corners)");
    }
  }
  scene = importer.ApplyPostProcessing(aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_GenNormals);
  if (scene == nullptr) {
    const std::string why = importer.GetErrorString();
    throw Error("it is not a readable model" + (why.empty() ? std::string() : " (" + why + ")"));
  }
  if (!log.FirstError().empty()) throw Error("it is not a sound model (" + log.FirstError() + ")");
  loaded.model = Convert(*scene, std::filesystem::path(path).parent_path().string(), withTextures);
  const std::lock_guard<std::mutex> lock(CacheMutex());
  loaded.model = Cache().emplace(key, loaded.model).first->second;
  return loaded;
}

void ForgetLoadedModels() {
  const std::lock_guard<std::mutex> lock(CacheMutex());
  Cache().clear();
}

std::size_t LoadedModelCount() {
  const std::lock_guard<std::mutex> lock(CacheMutex());
  return Cache().size();
}

}  // namespace tovimar
