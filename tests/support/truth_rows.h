#pragma once
// One-row frames of ground truth made by hand, for the tests of what is
// computed from them (masks, KITTI values) and written of them.
#include <cstdint>
#include <utility>
#include <vector>

#include "truth/frame_truth.h"

namespace tovimar {

inline FrameTruth Row(std::vector<float> disparity, std::vector<uint8_t> valid) {
  FrameTruth t;
  t.width = static_cast<int>(disparity.size());
  t.height = 1;
  t.disparity = std::move(disparity);
  t.valid = std::move(valid);
  return t;
}

}  // namespace tovimar
