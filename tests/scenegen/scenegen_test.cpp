// tovimar-scenegen: the same seed gives the same bytes, every scene reads
// back without a report, ids are unique, and the camera starts clear of
// every solid and stays in its region.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "scene/assembly.h"
#include "scene/scene_text.h"
#include "scenegen/generator.h"
#include "scenegen/random.h"
#include "scenegen/textures.h"
#include "layout/file_names.h"
#include "io/bmp.h"

namespace tovimar::scenegen {
namespace {

namespace fs = std::filesystem;

struct Collected : LineNotifier {
  std::vector<std::string> reports;
  void NotifyLine(int line, const std::string&, const std::string& text) override {
    reports.push_back(std::to_string(line) + ": " + text);
  }
};

struct Parsed {
  Prefs prefs;
  SceneModel model;
  std::vector<std::string> reports;
};

Parsed Parse(const std::string& text) {
  Parsed p;
  p.prefs.focalLength = 389.0;
  p.prefs.baseline = 0.12;
  std::vector<uint32_t> textures;
  for (uint32_t n = 1; n <= 11; ++n) textures.push_back(n);  // tex0 .. tex10 loaded
  Collected notifier;
  ParseScene(SplitLines(text), textures, '.', p.prefs, p.model, notifier);
  p.reports = notifier.reports;
  return p;
}

GeneratorOptions Options(Preset preset, uint64_t seed, int frames = 10) {
  GeneratorOptions o;
  o.preset = preset;
  o.seed = seed;
  o.frames = frames;
  return o;
}

double Length(double x, double y, double z) { return std::sqrt(x * x + y * y + z * z); }

// The nearest any point of a solid can be to c (spheres around the position
// for cuboids and cylinders, the supporting plane for quads).
double Clearance(const SceneObject& o, const Vec3& c) {
  const double d = Length(o.position[0] - c[0], o.position[1] - c[1], o.position[2] - c[2]);
  switch (o.kind) {
    case kSphere: return d - static_cast<const Sphere&>(o).radius;
    case kCuboid: {
      const Vec3& h = static_cast<const Cuboid&>(o).halfSize;
      return d - Length(h[0], h[1], h[2]);
    }
    case kCylinder: {
      const auto& cy = static_cast<const Cylinder&>(o);
      return d - Length(std::max(cy.baseRadius, cy.topRadius), cy.height, 0.0);
    }
    case kPlane: {
      const auto& p = static_cast<const Plane&>(o);
      return std::fabs(p.normal[0] * c[0] + p.normal[1] * c[1] + p.normal[2] * c[2] + p.offset) /
             Length(p.normal[0], p.normal[1], p.normal[2]);
    }
    case kQuad: {
      const auto& v = static_cast<const Quad&>(o).vertices;
      const Vec3 a{v[1][0] - v[0][0], v[1][1] - v[0][1], v[1][2] - v[0][2]};
      const Vec3 b{v[2][0] - v[0][0], v[2][1] - v[0][1], v[2][2] - v[0][2]};
      const Vec3 n{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
      return std::fabs(n[0] * (c[0] - v[0][0]) + n[1] * (c[1] - v[0][1]) + n[2] * (c[2] - v[0][2])) /
             Length(n[0], n[1], n[2]);
    }
    default: return 1e9;
  }
}

std::string Sha256(const std::string& bytes) {
  const fs::path file = fs::temp_directory_path() / ("tovimar-scenegen-" + std::to_string(getpid()) + ".txt");
  { std::FILE* f = std::fopen(file.c_str(), "wb"); std::fwrite(bytes.data(), 1, bytes.size(), f); std::fclose(f); }
  std::FILE* pipe = popen(("sha256sum " + file.string()).c_str(), "r");
  char hex[65] = {};
  const std::size_t n = pipe ? std::fread(hex, 1, 64, pipe) : 0;
  if (pipe) pclose(pipe);
  fs::remove(file);
  return std::string(hex, n);
}

TEST(ScenegenRandom, KnownOutputsOfTheGenerators) {
  // First outputs of SplitMix64 from 0 and of PCG32 (seed 42, stream 54),
  // as published with their reference implementations.
  uint64_t s = 0;
  EXPECT_EQ(SplitMix64(s), 0xE220A8397B1DCDAFULL);
  Pcg32 pcg(42, 54);
  EXPECT_EQ(pcg.Next(), 0xa15c02b7U);
  EXPECT_EQ(pcg.Next(), 0x7b47f409U);
  for (int i = 0; i < 1000; ++i) {
    const double u = pcg.Unit();
    ASSERT_TRUE(u >= 0.0 && u < 1.0);
    ASSERT_LT(pcg.Below(7), 7U);
  }
}

TEST(ScenegenDeterminism, SameSeedSameBytesAndAGoldenDigest) {
  for (Preset preset : {Preset::Flying, Preset::Room}) {
    EXPECT_EQ(GenerateScene(Options(preset, 7), 3), GenerateScene(Options(preset, 7), 3));
    // Scene k does not depend on how many scenes are made.
    GeneratorOptions few = Options(preset, 7), many = Options(preset, 7);
    few.count = 2;
    many.count = 50;
    EXPECT_EQ(GenerateScene(few, 1), GenerateScene(many, 1));
  }
  // A change of the generator, its arithmetic or its number text changes these.
  EXPECT_EQ(Sha256(GenerateScene(Options(Preset::Flying, 20240611, 12), 2)), "6162fb463cab9b002904fe9c4d1d82dd8e766d9827049ad1db5fd48249cee781");
  EXPECT_EQ(Sha256(GenerateScene(Options(Preset::Room, 20240611, 12), 2)), "67fbe4776c8b4f56123ecbfac31bf044bb2bfe3568adfd551beefa9357fd7c6f");
  EXPECT_EQ(Sha256(GenerateScene(Options(Preset::Street, 20240611, 12), 2)),
            "600546fdbf0f37802cfc643aba5c3e804b2686508d00b47a0e2e1d6eb0bd9801");
  GeneratorOptions moving = Options(Preset::Flying, 20240611, 12);
  moving.moving = 0.5;
  EXPECT_EQ(Sha256(GenerateScene(moving, 2)), "9a4fa791e69e8fde91df65a81c92d4802c6282de97a1c2f21616fe99b4e8c605");
}

TEST(ScenegenDeterminism, SeedsAndIndicesGiveDifferentScenes) {
  for (Preset preset : {Preset::Flying, Preset::Room}) {
    const std::string base = GenerateScene(Options(preset, 1), 0);
    // The header names seed and index; compare what follows it.
    auto body = [](const std::string& t) { return t.substr(t.find("NOISE")); };
    EXPECT_NE(body(base), body(GenerateScene(Options(preset, 2), 0)));
    EXPECT_NE(body(base), body(GenerateScene(Options(preset, 1), 1)));
    EXPECT_NE(body(base), body(GenerateScene(Options(preset, 1ULL << 40), 0)));
  }
}

TEST(ScenegenScenes, ManySeedsParseCleanlyWithUniqueIdsAndAClearCamera) {
  const Vec3 camera{0.0, -3.0, 0.0};
  for (Preset preset : {Preset::Flying, Preset::Room}) {
    for (uint64_t seed = 0; seed < 200; ++seed) {
      const int frames = 5 + static_cast<int>(seed % 20);
      const GeneratorOptions o = Options(preset, seed, frames);
      const std::string text = GenerateScene(o, static_cast<int>(seed % 3));
      SCOPED_TRACE((preset == Preset::Flying ? "flying seed " : "room seed ") + std::to_string(seed));
      const Parsed p = Parse(text);
      ASSERT_TRUE(p.reports.empty()) << p.reports.front();
      ASSERT_EQ(p.model.egoFrames.size(), static_cast<std::size_t>(frames));
      ASSERT_GE(p.model.solidObjects.size(), preset == Preset::Flying ? 1U : 6U);  // background / walls
      std::set<int> ids;
      std::vector<EgoMotion> path;
      for (const auto& solid : p.model.solidObjects) {
        ASSERT_TRUE(solid->id >= 1 && solid->id <= 255) << solid->id;
        ASSERT_TRUE(ids.insert(solid->id).second) << "id " << solid->id << " twice";
        ASSERT_GT(Clearance(*solid, camera), 0.5) << "solid " << solid->id << " reaches the camera";
      }
      for (const auto& ego : p.model.egoFrames) {
        path.push_back({{ego->position[0], ego->position[1], ego->position[2]},
                        {ego->rotation[0], ego->rotation[1], ego->rotation[2]}});
      }
      // The camera keeps to its region, so the solids stay clear of it on every frame.
      for (const auto& c : CameraPositions(path)) {
        for (int i = 0; i < 3; ++i) ASSERT_LE(std::fabs(c[i] - camera[i]), o.roam + 1e-3);
      }
      // Comment lines never hold a field separator or start like a statement.
      for (const std::string& line : SplitLines(text)) {
        if (line.starts_with("//")) {
          ASSERT_EQ(line.find(';'), std::string::npos) << line;
        }
      }
    }
  }
}

TEST(ScenegenScenes, ThePathMovesAndTurnsTheCamera) {
  // One forward step of 0.1 puts the camera 0.1 along +y. The renderer
  // applies each later motion in the first camera's frame, so a quarter turn
  // about the eye's y axis swings the camera around its start, to x = 0.1.
  const auto path = CameraPositions({EgoMotion{{0, 0, 0.1}, {0, 0, 0}}, EgoMotion{{0, 0, 0}, {0, 90, 0}}});
  EXPECT_NEAR(path[0][0], 0.0, 1e-9);
  EXPECT_NEAR(path[0][1], -2.9, 1e-9);
  EXPECT_NEAR(path[1][0], 0.1, 1e-9);
  EXPECT_NEAR(path[1][1], -3.0, 1e-9);
  EXPECT_NEAR(path[1][2], 0.0, 1e-9);
}

TEST(ScenegenMotion, FlyingSolidsMoveFromAStreamOfTheirOwnAndStayClear) {
  for (uint64_t seed = 0; seed < 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const GeneratorOptions still = Options(Preset::Flying, seed, 12);
    GeneratorOptions moving = still;
    moving.moving = 0.5;
    const std::string before = GenerateScene(still, 1);
    const std::string after = GenerateScene(moving, 1);
    EXPECT_EQ(after, GenerateScene(moving, 1));
    // The same scene and camera path, one header line and the MOVE lines added.
    const std::size_t body = before.find("NOISE");
    ASSERT_EQ(after.substr(after.find("NOISE"), before.size() - body), before.substr(body));
    const Parsed p = Parse(after);
    ASSERT_TRUE(p.reports.empty()) << p.reports.front();
    const ObjectMotionTable& motion = p.model.motion;
    EXPECT_EQ(p.model.objectMoves.size(), motion.GroupCount() * 12);
    // Every moving solid's centre stays clear of the camera's region on every frame.
    for (std::size_t i = 0; i < p.model.solidObjects.size(); ++i) {
      const int group = motion.GroupOfSolid(i);
      if (group < 0) continue;
      const SceneObject& solid = *p.model.solidObjects[i];
      const double bound = -Clearance(solid, solid.position);  // of a solid about its position
      for (int frame = 0; frame < 12; ++frame) {
        // A solid turns about its own position: only the translation moves it.
        const RigidPose& pose = motion.Pose(static_cast<std::size_t>(group), frame);
        const Vec3 at{pose[0] * solid.position[0] + pose[1] * solid.position[1] + pose[2] * solid.position[2] + pose[3],
                      pose[4] * solid.position[0] + pose[5] * solid.position[1] + pose[6] * solid.position[2] + pose[7],
                      pose[8] * solid.position[0] + pose[9] * solid.position[1] + pose[10] * solid.position[2] +
                          pose[11]};
        const Vec3 start{0.0, -3.0, 0.0};
        const double dx = std::max(std::fabs(at[0] - start[0]) - still.roam, 0.0);
        const double dy = std::max(std::fabs(at[1] - start[1]) - still.roam, 0.0);
        const double dz = std::max(std::fabs(at[2] - start[2]) - still.roam, 0.0);
        ASSERT_GT(Length(dx, dy, dz) - bound, 0.5) << "solid " << solid.id << " frame " << frame;
      }
    }
  }
  // Some seed moves something.
  GeneratorOptions o = Options(Preset::Flying, 3, 5);
  o.moving = 1.0;
  EXPECT_NE(GenerateScene(o, 0).find("\nMOVE;"), std::string::npos);
}

TEST(ScenegenStreet, DeterministicParsesCleanlyAndDrivesAlongTheRoad) {
  for (uint64_t seed = 0; seed < 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const GeneratorOptions o = Options(Preset::Street, seed, 20);
    const std::string text = GenerateScene(o, 2);
    ASSERT_EQ(text, GenerateScene(o, 2));
    const Parsed p = Parse(text);
    ASSERT_TRUE(p.reports.empty()) << p.reports.front();
    EXPECT_EQ(p.prefs.focalLength, 721.5);
    EXPECT_EQ(p.prefs.baseline, 0.54);
    ASSERT_EQ(p.model.egoFrames.size(), 20u);
    std::vector<EgoMotion> path;
    for (const auto& ego : p.model.egoFrames) {
      path.push_back({{ego->position[0], ego->position[1], ego->position[2]},
                      {ego->rotation[0], ego->rotation[1], ego->rotation[2]}});
    }
    // Forward 0.8 a frame, in its lane, at its height.
    const auto camera = CameraPositions(path);
    for (std::size_t f = 0; f < camera.size(); ++f) {
      EXPECT_NEAR(camera[f][1], -3.0 + 0.8 * static_cast<double>(f), 0.05) << "frame " << f;
      EXPECT_LT(std::fabs(camera[f][0]), 1.0) << "frame " << f;
      EXPECT_NEAR(camera[f][2], 0.0, 1e-3) << "frame " << f;
    }
    // The sky and the vehicles move; vehicles drive both ways in the lanes.
    const ObjectMotionTable& motion = p.model.motion;
    ASSERT_GE(motion.GroupCount(), 5u);  // sky and at least four vehicles
    for (std::size_t g = 0; g < motion.GroupCount(); ++g) {
      const RigidPose& last = motion.Pose(g, 19);
      if (motion.GroupId(g) == 4) {
        EXPECT_NEAR(last[7], 0.8 * 19, 0.05) << "the sky keeps ahead of the camera";
      } else {
        EXPECT_GT(std::fabs(last[7]), 0.8 * 19 * 0.75) << "vehicle " << motion.GroupId(g);
      }
    }
  }
  EXPECT_NE(GenerateScene(Options(Preset::Street, 1), 0), GenerateScene(Options(Preset::Street, 2), 0));
}

int RunTool(const std::string& args, std::string* err) {
  const std::string command = std::string(TOVIMAR_SCENEGEN_BIN) + " " + args + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  std::size_t n = 0;
  err->clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) err->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ScenegenTool, BadOptionsExitTwoNamingTheCause) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--preset forest", "--preset: 'forest' is not flying, room or street"},
      {"--seed -1", "--seed"},
      {"--count 0", "--count"},
      {"--frames", "--frames needs a value"},
      {"--objects 9", "not a range"},
      {"--objects 9,3", "larger than the largest"},
      {"--objects 2.5,4", "whole numbers"},
      {"--size 0.1,x", "'x' is not a number"},
      {"--fog-chance 1.5", "--fog-chance"},
      {"--depth 0.2,10", "--depth"},
      {"--room-width 1,2", "--room-width"},
      {"--colour 3", "unknown option --colour"},
      {"scene.txt", "unexpected argument 'scene.txt'"},
  };
  for (const auto& [args, message] : cases) {
    std::string err;
    EXPECT_EQ(RunTool(args, &err), 2) << args;
    EXPECT_NE(err.find(message), std::string::npos) << args << " -> " << err;
  }
}

