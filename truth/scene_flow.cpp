#include "truth/scene_flow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "io/bytes.h"
#include "base/parallel_chunks.h"

namespace tovimar {

void ComputeSceneFlow(const FrameTruth& from, const Mat4& poseFrom, const FrameTruth& to, const Mat4& poseTo,
                      const Intrinsics& k, double baseline, double focalLength, double nearPlane, double farPlane,
                      SceneFlow& f) {
  const int W = from.width, H = from.height;
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  f.width = W;
  f.height = H;
  f.u.resize(n);
  f.v.resize(n);
  f.disparityChange.resize(n);
  f.mask.resize(n);
  // Camera k to camera k + 1: inverse(pose k+1) * pose k.
  const Mat4 still = Multiply(Inverse(poseTo), poseFrom);
  // A pixel of a solid that moves on its own: its point moves with its group
  // from the pose at k to the pose at k + 1 (in world space) between the two
  // cameras: inverse(pose k+1) * group(k+1) * inverse(group(k)) * pose k.
  std::vector<Mat4> moved;
  const bool moving = from.motionGroup.size() == static_cast<std::size_t>(W) * static_cast<std::size_t>(H) &&
                      !from.groupPoses.empty() && from.groupPoses.size() == to.groupPoses.size();
  if (moving) {
    for (std::size_t g = 0; g < from.groupPoses.size(); ++g) {
      const Mat4 world = Multiply(to.groupPoses[g], Inverse(from.groupPoses[g]));
      moved.push_back(Multiply(Inverse(poseTo), Multiply(world, poseFrom)));
    }
  }
  (void)farPlane;  // a point moved beyond the far plane still projects: it keeps its flow
  const double bf = baseline * focalLength;
  const bool sameSize = to.width == W && to.height == H;
  constexpr int kRowsPerChunk = 16;
  ForEachChunk((H + kRowsPerChunk - 1) / kRowsPerChunk, [&](int chunk) {
    const int yEnd = std::min(H, (chunk + 1) * kRowsPerChunk);
    for (int y = chunk * kRowsPerChunk; y < yEnd; ++y) {
      for (int x = 0; x < W; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * W + static_cast<std::size_t>(x);
        f.u[i] = kUnknownFlow;
        f.v[i] = kUnknownFlow;
        f.disparityChange[i] = std::numeric_limits<float>::infinity();
        f.mask[i] = 0;
        if (!from.valid[i]) continue;
        const double z = from.depth[i];
        const double cx = (x - k.cx) * z / k.fx;
        const double cy = (y - k.cy) * z / k.fy;
        const int group = moving ? from.motionGroup[i] : -1;
        const Mat4& m = group >= 0 && static_cast<std::size_t>(group) < moved.size() ? moved[group] : still;
        const double px = m[0] * cx + m[1] * cy + m[2] * z + m[3];
        const double py = m[4] * cx + m[5] * cy + m[6] * z + m[7];
        const double pz = m[8] * cx + m[9] * cy + m[10] * z + m[11];
        // Only a point that cannot be projected (behind the near plane) has
        // no flow; one that leaves the picture keeps its vector.
        if (!(pz >= nearPlane)) continue;
        const double u = k.fx * px / pz + k.cx;
        const double v = k.fy * py / pz + k.cy;
        const bool inside = u >= -0.5 && u < W - 0.5 && v >= -0.5 && v < H - 0.5;
        f.u[i] = static_cast<float>(u - x);
        f.v[i] = static_cast<float>(v - y);
        f.disparityChange[i] = static_cast<float>(bf / pz - bf / z);
        // Hidden when something is drawn in front of the moved point at the
        // landing point: the nearest pixel's depth is nearer than the point's
        // own by more than the tolerance (an edge between the four nearest
        // pixels is taken halfway between them), unless the depth interpolated
        // between the four agrees. A surface seen at a grazing angle changes
        // its depth by more than the tolerance from pixel to pixel, so only the
        // interpolation finds it there; it interpolates 1 / depth, which is
        // exact on a plane. A point in front of everything drawn there (the
        // edge of a solid) is visible.
        bool visible = false;
        if (sameSize && inside) {
          const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
          bool allDrawn = true;
          double inverseDepth[2][2] = {};
          for (int dy = 0; dy <= 1; ++dy) {
            for (int dx = 0; dx <= 1; ++dx) {
              // Beyond the border the nearest pixel inside stands in.
              const int xs = std::clamp(x0 + dx, 0, W - 1), ys = std::clamp(y0 + dy, 0, H - 1);
              const std::size_t j = static_cast<std::size_t>(ys) * W + static_cast<std::size_t>(xs);
              allDrawn = allDrawn && to.valid[j] && to.depth[j] > 0.0f;
              if (allDrawn) inverseDepth[dy][dx] = 1.0 / to.depth[j];
            }
          }
          const int xn = std::clamp(static_cast<int>(std::lround(u)), 0, W - 1);
          const int yn = std::clamp(static_cast<int>(std::lround(v)), 0, H - 1);
          const std::size_t nearest = static_cast<std::size_t>(yn) * W + static_cast<std::size_t>(xn);
          visible = !(to.valid[nearest] && to.depth[nearest] < pz - kFlowDepthTolerance * pz);
          if (!visible && allDrawn) {
            const double tx = u - x0, ty = v - y0;
            const double inverse = (1 - ty) * ((1 - tx) * inverseDepth[0][0] + tx * inverseDepth[0][1]) +
                                   ty * ((1 - tx) * inverseDepth[1][0] + tx * inverseDepth[1][1]);
            visible = std::fabs(1.0 - inverse * pz) <= kFlowDepthTolerance;
          }
        }
        f.mask[i] = visible ? 255 : 128;  // outside the picture: not visible there
      }
    }
  });
}

SceneFlow ComputeSceneFlow(const FrameTruth& from, const Mat4& poseFrom, const FrameTruth& to, const Mat4& poseTo,
                           const Intrinsics& k, double baseline, double focalLength, double nearPlane,
                           double farPlane) {
  SceneFlow f;
  ComputeSceneFlow(from, poseFrom, to, poseTo, k, baseline, focalLength, nearPlane, farPlane, f);
  return f;
}

std::vector<uint8_t> EncodeFlo(const SceneFlow& flow) {
  const std::size_t n = flow.u.size();
  std::vector<uint8_t> out(12 + n * 8);
  std::memcpy(out.data(), "PIEH", 4);
  io::PutLe32(out.data() + 4, static_cast<uint32_t>(flow.width));
  io::PutLe32(out.data() + 8, static_cast<uint32_t>(flow.height));
  uint8_t* p = out.data() + 12;
  for (std::size_t i = 0; i < n; ++i, p += 8) {
    uint32_t bits[2];
    std::memcpy(&bits[0], &flow.u[i], 4);
    std::memcpy(&bits[1], &flow.v[i], 4);
    io::PutLe32(p, bits[0]);
    io::PutLe32(p + 4, bits[1]);
  }
  return out;
}

std::vector<uint16_t> KittiFlow(const SceneFlow& flow, long& notFitting) {
  std::vector<uint16_t> out(flow.u.size() * 3, 0);
  auto scaled = [](float value) { return std::floor(static_cast<double>(value) * 64.0 + 32768.0 + 0.5); };
  for (std::size_t i = 0; i < flow.u.size(); ++i) {
    if (flow.mask[i] == 0) continue;  // all zero, as KITTI's own files hold
    const double u = scaled(flow.u[i]), v = scaled(flow.v[i]);
    if (!(u >= 0.0 && u <= 65535.0 && v >= 0.0 && v <= 65535.0)) {
      ++notFitting;  // left all zero: invalid
      continue;
    }
    out[3 * i] = static_cast<uint16_t>(u);
    out[3 * i + 1] = static_cast<uint16_t>(v);
    out[3 * i + 2] = 1;
  }
  return out;
}

}  // namespace tovimar
