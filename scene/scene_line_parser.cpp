#include "scene/scene_line_parser.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "scene/locale_number.h"

namespace tovimar {

namespace {

// One value per numeric field; slot 0 belongs to the keyword and stays 0.
constexpr std::size_t kSlots = 100;
using ValueTable = std::array<double, kSlots>;

// Characters that may stand in a number; everything else becomes a space.
std::string FilterField(std::string_view field, char decimalSeparator) {
  std::string out(field);
  for (char& c : out) {
    if (c == '.' || c == ',') {
      c = decimalSeparator;
    } else if (!((c >= '0' && c <= '9') || c == '-')) {
      c = ' ';
    }
  }
  return out;
}

// Truncation toward zero, saturated to the 32-bit range.
int32_t TruncatedId(double v) {
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

std::string NumberText(double v) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

constexpr std::string_view kKeywords[] = {"WALEC", "CYLINDER", "KULA", "SPHERE", "PROST", "CUBOID",
                                          "EGO", "PLANE", "CZWOR", "QUADRILATERAL", "QUAD", "FOG",
                                          "BASELINE", "FOCALLENGTH", "NOISE", "MOVE", "MESH"};

// MESH; id; texture; r; g; b; x; y; z; rx; ry; rz; scale; file: the file is
// the thirteenth field after the keyword, taken as text.
constexpr std::size_t kMeshFileField = 13;

std::string TrimmedText(std::string_view text) {
  std::size_t first = 0, last = text.size();
  while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
  while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t' || text[last - 1] == '\r')) --last;
  return std::string(text.substr(first, last - first));
}

bool IsKeyword(std::string_view word) {
  for (std::string_view k : kKeywords) {
    if (word == k) return true;
  }
  return false;
}

}  // namespace

std::string UnknownKeywordWarning(const std::string& keyword) {
  // A statement's first field is one word of letters (digits and '_' after
  // the first); comments ("//"), blank lines and prose are left alone.
  std::size_t first = 0;
  while (first < keyword.size() && (keyword[first] == ' ' || keyword[first] == '\t')) ++first;
  const std::string_view word = std::string_view(keyword).substr(first);
  if (word.empty() || IsKeyword(keyword)) return {};
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!letter(word[0])) return {};
  for (char c : word) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return {};
  }
  std::string text = "Warning: unknown keyword '" + keyword + "'; the line is ignored";
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (first > 0 && IsKeyword(word)) {
    text += " (no space may stand before the keyword " + upper + ")";
  } else if (IsKeyword(upper)) {
    text += " (keywords are written in capitals: " + upper + ")";
  }
  return text;
}

SceneLineParser::SceneLineParser(char decimalSeparator, Notifier& notifier)
    : decimalSeparator_(decimalSeparator), notifier_(notifier) {}