TEST(ScenegenTextures, ElevenDistinctPicturesPerSceneTheSameOnEveryMachine) {
  const std::vector<BmpImage24> set = GenerateTextureSet(3, 0);
  ASSERT_EQ(set.size(), 11u);
  std::set<std::vector<uint8_t>> distinct;
  std::string all;
  for (const BmpImage24& t : set) {
    EXPECT_EQ(t.Width(), 128);
    EXPECT_EQ(t.Height(), 128);
    distinct.insert(t.FileBytes());
    all.append(t.FileBytes().begin(), t.FileBytes().end());
  }
  EXPECT_EQ(distinct.size(), 11u);
  for (const BmpImage24& t : GenerateTextureSet(3, 1)) EXPECT_EQ(distinct.count(t.FileBytes()), 0u);
  // A change of the families, their arithmetic or the random streams changes this.
  EXPECT_EQ(Sha256(all), "1b503aa70bacc86dc850395ec673d0644699fb0b32891d3db3d562618873f1b4");
}

TEST(ScenegenTool, WritesNumberedFilesEqualToTheLibrary) {
  const fs::path dir = fs::temp_directory_path() / ("tovimar-scenegen-out-" + std::to_string(getpid()));
  fs::remove_all(dir);
  std::string err;
  ASSERT_EQ(RunTool("--preset room --seed 5 --count 3 --frames 4 --quiet --textures --out " + dir.string(), &err), 0)
      << err;
  GeneratorOptions o = Options(Preset::Room, 5, 4);
  for (int i = 0; i < 3; ++i) {
    // The scene text is the same with or without its textures.
    const std::string scene = (dir / SceneFileName(i)).string();
    EXPECT_EQ(ReadFileBytes(scene), GenerateScene(o, i));
    const std::vector<BmpImage24> set = GenerateTextureSet(5, i);
    for (int t = 0; t < 11; ++t) {
      const std::string texture = SceneTextureFolder(scene) + TextureFileName(t);
      const std::vector<uint8_t>& bytes = set[static_cast<std::size_t>(t)].FileBytes();
      EXPECT_EQ(ReadFileBytes(texture), std::string(bytes.begin(), bytes.end())) << texture;
    }
  }
  EXPECT_FALSE(fs::exists(dir / SceneFileName(3)));
  fs::remove_all(dir);
}

