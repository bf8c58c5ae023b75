#pragma once
// The other camera's view of a frame read back from the files its run wrote,
// for the occlusion masks of a run whose other camera ran before it, and the
// same view made from the frame in memory when that run was in this process.
#include <cstdint>
#include <string>

#include "layout/file_names.h"
#include "truth/frame_truth.h"

namespace tovimar {

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
