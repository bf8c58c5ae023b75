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

#include "eval/dataset.h"

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

}  // namespace tovimar::eval
