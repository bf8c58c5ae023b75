// Dataset runs through a real headless renderer: the files read back with
// OpenCV, masks of a box in front of a wall, poses and calibration against
// the segmentation, the manifest of an interrupted run, the layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/video/tracking.hpp>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "render/renderer.h"
#include "scene/notifier.h"
#include "truth/camera_geometry.h"
#include "truth/ground_truth.h"
#include "run/render_frame_source.h"
#include "tests/support/test_files.h"
#include "tests/support/render_stage.h"
#include "scene/scene_text.h"
#include "scenegen/generator.h"

namespace tovimar {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Both cameras of a scene rendered into one folder, as --camera both does.
struct PairRun : RenderStage {
  PairRun(std::vector<std::string> lines, int w, int h, const std::string& folder, const std::string& outputs,
          DatasetLayout layout = DatasetLayout::Classic)
      : RenderStage(std::move(lines), w, h, folder) {
    settings.outputs = ParseOutputList(outputs);
    settings.outputs.layout = layout;
  }
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A run's intrinsics and a camera's frame pose (world, 4 x 4) as meta.json records them.
Intrinsics IntrinsicsOf(const Json& meta) {
  const Json& in = meta["intrinsics"];
  Intrinsics k;
  k.fx = in["fx"].get<double>();
  k.fy = in["fy"].get<double>();
  k.cx = in["cx"].get<double>();
  k.cy = in["cy"].get<double>();
  return k;
}
Mat4 PoseOf(const Json& meta, bool right, int frame) {
  const Json& pose = meta["runs"][right ? "right" : "left"]["frames"][static_cast<std::size_t>(frame)]["pose"];
  Mat4 m{};
  for (std::size_t i = 0; i < 16; ++i) m[i] = pose[i].get<double>();
  return m;
}

// A wall 8 units from the camera and a box whose front is 3.7 away, 0.3 baseline.
const std::vector<std::string> kBoxWall = {
    "BASELINE;0.3;",
    "QUAD; id 5; texture: 10; colour: 1; 1; 1; vertices: -6; 5; -4; 6; 5; -4; 6; 5; 4; -6; 5; 4",
    "CUBOID; id 9; texture: 5; colour: 1; 1; 1; position: 0; 1; 0; 0; 0; 0; dim: 0.3; 0.3; 0.3",
    "SPHERE; id 3; texture: -1; colour: 1; 1; 1; position: -1.6; 2; 0.6; 0; 0; 0; dim: 0.2",
    "EGO;0;0;0;0;0;0"};

TEST(DatasetRun, FilesReadByOpenCvAgreeWithTheClassicFiles) {
  TempDir tmp;
  PairRun p(kBoxWall, 160, 120, tmp.path(), "classic,pfm,depth,kitti,png,masks");
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  ASSERT_TRUE(p.Run(true)) << p.error;
  const std::string dir = p.Dir();
  for (bool right : {false, true}) {
    const FrameFileNames c = MakeFrameFileNames(dir, right, 0);
    const DatasetFileNames n = MakeDatasetFileNames(dir, DatasetLayout::Classic, right, 0);
    const TestDisparity dat = ReadDisparityText(c.disparityText);
    const cv::Mat pfm = cv::imread(n.disparityPfm, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(pfm.type(), CV_32FC1) << n.disparityPfm;
    ASSERT_EQ(pfm.cols, 160);
    ASSERT_EQ(pfm.rows, 120);
    const cv::Mat d16 = cv::imread(n.disparity16, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(d16.type(), CV_16UC1);
    const cv::Mat depth = cv::imread(n.depthPfm, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(depth.type(), CV_32FC1);
    const double far = DisparityFromDepth(1.0f, 0.3, 389.0);
    int wrong = 0;
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 160; ++x) {
        const double d = dat.values[static_cast<std::size_t>(y) * 160 + x];
        wrong += pfm.at<float>(y, x) != static_cast<float>(d);
        const bool drawn = d != far;
        const int expected = drawn ? static_cast<int>(std::floor(256.0 * static_cast<float>(d) + 0.5)) : 0;
        wrong += d16.at<uint16_t>(y, x) != expected;
        // d = B F / z.
        wrong += drawn && std::fabs(depth.at<float>(y, x) * d - 0.3 * 389.0) > 1e-3 * 0.3 * 389.0;
      }
    }
    EXPECT_EQ(wrong, 0) << (right ? "right" : "left");
    // The box is 63 px wide, centred in the left view and d = 31.5 px further
    // left in the right view.
    EXPECT_NEAR(depth.at<float>(60, right ? 48 : 80), 3.7, 0.01) << "the box front";
    // The PNG holds the BMP's pixels.
    const cv::Mat png = cv::imread(n.imagePng, cv::IMREAD_UNCHANGED);
    const cv::Mat bmp = cv::imread(c.cameraImage, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(png.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(png, bmp, cv::NORM_INF), 0.0);
  }
  // Masks: the wall band beside the box that the other camera cannot see is
  // d_box - d_wall wide, left of the box in the left view, right of it in the
  // right view.
  const double band = 0.3 * 389.0 / 3.7 - 0.3 * 389.0 / 8.0;  // about 16.9 px
  for (bool right : {false, true}) {
    const DatasetFileNames n = MakeDatasetFileNames(dir, DatasetLayout::Classic, right, 0);
    const cv::Mat mask = cv::imread(n.mask, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(mask.type(), CV_8UC1) << n.mask;
    // The band, away from the strip at the border that falls outside the
    // other view (x < 20 in the left view, x >= 140 in the right).
    int occluded = 0, firstOccluded = -1, border = 0;
    for (int x = 0; x < 160; ++x) {
      if (mask.at<uint8_t>(60, x) != 128) continue;
      if (right ? x >= 140 : x < 20) {
        ++border;
      } else {
        ++occluded;
        if (firstOccluded < 0) firstOccluded = x;
      }
    }
    EXPECT_NEAR(occluded, band, 1.5) << (right ? "right" : "left");
    // The band touches the box: its left edge in the left view (80 - 31.5),
    // its right edge in the right view (48.5 + 31.5).
    if (right) {
      EXPECT_NEAR(firstOccluded, 80.0, 1.5);
    } else {
      EXPECT_NEAR(firstOccluded + occluded, 48.5, 1.5);
    }
    // The wall's strip at the border, as wide as its disparity, falls outside
    // the other view: its disparity is known but the other camera does not
    // see it, so it is occluded (128), as Middlebury and KITTI count it.
    EXPECT_NEAR(border, 0.3 * 389.0 / 8.0, 1.0) << (right ? "right" : "left");
    EXPECT_EQ(mask.at<uint8_t>(2, right ? 157 : 2), 128);
    EXPECT_EQ(mask.at<uint8_t>(60, right ? 48 : 80), 255) << "the box itself is seen by both";
  }
  const Json meta = Json::parse(Slurp(dir + "meta.json"));
  EXPECT_TRUE(meta["complete"].get<bool>());
  EXPECT_EQ(meta["maskTolerance"].get<double>(), kMaskTolerance);
  EXPECT_EQ(meta["runs"]["left"]["rendering"]["roundSolidMesh"], Json({{"slices", 32}, {"stacks", 32}}))
      << "the ground truth of round solids is that of their mesh, so the mesh is recorded";
  const auto& leftFiles = meta["runs"]["left"]["frames"][0]["files"];
  EXPECT_NE(std::find(leftFiles.begin(), leftFiles.end(), "lmask_0000.png"), leftFiles.end())
      << "the left masks made by the right run are listed with the left frame";
  EXPECT_EQ(Slurp(dir + "scene.txt").substr(0, 14), "BASELINE;0.3;\n");
}

// Without the classic set the 8-bit maps and the segmentation drawings are
// left out; the random state must still step as they would, or the noise of
// every later image (and the right camera's) would differ.
// An axis-aligned box, turned about the vertical (z) axis through its centre.
struct TestBox {
  std::array<double, 3> centre, half;
  double turnDegrees;
};

// Ray parameter of the nearest entry into the box along o + t dir (t > tMin),
// or +inf: the slab method in the box's own axes.
double RayEntersBox(const TestBox& b, const std::array<double, 3>& o, const std::array<double, 3>& dir, double tMin) {
  const double a = -b.turnDegrees * std::acos(-1.0) / 180.0, c = std::cos(a), s = std::sin(a);
  auto local = [&](const std::array<double, 3>& v, bool point) {
    const double x = point ? v[0] - b.centre[0] : v[0], y = point ? v[1] - b.centre[1] : v[1];
    return std::array<double, 3>{c * x - s * y, s * x + c * y, point ? v[2] - b.centre[2] : v[2]};
  };
  const std::array<double, 3> lo = local(o, true), ld = local(dir, false);
  double enter = -INFINITY, leave = INFINITY;
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(ld[i]) < 1e-15) {
      if (std::fabs(lo[i]) > b.half[i]) return INFINITY;
      continue;
    }
    double t0 = (-b.half[i] - lo[i]) / ld[i], t1 = (b.half[i] - lo[i]) / ld[i];
    if (t0 > t1) std::swap(t0, t1);
    enter = std::max(enter, t0);
    leave = std::min(leave, t1);
  }
  return enter <= leave && enter > tMin ? enter : INFINITY;
}

// The occlusion masks and the flow masks against visibility computed apart
// from the renderer: a ray through each pixel centre meets boxes in front of
// a wall (ray casting with the run's K and poses); the point it meets is
// occluded in the other view (hidden at the next frame) when the segment from
// that camera to it enters a box first, or when it falls outside that
// picture. Pixels whose rendered depth is not the cast one (the very edges of
// boxes, where a sample grazes a corner) are left out. Thin bands between
// boxes at close depths are the hard part. The figures printed are those the
// README states.
struct MaskAgreement {
  long truthOccluded = 0, missed = 0, truthVisible = 0, wrongOccluded = 0;
  double MissedShare() const { return static_cast<double>(missed) / static_cast<double>(truthOccluded); }
  double WrongShare() const { return static_cast<double>(wrongOccluded) / static_cast<double>(truthVisible); }
  void Count(bool occluded, bool labelledOccluded) {
    if (occluded) {
      ++truthOccluded;
      missed += !labelledOccluded;
    } else {
      ++truthVisible;
      wrongOccluded += labelledOccluded;
    }
  }
};

TEST(DatasetRun, OcclusionAndFlowMasksAgreeWithRayCastVisibility) {
  struct Case {
    const char* name;
    double baseline;
    std::vector<TestBox> boxes;
    const char* secondEgo;
    double stereoMissed, stereoWrong, flowMissed, flowWrong;  // the most each share may be
  };
  const std::vector<Case> cases = {
      {"boxes before a wall",
       0.2,
       {{{0, 1.5, 0}, {0.3, 0.3, 0.3}, 0},
        {{0.22, 1.9, -0.1}, {0.2, 0.1, 0.5}, 0},
        {{-0.9, 2.2, 0.2}, {0.02, 0.02, 0.9}, 0},
        {{0.9, 2.5, -0.2}, {0.25, 0.25, 0.25}, 35},
        {{-0.5, 3.0, -0.5}, {0.4, 0.2, 0.15}, 0},
        {{-0.35, 3.1, -0.3}, {0.3, 0.1, 0.4}, 0}},
       "EGO;0.05;0;0.1;1;0;4",
       0.03, 0.001, 0.02, 0.002},
      {"thin posts near the camera, wide baseline",
       0.5,
       {{{-0.4, 1.2, 0}, {0.03, 0.03, 1.0}, 0},
        {{-0.1, 1.4, 0}, {0.05, 0.05, 1.0}, 20},
        {{0.25, 1.1, 0}, {0.02, 0.02, 1.0}, 0},
        {{0.6, 1.6, 0}, {0.08, 0.04, 1.0}, 45},
        {{0.0, 3.5, -0.6}, {1.2, 0.3, 0.3}, 10}},
       "EGO;0.15;0;0;0;0;3",
       0.03, 0.006, 0.03, 0.004},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    std::vector<std::string> lines = {"BASELINE;" + std::to_string(c.baseline) + ";",
                                      "QUAD; id 5; texture: 10; colour: 1; 1; 1; vertices: -9; 5; -7; 9; 5; -7; 9; 5; 7; "
                                      "-9; 5; 7"};
    for (const TestBox& b : c.boxes) {
      std::ostringstream line;
      line << "CUBOID; id 9; texture: 5; colour: 1; 1; 1; position: " << b.centre[0] << "; " << b.centre[1] << "; "
           << b.centre[2] << "; 0; 0; " << b.turnDegrees << "; dim: " << b.half[0] << "; " << b.half[1] << "; "
           << b.half[2];
      lines.push_back(line.str());
    }
    lines.push_back("EGO;0;0;0;0;0;0");
    lines.push_back(c.secondEgo);
    const int W = 320, H = 240;
    PairRun p(lines, W, H, tmp.path(), "pfm,masks,flow");
    ASSERT_TRUE(p.source);
    ASSERT_TRUE(p.Run(false)) << p.error;
    ASSERT_TRUE(p.Run(true)) << p.error;
    const std::string dir = p.Dir();
    const Json meta = Json::parse(Slurp(dir + "meta.json"));
    const Intrinsics k = IntrinsicsOf(meta);
    // The nearest box entry along a ray, or the wall (y = 5) behind them.
    auto cast = [&](const std::array<double, 3>& o, const std::array<double, 3>& dir3) {
      double t = dir3[1] > 0 ? (5.0 - o[1]) / dir3[1] : INFINITY;
      for (const TestBox& b : c.boxes) t = std::min(t, RayEntersBox(b, o, dir3, 1e-9));
      return t;
    };
    // Whether the camera of pose `from` does not see point: outside its picture or behind a box.
    auto hidden = [&](const Mat4& from, const std::array<double, 3>& point) {
      double u = 0, v = 0;
      if (!ProjectPoint(k, from, point, u, v) || !(u >= -0.5 && u < W - 0.5 && v >= -0.5 && v < H - 0.5)) return true;
      const std::array<double, 3> centre = {from[3], from[7], from[11]};
      const std::array<double, 3> toPoint = {point[0] - centre[0], point[1] - centre[1], point[2] - centre[2]};
      for (const TestBox& b : c.boxes)
        if (RayEntersBox(b, centre, toPoint, 1e-9) < 1 - 1e-9) return true;
      return false;
    };
    MaskAgreement stereo, flow;
    for (int frame = 0; frame < 2; ++frame) {
      for (bool right : {false, true}) {
        const Mat4 own = PoseOf(meta, right, frame), other = PoseOf(meta, !right, frame);
        const DatasetFileNames n = MakeDatasetFileNames(dir, DatasetLayout::Classic, right, frame);
        const cv::Mat mask = cv::imread(n.mask, cv::IMREAD_UNCHANGED);
        const cv::Mat disparity = cv::imread(n.disparityPfm, cv::IMREAD_UNCHANGED);
        ASSERT_EQ(mask.type(), CV_8UC1) << n.mask;
        ASSERT_EQ(disparity.type(), CV_32FC1) << n.disparityPfm;
        cv::Mat flowMask;
        if (frame == 0) {
          flowMask = cv::imread(n.flowMask, cv::IMREAD_UNCHANGED);
          ASSERT_EQ(flowMask.type(), CV_8UC1) << n.flowMask;
        }
        const std::array<double, 3> o = {own[3], own[7], own[11]};
        for (int y = 0; y < H; ++y) {
          for (int x = 0; x < W; ++x) {
            const double cx = (x - k.cx) / k.fx, cy = (y - k.cy) / k.fy;
            const std::array<double, 3> dir3 = {own[0] * cx + own[1] * cy + own[2], own[4] * cx + own[5] * cy + own[6],
                                                own[8] * cx + own[9] * cy + own[10]};
            const double t = cast(o, dir3);
            // Depth along the viewing axis is t (the ray's z component is 1).
            const double d = disparity.at<float>(y, x);
            if (!std::isfinite(t) || !std::isfinite(d) || std::fabs(c.baseline * 389.0 / t - d) > 0.01 * d) continue;
            const std::array<double, 3> point = {o[0] + t * dir3[0], o[1] + t * dir3[1], o[2] + t * dir3[2]};
            // The stereo rule looks along the row only: the other picture's rows are this one's.
            double u = 0, v = 0;
            const bool outside = !ProjectPoint(k, other, point, u, v) || !(u >= -0.5 && u < W - 0.5);
            ASSERT_NE(mask.at<uint8_t>(y, x), kMaskNone) << x << "," << y;
            stereo.Count(outside || hidden(other, point), mask.at<uint8_t>(y, x) == kMaskOccluded);
            if (frame == 0) {
              ASSERT_NE(flowMask.at<uint8_t>(y, x), kMaskNone) << x << "," << y;
              flow.Count(hidden(PoseOf(meta, right, 1), point), flowMask.at<uint8_t>(y, x) == kMaskOccluded);
            }
          }
        }
      }
    }
    std::printf("%s: stereo: occluded by ray casting %ld, labelled visible %ld (%.2f %%); visible %ld, labelled "
                "occluded %ld (%.3f %%)\n",
                c.name, stereo.truthOccluded, stereo.missed, 100 * stereo.MissedShare(), stereo.truthVisible,
                stereo.wrongOccluded, 100 * stereo.WrongShare());
    std::printf("%s: flow: hidden at the next frame %ld, labelled visible %ld (%.2f %%); visible %ld, labelled "
                "hidden %ld (%.3f %%)\n",
                c.name, flow.truthOccluded, flow.missed, 100 * flow.MissedShare(), flow.truthVisible,
                flow.wrongOccluded, 100 * flow.WrongShare());
    // Where an edge falls between two samples of the other view, its place is
    // known to within the samples of both views: whole columns along a
    // straight edge can go either way (on the boxes, 5.2 % of the stereo
    // occlusions were missed when either sample's agreement made a point
    // visible, and 4.1 % of the points hidden at the next frame when any of
    // the four nearest pixels' agreement did).
    EXPECT_GT(stereo.truthOccluded, 2000);
    EXPECT_GT(flow.truthOccluded, 1000);
    EXPECT_LT(stereo.MissedShare(), c.stereoMissed);
    EXPECT_LT(stereo.WrongShare(), c.stereoWrong);
    EXPECT_LT(flow.MissedShare(), c.flowMissed);
    EXPECT_LT(flow.WrongShare(), c.flowWrong);
  }
}

TEST(DatasetRun, DatasetFilesAreTheSameWithOrWithoutTheClassicSet) {
  TempDir tmp;
  const std::vector<std::string> scene = SceneFile("tests/golden/scenes/planes_noise.txt");
  std::vector<std::string> folders;
  for (const char* outputs : {"classic,pfm,kitti,png,masks", "pfm,kitti,png,masks"}) {
    folders.push_back(tmp.path() + "/" + std::to_string(folders.size()));
    fs::create_directory(folders.back());
    PairRun p(scene, 96, 64, folders.back(), outputs);
    ASSERT_TRUE(p.source);
    ASSERT_TRUE(p.Run(false)) << p.error;
    ASSERT_TRUE(p.Run(true)) << p.error;
    folders.back() = p.Dir();
  }
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(folders[1])) {
    const std::string name = entry.path().filename().string();
    if (name == "meta.json" || name.starts_with(".")) continue;
    EXPECT_EQ(Slurp(folders[0] + name), Slurp(entry.path().string())) << name;
    ++compared;
  }
  EXPECT_EQ(compared, 3 * 2 * 4 + 4) << "four products per frame and camera, calib, scene and two poses";
  EXPECT_FALSE(fs::exists(folders[1] + "seg_l_0000.bmp"));
}

// Projecting known points with calib.txt and the frame's pose lands on their
// segmentation centroid, for every frame of a moving sequence, both cameras.
TEST(DatasetRun, PosesAndCalibrationProjectPointsOntoTheirPixels) {
  TempDir tmp;
  const std::vector<std::array<double, 3>> centres = {{-0.5, 1.0, 0.3}, {0.4, 2.0, -0.2}, {0.1, 0.6, 0.05}};
  std::vector<std::string> lines = {"BASELINE;0.25;"};
  for (std::size_t i = 0; i < centres.size(); ++i) {
    lines.push_back("SPHERE; id " + std::to_string(10 * (i + 1)) + "; texture: -1; colour: 1; 1; 1; position: " +
                    std::to_string(centres[i][0]) + "; " + std::to_string(centres[i][1]) + "; " +
                    std::to_string(centres[i][2]) + "; 0; 0; 0; dim: 0.04");
  }
  for (const char* ego : {"EGO;0;0;0;0;0;0", "EGO;0.05;0;0.1;1;0;2", "EGO;-0.03;0.02;0.1;0;-1.5;1", "EGO;0;0;0.1;2;1;0"})
    lines.push_back(ego);
  PairRun p(lines, 320, 240, tmp.path(), "classic");
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  ASSERT_TRUE(p.Run(true)) << p.error;
  const std::string dir = p.Dir();

  Intrinsics k;
  const std::string calib = Slurp(dir + "calib.txt");
  ASSERT_EQ(std::sscanf(calib.c_str(), "cam0=[%lf 0 %lf; 0 %lf %lf;", &k.fx, &k.cx, &k.fy, &k.cy), 4) << calib;
  EXPECT_NEAR(k.fx, 389.0, 0.05) << "the effective focal length is the nominal one within rounding";
  // The pose files are relative to the first left camera, whose world pose
  // meta.json keeps.
  const Mat4 world = PoseOf(Json::parse(Slurp(dir + "meta.json")), false, 0);
  for (bool right : {false, true}) {
    std::ifstream poses(dir + (right ? "poses_right.txt" : "poses_left.txt"));
    for (int frame = 0; frame < 4; ++frame) {
      Mat4 relative{};
      for (std::size_t i = 0; i < 12; ++i) ASSERT_TRUE(poses >> relative[i]) << frame;
      relative[15] = 1;
      const Mat4 pose = Multiply(world, relative);
      const TestPicture seg = ReadBmp24(MakeFrameFileNames(dir, right, frame).segmentation);
      for (std::size_t s = 0; s < centres.size(); ++s) {
        const int id = static_cast<int>(10 * (s + 1));
        double sx = 0, sy = 0, n = 0;
        for (int y = 0; y < seg.height; ++y)
          for (int x = 0; x < seg.width; ++x)
            if (seg.At(x, y)[0] == id && seg.At(x, y)[1] == id) {
              sx += x;
              sy += y;
              n += 1;
            }
        ASSERT_GT(n, 10) << "sphere " << id << " frame " << frame;
        double u = 0, v = 0;
        ASSERT_TRUE(ProjectPoint(k, pose, centres[s], u, v));
        EXPECT_NEAR(u, sx / n, 0.5) << "sphere " << id << " frame " << frame << (right ? " right" : " left");
        EXPECT_NEAR(v, sy / n, 0.5) << "sphere " << id << " frame " << frame << (right ? " right" : " left");
      }
    }
  }
}

// Bilinear sample of a BGR picture's channel c at a real position.
double SampleAt(const cv::Mat& img, double x, double y, int c) {
  const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  if (x0 < 0 || y0 < 0 || x0 + 1 >= img.cols || y0 + 1 >= img.rows) return -1;
  const double tx = x - x0, ty = y - y0;
  auto at = [&](int xx, int yy) { return static_cast<double>(img.at<cv::Vec3b>(yy, xx)[c]); };
  return (1 - ty) * ((1 - tx) * at(x0, y0) + tx * at(x0 + 1, y0)) + ty * ((1 - tx) * at(x0, y0 + 1) + tx * at(x0 + 1, y0 + 1));
}

// Mean colour difference between frame k and frame k + 1 sampled where the
// flow (scaled and shifted) says each visible pixel went.
double WarpError(const cv::Mat& k, const cv::Mat& next, const cv::Mat& flow, const cv::Mat& mask, double sign,
                 double shift) {
  double sum = 0;
  int n = 0;
  for (int y = 0; y < k.rows; ++y) {
    for (int x = 0; x < k.cols; ++x) {
      if (mask.at<uint8_t>(y, x) != 255) continue;
      const cv::Vec2f f = flow.at<cv::Vec2f>(y, x);
      const double sx = x + sign * f[0] + shift, sy = y + sign * f[1];
      for (int c = 0; c < 3; ++c) {
        const double s = SampleAt(next, sx, sy, c);
        if (s < 0) continue;
        sum += std::fabs(s - k.at<cv::Vec3b>(y, x)[c]);
        ++n;
      }
    }
  }
  return n > 0 ? sum / n : 1e9;
}

TEST(DatasetRun, FlowWarpsTheNextFrameBackOntoThisOne) {
  TempDir tmp;
  std::vector<std::string> lines = {
      "QUAD; id 5; texture: 10; colour: 1; 1; 1; vertices: -6; 6; -4; 6; 6; -4; 6; 6; 4; -6; 6; 4",
      "CUBOID; id 9; texture: 5; colour: 1; 1; 1; position: -0.4; 1.5; 0; 0; 0; 20; dim: 0.4; 0.4; 0.4",
      "SPHERE; id 7; texture: 9; colour: 1; 1; 1; position: 0.6; 2; 0.3; 0; 0; 0; dim: 0.3",
      "SPHERE; id 8; texture: -1; colour: 1; 1; 1; position: 0.2; 1; -0.3; 0; 0; 0; dim: 0.05",
      "EGO;0;0;0;0;0;0", "EGO;0.03;0.01;0.08;0.5;1;0.5", "EGO;-0.02;0;0.08;0;-1;0"};
  PairRun p(lines, 160, 120, tmp.path(), "classic,flow");
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  const std::string dir = p.Dir();
  const Json meta = Json::parse(Slurp(dir + "meta.json"));
  const auto& frames = meta["runs"]["left"]["frames"];
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_NE(meta["runs"]["left"]["flow"].get<std::string>().find("frame 2"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "lflow_0002.flo")) << "the last frame has no forward flow";
  const Intrinsics k = IntrinsicsOf(meta);
  for (int frame = 0; frame < 2; ++frame) {
    const DatasetFileNames n = MakeDatasetFileNames(dir, DatasetLayout::Classic, false, frame);
    const cv::Mat flow = cv::readOpticalFlow(n.flowFlo);
    ASSERT_EQ(flow.type(), CV_32FC2) << n.flowFlo;
    const cv::Mat mask = cv::imread(n.flowMask, cv::IMREAD_UNCHANGED);
    const cv::Mat img0 = cv::imread(MakeFrameFileNames(dir, false, frame).cameraImage, cv::IMREAD_COLOR);
    const cv::Mat img1 = cv::imread(MakeFrameFileNames(dir, false, frame + 1).cameraImage, cv::IMREAD_COLOR);
    ASSERT_GT(cv::countNonZero(mask == 255), 160 * 120 / 2);
    const double right = WarpError(img0, img1, flow, mask, 1.0, 0.0);
    EXPECT_LT(right, 4.0) << "frame " << frame;
    EXPECT_GT(WarpError(img0, img1, flow, mask, -1.0, 0.0), 1.5 * right + 0.5) << "wrong sign fits worse";
    EXPECT_GT(WarpError(img0, img1, flow, mask, 1.0, 1.0), 1.5 * right + 0.5) << "one pixel off fits worse";

    // The small sphere's centre: its flow is the difference of its
    // projections with the two poses of the manifest.
    const Mat4 pose0 = PoseOf(meta, false, frame), pose1 = PoseOf(meta, false, frame + 1);
    double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    ASSERT_TRUE(ProjectPoint(k, pose0, {0.2, 1.0, -0.3}, u0, v0));
    ASSERT_TRUE(ProjectPoint(k, pose1, {0.2, 1.0, -0.3}, u1, v1));
    const int px = static_cast<int>(std::lround(u0)), py = static_cast<int>(std::lround(v0));
    const cv::Vec2f f = flow.at<cv::Vec2f>(py, px);
    // The pixel nearest the centre shows a point of the sphere's front, 0.05
    // nearer: its flow differs from the centre's by far less than a pixel.
    EXPECT_NEAR(f[0], u1 - u0, 0.15) << "frame " << frame;
    EXPECT_NEAR(f[1], v1 - v0, 0.15) << "frame " << frame;
  }
}

// Two quads of different ids in one plane, overlapping in the middle third,
// each split into triangles its own way: where both lie, the id map holds
// 65535 in every frame, whichever the depth buffer's rounding puts in front
// once the camera has moved; where one alone lies, its id.
TEST(DatasetRun, CoplanarFacesOfTwoIdsAreUnlabelledInEveryFrame) {
  TempDir tmp;
  const std::vector<std::string> lines = {
      "QUAD; id 20; texture: -1; colour: 1; 0; 0; vertices: -2; 4; -1.5; 0.5; 4; -1.5; 0.5; 4; 1.5; -2; 4; 1.5",
      "QUAD; id 30; texture: -1; colour: 0; 1; 0; vertices: -0.5; 4; -1.5; 2; 4; -1.5; 2; 4; 1.5; -0.5; 4; 1.5",
      "EGO;0;0;0;0;0;0", "EGO;0.03;0.02;0.01;0.7;1.3;0.4", "EGO;-0.02;0.05;0.02;-1.1;0.6;0.9",
      "EGO;0.01;-0.03;0.04;0.3;-1.7;0.2"};
  PairRun p(lines, 160, 120, tmp.path(), "ids16");
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  for (int frame = 0; frame < 4; ++frame) {
    const cv::Mat ids =
        cv::imread(MakeDatasetFileNames(p.Dir(), DatasetLayout::Classic, false, frame).ids16, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(ids.type(), CV_16UC1);
    // Columns 60..100 see the shared part (x -0.5..0.5 at depth 4, about 100 px wide); the rows a middle band.
    int shared = 0, labelledInShared = 0;
    for (int y = 40; y < 80; ++y) {
      for (int x = 72; x < 88; ++x) {
        ++shared;
        labelledInShared += ids.at<uint16_t>(y, x) != 65535;
      }
    }
    EXPECT_EQ(labelledInShared, 0) << "frame " << frame << " of " << shared;
    EXPECT_EQ(ids.at<uint16_t>(60, 35), 20) << "frame " << frame;
    EXPECT_EQ(ids.at<uint16_t>(60, 125), 30) << "frame " << frame;
  }
}

// Objects that move on their own while the camera moves: a small sphere
// sliding and a box turning about its centre. Their flow is checked against
// the analytic motion of known points, and the 16-bit id map against the
// drawing (an id beyond 255, an id that is never labelled).
TEST(DatasetRun, FlowFollowsObjectsThatMoveOnTheirOwn) {
  TempDir tmp;
  const std::vector<std::string> lines = {
      "QUAD; id 300; texture: 10; colour: 1; 1; 1; vertices: -6; 6; -4; 6; 6; -4; 6; 6; 4; -6; 6; 4",
      "CUBOID; id 9; texture: 5; colour: 1; 1; 1; position: -0.4; 1.5; 0; 0; 0; 0; dim: 0.4; 0.4; 0.4",
      "SPHERE; id 8; texture: -1; colour: 1; 1; 1; position: 0.2; 1; -0.3; 0; 0; 0; dim: 0.05",
      "SPHERE; id -1; texture: 9; colour: 1; 1; 1; position: 0.9; 2; 0.4; 0; 0; 0; dim: 0.2",
      "EGO;0;0;0;0;0;0", "EGO;0.03;0.01;0.08;0.5;1;0.5", "EGO;-0.02;0;0.08;0;-1;0",
      "MOVE;8;0;0;0;0;0;0", "MOVE;8;0.06;0;0.03;0;0;0", "MOVE;8;0.05;-0.04;0;0;0;0",
      "MOVE;9;0;0;0;0;0;0", "MOVE;9;0.03;0;0;0;0;8", "MOVE;9;0;0.02;0;0;0;8"};
  PairRun p(lines, 160, 120, tmp.path(), "classic,flow,ids16");
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  const std::string dir = p.Dir();
  const Json meta = Json::parse(Slurp(dir + "meta.json"));
  const auto& frames = meta["runs"]["left"]["frames"];
  ASSERT_EQ(frames.size(), 3u);
  const Intrinsics k = IntrinsicsOf(meta);
  const std::vector<Mat4> poses = {PoseOf(meta, false, 0), PoseOf(meta, false, 1), PoseOf(meta, false, 2)};
  // The sphere's centre and the middle of the box's front face at each frame.
  const double pi = std::acos(-1.0);
  const std::array<std::array<double, 3>, 3> sphere = {{{0.2, 1.0, -0.3}, {0.26, 1.0, -0.27}, {0.31, 0.96, -0.27}}};
  std::array<std::array<double, 3>, 3> face{};
  const std::array<std::array<double, 2>, 3> boxCentre = {{{-0.4, 1.5}, {-0.37, 1.5}, {-0.37, 1.52}}};
  for (std::size_t f = 0; f < 3; ++f) {
    const double turn = 8.0 * static_cast<double>(f) * pi / 180.0;
    face[f] = {boxCentre[f][0] + 0.4 * std::sin(turn), boxCentre[f][1] - 0.4 * std::cos(turn), 0.0};
  }
  for (int frame = 0; frame < 3; ++frame) {
    const DatasetFileNames n = MakeDatasetFileNames(dir, DatasetLayout::Classic, false, frame);
    const cv::Mat ids = cv::imread(n.ids16, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(ids.type(), CV_16UC1) << n.ids16;
    // The sphere is drawn where its moved centre projects.
    double sx = 0, sy = 0, count = 0;
    int wall = 0, unlabelled = 0;
    for (int y = 0; y < ids.rows; ++y) {
      for (int x = 0; x < ids.cols; ++x) {
        const int id = ids.at<uint16_t>(y, x);
        wall += id == 300;
        unlabelled += id == 65535;
        if (id != 8) continue;
        sx += x;
        sy += y;
        count += 1;
      }
    }
    ASSERT_GT(count, 10) << "frame " << frame;
    double u = 0, v = 0;
    ASSERT_TRUE(ProjectPoint(k, poses[static_cast<std::size_t>(frame)], sphere[static_cast<std::size_t>(frame)], u, v));
    EXPECT_NEAR(u, sx / count, 0.5) << "frame " << frame;
    EXPECT_NEAR(v, sy / count, 0.5) << "frame " << frame;
    EXPECT_GT(wall, 160 * 120 / 3) << "ids beyond 255 are labelled";
    EXPECT_GT(unlabelled, 200) << "the sphere with id -1 is not";
    if (frame == 2) break;

    const cv::Mat flow = cv::readOpticalFlow(n.flowFlo);
    ASSERT_EQ(flow.type(), CV_32FC2) << n.flowFlo;
    const std::size_t f0 = static_cast<std::size_t>(frame), f1 = f0 + 1;
    using Track = std::array<std::array<double, 3>, 3>;
    for (const Track* points : {&sphere, static_cast<const Track*>(&face)}) {
      double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
      ASSERT_TRUE(ProjectPoint(k, poses[f0], (*points)[f0], u0, v0));
      ASSERT_TRUE(ProjectPoint(k, poses[f1], (*points)[f1], u1, v1));
      const cv::Vec2f at = flow.at<cv::Vec2f>(static_cast<int>(std::lround(v0)), static_cast<int>(std::lround(u0)));
      const char* what = points == &sphere ? "sphere" : "box";
      EXPECT_NEAR(at[0], u1 - u0, 0.15) << what << " frame " << frame;
      EXPECT_NEAR(at[1], v1 - v0, 0.15) << what << " frame " << frame;
    }
    // The turning box's texture warps onto the next frame.
    const cv::Mat visible = cv::imread(n.flowMask, cv::IMREAD_UNCHANGED) == 255;
    const cv::Mat box = visible & (ids == 9);
    ASSERT_GT(cv::countNonZero(box), 500);
    const cv::Mat img0 = cv::imread(MakeFrameFileNames(dir, false, frame).cameraImage, cv::IMREAD_COLOR);
    const cv::Mat img1 = cv::imread(MakeFrameFileNames(dir, false, frame + 1).cameraImage, cv::IMREAD_COLOR);
    const double fit = WarpError(img0, img1, flow, box, 1.0, 0.0);
    EXPECT_LT(fit, 6.0) << "frame " << frame;
    EXPECT_GT(WarpError(img0, img1, flow, box, 1.0, 1.0), 1.5 * fit + 0.5) << "one pixel off fits worse";
  }

  // The scene-flow layout: the same flow into the future, and into the past
  // the sphere comes back to where it was.
  TempDir other;
  PairRun s(lines, 160, 120, other.path(), "flow,ids16", DatasetLayout::SceneFlow);
  ASSERT_TRUE(s.Run(false)) << s.error;
  ASSERT_TRUE(s.Run(true)) << s.error;
  const DatasetFileNames n0 = MakeDatasetFileNames(s.Dir(), DatasetLayout::SceneFlow, false, 0);
  const DatasetFileNames n1 = MakeDatasetFileNames(s.Dir(), DatasetLayout::SceneFlow, false, 1);
  const cv::Mat future = cv::imread(n0.flowFuturePfm, cv::IMREAD_UNCHANGED);
  const cv::Mat past = cv::imread(n1.flowPastPfm, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(future.type(), CV_32FC3) << n0.flowFuturePfm;
  ASSERT_EQ(past.type(), CV_32FC3) << n1.flowPastPfm;
  EXPECT_EQ(cv::imread(n0.ids16, cv::IMREAD_UNCHANGED).type(), CV_16UC1) << n0.ids16;
  const cv::Mat classic = cv::readOpticalFlow(MakeDatasetFileNames(dir, DatasetLayout::Classic, false, 0).flowFlo);
  int differ = 0;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 160; ++x) {
      const cv::Vec3f f = future.at<cv::Vec3f>(y, x);  // OpenCV's channel order: (0, v, u)
      const cv::Vec2f c = classic.at<cv::Vec2f>(y, x);
      differ += f[2] != c[0] || f[1] != c[1];
    }
  }
  EXPECT_EQ(differ, 0);
  double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
  ASSERT_TRUE(ProjectPoint(k, poses[1], sphere[1], u1, v1));
  ASSERT_TRUE(ProjectPoint(k, poses[0], sphere[0], u0, v0));
  const cv::Vec3f back = past.at<cv::Vec3f>(static_cast<int>(std::lround(v1)), static_cast<int>(std::lround(u1)));
  EXPECT_NEAR(back[2], u0 - u1, 0.15);
  EXPECT_NEAR(back[1], v0 - v1, 0.15);
}

// The 8-bit segmentation is the 16-bit id map wherever the id is below 256
// (white elsewhere). Here a road quad wholly beyond the far plane follows a
// pavement quad of another texture, as tovimar-scenegen's street preset
// writes them: leaving the pavement out of a drawing must not move the depth
// of the road quads before it, or the road is labelled pavement.
TEST(DatasetRun, SegmentationIsTheIdMapBesideAQuadBeyondTheFarPlane) {
  TempDir tmp;
  const std::vector<std::string> lines = {
      "FOCALLENGTH;721.5", "BASELINE;0.54",
      "QUAD;2;1;0.5;0.5;0.5;-5.25;7;-1.64;1.75;7;-1.64;1.75;17;-1.64;-5.25;17;-1.64",
      "QUAD;2;1;0.5;0.5;0.5;-5.25;17;-1.64;1.75;17;-1.64;1.75;27;-1.64;-5.25;27;-1.64",
      "QUAD;3;2;0.8;0.8;0.8;-9.04;17;-1.5;-5.25;17;-1.5;-5.25;27;-1.5;-9.04;27;-1.5",
      "QUAD;2;1;0.5;0.5;0.5;-5.25;37;-1.64;1.75;37;-1.64;1.75;47;-1.64;-5.25;47;-1.64",
      "EGO;0;0;0;0;0;0"};
  PairRun p(lines, 1242, 375, tmp.path(), "classic,ids16");
  ASSERT_TRUE(p.source);
  for (const bool right : {false, true}) {
    ASSERT_TRUE(p.Run(right)) << p.error;
    const cv::Mat ids = cv::imread(MakeDatasetFileNames(p.Dir(), DatasetLayout::Classic, right, 0).ids16,
                                   cv::IMREAD_UNCHANGED);
    const cv::Mat seg = cv::imread(MakeFrameFileNames(p.Dir(), right, 0).segmentation, cv::IMREAD_COLOR);
    ASSERT_EQ(ids.type(), CV_16UC1);
    ASSERT_EQ(seg.size(), ids.size());
    std::map<int, int> count;
    int differ = 0;
    for (int y = 0; y < ids.rows; ++y) {
      for (int x = 0; x < ids.cols; ++x) {
        const int id = ids.at<uint16_t>(y, x);
        const cv::Vec3b grey = seg.at<cv::Vec3b>(y, x);
        const int want = id < 256 ? id : 255;
        differ += grey[0] != want || grey[1] != want || grey[2] != want;
        ++count[id];
      }
    }
    EXPECT_EQ(differ, 0) << (right ? "right" : "left");
    EXPECT_GT(count[2], 10000);
    EXPECT_GT(count[3], 1000);
  }
}

// tovimar-scenegen's street preset in the KITTI layout at KITTI's size:
// every file is there, the disparities are in KITTI's range, and the
// vehicles' own motion shows in the flow.
TEST(DatasetRun, AStreetSceneRendersInTheKittiLayout) {
  TempDir tmp;
  scenegen::GeneratorOptions o;
  o.preset = scenegen::Preset::Street;
  o.seed = 11;
  o.frames = 2;
  PairRun p(SplitLines(scenegen::GenerateScene(o, 0)), 1242, 375, tmp.path(), "flow", DatasetLayout::Kitti);
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  ASSERT_TRUE(p.Run(true)) << p.error;
  const DatasetFileNames n = MakeDatasetFileNames(p.Dir(), DatasetLayout::Kitti, false, 0);
  for (const std::string* path : {&n.imagePng, &n.nextImagePng, &n.disparity16, &n.disparityNoc16, &n.flow16,
                                   &n.flowNoc16, &n.nextDisparity16})
    EXPECT_TRUE(fs::exists(*path)) << *path;
  const cv::Mat d16 = cv::imread(n.disparity16, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(d16.type(), CV_16UC1);
  ASSERT_EQ(d16.cols, 1242);
  ASSERT_EQ(d16.rows, 375);
  double lo = 0, hi = 0;
  cv::minMaxLoc(d16, &lo, &hi);
  EXPECT_GT(lo / 256.0, 5.0) << "the sky and everything else is nearer than the far plane";
  EXPECT_GT(hi / 256.0, 40.0);
  EXPECT_LT(hi / 256.0, 230.0);
  // The camera drives forward: the flow at the road below the centre points down.
  const cv::Mat flow = cv::imread(n.flow16, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(flow.type(), CV_16UC3);
  const cv::Vec3w road = flow.at<cv::Vec3w>(360, 621);  // OpenCV's order: valid, v, u
  EXPECT_EQ(road[0], 1);
  EXPECT_GT((road[1] - 32768.0) / 64.0, 1.0);
}

TEST(DatasetRun, AStoppedRunLeavesAManifestOfItsCompleteFramesOnly) {
  TempDir tmp;
  std::vector<std::string> lines = {"SPHERE; id 4; texture: -1; colour: 1; 1; 1; position: 0; 1; 0; 0; 0; 0; dim: 0.3"};
  for (int i = 0; i < 6; ++i) lines.push_back("EGO;0;0;0.05;0;0;0");
  PairRun p(lines, 64, 48, tmp.path(), "classic,pfm");
  ASSERT_TRUE(p.source);
  SequenceObserver hooks;
  SequenceDriver driver(*p.source, hooks);
  driver.StartStop();
  driver.Tick();
  driver.StartStop();  // stop: the next step still makes its frame
  while (driver.TimerEnabled()) driver.Tick();
  const Json meta = Json::parse(Slurp(p.Dir() + "meta.json"));
  EXPECT_FALSE(meta["complete"].get<bool>());
  EXPECT_FALSE(meta["runs"]["left"]["complete"].get<bool>());
  ASSERT_EQ(meta["runs"]["left"]["frames"].size(), 2u);
  for (const auto& f : meta["runs"]["left"]["frames"])
    for (const auto& name : f["files"]) EXPECT_TRUE(fs::exists(p.Dir() + name.get<std::string>())) << name;
  EXPECT_FALSE(fs::exists(p.Dir() + "left_0002.bmp"));
}

// Regular files below `dir` whose path from it matches a loader's glob
// (std::filesystem, '*' within one folder name).
std::vector<std::string> Glob(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t slash = pattern.find('/', start);
    parts.push_back(pattern.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  auto matches = [](const std::string& glob, const std::string& name) {
    const std::size_t star = glob.find('*');
    if (star == std::string::npos) return glob == name;
    const std::string head = glob.substr(0, star), tail = glob.substr(star + 1);
    return name.size() >= head.size() + tail.size() && name.starts_with(head) && name.ends_with(tail);
  };
  std::vector<std::string> level{dir};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::vector<std::string> next;
    for (const std::string& d : level) {
      std::error_code ec;
      for (fs::directory_iterator it(d, ec), end; !ec && it != end; it.increment(ec))
        if (matches(parts[i], it->path().filename().string())) next.push_back(it->path().string());
    }
    level = std::move(next);
  }
  std::sort(level.begin(), level.end());
  return level;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const std::size_t at = s.rfind(from);
  return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

// A one-frame run in the KITTI layout keeps its frame as an index: a stereo
// pair with its disparity, no second time step, and its odometry image.
TEST(DatasetRun, AOneFrameKittiRunIsOneIndexWithoutASecondTimeStep) {
  TempDir tmp;
  PairRun p({kBoxWall[0], kBoxWall[2], "EGO;0;0;0;0;0;0"}, 96, 64, tmp.path(), "flow", DatasetLayout::Kitti);
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  ASSERT_TRUE(p.Run(true)) << p.error;
  const std::string dir = p.Dir();
  for (const char* folder : {"image_2", "image_3", "disp_occ_0", "disp_noc_0"})
    EXPECT_EQ(Glob(dir, std::string(folder) + "/*_10.png").size(), 1u) << folder;
  EXPECT_TRUE(Glob(dir, "image_2/*_11.png").empty());
  EXPECT_TRUE(Glob(dir, "flow_occ/*").empty());
  EXPECT_TRUE(fs::exists(dir + "odometry/sequences/00/image_2/000000.png"));
}

TEST(DatasetRun, MiddleburyAndKittiLayouts) {
  for (DatasetLayout layout : {DatasetLayout::Middlebury, DatasetLayout::Kitti}) {
    TempDir tmp;
    PairRun p({kBoxWall[0], kBoxWall[2], "EGO;0;0;0;0;0;0", "EGO;0;0;0.1;0;0;0", "EGO;0;0;0.2;0;0;0"}, 96, 64,
              tmp.path(), "flow", layout);
    ASSERT_TRUE(p.source);
    ASSERT_TRUE(p.Run(false)) << p.error;
    ASSERT_TRUE(p.Run(true)) << p.error;
    const std::string dir = p.Dir();
    EXPECT_FALSE(fs::exists(dir + "left_0000.bmp")) << "a layout writes only its own files";
    EXPECT_FALSE(fs::exists(dir + ".scratch")) << "no hidden files are left";
    if (layout == DatasetLayout::Middlebury) {
      // MiddEval3's training names; the frame folders' folder holds nothing else.
      const std::vector<std::string> gt = Glob(dir, "trainingF/*/disp0GT.pfm");
      ASSERT_EQ(gt.size(), 3u);
      EXPECT_EQ(Glob(dir, "trainingF/*").size(), 3u);
      for (const std::string& d0 : gt) {
        for (const char* name : {"im0.png", "im1.png", "disp1GT.pfm", "mask0nocc.png", "mask1nocc.png", "calib.txt"})
          EXPECT_TRUE(fs::exists(Replace(d0, "disp0GT.pfm", name))) << d0 << " " << name;
      }
      const cv::Mat d = cv::imread(gt[0], cv::IMREAD_UNCHANGED);
      ASSERT_EQ(d.type(), CV_32FC1);
      EXPECT_TRUE(std::isinf(d.at<float>(1, 1))) << "no ground truth is inf";
      EXPECT_NEAR(d.at<float>(32, 48), 0.3 * 389.0 / 3.7, 0.05);
      // The frame's calib.txt describes the left view: disp0's range.
      double lo = INFINITY, hi = -INFINITY;
      for (int y = 0; y < d.rows; ++y) {
        for (int x = 0; x < d.cols; ++x) {
          const double v = d.at<float>(y, x);
          if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
        }
      }
      const std::string calib = Slurp(Replace(gt[0], "disp0GT.pfm", "calib.txt"));
      double vmin = 0, vmax = 0;
      ASSERT_EQ(std::sscanf(calib.c_str() + calib.find("vmin="), "vmin=%lf\nvmax=%lf", &vmin, &vmax), 2) << calib;
      // In integers, as MiddEval3 writes them, holding the range.
      EXPECT_EQ(vmin, std::floor(lo));
      EXPECT_EQ(vmax, std::ceil(hi));
      EXPECT_NE(calib.find("\nisint=0\n"), std::string::npos) << calib;
    } else {
      // A KITTI loader's globs, matched one to one: every index has both
      // time steps and flow, so the last frame, which has no next frame, is
      // no index of its own.
      const std::vector<std::string> left = Glob(dir, "image_2/*_10.png");
      ASSERT_EQ(left.size(), 2u);
      for (const std::string& l : left) {
        for (const std::string& other : {Replace(l, "image_2", "image_3"), Replace(l, "image_2", "disp_occ_0"),
                                         Replace(l, "image_2", "disp_noc_0"), Replace(l, "_10", "_11"),
                                         Replace(Replace(l, "image_2", "image_3"), "_10", "_11"),
                                         Replace(l, "image_2", "flow_occ"), Replace(l, "image_2", "flow_noc"),
                                         Replace(l, "image_2", "disp_occ_1")})
          EXPECT_TRUE(fs::exists(other)) << other;
      }
      EXPECT_EQ(Glob(dir, "image_2/*_11.png").size(), 2u);
      EXPECT_EQ(Glob(dir, "image_3/*_10.png").size(), 2u);
      EXPECT_EQ(Glob(dir, "disp_occ_0/*_10.png").size(), 2u);
      EXPECT_EQ(Glob(dir, "disp_noc_right/*_10.png").size(), 2u);
      EXPECT_EQ(Glob(dir, "calib_cam_to_cam/*.txt").size(), 2u);
      EXPECT_EQ(Glob(dir, "flow_occ/*_10.png").size(), 2u);
      EXPECT_EQ(Glob(dir, "disp_occ_1/*_10.png").size(), 2u);
      // The second time step's image is the next frame's; the last frame's
      // image is there only as the frame before's second.
      EXPECT_EQ(Slurp(dir + "image_2/000000_11.png"), Slurp(dir + "image_2/000001_10.png"));
      const cv::Mat lastImage = cv::imread(dir + "image_3/000001_11.png", cv::IMREAD_UNCHANGED);
      EXPECT_EQ(lastImage.type(), CV_8UC3);
      EXPECT_EQ(lastImage.cols, 96);
      EXPECT_GT(cv::norm(lastImage, cv::imread(dir + "image_3/000001_10.png", cv::IMREAD_UNCHANGED), cv::NORM_L1), 0.0);
      const std::string calib = Slurp(dir + "calib_cam_to_cam/000000.txt");
      double fx = 0, cx = 0, tx = 0;
      const std::size_t at = calib.find("P_rect_03: ");
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(std::sscanf(calib.c_str() + at, "P_rect_03: %lf 0 %lf %lf", &fx, &cx, &tx), 3);
      EXPECT_NEAR(tx, -fx * 0.3, 1e-9);
      for (const char* key : {"K_00:", "D_01:", "R_02:", "T_03:", "S_rect_00:", "R_rect_01:", "P_rect_02:"})
        EXPECT_NE(calib.find(key), std::string::npos) << key;
      const cv::Mat noc = cv::imread(dir + "disp_noc_0/000000_10.png", cv::IMREAD_UNCHANGED);
      const cv::Mat occ = cv::imread(dir + "disp_occ_0/000000_10.png", cv::IMREAD_UNCHANGED);
      ASSERT_EQ(noc.type(), CV_16UC1);
      EXPECT_LE(cv::countNonZero(noc), cv::countNonZero(occ));
      EXPECT_GT(cv::countNonZero(noc), 0);
      // disp_occ_1: the disparity at the next frame, d + disparity change, at this frame's pixels.
      const cv::Mat next = cv::imread(dir + "disp_occ_1/000000_10.png", cv::IMREAD_UNCHANGED);
      const cv::Mat change = cv::imread(dir + "ldispchange_0000.pfm", cv::IMREAD_UNCHANGED);
      ASSERT_EQ(next.type(), CV_16UC1);
      ASSERT_EQ(change.type(), CV_32FC1);
      int compared = 0;
      for (int y = 0; y < occ.rows; ++y) {
        for (int x = 0; x < occ.cols; ++x) {
          if (occ.at<uint16_t>(y, x) == 0 || !std::isfinite(change.at<float>(y, x))) continue;
          EXPECT_NEAR(next.at<uint16_t>(y, x) / 256.0, occ.at<uint16_t>(y, x) / 256.0 + change.at<float>(y, x),
                      1.0 / 256);
          ++compared;
        }
      }
      EXPECT_GT(compared, 1000);
      const cv::Mat flow = cv::imread(dir + "flow_occ/000000_10.png", cv::IMREAD_UNCHANGED);
      ASSERT_EQ(flow.type(), CV_16UC3);
      // Odometry tools' files: calib.txt in the odometry form, the left
      // camera's poses relative to its first (line 0 the identity), the times;
      // the Middlebury-form calibration under its own name.
      const std::string odometry = Slurp(dir + "calib.txt");
      for (const char* key : {"P0: ", "\nP1: ", "\nP2: ", "\nP3: ", "\nTr: "})
        EXPECT_NE(odometry.find(key), std::string::npos) << key << odometry;
      // The right camera's projection as KITTI writes it: [f 0 cx -f*B; 0 f cy 0; 0 0 1 0],
      // with the f and B the run records.
      const Json meta = Json::parse(Slurp(dir + "meta.json"));
      const double f = meta["intrinsics"]["fx"].get<double>(), baseline = meta["baseline"].get<double>();
      ASSERT_NEAR(baseline, 0.3, 1e-6) << "the scene's BASELINE";
      for (const char* key : {"\nP1: ", "\nP3: "}) {
        double row[12] = {};
        const std::size_t from = odometry.find(key);
        ASSERT_NE(from, std::string::npos) << key;
        ASSERT_EQ(std::sscanf(odometry.c_str() + from + std::strlen(key), "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf",
                              &row[0], &row[1], &row[2], &row[3], &row[4], &row[5], &row[6], &row[7], &row[8], &row[9],
                              &row[10], &row[11]),
                  12)
            << odometry;
        EXPECT_EQ(row[0], f) << key;
        EXPECT_EQ(row[3], -f * baseline) << key << ": the baseline term is -f*B";
        EXPECT_EQ(row[7], 0.0) << key;
        EXPECT_EQ(row[11], 0.0) << key;
      }
      EXPECT_NE(Slurp(dir + "calib_middlebury.txt").find("\nndisp="), std::string::npos);
      const std::string poses = Slurp(dir + "poses.txt");
      EXPECT_EQ(poses.substr(0, poses.find('\n')), "1 0 0 0 0 1 0 0 0 0 1 0");
      EXPECT_EQ(std::count(poses.begin(), poses.end(), '\n'), 3);
      const std::string second = poses.substr(poses.find('\n') + 1);
      double m[12] = {};
      ASSERT_EQ(std::sscanf(second.c_str(), "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf", &m[0], &m[1], &m[2],
                            &m[3], &m[4], &m[5], &m[6], &m[7], &m[8], &m[9], &m[10], &m[11]),
                12);
      EXPECT_NEAR(std::fabs(m[3]) + std::fabs(m[7]) + std::fabs(m[11]), 0.1, 1e-4) << "moved 0.1 from the first";
      EXPECT_EQ(Slurp(dir + "times.txt"), "0\n0.5\n1\n");
      // KITTI odometry's tree (pykitti.odometry(dir + "odometry", "00")): one
      // image per frame, so image i is pose i and time i, the KITTI 2015
      // images themselves (hard links) where there are some.
      for (const char* camera : {"image_2", "image_3"}) {
        const std::vector<std::string> images = Glob(dir, std::string("odometry/sequences/00/") + camera + "/*.png");
        ASSERT_EQ(images.size(), 3u) << camera;
        EXPECT_EQ(fs::path(images[2]).filename(), "000002.png");
        for (int i = 0; i < 2; ++i) {
          EXPECT_TRUE(fs::equivalent(images[static_cast<std::size_t>(i)],
                                     dir + camera + "/00000" + std::to_string(i) + "_10.png"));
        }
        EXPECT_TRUE(fs::equivalent(images[2], dir + camera + "/000001_11.png")) << "the last frame is frame 1's next";
      }
      EXPECT_EQ(Slurp(dir + "odometry/poses/00.txt"), poses);
      EXPECT_EQ(Slurp(dir + "odometry/sequences/00/times.txt"), "0\n0.5\n1\n");
      EXPECT_EQ(Slurp(dir + "odometry/sequences/00/calib.txt"), odometry);
      // The right camera's disparity is there under a name no KITTI loader reads.
      EXPECT_TRUE(fs::exists(dir + "disp_occ_right/000000_10.png"));
    }
  }
}

// FlyingThings3D's tree as its loaders find it: the disparity and the other
// view beside every clean-pass image, +inf exactly where nothing was drawn,
// flow both ways, and the noise only in the final pass.
TEST(DatasetRun, SceneFlowLayout) {
  TempDir tmp;
  PairRun p({"NOISE;3.5;", kBoxWall[0], kBoxWall[2], "EGO;0;0;0;0;0;0", "EGO;0;0;0.1;0;0;0", "EGO;0;0;0.2;0;0;0"},
            96, 64, tmp.path(), "png,pfm,flow", DatasetLayout::SceneFlow);
  p.settings.sequenceNumber = 7;
  ASSERT_TRUE(p.source);
  ASSERT_TRUE(p.Run(false)) << p.error;
  ASSERT_TRUE(p.Run(true)) << p.error;
  const std::string root = tmp.path();
  const std::vector<std::string> clean = Glob(root, "frames_cleanpass/TRAIN/*/*/left/*.png");
  ASSERT_EQ(clean.size(), 3u);
  EXPECT_EQ(clean[0], root + "/frames_cleanpass/TRAIN/A/0007/left/0000.png");
  for (const std::string& c : clean) {
    const std::string disparity = Replace(Replace(c, "frames_cleanpass", "disparity"), ".png", ".pfm");
    for (const std::string& path : {disparity, Replace(disparity, "left", "right"), Replace(c, "left", "right"),
                                    Replace(c, "frames_cleanpass", "frames_finalpass")})
      EXPECT_TRUE(fs::exists(path)) << path;
  }
  const cv::Mat d = cv::imread(Replace(Replace(clean[0], "frames_cleanpass", "disparity"), ".png", ".pfm"),
                               cv::IMREAD_UNCHANGED);
  ASSERT_EQ(d.type(), CV_32FC1);
  EXPECT_TRUE(std::isinf(d.at<float>(1, 1)) && d.at<float>(1, 1) > 0) << "nothing drawn is +inf";
  EXPECT_NEAR(d.at<float>(32, 48), 0.3 * 389.0 / 3.7, 0.05);
  const cv::Mat cleanImage = cv::imread(clean[0], cv::IMREAD_UNCHANGED);
  const cv::Mat finalImage =
      cv::imread(Replace(clean[0], "frames_cleanpass", "frames_finalpass"), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(cleanImage.type(), CV_8UC3);
  EXPECT_GT(cv::norm(cleanImage, finalImage, cv::NORM_L1), 0.0) << "the noise is in the final pass only";
  // Flow: a file for every frame both ways, so that the i-th sorted flow file
  // is the i-th image's (loaders pair images[i + 1] with flows[i + 1] into
  // the past); the first frame's past and the last frame's future invalid.
  const std::vector<std::string> future = Glob(root, "optical_flow/TRAIN/*/*/into_future/left/*.pfm");
  const std::vector<std::string> past = Glob(root, "optical_flow/TRAIN/*/*/into_past/right/*.pfm");
  ASSERT_EQ(future.size(), 3u);
  ASSERT_EQ(past.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(fs::path(future[i]).filename(), "OpticalFlowIntoFuture_000" + std::to_string(i) + "_L.pfm");
    EXPECT_EQ(fs::path(past[i]).filename(), "OpticalFlowIntoPast_000" + std::to_string(i) + "_R.pfm");
  }
  for (const std::string& path : {past[0], future[2]}) {
    const cv::Mat none = cv::imread(path, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(none.type(), CV_32FC3) << path;
    // Finite and far outside any flow: a loader's |flow| < 1000 marks it
    // invalid, and a masked loss over it stays finite.
    EXPECT_EQ(none.at<cv::Vec3f>(32, 48)[2], 1e10f) << path;
    EXPECT_EQ(none.at<cv::Vec3f>(32, 48)[1], 1e10f) << path;
  }
  EXPECT_EQ(Glob(root, "disparity_change/TRAIN/*/*/into_future/left/*.pfm").size(), 3u);
  EXPECT_EQ(Glob(root, "disparity_change/TRAIN/*/*/into_past/left/*.pfm").size(), 3u);
  const cv::Mat flow = cv::imread(future[0], cv::IMREAD_UNCHANGED);
  ASSERT_EQ(flow.type(), CV_32FC3);
  const cv::Mat change = cv::imread(root + "/disparity_change/TRAIN/A/0007/into_future/left/0000.pfm",
                                    cv::IMREAD_UNCHANGED);
  const cv::Mat nextDisparity = cv::imread(root + "/disparity/TRAIN/A/0007/left/0001.pfm", cv::IMREAD_UNCHANGED);
  int compared = 0, valid = 0;
  for (int y = 0; y < d.rows; ++y) {
    for (int x = 0; x < d.cols; ++x) {
      const cv::Vec3f f = flow.at<cv::Vec3f>(y, x);  // OpenCV's channel order: (0, v, u)
      EXPECT_EQ(f[0], 0.0f);
      // Invalid (1e10, never inf) exactly where nothing was drawn: a point
      // leaving the picture keeps its flow.
      ASSERT_TRUE(std::isfinite(f[1]) && std::isfinite(f[2])) << x << "," << y;
      const bool invalid = std::fabs(f[2]) >= 1000 || std::fabs(f[1]) >= 1000;
      EXPECT_EQ(invalid, std::isinf(d.at<float>(y, x))) << x << "," << y;
      if (invalid) {
        EXPECT_EQ(f[2], 1e10f);
        continue;
      }
      // The disparity at the next frame where the point lands (bilinear,
      // on smooth surfaces) is d + change.
      ++valid;
      const double fx = x + double(f[2]), fy = y + double(f[1]);
      const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
      if (x0 < 0 || y0 < 0 || x0 + 1 >= d.cols || y0 + 1 >= d.rows) continue;
      const float a = nextDisparity.at<float>(y0, x0), b = nextDisparity.at<float>(y0, x0 + 1),
                  c = nextDisparity.at<float>(y0 + 1, x0), e = nextDisparity.at<float>(y0 + 1, x0 + 1);
      if (std::max({a, b, c, e}) - std::min({a, b, c, e}) > 0.1f) continue;
      const double tx = fx - x0, ty = fy - y0;
      const double there = (1 - ty) * ((1 - tx) * a + tx * b) + ty * ((1 - tx) * c + tx * e);
      EXPECT_NEAR(there, d.at<float>(y, x) + change.at<float>(y, x), 0.02) << x << "," << y;
      ++compared;
    }
  }
  EXPECT_GT(compared, valid / 2);
  // The sequence's own files stay in the sequence folder, and no loader's glob finds them.
  EXPECT_TRUE(fs::exists(p.Dir() + "meta.json"));
  EXPECT_TRUE(Glob(root, "frames_cleanpass/TRAIN/*/*/left/*.json").empty());
}

}  // namespace
}  // namespace tovimar
