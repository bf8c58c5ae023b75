// Fuzzes the scene line parser with arbitrary bytes: the whole input as one
// line, then split into lines and parsed as a scene. Any crash, sanitizer
// report or broken invariant (a non-finite number, a texture name that is not
// in the list, a message with bytes that cannot come from a filtered field,
// or a face normal that is not of unit length) is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "scene/scene_line_parser.h"
#include "scene/assembly.h"
#include "scene/locale_number.h"
#include "scene/scene_text.h"

namespace {

using namespace tovimar;

[[noreturn]] void Fail() { std::abort(); }

void CheckFinite(double v) {
  if (!std::isfinite(v)) Fail();
}

void CheckVec(const Vec3& v, char separator) {
  for (double c : v) {
    CheckFinite(c);
    // The memo number text reads back in the scene language.
    if (!ParseLocaleDouble(FormatThreeDecimals(c, separator), separator)) Fail();
  }
}

class Checker : public ObjectPainter {
 public:
  void Paint(const Sphere& o) override { CheckFinite(o.radius); }
  void Paint(const Cuboid& o) override { CheckVec(o.halfSize, '.'); }
  void Paint(const Cylinder& o) override {
    CheckFinite(o.baseRadius);
    CheckFinite(o.topRadius);
    CheckFinite(o.height);
  }
  void Paint(const Plane& o) override {
    CheckVec(o.normal, '.');
    CheckFinite(o.offset);
    CheckVec(o.point, '.');
  }
  void Paint(const Mesh& o) override {
    CheckFinite(o.scale);
    if (!(o.scale > 0) || o.file.empty()) Fail();
  }
  void Paint(const Quad& o) override {
    for (const auto& v : o.vertices) CheckVec(v, '.');
    // The face normal the renderer takes from the first three corners.
    const auto& p = o.vertices;
    double nx = 0, ny = 0, nz = 0;
    SceneObject::planeNormal(p[0][0], p[1][0], p[2][0], p[0][1], p[1][1], p[2][1], p[0][2], p[1][2], p[2][2], nx, ny,
                        nz);
    CheckFinite(nx);
    CheckFinite(ny);
    CheckFinite(nz);
    if (std::fabs(std::sqrt(nx * nx + ny * ny + nz * nz) - 1.0) > 1e-12) Fail();
  }
};

const std::vector<uint32_t> kTextures{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

// Every kind a line can give: the solids, a camera motion (EGO), an object
// motion (MOVE) and a model (MESH).
void CheckObject(const SceneObject& o, char separator) {
  if (o.kind < kCameraMotion || o.kind > kMesh) Fail();
  if (o.texture > 11) Fail();
  CheckVec(o.colour, separator);
  CheckVec(o.position, separator);
  CheckVec(o.rotation, separator);
  Checker checker;
  o.Draw(checker);
}

void CheckMessage(const std::string& caption, const std::string& text) {
  if (!caption.empty()) Fail();
  const std::string_view prefix = "Convert error: '";
  if (text.compare(0, prefix.size(), prefix) != 0) return;
  const std::size_t end = text.rfind('\'');
  for (std::size_t k = prefix.size(); k < end; ++k) {
    const char c = text[k];
    if (!((c >= '0' && c <= '9') || c == '-' || c == ' ' || c == '.' || c == ',')) Fail();
  }
}

class Notes : public Notifier, public LineNotifier {
 public:
  void Notify(const std::string& caption, const std::string& text) override { CheckMessage(caption, text); }
  void NotifyLine(int line, const std::string& caption, const std::string& text) override {
    if (line < 1) Fail();
    CheckMessage(caption, text);
  }
};

void CheckPrefs(const Prefs& prefs) {
  CheckFinite(prefs.focalLength);
  CheckFinite(prefs.baseline);
  CheckFinite(prefs.noise);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const char separator = (size > 0 && (data[0] & 1) != 0) ? ',' : '.';
  Notes notes;

  Prefs prefs;
  const SceneLineParser parser(separator, notes);
  if (auto object = parser.ParseLine(std::string(text), kTextures, prefs)) CheckObject(*object, separator);
  CheckPrefs(prefs);

  SceneModel model;
  ParseScene(SplitLines(text), kTextures, separator, prefs, model, notes);
  for (const auto& o : model.solidObjects) {
    if (o->kind == kCameraMotion) Fail();
    CheckObject(*o, separator);
  }
  for (const auto& o : model.egoFrames) {
    if (o->kind != kCameraMotion) Fail();
    CheckObject(*o, separator);
  }
  for (const auto& o : model.objectMoves) {
    if (o->kind != kObjectMove || o->line < 1) Fail();
    CheckObject(*o, separator);
  }
  // Every pose of every moving group is finite up to its first overflow.
  for (std::size_t group = 0; group < model.motion.GroupCount(); ++group) {
    for (int64_t frame = 0; frame < static_cast<int64_t>(model.objectMoves.size()); ++frame) {
      if (model.motion.OverflowAt(frame).line != 0) break;
      for (double v : model.motion.Pose(group, frame)) CheckFinite(v);
    }
  }
  CheckPrefs(prefs);
  return 0;
}
