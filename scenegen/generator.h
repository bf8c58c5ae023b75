#pragma once
// Random scenes in Tovimar's scene language. Three presets:
//  flying: many solids floating at random depths in front of a textured
//          background quad (optionally over a floor plane); with `moving`,
//          a share of them move on their own (MOVE lines);
//  room:   a textured room (QUAD walls, floor and ceiling) with furniture-like
//          boxes, cylinders, cones and balls standing on the floor;
//  street: a road with pavements on a ground plane, houses and poles along
//          it, vehicles (boxes and cylinders) driving both ways, a sky quad;
//          the camera drives along the road with small turns (KITTI-like
//          focal length and baseline).
// Flying and room scenes have a smooth random camera path (one EGO line per
// frame) that keeps the camera within `roam` of its start on each axis, and
// no solid comes nearer than the near clipping plane to that region.
// Scene k of a seed depends only on the seed, k and the options: the draws
// come from PCG32 stream k seeded by SplitMix64(seed).
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovimar::scenegen {

enum class Preset { Flying, Room, Street };

struct Range {
  double lo = 0.0;
  double hi = 0.0;
};

// The most scenes one run writes (--count): their indices are 0 .. kMaxSceneCount-1.
inline constexpr int kMaxSceneCount = 1000000;

struct GeneratorOptions {
  Preset preset = Preset::Flying;
  uint64_t seed = 0;
  int count = 1;
  int frames = 10;
  std::string outDir = "scenes";
  bool quiet = false;
  bool help = false;
  bool textures = false;  // a texture set of its own beside each scene (the scene text is the same)

  // Unset ranges take the preset's default (see Resolved()).
  std::optional<Range> objects;  // number of solids (whole numbers)
  std::optional<Range> size;     // radius / half size of a solid, scene units
  Range depth{2.0, 12.0};        // flying: distance of the solids ahead of the camera
  Range noise{0.0, 2.0};         // NOISE standard deviation
  double fogChance = 0.15;       // probability of a FOG line
  double floorChance = 0.3;      // flying: probability of a floor PLANE
  double coneChance = 0.3;       // a cylinder is a cone (top radius 0)
  double textureChance = 0.7;    // a solid is textured (texture 0..10, else -1)
  double speed = 0.03;           // largest camera step per frame and axis, scene units
  double turn = 0.3;             // largest camera turn per frame and axis, degrees
  double roam = 0.4;             // the camera stays within this of its start on each axis
  Range roomWidth{3.0, 6.0};
  Range roomLength{8.0, 14.0};
  Range roomHeight{2.6, 3.4};
  // flying: the share of solids that move on their own, their largest step
  // per frame and axis and their largest turn per frame and axis (degrees).
  // Drawn from a random stream of their own: 0 (the default) leaves the
  // scene text as it was without them.
  double moving = 0.0;
  double moveSpeed = 0.05;
  double moveTurn = 2.0;
  double streetSpeed = 0.8;  // street: the camera's step per frame, metres
  // flying: a folder of model files; each solid is then a MESH of one of them.
  std::string modelsDir;

  // The options with the preset's defaults filled in.
  GeneratorOptions Resolved() const;
  // Throws OptionError naming the option when values do not fit together.
  void Check() const;
};

class OptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A model file for the flying preset's solids: the file field as a MESH
// line of a scene in the output folder writes it, half the largest side of
// the model's bounding box and the farthest corner of that box from the
// model's origin (model units).
struct ModelChoice {
  std::string field;
  double halfSize = 0.0;
  double reach = 0.0;
};

// The model files in `dir` (the extensions the model loader reads, any
// case), in name order, each read with the model loader; files it cannot
// read are left out. The field is relative to `sceneDir` when possible,
// else absolute. Throws Error naming the folder when it is missing, holds no
// model file or none that reads.
std::vector<ModelChoice> FindModels(const std::string& dir, const std::string& sceneDir);

// Parses the arguments after the program name ("--name value" or
// "--name=value"); throws OptionError naming the option and the cause.
GeneratorOptions ParseArguments(const std::vector<std::string>& args);
std::string UsageText();

// "scene_000042.txt".
std::string SceneFileName(int index);

// The text of scene `index` (LF line ends), led by comment lines that name
// the generator, preset, seed, index and every option.
// With modelsDir the models are those of FindModels(modelsDir, outDir).
std::string GenerateScene(const GeneratorOptions& options, int index);
// The same with the models already found.
std::string GenerateScene(const GeneratorOptions& options, int index, const std::vector<ModelChoice>& models);

// One EGO line's motion: translation and angles in degrees.
struct EgoMotion {
  std::array<double, 3> t{};
  std::array<double, 3> a{};
};

// The camera position in the world after each motion of `path` (entry 0:
// after the first EGO line), following how the renderer composes the motions:
// each is applied in 256 equal parts, translation then rotations about x, y
// and z, after the motions before it; the default view puts the camera at
// (0, -3, 0) looking along +y with +z up.
std::vector<std::array<double, 3>> CameraPositions(const std::vector<EgoMotion>& path);

// Writes every scene of the options into outDir (created when missing), and
// with `textures` each scene's texture set into its texture folder. Returns
// the scene paths written; throws tovimar::Error naming a folder or file
// that cannot be made or written.
std::vector<std::string> WriteScenes(const GeneratorOptions& options);

}  // namespace tovimar::scenegen
