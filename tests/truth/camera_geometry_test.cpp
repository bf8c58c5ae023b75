// The camera model's intrinsics and poses from the renderer's matrices.
#include <gtest/gtest.h>

#include <array>

#include "truth/camera_geometry.h"

namespace tovimar {
namespace {

TEST(CameraGeometry, IntrinsicsAndPoseOfTheDefaultView) {
  // gluPerspective(fovy, aspect, 0.5, 34): f = cot(fovy / 2).
  const double f = 1.5, aspect = 4.0 / 3.0;
  std::array<double, 16> p{};
  p[0] = f / aspect;
  p[5] = f;
  p[10] = (34.0 + 0.5) / (0.5 - 34.0);
  p[11] = -1.0;
  p[14] = 2.0 * 34.0 * 0.5 / (0.5 - 34.0);
  const Intrinsics k = IntrinsicsFromPerspective(p, 512, 384);
  EXPECT_DOUBLE_EQ(k.fx, 256.0 * f / aspect);
  EXPECT_DOUBLE_EQ(k.fy, 192.0 * f);
  EXPECT_DOUBLE_EQ(k.cx, 255.5);
  EXPECT_DOUBLE_EQ(k.cy, 191.5);

  // The default view: modelview = translate(0, 0, -3) * rotate(-90, x); the
  // right camera shifts the projection by -B along x.
  std::array<double, 16> view{};  // column-major
  view[0] = 1;
  view[6] = -1;  // y -> -z
  view[9] = 1;   // z -> y
  view[14] = -3;
  view[15] = 1;
  const double B = 0.2;
  std::array<double, 16> shifted = p;
  shifted[12] = p[0] * -B;  // p * translate(-B, 0, 0)
  const Mat4 left = CameraToWorld(p, p, view);
  const Mat4 right = CameraToWorld(p, shifted, view);
  // Left camera at (0, -3, 0); its z axis (forward) is world +y, its y axis
  // (down) is world -z.
  EXPECT_NEAR(left[3], 0.0, 1e-12);
  EXPECT_NEAR(left[7], -3.0, 1e-12);
  EXPECT_NEAR(left[11], 0.0, 1e-12);
  EXPECT_NEAR(left[1 * 4 + 2], 1.0, 1e-12);   // world y of the camera z axis
  EXPECT_NEAR(left[2 * 4 + 1], -1.0, 1e-12);  // world z of the camera y axis
  EXPECT_NEAR(right[3], B, 1e-12) << "the right camera sits B to the right";
  // A point straight ahead at distance 5 projects to the principal point in
  // the left view and d = fx B / 5 pixels to the left in the right view.
  double u = 0, v = 0, z = 0;
  ASSERT_TRUE(ProjectPoint(k, left, {0.0, 2.0, 0.0}, u, v, &z));
  EXPECT_NEAR(u, k.cx, 1e-9);
  EXPECT_NEAR(v, k.cy, 1e-9);
  EXPECT_NEAR(z, 5.0, 1e-12);
  ASSERT_TRUE(ProjectPoint(k, right, {0.0, 2.0, 0.0}, u, v));
  EXPECT_NEAR(k.cx - u, k.fx * B / 5.0, 1e-9);
  // Above the axis (world +z) is up in the picture: smaller v.
  ASSERT_TRUE(ProjectPoint(k, left, {0.0, 2.0, 1.0}, u, v));
  EXPECT_LT(v, k.cy);
}

}  // namespace
}  // namespace tovimar
