// Whole runs through a real headless renderer: the files of a run, their
// contents for scenes whose ground truth is known, and the meaning of the
// disparity (warping the right image by the left disparity gives the left).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "render/settings.h"
#include "render/renderer.h"
#include "scene/notifier.h"
#include "truth/ground_truth.h"
#include "run/render_frame_source.h"
#include "dataset/output_files.h"
#include "truth/segmentation_palette.h"
#include "run/sequence_driver.h"
#include "tests/support/test_files.h"
#include "tests/support/render_stage.h"

namespace tovimar {
namespace {

namespace fs = std::filesystem;

using Stage = RenderStage;

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

std::string G18(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.18g", v);
  return buf;
}

const std::vector<std::string> kIdSceneForWriting = {
    "SPHERE; id 25; texture: -1; colour: 1; 0; 0; position: -0.3; 2; 0; 0; 0; 0; dim: 0.3",
    "PLANE; id 300; texture: 2; colour: 1; 1; 1; normal: 0; 1; 0; point: 0; 4; 0",
};

const std::vector<std::string> kEgoOnly = {"EGO; 0; 0; 0.1; 0; 0; 0", "EGO; 0; 0; 0.1; 0; 1; 0"};

TEST(GroundTruthRun, EmptySceneGivesFarPlaneDisparityEverywhere) {
  TempDir tmp;
  Stage s(kEgoOnly, 33, 17, tmp.path());  // odd width: rows need padding
  ASSERT_TRUE(s.ready);
  ASSERT_TRUE(s.Run(false)) << s.error;

  // B F / z with z = b / (1 - a): 34 up to the rounding of a and b.
  const std::string far = G18(DisparityFromDepth(1.0f, 0.12, 389.0));
  EXPECT_NEAR(DisparityFromDepth(1.0f, 0.12, 389.0), 0.12 * 389.0 / 34.0, 1e-12);
  for (int frame = 0; frame < 2; ++frame) {
    const FrameFileNames n = MakeFrameFileNames(s.Dir(), false, frame);
    const TestPicture image = ReadBmp24(n.cameraImage);
    const TestPicture sub = ReadBmp24(n.subPixelMap);
    const TestPicture pix = ReadBmp24(n.pixelMap);
    const TestPicture seg = ReadBmp24(n.segmentation);
    ASSERT_EQ(image.width, 33);
    ASSERT_EQ(image.height, 17);
    ASSERT_EQ(sub.width, 33);
    ASSERT_EQ(seg.height, 17);
    int wrong = 0;
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 33; ++x) {
        const uint8_t* c = image.At(x, y);
        wrong += c[0] != 0 || c[1] != 255 || c[2] != 255;  // the background colour
        wrong += sub.At(x, y)[0] != 5 || sub.At(x, y)[1] != 5 || sub.At(x, y)[2] != 5;
        wrong += pix.At(x, y)[0] != 4 || pix.At(x, y)[2] != 4;
        wrong += seg.At(x, y)[0] != 255 || seg.At(x, y)[1] != 255 || seg.At(x, y)[2] != 255;
      }
    }
    EXPECT_EQ(wrong, 0) << "frame " << frame;
    const TestDisparity d = ReadDisparityText(n.disparityText);
    ASSERT_EQ(d.width, 33);
    ASSERT_EQ(d.height, 17);
    ASSERT_EQ(d.texts.size(), 33u * 17u);
    for (const std::string& t : d.texts) ASSERT_EQ(t, far);
  }
  EXPECT_EQ(Listing(s.Dir()).size(), 10u + 4u);  // five files per frame; calib, meta, scene, poses
}

TEST(GroundTruthRun, BothCamerasLeaveTenFilesPerFrameSideBySide) {
  TempDir tmp;
  Stage s({"EGO;0;0;0;0;0;0", "EGO;0;0;0;0;0;0", "EGO;0;0;0;0;0;0"}, 16, 8, tmp.path());
  s.settings.sequenceNumber = 7;
  ASSERT_TRUE(s.ready);
  ASSERT_TRUE(s.Run(false)) << s.error;
  ASSERT_TRUE(s.Run(true)) << s.error;
  std::set<std::string> expected;
  for (int f = 0; f < 3; ++f) {
    for (bool right : {false, true}) {
      const FrameFileNames n = MakeFrameFileNames("", right, f);
      expected.insert({n.cameraImage, n.subPixelMap, n.pixelMap, n.disparityText, n.segmentation});
    }
  }
  EXPECT_EQ(expected.size(), 30u);
  expected.insert({"calib.txt", "meta.json", "scene.txt", "poses_left.txt", "poses_right.txt"});
  EXPECT_EQ(Listing(tmp.path() + "/7/"), expected);
  EXPECT_EQ(Listing(tmp.path()), std::set<std::string>{"7"});
  // Start-up and both runs prepared the scene three times: each file read once.
  EXPECT_EQ(s.renderer->Textures().FilesRead(), kTextureCount);
}

