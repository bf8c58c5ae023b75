#pragma once
// Dataset products beside (or instead of) the classic five files: float
// disparity and depth (PFM), 16-bit KITTI disparity, the camera image as PNG,
// occlusion masks, and the Middlebury, KITTI and scene-flow folder layouts.
#include <cstdint>
#include <string>
#include <vector>

#include "layout/file_names.h"
#include "scene/object_motion.h"

namespace tovimar {

struct OutputChoice {
  bool classic = true;  // the five classic files
  bool pfm = false;     // float disparity
  bool depth = false;   // float depth along the viewing axis
  bool kitti = false;   // 16-bit disparity, round(256 d)
  bool png = false;     // camera image as PNG
  bool masks = false;   // occlusion masks (need both cameras)
  bool flow = false;    // optical flow and disparity change to the next frame
  bool ids16 = false;   // 16-bit id map (ids 0..65534, 65535 unlabelled)
  DatasetLayout layout = DatasetLayout::Classic;
  // The scene-flow layout's split folder ("TRAIN/A"); no other layout uses it.
  std::string split = kDefaultSceneFlowSplit;

  bool operator==(const OutputChoice&) const = default;
  // Anything the classic layout writes besides the five classic files.
  bool AnyExtra() const { return pfm || depth || kitti || png || masks || flow || ids16; }
};

// "classic,pfm,masks": comma-separated names. Throws Error naming an unknown
// or empty name and listing the known ones.
OutputChoice ParseOutputList(const std::string& list);
// "classic", "middlebury", "kitti" or "sceneflow"; throws Error otherwise.
DatasetLayout ParseLayout(const std::string& text);
// A scene-flow split folder: two plain folder names ("TRAIN/A", "TEST/B");
// throws Error naming what is wrong otherwise.
std::string ParseSplit(const std::string& text);
// The first product of `choice` that its layout has no place for ("" when it
// has a place for every one). The classic layout holds every product; the
// others write their own set whatever is asked for, and hold the flow.
std::string ProductOutsideLayout(const OutputChoice& choice);
const char* LayoutName(DatasetLayout layout);
// The camera image of each frame of a run of frameCount frames with `choice`
// in the sequence folder `directory`, as the run stores it: the classic BMP
// when it writes the classic files, else the layout's PNG; none when it
// stores no camera image.
std::vector<std::string> StoredCameraImages(const std::string& directory, const OutputChoice& choice, bool right,
                                            int32_t frameCount);
// The names in `choice`, comma separated, in a fixed order.
std::string OutputListText(const OutputChoice& choice);
// Every product name ParseOutputList knows, in that order.
std::vector<std::string> OutputNames();
// Every layout ParseLayout knows, classic first.
std::vector<DatasetLayout> AllLayouts();

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

// The other camera's disparity of a frame, read back from what its run wrote
// (PFM, KITTI's 16-bit PNG or disparity text), as FrameTruth (depth left empty). farDisparity is
// the value of pixels where nothing was drawn. False when no readable file of
// that size is there.
bool LoadOtherView(const std::string& directory, DatasetLayout layout, bool otherIsRight, int32_t frame, int width,
                   int height, float farDisparity, FrameTruth& other);

// What LoadOtherView reads back of a frame from the files a run in `layout`
// writes of it, made from the frame's truth in memory: the float disparity
// (the classic layout's PFM, scratch PFM and text hold it exactly; the far
// plane's disparity counts as no ground truth there), the Middlebury PFM
// (+inf where nothing was drawn), or KITTI's 16-bit disparity (1/256 px
// steps, clamped, 0 as no ground truth). Depth left empty.
FrameTruth OtherViewAsStored(const FrameTruth& truth, DatasetLayout layout, float farDisparity);

}  // namespace tovimar
