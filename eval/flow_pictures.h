#pragma once
// Pictures of optical flow: the Middlebury colour coding (hue the direction,
// saturation the length relative to the largest true flow of the frame, white
// for no motion, black for no value), its colour wheel as a legend, and the
// error picture in KITTI's flow error colours.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "eval/flow.h"

namespace tovimar::eval {

// The colour (RGB) of a flow (u right, v down) already divided by the
// largest length: inside the unit circle as Middlebury codes it, past it
// darkened to three quarters.
std::array<uint8_t, 3> FlowColour(double u, double v);

// The length of the longest finite vector; 0 for none.
double LongestFlow(const FlowMap& flow);

// RGB, top row first: each vector's colour relative to `longest`
// (nothing moves: white); black where there is no value.
std::vector<uint8_t> FlowPicture(const FlowMap& flow, double longest);

// RGB: the end-point error relative to 3 px or 5 % of the true length,
// whichever is larger, in KITTI's colours (blue small, red at and past an
// outlier); black where there is no ground truth or no prediction, and
// points hidden at the next frame at half brightness.
std::vector<uint8_t> FlowErrorPicture(const FlowGroundTruth& truth, const FlowMap& prediction);

// A frame's pictures into folder: flow_NNNN.png (the prediction),
// flow_gt_NNNN.png (the ground truth, coded with the same longest length)
// and flow_error_NNNN.png.
void WriteFlowPictures(const FlowGroundTruth& truth, const FlowMap& prediction, const std::string& folder);

// The colour wheel (size x size, RGB PNG): the colour of every direction and
// length up to the largest, with axes through its centre.
void WriteFlowLegend(const std::string& path, int size = 151);

}  // namespace tovimar::eval
