#pragma once
// The other camera's view of a frame read back from the files its run wrote,
// for the occlusion masks of a run whose other camera ran before it.
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

}  // namespace tovimar
