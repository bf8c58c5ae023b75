// Scene flow from known depth and poses: forward motion gives the radial
// field, a turn about the vertical axis a field independent of depth, and
// the disparity change of a wall is B F / (z - t) - B F / z.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "truth/scene_flow.h"

namespace tovimar {
namespace {

constexpr int kW = 64, kH = 48;
const Intrinsics kK{50.0, 50.0, 31.5, 23.5};
constexpr double kB = 0.2, kF = 50.0;

FrameTruth Wall(double z) {
  FrameTruth t;
  t.width = kW;
  t.height = kH;
  t.depth.assign(kW * kH, static_cast<float>(z));
  t.disparity.assign(kW * kH, static_cast<float>(kB * kF / z));
  t.valid.assign(kW * kH, 1);
  return t;
}

Mat4 Identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

std::size_t At(int x, int y) { return static_cast<std::size_t>(y) * kW + static_cast<std::size_t>(x); }

TEST(SceneFlow, ForwardMotionGivesTheRadialFieldScaledByDepth) {
  const double t = 0.5;
  Mat4 forward = Identity();
  forward[11] = t;  // the camera moves t along its viewing axis
  for (double z : {4.0, 8.0}) {
    const SceneFlow f = ComputeSceneFlow(Wall(z), Identity(), Wall(z - t), forward, kK, kB, kF, 0.5, 34.0);
    const double grow = z / (z - t) - 1.0;
    // Away from the principal point (31.5, 23.5), growing with the distance
    // from it: its two neighbours move apart by equal amounts.
    EXPECT_NEAR(f.u[At(31, 23)], (31 - 31.5) * grow, 1e-4);
    EXPECT_NEAR(f.u[At(32, 24)], (32 - 31.5) * grow, 1e-4);
    EXPECT_NEAR(f.v[At(32, 24)], (24 - 23.5) * grow, 1e-4);
    EXPECT_NEAR(f.u[At(40, 30)], (40 - 31.5) * grow, 1e-4);
    EXPECT_NEAR(f.v[At(40, 30)], (30 - 23.5) * grow, 1e-4);
    EXPECT_NEAR(f.disparityChange[At(40, 30)], kB * kF / (z - t) - kB * kF / z, 1e-4);
    EXPECT_EQ(f.mask[At(40, 30)], 255) << "the wall drawn at the next frame is the moved point";
    // Near the border the point leaves the picture: its flow is kept and
    // marked as not visible there.
    EXPECT_EQ(f.mask[At(0, 0)], 128);
    EXPECT_NEAR(f.u[At(0, 0)], (0 - 31.5) * grow, 1e-4);
    EXPECT_NEAR(f.v[At(0, 0)], (0 - 23.5) * grow, 1e-4);
  }
}

TEST(SceneFlow, TurnAboutTheVerticalAxisDoesNotDependOnDepth) {
  const double a = 2.0 * M_PI / 180.0;
  Mat4 turn = Identity();  // rotation about the camera's y axis
  turn[0] = std::cos(a);
  turn[2] = std::sin(a);
  turn[8] = -std::sin(a);
  turn[10] = std::cos(a);
  const SceneFlow near = ComputeSceneFlow(Wall(3.0), Identity(), Wall(3.0), turn, kK, kB, kF, 0.5, 34.0);
  const SceneFlow far = ComputeSceneFlow(Wall(20.0), Identity(), Wall(20.0), turn, kK, kB, kF, 0.5, 34.0);
  int compared = 0;
  for (int y = 0; y < kH; y += 7) {
    for (int x = 0; x < kW; x += 5) {
      if (near.mask[At(x, y)] == 0) continue;
      EXPECT_NEAR(near.u[At(x, y)], far.u[At(x, y)], 1e-3) << x << "," << y;
      EXPECT_NEAR(near.v[At(x, y)], far.v[At(x, y)], 1e-3) << x << "," << y;
      ++compared;
    }
  }
  EXPECT_GT(compared, 20);
  // Turning the camera toward +x (right) moves the picture left.
  EXPECT_LT(near.u[At(31, 23)], -1.0);
}

// A ground plane towards the horizon changes its depth by 4 % and more from
// row to row; moving forward, nothing hides any of it.
TEST(SceneFlow, AGroundPlaneSeenAtAGrazingAngleStaysVisible) {
  const double height = 1.0;  // the plane lies this far below the camera (y down)
  FrameTruth ground;
  ground.width = kW;
  ground.height = kH;
  ground.depth.assign(kW * kH, 0.0f);
  ground.valid.assign(kW * kH, 0);
  for (int y = 0; y < kH; ++y) {
    if (y <= kK.cy) continue;  // the sky
    for (int x = 0; x < kW; ++x) {
      ground.depth[At(x, y)] = static_cast<float>(height * kK.fy / (y - kK.cy));
      ground.valid[At(x, y)] = 1;
    }
  }
  Mat4 forward = Identity();
  forward[11] = 0.2;  // the plane keeps its place relative to the camera: the next depth is the same
  const SceneFlow f = ComputeSceneFlow(ground, Identity(), ground, forward, kK, kB, kF, 0.5, 1000.0);
  int visible = 0, hidden = 0, leaving = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::size_t i = At(x, y);
      const double u = x + double(f.u[i]), v = y + double(f.v[i]);
      const bool inside = u >= -0.5 && u < kW - 0.5 && v >= -0.5 && v < kH - 0.5;
      visible += f.mask[i] == 255;
      hidden += f.mask[i] == 128 && inside;
      leaving += f.mask[i] == 128 && !inside;  // the nearest rows leave the picture, flow kept
    }
  }
  EXPECT_GT(visible, kW * kH / 3);
  EXPECT_EQ(hidden, 0);
  EXPECT_GT(leaving, 0);
}