TEST(GroundTruthRun, PreviewWritesNothingNotEvenTheDirectory) {
  TempDir tmp;
  Stage s(kEgoOnly, 16, 8, tmp.path() + "/root");
  s.settings.previewOnly = true;
  ASSERT_TRUE(s.ready);
  SequenceDriver driver(*s.source);
  ASSERT_TRUE(driver.Run());
  EXPECT_EQ(driver.FramesMade(), 2u);
  EXPECT_EQ(driver.FramesWritten(), 0u);
  EXPECT_FALSE(fs::exists(tmp.path() + "/root"));
}

TEST(GroundTruthRun, PreviewAndCameraChangesTakeEffectAtTheNextFrame) {
  TempDir tmp;
  Stage s({"EGO;0;0;0.1;0;0;0", "EGO;0;0;0.1;0;0;0", "EGO;0;0;0.1;0;0;0"}, 16, 8, tmp.path());
  ASSERT_TRUE(s.ready);
  s.settings.previewOnly = true;
  SequenceObserver hooks;
  hooks.showError = [&s](const std::string& m) { s.error = m; };
  SequenceDriver driver(*s.source, hooks);
  driver.StartStop();
  driver.Tick();  // frame 0 only drawn
  EXPECT_FALSE(fs::exists(s.Dir())) << "a preview frame creates nothing";
  s.settings.previewOnly = false;
  driver.Tick();  // frame 1 written, left camera
  s.settings.rightCamera = true;
  s.renderer->CameraSwitch(true);
  driver.Tick();  // frame 2 written under the right camera's names
  driver.Tick();
  ASSERT_EQ(driver.GetState(), SequenceDriver::State::Idle);
  EXPECT_EQ(s.error, "");
  EXPECT_EQ(driver.FramesWritten(), 2u);
  std::set<std::string> expected;
  for (const auto& [right, frame] : {std::pair{false, 1}, std::pair{true, 2}}) {
    const FrameFileNames n = MakeFrameFileNames("", right, frame);
    expected.insert({n.cameraImage, n.subPixelMap, n.pixelMap, n.disparityText, n.segmentation});
  }
  // The manifest records frame 2 as the right camera's.
  expected.insert({"calib.txt", "meta.json", "scene.txt", "poses_left.txt", "poses_right.txt"});
  EXPECT_EQ(Listing(s.Dir()), expected);
}

// The folder cannot be locked, so nothing is written.
TEST(GroundTruthRun, MissingOutputFolderEndsTheRunWithTheFolderName) {
  TempDir tmp;
  Stage s(kEgoOnly, 16, 8, tmp.path() + "/missing/parent");
  ASSERT_TRUE(s.ready);
  EXPECT_FALSE(s.Run(false));
  EXPECT_EQ(s.error,
            "cannot lock the sequence folder '" + tmp.path() + "/missing/parent/0': No such file or directory");
  EXPECT_EQ(s.renderer->Rig().FrameCounter, -1);
}

TEST(GroundTruthRun, NoiseOfTheFirstNoisyRun) {
  TempDir tmp;
  Stage s({"NOISE;2;", "EGO;0;0;0;0;0;0"}, 16, 8, tmp.path());
  s.settings.background = {100, 100, 100};
  ASSERT_TRUE(s.ready);
  ASSERT_TRUE(s.Run(false)) << s.error;
  const TestPicture image = ReadBmp24(MakeFrameFileNames(s.Dir(), false, 0).cameraImage);
  ASSERT_EQ(image.height, 8);
  EXPECT_EQ(image.At(0, 7)[0], 99);  // bottom-left pixel's red: the first sample drawn
  int changed = 0;
  for (std::size_t i = 0; i < image.rgb.size(); ++i) {
    EXPECT_GE(image.rgb[i], 90);
    EXPECT_LE(image.rgb[i], 110);
    changed += image.rgb[i] != 100;
  }
  EXPECT_GT(changed, static_cast<int>(image.rgb.size()) / 2);
  // Noise never reaches the ground truth.
  const TestPicture sub = ReadBmp24(MakeFrameFileNames(s.Dir(), false, 0).subPixelMap);
  for (uint8_t v : sub.rgb) ASSERT_EQ(v, 5);
}

