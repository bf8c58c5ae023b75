#pragma once
// Optical flow and scene flow of one camera against a sequence's ground
// truth: the flow to the next frame, the disparity of the same points at the
// next frame, and KITTI 2015's and Sintel's figures, per frame and
// pixel-weighted over the sequence.
//
// Ground truth, by layout (names from layout/file_names.h):
//   classic, middlebury, KITTI right camera: lflow_NNNN.flo / flow_NNNN.flo
//     with lflowmask_NNNN.png / flowmask_NNNN.png (255 visible at the next
//     frame, 128 not, 0 no flow); disparity change ldispchange_NNNN.pfm.
//   KITTI left camera: flow_occ/NNNNNN_10.png, flow_noc/ (visible), and
//     disp_occ_1/ for the disparity at the next frame.
//   sceneflow: optical_flow/.../into_future/.../OpticalFlowIntoFuture_*.pfm
//     (1e10 = none) and disparity_change/.../into_future/; no masks.
// Foreground: pixels of the 16-bit id map (ids16) whose id a MOVE line of the
// sequence's scene copy (scene.txt) moves; every other pixel is background.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "eval/dataset.h"
#include "eval/evaluate.h"
#include "eval/metrics.h"
#include "io/size_check.h"

namespace tovimar::eval {

// A flow field, top row first; NaN in u and v where there is no value.
struct FlowMap {
  int width = 0, height = 0;
  std::vector<float> u, v;
};

// .flo values of larger magnitude mean "unknown" (1e10 is written).
inline constexpr float kFloUnknown = 1e9f;

// Flow files. Each throws Error naming the file; check sees the header's
// size before any sample is read.
//   .flo: "PIEH", int32 width, height, float32 u, v per pixel, little-endian.
//   KITTI PNG: 16-bit RGB, u = (R - 2^15) / 64, v = (G - 2^15) / 64, B = 1 valid.
//   PFM: "PF" with three channels (u, v, ignored) or two (u, v).
FlowMap ReadFlo(const std::string& path, const HeaderSizeCheck& check = {});
FlowMap ReadKittiFlow(const std::string& path, const HeaderSizeCheck& check = {});
FlowMap ReadFlowPfm(const std::string& path, const HeaderSizeCheck& check = {});
// By extension (.flo, .png, .pfm), refusing another size than width x height.
FlowMap ReadFlowPrediction(const std::string& path, int width, int height);
// The bytes of a .flo file (NaN written as 1e10).
std::string FloBytes(const FlowMap& flow);

// The ids a MOVE line of the scene text moves (any of its six numbers not 0).
std::set<int> MovingIds(const std::string& sceneText);

enum class FlowTask { Flow, SceneFlow };

struct FlowGroundTruth {
  int frame = 0;
  FlowMap flow;                     // NaN where there is no ground truth
  std::vector<uint8_t> occlusion;   // kNonOccluded / kOccluded at the next frame; empty without a mask
  std::vector<uint8_t> foreground;  // 1 foreground, 0 background; empty without an id map
  DisparityMap disparity, nextDisparity;  // scene flow only: NaN where none
};

// The frames with flow ground truth (the last frame of a run has none).
std::vector<int> FlowFrames(const Dataset& dataset);
// Throws Error naming the file that is missing, unreadable or of another size.
FlowGroundTruth LoadFlowGroundTruth(const Dataset& dataset, int frame, FlowTask task, const std::set<int>* moving);

// The scene-flow counts of one region: pixels with each ground truth that
// were scored, and the outliers among them.
struct SceneFlowCounts {
  uint64_t d1Pixels = 0, d1 = 0, d2Pixels = 0, d2 = 0, sfPixels = 0, sf = 0;
  void Merge(const SceneFlowCounts& o);
};

// One region of one frame: the end-point errors, each with the true flow's
// length as its true value (so their D1 is KITTI's Fl, and the quantiles are
// those of the disparity task), and the scene-flow counts.
struct FlowFrameRegion {
  FrameRegion endPoint;
  SceneFlowCounts sceneFlow;
};

// Percentages 0..100, EPE and the end-point error quantiles in pixels; NaN
// without pixels.
struct FlowMetrics {
  double epe = 0, fl = 0, density = 0;
  double a50 = 0, a90 = 0, a95 = 0, a99 = 0;
  double d1 = 0, d2 = 0, sf = 0;
  uint64_t pixels = 0, sfPixels = 0;
};
FlowMetrics FinishFlow(const RegionMetrics& endPoint, const SceneFlowCounts& sceneFlow);

// "all", "nonoccluded" (visible at the next frame: KITTI's noc, Sintel's
// matched), "occluded" (Sintel's unmatched), "bg", "fg".
using FlowRegionList = std::vector<std::pair<std::string, FlowMetrics>>;

struct FlowFrameResult {
  int frame = 0;
  std::string error;
  FlowRegionList regions;
};

struct FlowEvalResult {
  FlowTask task = FlowTask::Flow;
  std::vector<FlowFrameResult> frames;
  FlowRegionList total;
  std::vector<std::string> notes;
  bool AllRead() const;
};

// The prediction of one frame: the flow, and for scene flow the disparities
// at this frame and of the same pixels at the next one.
struct FlowPrediction {
  FlowMap flow;
  DisparityMap disparity, nextDisparity;
};

// The errors and counts of one frame per region name, in the order above
// (regions the ground truth cannot tell are left out). Invalid predictions
// as options say.
std::vector<std::pair<std::string, FlowFrameRegion>> AccumulateFlow(const FlowGroundTruth& gt,
                                                                    FlowPrediction prediction, FlowTask task,
                                                                    InvalidRule invalid);

// Every flow frame of the dataset against predictionDir: its flow files for
// the flow task; for scene flow its folders flow/, disp_0/ and disp_1/ (as
// KITTI's submissions). A frame whose files are missing or unreadable gets
// its error and the others are still evaluated.
// Each frame read whole goes to `picture` (ground truth, predicted flow)
// before it is scored.
using FlowPictureSink = std::function<void(const FlowGroundTruth&, const FlowMap&)>;
FlowEvalResult EvaluateFlow(const Dataset& dataset, const std::string& predictionDir, FlowTask task,
                            const EvalOptions& options, const FlowPictureSink& picture = {});

void PrintFlowTable(const FlowEvalResult& result, std::ostream& out);
std::string FlowToJson(const FlowEvalResult& result);
std::string FlowToCsv(const FlowEvalResult& result);

}  // namespace tovimar::eval
