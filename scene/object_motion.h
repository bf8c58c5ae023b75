#pragma once
// Objects that move on their own: the poses that MOVE lines give the solids
// of one id, frame by frame.
//
// The k-th MOVE line naming id i is the motion of frame k (as the k-th EGO
// line is the camera's); the motions add up. Each line first turns the
// group about its current centre, in world axes (ax about x, then ay about
// y, then az about z, degrees, counter-clockwise looking down the axis),
// then translates it by (tx, ty, tz) in world units. The group's centre is
// the reference point of its first solid in file order (the position of a
// sphere, cuboid or cylinder, a plane's point, the mean of a quad's
// corners), carried along by the translations. Before frame 0 and for ids
// without MOVE lines the solids stand as written; after an id's last MOVE
// line it stays where that line left it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "scene/scene_objects.h"

namespace tovimar {

// Row-major 4 x 4 rigid motion of world points: (x, y, z, 1) -> P (x, y, z, 1).
using RigidPose = std::array<double, 16>;

inline constexpr RigidPose kIdentityPose{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Rotation matrix (row-major 3 x 3) of a MOVE line's angles: Rz * Ry * Rx.
std::array<double, 9> MoveRotation(const Vec3& degrees);

class ObjectMotionTable {
 public:
  // Groups the solids by the ids that MOVE lines name (in order of each id's
  // first MOVE line) and accumulates each group's poses.
  void Build(const std::vector<std::unique_ptr<SceneObject>>& solids,
             const std::vector<std::unique_ptr<ObjectMove>>& moves);
  void Clear();

  bool Empty() const { return groups_.empty(); }
  std::size_t GroupCount() const { return groups_.size(); }
  int32_t GroupId(std::size_t group) const { return groups_[group].id; }
  // The group of solid `index` (its index in the solid list), or -1 when it
  // does not move.
  int GroupOfSolid(std::size_t index) const {
    return index < solidGroup_.size() ? solidGroup_[index] : -1;
  }
  // The group's pose at a frame (identity before frame 0).
  const RigidPose& Pose(std::size_t group, int64_t frame) const;
  // A MOVE line from which a pose at `frame` no longer fits the renderer's
  // float matrices (an accumulated motion that overflows): its line and id,
  // or line 0 when every pose of that frame fits.
  struct Overflow {
    int line = 0;
    int32_t id = 0;
  };
  Overflow OverflowAt(int64_t frame) const;

 private:
  struct Group {
    int32_t id = 0;
    std::vector<RigidPose> poses;  // after MOVE line 0, 1, ...
    std::size_t firstOverflow = SIZE_MAX;  // index of the first pose that does not fit a float
    int overflowLine = 0;
  };
  std::vector<Group> groups_;
  std::vector<int> solidGroup_;
};

// The reference point a group of solids turns about (see above).
Vec3 ReferencePoint(const SceneObject& solid);

}  // namespace tovimar