std::unique_ptr<SceneObject> SceneLineParser::ParseLine(std::string line, const std::vector<uint32_t>& textures,
                                           Prefs& prefs) const {
  line += ';';

  std::string keyword;
  std::size_t counter = 0;
  ValueTable num{};
  bool tooManyReported = false;
  std::string meshFile;
  bool meshOwnMaterials = false;

  const std::string_view rest(line);
  std::size_t start = 0;
  while (start < rest.size()) {
    const std::size_t end = rest.find(';', start);
    if (end == std::string_view::npos) break;  // text after the last ';' (never, with the ';' appended)
    const std::string_view field = rest.substr(start, end - start);
    start = end + 1;

    if (field.empty()) continue;
    if (counter == 0) {
      std::size_t len = field.size();
      while (len > 0 && field[len - 1] == ' ') --len;
      keyword.assign(field.substr(0, len));
    } else if (counter == kMeshFileField && keyword == "MESH") {
      meshFile = TrimmedText(field);
    } else if (counter == 2 && keyword == "MESH" && TrimmedText(field) == kOwnMaterialsWord) {
      meshOwnMaterials = true;
      num[counter] = -1.0;  // no Tovimar texture
    } else if (counter < kSlots) {
      const std::string filtered = FilterField(field, decimalSeparator_);
      if (const auto value = ParseLocaleDouble(filtered, decimalSeparator_)) {
        num[counter] = *value;
      } else {
        notifier_.NotifyField(static_cast<int>(counter), std::string(field), "",
                              "Convert error: " + NotValidFloatMessage(filtered));
      }
    } else if (!tooManyReported) {
      tooManyReported = true;
      notifier_.Notify("", "Too many numbers: a line holds at most " + std::to_string(kSlots - 1) +
                               " numbers; the numbers after them are ignored");
    }
    ++counter;
  }

  if (keyword == "MOVE") {
    // MOVE; id; tx; ty; tz; ax; ay; az: exactly seven numbers, or the line
    // moves nothing (a frame's motion must not be guessed).
    if (counter != 8) {
      notifier_.Notify("", "MOVE needs an id and six numbers (MOVE; id; tx; ty; tz; ax; ay; az), this line has " +
                               std::to_string(counter - 1) + "; the line is ignored");
      return nullptr;
    }
    auto move = std::make_unique<ObjectMove>();
    move->SetId(TruncatedId(num[1]));
    move->SetPosition(num[2], num[3], num[4]);
    move->SetRotation(num[5], num[6], num[7]);
    return move;
  }

  if (keyword == "MESH") {
    const std::string form = " (MESH; id; texture; r; g; b; x; y; z; rx; ry; rz; scale; file)";
    if (counter != kMeshFileField + 1 || meshFile.empty()) {
      notifier_.Notify("", counter > kMeshFileField + 1
                               ? "MESH: the file name must be the last field" + form + "; the line is ignored"
                               : "MESH needs twelve numbers and a file name" + form + "; the line is ignored");
      return nullptr;
    }
    if (!(num[12] > 0.0) || !std::isfinite(num[12])) {
      notifier_.Notify("", "MESH: the scale must be a positive number, not " + NumberText(num[12]) +
                               "; the line is ignored");
      return nullptr;
    }
  }

  std::unique_ptr<SceneObject> object;
  if (keyword == "MESH") {
    auto mesh = std::make_unique<Mesh>(num[12], meshFile);
    mesh->ownMaterials = meshOwnMaterials;
    object = std::move(mesh);
  } else if (keyword == "WALEC" || keyword == "CYLINDER") {
    object = std::make_unique<Cylinder>(num[12], num[13], num[14]);
  } else if (keyword == "KULA" || keyword == "SPHERE") {
    object = std::make_unique<Sphere>(num[12]);
  } else if (keyword == "PROST" || keyword == "CUBOID") {
    object = std::make_unique<Cuboid>(num[12], num[13], num[14]);
  } else if (keyword == "EGO") {
    object = std::make_unique<CameraMotion>();
  } else if (keyword == "PLANE") {
    auto plane = std::make_unique<Plane>(num[6], num[7], num[8], num[9], num[10], num[11]);
    if (!std::isfinite(plane->offset)) {
      // a px + b py + c pz overflowed on the way: recompute in wider precision
      // and keep the nearest representable offset, so no infinity or NaN
      // reaches the renderer.
      const long double d = -(static_cast<long double>(num[6]) * num[9] +
                              static_cast<long double>(num[7]) * num[10] +
                              static_cast<long double>(num[8]) * num[11]);
      constexpr long double kMax = std::numeric_limits<double>::max();
      if (std::isnan(d)) {
        plane->offset = 0.0;
      } else if (d > kMax || d < -kMax) {
        plane->offset = d > 0 ? std::numeric_limits<double>::max() : -std::numeric_limits<double>::max();
        notifier_.Notify("", "Plane offset out of range: the plane is kept at offset " +
                                 NumberText(plane->offset));
      } else {
        plane->offset = static_cast<double>(d);
      }
    }
    object = std::move(plane);
  } else if (keyword == "CZWOR" || keyword == "QUADRILATERAL" || keyword == "QUAD") {
    std::array<double, 12> corners{};
    for (std::size_t k = 0; k < 12; ++k) corners[k] = num[6 + k];
    object = std::make_unique<Quad>(corners);
  }

  if (object) {
    if (object->kind == kCameraMotion && counter == 7) {
      object->SetPosition(num[1], num[2], num[3]);
      object->SetRotation(num[4], num[5], num[6]);
    } else {
      object->SetPosition(num[6], num[7], num[8]);
      object->SetRotation(num[9], num[10], num[11]);
      object->SetColour(num[3], num[4], num[5]);
      object->SetId(TruncatedId(num[1]));
      if (num[2] < 0.0) {
        object->SetTexture(0);
      } else if (num[2] < static_cast<double>(textures.size())) {
        object->SetTexture(textures[static_cast<std::size_t>(num[2])]);
      } else {
        object->SetTexture(0);
        const std::string number = NumberText(std::trunc(num[2]));
        std::string text = "Texture " + number + " is not loaded";
        text += textures.empty() ? " (no textures are loaded)"
                                 : " (0 to " + std::to_string(textures.size() - 1) + " are)";
        text += ": the object is drawn without texture";
        notifier_.Notify("", text);
      }
    }
    return object;
  }

  if (keyword == "FOG") {
    prefs.fog = true;
  } else if (keyword == "BASELINE") {
    prefs.baseline = num[1];
  } else if (keyword == "FOCALLENGTH") {
    prefs.focalLength = num[1];
  } else if (keyword == "NOISE") {
    prefs.noise = num[1];
  } else if (const std::string warning = UnknownKeywordWarning(keyword); !warning.empty()) {
    notifier_.NotifyField(0, keyword, "", warning);
  }
  return nullptr;
}

}  // namespace tovimar