TEST(ScenegenTool, AScenePastTheRenderersSizeLimitIsRefusedNotWritten) {
  // Thousands of frames of 100 moving solids: one MOVE line per solid and frame, about 80 MB.
  GeneratorOptions o = Options(Preset::Flying, 1, 15000);
  o.objects = Range{100, 100};
  o.moving = 1.0;
  o.outDir = (fs::temp_directory_path() / ("tovimar-scenegen-large-" + std::to_string(getpid()))).string();
  fs::remove_all(o.outDir);
  try {
    WriteScenes(o);
    ADD_FAILURE() << "a scene over the limit was written";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("scene 0 would be"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("more than the 64 MB"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(fs::path(o.outDir) / SceneFileName(0)));
  fs::remove_all(o.outDir);
}

void WriteText(const fs::path& path, const std::string& text) {
  WriteWholeFile(path.string(), text.data(), text.size());
}

TEST(ScenegenModels, FlyingSolidsAreSeededMeshesOfTheFolderThatRender) {
  const fs::path dir = fs::temp_directory_path() / ("tovimar-scenegen-models-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "models");
  fs::create_directories(dir / "empty");
  // Half sizes 1 and 2 (the second off its origin); the text file is no model.
  WriteText(dir / "models/b.obj", "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv 0 0 1\nf 1 2 3\nf 1 2 4\nf 2 3 4\nf 1 4 3\n");
  WriteText(dir / "models/a.OBJ", "v 0 0 0\nv 4 0 0\nv 0 4 0\nv 0 0 4\nf 1 3 2\nf 1 2 4\nf 2 3 4\nf 1 4 3\n");
  WriteText(dir / "models/notes.txt", "not a model\n");
  const std::string args = "--seed 9 --frames 3 --moving 0.5 --size 0.2,0.5 --quiet --models " +
                           (dir / "models").string() + " --out ";
  std::string err;
  ASSERT_EQ(RunTool(args + (dir / "one").string(), &err), 0) << err;
  ASSERT_EQ(RunTool(args + (dir / "two").string(), &err), 0) << err;
  const std::string text = ReadFileBytes((dir / "one" / SceneFileName(0)).string());
  EXPECT_EQ(text, ReadFileBytes((dir / "two" / SceneFileName(0)).string()));
  EXPECT_TRUE(Parse(text).reports.empty());
  EXPECT_NE(text.find("MOVE;"), std::string::npos);
  std::set<std::string> files;
  for (const std::string& line : SplitLines(text)) {
    for (const char* solid : {"SPHERE;", "CUBOID;", "CYLINDER;"}) EXPECT_NE(line.rfind(solid, 0), 0u) << line;
    if (line.rfind("MESH;", 0) != 0) continue;
    const std::size_t end = line.rfind(';'), start = line.rfind(';', end - 1) + 1;
    const std::string file = line.substr(start, end - start);
    files.insert(file);
    // The model's half size times the scale lies in --size.
    const double size = std::stod(line.substr(line.rfind(';', start - 2) + 1)) * (file == "../models/a.OBJ" ? 2 : 1);
    EXPECT_TRUE(size > 0.2 - 1e-6 && size < 0.5 + 1e-6) << line;
  }
  EXPECT_EQ(files, (std::set<std::string>{"../models/a.OBJ", "../models/b.obj"}));
  EXPECT_EQ(std::system(("cd " + (dir / "one").string() + " && " + TOVIMAR_RENDER_BIN + " -q -r 64x48 -o out " +
                         SceneFileName(0)).c_str()), 0);

  // A missing folder, one without model files, one whose only model cannot be read.
  fs::create_directories(dir / "broken");
  WriteText(dir / "broken/cube.stl", "");
  for (const char* folder : {"missing", "empty", "broken"}) {
    EXPECT_EQ(RunTool("--quiet --models " + (dir / folder).string() + " --out " + dir.string(), &err), 1);
    EXPECT_NE(err.find("'" + (dir / folder).string() + "'"), std::string::npos) << err;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tovimar::scenegen
