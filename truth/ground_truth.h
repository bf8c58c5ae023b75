#pragma once
// Ground truth of a rendered frame: the camera image (with optional Gaussian
// noise), the two 8-bit disparity maps, the full-precision disparity (the
// disparity text file's values) and the segmentation map, computed from the
// read-backs of the very rendering that made the image. Writes no file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/camera.h"
#include "render/rig_state.h"
#include "scene/scene_model.h"
#include "truth/frame_truth.h"
#include "truth/capture_buffers.h"

namespace tovimar {

class Renderer;

// The disparity that the 8-bit maps show as 255.
inline constexpr int kDisparityFullScale = 60;  // pixels, mapped to 255

// One standard-normal number by the polar method on the noise generator
// (RandomState::NextNoise): pairs with s = 0 or s > 1 are drawn again; the
// second number of the pair is not used.
double GaussianSample(RandomState& random);

// value + GaussianSample * sigma, clamped to 0..255 and truncated.
int AddPixelNoise(uint8_t value, double sigma, RandomState& random);

// Disparity in pixels of window depth d: baseline * focal / z, with
// z = b / (d - a), a = f / (f - n), b = f n / (n - f).
inline double DisparityFromDepth(float depth, double baseline, double focal) {
  constexpr double a = kFarPlane / (kFarPlane - kNearPlane);
  constexpr double b = kFarPlane * kNearPlane / (kNearPlane - kFarPlane);
  const double z = b / (static_cast<double>(depth) - a);
  return baseline * focal / z;
}

// Sub-pixel map value: trunc(D * 255 / 60) in extended precision, capped at
// 255 (negative or undefined disparities give 0).
uint8_t SubPixelMapValue(double disparity);

// Pixel map value: D rounded to whole pixels (an exact half rounds down),
// times 255, divided by 60 (integer division), capped at 255.
uint8_t PixelMapValue(double disparity);

// Reads the renderer's current rendering into the buffers: the camera image
// (with the scene's noise), the disparity, the two 8-bit maps (when
// classicProducts) and the frame's float ground truth (when asked for).
// Writes no file.
void CaptureFrame(Renderer& renderer, CaptureBuffers& buffers);

// One frame's products in the buffers: the frame's camera motion applied
// (with the random steps of a drawing), the drawing that is read back,
// CaptureFrame, the segmentation passes and the segmentation map.
void MakeFrame(Renderer& renderer, bool palette, CaptureBuffers& buffers);

// Steps the random state as MakeFrame steps it for one frame of the prepared
// scene (the planes of two colour drawings, the camera image's noise, the
// segmentation passes), drawing nothing. A run can so start where a run of
// the same scene before it would have left the state without being made.
// draws: working memory.
void StepRandomAsFrame(Renderer& renderer, std::vector<uint32_t>& draws);

}  // namespace tovimar
