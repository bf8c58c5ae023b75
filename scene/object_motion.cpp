#include "scene/object_motion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <unordered_map>

namespace tovimar {

std::array<double, 9> MoveRotation(const Vec3& degrees) {
  const double k = std::numbers::pi / 180.0;
  const double cx = std::cos(degrees[0] * k), sx = std::sin(degrees[0] * k);
  const double cy = std::cos(degrees[1] * k), sy = std::sin(degrees[1] * k);
  const double cz = std::cos(degrees[2] * k), sz = std::sin(degrees[2] * k);
  // Rz * Ry * Rx, written out.
  return {cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx,
          sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx,
          -sy,     cy * sx,                cy * cx};
}

Vec3 ReferencePoint(const SceneObject& solid) {
  if (solid.kind == kPlane) return static_cast<const Plane&>(solid).point;
  if (solid.kind == kQuad) {
    const auto& v = static_cast<const Quad&>(solid).vertices;
    return {(v[0][0] + v[1][0] + v[2][0] + v[3][0]) / 4.0, (v[0][1] + v[1][1] + v[2][1] + v[3][1]) / 4.0,
            (v[0][2] + v[1][2] + v[2][2] + v[3][2]) / 4.0};
  }
  return solid.position;
}

void ObjectMotionTable::Clear() {
  groups_.clear();
  solidGroup_.clear();
}

void ObjectMotionTable::Build(const std::vector<std::unique_ptr<SceneObject>>& solids,
                              const std::vector<std::unique_ptr<ObjectMove>>& moves) {
  Clear();
  if (moves.empty()) return;
  std::unordered_map<int32_t, std::size_t> groupOfId;
  for (const auto& move : moves) {
    if (groupOfId.emplace(move->id, groups_.size()).second) groups_.push_back(Group{move->id, {}});
  }
  // Each group's centre: the reference point of its first solid.
  std::vector<Vec3> centre(groups_.size(), Vec3{0, 0, 0});
  std::vector<bool> found(groups_.size(), false);
  solidGroup_.assign(solids.size(), -1);
  for (std::size_t i = 0; i < solids.size(); ++i) {
    if (!solids[i]) continue;
    const auto it = groupOfId.find(solids[i]->id);
    if (it == groupOfId.end()) continue;
    solidGroup_[i] = static_cast<int>(it->second);
    if (!found[it->second]) {
      found[it->second] = true;
      centre[it->second] = ReferencePoint(*solids[i]);
    }
  }
  // Pose after a line: rotation Q = R Q', total translation s = s' + t; a
  // point p goes to Q (p - c) + c + s.
  std::vector<std::array<double, 9>> q(groups_.size(), {1, 0, 0, 0, 1, 0, 0, 0, 1});
  std::vector<Vec3> s(groups_.size(), Vec3{0, 0, 0});
  for (const auto& move : moves) {
    const std::size_t g = groupOfId[move->id];
    const std::array<double, 9> r = MoveRotation(move->rotation);
    std::array<double, 9> next{};
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col)
        next[row * 3 + col] = r[row * 3] * q[g][col] + r[row * 3 + 1] * q[g][3 + col] + r[row * 3 + 2] * q[g][6 + col];
    q[g] = next;
    for (int a = 0; a < 3; ++a) s[g][a] += move->position[a];
    const Vec3& c = centre[g];
    RigidPose pose{};
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) pose[row * 4 + col] = next[row * 3 + col];
      pose[row * 4 + 3] = c[row] + s[g][row] -
                          (next[row * 3] * c[0] + next[row * 3 + 1] * c[1] + next[row * 3 + 2] * c[2]);
    }
    pose[15] = 1.0;
    Group& group = groups_[g];
    const bool fits = std::all_of(pose.begin(), pose.end(),
                                  [](double v) { return std::fabs(v) <= std::numeric_limits<float>::max(); });
    if (!fits && group.firstOverflow == SIZE_MAX) {
      group.firstOverflow = group.poses.size();
      group.overflowLine = move->line;
    }
    group.poses.push_back(pose);
  }
}

ObjectMotionTable::Overflow ObjectMotionTable::OverflowAt(int64_t frame) const {
  if (frame < 0) return {};
  for (const Group& g : groups_) {
    if (g.firstOverflow != SIZE_MAX && static_cast<uint64_t>(frame) >= g.firstOverflow) return {g.overflowLine, g.id};
  }
  return {};
}

const RigidPose& ObjectMotionTable::Pose(std::size_t group, int64_t frame) const {
  const std::vector<RigidPose>& poses = groups_[group].poses;
  if (frame < 0 || poses.empty()) return kIdentityPose;
  return poses[static_cast<std::size_t>(std::min<int64_t>(frame, static_cast<int64_t>(poses.size()) - 1))];
}

}  // namespace tovimar
