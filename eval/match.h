#pragma once
// Baseline predictions from OpenCV's block matchers, for comparison with the
// algorithm under test.
//
// Parameters: minDisparity 0, numDisparities from the dataset (calib.txt
// "ndisp=N", else 64, rounded up to a multiple of 16), block size 5; SGBM:
// P1 = 8*3*5^2, P2 = 32*3*5^2, MODE_SGBM, OpenCV's other defaults; BM works
// on grey images. Pixels the matcher leaves without a match become NaN. The
// right camera is matched on the mirrored pair (the mirrored right image as
// the left one), and the result mirrored back.
#include <string>
#include <vector>

#include "eval/dataset.h"
#include "eval/flow.h"

namespace tovimar::eval {

enum class Matcher { Sgbm, Bm };

// Matches every frame's pair and writes PRED_DIR/pred_NNNN.pfm (the
// directory is created). Returns one line per frame that could not be
// matched (missing or unreadable images); the others are written.
std::vector<std::string> MatchSequence(const Dataset& dataset, Matcher matcher, const std::string& predictionDir);

// Flow baselines on the camera's consecutive images (grey): DIS
// (cv::DISOpticalFlow, PRESET_MEDIUM) or Farneback (pyramid scale 0.5, 3
// levels, window 15, 3 iterations, poly_n 5, poly_sigma 1.2). Writes
// PRED_DIR/flow_NNNN.flo for every frame with flow ground truth; returns one
// line per frame that could not be matched.
enum class FlowMatcher { Dis, Farneback };
std::vector<std::string> MatchFlowSequence(const Dataset& dataset, FlowMatcher matcher, const std::string& predictionDir);

// The scene-flow baseline, in the folders the scene-flow task reads: for
// every frame with flow ground truth, PRED_DIR/flow/flow_NNNN.flo (the flow
// baseline), PRED_DIR/disp_0/pred_NNNN.pfm (the disparity matcher on the
// frame's pair) and PRED_DIR/disp_1/pred_NNNN.pfm (the matcher on the next
// frame's pair, read where the flow carries each pixel: DisparityAlongFlow).
// Returns one line per frame that could not be matched.
std::vector<std::string> MatchSceneFlowSequence(const Dataset& dataset, Matcher matcher, FlowMatcher flowMatcher,
                                                const std::string& predictionDir);

// The next frame's disparity at the pixel each vector of flow points to,
// rounded to the nearest pixel (so no disparity is blended across an edge);
// NaN where it points out of the image. Sizes: the flow's.
DisparityMap DisparityAlongFlow(const DisparityMap& next, const FlowMap& flow);

}  // namespace tovimar::eval