// Files of a folder by name, meta.json left out (it holds wall times).
std::map<std::string, std::vector<uint8_t>> Contents(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& name : Listing(dir))
    if (name != "meta.json") files[name] = ReadAll(dir + name);
  return files;
}

// Writing behind, as the command-line tool does, gives every file of a run
// byte for byte as writing each frame in turn: noise (whose random state runs
// on while the frame before is written), ids and a switch of camera in the
// middle of the run included.
TEST(WriteBehind, SameFilesAsWritingInTurn) {
  std::vector<std::string> lines = {"NOISE;3;", kIdSceneForWriting[0], kIdSceneForWriting[1]};
  for (int i = 0; i < 4; ++i) lines.push_back("EGO;0;0;0.05;0;2;0");
  std::map<std::string, std::vector<uint8_t>> files[2];
  for (bool behind : {false, true}) {
    TempDir tmp;
    Stage s(lines, 48, 32, tmp.path());
    ASSERT_TRUE(s.ready);
    s.source->SetWriteBehind(behind);
    ASSERT_TRUE(s.Run(false)) << s.error;
    SequenceDriver driver(*s.source);
    driver.StartStop();
    driver.Tick();
    driver.Tick();
    s.settings.rightCamera = true;  // frames 2 and 3 of the right camera
    s.renderer->CameraSwitch(true);
    driver.RunToEnd();
    EXPECT_EQ(driver.LastError(), "");
    EXPECT_EQ(s.source->EndError(), "");
    files[behind] = Contents(s.Dir());
  }
  EXPECT_EQ(files[0].size(), 4u * 5 + 2u * 5 + 4u);  // two runs' frames, calib, scene, both poses
  EXPECT_TRUE(files[0] == files[1]);
}

// A frame whose files cannot be written ends the run: at the next frame's
// step when frames follow (none of the next frame's files appear), through
// EndError when it was the last; the manifest lists only whole frames.
TEST(WriteBehind, AFailedFrameEndsTheRun) {
  TempDir tmp;
  std::vector<std::string> lines = {kIdSceneForWriting[0]};
  for (int i = 0; i < 4; ++i) lines.push_back("EGO;0;0;0;0;0;0");
  Stage s(lines, 16, 8, tmp.path());
  ASSERT_TRUE(s.ready);
  s.source->SetWriteBehind(true);
  // A folder in the way of frame 1's disparity text, then of frame 3's.
  fs::create_directories(s.Dir() + "lbindisp_0001.dat");
  EXPECT_FALSE(s.Run(false));
  EXPECT_NE(s.error.find("Cannot create file " + s.Dir() + "lbindisp_0001.dat"), std::string::npos) << s.error;
  EXPECT_EQ(s.renderer->Rig().FrameCounter, -1);
  EXPECT_FALSE(fs::exists(s.Dir() + "left_0002.bmp"));
  EXPECT_NE(ReadAll(s.Dir() + "meta.json").size(), 0u);

  fs::remove(s.Dir() + "lbindisp_0001.dat");
  fs::create_directories(s.Dir() + "seg_l_0003.bmp");
  SequenceDriver driver(*s.source);
  EXPECT_TRUE(driver.Run());  // every step went through; the last frame's writing did not
  EXPECT_NE(s.source->EndError().find("Cannot create file " + s.Dir() + "seg_l_0003.bmp"), std::string::npos)
      << s.source->EndError();
  const std::vector<uint8_t> meta = ReadAll(s.Dir() + "meta.json");
  const std::string text(meta.begin(), meta.end());
  EXPECT_NE(text.find("\"complete\": false"), std::string::npos);
  EXPECT_NE(text.find("left_0002.bmp"), std::string::npos);
  EXPECT_EQ(text.find("left_0003.bmp"), std::string::npos);
}

