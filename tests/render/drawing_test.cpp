// What the solids look like on the screen: position, depth, clipping, the
// object that is left out, planes and the matrix log.
#include "render/painter.h"
#include "render_fixture.h"

namespace tovimar::test {
namespace {

// A square wall across the view at world y, 100 units on each side.
std::string WallAt(double y, int id = 1) {
  const std::string v = std::to_string(y);
  return "QUAD;" + std::to_string(id) + ";-1;1;1;1;-50;" + v + ";-50;50;" + v + ";-50;50;" + v + ";50;-50;" + v +
         ";50";
}

TEST_F(ViewerTest, SphereAtTheOriginIsDrawnCentred) {
  Show({"KULA;7;-1;1;0;0;0;0;0;0;0;0;0.5"});
  const Picture p = Read();
  const Picture::Blob blob = p.DrawnBlob();
  EXPECT_NEAR(blob.x, 255.5, 0.05);
  EXPECT_NEAR(blob.y, 191.5, 0.05);
  // silhouette radius f tan(asin(r / d)) = 65.75 pixels
  const double radius = 389.0 * 0.5 / std::sqrt(9.0 - 0.25);
  EXPECT_NEAR(blob.count, M_PI * radius * radius, 0.02 * M_PI * radius * radius);
  EXPECT_NEAR(DepthToDistance(p.Depth(256, 192)), 2.5, 5e-3);
  const std::array<int, 3> c = p.Colour(256, 192);
  EXPECT_GT(c[0], 100);
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(c[2], 0);
}

TEST_F(ViewerTest, DepthIsClippedAtTheNearAndFarPlanes) {
  struct Case {
    double y;  // the camera is at y = -3
    bool drawn;
  };
  for (const Case& c : {Case{30.9, true}, Case{31.1, false}, Case{-2.45, true}, Case{-2.55, false}}) {
    Show({WallAt(c.y)});
    const Picture p = Read();
    EXPECT_EQ(p.Drawn(256, 192), c.drawn) << "wall at y = " << c.y;
    if (c.drawn) {
      EXPECT_NEAR(DepthToDistance(p.Depth(256, 192)), c.y + 3.0, 1e-3) << c.y;
    } else {
      EXPECT_EQ(p.Colour(256, 192), (std::array<int, 3>{0, 255, 255}));
    }
  }
}

TEST_F(ViewerTest, SkipIdLeavesOutEveryObjectOfThatId) {
  Show({"KULA;7;-1;1;0;0;-0.8;1;0;0;0;0;0.3", "CUBOID;8;-1;0;1;0;0;1;0;0;0;0;0.2;0.2;0.2",
        "KULA;7;-1;1;0;0;0.8;1;0;0;0;0;0.3"});
  const Picture full = Read();
  // the sphere centres are 0.8 / 4 * 389 = 77.8 pixels left and right
  EXPECT_TRUE(full.Drawn(256 - 78, 192));
  EXPECT_TRUE(full.Drawn(256 + 78, 192));

  renderer->DrawScene(false, 7, 0, 90, 3);
  const Picture skipped = Read();
  EXPECT_FALSE(skipped.Drawn(256 - 78, 192));
  EXPECT_FALSE(skipped.Drawn(256 + 78, 192));
  EXPECT_TRUE(skipped.Drawn(256, 192));
  // Only the pixels where an object of id 7 was nearest change.
  for (int y = 0; y < full.height; ++y) {
    for (int x = 0; x < full.width; ++x) {
      if (std::abs(x - 256) < 40) {
        ASSERT_EQ(full.Depth(x, y), skipped.Depth(x, y)) << x << "," << y;
      }
    }
  }

  renderer->DrawScene(false, 99, 0, 90, 3);
  EXPECT_EQ(Read().rgb, full.rgb);
}

TEST_F(ViewerTest, SphereRotationIsNotApplied) {
  Show({"KULA;7;3;1;1;1;0;0;0;0;0;0;0.5"});
  const Picture plain = Read();
  Show({"KULA;7;3;1;1;1;0;0;0;30;40;50;0.5"});
  EXPECT_EQ(Read().rgb, plain.rgb);
}

TEST_F(ViewerTest, MatrixLogHoldsTheViewTimesTheObjectsTransform) {
  editor.keepLogs = true;
  editor.matrixLog = true;
  Show({"CUBOID;8;-1;1;1;1;1;2;3;0;0;0;0.2;0.2;0.2", "QUAD;9;-1;1;1;1;0;0;0;1;0;0;1;0;1;0;0;1"});
  // Two drawings (preparation and paint), two objects each.
  ASSERT_EQ(editor.matrixLines.size(), 4u);
  // view = translate(0, 0, -3) rotate(-90 about x): (1, 2, 3) -> (1, 3, -5)
  const std::string cuboid = editor.matrixLines[2];
  const std::string translation = "1.000; 3.000; -5.000; 1.000; ";
  ASSERT_GT(cuboid.size(), translation.size());
  EXPECT_EQ(cuboid.substr(cuboid.size() - translation.size()), translation);
  EXPECT_EQ(editor.matrixLines[3],
            "1.000; 0.000; 0.000; 0.000; 0.000; 0.000; -1.000; 0.000; 0.000; 1.000; 0.000; 0.000; "
            "0.000; 0.000; -3.000; 1.000; ");

  editor.matrixLog = false;
  renderer->ResetViewAndDraw();
  EXPECT_EQ(editor.matrixLines.size(), 4u);
}

TEST(PlaneStrips, PlanesAreSolvedForTheirLargestCoefficient) {
  PlaneLayout layout;
  const Plane wall(1, 0, 0, 2, 0, 0);
  ASSERT_TRUE(PlaneLayoutFor(wall, layout));
  EXPECT_EQ(layout.solved, 0);
  for (int u : {-1000, 0, 999}) {
    const std::array<Vec3, 4> c = PlaneStripCorners(wall, layout, u);
    for (const Vec3& v : c) EXPECT_EQ(v[0], 2.0);
    EXPECT_EQ(c[0][1], u);
    EXPECT_EQ(c[0][2], 40.0);
    EXPECT_EQ(c[1][1], u + 1);
    EXPECT_EQ(c[2][2], -30.0);
    EXPECT_EQ(c[3][1], u);
  }
  const std::array<Vec3, 4> c = PlaneStripCorners(wall, layout, 0);
  EXPECT_EQ(FaceNormal(c[0], c[1], c[2]), (Vec3{-1.0, 0.0, 0.0}));

  const Plane floor(0, 0, 1, 0, 0, -1.4);
  ASSERT_TRUE(PlaneLayoutFor(floor, layout));
  EXPECT_EQ(layout.solved, 2);
  for (const Vec3& v : PlaneStripCorners(floor, layout, 17)) EXPECT_DOUBLE_EQ(v[2], -1.4);
  const std::array<Vec3, 4> f = PlaneStripCorners(floor, layout, 17);
  const Vec3 up = FaceNormal(f[0], f[1], f[2]);
  EXPECT_NEAR(up[0], 0.0, 1e-12);
  EXPECT_NEAR(up[1], 0.0, 1e-12);
  EXPECT_NEAR(up[2], 1.0, 1e-12);

  const Plane slanted(0, 2, -1, 0, 10, 0);  // y dominant
  ASSERT_TRUE(PlaneLayoutFor(slanted, layout));
  EXPECT_EQ(layout.solved, 1);
  for (const Vec3& v : PlaneStripCorners(slanted, layout, -5)) {
    EXPECT_NEAR(2 * v[1] - v[2] - 20.0, 0.0, 1e-12);
  }

  EXPECT_FALSE(PlaneLayoutFor(Plane(0, 0, 0, 1, 2, 3), layout));

  // Three points on a plane through the origin still give a unit normal.
  const Vec3 n = FaceNormal({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  EXPECT_NEAR(std::hypot(n[0], n[1], n[2]), 1.0, 1e-12);
}

TEST_F(ViewerTest, PlaneThroughTwoIsDrawnAtXTwo) {
  Show({"PLANE;3;-1;1;1;1;1;0;0;2;0;0"});
  const Picture p = Read();
  // Along the horizon, pixel column i looks at x / distance = (i + 0.5 - 256) / 389.
  for (int x : {330, 420, 500}) {
    ASSERT_TRUE(p.Drawn(x, 192)) << x;
    EXPECT_NEAR(DepthToDistance(p.Depth(x, 192)), 2.0 * 389.0 / (x + 0.5 - 256.0), 1e-2) << x;
  }
  EXPECT_FALSE(p.Drawn(100, 192));
  EXPECT_FALSE(p.Drawn(262, 192));  // beyond the far plane
  const std::array<int, 3> c = p.Colour(420, 192);
  EXPECT_GT(c[1], c[0]);
  EXPECT_GT(c[1], c[2]);
  // Each drawing of a plane steps the random state once (two drawings here).
  RandomState expected;
  expected.NextPlaneShade();
  expected.NextPlaneShade();
  EXPECT_EQ(renderer->Rig().random.low, expected.low);
  EXPECT_EQ(renderer->Rig().random.high, expected.high);
}

TEST_F(ViewerTest, FloorAndFacingPlanesAreDrawn) {
  Show({"PLANE;4;-1;1;1;1;0;0;1;0;0;-1.4"});
  Picture p = Read();
  // Row r below the centre looks down by (r + 0.5 - 192) / 389.
  for (int row : {250, 292, 380}) {
    ASSERT_TRUE(p.Drawn(256, row)) << row;
    EXPECT_NEAR(DepthToDistance(p.Depth(256, row)), 1.4 * 389.0 / (row + 0.5 - 192.0), 1e-2) << row;
  }
  EXPECT_FALSE(p.Drawn(256, 100));
  EXPECT_TRUE(lines.messages.empty());

  Show({"PLANE;4;-1;1;1;1;0;1;0;0;10;0"});
  p = Read();
  EXPECT_NEAR(DepthToDistance(p.Depth(256, 192)), 13.0, 1e-3);
  EXPECT_NEAR(DepthToDistance(p.Depth(10, 10)), 13.0, 1e-3);
}

TEST_F(ViewerTest, PlaneWithoutNormalIsReportedOnceAndNotDrawn) {
  Show({"//nothing", "PLANE;5;-1;1;1;1;0;0;0;0;0;0"});
  ASSERT_EQ(lines.messages.size(), 1u);
  EXPECT_EQ(lines.messages[0].line, 2);
  EXPECT_NE(lines.messages[0].text.find("PLANE with id 5"), std::string::npos);
  const Picture p = Read();
  EXPECT_FALSE(p.Drawn(256, 192));
  EXPECT_EQ(renderer->Rig().random.low, 1u);
  EXPECT_EQ(renderer->Rig().random.high, 0u);
  renderer->ResetViewAndDraw();
  EXPECT_EQ(lines.messages.size(), 1u);
}

}  // namespace
}  // namespace tovimar::test
