#pragma once
// One camera's frame as a run computes it, handed to a host in memory
// instead of being written: the same products the files are made of.
#include <cstdint>
#include <functional>
#include <vector>

#include "io/bmp.h"
#include "render/rig_state.h"
#include "truth/camera_geometry.h"
#include "truth/frame_truth.h"

namespace tovimar {

struct FrameProducts {
  bool right = false;
  int32_t frame = 0;
  BmpImage24 cameraImage;           // the camera image file's pixels (noise included)
  std::vector<uint8_t> cleanImage;  // before the noise, RGB, top row first; empty unless asked for
  BmpImage24 segmentation;          // the segmentation map; 0 x 0 unless asked for
  FrameTruth truth;                 // float disparity (the PFM), depth when asked for, valid
  Mat4 cameraToWorld{};             // the pose as the drawing applied it (the flow's pose)
  Intrinsics intrinsics;
  double baseline = 0;
  double focalLength = 0;
  double noiseSigma = 0;
  RandomState randomAtStart, randomAtEnd;
};

// Receives each frame; it may take (swap out) what it keeps.
using FrameSink = std::function<void(FrameProducts&)>;

}  // namespace tovimar