// Two spheres of ids 25 and 160 and a third, small one of id 25 in front of a
// quadrilateral of id 300, seen from 3 units with the default focal length.
const std::vector<std::string> kIdScene = {
    "SPHERE; id 25; texture: -1; colour: 1; 0; 0; position: -0.5; 0; 0; 0; 0; 0; dim: 0.3",
    "SPHERE; id 160; texture: -1; colour: 0; 1; 0; position: 0.5; 0; 0; 0; 0; 0; dim: 0.3",
    "SPHERE; id 25; texture: -1; colour: 0; 0; 1; position: 0; 0; 0.4; 0; 0; 0; dim: 0.1",
    "QUAD; id 300; texture: -1; colour: 1; 1; 1; vertices: -1; 2; -0.5; 1; 2; -0.5; 1; 2; 0.5; -1; 2; 0.5",
    "EGO;0;0;0;0;0;0",
};

TEST(Segmentation, GreyAndPaletteColoursOfKnownIds) {
  for (bool palette : {false, true}) {
    TempDir tmp;
    Stage s(kIdScene, 200, 120, tmp.path());
    s.settings.palette = palette;
    ASSERT_TRUE(s.ready);
    ASSERT_TRUE(s.Run(false)) << s.error;
    const FrameFileNames n = MakeFrameFileNames(s.Dir(), false, 0);
    const TestPicture seg = ReadBmp24(n.segmentation);
    ASSERT_EQ(seg.width, 200);
    auto colour = [&](int id) {
      return palette ? SegmentationPalette[static_cast<std::size_t>(id)]
                     : PaletteColour{static_cast<uint8_t>(id), static_cast<uint8_t>(id), static_cast<uint8_t>(id)};
    };
    auto at = [&](int x, int y) { return PaletteColour{seg.At(x, y)[0], seg.At(x, y)[1], seg.At(x, y)[2]}; };
    const PaletteColour white{255, 255, 255};
    EXPECT_EQ(at(35, 60), colour(25)) << "left sphere";
    EXPECT_EQ(at(165, 60), colour(160)) << "right sphere";
    EXPECT_EQ(at(100, 8), colour(25)) << "small sphere shares its id's colour";
    EXPECT_EQ(at(100, 60), white) << "id 300 is never labelled";
    EXPECT_EQ(at(3, 3), white) << "background";

    // The disparity of the same pixels: B F / distance of the surface.
    const TestDisparity d = ReadDisparityText(n.disparityText);
    ASSERT_EQ(d.values.size(), 200u * 120u);
    EXPECT_NEAR(d.values[60 * 200 + 35], 0.12 * 389 / 2.72, 0.15);  // sphere front, ~2.7 away
    EXPECT_NEAR(d.values[60 * 200 + 100], 0.12 * 389 / 5.0, 0.01);  // the quadrilateral
    EXPECT_NEAR(d.values[3 * 200 + 3], 0.12 * 389 / 34.0, 1e-9);     // far plane
  }
}

// Id -1 is an ordinary id outside 0..255: its objects are drawn, occlude and
// have disparity, and are never labelled; they do not hide what is behind
// them from the segmentation of other ids either.
TEST(Segmentation, ObjectsWithIdMinusOneAreDrawnButNotLabelled) {
  TempDir tmp;
  Stage s({"SPHERE; id -1; texture: -1; colour: 1; 0; 0; position: -0.5; 0; 0; 0; 0; 0; dim: 0.3",
           "SPHERE; id 160; texture: -1; colour: 0; 1; 0; position: 0.5; 0; 0; 0; 0; 0; dim: 0.3",
           "QUAD; id 7; texture: -1; colour: 1; 1; 1; vertices: -1; 2; -0.5; 1; 2; -0.5; 1; 2; 0.5; -1; 2; 0.5",
           "EGO;0;0;0;0;0;0"},
          200, 120, tmp.path());
  s.settings.background = {0, 0, 0};
  ASSERT_TRUE(s.ready);
  ASSERT_TRUE(s.Run(false)) << s.error;
  const FrameFileNames n = MakeFrameFileNames(s.Dir(), false, 0);
  const TestPicture image = ReadBmp24(n.cameraImage);
  const TestPicture seg = ReadBmp24(n.segmentation);
  const TestDisparity d = ReadDisparityText(n.disparityText);
  ASSERT_EQ(d.values.size(), 200u * 120u);
  // The id -1 sphere on the left: red, in front of the quadrilateral.
  EXPECT_GT(image.At(35, 60)[0], 100) << "drawn in the camera image (red)";
  EXPECT_NEAR(d.values[60 * 200 + 35], 0.12 * 389 / 2.72, 0.15) << "its own disparity";
  EXPECT_EQ(seg.At(35, 60)[0], 255) << "never labelled";
  // Where it covers the quadrilateral, id 7 is not labelled either: removing
  // id 7 does not change the front depth there.
  EXPECT_EQ(seg.At(35, 60)[1], 255);
  EXPECT_EQ(seg.At(165, 60)[0], 160);
  EXPECT_EQ(seg.At(100, 60)[0], 7);
}

