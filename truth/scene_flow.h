#pragma once
// Scene flow between two frames of one camera run: where the point a pixel
// shows at frame k lands at frame k + 1 (optical flow), how its disparity
// changes, and whether it is still visible there. Exact, because every
// pixel's depth, every camera pose and the pose of every solid that moves on
// its own (MOVE lines) are known.
#include <cstdint>
#include <string>
#include <vector>

#include "truth/camera_geometry.h"
#include "truth/frame_truth.h"

namespace tovimar {

// Depth agreement for "visible at the next frame": the depth rendered there
// may differ from the moved point's depth by this share of it.
inline constexpr double kFlowDepthTolerance = 0.01;

// The flow value that Middlebury .flo readers take as unknown (they treat
// anything above 1e9 so).
inline constexpr float kUnknownFlow = 1e10f;

struct SceneFlow {
  int width = 0;
  int height = 0;
  std::vector<float> u, v;              // pixels; kUnknownFlow where invalid
  std::vector<float> disparityChange;   // d(k+1) - d(k), pixels; +inf where invalid
  // 255 visible at k+1; 128 hidden there or outside the picture (the flow is
  // kept); 0 invalid: the point cannot be projected (behind the near plane).
  std::vector<uint8_t> mask;
};

// from: frame k (depth, valid); to: frame k + 1 of the same camera (its
// rendered depth decides visibility). When `from` carries MOVE groups and
// both frames carry their poses, a pixel of a moving solid moves with it. Poses are camera-to-world (OpenCV
// axes); disparity is baseline * focalLength / depth.
// The rows are shared between both threads (parallel_chunks.h); `out` keeps its
// buffers from call to call.
void ComputeSceneFlow(const FrameTruth& from, const Mat4& poseFrom, const FrameTruth& to, const Mat4& poseTo,
                      const Intrinsics& k, double baseline, double focalLength, double nearPlane, double farPlane,
                      SceneFlow& out);
SceneFlow ComputeSceneFlow(const FrameTruth& from, const Mat4& poseFrom, const FrameTruth& to, const Mat4& poseTo,
                           const Intrinsics& k, double baseline, double focalLength, double nearPlane,
                           double farPlane);

// Middlebury .flo: "PIEH", int32 width, height, then (u, v) float32 pairs,
// top row first, little-endian.
std::vector<uint8_t> EncodeFlo(const SceneFlow& flow);

// KITTI's flow PNG samples: u * 64 + 2^15, v * 64 + 2^15, valid (1 or 0),
// three 16-bit channels (all 0 where invalid). A pixel whose u or v does not
// fit (beyond +-512 px) is written invalid, since a loader sees only the
// valid bit, and counted in notFitting.
std::vector<uint16_t> KittiFlow(const SceneFlow& flow, long& notFitting);

}  // namespace tovimar
