// Object poses from MOVE lines: turning about the group's centre in world
// axes, then translating, accumulated line by line like EGO.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scene/object_motion.h"

namespace tovimar {
namespace {

Vec3 Apply(const RigidPose& p, const Vec3& x) {
  return {p[0] * x[0] + p[1] * x[1] + p[2] * x[2] + p[3], p[4] * x[0] + p[5] * x[1] + p[6] * x[2] + p[7],
          p[8] * x[0] + p[9] * x[1] + p[10] * x[2] + p[11]};
}

std::unique_ptr<ObjectMove> Move(int32_t id, Vec3 t, Vec3 a) {
  auto m = std::make_unique<ObjectMove>();
  m->SetId(id);
  m->SetPosition(t[0], t[1], t[2]);
  m->SetRotation(a[0], a[1], a[2]);
  return m;
}

void ExpectNear(const Vec3& a, const Vec3& b) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << "axis " << k;
}

TEST(ObjectMotion, TurnsAboutTheFirstSolidsCentreThenTranslatesAndAccumulates) {
  std::vector<std::unique_ptr<SceneObject>> solids;
  solids.push_back(std::make_unique<Sphere>(1.0));
  solids.back()->SetId(3);  // still: no MOVE line names it
  auto box = std::make_unique<Cuboid>(1.0, 1.0, 1.0);
  box->SetId(5);
  box->SetPosition(1, 2, 0);
  solids.push_back(std::move(box));
  auto second = std::make_unique<Sphere>(0.2);
  second->SetId(5);  // moves with the box, about the box's centre
  second->SetPosition(2, 2, 0);
  solids.push_back(std::move(second));
  std::vector<std::unique_ptr<ObjectMove>> moves;
  moves.push_back(Move(5, {0, 0, 0}, {0, 0, 90}));   // frame 0: a quarter turn about z
  moves.push_back(Move(5, {0.5, 0, 0}, {0, 0, 0}));  // frame 1: then along x
  moves.push_back(Move(5, {0, 0, 0}, {90, 0, 0}));   // frame 2: a quarter turn about x, about the moved centre
  ObjectMotionTable table;
  table.Build(solids, moves);
  ASSERT_EQ(table.GroupCount(), 1u);
  EXPECT_EQ(table.GroupId(0), 5);
  EXPECT_EQ(table.GroupOfSolid(0), -1);
  EXPECT_EQ(table.GroupOfSolid(1), 0);
  EXPECT_EQ(table.GroupOfSolid(2), 0);
  const Vec3 point{2, 2, 0};  // one unit along +x from the centre
  ExpectNear(Apply(table.Pose(0, -1), point), {2, 2, 0});
  ExpectNear(Apply(table.Pose(0, 0), point), {1, 3, 0});  // +x turned to +y
  ExpectNear(Apply(table.Pose(0, 1), point), {1.5, 3, 0});
  ExpectNear(Apply(table.Pose(0, 2), point), {1.5, 2, 1});  // +y turned to +z about (1.5, 2, 0)
  ExpectNear(Apply(table.Pose(0, 99), point), {1.5, 2, 1});  // after its last line it stays
  ExpectNear(Apply(table.Pose(0, 2), {1, 2, 0}), {1.5, 2, 0});  // the centre only translates
}

TEST(ObjectMotion, RotationIsZAfterYAfterX) {
  // 90 about x takes +y to +z; then 90 about y takes +z to +x.
  const std::array<double, 9> r = MoveRotation({90, 90, 0});
  const Vec3 y{0, 1, 0};
  const Vec3 out{r[0] * y[0] + r[1] * y[1] + r[2] * y[2], r[3] * y[0] + r[4] * y[1] + r[5] * y[2],
                 r[6] * y[0] + r[7] * y[1] + r[8] * y[2]};
  ExpectNear(out, {1, 0, 0});
}

}  // namespace
}  // namespace tovimar
