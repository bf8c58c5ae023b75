#pragma once
// The working memory of one frame's capture and where its time goes, shared
// by the capture, the segmentation and the frame source.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/stopwatch.h"
#include "io/bmp.h"
#include "truth/frame_truth.h"

namespace tovimar {

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
  double fileWriting = 0;           // the frame's files (disparity text formatting included)
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
  BmpImage24 cameraImage, subPixelMap, pixelMap, segmentation;
  std::vector<uint8_t> idPasses;  // segmentation: first and last class code at the front, RGBA
  std::vector<uint8_t> idTies;    // id map: first and last code within a few depth steps of the front, RGBA
  std::vector<uint32_t> noiseDraws;  // accepted generator pairs, one per channel
  bool depthIsCurrent = false;    // `depth` holds the frame CaptureFrame found
  // false: the 8-bit maps and the segmentation map are not made (no output
  // uses them); the random state is stepped as their drawings would step it.
  bool classicProducts = true;
  FrameTruth* truth = nullptr;    // when set, filled with the frame's float ground truth after capture
  bool truthWithDepth = false;    // the truth's depth too (depth maps, flow)
  bool truthWithMotion = false;   // the truth's MOVE groups and poses (flow of a scene with MOVE lines)
  bool truthWithIds = false;      // the truth's 16-bit id map
  // When set, filled with the camera image before its noise, RGB, top row first.
  std::vector<uint8_t>* cleanImage = nullptr;
  bool referencePaths = false;    // the plain serial noise and per-id redraws (benchmark, tests)
  CaptureTimings* timings = nullptr;  // not owned; kept by Release, as referencePaths and cancelled
  // Asked before every segmentation pass; true throws Cancelled (a frame
  // with many ids can take minutes). Kept by Release.
  std::function<bool()> cancelled;

  void Resize(int w, int h);
  void Release();
};

// Adds each phase's time to a CaptureTimings field; nothing without timings.
using CaptureClock = PhaseClock<CaptureTimings>;

}  // namespace tovimar
