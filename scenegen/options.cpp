#include <charconv>
#include <cmath>
#include <functional>

#include "scenegen/generator.h"

namespace tovimar::scenegen {

namespace {

double ParseNumber(const std::string& text) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || ptr != last || !std::isfinite(value)) {
    throw OptionError("'" + text + "' is not a number");
  }
  return value;
}

template <typename Int>
Int ParseWhole(const std::string& text, Int low, Int high, const std::string& what) {
  Int value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || ptr != last || value < low || value > high) {
    throw OptionError("'" + text + "' is not " + what);
  }
  return value;
}

Range ParseRange(const std::string& text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) throw OptionError("'" + text + "' is not a range MIN,MAX");
  Range r{ParseNumber(text.substr(0, comma)), ParseNumber(text.substr(comma + 1))};
  if (r.lo > r.hi) throw OptionError("'" + text + "': the smallest value is larger than the largest");
  return r;
}

// Shortest text that reads back the same, whatever the locale.
std::string Text(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

void Within(const std::string& name, double v, double lo, double hi) {
  if (!(v >= lo && v <= hi)) throw OptionError(name + ": " + Text(v) + " is outside " + Text(lo) + ".." + Text(hi));
}

void RangeWithin(const std::string& name, const Range& r, double lo, double hi) {
  if (!(r.lo >= lo && r.hi <= hi)) {
    throw OptionError(name + ": the range must lie within " + Text(lo) + ".." + Text(hi));
  }
}

struct Row {
  const char* name;
  const char* value;  // nullptr: a switch
  const char* help;
  std::function<void(GeneratorOptions&, const std::string&)> apply;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"help", nullptr, "show this help and exit", [](GeneratorOptions& o, const std::string&) { o.help = true; }},
      {"preset", "NAME", "flying, room or street; default flying",
       [](GeneratorOptions& o, const std::string& v) {
         if (v == "flying") o.preset = Preset::Flying;
         else if (v == "room") o.preset = Preset::Room;
         else if (v == "street") o.preset = Preset::Street;
         else throw OptionError("'" + v + "' is not flying, room or street");
       }},
      {"seed", "S", "seed, a whole number 0..2^64-1; default 0",
       [](GeneratorOptions& o, const std::string& v) {
         o.seed = ParseWhole<uint64_t>(v, 0, UINT64_MAX, "a whole number from 0 to 2^64-1");
       }},
      {"count", "N", "number of scenes; default 1",
       [](GeneratorOptions& o, const std::string& v) {
         o.count = ParseWhole<int>(v, 1, kMaxSceneCount, "a count 1.." + std::to_string(kMaxSceneCount));
       }},
      {"frames", "F", "EGO lines (frames) per scene; default 10",
       [](GeneratorOptions& o, const std::string& v) { o.frames = ParseWhole<int>(v, 1, 100000, "a count 1..100000"); }},
      {"out", "DIR", "folder for scene_000000.txt ...; default ./scenes",
       [](GeneratorOptions& o, const std::string& v) {
         if (v.empty()) throw OptionError("the folder name is empty");
         o.outDir = v;
       }},
      {"objects", "MIN,MAX", "number of solids; default 8,20 (flying), 4,10 (room), vehicles 4,10 (street)",
       [](GeneratorOptions& o, const std::string& v) { o.objects = ParseRange(v); }},
      {"size", "MIN,MAX", "radius or half size of a solid; default 0.15,0.7 (flying), 0.2,0.6 (room)",
       [](GeneratorOptions& o, const std::string& v) { o.size = ParseRange(v); }},
      {"depth", "MIN,MAX", "flying: distance of the solids ahead of the camera; default 2,12",
       [](GeneratorOptions& o, const std::string& v) { o.depth = ParseRange(v); }},
      {"noise", "MIN,MAX", "NOISE standard deviation; default 0,2",
       [](GeneratorOptions& o, const std::string& v) { o.noise = ParseRange(v); }},
      {"fog-chance", "P", "probability of fog; default 0.15",
       [](GeneratorOptions& o, const std::string& v) { o.fogChance = ParseNumber(v); }},
      {"floor-chance", "P", "flying: probability of a floor plane; default 0.3",
       [](GeneratorOptions& o, const std::string& v) { o.floorChance = ParseNumber(v); }},
      {"cone-chance", "P", "probability that a cylinder is a cone; default 0.3",
       [](GeneratorOptions& o, const std::string& v) { o.coneChance = ParseNumber(v); }},
      {"texture-chance", "P", "probability that a solid is textured; default 0.7",
       [](GeneratorOptions& o, const std::string& v) { o.textureChance = ParseNumber(v); }},
      {"speed", "V", "largest camera step per frame and axis; default 0.03",
       [](GeneratorOptions& o, const std::string& v) { o.speed = ParseNumber(v); }},
      {"turn", "DEG", "largest camera turn per frame and axis, degrees; default 0.3",
       [](GeneratorOptions& o, const std::string& v) { o.turn = ParseNumber(v); }},
      {"roam", "R", "the camera stays within R of its start on each axis; default 0.4",
       [](GeneratorOptions& o, const std::string& v) { o.roam = ParseNumber(v); }},
      {"room-width", "MIN,MAX", "room: width; default 3,6",
       [](GeneratorOptions& o, const std::string& v) { o.roomWidth = ParseRange(v); }},
      {"room-length", "MIN,MAX", "room: length; default 8,14",
       [](GeneratorOptions& o, const std::string& v) { o.roomLength = ParseRange(v); }},
      {"room-height", "MIN,MAX", "room: height; default 2.6,3.4",
       [](GeneratorOptions& o, const std::string& v) { o.roomHeight = ParseRange(v); }},
      {"moving", "P", "flying: share of the solids that move on their own; default 0",
       [](GeneratorOptions& o, const std::string& v) { o.moving = ParseNumber(v); }},
      {"move-speed", "V", "flying: largest step of a moving solid per frame and axis; default 0.05",
       [](GeneratorOptions& o, const std::string& v) { o.moveSpeed = ParseNumber(v); }},
      {"move-turn", "DEG", "flying: largest turn of a moving solid per frame and axis, degrees; default 2",
       [](GeneratorOptions& o, const std::string& v) { o.moveTurn = ParseNumber(v); }},
      {"street-speed", "V", "street: the camera's step per frame, metres; default 0.8",
       [](GeneratorOptions& o, const std::string& v) { o.streetSpeed = ParseNumber(v); }},
      {"textures", nullptr,
       "draw a texture set of its own for each scene, written beside it (scene_NNNNNN.textures/tex0.bmp ... "
       "tex10.bmp), which tovimar-render then uses",
       [](GeneratorOptions& o, const std::string&) { o.textures = true; }},
      {"models", "DIR",
       "flying: each solid is a MESH of a model file in DIR (.obj, .gltf, .glb, .ply, .stl), chosen at random "
       "and scaled to --size",
       [](GeneratorOptions& o, const std::string& v) {
         if (v.empty()) throw OptionError("the folder name is empty");
         if (v.find_first_of(";\r\n") != std::string::npos) throw OptionError("'" + v + "' holds ';' or a line end");
         o.modelsDir = v;
       }},
      {"quiet", nullptr, "print nothing on success", [](GeneratorOptions& o, const std::string&) { o.quiet = true; }},
  };
  return rows;
}

}  // namespace

