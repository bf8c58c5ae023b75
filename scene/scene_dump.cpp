#include "scene/scene_dump.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "io/text.h"
#include "scene/assembly.h"
#include "scene/locale_number.h"
#include "scene/notifier.h"
#include "scene/scene_objects.h"
#include "scene/scene_model.h"

namespace tovimar {

namespace {

struct LineMessage {
  int line;
  std::string text;
};

class CollectingNotifier : public LineNotifier {
 public:
  void NotifyLine(int lineNumber, const std::string&, const std::string& text) override {
    messages.push_back({lineNumber, text});
  }
  std::vector<LineMessage> messages;
};

const char* ClassName(int32_t kind) {
  switch (kind) {
    case kCameraMotion: return "CameraMotion";
    case kSphere: return "Sphere";
    case kCuboid: return "Cuboid";
    case kPlane: return "Plane";
    case kQuad: return "Quad";
    case kCylinder: return "Cylinder";
    case kObjectMove: return "ObjectMove";
    case kMesh: return "Mesh";
    default: return "SceneObject";
  }
}

std::string Vec(const Vec3& v) {
  return "[" + JsonNumber(v[0]) + ", " + JsonNumber(v[1]) + ", " + JsonNumber(v[2]) + "]";
}

// Adds the fields of one kind to an object being written.
class FieldWriter : public ObjectPainter {
 public:
  FieldWriter(std::string& out, const std::string& sceneName) : out_(out), sceneName_(sceneName) {}
  void Paint(const Sphere& o) override { Field("radius", JsonNumber(o.radius)); }
  void Paint(const Cuboid& o) override { Field("halfSize", Vec(o.halfSize)); }
  void Paint(const Cylinder& o) override {
    Field("baseRadius", JsonNumber(o.baseRadius));
    Field("topRadius", JsonNumber(o.topRadius));
    Field("height", JsonNumber(o.height));
  }
  void Paint(const Plane& o) override {
    Field("normal", Vec(o.normal));
    Field("offset", JsonNumber(o.offset));
    Field("point", Vec(o.point));
  }
  void Paint(const Quad& o) override {
    Field("vertices", "[" + Vec(o.vertices[0]) + ", " + Vec(o.vertices[1]) + ", " + Vec(o.vertices[2]) + ", " +
                          Vec(o.vertices[3]) + "]");
  }
  // The model is not read: the dump shows which file the line names.
  void Paint(const Mesh& o) override {
    Field("scale", JsonNumber(o.scale));
    Field("file", JsonString(o.file));
    Field("resolvedFile", JsonString(ResolveModelPath(sceneName_, o.file)));
    Field("ownMaterials", o.ownMaterials ? "true" : "false");
  }
  void Field(const char* name, const std::string& value) {
    out_ += ", \"";
    out_ += name;
    out_ += "\": ";
    out_ += value;
  }

 private:
  std::string& out_;
  const std::string& sceneName_;
};

void WriteObject(std::string& out, const SceneObject& o, const std::string& sceneName) {
  out += "{\"kind\": " + std::to_string(o.kind);
  FieldWriter writer(out, sceneName);
  writer.Field("class", JsonString(ClassName(o.kind)));
  writer.Field("id", std::to_string(o.id));
  // The dump's texture list names texture n "n + 1"; 0 is untextured.
  writer.Field("texture", o.texture == 0 ? std::string("null")
                                         : JsonString("tex" + std::to_string(o.texture - 1) + ".bmp"));
  writer.Field("colour", Vec(o.colour));
  writer.Field("position", Vec(o.position));
  writer.Field("rotation", Vec(o.rotation));
  o.Draw(writer);
  out += '}';
}

template <typename List>
void WriteObjectList(std::string& out, const char* name, const List& list, const std::string& sceneName) {
  out += "  \"";
  out += name;
  out += "\": [";
  for (std::size_t k = 0; k < list.size(); ++k) {
    out += k == 0 ? "\n    " : ",\n    ";
    WriteObject(out, *list[k], sceneName);
  }
  out += list.empty() ? "],\n" : "\n  ],\n";
}

void AppendEscapedByte(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

}  // namespace

Prefs EditorPrefs(const std::string& focalText, const std::string& baselineText, char decimalSeparator) {
  Prefs prefs;
  const auto read = [decimalSeparator](const char* what, const std::string& text) {
    const std::string normalised = NormaliseDecimalText(text, decimalSeparator);
    const auto value = ParseLocaleDouble(normalised, decimalSeparator);
    if (!value) throw Error(std::string(what) + ": " + NotValidFloatMessage(normalised));
    return *value;
  };
  prefs.focalLength = read("focal length", focalText);
  // The renderer refuses a focal length that is not positive.
  if (!(prefs.focalLength > 0.0)) {
    throw Error("'" + focalText + "' is not a valid focal length: it must be a positive number of pixels");
  }
  prefs.baseline = read("baseline", baselineText);
  prefs.noise = 0.0;
  prefs.fog = false;
  return prefs;
}

std::string SceneDumpJson(const std::string& fileName, const std::vector<std::string>& lines, Prefs prefs,
                          char decimalSeparator) {
  std::vector<uint32_t> textures;
  for (uint32_t name = 1; name <= 11; ++name) textures.push_back(name);

  SceneModel model;
  CollectingNotifier notifier;
  ParseScene(lines, textures, decimalSeparator, prefs, model, notifier);

  std::string out = "{\n";
  out += "  \"file\": " + JsonString(fileName) + ",\n";
  out += "  \"prefs\": {\"fog\": ";
  out += prefs.fog ? "true" : "false";
  out += ", \"focalLength\": " + JsonNumber(prefs.focalLength);
  out += ", \"baseline\": " + JsonNumber(prefs.baseline);
  out += ", \"noise\": " + JsonNumber(prefs.noise) + "},\n";
  WriteObjectList(out, "solidObjects", model.solidObjects, fileName);
  WriteObjectList(out, "egoFrames", model.egoFrames, fileName);
  // Only scenes with MOVE lines have the list: older dumps keep their text.
  if (!model.objectMoves.empty()) WriteObjectList(out, "objectMoves", model.objectMoves, fileName);
  out += "  \"errors\": [";
  for (std::size_t k = 0; k < notifier.messages.size(); ++k) {
    out += k == 0 ? "\n    " : ",\n    ";
    out += "{\"line\": " + std::to_string(notifier.messages[k].line) +
           ", \"message\": " + JsonString(notifier.messages[k].text) + "}";
  }
  out += notifier.messages.empty() ? "]\n" : "\n  ]\n";
  out += "}\n";
  return out;
}

std::string JsonString(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out += '"';
  std::size_t k = 0;
  while (k < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[k]);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
          if (c < 0x20 || c == 0x7F) {
            AppendEscapedByte(out, c);
          } else {
            out += static_cast<char>(c);
          }
      }
      ++k;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(bytes.substr(k));
    if (length == 0) {
      AppendEscapedByte(out, c);
      ++k;
    } else {
      out.append(bytes.substr(k, length));
      k += length;
    }
  }
  out += '"';
  return out;
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

}  // namespace tovimar