TEST(SceneFlow, HiddenPointsAndFileEncodings) {
  // At the next frame something nearer covers the middle: hidden, not invalid.
  FrameTruth next = Wall(5.0);
  next.depth[At(20, 20)] = 2.0f;
  next.depth[At(21, 20)] = 2.0f;
  next.depth[At(20, 21)] = 2.0f;
  next.depth[At(21, 21)] = 2.0f;
  const SceneFlow f = ComputeSceneFlow(Wall(5.0), Identity(), next, Identity(), kK, kB, kF, 0.5, 34.0);
  EXPECT_EQ(f.mask[At(20, 20)], 128);
  EXPECT_EQ(f.mask[At(10, 10)], 255);
  EXPECT_EQ(f.u[At(20, 20)], 0.0f);

  const std::vector<uint8_t> flo = EncodeFlo(f);
  ASSERT_EQ(flo.size(), 12u + kW * kH * 8u);
  float tag = 0;
  std::memcpy(&tag, "PIEH", 4);
  EXPECT_EQ(tag, 202021.25f) << "the tag Middlebury readers check";
  EXPECT_EQ(flo[4] | flo[5] << 8, kW);

  // A vector beyond +-512 px is written invalid, not clamped with the valid
  // bit set (a loader sees only that bit), and counted per pixel.
  SceneFlow g = f;
  g.mask[0] = g.mask[2] = g.mask[3] = g.mask[4] = 255;
  g.mask[1] = 0;
  const std::array<std::array<float, 2>, 5> uv{{{1.5f, -600.0f}, {0, 0}, {1.5f, -2.0f}, {646.0f, 700.0f}, {-512.0f, 511.98f}}};
  for (std::size_t i = 0; i < uv.size(); ++i) {
    g.u[i] = uv[i][0];
    g.v[i] = uv[i][1];
  }
  long notFitting = 0;
  const std::vector<uint16_t> k = KittiFlow(g, notFitting);
  const std::vector<uint16_t> first(k.begin(), k.begin() + 15);
  EXPECT_EQ(first, (std::vector<uint16_t>{0, 0, 0, 0, 0, 0, 32768 + 96, 32768 - 128, 1, 0, 0, 0, 0, 65535, 1}));
  EXPECT_EQ(notFitting, 2);
}

}  // namespace
}  // namespace tovimar
