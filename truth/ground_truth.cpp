#include "truth/ground_truth.h"

#include <algorithm>

#include <chrono>
#include <cmath>
#include <cstring>

#include "base/error.h"
#include "render/renderer.h"
#include "truth/camera_noise.h"
#include "truth/object_labels.h"
#include "truth/segmentation.h"
#include "truth/segmentation_palette.h"

namespace tovimar {

double GaussianSample(RandomState& random) {
  double u1 = 0.0;
  double u2 = 0.0;
  double s = 0.0;
  do {
    // The scaling is done in extended precision, the results kept as doubles.
    u1 = static_cast<double>(static_cast<long double>(random.NextNoise()) * (1.0L / 32767.0L) * 2.0L - 1.0L);
    u2 = static_cast<double>(static_cast<long double>(random.NextNoise()) * (1.0L / 32767.0L) * 2.0L - 1.0L);
    s = u1 * u1 + u2 * u2;
  } while (s == 0.0 || s > 1.0);
  // s, the logarithm and the root are taken in double. Taken in extended
  // precision (as an x87 runtime evaluates them) the sample differs in the
  // last bits only: |s - 1| is at least 9.3e-10 for every pair of draws, so
  // no pair is accepted or rejected differently, and over 2e8 samples no
  // truncated channel value changed, while each sample took three times as
  // long.
  return u1 * std::sqrt(-2.0 * std::log(s) / s);
}

int AddPixelNoise(uint8_t value, double sigma, RandomState& random) {
  double x = GaussianSample(random) * sigma + static_cast<double>(value);
  if (!(x >= 0.0)) x = 0.0;
  if (x > 255.0) x = 255.0;
  return static_cast<int>(x);
}

uint8_t SubPixelMapValue(double disparity) {
  const long double x = static_cast<long double>(disparity) * 255.0L * (1.0L / 60.0L);
  if (!(x >= 0.0L)) return 0;
  if (x >= 255.0L) return 255;
  return static_cast<uint8_t>(x);
}

uint8_t PixelMapValue(double disparity) {
  if (!(disparity >= 0.0)) return 0;
  if (disparity >= kDisparityFullScale) return 255;  // P >= 60 gives 255 or more
  const double lower = std::floor(disparity);
  const double whole = disparity - lower > 0.5 ? std::ceil(disparity) : lower;
  const int value = static_cast<int>(whole) * 255 / kDisparityFullScale;
  return static_cast<uint8_t>(value > 255 ? 255 : value);
}


// ---------------------------------------------------------------- buffers

namespace {


}  // namespace

// ---------------------------------------------------------------- capture

void CaptureFrame(Renderer& renderer, CaptureBuffers& buffers) {
  RigState& rig = renderer.Rig();
  const int W = renderer.ClientWidth();
  const int H = renderer.ClientHeight();
  buffers.Resize(W, H);
  buffers.depthIsCurrent = false;
  const std::size_t rowBytes = static_cast<std::size_t>(W) * 3;
  CaptureClock clock(buffers.timings);

  // Camera image: buffer row i (bottom first) is picture row H-1-i; pixels
  // visited in buffer order, which fixes the order of the noise samples.
  renderer.ReadColour(buffers.colour.data());
  clock.Lap(&CaptureTimings::readBack);
  if (buffers.cleanImage) {
    buffers.cleanImage->resize(static_cast<std::size_t>(H) * rowBytes);
    for (int i = 0; i < H; ++i)
      std::copy_n(buffers.colour.data() + static_cast<std::size_t>(i) * rowBytes, rowBytes,
                  buffers.cleanImage->data() + static_cast<std::size_t>(H - 1 - i) * rowBytes);
  }
  const double sigma = rig.RigNoise;
  if (sigma != 0.0 && !buffers.referencePaths) {
    AddCameraNoise(buffers.colour.data(), W, H, sigma, rig.random, buffers.cameraImage, buffers.noiseDraws);
  } else {
    for (int i = 0; i < H; ++i) {
      const uint8_t* src = buffers.colour.data() + static_cast<std::size_t>(i) * rowBytes;
      uint8_t* dst = buffers.cameraImage.Row(H - 1 - i);
      if (sigma == 0.0) {
        for (int x = 0; x < W; ++x, src += 3, dst += 3) {
          dst[0] = src[2];
          dst[1] = src[1];
          dst[2] = src[0];
        }
      } else {
        for (int x = 0; x < W; ++x, src += 3, dst += 3) {
          const int red = AddPixelNoise(src[0], sigma, rig.random);
          const int green = AddPixelNoise(src[1], sigma, rig.random);
          const int blue = AddPixelNoise(src[2], sigma, rig.random);
          dst[0] = static_cast<uint8_t>(blue);
          dst[1] = static_cast<uint8_t>(green);
          dst[2] = static_cast<uint8_t>(red);
        }
      }
    }
  }
  clock.Lap(&CaptureTimings::cameraImage);

  // Depth to disparity.
  renderer.ReadDepth(buffers.depth.data());
  buffers.depthIsCurrent = true;
  clock.Lap(&CaptureTimings::readBack);
  const double B = rig.RigBaseline;
  const double F = rig.RigFocalLength;
  for (int i = 0; i < H; ++i) {
    const int y = H - 1 - i;
    const float* d = buffers.depth.data() + static_cast<std::size_t>(i) * W;
    double* out = buffers.disparity.data() + static_cast<std::size_t>(y) * W;
    if (!buffers.classicProducts) {
      for (int x = 0; x < W; ++x) out[x] = DisparityFromDepth(d[x], B, F);
      continue;
    }
    uint8_t* sub = buffers.subPixelMap.Row(y);
    uint8_t* pix = buffers.pixelMap.Row(y);
    for (int x = 0; x < W; ++x, sub += 3, pix += 3) {
      const double D = DisparityFromDepth(d[x], B, F);
      out[x] = D;
      const uint8_t s = SubPixelMapValue(D);
      const uint8_t p = PixelMapValue(D);
      sub[0] = sub[1] = sub[2] = s;
      pix[0] = pix[1] = pix[2] = p;
    }
  }
  if (buffers.truth) MakeFrameTruth(buffers.depth.data(), buffers.disparity.data(), W, H, buffers.truthWithDepth, *buffers.truth);
  clock.Lap(&CaptureTimings::disparity);
}

// ---------------------------------------------------------------- one frame

void MakeFrame(Renderer& renderer, bool palette, CaptureBuffers& buffers) {
  CaptureClock clock(buffers.timings);
  // A frame steps the random state as two colour drawings of the scene: the
  // first applies the frame's camera motion, the second, from the moved
  // camera, is read back. Nobody sees the first one's pixels, so it is made
  // only on the reference paths; elsewhere the motion is applied and the
  // random state stepped without drawing.
  if (buffers.referencePaths) {
    renderer.DrawScene(true, Renderer::kSkipNone, renderer.viewAzimuth, renderer.viewElevation, renderer.viewDistance);
  } else {
    renderer.ApplyFrameMotion();
    renderer.StepRandomAsDrawing();
  }
  renderer.DrawScene(false, Renderer::kSkipNone, renderer.viewAzimuth, renderer.viewElevation, renderer.viewDistance);
  clock.Lap(&CaptureTimings::drawing);
  CaptureFrame(renderer, buffers);
  if (!buffers.classicProducts && !buffers.referencePaths && !renderer.Editor().MatrixLogEnabled()) {
    // Nothing uses the map; the matrix log, when on, wants the redraws.
    StepRandomAsSegmentation(renderer);
  } else if (buffers.referencePaths) {
    BuildSegmentationMap(renderer, palette, buffers);
  } else {
    BuildSegmentationMapFast(renderer, palette, buffers);
  }
  if (buffers.truth) {
    // Only a scene with MOVE lines, or a run asking for the id map, draws once more.
    LabelFrontSolids(renderer, buffers, buffers.truthWithMotion, buffers.truthWithIds, *buffers.truth);
  }
  if (buffers.timings) ++buffers.timings->frames;
}

void StepRandomAsFrame(Renderer& renderer, std::vector<uint32_t>& draws) {
  RigState& rig = renderer.Rig();
  // MakeFrame's two colour drawings' steps, then CaptureFrame's noise, then the segmentation.
  rig.random.SkipPlaneShades(2 * DrawablePlanes(renderer.Scene()));
  if (rig.RigNoise != 0.0) StepRandomAsCameraNoise(renderer.ClientWidth(), renderer.ClientHeight(), rig.random, draws);
  StepRandomAsSegmentation(renderer);
}

}  // namespace tovimar