void GeneratorOptions::Check() const {
  const GeneratorOptions r = Resolved();
  RangeWithin("--objects", *r.objects, 0, 200);
  if (r.objects->lo != std::floor(r.objects->lo) || r.objects->hi != std::floor(r.objects->hi)) {
    throw OptionError("--objects: the counts must be whole numbers");
  }
  RangeWithin("--size", *r.size, 0.01, 5.0);
  RangeWithin("--noise", r.noise, 0.0, 100.0);
  Within("--fog-chance", r.fogChance, 0.0, 1.0);
  Within("--floor-chance", r.floorChance, 0.0, 1.0);
  Within("--cone-chance", r.coneChance, 0.0, 1.0);
  Within("--texture-chance", r.textureChance, 0.0, 1.0);
  Within("--speed", r.speed, 0.0, 1.0);
  Within("--turn", r.turn, 0.0, 10.0);
  Within("--roam", r.roam, 0.0, 2.0);
  Within("--moving", r.moving, 0.0, 1.0);
  Within("--move-speed", r.moveSpeed, 0.0, 1.0);
  Within("--move-turn", r.moveTurn, 0.0, 20.0);
  Within("--street-speed", r.streetSpeed, 0.0, 3.0);
  if (!r.modelsDir.empty() && r.preset != Preset::Flying) {
    throw OptionError("--models: only the flying preset draws its solids from models");
  }
  // The renderer's far plane is 34 units away; the background stands 2 beyond the farthest solid.
  RangeWithin("--depth", r.depth, r.roam + 0.6, 28.0);
  const double wall = 2.0 * (r.roam + 0.6);  // the camera's region plus the near plane on both sides
  RangeWithin("--room-width", r.roomWidth, wall, 40.0);
  RangeWithin("--room-height", r.roomHeight, std::max(wall, 2.0), 20.0);
  RangeWithin("--room-length", r.roomLength, wall + 2.0, 30.0);
}

GeneratorOptions ParseArguments(const std::vector<std::string>& args) {
  GeneratorOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) throw OptionError("unexpected argument '" + arg + "'");
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const Row* row = nullptr;
    for (const Row& r : Rows()) {
      if (name == r.name) row = &r;
    }
    if (row == nullptr) throw OptionError("unknown option --" + name);
    std::string value;
    if (row->value == nullptr) {
      if (eq != std::string::npos) throw OptionError("--" + name + " takes no value");
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw OptionError("--" + name + " needs a value (" + row->value + ")");
    }
    try {
      row->apply(o, value);
    } catch (const OptionError& e) {
      throw OptionError("--" + name + ": " + e.what());
    }
  }
  if (!o.help) o.Check();
  return o;
}

std::string UsageText() {
  std::string text =
      "Usage: tovimar-scenegen [options]\n"
      "Writes random scenes DIR/scene_000000.txt ... in Tovimar's scene language.\n"
      "The same seed and options give the same files on every machine.\n\nOptions:\n";
  for (const Row& r : Rows()) {
    std::string left = std::string("  --") + r.name + (r.value ? std::string(" ") + r.value : std::string());
    if (left.size() < 26) left.resize(26, ' ');
    else left += "  ";
    text += left + r.help + "\n";
  }
  return text;
}

}  // namespace tovimar::scenegen
