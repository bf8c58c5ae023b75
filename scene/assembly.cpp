#include "scene/assembly.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "scene/mesh_model.h"
#include "scene/scene_line_parser.h"
#include "scene/locale_number.h"

namespace tovimar {

namespace {

// Gives the parser's reports the number of the line being read.
class LineAdapter : public Notifier {
 public:
  explicit LineAdapter(LineNotifier& target) : target_(target) {}
  void SetLine(int lineNumber) { lineNumber_ = lineNumber; }
  void Notify(const std::string& caption, const std::string& text) override {
    target_.NotifyLine(lineNumber_, caption, text);
  }
  void NotifyField(int field, const std::string& written, const std::string& caption,
                   const std::string& text) override {
    target_.NotifyFieldLine(lineNumber_, field, written, caption, text);
  }

 private:
  LineNotifier& target_;
  int lineNumber_ = 0;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string ResolveModelPath(const std::string& sceneName, const std::string& file) {
  namespace fs = std::filesystem;
  fs::path path(file);
  if (path.is_relative()) {
    const fs::path folder = fs::path(sceneName).parent_path();
    path = folder / path;
  }
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return (ec ? path : absolute).lexically_normal().string();
}

void LoadSceneMeshes(SceneModel& model, const std::string& sceneName, const std::vector<std::string>& modelFolders) {
  namespace fs = std::filesystem;
  for (const std::unique_ptr<SceneObject>& object : model.solidObjects) {
    if (!object || object->kind != kMesh) continue;
    Mesh& mesh = static_cast<Mesh&>(*object);
    std::string path = ResolveModelPath(sceneName, mesh.file);
    std::error_code ec;
    if (!modelFolders.empty() && fs::path(mesh.file).is_relative() && !fs::exists(path, ec)) {
      // Beside the scene first, then each folder in turn.
      std::string looked = path;
      std::string found;
      for (const std::string& folder : modelFolders) {
        const std::string candidate = ResolveModelPath((fs::path(folder) / "scene").string(), mesh.file);
        if (fs::exists(candidate, ec)) {
          found = candidate;
          break;
        }
        looked += ", " + candidate;
      }
      if (found.empty()) {
        throw Error(LineLocation(sceneName, mesh.line) + "MESH: cannot find the model '" + mesh.file +
                    "': it is not at " + looked);
      }
      path = found;
    }
    try {
      LoadedModel loaded = LoadModelFile(path, mesh.ownMaterials);
      mesh.resolvedFile = loaded.resolvedFile;
      mesh.sha256 = loaded.sha256;
      mesh.model = std::move(loaded.model);
    } catch (const Error& e) {
      throw Error(LineLocation(sceneName, mesh.line) + "MESH: cannot use the model '" + mesh.file + "' (" + path +
                  "): " + e.message());
    }
  }
}

std::string LineLocation(const std::string& sceneName, int lineNumber) {
  const std::string number = std::to_string(lineNumber);
  return sceneName.empty() ? "line " + number + ": " : sceneName + ":" + number + ": ";
}

void ParseScene(const std::vector<std::string>& lines, const std::vector<uint32_t>& textures,
                char decimalSeparator, Prefs& prefs, SceneModel& model, LineNotifier& notifier) {
  LineAdapter adapter(notifier);
  const SceneLineParser parser(decimalSeparator, adapter);
  const std::size_t count = lines.size();
  for (std::size_t i = 0; i < count; ++i) {
    const int lineNumber = static_cast<int>(i + 1);
    adapter.SetLine(lineNumber);
    const double focalBefore = prefs.focalLength;
    // Editors that save UTF-8 with a byte order mark would hide the first
    // line's keyword behind it.
    const bool markedFirstLine = i == 0 && std::string_view(lines[i]).starts_with(kByteOrderMark);
    std::unique_ptr<SceneObject> object =
        parser.ParseLine(markedFirstLine ? lines[i].substr(kByteOrderMark.size()) : lines[i], textures, prefs);
    // A focal length that is not positive would turn the picture inside out
    // (or make it degenerate): such a FOCALLENGTH line is ignored.
    if (prefs.focalLength != focalBefore && !(prefs.focalLength > 0.0 && std::isfinite(prefs.focalLength))) {
      notifier.NotifyLine(lineNumber, "",
                          "FOCALLENGTH must be a positive number of pixels; the line is ignored and the focal length "
                          "stays " + FormatThreeDecimals(focalBefore, decimalSeparator));
      prefs.focalLength = focalBefore;
    }
    if (!object) continue;
    if (object->kind == kPlane) {
      const Vec3& n = static_cast<const Plane&>(*object).normal;
      if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0) {
        notifier.NotifyLine(lineNumber, "",
                            "PLANE with id " + std::to_string(object->id) +
                                " has no usable normal (a, b and c are all 0) and is not drawn");
      }
    }
    if (object->kind == kObjectMove) {
      model.objectMoves.emplace_back(static_cast<ObjectMove*>(object.release()));
      model.objectMoves.back()->line = lineNumber;
    } else if (object->kind == kCameraMotion) {
      // Only CameraMotion objects carry kind 0.
      model.egoFrames.emplace_back(static_cast<CameraMotion*>(object.release()));
      model.egoFrames.back()->line = lineNumber;
    } else {
      if (object->kind == kMesh) static_cast<Mesh&>(*object).line = lineNumber;
      model.solidObjects.push_back(std::move(object));
    }
  }
  // A MOVE line whose id no solid has moves nothing: said once per id.
  std::unordered_set<int32_t> seen;
  for (const auto& solid : model.solidObjects)
    if (solid) seen.insert(solid->id);
  for (const auto& move : model.objectMoves) {
    if (!seen.insert(move->id).second) continue;
    notifier.NotifyLine(move->line, "",
                        "Warning: MOVE names id " + std::to_string(move->id) +
                            ", which no solid has; it moves nothing");
  }
  model.motion.Build(model.solidObjects, model.objectMoves);
}

}  // namespace tovimar
