#pragma once
// One camera's frame of ground truth as values (float disparity, depth,
// valid pixels, MOVE groups, ids) and what is computed from it alone or with
// the other view: KITTI's 16-bit disparity, disparity with infinity where
// there is no ground truth, occlusion masks.
#include <cstdint>
#include <vector>

#include "scene/object_motion.h"

namespace tovimar {

// Tolerance, in pixels, within which the other view's disparity must agree
// for a pixel to count as visible there.
inline constexpr double kMaskTolerance = 0.25;

// Mask values (Middlebury's convention for its non-occlusion masks).
inline constexpr uint8_t kMaskVisible = 255;
inline constexpr uint8_t kMaskOccluded = 128;
inline constexpr uint8_t kMaskNone = 0;  // no ground truth

// One camera's frame, top row first.
struct FrameTruth {
  int width = 0;
  int height = 0;
  std::vector<float> disparity;  // float of the disparity text value; far plane where nothing was drawn
  std::vector<float> depth;      // distance along the viewing axis; far plane where nothing was drawn
  std::vector<uint8_t> valid;    // 1 where something was drawn (ground truth), else 0
  // Scenes with MOVE lines (for flow): per pixel the MOVE group of the solid
  // in front (ObjectMotionTable), -1 for still solids and the background,
  // and each group's pose at this frame. Empty otherwise.
  std::vector<int32_t> motionGroup;
  std::vector<RigidPose> groupPoses;
  // The 16-bit id map when asked for: the id of the solid in front, 65535
  // where no id 0..65534 holds the pixel alone. Empty otherwise.
  std::vector<uint16_t> ids;
};

// The value of the 16-bit id map where nothing is labelled.
inline constexpr uint16_t kNoId16 = 65535;

// From the read-back window depth (bottom row first) and the disparity values
// (top row first) of one frame. The depth is filled only when withDepth is
// set (it costs a division per pixel and only depth maps and flow need it).
void MakeFrameTruth(const float* windowDepth, const double* disparity, int width, int height, bool withDepth,
                    FrameTruth& truth);

// What a KITTI 16-bit disparity does with a value that does not fit (d of
// 256 px and more): clamped to 65535 (255.996 px), or written as no ground
// truth (0), which is what a loader that never reads meta.json must see.
enum class KittiOverflow { Clamp, Invalid };

// KITTI's 16-bit disparity: round(256 d), 0 where there is no ground truth or
// where keep is given and 0. Values that do not fit (d >= 256) are clamped
// to 65535 or written 0 (overflow), and counted in notFitting either way.
std::vector<uint16_t> KittiDisparity(const FrameTruth& truth, const std::vector<uint8_t>* keep, long& notFitting,
                                     KittiOverflow overflow = KittiOverflow::Clamp);

// Disparity with +inf where there is no ground truth (Middlebury's rule).
std::vector<float> DisparityWithInfinity(const FrameTruth& truth);

// Occlusion mask of one view given the other view of the same frame. A left
// pixel with disparity d shows a point that the right camera sees at x - d
// (x + d for a right pixel). Outside the other image: occluded. Otherwise the
// other view's two samples around that place decide, a sample being nearer
// when its disparity exceeds d by more than the tolerance: both nearer,
// occluded; neither, visible; one, an edge lies between them and the point
// is occluded on the nearer sample's side of it (the edge halfway between
// the samples, or halfway in the part that this view's sample of the same
// edge leaves). Only no ground truth gives 0.
std::vector<uint8_t> OcclusionMask(const FrameTruth& own, const FrameTruth& other, bool ownIsRight,
                                   double tolerance = kMaskTolerance);

}  // namespace tovimar
