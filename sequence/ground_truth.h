#pragma once
// Ground truth of a rendered frame: the camera image (with optional Gaussian
// noise), the two 8-bit disparity maps, the full-precision disparity text
// file and the segmentation map, computed from the read-backs of the very
// rendering that made the image.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/camera.h"
#include "render/rig_state.h"
#include "scene/scene_model.h"
#include "sequence/output_files.h"
#include "sequence/dataset_outputs.h"
#include "sequence/output_settings.h"

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

// Object count per id 0..255 over the solid objects (other ids not counted).
std::array<int32_t, 256> IdHistogram(const SceneModel& scene);

// Where the time of generated frames goes, in seconds, summed over frames
// (filled only when CaptureBuffers::timings is set; for the benchmark).
struct CaptureTimings {
  double drawing = 0;               // the frame's two drawings
  double readBack = 0;              // colour and full-frame depth read-backs
  double cameraImage = 0;           // flip, noise, colour order
  double disparity = 0;             // depth to disparity, both maps, the array
  double segmentationDrawing = 0;   // one drawing per id in use
  double segmentationReadBack = 0;  // one depth read-back per id in use
  double segmentationCompare = 0;   // depth compare and painting
  double fileWriting = 0;           // all five files (disparity text formatting included)
  int frames = 0;
  int segmentationFallbacks = 0;    // frames whose segmentation took the per-id redraws
};

// Working memory of one frame's capture, kept between frames so a run does
// not allocate per frame.
struct CaptureBuffers {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> colour;    // W*H*3 read-back, bottom row first
  std::vector<float> depth;       // full-frame depth, bottom row first
  std::vector<float> passDepth;   // depth of one segmentation pass
  std::vector<double> disparity;  // W*H, top row first
  std::string text;               // disparity text
  BmpImage24 cameraImage, subPixelMap, pixelMap, segmentation;
  std::vector<uint8_t> idPasses;  // segmentation: first and last class code at the front, RGBA
  std::vector<uint32_t> noiseDraws;  // accepted generator pairs, one per channel
  bool depthIsCurrent = false;    // `depth` holds the frame CaptureFrame found
  bool writeClassicFiles = true;  // false: the five classic files are computed but not written
  // false: the 8-bit maps and the segmentation map are not made (no output
  // uses them); the random state is stepped as their drawings would step it.
  bool classicProducts = true;
  FrameTruth* truth = nullptr;    // when set, filled with the frame's float ground truth after capture
  bool truthWithDepth = false;    // the truth's depth too (depth maps, flow)
  bool referencePaths = false;    // the plain serial noise and per-id redraws (benchmark, tests)
  CaptureTimings* timings = nullptr;  // not owned; kept by Release, as referencePaths and cancelled
  // Asked before every segmentation pass; true throws Cancelled (a frame
  // with many ids can take minutes). Kept by Release.
  std::function<bool()> cancelled;

  void Resize(int w, int h);
  void Release();
};

// Reads the renderer's current rendering and writes the camera image, the
// sub-pixel map, the pixel map and the disparity text file of frame
// FrameCounter into the output settings' sequence folder (created first, one
// level). Names come from the settings and the renderer's camera at the moment
// of the call. Returns the segmentation map's path. Throws
// Error("Cannot create file ...").
std::string CaptureFrame(Renderer& renderer, const OutputSettings& output, CaptureBuffers& buffers);

// The segmentation passes: one redraw per id in use leaving that id out,
// painting (k, k, k) or SegmentationPalette[k] where the depth changed,
// white elsewhere. The result is left in buffers.segmentation.
void BuildSegmentationMap(Renderer& renderer, bool palette, CaptureBuffers& buffers);

// One generated frame: the drawing that applies the frame's camera motion, the
// drawing that is read back, CaptureFrame, the segmentation passes and the
// segmentation map's file.
void GenerateFrameFiles(Renderer& renderer, const OutputSettings& output, CaptureBuffers& buffers);

// The five classic files of a frame whose products are already computed, in
// the order CaptureFrame writes them. `text` is the disparity text buffer.
// Throws Error("Cannot create file ...").
struct ClassicProducts {
  BmpImage24 cameraImage, subPixelMap, pixelMap, segmentation;
  std::vector<double> disparity;  // W*H, top row first
};
void WriteClassicFiles(const FrameFileNames& names, const ClassicProducts& products, std::string& text);

}  // namespace tovimar