// Bilinear sample of one channel at a real column of row y.
double Sample(const TestPicture& p, double x, int y, int c) {
  const int x0 = static_cast<int>(std::floor(x));
  const double t = x - x0;
  return (1 - t) * p.At(x0, y)[c] + t * p.At(x0 + 1, y)[c];
}

struct WarpResult {
  double meanError = 0;
  int pixels = 0;
};

// Compares left(x, y) with right(x + sign * d(x, y), y) where the right
// camera's own disparity agrees (the point is seen by both cameras).
WarpResult Warp(const TestPicture& left, const TestPicture& right, const TestDisparity& dl,
                const TestDisparity& dr, double sign) {
  WarpResult r;
  double sum = 0;
  const int W = left.width;
  for (int y = 0; y < left.height; ++y) {
    for (int x = 0; x < W; ++x) {
      const double d = dl.values[static_cast<std::size_t>(y) * W + x];
      const double xr = x + sign * d;
      if (xr < 0 || xr > W - 2) continue;
      const int nearest = static_cast<int>(std::lround(xr));
      if (std::abs(dr.values[static_cast<std::size_t>(y) * W + nearest] - d) > 0.5) continue;
      for (int c = 0; c < 3; ++c) sum += std::abs(Sample(right, xr, y, c) - left.At(x, y)[c]);
      ++r.pixels;
    }
  }
  r.meanError = r.pixels ? sum / (3.0 * r.pixels) : 1e9;
  return r;
}

TEST(GroundTruthMeaning, RightImageWarpedByLeftDisparityGivesTheLeftImage) {
  const std::vector<std::string> scene = {
      "QUAD; id 1; texture: 3; colour: 1; 1; 1; vertices: -3; 3; -2; 3; 3; -2; 3; 3; 2; -3; 3; 2",
      "CUBOID; id 2; texture: 5; colour: 1; 1; 1; position: 0.4; 0.3; -0.1; 0; 0; 30; dim: 0.3; 0.3; 0.3",
      "SPHERE; id 3; texture: 9; colour: 1; 1; 1; position: -0.6; 1; 0.2; 0; 0; 0; dim: 0.35",
      "EGO;0;0;0;0;0;0",
  };
  TempDir tmp;
  Stage s(scene, 256, 192, tmp.path());
  ASSERT_TRUE(s.ready);
  ASSERT_TRUE(s.Run(false)) << s.error;
  ASSERT_TRUE(s.Run(true)) << s.error;
  const FrameFileNames l = MakeFrameFileNames(s.Dir(), false, 0);
  const FrameFileNames r = MakeFrameFileNames(s.Dir(), true, 0);
  const TestPicture left = ReadBmp24(l.cameraImage);
  const TestPicture right = ReadBmp24(r.cameraImage);
  const TestDisparity dl = ReadDisparityText(l.disparityText);
  const TestDisparity dr = ReadDisparityText(r.disparityText);
  ASSERT_EQ(dl.values.size(), 256u * 192u);
  ASSERT_EQ(dr.values.size(), 256u * 192u);

  const WarpResult good = Warp(left, right, dl, dr, -1.0);
  RecordProperty("warp_mean_error", std::to_string(good.meanError));
  RecordProperty("warp_pixels", std::to_string(good.pixels));
  EXPECT_GT(good.pixels, 256 * 192 / 2);
  EXPECT_LT(good.meanError, 6.0);
  // The opposite sign, no shift and a shift twice as large all fit far worse.
  const WarpResult flipped = Warp(left, right, dl, dr, +1.0);
  const WarpResult doubled = Warp(left, right, dl, dr, -2.0);
  EXPECT_GT(flipped.meanError, 2 * good.meanError);
  EXPECT_GT(doubled.meanError, 2 * good.meanError);
  double unshifted = 0;
  for (std::size_t i = 0; i < left.rgb.size(); ++i) unshifted += std::abs(left.rgb[i] - right.rgb[i]);
  EXPECT_GT(unshifted / static_cast<double>(left.rgb.size()), 2 * good.meanError);
}

}  // namespace
}  // namespace tovimar
